#include "lcd/TEVLCDController.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/lcd/DeviceHotplugSource.h"

#include <QHash>

#include <memory>

QString TEVLCDController::uniqueDeviceSpecifier() const
{
    return typeIdentifier() + QLatin1Char('-') + serialNumber_;
}

bool TEVLCDController::isEqual(const TEVLCDController& other) const
{
    return isKindOfReceiverClass(other) && other.serialNumber_ == serialNumber_;
}

QString TEVLCDController::description() const
{
    return QStringLiteral("TEVLCDController: serial %1\n").arg(serialNumber_);
}

bool TEVLCDController::isKindOfReceiverClass(const TEVLCDController&) const
{
    return true;
}

void TEVLCDController::postChange(const void* classIdentity, bool isRemoval)
{
    platform::NotificationCenter::defaultCenter().post(
        changeNotification, classIdentity,
        {{changeKindKey, QVariant::fromValue<quint64>(isRemoval ? ChangeRemoval : ChangeInsertion)}});
}

bool TEVLCDController::observeHotplug(const void* classIdentity, bool (*matches)(const platform::DeviceEvent&))
{
    const auto source = platform::DeviceHotplugSource::shared();
    if (!source)
        return false;
    // Connected once per source and class, so a second set-up does not double every notification.
    static QHash<const void*, std::weak_ptr<platform::DeviceHotplugSource>> connected;
    auto& connectedSource = connected[classIdentity];
    if (connectedSource.lock() != source) {
        QObject::connect(source.get(), &platform::DeviceHotplugSource::deviceChanged, source.get(),
                         [classIdentity, matches](const platform::DeviceEvent& event) {
                             if (!matches(event))
                                 return;
                             if (event.action == QLatin1String("add"))
                                 postChange(classIdentity, false);
                             else if (event.action == QLatin1String("remove"))
                                 postChange(classIdentity, true);
                         });
        connectedSource = source;
    }
    return true;
}
