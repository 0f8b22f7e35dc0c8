#include "sensors/TEVLocalCPULoadProbe.h"

#include "platform/foundation/Clock.h"
#include "sensors/LocalSamplerThread.h"

#include <atomic>

namespace {

std::atomic<double> sampleInterval{1.0};

// A counter that went backwards (a CPU brought back online restarts at 0) counts as no time passed.
quint64 delta(quint64 current, quint64 previous)
{
    return current >= previous ? current - previous : 0;
}

} // namespace

void TEVLocalCPULoadProbe::setCPULoadSampleInterval(double seconds)
{
    if (seconds > 0)
        sampleInterval.store(seconds);
}

double TEVLocalCPULoadProbe::cpuLoadSampleInterval()
{
    return sampleInterval.load();
}

std::shared_ptr<TEVLocalCPULoadProbe> TEVLocalCPULoadProbe::sharedCPULoadProbe()
{
    static std::mutex creation;
    static std::shared_ptr<TEVLocalCPULoadProbe> shared;
    std::lock_guard lock(creation);
    if (!shared) {
        shared = std::make_shared<TEVLocalCPULoadProbe>(platform::HostRoot::current());
        if (const auto loop = LocalSamplerThread::runLoop()) {
            std::weak_ptr<TEVLocalCPULoadProbe> weak = shared;
            shared->timer_ = loop->addTimer(platform::durationFromSeconds(sampleInterval.load()), [weak] {
                if (const auto probe = weak.lock())
                    probe->sample();
            }, true);
        }
    }
    return shared;
}

TEVLocalCPULoadProbe::TEVLocalCPULoadProbe(std::shared_ptr<const platform::HostRoot> root)
    : root_(std::move(root))
{
    sample();
}

TEVLocalCPULoadProbe::~TEVLocalCPULoadProbe()
{
    timer_.invalidate();
}

bool TEVLocalCPULoadProbe::sample()
{
    const auto ticks = platform::ProcessorTicks::read(*root_);
    if (!ticks)
        return false;
    std::lock_guard lock(mutex_);
    if (ticks->size() != lastTicks_.size()) {
        // A new processor count: no period to compare with yet.
        lastTicks_ = *ticks;
        loads_.assign(ticks->size(), 0.0);
        return true;
    }
    for (size_t i = 0; i < ticks->size(); ++i) {
        const auto& now = (*ticks)[i];
        const auto& before = lastTicks_[i];
        const quint64 busy = delta(now.user, before.user) + delta(now.system, before.system) + delta(now.nice, before.nice);
        const quint64 total = busy + delta(now.idle, before.idle);
        loads_[i] = now.online && before.online && total ? double(busy) / double(total) * 100.0 : 0.0;
    }
    lastTicks_ = *ticks;
    return true;
}

quint64 TEVLocalCPULoadProbe::numberOfCPUs() const
{
    std::lock_guard lock(mutex_);
    return loads_.size();
}

double TEVLocalCPULoadProbe::cpuLoadForCPUAtIndex(quint64 index) const
{
    std::lock_guard lock(mutex_);
    return index < loads_.size() ? loads_[size_t(index)] : 0.0;
}

double TEVLocalCPULoadProbe::totalCPULoad() const
{
    std::lock_guard lock(mutex_);
    double sum = 0;
    size_t online = 0;
    for (size_t i = 0; i < loads_.size(); ++i) {
        if (lastTicks_[i].online) {
            sum += loads_[i];
            ++online;
        }
    }
    return online ? sum / double(online) : 0.0;
}
