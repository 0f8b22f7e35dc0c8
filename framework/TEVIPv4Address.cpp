#include "framework/TEVIPv4Address.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"
#include "platform/net/NameResolver.h"

#include <QtEndian>

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>

namespace {

constexpr auto kClassName = "TEVIPv4Address";
const QString kAddressKey = QStringLiteral("Address");

KV_REGISTER_CLASS(QString::fromLatin1(kClassName), QStringLiteral("NSObject"), 0,
    [](platform::Coder& coder) -> platform::ObjectRef { return TEVIPv4Address::createWithCoder(coder); });

// The parts of the classic syntax, each at most 32 bits; nothing when a part is empty, has no digits,
// has a digit its base lacks, overflows, or anything follows it.
std::optional<QList<quint64>> classicParts(const QString& text)
{
    if (text.isEmpty())
        return std::nullopt;
    const QStringList pieces = text.split(QLatin1Char('.'));
    if (pieces.size() > 4)
        return std::nullopt;
    QList<quint64> parts;
    for (const QString& piece : pieces) {
        int base = 10;
        qsizetype start = 0;
        if (piece.size() >= 2 && piece.at(0) == QLatin1Char('0') && (piece.at(1) == QLatin1Char('x') || piece.at(1) == QLatin1Char('X'))) {
            base = 16;
            start = 2;
        } else if (piece.size() >= 2 && piece.at(0) == QLatin1Char('0')) {
            base = 8;
            start = 1;
        }
        if (start >= piece.size())
            return std::nullopt;
        quint64 value = 0;
        for (qsizetype i = start; i < piece.size(); ++i) {
            const char16_t c = piece.at(i).unicode();
            int digit = -1;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                digit = c - u'A' + 10;
            if (digit < 0 || digit >= base)
                return std::nullopt;
            value = value * quint64(base) + quint64(digit);
            if (value > 0xFFFFFFFFu)
                return std::nullopt;
        }
        parts.append(value);
    }
    return parts;
}

} // namespace

std::optional<quint32> TEVIPv4Address::parseAddress(const QString& text)
{
    const auto parts = classicParts(text);
    if (!parts)
        return std::nullopt;
    const qsizetype n = parts->size();
    quint64 value = 0;
    for (qsizetype i = 0; i + 1 < n; ++i) {
        if (parts->at(i) > 0xFF)
            return std::nullopt;
        value |= parts->at(i) << (8 * (3 - i));
    }
    // The last part fills the 4 - (n - 1) low-order bytes.
    const quint64 lastLimit = (quint64(1) << (8 * (5 - n))) - 1;
    if (parts->constLast() > lastLimit)
        return std::nullopt;
    return quint32(value | parts->constLast());
}

std::optional<quint32> TEVIPv4Address::parseNetworkNumber(const QString& text)
{
    const auto parts = classicParts(text);
    if (!parts)
        return std::nullopt;
    quint32 value = 0;
    for (const quint64 part : *parts) {
        if (part > 0xFF)
            return std::nullopt;
        value = (value << 8) | quint32(part);
    }
    return value;
}

quint32 TEVIPv4Address::networkAddressOfNumber(quint32 number)
{
    if (number < 128)
        return number << 24;
    if (number < 65536)
        return number << 16;
    if (number < 16777216)
        return number << 8;
    return number;
}

std::shared_ptr<TEVIPv4Address> TEVIPv4Address::fromHostOrder(quint32 value)
{
    auto address = std::make_shared<TEVIPv4Address>();
    address->address_ = htonl(value);
    return address;
}

std::shared_ptr<TEVIPv4Address> TEVIPv4Address::createWithString(const QString& text)
{
    const auto value = parseAddress(text);
    return value ? fromHostOrder(*value) : nullptr;
}

