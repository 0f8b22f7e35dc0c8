#pragma once
// Registry provider for displays from /sys/class/drm: one "IODisplay" entry per connected output that
// reports an EDID ("AppleBacklightDisplay" for built-in panels, "AppleDisplay" otherwise), with the EDID
// bytes as "IODisplayEDID". Stateless; the EDID is read again on every property access.

#include "platform/registry/LinuxIORegistry.h"

namespace platform {

class DrmDisplayProvider final : public IORegistryProvider {
public:
    void addEntries(const HostRoot& root, IORegistry::Builder& builder) const override;
    std::optional<QByteArray> changeSignature(const HostRoot& root) const override;
};

} // namespace platform
