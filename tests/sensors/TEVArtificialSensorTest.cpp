// Probe sensors: identities, the class list, preference dictionaries, archives and the values' scaling.

#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVMachineInfo.h"

#include "platform/host/FileSystemSpaceReader.h"

#include "tests/sensors/SensorTestSupport.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <condition_variable>
#include <thread>

using Probe = TEVArtificialSensor;

namespace {

// A voltage or current sensor with a fixed reading, in 16.16 fixed point.
class FixedSensor final : public TEVSensor {
public:
    FixedSensor(const char* identifier, qint64 raw, const char* unit) : raw_(raw), unit_(QString::fromLatin1(unit))
    {
        setUniqueIdentifier(QString::fromLatin1(identifier));
    }
    qint64 rawValue() const override { return raw_; }
    QString unit() const override { return unit_; }
    std::shared_ptr<TEVSensorValueConverter> valueConverter() const override
    {
        auto converter = std::make_shared<TEVSensorValueConverter>();
        converter->setConversionFunctionType(TEVSensorValueConverter::LinearFactor);
        converter->setLinearFactor(1.0 / 65536.0);
        return converter;
    }

private:
    qint64 raw_;
    QString unit_;
};

QVariantMap dictionary(const char* type, qint64 index, const char* source1 = nullptr, const char* source2 = nullptr)
{
    QVariantMap result{{"Type", QString::fromLatin1(type)}, {"Index", platform::values::fromSigned(index)}};
    if (source1)
        result.insert("Source1", QString::fromUtf8(source1));
    if (source2)
        result.insert("Source2", QString::fromUtf8(source2));
    return result;
}

struct ListGuard {
    ~ListGuard() { Probe::setArtificialSensorsUsingPreferenceDictionaries(QVariantList()); }
};

} // namespace

TEST(TEVArtificialSensor, PreferenceDictionariesRoundTripForEveryKind)
{
    QVariantList dictionaries;
    for (qint64 kind = 1; kind <= Probe::LastKind; ++kind) {
        const QByteArray type = Probe::typeKeyForKind(kind).toLatin1();
        if (kind == Probe::CPULoad || kind == Probe::RemainingBattery)
            dictionaries.append(dictionary(type, 0));
        else if (kind >= Probe::DiskCapacity && kind <= Probe::DiskUsed)
            dictionaries.append(dictionary(type, -1, "/"));
        else if (kind == Probe::SMARTStatus)
            dictionaries.append(dictionary(type, -1, "TOSHIBA MK1651GSY", "38IGT0G5T"));
        else if (kind == Probe::RAIDStatus) // not present on this machine: kept, unbound
            dictionaries.append(dictionary(type, -1, "7f3e9a21-4b6c-d805-e1f2-93a4b5c6d7e8"));
        else if (kind == Probe::Power)
            dictionaries.append(dictionary(type, -1, "VP0R!TEV!CPU voltage", "IC0R!TEV!CPU current"));
        else if (kind >= Probe::NetOutPackages)
            dictionaries.append(dictionary(type, -1, "en0", "Ethernet"));
        else
            dictionaries.append(dictionary(type, -1));
    }
    ListGuard guard;
    Probe::setArtificialSensorsUsingPreferenceDictionaries(dictionaries);
    ASSERT_EQ(Probe::allSensors().size(), Probe::LastKind);
    EXPECT_EQ(Probe::preferenceDictionariesForAllSensors(), dictionaries);
    EXPECT_EQ(Probe::allArtificialSensors()[Probe::SMARTStatus - 1]->preferenceDictionary(),
              dictionary("SMARTStatus", -1, "TOSHIBA MK1651GSY", "38IGT0G5T"));

    // Entries that build nothing are skipped; duplicates in the stored array stay.
    Probe::setArtificialSensorsUsingPreferenceDictionaries(QVariantList{
        QVariantMap{{"Index", platform::values::fromSigned(0)}}, dictionary("NoSuchKind", 0), QString("not a dictionary"),
        dictionary("Power", -1, "no separator", "IC0R!TEV!x"), dictionary("Power", -1, "VP0R!TEV!", "IC0R!TEV!x"),
        dictionary("DiskFree", -1), dictionary("TotalCPULoad", 0), dictionary("TotalCPULoad", 0)});
    EXPECT_EQ(Probe::allSensors().size(), 2);
    Probe::setArtificialSensorsUsingPreferenceDictionaries(std::nullopt);
    EXPECT_EQ(Probe::allSensors().size(), 2);
}

