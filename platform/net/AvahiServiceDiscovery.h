#pragma once
// AvahiServiceDiscovery: ServiceDiscovery through the avahi daemon's D-Bus interface (org.freedesktop.Avahi,
// normally on the system bus). Holds no connection itself: each operation takes the bus when it starts, so
// the process-wide instance outlives the application object safely. Operations live on the thread that
// started them, which needs an event loop.

#include "platform/net/ServiceDiscovery.h"

#include <QDBusConnection>

#include <functional>
#include <optional>

namespace platform {

class AvahiServiceDiscovery final : public ServiceDiscovery {
public:
    using BusProvider = std::function<QDBusConnection()>;

    // `bus` gives the connection to talk on (the system bus unless a test says otherwise).
    explicit AvahiServiceDiscovery(BusProvider bus = {});

    std::unique_ptr<DiscoveryOperation> browse(const QString& type, const QString& domain,
                                               ServiceBrowseListener* listener) override;
    std::unique_ptr<DiscoveryOperation> resolve(const NetService& service, ResolveCallback done) override;

    // The daemon's host name label ("lab-mac", as in "lab-mac.local"); nothing without a daemon. Blocks
    // for at most `timeoutMs`; callable from any thread.
    std::optional<QString> hostName(int timeoutMs = 1000) const;

    // A D-Bus error (its name and message) or a Failure signal's text, as a discovery error.
    static DiscoveryError errorFromDBus(const QString& errorName, const QString& message);
    static DiscoveryError errorFromFailureText(const QString& text);

private:
    BusProvider bus_;
};

} // namespace platform
