#include "sensors/TEVSMBIOSInfo.h"

#include "sensors/TEVIORegistryEntry.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"

#include <QHash>
#include <QRegularExpression>
#include <QtEndian>

#include <array>
#include <mutex>
#include <span>

namespace {

constexpr const char* kClassName = "TEVSMBIOSInfo";
constexpr qsizetype kHeaderLength = 4;
constexpr qsizetype kMaximumStringLength = 65;

enum class Form { String, U8, U16, U32, U64, Raw16, FirmwareSize, StringList };

struct Field {
    const char* key;
    quint8 offset; // from the structure start (the type byte)
    Form form;
};

struct Decoder {
    quint8 type;
    const char* structureName;
    std::span<const Field> fields;
};

// A field is decoded only when it lies wholly inside the structure's formatted area; for every later
// field group this is the same as the length test of the standard version that added it.
constexpr Field kType0[] = {
    {"Vendor", 0x04, Form::String},       {"Version", 0x05, Form::String},
    {"ReleaseDate", 0x08, Form::String},  {"FirmwareSize", 0x09, Form::FirmwareSize},
    {"BIOSCharacteristics", 0x0A, Form::U64},
};
constexpr Field kType1[] = {
    {"Manufacturer", 0x04, Form::String}, {"Product", 0x05, Form::String},
    {"Version", 0x06, Form::String},      {"SerialNumber", 0x07, Form::String},
    {"SystemUUID", 0x08, Form::Raw16},    {"PowerUpCause", 0x18, Form::U8},
    {"SystemSKU", 0x19, Form::String},    {"SystemFamily", 0x1A, Form::String},
};
constexpr Field kType2[] = {
    {"Manufacturer", 0x04, Form::String},    {"Product", 0x05, Form::String},
    {"Version", 0x06, Form::String},         {"SerialNumber", 0x07, Form::String},
    {"AssetTag", 0x08, Form::String},        {"BoardFeatureFlags", 0x09, Form::U8},
    {"BoardLocation", 0x0A, Form::String},   {"BoardType", 0x0D, Form::U8},
};
constexpr Field kType3[] = {
    {"Manufacturer", 0x04, Form::String},  {"EnclosureType", 0x05, Form::U8},
    {"Version", 0x06, Form::String},       {"SerialNumber", 0x07, Form::String},
    {"AssetTag", 0x08, Form::String},      {"BootState", 0x09, Form::U8},
    {"PowerSupplyState", 0x0A, Form::U8},  {"ThermalState", 0x0B, Form::U8},
    {"SecurityState", 0x0C, Form::U8},     {"OEMField", 0x0D, Form::U32},
    {"Height", 0x11, Form::U8},            {"PowerCords", 0x12, Form::U8},
};
constexpr Field kType4[] = {
    {"CPUSocket", 0x04, Form::String},          {"CPUType", 0x05, Form::U8},
    {"CPUFamily", 0x06, Form::U8},              {"Manufacturer", 0x07, Form::String},
    {"CPUIdentification", 0x08, Form::U64},     {"Version", 0x10, Form::String},
    {"CPUVoltageCode", 0x11, Form::U8},         {"CPUExternalClockMHz", 0x12, Form::U16},
    {"CPUMaximumClockMHz", 0x14, Form::U16},    {"CPUCurrentClockMHz", 0x16, Form::U16},
    {"CPUStatus", 0x18, Form::U8},              {"CPUUpgrade", 0x19, Form::U8},
    {"SerialNumber", 0x20, Form::String},       {"AssetTag", 0x21, Form::String},
    {"CPUPartNumber", 0x22, Form::String},      {"CPUCoreCount", 0x23, Form::U8},
    {"CPUEnabledCoreCount", 0x24, Form::U8},    {"CPUThreadCount", 0x25, Form::U8},
    {"CPUCharacteristics", 0x26, Form::U16},    {"CPUFamily2", 0x28, Form::U16},
};
constexpr Field kType7[] = {
    {"CacheSocketType", 0x04, Form::String},       {"CacheConfiguration", 0x05, Form::U16},
    {"CacheMaximumSize", 0x07, Form::U16},         {"CacheCurrentSize", 0x09, Form::U16},
    {"CacheSupportedSRAMType", 0x0B, Form::U16},   {"CacheCurrentSRAMType", 0x0D, Form::U16},
    {"CacheAccessTimeNS", 0x0F, Form::U8},         {"CacheECCType", 0x10, Form::U8},
    {"CacheType", 0x11, Form::U8},                 {"CacheAssociativity", 0x12, Form::U8},
};
constexpr Field kType8[] = {
    {"PortInternalName", 0x04, Form::String}, {"PortInternalConnector", 0x05, Form::U8},
    {"PortExternalName", 0x06, Form::String}, {"PortExternalConnector", 0x07, Form::U8},
    {"PortType", 0x08, Form::U8},
};
constexpr Field kType9[] = {
    {"SlotName", 0x04, Form::String},            {"SlotType", 0x05, Form::U8},
    {"SlotBusWidth", 0x06, Form::U8},            {"SlotUsage", 0x07, Form::U8},
    {"SlotLength", 0x08, Form::U8},              {"SlotID", 0x09, Form::U16},
    {"SlotCharacteristics1", 0x0B, Form::U8},    {"SlotCharacteristics2", 0x0C, Form::U8},
    {"SlotSegmentGroupNumber", 0x0D, Form::U16}, {"SlotBusNumber", 0x0F, Form::U8},
    {"SlotDeviceFunctionNumber", 0x10, Form::U8},
};
// Only the first device of the structure.
constexpr Field kType10[] = {
    {"TypeAndStatus", 0x04, Form::U8},
    {"DeviceDescription", 0x05, Form::String},
};
constexpr Field kType12[] = {
    {"JumperOrSwitchList", 0x00, Form::StringList},
    {"StringCount", 0x04, Form::U8},
};
constexpr Field kType16[] = {
    {"MemoryLocation", 0x04, Form::U8},         {"MemoryUsage", 0x05, Form::U8},
    {"MemoryECCType", 0x06, Form::U8},          {"MemoryMaximumCapacity", 0x07, Form::U32},
    {"MemoryExtendedMaximumCapacity", 0x0F, Form::U64},
};
constexpr Field kType17[] = {
    {"MemoryTotalWidth", 0x08, Form::U16},
    {"MemoryDataWidth", 0x0A, Form::U16},
    {"MemorySize", 0x0C, Form::U16},
    {"MemoryFormFactor", 0x0E, Form::U8},
    {"MemoryDeviceSet", 0x0F, Form::U8},
    {"MemoryDeviceLocation", 0x10, Form::String},
    {"MemoryBankLocation", 0x11, Form::String},
    {"MemoryType", 0x12, Form::U8},
    {"MemoryTypeDetail", 0x13, Form::U16},
    {"MemorySpeedMHz", 0x15, Form::U16},
    {"Manufacturer", 0x17, Form::String},
    {"SerialNumber", 0x18, Form::String},
    {"AssetTag", 0x19, Form::String},
    {"MemoryPartNumber", 0x1A, Form::String},
    {"MemoryAttributes", 0x1B, Form::U8},
    {"MemoryExtendedSize", 0x1C, Form::U32},
    {"MemoryConfigurationSpeedMHz", 0x20, Form::U16},
    {"MemoryMinimumVoltageMilliV", 0x22, Form::U16},
    {"MemoryMaximumVoltageMilliV", 0x24, Form::U16},
    {"MemoryConfiguredVoltageMilliV", 0x26, Form::U16},
};
constexpr Field kType19[] = {
    {"MappedMemoryStartAddressKB", 0x04, Form::U32},
    {"MappedMemoryEndAddressKB", 0x08, Form::U32},
    {"MappedMemoryPartitionWidth", 0x0E, Form::U8},
    {"MappedMemoryExtendedStartAddress", 0x0F, Form::U64},
    {"MappedMemoryExtendedEndAddress", 0x17, Form::U64},
};
constexpr Field kType41[] = {
    {"OnboardDeviceDesignation", 0x04, Form::String},  {"OnboardDeviceTypeAndStatus", 0x05, Form::U8},
    {"OnboardDeviceTypeInstance", 0x06, Form::U8},     {"OnboardDeviceSegmentGroup", 0x07, Form::U16},
    {"OnboardDeviceBusNumber", 0x09, Form::U8},        {"OnboardDeviceDeviceFunction", 0x0A, Form::U8},
};

constexpr std::array kDecoders = {
    Decoder{0, "Firmware information", kType0},
    Decoder{1, "System information", kType1},
    Decoder{2, "System board information", kType2},
    Decoder{3, "Enclosure information", kType3},
    Decoder{4, "Processor information", kType4},
    Decoder{7, "Cache information", kType7},
    Decoder{8, "Port Connector information", kType8},
    Decoder{9, "Expansion slot information", kType9},
    Decoder{10, "Board device information", kType10},
    Decoder{12, "Jumper and switch information", kType12},
    Decoder{16, "Physical memory array information", kType16},
    Decoder{17, "Memory Device information", kType17},
    Decoder{19, "Mapped Memory information", kType19},
    Decoder{41, "Board device information (extended)", kType41},
    Decoder{126, "- Inactive Structure -", {}},
    Decoder{127, "*** End of Table ***", {}},
};

const Decoder* decoderForType(quint8 type)
{
    for (const Decoder& decoder : kDecoders) {
        if (decoder.type == type)
            return &decoder;
    }
    return nullptr;
}

// Field keys made once for the process: every structure's dictionary shares their text.
const QString& fieldKey(const Field& field)
{
    static const QHash<const char*, QString> keys = [] {
        QHash<const char*, QString> made;
        for (const Decoder& decoder : kDecoders)
            for (const Field& f : decoder.fields)
                made.insert(f.key, QString::fromLatin1(f.key));
        return made;
    }();
    return *keys.find(field.key);
}

QString localized(const char* text)
{
    const QString key = QString::fromLatin1(text);
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key, {}, QStringLiteral("Localizable")) : key;
}

