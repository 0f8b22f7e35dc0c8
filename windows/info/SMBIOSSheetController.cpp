#include "windows/info/SMBIOSSheetController.h"

#include "framework/CDP.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Values.h"

#include <QLocale>

#include <array>
#include <utility>

namespace values = platform::values;

namespace {

const QString kTable = QStringLiteral("SystemManagement");

QString localized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key, {}, kTable) : key;
}

QString notSpecified() { return localized(QStringLiteral("- not specified -")); }
QString unknown() { return localized(QStringLiteral("Unknown")); }

using CodeTable = std::initializer_list<std::pair<quint8, const char*>>;

QString lookUp(const CodeTable& table, quint8 code)
{
    for (const auto& [key, text] : table)
        if (key == code)
            return localized(QString::fromLatin1(text));
    return unknown();
}

// Replaces each "%u" in turn.
QString withUnsigned(QString format, std::initializer_list<quint64> numbers)
{
    for (const quint64 number : numbers) {
        const qsizetype at = format.indexOf(QLatin1String("%u"));
        if (at < 0)
            break;
        format.replace(at, 2, QLocale().toString(number));
    }
    return format;
}

std::optional<quint64> unsignedField(const QVariantMap& record, const char* key)
{
    return values::toUnsigned(record.value(QLatin1String(key)));
}

// Replaces a numeric field by `convert` of its value; a missing or non-numeric field is left alone.
template <typename Convert>
void convertField(QVariantMap& record, const char* key, Convert convert)
{
    if (const auto value = unsignedField(record, key))
        record.insert(QLatin1String(key), convert(*value));
}

} // namespace

// --- Numeric texts ----------------------------------------------------------------------------------------

QString SMBIOSSheetController::presentableStringForSMBIOSCount(quint8 count)
{
    if (count == 0)
        return notSpecified();
    return QLocale().toString(uint(count));
}

QString SMBIOSSheetController::localizedStringForMHzSpecification(quint64 megahertz)
{
    if (megahertz == 0)
        return notSpecified();
    return CDP::displayTextForFrequency(megahertz * 1'000'000u);
}

QString SMBIOSSheetController::localizedStringForCacheSizeCode(quint16 code)
{
    const quint64 units = code & 0x7FFFu;
    if (units == 0)
        return localized(QStringLiteral("Empty Socket"));
    return CDP::displayTextForMemorySize(units * ((code & 0x8000u) ? 65536u : 1024u));
}

QString SMBIOSSheetController::localizedStringForMemorySizeCode(quint16 code, std::optional<quint32> extendedSizeMiB)
{
    if (code == 0xFFFF)
        return unknown();
    if (code == 0)
        return localized(QStringLiteral("Empty Socket"));
    constexpr quint64 kKiB = 1024;
    constexpr quint64 kMiB = 1024 * 1024;
    // 32 GiB and more do not fit the field: the size is in the extended one.
    if (code == 0x7FFF && extendedSizeMiB)
        return CDP::displayTextForMemorySize(quint64(*extendedSizeMiB & 0x7FFFFFFFu) * kMiB);
    return CDP::displayTextForMemorySize(quint64(code & 0x7FFFu) * ((code & 0x8000u) ? kKiB : kMiB));
}

QString SMBIOSSheetController::localizedStringForMemoryTotalWidth(quint16 totalWidth, quint16 dataWidth)
{
    if (totalWidth == 0 && dataWidth == 0)
        return notSpecified();
    // A total narrower than the data has no ECC bit count.
    if (totalWidth == 0xFFFF || dataWidth == 0xFFFF || totalWidth < dataWidth)
        return unknown();
    return withUnsigned(localized(QStringLiteral("%u data bits, %u ECC bits")), {dataWidth, quint64(totalWidth - dataWidth)});
}

QString SMBIOSSheetController::localizedStringForSRAMTypeCode(quint16 code)
{
    if (code == 0)
        return unknown();
    static const std::array<const char*, 7> kBits = {"Other",          "Unknown",     "Non-Burst",   "Burst",
                                                     "Pipeline Burst", "Synchronous", "Asynchronous"};
    QStringList texts;
    for (std::size_t bit = 0; bit < kBits.size(); ++bit)
        if (code & (1u << bit))
            texts.append(localized(QString::fromLatin1(kBits[bit])));
    return texts.join(QStringLiteral(", "));
}

