#include "sensors/TEVSMARTStorageDevice.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "platform/hardware/AtaSmartTransport.h"

#include <algorithm>
#include <cctype>

namespace values = platform::values;

namespace {

constexpr int kRecordSize = 12;
constexpr int kFirstRecord = 2; // after the 16-bit revision

QString entryText(const TEVIORegistryEntry* entry)
{
    return entry ? entry->description() : QStringLiteral("(null)");
}

// The text is made only when it is logged: describing a registry entry is costly.
template <typename Text>
void debugLog(bool enabled, const Text& text)
{
    if (enabled)
        platform::log(text());
}

// The model and serial number the registry gives a drive (from the host's device records, not the drive).
QString registryIdentityOf(const TEVIORegistryEntry& entry)
{
    const auto properties = entry.properties();
    const auto characteristics =
        properties ? values::toDictionary(properties->value(QStringLiteral("Device Characteristics"))) : std::nullopt;
    if (!characteristics)
        return {};
    const QString model = values::toString(characteristics->value(QStringLiteral("Product Name"))).value_or(QString());
    const QString serial = values::toString(characteristics->value(QStringLiteral("Serial Number"))).value_or(QString());
    if (model.isEmpty() && serial.isEmpty())
        return {};
    return model + QLatin1Char('\n') + serial;
}

} // namespace

std::atomic<bool> TEVSMARTStorageDevice::debugMode_{false};

TEVSMARTVendorAttribute TEVSMARTVendorAttribute::fromBytes(const char* record)
{
    TEVSMARTVendorAttribute a;
    a.attributeId = quint8(record[0]);
    a.flags = quint16(quint8(record[1]) | (quint8(record[2]) << 8));
    a.currentValue = quint8(record[3]);
    a.worstValue = quint8(record[4]);
    for (int i = 0; i < 6; ++i)
        a.rawValue[size_t(i)] = quint8(record[5 + i]);
    a.reserved = quint8(record[11]);
    return a;
}

quint64 TEVSMARTVendorAttribute::raw48() const
{
    quint64 value = 0;
    for (int i = 5; i >= 0; --i)
        value = (value << 8) | rawValue[size_t(i)];
    return value;
}

TEVATASMARTThresholdValue TEVATASMARTThresholdValue::fromBytes(const char* record)
{
    return {quint8(record[0]), quint8(record[1])};
}

QString printableTrimmedString(const char* bytes, qsizetype length)
{
    if (!bytes)
        return {};
    QByteArray kept;
    for (qsizetype i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c <= 0x7E) // isprint() of the C locale
            kept.append(char(c));
    }
    return QString::fromLatin1(kept).trimmed();
}

QString ataIdentifyString(const char* bytes, qsizetype length)
{
    if (!bytes || length % 2 != 0)
        return {};
    QByteArray swapped(bytes, length);
    for (qsizetype i = 0; i + 1 < length; i += 2)
        std::swap(swapped[i], swapped[i + 1]);
    return printableTrimmedString(swapped.constData(), swapped.size());
}

std::vector<std::shared_ptr<TEVSMARTStorageDevice>> TEVSMARTStorageDevice::allSMARTDevicesRestrictToTemperatureSupport(
    bool, TEVIORegistryEntry::Registry registry, std::shared_ptr<const platform::AtaSmartTransport> transport)
{
    const bool debug = debugMode();
    TEVIORegistryEntry::EntryList entries;
    for (const char* className : {"IOAHCIBlockStorageDevice", "IOBlockStorageServices"}) {
        if (const auto found = TEVIORegistryEntry::serviceObjectsMatchingName(QLatin1String(className), registry))
            entries.insert(entries.end(), found->begin(), found->end());
    }
    debugLog(debug, [&] {
        return QStringLiteral("*** Scanning for S.M.A.R.T. capable devices. (Found %1 new era block storage devices.)\n")
               .arg(entries.size());
    });
    std::vector<std::shared_ptr<TEVSMARTStorageDevice>> devices;
    for (const auto& entry : entries) {
        debugLog(debug, [&] { return QStringLiteral("    Processing entry %1\n").arg(entryText(entry.get())); });
        if (!storageDeviceEntryIndicatesSMARTSupport(entry.get(), debug))
            continue;
        if (auto device = createWithIORegistryEntry(entry, debug, transport)) {
            device->setSMARTTemperatureAttributeID(DefaultTemperatureAttributeID);
            devices.push_back(std::move(device));
        } else {
            debugLog(debug, [&] {
                return QStringLiteral("   Device entry %1 not accepted.\n").arg(entryText(entry.get()));
            });
        }
    }
    debugLog(debug, [&] { return QStringLiteral("*** Scan of S.M.A.R.T. capable devices completed.\n"); });
    return devices;
}

