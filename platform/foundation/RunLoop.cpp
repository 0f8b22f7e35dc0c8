#include "platform/foundation/RunLoop.h"

#include "platform/foundation/Assert.h"
#include "platform/foundation/HappensBefore.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <map>

namespace platform {

namespace detail {

struct TimerEntry {
    Clock::Duration deadline{};   // on the loop's clock (monotonic)
    Clock::Duration interval{};
    std::function<void()> fn;
    quint64 sequence = 0;         // ties between equal deadlines go to the older timer
    quint64 lastPass = 0;         // the fireDue pass that last fired (or created) it
    bool repeats = false;
    bool valid = true;
    bool running = false;         // its handler is on the stack
};

} // namespace detail

namespace {

using Duration = Clock::Duration;

// While a nested wait blocks for events it also wakes this often (real time) to notice
// QThread::requestInterruption, which posts nothing.
constexpr int kInterruptionPollMs = 50;

Duration addSaturated(Duration a, Duration b)
{
    if (b > Duration::zero() && a > Duration::max() - b)
        return Duration::max();
    if (b < Duration::zero() && a < Duration::min() - b)
        return Duration::min();
    return a + b;
}

// QTimer takes whole milliseconds; rounding up keeps it from firing before the deadline.
int timerMilliseconds(Duration remaining)
{
    const auto ms = (remaining.count() + 999'999) / 1'000'000;
    return int(std::clamp<qint64>(ms, 0, INT_MAX / 2));
}

// The first point of the timer's cadence after `now` (deadline <= now): missed firings coalesce.
Duration nextCadence(Duration deadline, Duration interval, Duration now)
{
    const auto missed = (now - deadline) / interval;
    const auto steps = missed + 1;
    if (steps > (Duration::max() - deadline) / interval)
        return Duration::max();
    return deadline + interval * steps;
}

// A functor handed to Qt on one thread and called there or on another: a queued call (built on the posting
// thread, called and destroyed on the loop's thread, or destroyed back on the posting thread when Qt drops
// its last reference there after the call ran), or a connection made while the emitting thread runs.
// Qt's post-event lock, connection lock and reference counts order these steps; the marks let
// ThreadSanitizer see that order.
template<typename Fn>
class HandedOverCall {
public:
    explicit HandedOverCall(Fn fn)
        : fn_(std::move(fn))
    {
        happensbefore::release(this);
    }
    HandedOverCall(HandedOverCall&& other) noexcept
        : fn_((happensbefore::acquire(&other), std::move(other.fn_)))
    {
        happensbefore::release(this);
    }
    HandedOverCall(const HandedOverCall&) = delete;
    HandedOverCall& operator=(const HandedOverCall&) = delete;
    HandedOverCall& operator=(HandedOverCall&&) = delete;
    ~HandedOverCall() { happensbefore::acquire(this); }

    void operator()()
    {
        happensbefore::acquire(this);
        fn_();
        happensbefore::release(this);
    }

private:
    Fn fn_;
};

template<typename Fn>
HandedOverCall<Fn> handedOver(Fn fn)
{
    return HandedOverCall<Fn>(std::move(fn));
}

template<typename Fn>
void postQueued(QObject* context, Fn fn)
{
    QMetaObject::invokeMethod(context, handedOver(std::move(fn)), Qt::QueuedConnection);
}

struct Registry {
    std::mutex mutex;
    std::map<QThread*, std::shared_ptr<RunLoop>> loops;
};

Registry& registry()
{
    // Never destroyed: the main thread's loop outlives every static.
    static Registry* instance = new Registry;
    return *instance;
}

void unregister(QThread* thread, const RunLoop* loop)
{
    std::shared_ptr<RunLoop> dropped; // released after the registry lock
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.loops.find(thread);
    if (it != r.loops.end() && it->second.get() == loop) {
        dropped = std::move(it->second);
        r.loops.erase(it);
    }
}

} // namespace

const char* waitResultName(WaitResult result)
{
    switch (result) {
    case WaitResult::Delivered: return "delivered";
    case WaitResult::TimedOut: return "timed out";
    case WaitResult::Withdrawn: return "withdrawn";
    case WaitResult::Cancelled: return "cancelled";
    }
    return "?";
}

// ---- Timer

bool Timer::isValid() const
{
    auto loop = loop_.lock();
    if (!loop || !entry_)
        return false;
    std::lock_guard lock(loop->mutex_);
    return entry_->valid;
}

void Timer::invalidate()
{
    auto loop = loop_.lock();
    if (!loop || !entry_)
        return;
    std::function<void()> dropped; // its captures die outside the lock
    {
        std::lock_guard lock(loop->mutex_);
        if (!entry_->valid)
            return;
        entry_->valid = false;
        if (!entry_->running) {
            dropped = std::move(entry_->fn);
            std::erase(loop->timers_, entry_);
        }
    }
}

bool Timer::repeats() const
{
    return entry_ && entry_->repeats;
}

Clock::Duration Timer::interval() const
{
    auto loop = loop_.lock();
    if (!loop || !entry_)
        return {};
    std::lock_guard lock(loop->mutex_);
    return entry_->interval;
}

void Timer::setInterval(Clock::Duration interval)
{
    auto loop = loop_.lock();
    if (!loop || !entry_)
        return;
    KV_ASSERT_OR_RETURN(!entry_->repeats || interval > Duration::zero(), ,
                        "RunLoop: a repeating timer needs an interval above 0");
    {
        std::lock_guard lock(loop->mutex_);
        if (!entry_->valid)
            return;
        entry_->interval = interval;
        if (entry_->repeats)
            entry_->deadline = addSaturated(loop->syncClockLocked()->monotonic(), interval);
    }
    loop->wake();
}

std::optional<Clock::Duration> Timer::fireDate() const
{
    auto loop = loop_.lock();
    if (!loop || !entry_)
        return std::nullopt;
    std::lock_guard lock(loop->mutex_);
    loop->syncClockLocked();
    if (!entry_->valid)
        return std::nullopt;
    return entry_->deadline;
}

void Timer::setFireDate(Clock::Duration monotonicDeadline)
{
    auto loop = loop_.lock();
    if (!loop || !entry_)
        return;
    {
        std::lock_guard lock(loop->mutex_);
        loop->syncClockLocked();
        if (!entry_->valid)
            return;
        entry_->deadline = monotonicDeadline;
    }
    loop->wake();
}

// ---- WaitSource

void WaitSource::deliver()
{
    settle(State::Delivered);
}

void WaitSource::withdraw()
{
    settle(State::Withdrawn);
}

void WaitSource::reportProgress()
{
    // No wake-up: the waiting loop reads the progress whenever it next looks at its deadline.
    const Duration now = monotonicNow();
    std::lock_guard lock(mutex_);
    if (state_ != State::Pending)
        return;
    ++progressCount_;
    lastProgress_ = now;
}

bool WaitSource::isDelivered() const
{
    std::lock_guard lock(mutex_);
    return state_ == State::Delivered;
}

bool WaitSource::isWithdrawn() const
{
    std::lock_guard lock(mutex_);
    return state_ == State::Withdrawn;
}

void WaitSource::settle(State state)
{
    std::vector<std::weak_ptr<RunLoop>> waiters;
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::Pending)
            return;
        state_ = state;
        waiters = waiters_;
    }
    // A loop settled from its own thread is inside its wait's turn, and looks again when the turn ends.
    for (const auto& weak : waiters)
        if (auto loop = weak.lock(); loop && !loop->isCurrent())
            loop->wake();
}

