#pragma once
// TEVSmartBatteryTemperatureSensor: the temperature of one smart battery in whole degrees Celsius. Holds
// its battery record and reads it live. Capture thread.

#include "sensors/TEVSensor.h"
#include "sensors/TEVSmartBatteryInfo.h"

class TEVSmartBatteryTemperatureSensor final : public TEVSensor {
public:
    // Null unless the battery reports a temperature (not exactly 0.0) and has a device name and a serial
    // number.
    static std::shared_ptr<TEVSmartBatteryTemperatureSensor> create(std::shared_ptr<TEVSmartBatteryInfo> battery);

    static void load();
    // One per smart battery that makes a sensor, in list order.
    static TEVSensorList allSensors(TEVIORegistryEntry::Registry registry = nullptr);

    const std::shared_ptr<TEVSmartBatteryInfo>& batteryInfo() const { return battery_; }
    // Degrees Celsius truncated toward zero; -1 when the battery has no temperature.
    qint64 rawValue() const override;
    QString unit() const override { return QStringLiteral("C"); }
    // Identity.
    std::shared_ptr<TEVSensorValueConverter> valueConverter() const override;
    QString className() const override { return QStringLiteral("TEVSmartBatteryTemperatureSensor"); }

    TEVSmartBatteryTemperatureSensor() = default; // use create

private:
    std::shared_ptr<TEVSmartBatteryInfo> battery_;
};
