// The capture thread driven as its monitoring client drives it: invocations from the main thread, a
// client told on the main thread, the local core of a simulated portable, ticks made by the manual clock.

#include "acquisition/TEVCaptureThread.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/TEVSensorHistory.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorClassLoader.h"
#include "tests/acquisition/AcquisitionTestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>

namespace kt = kelvaro::test;
namespace values = platform::values;
using platform::RunLoop;
using platform::WaitSource;

namespace {

const QString kAnyObject = QStringLiteral("NSObject");
// The tower's second drive: its S.M.A.R.T. temperature sensor comes and goes with the drive.
const QString kDriveLink = QStringLiteral("/root/sys/block/sdb");

using kelvaro::test::waitFor;

// Links keep their stored (relative) text, as sysfs has them.
void copyTree(const QString& from, const QString& to)
{
    std::filesystem::copy(from.toStdString(), to.toStdString(),
                          std::filesystem::copy_options::recursive | std::filesystem::copy_options::copy_symlinks);
}

class CaptureThreadTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    acqtest::HistoryFolder historyFolder;
    QString computerPath;
    QString computerName = QStringLiteral("portable");
    std::shared_ptr<acqtest::RecordingClient> client = std::make_shared<acqtest::RecordingClient>();
    std::shared_ptr<TEVCaptureThread> thread;

    void SetUp() override
    {
        computerPath = dir.path() + QLatin1Char('/') + computerName;
        copyTree(kt::sourcePath(QStringLiteral("fixtures/computers/") + computerName), computerPath);
        selectComputer();
        TEVSensorClassLoader::loadAll();
        thread = TEVCaptureThread::create(client);
        ASSERT_TRUE(thread);
        thread->run();
        ASSERT_TRUE(waitFor([&] { return client->registered == 1; }));
    }

    void TearDown() override
    {
        if (thread) {
            thread->stop();
            EXPECT_TRUE(kelvaro::test::waitUntilReleased(thread));
        }
        platform::SimulatedComputer::setCurrent(nullptr);
    }

    // (Re)loads the copied portable; only while the capture thread is idle between calls.
    void selectComputer()
    {
        const auto loaded = platform::SimulatedComputer::load(computerPath);
        ASSERT_TRUE(loaded.computer) << loaded.error.toStdString();
        platform::SimulatedComputer::setCurrent(loaded.computer);
    }

    // One synchronous call through the thread's slot; `returns` empty for an operation without result.
    QVariant call(const QString& selector, const QVariantList& arguments = {}, const QString& returns = kAnyObject)
    {
        const auto invocation = TEVServiceInvocation::invocation(selector, returns);
        for (const QVariant& argument : arguments)
            invocation->addArgument(argument);
        auto done = std::make_shared<WaitSource>();
        auto result = std::make_shared<QVariant>();
        thread->invoke(invocation, [done, result, results = client->results](const std::optional<QVariant>& value) {
            *result = value.value_or(QVariant());
            ++*results;
            done->deliver();
        });
        EXPECT_TRUE(waitFor([&] { return done->isDelivered(); })) << selector.toStdString();
        return *result;
    }
    void perform(const QString& selector, const QVariantList& arguments = {}) { call(selector, arguments, QString()); }

    bool createLocalCentre(const QString& name = QStringLiteral("Kelvaro"))
    {
        return values::toBool(call(TEVCaptureThread::createLocalAcquisitionCenterSelector, {name})).value_or(false);
    }
    void startLocalCapture()
    {
        ASSERT_TRUE(createLocalCentre());
        perform(TEVCaptureThread::startCapturingSelector);
    }
    // Moves the clock; the ping behind it returns only after every tick that came due.
    void advance(double seconds)
    {
        kt::clock()->advanceSeconds(seconds);
        call(TEVThreadedServer::pingSelector);
    }

