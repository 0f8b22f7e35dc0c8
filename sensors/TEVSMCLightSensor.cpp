#include "sensors/TEVSMCLightSensor.h"

#include "sensors/TEVSensorValueConverter.h"

namespace values = platform::values;

bool TEVSMCLightSensor::load()
{
    return TEVSensor::registerSensorClass({QStringLiteral("TEVSMCLightSensor"), [] { return allSensors(); }});
}

TEVSensorList TEVSMCLightSensor::allSensors()
{
    return allSensors(TEVSystemManagementController::sharedSystemManagementController());
}

TEVSensorList TEVSMCLightSensor::allSensors(const Controller& smc)
{
    TEVSensorList sensors;
    if (!smc)
        return sensors;
    for (const QString& key : smc->allPropertyKeys()) {
        if (!key.startsWith(QLatin1String("ALV")))
            continue;
        const QVariant value = smc->objectValueForPropertyWithKey(key);
        if (!smcsensor::isNumber(value) && !values::toData(value))
            continue;
        if (auto sensor = createForLightSensorWithKey(key, smc))
            sensors.append(sensor);
    }
    return sensors;
}

std::shared_ptr<TEVSMCLightSensor> TEVSMCLightSensor::createForLightSensorWithKey(const QString& key)
{
    return createForLightSensorWithKey(key, TEVSystemManagementController::sharedSystemManagementController());
}

std::shared_ptr<TEVSMCLightSensor> TEVSMCLightSensor::createForLightSensorWithKey(const QString& key, Controller smc)
{
    if (!smc || key.size() < 4 || key[3] < QLatin1Char('0') || key[3] > QLatin1Char('9'))
        return nullptr;
    std::shared_ptr<TEVSMCLightSensor> sensor(new TEVSMCLightSensor(std::move(smc), key));
    if (sensor->rawValue() <= 0)
        return nullptr;
    // ALV0 is light sensor 1.
    const qint64 number = key[3].unicode() - u'0' + 1;
    sensor->setUniqueIdentifier(QStringLiteral("smc.light.%1").arg(number));
    sensor->setLocationIdentifier(QStringLiteral("SMC AMBIENT LIGHT %1").arg(number));
    return sensor;
}

TEVSMCLightSensor::TEVSMCLightSensor(Controller smc, QString key) : smc_(std::move(smc)), smcKey_(std::move(key))
{
    setSensorName(smcsensor::sensorName());
    setSensorType(1);
    setQuantityType(8);
    setPrecision(0.0, 0.0);
}

qint64 TEVSMCLightSensor::rawValue() const
{
    const QVariant value = smcsensor::read(smc_, smcKey_);
    if (smcsensor::isNumber(value)) {
        const auto number = values::toSigned(value);
        return number ? qint64(quint16(*number) >> 7) : -1;
    }
    const auto data = values::toData(value);
    if (data && data->size() == 10)
        return qint64(quint16(quint8(data->at(2)) << 8 | quint8(data->at(3))));
    return -1;
}

std::shared_ptr<TEVSensorValueConverter> TEVSMCLightSensor::valueConverter() const
{
    return std::make_shared<TEVSensorValueConverter>();
}
