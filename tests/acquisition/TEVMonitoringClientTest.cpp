// The monitoring client: identification escaping, and a local client on the simulated
// portable through configuration, capture, a sensor that appears, and a capture thread that stops answering
// while the facts and raw values are answered without it.

#include "acquisition/TEVMonitoringClient.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorClassLoader.h"
#include "sensors/TEVSensorDescription.h"
#include "tests/acquisition/AcquisitionTestSupport.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace kt = kelvaro::test;
namespace values = platform::values;
using Client = TEVMonitoringClient;

namespace {

const QString kTimeoutLine = QStringLiteral("TEVMonitoringClient: Timeout while waiting for server response!\n");

// Moves the manual clock from another thread while the main thread is blocked in a call. It stays below
// `ceiling` (seconds from its start) until released, then jumps by `jump`: a capture thread blocked
// until past the ceiling therefore stays blocked until the test has seen the client give up.
class ClockMover {
public:
    ClockMover(double ceiling, double jump)
    {
        thread_ = std::thread([this, ceiling, jump] {
            double moved = 0;
            bool jumped = false;
            while (!stop_) {
                if (released_ && !jumped) {
                    kt::clock()->advanceSeconds(jump);
                    jumped = true;
                } else if (released_ || moved < ceiling) {
                    kt::clock()->advanceSeconds(0.25);
                    moved += 0.25;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(500));
            }
        });
    }
    ~ClockMover()
    {
        stop_ = true;
        thread_.join();
    }
    void release() { released_ = true; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<bool> released_{false};
    std::thread thread_;
};

// The names of the client's notifications, in the order they were posted.
class Recorder {
public:
    explicit Recorder(const std::shared_ptr<Client>& client)
    {
        for (const QString& name : {Client::isReadyNotification, Client::failedNotification,
                                    Client::lostConnectionNotification, Client::enteredSleepModeNotification}) {
            tokens_.append(platform::NotificationCenter::defaultCenter().addObserver(
                name, client, [this](const platform::Notification& n) {
                    names.append(n.name);
                    if (onPost)
                        onPost(n.name);
                }));
        }
    }
    ~Recorder()
    {
        for (const auto& token : tokens_)
            platform::NotificationCenter::defaultCenter().removeObserver(token);
    }
    bool saw(const QString& name) const { return names.contains(name); }

