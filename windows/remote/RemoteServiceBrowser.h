#pragma once
// RemoteServiceBrowser: the remote agents found on the network, as the remote-connect panel sees them: one
// set of DNS-SD services, unresolved, that changes as the search finds and loses them, and the error that
// ends a search. The Bonjour one runs TEVTCPServiceBrowser over the process's service discovery (avahi);
// tests put a fake in its place. Owned by the panel; main thread only.

#include "platform/foundation/Error.h"
#include "platform/net/NetService.h"
#include "platform/net/ServiceDiscovery.h"

#include <QObject>
#include <QSet>

#include <memory>

class RemoteServiceBrowser : public QObject {
    Q_OBJECT

public:
    using ServiceSet = QSet<platform::NetService>;

    // Searches the remote agents' service type in the default domains; null `discovery`: the process's.
    static std::unique_ptr<RemoteServiceBrowser> createBonjourBrowser(std::shared_ptr<platform::ServiceDiscovery> discovery = {});

    virtual ServiceSet services() const = 0;
    // Starts the search; nothing when it runs already.
    virtual void start() = 0;

Q_SIGNALS:
    // After each batch of finds or removals.
    void servicesDidChange();
    // The search could not start or has stopped (the cancelled-operation error, code 3072).
    void didStopWithError(const platform::Error& error);
};
