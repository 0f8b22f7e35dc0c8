#include "sensors/TEVSMBIOSInfo.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Values.h"
#include "platform/foundation/SimulatedComputer.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QTemporaryDir>

#include <QSet>
#include <QtEndian>

#include <gtest/gtest.h>

#include <random>

namespace {

using kelvaro::test::log;
using kelvaro::test::readFile;
using kelvaro::test::testDataPath;

// The bare structure table of a dmidecode --dump-bin file (entry point at 0, table at 0x20) or of a
// firmware-table blob (8-byte header whose u32 at offset 4 is the table length).
QByteArray tableFromDump(const QByteArray& file)
{
    const auto* p = reinterpret_cast<const uchar*>(file.constData());
    qsizetype start = 0x20;
    qsizetype length = 0;
    if (file.startsWith("_SM3_"))
        length = qFromLittleEndian<quint32>(p + 0x0C);
    else if (file.startsWith("_SM_"))
        length = qFromLittleEndian<quint16>(p + 0x16);
    else {
        start = 8;
        length = qFromLittleEndian<quint32>(p + 4);
    }
    return file.mid(start, length);
}

QByteArray corpusTable(const char* name)
{
    return tableFromDump(readFile(testDataPath(QStringLiteral("smbios/") + QLatin1String(name))));
}

QList<QVariantMap> contentsOfType(const TEVSMBIOSInfo& info, quint8 type)
{
    QList<QVariantMap> found;
    for (const QVariant& entry : info.systemManagementStructures()) {
        const QVariantMap structure = entry.toMap();
        if (platform::values::toUnsigned(structure.value("TypeCode")) == type)
            found.append(structure.value("Contents").toMap());
    }
    return found;
}

// One structure: type, formatted area after the header (length byte = 4 + its size), strings.
QByteArray structure(quint8 type, const QByteArray& body, const QList<QByteArray>& strings = {})
{
    QByteArray bytes;
    bytes.append(char(type));
    bytes.append(char(4 + body.size()));
    bytes.append("\x34\x12", 2);
    bytes.append(body);
    for (const QByteArray& text : strings)
        bytes.append(text).append('\0');
    if (strings.isEmpty())
        bytes.append('\0');
    bytes.append('\0');
    return bytes;
}

QByteArray type1Body(int length)
{
    QByteArray body = QByteArray::fromHex("01020304"); // four string numbers
    for (int i = 0; i < 16; ++i)
        body.append(char(0xA0 + i)); // UUID
    body.append(char(6)).append(char(5)).append(char(6)); // power-up cause, SKU, family
    return body.left(length - 4);
}

const QList<QByteArray> kType1Strings = {"Maker", "Model", "1.0", "SN42", "SKU", "Family"};

struct CorpusTable {
    const char* file;
    int structureCount; // from the reference dmidecode text; 0 where it gives none
};

const CorpusTable kCorpus[] = {
    {"Asus-UX307LA.bin", 27},          {"GigaByte-X399.bin", 0},
    {"Gigabyte-GA-MA74GMT-S2.bin", 54}, {"Lenovo-ThinkPad-T480.bin", 0},
    {"Lenovo-ThinkPad-W510.bin", 82},  {"MSI-MS-7816.bin", 81},
    {"SuperMicro-X9DBL.bin", 115},     {"Synology-RS3614xsp.bin", 69},
    {"VMWare.bin", 620},               {"satellite_pro_l70_testdata.bin", 0},
    {"smbios_table.bin", 0},           {"jeffgerlap_3_2_0.dat", 0},
};

TEST(TEVSMBIOSInfo, DecodesEveryCorpusTableCompletely)
{
    for (const CorpusTable& row : kCorpus) {
        SCOPED_TRACE(row.file);
        const QByteArray table = corpusTable(row.file);
        ASSERT_GT(table.size(), 100);
        const auto info = TEVSMBIOSInfo::createWithData(table);
        ASSERT_TRUE(info);
        const QVariantList& structures = info->systemManagementStructures();
        if (row.structureCount) {
            EXPECT_EQ(structures.size(), row.structureCount);
        }
        for (const QVariant& entry : structures) {
            const QVariantMap s = entry.toMap();
            const auto type = platform::values::toUnsigned(s.value("TypeCode"));
            ASSERT_TRUE(type);
            const QVariantMap contents = s.value("Contents").toMap();
            ASSERT_TRUE(contents.contains("StructureName")) << "type " << *type;
            if (*type >= 128) {
                EXPECT_EQ(contents.value("StructureName").toString(),
                          "Proprietary OEM SMBIOS structure - specification unknown");
            }
        }
        EXPECT_EQ(platform::values::toUnsigned(structures.last().toMap().value("TypeCode")), 127u);
        EXPECT_TRUE(log().lines().isEmpty()) << log().lines().join("").toStdString();
        log().clear();
    }
}

struct FieldRow {
    const char* file;
    quint8 type;
    int occurrence;
    const char* key;
    QVariant expected; // QString, quint64, or the UUID as dmidecode prints it (QByteArray)
};

// The UUID's first three groups are stored little-endian (SMBIOS 2.6 and later).
QByteArray uuidText(const QByteArray& raw)
{
    QByteArray b = raw;
    std::reverse(b.begin(), b.begin() + 4);
    std::reverse(b.begin() + 4, b.begin() + 6);
    std::reverse(b.begin() + 6, b.begin() + 8);
    const QByteArray hex = b.toHex();
    return hex.mid(0, 8) + '-' + hex.mid(8, 4) + '-' + hex.mid(12, 4) + '-' + hex.mid(16, 4) + '-' + hex.mid(20);
}

TEST(TEVSMBIOSInfo, CorpusFieldsMatchReferenceDecoding)
{
    const FieldRow rows[] = {
        {"Lenovo-ThinkPad-T480.bin", 0, 0, "Vendor", QString("LENOVO")},
        {"Lenovo-ThinkPad-T480.bin", 0, 0, "FirmwareSize", QVariant::fromValue<quint64>(16 * 1024 * 1024)},
        {"Lenovo-ThinkPad-T480.bin", 1, 0, "Product", QString("20L8S07A14")},
        {"Lenovo-ThinkPad-T480.bin", 1, 0, "SerialNumber", QString("PC131TBF")},
        {"Lenovo-ThinkPad-T480.bin", 1, 0, "SystemFamily", QString("ThinkPad T480s")},
        {"Lenovo-ThinkPad-T480.bin", 1, 0, "SystemUUID", QByteArray("161674cc-2a1e-11b2-a85c-e121881d01b9")},
        {"Lenovo-ThinkPad-T480.bin", 2, 0, "SerialNumber", QString("L1HF9380025")},
        {"Lenovo-ThinkPad-T480.bin", 4, 0, "Version", QString("Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz")},
        {"Lenovo-ThinkPad-T480.bin", 4, 0, "CPUExternalClockMHz", QVariant::fromValue<quint64>(100)},
        {"Lenovo-ThinkPad-T480.bin", 4, 0, "CPUMaximumClockMHz", QVariant::fromValue<quint64>(2100)},
        {"Lenovo-ThinkPad-T480.bin", 17, 0, "MemorySize", QVariant::fromValue<quint64>(8192)},
        {"Lenovo-ThinkPad-T480.bin", 17, 0, "MemorySpeedMHz", QVariant::fromValue<quint64>(2400)},
        {"Lenovo-ThinkPad-T480.bin", 17, 0, "Manufacturer", QString("SK Hynix")},
        {"Lenovo-ThinkPad-T480.bin", 17, 0, "MemoryConfiguredVoltageMilliV", QVariant::fromValue<quint64>(1200)},
        {"Lenovo-ThinkPad-T480.bin", 17, 1, "MemorySize", QVariant::fromValue<quint64>(16384)},
        {"Asus-UX307LA.bin", 0, 0, "Vendor", QString("American Megatrends Inc.")},
        {"Asus-UX307LA.bin", 1, 0, "Version", QString("1.0       ")},
        {"Asus-UX307LA.bin", 1, 0, "SystemUUID", QByteArray("850f3e82-9f38-694a-8840-2f8b0cf5d3d0")},
        {"GigaByte-X399.bin", 1, 0, "Product", QString("X399 AORUS XTREME")},
        {"GigaByte-X399.bin", 4, 0, "Manufacturer", QString("Advanced Micro Devices, Inc.")},
        {"GigaByte-X399.bin", 17, 0, "MemoryBankLocation", QString("P0 CHANNEL A")},
        {"GigaByte-X399.bin", 17, 0, "MemorySpeedMHz", QVariant::fromValue<quint64>(2933)},
        {"GigaByte-X399.bin", 17, 0, "MemoryMinimumVoltageMilliV", QVariant::fromValue<quint64>(1200)},
        {"GigaByte-X399.bin", 17, 7, "MemorySize", QVariant::fromValue<quint64>(16384)},
        {"SuperMicro-X9DBL.bin", 0, 0, "ReleaseDate", QString("12/06/2013")},
        {"SuperMicro-X9DBL.bin", 0, 0, "FirmwareSize", QVariant::fromValue<quint64>(4 * 1024 * 1024)},
        {"SuperMicro-X9DBL.bin", 1, 0, "SystemUUID", QByteArray("00000000-0000-0000-0000-0cc47a133878")},
        {"SuperMicro-X9DBL.bin", 4, 1, "Manufacturer", QString("Intel")},
        {"Lenovo-ThinkPad-W510.bin", 0, 0, "ReleaseDate", QString("10/03/2012")},
        {"Lenovo-ThinkPad-W510.bin", 17, 0, "MemorySpeedMHz", QVariant::fromValue<quint64>(1334)},
        {"Lenovo-ThinkPad-W510.bin", 17, 0, "MemoryPartNumber", QString("CT51264BF1339.C16F")},
        {"Lenovo-ThinkPad-W510.bin", 17, 1, "MemorySize", QVariant::fromValue<quint64>(0)},
    };
    for (const FieldRow& row : rows) {
        SCOPED_TRACE(std::string(row.file) + " type " + std::to_string(row.type) + " #" +
                     std::to_string(row.occurrence) + " " + row.key);
        const auto info = TEVSMBIOSInfo::createWithData(corpusTable(row.file));
        ASSERT_TRUE(info);
        const QList<QVariantMap> all = contentsOfType(*info, row.type);
        ASSERT_GT(all.size(), row.occurrence);
        const QVariant value = all.at(row.occurrence).value(row.key);
        ASSERT_TRUE(value.isValid());
        if (row.expected.typeId() == QMetaType::QByteArray) {
            EXPECT_EQ(uuidText(value.toByteArray()), row.expected.toByteArray());
        } else {
            EXPECT_TRUE(platform::values::strictlyEqual(value, row.expected))
                << value.toString().toStdString() << " != " << row.expected.toString().toStdString();
        }
    }
}

TEST(TEVSMBIOSInfo, Type1FieldGroupsFollowStructureLength)
{
    struct Row {
        int length;
        QStringList keys;
    };
    const QStringList strings{"StructureName", "Manufacturer", "Product", "Version", "SerialNumber"};
    const Row rows[] = {
        {0x08, strings},
        {0x19, strings + QStringList{"SystemUUID", "PowerUpCause"}},
        {0x1B, strings + QStringList{"SystemUUID", "PowerUpCause", "SystemSKU", "SystemFamily"}},
        {0x10, strings}, // the UUID does not fit: nothing is read from past the structure
        {0x1A, strings + QStringList{"SystemUUID", "PowerUpCause", "SystemSKU"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        const auto info = TEVSMBIOSInfo::createWithData(structure(1, type1Body(row.length), kType1Strings));
        const auto contents = info->recordForSMBIOSTypeCode(1);
        ASSERT_TRUE(contents);
        QStringList keys = contents->keys();
        QStringList expected = row.keys;
        keys.sort();
        expected.sort();
        EXPECT_EQ(keys, expected);
    }
    const auto full = TEVSMBIOSInfo::createWithData(structure(1, type1Body(0x1B), kType1Strings));
    const QVariantMap c = *full->recordForSMBIOSTypeCode(1);
    EXPECT_EQ(c.value("SystemFamily").toString(), "Family");
    EXPECT_EQ(c.value("SystemUUID").toByteArray().toHex(), "a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");
    EXPECT_TRUE(platform::values::strictlyEqual(c.value("PowerUpCause"), QVariant::fromValue<quint64>(6)));
}

TEST(TEVSMBIOSInfo, StringNumbersOutsideTheSetAddNothing)
{
    // Manufacturer 0, product 2 of 2, version 3 (missing), serial 255.
    const auto info = TEVSMBIOSInfo::createWithData(
        structure(1, QByteArray::fromHex("000203ff"), {"first", "second"}));
    const QVariantMap c = *info->recordForSMBIOSTypeCode(1);
    EXPECT_FALSE(c.contains("Manufacturer"));
    EXPECT_EQ(c.value("Product").toString(), "second");
    EXPECT_FALSE(c.contains("Version"));
    EXPECT_FALSE(c.contains("SerialNumber"));
}

TEST(TEVSMBIOSInfo, OverlongStringIsCutAndTheNextStringFollows)
{
    const QByteArray longText(70, 'x');
    const auto info = TEVSMBIOSInfo::createWithData(
        structure(1, QByteArray::fromHex("01020000"), {longText, "after"}) + structure(127, {}));
    const QVariantMap c = *info->recordForSMBIOSTypeCode(1);
    EXPECT_EQ(c.value("Manufacturer").toString(), QString(65, 'x'));
    EXPECT_EQ(c.value("Product").toString(), "after");
    EXPECT_EQ(log().count("TEVSMBIOSInfo: error in structure found: string length not compliant"), 1);
    EXPECT_EQ(info->systemManagementStructures().size(), 2);
}

TEST(TEVSMBIOSInfo, StructuresWithoutDecoderAreNamedByRange)
{
    const auto info = TEVSMBIOSInfo::createWithData(structure(200, "\x01\x02", {"oem"}) + structure(5, {}) +
                                                    structure(126, {}) + structure(127, {}));
    EXPECT_EQ(info->recordForSMBIOSTypeCode(200)->value("StructureName").toString(),
              "Proprietary OEM SMBIOS structure - specification unknown");
    EXPECT_EQ(info->recordForSMBIOSTypeCode(5)->value("StructureName").toString(),
              "Unknown or unimplemented SMBIOS structure");
    EXPECT_EQ(info->recordForSMBIOSTypeCode(126)->value("StructureName").toString(), "- Inactive Structure -");
    EXPECT_EQ(info->recordForSMBIOSTypeCode(127)->value("StructureName").toString(), "*** End of Table ***");
}

TEST(TEVSMBIOSInfo, RecordIndexKeepsLastStructureOfEachTypeAndWalkGoesPastEndOfTable)
{
    QByteArray body(0x22 - 4, '\0');
    body[0x0C - 4] = 0x00;
    body[0x0D - 4] = 0x10; // 4096 MB
    QByteArray second = body;
    second[0x0D - 4] = 0x20;
    const auto info = TEVSMBIOSInfo::createWithData(structure(17, body) + structure(127, {}) + structure(17, second));
    EXPECT_EQ(contentsOfType(*info, 17).size(), 2);
    EXPECT_EQ(info->recordForSMBIOSTypeCode(17)->value("MemorySize").toULongLong(), 0x2000u);
    EXPECT_FALSE(info->recordForSMBIOSTypeCode(2));

    // Each reader has its own index.
    const auto other = TEVSMBIOSInfo::createWithData(structure(17, body));
    EXPECT_EQ(other->recordForSMBIOSTypeCode(17)->value("MemorySize").toULongLong(), 0x1000u);
}

TEST(TEVSMBIOSInfo, ShortMemoryDeviceLeavesOutFieldsPastItsLength)
{
    // Length 0x16: the speed at 0x15 would need one byte more.
    const auto info = TEVSMBIOSInfo::createWithData(structure(17, QByteArray(0x16 - 4, '\x01')));
    const QVariantMap c = *info->recordForSMBIOSTypeCode(17);
    EXPECT_TRUE(c.contains("MemoryTypeDetail"));
    EXPECT_FALSE(c.contains("MemorySpeedMHz"));
}

TEST(TEVSMBIOSInfo, EmptyStringSetGivesEmptyJumperList)
{
    const auto info = TEVSMBIOSInfo::createWithData(structure(12, "\x00", {}));
    const QVariantMap c = *info->recordForSMBIOSTypeCode(12);
    EXPECT_EQ(c.value("JumperOrSwitchList").toList().size(), 0);
    EXPECT_EQ(c.value("StringCount").toULongLong(), 0u);
    const auto two = TEVSMBIOSInfo::createWithData(structure(12, "\x02", {"J1", "J2"}));
    EXPECT_EQ(two->recordForSMBIOSTypeCode(12)->value("JumperOrSwitchList").toList(), (QVariantList{"J1", "J2"}));
}

TEST(TEVSMBIOSInfo, NullDataGivesNoReaderAndEmptyDataNoStructures)
{
    EXPECT_FALSE(TEVSMBIOSInfo::createWithData(QByteArray()));
    const auto empty = TEVSMBIOSInfo::createWithData(QByteArray(""));
    ASSERT_TRUE(empty);
    EXPECT_TRUE(empty->systemManagementStructures().isEmpty());
}

TEST(TEVSMBIOSInfo, HeaderShorterThanFourBytesIsSkipped)
{
    QByteArray bad = QByteArray::fromHex("050234120000");
    const auto info = TEVSMBIOSInfo::createWithData(bad + structure(2, "\x01", {"Board"}));
    ASSERT_EQ(info->systemManagementStructures().size(), 1);
    EXPECT_EQ(info->recordForSMBIOSTypeCode(2)->value("Manufacturer").toString(), "Board");
    EXPECT_TRUE(log().contains("TEVSMBIOSInfo: structure of type 5 has length 2"));
}

TEST(TEVSMBIOSInfo, TruncatedStringSetFailsItsDecoderAndEndsTheWalk)
{
    QByteArray table = structure(0, QByteArray::fromHex("0102000000000000000000000000"), {"Vendor", "Ver"});
    // Cut right after the formatted area: no string set at all.
    const auto info = TEVSMBIOSInfo::createWithData(table.left(0x12));
    ASSERT_EQ(info->systemManagementStructures().size(), 1);
    EXPECT_FALSE(info->systemManagementStructures().first().toMap().contains("Contents"));
    EXPECT_TRUE(log().contains("detected error in type 0 information record"));
    // Cut inside the second string: the first string is whole, the second ends at the data's end.
    const auto cut = TEVSMBIOSInfo::createWithData(table.left(0x12 + 9));
    EXPECT_EQ(cut->recordForSMBIOSTypeCode(0)->value("Vendor").toString(), "Vendor");
    EXPECT_EQ(cut->recordForSMBIOSTypeCode(0)->value("Version").toString(), "Ve");
}

// Run under the sanitizers: any read past a structure or the data is a failure.
TEST(TEVSMBIOSInfo, EveryPrefixAndCorruptionOfRealTablesDecodesSafely)
{
    std::mt19937 random(1234);
    for (const char* file : {"Lenovo-ThinkPad-T480.bin", "Asus-UX307LA.bin", "jeffgerlap_3_2_0.dat"}) {
        SCOPED_TRACE(file);
        const QByteArray table = corpusTable(file);
        for (qsizetype n = 0; n <= table.size(); ++n) {
            // A detached copy, so that the sanitizer sees the exact end of the data.
            const QByteArray prefix(table.constData(), n);
            const auto info = TEVSMBIOSInfo::createWithData(prefix);
            ASSERT_TRUE(info);
        }
        for (int round = 0; round < 300; ++round) {
            QByteArray damaged(table.constData(), table.size());
            for (int flips = 0; flips < 8; ++flips)
                damaged[qsizetype(random() % damaged.size())] = char(random() & 0xFF);
            const qsizetype keep = qsizetype(random() % (damaged.size() + 1));
            const QByteArray cut(damaged.constData(), keep);
            ASSERT_TRUE(TEVSMBIOSInfo::createWithData(cut));
        }
    }
    log().clear();
}


TEST(TEVSMBIOSInfo, StructureNamesComeFromTheProgramStringTable)
{
    const auto bundle = platform::Bundle::forProgram(QStringLiteral("Kelvaro"));
    ASSERT_TRUE(bundle);
    const auto info = TEVSMBIOSInfo::createWithData(corpusTable("Lenovo-ThinkPad-W510.bin"));
    QSet<QString> names;
    for (const QVariant& entry : info->systemManagementStructures())
        names.insert(entry.toMap().value("Contents").toMap().value("StructureName").toString());
    EXPECT_GE(names.size(), 10);
    for (const QString& name : std::as_const(names))
        EXPECT_EQ(bundle->localizedString(name, QStringLiteral("<missing>"), QStringLiteral("Localizable")), name);
}


TEST(TEVSMBIOSInfo, DescriptionListsStructuresWithTheirFields)
{
    const auto info = TEVSMBIOSInfo::createWithData(
        structure(1, QByteArray::fromHex("01000000"), {"Say \"hi\""}) + structure(127, {}));
    EXPECT_EQ(info->description(),
              "SMBIOS: (\n"
              "    {\n"
              "        Contents = {\n"
              "            Manufacturer = \"Say \\\"hi\\\"\";\n"
              "            StructureName = \"System information\";\n"
              "        };\n"
              "        TypeCode = 1;\n"
              "    },\n"
              "    {\n"
              "        Contents = {\n"
              "            StructureName = \"*** End of Table ***\";\n"
              "        };\n"
              "        TypeCode = 127;\n"
              "    }\n"
              ")\n");
}


TEST(TEVSMBIOSInfo, SharedReaderComesFromTheRegistryOfTheSelectedComputer)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("root"));
    const QByteArray table = structure(1, type1Body(27), kType1Strings) + structure(127, {});
    const QVariantList registry = {
        QVariantMap{{"Class", QVariantList{"AppleSMBIOS", "IOService"}}, {"Properties", QVariantMap{{"SMBIOS", 42}}}},
        QVariantMap{{"Class", QVariantList{"AppleSMBIOS", "IOService"}}, {"Properties", QVariantMap{{"SMBIOS", table}}}},
    };
    const auto withTable = platform::SimulatedComputer::fromDictionary({{"Registry", registry}}, dir.path());
    platform::SimulatedComputer::setCurrent(withTable.computer);
    const auto reader = TEVSMBIOSInfo::systemManagementBIOSInformation();
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->recordForSMBIOSTypeCode(1).value_or(QVariantMap{}).value("Manufacturer"), QVariant("Maker"));
    EXPECT_EQ(TEVSMBIOSInfo::systemManagementBIOSInformation(), reader);