    QStringList names;
    std::function<void(const QString&)> onPost;

private:
    QList<platform::ObserverToken> tokens_;
};

} // namespace

// --- Identification ---------------------------------------------------------------------------------------

TEST(TEVMonitoringClientIdentification, EscapesFullStopsAndBackslashesBothWays)
{
    struct Row {
        const char* serial;
        const char* identification;
    };
    const Row rows[] = {
        {"A.B\\C", "A\\DB\\\\C"},
        {"", ""},
        {"C02M51K3FH00", "C02M51K3FH00"},
        {"..", "\\D\\D"},
        {"\\", "\\\\"},
        {"D.\\D", "D\\D\\\\D"},
        {"ZZZNOSERIAL-52:54:00:12:ab:34", "ZZZNOSERIAL-52:54:00:12:ab:34"},
    };
    for (const Row& row : rows) {
        const QString serial = QString::fromLatin1(row.serial);
        const QString identification = QString::fromLatin1(row.identification);
        EXPECT_EQ(Client::clientIdentifierFromSerialNumber(serial), identification) << row.serial;
        EXPECT_FALSE(Client::clientIdentifierFromSerialNumber(serial).contains(QLatin1Char('.')));
        const QString back = Client::serialNumberFromClientIdentifier(identification);
        EXPECT_EQ(back, serial) << row.identification;
        EXPECT_FALSE(back.isNull()) << row.identification;
    }
    EXPECT_EQ(Client::clientIdentifierFromSerialNumber(QStringLiteral("A.B\\C")).size(), 7);
    EXPECT_TRUE(Client::clientIdentifierFromSerialNumber(QString()).isNull());
    EXPECT_TRUE(Client::serialNumberFromClientIdentifier(QString()).isNull());
}

TEST(TEVMonitoringClientIdentification, ABackslashBeforeAnythingButDOrBackslashGivesNil)
{
    for (const char* text : {"abc\\", "\\", "\\x", "\\d", "A\\\\\\", "\\DA\\.B", "\\\\\\"})
        EXPECT_TRUE(Client::serialNumberFromClientIdentifier(QString::fromLatin1(text)).isNull()) << text;
}

// --- Unboxing -------------------------------------------------------------------------------------------

TEST(TEVMonitoringClientUnbox, AResultOfTheWrongKindReadsAsZeroNoOrNil)
{
    const auto object = std::const_pointer_cast<TEVMachineInfo>(acqtest::machineWithSerial(QStringLiteral("SERIAL-A")));
    const std::optional<QVariant> wrong[] = {
        std::nullopt,
        QVariant(),
        values::fromString("12"),
        values::fromData("\x01\x02"),
        values::fromArray({values::fromSigned(1)}),
        values::fromDictionary({{QStringLiteral("a"), values::fromSigned(1)}}),
        values::fromDate(QDateTime::fromSecsSinceEpoch(0, Qt::UTC)),
        values::fromObject(object),
    };
    for (const auto& v : wrong) {
        const std::string kind = v ? values::kindName(values::kindOf(*v)) : "none";
        EXPECT_FALSE(Client::Unbox::boolean(v)) << kind;
        EXPECT_EQ(Client::Unbox::real(v), 0.0) << kind;
        EXPECT_EQ(Client::Unbox::signedInteger(v), 0) << kind;
        EXPECT_EQ(Client::Unbox::unsignedInteger(v), 0u) << kind;
        EXPECT_EQ(Client::Unbox::object<TEVSensorDescription>(v), nullptr) << kind;
    }
    EXPECT_TRUE(Client::Unbox::string(values::fromSigned(3)).isNull());
    EXPECT_TRUE(Client::Unbox::data(values::fromString("x")).isNull());
    EXPECT_FALSE(Client::Unbox::array(values::fromString("x")).has_value());
    EXPECT_FALSE(Client::Unbox::dictionary(values::fromArray({})).has_value());
    // Numbers that do not fit the kind asked for read as 0 too.
    EXPECT_EQ(Client::Unbox::unsignedInteger(values::fromSigned(-1)), 0u);
    EXPECT_EQ(Client::Unbox::signedInteger(values::fromUnsigned(quint64(1) << 63)), 0);
    EXPECT_EQ(Client::Unbox::signedInteger(values::fromReal(std::nan(""))), 0);
    // The right kinds, and any number kind for a number, read as the platform's number objects do.
    EXPECT_TRUE(Client::Unbox::boolean(values::fromSigned(2)));
    EXPECT_EQ(Client::Unbox::real(values::fromUnsigned(3)), 3.0);
    EXPECT_EQ(Client::Unbox::object<const TEVMachineInfo>(values::fromObject(object)), object);
}

TEST(TEVMonitoringClientCreation, NeedsADescriptor)
{
    EXPECT_EQ(Client::create(nullptr), nullptr);
}

// --- A local client on the simulated portable ------------------------------------------------------------

namespace {

// The portable, first without its battery (built in code from its fixture), so that the battery's sensors
// can appear while the client runs.
class LocalClient : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto portable = platform::SimulatedComputer::load(kt::sourcePath(QStringLiteral("fixtures/computers/portable")));
        ASSERT_TRUE(portable.computer) << portable.error.toStdString();
        QVariantMap plist = portable.computer->propertyList();
        QVariantList registry = plist.value(QStringLiteral("Registry")).toList();
        const auto removed = registry.removeIf([](const QVariant& entry) {
            return entry.toMap().value(QStringLiteral("Class")).toList().value(0) == QStringLiteral("AppleSmartBattery");
        });
        ASSERT_EQ(removed, 1);
        plist.insert(QStringLiteral("Registry"), registry);
        const auto withoutBattery = platform::SimulatedComputer::fromDictionary(plist, portable.computer->directory());
        ASSERT_TRUE(withoutBattery.computer) << withoutBattery.error.toStdString();
        platform::SimulatedComputer::setCurrent(withoutBattery.computer);
        portable_ = portable.computer;
        TEVSensorClassLoader::loadAll();
    }
    void TearDown() override
    {
        if (client_)
            client_->shutdown();
        client_.reset();
        if (thread_) {
            EXPECT_TRUE(kt::waitUntilReleased(thread_));
        }
        platform::SimulatedComputer::setCurrent(nullptr);
    }