qsizetype fieldWidth(Form form)
{
    switch (form) {
    case Form::String:
    case Form::U8:
    case Form::FirmwareSize:
        return 1;
    case Form::U16:
        return 2;
    case Form::U32:
        return 4;
    case Form::U64:
        return 8;
    case Form::Raw16:
        return 16;
    case Form::StringList:
        return 0;
    }
    return 0;
}

} // namespace

std::shared_ptr<TEVSMBIOSInfo> TEVSMBIOSInfo::createWithData(const QByteArray& data)
{
    if (data.isNull())
        return nullptr;
    if (data.size() > kMaximumTableBytes) {
        platform::log(kClassName, QStringLiteral("the SMBIOS table of %1 bytes is larger than any computer's (at most %2); it is not read")
                                      .arg(data.size())
                                      .arg(kMaximumTableBytes));
        return nullptr;
    }
    return std::make_shared<TEVSMBIOSInfo>(data);
}

std::shared_ptr<const TEVSMBIOSInfo> TEVSMBIOSInfo::systemManagementBIOSInformation()
{
    static std::mutex mutex;
    static std::shared_ptr<const TEVSMBIOSInfo> shared;
    static std::weak_ptr<const platform::IORegistry> sharedRegistry;

    static std::weak_ptr<const platform::IORegistry> refusedRegistry; // its table was refused: said once

    const auto registry = platform::IORegistry::current();
    std::lock_guard lock(mutex);
    if (shared && sharedRegistry.lock() == registry)
        return shared;
    if (registry && refusedRegistry.lock() == registry)
        return nullptr;
    shared.reset();
    const auto services = TEVIORegistryEntry::serviceObjectsMatchingName(QStringLiteral("AppleSMBIOS"), registry);
    for (const auto& service : services.value_or(TEVIORegistryEntry::EntryList{})) {
        const QVariant table = service->properties().value_or(QVariantMap{}).value(QStringLiteral("SMBIOS"));
        if (platform::values::kindOf(table) == platform::values::Kind::Data) {
            shared = createWithData(table.toByteArray());
            sharedRegistry = registry;
            if (!shared)
                refusedRegistry = registry;
            break;
        }
    }
    return shared;
}