    platform::SimulatedComputer::setCurrent(platform::SimulatedComputer::fromDictionary({}, dir.path()).computer);
    EXPECT_FALSE(TEVSMBIOSInfo::systemManagementBIOSInformation());
    platform::SimulatedComputer::setCurrent(nullptr);
}

} // namespace

TEST(TEVSMBIOSInfo, ATableAtTheCapCostsItsStructuresNotTheirTexts)
{
    // The cheapest structures a forged table can hold: one without strings per 6 bytes, of types with and
    // without decoder (a type 0 of length 4 decodes to its name alone), between memory devices.
    const QByteArray memory = structure(17, QByteArray(0x18, '\x01'), {"DIMM0", "BANK 0"});
    const QByteArray unit = memory + structure(5, {}) + structure(0, {}) + structure(200, {}) + structure(127, {});
    const qsizetype units = TEVSMBIOSInfo::kMaximumTableBytes / unit.size();
    const auto info = TEVSMBIOSInfo::createWithData(unit.repeated(units));
    ASSERT_TRUE(info);
    const QVariantList& structures = info->systemManagementStructures();
    ASSERT_EQ(structures.size(), units * 5);

    // Each kind shares one dictionary (or, decoded, its name and keys) with the first of its kind: what a
    // structure adds is its list entry and the values of its own fields.
    for (qsizetype kind = 0; kind < 5; ++kind) {
        SCOPED_TRACE(kind);
        const QVariantMap first = structures.at(kind).toMap();
        const QVariantMap contents = first.value("Contents").toMap();
        for (qsizetype at = kind + 5; at < structures.size(); at += 5 * 97) {
            const QVariantMap other = structures.at(at).toMap();
            const QVariantMap otherContents = other.value("Contents").toMap();
            ASSERT_EQ(other, first) << at;
            if (kind > 0) {
                EXPECT_TRUE(other.isSharedWith(first)) << at;
                continue;
            }
            EXPECT_FALSE(other.isSharedWith(first)) << "decoded fields are its own";
            EXPECT_EQ(otherContents.value("StructureName").toString().constData(),
                      contents.value("StructureName").toString().constData());
            for (auto key = otherContents.keyBegin(); key != otherContents.keyEnd(); ++key)
                EXPECT_EQ(key->constData(), contents.find(*key).key().constData()) << key->toStdString();
        }
    }
    EXPECT_EQ(contentsOfType(*info, 0).first().size(), 1) << "a type 0 of length 4 has its name only";
}