    std::shared_ptr<Client> makeClient(Client::Timeouts timeouts = {})
    {
        client_ = Client::create(MonitorConnectionInfo::createForLocalMachine(QStringLiteral("Kelvaro")), timeouts);
        thread_ = client_ ? client_->captureThread() : nullptr;
        return client_;
    }
    // The thread's registration reaches the main loop, the configuration delay passes on the clock.
    bool becomeReady(const Recorder& recorder)
    {
        return kt::runMainLoopUntil([&] { return recorder.saw(Client::isReadyNotification) ||
                                             recorder.saw(Client::failedNotification); },
                                0.25) &&
               recorder.saw(Client::isReadyNotification);
    }
    // Blocks the capture thread in its test operation until the clock passes `seconds` from now, after
    // running `first` on it.
    void blockCaptureThread(double seconds, std::function<void(TEVCaptureThread&)> first = {})
    {
        ASSERT_TRUE(kt::runMainLoopUntil([&] { return thread_->runLoop() != nullptr; }));
        auto entered = std::make_shared<std::atomic<bool>>(false);
        thread_->runLoop()->perform([thread = thread_.get(), entered, seconds, first = std::move(first)] {
            if (first)
                first(*thread);
            *entered = true;
            thread->simulateFailureForTimeInterval(seconds);
        });
        ASSERT_TRUE(kt::runMainLoopUntil([&] { return entered->load(); }));
    }

    acqtest::HistoryFolder history_;
    std::shared_ptr<const platform::SimulatedComputer> portable_;
    std::shared_ptr<Client> client_;
    std::shared_ptr<TEVCaptureThread> thread_;
};

} // namespace

TEST_F(LocalClient, BecomesReadyCapturesAndSeesASensorAppear)
{
    auto client = makeClient();
    ASSERT_TRUE(client);
    EXPECT_TRUE(client->clientIdentification().isNull());
    Recorder recorder(client);
    ASSERT_TRUE(becomeReady(recorder));
    EXPECT_EQ(recorder.names, QStringList{Client::isReadyNotification});
    EXPECT_EQ(client->clientIdentification(), QStringLiteral("C02M51K3FH00"));
    EXPECT_EQ(client->clientIdentification(), Client::clientIdentifierFromSerialNumber(client->machineSerialNumber()));
    EXPECT_TRUE(client->hasActiveConnection());
    EXPECT_FALSE(client->isRemote());

    ASSERT_TRUE(client->run());
    EXPECT_EQ(client->mainUpdateInterval(), 2.0);
    const QStringList identifiers = client->availableSensorIdentifiers();
    ASSERT_GE(identifiers.size(), 20);
    EXPECT_EQ(client->numberOfAvailableSensors(), quint64(identifiers.size()));

    // The first reading is taken when capturing starts, the tick 2 s later adds a second value (two
    // values are two steps back from the newest slot).
    kt::clock()->advanceSeconds(2);
    ASSERT_TRUE(kt::runMainLoopUntil([&] {
        return client->rawShortTermHistoryDataWithIdentifier(identifiers.first(), kt::clock()->now().addSecs(-4)).size() ==
               2 * qsizetype(sizeof(qint64));
    }));
    int withValues = 0;
    for (const QString& identifier : identifiers) {
        const qint64 cached = client->cachedRawValueWithIdentifier(identifier);
        const QByteArray data = client->rawShortTermHistoryDataWithIdentifier(identifier, kt::clock()->now().addSecs(-4));
        ASSERT_EQ(data.size(), 2 * qsizetype(sizeof(qint64))) << identifier.toStdString();
        qint64 newest = 0;
        std::memcpy(&newest, data.constData() + sizeof(qint64), sizeof newest);
        EXPECT_EQ(newest, cached) << identifier.toStdString();
        withValues += cached > 0;
        EXPECT_EQ(client->shortTermHistoryTimeDeltaWithIdentifier(identifier), 2.0);
    }
    EXPECT_GE(withValues, 10);
    EXPECT_EQ(client->cachedRawValueWithIdentifier(QStringLiteral("no.such.sensor")), 0);
    const auto description = client->sensorDescriptionForIdentifier(identifiers.first());
    ASSERT_TRUE(description);
    EXPECT_EQ(description->localIdentifier(), identifiers.first());
    EXPECT_FALSE(client->hasDetectedConfigurationChange());

    // The battery is put in; the rescan finds its sensors and the next tick notices the change.
    platform::SimulatedComputer::setCurrent(portable_);
    client->rescanForSensors();
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return client->hasDetectedConfigurationChange(); }, 2));
    const QStringList after = client->availableSensorIdentifiers();
    QStringList appeared;
    for (const QString& identifier : after) {
        if (!identifiers.contains(identifier))
            appeared.append(identifier);
    }
    ASSERT_FALSE(appeared.isEmpty()) << after.join(QLatin1Char(' ')).toStdString();
    for (const QString& identifier : appeared) {
        EXPECT_TRUE(identifier.contains(QLatin1String("battery."))) << identifier.toStdString();
        const qint64 cached = client->cachedRawValueWithIdentifier(identifier); // 0 would be nil
        EXPECT_NE(cached, 0) << identifier.toStdString();
        EXPECT_NE(cached, -1) << identifier.toStdString();
    }
    client->acknowledgeConfigurationChange();
    EXPECT_FALSE(client->hasDetectedConfigurationChange());

    client->shutdown();
    EXPECT_FALSE(client->hasActiveConnection());
    EXPECT_FALSE(client->run());
    EXPECT_EQ(client->numberOfAvailableSensors(), 0u);
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return recorder.saw(Client::lostConnectionNotification); }));
    EXPECT_EQ(recorder.names, (QStringList{Client::isReadyNotification, Client::lostConnectionNotification}));
    EXPECT_EQ(kt::log().count(kTimeoutLine), 0);
}

