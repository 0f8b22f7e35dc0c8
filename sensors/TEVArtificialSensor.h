#pragma once
// TEVArtificialSensor: a probe, a sensor that the user defines and the program computes (processor load,
// disk space, memory and swap, paging, S.M.A.R.T. and RAID status, electrical power, battery capacity,
// process count, network counters) from the local samplers, bound sources or one host query per read.
// The class-wide probe list is changed on the main thread and read (as a snapshot) by the capture thread,
// which also binds and reads the probes.

#include "sensors/TEVBatteryInfo.h"
#include "sensors/TEVSensor.h"

#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

class TEVLocalCPULoadProbe;
class TEVLocalMemoryProbe;
class TEVLocalNetworkProbe;
class TEVLocalSMARTProbe;
class TEVSoftwareRAIDDevice;

class TEVArtificialSensor final : public TEVSensor {
public:
    enum Kind : qint64 {
        None = 0, CPULoad = 1, DiskCapacity = 2, DiskFree = 3, DiskUsed = 4, MemoryFree = 5, MemoryActive = 6,
        MemoryInactive = 7, MemoryWired = 8, MemoryPageIns = 9, MemoryPageOuts = 10, MemorySwapSize = 11,
        MemorySwapUsed = 12, SMARTStatus = 13, RAIDStatus = 14, Power = 15, RemainingBattery = 16, TotalCPULoad = 17,
        NumberOfProcesses = 18, NetOutPackages = 19, NetInPackages = 20, NetOutBytes = 21, NetInBytes = 22,
        NetOutErrors = 23, NetInErrors = 24, NetCollisions = 25, NetOutBytesTotal = 26, NetInBytesTotal = 27,
        LastKind = NetInBytesTotal
    };

    // Registers the class with the sensor class registry; its sensors are the class-wide list.
    static void load();

    // --- The class-wide list ---
    // A snapshot of the list, in order.
    static TEVSensorList allSensors();
    static QList<std::shared_ptr<TEVArtificialSensor>> allArtificialSensors();
    // False, and nothing changed, for a null probe or one equal (same identifier) to a listed one.
    static bool addArtificialSensor(std::shared_ptr<TEVArtificialSensor> sensor);
    static void removeArtificialSensorAtIndex(quint64 index);
    // Removes every entry that is this very object.
    static void removeArtificialSensor(const TEVArtificialSensor* sensor);
    // Replaces the list with the probes the dictionaries build (skipping the others, no duplicate check);
    // nothing for an absent array.
    static void setArtificialSensorsUsingPreferenceDictionaries(const std::optional<QVariantList>& dictionaries);
    static QVariantList preferenceDictionariesForAllSensors();

    // --- Construction: null when a check fails; each binds with no sensor list ---
    // 0 ≤ index < the machine's processor count.
    static std::shared_ptr<TEVArtificialSensor> createAsLoadSensorForCPUAtIndex(qint64 index);
    static std::shared_ptr<TEVArtificialSensor> createAsTotalCPULoadSensor();
    static std::shared_ptr<TEVArtificialSensor> createAsProcessCountSensor();
    static std::shared_ptr<TEVArtificialSensor> createAsStorageSensorForPath(const QString& path, qint64 kind);
    static std::shared_ptr<TEVArtificialSensor> createAsMemorySensorOfType(qint64 kind);
    static std::shared_ptr<TEVArtificialSensor> createAsSMARTStatusSensorForProductName(const QString& productName,
                                                                                       const QString& serialNumber);
    // A set that is not present yet makes an unbound probe, bound at a later rescan.
    static std::shared_ptr<TEVArtificialSensor> createAsRAIDStatusSensorForUUID(const QString& identifier);
    static std::shared_ptr<TEVArtificialSensor> createAsPowerSensorForVoltageSensorNamed(
        const QString& voltageIdentifier, const QString& voltageDescription, const QString& currentIdentifier,
        const QString& currentDescription);
    static std::shared_ptr<TEVArtificialSensor> createAsBatterySensorForIndex(qint64 index);
    static std::shared_ptr<TEVArtificialSensor> createAsNetworkInterfaceSensorWithType(qint64 kind, const QString& bsdName,
                                                                                      const QString& description);
    static std::shared_ptr<TEVArtificialSensor> createWithPreferenceDictionary(const std::optional<QVariantMap>& dictionary);
    static std::shared_ptr<TEVArtificialSensor> createWithCoder(platform::Coder& coder);

