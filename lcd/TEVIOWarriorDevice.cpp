#include "lcd/TEVIOWarriorDevice.h"

#include "platform/foundation/Log.h"
#include "platform/lcd/DeviceHotplugSource.h"

#include <QObject>

#include <array>
#include <utility>

namespace {

const char ioWarriorClassTag = 0;

// "PRODUCT" of a USB device's events is "<vendor>/<product>/<release>" in unpadded hex.
bool isIoWarriorEvent(const platform::DeviceEvent& event)
{
    if (event.subsystem == QLatin1String("usbmisc"))
        return event.sysname.startsWith(QLatin1String("iowarrior"));
    if (event.subsystem != QLatin1String("usb") || event.devtype != QLatin1String("usb_device"))
        return false;
    const QStringList product = event.properties.value(QStringLiteral("PRODUCT")).split(QLatin1Char('/'));
    bool vendorOk = false, productOk = false;
    const uint vendor = product.value(0).toUInt(&vendorOk, 16);
    const uint id = product.value(1).toUInt(&productOk, 16);
    return vendorOk && productOk && vendor == platform::IoWarriorInterfaces::VendorID
           && (id == platform::IoWarriorInterfaces::IoWarrior40ProductID
               || id == platform::IoWarriorInterfaces::IoWarrior24ProductID);
}

} // namespace

TEVIOWarriorDevice::TEVIOWarriorDevice(QString serialNumber, qint64 interfaceNumber, bool isIOWarrior40, Opener opener)
    : TEVLCDController(std::move(serialNumber)),
      interfaceNumber_(interfaceNumber),
      isIOWarrior40_(isIOWarrior40),
      opener_(std::move(opener))
{
}

std::shared_ptr<TEVIOWarriorDevice> TEVIOWarriorDevice::createWithIORegistryEntry(
    const std::optional<platform::IoWarriorInterface>& entry, Opener opener)
{
    using platform::IoWarriorInterfaces;
    if (!entry || (entry->productID != IoWarriorInterfaces::IoWarrior40ProductID
                   && entry->productID != IoWarriorInterfaces::IoWarrior24ProductID)
        || entry->interfaceNumber < 0)
        return nullptr;
    QString serial = entry->usbSerialNumber;
    if (serial.isEmpty())
        serial = entry->driverSerialNumber;
    if (serial.isEmpty())
        serial = QStringLiteral("-undefined-");
    if (!opener)
        opener = [interface = *entry] { return platform::IoWarriorTransport::open(interface); };
    return std::shared_ptr<TEVIOWarriorDevice>(new TEVIOWarriorDevice(
        serial, entry->interfaceNumber, entry->productID == IoWarriorInterfaces::IoWarrior40ProductID, std::move(opener)));
}

TEVIOWarriorDevice::List TEVIOWarriorDevice::listOfIOWarriorDevices(std::shared_ptr<const platform::HostRoot> root)
{
    if (!root)
        root = platform::HostRoot::current();
    List list;
    for (const auto& interface : platform::IoWarriorInterfaces::list(*root)) {
        if (auto device = createWithIORegistryEntry(interface))
            list.push_back(device);
    }
    return list;
}

TEVIOWarriorDevice::List TEVIOWarriorDevice::listOfIOWarriorDevicesWithInterfaceNumber(
    qint64 number, std::shared_ptr<const platform::HostRoot> root)
{
    List list = listOfIOWarriorDevices(std::move(root));
    std::erase_if(list, [number](const auto& device) { return device->interfaceNumber() != number; });
    return list;
}

bool TEVIOWarriorDevice::setupConnectionNotifications()
{
    return observeHotplug(classIdentity(), isIoWarriorEvent);
}

void TEVIOWarriorDevice::postControllerChangeNotificationIsRemoval(bool isRemoval)
{
    postChange(classIdentity(), isRemoval);
}

const void* TEVIOWarriorDevice::classIdentity()
{
    return &ioWarriorClassTag;
}

bool TEVIOWarriorDevice::sendOutputReportWithID(quint8 reportID, const quint8* bytes)
{
    if (!bytes)
        return false;
    std::array<quint8, platform::IoWarriorTransport::ReportSize> report{};
    report[0] = reportID;
    std::copy(bytes, bytes + report.size() - 1, report.begin() + 1);
    return writeToInterfaceBytesAt(report.data(), qsizetype(report.size()));
}

bool TEVIOWarriorDevice::openInterface()
{
    if (transport_)
        return true;
    transport_ = opener_ ? opener_() : nullptr;
    if (!transport_) {
        logFailureOnce(QStringLiteral("cannot open"));
        return false;
    }
    ++connectionCount_;
    return true;
}

bool TEVIOWarriorDevice::writeToInterfaceBytesAt(const quint8* bytes, qsizetype count)
{
    if (!bytes || !openInterface())
        return false;
    if (transport_->writeReport(bytes, count)) {
        if (std::exchange(failureLogged_, false))
            platform::log(className(), QStringLiteral("%1 (serial number '%2', interface %3) answers again")
                                           .arg(devicePresentationName(), serialNumber())
                                           .arg(interfaceNumber_));
        return true;
    }
    // A failed report closes the interface; the next one opens it again (the chip may have been re-plugged).
    transport_.reset();
    logFailureOnce(QStringLiteral("a report failed on"));
    return false;
}

void TEVIOWarriorDevice::logFailureOnce(const QString& what)
{
    if (std::exchange(failureLogged_, true))
        return;
    platform::log(className(), QStringLiteral("%1 %2 (serial number '%3', interface %4); it is tried again with "
                                              "every report, and set up again once it answers")
                                   .arg(what, devicePresentationName(), serialNumber())
                                   .arg(interfaceNumber_));
}

QString TEVIOWarriorDevice::devicePresentationName() const
{
    return isIOWarrior40_ ? QStringLiteral("IO-Warrior 40") : QStringLiteral("IO-Warrior 24");
}

QString TEVIOWarriorDevice::typeIdentifier() const
{
    return isIOWarrior40_ ? QStringLiteral("IOW40") : QStringLiteral("IOW24");
}

QString TEVIOWarriorDevice::description() const
{
    return QString::asprintf("TEVIOWarriorDevice: interface %p, number %lld, serial number '%s', IOWarrior40 %s\n",
                             static_cast<const void*>(transport_.get()), static_cast<long long>(interfaceNumber_),
                             serialNumber().toUtf8().constData(), isIOWarrior40_ ? "YES" : "NO");
}

bool TEVIOWarriorDevice::isKindOfReceiverClass(const TEVLCDController& other) const
{
    return dynamic_cast<const TEVIOWarriorDevice*>(&other) != nullptr;
}
