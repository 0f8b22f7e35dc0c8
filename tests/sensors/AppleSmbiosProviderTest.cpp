// The "AppleSMBIOS" registry provider, checked through the decoder that reads its table.

#include "platform/foundation/HostRoot.h"
#include "platform/foundation/Values.h"
#include "platform/registry/AppleSmbiosProvider.h"
#include "platform/registry/LinuxIORegistry.h"
#include "sensors/TEVSMBIOSInfo.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

namespace {

using kelvaro::test::readFile;
using kelvaro::test::testDataPath;
using kelvaro::test::writeFile;
using platform::HostRoot;

const QString kIdFolder = QStringLiteral("/sys/class/dmi/id/");
const QString kTableFile = QStringLiteral("/sys/firmware/dmi/tables/DMI");

// A host root in a temporary folder, seeded from a tree under tests/data/dmi.
struct FakeHost {
    QTemporaryDir dir;

    explicit FakeHost(const QString& seed = {})
    {
        if (seed.isEmpty())
            return;
        const QString from = testDataPath(QStringLiteral("dmi/") + seed);
        QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            writeFile(dir.path() + file.mid(from.size()), readFile(file));
        }
    }
    void write(const QString& absolute, const QByteArray& bytes) { writeFile(dir.path() + absolute, bytes); }
    // A folder where a file is expected reads as unreadable even for root.
    void makeUnreadable(const QString& absolute) { ASSERT_TRUE(QDir().mkpath(dir.path() + absolute)); }
    HostRoot root() const { return HostRoot(dir.path()); }
};

// What root may read besides what an ordinary user sees in lenovo_t480_dmi_id_as_user.
void addRootOnlyFiles(FakeHost& host)
{
    host.write(kIdFolder + "product_serial", "PC131TBF\n");
    host.write(kIdFolder + "product_uuid", "161674cc-2a1e-11b2-a85c-e121881d01b9\n");
    host.write(kIdFolder + "board_serial", "L1HF9380025\n");
    host.write(kIdFolder + "chassis_serial", "PC131TBF\n");
}

std::vector<platform::IORegistry::EntryRef> smbiosEntries(const HostRoot& root)
{
    return platform::LinuxIORegistry::build(root)->matchingClass(QStringLiteral("AppleSMBIOS"));
}

QByteArray publishedTable(const HostRoot& root)
{
    const auto entries = smbiosEntries(root);
    if (entries.size() != 1) {
        ADD_FAILURE() << "expected one AppleSMBIOS entry, found " << entries.size();
        return {};
    }
    return platform::values::toData(entries.front()->property(QStringLiteral("SMBIOS"))).value_or(QByteArray());
}

QByteArray realT480Table()
{
    return readFile(testDataPath(QStringLiteral("dmi/lenovo_t480_dmi_table") + kTableFile));
}

QList<quint64> typeCodes(const TEVSMBIOSInfo& info)
{
    QList<quint64> codes;
    for (const QVariant& structure : info.systemManagementStructures())
        codes.append(platform::values::toUnsigned(structure.toMap().value(QStringLiteral("TypeCode"))).value_or(999));
    return codes;
}

QVariantMap record(const TEVSMBIOSInfo& info, quint8 type)
{
    return info.recordForSMBIOSTypeCode(type).value_or(QVariantMap{});
}

// The fields /sys/class/dmi/id carries, per structure type.
const std::pair<quint8, QStringList> kDmiFields[] = {
    {0, {"Vendor", "Version", "ReleaseDate"}},
    {1, {"Manufacturer", "Product", "Version", "SerialNumber", "SystemUUID", "SystemSKU", "SystemFamily"}},
    {2, {"Manufacturer", "Product", "Version", "SerialNumber", "AssetTag"}},
    {3, {"Manufacturer", "EnclosureType", "Version", "SerialNumber", "AssetTag"}},
};

} // namespace

