#include "platform/host/NetworkInterfaceDetails.h"

#include "platform/host/HostText.h"

#include <QStringList>

#include <algorithm>
#include <cstring>

#include <arpa/inet.h>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

const QString netFolder = QStringLiteral("/sys/class/net/");
constexpr qint64 kEthernetMinimumMTU = 68;
constexpr qint64 kEthernetMaximumMTU = 1500;

QByteArray parseHardwareAddress(const QString& text)
{
    QByteArray address;
    for (const QString& part : text.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const uint byte = part.toUInt(&ok, 16);
        if (!ok || byte > 0xFF)
            return {};
        address.append(char(byte));
    }
    return address;
}

// One RTM_GETLINK request for the interface; IFLA_MIN_MTU and IFLA_MAX_MTU of the answer.
std::optional<std::pair<qint64, qint64>> netlinkMtuLimits(int index)
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return std::nullopt;
    struct {
        nlmsghdr header;
        ifinfomsg info;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.header.nlmsg_seq = 1;
    request.info.ifi_family = AF_UNSPEC;
    request.info.ifi_index = index;
    timeval timeout{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    alignas(nlmsghdr) char buffer[16384];
    ssize_t length = -1;
    if (::send(fd, &request, request.header.nlmsg_len, 0) >= 0)
        length = ::recv(fd, buffer, sizeof buffer, 0);
    ::close(fd);
    if (length <= 0)
        return std::nullopt;

    std::optional<qint64> minimum, maximum;
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(header, unsigned(length));
         header = NLMSG_NEXT(header, length)) {
        if (header->nlmsg_type != RTM_NEWLINK)
            continue;
        auto* info = static_cast<ifinfomsg*>(NLMSG_DATA(header));
        int attributesLength = int(IFLA_PAYLOAD(header));
        for (auto* attribute = IFLA_RTA(info); RTA_OK(attribute, attributesLength);
             attribute = RTA_NEXT(attribute, attributesLength)) {
            if (RTA_PAYLOAD(attribute) < sizeof(quint32))
                continue;
            quint32 value;
            std::memcpy(&value, RTA_DATA(attribute), sizeof value);
            if (attribute->rta_type == IFLA_MIN_MTU)
                minimum = value;
            else if (attribute->rta_type == IFLA_MAX_MTU)
                maximum = value;
        }
    }
    if (!minimum || !maximum)
        return std::nullopt;
    return std::make_pair(*minimum, *maximum);
}

// An interface request with the name cut to what the kernel takes.
ifreq requestFor(const QString& name)
{
    ifreq request;
    std::memset(&request, 0, sizeof request);
    const QByteArray bytes = name.toLocal8Bit();
    std::memcpy(request.ifr_name, bytes.constData(), std::min<size_t>(size_t(bytes.size()), IFNAMSIZ - 1));
    return request;
}

} // namespace

NetworkInterfaceDetails::MtuLimitsQuery NetworkInterfaceDetails::liveQuery(const HostRoot& root)
{
    if (!root.isLive())
        return nullptr;
    return netlinkMtuLimits;
}

std::vector<PhysicalNetworkInterface> NetworkInterfaceDetails::physicalInterfaces(const HostRoot& root,
                                                                                  const MtuLimitsQuery& query)
{
    std::vector<PhysicalNetworkInterface> result;
    const auto names = root.listDirectory(netFolder);
    if (!names)
        return result;
    for (const QString& name : *names) {
        const QString base = netFolder + name + QLatin1Char('/');
        if (!root.readLink(base + QStringLiteral("device")))
            continue;
        const auto indexText = hosttext::firstLine(root, base + QStringLiteral("ifindex"));
        const auto index = indexText ? hosttext::parseUnsigned(*indexText) : std::nullopt;
        if (!index || *index > 0x7FFFFFFF)
            continue;
        PhysicalNetworkInterface interface;
        interface.name = name;
        interface.index = int(*index);
        interface.wireless = root.listDirectory(base + QStringLiteral("wireless")).has_value()
                             || root.readLink(base + QStringLiteral("phy80211")).has_value();
        interface.address = parseHardwareAddress(hosttext::firstLine(root, base + QStringLiteral("address")).value_or(QString()));
        const auto limits = query ? query(interface.index) : std::make_optional(std::make_pair(kEthernetMinimumMTU, kEthernetMaximumMTU));
        if (limits) {
            interface.minimumMTU = limits->first;
            // The kernel reports 0 for "no upper limit".
            interface.maximumMTU = limits->second == 0 ? 65535 : limits->second;
        }
        result.push_back(interface);
    }
    std::stable_sort(result.begin(), result.end(),
                     [](const PhysicalNetworkInterface& a, const PhysicalNetworkInterface& b) { return a.index < b.index; });
    return result;
}

std::optional<qint64> NetworkInterfaceDetails::currentMTU(const HostRoot& root, const QString& name, Failure* failure)
{
    Failure dummy;
    Failure& reason = failure ? *failure : dummy;
    reason = Failure::None;
    if (!root.isLive()) {
        const auto text = hosttext::firstLine(root, netFolder + name + QStringLiteral("/mtu"));
        const auto mtu = text ? hosttext::parseUnsigned(*text) : std::nullopt;
        if (!mtu)
            reason = Failure::Request;
        return mtu ? std::optional<qint64>(qint64(*mtu)) : std::nullopt;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        reason = Failure::Socket;
        return std::nullopt;
    }
    ifreq request = requestFor(name);
    const int result = ::ioctl(fd, SIOCGIFMTU, &request);
    ::close(fd);
    if (result < 0) {
        reason = Failure::Request;
        return std::nullopt;
    }
    return request.ifr_mtu;
}

std::optional<QString> NetworkInterfaceDetails::ipv4Address(const QString& name)
{
    if (name.isEmpty())
        return std::nullopt;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    ifreq request = requestFor(name);
    const int result = ::ioctl(fd, SIOCGIFADDR, &request);
    ::close(fd);
    if (result < 0 || request.ifr_addr.sa_family != AF_INET)
        return std::nullopt;
    sockaddr_in address;
    std::memcpy(&address, &request.ifr_addr, sizeof address);
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text))
        return std::nullopt;
    return QString::fromLatin1(text);
}

} // namespace platform