TEST(TEVArtificialSensor, ListRefusesDuplicatesAndRemovesByIdentity)
{
    ListGuard guard;
    Probe::setArtificialSensorsUsingPreferenceDictionaries(QVariantList());
    const auto average = Probe::createAsTotalCPULoadSensor();
    EXPECT_TRUE(Probe::addArtificialSensor(average));
    EXPECT_FALSE(Probe::addArtificialSensor(Probe::createAsTotalCPULoadSensor()));
    EXPECT_FALSE(Probe::addArtificialSensor(nullptr));
    const auto copy = std::static_pointer_cast<Probe>(average->copy());
    Probe::removeArtificialSensor(copy.get()); // equal, but another object
    Probe::removeArtificialSensorAtIndex(5);
    EXPECT_EQ(Probe::allSensors().size(), 1);
    Probe::removeArtificialSensor(average.get());
    EXPECT_TRUE(Probe::allSensors().isEmpty());
}

TEST(TEVArtificialSensor, IdentitiesOfTheKinds)
{
    const quint64 processors = TEVMachineInfo::sharedMachineInfo()->processorCount();
    ASSERT_GT(processors, 0u);
    const auto cpu = Probe::createAsLoadSensorForCPUAtIndex(0);
    ASSERT_TRUE(cpu);
    EXPECT_EQ(cpu->uniqueIdentifier(), QStringLiteral("artificial.cpuload.0"));
    EXPECT_EQ(cpu->locationIdentifier(), QStringLiteral("Processor Load A"));
    EXPECT_EQ(cpu->localizedDescriptionForAssociatedObjectAtIndex(0), QStringLiteral("CPU 1"));
    EXPECT_FALSE(Probe::createAsLoadSensorForCPUAtIndex(qint64(processors)));
    EXPECT_FALSE(Probe::createAsLoadSensorForCPUAtIndex(-1));

    const auto battery = Probe::createAsBatterySensorForIndex(0);
    EXPECT_EQ(battery->locationIdentifier(), QStringLiteral("Remaining Capacity Battery 1"));
    EXPECT_EQ(battery->localizedDescriptionForAssociatedObjectAtIndex(0), QStringLiteral("Battery 1"));
    EXPECT_EQ(battery->rawValue(), -1); // no battery here: unbound, no value rather than an empty battery

    const auto net = Probe::createAsNetworkInterfaceSensorWithType(Probe::NetOutBytes, QStringLiteral("en0"), QStringLiteral("Ethernet"));
    EXPECT_EQ(net->uniqueIdentifier(), QStringLiteral("artificial.network.obytes.en0"));
    EXPECT_EQ(net->locationIdentifier(), QStringLiteral("Network Interface Outgoing Bytes (Ethernet)"));
    EXPECT_EQ(net->localizedDescriptionForAssociatedObjectAtIndex(0), QStringLiteral("Ethernet"));
    EXPECT_EQ(net->localizedDescriptionForAssociatedObjectAtIndex(1), QStringLiteral("en0"));
    EXPECT_EQ(net->rawValue(), 0); // no such interface: 0
    EXPECT_EQ(net->unit(), QStringLiteral("KB"));
    EXPECT_TRUE(net->localizedDescriptionForAssociatedObjectAtIndex(2).isNull());

    struct Letters {
        qint64 index;
        const char* text;
    } letters[] = {{0, "A"}, {25, "Z"}, {26, "AA"}, {27, "AB"}, {128, "DY"}, {701, "ZZ"}, {702, "AAA"}};
    for (const auto& row : letters)
        EXPECT_EQ(processorLetters(row.index), QString::fromLatin1(row.text)) << row.index;

    Probe none;
    EXPECT_EQ(none.localizedSensorType(), QStringLiteral(""));
    none.setArtificialType(28);
    EXPECT_TRUE(none.localizedSensorType().isNull());
    EXPECT_EQ(none.unit(), QStringLiteral(" "));
}

