#include "platform/lcd/IoWarriorInterfaces.h"

#include "platform/host/HostText.h"

#include <QFile>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

namespace {

const QString usbDevices = QStringLiteral("/sys/bus/usb/devices/");

// _IOR(0xC0, 3, struct iowarrior_info) of the driver.
const unsigned long kIowGetInfo = _IOR(0xC0, 3, IoWarriorInfo);

std::optional<quint32> readHex(const HostRoot& root, const QString& path)
{
    const auto text = hosttext::firstLine(root, path);
    bool ok = false;
    const uint value = text ? text->toUInt(&ok, 16) : 0;
    return ok ? std::optional<quint32>(value) : std::nullopt;
}

std::optional<IoWarriorInfo> ioctlInfo(const QString& deviceNode)
{
    const int fd = ::open(QFile::encodeName(deviceNode).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    IoWarriorInfo info;
    const int result = ::ioctl(fd, kIowGetInfo, &info);
    ::close(fd);
    if (result < 0)
        return std::nullopt;
    info.serial[sizeof info.serial - 1] = 0;
    return info;
}

} // namespace

IoWarriorInterfaces::InfoQuery IoWarriorInterfaces::liveQuery(const HostRoot& root)
{
    if (!root.isLive())
        return nullptr;
    return ioctlInfo;
}

std::vector<IoWarriorInterface> IoWarriorInterfaces::list(const HostRoot& root, const InfoQuery& query)
{
    std::vector<IoWarriorInterface> result;
    const auto names = root.listDirectory(usbDevices);
    if (!names)
        return result;
    for (const QString& name : *names) {
        // Interfaces are "<device>:<configuration>.<interface>"; their device is the part before the colon.
        const qsizetype colon = name.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        const QString device = usbDevices + name.left(colon) + QLatin1Char('/');
        const QString interface = usbDevices + name + QLatin1Char('/');
        const auto vendor = readHex(root, device + QStringLiteral("idVendor"));
        const auto product = readHex(root, device + QStringLiteral("idProduct"));
        if (vendor != VendorID || (product != IoWarrior40ProductID && product != IoWarrior24ProductID))
            continue;
        const auto number = readHex(root, interface + QStringLiteral("bInterfaceNumber"));
        if (!number)
            continue;

        IoWarriorInterface entry;
        entry.sysfsName = name;
        entry.productID = quint16(*product);
        entry.interfaceNumber = *number;
        entry.usbSerialNumber = hosttext::firstLine(root, device + QStringLiteral("serial")).value_or(QString());
        // The driver's node appears below the interface it has bound ("usbmisc/iowarrior1").
        const auto nodes = root.listDirectory(interface + QStringLiteral("usbmisc"));
        if (nodes && !nodes->isEmpty())
            entry.deviceNode = root.path(QStringLiteral("/dev/usb/") + nodes->first());
        if (entry.usbSerialNumber.isEmpty() && !entry.deviceNode.isEmpty() && query) {
            if (const auto info = query(entry.deviceNode))
                entry.driverSerialNumber = QString::fromLatin1(info->serial).trimmed();
        }
        result.push_back(entry);
    }
    return result;
}

} // namespace platform