    // "<identifier>!TEV!<description>"; null unless both are non-empty.
    static QString sensorSpecifier(const QString& identifier, const QString& description);
    // Splits at the first separator; false without one or with nothing after it.
    static bool parseSensorSpecifier(const QString& specifier, QString* identifier, QString* description);
    // The "Type" key of a kind; null outside 1 to 27.
    static QString typeKeyForKind(qint64 kind);
    // 0 for an unknown key.
    static qint64 kindForTypeKey(const QString& key);

    TEVArtificialSensor();

    qint64 artificialType() const { return kind_; }
    void setArtificialType(qint64 kind) { kind_ = kind; }
    // The processor or battery index (exact, whatever the processor count); -1 for other kinds.
    qint64 associatedIndex() const { return index_; }
    void setAssociatedIndex(qint64 index) { index_ = index; }
    QString associatedFirstSensorSourceName() const { return source1_; }
    void setAssociatedFirstSensorSourceName(const QString& name) { source1_ = name; }
    QString associatedSecondSensorSourceName() const { return source2_; }
    void setAssociatedSecondSensorSourceName(const QString& name) { source2_ = name; }

    // The kind name; "" for kind 0, null above 27.
    QString localizedSensorType() const;
    // Index 0 or 1: what the preference pane shows as the probe's sources; null above 1.
    QString localizedDescriptionForAssociatedObjectAtIndex(quint64 index) const;

    // Binds the sources anew; `sensors` (the full sensor list) matters only to power probes.
    void resolveObjectDependenciesUsingSensorList(const TEVSensorList* sensors);
    // The acquisition core's rescan: binds power probes to the sensors just found.
    void resolveObjectDependenciesUsingSensorList(const TEVSensorList& sensors) override
    {
        resolveObjectDependenciesUsingSensorList(&sensors);
    }
    bool isBound() const;

    QVariantMap preferenceDictionary() const;

    qint64 rawValue() const override;
    QString unit() const override;
    std::shared_ptr<TEVSensorValueConverter> valueConverter() const override;
    std::shared_ptr<TEVSensor> copy() const override;
    QString description() const override;
    QString className() const override { return QStringLiteral("TEVArtificialSensor"); }
    void encodeWithCoder(platform::Coder& coder) const override;

private:
    explicit TEVArtificialSensor(const TEVSensor& base) : TEVSensor(base) {}
    static std::shared_ptr<TEVArtificialSensor> make(qint64 kind, const QString& identifier, const QString& location,
                                                     qint64 quantity, qint64 index = -1, const QString& source1 = {},
                                                     const QString& source2 = {});
    double computedValue(bool* noValue) const;

    qint64 kind_ = None;
    qint64 index_ = -1;
    QString source1_;
    QString source2_;

    // Bound sources, never persisted; copies share them.
    std::shared_ptr<TEVLocalCPULoadProbe> cpuLoad_;
    std::shared_ptr<TEVLocalMemoryProbe> memory_;
    std::shared_ptr<TEVLocalNetworkProbe> network_;
    std::shared_ptr<TEVLocalSMARTProbe> smart_;
    std::shared_ptr<TEVSoftwareRAIDDevice> raid_;
    std::shared_ptr<TEVSensor> voltage_;
    std::shared_ptr<TEVSensor> current_;
    std::shared_ptr<TEVBatteryInfo> battery_;
};

// Processor load locations name processors by letter: "A" to "Z", then "AA", "AB", ... as spreadsheet
// columns do, so the text never runs past "Z" and stays unique.
QString processorLetters(qint64 index);
