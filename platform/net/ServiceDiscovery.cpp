#include "platform/net/ServiceDiscovery.h"

#include "platform/net/AvahiServiceDiscovery.h"

#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
std::shared_ptr<ServiceDiscovery> g_override;

} // namespace

std::shared_ptr<ServiceDiscovery> ServiceDiscovery::shared()
{
    std::lock_guard lock(g_mutex);
    if (g_override)
        return g_override;
    static const std::shared_ptr<ServiceDiscovery> avahi = std::make_shared<AvahiServiceDiscovery>();
    return avahi;
}

void ServiceDiscovery::setShared(std::shared_ptr<ServiceDiscovery> discovery)
{
    std::lock_guard lock(g_mutex);
    g_override = std::move(discovery);
}

} // namespace platform
