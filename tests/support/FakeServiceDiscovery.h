#pragma once
// A ServiceDiscovery that a test drives by hand: it records each search and resolve and sends the events
// the test asks for, so no test sends multicast or needs a daemon. Main thread only.

#include "platform/net/ServiceDiscovery.h"

#include <QList>

#include <memory>

namespace kelvaro::test {

class FakeServiceDiscovery final : public platform::ServiceDiscovery {
public:
    struct Search {
        QString type;
        QString domain;
        platform::ServiceBrowseListener* listener = nullptr;
        bool active = true; // false once its operation was destroyed
    };
    struct Resolve {
        platform::NetService service;
        ResolveCallback done;
        bool active = true;
    };

    std::unique_ptr<platform::DiscoveryOperation> browse(const QString& type, const QString& domain,
                                                         platform::ServiceBrowseListener* listener) override;
    std::unique_ptr<platform::DiscoveryOperation> resolve(const platform::NetService& service, ResolveCallback done) override;

    const QList<std::shared_ptr<Search>>& searches() const { return searches_; }
    const QList<std::shared_ptr<Resolve>>& resolves() const { return resolves_; }
    // The newest search still running; null when there is none.
    std::shared_ptr<Search> activeSearch() const;

    // Events of the active search; an agent in "local." by default, on interface 2 over IPv4.
    void add(const QString& name, int interfaceIndex = 2, int protocol = 0);
    void remove(const QString& name, int interfaceIndex = 2, int protocol = 0);
    void allForNow();
    void fail(const platform::DiscoveryError& error);
    // Answers the newest resolve that is still waiting.
    void answerResolve(const ResolveResult& result);

    static platform::NetService agent(const QString& name);

private:
    platform::ServiceInstance instance(const QString& name, int interfaceIndex, int protocol) const;

    QList<std::shared_ptr<Search>> searches_;
    QList<std::shared_ptr<Resolve>> resolves_;
};

} // namespace kelvaro::test
