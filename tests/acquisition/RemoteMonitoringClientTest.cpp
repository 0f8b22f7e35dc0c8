// A monitoring client of a remote computer against the loopback test peer serving the simulated portable,
// over a real socket: the burst of commands the controller sends once a computer's gauges are made (one per
// gauge, then the interval, a history reset and a rescan) is answered in full, so the computer stays past
// three call deadlines; the connection to a computer that trickles its greeting never holds the main
// thread; and a computer that does not say who it is fails with what it did.

#include "acquisition/AcquisitionSelectors.h"
#include "acquisition/TEVMonitoringClient.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SimulatedComputer.h"
#include "sensors/TEVSensorClassLoader.h"
#include "tests/support/ProtocolTestPeer.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kt = kelvaro::test;
using Op = AcquisitionOperation;

namespace {

const QString kTimeoutLine = QStringLiteral("TEVMonitoringClient: Timeout while waiting for server response!\n");

QString selectorOf(Op operation)
{
    return QString::fromLatin1(acquisitionselectors::selectorOf(operation));
}

class RemoteMonitoringClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto loaded = platform::SimulatedComputer::load(kt::sourcePath(QStringLiteral("fixtures/computers/portable")));
        ASSERT_TRUE(loaded.computer) << loaded.error.toStdString();
        platform::SimulatedComputer::setCurrent(loaded.computer);
        TEVSensorClassLoader::loadAll();
    }
    void TearDown() override
    {
        auto& centre = platform::NotificationCenter::defaultCenter();
        for (const auto& token : tokens)
            centre.removeObserver(token);
        if (client) {
            auto thread = client->captureThread();
            client->shutdown();
            EXPECT_TRUE(kt::runMainLoopUntil([&] { return !client->hasActiveConnection(); }));
            // Its thread hands its last reference to the main loop a moment after it ended.
            EXPECT_TRUE(kt::waitUntilReleased(thread));
            EXPECT_TRUE(kt::waitUntilReleased(client));
        }
        platform::SimulatedComputer::setCurrent(nullptr);
    }

    // Set up at once: the clock stands still until the client is ready.
    void connect(const kt::ProtocolTestPeer& peer)
    {
        client = TEVMonitoringClient::create(
            MonitorConnectionInfo::createForRemoteConnection(QStringLiteral("127.0.0.1"), peer.port()), {.configurationDelay = 0});
        ASSERT_TRUE(client);
        auto& centre = platform::NotificationCenter::defaultCenter();
        for (const QString& name : {MonitoringClient::isReadyNotification, MonitoringClient::failedNotification,
                                    MonitoringClient::lostConnectionNotification, MonitoringClient::enteredSleepModeNotification})
            tokens.append(centre.addObserver(name, client->notificationIdentity(),
                                             [this](const platform::Notification& n) { posted.append(n.name); }));
    }

    // Connected and ready, the client monitors the peer's computer; `sensors` are what it offers.
    void monitor(const kt::ProtocolTestPeer& peer)
    {
        ASSERT_TRUE(peer.isListening());
        connect(peer);
        ASSERT_TRUE(kt::runMainLoopUntil([&] { return !posted.isEmpty(); }));
        ASSERT_EQ(posted, QStringList{MonitoringClient::isReadyNotification});
        ASSERT_TRUE(client->run());
        sensors = client->availableSensorIdentifiers();
    }

    std::shared_ptr<TEVMonitoringClient> client;
    QStringList sensors;
    QStringList posted;
    QList<platform::ObserverToken> tokens;
};

} // namespace

TEST_F(RemoteMonitoringClient, EveryCommandOfABurstIsAnsweredAndTheComputerStaysPastThreeDeadlines)
{
    kt::ProtocolTestPeer peer(kt::PeerOptions{kt::ProtocolTestPeer::simulatedComputerCore()});
    ASSERT_NO_FATAL_FAILURE(monitor(peer));
    ASSERT_GT(sensors.size(), 10);

    // What the controller sends when the gauges are made, back to back, none waiting for the one before. The
    // capture thread performs the first ones itself; the rescan, queued last, is the one that reaches the
    // computer.
    const QString rescan = selectorOf(Op::RescanForSensors);
    for (const QString& sensor : sensors)
        client->disableLocalAccess(false, sensor);
    client->setMainUpdateInterval(2.0);
    client->clearShortTermHistories();
    client->rescanForSensors();
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return peer.requestCount(rescan) == 1; }));

    // Past three deadlines of the test clock, a tick at a time: each tick's reading reaches the computer
    // before the clock moves on, so no reading can run into its own time-out.
    for (int tick = 0; tick < 18; ++tick) {
        SCOPED_TRACE(tick);
        const auto read = peer.requestCount(selectorOf(Op::CurrentRawValues));
        kt::clock()->advanceSeconds(2);
        ASSERT_TRUE(kt::runMainLoopUntil([&] { return peer.requestCount(selectorOf(Op::CurrentRawValues)) > read; }));
        client->hasDetectedConfigurationChange();
    }
    EXPECT_EQ(posted, QStringList{MonitoringClient::isReadyNotification});
    EXPECT_EQ(kt::log().count(kTimeoutLine), 0);
    EXPECT_TRUE(client->hasActiveConnection());
    EXPECT_EQ(client->remoteFailure(), RemoteFailure::None);
    EXPECT_NE(client->cachedRawValueWithIdentifier(sensors.first()), -1);
}

