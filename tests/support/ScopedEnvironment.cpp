#include "tests/support/ScopedEnvironment.h"

#include <QtGlobal>

#include <algorithm>

namespace kelvaro::test {

ScopedEnvironment::~ScopedEnvironment()
{
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
        if (it->second)
            qputenv(it->first, *it->second);
        else
            qunsetenv(it->first);
    }
}

void ScopedEnvironment::remember(const char* name)
{
    const bool known = std::any_of(saved_.begin(), saved_.end(), [name](const auto& s) { return qstrcmp(s.first, name) == 0; });
    if (known)
        return;
    saved_.emplace_back(name, qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt);
}

void ScopedEnvironment::set(const char* name, const QByteArray& value)
{
    remember(name);
    qputenv(name, value);
}

void ScopedEnvironment::unset(const char* name)
{
    remember(name);
    qunsetenv(name);
}

} // namespace kelvaro::test