    // The capture thread is idle between calls and no timer fires without the clock, so its state may be
    // read here.
    QSet<QString> cachedIdentifiers() const
    {
        const auto keys = thread->rawValueCache().keys();
        return QSet<QString>(keys.begin(), keys.end());
    }
    // Each tick moves a history's ring by one slot.
    qint64 ticksStoredIn(const QString& identifier) const
    {
        const auto history = thread->shortTermBuffers().value(identifier);
        return history ? history->currentIndex() : -1;
    }
    // The short-term values of the last `steps` steps, oldest first.
    QList<qint64> recentValues(const QString& identifier, int steps)
    {
        const double step = values::toReal(call(TEVCaptureThread::shortTermHistoryTimeDeltaSelector, {identifier}))
                                .value_or(0);
        const QDateTime from = platform::currentDate().addMSecs(qint64(-steps * step * 1000));
        const auto data = values::toData(call(TEVCaptureThread::rawShortTermHistoryDataSelector,
                                              {identifier, values::fromDate(from)}));
        QList<qint64> result;
        if (!data)
            return result;
        const auto* raw = reinterpret_cast<const qint64*>(data->constData());
        for (qsizetype i = 0; i < data->size() / qsizetype(sizeof(qint64)); ++i)
            result.append(raw[i]);
        return result;
    }
    // A sensor that reads a value, the same one every run (hash order differs between runs).
    QString readingSensor(const QString& except = {}) const
    {
        QString chosen;
        for (auto it = thread->rawValueCache().cbegin(); it != thread->rawValueCache().cend(); ++it) {
            if (it.value() != -1 && it.key() != except && (chosen.isNull() || it.key() < chosen))
                chosen = it.key();
        }
        return chosen;
    }
};

} // namespace

TEST_F(CaptureThreadTest, ReportsReadinessWithTheSerialOnTheMainThreadAfterAnsweringYes)
{
    ASSERT_TRUE(createLocalCentre());
    ASSERT_TRUE(waitFor([&] { return !client->readySerials.isEmpty(); }));
    EXPECT_EQ(client->resultsWhenReady, 1); // the report follows the call's own result
    EXPECT_EQ(client->toldOn, QCoreApplication::instance()->thread());
    // The shared machine description is collected once per process, on whichever computer was current.
    const QString expected = TEVMachineInfo::sharedMachineInfo()->systemSerialNumber();
    EXPECT_FALSE(expected.isEmpty());
    EXPECT_EQ(client->readySerials, QStringList{expected});
    EXPECT_EQ(values::toString(call(TEVCaptureThread::machineSerialNumberSelector)), expected);
    EXPECT_TRUE(thread->dataCenterIsLocal());
}

TEST_F(CaptureThreadTest, RefusesASecondCentreAndAnEmptyName)
{
    EXPECT_FALSE(createLocalCentre(QString()));
    EXPECT_FALSE(kt::log().contains(QStringLiteral("invalid context")));
    ASSERT_TRUE(createLocalCentre());
    EXPECT_FALSE(createLocalCentre(QStringLiteral("Other")));
    EXPECT_EQ(kt::log().count(QStringLiteral(
                  "TEVCaptureThread: received message to create local acquisition core in invalid context\n")),
              1);
    // A remote connection is refused as well while the local centre is there.
    const auto info = MonitorConnectionInfo::createForRemoteConnection(QStringLiteral("example.invalid"), 1234);
    EXPECT_EQ(values::toBool(call(TEVCaptureThread::connectToRemoteAcquisitionCenterSelector, {values::fromObject(info)})),
              false);
    EXPECT_TRUE(kt::log().contains(
        QStringLiteral("TEVCaptureThread: received message to connect to remote acquisition core in invalid context\n")));
    EXPECT_TRUE(thread->dataCenterIsLocal());
}

TEST_F(CaptureThreadTest, RemoteConnectionWithoutAProxyAnswersNoAndLogs)
{
    // No proxy is made for an empty host.
    const auto info = MonitorConnectionInfo::createForRemoteConnection(QStringLiteral(""), 0);
    EXPECT_EQ(values::toBool(call(TEVCaptureThread::connectToRemoteAcquisitionCenterSelector, {values::fromObject(info)})),
              false);
    EXPECT_TRUE(kt::log().contains(QStringLiteral("TEVCaptureThread: Failed to create remote client connection using "
                                                  "parameters ")
                                   + info->description() + QStringLiteral(".\n")));
    // A wrong kind of argument reads as nil: NO, silently.
    kt::log().clear();
    EXPECT_EQ(values::toBool(call(TEVCaptureThread::connectToRemoteAcquisitionCenterSelector, {QStringLiteral("host")})),
              false);
    EXPECT_TRUE(kt::log().lines().isEmpty());
    EXPECT_FALSE(thread->hasDataCenter());
    EXPECT_TRUE(client->readySerials.isEmpty());
}

