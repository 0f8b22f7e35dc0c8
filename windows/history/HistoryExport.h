#pragma once
// HistoryExport: the text and CSV forms of a block of history values (one column per gauge, one row per
// sample), for one window or a master window with its overlays. Dates in UTC, numbers in the C locale
// whatever the user's locale; 2^64 (HistoryValueCollection::kNoValue) is written "*". Pure functions.

#include <QDateTime>
#include <QList>
#include <QString>

#include <vector>

namespace HistoryExport {

// A gauge's legend entry and header cell: its custom name and unit, or the identifier and "-" for an
// identifier without a gauge, so that every column has one.
struct Column {
    QString name;
    QString unit;
    QString computer = {}; // the gauge's computer, named in the CSV header where another column has the same name
};

// One block of values and what its rows mean.
struct Table {
    QList<Column> columns;
    // Column after column, `samples` values each, oldest first.
    std::vector<double> values;
    quint64 samples = 0;
    QDateTime start;  // of the first row
    double deltaTime = 0; // seconds between rows
};

// "2024-05-01 12:00:00 +0000": the standard description of a date in UTC.
QString dateText(const QDateTime& date);

// The title, the numbered legend, a header of column numbers, the rows of dates and "%9.2f " values (nine
// "*" for no value) between two rules of dashes.
QString text(const QString& title, const Table& table);
// A header of `timeTitle` ("Time,") and the quoted names ("name (computer)" where names repeat), then one
// line per row: the quoted date and the values as "%.2f" or "*".
QString csv(const QString& timeTitle, const Table& table);

} // namespace HistoryExport
