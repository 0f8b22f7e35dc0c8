#include "platform/foundation/Log.h"

#include <QByteArray>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <syslog.h>

namespace platform {
namespace {

std::mutex& sinkMutex()
{
    static std::mutex m;
    return m;
}

std::shared_ptr<LogSink>& currentSink()
{
    static std::shared_ptr<LogSink> sink;
    return sink;
}

// C0 but tab and line feed, DEL, C1; and the invisible marks that reorder or split what a terminal shows:
// bidirectional embeddings, overrides and isolates (U+202E makes "gpj.exe" read "exe.jpg"), the direction
// marks, and the line and paragraph separators.
bool isEscaped(char16_t unit)
{
    return (unit < 0x20 && unit != u'\t' && unit != u'\n') || (unit >= 0x7F && unit <= 0x9F) || unit == 0x061C
        || unit == 0x200E || unit == 0x200F || (unit >= 0x2028 && unit <= 0x202E) || (unit >= 0x2066 && unit <= 0x2069);
}

} // namespace

QString escapeControlCharacters(const QString& text)
{
    if (std::none_of(text.cbegin(), text.cend(), [](QChar c) { return isEscaped(c.unicode()); }))
        return text;
    QString escaped;
    escaped.reserve(text.size() + 16);
    for (const QChar c : text) {
        if (!isEscaped(c.unicode()))
            escaped += c;
        else if (c.unicode() > 0xFF)
            escaped += QStringLiteral("\\u") + QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0'));
        else
            escaped += QStringLiteral("\\x") + QString::number(c.unicode(), 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
    return escaped;
}

void log(const QString& rawText)
{
    const QString text = escapeControlCharacters(rawText);
    std::shared_ptr<LogSink> sink;
    {
        std::lock_guard lock(sinkMutex());
        sink = currentSink();
    }
    if (sink) {
        sink->write(text);
        return;
    }
    const QByteArray utf8 = text.toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stderr);
    std::fflush(stderr);
    syslog(LOG_NOTICE, "%s", utf8.constData());
}

void log(const char* className, const QString& message)
{
    log(QString::fromLatin1(className) + QStringLiteral(": ") + message + QLatin1Char('\n'));
}

std::shared_ptr<LogSink> setLogSink(std::shared_ptr<LogSink> sink)
{
    std::lock_guard lock(sinkMutex());
    std::swap(currentSink(), sink);
    return sink;
}

} // namespace platform
