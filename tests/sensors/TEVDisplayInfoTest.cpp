#include "platform/foundation/HostRoot.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"
#include "platform/registry/FixtureIORegistry.h"
#include "sensors/TEVDisplayInfo.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QDirIterator>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>

#include <gtest/gtest.h>

namespace values = platform::values;

namespace {

// A valid base block: header, manufacturer "ABZ", product 0x1234, week 10 of 2015, EDID 1.4, checksum fixed
// by `finish`.
QByteArray baseBlock()
{
    QByteArray block(128, '\0');
    const char header[] = {0, char(0xFF), char(0xFF), char(0xFF), char(0xFF), char(0xFF), char(0xFF), 0};
    block.replace(0, 8, QByteArray(header, 8));
    const quint16 code = 1 << 10 | 2 << 5 | 26;
    block[8] = char(code >> 8);
    block[9] = char(code & 0xFF);
    block[10] = 0x34;
    block[11] = 0x12;
    block[16] = 10;
    block[17] = char(2015 - 1990);
    block[18] = 1;
    block[19] = 4;
    // A detailed timing in the first slot, so it is no descriptor.
    block[54] = 0x01;
    block[55] = 0x1D;
    return block;
}

void putDescriptor(QByteArray& block, int slot, quint8 tag, const QByteArray& text)
{
    QByteArray descriptor(18, '\0');
    descriptor[3] = char(tag);
    descriptor.replace(5, qMin<qsizetype>(text.size(), 13), text.left(13));
    block.replace(slot, 18, descriptor);
}

QByteArray finish(QByteArray block)
{
    int sum = 0;
    for (int i = 0; i < 127; ++i)
        sum += quint8(block[i]);
    block[127] = char((256 - sum % 256) % 256);
    return block;
}

QVariantMap describe(const QByteArray& edid)
{
    const auto display = TEVDisplayInfo::createWithEDID(edid);
    EXPECT_TRUE(display);
    return display ? display->displayDescription() : QVariantMap();
}

// Week of year with weeks from Sunday, week 1 holding 1 January.
int sundayWeekOf(const QDate& date)
{
    const int offset = QDate(date.year(), 1, 1).dayOfWeek() % 7;
    return (date.dayOfYear() - 1 + offset) / 7 + 1;
}

const QString corpus = kelvaro::test::testDataPath(QStringLiteral("edid"));

} // namespace

TEST(TEVDisplayInfo, DecodesTheFieldsOfTheBaseBlock)
{
    QByteArray block = baseBlock();
    putDescriptor(block, 72, 0xFC, "Monitor\n     ");
    putDescriptor(block, 90, 0xFF, "SN0042\n");
    putDescriptor(block, 108, 0xFE, "LP133WX1");
    const QVariantMap d = describe(finish(block));
    EXPECT_EQ(d.value("ManufacturerID"), "ABZ");
    EXPECT_EQ(d.value("ManufacturerIDCode"), values::fromUnsigned(0x045A));
    EXPECT_EQ(d.value("ProductID"), values::fromUnsigned(0x1234));
    EXPECT_EQ(d.value("VersionNumber"), values::fromUnsigned(1));
    EXPECT_EQ(d.value("RevisionNumber"), values::fromUnsigned(4));
    EXPECT_EQ(d.value("ProductName"), "Monitor");
    EXPECT_EQ(d.value("SerialNumber"), "SN0042");
    EXPECT_EQ(d.value("AdditionalComment"), "LP133WX1");
    EXPECT_EQ(d.value("ProductNameFromOS"), "");
    // The Monday of week 10 of 2015 (which starts on Sunday 1 March).
    EXPECT_EQ(d.value("ManufacturingDate").toDateTime().toLocalTime().date(), QDate(2015, 3, 2));
    EXPECT_FALSE(d.contains("ModelDate"));
}

TEST(TEVDisplayInfo, InvalidBlocksGiveNoRecord)
{
    const QByteArray good = finish(baseBlock());
    QByteArray flipped = good;
    flipped[40] = char(flipped[40] ^ 0x10);
    QByteArray header = good;
    header[7] = 1;
    header[127] = char(quint8(header[127]) - 1);
    EXPECT_TRUE(TEVDisplayInfo::createWithEDID(good));
    EXPECT_FALSE(TEVDisplayInfo::createWithEDID(flipped));
    EXPECT_FALSE(TEVDisplayInfo::createWithEDID(header));
    EXPECT_FALSE(TEVDisplayInfo::createWithEDID(good.left(127)));
    EXPECT_FALSE(TEVDisplayInfo::createWithEDID({}));
    // Only the base block counts: an extension block of any content is ignored.
    EXPECT_TRUE(TEVDisplayInfo::createWithEDID(good + QByteArray(128, '\x7F')));

    const auto loaded = platform::FixtureIORegistry::load(
        {QVariantMap{{"Class", QVariantList{"AppleDisplay", "IODisplay"}},
                     {"Properties", QVariantMap{{"IODisplayEDID", values::fromString(QString::fromLatin1(good))}}}},
         QVariantMap{{"Class", QVariantList{"AppleDisplay", "IODisplay"}}},
         QVariantMap{{"Class", QVariantList{"AppleBacklightDisplay", "IODisplay"}},
                     {"Properties", QVariantMap{{"IODisplayEDID", values::fromData(good)}}}}});
    ASSERT_TRUE(loaded.registry);
    EXPECT_EQ(TEVDisplayInfo::allDisplays(loaded.registry).size(), 1);
}

