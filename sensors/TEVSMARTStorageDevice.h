#pragma once
// TEVSMARTStorageDevice: the S.M.A.R.T. facility of one ATA drive: identity from IDENTIFY DEVICE, overall
// status, and the vendor attribute and threshold tables. The drive is opened for each operation and closed
// again at once. Made and used on one thread at a time (the capture thread, or the main thread for a pane
// that lists drives); separate objects for the same drive are independent.

#include "sensors/TEVIORegistryEntry.h"

#include <QMap>
#include <QString>
#include <QVariantMap>

#include <array>
#include <atomic>
#include <memory>

namespace platform {
class AtaSmartConnection;
class AtaSmartTransport;
}

// One 12-byte record of the S.M.A.R.T. data page.
struct TEVSMARTVendorAttribute {
    quint8 attributeId = 0; // 0: empty slot
    quint16 flags = 0;
    quint8 currentValue = 0;
    quint8 worstValue = 0;
    std::array<quint8, 6> rawValue{}; // little-endian 48-bit, in stored order
    quint8 reserved = 0;

    static TEVSMARTVendorAttribute fromBytes(const char* record);
    quint64 raw48() const;
};

// One 12-byte record of the threshold page.
struct TEVATASMARTThresholdValue {
    quint8 attributeId = 0;
    quint8 thresholdValue = 0;

    static TEVATASMARTThresholdValue fromBytes(const char* record);
};

// The IDENTIFY DEVICE page: 256 little-endian words; serial number in words 10-19, model in words 27-46.
struct TEVATADeviceIdentification {
    static constexpr int SerialNumberOffset = 20;
    static constexpr int SerialNumberLength = 20;
    static constexpr int ModelNumberOffset = 54;
    static constexpr int ModelNumberLength = 40;
    std::array<char, 512> bytes{};
};

// The identify-text helpers. Null for a null pointer; ataIdentifyString also for an odd length.
QString ataIdentifyString(const char* bytes, qsizetype length);
QString printableTrimmedString(const char* bytes, qsizetype length);

class TEVSMARTStorageDevice {
public:
    // S.M.A.R.T. status codes of currentSMARTStatus.
    enum Status : qint64 { StatusUnknown = 0, StatusThresholdExceeded = 1, StatusOK = 2 };
    static constexpr int AttributeSlots = 30;
    static constexpr quint8 DefaultTemperatureAttributeID = 194;

    // One device per S.M.A.R.T.-capable "IOAHCIBlockStorageDevice", then "IOBlockStorageServices", entry.
    // The flag does not change the result: the temperature sensor drops drives without a temperature.
    static std::vector<std::shared_ptr<TEVSMARTStorageDevice>> allSMARTDevicesRestrictToTemperatureSupport(
        bool restrict, TEVIORegistryEntry::Registry registry = nullptr,
        std::shared_ptr<const platform::AtaSmartTransport> transport = nullptr);
    static bool storageDeviceEntryIndicatesSMARTSupport(const TEVIORegistryEntry* entry, bool debugOutput);
    static bool storageDeviceEntryIndicatesSATAConnect(const TEVIORegistryEntry* entry, bool debugOutput);
    static void setDebugMode(bool debug) { debugMode_.store(debug, std::memory_order_relaxed); }
    static bool debugMode() { return debugMode_.load(std::memory_order_relaxed); }

    // Null for a null entry or when the drive cannot be opened. Null `transport`: the shared one.
    static std::shared_ptr<TEVSMARTStorageDevice> createWithIORegistryEntry(
        std::shared_ptr<TEVIORegistryEntry> entry, bool debugOutput,
        std::shared_ptr<const platform::AtaSmartTransport> transport = nullptr);
    ~TEVSMARTStorageDevice();
    TEVSMARTStorageDevice(const TEVSMARTStorageDevice&) = delete;
    TEVSMARTStorageDevice& operator=(const TEVSMARTStorageDevice&) = delete;

    const std::shared_ptr<TEVIORegistryEntry>& registryEntry() const { return registryEntry_; }
    QString productName() const { return productName_; }
    QString serialNumber() const { return serialNumber_; }
    // The BSD name the drive is opened by, from the first entry below the device that has "BSD Name".
    QString bsdName() const { return bsdName_; }
    // True while the registry (the current one when null) still lists this drive's entry and that entry
    // names the model and serial number it named when the drive was opened, so a rescan can keep the drive
    // without waking it. Reads the registry only, never the drive.
    bool isStillAttached(TEVIORegistryEntry::Registry registry = nullptr) const;

    qint64 currentSMARTStatus();
    // Degrees Celsius; -1 when unavailable.
    qint64 temperature();
    void setSMARTTemperatureAttributeID(quint8 attributeId) { temperatureAttributeID_ = attributeId; }
    quint8 temperatureAttributeID() const { return temperatureAttributeID_; }

    bool getVendorSpecificSMARTAttribute(TEVSMARTVendorAttribute* attribute, qint64 attributeId);
    bool getVendorSpecificSMARTThresholdValue(TEVATASMARTThresholdValue* threshold, qint64 attributeId);
    bool getATAIdentificationData(TEVATADeviceIdentification* identification);
    // Every non-empty attribute slot keyed by id (the first of a repeated id), and the threshold for each
    // id that the threshold page lists.
    bool getByIDAllSMARTAttributes(QMap<quint8, QVariantMap>* attributes, QMap<quint8, quint8>* thresholds);
    static std::optional<QVariantMap> dictionaryForVendorSpecificSMARTAttribute(const TEVSMARTVendorAttribute* attribute);

    // Page decoders shared with the readers above (the tables of a saved page).
    static std::vector<TEVSMARTVendorAttribute> attributesOfDataPage(const QByteArray& page);
    static std::vector<TEVATASMARTThresholdValue> thresholdsOfThresholdPage(const QByteArray& page);
    static qint64 temperatureFromSMARTAttribute(const TEVSMARTVendorAttribute* attribute, quint8 attributeId);

    // The open/close steps of every operation; public so that their misuse can be tested.
    bool _openSMARTDevice();
    void _closeSMARTDevice();
    bool isOpen() const { return connection_ != nullptr; }
    bool enableRequestWasSent() const { return enableRequestWasSent_; }

private:
    TEVSMARTStorageDevice() = default;
    std::optional<QByteArray> readDataPage();

    static std::atomic<bool> debugMode_;

    std::shared_ptr<TEVIORegistryEntry> registryEntry_;
    std::shared_ptr<const platform::AtaSmartTransport> transport_;
    // Declared after the transport, so it is closed before the transport may go.
    std::unique_ptr<platform::AtaSmartConnection> connection_;
    QString bsdName_;
    QString productName_;
    QString serialNumber_;
    QString registryIdentity_; // the entry's model and serial number; null when it names neither
    quint8 temperatureAttributeID_ = DefaultTemperatureAttributeID;
    bool enableRequestWasSent_ = false;
};
