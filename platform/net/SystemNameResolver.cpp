#include "platform/net/SystemNameResolver.h"

#include "platform/net/AvahiServiceDiscovery.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <mutex>

namespace platform {
namespace {

constexpr unsigned kRouteUp = 0x0001;     // RTF_UP
constexpr unsigned kRouteReject = 0x0200; // RTF_REJECT

// getaddrinfo results, freed with the holder.
struct AddrInfo {
    addrinfo* list = nullptr;
    ~AddrInfo() { if (list) freeaddrinfo(list); }
};

// The numeric text of a socket address; IPv6 scope suffixes ("%eth0") are left off, as the address values
// do not carry them.
std::optional<QString> numericText(const sockaddr* address, socklen_t length)
{
    char buffer[NI_MAXHOST];
    if (getnameinfo(address, length, buffer, sizeof buffer, nullptr, 0, NI_NUMERICHOST) != 0)
        return std::nullopt;
    QString text = QString::fromLatin1(buffer);
    const qsizetype scope = text.indexOf(QLatin1Char('%'));
    return scope < 0 ? text : text.left(scope);
}

std::optional<QString> registeredName(const sockaddr* address, socklen_t length)
{
    char buffer[NI_MAXHOST]; // 1025 bytes
    if (getnameinfo(address, length, buffer, sizeof buffer, nullptr, 0, NI_NAMEREQD) != 0)
        return std::nullopt;
    return QString::fromUtf8(buffer);
}

// The socket address of a numeric text; nothing for a name.
bool numericAddress(const QString& text, AddrInfo& out)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    return !text.isEmpty() && getaddrinfo(text.toUtf8().constData(), nullptr, &hints, &out.list) == 0 && out.list;
}

void appendUnique(QStringList& list, const QString& text)
{
    if (!text.isEmpty() && !list.contains(text, Qt::CaseInsensitive))
        list.append(text);
}

QList<QByteArrayList> tableRows(const QByteArray& text, qsizetype minimumColumns)
{
    QList<QByteArrayList> rows;
    for (const QByteArray& line : text.split('\n')) {
        QByteArrayList columns;
        for (const QByteArray& column : line.simplified().split(' ')) {
            if (!column.isEmpty())
                columns.append(column);
        }
        if (columns.size() >= minimumColumns)
            rows.append(columns);
    }
    return rows;
}

std::mutex g_networksMutex; // getnetbyname keeps static state

} // namespace

SystemNameResolver::SystemNameResolver(std::shared_ptr<const HostRoot> root, InterfaceLister interfaces,
                                       MulticastNameSource multicastName)
    : root_(root ? std::move(root) : HostRoot::current())
    , interfaces_(interfaces ? std::move(interfaces) : InterfaceLister(&SystemNameResolver::liveInterfaceAddresses))
    , multicastName_(multicastName ? std::move(multicastName) : MulticastNameSource([] { return AvahiServiceDiscovery().hostName(); }))
{
}

std::optional<HostEntry> SystemNameResolver::hostByName(const QString& name)
{
    if (name.isEmpty())
        return std::nullopt;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM; // one entry per address rather than one per socket type
    hints.ai_flags = AI_CANONNAME;
    AddrInfo found;
    if (getaddrinfo(name.toUtf8().constData(), nullptr, &hints, &found.list) != 0 || !found.list)
        return std::nullopt;
    HostEntry entry;
    if (found.list->ai_canonname)
        appendUnique(entry.names, QString::fromUtf8(found.list->ai_canonname));
    appendUnique(entry.names, name);
    for (const addrinfo* ai = found.list; ai; ai = ai->ai_next) {
        if (const auto text = numericText(ai->ai_addr, ai->ai_addrlen))
            appendUnique(entry.addresses, *text);
    }
    return entry;
}

std::optional<HostEntry> SystemNameResolver::hostByAddress(const QString& address)
{
    AddrInfo numeric;
    if (!numericAddress(address, numeric))
        return std::nullopt;
    HostEntry entry;
    if (const auto name = registeredName(numeric.list->ai_addr, numeric.list->ai_addrlen))
        entry.names.append(*name);
    if (const auto text = numericText(numeric.list->ai_addr, numeric.list->ai_addrlen))
        entry.addresses.append(*text);
    return entry;
}

std::optional<HostEntry> SystemNameResolver::currentHost()
{
    HostEntry entry;
    if (const auto name = hostName()) {
        appendUnique(entry.names, *name);
        if (const auto byName = hostByName(*name); byName && !byName->names.isEmpty())
            appendUnique(entry.names, byName->names.constFirst());
    }
    for (const InterfaceAddress& address : interfaces_()) {
        appendUnique(entry.addresses, address.address);
        // Link-local reverse lookups only time out; loopback names are added once below.
        if (address.loopback || address.linkLocal)
            continue;
        if (const auto name = nameForAddress(address.address))
            appendUnique(entry.names, *name);
    }
    appendUnique(entry.names, QStringLiteral("localhost"));
    return entry;
}

