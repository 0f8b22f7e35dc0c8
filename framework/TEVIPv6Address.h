#pragma once
// TEVIPv6Address: one IPv6 address as a small archivable value, parsed and printed in the standard text
// forms (RFC 4291, compressed as RFC 5952 prefers). Immutable in practice and shared freely; any thread.

#include "platform/foundation/Archivable.h"

#include <QString>

#include <netinet/in.h>

#include <array>
#include <memory>

struct sockaddr;

class TEVIPv6Address final : public platform::Archivable {
public:
    using Bytes = std::array<quint8, 16>;

    TEVIPv6Address() = default; // ::
    explicit TEVIPv6Address(const Bytes& bytes) : address_(bytes) {}

    static std::shared_ptr<TEVIPv6Address> createWithString(const QString& text);
    static std::shared_ptr<TEVIPv6Address> createWithSocketAddress(const sockaddr* address);
    static std::shared_ptr<TEVIPv6Address> createWithCoder(platform::Coder& coder);

    // Scope suffixes ("fe80::1%eth0") are no part of an address text.
    static bool isValidAddress(const QString& text);

    const Bytes& rawAddress() const { return address_; }
    sockaddr_in6 socketAddress() const;
    // Null when it cannot be formatted.
    QString string() const;
    QString description() const { return string(); }

    // True for an IPv6 address with the same 16 bytes.
    bool isEqual(const platform::Archivable* other) const;
    std::shared_ptr<TEVIPv6Address> copy() const;

    QString className() const override;
    void encodeWithCoder(platform::Coder& coder) const override;

private:
    Bytes address_{};
};
