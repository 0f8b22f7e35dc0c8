#include "platform/foundation/RunLoop.h"

#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;
namespace kt = kelvaro::test;

namespace {

Clock::Duration seconds(double s)
{
    return durationFromSeconds(s);
}

// Moves the manual clock and lets the main loop fire what became due (the loop is woken by a queued
// call, and a firing may queue one more pass).
void advance(double s)
{
    kt::clock()->advanceSeconds(s);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
}

double elapsedSince(Clock::Duration start)
{
    return std::chrono::duration<double>(kt::clock()->monotonic() - start).count();
}

// Runs `steps` one after the other, each as its own queued call on the main loop, so that they happen
// inside a nested wait there.
void runStep(std::shared_ptr<std::vector<std::function<void()>>> steps, size_t i)
{
    if (i >= steps->size())
        return;
    (*steps)[i]();
    RunLoop::main()->perform([steps, i] { runStep(steps, i + 1); });
}

void script(std::vector<std::function<void()>> steps)
{
    auto shared = std::make_shared<std::vector<std::function<void()>>>(std::move(steps));
    RunLoop::main()->perform([shared] { runStep(shared, 0); });
}

// A worker thread running its event loop, stopped and joined at the end of the test.
struct Worker {
    QThread thread;
    Worker() { thread.start(); }
    ~Worker()
    {
        thread.quit();
        thread.wait();
    }
    std::shared_ptr<RunLoop> loop() { return RunLoop::forThread(&thread); }
};

// A real-time guard for waits that another thread ends: it withdraws the source after a generous bound,
// so a fault fails the test instead of hanging it.
void guard(const std::shared_ptr<WaitSource>& source)
{
    QTimer::singleShot(10'000, [weak = std::weak_ptr<WaitSource>(source)] {
        if (auto s = weak.lock())
            s->withdraw();
    });
}

} // namespace

