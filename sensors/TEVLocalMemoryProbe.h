#pragma once
// TEVLocalMemoryProbe: the virtual-memory figures of /proc/meminfo and /proc/vmstat, and the page-ins and
// page-outs of the last sampling period. The shared instance samples on the sampler thread's timer;
// probes read it from any thread. All state is behind one mutex.

#include "platform/foundation/HostRoot.h"
#include "platform/foundation/RunLoop.h"
#include "platform/host/VirtualMemoryStatistics.h"

#include <memory>
#include <mutex>

class TEVLocalMemoryProbe {
public:
    // Made on the first call whose first sample succeeds, with its timer on the sampler thread; null
    // (the next call tries again) when the host has no readable /proc/meminfo.
    static std::shared_ptr<TEVLocalMemoryProbe> sharedMemoryProbe();
    // Seconds; 0 or less is ignored. Default 2.
    static void setMemorySampleInterval(double seconds);
    static double memorySampleInterval();

    // Null when the first sample fails. No timer.
    static std::shared_ptr<TEVLocalMemoryProbe> create(std::shared_ptr<const platform::HostRoot> root);
    ~TEVLocalMemoryProbe();
    TEVLocalMemoryProbe(const TEVLocalMemoryProbe&) = delete;
    TEVLocalMemoryProbe& operator=(const TEVLocalMemoryProbe&) = delete;

    // One read of each file; on failure logs (once per run of failures) and keeps the previous figures.
    bool sample();

    // Bytes, from the newest sample.
    quint64 freeMemory() const;
    quint64 activeMemory() const;
    quint64 inactiveMemory() const;
    quint64 wiredMemory() const;
    quint64 swapTotal() const;
    quint64 swapUsed() const;
    // Since boot.
    quint64 accumulatedPageIns() const;
    quint64 accumulatedPageOuts() const;
    // During the last sampling period; 0 until the first timer sample and when a counter went backwards.
    quint64 currentPageIns() const;
    quint64 currentPageOuts() const;

private:
    explicit TEVLocalMemoryProbe(std::shared_ptr<const platform::HostRoot> root) : root_(std::move(root)) {}

    std::shared_ptr<const platform::HostRoot> root_;
    mutable std::mutex mutex_;
    platform::VirtualMemoryStatistics current_;
    platform::VirtualMemoryStatistics last_;
    bool failing_ = false;
    platform::Timer timer_;
};
