// The core's long-term side on the manual clock: loading and saving by serial number, the history and
// autosave timers, interval changes and the mount-change rescan.

#include "platform/foundation/Values.h"
#include "tests/acquisition/AcquisitionTestSupport.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>

using acqtest::advance;
using acqtest::FakeComputer;
using acqtest::HistoryFolder;
using acqtest::makeCore;
using Histories = TEVSensorHistoryFile::Histories;
using MountedFileSystem = TEVDataAcquisitionCore::MountedFileSystem;

namespace {

std::shared_ptr<FakeComputer> computer(const QString& serial = QStringLiteral("SERIAL-A"))
{
    auto c = std::make_shared<FakeComputer>();
    c->serial = serial;
    c->sensors = {{QStringLiteral("cpu"), 45}, {QStringLiteral("fan"), 1800}};
    return c;
}

std::unique_ptr<TEVDataAcquisitionCore> runningCore(const std::shared_ptr<FakeComputer>& c)
{
    auto core = makeCore(c);
    core->setUserInfo(QStringLiteral("Kelvaro"));
    core->run();
    return core;
}

std::vector<qint64> slotsOf(const TEVSensorHistory& history)
{
    const QByteArray data = history.rawValueDataBetweenNowAndDate(
        history.currentTime().addSecs(-qint64(double(history.valueCount()) * history.timeDelta())));
    std::vector<qint64> values(size_t(data.size()) / sizeof(qint64));
    std::memcpy(values.data(), data.constData(), size_t(data.size()));
    return values;
}

Histories historyWithNewest(qint64 raw)
{
    auto history = TEVSensorHistory::create(10, 60);
    history->setPresentRawValue(raw);
    return {{QStringLiteral("cpu"), history}};
}

} // namespace

TEST(TEVLongTermHistory, FirstStartWithoutFileGivesEveryoneAnEmptyWeek)
{
    HistoryFolder folder;
    const auto core = makeCore(computer());
    EXPECT_EQ(core->sensorHistoryUpdateCount(), 0u);
    EXPECT_FALSE(core->loadLongTermHistoryBuffers()); // no application name yet
    core->setUserInfo(QStringLiteral("Kelvaro"));
    EXPECT_TRUE(core->loadLongTermHistoryBuffers());
    core->synchronizeHistoryBuffersWithSensors();
    EXPECT_EQ(core->sensorHistoryUpdateCount(), 1u);
    ASSERT_EQ(core->historyBuffers().size(), 2);
    for (const auto& history : core->historyBuffers()) {
        EXPECT_EQ(history->valueCount(), 10080u);
        EXPECT_EQ(history->timeDelta(), 60.0);
    }
}

TEST(TEVLongTermHistory, SavingReplacesThisComputersEntryAndKeepsTheOthers)
{
    HistoryFolder folder;
    TEVSensorHistoryFile file(folder.path());
    QDir().mkpath(QFileInfo(folder.path()).absolutePath());
    ASSERT_TRUE(file.saveEntry(QStringLiteral("SERIAL-B"), historyWithNewest(77)));

    // Only the other computer's entry: nothing is loaded for this one, and saving adds it beside.
    auto core = runningCore(computer());
    EXPECT_EQ(slotsOf(*core->historyBuffers().value(QStringLiteral("cpu"))).back(), -1);
    advance(60);
    EXPECT_TRUE(core->saveLongTermHistoryBuffers());
    auto read = file.read();
    EXPECT_EQ(read.status, TEVSensorHistoryFile::ReadResult::Status::Read);
    EXPECT_EQ(read.entries.keys(), (QStringList{QStringLiteral("SERIAL-A"), QStringLiteral("SERIAL-B")}));
    EXPECT_EQ(slotsOf(*read.entries[QStringLiteral("SERIAL-A")][QStringLiteral("fan")]).back(), 1800);

    // A second save of A replaces A's entry and leaves B's as it was.
    advance(60);
    EXPECT_TRUE(core->saveLongTermHistoryBuffers());
    read = file.read();
    EXPECT_EQ(read.entries.size(), 2);
    EXPECT_EQ(read.entries[QStringLiteral("SERIAL-A")][QStringLiteral("cpu")]->currentTime(), kelvaro::test::clock()->now());
    const auto b = read.entries[QStringLiteral("SERIAL-B")][QStringLiteral("cpu")];
    ASSERT_TRUE(b);
    EXPECT_EQ(slotsOf(*b)[size_t(b->valueCount() - 3)], 77); // moved on by the two minutes that passed
}