TEST(RunLoop, PerformRunsOnTheTargetThreadAndBack)
{
    Worker worker;
    std::atomic<QThread*> ranOn{nullptr};
    std::atomic<QThread*> cameBackOn{nullptr};
    ASSERT_TRUE(worker.loop()->perform([&] {
        ranOn = QThread::currentThread();
        RunLoop::main()->perform([&] { cameBackOn = QThread::currentThread(); });
    }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return cameBackOn.load() != nullptr; }, 10'000));
    EXPECT_EQ(ranOn.load(), &worker.thread);
    EXPECT_EQ(cameBackOn.load(), QCoreApplication::instance()->thread());
    EXPECT_EQ(RunLoop::current(), RunLoop::main());
}

TEST(RunLoop, PerformAfterWaitsForTheManualClock)
{
    int fired = 0;
    RunLoop::main()->performAfter(seconds(10), [&] { ++fired; });
    advance(9.9);
    EXPECT_EQ(fired, 0);
    advance(0.1);
    EXPECT_EQ(fired, 1);
    advance(100);
    EXPECT_EQ(fired, 1);
}

TEST(RunLoop, RepeatingTimerCoalescesMissedFiringsAndKeepsItsCadence)
{
    const auto start = kt::clock()->monotonic();
    int fired = 0;
    Timer timer = RunLoop::main()->addTimer(seconds(60), [&] { ++fired; }, true);
    advance(60);
    EXPECT_EQ(fired, 1);
    advance(600); // ten periods missed: one firing, no burst
    EXPECT_EQ(fired, 2);
    EXPECT_EQ(timer.fireDate(), start + seconds(720));
    advance(59);
    EXPECT_EQ(fired, 2);
    advance(1);
    EXPECT_EQ(fired, 3);
    timer.invalidate();
    advance(120);
    EXPECT_EQ(fired, 3);
    EXPECT_FALSE(timer.isValid());
    EXPECT_FALSE(timer.fireDate());
}

TEST(RunLoop, DueTimersFireInDeadlineOrder)
{
    std::vector<int> order;
    auto loop = RunLoop::main();
    loop->performAfter(seconds(30), [&] { order.push_back(30); });
    loop->addTimer(seconds(10), [&] { order.push_back(10); }, false);
    Timer repeating = loop->addTimer(seconds(15), [&] { order.push_back(15); }, true);
    loop->performAfter(seconds(20), [&] { order.push_back(20); });
    advance(40);
    EXPECT_EQ(order, (std::vector<int>{10, 15, 20, 30}));
    repeating.invalidate();
}

TEST(RunLoop, TimerChangesAndInvalidationTakeEffect)
{
    auto loop = RunLoop::main();
    int fired = 0;
    Timer timer;
    timer = loop->addTimer(seconds(10), [&] {
        if (++fired == 2)
            timer.invalidate(); // from its own handler
    }, true);
    advance(10);
    EXPECT_EQ(fired, 1);
    timer.setInterval(seconds(3)); // next firing 3 s from now
    advance(2.9);
    EXPECT_EQ(fired, 1);
    advance(0.1);
    EXPECT_EQ(fired, 2);
    advance(30);
    EXPECT_EQ(fired, 2);
    EXPECT_FALSE(timer.isValid());

    int delayed = 0;
    Timer once = loop->performAfter(seconds(5), [&] { ++delayed; });
    once.setFireDate(kt::clock()->monotonic() + seconds(1));
    advance(1);
    EXPECT_EQ(delayed, 1);
    Timer cancelled = loop->performAfter(seconds(5), [&] { ++delayed; });
    cancelled.invalidate();
    advance(10);
    EXPECT_EQ(delayed, 1);
}

TEST(RunLoop, NestedWaitEndsOnDeliveryTimeOutAndWithdrawal)
{
    struct Row {
        const char* what;
        std::function<void(WaitSource&)> action;
        WaitResult expected;
        double elapsed; // manual seconds at the end
    };
    const std::vector<Row> rows = {
        {"delivered", [](WaitSource& s) { s.deliver(); }, WaitResult::Delivered, 0},
        {"withdrawn", [](WaitSource& s) { s.withdraw(); }, WaitResult::Withdrawn, 0},
        {"timed out", [](WaitSource&) { kt::clock()->advanceSeconds(10); }, WaitResult::TimedOut, 10},
        {"nearly timed out, then delivered",
         [](WaitSource& s) { kt::clock()->advanceSeconds(9.999); s.deliver(); }, WaitResult::Delivered, 9.999},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WaitSource source;
        const auto start = kt::clock()->monotonic();
        RunLoop::main()->perform([&] { row.action(source); });
        EXPECT_EQ(RunLoop::main()->runUntil(source, seconds(10)), row.expected);
        EXPECT_NEAR(elapsedSince(start), row.elapsed, 1e-9);
    }
}

TEST(RunLoop, NestedWaitEndsOnDeliveryFromAnotherThread)
{
    Worker worker;
    auto source = std::make_shared<WaitSource>();
    guard(source);
    worker.loop()->perform([source] { source->deliver(); });
    EXPECT_EQ(RunLoop::main()->runUntil(*source, seconds(10)), WaitResult::Delivered);
}

TEST(RunLoop, NestedWaitOnConditionSeesWorkOfItsThread)
{
    bool done = false;
    RunLoop::main()->performAfter(seconds(2), [&] { done = true; });
    script({[] { kt::clock()->advanceSeconds(2); }});
    EXPECT_EQ(RunLoop::main()->runUntil([&] { return done; }, seconds(5)), WaitResult::Delivered);
    EXPECT_EQ(RunLoop::main()->runUntil([] { return false; }, seconds(0)), WaitResult::TimedOut);
}

TEST(RunLoop, NestedWaitEndsOnCancellationOfItsThread)
{
    for (bool explicitCancel : {true, false}) {
        SCOPED_TRACE(explicitCancel ? "RunLoop::cancel" : "QThread::requestInterruption");
        Worker worker;
        auto loop = worker.loop();
        std::atomic<bool> waiting{false};
        std::atomic<int> result{-1};
        auto source = std::make_shared<WaitSource>();
        loop->perform([&, source] {
            // Runs inside the wait below, so the cancellation cannot come before it.
            RunLoop::current()->perform([&] { waiting = true; });
            result = int(RunLoop::current()->runUntil(*source, seconds(10)));
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return waiting.load(); }, 10'000));
        EXPECT_EQ(result.load(), -1);
        if (explicitCancel)
            loop->cancel();
        else
            worker.thread.requestInterruption();
        ASSERT_TRUE(QTest::qWaitFor([&] { return result.load() != -1; }, 10'000));
        EXPECT_EQ(WaitResult(result.load()), WaitResult::Cancelled);
        EXPECT_TRUE(loop->isCancelled());
        // Later waits of a cancelled thread end at once, unless what they wait for is already there.
        std::atomic<int> again{-1};
        std::atomic<int> settled{-1};
        loop->perform([&] {
            WaitSource fresh;
            again = int(RunLoop::current()->runUntil(fresh, seconds(10)));
            fresh.deliver();
            settled = int(RunLoop::current()->runUntil(fresh, seconds(10)));
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return settled.load() != -1; }, 10'000));
        EXPECT_EQ(WaitResult(again.load()), WaitResult::Cancelled);
        EXPECT_EQ(WaitResult(settled.load()), WaitResult::Delivered);
    }
}

TEST(RunLoop, ProgressRestartsTheTimeOutButOtherTimersDoNot)
{
    auto loop = RunLoop::main();
    int ticks = 0;
    Timer sampling = loop->addTimer(seconds(1), [&] { ++ticks; }, true);

    // Timers firing all along: the wait still ends 10 s after it began.
    {
        WaitSource source;
        const auto start = kt::clock()->monotonic();
        std::vector<std::function<void()>> steps(10, [] { kt::clock()->advanceSeconds(1); });
        script(steps);
        EXPECT_EQ(loop->runUntil(source, seconds(10)), WaitResult::TimedOut);
        EXPECT_NEAR(elapsedSince(start), 10, 1e-9);
        EXPECT_GE(ticks, 9);
    }
    // Bytes every 6 s keep it going; it ends 10 s after the last of them.
    {
        WaitSource source;
        const auto start = kt::clock()->monotonic();
        auto bytes = [&] { kt::clock()->advanceSeconds(6); source.reportProgress(); };
        std::vector<std::function<void()>> steps{bytes, bytes, bytes};
        for (int i = 0; i < 10; ++i)
            steps.push_back([] { kt::clock()->advanceSeconds(1); });
        script(steps);
        EXPECT_EQ(loop->runUntil(source, seconds(10)), WaitResult::TimedOut);
        EXPECT_NEAR(elapsedSince(start), 28, 1e-9);
    }
    sampling.invalidate();
}

// A wait inside a queued call still gets the calls that were queued behind it before it began.
TEST(RunLoop, NestedWaitInsideAQueuedCallSeesCallsQueuedBeforeIt)
{
    WaitSource source;
    WaitResult nested = WaitResult::Cancelled;
    RunLoop::main()->perform([&] { nested = RunLoop::current()->runUntil(source, seconds(10)); });
    RunLoop::main()->perform([&] { source.deliver(); });
    WaitSource outer;
    RunLoop::main()->perform([&] { outer.deliver(); });
    EXPECT_EQ(RunLoop::main()->runUntil(outer, seconds(10)), WaitResult::Delivered);
    EXPECT_EQ(nested, WaitResult::Delivered);
}

TEST(RunLoop, RepeatingTimerIsNeverReenteredFromItsOwnNestedWait)
{
    auto loop = RunLoop::main();
    const auto start = kt::clock()->monotonic();
    int depth = 0;
    int maxDepth = 0;
    int fired = 0;
    int otherFired = 0;
    WaitResult nested = WaitResult::Cancelled;
    Timer other = loop->addTimer(seconds(5), [&] { ++otherFired; }, true);
    Timer timer = loop->addTimer(seconds(5), [&] {
        maxDepth = std::max(maxDepth, ++depth);
        if (++fired == 1) {
            // A remote call from inside a tick: the clock runs 20 s on while it waits.
            WaitSource reply;
            std::vector<std::function<void()>> steps(4, [] { kt::clock()->advanceSeconds(5); });
            steps.push_back([&] { reply.deliver(); });
            script(steps);
            nested = RunLoop::current()->runUntil(reply, seconds(60));
        }
        --depth;
    }, true);

    advance(5);
    EXPECT_EQ(nested, WaitResult::Delivered);
    EXPECT_EQ(maxDepth, 1);
    EXPECT_GE(otherFired, 4); // the other timer did fire inside the wait
    // The four firings missed meanwhile come as one, right after the handler returned...
    EXPECT_EQ(fired, 2);
    // ...and the cadence stays on the original 5 s grid.
    EXPECT_EQ(timer.fireDate(), start + seconds(30));
    advance(5);
    EXPECT_EQ(fired, 3);
    timer.invalidate();
    other.invalidate();
}

TEST(RunLoop, FinishedThreadTakesNoMoreWork)
{
    auto worker = std::make_unique<Worker>();
    auto loop = worker->loop();
    int fired = 0;
    Timer timer = loop->addTimer(seconds(1), [&] { ++fired; }, true);
    worker.reset();
    EXPECT_FALSE(loop->perform([] {}));
    EXPECT_FALSE(timer.isValid());
    EXPECT_FALSE(loop->performAfter(seconds(1), [] {}).isValid());
    advance(5);
    EXPECT_EQ(fired, 0);
}

TEST(RunLoop, WorkerTimerFiresOnItsThreadWhenTheTestAdvancesTheClock)
{
    Worker worker;
    std::atomic<int> fired{0};
    std::atomic<QThread*> firedOn{nullptr};
    Timer sampling = worker.loop()->addTimer(seconds(2), [&] {
        firedOn = QThread::currentThread();
        ++fired;
    }, true);
    // The worker arms the timer on its own turn; the fire date is set at once.
    EXPECT_EQ(sampling.fireDate(), kt::clock()->monotonic() + seconds(2));
    QTest::qWait(20);
    EXPECT_EQ(fired.load(), 0);
    kt::clock()->advanceSeconds(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fired.load() == 1; }, 10'000));
    EXPECT_EQ(firedOn.load(), &worker.thread);
    sampling.invalidate();
}

TEST(RunLoop, SystemClockDrivesTimersAndTimeOutsInRealTime)
{
    Clock::setShared(nullptr); // this test only: the fixture installs a fresh manual clock for the next
    auto loop = RunLoop::main();
    int fired = 0;
    loop->performAfter(1ms, [&] { ++fired; });
    Timer repeating = loop->addTimer(2ms, [&] { ++fired; }, true);
    EXPECT_EQ(loop->runUntil([&] { return fired >= 3; }, 10s), WaitResult::Delivered);
    repeating.invalidate();
    const auto start = monotonicNow();
    WaitSource never;
    EXPECT_EQ(loop->runUntil(never, 20ms), WaitResult::TimedOut);
    EXPECT_GE(monotonicNow() - start, 20ms);
}
