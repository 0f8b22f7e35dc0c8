#include "platform/host/SystemIdentity.h"

#include "platform/host/HostText.h"

#include <QMessageAuthenticationCode>
#include <QRegularExpression>

namespace platform {

namespace {

std::optional<QString> nonEmpty(std::optional<QString> text)
{
    if (!text || text->isEmpty())
        return std::nullopt;
    return text;
}

} // namespace

std::optional<QMap<QString, QString>> SystemIdentity::osRelease(const HostRoot& root)
{
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        if (const auto text = root.readTextFile(QLatin1String(path)))
            return hosttext::parseAssignments(*text);
    }
    return std::nullopt;
}

std::optional<QString> SystemIdentity::prettyHostname(const HostRoot& root)
{
    const auto text = root.readTextFile(QStringLiteral("/etc/machine-info"));
    if (!text)
        return std::nullopt;
    return nonEmpty(hosttext::parseAssignments(*text).value(QStringLiteral("PRETTY_HOSTNAME")).trimmed());
}

std::optional<QString> SystemIdentity::hostname(const HostRoot& root)
{
    const auto name = nonEmpty(hosttext::firstLine(root, QStringLiteral("/proc/sys/kernel/hostname")));
    if (name == QStringLiteral("(none)"))
        return std::nullopt;
    return name;
}

std::optional<QUuid> SystemIdentity::machineId(const HostRoot& root)
{
    const auto text = hosttext::firstLine(root, QStringLiteral("/etc/machine-id"));
    static const QRegularExpression hex(QStringLiteral("^[0-9a-fA-F]{32}$"));
    if (!text || !hex.match(*text).hasMatch())
        return std::nullopt;
    const QString dashed = text->left(8) + QLatin1Char('-') + text->mid(8, 4) + QLatin1Char('-') + text->mid(12, 4)
        + QLatin1Char('-') + text->mid(16, 4) + QLatin1Char('-') + text->mid(20);
    const QUuid uuid = QUuid::fromString(dashed);
    if (uuid.isNull())
        return std::nullopt;
    return uuid;
}

std::optional<QUuid> SystemIdentity::applicationSpecificMachineId(const HostRoot& root, const QUuid& applicationId)
{
    const auto machine = machineId(root);
    if (!machine)
        return std::nullopt;
    QByteArray bytes = QMessageAuthenticationCode::hash(applicationId.toRfc4122(), machine->toRfc4122(),
                                                        QCryptographicHash::Sha256)
                           .left(16);
    bytes[6] = char((bytes[6] & 0x0F) | 0x40);
    bytes[8] = char((bytes[8] & 0x3F) | 0x80);
    return QUuid::fromRfc4122(bytes);
}

std::optional<QString> SystemIdentity::kernelValue(const HostRoot& root, const QString& name)
{
    return nonEmpty(hosttext::firstLine(root, QStringLiteral("/proc/sys/kernel/") + name));
}

std::optional<QString> SystemIdentity::kernelBanner(const HostRoot& root)
{
    return nonEmpty(hosttext::firstLine(root, QStringLiteral("/proc/version")));
}

std::optional<qint64> SystemIdentity::kernelVersionCode(const QString& release)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,4})\\.(\\d{1,3})(?:\\.(\\d{1,6}))?"));
    const auto match = pattern.match(release);
    if (!match.hasMatch())
        return std::nullopt;
    const qint64 major = match.captured(1).toLongLong();
    const qint64 minor = std::min<qint64>(match.captured(2).toLongLong(), 255);
    const qint64 patch = std::min<qint64>(match.captured(3).toLongLong(), 255);
    return major << 16 | minor << 8 | patch;
}

} // namespace platform