TEST_F(CaptureThreadTest, CapturesEverySensorAtOnceAndOnEveryTick)
{
    EXPECT_EQ(values::toReal(call(TEVCaptureThread::mainUpdateIntervalSelector)), 2.0);
    startLocalCapture();
    const QSet<QString> sensors = cachedIdentifiers();
    EXPECT_GE(sensors.size(), 20);
    EXPECT_EQ(thread->shortTermBuffers().size(), sensors.size());
    const QString sensor = readingSensor();
    ASSERT_FALSE(sensor.isEmpty());
    EXPECT_EQ(ticksStoredIn(sensor), 1); // the first reading is taken at once
    EXPECT_EQ(thread->shortTermBuffers().value(sensor)->valueCount(),
              TEVCaptureThread::numberOfCapturedValuesForShortTermHistory);

    advance(1.0);
    EXPECT_EQ(ticksStoredIn(sensor), 1);
    advance(1.0);
    advance(2.0);
    EXPECT_EQ(ticksStoredIn(sensor), 3);
    EXPECT_EQ(values::kindOf(call(TEVCaptureThread::cachedRawValueSelector, {sensor})), values::Kind::Signed);
    EXPECT_EQ(values::toSigned(call(TEVCaptureThread::cachedRawValueSelector, {sensor})),
              thread->rawValueCache().value(sensor));
    const QList<qint64> recent = recentValues(sensor, 3);
    ASSERT_EQ(recent.size(), 3);
    EXPECT_FALSE(recent.contains(-1));
    EXPECT_EQ(recent.last(), thread->rawValueCache().value(sensor));
    EXPECT_FALSE(values::toBool(call(TEVCaptureThread::hasDetectedConfigurationChangeSelector)).value_or(true));

    perform(TEVCaptureThread::stopCapturingSelector);
    EXPECT_FALSE(thread->isCapturing());
    EXPECT_FALSE(thread->hasDataCenter());
    advance(10.0);
    EXPECT_EQ(ticksStoredIn(sensor), 3);
    // Histories and caches outlive the centre.
    EXPECT_TRUE(values::toSigned(call(TEVCaptureThread::cachedRawValueSelector, {sensor})).has_value());
}

TEST_F(CaptureThreadTest, CachedValueIsNilForAnUnknownIdentifierAndZeroForNil)
{
    startLocalCapture();
    EXPECT_FALSE(call(TEVCaptureThread::cachedRawValueSelector, {QStringLiteral("no.such.sensor")}).isValid());
    // A nil argument cannot travel in an invocation; one of the wrong kind reads as nil.
    const QVariant zero = call(TEVCaptureThread::cachedRawValueSelector, {values::fromReal(3.5)});
    EXPECT_TRUE(values::strictlyEqual(zero, values::fromSigned(0)));
    EXPECT_FALSE(call(TEVCaptureThread::rawShortTermHistoryDataSelector,
                      {QStringLiteral("no.such.sensor"), values::fromDate(platform::currentDate())})
                     .isValid());
    EXPECT_EQ(values::toReal(call(TEVCaptureThread::shortTermHistoryTimeDeltaSelector, {QStringLiteral("no.such")})),
              1.0);
}

TEST_F(CaptureThreadTest, MainIntervalIgnoresValuesBelowOneSecondAndTheCurrentOne)
{
    startLocalCapture();
    const QString sensor = readingSensor();
    ASSERT_FALSE(sensor.isEmpty());
    for (const double ignored : {0.5, 2.0, 0.0, -3.0}) {
        perform(TEVCaptureThread::setMainUpdateIntervalSelector, {values::fromReal(ignored)});
        EXPECT_EQ(values::toReal(call(TEVCaptureThread::mainUpdateIntervalSelector)), 2.0) << ignored;
    }
    // Neither the history nor the cadence moved.
    EXPECT_EQ(ticksStoredIn(sensor), 1);
    advance(2.0);
    EXPECT_EQ(ticksStoredIn(sensor), 2);
    const QList<qint64> recent = recentValues(sensor, 2);
    EXPECT_EQ(recent.size(), 2);
    EXPECT_FALSE(recent.contains(-1));
}

TEST_F(CaptureThreadTest, NewMainIntervalClearsHistoriesAndRetimesTheTimer)
{
    startLocalCapture();
    const QString sensor = readingSensor();
    ASSERT_FALSE(sensor.isEmpty());
    advance(2.0);
    const auto sensors = cachedIdentifiers();

    perform(TEVCaptureThread::setMainUpdateIntervalSelector, {values::fromUnsigned(5)});
    EXPECT_EQ(values::toReal(call(TEVCaptureThread::mainUpdateIntervalSelector)), 5.0);
    EXPECT_EQ(values::toReal(call(TEVCaptureThread::shortTermHistoryTimeDeltaSelector, {sensor})), 5.0);
    EXPECT_EQ(cachedIdentifiers(), sensors);
    EXPECT_EQ(thread->shortTermBuffers().size(), sensors.size());
    EXPECT_EQ(recentValues(sensor, 1), QList<qint64>{-1});
    EXPECT_EQ(ticksStoredIn(sensor), 0);

    advance(2.0);
    advance(2.0);
    EXPECT_EQ(ticksStoredIn(sensor), 0);
    advance(1.0);
    EXPECT_EQ(ticksStoredIn(sensor), 1);
    advance(5.0);
    EXPECT_EQ(ticksStoredIn(sensor), 2);
    const QList<qint64> recent = recentValues(sensor, 2);
    EXPECT_EQ(recent.size(), 2);
    EXPECT_FALSE(recent.contains(-1));
}