TEST(TEVDisplayInfo, DatesFromWeekAndYearBytesStayInTheirYear)
{
    struct Row { quint8 week; int year; QDate date; bool model; };
    const Row rows[] = {
        {10, 2015, QDate(2015, 3, 2), false},  // Mondays
        {0, 2016, QDate(2016, 1, 1), false},   // the Monday of week 1 of 2016 is 28 December 2015
        {1, 2017, QDate(2017, 1, 2), false},
        {255, 2011, QDate(2011, 1, 1), true},
        {54, 2015, QDate(2015, 12, 31), false}, // 2015 has 53 weeks
        {53, 2016, QDate(2016, 12, 26), false},
        {209, 2021, QDate(2021, 1, 1), false},  // undefined week byte
        {1, 1990, QDate(1990, 1, 1), false},
        {1, 2245, QDate(2245, 1, 1), false},
    };
    for (const Row& row : rows) {
        bool model = !row.model;
        const QDateTime date = TEVDisplayInfo::dateForWeekCode(row.week, quint8(row.year - 1990), &model);
        EXPECT_EQ(date.toLocalTime().date(), row.date) << int(row.week) << "/" << row.year;
        EXPECT_EQ(model, row.model);
    }
    EXPECT_TRUE(TEVDisplayInfo::dateForWeekCode(1, 0, nullptr).isValid());

    QByteArray block = baseBlock();
    block[16] = char(255);
    const QVariantMap d = describe(finish(block));
    EXPECT_TRUE(d.contains("ModelDate"));
    EXPECT_FALSE(d.contains("ManufacturingDate"));
}

TEST(TEVDisplayInfo, DescriptorTextsAndSerialNumbers)
{
    struct Row {
        const char* name;
        std::function<void(QByteArray&)> edit;
        QString productName, serial;
    };
    const Row rows[] = {
        {"13 bytes without line feed", [](QByteArray& b) { putDescriptor(b, 72, 0xFC, "ABCDEFGHIJKLM"); },
         "ABCDEFGHIJKLM", ""},
        {"cut at NUL", [](QByteArray& b) { putDescriptor(b, 72, 0xFC, QByteArray("CTX\0S500", 8)); }, "CTX", ""},
        {"Latin-1", [](QByteArray& b) { putDescriptor(b, 90, 0xFC, "B\xE9ton\n"); }, QString::fromUtf8("Béton"), ""},
        {"name in the first slot is not found", [](QByteArray& b) { putDescriptor(b, 54, 0xFC, "Hidden\n"); }, "", ""},
        {"timing bytes are no descriptor",
         [](QByteArray& b) {
             putDescriptor(b, 72, 0xFC, "Timing\n");
             b[73] = 1;
         },
         "", ""},
        {"empty serial descriptor, numeric serial 0", [](QByteArray& b) { putDescriptor(b, 90, 0xFF, "\n"); }, "", ""},
        {"numeric serial with all bits set is unsigned",
         [](QByteArray& b) { b.replace(12, 4, QByteArray(4, char(0xFF))); }, "", "4294967295"},
        {"numeric serial", [](QByteArray& b) { b.replace(12, 4, QByteArray("\x01\x01\x01\x01", 4)); }, "", "16843009"},
        {"serial descriptor wins",
         [](QByteArray& b) {
             b[12] = 7;
             putDescriptor(b, 108, 0xFF, "XYZ\n");
         },
         "", "XYZ"},
    };
    for (const Row& row : rows) {
        QByteArray block = baseBlock();
        row.edit(block);
        const QVariantMap d = describe(finish(block));
        EXPECT_EQ(d.value("ProductName"), row.productName) << row.name;
        EXPECT_EQ(d.value("SerialNumber"), row.serial) << row.name;
    }
    EXPECT_TRUE(TEVDisplayInfo::stringFromDescriptorWithTag(0xFC, nullptr).isNull());
}

