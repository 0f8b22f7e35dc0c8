// The capture thread with a remote centre: the proxy talks to the loopback test peer, which answers from
// a simulated portable's core. Invocations come from the main thread as the monitoring client makes them;
// time-outs and ticks are made by the manual clock.

#include "acquisition/TEVCaptureThread.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/TEVInvocationClient.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorClassLoader.h"
#include "tests/acquisition/AcquisitionTestSupport.h"
#include "tests/support/FakeNameResolver.h"
#include "tests/support/ProtocolTestPeer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

namespace kt = kelvaro::test;
namespace values = platform::values;
using kt::PeerReply;
using kt::ProtocolTestPeer;
using platform::RunLoop;
using platform::WaitSource;

namespace {

const QString kAnyObject = QStringLiteral("NSObject");
const QString kCurrentRawValues = QStringLiteral("currentRawValues");

using kelvaro::test::waitFor;

QVariantMap rawValues(qint64 a, qint64 b)
{
    return {{QStringLiteral("sensor.a"), values::fromSigned(a)}, {QStringLiteral("sensor.b"), values::fromSigned(b)}};
}

class RemoteCaptureThreadTest : public ::testing::Test {
protected:
    std::shared_ptr<acqtest::RecordingClient> client = std::make_shared<acqtest::RecordingClient>();
    std::shared_ptr<TEVCaptureThread> thread;
    std::unique_ptr<ProtocolTestPeer> peer;
    const double savedResponseTimeout = TEVInvocationClient::responseTimeout();

    void SetUp() override
    {
        const auto loaded =
            platform::SimulatedComputer::load(kt::sourcePath(QStringLiteral("fixtures/computers/portable")));
        ASSERT_TRUE(loaded.computer) << loaded.error.toStdString();
        platform::SimulatedComputer::setCurrent(loaded.computer);
        TEVSensorClassLoader::loadAll();
        peer = std::make_unique<ProtocolTestPeer>(ProtocolTestPeer::Options{ProtocolTestPeer::simulatedComputerCore()});
        ASSERT_TRUE(peer->isListening());
        thread = TEVCaptureThread::create(client);
        ASSERT_TRUE(thread);
        thread->run();
        ASSERT_TRUE(waitFor([&] { return client->registered == 1; }));
    }

    void TearDown() override
    {
        if (thread) {
            thread->stop();
            EXPECT_TRUE(kt::waitUntilReleased(thread));
        }
        // The proxy went with the thread, so its connection closed.
        EXPECT_TRUE(waitFor([&] { return peer->openConnectionCount() == 0; }));
        peer.reset();
        TEVInvocationClient::setResponseTimeout(savedResponseTimeout);
        platform::SimulatedComputer::setCurrent(nullptr);
    }

    // Hands the call to the thread; the result arrives later in `result`, with `done` delivered.
    struct Pending {
        std::shared_ptr<WaitSource> done = std::make_shared<WaitSource>();
        std::shared_ptr<QVariant> result = std::make_shared<QVariant>();
    };
    Pending start(const QString& selector, const QVariantList& arguments = {}, const QString& returns = kAnyObject)
    {
        const auto invocation = TEVServiceInvocation::invocation(selector, returns);
        for (const QVariant& argument : arguments)
            invocation->addArgument(argument);
        Pending pending;
        thread->invoke(invocation, [done = pending.done, result = pending.result](const std::optional<QVariant>& value) {
            *result = value.value_or(QVariant());
            done->deliver();
        });
        return pending;
    }
    QVariant finish(const Pending& pending)
    {
        EXPECT_TRUE(waitFor([&] { return pending.done->isDelivered(); }));
        return *pending.result;
    }
    QVariant call(const QString& selector, const QVariantList& arguments = {}, const QString& returns = kAnyObject)
    {
        return finish(start(selector, arguments, returns));
    }
    // The thread is busy in a call that has sent its request: a clock step queued to the thread runs
    // inside the call's wait and lets it run into its time-out. Repeated, since bytes that come in after a
    // step (an error line) restart the time-out.
    QVariant finishByTimeOut(const Pending& pending)
    {
        for (int step = 0; step < 200 && !pending.done->isDelivered(); ++step) {
            // One step at a time: steps queued on a busy thread would move the clock on long after the answer,
            // past the time-outs of the waits that follow.
            const auto advanced = std::make_shared<std::atomic<bool>>(false);
            thread->runLoop()->perform([advanced] {
                kt::clock()->advanceSeconds(60);
                *advanced = true;
            });
            waitFor([&] { return pending.done->isDelivered() || *advanced; });
            waitFor([&] { return pending.done->isDelivered(); }, 25);
        }
        return finish(pending);
    }
    void perform(const QString& selector) { call(selector, {}, QString()); }

