#pragma once
// Scheduler: one-shot and repeating timers on the main thread, timed by the shared clock (a test's
// ManualClock fires them only when advanced). One process-wide instance; main thread only.
//
// A timer made with ModalPolicy::WaitWhileModal does not fire inside a modal alert
// (AlertPresenter::modalDepth() above zero): a firing that comes due then runs once, on a later turn, after
// the last alert closed. A repeating timer keeps its cadence meanwhile and makes up no missed firings.

#include "platform/foundation/Clock.h"

#include <functional>
#include <memory>

namespace platform {

enum class ModalPolicy { FireWhileModal, WaitWhileModal };

class Scheduler {
public:
    struct Entry;

    // Copies share the timer. Dropping every handle does not stop it: a repeating timer runs until
    // invalidated, a one-shot until it has fired.
    class Handle {
    public:
        Handle() = default;
        bool isValid() const;
        // Also drops a firing that waits for a modal alert to end.
        void invalidate();

    private:
        friend class Scheduler;
        std::shared_ptr<Entry> entry_;
    };

    virtual ~Scheduler() = default;

    // Runs `fn` once when `delay` has passed.
    Handle after(Clock::Duration delay, std::function<void()> fn, ModalPolicy policy = ModalPolicy::FireWhileModal);
    Handle afterSeconds(double delay, std::function<void()> fn, ModalPolicy policy = ModalPolicy::FireWhileModal);
    // Runs `fn` every `interval` (above zero), the first time one interval from now.
    Handle every(Clock::Duration interval, std::function<void()> fn, ModalPolicy policy = ModalPolicy::FireWhileModal);

    static std::shared_ptr<Scheduler> shared();
    // Null returns to a fresh scheduler. Timers made earlier keep running.
    static void setShared(std::shared_ptr<Scheduler> scheduler);

private:
    Handle schedule(Clock::Duration interval, std::function<void()> fn, bool repeats, ModalPolicy policy);
};

} // namespace platform
