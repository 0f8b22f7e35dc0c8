// The local acquisition core on fake sensors: blocking, rescans, S.M.A.R.T. settings, the selector table.

#include "acquisition/AcquisitionSelectors.h"
#include "platform/foundation/HostRoot.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVLocalSMARTProbe.h"
#include "sensors/TEVSMARTTemperatureSensor.h"
#include "sensors/TEVSensorDescription.h"
#include "tests/acquisition/AcquisitionTestSupport.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <cmath>

#include <sys/inotify.h>
#include <unistd.h>

using acqtest::FakeComputer;
using acqtest::fake;
using acqtest::makeCore;
namespace values = platform::values;

namespace {

std::shared_ptr<FakeComputer> computerWith(std::initializer_list<std::pair<const char*, qint64>> sensors)
{
    auto computer = std::make_shared<FakeComputer>();
    for (const auto& [identifier, raw] : sensors)
        computer->sensors.insert(QString::fromLatin1(identifier), raw);
    return computer;
}

} // namespace

TEST(AcquisitionSelectors, TableFollowsTheOperationsInDeclaredOrder)
{
    namespace sel = acquisitionselectors;
    QSet<QString> names;
    for (std::size_t i = 0; i < sel::table.size(); ++i) {
        const auto& row = sel::table[i];
        EXPECT_EQ(std::size_t(row.operation), i) << row.selector;
        // One colon per argument, as the selector strings on the wire have.
        EXPECT_EQ(QString::fromLatin1(row.selector).count(QLatin1Char(':')), row.argumentCount()) << row.selector;
        EXPECT_EQ(row.optional, i >= sel::table.size() - 5) << row.selector;
        names.insert(QString::fromLatin1(row.selector));
        EXPECT_EQ(sel::find(QString::fromLatin1(row.selector)), &row);
    }
    EXPECT_EQ(names.size(), 38);
    EXPECT_STREQ(sel::selectorOf(AcquisitionOperation::SetSMARTUpdateIntervalSaverInterval),
                 "setSMARTUpdateInterval:saverInterval:");
    EXPECT_EQ(sel::find(u"setSMARTUpdateInterval:"), nullptr);
}

TEST(TEVDataAcquisitionCore, BlockedSensorReadsMinusOneWithoutTouchingItsHardware)
{
    const auto core = makeCore(computerWith({{"a", 40}, {"b", 50}}));
    EXPECT_EQ(core->versionCode(), 1360u);
    core->disableLocalAccess(true, QStringLiteral("a"));
    const int readsBefore = fake(*core, QStringLiteral("a"))->reads_;
    const QVariantMap blocked = core->currentRawValues();
    EXPECT_EQ(values::toSigned(blocked.value(QStringLiteral("a"))), -1);
    EXPECT_EQ(values::kindOf(blocked.value(QStringLiteral("a"))), values::Kind::Signed);
    EXPECT_EQ(values::toSigned(blocked.value(QStringLiteral("b"))), 50);
    EXPECT_EQ(fake(*core, QStringLiteral("a"))->reads_, readsBefore);

    core->disableLocalAccess(false, QStringLiteral("a"));
    EXPECT_EQ(values::toSigned(core->currentRawValues().value(QStringLiteral("a"))), 40);
}

TEST(TEVDataAcquisitionCore, BlockingIgnoresUnknownAndEmptyIdentifiersAndRemoteService)
{
    const auto core = makeCore(computerWith({{"a", 1}}));
    core->disableLocalAccess(true, QStringLiteral("nope"));
    core->disableLocalAccess(true, QString());
    EXPECT_TRUE(core->blockedSensorIDs().isEmpty());
    core->setIsRemote(true);
    core->disableLocalAccess(true, QStringLiteral("a"));
    EXPECT_TRUE(core->blockedSensorIDs().isEmpty());
}

TEST(TEVDataAcquisitionCore, RescanDropsVanishedSensorsWithTheirBlocksAndKeepsTheOthersObjects)
{
    const auto computer = computerWith({{"disk.1", 30}, {"disk.2", 31}, {"fan", 1200}});
    const auto core = makeCore(computer);
    core->synchronizeHistoryBuffersWithSensors();
    core->disableLocalAccess(true, QStringLiteral("disk.2"));
    const auto fan = core->sensorDictionary().value(QStringLiteral("fan"));
    const auto fanHistory = core->historyBuffers().value(QStringLiteral("fan"));

    // Nothing new: every object and history stays.
    const auto before = core->sensorDictionary();
    core->rescanForSensors();
    EXPECT_EQ(core->sensorDictionary(), before);
    EXPECT_EQ(core->historyBuffers().value(QStringLiteral("fan")), fanHistory);

    computer->sensors.remove(QStringLiteral("disk.2"));
    computer->sensors.insert(QStringLiteral("disk.3"), 33);
    core->rescanForSensors();
    EXPECT_EQ(core->availableSensorIdentifiers(),
              (QStringList{QStringLiteral("disk.1"), QStringLiteral("disk.3"), QStringLiteral("fan")}));
    EXPECT_TRUE(core->blockedSensorIDs().isEmpty());
    EXPECT_EQ(core->sensorDictionary().value(QStringLiteral("fan")), fan);
    EXPECT_EQ(core->historyBuffers().value(QStringLiteral("fan")), fanHistory);
    EXPECT_TRUE(core->historyBuffers().contains(QStringLiteral("disk.3")));
    EXPECT_FALSE(core->historyBuffers().contains(QStringLiteral("disk.2")));
    // Every sensor was offered the fresh list to bind to.
    EXPECT_EQ(fake(*core, QStringLiteral("fan"))->resolvedWith_, 3);
    EXPECT_EQ(core->sensorDescriptionForIdentifier(QStringLiteral("disk.2")), nullptr);
    EXPECT_EQ(core->sensorValueConverterForIdentifier(QStringLiteral("disk.2")), nullptr);
}

