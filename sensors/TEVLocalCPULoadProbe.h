#pragma once
// TEVLocalCPULoadProbe: the load of every processor over the last sampling period, from /proc/stat. The
// shared instance samples on the sampler thread's timer; probes read it from the capture thread and the
// main thread. All state is behind one mutex.

#include "platform/foundation/HostRoot.h"
#include "platform/foundation/RunLoop.h"
#include "platform/host/ProcessorTicks.h"

#include <memory>
#include <mutex>
#include <vector>

class TEVLocalCPULoadProbe {
public:
    // Made on the first call, with its timer on the sampler thread; never null (a failed read only leaves
    // the loads at 0).
    static std::shared_ptr<TEVLocalCPULoadProbe> sharedCPULoadProbe();
    // Seconds; 0 or less is ignored. Applies to the shared instance when it is made. Default 1.
    static void setCPULoadSampleInterval(double seconds);
    static double cpuLoadSampleInterval();

    // Takes the first sample; no timer (the shared instance adds one).
    explicit TEVLocalCPULoadProbe(std::shared_ptr<const platform::HostRoot> root);
    ~TEVLocalCPULoadProbe();
    TEVLocalCPULoadProbe(const TEVLocalCPULoadProbe&) = delete;
    TEVLocalCPULoadProbe& operator=(const TEVLocalCPULoadProbe&) = delete;

    // One read of /proc/stat. False (everything kept) when it cannot be read.
    bool sample();

    quint64 numberOfCPUs() const;
    // Percent, 0 to 100; 0 for an index at or beyond numberOfCPUs and for an offline processor.
    double cpuLoadForCPUAtIndex(quint64 index) const;
    // The mean of the online processors' loads; 0 when there are none.
    double totalCPULoad() const;

private:
    std::shared_ptr<const platform::HostRoot> root_;
    mutable std::mutex mutex_;
    std::vector<platform::ProcessorTicks> lastTicks_;
    std::vector<double> loads_;
    platform::Timer timer_;
};
