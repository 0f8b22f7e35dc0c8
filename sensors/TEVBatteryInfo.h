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
    struct NumberedBattery {
        quint64 number;
        std::shared_ptr<TEVBatteryInfo> battery;
    };
    // The readings whose absence the accessors hide behind fixed values (-0.001 V, -1 mAh...).
    enum class Reading { Voltage, Amperage, TotalCapacity, CurrentCapacity };

    explicit TEVBatteryInfo(std::shared_ptr<TEVIORegistryEntry> entry);
    virtual ~TEVBatteryInfo() = default;

    // The smart batteries of `registry` (the current one when null), in registry order.
    static BatteryList allBatteries(TEVIORegistryEntry::Registry registry = nullptr);
    // The batteries of allBatteries in number order. A pack keeps its number while it stays, whatever other
    // packs come or go; a pack not seen in the previous listing takes the lowest number no present pack
    // holds, so the first listing numbers in registry order and a single pack is always number 0.
    // Process-wide and thread-safe. With a number store the numbers outlast the process: a start numbers the
    // packs it finds as the last listing of the previous run did, so stored gauges and alerts watch the
    // same pack whatever order the packs are found in.
    static QList<NumberedBattery> numberedBatteries(TEVIORegistryEntry::Registry registry = nullptr);
    // The file that keeps the numbers (a small property list, written when they change unless `writes` is
    // off, as for a tool that only reads what the program numbered); empty: none. Setting it starts the
    // numbering afresh from what the file holds, as a new process does.
    static void setNumberStorePath(const QString& path, bool writes = true);
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

    // False once the pack is out of its bay: its entry publishes nothing or says it is not installed.
    bool isPresent() const;
    // The pack is present and publishes `reading`.
    virtual bool hasReading(Reading reading) const;
    // What tells this pack from the others of the same computer: its entry's name, device name and serial.
    QString packKey() const;

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

protected:
    // The entry publishes `name` as an integer.
    bool hasNumberWithName(const QString& name) const;

private:
    std::shared_ptr<TEVIORegistryEntry> entry_;
};
