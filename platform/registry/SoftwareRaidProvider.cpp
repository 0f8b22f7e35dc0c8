#include "platform/registry/SoftwareRaidProvider.h"

#include "platform/foundation/Values.h"
#include "platform/host/SoftwareRaidArrays.h"

#include <QFileInfo>

#include <utility>

namespace platform {

namespace {

class RaidPropertySource final : public IORegistryPropertySource {
public:
    RaidPropertySource(HostRoot root, QString device) : root_(std::move(root)), device_(std::move(device)) {}
    QVariantMap properties() const override { return SoftwareRaidProvider::readProperties(root_, device_); }
    QString identity() const override { return QStringLiteral("md/") + device_; }

private:
    HostRoot root_;
    QString device_;
};

} // namespace

QString SoftwareRaidProvider::levelName(const QString& mdLevel)
{
    if (mdLevel == QLatin1String("raid1"))
        return QStringLiteral("Mirror");
    if (mdLevel == QLatin1String("raid0"))
        return QStringLiteral("Stripe");
    if (mdLevel == QLatin1String("linear"))
        return QStringLiteral("Concat");
    return mdLevel.toUpper();
}

QString SoftwareRaidProvider::statusText(const SoftwareRaidArray& array)
{
    if (array.isOnline())
        return QStringLiteral("Online");
    if (array.degraded.value_or(0) > 0 && array.arrayState != QLatin1String("inactive")
        && array.arrayState != QLatin1String("clear"))
        return QStringLiteral("Degraded");
    return QStringLiteral("Offline");
}

QVariantMap SoftwareRaidProvider::readProperties(const HostRoot& root, const QString& device)
{
    const auto array = SoftwareRaidArray::readArray(root, device);
    if (!array)
        return {};
    QVariantMap result{{QStringLiteral("BSD Name"), array->device},
                       {QStringLiteral("AppleRAID-LevelName"), levelName(array->level)},
                       {QStringLiteral("AppleRAID-SetName"), array->name},
                       {QStringLiteral("AppleRAID-SetStatus"), statusText(*array)}};
    // md has one UUID per array; it identifies both the member entry and the set.
    if (!array->uuid.isNull()) {
        result.insert(QStringLiteral("AppleRAID-MemberUUID"), array->uuid);
        result.insert(QStringLiteral("AppleRAID-SetUUID"), array->uuid);
    }
    QVariantList members;
    for (const QString& member : array->members)
        members.append(member);
    result.insert(QStringLiteral("AppleRAID-Members"), members);
    return result;
}

std::optional<QByteArray> SoftwareRaidProvider::changeSignature(const HostRoot& root) const
{
    // An md device whose array is stopped keeps its node for a while but loses its md folder.
    QByteArray signature;
    for (const QString& name : root.listDirectory(QStringLiteral("/sys/block")).value_or(QStringList())) {
        if (name.startsWith(QLatin1String("md")) && QFileInfo(root.path(QStringLiteral("/sys/block/%1/md").arg(name))).isDir())
            signature += name.toUtf8() + '\n';
    }
    return signature;
}

void SoftwareRaidProvider::addEntries(const HostRoot& root, IORegistry::Builder& builder) const
{
    for (const auto& array : SoftwareRaidArray::read(root)) {
        builder.add(IORegistry::RootIndex,
                    {QStringLiteral("AppleRAIDMember"), QStringLiteral("IOService"), QStringLiteral("IORegistryEntry")},
                    array.device, std::make_shared<RaidPropertySource>(root, array.device));
    }
}

} // namespace platform
