#pragma once
// What the program knows of SMC sensor keys: per computer model, which temperature and electric keys are
// sensors, where they are and their stable identifiers. Pure tables and rules; any thread.

#include <QString>
#include <QVariantMap>

#include <optional>

namespace TEVKnownSMCKeys {

// The model facts the tables decide by.
struct Model {
    QString code;                 // "MacBookPro5,1"; empty when unknown
    quint64 processorChipCount = 0;
};

// The local computer's model (from the shared machine information).
Model localModel();

// {"SMCKey", "LocationID", "UniqueID"} for a known temperature key of `model`; nothing when not known.
std::optional<QVariantMap> temperatureDescription(const QString& key, const Model& model);
// {"SMCKey", "LocationID", "UniqueID", "Quantity"} for a known voltage, current or power key.
std::optional<QVariantMap> electricDescription(const QString& key, const Model& model);

} // namespace TEVKnownSMCKeys
