// The acquisition core on every simulated computer: the keyed raw values cover every registered sensor,
// the machine, SMBIOS and drive descriptions are those of the computer, and a few long-term ticks fill
// every sensor's history.

#include "acquisition/TEVDataAcquisitionCore.h"
#include "platform/foundation/HostRoot.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "platform/registry/IORegistry.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorClassLoader.h"
#include "tests/acquisition/AcquisitionTestSupport.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <filesystem>

namespace {

struct Computer {
    const char* folder;
    const char* serial; // null: the fallback serial of a computer without one
    bool hasSmbios;
    int drives;
    int minimumSensors;
};

const Computer computers[] = {
    {"portable", "C02M51K3FH00", true, 1, 20},
    {"tower", "F5KN1R4JF9VM", true, 2, 20},
    {"server", "F5KZT04RP7QM", true, 4, 5},
    {"vm", nullptr, false, 1, 0},
};

class SimulatedComputerCore : public ::testing::TestWithParam<Computer> {
protected:
    void SetUp() override
    {
        const auto loaded = platform::SimulatedComputer::load(
            kelvaro::test::sourcePath(QStringLiteral("fixtures/computers/") + QLatin1String(GetParam().folder)));
        ASSERT_TRUE(loaded.computer) << loaded.error.toStdString();
        platform::SimulatedComputer::setCurrent(loaded.computer);
        TEVSensorClassLoader::loadAll();
    }
    void TearDown() override { platform::SimulatedComputer::setCurrent(nullptr); }
};

QSet<QString> identifiers(const TEVSensorList& sensors)
{
    QSet<QString> result;
    for (const auto& sensor : sensors)
        result.insert(sensor->uniqueIdentifier());
    return result;
}

} // namespace

TEST_P(SimulatedComputerCore, AnswersTheComputersSensorsMachineAndDrives)
{
    const Computer& computer = GetParam();
    auto sources = TEVDataAcquisitionCore::Sources::local();
    // The shared instance is collected once per process; each computer needs its own.
    sources.machineInfo = std::make_shared<const TEVMachineInfo>(*platform::HostRoot::current(),
                                                                 platform::IORegistry::current());
    TEVDataAcquisitionCore core(sources);

    const QVariantMap raw = core.currentRawValues();
    const QStringList keys = raw.keys();
    EXPECT_EQ(QSet<QString>(keys.begin(), keys.end()), identifiers(TEVSensor::allSensors()));
    EXPECT_GE(raw.size(), computer.minimumSensors);
    for (auto it = raw.cbegin(); it != raw.cend(); ++it)
        EXPECT_EQ(platform::values::kindOf(it.value()), platform::values::Kind::Signed) << it.key().toStdString();

    if (computer.serial)
        EXPECT_EQ(core.machineInfo()->systemSerialNumber(), QLatin1String(computer.serial));
    else
        EXPECT_TRUE(core.machineInfo()->systemSerialNumber().startsWith(QLatin1String("ZZZNOSERIAL")));
    const auto smbios = core.systemManagementDescription();
    EXPECT_EQ(smbios.has_value() && !smbios->isEmpty(), computer.hasSmbios);
    EXPECT_EQ(core.blockStorageDeviceDescriptions().size(), computer.drives);
    EXPECT_EQ(core.completeListOfSensorDescriptions().size(), raw.size());

    if (!raw.isEmpty()) {
        const QString first = raw.firstKey();
        core.disableLocalAccess(true, first);
        EXPECT_EQ(platform::values::toSigned(core.currentRawValues().value(first)), -1);
        core.disableLocalAccess(false, first);
    }

    acqtest::HistoryFolder folder;
    core.setUserInfo(QStringLiteral("Kelvaro"));
    core.run();
    for (int tick = 0; tick < 3; ++tick)
        acqtest::advance(60);
    EXPECT_EQ(core.sensorHistoryUpdateCount(), 4u);
    EXPECT_EQ(core.historyBuffers().size(), raw.size());
    EXPECT_TRUE(core.saveLongTermHistoryBuffers());
    const auto saved = TEVSensorHistoryFile(folder.path()).read();
    EXPECT_EQ(saved.entries.value(core.machineInfo()->systemSerialNumber()).size(), raw.size());
}

INSTANTIATE_TEST_SUITE_P(Computers, SimulatedComputerCore, ::testing::ValuesIn(computers),
                         [](const auto& info) { return std::string(info.param.folder); });

namespace {

// Links keep their stored (relative) text, as sysfs has them.
void copyTree(const QString& from, const QString& to)
{
    std::filesystem::copy(from.toStdString(), to.toStdString(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
}

} // namespace

TEST(SimulatedComputerCoreRescan, ADriveThatDisappearsLosesItsSensor)
{
    QTemporaryDir dir;
    copyTree(kelvaro::test::sourcePath(QStringLiteral("fixtures/computers/tower")), dir.path() + QStringLiteral("/tower"));
    const auto before = platform::SimulatedComputer::load(dir.path() + QStringLiteral("/tower"));
    ASSERT_TRUE(before.computer) << before.error.toStdString();
    platform::SimulatedComputer::setCurrent(before.computer);
    TEVSensorClassLoader::loadAll();
    auto sources = TEVDataAcquisitionCore::Sources::local();
    sources.machineInfo = std::make_shared<const TEVMachineInfo>(*platform::HostRoot::current(),
                                                                 platform::IORegistry::current());
    TEVDataAcquisitionCore core(sources);
    const QString drive = QStringLiteral("smart.WDC WD5000AAKS-00TMA0.WD-WCAPW0493929");
    ASSERT_TRUE(core.currentRawValues().contains(drive));

    // The second drive is unplugged: gone from /sys/block, so from the registry of the reloaded computer.
    ASSERT_TRUE(QFile::remove(dir.path() + QStringLiteral("/tower/root/sys/block/sdb"))); // a link, as in sysfs
    const auto after = platform::SimulatedComputer::load(dir.path() + QStringLiteral("/tower"));
    ASSERT_TRUE(after.computer) << after.error.toStdString();
    platform::SimulatedComputer::setCurrent(after.computer);
    core.rescanForSensors();
    const QVariantMap raw = core.currentRawValues();
    EXPECT_FALSE(raw.contains(drive));
    EXPECT_TRUE(raw.contains(QStringLiteral("smart.SAMSUNG HD501LJ.S0MUJ1NQ110060")));
    platform::SimulatedComputer::setCurrent(nullptr);
}
