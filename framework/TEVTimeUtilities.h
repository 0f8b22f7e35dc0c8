#pragma once
// TEVTimeUtilities: the texts of durations and dates (intervals in words and digits, time of day with the
// date when it is not close to now, day alone) and the date of a week of a year. Static members only, no
// state; formats come from the main bundle's default string table. Any thread.

#include <QDateTime>
#include <QString>

#include <optional>

class TEVTimeUtilities {
public:
    // "1 day 2 hours 3 minutes ", "5 seconds". Intervals are whole seconds of at most 2^31 - 1; longer ones
    // (and infinities) show as that many, NaN as 0 s.
    static QString localizedTextRepresentationForTimeInterval(double seconds);
    // "01:02:05" below a day, "1 d 01:00" from a day on; same bounds as above.
    static QString localizedNumericRepresentationForTimeInterval(double seconds);
    // Time of day (with seconds) in the current locale, preceded by the short date when the date is more
    // than a day away from now. Null for an invalid date.
    static QString localizedTextRepresentationForDate(const QDateTime& date);
    // The short date alone in the current locale; null for an invalid date.
    static QString localizedDayRepresentationForDate(const QDateTime& date);
    // Local midnight of weekday `day` (0 = Sunday) of week `week` of `year`, weeks starting on Sunday and
    // week 1 being the one holding 1 January (so it may begin in December of the year before). Nothing
    // unless week is 1..54, day 0..6 and year 1..9999.
    static std::optional<QDateTime> dateForWeek(qint64 week, qint64 year, qint64 day);
};