QString SMBIOSSheetController::presentableStringForCPUID(quint64 identification)
{
    QStringList bytes;
    for (int i = 0; i < 8; ++i)
        bytes.append(QStringLiteral("%1").arg(uint((identification >> (8 * i)) & 0xFF), 2, 16, QLatin1Char('0')).toUpper());
    return bytes.join(QLatin1Char(':'));
}

QString SMBIOSSheetController::presentableStringForSMBIOSUUIDData(const QByteArray& bytes)
{
    if (bytes.size() != 16)
        return {};
    if (bytes.count('\x00') == 16 || bytes.count('\xFF') == 16)
        return {};
    const auto hex = [&bytes](int i) {
        return QStringLiteral("%1").arg(uint(uchar(bytes[i])), 2, 16, QLatin1Char('0')).toUpper();
    };
    QString text = hex(3) + hex(2) + hex(1) + hex(0) + QLatin1Char('-') + hex(5) + hex(4) + QLatin1Char('-') + hex(7) +
                   hex(6) + QLatin1Char('-');
    for (int i = 8; i < 16; ++i)
        text += hex(i);
    return text;
}

// --- Code tables ------------------------------------------------------------------------------------------

QString SMBIOSSheetController::localizedStringForCacheTypeCode(quint8 code)
{
    return lookUp({{1, "Other"}, {3, "Instruction"}, {4, "Data"}, {5, "Unified"}}, code);
}

QString SMBIOSSheetController::localizedStringForECCTypeCode(quint8 code)
{
    return lookUp({{1, "Other"}, {3, "None"}, {4, "Parity"}, {5, "Single-bit ECC"}, {6, "Multi-bit ECC"}}, code);
}

QString SMBIOSSheetController::localizedStringForAssociativityCode(quint8 code)
{
    return lookUp({{1, "Other"},
                   {3, "Direct Mapped"},
                   {4, "2-way Set-Associative"},
                   {5, "4-way Set-Associative"},
                   {6, "Fully Associative"},
                   {7, "8-way Set-Associative"},
                   {8, "16-way Set-Associative"},
                   {9, "12-way Set-Associative"},
                   {10, "24-way Set-Associative"},
                   {11, "32-way Set-Associative"},
                   {12, "48-way Set-Associative"},
                   {13, "64-way Set-Associative"},
                   {14, "20-way Set-Associative"}},
                  code);
}

QString SMBIOSSheetController::localizedStringForConnectorTypeCode(quint8 code)
{
    return lookUp({{0, "No connector"},
                   {1, "Centronics"},
                   {2, "Mini Centronics"},
                   {3, "Proprietary connector"},
                   {4, "DB-25 pin male"},
                   {5, "DB-25 pin female"},
                   {6, "DB-15 pin male"},
                   {7, "DB-15 pin female"},
                   {8, "DB-9 pin male"},
                   {9, "DB-9 pin female"},
                   {10, "RJ-11"},
                   {11, "RJ-45"},
                   {12, "50 Pin MiniSCSI"},
                   {13, "Mini-DIN"},
                   {14, "Micro-DIN"},
                   {15, "PS/2"},
                   {16, "Infrared"},
                   {17, "HP-HIL"},
                   {18, "Access Bus (USB)"},
                   {19, "SSA SCSI"},
                   {20, "Circular DIN-8 male"},
                   {21, "Circular DIN-8 female"},
                   {22, "On Board IDE"},
                   {23, "On Board Floppy"},
                   {24, "9 Pin Dual Inline (pin 10 cut)"},
                   {25, "25 Pin Dual Inline (pin 26 cut)"},
                   {26, "50 Pin Dual Inline"},
                   {27, "68 Pin Dual Inline"},
                   {28, "On Board Sound Input from Optical Drive"},
                   {29, "Mini-Centronics Type 14"},
                   {30, "Mini-Centronics Type 26"},
                   {31, "Mini-jack (headphones)"},
                   {32, "BNC"},
                   {33, "IEEE 1394"},
                   {34, "SAS/SATA plug receptacle"},
                   {160, "PC-98"},
                   {161, "PC-98 Hireso"},
                   {162, "PC-H98"},
                   {163, "PC-98 Note"},
                   {164, "PC-98 Full"},
                   {255, "Other Connector"}},
                  code);
}