// The greeting comes a byte at a time over seconds: the main loop turns all the while, and the computer is
// ready once it has come.
TEST_F(RemoteMonitoringClient, ConnectingToATricklingComputerNeverHoldsTheMainThread)
{
    kt::PeerOptions options{kt::ProtocolTestPeer::simulatedComputerCore()};
    options.version = QByteArray("Kelvaro test peer 1.0, greeting slowly ") + QByteArray(40, '.');
    kt::ProtocolTestPeer peer(options);
    ASSERT_TRUE(peer.isListening());
    kt::PeerReply trickled;
    trickled.trickle = true;
    trickled.trickleGap = std::chrono::milliseconds(60);
    peer.script(trickled, QStringLiteral("hello"));

    // A main thread held in the connection would wait on the still test clock until the greeting has come
    // (some five seconds of real time); a turn of its loop is timed.
    QElapsedTimer sinceTurn;
    sinceTurn.start();
    qint64 longestGap = 0;
    QElapsedTimer connecting;
    connecting.start();
    connect(peer);
    ASSERT_TRUE(kt::runMainLoopUntil([&] {
        longestGap = std::max(longestGap, sinceTurn.restart());
        return !posted.isEmpty();
    }));
    const qint64 took = connecting.elapsed();
    ASSERT_EQ(posted, QStringList{MonitoringClient::isReadyNotification});
    EXPECT_GE(took, 3000) << "the greeting trickled for less time than the test assumes";
    EXPECT_LT(longestGap, took / 2) << "the main loop stood still for " << longestGap << " of " << took << " ms";
}

// The computer's sensor set changes while it is monitored (a sensor goes, then comes back): the client sees a
// configuration change on the next tick and its sensor list follows, so the gauges do.
TEST_F(RemoteMonitoringClient, ASensorSetThatChangesIsFollowed)
{
    kt::ProtocolTestPeer peer(kt::PeerOptions{kt::ProtocolTestPeer::simulatedComputerCore()});
    ASSERT_NO_FATAL_FAILURE(monitor(peer));
    ASSERT_GT(sensors.size(), 2);
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return client->sensorDescriptionForIdentifier(sensors.last()) != nullptr; }));
    client->hasDetectedConfigurationChange();
    client->acknowledgeConfigurationChange();

    const QString values = selectorOf(Op::CurrentRawValues);
    const QString identifiers = selectorOf(Op::AvailableSensorIdentifiers);
    const auto serve = [&](const QStringList& set) {
        QVariantMap raw;
        QVariantList list;
        for (const QString& sensor : set) {
            raw.insert(sensor, platform::values::fromSigned(40));
            list.append(platform::values::fromString(sensor));
        }
        peer.answerSelector(values, platform::values::fromDictionary(raw));
        peer.answerSelector(identifiers, platform::values::fromArray(list));
    };
    // A tick at a time, until the client has seen the change.
    const auto tickUntilChanged = [&] {
        return kt::runMainLoopUntil([&] {
            const auto read = peer.requestCount(values);
            kt::clock()->advanceSeconds(2);
            kt::runMainLoopUntil([&] { return peer.requestCount(values) > read; });
            return client->hasDetectedConfigurationChange();
        });
    };

    QStringList fewer = sensors;
    const QString gone = fewer.takeLast();
    serve(fewer);
    ASSERT_TRUE(tickUntilChanged());
    client->acknowledgeConfigurationChange();
    EXPECT_EQ(client->availableSensorIdentifiers(), fewer);

    serve(sensors);
    ASSERT_TRUE(tickUntilChanged());
    client->acknowledgeConfigurationChange();
    EXPECT_EQ(client->availableSensorIdentifiers(), sensors);
    EXPECT_NE(client->sensorDescriptionForIdentifier(gone), nullptr);
    EXPECT_EQ(client->cachedRawValueWithIdentifier(gone), 40);
    EXPECT_EQ(posted, QStringList{MonitoringClient::isReadyNotification});
}

