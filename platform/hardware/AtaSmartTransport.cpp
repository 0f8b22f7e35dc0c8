#include "platform/hardware/AtaSmartTransport.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/hardware/FixtureAtaSmartTransport.h"
#include "platform/hardware/LinuxAtaSmartTransport.h"

#include <mutex>

namespace platform {

namespace {

struct Selection {
    std::mutex mutex;
    std::shared_ptr<const AtaSmartTransport> chosen;
    std::shared_ptr<const AtaSmartTransport> live;
    std::shared_ptr<const SimulatedComputer> simulatedFor;
    std::shared_ptr<const AtaSmartTransport> simulated;
    bool simulatedResolved = false;
};

Selection& selection()
{
    static Selection s;
    return s;
}

} // namespace

std::shared_ptr<const AtaSmartTransport> AtaSmartTransport::shared()
{
    auto& s = selection();
    std::lock_guard lock(s.mutex);
    if (s.chosen)
        return s.chosen;
    if (SimulatedComputer::isSelected()) {
        const auto computer = SimulatedComputer::current();
        if (!s.simulatedResolved || s.simulatedFor != computer) {
            FixtureAtaSmartTransport::LoadResult loaded{std::make_shared<FixtureAtaSmartTransport>(), QString()};
            if (computer)
                loaded = FixtureAtaSmartTransport::fromComputer(*computer);
            if (!loaded.transport) {
                log("AtaSmartTransport", QStringLiteral("simulated drives not loaded: %1").arg(loaded.error));
                loaded.transport = std::make_shared<FixtureAtaSmartTransport>();
            }
            s.simulated = loaded.transport;
            s.simulatedFor = computer;
            s.simulatedResolved = true;
        }
        return s.simulated;
    }
    if (!s.live)
        s.live = std::make_shared<LinuxAtaSmartTransport>();
    return s.live;
}

void AtaSmartTransport::setShared(std::shared_ptr<const AtaSmartTransport> transport)
{
    auto& s = selection();
    std::lock_guard lock(s.mutex);
    s.chosen = std::move(transport);
}

bool AtaSmartTransport::isValidBsdName(const QString& name)
{
    if (name.isEmpty() || name.size() > 32)
        return false;
    for (const QChar c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 0x80) && c != QLatin1Char('_'))
            return false;
    }
    return true;
}

} // namespace platform
