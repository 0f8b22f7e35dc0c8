#pragma once
// The system log: diagnostics go to stderr and syslog as "<Class>: <message>\n", or to a sink that a test
// installs. Thread-safe.

#include <QString>

#include <memory>

namespace platform {

class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const QString& text) = 0; // one complete entry, with its line feed
};

// Writes `text` as given (the caller adds the class name, colon and line feed), its control characters
// escaped.
void log(const QString& text);
// Convenience: "<className>: <message>\n".
void log(const char* className, const QString& message);

// `text` with every control character but tab and line feed written as "\xHH" (C0, DEL and C1), and the
// bidirectional and separator marks (U+202E, U+2066..., U+2028) as "\uHHHH": text read from files and
// devices must neither drive nor reorder the terminal it is shown on. Other characters stay as they are.
QString escapeControlCharacters(const QString& text);

// Replaces the destination; null restores stderr + syslog. Returns the previous sink.
std::shared_ptr<LogSink> setLogSink(std::shared_ptr<LogSink> sink);

} // namespace platform
