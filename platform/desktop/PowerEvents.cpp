#include "platform/desktop/PowerEvents.h"

#include <mutex>

namespace platform {

namespace {

// Stands in until the login manager's source exists: nothing to listen to.
class SilentPowerEvents final : public PowerEvents {
public:
    bool registerForSystemPower() override { return false; }
    void allowSleep() override {}
};

std::mutex sharedMutex;
std::shared_ptr<PowerEvents> sharedEvents;

} // namespace

std::shared_ptr<PowerEvents> PowerEvents::shared()
{
    std::lock_guard lock(sharedMutex);
    if (!sharedEvents)
        sharedEvents = std::make_shared<SilentPowerEvents>();
    return sharedEvents;
}

void PowerEvents::setShared(std::shared_ptr<PowerEvents> events)
{
    std::lock_guard lock(sharedMutex);
    sharedEvents = std::move(events);
}

} // namespace platform