QString SMBIOSSheetController::localizedStringForPortTypeCode(quint8 code)
{
    return lookUp({{0, "None"},
                   {1, "Parallel Port XT/AT Compatible"},
                   {2, "Parallel Port PS/2"},
                   {3, "Parallel Port ECP"},
                   {4, "Parallel Port EPP"},
                   {5, "Parallel Port ECP/EPP"},
                   {6, "Serial Port XT/AT Compatible"},
                   {7, "Serial Port 16450 Compatible"},
                   {8, "Serial Port 16550 Compatible"},
                   {9, "Serial Port 16550A Compatible"},
                   {10, "SCSI Port"},
                   {11, "MIDI Port"},
                   {12, "Joystick Port"},
                   {13, "Keyboard Port"},
                   {14, "Mouse Port"},
                   {15, "SSA SCSI"},
                   {16, "USB"},
                   {17, "FireWire (IEEE P1394)"},
                   {18, "PC Card Type I"},
                   {19, "PC Card Type II"},
                   {20, "PC Card Type III"},
                   {21, "Cardbus"},
                   {22, "Access Bus Port"},
                   {23, "SCSI II"},
                   {24, "SCSI Wide"},
                   {25, "PC-98"},
                   {26, "PC-98-Hireso"},
                   {27, "PC-H98"},
                   {28, "Video Port"},
                   {29, "Audio Port"},
                   {30, "Modem Port"},
                   {31, "Network Port"},
                   {32, "SATA"},
                   {33, "SAS"},
                   {160, "8251 Compatible"},
                   {161, "8251 FIFO Compatible"},
                   {255, "Other Port"}},
                  code);
}

QString SMBIOSSheetController::localizedStringForSlotTypeCode(quint8 code)
{
    return lookUp({{1, "Other"},
                   {3, "ISA"},
                   {4, "MCA"},
                   {5, "EISA"},
                   {6, "PCI"},
                   {7, "PC Card"},
                   {8, "VL-VESA"},
                   {9, "Proprietary"},
                   {10, "Processor Card Slot"},
                   {11, "Proprietary Memory Card Slot"},
                   {12, "I/O Riser Card Slot"},
                   {13, "NuBus"},
                   {14, "PCI - 66 MHz Capable"},
                   {15, "AGP"},
                   {16, "AGP2X"},
                   {17, "AGP4X"},
                   {18, "PCI-X"},
                   {19, "AGP8X"},
                   {160, "PC-98/C20"},
                   {161, "PC-98/C24"},
                   {162, "PC-98/E"},
                   {163, "PC-98/Local Bus"},
                   {164, "PC-98/Card"},
                   {165, "PCI Express"},
                   {166, "PCI Express x1"},
                   {167, "PCI Express x2"},
                   {168, "PCI Express x4"},
                   {169, "PCI Express x8"},
                   {170, "PCI Express x16"},
                   {171, "PCI Express Gen 2"},
                   {172, "PCI Express Gen 2 x1"},
                   {173, "PCI Express Gen 2 x2"},
                   {174, "PCI Express Gen 2 x4"},
                   {175, "PCI Express Gen 2 x8"},
                   {176, "PCI Express Gen 2 x16"},
                   {177, "PCI Express Gen 3"},
                   {178, "PCI Express Gen 3 x1"},
                   {179, "PCI Express Gen 3 x2"},
                   {180, "PCI Express Gen 3 x4"},
                   {181, "PCI Express Gen 3 x8"},
                   {182, "PCI Express Gen 3 x16"},
                   // Later generations, so that today's boards do not read "Unknown".
                   {184, "PCI Express Gen 4"},
                   {185, "PCI Express Gen 4 x1"},
                   {186, "PCI Express Gen 4 x2"},
                   {187, "PCI Express Gen 4 x4"},
                   {188, "PCI Express Gen 4 x8"},
                   {189, "PCI Express Gen 4 x16"},
                   {190, "PCI Express Gen 5"},
                   {191, "PCI Express Gen 5 x1"},
                   {192, "PCI Express Gen 5 x2"},
                   {193, "PCI Express Gen 5 x4"},
                   {194, "PCI Express Gen 5 x8"},
                   {195, "PCI Express Gen 5 x16"}},
                  code);
}