// What the structures of one table share while it is decoded: the localised names, and the whole
// dictionary of a structure that decodes to its name alone (the same for every one of its type).
struct TEVSMBIOSInfo::Shared {
    std::array<QString, kDecoders.size() + 2> names; // each decoder's, then the OEM and the unknown one
    std::array<QVariantMap, 256> nameOnly;

    const QString& name(std::size_t index, const char* text)
    {
        if (names[index].isNull())
            names[index] = localized(text);
        return names[index];
    }
};

TEVSMBIOSInfo::TEVSMBIOSInfo(const QByteArray& data)
    : data_(data), parserPosition_(0), endPosition_(data.size())
{
    structures_.reserve(14);
    const auto shared = std::make_unique<Shared>();
    while (parserPosition_ < endPosition_) {
        const qsizetype before = parserPosition_;
        if (auto structure = currentStructureDescription(*shared))
            structures_.append(*structure);
        if (parserPosition_ <= before)
            break; // never loop on a structure that did not move the position
    }
    for (const QVariant& entry : std::as_const(structures_)) {
        const QVariantMap structure = entry.toMap();
        const auto type = platform::values::toUnsigned(structure.value(QStringLiteral("TypeCode")));
        const auto contents = platform::values::toDictionary(structure.value(QStringLiteral("Contents")));
        if (type && contents)
            records_.insert(static_cast<quint8>(*type), *contents);
    }
}

