#include "framework/TEVTimeUtilities.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/PropertyList.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

enum class Lang { En, De };

// English uses the built-in table (the keys themselves); German a test bundle with translated formats.
struct TimeTextFixture : ::testing::Test {
    QTemporaryDir dir;
    QLocale savedLocale;

    void SetUp() override { savedLocale = QLocale(); }
    void TearDown() override
    {
        QLocale::setDefault(savedLocale);
        platform::Bundle::setMain(nullptr);
    }
    void use(Lang lang, const QVariantMap& extra = {})
    {
        if (lang == Lang::En) {
            QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
            platform::Bundle::setMain(nullptr);
            return;
        }
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QVariantMap table{{"1 day ", "1 Tag "},           {"%d days ", "%d Tage "},
                          {"1 hour ", "1 Stunde "},       {"%d hours ", "%d Stunden "},
                          {"1 minute ", "1 Minute "},     {"%d minutes ", "%d Minuten "},
                          {"1 second ", "1 Sekunde "},    {"%d seconds", "%d Sekunden"},
                          {"%d d %02d:%02d", "%d T %02d:%02d"}};
        for (auto it = extra.begin(); it != extra.end(); ++it)
            table.insert(it.key(), it.value());
        kelvaro::test::writeFile(dir.path() + "/en.lproj/Localizable.strings",
                                 platform::writePropertyList(table, platform::PlistFormat::Xml));
        platform::Bundle::setMain(platform::Bundle::fromDirectory(dir.path()));
    }
};

constexpr double kInf = std::numeric_limits<double>::infinity();

} // namespace

TEST_F(TimeTextFixture, IntervalsInWordsAndDigits)
{
    struct Row { Lang lang; double seconds; QString words; QString digits; };
    const Row rows[] = {
        {Lang::En, 0, "0 seconds", "00:00:00"},
        {Lang::En, 1, "1 second ", "00:00:01"},
        {Lang::En, 59, "59 seconds", "00:00:59"},
        {Lang::En, 59.9, "59 seconds", "00:00:59"},
        {Lang::En, 60, "1 minute ", "00:01:00"},
        {Lang::En, 61, "1 minute 1 second ", "00:01:01"},
        {Lang::En, 3661, "1 hour 1 minute ", "01:01:01"},
        {Lang::En, 3725, "1 hour 2 minutes ", "01:02:05"},
        {Lang::En, 86399, "23 hours 59 minutes ", "23:59:59"},
        {Lang::En, 86400, "1 day ", "1 d 00:00"},
        {Lang::En, 86405, "1 day 5 seconds", "1 d 00:00"},
        {Lang::En, 90061, "1 day 1 hour 1 minute ", "1 d 01:01"},
        {Lang::En, 90000, "1 day 1 hour ", "1 d 01:00"},
        {Lang::En, 2 * 86400 + 7200, "2 days 2 hours ", "2 d 02:00"},
        {Lang::En, -0.5, "-0 seconds", "-00:00:00"},
        {Lang::En, -5, "-5 seconds", "-00:00:05"},
        {Lang::En, -86400, "-1 day ", "-1 d 00:00"},
        // Beyond the 32-bit count of seconds: held at 2^31 - 1 s, never wrapped.
        {Lang::En, 1e300, "24855 days 3 hours 14 minutes ", "24855 d 03:14"},
        {Lang::En, 2147483648.0, "24855 days 3 hours 14 minutes ", "24855 d 03:14"},
        {Lang::En, -kInf, "-24855 days 3 hours 14 minutes ", "-24855 d 03:14"},
        {Lang::En, std::nan(""), "0 seconds", "00:00:00"},
        {Lang::De, 0, "0 Sekunden", "00:00:00"},
        {Lang::De, 1, "1 Sekunde ", "00:00:01"},
        {Lang::De, 59, "59 Sekunden", "00:00:59"},
        {Lang::De, 86399, "23 Stunden 59 Minuten ", "23:59:59"},
        {Lang::De, 86400, "1 Tag ", "1 T 00:00"},
        {Lang::De, 3 * 86400 + 120, "3 Tage 2 Minuten ", "3 T 00:02"},
        {Lang::De, -61, "-1 Minute 1 Sekunde ", "-00:01:01"},
        {Lang::De, kInf, "24855 Tage 3 Stunden 14 Minuten ", "24855 T 03:14"},
    };
    for (const Row& row : rows) {
        use(row.lang);
        EXPECT_EQ(TEVTimeUtilities::localizedTextRepresentationForTimeInterval(row.seconds), row.words) << row.seconds;
        EXPECT_EQ(TEVTimeUtilities::localizedNumericRepresentationForTimeInterval(row.seconds), row.digits)
            << row.seconds;
    }
}