bool TEVSMARTStorageDevice::storageDeviceEntryIndicatesSMARTSupport(const TEVIORegistryEntry* entry, bool debugOutput)
{
    if (!entry)
        return false;
    const std::optional<QVariantMap> properties = entry->properties();
    const auto text = [entry] { return entryText(entry); };
    if (properties && properties->contains(QStringLiteral("SMART Capable"))) {
        const QVariant capable = properties->value(QStringLiteral("SMART Capable"));
        if (values::isNumber(capable))
            return *values::toBool(capable);
        debugLog(debugOutput, [&] {
            return QStringLiteral("   Device entry %1 not accepted because S.M.A.R.T. feature flag not accessible\n").arg(text());
        });
        return false;
    }
    if (properties && properties->contains(QStringLiteral("Device Characteristics"))) {
        const std::optional<QVariantMap> characteristics =
            values::toDictionary(properties->value(QStringLiteral("Device Characteristics")));
        if (characteristics && characteristics->contains(QStringLiteral("ATA Features"))) {
            const QVariant features = characteristics->value(QStringLiteral("ATA Features"));
            if (values::isNumber(features) && values::kindOf(features) != values::Kind::Bool) {
                const std::optional<qint64> asSigned = values::toSigned(features);
                const quint64 code = asSigned ? quint64(*asSigned) : values::toUnsigned(features).value_or(0);
                if (code & 0x20)
                    return true;
                debugLog(debugOutput, [&] {
                    return QStringLiteral("   Device entry %1 not accepted because it doesn't seem to support "
                           "S.M.A.R.T. The feature code is %2.\n")
                           .arg(text(), QString::number(code, 16));
                });
                return false;
            }
            debugLog(debugOutput, [&] {
                return QStringLiteral("   Device entry %1 not accepted because ATA features could not be processed\n").arg(text());
            });
            return false;
        }
        debugLog(debugOutput, [&] {
            return QStringLiteral("   Device entry %1 not accepted because ATA features not accessible\n").arg(text());
        });
        return false;
    }
    debugLog(debugOutput, [&] {
        return QStringLiteral("   Device entry %1 not accepted because device description not accessible\n").arg(text());
    });
    return false;
}

bool TEVSMARTStorageDevice::storageDeviceEntryIndicatesSATAConnect(const TEVIORegistryEntry* entry, bool debugOutput)
{
    const std::optional<QVariantMap> properties = entry ? entry->properties() : std::nullopt;
    const std::optional<QVariantMap> protocol =
        properties ? values::toDictionary(properties->value(QStringLiteral("Protocol Characteristics"))) : std::nullopt;
    if (!protocol) {
        debugLog(debugOutput, [&] {
            return QStringLiteral("   Device entry %1 does not specify protocol characteristics\n").arg(entryText(entry));
        });
        return false;
    }
    if (values::toString(protocol->value(QStringLiteral("Physical Interconnect"))) != QStringLiteral("SATA")) {
        debugLog(debugOutput, [&] {
            return QStringLiteral("   Device entry %1 has no or an unexpected interconnect specifier\n").arg(entryText(entry));
        });
        return false;
    }
    return true;
}

std::shared_ptr<TEVSMARTStorageDevice> TEVSMARTStorageDevice::createWithIORegistryEntry(
    std::shared_ptr<TEVIORegistryEntry> entry, bool debugOutput, std::shared_ptr<const platform::AtaSmartTransport> transport)
{
    if (!entry)
        return nullptr;
    std::shared_ptr<TEVSMARTStorageDevice> device(new TEVSMARTStorageDevice());
    device->registryEntry_ = std::move(entry);
    device->transport_ = transport ? std::move(transport) : platform::AtaSmartTransport::shared();
    device->registryIdentity_ = registryIdentityOf(*device->registryEntry_);
    for (auto below = device->registryEntry_->childServiceEntry(); below; below = below->childServiceEntry()) {
        if (below->hasValueWithName(QStringLiteral("BSD Name"))) {
            device->bsdName_ = below->stringValueWithName(QStringLiteral("BSD Name"));
            break;
        }
    }
    if (!device->_openSMARTDevice()) {
        debugLog(debugOutput, [&] {
            return QStringLiteral("   Device entry %1 not accepted because access to its S.M.A.R.T. interface failed.\n")
                   .arg(entryText(device->registryEntry_.get()));
        });
        return nullptr;
    }
    device->_closeSMARTDevice();

    TEVATADeviceIdentification identification;
    if (device->getATAIdentificationData(&identification)) {
        device->productName_ = ataIdentifyString(identification.bytes.data() + TEVATADeviceIdentification::ModelNumberOffset,
                                                 TEVATADeviceIdentification::ModelNumberLength);
        device->serialNumber_ = ataIdentifyString(identification.bytes.data() + TEVATADeviceIdentification::SerialNumberOffset,
                                                  TEVATADeviceIdentification::SerialNumberLength);
    } else {
        device->productName_ = QStringLiteral("UNKNOWN SMART DISK");
        device->serialNumber_ = QString(QLatin1String(""));
    }
    return device;
}