TEST_F(CaptureThreadTest, ClearingShortTermHistoriesKeepsTheirSensorsAndCache)
{
    startLocalCapture();
    const QString sensor = readingSensor();
    ASSERT_FALSE(sensor.isEmpty());
    advance(2.0);
    perform(TEVCaptureThread::clearShortTermHistoriesSelector);
    EXPECT_EQ(recentValues(sensor, 2), QList<qint64>(2, -1));
    EXPECT_NE(values::toSigned(call(TEVCaptureThread::cachedRawValueSelector, {sensor})), -1);
    advance(2.0);
    EXPECT_EQ(recentValues(sensor, 2), (QList<qint64>{-1, thread->rawValueCache().value(sensor)}));
}

class CaptureThreadOnTowerTest : public CaptureThreadTest {
protected:
    CaptureThreadOnTowerTest() { computerName = QStringLiteral("tower"); }
};

TEST_F(CaptureThreadOnTowerTest, ASensorThatAppearsBetweenTicksGetsAnEmptyHistoryAndItsValue)
{
    // The tower starts without its second drive, so without that drive's S.M.A.R.T. sensor.
    const QString link = computerPath + kDriveLink;
    const QString stored = QString::fromStdString(std::filesystem::read_symlink(link.toStdString()).string());
    ASSERT_FALSE(stored.isEmpty());
    ASSERT_TRUE(QFile::remove(link));
    selectComputer();
    startLocalCapture();
    const QSet<QString> before = cachedIdentifiers();
    ASSERT_FALSE(before.isEmpty());
    advance(2.0);

    // The drive is plugged in again between two ticks.
    std::filesystem::create_symlink(stored.toStdString(), link.toStdString());
    selectComputer();
    perform(QStringLiteral("rescanForSensors"));
    advance(2.0);
    const QSet<QString> after = cachedIdentifiers();
    const QSet<QString> added = after - before;
    ASSERT_EQ(added.size(), 1);
    const QString drive = *added.begin();
    EXPECT_EQ(drive, QStringLiteral("smart.WDC WD5000AAKS-00TMA0.WD-WCAPW0493929"));
    EXPECT_TRUE(values::toBool(call(TEVCaptureThread::hasDetectedConfigurationChangeSelector)).value_or(false));

    const auto history = thread->shortTermBuffers().value(drive);
    ASSERT_TRUE(history);
    EXPECT_EQ(history->valueCount(), TEVCaptureThread::numberOfCapturedValuesForShortTermHistory);
    EXPECT_EQ(history->timeDelta(), 2.0);
    EXPECT_EQ(recentValues(drive, 3), QList<qint64>(3, -1));
    const auto firstValue = values::toSigned(call(TEVCaptureThread::cachedRawValueSelector, {drive}));
    ASSERT_TRUE(firstValue.has_value());
    // The change tick stored nothing else.
    const QString sensor = readingSensor(drive);
    EXPECT_EQ(ticksStoredIn(sensor), 2);

    perform(TEVCaptureThread::acknowledgeConfigurationChangeSelector);
    EXPECT_FALSE(values::toBool(call(TEVCaptureThread::hasDetectedConfigurationChangeSelector)).value_or(true));
    advance(2.0);
    EXPECT_EQ(recentValues(drive, 1), QList<qint64>{thread->rawValueCache().value(drive)});
    // The other histories show the change tick as a step without a value.
    EXPECT_EQ(recentValues(sensor, 2), (QList<qint64>{-1, thread->rawValueCache().value(sensor)}));
    EXPECT_FALSE(values::toBool(call(TEVCaptureThread::hasDetectedConfigurationChangeSelector)).value_or(true));
}