std::optional<QVariantMap> TEVSMBIOSInfo::recordForSMBIOSTypeCode(quint8 type) const
{
    const auto found = records_.constFind(type);
    if (found == records_.constEnd())
        return std::nullopt;
    return *found;
}

QString TEVSMBIOSInfo::description() const
{
    return QStringLiteral("SMBIOS: ") + platform::describePropertyList(platform::values::fromArray(structures_)) + QLatin1Char('\n');
}

std::optional<QVariantMap> TEVSMBIOSInfo::currentStructureDescription(Shared& shared)
{
    if (parserPosition_ >= endPosition_)
        return std::nullopt;
    const qsizetype start = parserPosition_;
    if (endPosition_ - start < kHeaderLength) {
        platform::log(kClassName, QStringLiteral("table ends inside a structure header, ignoring the last %1 bytes")
                                      .arg(endPosition_ - start));
        parserPosition_ = endPosition_;
        return std::nullopt;
    }
    const auto* bytes = reinterpret_cast<const uchar*>(data_.constData());
    const quint8 type = bytes[start];
    const quint8 length = bytes[start + 1];
    if (length < kHeaderLength) {
        // The formatted area cannot be smaller than its header; skip the header and its strings.
        platform::log(kClassName, QStringLiteral("structure of type %1 has length %2, shorter than its header, ignoring...")
                                      .arg(type)
                                      .arg(length));
        parserPosition_ = start + kHeaderLength;
        currentStringArray();
        return std::nullopt;
    }
    // The formatted area may run past a truncated table; fields are read only inside both.
    const qsizetype formattedEnd = std::min(start + length, endPosition_);
    parserPosition_ = start + length;
    const std::optional<QStringList> strings = currentStringArray();

    const auto nameOnly = [&](const QString& name) {
        QVariantMap& description = shared.nameOnly[type];
        if (description.isEmpty()) {
            description.insert(QStringLiteral("TypeCode"), platform::values::fromUnsigned(type));
            description.insert(QStringLiteral("Contents"), QVariantMap{{QStringLiteral("StructureName"), name}});
        }
        return description;
    };
    const Decoder* decoder = decoderForType(type);
    if (!decoder) {
        return type >= 128 ? nameOnly(shared.name(kDecoders.size(), "Proprietary OEM SMBIOS structure - specification unknown"))
                           : nameOnly(shared.name(kDecoders.size() + 1, "Unknown or unimplemented SMBIOS structure"));
    }
    const QString& structureName = shared.name(std::size_t(decoder - kDecoders.data()), decoder->structureName);
    const bool alwaysAnswers = decoder->fields.empty();
    if (!strings && !alwaysAnswers) {
        platform::log(kClassName,
                      QStringLiteral("detected error in type %1 information record of this machine's SMBIOS, ignoring...")
                          .arg(type));
        return QVariantMap{{QStringLiteral("TypeCode"), platform::values::fromUnsigned(type)}};
    }

    QVariantMap contents;
    contents.insert(QStringLiteral("StructureName"), structureName);
    for (const Field& field : decoder->fields) {
        const QString& key = fieldKey(field);
        if (field.form == Form::StringList) {
            QVariantList list;
            for (const QString& text : *strings)
                list.append(platform::values::fromString(text));
            contents.insert(key, platform::values::fromArray(list));
            continue;
        }
        const qsizetype at = start + field.offset;
        if (at + fieldWidth(field.form) > formattedEnd)
            continue;
        const uchar* p = bytes + at;
        switch (field.form) {
        case Form::String:
            fillDescription(contents, p[0], *strings, key);
            break;
        case Form::U8:
            contents.insert(key, platform::values::fromUnsigned(p[0]));
            break;
        case Form::U16:
            contents.insert(key, platform::values::fromUnsigned(qFromLittleEndian<quint16>(p)));
            break;
        case Form::U32:
            contents.insert(key, platform::values::fromUnsigned(qFromLittleEndian<quint32>(p)));
            break;
        case Form::U64:
            contents.insert(key, platform::values::fromUnsigned(qFromLittleEndian<quint64>(p)));
            break;
        case Form::Raw16:
            contents.insert(key, platform::values::fromData(QByteArray(reinterpret_cast<const char*>(p), 16)));
            break;
        case Form::FirmwareSize: // 64 KiB units, less one
            contents.insert(key, platform::values::fromUnsigned((quint32(p[0]) + 1) * 65536u));
            break;
        case Form::StringList:
            break;
        }
    }
    if (contents.size() == 1)
        return nameOnly(structureName);
    QVariantMap description;
    description.insert(QStringLiteral("TypeCode"), platform::values::fromUnsigned(type));
    description.insert(QStringLiteral("Contents"), contents);
    return description;
}

