#include "sensors/TEVSMCTemperatureSensor.h"

#include "sensors/TEVKnownSMCKeys.h"
#include "sensors/TEVSensorValueConverter.h"

#include <cmath>

namespace values = platform::values;

bool TEVSMCTemperatureSensor::load()
{
    return TEVSensor::registerSensorClass({QStringLiteral("TEVSMCTemperatureSensor"), [] { return allSensors(); }});
}

TEVSensorList TEVSMCTemperatureSensor::allSensors()
{
    const auto smc = TEVSystemManagementController::sharedSystemManagementController();
    if (!smc)
        return {};
    // One model look-up per enumeration, not one per key.
    const auto model = TEVKnownSMCKeys::localModel();
    return allSensors(smc, [model](const QString& key) { return TEVKnownSMCKeys::temperatureDescription(key, model); });
}

TEVSensorList TEVSMCTemperatureSensor::allSensors(const Controller& smc, const DescriptionLookup& lookup)
{
    TEVSensorList sensors;
    if (!smc || !lookup)
        return sensors;
    for (const QString& key : smc->allPropertyKeys()) {
        if (!key.startsWith(QLatin1Char('T')))
            continue;
        const auto description = lookup(key);
        if (!description || !smcsensor::isNumber(smc->objectValueForPropertyWithKey(key)))
            continue;
        if (auto sensor = createWithSensorDescription(*description, smc))
            sensors.append(sensor);
    }
    return sensors;
}

std::optional<QVariantMap> TEVSMCTemperatureSensor::knownSMCSensorDescriptionForKey(const QString& key)
{
    return TEVKnownSMCKeys::temperatureDescription(key, TEVKnownSMCKeys::localModel());
}

std::shared_ptr<TEVSMCTemperatureSensor>
TEVSMCTemperatureSensor::createWithSensorDescription(const QVariantMap& description)
{
    return createWithSensorDescription(description, TEVSystemManagementController::sharedSystemManagementController());
}

std::shared_ptr<TEVSMCTemperatureSensor>
TEVSMCTemperatureSensor::createWithSensorDescription(const QVariantMap& description, Controller smc)
{
    const auto key = values::toString(description.value(QStringLiteral("SMCKey")));
    const auto identifier = values::toString(description.value(QStringLiteral("UniqueID")));
    const auto location = values::toString(description.value(QStringLiteral("LocationID")));
    if (!smc || !key || key->isEmpty() || !identifier || !location)
        return nullptr;
    // A sensor not yet (or no longer) reading is no sensor.
    const auto reading = values::toReal(smc->objectValueForPropertyWithKey(*key));
    if (!reading || !(std::isfinite(*reading) && *reading > 0))
        return nullptr;
    std::shared_ptr<TEVSMCTemperatureSensor> sensor(new TEVSMCTemperatureSensor(std::move(smc), *key));
    sensor->setUniqueIdentifier(*identifier);
    sensor->setLocationIdentifier(*location);
    return sensor;
}

TEVSMCTemperatureSensor::TEVSMCTemperatureSensor(Controller smc, QString key)
    : smc_(std::move(smc)), smcKey_(std::move(key))
{
    setSensorName(smcsensor::sensorName());
    setSensorType(1);
    setQuantityType(1);
    setPrecision(1.0, 0.0);
}

qint64 TEVSMCTemperatureSensor::rawValue() const
{
    const QVariant reading = smcsensor::read(smc_, smcKey_);
    if (!smcsensor::isNumber(reading))
        return -1;
    const qint64 degrees = values::toSigned(reading).value_or(-1);
    return degrees >= -128 && degrees <= -124 ? -1 : degrees;
}

std::shared_ptr<TEVSensorValueConverter> TEVSMCTemperatureSensor::valueConverter() const
{
    return std::make_shared<TEVSensorValueConverter>();
}
