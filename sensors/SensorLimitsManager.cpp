#include "sensors/SensorLimitsManager.h"

#include "platform/foundation/Values.h"
#include "sensors/TEVKnownSMCKeys.h"
#include "sensors/TEVSMCFanSensor.h"
#include "sensors/TEVSensorDescription.h"

namespace values = platform::values;

std::shared_ptr<SensorLimitsManager> SensorLimitsManager::sharedSensorLimitsManager()
{
    static const auto manager = std::make_shared<SensorLimitsManager>();
    return manager;
}

QString SensorLimitsManager::unifiedSensorLocationForSensorDescription(const TEVSensorDescription* description)
{
    if (!description)
        return QString();
    static const char letters[] = "?TVIWCRPLG"; // quantity types 1-9
    const qint64 type = description->quantityType();
    const QChar letter = QLatin1Char(type >= 1 && type <= 9 ? letters[type] : '?');
    return letter + QLatin1Char(':') + description->locationIdentifier();
}

SensorLimitsManager::SensorLimitsManager()
    : SensorLimitsManager([] { return TEVSMCFanSensor::allSensors(); },
                          [] { return TEVKnownSMCKeys::localModel().code; })
{
}

SensorLimitsManager::SensorLimitsManager(FanEnumeration fans, ModelCode modelCode)
    : fans_(std::move(fans)), modelCode_(std::move(modelCode))
{
    updateLimitsForX86Machine();
}

void SensorLimitsManager::updateLimitsForX86Machine()
{
    QVariantMap limits;
    const QString model = modelCode_ ? modelCode_() : QString();
    const TEVSensorList sensors = fans_ ? fans_() : TEVSensorList();
    for (const auto& sensor : sensors) {
        const auto fan = std::dynamic_pointer_cast<TEVSMCFanSensor>(sensor);
        if (!fan)
            continue;
        if (const auto array = fan->sensorLimitsArray())
            limits.insert(fan->unifiedSensorLocation(), values::fromArray(*array));
    }
    sensorLimitsByMachine_.insert(model, values::fromDictionary(limits));
}

std::optional<QVariantMap> SensorLimitsManager::limitsForCurrentMachine() const
{
    const QString model = modelCode_ ? modelCode_() : QString();
    const auto found = sensorLimitsByMachine_.constFind(model);
    if (found == sensorLimitsByMachine_.constEnd())
        return std::nullopt;
    return values::toDictionary(*found);
}

qint64 SensorLimitsManager::maximumLimitForModelCode(const QString& modelCode,
                                                     const TEVSensorDescription* description) const
{
    return limit(modelCode, description, 0);
}

qint64 SensorLimitsManager::minimumLimitForModelCode(const QString& modelCode,
                                                     const TEVSensorDescription* description) const
{
    return limit(modelCode, description, 1);
}

qint64 SensorLimitsManager::limit(const QString& modelCode, const TEVSensorDescription* description, int element) const
{
    if (modelCode.isNull() || !description)
        return -1;
    const auto machine = values::toDictionary(sensorLimitsByMachine_.value(modelCode));
    if (!machine)
        return -1;
    const auto limits = values::toArray(machine->value(unifiedSensorLocationForSensorDescription(description)));
    if (!limits || limits->size() <= element)
        return -1;
    return values::toSigned(limits->at(element)).value_or(-1);
}
