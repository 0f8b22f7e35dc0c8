#pragma once
// NetworkInterfaceDetails: the physical network interfaces of /sys/class/net with their kind, hardware
// address and MTU limits, and an interface's current MTU and IPv4 address from the interface ioctls.
// Stateless; every call reads the host anew.

#include "platform/foundation/HostRoot.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace platform {

struct PhysicalNetworkInterface {
    QString name;
    int index = 0;            // ifindex
    bool wireless = false;    // an 802.11 interface
    QByteArray address;       // the current hardware address; empty when it has none
    qint64 minimumMTU = 0;    // 0 when unknown
    qint64 maximumMTU = 0;    // 0 when unknown
};

class NetworkInterfaceDetails {
public:
    // The driver's MTU limits of an interface; nothing when the kernel does not tell.
    using MtuLimitsQuery = std::function<std::optional<std::pair<qint64, qint64>>(int index)>;
    // rtnetlink on the live machine; null for a host root other than "/".
    static MtuLimitsQuery liveQuery(const HostRoot& root);

    // Interfaces with a device behind them (not loopback, bridges, tunnels or ifb), lowest ifindex first.
    // Without a query the limits are those of Ethernet (68 to 1500).
    static std::vector<PhysicalNetworkInterface> physicalInterfaces(const HostRoot& root, const MtuLimitsQuery& query);
    static std::vector<PhysicalNetworkInterface> physicalInterfaces(const HostRoot& root)
    {
        return physicalInterfaces(root, liveQuery(root));
    }

    enum class Failure { None, Socket, Request };
    // SIOCGIFMTU on the live machine, the sysfs "mtu" file under another root.
    static std::optional<qint64> currentMTU(const HostRoot& root, const QString& name, Failure* failure = nullptr);
    // SIOCGIFADDR: "192.168.1.20"; nothing when the interface has no IPv4 address or does not exist.
    static std::optional<QString> ipv4Address(const QString& name);
};

} // namespace platform