TEST(AppleSmbiosProvider, MinimalTableDecodesToTheValuesOfTheRealTable)
{
    FakeHost host(QStringLiteral("lenovo_t480_dmi_id_as_user"));
    addRootOnlyFiles(host);
    const auto minimal = TEVSMBIOSInfo::createWithData(publishedTable(host.root()));
    const auto real = TEVSMBIOSInfo::createWithData(realT480Table());
    ASSERT_TRUE(minimal && real);

    EXPECT_EQ(typeCodes(*minimal), QList<quint64>({0, 1, 2, 3, 127}));
    for (const auto& [type, keys] : kDmiFields) {
        for (const QString& key : keys) {
            SCOPED_TRACE(QStringLiteral("type %1 %2").arg(type).arg(key).toStdString());
            ASSERT_TRUE(record(*real, type).contains(key));
            EXPECT_EQ(record(*minimal, type).value(key), record(*real, type).value(key));
        }
    }
    EXPECT_EQ(record(*minimal, 3).value("EnclosureType"), platform::values::fromUnsigned(10)); // notebook
    EXPECT_TRUE(kelvaro::test::log().lines().isEmpty()) << kelvaro::test::log().lines().join("").toStdString();

    // The formatted areas have the lengths the real firmware uses for these versions of the structures.
    const QByteArray table = publishedTable(host.root());
    EXPECT_EQ(quint8(table[1]), 24);
    EXPECT_EQ(quint8(table[0x14]), 1); // BIOS release 1.29
    EXPECT_EQ(quint8(table[0x15]), 29);
}

TEST(AppleSmbiosProvider, UnreadableTableFallsBackWithoutTheRootOnlyFields)
{
    FakeHost host(QStringLiteral("lenovo_t480_dmi_id_as_user"));
    host.makeUnreadable(kTableFile);
    const auto info = TEVSMBIOSInfo::createWithData(publishedTable(host.root()));
    ASSERT_TRUE(info);

    EXPECT_EQ(record(*info, 1).value("Product"), QVariant("20L8S07A14"));
    EXPECT_EQ(record(*info, 0).value("Version"), QVariant("N22ET52W (1.29 )"));
    EXPECT_EQ(record(*info, 1).value("SystemUUID"), QVariant(QByteArray(16, '\0'))); // "not present"
    for (const quint8 type : {1, 2, 3})
        EXPECT_FALSE(record(*info, type).contains("SerialNumber")) << int(type);
}

TEST(AppleSmbiosProvider, ReadableTableIsPublishedAsIsAndReadLive)
{
    FakeHost host(QStringLiteral("lenovo_t480_dmi_id_as_user"));
    const auto entries = smbiosEntries(host.root());
    ASSERT_EQ(entries.size(), 1u);
    const auto entry = entries.front();
    const QByteArray minimal = entry->property("SMBIOS").toByteArray();
    EXPECT_EQ(minimal.left(1), QByteArray(1, '\0'));

    host.write(kTableFile, realT480Table());
    EXPECT_EQ(entry->property("SMBIOS").toByteArray(), realT480Table());
    EXPECT_EQ(entry->properties().value("SMBIOS").toByteArray(), realT480Table());
    EXPECT_FALSE(entry->property("smbios").isValid());

    host.write(kTableFile, {}); // an empty table is no table
    EXPECT_EQ(entry->property("SMBIOS").toByteArray(), minimal);
}

TEST(AppleSmbiosProvider, NoDmiSourceGivesNoEntry)
{
    FakeHost empty;
    EXPECT_TRUE(smbiosEntries(empty.root()).empty());

    FakeHost unreadableOnly;
    unreadableOnly.makeUnreadable(kTableFile);
    unreadableOnly.makeUnreadable(kIdFolder + "product_serial");
    EXPECT_TRUE(smbiosEntries(unreadableOnly.root()).empty());
    EXPECT_FALSE(platform::AppleSmbiosProvider::table(unreadableOnly.root()));

    FakeHost tableOnly;
    tableOnly.write(kTableFile, realT480Table());
    EXPECT_EQ(publishedTable(tableOnly.root()), realT480Table());
}

