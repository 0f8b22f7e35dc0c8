#include "sensors/TEVCaseLockSensor.h"

namespace {

const QString kKeyswitch = QStringLiteral("Keyswitch");

} // namespace

std::shared_ptr<TEVCaseLockSensor> TEVCaseLockSensor::create(std::shared_ptr<TEVIORegistryEntry> entry)
{
    if (!entry || !entry->hasValueWithName(kKeyswitch))
        return nullptr;
    auto sensor = std::make_shared<TEVCaseLockSensor>();
    sensor->entry_ = std::move(entry);
    sensor->setUniqueIdentifier(QStringLiteral("apple.keyswitch.0"));
    sensor->setLocationIdentifier(QStringLiteral("KEY SWITCH"));
    sensor->setSensorName(QStringLiteral("Apple Key Switch"));
    sensor->setSensorType(1);
    sensor->setQuantityType(11);
    sensor->setPrecision(1.0, 1.0);
    return sensor;
}

void TEVCaseLockSensor::load()
{
    TEVSensor::registerSensorClass({QStringLiteral("TEVCaseLockSensor"), [] { return allSensors(); }});
}

TEVSensorList TEVCaseLockSensor::allSensors(TEVIORegistryEntry::Registry registry)
{
    TEVSensorList sensors;
    const auto entries = TEVIORegistryEntry::serviceObjectsMatchingName(QStringLiteral("AppleKeyswitch"), std::move(registry));
    if (!entries)
        return sensors;
    for (const auto& entry : *entries) {
        if (auto sensor = create(entry))
            sensors.append(std::move(sensor));
    }
    return sensors;
}

qint64 TEVCaseLockSensor::rawValue() const
{
    return entry_ ? entry_->integerValueWithName(kKeyswitch) : -1;
}
