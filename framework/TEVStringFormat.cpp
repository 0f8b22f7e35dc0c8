#include "framework/TEVStringFormat.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include <locale.h>

namespace {

// Flags, width and precision, then f, e or g; nothing else but text without '%' around it.
bool isSingleRealConversion(const char* format)
{
    const char* percent = std::strchr(format, '%');
    if (!percent)
        return false;
    const char* p = percent + 1;
    while (*p && std::strchr("-+ #0", *p))
        ++p;
    while (std::isdigit(static_cast<unsigned char>(*p)))
        ++p;
    if (*p == '.') {
        ++p;
        while (std::isdigit(static_cast<unsigned char>(*p)))
            ++p;
    }
    return *p && std::strchr("fFeEgG", *p) && !std::strchr(p + 1, '%');
}

} // namespace

QString TEVStringFormat::withObjects(const QString& format, const QStringList& objects)
{
    QString out;
    out.reserve(format.size());
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format.at(i) == QLatin1Char('%') && i + 1 < format.size()) {
            const QChar c = format.at(i + 1);
            if (c == QLatin1Char('%')) {
                out.append(QLatin1Char('%'));
                ++i;
                continue;
            }
            if (c == QLatin1Char('@') && next < objects.size()) {
                out.append(objects.at(next++));
                ++i;
                continue;
            }
        }
        out.append(format.at(i));
    }
    return out;
}

QString TEVStringFormat::withNumber(const char* format, double value)
{
    if (!format || !isSingleRealConversion(format))
        return {};
    // A C locale of this thread only: setlocale would change every thread's formatting.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const locale_t previous = cLocale ? uselocale(cLocale) : locale_t(nullptr);
    char buffer[64];
    const int length = std::snprintf(buffer, sizeof buffer, format, value);
    QByteArray text;
    if (length >= int(sizeof buffer)) {
        text.resize(length + 1);
        std::snprintf(text.data(), size_t(length) + 1, format, value);
        text.resize(length);
    } else if (length >= 0) {
        text = QByteArray(buffer, length);
    }
    if (cLocale)
        uselocale(previous);
    return QString::fromLatin1(text);
}

QString TEVStringFormat::quotedCSVField(const QString& field, const QString& characters)
{
    if (field.isNull() || characters.isNull())
        return {};
    bool needsQuotes = field.contains(QLatin1Char('"'));
    for (int i = 0; !needsQuotes && i < characters.size(); ++i)
        needsQuotes = field.contains(characters.at(i));
    if (!needsQuotes)
        return field;
    QString quoted = field;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

const QString& TEVStringFormat::csvSpecialCharacters()
{
    static const QString characters = QStringLiteral(", \t\r\n");
    return characters;
}
