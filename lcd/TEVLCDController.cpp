#include "lcd/TEVLCDController.h"

#include "platform/foundation/NotificationCenter.h"

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
