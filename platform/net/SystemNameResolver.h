#pragma once
// SystemNameResolver: NameResolver on the C library (getaddrinfo, getnameinfo, getifaddrs, getnetbyname),
// the routing tables of /proc/net read under a host root, and the avahi daemon's host name when it runs.
// Thread-safe; calls block for as long as the system's lookups take.

#include "platform/foundation/HostRoot.h"
#include "platform/net/NameResolver.h"

#include <QByteArray>
#include <QList>

#include <functional>

namespace platform {

class SystemNameResolver final : public NameResolver {
public:
    struct InterfaceAddress {
        QString interfaceName;
        bool ipv6 = false;
        QString address; // numeric, without a scope suffix
        bool loopback = false;
        bool linkLocal = false; // 169.254/16, fe80::/10
    };
    using InterfaceLister = std::function<QList<InterfaceAddress>()>;
    using MulticastNameSource = std::function<std::optional<QString>()>;

    // Empty functions take the live ones: getifaddrs, and avahi on the system bus.
    explicit SystemNameResolver(std::shared_ptr<const HostRoot> root = HostRoot::current(), InterfaceLister interfaces = {},
                                MulticastNameSource multicastName = {});

    std::optional<HostEntry> hostByName(const QString& name) override;
    std::optional<HostEntry> hostByAddress(const QString& address) override;
    std::optional<HostEntry> currentHost() override;
    std::optional<QString> hostName() override;
    std::optional<QString> nameForAddress(const QString& address) override;
    std::optional<QString> primaryAddress(bool ipv6) override;
    QString localMulticastHostName() override;
    std::optional<quint32> networkNumber(const QString& name) override;
    std::optional<bool> isReachable(const QString& host, QString* error) override;

    // The interface of the default route in a /proc/net/route or /proc/net/ipv6_route text: the live route
    // of lowest metric (the first on a tie); rejecting routes and the loopback interface do not count.
    static std::optional<QString> defaultRouteInterface(const QByteArray& procNetRoute);
    static std::optional<QString> defaultRouteInterfaceIPv6(const QByteArray& procNetIpv6Route);

    static QList<InterfaceAddress> liveInterfaceAddresses();

private:
    std::shared_ptr<const HostRoot> root_;
    InterfaceLister interfaces_;
    MulticastNameSource multicastName_;
};

} // namespace platform