TEST(AppleSmbiosProvider, MalformedDmiTextsGiveTheUnknownValues)
{
    struct Row {
        const char* file;
        QByteArray text;
        quint8 structureType;
        const char* key;
        QVariant expected; // invalid: the field is left out
    };
    const Row rows[] = {
        {"chassis_type", "0\n", 3, "EnclosureType", platform::values::fromUnsigned(2)},
        {"chassis_type", "200\n", 3, "EnclosureType", platform::values::fromUnsigned(2)},
        {"chassis_type", "Notebook\n", 3, "EnclosureType", platform::values::fromUnsigned(2)},
        {"chassis_type", "35\n", 3, "EnclosureType", platform::values::fromUnsigned(35)},
        {"product_uuid", "161674cc-2a1e-11b2-a85c\n", 1, "SystemUUID", QVariant(QByteArray(16, '\0'))},
        {"product_uuid", "161674cc-2a1e-11b2-a85c-e121881d01bz\n", 1, "SystemUUID", QVariant(QByteArray(16, '\0'))},
        {"product_name", "\n", 1, "Product", QVariant()},
        {"product_name", QByteArray(80, 'x') + "\n", 1, "Product", QVariant(QString(64, 'x'))},
        {"product_name", "Caf\xe9\n", 1, "Product", QVariant(QString::fromLatin1("Caf\xe9"))},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file + (" " + row.text.toStdString()));
        FakeHost host;
        host.write(kIdFolder + row.file, row.text);
        host.write(kIdFolder + "sys_vendor", "Maker\n");
        const auto info = TEVSMBIOSInfo::createWithData(publishedTable(host.root()));
        ASSERT_TRUE(info);
        EXPECT_EQ(record(*info, row.structureType).value(row.key), row.expected);
        EXPECT_EQ(record(*info, 1).value("Manufacturer"), QVariant("Maker"));
    }

    struct ReleaseRow {
        QByteArray text;
        quint8 major;
        quint8 minor;
    };
    const ReleaseRow releases[] = {{"5.17\n", 5, 17}, {"1.2.3\n", 0xff, 0xff}, {"256.0\n", 0xff, 0xff}, {"x\n", 0xff, 0xff}};
    for (const ReleaseRow& row : releases) {
        FakeHost host;
        host.write(kIdFolder + "bios_release", row.text);
        const QByteArray table = publishedTable(host.root());
        ASSERT_GT(table.size(), 0x15);
        EXPECT_EQ(quint8(table[0x14]), row.major) << row.text.toStdString();
        EXPECT_EQ(quint8(table[0x15]), row.minor) << row.text.toStdString();
    }
}

// A table larger than any computer's is refused with a log line rather than decoded at a cost that grows
// with it (seconds and hundreds of MB for a few MB of table); one at the limit is still read.
TEST(AppleSmbiosProvider, TablesLargerThanAnyComputersAreRefused)
{
    const QByteArray real = realT480Table();
    struct Row {
        qsizetype size;
        bool read;
    };
    // An SMBIOS 2 table ends at 64 KiB; a larger one is forged, and would cost its reader hundreds of MB.
    for (const Row row : {Row{64 * 1024 + 1, false}, Row{1024 * 1024, false}, Row{8 * 1024 * 1024, false},
                          Row{real.size(), true}, Row{64 * 1024, true}}) {
        SCOPED_TRACE(row.size);
        kelvaro::test::log().clear();
        FakeHost host(QStringLiteral("lenovo_t480_dmi_id_as_user"));
        const QByteArray table = real.repeated(row.size / real.size() + 1).left(row.size);
        host.write(kTableFile, table);
        const auto info = TEVSMBIOSInfo::createWithData(publishedTable(host.root()));
        EXPECT_EQ(bool(info), row.read);
        EXPECT_EQ(kelvaro::test::log().count(
                      QStringLiteral("the SMBIOS table of %1 bytes is larger than any computer's (at most 65536)").arg(row.size)),
                  row.read ? 0 : 1);
    }
}
