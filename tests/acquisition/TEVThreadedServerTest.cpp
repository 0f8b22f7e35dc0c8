#include "acquisition/TEVThreadedServer.h"

#include "platform/foundation/ConditionLock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Values.h"

#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <limits>
#include <mutex>
#include <vector>

namespace kt = kelvaro::test;
namespace values = platform::values;
using platform::RunLoop;
using platform::WaitResult;
using platform::WaitSource;
using Outcome = TEVThreadedServer::CallState::Outcome;

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
        release(std::numeric_limits<int>::max());
    }
    // Lets every "await:" for a number up to `n` return.
    void release(int n)
    {
        {
            std::lock_guard lock(releaseMutex_);
            released_ = std::max(released_, n);
        }
        releaseChanged_.notify_all();
    }
    void awaitRelease(int n)
    {
        std::unique_lock lock(releaseMutex_);
        releaseChanged_.wait(lock, [&] { return released_ >= n; });
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
        addHandler(QStringLiteral("await:"), [this](const QVariant& n) {
            awaitRelease(int(values::toSigned(n).value_or(0)));
            return n;
        });
        addHandler(QStringLiteral("waitNested"), [this] {
            entered = true;
            return values::fromString(platform::waitResultName(RunLoop::current()->runUntil(nested, kForever)));
        });
    }

private:
    std::mutex releaseMutex_;
    std::condition_variable releaseChanged_;
    int released_ = 0; // guarded by releaseMutex_
};

// One call's completion, filled on the worker and read on the main thread. `performed` is false for a call
// answered with nothing (never performed); `order` records the completions of several calls.
struct Call {
    std::shared_ptr<WaitSource> done = std::make_shared<WaitSource>();
    std::shared_ptr<QVariant> result = std::make_shared<QVariant>();
    std::shared_ptr<std::atomic<int>> calls = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<bool>> performed = std::make_shared<std::atomic<bool>>(false);
    std::shared_ptr<std::vector<int>> order; // blocks run one at a time, on one thread
    std::function<void()> then;              // run by the block once it recorded the answer
    int tag = 0;

    TEVThreadedServer::CompletionBlock block() const
    {
        return [done = done, result = result, calls = calls, performed = performed, order = order,
                tag = tag, then = then](const std::optional<QVariant>& value) {
            *result = value.value_or(QVariant());
            *performed = value.has_value();
            if (order)
                order->push_back(tag);
            ++*calls;
            if (then)
                then();
            done->deliver();
        };
    }
    bool finished() const { return waitFor([this] { return done->isDelivered(); }); }
};

std::shared_ptr<TEVServiceInvocation> call(const char* selector, const QString& returns = QStringLiteral("NSObject"))
{
    return TEVServiceInvocation::invocation(QString::fromLatin1(selector), returns);
}

std::shared_ptr<TEVServiceInvocation> echo(int n)
{
    return TEVServiceInvocation::invocation(QStringLiteral("echo:"), QStringLiteral("NSNumber"), values::fromSigned(n));
}

// A call that holds the worker until the test releases `n`.
std::shared_ptr<TEVServiceInvocation> awaiting(int n)
{
    return TEVServiceInvocation::invocation(QStringLiteral("await:"), QStringLiteral("NSNumber"), values::fromSigned(n));
}

