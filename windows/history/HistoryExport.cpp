#include "windows/history/HistoryExport.h"

#include "app/model/HistoryValueCollection.h"
#include "framework/TEVStringFormat.h"

#include <QHash>

#include <cmath>

namespace HistoryExport {

namespace {

bool isNoValue(double value)
{
    return value == HistoryValueCollection::kNoValue || std::isnan(value);
}

double valueAt(const Table& table, qsizetype column, quint64 sample)
{
    const size_t index = size_t(column) * table.samples + sample;
    return index < table.values.size() ? table.values[index] : HistoryValueCollection::kNoValue;
}

QDateTime rowDate(const Table& table, quint64 sample)
{
    return table.start.addMSecs(qint64(std::llround(double(sample) * table.deltaTime * 1000.0)));
}

} // namespace

QString dateText(const QDateTime& date)
{
    // Digits by hand: QDateTime's formats follow no locale here, but this cannot drift.
    const QDateTime utc = date.toUTC();
    const QDate d = utc.date();
    const QTime t = utc.time();
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d +0000", d.year(), d.month(), d.day(), t.hour(), t.minute(),
                             t.second());
}

QString text(const QString& title, const Table& table)
{
    const qsizetype columns = table.columns.size();
    const qsizetype dateLength = dateText(table.start).size();
    QString out = title + QStringLiteral("\n\n");
    for (qsizetype c = 0; c < columns; ++c)
        out += QString::asprintf("%3llu) ", static_cast<unsigned long long>(c + 1)) + table.columns.at(c).name
               + QStringLiteral(" (") + table.columns.at(c).unit + QStringLiteral(")\n");
    out += QLatin1Char('\n');
    out += QString(dateLength + 4, QLatin1Char(' '));
    for (qsizetype c = 0; c < columns; ++c)
        out += QString::asprintf("%10llu", static_cast<unsigned long long>(c + 1));
    const QString rule(dateLength + 4 + 10 * columns, QLatin1Char('-'));
    out += QLatin1Char('\n') + rule + QLatin1Char('\n');
    const QString noValue = QString(9, QLatin1Char('*')) + QLatin1Char(' ');
    for (quint64 s = 0; s < table.samples; ++s) {
        out += dateText(rowDate(table, s)) + QStringLiteral("     ");
        for (qsizetype c = 0; c < columns; ++c) {
            const double value = valueAt(table, c, s);
            out += isNoValue(value) ? noValue : TEVStringFormat::withNumber("%9.2f", value) + QLatin1Char(' ');
        }
        out += QLatin1Char('\n');
    }
    out += QLatin1Char('\n') + rule + QLatin1Char('\n');
    return out;
}

QString csv(const QString& timeTitle, const Table& table)
{
    const QString& special = TEVStringFormat::csvSpecialCharacters();
    const qsizetype columns = table.columns.size();
    QHash<QString, int> uses;
    for (const Column& column : table.columns)
        ++uses[column.name];
    QString out = timeTitle;
    for (qsizetype c = 0; c < columns; ++c) {
        if (c > 0)
            out += QLatin1Char(',');
        const Column& column = table.columns.at(c);
        const bool repeated = uses.value(column.name) > 1 && !column.computer.isEmpty();
        out += TEVStringFormat::quotedCSVField(repeated ? column.name + QStringLiteral(" (") + column.computer + QLatin1Char(')') : column.name,
                                               special);
    }
    out += QLatin1Char('\n');
    for (quint64 s = 0; s < table.samples; ++s) {
        out += TEVStringFormat::quotedCSVField(dateText(rowDate(table, s)), special) + QLatin1Char(',');
        for (qsizetype c = 0; c < columns; ++c) {
            if (c > 0)
                out += QLatin1Char(',');
            const double value = valueAt(table, c, s);
            out += isNoValue(value) ? QStringLiteral("*") : TEVStringFormat::withNumber("%.2f", value);
        }
        out += QLatin1Char('\n');
    }
    return out;
}

} // namespace HistoryExport