    Pending startConnecting(quint16 port = 0, const QString& host = QStringLiteral("127.0.0.1"))
    {
        const auto info = MonitorConnectionInfo::createForRemoteConnection(host, port ? port : peer->port());
        return start(TEVCaptureThread::connectToRemoteAcquisitionCenterSelector, {values::fromObject(info)});
    }
    bool connect(quint16 port = 0) { return values::toBool(finish(startConnecting(port))).value_or(false); }
    // Connected, ready and capturing two sensors of fixed readings.
    void startRemoteCapture()
    {
        peer->answerSelector(kCurrentRawValues, rawValues(10, 20));
        peer->answerSelector(QStringLiteral("numberOfAvailableSensors"), values::fromUnsigned(2));
        ASSERT_TRUE(connect());
        ASSERT_TRUE(waitFor([&] { return client->readySerials.size() == 1; }));
        perform(TEVCaptureThread::startCapturingSelector);
        ASSERT_EQ(cached(QStringLiteral("sensor.a")), 10);
    }

    std::optional<qint64> cached(const QString& identifier)
    {
        return values::toSigned(call(TEVCaptureThread::cachedRawValueSelector, {identifier}));
    }
    qsizetype requestsFor(const QString& selectorOrCommand) const
    {
        qsizetype count = 0;
        for (const auto& request : peer->requests())
            count += request.selector == selectorOrCommand || request.command == selectorOrCommand;
        return count;
    }
    // Moves the clock; the ping behind it is performed once what came due has started (a tick that waits
    // for the peer lets the ping run inside its wait).
    void advance(double seconds)
    {
        kt::clock()->advanceSeconds(seconds);
        call(TEVThreadedServer::pingSelector);
    }
    static QString remoteSerial()
    {
        return ProtocolTestPeer::simulatedComputerCore()()->machineInfo()->systemSerialNumber();
    }
};

} // namespace

TEST_F(RemoteCaptureThreadTest, ConnectsWithPingAndHelloAndReportsThePeersSerial)
{
    thread->setRemoteResponseTimeout(4.0);
    ASSERT_TRUE(connect());
    EXPECT_EQ(TEVInvocationClient::responseTimeout(), 4.0);
    ASSERT_TRUE(waitFor([&] { return client->readySerials.size() == 1; }));
    EXPECT_FALSE(remoteSerial().isEmpty());
    EXPECT_EQ(client->readySerials, QStringList{remoteSerial()});

    const auto requests = peer->requests();
    ASSERT_GE(requests.size(), 3);
    EXPECT_EQ(requests[0].command, QStringLiteral("ping"));
    EXPECT_EQ(requests[1].command, QStringLiteral("hello"));
    EXPECT_EQ(requests[2].selector, QStringLiteral("machineInfo"));
    EXPECT_TRUE(thread->hasDataCenter());
    EXPECT_FALSE(thread->dataCenterIsLocal());
    // Forwarded calls go over the line; the serial is cached and not asked for again.
    EXPECT_EQ(values::toBool(call(QStringLiteral("isRemote"))), true);
    EXPECT_EQ(values::toString(call(TEVCaptureThread::machineSerialNumberSelector)), remoteSerial());
    EXPECT_EQ(requestsFor(QStringLiteral("machineInfo")), 1);
    // A second centre is refused while this one is there.
    EXPECT_FALSE(connect());
    EXPECT_TRUE(kt::log().contains(QStringLiteral("in invalid context")));
}

TEST_F(RemoteCaptureThreadTest, NeverAsksARemoteCentreForLongTermHistories)
{
    ASSERT_NO_FATAL_FAILURE(startRemoteCapture());
    const QVariant date = values::fromDate(platform::currentDate().addSecs(-600));
    EXPECT_FALSE(call(TEVCaptureThread::rawLongTermHistoryDataSelector, {QStringLiteral("sensor.a"), date}).isValid());
    EXPECT_EQ(values::toReal(call(TEVCaptureThread::longTermHistoryTimeDeltaSelector, {QStringLiteral("sensor.a")})),
              1.0);
    EXPECT_EQ(requestsFor(QStringLiteral("longTermSensorHistoryWithIdentifier:")), 0);
    EXPECT_EQ(requestsFor(QStringLiteral("sensorHistoryUpdateCount")), 0);
    // Nor is the remote computer started or stopped as a local core is.
    perform(TEVCaptureThread::stopCapturingSelector);
    EXPECT_EQ(requestsFor(QStringLiteral("run")) + requestsFor(QStringLiteral("stop")), 0);
    EXPECT_FALSE(thread->hasDataCenter());
    EXPECT_TRUE(waitFor([&] { return peer->openConnectionCount() == 0; }));
}

