#include "sensors/TEVSmartBatteryTemperatureSensor.h"

#include "framework/CDP.h"
#include "sensors/TEVSensorValueConverter.h"

#include <cmath>
#include <limits>

namespace {

// Each "%@" in turn takes the next argument; the arguments are never scanned for placeholders.
QString filled(const QString& format, const QStringList& arguments)
{
    QString text;
    qsizetype from = 0;
    for (const QString& argument : arguments) {
        const qsizetype at = format.indexOf(QLatin1String("%@"), from);
        if (at < 0)
            break;
        text += format.mid(from, at - from) + argument;
        from = at + 2;
    }
    return text + format.mid(from);
}

} // namespace

std::shared_ptr<TEVSmartBatteryTemperatureSensor>
TEVSmartBatteryTemperatureSensor::create(std::shared_ptr<TEVSmartBatteryInfo> battery)
{
    if (!battery || battery->temperature() == 0.0)
        return nullptr;
    const QString device = battery->batteryDeviceName();
    const QString serial = battery->serialNumber();
    if (device.isEmpty() || serial.isEmpty())
        return nullptr;

    auto sensor = std::make_shared<TEVSmartBatteryTemperatureSensor>();
    sensor->battery_ = std::move(battery);
    sensor->setUniqueIdentifier(QStringLiteral("smartbattery.%1.%2").arg(device, serial));
    sensor->setLocationIdentifier(filled(CDP::localizedUnitForKey("Smart Battery %@ (%@)"), {device, serial}));
    sensor->setSensorName(CDP::localizedUnitForKey("Smart Battery Temperature Sensor"));
    sensor->setSensorType(1);
    sensor->setQuantityType(1);
    sensor->setPrecision(0.5, 3.0);
    return sensor;
}

void TEVSmartBatteryTemperatureSensor::load()
{
    TEVSensor::registerSensorClass(
        {QStringLiteral("TEVSmartBatteryTemperatureSensor"), [] { return allSensors(); }});
}

TEVSensorList TEVSmartBatteryTemperatureSensor::allSensors(TEVIORegistryEntry::Registry registry)
{
    TEVSensorList sensors;
    for (const auto& battery : TEVSmartBatteryInfo::allBatteries(std::move(registry))) {
        if (auto sensor = create(std::static_pointer_cast<TEVSmartBatteryInfo>(battery)))
            sensors.append(std::move(sensor));
    }
    return sensors;
}

qint64 TEVSmartBatteryTemperatureSensor::rawValue() const
{
    const double celsius = battery_ ? battery_->temperature() : 0.0;
    if (celsius == 0.0 || !std::isfinite(celsius))
        return -1;
    return qint64(std::trunc(celsius));
}

std::shared_ptr<TEVSensorValueConverter> TEVSmartBatteryTemperatureSensor::valueConverter() const
{
    return std::make_shared<TEVSensorValueConverter>();
}
