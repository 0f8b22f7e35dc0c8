#include "sensors/TEVKnownSMCKeys.h"

namespace TEVKnownSMCKeys {

Model localModel()
{
    return {};
}

std::optional<QVariantMap> temperatureDescription(const QString&, const Model&)
{
    return std::nullopt;
}

std::optional<QVariantMap> electricDescription(const QString&, const Model&)
{
    return std::nullopt;
}

} // namespace TEVKnownSMCKeys