QString SMBIOSSheetController::localizedStringForSlotBusWidthCode(quint8 code)
{
    return lookUp({{1, "Other"},
                   {3, "8 bit"},
                   {4, "16 bit"},
                   {5, "32 bit"},
                   {6, "64 bit"},
                   {7, "128 bit"},
                   {8, "1x or x1"},
                   {9, "2x or x2"},
                   {10, "4x or x4"},
                   {11, "8x or x8"},
                   {12, "12x or x12"},
                   {13, "16x or x16"},
                   {14, "32x or x32"}},
                  code);
}

QString SMBIOSSheetController::localizedStringForSlotLengthCode(quint8 code)
{
    return lookUp({{1, "Other"}, {3, "Short"}, {4, "Long"}}, code);
}

QString SMBIOSSheetController::localizedStringForDeviceTypeOrStatusCode(quint8 code)
{
    // Bit 7 is the device's status, not its type.
    return lookUp({{1, "Other"},
                   {3, "Video"},
                   {4, "SCSI Host Adapter"},
                   {5, "Ethernet"},
                   {6, "Token Ring"},
                   {7, "Sound"},
                   {8, "PATA Interface"},
                   {9, "SATA Interface"},
                   {10, "SAS Interface"}},
                  code & 0x7F);
}

QString SMBIOSSheetController::localizedStringForMemoryFormFactorCode(quint8 code)
{
    return lookUp({{1, "Other"},
                   {3, "SIMM"},
                   {4, "SIP"},
                   {5, "Chip"},
                   {6, "DIP"},
                   {7, "ZIP"},
                   {8, "Proprietary"},
                   {9, "DIMM"},
                   {10, "TSOP"},
                   {11, "Row of chips"},
                   {12, "RIMM"},
                   {13, "SODIMM"},
                   {14, "SRIMM"},
                   {15, "FB-DIMM"}},
                  code);
}

QString SMBIOSSheetController::localizedStringForMemoryTypeCode(quint8 code)
{
    return lookUp({{1, "Other"},
                   {3, "DRAM"},
                   {4, "EDRAM"},
                   {5, "VRAM"},
                   {6, "SRAM"},
                   {7, "RAM"},
                   {8, "ROM"},
                   {9, "Flash"},
                   {10, "EEPROM"},
                   {11, "FEPROM"},
                   {12, "EPROM"},
                   {13, "CDRAM"},
                   {14, "3DRAM"},
                   {15, "SDRAM"},
                   {16, "SGRAM"},
                   {17, "RDRAM"},
                   {18, "DDR"},
                   {19, "DDR2"},
                   {20, "DDR2 FB-DIMM"},
                   {24, "DDR3"},
                   {25, "FBD2"},
                   // The kinds of today's memory, so that their modules do not read "Unknown".
                   {26, "DDR4"},
                   {27, "LPDDR"},
                   {28, "LPDDR2"},
                   {29, "LPDDR3"},
                   {30, "LPDDR4"},
                   {34, "DDR5"},
                   {35, "LPDDR5"}},
                  code);
}

// --- Records ----------------------------------------------------------------------------------------------

QVariantMap SMBIOSSheetController::presentableRecordForFirmwareRecord(const QVariantMap& contents)
{
    QVariantMap record = contents;
    convertField(record, "FirmwareSize", [](quint64 bytes) { return CDP::displayTextForMemorySize(bytes); });
    return record;
}

QVariantMap SMBIOSSheetController::presentableRecordForComputerRecord(const QVariantMap& contents)
{
    QVariantMap record = contents;
    const QString key = QStringLiteral("SystemUUID");
    const QString text = presentableStringForSMBIOSUUIDData(values::toData(record.value(key)).value_or(QByteArray()));
    if (text.isNull())
        record.remove(key);
    else
        record.insert(key, text);
    return record;
}

QVariantMap SMBIOSSheetController::presentableRecordForEnclosureRecord(const QVariantMap& contents)
{
    QVariantMap record = contents;
    for (const char* key : {"Height", "PowerCords"})
        convertField(record, key, [](quint64 v) { return presentableStringForSMBIOSCount(quint8(v)); });
    return record;
}