TEST(TEVArtificialSensor, SensorSpecifiersSplitAtTheFirstSeparator)
{
    struct Row {
        const char* text;
        bool parses;
        const char* identifier;
        const char* description;
    } rows[] = {{"VP0R!TEV!CPU", true, "VP0R", "CPU"},    {"!TEV!rest", true, "", "rest"},
                {"a!TEV!b!TEV!c", true, "a", "b!TEV!c"}, {"VP0R!TEV!", false, "", ""},
                {"no separator", false, "", ""}};
    for (const auto& row : rows) {
        QString identifier, description;
        EXPECT_EQ(Probe::parseSensorSpecifier(QString::fromLatin1(row.text), &identifier, &description), row.parses) << row.text;
        if (row.parses) {
            EXPECT_EQ(identifier, QString::fromLatin1(row.identifier));
            EXPECT_EQ(description, QString::fromLatin1(row.description));
        }
    }
    EXPECT_TRUE(Probe::sensorSpecifier(QString(), QStringLiteral("x")).isNull());
}

TEST(TEVArtificialSensor, PowerIsVoltageTimesCurrentOnlyWithBothReadings)
{
    const auto probe = Probe::createAsPowerSensorForVoltageSensorNamed(QStringLiteral("V"), QStringLiteral("Volts"),
                                                                       QStringLiteral("I"), QStringLiteral("Amps"));
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->rawValue(), -1); // bound only at a rescan with the sensor list
    struct Row {
        qint64 volts;
        const char* voltUnit;
        qint64 amps;
        const char* ampUnit;
        bool currentListed;
        qint64 raw;
    } rows[] = {
        {12 * 65536, "V", qint64(2.5 * 65536), "A", true, 1966080},       // 30 W
        {qint64(12000) * 65536, "mV", qint64(2500) * 65536, "mA", true, 1966080}, // the same in milli-units
        {12 * 65536, "V", -1, "A", true, -1},                              // a reading of no value
        {12 * 65536, "V", 2 * 65536, "A", false, -1},                      // only one sensor found
        {qint64(40000) * 65536, "V", 2 * 65536, "A", true, 2147483647},            // beyond 32767 W: saturates
    };
    for (const auto& row : rows) {
        TEVSensorList sensors{std::make_shared<FixedSensor>("V", row.volts, row.voltUnit)};
        if (row.currentListed)
            sensors.append(std::make_shared<FixedSensor>("I", row.amps, row.ampUnit));
        probe->resolveObjectDependenciesUsingSensorList(&sensors);
        EXPECT_EQ(probe->rawValue(), row.raw) << row.volts << row.voltUnit;
    }
    EXPECT_DOUBLE_EQ(probe->valueConverter()->valueForRawSensorValue(1966080), 30.0);
    EXPECT_EQ(probe->localizedDescriptionForAssociatedObjectAtIndex(1), QStringLiteral("Amps"));
}

TEST(TEVArtificialSensor, ScalingClassesConvertBack)
{
    struct Row {
        qint64 kind;
        qint64 raw;
        double value;
        const char* unit;
    } rows[] = {{Probe::CPULoad, qint64(37.5 * 65536), 37.5, "%"},
                {Probe::MemoryFree, 49152, 1536.0, "MB"},
                {Probe::NetOutPackages, 32 * 7, 7.0, ""},
                {Probe::NumberOfProcesses, 178, 178.0, ""}};
    for (const auto& row : rows) {
        Probe probe;
        probe.setArtificialType(row.kind);
        EXPECT_DOUBLE_EQ(probe.valueConverter()->valueForRawSensorValue(row.raw), row.value) << row.kind;
        EXPECT_EQ(probe.unit(), QString::fromLatin1(row.unit)) << row.kind;
    }
    // A volume that is not there reads 0 for all three volume kinds.
    for (qint64 kind = Probe::DiskCapacity; kind <= Probe::DiskUsed; ++kind)
        EXPECT_EQ(Probe::createAsStorageSensorForPath(QStringLiteral("/no/such/volume"), kind)->rawValue(), 0) << kind;
    // An unbound S.M.A.R.T. status has no value; an unbound RAID status reads offline.
    EXPECT_EQ(Probe::createAsSMARTStatusSensorForProductName(QStringLiteral("X"), QStringLiteral("Y"))->rawValue(), -1);
    EXPECT_EQ(Probe::createAsRAIDStatusSensorForUUID(QStringLiteral("absent"))->rawValue(), 0);
}

