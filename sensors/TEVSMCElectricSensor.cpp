#include "sensors/TEVSMCElectricSensor.h"

#include "sensors/TEVKnownSMCKeys.h"
#include "sensors/TEVSensorValueConverter.h"

#include <atomic>
#include <cmath>

namespace values = platform::values;

namespace {

constexpr double FixedPointOne = 65536.0; // 16.16

std::atomic<quint64> knownChipCount{0};

TEVKnownSMCKeys::Model electricModel()
{
    auto model = TEVKnownSMCKeys::localModel();
    model.processorChipCount = TEVSMCElectricSensor::numberOfPhysicalx86Chips();
    return model;
}

} // namespace

bool TEVSMCElectricSensor::load()
{
    return TEVSensor::registerSensorClass({QStringLiteral("TEVSMCElectricSensor"), [] { return allSensors(); }});
}

TEVSensorList TEVSMCElectricSensor::allSensors()
{
    const auto smc = TEVSystemManagementController::sharedSystemManagementController();
    if (!smc)
        return {};
    const auto model = electricModel();
    return allSensors(smc, [model](const QString& key) { return TEVKnownSMCKeys::electricDescription(key, model); });
}

TEVSensorList TEVSMCElectricSensor::allSensors(const Controller& smc, const DescriptionLookup& lookup)
{
    TEVSensorList sensors;
    if (!smc || !lookup)
        return sensors;
    for (const QString& key : smc->allPropertyKeys()) {
        if (!key.startsWith(QLatin1Char('I')) && !key.startsWith(QLatin1Char('P')) && !key.startsWith(QLatin1Char('V')))
            continue;
        const auto description = lookup(key);
        if (!description || !smcsensor::isNumber(smc->objectValueForPropertyWithKey(key)))
            continue;
        if (auto sensor = createWithSensorDescription(*description, smc))
            sensors.append(sensor);
    }
    return sensors;
}

std::optional<QVariantMap> TEVSMCElectricSensor::knownSMCSensorDescriptionForKey(const QString& key)
{
    return TEVKnownSMCKeys::electricDescription(key, electricModel());
}

quint64 TEVSMCElectricSensor::numberOfPhysicalx86Chips()
{
    quint64 count = knownChipCount.load(std::memory_order_relaxed);
    if (count == 0) {
        count = TEVKnownSMCKeys::localModel().processorChipCount;
        knownChipCount.store(count, std::memory_order_relaxed);
    }
    return count;
}

std::shared_ptr<TEVSMCElectricSensor>
TEVSMCElectricSensor::createWithSensorDescription(const QVariantMap& description)
{
    return createWithSensorDescription(description, TEVSystemManagementController::sharedSystemManagementController());
}

std::shared_ptr<TEVSMCElectricSensor>
TEVSMCElectricSensor::createWithSensorDescription(const QVariantMap& description, Controller smc)
{
    const auto key = values::toString(description.value(QStringLiteral("SMCKey")));
    const auto identifier = values::toString(description.value(QStringLiteral("UniqueID")));
    const auto location = values::toString(description.value(QStringLiteral("LocationID")));
    const auto quantity = values::toSigned(description.value(QStringLiteral("Quantity")));
    if (!smc || !key || key->isEmpty() || !identifier || !location || !quantity)
        return nullptr;
    const auto reading = values::toReal(smc->objectValueForPropertyWithKey(*key));
    if (!reading || !(std::isfinite(*reading) && *reading >= 0))
        return nullptr;
    // An idle GPU line reads a little above 0 and would show as noise.
    if (location->startsWith(QLatin1String("SMC GPU")) && *reading <= 0.1)
        return nullptr;
    if (smc->typeCodeForPropertyWithKey(*key).startsWith(QLatin1String("ui")))
        return nullptr;
    std::shared_ptr<TEVSMCElectricSensor> sensor(new TEVSMCElectricSensor(std::move(smc), *key));
    sensor->setUniqueIdentifier(*identifier);
    sensor->setLocationIdentifier(*location);
    sensor->setQuantityType(*quantity);
    return sensor;
}

TEVSMCElectricSensor::TEVSMCElectricSensor(Controller smc, QString key)
    : smc_(std::move(smc)), smcKey_(std::move(key))
{
    setSensorName(smcsensor::sensorName());
    setSensorType(1);
    setPrecision(0.0, 0.0);
}

qint64 TEVSMCElectricSensor::rawValue() const
{
    const QVariant reading = smcsensor::read(smc_, smcKey_);
    if (!smcsensor::isNumber(reading))
        return -1;
    const double fixed = std::trunc(values::toReal(reading).value_or(NAN) * FixedPointOne);
    // 2^63 itself is out of range; a NaN fails both tests.
    if (!(fixed >= -9223372036854775808.0 && fixed < 9223372036854775808.0))
        return -1;
    return qint64(fixed);
}

QString TEVSMCElectricSensor::unit() const
{
    switch (quantityType()) {
    case 2:
        return QStringLiteral("V");
    case 3:
        return QStringLiteral("A");
    case 4:
        return QStringLiteral("W");
    default:
        return QStringLiteral("");
    }
}

std::shared_ptr<TEVSensorValueConverter> TEVSMCElectricSensor::valueConverter() const
{
    auto converter = std::make_shared<TEVSensorValueConverter>();
    converter->setConversionFunctionType(TEVSensorValueConverter::LinearFactor);
    converter->setLinearFactor(1.0 / FixedPointOne);
    return converter;
}
