#pragma once
// ProcessorTicks: the per-processor time counters of /proc/stat, folded into the four counters of the load
// sampler. One read of the file per call. Stateless.

#include "platform/foundation/HostRoot.h"

#include <QByteArray>

#include <optional>
#include <vector>

namespace platform {

struct ProcessorTicks {
    // USER_HZ ticks since boot: user = user, nice = nice, system = system + irq + softirq + steal,
    // idle = idle + iowait. Guest time is already part of user and nice.
    quint64 user = 0;
    quint64 system = 0;
    quint64 idle = 0;
    quint64 nice = 0;
    // False for a processor number the kernel skipped (offline): its counters are all zero.
    bool online = false;

    // Indexed by the processor number of the "cpuN" lines; nothing when the file is missing or holds no
    // processor line.
    static std::optional<std::vector<ProcessorTicks>> read(const HostRoot& root);
    static std::optional<std::vector<ProcessorTicks>> parse(const QByteArray& text);
};

} // namespace platform