void SMBIOSSheetController::makeGenericEntriesPresentableInManagementRecord(QVariantMap& record)
{
    for (const char* key : {"Vendor", "Version", "Manufacturer", "Product", "SerialNumber", "AssetTag"}) {
        const auto text = values::toString(record.value(QLatin1String(key)));
        if (text && text->isEmpty())
            record.remove(QLatin1String(key));
    }
}

QVariantMap SMBIOSSheetController::presentableRecordForProcessorRecord(const QVariantMap& contents)
{
    QVariantMap record = contents;
    makeGenericEntriesPresentableInManagementRecord(record);
    for (const char* key : {"CPUCurrentClockMHz", "CPUMaximumClockMHz", "CPUExternalClockMHz"})
        convertField(record, key, [](quint64 v) { return localizedStringForMHzSpecification(v); });
    convertField(record, "CPUIdentification", [](quint64 v) { return presentableStringForCPUID(v); });
    return record;
}

QVariantMap SMBIOSSheetController::presentableRecordForCacheRecord(const QVariantMap& contents)
{
    QVariantMap record = contents;
    convertField(record, "CacheCurrentSize", [](quint64 v) { return localizedStringForCacheSizeCode(quint16(v)); });
    convertField(record, "CacheCurrentSRAMType", [](quint64 v) { return localizedStringForSRAMTypeCode(quint16(v)); });
    convertField(record, "CacheType", [](quint64 v) { return localizedStringForCacheTypeCode(quint8(v)); });
    convertField(record, "CacheECCType", [](quint64 v) { return localizedStringForECCTypeCode(quint8(v)); });
    convertField(record, "CacheAccessTimeNS", [](quint64 v) { return presentableStringForSMBIOSCount(quint8(v)); });
    convertField(record, "CacheAssociativity", [](quint64 v) { return localizedStringForAssociativityCode(quint8(v)); });
    return record;
}

QVariantMap SMBIOSSheetController::presentableRecordForConnectorRecord(const QVariantMap& contents)
{
    QVariantMap record = contents;
    for (const char* key : {"PortInternalConnector", "PortExternalConnector"})
        convertField(record, key, [](quint64 v) { return localizedStringForConnectorTypeCode(quint8(v)); });
    convertField(record, "PortType", [](quint64 v) { return localizedStringForPortTypeCode(quint8(v)); });
    return record;
}

QVariantMap SMBIOSSheetController::presentableRecordForSlotRecord(const QVariantMap& contents)
{
    QVariantMap record = contents;
    convertField(record, "SlotType", [](quint64 v) { return localizedStringForSlotTypeCode(quint8(v)); });
    convertField(record, "SlotBusWidth", [](quint64 v) { return localizedStringForSlotBusWidthCode(quint8(v)); });
    convertField(record, "SlotLength", [](quint64 v) { return localizedStringForSlotLengthCode(quint8(v)); });
    return record;
}

QVariantMap SMBIOSSheetController::presentableRecordForDeviceRecord(const QVariantMap& contents)
{
    QVariantMap record = contents;
    convertField(record, "TypeAndStatus", [](quint64 v) { return localizedStringForDeviceTypeOrStatusCode(quint8(v)); });
    return record;
}

QVariantMap SMBIOSSheetController::presentableRecordForMemoryDeviceRecord(const QVariantMap& contents)
{
    QVariantMap record = contents;
    const QString total = QStringLiteral("MemoryTotalWidth");
    const QString data = QStringLiteral("MemoryDataWidth");
    const auto totalWidth = values::toUnsigned(record.value(total));
    const auto dataWidth = values::toUnsigned(record.value(data));
    if (totalWidth && dataWidth) {
        record.insert(total, localizedStringForMemoryTotalWidth(quint16(*totalWidth), quint16(*dataWidth)));
    } else {
        record.remove(total);
        record.remove(data);
    }
    const auto extended = values::toUnsigned(record.value(QStringLiteral("MemoryExtendedSize")));
    convertField(record, "MemorySize", [&extended](quint64 v) {
        return localizedStringForMemorySizeCode(quint16(v), extended ? std::optional<quint32>(quint32(*extended)) : std::nullopt);
    });
    convertField(record, "MemoryFormFactor", [](quint64 v) { return localizedStringForMemoryFormFactorCode(quint8(v)); });
    convertField(record, "MemoryType", [](quint64 v) { return localizedStringForMemoryTypeCode(quint8(v)); });
    convertField(record, "MemorySpeedMHz", [](quint64 v) { return localizedStringForMHzSpecification(v); });
    return record;
}

