#include "platform/net/NameResolver.h"

#include "platform/net/SystemNameResolver.h"

#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
std::shared_ptr<NameResolver> g_override;

} // namespace

std::shared_ptr<NameResolver> NameResolver::shared()
{
    std::lock_guard lock(g_mutex);
    if (g_override)
        return g_override;
    static const std::shared_ptr<NameResolver> system = std::make_shared<SystemNameResolver>();
    return system;
}

void NameResolver::setShared(std::shared_ptr<NameResolver> resolver)
{
    std::lock_guard lock(g_mutex);
    g_override = std::move(resolver);
}

bool NameResolver::isLoopbackName(const QString& name)
{
    // The aliases Debian, Fedora and the BSDs put in /etc/hosts for 127.0.0.1 and ::1.
    static const char* const aliases[] = {
        "localhost", "localhost.localdomain", "localhost4", "localhost4.localdomain4",
        "localhost6", "localhost6.localdomain6", "ip6-localhost", "ip6-loopback",
    };
    QString lower = name.toLower();
    if (lower.endsWith(QLatin1Char('.')))
        lower.chop(1);
    for (const char* alias : aliases) {
        if (lower == QLatin1String(alias))
            return true;
    }
    return lower.endsWith(QLatin1String(".localhost"));
}

} // namespace platform