std::optional<QString> SystemNameResolver::hostName()
{
    char buffer[256];
    if (gethostname(buffer, sizeof buffer) != 0)
        return std::nullopt;
    buffer[sizeof buffer - 1] = '\0';
    const QString name = QString::fromUtf8(buffer);
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

std::optional<QString> SystemNameResolver::nameForAddress(const QString& address)
{
    AddrInfo numeric;
    if (!numericAddress(address, numeric))
        return std::nullopt;
    return registeredName(numeric.list->ai_addr, numeric.list->ai_addrlen);
}

std::optional<QString> SystemNameResolver::primaryAddress(bool ipv6)
{
    const auto table = root_->readFile(ipv6 ? QStringLiteral("/proc/net/ipv6_route") : QStringLiteral("/proc/net/route"));
    if (!table)
        return std::nullopt;
    const auto interfaceName = ipv6 ? defaultRouteInterfaceIPv6(*table) : defaultRouteInterface(*table);
    if (!interfaceName)
        return std::nullopt;
    for (const InterfaceAddress& address : interfaces_()) {
        // A link-local address means nothing without its interface, so it is no primary address.
        if (address.interfaceName == *interfaceName && address.ipv6 == ipv6 && !address.linkLocal && !address.loopback)
            return address.address;
    }
    return std::nullopt;
}

QString SystemNameResolver::localMulticastHostName()
{
    if (const auto name = multicastName_(); name && !name->isEmpty())
        return *name;
    const QString name = hostName().value_or(QString());
    return name.section(QLatin1Char('.'), 0, 0);
}

std::optional<quint32> SystemNameResolver::networkNumber(const QString& name)
{
    if (name.isEmpty())
        return std::nullopt;
    const QByteArray utf8 = name.toUtf8();
    std::lock_guard lock(g_networksMutex);
    setnetent(1);
    const netent* entry = getnetbyname(utf8.constData());
    std::optional<quint32> number;
    if (entry && entry->n_addrtype == AF_INET)
        number = quint32(entry->n_net);
    endnetent();
    return number;
}

std::optional<bool> SystemNameResolver::isReachable(const QString& host, QString* error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    AddrInfo found;
    // A name that does not resolve is unreachable, not a failed check.
    if (host.isEmpty() || getaddrinfo(host.toUtf8().constData(), "9", &hints, &found.list) != 0)
        return false;
    for (const addrinfo* ai = found.list; ai; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            if (error)
                *error = QString::fromLocal8Bit(std::strerror(errno));
            return std::nullopt;
        }
        // Connecting a datagram socket only picks a route; nothing is sent.
        const bool routed = ::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0;
        ::close(fd);
        if (routed)
            return true;
    }
    return false;
}

std::optional<QString> SystemNameResolver::defaultRouteInterface(const QByteArray& procNetRoute)
{
    // Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT; numbers in hex.
    std::optional<QString> best;
    qulonglong bestMetric = std::numeric_limits<qulonglong>::max();
    for (const QByteArrayList& row : tableRows(procNetRoute, 8)) {
        bool ok = false;
        const unsigned flags = row.at(3).toUInt(&ok, 16);
        if (!ok || row.at(1) != "00000000" || row.at(7) != "00000000" || !(flags & kRouteUp) || (flags & kRouteReject))
            continue;
        const qulonglong metric = row.at(6).toULongLong(&ok, 10);
        if (ok && (!best || metric < bestMetric)) {
            best = QString::fromLatin1(row.at(0));
            bestMetric = metric;
        }
    }
    return best;
}

std::optional<QString> SystemNameResolver::defaultRouteInterfaceIPv6(const QByteArray& procNetIpv6Route)
{
    // destination prefix-length source prefix-length next-hop metric refcount use flags device; hex.
    static const QByteArray kAnyAddress(32, '0');
    std::optional<QString> best;
    qulonglong bestMetric = std::numeric_limits<qulonglong>::max();
    for (const QByteArrayList& row : tableRows(procNetIpv6Route, 10)) {
        bool flagsOk = false;
        bool metricOk = false;
        const unsigned flags = row.at(8).toUInt(&flagsOk, 16);
        const qulonglong metric = row.at(5).toULongLong(&metricOk, 16);
        if (!flagsOk || !metricOk || row.at(0) != kAnyAddress || row.at(1) != "00" || !(flags & kRouteUp) || (flags & kRouteReject)
            || row.at(9) == "lo")
            continue;
        if (!best || metric < bestMetric) {
            best = QString::fromLatin1(row.at(9));
            bestMetric = metric;
        }
    }
    return best;
}

QList<SystemNameResolver::InterfaceAddress> SystemNameResolver::liveInterfaceAddresses()
{
    QList<InterfaceAddress> result;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return result;
    for (const ifaddrs* ifa = list; ifa; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || !(ifa->ifa_flags & IFF_UP))
            continue;
        const int family = ifa->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6)
            continue;
        const socklen_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        const auto text = numericText(ifa->ifa_addr, length);
        if (!text)
            continue;
        InterfaceAddress address;
        address.interfaceName = QString::fromLocal8Bit(ifa->ifa_name);
        address.ipv6 = family == AF_INET6;
        address.address = *text;
        address.loopback = (ifa->ifa_flags & IFF_LOOPBACK) != 0;
        if (family == AF_INET) {
            const quint32 host = ntohl(reinterpret_cast<const sockaddr_in*>(ifa->ifa_addr)->sin_addr.s_addr);
            address.linkLocal = (host >> 16) == 0xA9FE;
        } else {
            address.linkLocal = IN6_IS_ADDR_LINKLOCAL(&reinterpret_cast<const sockaddr_in6*>(ifa->ifa_addr)->sin6_addr);
        }
        result.append(address);
    }
    freeifaddrs(list);
    return result;
}

} // namespace platform
