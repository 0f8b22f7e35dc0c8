#pragma once
// TEVIPv4Address: one IPv4 address as a small archivable value, with the classic BSD address syntax
// ("10.1" and "0x0a000001" are addresses), netmask tests and class-based network numbers. Immutable in
// practice and shared freely; any thread.

#include "platform/foundation/Archivable.h"

#include <QString>

#include <netinet/in.h>

#include <memory>
#include <optional>

struct sockaddr;

class TEVIPv4Address final : public platform::Archivable {
public:
    TEVIPv4Address() = default; // 0.0.0.0

    static std::shared_ptr<TEVIPv4Address> createWithString(const QString& text);
    // A network number ("10", "172.16") as the class-based network address (10.0.0.0, 172.16.0.0).
    static std::shared_ptr<TEVIPv4Address> createAsNetworkAddressWithString(const QString& text);
    static std::shared_ptr<TEVIPv4Address> createWithSocketAddress(const sockaddr* address);
    static std::shared_ptr<TEVIPv4Address> createWithCoder(platform::Coder& coder);

    static bool isValidAddress(const QString& text);
    // True when no 1 bit follows a 0 bit, reading from the most significant.
    static bool isValidNetMask(const QString& text);
    // The class A, B or C mask; null for an unparsable text and for class D and E addresses.
    static std::shared_ptr<TEVIPv4Address> defaultNetMaskForAddress(const QString& text);
    // From the networks database, through the shared name resolver.
    static std::shared_ptr<TEVIPv4Address> networkAddressWithKnownName(const QString& name);

    // Classic BSD address syntax: one to four parts, decimal, octal (leading 0) or hex (leading 0x), the
    // last part filling the remaining low-order bytes. Nothing is accepted after the last digit. Host order.
    static std::optional<quint32> parseAddress(const QString& text);
    // A network number in the same syntax, each part one byte, right-aligned ("172.16" is 0xAC10).
    static std::optional<quint32> parseNetworkNumber(const QString& text);
    // The class-based network address (host order) of a right-aligned network number.
    static quint32 networkAddressOfNumber(quint32 number);

    // The address bytes in network order, the first written byte first in memory.
    quint32 rawAddress() const { return address_; }
    quint32 rawAddressInHostByteOrder() const;
    quint32 address() const { return address_; }
    void setAddress(quint32 networkOrder) { address_ = networkOrder; }

    sockaddr_in socketAddress() const;
    QString string() const;
    QString description() const { return string(); }

    // True for an IPv4 address with the same bytes.
    bool isEqual(const platform::Archivable* other) const;
    std::shared_ptr<TEVIPv4Address> copy() const;

    QString className() const override;
    void encodeWithCoder(platform::Coder& coder) const override;

private:
    static std::shared_ptr<TEVIPv4Address> fromHostOrder(quint32 value);

    quint32 address_ = 0;
};