TEST_F(LocalClient, AConfigurationThatTimesOutFailsThenLosesTheConnection)
{
    auto client = makeClient({.callWait = 1.0, .configurationDelay = 0.5});
    Recorder recorder(client);
    blockCaptureThread(1000);

    // Calls made once the configuration gave up, before the thread's deregistration arrives.
    bool ranAfterFailure = true;
    quint64 sensorsAfterFailure = 1;
    recorder.onPost = [&](const QString& name) {
        if (name != Client::failedNotification)
            return;
        ranAfterFailure = client->run();
        sensorsAfterFailure = client->numberOfAvailableSensors();
    };
    {
        ClockMover mover(500, 1000);
        ASSERT_TRUE(kt::runMainLoopUntil([&] { return recorder.saw(Client::failedNotification); }));
        mover.release();
        ASSERT_TRUE(kt::runMainLoopUntil([&] { return recorder.saw(Client::lostConnectionNotification); }));
        ASSERT_TRUE(kt::runMainLoopUntil([&] { return !thread_->serverThread(); })); // the thread exits
    }
    EXPECT_EQ(recorder.names, (QStringList{Client::failedNotification, Client::lostConnectionNotification}));
    EXPECT_FALSE(ranAfterFailure);
    EXPECT_EQ(sensorsAfterFailure, 0u);
    EXPECT_EQ(kt::log().count(kTimeoutLine), 1); // later calls did not wait again
    EXPECT_FALSE(client->hasActiveConnection());

    // A readiness report that comes after the failure changes nothing.
    client->captureThreadHasBecomeReadyUsingSerialNumber(QStringLiteral("C02M51K3FH00"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(client->clientIdentification().isNull());
    EXPECT_FALSE(recorder.saw(Client::isReadyNotification));
}

TEST_F(LocalClient, RunThatTimesOutAnswersNoAndLaterCallsReturnAtOnce)
{
    auto client = makeClient({.callWait = 1.0, .configurationDelay = 0.5});
    Recorder recorder(client);
    ASSERT_TRUE(becomeReady(recorder));
    blockCaptureThread(1000);
    {
        ClockMover mover(500, 1000);
        EXPECT_FALSE(client->run());
        EXPECT_TRUE(client->hasActiveConnection());
        EXPECT_EQ(client->mainUpdateInterval(), 0.0);
        EXPECT_EQ(client->machineSerialNumber(), QStringLiteral("C02M51K3FH00")); // kept from readiness
        EXPECT_FALSE(client->run());
        mover.release();
        ASSERT_TRUE(kt::runMainLoopUntil([&] { return recorder.saw(Client::lostConnectionNotification); }));
        ASSERT_TRUE(kt::runMainLoopUntil([&] { return !thread_->serverThread(); }));
    }
    EXPECT_EQ(kt::log().count(kTimeoutLine), 1);
    EXPECT_EQ(recorder.names, (QStringList{Client::isReadyNotification, Client::lostConnectionNotification}));
    EXPECT_EQ(client->clientIdentification(), QStringLiteral("C02M51K3FH00")); // survives the failure
}

// A call handed to the capture thread ahead of the client's (another caller's, one that may take long) runs
// past the client's call wait; the client's own call, once started, answers at once: it has its whole wait
// from its start, so the computer is not given up on.
TEST_F(LocalClient, ACallQueuedBehindASlowOneKeepsItsWholeDeadline)
{
    auto client = makeClient({.callWait = 1.0, .configurationDelay = 0.5});
    Recorder recorder(client);
    ASSERT_TRUE(becomeReady(recorder));
    ASSERT_TRUE(client->run());
    auto slow = TEVServiceInvocation::invocation(TEVThreadedServer::simulateFailureSelector, QString());
    slow->addArgument(values::fromReal(3));
    auto slowDone = std::make_shared<std::atomic<bool>>(false);
    const auto slowCall = thread_->invoke(slow, [slowDone](const std::optional<QVariant>&) { *slowDone = true; });
    ASSERT_TRUE(slowCall);
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return slowCall->hasStarted(); }));
    {
        // The clock stops half a second past the slow call's end: within the client's wait from its start.
        ClockMover mover(3.5, 0);
        EXPECT_EQ(client->mainUpdateInterval(), 2.0);
        EXPECT_TRUE(slowDone->load());
    }
    EXPECT_EQ(kt::log().count(kTimeoutLine), 0);
    EXPECT_TRUE(client->hasActiveConnection());
    EXPECT_EQ(recorder.names, QStringList{Client::isReadyNotification});
}