TEVSMARTStorageDevice::~TEVSMARTStorageDevice() = default;

bool TEVSMARTStorageDevice::isStillAttached(TEVIORegistryEntry::Registry registry) const
{
    const auto& handle = registryEntry_->ioKitHandle();
    if (registryIdentity_.isNull() || !handle)
        return false;
    const auto listed = (registry ? registry : platform::IORegistry::current())->entries();
    if (std::find(listed.begin(), listed.end(), handle) == listed.end())
        return false;
    return registryIdentityOf(*registryEntry_) == registryIdentity_;
}

bool TEVSMARTStorageDevice::_openSMARTDevice()
{
    if (connection_) {
        platform::log(QStringLiteral("Internal error: TEVSMARTStorageDevice tried to open a device which is already open\n"));
        return false;
    }
    if (!transport_ || bsdName_.isEmpty())
        return false;
    platform::AtaSmartTransport::OpenResult opened = transport_->open(bsdName_);
    if (!opened.connection)
        return false;
    connection_ = std::move(opened.connection);
    if (enableRequestWasSent_)
        return true;
    if (!connection_->enableOperations()) {
        _closeSMARTDevice();
        return false;
    }
    enableRequestWasSent_ = true;
    return true;
}

void TEVSMARTStorageDevice::_closeSMARTDevice()
{
    if (!connection_) {
        platform::log(QStringLiteral("Internal error: TEVSMARTStorageDevice tried to close a device which is not open\n"));
        return;
    }
    connection_.reset();
}

qint64 TEVSMARTStorageDevice::currentSMARTStatus()
{
    if (!_openSMARTDevice())
        return StatusUnknown;
    const std::optional<bool> exceeded = connection_->returnStatus();
    _closeSMARTDevice();
    if (!exceeded)
        return StatusUnknown;
    return *exceeded ? StatusThresholdExceeded : StatusOK;
}

bool TEVSMARTStorageDevice::getATAIdentificationData(TEVATADeviceIdentification* identification)
{
    if (!identification || !_openSMARTDevice())
        return false;
    const std::optional<QByteArray> page = connection_->identify();
    _closeSMARTDevice();
    if (!page || page->size() != int(identification->bytes.size()))
        return false;
    std::copy(page->begin(), page->end(), identification->bytes.begin());
    return true;
}

std::optional<QByteArray> TEVSMARTStorageDevice::readDataPage()
{
    if (!_openSMARTDevice())
        return std::nullopt;
    std::optional<QByteArray> page = connection_->readData();
    _closeSMARTDevice();
    if (!page || page->size() != platform::AtaSmartConnection::PageSize)
        return std::nullopt;
    return page;
}

std::vector<TEVSMARTVendorAttribute> TEVSMARTStorageDevice::attributesOfDataPage(const QByteArray& page)
{
    std::vector<TEVSMARTVendorAttribute> result;
    if (page.size() < kFirstRecord + AttributeSlots * kRecordSize)
        return result;
    for (int i = 0; i < AttributeSlots; ++i)
        result.push_back(TEVSMARTVendorAttribute::fromBytes(page.constData() + kFirstRecord + i * kRecordSize));
    return result;
}

std::vector<TEVATASMARTThresholdValue> TEVSMARTStorageDevice::thresholdsOfThresholdPage(const QByteArray& page)
{
    std::vector<TEVATASMARTThresholdValue> result;
    if (page.size() < kFirstRecord + AttributeSlots * kRecordSize)
        return result;
    for (int i = 0; i < AttributeSlots; ++i)
        result.push_back(TEVATASMARTThresholdValue::fromBytes(page.constData() + kFirstRecord + i * kRecordSize));
    return result;
}

