#pragma once
// NetService: one DNS-SD service instance (name, type, domain) as a browser finds it; the value that sets
// of found services and stored connections hold, and that a resolve turns into a host and port. Type and
// domain are kept absolute, with their trailing dot ("_x-tevkelvaro._tcp.", "local."). A plain value.

#include <QHashFunctions>
#include <QMetaType>
#include <QString>

namespace platform {

class NetService {
public:
    NetService() = default;
    NetService(const QString& domain, const QString& type, const QString& name);

    const QString& domain() const { return domain_; }
    const QString& type() const { return type_; }
    const QString& name() const { return name_; }

    // The instance's full name, "<name>.<type><domain>" ("Lab Mac._x-tevkelvaro._tcp.local.").
    QString description() const;

    bool operator==(const NetService&) const = default;

    // `dnsName` with one trailing dot; "" stays "" (the default domains).
    static QString absoluteName(const QString& dnsName);
    // `dnsName` without its trailing dot, the form the avahi daemon takes and gives.
    static QString relativeName(const QString& dnsName);

private:
    QString domain_;
    QString type_;
    QString name_;
};

size_t qHash(const NetService& service, size_t seed = 0) noexcept;

// Where a resolved service listens. `address` is numeric text; `interfaceIndex` matters for link-local
// IPv6 addresses (-1 when any interface will do).
struct ResolvedService {
    QString hostName; // "lab-mac.local"
    QString address;
    quint16 port = 0;
    int interfaceIndex = -1;
};

} // namespace platform

Q_DECLARE_METATYPE(platform::NetService)
