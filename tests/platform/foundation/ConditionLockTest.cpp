#include "platform/foundation/ConditionLock.h"

#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;
namespace kt = kelvaro::test;

TEST(ConditionLock, TryLocksFollowStateAndCondition)
{
    ConditionLock lock(3);
    EXPECT_EQ(lock.condition(), 3);
    EXPECT_FALSE(lock.tryLockWhenCondition(1));
    EXPECT_TRUE(lock.tryLockWhenCondition(3));
    EXPECT_FALSE(lock.tryLock());
    lock.unlockWithCondition(1);
    EXPECT_EQ(lock.condition(), 1);
    EXPECT_TRUE(lock.tryLock());
    lock.unlock();
    EXPECT_EQ(lock.condition(), 1);
    // Timed, with what it waits for already there: no clock movement needed.
    EXPECT_TRUE(lock.lockWhenCondition(1, durationFromSeconds(10)));
    lock.unlock();
}

TEST(ConditionLock, LockWhenConditionWaitsForTheOtherThread)
{
    ConditionLock lock(0);
    lock.lock();
    auto taken = std::async(std::launch::async, [&] {
        lock.lockWhenCondition(1);
        const int seen = lock.condition();
        lock.unlockWithCondition(2);
        return seen;
    });
    lock.unlockWithCondition(0); // free, but not with the awaited condition
    EXPECT_EQ(taken.wait_for(20ms), std::future_status::timeout);
    lock.lock();
    lock.unlockWithCondition(1);
    ASSERT_EQ(taken.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(taken.get(), 1);
    EXPECT_EQ(lock.condition(), 2);
}

TEST(ConditionLock, TimedLockRunsOutOnlyWhenTheManualClockPassesItsLimit)
{
    ConditionLock lock(0);
    std::promise<Clock::Duration> started;
    auto waited = std::async(std::launch::async, [&] {
        started.set_value(kt::clock()->monotonic());
        const bool acquired = lock.lockWhenCondition(1, durationFromSeconds(10));
        return std::make_pair(acquired, kt::clock()->monotonic());
    });
    const Clock::Duration start = started.get_future().get();
    // Standing still, the wait never runs out however long it takes in real time.
    EXPECT_EQ(waited.wait_for(50ms), std::future_status::timeout);
    // Step the clock until it gives up; the step it gives up at tells when it did.
    for (int i = 0; i < 1000 && waited.wait_for(5ms) != std::future_status::ready; ++i)
        kt::clock()->advanceSeconds(1);
    ASSERT_EQ(waited.wait_for(10s), std::future_status::ready);
    const auto [acquired, end] = waited.get();
    EXPECT_FALSE(acquired);
    EXPECT_GE(end - start, durationFromSeconds(10));
    EXPECT_LE(end - start, durationFromSeconds(12));
    EXPECT_EQ(lock.condition(), 0);
    EXPECT_TRUE(lock.tryLock());
    lock.unlock();
}

TEST(ConditionLock, TimedLockSucceedsWhenTheConditionComesInTime)
{
    ConditionLock lock(0);
    auto waited = std::async(std::launch::async, [&] {
        const bool acquired = lock.lockWhenCondition(1, durationFromSeconds(10));
        if (acquired)
            lock.unlockWithCondition(0);
        return acquired;
    });
    kt::clock()->advanceSeconds(5);
    lock.lock();
    lock.unlockWithCondition(1);
    ASSERT_EQ(waited.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(waited.get());
    EXPECT_EQ(lock.condition(), 0);
}

TEST(ConditionLockDeathTest, UnlockByAnotherThreadIsAContractViolation)
{
#ifdef NDEBUG
    GTEST_SKIP() << "contract checks only log in release builds";
#endif
    ConditionLock lock;
    lock.lock();
    // The description goes to the test's capturing log, so only the abort is visible here.
    EXPECT_DEATH(std::thread([&] { lock.unlock(); }).join(), "");
    lock.unlock();
}
