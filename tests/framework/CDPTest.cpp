#include "framework/CDP.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

namespace {

enum class Lang { En, De };

QLocale localeOf(Lang lang)
{
    return lang == Lang::De ? QLocale(QLocale::German, QLocale::Germany) : QLocale(QLocale::English);
}

// Sets the locale, the unit mode and the temperature unit per row and puts them all back afterwards.
struct CDPFixture : ::testing::Test {
    QLocale savedLocale;

    void SetUp() override
    {
        savedLocale = QLocale();
        QLocale::setDefault(QLocale::c()); // a row names its locale; texts without one have a decimal point
    }
    void TearDown() override
    {
        QLocale::setDefault(savedLocale);
        platform::UserDefaults::standard()->removeObjectForKey(CDP::defaultsKeyForMemoryDisplayMode());
        CDP::setTemperatureDisplayUnitProvider(nullptr);
        platform::Bundle::setMain(nullptr);
    }
    static void use(Lang lang, const QVariant& mode)
    {
        QLocale::setDefault(localeOf(lang));
        platform::UserDefaults::standard()->setObject(mode, CDP::defaultsKeyForMemoryDisplayMode());
    }
};

constexpr quint64 kMax = std::numeric_limits<quint64>::max();

} // namespace

TEST_F(CDPFixture, MemorySizeScalesByModeAndAccuracy)
{
    struct Row { Lang lang; QVariant mode; quint64 bytes; int accuracy; QString expected; };
    const Row rows[] = {
        {Lang::En, 0, 0, 1, "0  B"},
        {Lang::En, 0, 1023, 1, "1023  B"},
        {Lang::En, 0, 1024, 1, "1 KB"},
        {Lang::En, 0, 1536, 1, "1.5 KB"},
        {Lang::De, 0, 1536, 1, "1,5 KB"},
        {Lang::En, 1, 1536, 1, "1.5 KiB"},
        {Lang::En, 2, 1500, 1, "1.5 kB"},
        {Lang::En, 2, 1024, 1, "1.0 kB"}, // 1.024 is no whole number
        {Lang::De, 0, 1792, 2, "1,75 KB"},
        {Lang::En, 0, 1100, 3, "1.074 KB"},
        {Lang::En, 0, 1100, 9, "1.1 KB"}, // unknown accuracy: one digit
        {Lang::En, 0, 1280, 1, "1.2 KB"}, // an exact half rounds as printf rounds it, to even
        {Lang::De, 0, 1280, 1, "1,2 KB"},
        {Lang::En, 0, kMax, 1, "16 EB"},
        {Lang::En, 7, 1536, 1, "1.5 KB"},
        {Lang::En, QString("2"), 1500, 1, "1.5 KB"}, // a string is no mode
    };
    for (const Row& row : rows) {
        use(row.lang, row.mode);
        EXPECT_EQ(CDP::displayTextForMemorySizeAccuracy(row.bytes, row.accuracy), row.expected)
            << row.bytes << " bytes, mode " << row.mode.toString().toStdString();
    }
    use(Lang::En, 0);
    EXPECT_EQ(CDP::displayTextForMemorySize(1100), "1.1 KB");
}

TEST_F(CDPFixture, SeparatedFormsRightAlignNumberInFiveCharacters)
{
    using Form = QString (*)(quint64, bool);
    const Form Bytes = &CDP::displayTextForMemorySizeUsingTabStopForUnitSeparation;
    const Form Bits = &CDP::displayTextAsBitsForMemorySizeUsingTabStopForUnitSeparation;
    const Form Hertz = &CDP::displayTextForFrequencyUsingTabStopForUnitSeparation;
    struct Row { Lang lang; int mode; Form form; quint64 count; bool tab; QString expected; };
    const Row rows[] = {
        {Lang::En, 0, Bytes, 512, false, "  512  B"},
        {Lang::En, 0, Bytes, 512, true, "  512\t B"},
        {Lang::De, 0, Bytes, 1536, true, "  1,5\tKB"},
        {Lang::En, 0, Bytes, 1000, false, "1,000  B"},
        {Lang::De, 0, Bytes, 1000, false, "1.000  B"},
        {Lang::En, 0, Bytes, 1048535, false, "1,024 KB"}, // 1023.96 rounds without a ".0"
        {Lang::En, 1, Bytes, 2048, false, "    2 KiB"},
        {Lang::En, 1, Bits, 1, false, "    8  Bit"}, // bits ignore the mode
        {Lang::En, 0, Bits, quint64(1) << 61, false, " 18.4 EBit"}, // 2^64 bits: no 64-bit wrap to 0
        {Lang::En, 0, Hertz, 2400000000, false, "  2.4 GHz"},
        {Lang::De, 0, Hertz, 2400000000, false, "  2,4 GHz"},
        {Lang::En, 1, Hertz, 2400000000, true, "  2.4\tGHz"},
    };
    for (const Row& row : rows) {
        use(row.lang, row.mode);
        EXPECT_EQ(row.form(row.count, row.tab), row.expected) << row.count;
    }
    use(Lang::En, 0);
    EXPECT_EQ(CDP::displayTextForFrequency(2400000000), "  2.4 GHz");
}

