#include "platform/net/NetServiceBrowser.h"

#include "platform/foundation/Log.h"

#include <QTimer>

#include <cerrno>

namespace platform {
namespace {

const char* const kClassName = "NetServiceBrowser";

// An operation may be in the middle of its own callback when we let go of it (a delegate that stops the
// search from a callback); it is destroyed on a later turn of the event loop instead.
void releaseLater(std::unique_ptr<DiscoveryOperation> operation)
{
    if (!operation)
        return;
    std::shared_ptr<DiscoveryOperation> held(std::move(operation));
    QTimer::singleShot(0, [held] {});
}

} // namespace

NetServiceBrowser::NetServiceBrowser(std::shared_ptr<ServiceDiscovery> discovery)
    : discovery_(std::move(discovery))
{
}

NetServiceBrowser::~NetServiceBrowser()
{
    releaseLater(std::move(operation_));
}

void NetServiceBrowser::searchForServices(const QString& type, const QString& domain)
{
    if (operation_) {
        if (delegate_)
            delegate_->netServiceBrowserDidNotSearch(*this, {{QString::fromLatin1(kErrorDomainKey), qint64(NetServicesDomain)},
                                                             {QString::fromLatin1(kErrorCodeKey), qint64(ActivityInProgress)}});
        return;
    }
    ++generation_;
    inFirstBurst_ = true;
    operation_ = discovery_->browse(type, domain, this);
}

void NetServiceBrowser::stop()
{
    if (!operation_)
        return;
    endSearch();
    if (delegate_)
        delegate_->netServiceBrowserDidStopSearch(*this);
}

void NetServiceBrowser::endSearch()
{
    ++generation_;
    releaseLater(std::move(operation_));
    heldBack_.clear();
    instances_.clear();
    inFirstBurst_ = false;
}

void NetServiceBrowser::browseAddedInstance(const ServiceInstance& instance)
{
    QSet<InstanceKey>& seen = instances_[instance.service];
    const bool first = seen.isEmpty();
    seen.insert({instance.interfaceIndex, instance.protocol});
    if (first)
        post(instance.service, true);
}

void NetServiceBrowser::browseRemovedInstance(const ServiceInstance& instance)
{
    auto it = instances_.find(instance.service);
    // A removal of an instance never reported (or reported twice) changes nothing.
    if (it == instances_.end() || !it->remove({instance.interfaceIndex, instance.protocol}))
        return;
    if (!it->isEmpty())
        return;
    instances_.erase(it);
    post(instance.service, false);
}

void NetServiceBrowser::post(const NetService& service, bool found)
{
    if (inFirstBurst_) {
        // A service that came and went within the burst is no news.
        for (qsizetype i = 0; i < heldBack_.size(); ++i) {
            if (heldBack_.at(i).service == service && heldBack_.at(i).found != found) {
                heldBack_.removeAt(i);
                return;
            }
        }
        heldBack_.append({service, found});
        return;
    }
    deliver({service, found}, false);
}

void NetServiceBrowser::browseAllForNow()
{
    if (!inFirstBurst_)
        return;
    inFirstBurst_ = false;
    flush();
}

bool NetServiceBrowser::flush()
{
    const QList<Event> events = std::exchange(heldBack_, {});
    for (qsizetype i = 0; i < events.size(); ++i) {
        bool moreComing = false;
        for (qsizetype j = i + 1; j < events.size() && !moreComing; ++j)
            moreComing = events.at(j).found == events.at(i).found;
        if (!deliver(events.at(i), moreComing))
            return false;
    }
    return true;
}

bool NetServiceBrowser::deliver(const Event& event, bool moreComing)
{
    if (!delegate_)
        return true;
    const std::weak_ptr<bool> alive = alive_;
    const quint64 generation = generation_;
    if (event.found)
        delegate_->netServiceBrowserDidFindService(*this, event.service, moreComing);
    else
        delegate_->netServiceBrowserDidRemoveService(*this, event.service, moreComing);
    return !alive.expired() && generation == generation_;
}

void NetServiceBrowser::browseFailed(const DiscoveryError& error)
{
    log(kClassName, QStringLiteral("search failed: %1").arg(error.detail));
    // What the burst found so far is still news; the failure comes after it.
    if (!flush())
        return;
    endSearch();
    if (delegate_)
        delegate_->netServiceBrowserDidNotSearch(*this, errorDictionary(error));
}

QVariantMap NetServiceBrowser::errorDictionary(const DiscoveryError& error)
{
    using Kind = DiscoveryError::Kind;
    qint64 domain = NetServicesDomain;
    qint64 code = UnknownError;
    switch (error.kind) {
    case Kind::Unavailable: domain = PosixDomain; code = ECONNREFUSED; break;
    case Kind::Denied: domain = PosixDomain; code = EACCES; break;
    case Kind::NotFound: code = NotFoundError; break;
    case Kind::Collision: code = CollisionError; break;
    case Kind::BadArgument: code = BadArgumentError; break;
    case Kind::Timeout: code = TimeoutError; break;
    case Kind::Unknown: break;
    }
    return {{QString::fromLatin1(kErrorDomainKey), domain}, {QString::fromLatin1(kErrorCodeKey), code}};
}

} // namespace platform