void WaitSource::attach(const std::shared_ptr<RunLoop>& loop)
{
    std::lock_guard lock(mutex_);
    waiters_.push_back(loop);
}

void WaitSource::detach(const RunLoop* loop)
{
    std::lock_guard lock(mutex_);
    // One entry only: the same loop may wait on this source in an outer wait as well.
    auto it = std::find_if(waiters_.begin(), waiters_.end(), [loop](const std::weak_ptr<RunLoop>& weak) {
        auto l = weak.lock();
        return !l || l.get() == loop;
    });
    if (it != waiters_.end())
        waiters_.erase(it);
}

// ---- RunLoop

std::shared_ptr<RunLoop> RunLoop::forThread(QThread* thread)
{
    if (!thread || thread->isFinished())
        return nullptr;
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    auto& slot = r.loops[thread];
    if (slot)
        return slot;
    slot = std::shared_ptr<RunLoop>(new RunLoop(thread));
    std::weak_ptr<RunLoop> weak = slot;
    // Both run on the thread that emits them: finished on the ending thread itself.
    QObject::connect(thread, &QThread::finished, thread, handedOver([weak] {
        if (auto loop = weak.lock())
            loop->threadFinished();
    }), Qt::DirectConnection);
    QObject::connect(thread, &QObject::destroyed, handedOver([thread, weak] {
        if (auto loop = weak.lock())
            unregister(thread, loop.get());
    }));
    return slot;
}

std::shared_ptr<RunLoop> RunLoop::current()
{
    return forThread(QThread::currentThread());
}

std::shared_ptr<RunLoop> RunLoop::main()
{
    auto* app = QCoreApplication::instance();
    return app ? forThread(app->thread()) : nullptr;
}