TEST_F(TimeTextFixture, TranslationsThatLoseOrAddANumberAreNotUsed)
{
    use(Lang::De, {{"%d days ", "viele Tage "}, {"%d hours ", "%d %d Stunden "}, {"%d minutes ", "%s Minuten "}});
    EXPECT_EQ(TEVTimeUtilities::localizedTextRepresentationForTimeInterval(2 * 86400 + 7200 + 180),
              "2 days 2 hours 3 minutes ");
}

TEST_F(TimeTextFixture, DatesShowTheDayOnlyWhenMoreThanADayAway)
{
    const QDateTime now = platform::currentDate();
    struct Row { Lang lang; qint64 offset; bool withDate; };
    const Row rows[] = {{Lang::En, 0, false},      {Lang::En, 86400, false},  {Lang::En, -86400, false},
                        {Lang::En, 86401, true},   {Lang::En, -86401, true},  {Lang::De, 86400, false},
                        {Lang::De, 86401, true}};
    for (const Row& row : rows) {
        use(row.lang);
        const QLocale locale;
        const QDateTime date = now.addSecs(row.offset);
        const QString text = TEVTimeUtilities::localizedTextRepresentationForDate(date);
        const QString day = locale.toString(date.toLocalTime().date(), QLocale::ShortFormat);
        EXPECT_EQ(text.startsWith(day + " "), row.withDate) << text.toStdString();
        // Medium time style: with seconds.
        const QString seconds = date.toLocalTime().toString(":ss");
        EXPECT_TRUE(text.contains(seconds)) << text.toStdString();
    }
    use(Lang::De);
    const QDateTime christmas(QDate(2025, 12, 24), QTime(12, 0), Qt::LocalTime);
    EXPECT_EQ(TEVTimeUtilities::localizedDayRepresentationForDate(christmas), "24.12.25");
    use(Lang::En);
    EXPECT_EQ(TEVTimeUtilities::localizedDayRepresentationForDate(christmas), "12/24/25");
    EXPECT_TRUE(TEVTimeUtilities::localizedDayRepresentationForDate({}).isNull());
    EXPECT_TRUE(TEVTimeUtilities::localizedTextRepresentationForDate({}).isNull());
}

TEST(TEVTimeUtilities, WeekDatesCountWeeksFromSundayWithWeekOneHoldingJanuaryFirst)
{
    struct Row { qint64 week, year, day; std::optional<QDate> date; };
    const Row rows[] = {
        {1, 2017, 0, QDate(2017, 1, 1)},   // 1 January 2017 is a Sunday
        {1, 2016, 0, QDate(2015, 12, 27)}, // 1 January 2016 is a Friday
        {1, 2016, 5, QDate(2016, 1, 1)},
        {10, 2015, 3, QDate(2015, 3, 4)},
        {53, 2016, 6, QDate(2016, 12, 31)},
        {0, 2016, 0, std::nullopt},
        {55, 2016, 0, std::nullopt},
        {1, 2016, 7, std::nullopt},
        {1, 2016, -1, std::nullopt},
        {1, 0, 0, std::nullopt},
        {1, std::numeric_limits<qint64>::max(), 0, std::nullopt},
    };
    for (const Row& row : rows) {
        const auto date = TEVTimeUtilities::dateForWeek(row.week, row.year, row.day);
        ASSERT_EQ(date.has_value(), row.date.has_value()) << row.week << "/" << row.year << "/" << row.day;
        if (date) {
            EXPECT_EQ(date->date(), *row.date);
            EXPECT_EQ(date->time(), QTime(0, 0));
        }
    }
}
