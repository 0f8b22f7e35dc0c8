#include "platform/host/HostText.h"

#include "platform/foundation/HostRoot.h"

#include <QStringList>

#include <limits>

namespace platform::hosttext {

std::optional<QString> firstLine(const HostRoot& root, const QString& path)
{
    const auto text = root.readTextFile(path);
    if (!text)
        return std::nullopt;
    return text->section(QLatin1Char('\n'), 0, 0).trimmed();
}

namespace {

// Removes one level of shell quoting: "..." and '...' with backslash escapes inside double quotes and
// outside quotes.
QString unquote(const QString& raw)
{
    QString out;
    QChar quote;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const QChar c = raw[i];
        if (quote.isNull() && (c == QLatin1Char('"') || c == QLatin1Char('\''))) {
            quote = c;
        } else if (!quote.isNull() && c == quote) {
            quote = QChar();
        } else if (c == QLatin1Char('\\') && quote != QLatin1Char('\'') && i + 1 < raw.size()) {
            out.append(raw[++i]);
        } else {
            out.append(c);
        }
    }
    return out;
}

} // namespace

QMap<QString, QString> parseAssignments(const QString& text)
{
    QMap<QString, QString> fields;
    for (const QString& rawLine : text.split(QLatin1Char('\n'))) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed();
        bool valid = true;
        for (const QChar c : key)
            valid = valid && (c.isLetterOrNumber() || c == QLatin1Char('_'));
        if (valid)
            fields.insert(key, unquote(line.mid(eq + 1).trimmed()));
    }
    return fields;
}

std::optional<quint64> parseUnsigned(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty() || !trimmed[0].isDigit())
        return std::nullopt;
    bool ok = false;
    const quint64 value = trimmed.toULongLong(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

std::optional<quint64> parseSize(const QString& text)
{
    QString digits = text.trimmed();
    quint64 unit = 1;
    if (digits.endsWith(QLatin1Char('K'), Qt::CaseInsensitive))
        unit = 1024;
    else if (digits.endsWith(QLatin1Char('M'), Qt::CaseInsensitive))
        unit = 1024 * 1024;
    else if (digits.endsWith(QLatin1Char('G'), Qt::CaseInsensitive))
        unit = 1024 * 1024 * 1024;
    if (unit != 1)
        digits.chop(1);
    const auto value = parseUnsigned(digits);
    if (!value || *value > std::numeric_limits<quint64>::max() / unit)
        return std::nullopt;
    return *value * unit;
}

std::optional<int> countCpuList(const QString& text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return 0;
    qint64 count = 0;
    for (const QString& range : trimmed.split(QLatin1Char(','))) {
        const QStringList ends = range.split(QLatin1Char('-'));
        if (ends.size() > 2)
            return std::nullopt;
        const auto first = parseUnsigned(ends.first());
        const auto last = parseUnsigned(ends.last());
        if (!first || !last || *last < *first || *last > 1u << 20)
            return std::nullopt;
        count += qint64(*last - *first + 1);
        if (count > 1 << 20)
            return std::nullopt;
    }
    return int(count);
}

} // namespace platform::hosttext
