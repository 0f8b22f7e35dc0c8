#include "sensors/TEVLocalMemoryProbe.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "sensors/LocalSamplerThread.h"

#include <atomic>

namespace {

std::atomic<double> sampleInterval{2.0};

quint64 periodCount(const std::optional<quint64>& current, const std::optional<quint64>& last)
{
    return current && last && *current >= *last ? *current - *last : 0;
}

} // namespace

void TEVLocalMemoryProbe::setMemorySampleInterval(double seconds)
{
    if (seconds > 0)
        sampleInterval.store(seconds);
}

double TEVLocalMemoryProbe::memorySampleInterval()
{
    return sampleInterval.load();
}

std::shared_ptr<TEVLocalMemoryProbe> TEVLocalMemoryProbe::sharedMemoryProbe()
{
    static std::mutex creation;
    static std::shared_ptr<TEVLocalMemoryProbe> shared;
    std::lock_guard lock(creation);
    if (!shared) {
        shared = create(platform::HostRoot::current());
        const auto loop = shared ? LocalSamplerThread::runLoop() : nullptr;
        if (loop) {
            std::weak_ptr<TEVLocalMemoryProbe> weak = shared;
            shared->timer_ = loop->addTimer(platform::durationFromSeconds(sampleInterval.load()), [weak] {
                if (const auto probe = weak.lock())
                    probe->sample();
            }, true);
        }
    }
    return shared;
}

std::shared_ptr<TEVLocalMemoryProbe> TEVLocalMemoryProbe::create(std::shared_ptr<const platform::HostRoot> root)
{
    if (!root)
        return nullptr;
    const auto first = platform::VirtualMemoryStatistics::read(*root);
    if (!first)
        return nullptr;
    std::shared_ptr<TEVLocalMemoryProbe> probe(new TEVLocalMemoryProbe(std::move(root)));
    probe->current_ = *first;
    probe->last_ = *first;
    return probe;
}

TEVLocalMemoryProbe::~TEVLocalMemoryProbe()
{
    timer_.invalidate();
}

bool TEVLocalMemoryProbe::sample()
{
    const auto statistics = platform::VirtualMemoryStatistics::read(*root_);
    std::lock_guard lock(mutex_);
    if (!statistics) {
        if (!failing_)
            platform::log(QStringLiteral("TEVLocalMemoryProbe: internal system failure: could not get memory statistics\n"));
        failing_ = true;
        return false;
    }
    failing_ = false;
    last_ = current_;
    current_ = *statistics;
    return true;
}

quint64 TEVLocalMemoryProbe::freeMemory() const
{
    std::lock_guard lock(mutex_);
    return current_.freeBytes;
}

quint64 TEVLocalMemoryProbe::activeMemory() const
{
    std::lock_guard lock(mutex_);
    return current_.activeBytes;
}

quint64 TEVLocalMemoryProbe::inactiveMemory() const
{
    std::lock_guard lock(mutex_);
    return current_.inactiveBytes;
}

quint64 TEVLocalMemoryProbe::wiredMemory() const
{
    std::lock_guard lock(mutex_);
    return current_.wiredBytes;
}

quint64 TEVLocalMemoryProbe::swapTotal() const
{
    std::lock_guard lock(mutex_);
    return current_.swapTotalBytes;
}

quint64 TEVLocalMemoryProbe::swapUsed() const
{
    std::lock_guard lock(mutex_);
    return current_.swapUsedBytes();
}

quint64 TEVLocalMemoryProbe::accumulatedPageIns() const
{
    std::lock_guard lock(mutex_);
    return current_.pageIns.value_or(0);
}

quint64 TEVLocalMemoryProbe::accumulatedPageOuts() const
{
    std::lock_guard lock(mutex_);
    return current_.pageOuts.value_or(0);
}

quint64 TEVLocalMemoryProbe::currentPageIns() const
{
    std::lock_guard lock(mutex_);
    return periodCount(current_.pageIns, last_.pageIns);
}

quint64 TEVLocalMemoryProbe::currentPageOuts() const
{
    std::lock_guard lock(mutex_);
    return periodCount(current_.pageOuts, last_.pageOuts);
}
