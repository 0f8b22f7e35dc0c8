#include "platform/foundation/ConditionLock.h"

#include "platform/foundation/Assert.h"

#include <algorithm>

namespace platform {

ConditionLock::ConditionLock(int condition)
    : shared_(std::make_shared<Shared>())
{
    shared_->condition = condition;
}

void ConditionLock::lock()
{
    acquire([] { return true; }, nullptr);
}

bool ConditionLock::tryLock()
{
    std::lock_guard guard(shared_->mutex);
    if (shared_->locked)
        return false;
    shared_->locked = true;
    shared_->owner = std::this_thread::get_id();
    return true;
}

void ConditionLock::lockWhenCondition(int condition)
{
    acquire([this, condition] { return shared_->condition == condition; }, nullptr);
}

bool ConditionLock::tryLockWhenCondition(int condition)
{
    std::lock_guard guard(shared_->mutex);
    if (shared_->locked || shared_->condition != condition)
        return false;
    shared_->locked = true;
    shared_->owner = std::this_thread::get_id();
    return true;
}

bool ConditionLock::lockWhenCondition(int condition, Clock::Duration timeout)
{
    return acquire([this, condition] { return shared_->condition == condition; }, &timeout);
}

void ConditionLock::unlock()
{
    release(nullptr);
}

void ConditionLock::unlockWithCondition(int condition)
{
    release(&condition);
}

int ConditionLock::condition() const
{
    std::lock_guard guard(shared_->mutex);
    return shared_->condition;
}

bool ConditionLock::acquire(const std::function<bool()>& ready, const Clock::Duration* timeout)
{
    Shared& s = *shared_;
    const auto free = [&] { return !s.locked && ready(); };
    const auto take = [&] {
        s.locked = true;
        s.owner = std::this_thread::get_id();
        return true;
    };

    if (!timeout) {
        std::unique_lock guard(s.mutex);
        s.changed.wait(guard, free);
        return take();
    }

    const auto clock = Clock::shared();
    // Capped so that the deadline arithmetic cannot overflow; a century is "never" here.
    const Clock::Duration limit = std::clamp<Clock::Duration>(*timeout, Clock::Duration::zero(),
                                                             std::chrono::hours(24 * 365 * 100));
    const Clock::Duration deadline = clock->monotonic() + limit;
    if (!clock->isManual()) {
        // The system clock's monotonic reading is steady_clock's.
        const auto until = std::chrono::steady_clock::now() + (deadline - clock->monotonic());
        std::unique_lock guard(s.mutex);
        if (!s.changed.wait_until(guard, until, free))
            return false;
        return take();
    }

    // A manual clock moves only when told; its listener wakes us to look at the deadline again. The
    // listener takes our mutex before notifying, so a move between our reading and our wait is not lost.
    std::weak_ptr<Shared> weak = shared_;
    const int listener = clock->addListener([weak] {
        if (auto shared = weak.lock()) {
            std::lock_guard guard(shared->mutex);
            shared->changed.notify_all();
        }
    });
    bool acquired = false;
    {
        std::unique_lock guard(s.mutex);
        for (;;) {
            if (free()) {
                acquired = take();
                break;
            }
            if (clock->monotonic() >= deadline)
                break;
            s.changed.wait(guard);
        }
    }
    clock->removeListener(listener);
    return acquired;
}

void ConditionLock::release(const int* condition)
{
    Shared& s = *shared_;
    {
        std::lock_guard guard(s.mutex);
        KV_ASSERT_OR_RETURN(s.locked, , "ConditionLock: unlock of a lock that is not locked");
        KV_ASSERT_OR_RETURN(s.owner == std::this_thread::get_id(), ,
                            "ConditionLock: unlock by a thread that does not hold the lock");
        s.locked = false;
        s.owner = {};
        if (condition)
            s.condition = *condition;
    }
    s.changed.notify_all();
}

} // namespace platform
