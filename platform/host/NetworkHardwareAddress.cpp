#include "platform/host/NetworkHardwareAddress.h"

#include "platform/host/HostText.h"

#include <QStringList>

#include <algorithm>
#include <cstring>

#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

const QString netFolder = QStringLiteral("/sys/class/net");

bool isZero(const QByteArray& address)
{
    return std::all_of(address.cbegin(), address.cend(), [](char byte) { return byte == 0; });
}

std::optional<QByteArray> ethtoolPermanentAddress(const QString& interfaceName)
{
    const QByteArray name = interfaceName.toLocal8Bit();
    if (name.isEmpty() || name.size() >= IFNAMSIZ)
        return std::nullopt;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    // ethtool_perm_addr ends in a flexible array; the driver fills up to `size` bytes after the header.
    constexpr quint32 kMaxAddressLength = 32;
    alignas(ethtool_perm_addr) unsigned char buffer[sizeof(ethtool_perm_addr) + kMaxAddressLength] = {};
    auto* request = reinterpret_cast<ethtool_perm_addr*>(buffer);
    request->cmd = ETHTOOL_GPERMADDR;
    request->size = kMaxAddressLength;
    ifreq ifr;
    std::memset(&ifr, 0, sizeof ifr);
    std::memcpy(ifr.ifr_name, name.constData(), size_t(name.size()));
    ifr.ifr_data = reinterpret_cast<char*>(buffer);
    const int result = ::ioctl(fd, SIOCETHTOOL, &ifr);
    ::close(fd);
    if (result < 0 || request->size != 6)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char*>(buffer + sizeof(ethtool_perm_addr)), 6);
}

} // namespace

NetworkHardwareAddress::PermanentAddressQuery NetworkHardwareAddress::liveQuery(const HostRoot& root)
{
    if (!root.isLive())
        return nullptr;
    return ethtoolPermanentAddress;
}

std::optional<QByteArray> NetworkHardwareAddress::parseAddress(const QString& text)
{
    const QStringList parts = text.trimmed().split(QLatin1Char(':'));
    if (parts.size() != 6)
        return std::nullopt;
    QByteArray address;
    for (const QString& part : parts) {
        bool ok = false;
        const uint byte = part.toUInt(&ok, 16);
        if (!ok || part.size() != 2)
            return std::nullopt;
        address.append(char(byte));
    }
    return address;
}

std::vector<NetworkHardwareAddress::Interface> NetworkHardwareAddress::permanentAddresses(
    const HostRoot& root, const PermanentAddressQuery& query)
{
    std::vector<Interface> result;
    const auto names = root.listDirectory(netFolder);
    if (!names)
        return result;
    for (const QString& name : *names) {
        const QString base = netFolder + QLatin1Char('/') + name + QLatin1Char('/');
        // Virtual interfaces (loopback, bridges, tunnels, ifb, veth) have no device behind them.
        if (!root.readLink(base + QStringLiteral("device")))
            continue;
        const auto indexText = hosttext::firstLine(root, base + QStringLiteral("ifindex"));
        const auto index = indexText ? hosttext::parseUnsigned(*indexText) : std::nullopt;
        if (!index || *index > 0x7FFFFFFF)
            continue;
        std::optional<QByteArray> address;
        // 0 is NET_ADDR_PERM; 1 random, 2 stolen, 3 set by user space (e.g. MAC randomisation).
        if (hosttext::firstLine(root, base + QStringLiteral("addr_assign_type")) == QStringLiteral("0")) {
            if (const auto text = hosttext::firstLine(root, base + QStringLiteral("address")))
                address = parseAddress(*text);
        } else if (query) {
            address = query(name);
        }
        if (!address || address->size() != 6 || isZero(*address))
            continue;
        result.push_back({name, int(*index), *address});
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const Interface& a, const Interface& b) { return a.index < b.index; });
    return result;
}

} // namespace platform
