#pragma once
// NetworkHardwareAddress: the permanent hardware addresses of the physical network interfaces of
// /sys/class/net, the stable part of the fallback serial number. Stateless.

#include "platform/foundation/HostRoot.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace platform {

class NetworkHardwareAddress {
public:
    struct Interface {
        QString name;
        int index = 0;       // ifindex
        QByteArray address;  // 6 bytes
    };

    // Asks the driver for an interface's burnt-in address (ETHTOOL_GPERMADDR); nothing when it cannot tell.
    using PermanentAddressQuery = std::function<std::optional<QByteArray>(const QString& interfaceName)>;
    // The query of the live machine; null for a host root other than "/".
    static PermanentAddressQuery liveQuery(const HostRoot& root);

    // Physical interfaces (those with a "device" link) with a non-zero 6-byte address that is permanent:
    // addr_assign_type 0, else what `query` reports. Lowest ifindex first.
    static std::vector<Interface> permanentAddresses(const HostRoot& root, const PermanentAddressQuery& query);
    static std::vector<Interface> permanentAddresses(const HostRoot& root) { return permanentAddresses(root, liveQuery(root)); }

    // "00:1b:63:a1:c2:d3" → 6 bytes; nothing when malformed.
    static std::optional<QByteArray> parseAddress(const QString& text);
};

} // namespace platform
