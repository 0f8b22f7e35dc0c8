#pragma once
// TEVBatteryInfo: one battery of the local computer over its registry entry, with its readout dictionary
// and status flags. Abstract in use: TEVSmartBatteryInfo supplies the readings. Nothing is cached; every
// call reads the registry, a readout of many values once (snapshot). Made and read on the capture thread; the absolute-current switch is atomic.

#include "sensors/TEVIORegistryEntry.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariantMap>

#include <memory>
#include <optional>

class TEVBatteryInfo {
public:
    using BatteryList = QList<std::shared_ptr<TEVBatteryInfo>>;

    explicit TEVBatteryInfo(std::shared_ptr<TEVIORegistryEntry> entry);
    virtual ~TEVBatteryInfo() = default;

    // The smart batteries of `registry` (the current one when null), in registry order.
    static BatteryList allBatteries(TEVIORegistryEntry::Registry registry = nullptr);
    static void setEnforcesAbsoluteBatteryCurrents(bool enforces);
    static bool enforcesAbsoluteBatteryCurrents();
    // One "• <status>\n" line per set flag of the table, in table order; the localised "normal" alone when
    // none is set.
    static QString localizedBatteryStatusDescriptionForBatteryFlags(quint64 flags);
    // The status dictionary keys, bit 0 first.
    static const QStringList& batteryStatusKeys();

    const std::shared_ptr<TEVIORegistryEntry>& batteryEntry() const { return entry_; }
    // The battery as it reads now: each of the copy's readers answers from one read of the registry entry,
    // so a readout of many values reads the host once.
    virtual std::shared_ptr<const TEVBatteryInfo> snapshot() const;

    // "BatteryStatus", "Voltage" (V), "Amperage" (A), the three capacities (mAh), "ChargeCycles",
    // "HasExtendedInfo", "HasSmartInfo".
    virtual QVariantMap currentReadouts() const;
    // The eleven status keys, each a boolean.
    QVariantMap batteryStatus() const;
    // Bit 0..10 of the flags; false for any other bit.
    bool batteryStatusForKey(qint64 bit) const;

    // Volts from "Voltage" (mV); a missing value reads -0.001.
    double voltage() const;
    // Amperes from "Amperage" (mA, negative while discharging); its magnitude when absolute currents are
    // enforced.
    double amperage() const;

    // Subclasses supply these; the base logs an implementation error and answers 0.
    virtual quint64 batteryFlags() const;
    virtual double totalCapacity() const;
    virtual double currentCapacity() const;
    virtual double maximumCapacity() const;
    virtual quint64 chargeCycles() const;

    // Defaults: null strings, no date, false.
    virtual QString manufacturer() const { return {}; }
    virtual QString batteryDeviceName() const { return {}; }
    virtual QString serialNumber() const { return {}; }
    virtual std::optional<QDateTime> manufacturingDate() const { return std::nullopt; }
    virtual bool hasExtendedInformation() const { return false; }
    virtual bool hasSmartInformation() const { return false; }

    // "<Class>: implementation error: -<method> fell back to abstract class because not overridden.\n";
    // nothing for an empty name.
    void logSubclassImplementationErrorWithMethodName(const QString& method) const;
    virtual QString className() const { return QStringLiteral("TEVBatteryInfo"); }

private:
    std::shared_ptr<TEVIORegistryEntry> entry_;
};
