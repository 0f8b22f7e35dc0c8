#include "acquisition/MonitorConnectionInfo.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"
#include "platform/foundation/Values.h"

#include <cmath>

namespace values = platform::values;

namespace {

constexpr auto kClassName = "MonitorConnectionInfo";
const QString kSpecifierKey = QStringLiteral("ConnectionSpecifier");
const QString kApplicationNameKey = QStringLiteral("ApplicationName");
const QString kServiceNameKey = QStringLiteral("ServiceName");
const QString kServiceDomainKey = QStringLiteral("ServiceDomain");
const QString kServicePortKey = QStringLiteral("ServicePort");
const QString kLocal = QStringLiteral("Local");
const QString kBonjour = QStringLiteral("Bonjour");
const QString kManual = QStringLiteral("Manual");

KV_REGISTER_CLASS(QString::fromLatin1(kClassName), QStringLiteral("NSObject"), 0,
    [](platform::Coder& coder) -> platform::ObjectRef { return MonitorConnectionInfo::createWithCoder(coder); });

// Only whole numbers 0-65535: a fraction, a negative number or a boolean is no port, and nothing wraps.
std::optional<quint16> portFrom(const QVariant& value)
{
    switch (values::kindOf(value)) {
    case values::Kind::Signed:
    case values::Kind::Unsigned:
        if (const auto n = values::toUnsigned(value); n && *n <= 65535)
            return quint16(*n);
        return std::nullopt;
    case values::Kind::Real: {
        const double d = value.toDouble();
        if (std::isfinite(d) && d >= 0 && d <= 65535 && std::floor(d) == d)
            return quint16(d);
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

} // namespace

std::shared_ptr<MonitorConnectionInfo> MonitorConnectionInfo::createForLocalMachine(const QString& applicationName)
{
    if (applicationName.isEmpty())
        return nullptr;
    std::shared_ptr<MonitorConnectionInfo> info(new MonitorConnectionInfo);
    info->applicationName_ = applicationName;
    return info;
}

std::shared_ptr<MonitorConnectionInfo> MonitorConnectionInfo::createForRemoteConnection(
    const platform::NetService& service)
{
    std::shared_ptr<MonitorConnectionInfo> info(new MonitorConnectionInfo);
    info->netService_ = service;
    return info;
}

std::shared_ptr<MonitorConnectionInfo> MonitorConnectionInfo::createForRemoteConnection(const QString& hostSpecifier,
                                                                                       quint16 portNumber)
{
    if (hostSpecifier.isNull())
        return nullptr;
    std::shared_ptr<MonitorConnectionInfo> info(new MonitorConnectionInfo);
    info->hostSpecifier_ = hostSpecifier;
    info->portNumber_ = portNumber;
    return info;
}

std::shared_ptr<MonitorConnectionInfo> MonitorConnectionInfo::connectionInfoFromPropertyList(const QVariant& plist)
{
    const auto dict = values::toDictionary(plist);
    if (!dict)
        return nullptr;
    const auto specifier = values::toString(dict->value(kSpecifierKey));
    if (!specifier)
        return nullptr;
    if (*specifier == kLocal) {
        const auto name = values::toString(dict->value(kApplicationNameKey));
        return name ? createForLocalMachine(*name) : nullptr;
    }
    if (*specifier == kBonjour) {
        const auto name = values::toString(dict->value(kServiceNameKey));
        const auto domain = values::toString(dict->value(kServiceDomainKey));
        if (!name || !domain)
            return nullptr;
        return createForRemoteConnection(platform::NetService(*domain, remoteMonitoringBonjourServiceType(), *name));
    }
    if (*specifier == kManual) {
        const auto host = values::toString(dict->value(kServiceNameKey));
        const auto port = portFrom(dict->value(kServicePortKey));
        if (!host || host->isEmpty() || !port)
            return nullptr;
        return createForRemoteConnection(*host, *port);
    }
    return nullptr;
}

QVariantMap MonitorConnectionInfo::propertyListRepresentation() const
{
    if (!applicationName_.isEmpty())
        return {{kSpecifierKey, kLocal}, {kApplicationNameKey, applicationName_}};
    if (netService_)
        return {{kSpecifierKey, kBonjour},
                {kServiceNameKey, netService_->name()},
                {kServiceDomainKey, netService_->domain()}};
    return {{kSpecifierKey, kManual},
            {kServiceNameKey, hostSpecifier_},
            {kServicePortKey, values::fromUnsigned(portNumber_)}};
}

bool MonitorConnectionInfo::isEqual(const MonitorConnectionInfo& other) const
{
    if (!applicationName_.isEmpty())
        return applicationName_ == other.applicationName_;
    if (netService_)
        return other.netService_ && netService_->name() == other.netService_->name();
    return !other.hostSpecifier_.isNull() && hostSpecifier_ == other.hostSpecifier_
        && portNumber_ == other.portNumber_;
}

bool MonitorConnectionInfo::isEqual(const platform::ObjectRef& other) const
{
    const auto info = platform::objectAs<MonitorConnectionInfo>(other);
    return info && isEqual(*info);
}

QString MonitorConnectionInfo::description() const
{
    if (!applicationName_.isEmpty())
        return QStringLiteral("<local machine for application '%1'>").arg(applicationName_);
    if (netService_)
        return QStringLiteral("remote connection to Bonjour service: %1").arg(netService_->description());
    return QStringLiteral("remote connection to host '%1' port %2").arg(hostSpecifier_).arg(portNumber_);
}

void MonitorConnectionInfo::encodeWithCoder(platform::Coder& coder) const
{
    if (!coder.allowsKeyedCoding()) {
        coder.failWithReason(QStringLiteral("%1 needs a keyed coder").arg(QLatin1String(kClassName)));
        return;
    }
    const QVariantMap plist = propertyListRepresentation();
    for (auto it = plist.cbegin(); it != plist.cend(); ++it)
        coder.encodeObject(it.value(), it.key());
}

std::shared_ptr<MonitorConnectionInfo> MonitorConnectionInfo::createWithCoder(platform::Coder& coder)
{
    if (!coder.allowsKeyedCoding()) {
        coder.failWithReason(QStringLiteral("%1 needs a keyed archive").arg(QLatin1String(kClassName)));
        return nullptr;
    }
    QVariantMap plist;
    for (const QString& key : {kSpecifierKey, kApplicationNameKey, kServiceNameKey, kServiceDomainKey, kServicePortKey})
        if (coder.containsValueForKey(key))
            plist.insert(key, coder.decodeObjectOfClasses({QStringLiteral("NSString"), QStringLiteral("NSNumber")}, key));
    if (coder.hasFailed())
        return nullptr;
    auto info = connectionInfoFromPropertyList(plist);
    if (!info)
        coder.failWithReason(QStringLiteral("%1 holds no sound connection").arg(QLatin1String(kClassName)));
    return info;
}
