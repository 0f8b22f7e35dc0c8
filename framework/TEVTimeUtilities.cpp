#include "framework/TEVTimeUtilities.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"

#include <QLocale>
#include <QRegularExpression>

#include <cmath>
#include <initializer_list>
#include <limits>

namespace {

constexpr qint64 kSecondsPerDay = 86400;

const QRegularExpression& conversionPattern()
{
    static const QRegularExpression pattern(QStringLiteral("%(?:%|02d|d)|%"));
    return pattern;
}

QStringList conversions(const QString& format)
{
    QStringList result;
    auto it = conversionPattern().globalMatch(format);
    while (it.hasNext()) {
        const QString found = it.next().captured();
        if (found != QLatin1String("%%"))
            result.append(found);
    }
    return result;
}

// `key` translated through the main bundle's default table and filled with `numbers` in order ("%d", or
// "%02d" for two digits). A translation is used only when it has the key's conversions in the key's order,
// so a bad table entry cannot eat or misplace a number.
QString filled(const char* key, std::initializer_list<qint64> numbers = {})
{
    QString format = QString::fromUtf8(key);
    if (const std::shared_ptr<const platform::Bundle> bundle = platform::Bundle::main()) {
        const QString translated = bundle->localizedString(format);
        if (conversions(translated) == conversions(format))
            format = translated;
    }
    QString text;
    auto number = numbers.begin();
    qsizetype from = 0;
    auto it = conversionPattern().globalMatch(format);
    while (it.hasNext()) {
        const auto match = it.next();
        text += format.mid(from, match.capturedStart() - from);
        from = match.capturedEnd();
        const QString found = match.captured();
        if (found == QLatin1String("%%")) {
            text += QLatin1Char('%');
        } else if (found == QLatin1String("%") || number == numbers.end()) {
            text += found;
        } else {
            const int width = found == QLatin1String("%02d") ? 2 : 0;
            text += QStringLiteral("%1").arg(*number++, width, 10, QLatin1Char('0'));
        }
    }
    return text + format.mid(from);
}

// The magnitude in whole seconds, truncated and bounded to the 32-bit count of the original texts.
qint64 wholeSeconds(double seconds)
{
    if (std::isnan(seconds))
        return 0;
    const double magnitude = std::fabs(seconds);
    constexpr double limit = double(std::numeric_limits<qint32>::max());
    return magnitude >= limit ? qint64(std::numeric_limits<qint32>::max()) : qint64(magnitude);
}

// Time of day with seconds: the locale's short time form with ":ss" after the minutes when it has none.
QString mediumTimeFormat(const QLocale& locale)
{
    QString text = locale.timeFormat(QLocale::ShortFormat);
    if (!text.contains(QLatin1Char('s'))) {
        const qsizetype minutes = text.indexOf(QLatin1String("mm"));
        if (minutes >= 0)
            text.insert(minutes + 2, QLatin1String(":ss"));
    }
    return text;
}

} // namespace

QString TEVTimeUtilities::localizedTextRepresentationForTimeInterval(double seconds)
{
    // The sign goes in front at the end: under a second before now still reads "-0 seconds".
    QString text;
    const qint64 total = wholeSeconds(seconds);
    const qint64 days = total / kSecondsPerDay;
    const qint64 rest = total % kSecondsPerDay;
    const qint64 hours = rest / 3600;
    const qint64 minutes = rest % 3600 / 60;
    const qint64 secs = rest % 60;

    if (days == 1)
        text += filled("1 day ");
    else if (days >= 2)
        text += filled("%d days ", {days});
    if (hours == 1)
        text += filled("1 hour ");
    else if (hours >= 2)
        text += filled("%d hours ", {hours});
    if (minutes == 1)
        text += filled("1 minute ");
    else if (minutes >= 2)
        text += filled("%d minutes ", {minutes});
    if ((rest < 3600 && secs > 0) || text.isEmpty())
        text += secs == 1 ? filled("1 second ") : filled("%d seconds", {secs});
    return seconds < 0 ? QLatin1Char('-') + text : text;
}

QString TEVTimeUtilities::localizedNumericRepresentationForTimeInterval(double seconds)
{
    QString text = seconds < 0 ? QStringLiteral("-") : QString();
    const qint64 total = wholeSeconds(seconds);
    const qint64 rest = total % kSecondsPerDay;
    if (total < kSecondsPerDay)
        return text + filled("%02d:%02d:%02d", {rest / 3600, rest % 3600 / 60, rest % 60});
    return text + filled("%d d %02d:%02d", {total / kSecondsPerDay, rest / 3600, rest % 3600 / 60});
}

QString TEVTimeUtilities::localizedTextRepresentationForDate(const QDateTime& date)
{
    if (!date.isValid())
        return {};
    const QLocale locale;
    const QDateTime local = date.toLocalTime();
    const qint64 distance = std::abs(platform::currentDate().msecsTo(date));
    QString text = locale.toString(local.time(), mediumTimeFormat(locale));
    if (distance > kSecondsPerDay * 1000)
        text = locale.toString(local.date(), QLocale::ShortFormat) + QLatin1Char(' ') + text;
    return text;
}

QString TEVTimeUtilities::localizedDayRepresentationForDate(const QDateTime& date)
{
    if (!date.isValid())
        return {};
    return QLocale().toString(date.toLocalTime().date(), QLocale::ShortFormat);
}

std::optional<QDateTime> TEVTimeUtilities::dateForWeek(qint64 week, qint64 year, qint64 day)
{
    if (week < 1 || week > 54 || day < 0 || day > 6 || year < 1 || year > 9999)
        return std::nullopt;
    const QDate first(int(year), 1, 1);
    // QDate: Monday 1 ... Sunday 7; the Sunday on or before 1 January starts week 1.
    const QDate weekOneSunday = first.addDays(-(first.dayOfWeek() % 7));
    const QDate date = weekOneSunday.addDays((week - 1) * 7 + day);
    if (!date.isValid())
        return std::nullopt;
    return QDateTime(date, QTime(0, 0), Qt::LocalTime);
}