RunLoop::RunLoop(QThread* thread)
    : thread_(thread)
{
    context_ = new QObject;
    systemTimer_ = new QTimer(context_);
    systemTimer_->setSingleShot(true);
    systemTimer_->setTimerType(Qt::PreciseTimer);
    // context_ dies before this object does, and with it the connection.
    QObject::connect(systemTimer_, &QTimer::timeout, context_, [this] { fireDue(); });
    if (context_->thread() != thread)
        context_->moveToThread(thread);
    // Qt's state for the move, made here, is freed with the context on its own thread (threadFinished).
    happensbefore::release(context_);
}

RunLoop::~RunLoop()
{
    if (clock_)
        clock_->removeListener(clockListener_);
    // Only a loop whose thread never ran still has its context here; no event of it can be running.
    delete context_;
}

bool RunLoop::isCurrent() const
{
    return QThread::currentThread() == thread_;
}

bool RunLoop::perform(std::function<void()> fn)
{
    if (!fn)
        return false;
    std::lock_guard lock(postMutex_);
    if (finished_ || !context_)
        return false;
    postQueued(context_, std::move(fn));
    return true;
}

Timer RunLoop::performAfter(Clock::Duration delay, std::function<void()> fn)
{
    return schedule(std::max(delay, Duration::zero()), Duration::zero(), std::move(fn), false);
}

Timer RunLoop::addTimer(Clock::Duration interval, std::function<void()> fn, bool repeats)
{
    KV_ASSERT_OR_RETURN(!repeats || interval > Duration::zero(), Timer(),
                        "RunLoop: a repeating timer needs an interval above 0");
    return schedule(std::max(interval, Duration::zero()), interval, std::move(fn), repeats);
}

Timer RunLoop::schedule(Clock::Duration delay, Clock::Duration interval, std::function<void()> fn, bool repeats)
{
    if (!fn)
        return {};
    {
        std::lock_guard lock(postMutex_);
        if (finished_)
            return {};
    }
    auto entry = std::make_shared<detail::TimerEntry>();
    {
        std::lock_guard lock(mutex_);
        entry->deadline = addSaturated(syncClockLocked()->monotonic(), delay);
        entry->interval = interval;
        entry->fn = std::move(fn);
        entry->repeats = repeats;
        entry->sequence = nextSequence_++;
        entry->lastPass = pass_; // not before the next pass, even when created inside a firing
        timers_.push_back(entry);
    }
    // On its own thread the loop needs no turn of its own to take a later timer in: setting the system
    // timer is enough (one already due still wakes it).
    if (isCurrent() && systemTimer_)
        arm();
    else
        wake();
    Timer timer;
    timer.entry_ = std::move(entry);
    timer.loop_ = weak_from_this();
    return timer;
}

void RunLoop::wake()
{
    if (wakePosted_.exchange(true))
        return;
    std::weak_ptr<RunLoop> weak = weak_from_this();
    std::lock_guard lock(postMutex_);
    if (finished_ || !context_)
        return;
    postQueued(context_, [weak] {
        if (auto loop = weak.lock())
            loop->fireDue();
    });
}

void RunLoop::fireDue()
{
    wakePosted_ = false;
    quint64 pass;
    {
        std::lock_guard lock(mutex_);
        pass = ++pass_;
    }
    for (;;) {
        std::shared_ptr<detail::TimerEntry> due;
        std::function<void()> oneShot;
        {
            std::lock_guard lock(mutex_);
            const Duration now = syncClockLocked()->monotonic();
            for (const auto& entry : timers_) {
                // Each timer fires at most once per pass, so a slow handler cannot starve queued calls.
                if (!entry->valid || entry->running || entry->lastPass >= pass || entry->deadline > now)
                    continue;
                if (!due || entry->deadline < due->deadline
                    || (entry->deadline == due->deadline && entry->sequence < due->sequence))
                    due = entry;
            }
            if (!due)
                break;
            due->lastPass = pass;
            if (due->repeats) {
                due->running = true;
                due->deadline = nextCadence(due->deadline, due->interval, now);
            } else {
                due->valid = false;
                oneShot = std::move(due->fn);
                std::erase(timers_, due);
            }
        }
        if (oneShot) {
            oneShot();
            continue;
        }
        // While running, nobody else touches fn: invalidate() leaves it to us.
        due->fn();
        std::function<void()> dropped;
        {
            std::lock_guard lock(mutex_);
            due->running = false;
            if (!due->valid) {
                dropped = std::move(due->fn);
                std::erase(timers_, due);
            }
        }
    }
    arm();
}

void RunLoop::arm()
{
    std::optional<Duration> earliest;
    Duration now{};
    bool manual = false;
    {
        std::lock_guard lock(mutex_);
        const auto clock = syncClockLocked();
        now = clock->monotonic();
        manual = clock->isManual();
        for (const auto& entry : timers_)
            if (entry->valid && !entry->running && (!earliest || entry->deadline < *earliest))
                earliest = entry->deadline;
    }
    if (!systemTimer_)
        return;
    if (earliest && *earliest <= now) {
        systemTimer_->stop();
        wake();
    } else if (!earliest || manual) {
        // A manual clock wakes us through its listener when it moves.
        systemTimer_->stop();
    } else {
        systemTimer_->start(timerMilliseconds(*earliest - now));
    }
}

