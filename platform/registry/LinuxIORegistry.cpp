#include "platform/registry/LinuxIORegistry.h"

#include "platform/registry/AppleSmbiosProvider.h"
#include "platform/registry/AppleSmcProvider.h"
#include "platform/registry/BlockStorageProvider.h"
#include "platform/registry/DmiPlatformProvider.h"
#include "platform/registry/DrmDisplayProvider.h"
#include "platform/registry/HIDSystemProvider.h"
#include "platform/registry/PowerSupplyBatteryProvider.h"
#include "platform/registry/SoftwareRaidProvider.h"

namespace platform {

std::vector<std::shared_ptr<const IORegistryProvider>> LinuxIORegistry::defaultProviders()
{
    return {std::make_shared<DmiPlatformProvider>(),        std::make_shared<AppleSmbiosProvider>(),
            std::make_shared<AppleSmcProvider>(),           std::make_shared<PowerSupplyBatteryProvider>(),
            std::make_shared<BlockStorageProvider>(),       std::make_shared<SoftwareRaidProvider>(),
            std::make_shared<DrmDisplayProvider>(),
            std::make_shared<HIDSystemProvider>()};
}

std::shared_ptr<const IORegistry> LinuxIORegistry::build(const HostRoot& root)
{
    return build(root, defaultProviders());
}

std::shared_ptr<const IORegistry> LinuxIORegistry::build(
    const HostRoot& root, const std::vector<std::shared_ptr<const IORegistryProvider>>& providers)
{
    IORegistry::Builder builder;
    for (const auto& provider : providers)
        provider->addEntries(root, builder);
    return builder.finish();
}

} // namespace platform
