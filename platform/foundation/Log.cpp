#include "platform/foundation/Log.h"

#include <QByteArray>

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

} // namespace

void log(const QString& text)
{
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
