#include "sensors/TEVSoftwareRAIDDevice.h"

namespace {

const QString kLevel = QStringLiteral("AppleRAID-LevelName");
const QString kName = QStringLiteral("AppleRAID-SetName");
const QString kMemberUUID = QStringLiteral("AppleRAID-MemberUUID");
const QString kSetUniqueName = QStringLiteral("AppleRAID-SetUniqueName");
const QString kSetUUID = QStringLiteral("AppleRAID-SetUUID");
const QString kSetStatus = QStringLiteral("AppleRAID-SetStatus");
const QString kStatus = QStringLiteral("AppleRAID-Status");

bool qualifies(const TEVIORegistryEntry& entry, bool legacy)
{
    const QStringList keys = legacy ? QStringList{kLevel, kName, kSetUniqueName, kStatus}
                                    : QStringList{kLevel, kName, kMemberUUID, kSetStatus, kSetUUID};
    for (const QString& key : keys) {
        if (entry.stringValueWithName(key).isNull())
            return false;
    }
    return true;
}

} // namespace

std::shared_ptr<TEVSoftwareRAIDDevice> TEVSoftwareRAIDDevice::createWithIORegistryEntry(
    std::shared_ptr<TEVIORegistryEntry> entry, bool legacyMode)
{
    if (!entry || !qualifies(*entry, legacyMode))
        return nullptr;
    return std::shared_ptr<TEVSoftwareRAIDDevice>(new TEVSoftwareRAIDDevice(std::move(entry), legacyMode));
}

TEVSoftwareRAIDDevice::RAIDList TEVSoftwareRAIDDevice::allSoftwareRAIDs(TEVIORegistryEntry::Registry registry)
{
    RAIDList sets;
    for (const auto& entry : TEVIORegistryEntry::serviceObjectsMatchingName(QStringLiteral("AppleRAIDMember"), registry)
                                 .value_or(TEVIORegistryEntry::EntryList())) {
        if (auto set = createWithIORegistryEntry(entry, false))
            sets.push_back(std::move(set));
    }
    if (!sets.empty())
        return sets;
    for (const auto& media : TEVIORegistryEntry::serviceObjectsMatchingName(QStringLiteral("IOMedia"), registry)
                                 .value_or(TEVIORegistryEntry::EntryList())) {
        if (auto set = createWithIORegistryEntry(media->parentServiceEntry(), true))
            sets.push_back(std::move(set));
    }
    return sets;
}

std::shared_ptr<TEVSoftwareRAIDDevice> TEVSoftwareRAIDDevice::softwareRAIDDeviceWithIdentifier(
    const QString& identifier, TEVIORegistryEntry::Registry registry)
{
    if (identifier.isEmpty())
        return nullptr;
    for (auto& set : allSoftwareRAIDs(std::move(registry))) {
        if (set->identifier() == identifier)
            return set;
    }
    return nullptr;
}

QString TEVSoftwareRAIDDevice::name() const
{
    return entry_->stringValueWithName(kName);
}

QString TEVSoftwareRAIDDevice::identifier() const
{
    return entry_->stringValueWithName(legacyMode_ ? kSetUniqueName : kMemberUUID);
}

QString TEVSoftwareRAIDDevice::setIdentifier() const
{
    return legacyMode_ ? QString() : entry_->stringValueWithName(kSetUUID);
}

qint64 TEVSoftwareRAIDDevice::raidLevel() const
{
    const QString level = entry_->stringValueWithName(kLevel);
    if (level == QLatin1String("Mirror"))
        return 1;
    if (level == QLatin1String("Stripe") || level == QLatin1String("Concat"))
        return 0;
    return -1;
}

bool TEVSoftwareRAIDDevice::isOnline() const
{
    return entry_->stringValueWithName(legacyMode_ ? kStatus : kSetStatus)
        == (legacyMode_ ? QLatin1String("Running") : QLatin1String("Online"));
}

QString TEVSoftwareRAIDDevice::description() const
{
    const auto yesNo = [](bool b) { return b ? QStringLiteral("YES") : QStringLiteral("NO"); };
    const auto text = [](const QString& s) { return s.isNull() ? QStringLiteral("(null)") : s; };
    return QStringLiteral("TEVSoftwareRAIDDevice: legacy: ") + yesNo(legacyMode_) + QStringLiteral(" name: '") + text(name())
         + QStringLiteral("' ID: '") + text(identifier()) + QStringLiteral("' of set: '") + text(setIdentifier())
         + QStringLiteral("' level: ") + QString::number(raidLevel()) + QStringLiteral(" online: ") + yesNo(isOnline())
         + QLatin1Char('\n');
}
