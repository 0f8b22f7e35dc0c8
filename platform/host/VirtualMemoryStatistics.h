#pragma once
// VirtualMemoryStatistics: what the memory sampler reads each tick, from one read of /proc/meminfo and one
// of /proc/vmstat. Bytes and event counts; a plain value.

#include "platform/foundation/HostRoot.h"

#include <QByteArray>

#include <optional>

namespace platform {

struct VirtualMemoryStatistics {
    quint64 freeBytes = 0;     // MemFree
    quint64 activeBytes = 0;   // Active
    quint64 inactiveBytes = 0; // Inactive
    // Memory that cannot be paged out: Unevictable + SUnreclaim + KernelStack + PageTables.
    quint64 wiredBytes = 0;
    quint64 swapTotalBytes = 0; // SwapTotal
    quint64 swapFreeBytes = 0;  // SwapFree
    // Since boot: pgmajfault (reads from disk to satisfy a fault) and pswpout (pages written to swap).
    // Nothing when /proc/vmstat is missing.
    std::optional<quint64> pageIns;
    std::optional<quint64> pageOuts;

    quint64 swapUsedBytes() const { return swapTotalBytes > swapFreeBytes ? swapTotalBytes - swapFreeBytes : 0; }

    // Nothing when /proc/meminfo is missing or lacks MemFree, Active or Inactive.
    static std::optional<VirtualMemoryStatistics> read(const HostRoot& root);
    static std::optional<VirtualMemoryStatistics> parse(const QByteArray& meminfo, const std::optional<QByteArray>& vmstat);
};

} // namespace platform
