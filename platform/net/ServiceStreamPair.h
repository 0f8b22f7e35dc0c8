#pragma once
// ServiceStreamPair: the input and output stream of a connection to a DNS-SD service. Opening the first
// stream resolves the service through ServiceDiscovery::shared() and then connects over TCP to the address
// found; until then both streams report Opening. A failed resolve or connect ends in ErrorOccurred on the
// opening thread, like a refused TCP connect. Used like TcpStreamPair, on the thread that opens it.

#include "platform/foundation/Error.h"
#include "platform/net/NetService.h"
#include "platform/net/ServiceDiscovery.h"
#include "platform/net/Stream.h"

#include <QHostAddress>

#include <optional>

namespace platform {

class ServiceStreamPair {
public:
    // Domain of the error a failed resolve leaves on the streams; its codes are NetServiceBrowser's
    // net-services codes. A failed connect keeps the socket's error (NSPOSIXErrorDomain), so the domain
    // tells which step failed.
    static constexpr const char* kResolveErrorDomain = "kCFErrorDomainCFNetwork";

    // Nothing for a service without a name or type.
    static std::optional<StreamPair> forService(const NetService& service);

    // The streams' error after resolving `service` failed; the daemon's text is in the description.
    static Error resolveError(const NetService& service, const DiscoveryError& error);
    // Where to connect: the numeric address, scoped to the resolving interface when it is a link-local
    // IPv6 address (a bare fe80:: address is ambiguous). Nothing for text that is not a numeric address.
    static std::optional<QHostAddress> connectAddress(const ResolvedService& resolved);
};

} // namespace platform
