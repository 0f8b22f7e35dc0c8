#pragma once
// TEVTCPServiceBrowser: the remote agents found on the network, as one observable set of services that
// changes once per batch of finds or removals, each change announced before and after. Search failures
// reach the delegate as errors. Owned by the remote-connect panel; main thread only. Observers must not
// destroy the browser from a change announcement.

#include "platform/foundation/Error.h"
#include "platform/net/NetServiceBrowser.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

class TEVTCPServiceBrowser;

class TEVTCPServiceBrowserDelegate {
public:
    virtual ~TEVTCPServiceBrowserDelegate() = default;
    virtual void browserDidStopWithError(TEVTCPServiceBrowser& browser, const platform::Error& error)
    {
        Q_UNUSED(browser);
        Q_UNUSED(error);
    }
};

class TEVTCPServiceBrowser final : public QObject, public platform::NetServiceBrowserDelegate {
    Q_OBJECT

public:
    using ServiceSet = QSet<platform::NetService>;
    enum class SetMutation { Union, Minus, Intersect, Set };
    Q_ENUM(SetMutation)

    static constexpr const char* kDefaultRunLoopMode = "kCFRunLoopDefaultMode";

    // A null domain browses the default domains. Null for an empty type.
    static std::shared_ptr<TEVTCPServiceBrowser> createForNetServiceWithDomain(
        const QString& domain, const QString& type,
        std::shared_ptr<platform::ServiceDiscovery> discovery = platform::ServiceDiscovery::shared());

    ~TEVTCPServiceBrowser() override;

    const QString& domain() const { return domain_; }
    const QString& type() const { return type_; }
    std::shared_ptr<TEVTCPServiceBrowserDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<TEVTCPServiceBrowserDelegate> delegate) { delegate_ = std::move(delegate); }
    const ServiceSet& services() const { return services_; }
    const QSet<QString>& runLoopModes() const { return runLoopModes_; }
    const ServiceSet& pendingServicesToAdd() const { return pendingServicesToAdd_; }
    const ServiceSet& pendingServicesToRemove() const { return pendingServicesToRemove_; }
    platform::NetServiceBrowser* netBrowser() const { return netBrowser_.get(); }
    bool isStarted() const { return netBrowser_ != nullptr; }

    void start();
    void stop();
    // Hands a non-null error to the delegate; the search is left as it is.
    void stopWithError(const std::optional<platform::Error>& error);
    // Only while started; the set is read by the next start.
    void addRunLoopMode(const QString& mode);
    void removeRunLoopMode(const QString& mode);

Q_SIGNALS:
    void willChangeServices(TEVTCPServiceBrowser::SetMutation mutation, const TEVTCPServiceBrowser::ServiceSet& objects);
    void didChangeServices(TEVTCPServiceBrowser::SetMutation mutation, const TEVTCPServiceBrowser::ServiceSet& objects);
    void willChangeIsStarted();
    void didChangeIsStarted();

public:
    // From the platform browser; acted on only when they come from the current one.
    void netServiceBrowserDidFindService(platform::NetServiceBrowser& browser, const platform::NetService& service, bool moreComing) override;
    void netServiceBrowserDidRemoveService(platform::NetServiceBrowser& browser, const platform::NetService& service, bool moreComing) override;
    void netServiceBrowserDidNotSearch(platform::NetServiceBrowser& browser, const QVariantMap& errorDict) override;
    void netServiceBrowserDidStopSearch(platform::NetServiceBrowser& browser) override;

private:
    TEVTCPServiceBrowser(const QString& domain, const QString& type, std::shared_ptr<platform::ServiceDiscovery> discovery);

    void applyBatch(ServiceSet& pending, SetMutation mutation);

    const QString domain_;
    const QString type_;
    std::shared_ptr<platform::ServiceDiscovery> discovery_;
    std::weak_ptr<TEVTCPServiceBrowserDelegate> delegate_;
    ServiceSet services_;
    QSet<QString> runLoopModes_;
    std::unique_ptr<platform::NetServiceBrowser> netBrowser_;
    ServiceSet pendingServicesToAdd_;
    ServiceSet pendingServicesToRemove_;
};