TEST(TEVDataAcquisitionCore, SMARTSettingsBelowOneSecondAreIgnoredAndOthersReachTheDisksInWholeSeconds)
{
    auto disk = std::make_shared<TEVSMARTTemperatureSensor>();
    disk->setUniqueIdentifier(QStringLiteral("smart.disk"));
    TEVDataAcquisitionCore::Sources sources;
    sources.allSensors = [disk] { return TEVSensorList{disk}; };
    TEVDataAcquisitionCore core(sources);

    struct Row {
        double interval;
        quint64 saver;
        double expectedInterval;
        quint64 expectedDiskInterval;
        quint64 expectedSaver;
    };
    const Row rows[] = {
        {90.7, 600, 90.7, 90, 600},
        {0.5, 5, 90.7, 90, 600},
        {std::nan(""), 5, 90.7, 90, 600},
        {INFINITY, 5, 90.7, 90, 600},
        {1.0, 0, 1.0, 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.interval);
        core.setSMARTUpdateInterval(row.interval, row.saver);
        EXPECT_EQ(core.smartUpdateInterval(), row.expectedInterval);
        EXPECT_EQ(core.smartSaverInterval(), row.expectedSaver);
        EXPECT_EQ(disk->diskAccessInterval(), row.expectedDiskInterval);
        EXPECT_EQ(disk->diskSaverInterval(), row.expectedSaver);
        EXPECT_EQ(TEVLocalSMARTProbe::driveSaverInterval(), row.expectedSaver);
    }
}

TEST(TEVDataAcquisitionCore, DescriptionsComeSortedByQuantityThenLocation)
{
    TEVDataAcquisitionCore::Sources sources;
    sources.allSensors = [] {
        return TEVSensorList{std::make_shared<acqtest::FakeSensor>(QStringLiteral("z"), 1, 6),
                             std::make_shared<acqtest::FakeSensor>(QStringLiteral("b"), 1, 1),
                             std::make_shared<acqtest::FakeSensor>(QStringLiteral("a"), 1, 1)};
    };
    TEVDataAcquisitionCore core(sources);
    QStringList order;
    for (const auto& description : core.completeListOfSensorDescriptions())
        order.append(description->localIdentifier());
    EXPECT_EQ(order, (QStringList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("z")}));
    EXPECT_EQ(core.numberOfAvailableSensors(), 3u);
    EXPECT_EQ(core.batteryReadoutsAtIndex(0), std::nullopt); // the index equal to the battery count
    EXPECT_TRUE(core.dataForMachinePresentationIcon().isNull());
}

TEST(TEVDataAcquisitionCore, SimulatedFailureBlocksSixtySecondsOfTheClockThenReturns)
{
    const auto core = makeCore(computerWith({}));
    std::atomic<bool> returned{false};
    QThread* worker = QThread::create([&] {
        core->simulateFailure();
        returned = true;
    });
    worker->start();
    while (!kelvaro::test::log().contains(QStringLiteral("is simulating a failure")))
        QThread::msleep(1);
    kelvaro::test::clock()->advanceSeconds(59);
    QThread::msleep(30);
    EXPECT_FALSE(returned);
    kelvaro::test::clock()->advanceSeconds(1);
    EXPECT_TRUE(worker->wait(5000));
    EXPECT_TRUE(returned);
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("TEVDataAcquisitionCore: *** As requested, thread 0x")));
    delete worker;
}

TEST(TEVDataAcquisitionCore, OneTickReadsTheMountTableOnceForAllItsDiskProbes)
{
    QTemporaryDir dir;
    kelvaro::test::writeFile(dir.path() + "/proc/self/mountinfo", "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                                               "22 21 8:2 / /home rw - ext4 /dev/sda2 rw\n");
    kelvaro::test::writeFile(dir.path() + "/run/kelvaro/statvfs", "/ 4096 1000 500 400 100 50\n"
                                                                "/home 4096 20000 10000 2560 100 50\n");
    platform::HostRoot::setCurrent(std::make_shared<platform::HostRoot>(dir.path()));
    TEVSensorList probes;
    for (const char* path : {"/", "/home"}) {
        for (qint64 kind = TEVArtificialSensor::DiskCapacity; kind <= TEVArtificialSensor::DiskUsed; ++kind)
            probes.append(TEVArtificialSensor::createAsStorageSensorForPath(QString::fromLatin1(path), kind));
    }
    TEVDataAcquisitionCore::Sources sources;
    sources.allSensors = [probes] { return probes; };
    TEVDataAcquisitionCore core(sources);

    const int watcher = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watcher, 0);
    // Closes are watched too: inotify merges an event into an identical one still unread before it.
    ASSERT_GE(inotify_add_watch(watcher, QFile::encodeName(dir.path() + "/proc/self").constData(),
                                IN_OPEN | IN_CLOSE_NOWRITE),
              0);
    const auto opensOfTheMountTable = [&] {
        int opens = 0;
        alignas(inotify_event) char buffer[4096];
        for (ssize_t n; (n = read(watcher, buffer, sizeof buffer)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                opens += (event->mask & IN_OPEN) && event->len > 0 && QByteArray(event->name) == "mountinfo";
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return opens;
    };
    for (int tick = 0; tick < 2; ++tick) {
        const QVariantMap raw = core.currentRawValues();
        EXPECT_EQ(values::toSigned(raw.value(QStringLiteral("artificial.disk-free./home"))), 320); // 10 MiB in 1/32 MiB
        EXPECT_EQ(opensOfTheMountTable(), 1) << "tick " << tick;
    }
    close(watcher);
    platform::HostRoot::setCurrent(nullptr);
}
