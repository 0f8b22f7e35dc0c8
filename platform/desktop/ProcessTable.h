#pragma once
// ProcessTable: a process's short name and effective user ID, from /proc/<pid>/stat and /status under the
// host root. Stateless; thread-safe.

#include "platform/foundation/HostRoot.h"

#include <QString>

#include <optional>

namespace platform {

struct ProcessEntry {
    QString name; // the kernel's command name, at most 15 characters
    quint32 effectiveUserID = 0;
};

class ProcessTable {
public:
    // Nothing for a process that does not exist (or vanished while being read).
    static std::optional<ProcessEntry> find(qint32 processID, const HostRoot& root = *HostRoot::current());
};

} // namespace platform
