#include "acquisition/TEVTCPServiceBrowser.h"

#include "platform/foundation/Values.h"

namespace {

// The error a search that ended (rather than failed) reports: a cancelled operation.
constexpr qint64 kUserCancelledError = 3072;

QString errorDomainForNumber(qint64 number)
{
    switch (number) {
    case platform::NetServiceBrowser::PosixDomain: return QStringLiteral("NSPOSIXErrorDomain");
    case platform::NetServiceBrowser::OSStatusDomain: return QStringLiteral("NSOSStatusErrorDomain");
    default: return QStringLiteral("kCFErrorDomainCFNetwork");
    }
}

} // namespace

std::shared_ptr<TEVTCPServiceBrowser> TEVTCPServiceBrowser::createForNetServiceWithDomain(
    const QString& domain, const QString& type, std::shared_ptr<platform::ServiceDiscovery> discovery)
{
    if (type.isEmpty() || !discovery)
        return nullptr;
    return std::shared_ptr<TEVTCPServiceBrowser>(new TEVTCPServiceBrowser(domain, type, std::move(discovery)));
}

TEVTCPServiceBrowser::TEVTCPServiceBrowser(const QString& domain, const QString& type, std::shared_ptr<platform::ServiceDiscovery> discovery)
    : domain_(domain)
    , type_(type)
    , discovery_(std::move(discovery))
    , runLoopModes_{QString::fromLatin1(kDefaultRunLoopMode)}
{
}

TEVTCPServiceBrowser::~TEVTCPServiceBrowser()
{
    if (netBrowser_)
        netBrowser_->setDelegate(nullptr);
}

void TEVTCPServiceBrowser::start()
{
    if (netBrowser_)
        return;
    Q_EMIT willChangeIsStarted();
    netBrowser_ = std::make_unique<platform::NetServiceBrowser>(discovery_);
    Q_EMIT didChangeIsStarted();
    netBrowser_->setDelegate(this);
    // Discovery events arrive on this thread's event loop, whatever mode it runs in; the modes are kept
    // for those who read them.
    netBrowser_->searchForServices(type_, domain_.isNull() ? QString(QLatin1String("")) : domain_);
}

void TEVTCPServiceBrowser::stop()
{
    if (!netBrowser_)
        return;
    netBrowser_->setDelegate(nullptr);
    netBrowser_->stop();
    Q_EMIT willChangeIsStarted();
    netBrowser_.reset();
    Q_EMIT didChangeIsStarted();
    const ServiceSet empty;
    Q_EMIT willChangeServices(SetMutation::Set, empty);
    services_.clear();
    Q_EMIT didChangeServices(SetMutation::Set, empty);
    pendingServicesToAdd_.clear();
    pendingServicesToRemove_.clear();
}

void TEVTCPServiceBrowser::stopWithError(const std::optional<platform::Error>& error)
{
    if (!error)
        return;
    if (const auto delegate = delegate_.lock())
        delegate->browserDidStopWithError(*this, *error);
}

void TEVTCPServiceBrowser::addRunLoopMode(const QString& mode)
{
    if (netBrowser_ && !mode.isEmpty())
        runLoopModes_.insert(mode);
}

void TEVTCPServiceBrowser::removeRunLoopMode(const QString& mode)
{
    if (netBrowser_ && !mode.isEmpty())
        runLoopModes_.remove(mode);
}

void TEVTCPServiceBrowser::applyBatch(ServiceSet& pending, SetMutation mutation)
{
    const ServiceSet batch = std::exchange(pending, {});
    Q_EMIT willChangeServices(mutation, batch);
    if (mutation == SetMutation::Union)
        services_.unite(batch);
    else
        services_.subtract(batch);
    Q_EMIT didChangeServices(mutation, batch);
}

void TEVTCPServiceBrowser::netServiceBrowserDidFindService(platform::NetServiceBrowser& browser, const platform::NetService& service,
                                                           bool moreComing)
{
    if (&browser != netBrowser_.get())
        return;
    pendingServicesToAdd_.insert(service);
    if (!moreComing)
        applyBatch(pendingServicesToAdd_, SetMutation::Union);
}

void TEVTCPServiceBrowser::netServiceBrowserDidRemoveService(platform::NetServiceBrowser& browser, const platform::NetService& service,
                                                             bool moreComing)
{
    if (&browser != netBrowser_.get())
        return;
    pendingServicesToRemove_.insert(service);
    if (!moreComing)
        applyBatch(pendingServicesToRemove_, SetMutation::Minus);
}

void TEVTCPServiceBrowser::netServiceBrowserDidNotSearch(platform::NetServiceBrowser& browser, const QVariantMap& errorDict)
{
    if (&browser != netBrowser_.get())
        return;
    using platform::values::toSigned;
    const qint64 domain = toSigned(errorDict.value(QString::fromLatin1(platform::NetServiceBrowser::kErrorDomainKey))).value_or(0);
    const qint64 code = toSigned(errorDict.value(QString::fromLatin1(platform::NetServiceBrowser::kErrorCodeKey))).value_or(0);
    stopWithError(platform::Error{errorDomainForNumber(domain), code, {}});
}

void TEVTCPServiceBrowser::netServiceBrowserDidStopSearch(platform::NetServiceBrowser& browser)
{
    if (&browser != netBrowser_.get())
        return;
    stopWithError(platform::Error{QStringLiteral("NSCocoaErrorDomain"), kUserCancelledError, {}});
}
