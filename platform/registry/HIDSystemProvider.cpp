#include "platform/registry/HIDSystemProvider.h"

#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "platform/hardware/IdleTimeSource.h"

namespace platform {

namespace {

const QString idleTimeKey = QStringLiteral("HIDIdleTime");

class IdleTimePropertySource final : public IORegistryPropertySource {
public:
    QVariantMap properties() const override
    {
        QVariantMap result;
        const QVariant idle = property(idleTimeKey);
        if (idle.isValid())
            result.insert(idleTimeKey, idle);
        return result;
    }

    QVariant property(const QString& key) const override
    {
        if (key != idleTimeKey)
            return {};
        const std::optional<quint64> idle = IdleTimeSource::shared()->idleNanoseconds();
        return idle ? values::fromUnsigned(*idle) : QVariant();
    }
};

} // namespace

void HIDSystemProvider::addEntries(const HostRoot& root, IORegistry::Builder& builder) const
{
    // The live machine always has a HID system; a simulated computer has one when it gives an idle time,
    // and a captured host tree has none.
    bool present = root.isLive() && !SimulatedComputer::isSelected();
    if (SimulatedComputer::isSelected()) {
        const auto computer = SimulatedComputer::current();
        present = computer && computer->idleTime() && HostRoot(computer->rootDirectory()).root() == root.root();
    }
    if (!present)
        return;
    builder.add(IORegistry::RootIndex,
                {QStringLiteral("IOHIDSystem"), QStringLiteral("IOService"), QStringLiteral("IORegistryEntry")},
                QStringLiteral("IOHIDSystem"), std::make_shared<IdleTimePropertySource>());
}

} // namespace platform