platform::Clock::Duration seconds(double s)
{
    return platform::durationFromSeconds(s);
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

// --- A call's deadline ------------------------------------------------------------------------------------

TEST_F(TEVThreadedServerTest, ACallsDeadlineRunsFromItsStartAndItsWaitFromTheCallsAhead)
{
    // Seconds of the test clock from when the work ahead started. The work ahead is a call with its own
    // deadline, work on the thread that is no call (no deadline), or nothing (runs 0).
    struct Row {
        const char* name;
        double aheadDeadline;
        double aheadRuns;
        double deadline;
        double runs;
        std::optional<double> longest;
        Outcome outcome;
        double decidedAt;
    };
    const Row rows[] = {
        {"alone, within its deadline", 0, 0, 10, 8, {}, Outcome::Answered, 8},
        {"alone, past its deadline", 0, 0, 10, 12, {}, Outcome::TimedOut, 10},
        {"behind a slow call within its deadline", 30, 12, 10, 8, {}, Outcome::Answered, 20},
        {"behind a call that overran, started within its wait", 5, 12, 10, 1, {}, Outcome::Answered, 13},
        {"behind a call that overran past its wait", 5, 20, 10, 1, {}, Outcome::TimedOut, 15},
        {"behind work that is no call", 0, 12, 10, 1, {}, Outcome::TimedOut, 10},
        {"behind a slow call, past its own deadline", 30, 12, 10, 11, {}, Outcome::TimedOut, 22},
        {"behind a slow call, waited for a while only", 30, 12, 10, 8, 5.0, Outcome::TimedOut, 5},
    };
    start();
    int released = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto origin = kt::clock()->monotonic();
        // The work ahead ends when the test releases its number, the call after it at the next one.
        const int aheadEnds = ++released;
        const int ends = ++released;
        if (row.aheadRuns > 0 && row.aheadDeadline > 0) {
            Call ahead;
            const auto state = server->invoke(awaiting(aheadEnds), ahead.block(), seconds(row.aheadDeadline));
            ASSERT_TRUE(state);
            ASSERT_TRUE(waitFor([&] { return state->hasStarted(); }));
        } else if (row.aheadRuns > 0) {
            auto entered = std::make_shared<std::atomic<bool>>(false);
            server->runLoop()->perform([worker = server.get(), entered, aheadEnds] {
                *entered = true;
                worker->awaitRelease(aheadEnds);
            });
            ASSERT_TRUE(waitFor([&] { return entered->load(); }));
        }
        Call queued;
        const auto state = server->invoke(awaiting(ends), queued.block(), seconds(row.deadline));
        ASSERT_TRUE(state);
        if (row.aheadRuns == 0) {
            ASSERT_TRUE(waitFor([&] { return state->hasStarted(); }));
        }

        // The caller waits on a thread of its own; this one moves the clock a second at a time and lets what
        // is due at each second happen before the next.
        auto decided = std::async(std::launch::async, [&] {
            const auto outcome = state->wait(row.longest ? std::optional(origin + seconds(*row.longest)) : std::nullopt);
            return std::pair(outcome, kt::clock()->monotonic());
        });
        struct Release { // a failed step leaves no caller waiting on a still clock
            std::future<std::pair<Outcome, platform::Clock::Duration>>& decided;
            ~Release()
            {
                if (decided.valid() && decided.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
                    kt::clock()->advanceSeconds(1000);
            }
        } release{decided};
        const auto isDecided = [&] { return decided.wait_for(std::chrono::seconds(0)) == std::future_status::ready; };
        const double end = row.aheadRuns + row.runs;
        for (int second = 1; second <= end; ++second) {
            EXPECT_EQ(isDecided(), second > row.decidedAt) << second;
            kt::clock()->advanceSeconds(1);
            if (second == row.aheadRuns)
                server->release(aheadEnds);
            if (second == end)
                server->release(ends);
            if (second == row.aheadRuns) {
                ASSERT_TRUE(waitFor([&] { return state->hasStarted(); })) << second;
            }
            if (second == end) {
                ASSERT_TRUE(queued.finished()) << second;
            }
            if (second == row.decidedAt) {
                ASSERT_TRUE(waitFor(isDecided)) << second;
            }
        }
        const auto [outcome, when] = decided.get();
        EXPECT_EQ(int(outcome), int(row.outcome));
        EXPECT_EQ((when - origin).count(), seconds(row.decidedAt).count());
        EXPECT_EQ((state->deadline() - origin).count(), seconds(row.aheadRuns + row.deadline).count());
        EXPECT_TRUE(*queued.performed); // a caller that gave up does not take the answer from the call
        EXPECT_EQ(*queued.calls, 1);
    }
}

TEST_F(TEVThreadedServerTest, EachCallKeepsItsOwnAnswerWhenAnEarlierOneWasGivenUp)
{
    start();
    Call held, next;
    const auto gaveUp = server->invoke(call("hold"), held.block());
    ASSERT_TRUE(waitFor([&] { return server->entered.load(); }));
    EXPECT_EQ(int(gaveUp->wait(kt::clock()->monotonic())), int(Outcome::TimedOut));
    const auto current = server->invoke(echo(2), next.block());
    server->open();
    // The manual clock does not move: only the answer ends the wait.
    EXPECT_EQ(int(current->wait()), int(Outcome::Answered));
    EXPECT_TRUE(values::strictlyEqual(*current->result(), values::fromSigned(2)));
    ASSERT_TRUE(gaveUp->isAnswered());
    EXPECT_TRUE(values::strictlyEqual(*gaveUp->result(), values::fromString("held")));
    EXPECT_TRUE(held.finished());
}

TEST_F(TEVThreadedServerTest, ACallNeverPerformedEndsItsWaitAtOnceAndIsNoTimeOut)
{
    start();
    Call held, queued;
    server->invoke(call("hold"), held.block());
    ASSERT_TRUE(waitFor([&] { return server->entered.load(); }));
    const auto state = server->invoke(echo(1), queued.block());
    std::thread stopper([&] { server->stop(); server->open(); });
    EXPECT_EQ(int(state->wait()), int(Outcome::NeverPerformed)); // the manual clock does not move
    stopper.join();
    EXPECT_FALSE(state->result().has_value());
    EXPECT_FALSE(state->hasStarted());
}

// --- Completion blocks and the order of calls ---------------------------------------------------------------

TEST_F(TEVThreadedServerTest, ACompletionBlockThatInvokesAgainIsAnsweredInTurn)
{
    // The first call's block hands over another call; a call queued before that block ran goes first.
    start();
    const auto order = std::make_shared<std::vector<int>>();
    Call first, queued, again;
    for (auto [c, tag] : {std::pair(&first, -1), std::pair(&queued, 1), std::pair(&again, 2)}) {
        c->order = order;
        c->tag = tag;
    }
    std::shared_ptr<const TEVThreadedServer::CallState> handedOver;
    first.then = [&, worker = server.get(), block = again.block()] { handedOver = worker->invoke(echo(2), block); };
    server->invoke(call("hold"), first.block());
    ASSERT_TRUE(waitFor([&] { return server->entered.load(); }));
    ASSERT_TRUE(server->invoke(echo(1), queued.block()));
    server->open();
    ASSERT_TRUE(again.finished());
    ASSERT_TRUE(handedOver);
    EXPECT_TRUE(values::strictlyEqual(*again.result, values::fromSigned(2)));
    EXPECT_EQ(*order, (std::vector<int>{-1, 1, 2}));
}

TEST_F(TEVThreadedServerTest, CallsHandedOverDuringANestedWaitStartInsideItInOrder)
{
    start();
    const auto order = std::make_shared<std::vector<int>>();
    Call waiting;
    waiting.order = order;
    waiting.tag = -1;
    const auto outer = server->invoke(call("waitNested"), waiting.block());
    ASSERT_TRUE(waitFor([&] { return server->entered.load(); }));
    std::vector<Call> calls(5);
    for (int n = 0; n < 5; ++n) {
        calls[n].order = order;
        calls[n].tag = n;
        ASSERT_TRUE(server->invoke(echo(n), calls[n].block()));
    }
    for (Call& c : calls)
        ASSERT_TRUE(c.finished());
    EXPECT_FALSE(outer->isAnswered());
    server->nested.deliver();
    ASSERT_TRUE(waiting.finished());
    EXPECT_EQ(*order, (std::vector<int>{0, 1, 2, 3, 4, -1}));
}

TEST_F(TEVThreadedServerTest, EveryCallHandedOverIsAnsweredOnceInOrderWhicheverWayTheServerEnds)
{
    enum class End { Stop, StopFromACompletionBlock, Shutdown, NeverRan };
    struct Row {
        const char* name;
        End end;
        bool queuedArePerformed;
    };
    const Row rows[] = {
        {"stopped while a call runs", End::Stop, false},
        {"stopped by the running call's completion block", End::StopFromACompletionBlock, false},
        {"shut down while a call runs", End::Shutdown, true},
        {"dropped before its thread ran", End::NeverRan, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto ending = std::make_shared<TestServer>(client);
        const auto order = std::make_shared<std::vector<int>>();
        Call held;
        held.order = order;
        held.tag = -1;
        if (row.end == End::StopFromACompletionBlock)
            held.then = [worker = ending.get()] { worker->stop(); };
        if (row.end != End::NeverRan) {
            ending->run();
            ASSERT_TRUE(ending->invoke(call("hold"), held.block()));
            ASSERT_TRUE(waitFor([&] { return ending->entered.load(); }));
        }
        std::vector<Call> calls(5);
        std::vector<std::shared_ptr<const TEVThreadedServer::CallState>> states;
        for (int n = 0; n < 5; ++n) {
            calls[n].order = order;
            calls[n].tag = n;
            states.push_back(ending->invoke(echo(n), calls[n].block()));
            ASSERT_TRUE(states.back());
        }
        if (row.end == End::Stop)
            ending->stop();
        if (row.end == End::Shutdown)
            ending->shutdown();
        if (row.end == End::NeverRan) {
            ending.reset();
        } else {
            ending->open();
            ASSERT_TRUE(waitFor([&] { return !ending->serverThread(); }));
            EXPECT_TRUE(kt::waitUntilReleased(ending));
        }
        std::vector<int> expected;
        if (row.end != End::NeverRan)
            expected.push_back(-1);
        for (int n = 0; n < 5; ++n) {
            ASSERT_TRUE(calls[n].finished()) << n;
            EXPECT_EQ(*calls[n].calls, 1) << n;
            EXPECT_EQ(*calls[n].performed, row.queuedArePerformed) << n;
            EXPECT_EQ(int(states[n]->wait()), int(row.queuedArePerformed ? Outcome::Answered : Outcome::NeverPerformed));
            expected.push_back(n);
        }
        EXPECT_EQ(*order, expected);
        EXPECT_EQ(*held.calls, row.end == End::NeverRan ? 0 : 1);
    }
}

namespace {

// In a child: servers at each moment, then the application object goes. 0 when none is left behind.
int leftBehindWhenTheApplicationGoes()
{
    enum class Moment { InANestedWait, StoppedBeforeItRan, StoppedWithACallQueued, ShutDownWithACallQueued };
    struct Row {
        const char* name;
        Moment moment;
    };
    const Row rows[] = {
        {"never stopped, in a nested wait", Moment::InANestedWait},
        {"stopped before its thread ran", Moment::StoppedBeforeItRan},
        {"stopped with a call queued", Moment::StoppedWithACallQueued},
        {"shut down with a call queued", Moment::ShutDownWithACallQueued},
    };
    struct Left {
        const char* name;
        std::weak_ptr<TestServer> server;
        std::shared_ptr<std::atomic<bool>> threadDeleted;
    };
    const auto client = std::make_shared<Client>();
    const auto ignored = [](const std::optional<QVariant>&) {};
    std::vector<Left> left;
    for (const Row& row : rows) {
        const auto server = std::make_shared<TestServer>(client);
        server->run();
        const auto deleted = std::make_shared<std::atomic<bool>>(false);
        QObject::connect(server->serverThread(), &QObject::destroyed, [deleted] { *deleted = true; });
        switch (row.moment) {
        case Moment::InANestedWait:
            server->invoke(call("waitNested"), ignored);
            if (!waitFor([&] { return server->entered.load(); }))
                return 2;
            break;
        case Moment::StoppedBeforeItRan:
            server->stop();
            break;
        case Moment::StoppedWithACallQueued:
            server->invoke(echo(1), ignored);
            server->stop();
            break;
        case Moment::ShutDownWithACallQueued:
            if (!waitFor([&] { return server->isRunning(); }))
                return 2;
            server->shutdown();
            server->invoke(echo(1), ignored);
            break;
        }
        left.push_back({row.name, server, deleted});
    }
    delete QCoreApplication::instance();
    int count = 0;
    for (const Left& l : left) {
        if (!l.server.expired() || !*l.threadDeleted) {
            std::fprintf(stderr, "left behind: %s\n", l.name);
            ++count;
        }
    }
    std::fprintf(stderr, count ? "threads left\n" : "no thread left\n");
    return count;
}

} // namespace

// Whatever its server was doing, no thread outlives the application object: one still running is stopped,
// one still ending is waited for, and each server goes with its QThread.
TEST(TEVThreadedServerDeathTest, NoThreadOutlivesTheApplicationObject)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(leftBehindWhenTheApplicationGoes()), ::testing::ExitedWithCode(0), "no thread left");
}
