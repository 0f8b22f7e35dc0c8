#pragma once
// SensorLimitsManager: the design limits the computer declares for its sensors (the SMC fans' maximum and
// minimum speeds), by machine model and unified sensor location. The local acquisition core owns one, made
// with the core; its limits are taken once, at construction. Not locked: read after construction only.

#include "sensors/TEVSensor.h"

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class TEVSensorDescription;

class SensorLimitsManager {
public:
    // The fans to take limits from (TEVSMCFanSensor objects; others are ignored) and the local model code.
    using FanEnumeration = std::function<TEVSensorList()>;
    using ModelCode = std::function<QString()>;

    static std::shared_ptr<SensorLimitsManager> sharedSensorLimitsManager();
    // "<letter>:<location>", the letter by quantity type ("T" temperature ... "G", "?" for codes outside
    // 1-9); null for no description.
    static QString unifiedSensorLocationForSensorDescription(const TEVSensorDescription* description);

    // The shared controller's fans and the local model.
    SensorLimitsManager();
    SensorLimitsManager(FanEnumeration fans, ModelCode modelCode);

    // Replaces the local model's entry, an empty one when no fan declares limits.
    void updateLimitsForX86Machine();

    // Unified location -> {maximum, minimum}; nothing when the local model has no entry.
    std::optional<QVariantMap> limitsForCurrentMachine() const;
    // -1 for no model code or description, an unknown model, or a location without limits.
    qint64 maximumLimitForModelCode(const QString& modelCode, const TEVSensorDescription* description) const;
    qint64 minimumLimitForModelCode(const QString& modelCode, const TEVSensorDescription* description) const;

    const QVariantMap& sensorLimitsByMachine() const { return sensorLimitsByMachine_; }

private:
    qint64 limit(const QString& modelCode, const TEVSensorDescription* description, int element) const;

    FanEnumeration fans_;
    ModelCode modelCode_;
    QVariantMap sensorLimitsByMachine_; // model code -> {unified location -> {maximum, minimum}}
};
