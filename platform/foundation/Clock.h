#pragma once
// The two clocks of the system: the wall clock (dates in archives and texts) and a monotonic clock
// (intervals, caches, hold-offs, run-loop timers). One process-wide instance, replaceable by tests with a
// ManualClock that only moves when told to. Thread-safe.

#include <QDateTime>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace platform {

class Clock {
public:
    using Duration = std::chrono::nanoseconds;

    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;        // UTC
    virtual Duration monotonic() const = 0;   // since an arbitrary origin
    virtual bool isManual() const { return false; }

    // Called (on the thread that moved the clock) after a manual clock moved; system clocks never call it.
    // Run loops use it to fire timers whose deadlines passed. Returns an id for removeListener.
    int addListener(std::function<void()> listener);
    void removeListener(int id);

    static std::shared_ptr<Clock> shared();
    // Installs `clock` as the process clock; null restores the system clock. Returns the previous one.
    static std::shared_ptr<Clock> setShared(std::shared_ptr<Clock> clock);

protected:
    void notifyListeners();

private:
    std::mutex listenersMutex_;
    std::vector<std::pair<int, std::function<void()>>> listeners_;
    int nextListenerId_ = 1;
};

// Convenience readers of the shared clock.
QDateTime currentDate();
Clock::Duration monotonicNow();
// Seconds (the unit of intervals in our interfaces) as a clock duration, to the nanosecond. NaN and
// negative values give 0; values beyond the range of Duration give its maximum.
Clock::Duration durationFromSeconds(double seconds);

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    Duration monotonic() const override;
};

// A clock that stands still until advanced; both readings move together.
class ManualClock final : public Clock {
public:
    explicit ManualClock(QDateTime start = QDateTime(QDate(2026, 1, 1), QTime(12, 0), Qt::UTC));
    QDateTime now() const override;
    Duration monotonic() const override;
    bool isManual() const override { return true; }

    void advance(Duration by);
    void advanceSeconds(double seconds);
    // Moves only the wall clock (the user set the date); the monotonic clock keeps its reading.
    void setNow(const QDateTime& wall);

private:
    mutable std::mutex mutex_;
    // The wall clock is derived from the monotonic one so that sub-millisecond steps do not drift apart.
    QDateTime wallBase_;
    Duration monotonicAtBase_{std::chrono::hours(1)};
    Duration monotonic_{std::chrono::hours(1)};
};

} // namespace platform
