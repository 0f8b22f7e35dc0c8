#pragma once
// Sets (or unsets) environment variables for one scope and restores the earlier values on exit.

#include <QByteArray>

#include <optional>
#include <utility>
#include <vector>

namespace kelvaro::test {

class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const char* name, const QByteArray& value);
    void unset(const char* name);

private:
    void remember(const char* name);
    std::vector<std::pair<const char*, std::optional<QByteArray>>> saved_;
};

} // namespace kelvaro::test
