#pragma once
// Bounds and class allow-lists shared by the keyed and the sequential unarchivers. Bad input (corrupt,
// truncated, cyclic or oversized) decodes to nil with one log line; these bounds make sure it also never
// allocates without limit or recurses without end.

#include <QStringList>

#include <algorithm>

namespace platform {

struct ArchiveLimits {
    qsizetype maxInputBytes = 512 * 1024 * 1024;
    qsizetype maxObjects = 4 * 1024 * 1024;    // distinct objects in one archive
    int maxDepth = 200;                         // nesting of objects and containers
    qsizetype maxElements = 16 * 1024 * 1024;   // elements of one container or scalar array
    qsizetype maxDataBytes = 256 * 1024 * 1024; // one data or string value
};

// Shared objects decode once, yet every walk of the result (describing, writing, comparing, copying) meets
// each reference anew: 60 arrays each holding the next twice are 2^60 values to a walk. So what a decoded
// archive expands to, counted as a cost per value plus the bytes of its strings and data, is bounded by a
// multiple of the archive's size.
class ExpansionBudget {
public:
    static constexpr quint64 kCostPerValue = 16;
    static constexpr quint64 kAllowancePerByte = 64;
    static constexpr quint64 kFloor = 4 * 1024 * 1024;

    void setInputSize(qsizetype bytes) { limit_ = kFloor + kAllowancePerByte * quint64(std::max<qsizetype>(bytes, 0)); }
    quint64 limit() const { return limit_; }
    // Adds `cost` to `total` (saturating just past the limit); false once the total passes the limit.
    bool add(quint64& total, quint64 cost) const
    {
        total = std::min(limit_ + 1, total + std::min(cost, limit_ + 1));
        return total <= limit_;
    }

private:
    quint64 limit_ = kFloor;
};

struct UnarchiveOptions {
    // Classes, besides the Foundation values (strings, numbers, data, dates, arrays, dictionaries and
    // their mutable variants), that may be decoded; each must be in ClassRegistry. An archive that holds
    // any other class decodes to nil. A subclass of an allowed class is allowed.
    QStringList allowedClasses;
    // Developer inspection: decode every object that is not a Foundation value as a dictionary of its
    // coded values plus "$class" (its class name), without the registry and the allow-list. The bounds
    // still apply.
    bool generic = false;
    ArchiveLimits limits;
};

} // namespace platform
