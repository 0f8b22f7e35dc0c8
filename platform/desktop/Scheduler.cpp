#include "platform/desktop/Scheduler.h"

#include "platform/desktop/AlertPresenter.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/RunLoop.h"

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

namespace platform {

struct Scheduler::Entry {
    std::function<void()> fn;
    Timer timer;
    bool repeats = false;
    bool waitsWhileModal = false;
    bool valid = true;
    bool deferred = false; // came due inside a modal alert
};

namespace {

std::mutex g_mutex;
std::shared_ptr<Scheduler> g_scheduler;

// Main thread only: the entries whose firing waits for the modal alerts to end.
std::vector<std::shared_ptr<Scheduler::Entry>>& deferredEntries()
{
    static auto* entries = new std::vector<std::shared_ptr<Scheduler::Entry>>;
    return *entries;
}

void fire(const std::shared_ptr<Scheduler::Entry>& entry)
{
    if (!entry->repeats)
        entry->valid = false;
    // A copy: the handler may invalidate its own timer or drop the last handle.
    const auto fn = entry->fn;
    fn();
}

void fireDeferred()
{
    // Another alert may have opened between the end of the last one and this turn.
    if (AlertPresenter::modalDepth() > 0)
        return;
    const auto entries = std::exchange(deferredEntries(), {});
    for (const auto& entry : entries) {
        if (!entry->valid || !entry->deferred)
            continue;
        entry->deferred = false;
        fire(entry);
    }
}

void defer(const std::shared_ptr<Scheduler::Entry>& entry)
{
    static const bool listening = [] {
        // A later turn, not inside the closing alert's own stack.
        AlertPresenter::addModalEndListener([] {
            if (!deferredEntries().empty())
                if (auto loop = RunLoop::main())
                    loop->perform(fireDeferred);
        });
        return true;
    }();
    (void)listening;
    if (entry->deferred)
        return; // missed firings of a repeating timer coalesce into one
    entry->deferred = true;
    deferredEntries().push_back(entry);
}

} // namespace

bool Scheduler::Handle::isValid() const
{
    return entry_ && entry_->valid;
}

void Scheduler::Handle::invalidate()
{
    if (!entry_)
        return;
    entry_->valid = false;
    entry_->deferred = false;
    // Drops the run loop's callback and with it its reference to the entry.
    entry_->timer.invalidate();
}

Scheduler::Handle Scheduler::after(Clock::Duration delay, std::function<void()> fn, ModalPolicy policy)
{
    return schedule(std::max(delay, Clock::Duration::zero()), std::move(fn), false, policy);
}

Scheduler::Handle Scheduler::afterSeconds(double delay, std::function<void()> fn, ModalPolicy policy)
{
    return after(durationFromSeconds(delay), std::move(fn), policy);
}

Scheduler::Handle Scheduler::every(Clock::Duration interval, std::function<void()> fn, ModalPolicy policy)
{
    KV_ASSERT_OR_RETURN(interval > Clock::Duration::zero(), Handle(), "Scheduler: a repeating timer needs an interval above 0");
    return schedule(interval, std::move(fn), true, policy);
}

Scheduler::Handle Scheduler::schedule(Clock::Duration interval, std::function<void()> fn, bool repeats, ModalPolicy policy)
{
    const auto loop = RunLoop::main();
    if (!fn || !loop)
        return {};
    auto entry = std::make_shared<Entry>();
    entry->fn = std::move(fn);
    entry->repeats = repeats;
    entry->waitsWhileModal = policy == ModalPolicy::WaitWhileModal;
    // The run loop's callback keeps the entry alive as long as the timer runs, handles or none.
    entry->timer = loop->addTimer(interval, [entry] {
        if (!entry->valid)
            return;
        if (entry->waitsWhileModal && AlertPresenter::modalDepth() > 0)
            defer(entry);
        else if (!entry->deferred)
            fire(entry);
    }, repeats);
    Handle handle;
    handle.entry_ = std::move(entry);
    return handle;
}

std::shared_ptr<Scheduler> Scheduler::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_scheduler)
        g_scheduler = std::make_shared<Scheduler>();
    return g_scheduler;
}

void Scheduler::setShared(std::shared_ptr<Scheduler> scheduler)
{
    std::lock_guard lock(g_mutex);
    g_scheduler = std::move(scheduler);
}

} // namespace platform
