// The SMBIOS sheet: every text conversion, the presentable records, the groups rebuilt from a structure list,
// and the real tables of tests/data/smbios decoded and presented without garbage.

#include "windows/info/SMBIOSSheetController.h"

#include "framework/CDP.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVSMBIOSInfo.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QDialog>
#include <QTabWidget>
#include <QScrollBar>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QtEndian>

#include <gtest/gtest.h>

namespace values = platform::values;
using Sheet = SMBIOSSheetController;

namespace {

constexpr quint64 kKiB = 1024;
constexpr quint64 kMiB = 1024 * kKiB;
constexpr quint64 kGiB = 1024 * kMiB;

QString memory(quint64 bytes) { return CDP::displayTextForMemorySize(bytes); }

QVariantMap structure(quint64 type, const QVariantMap& contents)
{
    return {{QStringLiteral("TypeCode"), values::fromUnsigned(type)}, {QStringLiteral("Contents"), contents}};
}

QVariant u(quint64 v) { return values::fromUnsigned(v); }

} // namespace

TEST(SMBIOSTexts, NumericConversions)
{
    struct Case {
        QString actual;
        QString expected;
    };
    const QString notSpecified = QStringLiteral("- not specified -");
    const QString empty = QStringLiteral("Empty Socket");
    const QString unknown = QStringLiteral("Unknown");
    const Case cases[] = {
        {Sheet::presentableStringForSMBIOSCount(0), notSpecified},
        {Sheet::presentableStringForSMBIOSCount(2), QStringLiteral("2")},
        {Sheet::localizedStringForMHzSpecification(0), notSpecified},
        {Sheet::localizedStringForMHzSpecification(2400), CDP::displayTextForFrequency(2'400'000'000u)},
        // Cache sizes in 1 KiB or (bit 15) 64 KiB units.
        {Sheet::localizedStringForCacheSizeCode(0x8001), memory(65536)},
        {Sheet::localizedStringForCacheSizeCode(0x0200), memory(524288)},
        {Sheet::localizedStringForCacheSizeCode(0x0000), empty},
        {Sheet::localizedStringForCacheSizeCode(0x8000), empty},
        {Sheet::localizedStringForCacheSizeCode(0xFFFF), memory(0x7FFF * 65536ull)},
        // Memory sizes in 1 MiB or (bit 15) 1 KiB units.
        {Sheet::localizedStringForMemorySizeCode(0x2000), memory(8 * kGiB)},
        {Sheet::localizedStringForMemorySizeCode(0x8400), memory(1 * kMiB)},
        {Sheet::localizedStringForMemorySizeCode(0x0000), empty},
        {Sheet::localizedStringForMemorySizeCode(0xFFFF), unknown},
        // Just under 32 GiB needs more than 32 bits of bytes.
        {Sheet::localizedStringForMemorySizeCode(0x7FFE), memory(0x7FFEull * kMiB)},
        // 32 GiB and more live in the extended size (MiB, bit 31 reserved).
        {Sheet::localizedStringForMemorySizeCode(0x7FFF, 32768), memory(32 * kGiB)},
        {Sheet::localizedStringForMemorySizeCode(0x7FFF, 0x80000000u | 131072), memory(128 * kGiB)},
        {Sheet::localizedStringForMemorySizeCode(0x7FFF), memory(0x7FFFull * kMiB)},
        {Sheet::localizedStringForMemorySizeCode(0x2000, 65536), memory(8 * kGiB)},
        {Sheet::localizedStringForMemoryTotalWidth(72, 64), QStringLiteral("64 data bits, 8 ECC bits")},
        {Sheet::localizedStringForMemoryTotalWidth(64, 64), QStringLiteral("64 data bits, 0 ECC bits")},
        {Sheet::localizedStringForMemoryTotalWidth(0xFFFF, 64), unknown},
        {Sheet::localizedStringForMemoryTotalWidth(64, 0xFFFF), unknown},
        {Sheet::localizedStringForMemoryTotalWidth(0, 0), notSpecified},
        // A total narrower than the data would underflow.
        {Sheet::localizedStringForMemoryTotalWidth(32, 64), unknown},
        {Sheet::localizedStringForMemoryTotalWidth(0, 64), unknown},
        {Sheet::localizedStringForSRAMTypeCode(0x0024), QStringLiteral("Non-Burst, Synchronous")},
        {Sheet::localizedStringForSRAMTypeCode(0x0000), unknown},
        {Sheet::localizedStringForSRAMTypeCode(0xFF80), QString()},
        {Sheet::localizedStringForSRAMTypeCode(0x007F),
         QStringLiteral("Other, Unknown, Non-Burst, Burst, Pipeline Burst, Synchronous, Asynchronous")},
        {Sheet::presentableStringForCPUID(0xBFEBFBFF000306A9ull), QStringLiteral("A9:06:03:00:FF:FB:EB:BF")},
        {Sheet::presentableStringForCPUID(0), QStringLiteral("00:00:00:00:00:00:00:00")},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].actual, cases[i].expected) << "case " << i;
}

TEST(SMBIOSTexts, UUIDInTheSMBIOSByteOrderWithThreeHyphens)
{
    QByteArray ascending;
    for (int i = 0; i < 16; ++i)
        ascending.append(char(i * 0x11));
    struct Case {
        QByteArray bytes;
        QString expected; // null: no text
    };
    const Case cases[] = {
        {ascending, QStringLiteral("33221100-5544-7766-8899AABBCCDDEEFF")},
        {ascending.left(15), QString()},
        {ascending + '\x01', QString()},
        {QByteArray(), QString()},
        {QByteArray(16, '\x00'), QString()},
        {QByteArray(16, '\xFF'), QString()},
        {QByteArray(15, '\x00') + '\x01', QStringLiteral("00000000-0000-0000-0000000000000001")},
    };
    for (const Case& c : cases) {
        const QString text = Sheet::presentableStringForSMBIOSUUIDData(c.bytes);
        EXPECT_EQ(text, c.expected) << c.bytes.toHex().constData();
        EXPECT_EQ(text.isNull(), c.expected.isNull());
    }
}

TEST(SMBIOSTexts, CodeTables)
{
    using Lookup = QString (*)(quint8);
    struct Case {
        Lookup lookup;
        quint8 code;
        const char* expected;
    };
    const Case cases[] = {
        {Sheet::localizedStringForCacheTypeCode, 5, "Unified"},
        {Sheet::localizedStringForCacheTypeCode, 2, "Unknown"},
        {Sheet::localizedStringForCacheTypeCode, 6, "Unknown"},
        {Sheet::localizedStringForECCTypeCode, 6, "Multi-bit ECC"},
        {Sheet::localizedStringForECCTypeCode, 0, "Unknown"},
        {Sheet::localizedStringForAssociativityCode, 14, "20-way Set-Associative"},
        {Sheet::localizedStringForAssociativityCode, 15, "Unknown"},
        {Sheet::localizedStringForConnectorTypeCode, 0, "No connector"},
        {Sheet::localizedStringForConnectorTypeCode, 34, "SAS/SATA plug receptacle"},
        {Sheet::localizedStringForConnectorTypeCode, 164, "PC-98 Full"},
        {Sheet::localizedStringForConnectorTypeCode, 255, "Other Connector"},
        {Sheet::localizedStringForConnectorTypeCode, 35, "Unknown"},
        {Sheet::localizedStringForPortTypeCode, 0, "None"},
        {Sheet::localizedStringForPortTypeCode, 33, "SAS"},
        {Sheet::localizedStringForPortTypeCode, 161, "8251 FIFO Compatible"},
        {Sheet::localizedStringForPortTypeCode, 255, "Other Port"},
        {Sheet::localizedStringForSlotTypeCode, 0xA5, "PCI Express"},
        {Sheet::localizedStringForSlotTypeCode, 0xB6, "PCI Express Gen 3 x16"},
        {Sheet::localizedStringForSlotTypeCode, 0xBD, "PCI Express Gen 4 x16"},
        {Sheet::localizedStringForSlotTypeCode, 0xC3, "PCI Express Gen 5 x16"},
        {Sheet::localizedStringForSlotTypeCode, 0x14, "Unknown"},
        {Sheet::localizedStringForSlotTypeCode, 0xB7, "Unknown"},
        {Sheet::localizedStringForSlotBusWidthCode, 14, "32x or x32"},
        {Sheet::localizedStringForSlotBusWidthCode, 2, "Unknown"},
        {Sheet::localizedStringForSlotLengthCode, 4, "Long"},
        {Sheet::localizedStringForSlotLengthCode, 5, "Unknown"},
        // The status bit does not change the type.
        {Sheet::localizedStringForDeviceTypeOrStatusCode, 0x85, "Ethernet"},
        {Sheet::localizedStringForDeviceTypeOrStatusCode, 0x05, "Ethernet"},
        {Sheet::localizedStringForDeviceTypeOrStatusCode, 0x8A, "SAS Interface"},
        {Sheet::localizedStringForDeviceTypeOrStatusCode, 0x80, "Unknown"},
        {Sheet::localizedStringForMemoryFormFactorCode, 13, "SODIMM"},
        {Sheet::localizedStringForMemoryFormFactorCode, 15, "FB-DIMM"},
        {Sheet::localizedStringForMemoryFormFactorCode, 16, "Unknown"},
        {Sheet::localizedStringForMemoryTypeCode, 24, "DDR3"},
        {Sheet::localizedStringForMemoryTypeCode, 25, "FBD2"},
        {Sheet::localizedStringForMemoryTypeCode, 21, "Unknown"},
        {Sheet::localizedStringForMemoryTypeCode, 26, "DDR4"},
        {Sheet::localizedStringForMemoryTypeCode, 29, "LPDDR3"},
        {Sheet::localizedStringForMemoryTypeCode, 34, "DDR5"},
        {Sheet::localizedStringForMemoryTypeCode, 31, "Unknown"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.lookup(c.code), QLatin1String(c.expected)) << "code " << int(c.code);
}

TEST(SMBIOSRecords, ConvertTheirCodedFieldsAndKeepTheRest)
{
    const QVariantMap processor = Sheet::presentableRecordForProcessorRecord(
        {{"AssetTag", ""}, {"SerialNumber", "To Be Filled"}, {"Version", ""}, {"CPUSocket", ""},
         {"CPUCurrentClockMHz", u(2600)}, {"CPUMaximumClockMHz", u(0)}, {"CPUIdentification", u(0xBFEBFBFF000306A9ull)},
         {"CPUCoreCount", u(4)}});
    EXPECT_FALSE(processor.contains("AssetTag"));
    EXPECT_FALSE(processor.contains("Version"));
    EXPECT_EQ(processor.value("CPUSocket"), QString()) << "only the generic strings go";
    EXPECT_EQ(processor.value("SerialNumber"), QStringLiteral("To Be Filled"));
    EXPECT_EQ(processor.value("CPUCurrentClockMHz"), CDP::displayTextForFrequency(2'600'000'000u));
    EXPECT_EQ(processor.value("CPUMaximumClockMHz"), QStringLiteral("- not specified -"));
    EXPECT_EQ(processor.value("CPUIdentification"), QStringLiteral("A9:06:03:00:FF:FB:EB:BF"));
    EXPECT_EQ(processor.value("CPUCoreCount"), u(4));
    EXPECT_FALSE(processor.contains("CPUExternalClockMHz")) << "a field the record lacks is not invented";

    const QVariantMap memoryDevice = Sheet::presentableRecordForMemoryDeviceRecord(
        {{"AssetTag", ""}, {"MemoryTotalWidth", u(72)}, {"MemoryDataWidth", u(64)}, {"MemorySize", u(0x7FFF)},
         {"MemoryExtendedSize", u(65536)}, {"MemoryFormFactor", u(9)}, {"MemoryType", u(26)}, {"MemorySpeedMHz", u(3200)}});
    EXPECT_EQ(memoryDevice.value("AssetTag"), QString()) << "empty strings of other records stay";
    EXPECT_EQ(memoryDevice.value("MemoryTotalWidth"), QStringLiteral("64 data bits, 8 ECC bits"));
    EXPECT_EQ(memoryDevice.value("MemoryDataWidth"), u(64));
    EXPECT_EQ(memoryDevice.value("MemorySize"), memory(64 * kGiB));
    EXPECT_EQ(memoryDevice.value("MemoryFormFactor"), QStringLiteral("DIMM"));
    EXPECT_EQ(memoryDevice.value("MemoryType"), QStringLiteral("DDR4"));
    EXPECT_EQ(memoryDevice.value("MemorySpeedMHz"), CDP::displayTextForFrequency(3'200'000'000u));

    // A short record: one width only, no size.
    const QVariantMap shortDevice = Sheet::presentableRecordForMemoryDeviceRecord({{"MemoryDataWidth", u(64)}});
    EXPECT_FALSE(shortDevice.contains("MemoryDataWidth"));
    EXPECT_FALSE(shortDevice.contains("MemoryTotalWidth"));
    EXPECT_FALSE(shortDevice.contains("MemorySize"));

    const QVariantMap cache = Sheet::presentableRecordForCacheRecord(
        {{"CacheCurrentSize", u(0x8001)}, {"CacheMaximumSize", u(0x8001)}, {"CacheCurrentSRAMType", u(0x20)},
         {"CacheType", u(5)}, {"CacheECCType", u(6)}, {"CacheAccessTimeNS", u(0)}, {"CacheAssociativity", u(7)}});
    EXPECT_EQ(cache.value("CacheCurrentSize"), memory(65536));
    EXPECT_EQ(cache.value("CacheMaximumSize"), u(0x8001));
    EXPECT_EQ(cache.value("CacheCurrentSRAMType"), QStringLiteral("Synchronous"));
    EXPECT_EQ(cache.value("CacheType"), QStringLiteral("Unified"));
    EXPECT_EQ(cache.value("CacheECCType"), QStringLiteral("Multi-bit ECC"));
    EXPECT_EQ(cache.value("CacheAccessTimeNS"), QStringLiteral("- not specified -"));
    EXPECT_EQ(cache.value("CacheAssociativity"), QStringLiteral("8-way Set-Associative"));

    EXPECT_EQ(Sheet::presentableRecordForFirmwareRecord({{"FirmwareSize", u(8 * kMiB)}}).value("FirmwareSize"), memory(8 * kMiB));
    const QVariantMap enclosure = Sheet::presentableRecordForEnclosureRecord({{"Height", u(0)}, {"PowerCords", u(2)}});
    EXPECT_EQ(enclosure.value("Height"), QStringLiteral("- not specified -"));
    EXPECT_EQ(enclosure.value("PowerCords"), QStringLiteral("2"));
    const QVariantMap port = Sheet::presentableRecordForConnectorRecord(
        {{"PortInternalConnector", u(0)}, {"PortExternalConnector", u(18)}, {"PortType", u(16)}});
    EXPECT_EQ(port.value("PortInternalConnector"), QStringLiteral("No connector"));
    EXPECT_EQ(port.value("PortExternalConnector"), QStringLiteral("Access Bus (USB)"));
    EXPECT_EQ(port.value("PortType"), QStringLiteral("USB"));
    const QVariantMap slot = Sheet::presentableRecordForSlotRecord({{"SlotType", u(0xA8)}, {"SlotBusWidth", u(10)}, {"SlotLength", u(3)}});
    EXPECT_EQ(slot.value("SlotType"), QStringLiteral("PCI Express x4"));
    EXPECT_EQ(slot.value("SlotBusWidth"), QStringLiteral("4x or x4"));
    EXPECT_EQ(slot.value("SlotLength"), QStringLiteral("Short"));
    EXPECT_EQ(Sheet::presentableRecordForDeviceRecord({{"TypeAndStatus", u(0x83)}}).value("TypeAndStatus"), QStringLiteral("Video"));

    for (const QVariant& uuid : {QVariant(QByteArray(16, '\0')), QVariant(QByteArray(3, 'x')), QVariant()})
        EXPECT_FALSE(Sheet::presentableRecordForComputerRecord({{"SystemUUID", uuid}}).contains("SystemUUID"));
    EXPECT_EQ(Sheet::presentableRecordForComputerRecord({{"SystemUUID", QByteArray(15, '\0') + '\x01'}}).value("SystemUUID"),
              QStringLiteral("00000000-0000-0000-0000000000000001"));
}

TEST(SMBIOSSheet, RebuildsEveryGroupFromEachList)
{
    Sheet sheet;
    const QVariantList first = {
        structure(1, {{"Manufacturer", "First"}}),
        structure(1, {{"Manufacturer", "Second"}}),
        structure(2, {{"SerialNumber", "BOARD"}, {"BoardType", u(10)}}),
        structure(4, {{"CPUSocket", "CPU 1"}}),
        structure(4, {{"CPUSocket", "CPU 2"}}),
        structure(7, {{"CacheSocketType", "L1"}}),
        structure(12, {{"JumperOrSwitchList", QVariantList{"J1", "J2"}}, {"StringCount", u(2)}}),
        structure(17, {{"MemorySize", u(0x2000)}}),
        structure(127, {{"StructureName", "*** End of Table ***"}}),
        {QVariantMap{{"TypeCode", u(3)}}}, // undecodable: no contents
        QVariant(QStringLiteral("not a structure")),
    };
    sheet.setManagementRecords(first);
    ASSERT_TRUE(sheet.computerDescription());
    EXPECT_EQ(sheet.computerDescription()->value("Manufacturer"), QStringLiteral("Second"));
    EXPECT_EQ(sheet.mainboardDescription()->value("BoardType"), u(10)) << "the board record stays as it came";
    EXPECT_FALSE(sheet.enclosureDescription());
    EXPECT_FALSE(sheet.firmwareDescription());
    ASSERT_EQ(sheet.processors().size(), 2);
    EXPECT_EQ(sheet.processors()[1].value("CPUSocket"), QStringLiteral("CPU 2"));
    EXPECT_EQ(sheet.selectedProcessorRow(), 0);
    EXPECT_EQ(sheet.selectedCacheRow(), 0);
    EXPECT_EQ(sheet.jumpers(), (QList<QVariantMap>{{{"JumperOrSwitchList", "J1"}}, {{"JumperOrSwitchList", "J2"}}}));
    EXPECT_EQ(sheet.memoryDevices()[0].value("MemorySize"), memory(8 * kGiB));

    // The window follows; the next list replaces everything.
    auto* processorsTable = sheet.window()->findChild<QTableWidget*>(QStringLiteral("processorsTable"));
    ASSERT_TRUE(processorsTable);
    EXPECT_EQ(processorsTable->rowCount(), 2);
    sheet.setManagementRecords(QVariantList{structure(0, {{"Vendor", "Firmware Inc."}})});
    EXPECT_FALSE(sheet.computerDescription());
    EXPECT_TRUE(sheet.processors().isEmpty());
    EXPECT_TRUE(sheet.jumpers().isEmpty());
    EXPECT_EQ(sheet.selectedProcessorRow(), -1);
    EXPECT_EQ(processorsTable->rowCount(), 0);
    EXPECT_EQ(sheet.firmwareDescription()->value("Vendor"), QStringLiteral("Firmware Inc."));

    sheet.setManagementRecords(std::nullopt);
    EXPECT_FALSE(sheet.firmwareDescription());
    EXPECT_FALSE(sheet.managementRecords());
}

TEST(SMBIOSSheet, CloseTellsTheDelegate)
{
    struct Delegate : SMBIOSSheetControllerDelegate {
        QList<QObject*> senders;
        void closeSMBIOSSheet(QObject* sender) override { senders.append(sender); }
    };
    Sheet sheet;
    sheet.close(nullptr); // no delegate: nothing happens
    const auto delegate = std::make_shared<Delegate>();
    sheet.setDelegate(delegate);
    auto* button = sheet.window()->findChild<QPushButton*>(QStringLiteral("closeButton"));
    ASSERT_TRUE(button);
    button->click();
    ASSERT_EQ(delegate->senders.size(), 1);
    EXPECT_EQ(delegate->senders[0], button);
}

namespace {

// The bare table of a dmidecode --dump-bin file or of a firmware-table blob (see tests/data/smbios).
QByteArray tableFromDump(const QByteArray& file)
{
    const auto* p = reinterpret_cast<const uchar*>(file.constData());
    if (file.startsWith("_SM3_"))
        return file.mid(0x20, qFromLittleEndian<quint32>(p + 0x0C));
    if (file.startsWith("_SM_"))
        return file.mid(0x20, qFromLittleEndian<quint16>(p + 0x16));
    return file.mid(8, qFromLittleEndian<quint32>(p + 4));
}

// Every text a group shows: printable, no format left in it.
void expectCleanTexts(const QVariantMap& record, const char* file)
{
    for (auto it = record.cbegin(); it != record.cend(); ++it) {
        const QString text = Sheet::displayTextForValue(it.value());
        EXPECT_FALSE(text.contains(QChar::ReplacementCharacter)) << file << " " << it.key().toStdString();
        EXPECT_FALSE(text.contains(QLatin1String("%u")) || text.contains(QLatin1String("%@"))) << file;
        for (const QChar c : text)
            EXPECT_TRUE(c.isPrint()) << file << " " << it.key().toStdString() << " U+" << std::hex << int(c.unicode());
    }
}

} // namespace

TEST(SMBIOSSheet, PresentsTheRealTablesCleanly)
{
    struct Case {
        const char* file;
        qsizetype memoryDevices;
        qsizetype processors;
        QString firstSize;   // of the first memory device
        const char* firstType;
        const char* firstWidth;
    };
    const Case cases[] = {
        {"Lenovo-ThinkPad-T480.bin", 2, 1, memory(8 * kGiB), "DDR4", "64 data bits, 0 ECC bits"},
        {"Asus-UX307LA.bin", 2, 1, memory(4 * kGiB), "LPDDR3", "64 data bits, 0 ECC bits"},
        {"GigaByte-X399.bin", 8, 1, memory(16 * kGiB), "DDR4", "64 data bits, 0 ECC bits"},
        {"Lenovo-ThinkPad-W510.bin", 4, 1, memory(4 * kGiB), "DDR3", "64 data bits, 0 ECC bits"},
        {"SuperMicro-X9DBL.bin", 6, 2, memory(4 * kGiB), "DDR3", "64 data bits, 8 ECC bits"},
        {"Gigabyte-GA-MA74GMT-S2.bin", -1, -1, {}, nullptr, nullptr},
        {"MSI-MS-7816.bin", -1, -1, {}, nullptr, nullptr},
        {"Synology-RS3614xsp.bin", -1, -1, {}, nullptr, nullptr},
        {"VMWare.bin", -1, -1, {}, nullptr, nullptr},
        {"satellite_pro_l70_testdata.bin", -1, -1, {}, nullptr, nullptr},
        {"smbios_table.bin", -1, -1, {}, nullptr, nullptr},
        {"jeffgerlap_3_2_0.dat", -1, -1, {}, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        const QByteArray table = tableFromDump(kelvaro::test::readFile(kelvaro::test::testDataPath(QStringLiteral("smbios/") + QLatin1String(c.file))));
        ASSERT_FALSE(table.isEmpty()) << c.file;
        const auto info = TEVSMBIOSInfo::createWithData(table);
        ASSERT_TRUE(info) << c.file;
        Sheet sheet;
        sheet.setManagementRecords(info->systemManagementStructures());
        ASSERT_TRUE(sheet.window()) << c.file;
        if (c.memoryDevices >= 0) {
            EXPECT_EQ(sheet.memoryDevices().size(), c.memoryDevices) << c.file;
            EXPECT_EQ(sheet.processors().size(), c.processors) << c.file;
            ASSERT_FALSE(sheet.memoryDevices().isEmpty()) << c.file;
            const QVariantMap& first = sheet.memoryDevices().first();
            EXPECT_EQ(first.value("MemorySize"), c.firstSize) << c.file;
            EXPECT_EQ(first.value("MemoryType"), QLatin1String(c.firstType)) << c.file;
            EXPECT_EQ(first.value("MemoryTotalWidth"), QLatin1String(c.firstWidth)) << c.file;
        }
        for (const auto* group : {&sheet.processors(), &sheet.cacheUnits(), &sheet.connectors(), &sheet.expansionSlots(),
                                  &sheet.devices(), &sheet.jumpers(), &sheet.memoryDevices()})
            for (const QVariantMap& record : *group)
                expectCleanTexts(record, c.file);
        for (const auto* single : {&sheet.firmwareDescription(), &sheet.computerDescription(), &sheet.mainboardDescription(),
                                   &sheet.enclosureDescription()})
            if (*single)
                expectCleanTexts(**single, c.file);
    }
}

TEST(SMBIOSSheet, SaysWhyWithoutATableAndCutsNoColumn)
{
    const QByteArray table = tableFromDump(kelvaro::test::readFile(kelvaro::test::testDataPath(QStringLiteral("smbios/SuperMicro-X9DBL.bin"))));
    const auto info = TEVSMBIOSInfo::createWithData(table);
    ASSERT_TRUE(info);
    const struct {
        const char* what;
        std::optional<QVariantList> records;
    } rows[] = {{"no table", std::nullopt}, {"an empty table", QVariantList()}, {"a server's", info->systemManagementStructures()}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Sheet sheet;
        sheet.setManagementRecords(row.records);
        QDialog* window = sheet.window();
        window->show();
        auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("groupTabs"));
        auto* message = window->findChild<QLabel*>(QStringLiteral("noTableMessage"));
        ASSERT_TRUE(tabs);
        const bool none = !row.records || row.records->isEmpty();
        EXPECT_TRUE(message) << "no line to say why";
        if (message) {
            EXPECT_EQ(message->isVisible(), none);
            EXPECT_EQ(tabs->isVisible(), !none) << "tabs with nothing in them";
            EXPECT_TRUE(message->text().contains(QLatin1String("SMBIOS table")));
        }
        // Each column of every tab as wide as its title and its texts: all in view where the screen has room,
        // else the table scrolls to the last one whole.
        const int screen = QGuiApplication::primaryScreen()->availableGeometry().width();
        for (int t = 0; t < tabs->count(); ++t) {
            tabs->setCurrentIndex(t);
            QApplication::processEvents();
            auto* view = qobject_cast<QTableWidget*>(tabs->widget(t));
            ASSERT_TRUE(view);
            SCOPED_TRACE(view->objectName().toStdString());
            int total = 0;
            for (int c = 0; c < view->columnCount(); ++c) {
                total += view->columnWidth(c);
                EXPECT_GE(view->columnWidth(c), view->horizontalHeader()->sectionSizeHint(c)) << "column " << c;
                for (int r = 0; r < view->rowCount(); ++r) {
                    if (const QTableWidgetItem* cell = view->item(r, c); cell && view->columnSpan(r, c) == 1) {
                        EXPECT_GE(view->columnWidth(c), view->fontMetrics().horizontalAdvance(cell->text())) << r << "," << c;
                    }
                }
            }
            if (view->minimumWidth() < screen - 48) {
                EXPECT_LE(total, view->viewport()->width()) << "the table scrolls though the screen has room";
            }
        }
    }
}
