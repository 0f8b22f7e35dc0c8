#include "framework/TEVIPv6Address.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"

#include <QtEndian>

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>

namespace {

constexpr auto kClassName = "TEVIPv6Address";

KV_REGISTER_CLASS(QString::fromLatin1(kClassName), QStringLiteral("NSObject"), 0,
    [](platform::Coder& coder) -> platform::ObjectRef { return TEVIPv6Address::createWithCoder(coder); });

QString wordKey(int word)
{
    return QStringLiteral("Address32-%1").arg(word);
}

} // namespace

std::shared_ptr<TEVIPv6Address> TEVIPv6Address::createWithString(const QString& text)
{
    if (text.isEmpty())
        return nullptr;
    Bytes bytes{};
    // inet_pton takes the whole text or nothing, so trailing junk and scope suffixes fail here.
    if (inet_pton(AF_INET6, text.toLatin1().constData(), bytes.data()) != 1 || text.contains(QChar(0)))
        return nullptr;
    return std::make_shared<TEVIPv6Address>(bytes);
}

std::shared_ptr<TEVIPv6Address> TEVIPv6Address::createWithSocketAddress(const sockaddr* address)
{
    if (!address || address->sa_family != AF_INET6)
        return nullptr;
    sockaddr_in6 in6{};
    std::memcpy(&in6, address, sizeof in6);
    Bytes bytes{};
    std::memcpy(bytes.data(), &in6.sin6_addr, bytes.size());
    return std::make_shared<TEVIPv6Address>(bytes);
}

std::shared_ptr<TEVIPv6Address> TEVIPv6Address::createWithCoder(platform::Coder& coder)
{
    // Only keyed archives hold addresses; a typedstream naming the class has no keys to read.
    if (!coder.allowsKeyedCoding()) {
        coder.failWithReason(QStringLiteral("TEVIPv6Address needs a keyed coder"));
        return nullptr;
    }
    Bytes bytes{};
    for (int word = 0; word < 4; ++word) {
        const quint32 value = quint32(coder.decodeInt32ForKey(wordKey(word)));
        qToLittleEndian(value, bytes.data() + 4 * word);
    }
    if (coder.hasFailed())
        return nullptr;
    return std::make_shared<TEVIPv6Address>(bytes);
}

bool TEVIPv6Address::isValidAddress(const QString& text)
{
    return createWithString(text) != nullptr;
}

sockaddr_in6 TEVIPv6Address::socketAddress() const
{
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = 0;
    in6.sin6_flowinfo = 0;
    std::memcpy(&in6.sin6_addr, address_.data(), address_.size());
    in6.sin6_scope_id = 0;
    return in6;
}

QString TEVIPv6Address::string() const
{
    char buffer[INET6_ADDRSTRLEN];
    if (!inet_ntop(AF_INET6, address_.data(), buffer, sizeof buffer))
        return QString();
    return QString::fromLatin1(buffer);
}

bool TEVIPv6Address::isEqual(const platform::Archivable* other) const
{
    const auto* address = dynamic_cast<const TEVIPv6Address*>(other);
    return address && address->address_ == address_;
}

std::shared_ptr<TEVIPv6Address> TEVIPv6Address::copy() const
{
    return std::make_shared<TEVIPv6Address>(*this);
}

QString TEVIPv6Address::className() const
{
    return QString::fromLatin1(kClassName);
}

void TEVIPv6Address::encodeWithCoder(platform::Coder& coder) const
{
    for (int word = 0; word < 4; ++word)
        coder.encodeInt32(qint32(qFromLittleEndian<quint32>(address_.data() + 4 * word)), wordKey(word));
}
