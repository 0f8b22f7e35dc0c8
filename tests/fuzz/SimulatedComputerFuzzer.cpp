// A simulated computer's computer.plist (XML or binary) through the strict loader and the loaders of the
// backends that read its sections; then what the sensors read of it: every SMC key, the displays' EDIDs and
// the drives' S.M.A.R.T. pages.

#include "tests/fuzz/FuzzSupport.h"

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "platform/hardware/EmulatedSmcConnection.h"
#include "platform/hardware/FixtureAtaSmartTransport.h"
#include "platform/registry/FixtureIORegistry.h"
#include "sensors/TEVDisplayInfo.h"
#include "sensors/TEVSMARTStorageDevice.h"

using namespace platform;

namespace {

// A real key table has a few hundred keys; the loader bounds nothing here, the walk must.
constexpr quint32 MaxKeysRead = 1024;

void readSmc(const SimulatedComputer& computer)
{
    const auto loaded = EmulatedSmcConnection::fromComputer(computer);
    if (!loaded.connection || loaded.connection->open() != 0)
        return;
    SmcConnection& smc = *loaded.connection;
    const auto count = smc.keyCount();
    for (quint32 i = 0; count.ok() && i < std::min(*count.value, MaxKeysRead); ++i) {
        const auto key = smc.keyAtIndex(i);
        if (!key.ok())
            continue;
        (void)smc.keyInfo(*key.value);
        (void)smc.readKey(*key.value);
    }
    (void)smc.versionText();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::setUpOnce();
    const auto plist = values::toDictionary(readPropertyList(fuzz::bytesOf(data, size)).value);
    if (!plist)
        return 0;
    const auto loaded = SimulatedComputer::fromDictionary(*plist, QStringLiteral("/nonexistent/simulated"));
    if (!loaded.computer)
        return 0;
    const SimulatedComputer& computer = *loaded.computer;
    (void)computer.name();
    (void)computer.description();
    (void)computer.idleTime();
    fuzz::walk(computer.machine().value_or(QVariantMap()));
    readSmc(computer);

    const auto ata = FixtureAtaSmartTransport::fromComputer(computer);
    const auto registry = FixtureIORegistry::load(computer.registry().value_or(QVariantList()));
    if (!registry.registry)
        return 0;
    for (const auto& entry : registry.registry->entries())
        fuzz::walk(entry->properties());
    for (const auto& display : TEVDisplayInfo::allDisplays(registry.registry))
        (void)display->description();
    if (ata.transport) {
        for (const auto& drive : TEVSMARTStorageDevice::allSMARTDevicesRestrictToTemperatureSupport(false, registry.registry, ata.transport))
            (void)drive->temperature();
    }
    return 0;
}