TEST(TEVLongTermHistory, AnHourAwayLeavesSixtyEmptySlotsAndTheNextSampleFollows)
{
    HistoryFolder folder;
    {
        auto core = runningCore(computer());
        advance(60);
        advance(30); // quit half a step after the last sample
        ASSERT_TRUE(core->saveLongTermHistoryBuffers());
    }
    kelvaro::test::clock()->advanceSeconds(3600);
    const auto c = computer();
    c->sensors[QStringLiteral("cpu")] = 46;
    auto core = runningCore(c);
    EXPECT_EQ(core->sensorHistoryUpdateCount(), 1u);
    const auto history = core->historyBuffers().value(QStringLiteral("cpu"));
    ASSERT_TRUE(history);
    EXPECT_EQ(history->currentTime(), kelvaro::test::clock()->now());
    auto values = slotsOf(*history);
    const auto lastSample = std::find(values.rbegin(), values.rend(), 45);
    ASSERT_NE(lastSample, values.rend());
    const auto empty = lastSample - values.rbegin();
    EXPECT_TRUE(empty == 60 || empty == 61) << empty;

    advance(60);
    values = slotsOf(*history);
    EXPECT_EQ(values.back(), 46);
    EXPECT_EQ(values[values.size() - 2], -1);
    EXPECT_EQ(core->sensorHistoryUpdateCount(), 2u);
}

TEST(TEVLongTermHistory, BlockedSensorsAreSampledAsMinusOne)
{
    HistoryFolder folder;
    auto core = runningCore(computer());
    core->disableLocalAccess(true, QStringLiteral("fan"));
    advance(60);
    EXPECT_EQ(slotsOf(*core->historyBuffers().value(QStringLiteral("fan"))).back(), -1);
    EXPECT_EQ(slotsOf(*core->historyBuffers().value(QStringLiteral("cpu"))).back(), 45);
}

TEST(TEVLongTermHistory, AutosaveIntervalZeroRemovesTheTimerAndFiveSavesEveryFiveMinutes)
{
    HistoryFolder folder;
    auto core = runningCore(computer());
    core->setHistoryAutosaveTimeInterval(5);
    EXPECT_TRUE(core->autosaveTimer().isValid());
    advance(299);
    EXPECT_FALSE(QFile::exists(folder.path()));
    advance(1);
    EXPECT_TRUE(QFile::exists(folder.path()));
    core->setHistoryAutosaveTimeInterval(0);
    EXPECT_FALSE(core->autosaveTimer().isValid());
    core->stop();
    EXPECT_FALSE(core->historyTimer().isValid());
}

TEST(TEVLongTermHistory, NewLongTermIntervalRecreatesTheHistoriesAtTheNewStep)
{
    HistoryFolder folder;
    auto core = runningCore(computer());
    advance(60);
    const auto before = core->historyBuffers();
    const quint64 count = core->sensorHistoryUpdateCount();
    for (const double ignored : {0.5, 60.0, std::nan("")}) {
        core->setLongTermHistoryUpdateInterval(ignored);
        EXPECT_EQ(core->historyBuffers(), before);
        EXPECT_EQ(core->sensorHistoryUpdateCount(), count);
    }
    core->setLongTermHistoryUpdateInterval(120);
    EXPECT_GT(core->sensorHistoryUpdateCount(), count);
    EXPECT_EQ(core->historyTimer().interval(), std::chrono::seconds(120));
    for (const auto& history : core->historyBuffers()) {
        EXPECT_EQ(history->timeDelta(), 120.0);
        EXPECT_EQ(slotsOf(*history).back(), -1);
    }
}