std::shared_ptr<Clock> RunLoop::syncClockLocked()
{
    auto shared = Clock::shared();
    if (shared == clock_)
        return clock_;
    if (clock_) {
        const Duration oldNow = clock_->monotonic();
        const Duration newNow = shared->monotonic();
        for (const auto& entry : timers_)
            entry->deadline = addSaturated(newNow, entry->deadline - oldNow);
        clock_->removeListener(clockListener_);
    }
    clock_ = std::move(shared);
    std::weak_ptr<RunLoop> weak = weak_from_this();
    clockListener_ = clock_->addListener([weak] {
        if (auto loop = weak.lock())
            loop->wake();
    });
    return clock_;
}

void RunLoop::threadFinished()
{
    QObject* context = nullptr;
    {
        std::lock_guard lock(postMutex_);
        finished_ = true;
        context = std::exchange(context_, nullptr);
    }
    std::vector<std::function<void()>> dropped;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : timers_) {
            entry->valid = false;
            if (!entry->running)
                dropped.push_back(std::move(entry->fn));
        }
        timers_.clear();
        if (clock_)
            clock_->removeListener(clockListener_);
        clock_.reset();
    }
    dropped.clear();
    systemTimer_ = nullptr;
    happensbefore::acquire(context);
    delete context; // on its own thread: finished is emitted there; pending calls die with it
    unregister(thread_, this);
    // The thread's work is over; whoever returns from QThread::wait on it acquires this.
    happensbefore::release(thread_);
}

void RunLoop::cancel()
{
    cancelled_ = true;
    {
        std::lock_guard lock(postMutex_);
        if (finished_)
            return; // the thread object may be gone
        thread_->requestInterruption();
    }
    wake();
}

bool RunLoop::isCancelled() const
{
    if (cancelled_)
        return true;
    std::lock_guard lock(postMutex_);
    return !finished_ && thread_->isInterruptionRequested();
}

WaitResult RunLoop::runUntil(WaitSource& source, Clock::Duration timeout)
{
    return wait(source, nullptr, timeout);
}

WaitResult RunLoop::runUntil(const std::function<bool()>& done, Clock::Duration timeout)
{
    WaitSource source;
    return wait(source, &done, timeout);
}

WaitResult RunLoop::wait(WaitSource& source, const std::function<bool()>* done, Clock::Duration timeout)
{
    KV_ASSERT_OR_RETURN(isCurrent(), WaitResult::Cancelled, "RunLoop: runUntil called off the loop's thread");
    auto self = shared_from_this();
    source.attach(self);

    std::shared_ptr<Clock> clock;
    {
        std::lock_guard lock(mutex_);
        clock = syncClockLocked();
    }
    Duration from = clock->monotonic(); // the time-out runs from here or from the latest progress
    quint64 progressSeen;
    {
        std::lock_guard lock(source.mutex_);
        progressSeen = source.progressCount_;
    }

    QTimer interruptionPoll;
    interruptionPoll.start(kInterruptionPollMs);
    QTimer deadlineTimer;
    deadlineTimer.setSingleShot(true);
    deadlineTimer.setTimerType(Qt::PreciseTimer);

    WaitResult result;
    bool drained = false;
    for (;;) {
        if (done && (*done)())
            source.deliver();
        {
            std::lock_guard lock(source.mutex_);
            if (source.state_ == WaitSource::State::Delivered) {
                result = WaitResult::Delivered;
                break;
            }
            if (source.state_ == WaitSource::State::Withdrawn) {
                result = WaitResult::Withdrawn;
                break;
            }
            if (source.progressCount_ != progressSeen) {
                progressSeen = source.progressCount_;
                from = std::max(from, source.lastProgress_);
            }
        }
        if (isCancelled()) {
            result = WaitResult::Cancelled;
            break;
        }
        const Duration now = clock->monotonic();
        const Duration deadline = addSaturated(from, timeout);
        if (now >= deadline) {
            result = WaitResult::TimedOut;
            break;
        }
        // Calls queued behind the one this wait may run inside: a nested glib iteration only dispatches
        // calls posted after that one began, so deliver the earlier ones here, then look again.
        if (!drained) {
            drained = true;
            QCoreApplication::sendPostedEvents();
            continue;
        }
        drained = false;
        if (!clock->isManual())
            deadlineTimer.start(timerMilliseconds(deadline - now));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    source.detach(this);
    return result;
}

} // namespace platform
