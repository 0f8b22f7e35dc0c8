#pragma once
// ServiceDiscovery: DNS-SD browsing and resolving as the discovery daemon reports it, one event per
// instance (a service seen on two interfaces over IPv4 and IPv6 is four instances). NetServiceBrowser turns
// that into the per-service finds and removals the application sees. The process-wide one talks to avahi;
// tests install a fake. Used on one thread (normally the main thread): events arrive on the event loop of
// the thread that started the search, never from inside the call that started it.

#include "platform/net/NetService.h"

#include <functional>
#include <memory>
#include <variant>

namespace platform {

struct DiscoveryError {
    enum class Kind {
        Unavailable, // no bus, no daemon, or the daemon went away
        NotFound,
        Collision,
        BadArgument, // an invalid type, domain, name or flag
        Timeout,
        Denied,
        Unknown,
    };
    Kind kind = Kind::Unknown;
    QString detail; // the daemon's error name and text, for the log

    bool operator==(const DiscoveryError&) const = default;
};

// One sighting of a service: avahi's interface index and protocol (0 IPv4, 1 IPv6) make it unique.
struct ServiceInstance {
    int interfaceIndex = -1;
    int protocol = -1;
    NetService service;
};

class ServiceBrowseListener {
public:
    virtual ~ServiceBrowseListener() = default;
    virtual void browseAddedInstance(const ServiceInstance& instance) = 0;
    virtual void browseRemovedInstance(const ServiceInstance& instance) = 0;
    // The daemon expects no further instances soon: the end of the first burst.
    virtual void browseAllForNow() = 0;
    // The search has ended; no further event follows.
    virtual void browseFailed(const DiscoveryError& error) = 0;
};

// A running search or resolve; destroying it ends it, and no event arrives afterwards.
class DiscoveryOperation {
public:
    virtual ~DiscoveryOperation() = default;
};

class ServiceDiscovery {
public:
    using ResolveResult = std::variant<ResolvedService, DiscoveryError>;
    using ResolveCallback = std::function<void(const ResolveResult&)>;

    virtual ~ServiceDiscovery() = default;

    // Searches for services of `type` in `domain` ("" = the default domains). The listener must outlive
    // the returned operation. Never null: a search that cannot start reports browseFailed later.
    virtual std::unique_ptr<DiscoveryOperation> browse(const QString& type, const QString& domain,
                                                       ServiceBrowseListener* listener) = 0;
    // Looks up the host and port of `service`; `done` is called once, later, unless the operation was
    // destroyed first.
    virtual std::unique_ptr<DiscoveryOperation> resolve(const NetService& service, ResolveCallback done) = 0;

    // The one set last, else avahi on the system bus. Never null.
    static std::shared_ptr<ServiceDiscovery> shared();
    // Null returns to avahi.
    static void setShared(std::shared_ptr<ServiceDiscovery> discovery);
};

} // namespace platform