TEST(TEVArtificialSensor, ArchiveKeepsTheWholeIndex)
{
    const auto battery = Probe::createAsBatterySensorForIndex(200);
    for (auto kind : {sensortest::ArchiveKind::Sequential, sensortest::ArchiveKind::Keyed}) {
        const auto back = sensortest::roundTrip<Probe>(kind, battery, QStringLiteral("TEVArtificialSensor"));
        ASSERT_TRUE(back) << sensortest::archiveKindName(kind);
        EXPECT_EQ(back->artificialType(), Probe::RemainingBattery);
        EXPECT_EQ(back->associatedIndex(), 200);
        EXPECT_EQ(back->uniqueIdentifier(), QStringLiteral("artificial.capacity.200"));
        EXPECT_TRUE(back->associatedFirstSensorSourceName().isNull());
    }
    EXPECT_EQ(battery->preferenceDictionary().value("Index"), platform::values::fromSigned(200));
}

TEST(TEVArtificialSensor, BindingDropsTheSourcesOfTheOldKind)
{
    const struct {
        qint64 kind;
        bool logged;
    } rows[] = {{Probe::Power, false}, {Probe::LastKind + 1, true}, {99, true}};
    for (const auto& row : rows) {
        const auto probe = Probe::createAsTotalCPULoadSensor();
        ASSERT_TRUE(probe && probe->isBound());
        kelvaro::test::log().clear();
        probe->setArtificialType(row.kind);
        probe->resolveObjectDependenciesUsingSensorList(nullptr);
        EXPECT_FALSE(probe->isBound()) << row.kind;
        const QString line = QStringLiteral("TEVArtificialSensor: Internal error: cannot resolve dependencies for sensor type %1\n").arg(row.kind);
        EXPECT_EQ(kelvaro::test::log().count(line), row.logged ? 1 : 0) << row.kind;
    }
}

TEST(TEVArtificialSensor, DiskProbeOnASilentNetworkMountHasNoValueInsteadOfBlocking)
{
    QTemporaryDir dir;
    kelvaro::test::writeFile(dir.path() + "/proc/self/mountinfo", "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                                               "22 21 0:50 / /mnt/share rw - nfs server:/export rw\n");
    platform::HostRoot::setCurrent(std::make_shared<platform::HostRoot>(dir.path()));
    // statfs of the share hangs until the server is back.
    std::mutex mutex;
    std::condition_variable changed;
    bool serverBack = false;
    const auto reader = std::make_shared<platform::FileSystemSpaceReader>(
        [&](const platform::HostRoot&, const QString&) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return serverBack; });
            platform::FileSystemSpace space;
            space.blockSize = 1024 * 1024;
            space.blocks = space.freeBlocks = space.availableBlocks = 300;
            return std::optional(space);
        },
        std::chrono::milliseconds(0));
    platform::FileSystemSpaceReader::setShared(reader);

    const auto free = Probe::createAsStorageSensorForPath("/mnt/share", Probe::DiskFree);
    EXPECT_EQ(free->rawValue(), -1);
    EXPECT_EQ(free->rawValue(), -1);
    {
        std::lock_guard lock(mutex);
        serverBack = true;
        changed.notify_all();
    }
    // The released query answers soon; until then the probe still has no value.
    qint64 raw = free->rawValue();
    for (int guard = 0; raw == -1 && guard < 10'000; ++guard) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        raw = free->rawValue();
    }
    EXPECT_EQ(raw, 300 * 32);

    platform::FileSystemSpaceReader::setShared(nullptr);
    platform::HostRoot::setCurrent(nullptr);
}
