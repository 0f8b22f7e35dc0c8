#pragma once
// MemoryInfo: the installed memory and the free memory the kernel aims to keep, read under a host root.
// Stateless.

#include "platform/foundation/HostRoot.h"

#include <optional>

namespace platform {

class MemoryInfo {
public:
    // Bytes: block_size_bytes × the online blocks of /sys/devices/system/memory (what is installed and
    // online), else /proc/meminfo MemTotal (what the kernel manages, a little less).
    static std::optional<quint64> installedBytes(const HostRoot& root);
    static std::optional<quint64> memTotalBytes(const HostRoot& root);
    // Bytes: the sum of the zones' "high" watermarks of /proc/zoneinfo × the page size. Above it the
    // kernel stops reclaiming.
    static std::optional<quint64> optimumFreeBytes(const HostRoot& root, quint64 pageSize = systemPageSize());
    static quint64 systemPageSize();
};

} // namespace platform
