#pragma once
// CpuTopology: processor counts, caches and the nominal clock from /sys/devices/system/cpu. Each field is
// nothing when its files are missing (containers and VMs often lack cache and cpufreq folders). A plain
// value.

#include "platform/foundation/HostRoot.h"

#include <optional>

namespace platform {

struct CpuTopology {
    std::optional<int> presentCount; // "present"
    std::optional<int> onlineCount;  // "online"
    // From the topology folders of the present CPUs.
    std::optional<int> packageCount; // distinct physical_package_id
    std::optional<int> coreCount;    // distinct (physical_package_id, core_id)
    // Largest thread_siblings_list: more than 1 means simultaneous multithreading.
    std::optional<int> threadsPerCore;
    // Bytes, from cpu<first present>/cache/index*.
    std::optional<quint64> l1InstructionCache;
    std::optional<quint64> l1DataCache;
    std::optional<quint64> l2Cache;
    std::optional<quint64> l3Cache;
    // Hz: cpufreq base_frequency (the nominal clock), else cpuinfo_max_freq.
    std::optional<quint64> frequency;

    static CpuTopology read(const HostRoot& root);
};

} // namespace platform
