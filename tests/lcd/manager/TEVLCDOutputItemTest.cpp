// Output items: the sensor field and bar graph rules, the address placeholder, equality, clamps, and the
// preference entry and archive round trips.

#include "lcd/manager/TEVLCDOutputItem.h"

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SequentialArchiver.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/Values.h"
#include "tests/lcd/manager/LcdManagerTestSupport.h"

#include <gtest/gtest.h>

namespace {

using Item = TEVLCDOutputItem;

std::shared_ptr<Item> sensorItem(qint32 type, int length, int precision, bool unit)
{
    auto item = std::make_shared<Item>();
    item->setType(type);
    item->setAssociatedString(QStringLiteral("S1"));
    item->setMaximumFieldLength(length);
    item->setValuePrecision(precision);
    item->setShouldDisplayUnit(unit);
    return item;
}

} // namespace

TEST(TEVLCDOutputItem, SensorValueFillsItsFieldAndNeverShowsAWrongNumber)
{
    struct Row {
        qint64 quantity;
        const char* unit;
        double value; // NaN: no reading
        int length, precision;
        bool showUnit;
        const char* expected;
    } rows[] = {
        {9, "%", 42.31, 6, 1, true, " 42.3%"},
        {9, "%", 42.31, 3, 1, true, "42."},        // decimals and unit are cut
        {9, "%", 42.31, 1, 1, true, "#"},          // the digits do not fit
        {6, "", 123456, 4, 0, false, "####"},
        {6, "", 99.7, 2, 0, false, "##"},          // rounds up to three digits
        {6, "", -5, 2, 0, false, "-5"},
        {6, "RPM", NAN, 6, 0, true, "---RPM"},
        {6, "RPM", NAN, 2, 0, true, "RP"},
        {6, "RPM", NAN, 3, 0, false, "---"},
        {6, "RPM", 1200, 0, 0, true, ""},
        {6, "RPM", 1200, 2, 0, true, "##"},
        {6, "RPMX", 5, 2, 0, true, "5 "},         // a negative width left-aligns
        {11, "", 1.0, 4, 0, true, "OK"},
        {11, "", 0.0, 1, 0, true, "!"},
        {11, "", 1.0, 4, 1, false, " 1.0"},
    };
    for (const Row& row : rows) {
        lcdtest::Gauge gauge(row.quantity, QString::fromUtf8(row.unit));
        const Item::OutputCache cache{{QStringLiteral("S1"), gauge.entry(row.value)}};
        EXPECT_EQ(sensorItem(Item::SensorValue, row.length, row.precision, row.showUnit)->outputStringUsingCache(&cache),
                  QString::fromUtf8(row.expected))
            << row.value << " L " << row.length << " P " << row.precision;
    }
    const Item::OutputCache empty;
    EXPECT_EQ(sensorItem(Item::SensorValue, 5, 0, true)->outputStringUsingCache(&empty), QStringLiteral("     "));
    EXPECT_TRUE(sensorItem(Item::SensorValue, 5, 0, true)->outputStringUsingCache(nullptr).isNull());
}

TEST(TEVLCDOutputItem, BarGraphHasTenCellsForAnyValue)
{
    const QString square(QChar(0x25A0));
    for (const auto& [value, filled] : std::vector<std::pair<double, int>>{
             {44, 4}, {45, 5}, {94.9, 9}, {100, 10}, {250, 10}, {0, 0}, {-20, 0}, {-1e6, 0}, {NAN, 0}}) {
        lcdtest::Gauge gauge(9, QStringLiteral("%"));
        const Item::OutputCache cache{{QStringLiteral("S1"), gauge.entry(value)}};
        EXPECT_EQ(sensorItem(Item::SensorBarGraph, 2, 0, true)->outputStringUsingCache(&cache),
                  square.repeated(filled) + QString(10 - filled, QLatin1Char(' ')))
            << value;
    }
}