TEST_F(RemoteCaptureThreadTest, TicksReadTheRemoteValuesAtTheInterval)
{
    ASSERT_NO_FATAL_FAILURE(startRemoteCapture());
    const qsizetype readings = requestsFor(kCurrentRawValues);
    EXPECT_EQ(readings, 2); // the synchronisation's and the first tick's
    EXPECT_EQ(thread->shortTermBuffers().size(), 2);

    peer->answerSelector(kCurrentRawValues, rawValues(11, 21));
    advance(1.0);
    EXPECT_EQ(requestsFor(kCurrentRawValues), readings);
    kt::clock()->advanceSeconds(1.0);
    EXPECT_TRUE(waitFor([&] { return cached(QStringLiteral("sensor.a")) == 11; }));
    EXPECT_EQ(cached(QStringLiteral("sensor.b")), 21);
    EXPECT_EQ(requestsFor(kCurrentRawValues), readings + 1);

    peer->answerSelector(kCurrentRawValues, rawValues(12, 22));
    kt::clock()->advanceSeconds(2.0);
    EXPECT_TRUE(waitFor([&] { return cached(QStringLiteral("sensor.b")) == 22; }));
    EXPECT_EQ(requestsFor(kCurrentRawValues), readings + 2);
    EXPECT_FALSE(values::toBool(call(TEVCaptureThread::hasDetectedConfigurationChangeSelector)).value_or(true));
}

// A peer that fails inside the connection attempt: the attempt answers NO, the proxy goes (its connection
// closes), and the client hears of no loss of a centre it never had.
struct FailedConnectionRow {
    const char* name;
    const char* request;
    PeerReply reply;
    bool endsByTimeOut;
};

void PrintTo(const FailedConnectionRow& row, std::ostream* os)
{
    *os << row.name;
}

class RemoteCaptureThreadConnectionTest : public RemoteCaptureThreadTest,
                                          public ::testing::WithParamInterface<FailedConnectionRow> {};

TEST_P(RemoteCaptureThreadConnectionTest, AnswersNoAndDropsTheProxy)
{
    peer->script(GetParam().reply, QString::fromLatin1(GetParam().request));
    const Pending connecting = startConnecting();
    if (GetParam().endsByTimeOut) {
        ASSERT_TRUE(peer->waitForRequests(2)); // ping and hello
    }
    EXPECT_EQ(values::toBool(GetParam().endsByTimeOut ? finishByTimeOut(connecting) : finish(connecting)), false);
    EXPECT_FALSE(thread->hasDataCenter());
    EXPECT_TRUE(waitFor([&] { return peer->openConnectionCount() == 0; }));
    call(TEVThreadedServer::pingSelector); // whatever the attempt told the main thread has arrived
    QCoreApplication::processEvents();
    EXPECT_EQ(client->lost, 0);
    EXPECT_EQ(client->sleeping, 0);
    EXPECT_TRUE(client->readySerials.isEmpty());
    EXPECT_EQ(requestsFor(QStringLiteral("invoke")), 0);
    // The thread takes a new attempt.
    EXPECT_TRUE(connect());
}