TEST_F(CDPFixture, LegendNamesDivisorAndFirstUnitOfMode)
{
    const struct { Lang lang; int mode; QString expected; } rows[] = {
        {Lang::En, 0, "1024  B = 1.0 KB"},
        {Lang::En, 1, "1024  B = 1.0 KiB"},
        {Lang::En, 2, "1000  B = 1.0 kB"},
        {Lang::De, 2, "1000  B = 1,0 kB"},
    };
    for (const auto& row : rows) {
        use(row.lang, row.mode);
        EXPECT_EQ(CDP::displayTextForMemorySizeLegend(), row.expected) << "mode " << row.mode;
    }
}

TEST_F(CDPFixture, TemperatureFollowsPreferredUnit)
{
    struct Row { Lang lang; qint64 unit; double celsius; QString expected; };
    const Row rows[] = {
        {Lang::En, 0, 36.6, " 37C"},
        {Lang::En, 1, 36.6, " 98F"},
        {Lang::De, 2, 37.5, "311K"},
        {Lang::En, 3, 36.6, " 37C"},
        {Lang::En, 4, 36.6, " 98F"},
        {Lang::De, 4, -40.0, "-40F"},
        {Lang::En, 5, 36.6, " 37C"}, // unknown unit: Celsius
        {Lang::En, 0, 36.5, " 36C"}, // exact halves round to even, as printf
        {Lang::De, 0, 37.5, " 38C"},
    };
    for (const Row& row : rows) {
        QLocale::setDefault(localeOf(row.lang));
        CDP::setTemperatureDisplayUnitProvider([unit = row.unit] { return unit; });
        EXPECT_EQ(CDP::displayTextForCentigrade(row.celsius), row.expected) << "unit " << row.unit;
    }
    CDP::setTemperatureDisplayUnitProvider(nullptr);
    EXPECT_EQ(CDP::displayTextForCentigrade(36.6), " 37C");
}

TEST_F(CDPFixture, TextsUseTranslatedUnitsAndSafeRpmFormat)
{
    EXPECT_EQ(CDP::displayTextForRPMLimitsFrom(1200, 6200), "1200..6200 RPM");
    EXPECT_TRUE(CDP::localizedUnitForKey(nullptr).isNull());

    struct Row { QString format; QString expected; bool logged; };
    const Row rows[] = {
        {"%llu\u2013%llu U/min", "1200\u20136200 U/min", false},
        {"100%% %llu..%llu", "100% 1200..6200", false},
        {"%s..%llu RPM", "1200..6200 RPM", true},
        {"%llu RPM", "1200..6200 RPM", true},
    };
    for (const Row& row : rows) {
        QTemporaryDir dir;
        const QVariantMap table = {{"%llu..%llu RPM", row.format}, {"KB", "Ko"}, {" B", " o"}};
        kelvaro::test::writeFile(dir.path() + "/en.lproj/Localizable.strings",
                                 platform::writePropertyList(table, platform::PlistFormat::Xml));
        kelvaro::test::writeFile(dir.path() + "/Info.plist",
                                 platform::writePropertyList(QVariantMap{{"CFBundleIdentifier", "com.tarnwell.kelvaro"}},
                                                             platform::PlistFormat::Xml));
        platform::Bundle::setMain(platform::Bundle::fromDirectory(dir.path()));
        kelvaro::test::log().clear();
        EXPECT_EQ(CDP::displayTextForRPMLimitsFrom(1200, 6200), row.expected) << row.format.toStdString();
        EXPECT_EQ(kelvaro::test::log().contains("CDP: unusable RPM range format"), row.logged);
        EXPECT_EQ(CDP::displayTextForMemorySize(1536), "1.5 Ko");
        EXPECT_EQ(CDP::displayTextForMemorySizeLegend(), "1024  o = 1.0 Ko");
        platform::Bundle::setMain(nullptr);
    }
}
