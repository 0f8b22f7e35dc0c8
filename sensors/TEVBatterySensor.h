#pragma once
// TEVBatterySensor: voltage, current or a capacity of one battery, or the voltage of one of its cells, as
// a 16.16 fixed-point raw value. Holds its battery record; reads it live. Capture thread.

#include "sensors/TEVBatteryInfo.h"
#include "sensors/TEVSensor.h"

#include <limits>

class TEVBatterySensor final : public TEVSensor {
public:
    enum Kind : qint64 { None = 0, Voltage = 1, Amperage = 2, TotalCapacity = 3, Capacity = 4 };
    static constexpr quint64 kNoCell = quint64(std::numeric_limits<qint64>::max());

    TEVBatterySensor() = default;
    // Null for a null battery.
    static std::shared_ptr<TEVBatterySensor> create(std::shared_ptr<TEVBatteryInfo> battery, qint64 kind,
                                                    quint64 batteryIndex);
    static std::shared_ptr<TEVBatterySensor> createForCellVoltage(std::shared_ptr<TEVBatteryInfo> battery,
                                                                  quint64 batteryIndex, quint64 cellIndex);

    // Registers the class with the sensor class registry.
    static void load();
    // Per battery in number order, under its pack number (TEVBatteryInfo::numberedBatteries): kinds 1 to 4,
    // then one voltage sensor per cell of a smart battery.
    static TEVSensorList allSensors(TEVIORegistryEntry::Registry registry = nullptr);

    const std::shared_ptr<TEVBatteryInfo>& batteryInfo() const { return battery_; }
    qint64 batterySensorType() const { return kind_; }
    quint64 batteryIndex() const { return batteryIndex_; }
    quint64 batteryCellIndex() const { return cellIndex_; }
    // "voltage", "amperage", "totalCapacity", "capacity"; "" for kind 0, null for others.
    QString sensorTypeIdentifier() const;

    // The reading × 65536 truncated toward zero, clamped to 32 bits (a capacity of 32768 mAh or more reads
    // as the largest value rather than wrapping); -1 for no reading, a pack out of its bay included.
    qint64 rawValue() const override;
    QString unit() const override;
    // Linear, factor 2^-16.
    std::shared_ptr<TEVSensorValueConverter> valueConverter() const override;
    QString className() const override { return QStringLiteral("TEVBatterySensor"); }

private:
    void setUpIdentity();

    std::shared_ptr<TEVBatteryInfo> battery_;
    qint64 kind_ = None;
    quint64 batteryIndex_ = 0;
    quint64 cellIndex_ = kNoCell;
};