TEST_F(CaptureThreadOnTowerTest, ANewMainIntervalStillReportsASensorThatAppearedBeforeIt)
{
    const QString link = computerPath + kDriveLink;
    const QString stored = QString::fromStdString(std::filesystem::read_symlink(link.toStdString()).string());
    ASSERT_TRUE(QFile::remove(link));
    selectComputer();
    startLocalCapture();
    std::filesystem::create_symlink(stored.toStdString(), link.toStdString());
    selectComputer();
    perform(QStringLiteral("rescanForSensors"));
    perform(TEVCaptureThread::setMainUpdateIntervalSelector, {values::fromReal(3.0)});
    EXPECT_TRUE(values::toBool(call(TEVCaptureThread::hasDetectedConfigurationChangeSelector)).value_or(false));
}

TEST_F(CaptureThreadTest, ForwardsTheCentresOperationsBoxedAndNothingWithoutACentre)
{
    // Without a centre: nil or a boxed 0.
    EXPECT_FALSE(call(QStringLiteral("hostName")).isValid());
    EXPECT_FALSE(call(QStringLiteral("machineInfo")).isValid());
    EXPECT_TRUE(values::strictlyEqual(call(QStringLiteral("numberOfAvailableSensors")), values::fromUnsigned(0)));
    EXPECT_FALSE(call(TEVCaptureThread::machineSerialNumberSelector).isValid());
    EXPECT_EQ(values::toUnsigned(call(TEVCaptureThread::currentCPUFrequencySelector)), 0u);
    // The centre's own readings and life cycle are not offered.
    for (const char* internal : {"currentRawValues", "sensorHistoryUpdateCount", "run", "stop", "userInfo"})
        EXPECT_FALSE(thread->respondsToSelector(QString::fromLatin1(internal))) << internal;

    startLocalCapture();
    EXPECT_TRUE(values::strictlyEqual(call(QStringLiteral("isRemote")), values::fromBool(false)));
    EXPECT_EQ(values::toUnsigned(call(QStringLiteral("numberOfAvailableSensors"))), quint64(cachedIdentifiers().size()));
    const auto identifiers = values::toArray(call(QStringLiteral("availableSensorIdentifiers")));
    ASSERT_TRUE(identifiers);
    EXPECT_EQ(identifiers->size(), cachedIdentifiers().size());
    const auto info = platform::objectAs<TEVMachineInfo>(values::toObject(call(QStringLiteral("machineInfo"))));
    ASSERT_TRUE(info);
    EXPECT_EQ(values::toString(call(TEVCaptureThread::machineModelCodeSelector)), info->systemModelCode());
    EXPECT_EQ(values::toString(call(TEVCaptureThread::machineNameSelector)).value_or(QString()), info->computerName());
    EXPECT_EQ(values::toUnsigned(call(TEVCaptureThread::currentCPUFrequencySelector)), info->processorFrequency());

    // The machine description stays cached after the centre has gone.
    perform(TEVCaptureThread::stopCapturingSelector);
    EXPECT_TRUE(values::toObject(call(QStringLiteral("machineInfo"))));
    EXPECT_TRUE(values::strictlyEqual(call(QStringLiteral("numberOfAvailableSensors")), values::fromUnsigned(0)));
}

TEST_F(CaptureThreadTest, LongTermHistoriesComeFromTheLocalCore)
{
    startLocalCapture();
    const QString sensor = readingSensor();
    ASSERT_FALSE(sensor.isEmpty());
    EXPECT_EQ(values::toReal(call(TEVCaptureThread::longTermHistoryTimeDeltaSelector, {sensor})), 60.0);
    advance(60.0);
    const QDateTime from = platform::currentDate().addSecs(-60);
    const auto data = values::toData(
        call(TEVCaptureThread::rawLongTermHistoryDataSelector, {sensor, values::fromDate(from)}));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->size(), qsizetype(sizeof(qint64)));
    EXPECT_FALSE(call(TEVCaptureThread::rawLongTermHistoryDataSelector,
                      {QStringLiteral("no.such.sensor"), values::fromDate(from)})
                     .isValid());
}

TEST_F(CaptureThreadTest, StopsCleanlyWhileCapturing)
{
    startLocalCapture();
    advance(2.0);
    thread->stop();
    EXPECT_TRUE(waitFor([&] { return !thread->serverThread(); }));
    EXPECT_TRUE(waitFor([&] { return client->deregistered == 1; }));
    // The worker let go of its centre itself: nothing of it is left for the main thread to destroy.
    EXPECT_FALSE(thread->hasDataCenter());
    EXPECT_TRUE(thread->shortTermBuffers().isEmpty());
    kt::clock()->advanceSeconds(10.0); // a timer of a finished thread fires nowhere
    QCoreApplication::processEvents();
}

TEST(CaptureThreadCreation, NeedsAClient)
{
    EXPECT_FALSE(TEVCaptureThread::create(std::weak_ptr<TEVCaptureThreadClient>()));
}