// The tick reads copies and asks the capture thread nothing, but a thread that stopped handing copies over
// (stuck in a sensor read) is asked once, and that call's time-out fails the client as any call's does.
TEST_F(LocalClient, ATickAsksAStuckCaptureThreadOnceAndFailsIt)
{
    auto client = makeClient({.callWait = 1.0, .configurationDelay = 0.5});
    Recorder recorder(client);
    ASSERT_TRUE(becomeReady(recorder));
    ASSERT_TRUE(client->run());
    blockCaptureThread(1000);
    {
        ClockMover mover(500, 1000);
        ASSERT_TRUE(kt::runMainLoopUntil([&] {
            EXPECT_FALSE(client->hasDetectedConfigurationChange());
            return recorder.saw(Client::lostConnectionNotification);
        }));
        mover.release();
        ASSERT_TRUE(kt::runMainLoopUntil([&] { return !thread_->serverThread(); }));
    }
    EXPECT_EQ(kt::log().count(kTimeoutLine), 1);
    EXPECT_EQ(recorder.names, (QStringList{Client::isReadyNotification, Client::lostConnectionNotification}));
}

TEST_F(LocalClient, ShutdownRightAfterCreationAndCallsAfterAStopDoNotWaitForAnswers)
{
    // The manual clock stands still: a call that is never performed would wait here for good.
    auto client = makeClient({.callWait = 1.0, .configurationDelay = 0.5});
    client->shutdown();
    EXPECT_FALSE(client->hasActiveConnection());

    auto second = Client::create(MonitorConnectionInfo::createForLocalMachine(QStringLiteral("Kelvaro")),
                                 {.callWait = 1.0, .configurationDelay = 1e6});
    const auto secondThread = second->captureThread();
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return secondThread->runLoop() != nullptr; }));
    second->handleConnectionProblem();
    EXPECT_EQ(second->mainUpdateInterval(), 0.0);
    second->shutdown();
    EXPECT_EQ(kt::log().count(kTimeoutLine), 0);
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return !secondThread->serverThread(); }));
    QCoreApplication::processEvents();
}

