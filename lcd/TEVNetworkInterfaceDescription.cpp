#include "lcd/TEVNetworkInterfaceDescription.h"

#include "platform/foundation/Log.h"

TEVNetworkInterfaceDescription::List TEVNetworkInterfaceDescription::allPhysicalNetworkInterfaces(
    std::shared_ptr<const platform::HostRoot> root, platform::NetworkInterfaceDetails::MtuLimitsQuery query)
{
    if (!root)
        root = platform::HostRoot::current();
    if (!query)
        query = platform::NetworkInterfaceDetails::liveQuery(*root);
    List list;
    for (const auto& interface : platform::NetworkInterfaceDetails::physicalInterfaces(*root, query)) {
        if (auto description = createWithIORegistryEntry(interface, root))
            list.push_back(description);
    }
    return list;
}

QString TEVNetworkInterfaceDescription::readableIPv4AddressForDarwinInterfaceName(const QString& name)
{
    return platform::NetworkInterfaceDetails::ipv4Address(name).value_or(QString());
}

std::shared_ptr<TEVNetworkInterfaceDescription> TEVNetworkInterfaceDescription::createWithIORegistryEntry(
    const std::optional<platform::PhysicalNetworkInterface>& entry, std::shared_ptr<const platform::HostRoot> root)
{
    if (!entry)
        return nullptr;
    std::shared_ptr<TEVNetworkInterfaceDescription> description(new TEVNetworkInterfaceDescription);
    description->darwinName_ = entry->name;
    description->root_ = root ? std::move(root) : platform::HostRoot::current();
    description->wireless_ = entry->wireless;
    description->refreshMTUValue();
    description->minimumMTU_ = entry->minimumMTU;
    description->maximumMTU_ = entry->maximumMTU;
    description->macAddress_ = entry->address;
    if (description->darwinName_.isEmpty() || description->mtu_ == 0 || description->minimumMTU_ <= 8
        || description->maximumMTU_ <= 1 || description->macAddress_.isEmpty())
        return nullptr;
    return description;
}

void TEVNetworkInterfaceDescription::getMTULimitsMinimum(qint64* minimum, qint64* maximum) const
{
    if (minimum)
        *minimum = minimumMTU_;
    if (maximum)
        *maximum = maximumMTU_;
}

void TEVNetworkInterfaceDescription::refreshMTUValue()
{
    mtu_ = 1500;
    if (darwinName_.isEmpty())
        return;
    using Details = platform::NetworkInterfaceDetails;
    Details::Failure failure = Details::Failure::None;
    if (const auto mtu = Details::currentMTU(*root_, darwinName_, &failure))
        mtu_ = *mtu;
    else if (failure == Details::Failure::Socket)
        platform::log(QStringLiteral("Could not open socket\n"));
    else
        platform::log(QStringLiteral("ioctl for interface failed\n"));
}

QString TEVNetworkInterfaceDescription::description() const
{
    return QString::asprintf("TEVNetworkInterfaceDescription: interface '%s' wireless: %d MTU: %lld MTU limits: %lld..%lld\n",
                             darwinName_.toUtf8().constData(), int(wireless_), static_cast<long long>(mtu_),
                             static_cast<long long>(minimumMTU_), static_cast<long long>(maximumMTU_));
}
