#pragma once
// A log sink that keeps every entry, for assertions on the lines that matter. Thread-safe.

#include "platform/foundation/Log.h"

#include <QStringList>

#include <mutex>

namespace kelvaro::test {

class CapturingLog final : public platform::LogSink {
public:
    void write(const QString& text) override;
    QStringList lines() const;
    // True when some entry contains `fragment`.
    bool contains(const QString& fragment) const;
    int count(const QString& fragment) const;
    void clear();

private:
    mutable std::mutex mutex_;
    QStringList lines_;
};

} // namespace kelvaro::test