INSTANTIATE_TEST_SUITE_P(Rows, RemoteCaptureThreadConnectionTest, ::testing::Values(
    FailedConnectionRow{"SilentHello", "hello", PeerReply::silence(), true},
    FailedConnectionRow{"ErrorForHello", "hello", PeerReply::error("no version here"), true},
    FailedConnectionRow{"CloseAtHello", "hello", PeerReply::close(), false},
    FailedConnectionRow{"CloseAtPing", "ping", PeerReply::close(), false},
    FailedConnectionRow{"SleepAtHello", "hello", [] {
        PeerReply reply = PeerReply::silence();
        reply.linesBefore = {"*[*]zzz"};
        return reply;
    }(), true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(RemoteCaptureThreadTest, NoPeerListeningAnswersNo)
{
    const quint16 port = peer->port();
    peer.reset();
    peer = std::make_unique<ProtocolTestPeer>(); // for TearDown
    EXPECT_FALSE(connect(port));
    EXPECT_FALSE(thread->hasDataCenter());
}

// Why a connection failed reaches the client with the failure: a name that does not resolve, a port
// where nothing listens, and a peer that does not answer the connection check are told apart.
TEST_F(RemoteCaptureThreadTest, AFailedConnectionSaysWhy)
{
    const auto resolver = std::make_shared<kt::FakeNameResolver>();
    platform::NameResolver::setShared(resolver);
    struct Row {
        const char* name;
        std::function<Pending()> attempt;
        RemoteFailure failure;
        bool endsByTimeOut; // else it ends without the clock moving
    };
    const Row rows[] = {
        {"unknown host", [this] { return startConnecting(0, QStringLiteral("nowhere.example")); },
         RemoteFailure::HostNotFound, true},
        {"refused port", [this] {
             const quint16 port = peer->port();
             peer = std::make_unique<ProtocolTestPeer>(); // the old port is closed
             return startConnecting(port);
         }, RemoteFailure::ConnectionRefused, false},
        {"silent peer", [this] {
             PeerReply silent = PeerReply::silence();
             silent.advanceClock = std::chrono::seconds(2); // past the connection check's time-out
             peer->script(silent, QStringLiteral("ping"));
             const Pending connecting = startConnecting();
             // The clock moves only once the peer holds the check: stepped earlier, the connection would
             // time out still in the peer's backlog, and be accepted (and counted open) after the test.
             EXPECT_TRUE(peer->waitForRequests(1));
             return connecting;
         }, RemoteFailure::NoAnswer, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // A thread and hand-over of its own for each attempt: the first failure is the one kept.
        thread->stop();
        ASSERT_TRUE(waitFor([&] { return !thread->serverThread(); }));
        client = std::make_shared<acqtest::RecordingClient>();
        thread = TEVCaptureThread::create(client);
        thread->run();
        ASSERT_TRUE(waitFor([&] { return client->registered == 1; }));
        EXPECT_EQ(thread->rawValueHandOver()->failure(), RemoteFailure::None);
        const Pending attempt = row.attempt();
        EXPECT_EQ(values::toBool(row.endsByTimeOut ? finishByTimeOut(attempt) : finish(attempt)), false);
        EXPECT_EQ(thread->rawValueHandOver()->failure(), row.failure);
    }
    platform::NameResolver::setShared(nullptr);
}

// A name that does not resolve sends nothing, so there is nothing to wait for: the attempt fails at once
// (the clock stays still), says why, and logs no time-out, and each line it logs ends its line.
TEST_F(RemoteCaptureThreadTest, AnUnresolvableNameFailsAtOnceWithoutATimeOut)
{
    const auto resolver = std::make_shared<kt::FakeNameResolver>();
    platform::NameResolver::setShared(resolver);
    const auto before = kt::clock()->monotonic();
    EXPECT_EQ(values::toBool(finish(startConnecting(0, QStringLiteral("nowhere.example")))), false);
    EXPECT_EQ(kt::clock()->monotonic(), before);
    EXPECT_EQ(thread->rawValueHandOver()->failure(), RemoteFailure::HostNotFound);
    EXPECT_TRUE(kt::log().contains(QStringLiteral("host nowhere.example does not resolve\n")));
    EXPECT_FALSE(kt::log().contains(QStringLiteral("timeout while waiting for server response")));
    for (const QString& line : kt::log().lines())
        EXPECT_TRUE(line.endsWith(QLatin1Char('\n')) && line.count(QLatin1Char('\n')) == 1) << line.toStdString();
    platform::NameResolver::setShared(nullptr);
}

TEST_F(RemoteCaptureThreadTest, ProxyThatCannotBeMadeIsLoggedAndAnswersNo)
{
    const auto info = MonitorConnectionInfo::createForRemoteConnection(QStringLiteral(""), 0);
    ASSERT_TRUE(info);
    EXPECT_EQ(values::toBool(call(TEVCaptureThread::connectToRemoteAcquisitionCenterSelector, {values::fromObject(info)})),
              false);
    EXPECT_TRUE(kt::log().contains(QStringLiteral("TEVCaptureThread: Failed to create remote client connection using "
                                                  "parameters ")
                                   + info->description() + QStringLiteral(".\n")));
    EXPECT_EQ(peer->connectionCount(), 0);
}

// The peer goes away while capturing, between ticks or in the middle of one: the client hears of the
// loss, the centre goes, forwarded calls answer nil or 0, the cache keeps its values and the timer runs on.
class RemoteCaptureThreadLossTest : public RemoteCaptureThreadTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RemoteCaptureThreadLossTest, ClosingPeerIsReportedAsLossAndTheCentreGoes)
{
    const bool duringATick = GetParam();
    ASSERT_NO_FATAL_FAILURE(startRemoteCapture());
    if (duringATick) {
        peer->script(PeerReply::close(), kCurrentRawValues);
        kt::clock()->advanceSeconds(2.0);
    } else {
        peer->closeConnection();
    }
    ASSERT_TRUE(waitFor([&] { return client->lost == 1; }));
    EXPECT_FALSE(thread->hasDataCenter());
    EXPECT_TRUE(waitFor([&] { return peer->openConnectionCount() == 0; }));

    EXPECT_TRUE(values::strictlyEqual(call(QStringLiteral("numberOfAvailableSensors")), values::fromUnsigned(0)));
    EXPECT_FALSE(call(QStringLiteral("hostName")).isValid());
    EXPECT_EQ(values::toBool(call(QStringLiteral("isRemote"))), false);
    // The lost reading changed nothing: same sensors, same values, no configuration change.
    EXPECT_EQ(cached(QStringLiteral("sensor.a")), 10);
    EXPECT_EQ(thread->shortTermBuffers().size(), 2);
    EXPECT_FALSE(values::toBool(call(TEVCaptureThread::hasDetectedConfigurationChangeSelector)).value_or(true));

    const qsizetype requests = peer->requests().size();
    advance(2.0);
    advance(2.0);
    EXPECT_TRUE(thread->isCapturing());
    EXPECT_EQ(peer->requests().size(), requests);
    EXPECT_EQ(peer->connectionCount(), 1); // nothing opened a new connection
    EXPECT_EQ(client->lost, 1);
    EXPECT_EQ(thread->droppedCentreCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(When, RemoteCaptureThreadLossTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "DuringATick" : "BetweenTicks"; });

TEST_F(RemoteCaptureThreadTest, SleepingPeerIsReportedAndTheCentreGoes)
{
    ASSERT_NO_FATAL_FAILURE(startRemoteCapture());
    peer->sendLine("*[*]zzz");
    ASSERT_TRUE(waitFor([&] { return client->sleeping == 1; }));
    EXPECT_FALSE(thread->hasDataCenter());
    EXPECT_EQ(client->lost, 0);
    EXPECT_TRUE(waitFor([&] { return peer->openConnectionCount() == 0; }));
    advance(2.0);
    EXPECT_EQ(client->lost, 0);
    EXPECT_EQ(cached(QStringLiteral("sensor.b")), 20);
}

TEST_F(RemoteCaptureThreadTest, SilentPeerMidCaptureEndsInLossWithinTheTimeOutAndTheThreadStops)
{
    thread->setRemoteResponseTimeout(6.0);
    ASSERT_NO_FATAL_FAILURE(startRemoteCapture());
    peer->script(PeerReply::silence(), kCurrentRawValues);
    // Each step fires the sampling timer (deferred while its tick waits) and runs a client call inside the
    // wait; neither counts as progress of the silent reply.
    double advanced = 0;
    while (client->lost == 0 && advanced < 30) {
        advance(2.0);
        advanced += 2.0;
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(client->lost, 1);
    // The silent request went out with the first step; the wait ended one time-out after it.
    EXPECT_GE(advanced, 2.0 + 6.0);
    EXPECT_LE(advanced, 2.0 + 6.0 + 2.0);
    EXPECT_FALSE(thread->hasDataCenter());
    EXPECT_EQ(cached(QStringLiteral("sensor.a")), 10);

    thread->stop();
    EXPECT_TRUE(waitFor([&] { return !thread->serverThread(); }));
    EXPECT_TRUE(waitFor([&] { return client->deregistered == 1; }));
}

TEST_F(RemoteCaptureThreadTest, ThreadStopsCleanlyWhileATickWaitsForASilentPeer)
{
    ASSERT_NO_FATAL_FAILURE(startRemoteCapture());
    peer->script(PeerReply::silence(), kCurrentRawValues);
    const qsizetype before = peer->requests().size();
    kt::clock()->advanceSeconds(2.0);
    ASSERT_TRUE(peer->waitForRequests(before + 1));
    thread->stop();
    EXPECT_TRUE(waitFor([&] { return !thread->serverThread(); }));
    EXPECT_TRUE(waitFor([&] { return peer->openConnectionCount() == 0; }));
    // A cancelled wait is no loss of the centre.
    EXPECT_EQ(client->lost, 0);
}