TEST(TEVDisplayInfo, ProductNameFromTheDisplayOverrideFile)
{
    QTemporaryDir root;
    const QString folder = root.path() + "/System/Library/Displays/Overrides/DisplayVendorID-45a";
    kelvaro::test::writeFile(folder + "/DisplayProductID-1234",
                             platform::writePropertyList(QVariantMap{{"DisplayProductName", "Studio"}},
                                                         platform::PlistFormat::Xml));
    kelvaro::test::writeFile(folder + "/DisplayProductID-1235", "not a property list");
    platform::HostRoot::setCurrent(std::make_shared<platform::HostRoot>(root.path()));
    EXPECT_EQ(TEVDisplayInfo::productNameSeenByOperatingSystemForVendorID(0x45a, 0x1234), "Studio");
    EXPECT_EQ(TEVDisplayInfo::productNameSeenByOperatingSystemForVendorID(0x45a, 0x1235), "");
    EXPECT_EQ(TEVDisplayInfo::productNameSeenByOperatingSystemForVendorID(0x45a, 0x1236), "");
    EXPECT_EQ(describe(finish(baseBlock())).value("ProductNameFromOS"), "Studio");
    platform::HostRoot::setCurrent(nullptr);
}

TEST(TEVDisplayInfo, EveryCorpusEdidDecodesWithoutACrash)
{
    int files = 0;
    QDirIterator it(corpus, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (path.endsWith(".txt") || path.endsWith(".md") || path.endsWith(".tsv"))
            continue;
        const QByteArray bytes = kelvaro::test::readFile(path);
        ++files;
        // Every real block of 128 bytes or more passes the header and checksum test.
        EXPECT_EQ(TEVDisplayInfo::createWithEDID(bytes) != nullptr, bytes.size() >= 128) << path.toStdString();
        for (qsizetype cut = 0; cut < qMin<qsizetype>(bytes.size(), 130); cut += 13)
            TEVDisplayInfo::createWithEDID(bytes.left(cut));
    }
    EXPECT_EQ(files, 52 + 124 + 32);
}

TEST(TEVDisplayInfo, AgreesWithEdidDecodeOnEveryListedFile)
{
    const QStringList lines = QString::fromUtf8(kelvaro::test::readFile(corpus + "/edid-decode-reference.tsv"))
                                  .split('\n', Qt::SkipEmptyParts);
    ASSERT_GT(lines.size(), 150);
    for (const QString& line : lines.mid(1)) {
        const QStringList f = line.split('\t');
        ASSERT_EQ(f.size(), 11) << line.toStdString();
        SCOPED_TRACE(f[0].toStdString());
        const auto display = TEVDisplayInfo::createWithEDID(kelvaro::test::readFile(corpus + "/" + f[0]));
        if (f[1].startsWith("(shorter")) {
            EXPECT_FALSE(display);
            continue;
        }
        ASSERT_TRUE(display);
        const QVariantMap d = display->displayDescription();
        EXPECT_EQ(QStringLiteral("%1.%2").arg(d.value("VersionNumber").toUInt()).arg(d.value("RevisionNumber").toUInt()),
                  f[1]);
        EXPECT_EQ(d.value("ManufacturerID"), f[2]);
        EXPECT_EQ(d.value("ProductID").toULongLong(), f[3].toULongLong());
        // edid-decode trims trailing spaces and ends a text at its first character outside printable
        // ASCII, where we keep every Latin-1 character up to a line feed or NUL.
        const auto agrees = [](const QString& ours, const QString& theirs) {
            const auto end = std::find_if(ours.begin(), ours.end(),
                                          [](QChar c) { return c.unicode() < 0x20 || c.unicode() > 0x7E; });
            return ours.left(end - ours.begin()).trimmed() == theirs.trimmed();
        };
        const QString serial = d.value("SerialNumber").toString();
        // A serial descriptor of blanks is used as it is; edid-decode shows it empty.
        const QString theirSerial = !f[9].isEmpty() || (!serial.isEmpty() && serial.trimmed().isEmpty()) ? f[9] : f[4];
        EXPECT_PRED2(agrees, serial, theirSerial);
        EXPECT_PRED2(agrees, d.value("ProductName").toString(), f[8]);
        EXPECT_PRED2(agrees, d.value("AdditionalComment").toString(), f[10].section(';', 0, 0));

        if (!f[7].isEmpty()) {
            EXPECT_EQ(d.value("ModelDate").toDateTime().toLocalTime().date(), QDate(f[7].toInt(), 1, 1));
            continue;
        }
        const QDate date = d.value("ManufacturingDate").toDateTime().toLocalTime().date();
        EXPECT_EQ(date.year(), f[6].toInt());
        const int week = f[5].toInt();
        if (week >= 1 && week <= 54)
            EXPECT_EQ(sundayWeekOf(date), qMin(week, sundayWeekOf(QDate(date.year(), 12, 31))));
        else
            EXPECT_EQ(sundayWeekOf(date), 1);
    }
}
