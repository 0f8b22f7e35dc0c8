#pragma once
// NetServiceBrowser: the browser the application's service lists use. It turns the discovery daemon's
// per-instance events into one find per service (on its first instance) and one removal (on its last),
// each with a "more coming" flag: during the first burst of a search events are held back until the daemon
// says it has all for now, then handed on with the flag set on all but the last of each kind; afterwards
// each event is handed on alone. Owned by its client; lives on the thread that made it, whose event loop
// delivers its callbacks.

#include "platform/net/ServiceDiscovery.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QVariantMap>

#include <memory>

namespace platform {

class NetServiceBrowser;

class NetServiceBrowserDelegate {
public:
    virtual ~NetServiceBrowserDelegate() = default;
    virtual void netServiceBrowserDidFindService(NetServiceBrowser& browser, const NetService& service, bool moreComing) = 0;
    virtual void netServiceBrowserDidRemoveService(NetServiceBrowser& browser, const NetService& service, bool moreComing) = 0;
    // The search failed and has ended; `errorDict` holds the two error keys below.
    virtual void netServiceBrowserDidNotSearch(NetServiceBrowser& browser, const QVariantMap& errorDict) = 0;
    // stop() ended the search.
    virtual void netServiceBrowserDidStopSearch(NetServiceBrowser& browser) = 0;
};

class NetServiceBrowser final : private ServiceBrowseListener {
public:
    static constexpr const char* kErrorDomainKey = "NSNetServicesErrorDomain";
    static constexpr const char* kErrorCodeKey = "NSNetServicesErrorCode";
    // Error domain numbers of the dictionary.
    enum ErrorDomain : qint64 { PosixDomain = 1, OSStatusDomain = 2, NetServicesDomain = 10 };
    // Codes of the net-services domain.
    enum ErrorCode : qint64 {
        UnknownError = -72000,
        CollisionError = -72001,
        NotFoundError = -72002,
        ActivityInProgress = -72003,
        BadArgumentError = -72004,
        TimeoutError = -72007,
    };

    explicit NetServiceBrowser(std::shared_ptr<ServiceDiscovery> discovery = ServiceDiscovery::shared());
    ~NetServiceBrowser() override;
    NetServiceBrowser(const NetServiceBrowser&) = delete;
    NetServiceBrowser& operator=(const NetServiceBrowser&) = delete;

    // Not owned; the delegate clears itself before it goes away.
    void setDelegate(NetServiceBrowserDelegate* delegate) { delegate_ = delegate; }
    NetServiceBrowserDelegate* delegate() const { return delegate_; }

    // "" searches the default domains. A browser that is already searching reports ActivityInProgress.
    void searchForServices(const QString& type, const QString& domain);
    void stop();
    bool isSearching() const { return operation_ != nullptr; }

    // The dictionary a failed search reports: a daemon that is missing or refuses us maps to the POSIX
    // domain (ECONNREFUSED, EACCES), everything else to the net-services codes.
    static QVariantMap errorDictionary(const DiscoveryError& error);

private:
    struct Event {
        NetService service;
        bool found = false;
    };
    using InstanceKey = QPair<int, int>; // interface index, protocol

    void browseAddedInstance(const ServiceInstance& instance) override;
    void browseRemovedInstance(const ServiceInstance& instance) override;
    void browseAllForNow() override;
    void browseFailed(const DiscoveryError& error) override;

    void post(const NetService& service, bool found);
    // Hands the held-back events on; false when the delegate destroyed us or stopped the search meanwhile.
    bool flush();
    bool deliver(const Event& event, bool moreComing);
    void endSearch();

    std::shared_ptr<ServiceDiscovery> discovery_;
    NetServiceBrowserDelegate* delegate_ = nullptr;
    std::unique_ptr<DiscoveryOperation> operation_;
    quint64 generation_ = 0; // counts searches, so a callback can tell that its search has ended
    bool inFirstBurst_ = false;
    QList<Event> heldBack_;
    QHash<NetService, QSet<InstanceKey>> instances_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace platform
