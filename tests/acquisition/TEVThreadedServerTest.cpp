#include "acquisition/TEVThreadedServer.h"

#include "platform/foundation/ConditionLock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Values.h"

#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

namespace kt = kelvaro::test;
namespace values = platform::values;
using platform::RunLoop;
using platform::WaitResult;
using platform::WaitSource;

namespace {

constexpr auto kForever = std::chrono::hours(1);

using kelvaro::test::waitFor;

struct Client final : TEVThreadedServerClient {
    int registered = 0;
    int deregistered = 0;
    void registerThreadedServer(const std::shared_ptr<TEVThreadedServer>&) override { ++registered; }
    void deregisterThreadedServer(const std::shared_ptr<TEVThreadedServer>&) override { ++deregistered; }
};

// Handlers that let a test hold the worker inside a call.
class TestServer final : public TEVThreadedServer {
public:
    std::atomic<int> echoed{0};
    std::atomic<bool> entered{false};
    platform::ConditionLock gate{0}; // 1 lets "hold" return

    void open()
    {
        gate.lock();
        gate.unlockWithCondition(1);
    }
    WaitSource nested;               // "waitNested" waits on it in the worker's run loop

    explicit TestServer(const std::weak_ptr<TEVThreadedServerClient>& client)
        : TEVThreadedServer(client)
    {
        addHandler(QStringLiteral("echo:"), [this](const QVariant& v) { ++echoed; return v; });
        addHandler(QStringLiteral("nothing"), [] { return QVariant(); });
        addHandler(QStringLiteral("hold"), [this] {
            entered = true;
            gate.lockWhenCondition(1);
            gate.unlock();
            return values::fromString("held");
        });
        addHandler(QStringLiteral("waitNested"), [this] {
            entered = true;
            return values::fromString(platform::waitResultName(RunLoop::current()->runUntil(nested, kForever)));
        });
    }
};

// One call's completion, filled on the worker and read on the main thread. `performed` is false for a call
// answered with nothing (never performed); `order` records the completions of several calls.
struct Call {
    std::shared_ptr<WaitSource> done = std::make_shared<WaitSource>();
    std::shared_ptr<QVariant> result = std::make_shared<QVariant>();
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<bool>> performed = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::vector<int>> order; // guarded by the server's invocation lock
    int tag = 0;

    TEVThreadedServer::CompletionBlock block() const
    {
        return [done = done, result = result, calls = calls, performed = performed, order = order,
                tag = tag](const std::optional<QVariant>& value) {
            *result = value.value_or(QVariant());
            *performed = value.has_value();
            if (order)
                order->push_back(tag);
            ++*calls;
            done->deliver();
        };
    }
    bool finished() const { return waitFor([this] { return done->isDelivered(); }); }
};

std::shared_ptr<TEVServiceInvocation> call(const char* selector, const QString& returns = QStringLiteral("NSObject"))
{
    return TEVServiceInvocation::invocation(QString::fromLatin1(selector), returns);
}

class TEVThreadedServerTest : public ::testing::Test {
protected:
    std::shared_ptr<Client> client = std::make_shared<Client>();
    std::shared_ptr<TestServer> server = std::make_shared<TestServer>(client);

    bool started = false;

    void start()
    {
        started = true;
        server->run();
        ASSERT_TRUE(waitFor([&] { return client->registered == 1; }));
    }
    void TearDown() override
    {
        server->open();
        server->nested.withdraw();
        server->stop();
        EXPECT_TRUE(!started || waitFor([&] { return !server->serverThread(); }));
        EXPECT_TRUE(kelvaro::test::waitUntilReleased(server));
    }
};

} // namespace