std::optional<QStringList> TEVSMBIOSInfo::currentStringArray()
{
    if (parserPosition_ >= endPosition_)
        return std::nullopt;
    const char* bytes = data_.constData();
    if (bytes[parserPosition_] == '\0'
        && (parserPosition_ + 1 >= endPosition_ || bytes[parserPosition_ + 1] == '\0')) {
        parserPosition_ = std::min(parserPosition_ + 2, endPosition_);
        return QStringList();
    }
    QStringList strings;
    while (auto text = currentString())
        strings.append(*text);
    if (parserPosition_ >= endPosition_)
        return strings;
    if (bytes[parserPosition_] != '\0') {
        const QString found = QStringLiteral("%1").arg(uchar(bytes[parserPosition_]), 2, 16, QLatin1Char('0'));
        platform::log(kClassName, QStringLiteral("expected null at end of structure, found '%1'.").arg(found.toUpper()));
        return strings;
    }
    ++parserPosition_;
    return strings;
}

std::optional<QString> TEVSMBIOSInfo::currentString()
{
    if (parserPosition_ >= endPosition_)
        return std::nullopt;
    const char* bytes = data_.constData();
    if (bytes[parserPosition_] == '\0')
        return std::nullopt;
    const qsizetype start = parserPosition_;
    qsizetype end = start;
    while (end < endPosition_ && bytes[end] != '\0')
        ++end;
    qsizetype length = end - start;
    if (length > kMaximumStringLength) {
        platform::log(kClassName,
                      QStringLiteral("error in structure found: string length not compliant with SMBIOS specification!"));
        length = kMaximumStringLength;
    }
    parserPosition_ = std::min(end + 1, endPosition_);
    return QString::fromLatin1(bytes + start, length);
}

void TEVSMBIOSInfo::fillDescription(QVariantMap& description, quint8 index, const QStringList& strings,
                                    const QString& key)
{
    if (index == 0 || index > strings.size())
        return;
    description.insert(key, platform::values::fromString(strings.at(index - 1)));
}
