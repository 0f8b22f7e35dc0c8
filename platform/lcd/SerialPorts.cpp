#include "platform/lcd/SerialPorts.h"

#include "platform/host/HostText.h"

#include <QHash>

namespace platform {

namespace {

const QString ttyClass = QStringLiteral("/sys/class/tty/");
const QString byIdFolder = QStringLiteral("/dev/serial/by-id/");

// by-id links point at "../../ttyUSB0".
QHash<QString, QString> byIdNames(const HostRoot& root)
{
    QHash<QString, QString> names;
    const auto links = root.listDirectory(byIdFolder);
    if (!links)
        return names;
    for (const QString& link : *links) {
        const auto target = root.readLink(byIdFolder + link);
        if (!target)
            continue;
        const QString kernelName = target->section(QLatin1Char('/'), -1);
        if (!names.contains(kernelName))
            names.insert(kernelName, link);
    }
    return names;
}

QString udevSerial(const HostRoot& root, const QString& kernelName)
{
    const auto dev = hosttext::firstLine(root, ttyClass + kernelName + QStringLiteral("/dev"));
    if (!dev || dev->isEmpty())
        return {};
    const auto record = root.readTextFile(QStringLiteral("/run/udev/data/c") + *dev);
    if (!record)
        return {};
    const QLatin1String key("E:ID_SERIAL=");
    for (const QString& line : record->split(QLatin1Char('\n'))) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed();
    }
    return {};
}

} // namespace

std::vector<SerialPortEntry> SerialPorts::list(const HostRoot& root)
{
    std::vector<SerialPortEntry> result;
    const auto names = root.listDirectory(ttyClass);
    if (!names)
        return result;
    const QHash<QString, QString> byId = byIdNames(root);
    for (const QString& name : *names) {
        const QString base = ttyClass + name + QLatin1Char('/');
        // Consoles, ptmx and pseudo-terminals have no device behind them.
        if (!root.readLink(base + QStringLiteral("device")))
            continue;
        // Ports of the serial core report their UART type; 0 is "no UART here".
        if (const auto type = hosttext::firstLine(root, base + QStringLiteral("type")); type && *type == QLatin1String("0"))
            continue;
        SerialPortEntry entry;
        entry.kernelName = name;
        entry.stableName = byId.value(name);
        if (entry.stableName.isEmpty())
            entry.stableName = udevSerial(root, name);
        if (entry.stableName.isEmpty())
            entry.stableName = name;
        entry.devicePath = root.path(QStringLiteral("/dev/") + name);
        result.push_back(entry);
    }
    return result;
}

} // namespace platform
