#pragma once
// TEVNetworkInterfaceDescription: one physical network interface of this computer (name, wireless or not,
// MTU with its limits, hardware address), and the IPv4 address of an interface by name. The LCD modules
// offer an address item per physical interface. Nothing is cached: every call reads the host anew. Main
// thread.

#include "platform/foundation/HostRoot.h"
#include "platform/host/NetworkInterfaceDetails.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class TEVNetworkInterfaceDescription {
public:
    using List = std::vector<std::shared_ptr<TEVNetworkInterfaceDescription>>;

    // Interfaces with a device behind them, lowest index first, that pass createWithIORegistryEntry.
    // Null `root`: the current host root; null `query`: the host's own MTU limits.
    static List allPhysicalNetworkInterfaces(std::shared_ptr<const platform::HostRoot> root = nullptr,
                                             platform::NetworkInterfaceDetails::MtuLimitsQuery query = nullptr);
    // "192.168.1.20"; null for an empty name or an interface without an IPv4 address.
    static QString readableIPv4AddressForDarwinInterfaceName(const QString& name);

    // On Linux the registry entry is the interface's sysfs record. Null unless the name and hardware address
    // are non-empty, the MTU is not 0, the minimum MTU is above 8 and the maximum above 1.
    static std::shared_ptr<TEVNetworkInterfaceDescription> createWithIORegistryEntry(
        const std::optional<platform::PhysicalNetworkInterface>& entry,
        std::shared_ptr<const platform::HostRoot> root = nullptr);

    QString darwinInterfaceName() const { return darwinName_; }
    bool isWireless() const { return wireless_; }
    qint64 maximumTransferUnit() const { return mtu_; }
    void getMTULimitsMinimum(qint64* minimum, qint64* maximum) const;
    QByteArray mediumAccessControlAddress() const { return macAddress_; }
    // The current MTU; 1500 when it cannot be asked (logged).
    void refreshMTUValue();
    QString description() const;

private:
    TEVNetworkInterfaceDescription() = default;

    QString darwinName_;
    std::shared_ptr<const platform::HostRoot> root_;
    bool wireless_ = false;
    qint64 mtu_ = 0;
    qint64 minimumMTU_ = 0;
    qint64 maximumMTU_ = 0;
    QByteArray macAddress_;
};
