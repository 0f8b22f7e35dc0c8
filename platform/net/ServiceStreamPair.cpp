#include "platform/net/ServiceStreamPair.h"

#include "platform/foundation/Log.h"

namespace platform {

std::optional<StreamPair> ServiceStreamPair::forService(const NetService& service)
{
    log(QStringLiteral("ServiceStreamPair: connecting to %1 is not available\n").arg(service.description()));
    return std::nullopt;
}

} // namespace platform
