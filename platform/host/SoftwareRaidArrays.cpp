#include "platform/host/SoftwareRaidArrays.h"

#include "platform/host/HostText.h"

namespace platform {

namespace {

QString udevValue(const HostRoot& root, const QString& device, const QString& key)
{
    const auto dev = hosttext::firstLine(root, QStringLiteral("/sys/block/%1/dev").arg(device));
    if (!dev || dev->isEmpty())
        return {};
    const auto record = root.readTextFile(QStringLiteral("/run/udev/data/b") + *dev);
    if (!record)
        return {};
    const QString prefix = QStringLiteral("E:") + key + QLatin1Char('=');
    for (const QString& line : record->split(QLatin1Char('\n'))) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed();
    }
    return {};
}

} // namespace

bool SoftwareRaidArray::isOnline() const
{
    static const QStringList running{QStringLiteral("clean"), QStringLiteral("active"), QStringLiteral("active-idle"),
                                     QStringLiteral("write-pending"), QStringLiteral("read-auto")};
    return running.contains(arrayState) && degraded.value_or(0) == 0;
}

std::vector<SoftwareRaidArray> SoftwareRaidArray::read(const HostRoot& root)
{
    std::vector<SoftwareRaidArray> result;
    for (const QString& name : root.listDirectory(QStringLiteral("/sys/block")).value_or(QStringList())) {
        if (!name.startsWith(QLatin1String("md")))
            continue;
        if (auto array = readArray(root, name))
            result.push_back(std::move(*array));
    }
    return result;
}

std::optional<SoftwareRaidArray> SoftwareRaidArray::readArray(const HostRoot& root, const QString& device)
{
    if (device.isEmpty() || device.contains(QLatin1Char('/')))
        return std::nullopt;
    const QString md = QStringLiteral("/sys/block/%1/md/").arg(device);
    const auto entries = root.listDirectory(md);
    if (!entries)
        return std::nullopt;
    SoftwareRaidArray array;
    array.device = device;
    const auto text = [&](const char* file) { return hosttext::firstLine(root, md + QLatin1String(file)).value_or(QString()); };
    array.level = text("level");
    array.arrayState = text("array_state");
    if (const auto degraded = hosttext::parseUnsigned(text("degraded")))
        array.degraded = int(qMin<quint64>(*degraded, 1 << 20));
    array.uuid = text("uuid");
    if (array.uuid.isEmpty())
        array.uuid = udevValue(root, device, QStringLiteral("MD_UUID"));
    if (array.uuid.isEmpty())
        array.uuid = QString();
    array.name = udevValue(root, device, QStringLiteral("MD_DEVNAME"));
    if (array.name.isEmpty())
        array.name = device;
    for (const QString& entry : *entries) {
        if (entry.startsWith(QLatin1String("dev-")))
            array.members.append(entry.mid(4));
    }
    return array;
}

} // namespace platform