QList<QVariantMap> SMBIOSSheetController::jumperDescriptionsForJumpersRecord(const QVariantMap& contents)
{
    QList<QVariantMap> rows;
    const QString key = QStringLiteral("JumperOrSwitchList");
    for (const QVariant& entry : values::toArray(contents.value(key)).value_or(QVariantList()))
        if (const auto text = values::toString(entry))
            rows.append(QVariantMap{{key, *text}});
    return rows;
}

QString SMBIOSSheetController::displayTextForValue(const QVariant& value)
{
    switch (values::kindOf(value)) {
    case values::Kind::String:
        return value.toString();
    case values::Kind::Bool:
        return localized(value.toBool() ? QStringLiteral("Yes") : QStringLiteral("No"));
    case values::Kind::Signed:
        return QLocale().toString(value.toLongLong());
    case values::Kind::Unsigned:
        return QLocale().toString(value.toULongLong());
    case values::Kind::Real:
        return QLocale().toString(value.toDouble());
    case values::Kind::Data:
        return QString::fromLatin1(value.toByteArray().toHex(' ').toUpper());
    case values::Kind::Array: {
        QStringList texts;
        for (const QVariant& entry : value.toList())
            texts.append(displayTextForValue(entry));
        return texts.join(QStringLiteral(", "));
    }
    default:
        return {};
    }
}

// --- Groups -----------------------------------------------------------------------------------------------

int SMBIOSSheetController::selectedProcessorRow() const { return processorSelection_; }
int SMBIOSSheetController::selectedCacheRow() const { return cacheSelection_; }

void SMBIOSSheetController::setManagementRecords(const std::optional<QVariantList>& records)
{
    managementRecords_ = records;
    firmwareDescription_.reset();
    computerDescription_.reset();
    mainboardDescription_.reset();
    enclosureDescription_.reset();
    for (auto* group : {&processors_, &cacheUnits_, &connectors_, &slots_, &devices_, &jumpers_, &memoryDevices_})
        group->clear();

    for (const QVariant& entry : records.value_or(QVariantList())) {
        const QVariantMap structure = values::toDictionary(entry).value_or(QVariantMap());
        const auto type = values::toUnsigned(structure.value(QStringLiteral("TypeCode")));
        const auto contents = values::toDictionary(structure.value(QStringLiteral("Contents")));
        // A structure that could not be decoded has nothing to show.
        if (!type || !contents)
            continue;
        switch (quint8(*type)) {
        case 0: firmwareDescription_ = presentableRecordForFirmwareRecord(*contents); break;
        case 1: computerDescription_ = presentableRecordForComputerRecord(*contents); break;
        case 2: mainboardDescription_ = *contents; break;
        case 3: enclosureDescription_ = presentableRecordForEnclosureRecord(*contents); break;
        case 4: processors_.append(presentableRecordForProcessorRecord(*contents)); break;
        case 7: cacheUnits_.append(presentableRecordForCacheRecord(*contents)); break;
        case 8: connectors_.append(presentableRecordForConnectorRecord(*contents)); break;
        case 9: slots_.append(presentableRecordForSlotRecord(*contents)); break;
        case 10: devices_.append(presentableRecordForDeviceRecord(*contents)); break;
        case 12: jumpers_.append(jumperDescriptionsForJumpersRecord(*contents)); break;
        case 17: memoryDevices_.append(presentableRecordForMemoryDeviceRecord(*contents)); break;
        default: break;
        }
    }
    processorSelection_ = processors_.isEmpty() ? -1 : 0;
    cacheSelection_ = cacheUnits_.isEmpty() ? -1 : 0;
    reloadTables();
}

void SMBIOSSheetController::close(QObject* sender)
{
    if (const auto delegate = delegate_.lock())
        delegate->closeSMBIOSSheet(sender);
}
