#include "sensors/TEVBlockStorageDeviceInfo.h"

#include "platform/foundation/Values.h"
#include "sensors/TEVSMARTStorageDevice.h"

namespace values = platform::values;

std::vector<std::shared_ptr<TEVBlockStorageDeviceInfo>> TEVBlockStorageDeviceInfo::allBlockStorageDeviceInfos(
    TEVIORegistryEntry::Registry registry, std::shared_ptr<const platform::AtaSmartTransport> transport)
{
    std::vector<std::shared_ptr<TEVBlockStorageDeviceInfo>> result;
    const auto entries = TEVIORegistryEntry::serviceObjectsMatchingName(QStringLiteral("IOBlockStorageDevice"), std::move(registry));
    if (!entries)
        return result;
    for (const auto& entry : *entries) {
        if (auto info = createWithIORegistryEntry(entry, transport))
            result.push_back(std::move(info));
    }
    return result;
}

QVariantList TEVBlockStorageDeviceInfo::blockStorageDeviceDescriptions(TEVIORegistryEntry::Registry registry,
                                                                       std::shared_ptr<const platform::AtaSmartTransport> transport)
{
    QVariantList descriptions;
    for (const auto& info : allBlockStorageDeviceInfos(std::move(registry), std::move(transport)))
        descriptions.append(info->infoDictionary());
    return descriptions;
}

std::shared_ptr<TEVBlockStorageDeviceInfo> TEVBlockStorageDeviceInfo::createWithIORegistryEntry(
    std::shared_ptr<TEVIORegistryEntry> entry, std::shared_ptr<const platform::AtaSmartTransport> transport)
{
    if (!entry)
        return nullptr;
    const std::optional<QVariantMap> properties = entry->properties();
    if (!properties)
        return nullptr;
    const std::optional<QVariantMap> device = values::toDictionary(properties->value(QStringLiteral("Device Characteristics")));
    const std::optional<QVariantMap> protocol = values::toDictionary(properties->value(QStringLiteral("Protocol Characteristics")));
    if (!device || !protocol)
        return nullptr;
    const std::optional<QString> vendor = values::toString(device->value(QStringLiteral("Vendor Name")));
    const std::optional<QString> product = values::toString(device->value(QStringLiteral("Product Name")));
    const std::optional<QString> interconnect = values::toString(protocol->value(QStringLiteral("Physical Interconnect")));
    if (!product || !interconnect)
        return nullptr;

    const bool supportsSMART = TEVSMARTStorageDevice::storageDeviceEntryIndicatesSMARTSupport(entry.get(), false);
    qint64 status = TEVSMARTStorageDevice::StatusUnknown;
    QString serial = QString(QLatin1String(""));
    if (supportsSMART) {
        if (const auto drive = TEVSMARTStorageDevice::createWithIORegistryEntry(entry, false, std::move(transport))) {
            status = drive->currentSMARTStatus();
            serial = drive->serialNumber();
        }
    }

    QString bsdName = QString(QLatin1String(""));
    for (auto below = entry->childServiceEntry(); below; below = below->childServiceEntry()) {
        if (below->hasValueWithName(QStringLiteral("BSD Name"))) {
            const QString name = below->stringValueWithName(QStringLiteral("BSD Name"));
            // Only a string counts; data that reads as text does not.
            if (values::kindOf(below->properties().value_or(QVariantMap()).value(QStringLiteral("BSD Name"))) == values::Kind::String)
                bsdName = name;
            break;
        }
    }

    const QString trimmedProduct = product->trimmed();
    const QString trimmedVendor = vendor ? vendor->trimmed() : QString();
    auto info = std::shared_ptr<TEVBlockStorageDeviceInfo>(new TEVBlockStorageDeviceInfo());
    info->infoDictionary_ = QVariantMap{
        {QStringLiteral("VendorAndProduct"),
         // A blank vendor counts as none rather than leaving a leading space.
         !trimmedVendor.isEmpty() ? QStringLiteral("%1 %2").arg(trimmedVendor, trimmedProduct) : trimmedProduct},
        {QStringLiteral("InterconnectProtocol"), interconnect->trimmed()},
        {QStringLiteral("SupportsSMART"), values::fromBool(supportsSMART)},
        {QStringLiteral("SMARTStatus"), values::fromSigned(status)},
        {QStringLiteral("SMARTSerialNumber"), serial},
        {QStringLiteral("BSDDeviceName"), bsdName},
    };
    return info;
}
