#include "tests/support/CapturingLog.h"

namespace kelvaro::test {

void CapturingLog::write(const QString& text)
{
    std::lock_guard lock(mutex_);
    lines_.append(text);
}

QStringList CapturingLog::lines() const
{
    std::lock_guard lock(mutex_);
    return lines_;
}

bool CapturingLog::contains(const QString& fragment) const
{
    return count(fragment) > 0;
}

int CapturingLog::count(const QString& fragment) const
{
    std::lock_guard lock(mutex_);
    int n = 0;
    for (const QString& line : lines_)
        if (line.contains(fragment))
            ++n;
    return n;
}

void CapturingLog::clear()
{
    std::lock_guard lock(mutex_);
    lines_.clear();
}

} // namespace kelvaro::test
