#pragma once
// Registry provider for the machine description from DMI (/sys/class/dmi/id): the "IOPlatformExpertDevice"
// entry (model, serial number, board identifier, manufacturer) and its child at "IODeviceTree:/rom"
// (firmware version and release date). Stateless; values are read on every property access.

#include "platform/registry/LinuxIORegistry.h"

namespace platform {

class DmiPlatformProvider final : public IORegistryProvider {
public:
    void addEntries(const HostRoot& root, IORegistry::Builder& builder) const override;
};

} // namespace platform
