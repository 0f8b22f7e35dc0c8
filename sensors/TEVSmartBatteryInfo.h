#pragma once
// TEVSmartBatteryInfo: a battery published as an "AppleSmartBattery" registry entry: capacities, flags,
// cycles, names, serial numbers, manufacture date, temperature and cell voltages. Reads the registry on
// every call. Capture thread.

#include "sensors/TEVBatteryInfo.h"

class TEVSmartBatteryInfo final : public TEVBatteryInfo {
public:
    using TEVBatteryInfo::TEVBatteryInfo;

    // Every "AppleSmartBattery" service that has all ten properties the readings need, in registry order.
    static BatteryList allBatteries(TEVIORegistryEntry::Registry registry = nullptr);

    std::shared_ptr<const TEVBatteryInfo> snapshot() const override;
    QVariantMap currentReadouts() const override;
    bool hasReading(Reading reading) const override;

    quint64 batteryFlags() const override;
    double totalCapacity() const override;
    double currentCapacity() const override;
    double maximumCapacity() const override;
    quint64 chargeCycles() const override;
    // Empty when the registry has none.
    QString manufacturer() const override;
    // Null when the registry has none.
    QString batteryDeviceName() const override;
    // "FirmwareSerialNumber" in decimal; a negative or missing number reads as 0 rather than wrapping.
    QString serialNumber() const override;
    // From the 16-bit Smart Battery date word; nothing when it is no real date (month 0, 31 February...).
    std::optional<QDateTime> manufacturingDate() const override;
    bool hasExtendedInformation() const override { return true; }
    bool hasSmartInformation() const override { return true; }

    // "BatterySerialNumber", null when absent.
    QString appleSerialNumber() const;
    // "<firmware serial> (<battery serial>)", or the firmware serial alone when the battery has none.
    QString presentedSerialNumber() const;
    // Degrees Celsius from tenths of a kelvin (0 °C = 273.16 K); exactly 0.0 when absent.
    double temperature() const;
    // Cells up to the first 0 mV entry of "CellVoltage".
    quint64 numberOfCells() const;
    // The pack is present and "CellVoltage" holds a reading at `index`.
    bool hasCellVoltageAtIndex(quint64 index) const;
    // Volts of any element of "CellVoltage"; 0.0 outside the array.
    double cellVoltageAtIndex(quint64 index) const;
    QString description() const;

    QString className() const override { return QStringLiteral("TEVSmartBatteryInfo"); }
};
