#pragma once
// The run loop of a thread: queued calls, delayed calls, timers and nested waits on a QThread's event
// loop, all timed by Clock::shared(). One per QThread, made on first use and dropped when the thread
// finishes; its handle may be used from any thread, but waits run only on the loop's own thread.
//
// Timing rules:
// - With a ManualClock nothing fires until the clock is advanced; the loop's thread is then woken with a
//   queued call and fires what is due in deadline order. With the system clock a QTimer is armed on the
//   nearest deadline.
// - Missed firings of a repeating timer coalesce into one: after a stall (a blocked thread, a clock that
//   jumped 600 s past a 60 s timer) it fires once and then keeps its original cadence, without a burst.
// - A repeating timer is never re-entered. Firings that come due while its own handler runs (for instance
//   inside a nested wait) are deferred and coalesced the same way: one firing right after the handler
//   returns, then the original cadence.

#include "platform/foundation/Clock.h"

#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

QT_BEGIN_NAMESPACE
class QObject;
class QThread;
class QTimer;
QT_END_NAMESPACE

namespace platform {

class RunLoop;

namespace detail {
struct TimerEntry;
}

// Handle of a timer or delayed call. Copies share the timer; dropping every handle does not stop it: the
// run loop keeps it until it is invalidated or, being one-shot, has fired.
class Timer {
public:
    Timer() = default;

    bool isValid() const;
    // From the loop's own thread this is exact; from another thread a firing already under way still runs.
    void invalidate();
    bool repeats() const;
    Clock::Duration interval() const;
    // A repeating timer's new period; its next firing is one new period from now.
    void setInterval(Clock::Duration interval);
    // The next firing, a reading of the shared clock's monotonic(); none once invalid.
    std::optional<Clock::Duration> fireDate() const;
    void setFireDate(Clock::Duration monotonicDeadline);

private:
    friend class RunLoop;
    std::shared_ptr<detail::TimerEntry> entry_;
    std::weak_ptr<RunLoop> loop_;
};

// How a nested wait ended.
enum class WaitResult {
    Delivered, // what it waited for arrived
    TimedOut,  // a whole time-out passed without progress of the source
    Withdrawn, // the source's owner withdrew it
    Cancelled, // the thread was cancelled (RunLoop::cancel or QThread::requestInterruption)
};
const char* waitResultName(WaitResult result);

// What a nested wait waits for, shared by the waiter and the awaited party (usually through a
// shared_ptr). deliver, withdraw and reportProgress may be called from any thread; the first of deliver
// and withdraw settles the source and later calls change nothing.
class WaitSource {
public:
    WaitSource() = default;
    WaitSource(const WaitSource&) = delete;
    WaitSource& operator=(const WaitSource&) = delete;

    void deliver();
    void withdraw();
    // Something arrived (e.g. bytes of a reply); a wait on this source restarts its time-out from now.
    void reportProgress();

    bool isDelivered() const;
    bool isWithdrawn() const;

private:
    friend class RunLoop;
    enum class State { Pending, Delivered, Withdrawn };
    void settle(State state);
    void attach(const std::shared_ptr<RunLoop>& loop);
    void detach(const RunLoop* loop);

    mutable std::mutex mutex_;
    State state_ = State::Pending;
    quint64 progressCount_ = 0;
    Clock::Duration lastProgress_{};
    std::vector<std::weak_ptr<RunLoop>> waiters_;
};

class RunLoop : public std::enable_shared_from_this<RunLoop> {
public:
    // Null for a null or finished thread.
    static std::shared_ptr<RunLoop> forThread(QThread* thread);
    static std::shared_ptr<RunLoop> current();
    static std::shared_ptr<RunLoop> main();

    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    QThread* thread() const { return thread_; }
    bool isCurrent() const;

    // Queues `fn` to run on the loop's thread on a later turn. False (and `fn` dropped) once the thread
    // has finished.
    bool perform(std::function<void()> fn);
    // Runs `fn` once on the loop's thread when `delay` has passed on the shared clock. Invalidating the
    // handle cancels it.
    Timer performAfter(Clock::Duration delay, std::function<void()> fn);
    // The first firing is one interval from now. A repeating timer needs an interval above 0.
    Timer addTimer(Clock::Duration interval, std::function<void()> fn, bool repeats);

    // Runs this loop on its own thread (timers and performed calls fire meanwhile) until the source is
    // delivered or withdrawn, the thread is cancelled, or `timeout` passes on the shared clock without
    // progress of the source (reportProgress); other work handled meanwhile does not extend the time-out.
    // A settled source ends the wait before cancellation and time-out are looked at.
    WaitResult runUntil(WaitSource& source, Clock::Duration timeout);
    // The same for a condition that becomes true through work on this thread; it is evaluated after every
    // turn. A condition that another thread makes true needs a WaitSource, which wakes the loop.
    WaitResult runUntil(const std::function<bool()>& done, Clock::Duration timeout);

    // Cancels the thread: requests its interruption and ends its current and later nested waits with
    // Cancelled. Ending the thread's own event loop stays with its owner (QThread::quit).
    void cancel();
    bool isCancelled() const;

private:
    friend class Timer;
    friend class WaitSource;
    explicit RunLoop(QThread* thread);

    void wake();
    void fireDue();
    void arm();
    void threadFinished();
    // Follows Clock::shared() when a test replaced it: listens to the new clock and moves pending
    // deadlines over with their remaining time. Needs mutex_.
    std::shared_ptr<Clock> syncClockLocked();
    Timer schedule(Clock::Duration delay, Clock::Duration interval, std::function<void()> fn, bool repeats);
    WaitResult wait(WaitSource& source, const std::function<bool()>* done, Clock::Duration timeout);

    QThread* const thread_;

    // Guards context_ against the thread's end; nothing else is done under it, so posting never blocks.
    mutable std::mutex postMutex_;
    QObject* context_ = nullptr; // lives on thread_; queued calls are posted to it
    QTimer* systemTimer_ = nullptr; // child of context_; only touched on thread_
    bool finished_ = false;

    // Guards timers_, clock_ and the entries' fields.
    mutable std::mutex mutex_;
    std::vector<std::shared_ptr<detail::TimerEntry>> timers_;
    quint64 nextSequence_ = 1;
    quint64 pass_ = 0;
    std::shared_ptr<Clock> clock_;
    int clockListener_ = 0;

    std::atomic<bool> wakePosted_{false};
    std::atomic<bool> cancelled_{false};
};

} // namespace platform