TEST(TEVLCDOutputItem, FixedTextsAndTheAddressPlaceholder)
{
    auto item = std::make_shared<Item>();
    EXPECT_EQ(item->outputStringUsingCache(nullptr), QStringLiteral(""));
    item->setAssociatedString(QStringLiteral("CPU "));
    EXPECT_EQ(item->outputStringUsingCache(nullptr), QStringLiteral("CPU "));
    item->setType(Item::NewLine);
    EXPECT_EQ(item->outputStringUsingCache(nullptr), QStringLiteral("\n"));
    item->setType(Item::IPv4Address);
    item->setAssociatedString(QStringLiteral("nosuchif9"));
    EXPECT_EQ(item->outputStringUsingCache(nullptr), QStringLiteral("---------------"));
    item->setType(11);
    EXPECT_TRUE(item->outputStringUsingCache(nullptr).isNull());
    EXPECT_TRUE(Item::staticPresentationForItemType(11).isNull());
    EXPECT_EQ(Item::listOfPossibleStaticItems().size(), 8);
    EXPECT_EQ(Item::listOfPossibleStaticItems().last()->type(), Item::OSBuild);
}

TEST(TEVLCDOutputItem, EqualityClampsAndBothStoredForms)
{
    auto a = sensorItem(Item::SensorValue, 6, 1, true);
    auto b = sensorItem(Item::SensorValue, 9, 3, false);
    EXPECT_TRUE(a->isEqual(*b));
    b->setAssociatedString(QStringLiteral("S2"));
    EXPECT_FALSE(a->isEqual(*b));
    a->setMaximumFieldLength(300);
    a->setValuePrecision(-4);
    EXPECT_EQ(a->maximumFieldLength(), 255);
    EXPECT_EQ(a->valuePrecision(), 0);

    a->setShouldDisplayUnit(false);
    const QVariantMap entry = a->preferenceEntry();
    EXPECT_EQ(entry.value("MaxLength"), platform::values::fromUnsigned(255));
    const auto fromEntry = Item::createWithPreferenceEntry(entry);
    EXPECT_EQ(fromEntry->preferenceEntry(), entry);
    EXPECT_FALSE(Item::createWithPreferenceEntry(std::nullopt));
    EXPECT_EQ(Item::createWithPreferenceEntry(QVariantMap{})->preferenceEntry(), Item().preferenceEntry());

    const QByteArray archive = platform::SequentialArchiver::archivedDataWithRootObject(platform::values::fromObject(a));
    platform::UnarchiveOptions options;
    options.allowedClasses = {a->className()};
    const auto decoded = platform::objectAs<Item>(
        platform::values::toObject(platform::SequentialUnarchiver::unarchiveObjectWithData(archive, options)));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->preferenceEntry(), entry);
}

// A stored field length or precision out of the byte's range is brought into it, not cut to its low byte,
// whatever number form the preferences file holds; a value of another kind leaves the default.
TEST(TEVLCDOutputItem, StoredLengthsAndPrecisionsAreClampedToTheirField)
{
    struct Row {
        const char* stored; // the XML value element
        int length;
        int precision;
    };
    const Row rows[] = {
        {"<integer>300</integer>", 255, 255},
        {"<integer>256</integer>", 255, 255},
        {"<integer>-1</integer>", 0, 0},
        {"<integer>18446744073709551615</integer>", 255, 255},
        {"<integer>-9223372036854775808</integer>", 0, 0},
        {"<real>1e30</real>", 255, 255},
        {"<real>7.9</real>", 7, 7},
        {"<integer>12</integer>", 12, 12},
        {"<string>12</string>", 1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stored);
        const QByteArray xml = QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>ItemType</key><integer>9</integer>"
                                          "<key>MaxLength</key>")
                               + row.stored + "<key>Precision</key>" + row.stored + "</dict></plist>";
        const auto entry = platform::values::toDictionary(platform::readPropertyList(xml).value);
        ASSERT_TRUE(entry);
        const auto item = Item::createWithPreferenceEntry(entry);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->maximumFieldLength(), row.length);
        EXPECT_EQ(item->valuePrecision(), row.precision);
    }
}