TEST_F(TEVThreadedServerTest, AnswersPingAndDeregistersOnceOnStop)
{
    start();
    Call ping;
    server->invoke(call("ping", QStringLiteral("NSString")), ping.block());
    ASSERT_TRUE(ping.finished());
    EXPECT_TRUE(values::strictlyEqual(*ping.result, values::fromString("pong")));

    server->stop();
    server->stop();
    ASSERT_TRUE(waitFor([&] { return !server->serverThread(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(client->deregistered, 1);
    EXPECT_FALSE(server->isRunning());
}

TEST_F(TEVThreadedServerTest, StopBeforeRunDoesNothing)
{
    server->stop();
    QCoreApplication::processEvents();
    EXPECT_EQ(client->deregistered, 0);
    EXPECT_EQ(TEVThreadedServer::create(std::weak_ptr<TEVThreadedServerClient>()), nullptr);
}

TEST_F(TEVThreadedServerTest, ACallMadeBeforeTheThreadRunsIsPerformedOnceItDoesAndNoneAfterStop)
{
    Call early;
    EXPECT_TRUE(server->invoke(call("ping", QStringLiteral("NSString")), early.block()));
    start();
    ASSERT_TRUE(early.finished());
    EXPECT_TRUE(values::strictlyEqual(*early.result, values::fromString("pong")));

    server->stop();
    Call late;
    EXPECT_FALSE(server->invoke(call("ping", QStringLiteral("NSString")), late.block()));
}

TEST_F(TEVThreadedServerTest, MismatchedBlocksAreLoggedAndNeverPerformed)
{
    start();
    auto oneWay = TEVServiceInvocation::voidOneWayInvocation(QStringLiteral("echo:"));
    oneWay->addArgument(values::fromSigned(1));
    server->invoke(oneWay, [](const std::optional<QVariant>&) {});
    auto twoWay = TEVServiceInvocation::invocation(QStringLiteral("echo:"), QStringLiteral("NSNumber"), values::fromSigned(2));
    server->invoke(twoWay, nullptr);
    EXPECT_EQ(kt::log().count(QStringLiteral("mismatch between oneway invocation and completion block detected, "
                                             "will not invoke 'echo:'!\n")), 2);
    Call ping; // calls are performed in order, so once it answered nothing else is pending
    server->invoke(call("ping"), ping.block());
    ASSERT_TRUE(ping.finished());
    EXPECT_EQ(server->echoed, 0);
}

TEST_F(TEVThreadedServerTest, EveryCallOfABurstIsPerformedAndCompletedOnceInOrder)
{
    // A burst handed over before the thread runs, and one handed over while the thread is held in a call:
    // each call keeps its own block and none replaces another.
    const auto order = std::make_shared<std::vector<int>>();
    std::vector<Call> calls(60);
    const auto echo = [](int n) {
        return TEVServiceInvocation::invocation(QStringLiteral("echo:"), QStringLiteral("NSNumber"), values::fromSigned(n));
    };
    for (int n = 0; n < 20; ++n) {
        calls[n].order = order;
        calls[n].tag = n;
        ASSERT_TRUE(server->invoke(echo(n), calls[n].block()));
    }
    start();
    Call hold;
    hold.order = order;
    hold.tag = -1;
    server->invoke(call("hold"), hold.block());
    ASSERT_TRUE(waitFor([&] { return server->entered.load(); }));
    for (int n = 20; n < 60; ++n) {
        calls[n].order = order;
        calls[n].tag = n;
        ASSERT_TRUE(server->invoke(echo(n), calls[n].block()));
    }
    server->open();
    for (int n = 0; n < 60; ++n) {
        ASSERT_TRUE(calls[n].finished()) << n;
        EXPECT_TRUE(*calls[n].performed) << n;
        EXPECT_TRUE(values::strictlyEqual(*calls[n].result, values::fromSigned(n))) << n;
    }
    ASSERT_TRUE(hold.finished());
    EXPECT_TRUE(values::strictlyEqual(*hold.result, values::fromString("held")));
    QCoreApplication::processEvents();
    for (const Call& c : calls)
        EXPECT_EQ(*c.calls, 1);
    EXPECT_EQ(server->echoed, 60);
    std::vector<int> expected;
    for (int n = 0; n < 20; ++n)
        expected.push_back(n);
    expected.push_back(-1);
    for (int n = 20; n < 60; ++n)
        expected.push_back(n);
    EXPECT_EQ(*order, expected);
}

TEST_F(TEVThreadedServerTest, CallsThatCannotBePerformedFailAtOnce)
{
    // Queued behind a call when the server stops: answered with nothing as the thread ends, not left to a
    // caller's time-out; handed over after the stop: refused at once.
    start();
    Call hold, queued, late;
    server->invoke(call("hold"), hold.block());
    ASSERT_TRUE(waitFor([&] { return server->entered.load(); }));
    ASSERT_TRUE(server->invoke(call("ping", QStringLiteral("NSString")), queued.block()));
    server->stop();
    EXPECT_FALSE(server->invoke(call("ping", QStringLiteral("NSString")), late.block()));
    server->open();
    ASSERT_TRUE(hold.finished());
    EXPECT_TRUE(*hold.performed);
    ASSERT_TRUE(queued.finished());
    EXPECT_FALSE(*queued.performed);
    EXPECT_EQ(*queued.calls, 1);
    ASSERT_TRUE(waitFor([&] { return !server->serverThread(); }));
    EXPECT_FALSE(server->invoke(call("ping", QStringLiteral("NSString")), late.block()));
    EXPECT_EQ(*late.calls, 0);

    // A server whose thread never ran answers its calls with nothing when it goes.
    Call never;
    {
        auto idle = std::make_shared<TestServer>(client);
        ASSERT_TRUE(idle->invoke(call("ping", QStringLiteral("NSString")), never.block()));
    }
    ASSERT_TRUE(never.finished());
    EXPECT_FALSE(*never.performed);
}

TEST_F(TEVThreadedServerTest, NilResultStillCallsTheBlock)
{
    start();
    Call nothing;
    server->invoke(call("nothing"), nothing.block());
    ASSERT_TRUE(nothing.finished());
    EXPECT_FALSE(nothing.result->isValid());
    EXPECT_EQ(*nothing.calls, 1);
}

TEST_F(TEVThreadedServerTest, StopEndsANestedWaitOnTheWorkerAndTheThreadExits)
{
    start();
    Call waiting;
    server->invoke(call("waitNested"), waiting.block());
    ASSERT_TRUE(waitFor([&] { return server->entered.load(); }));
    server->stop();
    ASSERT_TRUE(waiting.finished());
    EXPECT_TRUE(values::strictlyEqual(*waiting.result, values::fromString(platform::waitResultName(WaitResult::Cancelled))));
    ASSERT_TRUE(waitFor([&] { return !server->serverThread(); }));
    ASSERT_TRUE(waitFor([&] { return client->deregistered == 1; }));
}

TEST_F(TEVThreadedServerTest, ShutdownEndsTheThreadAfterItsNextCall)
{
    start();
    server->shutdown();
    Call ping;
    server->invoke(call("ping"), ping.block());
    ASSERT_TRUE(ping.finished());
    ASSERT_TRUE(waitFor([&] { return !server->serverThread(); }));
    ASSERT_TRUE(waitFor([&] { return client->deregistered == 1; }));
}
