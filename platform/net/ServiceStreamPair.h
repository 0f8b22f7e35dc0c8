#pragma once
// ServiceStreamPair: the input and output stream of a connection to a DNS-SD service. Opening the first
// stream resolves the service through ServiceDiscovery::shared() and then connects over TCP to the address
// found; until then both streams report Opening. A failed resolve or connect ends in ErrorOccurred on the
// opening thread, like a refused TCP connect. Used like TcpStreamPair, on the thread that opens it.

#include "platform/net/NetService.h"
#include "platform/net/Stream.h"

#include <optional>

namespace platform {

class ServiceStreamPair {
public:
    // Nothing for a service without a name or type.
    static std::optional<StreamPair> forService(const NetService& service);
};

} // namespace platform
