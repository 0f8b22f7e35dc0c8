#include "platform/foundation/Clock.h"

#include <algorithm>
#include <cmath>

namespace platform {
namespace {

std::mutex& sharedMutex()
{
    static std::mutex m;
    return m;
}

std::shared_ptr<Clock>& sharedClock()
{
    static std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
    return clock;
}

} // namespace

int Clock::addListener(std::function<void()> listener)
{
    std::lock_guard lock(listenersMutex_);
    const int id = nextListenerId_++;
    listeners_.emplace_back(id, std::move(listener));
    return id;
}

void Clock::removeListener(int id)
{
    std::lock_guard lock(listenersMutex_);
    std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
}

void Clock::notifyListeners()
{
    std::vector<std::function<void()>> copy;
    {
        std::lock_guard lock(listenersMutex_);
        for (const auto& entry : listeners_)
            copy.push_back(entry.second);
    }
    for (const auto& listener : copy)
        listener();
}

std::shared_ptr<Clock> Clock::shared()
{
    std::lock_guard lock(sharedMutex());
    return sharedClock();
}

std::shared_ptr<Clock> Clock::setShared(std::shared_ptr<Clock> clock)
{
    if (!clock)
        clock = std::make_shared<SystemClock>();
    std::lock_guard lock(sharedMutex());
    std::swap(sharedClock(), clock);
    return clock;
}

QDateTime currentDate()
{
    return Clock::shared()->now();
}

Clock::Duration monotonicNow()
{
    return Clock::shared()->monotonic();
}

Clock::Duration durationFromSeconds(double seconds)
{
    if (!(seconds > 0))
        return Clock::Duration::zero();
    const double nanoseconds = seconds * 1e9;
    if (nanoseconds >= double(Clock::Duration::max().count()))
        return Clock::Duration::max();
    return Clock::Duration(std::llround(nanoseconds));
}

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTimeUtc();
}

Clock::Duration SystemClock::monotonic() const
{
    return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now().time_since_epoch());
}

ManualClock::ManualClock(QDateTime start)
    : wallBase_(start.toUTC())
{
}

QDateTime ManualClock::now() const
{
    std::lock_guard lock(mutex_);
    return wallBase_.addMSecs(std::chrono::duration_cast<std::chrono::milliseconds>(monotonic_ - monotonicAtBase_).count());
}

Clock::Duration ManualClock::monotonic() const
{
    std::lock_guard lock(mutex_);
    return monotonic_;
}

void ManualClock::advance(Duration by)
{
    {
        std::lock_guard lock(mutex_);
        monotonic_ += by;
    }
    notifyListeners();
}

void ManualClock::advanceSeconds(double seconds)
{
    advance(Duration(std::llround(seconds * 1e9)));
}

void ManualClock::setNow(const QDateTime& wall)
{
    {
        std::lock_guard lock(mutex_);
        wallBase_ = wall.toUTC();
        monotonicAtBase_ = monotonic_;
    }
    notifyListeners();
}

} // namespace platform