std::shared_ptr<TEVIPv4Address> TEVIPv4Address::createAsNetworkAddressWithString(const QString& text)
{
    const auto number = parseNetworkNumber(text);
    // All ones is how the classic routine says "no network".
    if (!number || *number == 0xFFFFFFFFu)
        return nullptr;
    return fromHostOrder(networkAddressOfNumber(*number));
}

std::shared_ptr<TEVIPv4Address> TEVIPv4Address::createWithSocketAddress(const sockaddr* address)
{
    if (!address || address->sa_family != AF_INET)
        return nullptr;
    sockaddr_in in{};
    std::memcpy(&in, address, sizeof in);
    auto result = std::make_shared<TEVIPv4Address>();
    result->address_ = in.sin_addr.s_addr;
    return result;
}

std::shared_ptr<TEVIPv4Address> TEVIPv4Address::createWithCoder(platform::Coder& coder)
{
    // Only keyed archives hold addresses; a typedstream naming the class has no keys to read.
    if (!coder.allowsKeyedCoding()) {
        coder.failWithReason(QStringLiteral("TEVIPv4Address needs a keyed coder"));
        return nullptr;
    }
    // The archive keeps the first written byte in the integer's lowest byte.
    const quint32 littleEndian = quint32(coder.decodeInt32ForKey(kAddressKey));
    if (coder.hasFailed())
        return nullptr;
    return fromHostOrder(qbswap(littleEndian));
}

bool TEVIPv4Address::isValidAddress(const QString& text)
{
    return parseAddress(text).has_value();
}

bool TEVIPv4Address::isValidNetMask(const QString& text)
{
    const auto mask = parseAddress(text);
    if (!mask)
        return false;
    const quint32 hostBits = ~*mask;
    return (hostBits & (hostBits + 1)) == 0;
}

std::shared_ptr<TEVIPv4Address> TEVIPv4Address::defaultNetMaskForAddress(const QString& text)
{
    const auto value = parseAddress(text);
    if (!value)
        return nullptr;
    const quint32 firstByte = *value >> 24;
    if (firstByte < 128)
        return fromHostOrder(0xFF000000u);
    if (firstByte < 192)
        return fromHostOrder(0xFFFF0000u);
    if (firstByte < 224)
        return fromHostOrder(0xFFFFFF00u);
    return nullptr;
}

std::shared_ptr<TEVIPv4Address> TEVIPv4Address::networkAddressWithKnownName(const QString& name)
{
    if (name.isEmpty())
        return nullptr;
    const auto number = platform::NameResolver::shared()->networkNumber(name);
    if (!number)
        return nullptr;
    // The database keeps short entries right-aligned ("loopnet 127" is 127): align them as network numbers,
    // or "loopnet" would be 0.0.0.127.
    return fromHostOrder(networkAddressOfNumber(*number));
}

quint32 TEVIPv4Address::rawAddressInHostByteOrder() const
{
    return ntohl(address_);
}

sockaddr_in TEVIPv4Address::socketAddress() const
{
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = 0;
    in.sin_addr.s_addr = address_;
    return in;
}

QString TEVIPv4Address::string() const
{
    const quint32 value = rawAddressInHostByteOrder();
    return QStringLiteral("%1.%2.%3.%4").arg(value >> 24).arg((value >> 16) & 0xFF).arg((value >> 8) & 0xFF).arg(value & 0xFF);
}

bool TEVIPv4Address::isEqual(const platform::Archivable* other) const
{
    const auto* address = dynamic_cast<const TEVIPv4Address*>(other);
    return address && address->address_ == address_;
}

std::shared_ptr<TEVIPv4Address> TEVIPv4Address::copy() const
{
    return std::make_shared<TEVIPv4Address>(*this);
}

QString TEVIPv4Address::className() const
{
    return QString::fromLatin1(kClassName);
}

void TEVIPv4Address::encodeWithCoder(platform::Coder& coder) const
{
    coder.encodeInt32(qint32(qbswap(rawAddressInHostByteOrder())), kAddressKey);
}
