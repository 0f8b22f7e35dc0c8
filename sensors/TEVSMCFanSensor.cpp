#include "sensors/TEVSMCFanSensor.h"

#include "sensors/TEVSensorValueConverter.h"

#include <QSet>

namespace values = platform::values;

namespace {

constexpr quint64 MaxFanIndex = 35; // digits 0-9, then A-Z

} // namespace

bool TEVSMCFanSensor::load()
{
    return TEVSensor::registerSensorClass({QStringLiteral("TEVSMCFanSensor"), [] { return allSensors(); }});
}

TEVSensorList TEVSMCFanSensor::allSensors()
{
    return allSensors(TEVSystemManagementController::sharedSystemManagementController());
}

TEVSensorList TEVSMCFanSensor::allSensors(const Controller& smc)
{
    TEVSensorList sensors;
    if (!smc)
        return sensors;
    const QVariant count = smc->objectValueForPropertyWithKey(QStringLiteral("FNum"));
    if (!smcsensor::isNumber(count))
        return sensors;
    const quint64 n = values::toUnsigned(count).value_or(0);
    QSet<QString> identifiers;
    // Past the last key character every index fails, so the loop need not run to a corrupt count.
    for (quint64 i = 0; i < n && i <= MaxFanIndex; ++i) {
        auto fan = createForFanAtIndex(i, smc);
        if (!fan)
            continue;
        if (identifiers.contains(fan->uniqueIdentifier()))
            fan->useIndexIdentity();
        if (identifiers.contains(fan->uniqueIdentifier()))
            continue;
        identifiers.insert(fan->uniqueIdentifier());
        sensors.append(fan);
    }
    return sensors;
}

std::shared_ptr<TEVSMCFanSensor> TEVSMCFanSensor::createForFanAtIndex(quint64 index)
{
    return createForFanAtIndex(index, TEVSystemManagementController::sharedSystemManagementController());
}

std::shared_ptr<TEVSMCFanSensor> TEVSMCFanSensor::createForFanAtIndex(quint64 index, Controller smc)
{
    if (!smc || index > MaxFanIndex)
        return nullptr;
    const QChar code = index < 10 ? QChar(char16_t(u'0' + index)) : QChar(char16_t(u'A' + (index - 10)));
    std::shared_ptr<TEVSMCFanSensor> fan(new TEVSMCFanSensor(std::move(smc), index, code));
    for (const char* suffix : {"Ac", "Mn", "Mx"}) {
        if (!fan->smc_->objectValueForPropertyWithKey(fan->key(suffix)).isValid())
            return nullptr;
    }
    const auto name = values::toString(fan->smc_->objectValueForPropertyWithKey(fan->key("ID")));
    const QString trimmed = name ? name->trimmed() : QString();
    if (trimmed.isEmpty()) {
        fan->useIndexIdentity();
    } else {
        fan->setUniqueIdentifier(QStringLiteral("smc.fan.") + trimmed);
        fan->setLocationIdentifier(QStringLiteral("SMC FAN ") + trimmed);
    }
    return fan;
}

TEVSMCFanSensor::TEVSMCFanSensor(Controller smc, quint64 index, QChar code)
    : smc_(std::move(smc)), index_(index), fanCode_(code)
{
    setSensorName(smcsensor::sensorName());
    setSensorType(1);
    setQuantityType(6);
    setPrecision(0.25, 0.0);
}

QString TEVSMCFanSensor::key(const char* suffix) const
{
    return QLatin1Char('F') + fanCode_ + QLatin1String(suffix);
}

void TEVSMCFanSensor::useIndexIdentity()
{
    setUniqueIdentifier(QStringLiteral("smc.fan.%1").arg(index_));
    setLocationIdentifier(QStringLiteral("SMC FAN %1").arg(index_));
}

qint64 TEVSMCFanSensor::rawValue() const
{
    const QVariant speed = smcsensor::read(smc_, key("Ac"));
    if (!smcsensor::isNumber(speed))
        return -1;
    return values::toSigned(speed).value_or(-1);
}

std::shared_ptr<TEVSensorValueConverter> TEVSMCFanSensor::valueConverter() const
{
    return std::make_shared<TEVSensorValueConverter>();
}

std::optional<QVariantList> TEVSMCFanSensor::sensorLimitsArray() const
{
    const QVariant maximum = smcsensor::read(smc_, key("Mx"));
    const QVariant minimum = smcsensor::read(smc_, key("Mn"));
    if (!smcsensor::isNumber(maximum) || !smcsensor::isNumber(minimum))
        return std::nullopt;
    return QVariantList{maximum, minimum};
}

QString TEVSMCFanSensor::unifiedSensorLocation() const
{
    return QStringLiteral("R:") + locationIdentifier();
}
