#include "app/model/MachineSpecifier.h"

#include "framework/TEVHost.h"
#include "framework/TEVIPv4Address.h"
#include "framework/TEVIPv6Address.h"
#include "platform/foundation/HostRoot.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "platform/host/SystemIdentity.h"

namespace {

const QString kNameKey = QStringLiteral("HostOrComputerName");
const QString kSerialKey = QStringLiteral("SerialNumber");

} // namespace

MachineSpecifier::MachineSpecifier(const QString& hostname, const QString& serialNumber)
    : hostname_(hostname), serialNumber_(serialNumber)
{
}

std::optional<MachineSpecifier::List> MachineSpecifier::specifierArrayForDictionaryArray(const QVariant& array)
{
    if (!array.isValid())
        return std::nullopt;
    const std::optional<QVariantList> dictionaries = platform::values::toArray(array);
    if (!dictionaries) {
        platform::log("MachineSpecifier", QStringLiteral("ignoring a computer list that is %1, not an array")
                                              .arg(QString::fromLatin1(platform::values::kindName(platform::values::kindOf(array)))));
        return std::nullopt;
    }
    List specifiers;
    for (const QVariant& dictionary : *dictionaries) {
        if (auto specifier = createWithDictionary(dictionary))
            specifiers.append(std::move(specifier));
    }
    return specifiers;
}

std::shared_ptr<MachineSpecifier> MachineSpecifier::createWithSerialNumber(const QString& serialNumber)
{
    if (serialNumber.isNull())
        return nullptr;
    QString representation;
    if (const std::shared_ptr<TEVHost> host = TEVHost::localHost())
        representation = host->bestRepresentation();
    const QString name = localNameFromHostRepresentation(representation, systemComputerName(*platform::HostRoot::current()));
    return std::make_shared<MachineSpecifier>(name, serialNumber);
}

std::shared_ptr<MachineSpecifier> MachineSpecifier::createWithDictionary(const QVariant& dictionary)
{
    const std::optional<QVariantMap> map = platform::values::toDictionary(dictionary);
    if (!map)
        return nullptr;
    const std::optional<QString> name = platform::values::toString(map->value(kNameKey));
    const std::optional<QString> serial = platform::values::toString(map->value(kSerialKey));
    if (!name || !serial)
        return nullptr;
    return std::make_shared<MachineSpecifier>(*name, *serial);
}

QString MachineSpecifier::localNameFromHostRepresentation(const QString& bestRepresentation, const QString& computerName)
{
    // An address or the unresolved marker says nothing to the user; the computer name does.
    if (bestRepresentation.isEmpty() || TEVIPv4Address::isValidAddress(bestRepresentation)
        || TEVIPv6Address::isValidAddress(bestRepresentation) || bestRepresentation == TEVHost::specifierForFailedDNSRequest())
        return computerName;
    return bestRepresentation;
}

QString MachineSpecifier::systemComputerName(const platform::HostRoot& root)
{
    if (const std::optional<QString> pretty = platform::SystemIdentity::prettyHostname(root))
        return *pretty;
    return platform::SystemIdentity::hostname(root).value_or(QStringLiteral(""));
}

QVariantMap MachineSpecifier::dictionaryRepresentation() const
{
    return {{kNameKey, platform::values::fromString(hostname_)}, {kSerialKey, platform::values::fromString(serialNumber_)}};
}
