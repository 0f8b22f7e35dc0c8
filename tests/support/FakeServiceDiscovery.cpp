#include "tests/support/FakeServiceDiscovery.h"

#include <gtest/gtest.h>

namespace kelvaro::test {
namespace {

class Operation final : public platform::DiscoveryOperation {
public:
    explicit Operation(std::function<void()> ended) : ended_(std::move(ended)) {}
    ~Operation() override { ended_(); }

private:
    std::function<void()> ended_;
};

} // namespace

std::unique_ptr<platform::DiscoveryOperation> FakeServiceDiscovery::browse(const QString& type, const QString& domain,
                                                                           platform::ServiceBrowseListener* listener)
{
    auto search = std::make_shared<Search>(Search{type, domain, listener, true});
    searches_.append(search);
    return std::make_unique<Operation>([search] { search->active = false; });
}

std::unique_ptr<platform::DiscoveryOperation> FakeServiceDiscovery::resolve(const platform::NetService& service, ResolveCallback done)
{
    auto pending = std::make_shared<Resolve>(Resolve{service, std::move(done), true});
    resolves_.append(pending);
    return std::make_unique<Operation>([pending] { pending->active = false; });
}

std::shared_ptr<FakeServiceDiscovery::Search> FakeServiceDiscovery::activeSearch() const
{
    for (auto it = searches_.crbegin(); it != searches_.crend(); ++it) {
        if ((*it)->active)
            return *it;
    }
    return nullptr;
}

platform::NetService FakeServiceDiscovery::agent(const QString& name)
{
    return platform::NetService(QStringLiteral("local."), QStringLiteral("_x-tevkelvaro._tcp."), name);
}

platform::ServiceInstance FakeServiceDiscovery::instance(const QString& name, int interfaceIndex, int protocol) const
{
    return {interfaceIndex, protocol, agent(name)};
}

void FakeServiceDiscovery::add(const QString& name, int interfaceIndex, int protocol)
{
    const auto search = activeSearch();
    ASSERT_TRUE(search) << "no search is running";
    search->listener->browseAddedInstance(instance(name, interfaceIndex, protocol));
}

void FakeServiceDiscovery::remove(const QString& name, int interfaceIndex, int protocol)
{
    const auto search = activeSearch();
    ASSERT_TRUE(search) << "no search is running";
    search->listener->browseRemovedInstance(instance(name, interfaceIndex, protocol));
}

void FakeServiceDiscovery::allForNow()
{
    const auto search = activeSearch();
    ASSERT_TRUE(search) << "no search is running";
    search->listener->browseAllForNow();
}

void FakeServiceDiscovery::fail(const platform::DiscoveryError& error)
{
    const auto search = activeSearch();
    ASSERT_TRUE(search) << "no search is running";
    search->listener->browseFailed(error);
}

void FakeServiceDiscovery::answerResolve(const ResolveResult& result)
{
    for (auto it = resolves_.rbegin(); it != resolves_.rend(); ++it) {
        if ((*it)->active && (*it)->done) {
            auto done = std::exchange((*it)->done, {});
            done(result);
            return;
        }
    }
    ADD_FAILURE() << "no resolve is waiting";
}

} // namespace kelvaro::test
