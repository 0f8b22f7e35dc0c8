#pragma once
// A lock with an integer condition: lock when the condition has a value, unlock setting a new one. Time-outs
// follow Clock::shared(), so with a ManualClock a timed wait ends only when the clock is advanced past it.
// Shared by the threads that meet on it; unlocked only by the thread that locked it.

#include "platform/foundation/Clock.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace platform {

class ConditionLock {
public:
    explicit ConditionLock(int condition = 0);
    ConditionLock(const ConditionLock&) = delete;
    ConditionLock& operator=(const ConditionLock&) = delete;

    void lock();
    bool tryLock();
    void lockWhenCondition(int condition);
    bool tryLockWhenCondition(int condition);
    // False when `timeout` passed on the shared clock before the lock was free with that condition.
    bool lockWhenCondition(int condition, Clock::Duration timeout);
    void unlock();
    void unlockWithCondition(int condition);
    int condition() const;

private:
    // Kept alive by a clock listener that may still run after a timed wait removed it.
    struct Shared {
        std::mutex mutex;
        std::condition_variable changed;
        bool locked = false;
        std::thread::id owner;
        int condition = 0;
    };
    bool acquire(const std::function<bool()>& ready, const Clock::Duration* timeout);
    void release(const int* condition);

    std::shared_ptr<Shared> shared_;
};

} // namespace platform
