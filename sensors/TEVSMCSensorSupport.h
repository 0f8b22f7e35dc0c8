#pragma once
// What the four SMC sensor classes share: the controller type they hold, their common name and the
// number tests on decoded key values. Stateless helpers; capture thread.

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVSystemManagementController.h"

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

namespace smcsensor {

using Controller = std::shared_ptr<TEVSystemManagementController>;
// A known-key description for a key, or nothing when the key is no sensor on this model.
using DescriptionLookup = std::function<std::optional<QVariantMap>(const QString& key)>;

inline QString sensorName()
{
    // Empty default value: the key itself when no table translates it.
    const QString key = QStringLiteral("Apple System Management Controller");
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key) : key;
}

inline bool isNumber(const QVariant& value)
{
    return platform::values::isNumber(value);
}

inline QVariant read(const Controller& smc, const QString& key)
{
    return smc ? smc->objectValueForPropertyWithKey(key) : QVariant();
}

} // namespace smcsensor
