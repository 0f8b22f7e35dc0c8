#include "platform/net/NetService.h"

namespace platform {

NetService::NetService(const QString& domain, const QString& type, const QString& name)
    : domain_(absoluteName(domain))
    , type_(absoluteName(type))
    , name_(name)
{
}

QString NetService::description() const
{
    return name_ + QLatin1Char('.') + type_ + domain_;
}

QString NetService::absoluteName(const QString& dnsName)
{
    if (dnsName.isEmpty() || dnsName.endsWith(QLatin1Char('.')))
        return dnsName;
    return dnsName + QLatin1Char('.');
}

QString NetService::relativeName(const QString& dnsName)
{
    return dnsName.endsWith(QLatin1Char('.')) ? dnsName.chopped(1) : dnsName;
}

size_t qHash(const NetService& service, size_t seed) noexcept
{
    return qHashMulti(seed, service.domain(), service.type(), service.name());
}

} // namespace platform
