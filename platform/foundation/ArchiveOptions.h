#pragma once
// Bounds and class allow-lists shared by the keyed and the sequential unarchivers. Bad input (corrupt,
// truncated, cyclic or oversized) decodes to nil with one log line; these bounds make sure it also never
// allocates without limit or recurses without end.

#include <QStringList>

namespace platform {

struct ArchiveLimits {
    qsizetype maxInputBytes = 512 * 1024 * 1024;
    qsizetype maxObjects = 4 * 1024 * 1024;    // distinct objects in one archive
    int maxDepth = 200;                         // nesting of objects and containers
    qsizetype maxElements = 16 * 1024 * 1024;   // elements of one container or scalar array
    qsizetype maxDataBytes = 256 * 1024 * 1024; // one data or string value
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