TEST_F(LocalClient, LocalOnlyOperationsAreDecidedByTheDescriptor)
{
    // A remote descriptor's client answers the local-only operations without asking its capture thread,
    // even while that thread is blocked and any call would wait.
    client_ = Client::create(MonitorConnectionInfo::createForRemoteConnection(QStringLiteral("192.0.2.1"), 9),
                             {.callWait = 1.0, .configurationDelay = 1e6});
    thread_ = client_->captureThread();
    blockCaptureThread(1000);
    EXPECT_FALSE(client_->isLowAccessRatePolicyRecommended());
    EXPECT_FALSE(client_->saveLongTermHistoryBuffers());
    client_->setSMCAccessPolicy(1);
    client_->setSMARTUpdateInterval(60, 0);
    client_->setLongTermHistoryUpdateInterval(60);
    client_->setHistoryAutosaveTimeInterval(5);
    EXPECT_EQ(kt::log().count(kTimeoutLine), 0);
    EXPECT_TRUE(client_->hasActiveConnection());
    client_->handleConnectionProblem();
    ClockMover mover(0, 1000);
    mover.release(); // the capture thread finishes its block and exits
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return !thread_->serverThread(); }));
    client_.reset();
}

TEST_F(LocalClient, AReadyClientKeepsItsFactsThroughABlockedThreadAndShutdown)
{
    auto client = makeClient({.callWait = 1.0, .configurationDelay = 0.5});
    Recorder recorder(client);
    ASSERT_TRUE(becomeReady(recorder));
    const auto facts = [&] {
        return QStringList{client->machineSerialNumber(), client->machineName(), client->machineModelCode(),
                           client->isRemote() ? QStringLiteral("remote") : QStringLiteral("local")};
    };
    const QStringList expected{QStringLiteral("C02M51K3FH00"), QStringLiteral("Anna's MacBook Pro"),
                               QStringLiteral("MacBookPro11,1"), QStringLiteral("local")};
    blockCaptureThread(1000);
    ClockMover mover(500, 1000); // a call that waited for the blocked thread would time out and log it
    EXPECT_EQ(facts(), expected);
    EXPECT_EQ(kt::log().count(kTimeoutLine), 0);
    client->shutdown(); // its stop call times out
    EXPECT_EQ(facts(), expected);
    EXPECT_EQ(kt::log().count(kTimeoutLine), 1);
    mover.release();
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return !thread_->serverThread(); }));
}

TEST_F(LocalClient, RawValuesAreTheCopyOfTheLastTick)
{
    auto client = makeClient({.callWait = 1.0, .configurationDelay = 0.5});
    Recorder recorder(client);
    ASSERT_TRUE(becomeReady(recorder));
    ASSERT_TRUE(client->run());
    // The battery goes in after the rescan call, so only the tick's copy has its sensors. The clock wakes
    // the capture loop before the block is queued: the block sees the cache as the tick left it.
    platform::SimulatedComputer::setCurrent(portable_);
    client->rescanForSensors();
    kt::clock()->advanceSeconds(2);
    QHash<QString, qint64> cache;
    blockCaptureThread(1000, [&](TEVCaptureThread& thread) { cache = thread.rawValueCache(); });
    QCoreApplication::processEvents(); // the tick's hand-over
    ClockMover mover(500, 1000);
    ASSERT_TRUE(std::any_of(cache.keyBegin(), cache.keyEnd(),
                            [](const QString& key) { return key.contains(QLatin1String("battery.")); }));
    for (auto it = cache.cbegin(); it != cache.cend(); ++it)
        EXPECT_EQ(client->cachedRawValueWithIdentifier(it.key()), it.value()) << it.key().toStdString();
    EXPECT_EQ(client->cachedRawValueWithIdentifier(QStringLiteral("no.such.sensor")), 0);
    EXPECT_EQ(kt::log().count(kTimeoutLine), 0);
    client->shutdown(); // a dead client's gauges show no value
    EXPECT_EQ(client->cachedRawValueWithIdentifier(cache.cbegin().key()), -1);
    mover.release();
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return !thread_->serverThread(); }));
}