// An agent that greets but does not say which computer it serves fails at once with what it did (no
// description: no monitoring service; a description without a serial number), not as one that did not answer;
// one that says it sleeps before it did is told as asleep, and what its thread reports after that fails nothing.
TEST_F(RemoteMonitoringClient, AComputerThatDoesNotSayWhoItIsFailsWithWhatItDid)
{
    struct Row {
        const char* name;
        kt::PeerIdentity identity;
        QString notification;
        RemoteFailure failure;
        QString logged;
    };
    const Row rows[] = {
        {"no description", kt::PeerIdentity::None, MonitoringClient::failedNotification, RemoteFailure::NotMonitoring,
         QStringLiteral(": it describes no computer, so it is no monitoring service")},
        {"no serial number", kt::PeerIdentity::NoSerialNumber, MonitoringClient::failedNotification,
         RemoteFailure::NoSerialNumber, QStringLiteral(": the computer sent no serial number")},
        {"asleep first", kt::PeerIdentity::SleepsFirst, MonitoringClient::enteredSleepModeNotification, RemoteFailure::None,
         QString()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        kt::ProtocolTestPeer peer(kt::PeerOptions{kt::ProtocolTestPeer::simulatedComputerCore()});
        ASSERT_TRUE(peer.isListening());
        peer.identifyAs(row.identity);
        kt::log().clear();
        posted.clear();
        connect(peer);
        ASSERT_TRUE(kt::runMainLoopUntil([&] { return !posted.isEmpty(); }));
        EXPECT_EQ(posted.first(), row.notification);
        EXPECT_TRUE(client->clientIdentification().isEmpty());
        EXPECT_EQ(client->remoteFailure(), row.failure);
        if (!row.logged.isEmpty()) {
            const QString line = QStringLiteral("TEVMonitoringClient: remote connection to host '127.0.0.1' port %1%2\n")
                                     .arg(peer.port())
                                     .arg(row.logged);
            EXPECT_EQ(kt::log().count(line), 1) << kt::log().lines().join(QString()).toStdString();
        }
        if (row.failure == RemoteFailure::None) {
            // Its thread goes on to report readiness without the facts: that fails nothing once it said it sleeps.
            const QString ignored =
                QStringLiteral("TEVMonitoringClient: readiness reported after the computer went to sleep is ignored\n");
            ASSERT_TRUE(kt::runMainLoopUntil([&] { return kt::log().count(ignored) > 0; }));
            EXPECT_EQ(posted, QStringList{row.notification});
            EXPECT_EQ(client->remoteFailure(), RemoteFailure::None);
        }
        // Before the client could have timed out: the clock stood still.
        EXPECT_EQ(kt::log().count(kTimeoutLine), 0);
        auto thread = client->captureThread();
        client->shutdown();
        ASSERT_TRUE(kt::waitUntilReleased(thread));
        ASSERT_TRUE(kt::waitUntilReleased(client));
        for (const auto& token : std::exchange(tokens, {}))
            platform::NotificationCenter::defaultCenter().removeObserver(token);
    }
}

// A command the controller sends while the capture thread performs another caller's long call, one within its
// own deadline, waits for that call without running into its own deadline: the computer stays.
TEST_F(RemoteMonitoringClient, ACommandQueuedBehindASlowCallKeepsItsWholeDeadline)
{
    kt::ProtocolTestPeer peer(kt::PeerOptions{kt::ProtocolTestPeer::simulatedComputerCore()});
    ASSERT_NO_FATAL_FAILURE(monitor(peer));
    const auto thread = client->captureThread();
    auto slow = TEVServiceInvocation::invocation(TEVThreadedServer::simulateFailureSelector, QString());
    slow->addArgument(platform::values::fromReal(12));
    auto slowDone = std::make_shared<std::atomic<bool>>(false);
    const auto slowCall = thread->invoke(slow, [slowDone](const std::optional<QVariant>&) { *slowDone = true; },
                                         std::chrono::seconds(30));
    ASSERT_TRUE(slowCall);
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return slowCall->hasStarted(); }));
    client->setMainUpdateInterval(3.0); // sent without waiting; given up on at the client's call wait (10 s)
    for (int second = 1; second <= 12; ++second) {
        kt::clock()->advanceSeconds(1);
        QCoreApplication::processEvents(); // the main loop's timers due by now
        EXPECT_EQ(kt::log().count(kTimeoutLine), 0) << second;
    }
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return slowDone->load(); }));
    // The thread ticks again and reaches the computer.
    const auto read = peer.requestCount(selectorOf(Op::CurrentRawValues));
    kt::clock()->advanceSeconds(3);
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return peer.requestCount(selectorOf(Op::CurrentRawValues)) > read; }));
    EXPECT_EQ(kt::log().count(kTimeoutLine), 0);
    EXPECT_TRUE(client->hasActiveConnection());
    EXPECT_EQ(client->remoteFailure(), RemoteFailure::None);
    EXPECT_EQ(posted, QStringList{MonitoringClient::isReadyNotification});
}
