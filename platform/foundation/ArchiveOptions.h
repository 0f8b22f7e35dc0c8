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
    // What the decoded value may expand to (see ExpansionBudget): a floor, enough for 4096 values, plus an
    // allowance per byte of the archive. The floor must stay small: it is what a tiny hostile archive gets.
    quint64 expansionFloor = 64 * 1024;
    quint64 expansionPerByte = 64;
};

// Shared objects decode once, yet every walk of the result (describing, writing, comparing, copying) meets
// each reference anew: 60 arrays each holding the next twice are 2^60 values to a walk. So what a decoded
// archive expands to, counted as a cost per value plus the bytes of its strings and data (an object's
// own values included, each shared object again at every reference), is bounded by the archive's size.
class ExpansionBudget {
public:
    static constexpr quint64 kCostPerValue = 16;

    void setInputSize(const ArchiveLimits& limits, qsizetype bytes)
    {
        const quint64 size = quint64(std::max<qsizetype>(bytes, 0));
        const quint64 perByte = std::min<quint64>(limits.expansionPerByte, 1u << 20);
        limit_ = std::min<quint64>(limits.expansionFloor, quint64(1) << 62) + std::min(perByte * size, quint64(1) << 62);
    }
    quint64 limit() const { return limit_; }
    // Adds `cost` to `total` (saturating just past the limit); false once the total passes the limit.
    bool add(quint64& total, quint64 cost) const
    {
        total = std::min(limit_ + 1, total + std::min(cost, limit_ + 1));
        return total <= limit_;
    }

private:
    quint64 limit_ = 0;
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
    // Sequential archives: an archive cut short (a file written in part) gives its root with what was
    // complete before the cut: every array and dictionary being read ends with its whole elements; any
    // other object being read is left out. Without it a cut archive decodes to nil.
    bool keepWhatPrecedesACut = false;
    ArchiveLimits limits;
};

} // namespace platform
