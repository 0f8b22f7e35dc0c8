#pragma once
// Registry provider for the "IOHIDSystem" entry, whose "HIDIdleTime" (unsigned nanoseconds) is read from the
// shared IdleTimeSource on every access; the property is absent while the idle time is unknown. The entry
// exists on the live root and for a simulated computer that has an "IdleTime". Stateless.

#include "platform/registry/LinuxIORegistry.h"

namespace platform {

class HIDSystemProvider final : public IORegistryProvider {
public:
    void addEntries(const HostRoot& root, IORegistry::Builder& builder) const override;
};

} // namespace platform
