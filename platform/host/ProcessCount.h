#pragma once
// ProcessCount: the number of processes, as the numeric entries of /proc. One directory read; stateless.

#include "platform/foundation/HostRoot.h"

#include <optional>

namespace platform {

class ProcessCount {
public:
    // Nothing when /proc cannot be read.
    static std::optional<quint64> read(const HostRoot& root);
};

} // namespace platform