TEST(TEVLongTermHistory, OnlyDiskFileSystemsComingOrGoingTriggerARescan)
{
    struct Row {
        const char* what;
        MountedFileSystem fileSystem;
        bool counts;
    };
    const Row rows[] = {
        {"msdos stick", {QStringLiteral("msdos"), QStringLiteral("disk3s1")}, true},
        {"hfs", {QStringLiteral("hfs"), QStringLiteral("/dev/disk2s2")}, true},
        {"ext4 partition", {QStringLiteral("ext4"), QStringLiteral("/dev/sdb1")}, true},
        {"LUKS volume", {QStringLiteral("ext4"), QStringLiteral("/dev/mapper/home")}, true},
        {"type names are case-sensitive", {QStringLiteral("MSDOS"), QStringLiteral("none")}, false},
        {"tmpfs", {QStringLiteral("tmpfs"), QStringLiteral("tmpfs")}, false},
        {"loop image", {QStringLiteral("squashfs"), QStringLiteral("/dev/loop0")}, false},
        {"zram", {QStringLiteral("ext4"), QStringLiteral("/dev/zram0")}, false},
        {"network share", {QStringLiteral("nfs4"), QStringLiteral("server:/export")}, false},
    };
    for (const Row& row : rows)
        EXPECT_EQ(TEVDataAcquisitionCore::fileSystemCouldAffectSMARTSensor(&row.fileSystem), row.counts) << row.what;
    EXPECT_FALSE(TEVDataAcquisitionCore::fileSystemCouldAffectSMARTSensor(nullptr));

    HistoryFolder folder;
    const auto c = computer();
    c->mounts = TEVDataAcquisitionCore::MountTable{{QStringLiteral("1000001"), {QStringLiteral("msdos"), QStringLiteral("/dev/sdb1")}},
                                                   {QStringLiteral("2A"), {QStringLiteral("tmpfs"), QStringLiteral("tmpfs")}}};
    auto core = runningCore(c);
    c->sensors.insert(QStringLiteral("smart.sdc"), 35); // only a rescan finds it
    const auto rescanned = [&] { return core->sensorDictionary().contains(QStringLiteral("smart.sdc")); };

    c->mounts->remove(QStringLiteral("2A"));
    advance(60);
    EXPECT_FALSE(rescanned()) << "tmpfs unmounted";
    c->mounts.reset(); // a failed listing is no unmount of everything
    advance(60);
    EXPECT_FALSE(rescanned()) << "listing failed";
    c->mounts = TEVDataAcquisitionCore::MountTable{};
    advance(60);
    EXPECT_TRUE(rescanned()) << "msdos unmounted";
    EXPECT_TRUE(core->historyBuffers().contains(QStringLiteral("smart.sdc")));
}

TEST(TEVLongTermHistory, RemoteServiceReadsAndWritesNoFileAndHandsOutNoHistory)
{
    HistoryFolder folder;
    auto core = makeCore(computer());
    core->setUserInfo(QStringLiteral("Kelvaro"));
    core->setIsRemote(true);
    core->run();
    advance(60);
    EXPECT_EQ(slotsOf(*core->historyBuffers().value(QStringLiteral("cpu"))).back(), 45);
    EXPECT_EQ(core->longTermSensorHistoryWithIdentifier(QStringLiteral("cpu")), nullptr);
    EXPECT_FALSE(core->saveLongTermHistoryBuffers());
    EXPECT_FALSE(QFile::exists(folder.path()));
}

TEST(TEVLongTermHistory, ApplicationNameMustBeOneFolderName)
{
    HistoryFolder folder;
    auto core = makeCore(computer());
    for (const QVariant& name : {QVariant(), QVariant(QString()), QVariant(QStringLiteral("..")),
                                 QVariant(QStringLiteral("../escape")), QVariant(qint64(5))}) {
        core->setUserInfo(name);
        EXPECT_FALSE(core->saveLongTermHistoryBuffers()) << name.toString().toStdString();
        EXPECT_FALSE(core->loadLongTermHistoryBuffers());
    }
    EXPECT_EQ(core->sensorHistoryUpdateCount(), 0u);
}

TEST(TEVLongTermHistory, CorruptFileLoadsEmptyAndIsKeptAsideWhenSaving)
{
    HistoryFolder folder;
    kelvaro::test::writeFile(folder.path(), "streamtyped garbage that is no archive");
    auto core = runningCore(computer());
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("TEVDataAcquisitionCore: Could not read all of the sensor history file")));
    EXPECT_EQ(core->historyBuffers().size(), 2);
    ASSERT_TRUE(core->saveLongTermHistoryBuffers());

    const QDir dir = QFileInfo(folder.path()).absoluteDir();
    const QStringList backups = dir.entryList({QStringLiteral("SensorHistory.tevshf.unreadable-*")}, QDir::Files);
    ASSERT_EQ(backups.size(), 1);
    EXPECT_EQ(kelvaro::test::readFile(dir.filePath(backups.first())), "streamtyped garbage that is no archive");
    const auto read = TEVSensorHistoryFile(folder.path()).read();
    EXPECT_EQ(read.status, TEVSensorHistoryFile::ReadResult::Status::Read);
    EXPECT_EQ(read.entries.keys(), QStringList{QStringLiteral("SERIAL-A")});
}