bool TEVSMARTStorageDevice::getVendorSpecificSMARTAttribute(TEVSMARTVendorAttribute* attribute, qint64 attributeId)
{
    if (!attribute || attributeId < 1 || attributeId > 255)
        return false;
    const std::optional<QByteArray> page = readDataPage();
    if (!page)
        return false;
    for (const auto& record : attributesOfDataPage(*page)) {
        if (record.attributeId == attributeId) {
            *attribute = record;
            return true;
        }
    }
    return false;
}

bool TEVSMARTStorageDevice::getVendorSpecificSMARTThresholdValue(TEVATASMARTThresholdValue* threshold, qint64 attributeId)
{
    if (!threshold || attributeId < 1 || attributeId > 255 || !_openSMARTDevice())
        return false;
    const std::optional<QByteArray> page = connection_->readThresholds();
    _closeSMARTDevice();
    if (!page || page->size() != platform::AtaSmartConnection::PageSize)
        return false;
    for (const auto& record : thresholdsOfThresholdPage(*page)) {
        if (record.attributeId == attributeId) {
            *threshold = record;
            return true;
        }
    }
    return false;
}

bool TEVSMARTStorageDevice::getByIDAllSMARTAttributes(QMap<quint8, QVariantMap>* attributes, QMap<quint8, quint8>* thresholds)
{
    if (!attributes || !thresholds)
        return false;
    attributes->clear();
    thresholds->clear();
    if (!_openSMARTDevice())
        return false;
    const std::optional<QByteArray> data = connection_->readData();
    const std::optional<QByteArray> limits = connection_->readThresholds();
    _closeSMARTDevice();
    if (!data || !limits || data->size() != platform::AtaSmartConnection::PageSize
        || limits->size() != platform::AtaSmartConnection::PageSize)
        return false;
    const auto records = attributesOfDataPage(*data);
    const auto thresholdRecords = thresholdsOfThresholdPage(*limits);
    // Every slot is looked at: drives leave empty slots between attributes, and some fill all 30.
    for (size_t i = 0; i < records.size(); ++i) {
        const TEVSMARTVendorAttribute& record = records[i];
        if (record.attributeId == 0 || attributes->contains(record.attributeId))
            continue;
        attributes->insert(record.attributeId, *dictionaryForVendorSpecificSMARTAttribute(&record));
        // The threshold page lists the same ids at the same positions; look further only when it does not.
        if (thresholdRecords[i].attributeId == record.attributeId) {
            thresholds->insert(record.attributeId, thresholdRecords[i].thresholdValue);
            continue;
        }
        for (const auto& limit : thresholdRecords) {
            if (limit.attributeId == record.attributeId) {
                thresholds->insert(record.attributeId, limit.thresholdValue);
                break;
            }
        }
    }
    return true;
}

std::optional<QVariantMap> TEVSMARTStorageDevice::dictionaryForVendorSpecificSMARTAttribute(const TEVSMARTVendorAttribute* attribute)
{
    if (!attribute)
        return std::nullopt;
    const auto& r = attribute->rawValue;
    return QVariantMap{
        {QStringLiteral("TEVSMARTAttributeID"), values::fromUnsigned(attribute->attributeId)},
        {QStringLiteral("TEVSMARTAttributeFlags"), values::fromUnsigned(attribute->flags)},
        {QStringLiteral("TEVSMARTAttributeWorstValue"), values::fromUnsigned(attribute->worstValue)},
        {QStringLiteral("TEVSMARTAttributeCurrentValue"), values::fromUnsigned(attribute->currentValue)},
        {QStringLiteral("TEVSMARTAttribute64BitRawValue"), values::fromSigned(qint64(attribute->raw48()))},
        {QStringLiteral("TEVSMARTAttributeRawValue"),
         QString::asprintf("%02x%02x%02x%02x%02x%02x", r[0], r[1], r[2], r[3], r[4], r[5])},
    };
}

qint64 TEVSMARTStorageDevice::temperatureFromSMARTAttribute(const TEVSMARTVendorAttribute* attribute, quint8 attributeId)
{
    if (!attribute)
        return -1;
    // Attribute 194 keeps the current temperature in its first raw word; the rest holds minimum/maximum.
    if (attributeId == DefaultTemperatureAttributeID)
        return qint64(attribute->rawValue[0] | (attribute->rawValue[1] << 8));
    return qint64(attribute->raw48());
}

qint64 TEVSMARTStorageDevice::temperature()
{
    if (!readDataPage())
        return -1;
    TEVSMARTVendorAttribute attribute;
    if (!getVendorSpecificSMARTAttribute(&attribute, temperatureAttributeID_))
        return -1;
    return temperatureFromSMARTAttribute(&attribute, temperatureAttributeID_);
}
