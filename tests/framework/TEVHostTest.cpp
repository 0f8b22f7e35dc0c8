#include "framework/TEVHost.h"

#include "tests/support/FakeNameResolver.h"
#include "tests/support/TestEnvironment.h"

#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

using kelvaro::test::FakeNameResolver;
using platform::HostEntry;

class TEVHostTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeNameResolver> install(FakeNameResolver::Answers answers)
    {
        resolver_ = std::make_shared<FakeNameResolver>(std::move(answers));
        platform::NameResolver::setShared(resolver_);
        return resolver_;
    }
    void TearDown() override
    {
        if (resolver_)
            resolver_->setGateClosed(false);
        platform::NameResolver::setShared(nullptr);
    }

    // A host whose lists are given, as the merge leaves them.
    static std::shared_ptr<TEVHost> hostWith(const QStringList& names, const QStringList& addresses)
    {
        auto host = TEVHost::create();
        host->updateHostDataWithNames(names, addresses);
        return host;
    }

    std::shared_ptr<FakeNameResolver> resolver_;
};

TEST_F(TEVHostTest, CreationQueriesByAddressOrByName)
{
    FakeNameResolver::Answers answers;
    answers.byAddress[QStringLiteral("192.0.2.1")] = HostEntry{{QStringLiteral("gw.example.org")}, {QStringLiteral("192.0.2.1")}};
    answers.byName[QStringLiteral("gw")] = HostEntry{{QStringLiteral("gw.example.org"), QStringLiteral("gw")},
                                                     {QStringLiteral("192.0.2.1"), QStringLiteral("2001:db8::1")}};
    const auto resolver = install(answers);

    EXPECT_FALSE(TEVHost::createWithString(QString()));
    EXPECT_FALSE(TEVHost::createWithString(QStringLiteral("")));

    const auto byAddress = TEVHost::createWithString(QStringLiteral("192.0.2.1"));
    ASSERT_TRUE(byAddress);
    byAddress->waitForCompleteResults();
    EXPECT_EQ(resolver->calls().first(), QStringLiteral("hostByAddress 192.0.2.1"));

    const auto byName = TEVHost::createWithString(QStringLiteral("gw"));
    byName->waitForCompleteResults();
    EXPECT_TRUE(resolver->calls().contains(QStringLiteral("hostByName gw")));
    EXPECT_EQ(byName->knownNames(), (QStringList{QStringLiteral("gw.example.org"), QStringLiteral("gw")}));
    EXPECT_EQ(byName->knownAddresses().size(), 2);
    EXPECT_EQ(byName->originalSpecifier(), QStringLiteral("gw"));
}

TEST_F(TEVHostTest, BackgroundResultReplacesQuickOneAndKeepsHostAlive)
{
    FakeNameResolver::Answers answers;
    answers.byName[QStringLiteral("lab")] = HostEntry{{QStringLiteral("lab.example.org"), QStringLiteral("lab")},
                                                      {QStringLiteral("192.0.2.9"), QStringLiteral("2001:db8::9")}};
    const auto resolver = install(answers);
    resolver->setGateClosed(true);

    // The quick query found a name, so creation does not wait for the held background lookup.
    auto host = TEVHost::createWithString(QStringLiteral("lab"));
    ASSERT_TRUE(host);
    EXPECT_FALSE(host->isLikelyComplete());
    EXPECT_EQ(host->knownNames(), QStringList{QStringLiteral("lab.example.org")});
    EXPECT_EQ(host->knownIPv4Addresses().size(), 1);
    EXPECT_TRUE(host->knownIPv6Addresses().isEmpty());

    const std::weak_ptr<TEVHost> weak = host;
    host.reset();
    ASSERT_FALSE(weak.expired()) << "the resolver thread holds its host";
    resolver->setGateClosed(false);
    const auto again = weak.lock();
    ASSERT_TRUE(again);
    again->waitForCompleteResults();
    EXPECT_EQ(again->knownNames().size(), 2);
    EXPECT_EQ(again->knownIPv6Addresses().size(), 1);
}

TEST_F(TEVHostTest, FailedLookupCompletesAndRepresentsAsMarker)
{
    install({});
    const auto host = TEVHost::createWithString(QStringLiteral("nowhere.invalid"));
    ASSERT_TRUE(host);
    EXPECT_TRUE(host->isLikelyComplete());
    EXPECT_EQ(host->bestRepresentation(), QStringLiteral("<?>"));
}

TEST_F(TEVHostTest, MergeSortsAddressFamiliesAndLogsStrangeTexts)
{
    const auto host = hostWith({QStringLiteral("a")}, {QStringLiteral("::1"), QStringLiteral("10.0.0.1"), QStringLiteral("fe80::1%eth0")});
    EXPECT_EQ(host->knownIPv4Addresses().size(), 1);
    EXPECT_EQ(host->knownIPv6Addresses().size(), 1);
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("TEVHost: system returned strange address 'fe80::1%eth0'?\n")));
    host->updateHostDataWithNames(std::nullopt, QStringList{});
    EXPECT_EQ(host->knownNames(), QStringList{QStringLiteral("a")});
}

struct RepresentationRow {
    const char* what;
    QStringList names;
    QStringList addresses;
    QString expected;
};

TEST_F(TEVHostTest, BestRepresentationPrefersPlainNamesAndNeverLoopback)
{
    install({});
    const RepresentationRow rows[] = {
        {"only loopback names", {"localhost", "ip6-localhost"}, {"127.0.0.1"}, QString()},
        {"bonjour and plain", {"lab.local", "laboratory"}, {}, QStringLiteral("laboratory")},
        {"only bonjour", {"lab.local"}, {}, QStringLiteral("lab.local")},
        {"loopback alias beside a name", {"ip6-loopback", "localhost.localdomain", "workstation"}, {}, QStringLiteral("workstation")},
        {"shortest wins, first on ties", {"alpha.example", "beta", "gamm"}, {}, QStringLiteral("beta")},
        {"v4 skips loopback", {}, {"127.0.0.1", "192.0.2.4"}, QStringLiteral("192.0.2.4")},
        {"v4 loopback only", {}, {"127.0.0.1"}, QStringLiteral("127.0.0.1")},
        {"v6 skips loopback", {}, {"::1", "2001:db8::4"}, QStringLiteral("2001:db8::4")},
        {"nothing", {}, {}, QStringLiteral("<?>")},
    };
    for (const RepresentationRow& row : rows) {
        SCOPED_TRACE(row.what);
        const auto host = hostWith(row.names, row.addresses);
        EXPECT_EQ(host->bestRepresentation(), row.expected);
    }
    EXPECT_TRUE(hostWith({QStringLiteral("localhost")}, {})->shortestName().isNull());
}

TEST_F(TEVHostTest, LocalHostRepresentsItselfByItsMulticastName)
{
    FakeNameResolver::Answers answers;
    answers.hostName = QStringLiteral("lab");
    answers.multicastName = QStringLiteral("lab");
    answers.byName[QStringLiteral("lab")] = HostEntry{{QStringLiteral("lab")}, {QStringLiteral("127.0.1.1")}};
    answers.current = HostEntry{{QStringLiteral("lab"), QStringLiteral("a"), QStringLiteral("localhost")},
                                {QStringLiteral("127.0.0.1"), QStringLiteral("192.0.2.5")}};
    install(answers);
    const auto host = TEVHost::localHost();
    EXPECT_EQ(host->originalSpecifier(), QStringLiteral("localhost"));
    host->waitForCompleteResults();
    EXPECT_TRUE(host->isLocalHost());
    // Without the multicast name the shorter "a" would win.
    EXPECT_EQ(host->bestRepresentation(), QStringLiteral("lab"));
}

TEST_F(TEVHostTest, NameTests)
{
    EXPECT_FALSE(TEVHost::isActualHostName(QStringLiteral("::1")));
    EXPECT_FALSE(TEVHost::isActualHostName(QStringLiteral("localhost")));
    EXPECT_FALSE(TEVHost::isActualHostName(QStringLiteral("IP6-LOCALHOST")));
    EXPECT_FALSE(TEVHost::isActualHostName(QStringLiteral("10.1")));
    EXPECT_TRUE(TEVHost::isActualHostName(QStringLiteral("lab.local")));
    EXPECT_TRUE(TEVHost::isBonjourName(QStringLiteral("lab.local")));
    EXPECT_FALSE(TEVHost::isBonjourName(QStringLiteral("lab.locale")));
    EXPECT_EQ(hostWith({QStringLiteral("localhost"), QStringLiteral("ab"), QStringLiteral("abcd")}, {})->longestName(), QStringLiteral("abcd"));
    EXPECT_EQ(hostWith({QStringLiteral("localhost")}, {})->longestName(), QStringLiteral("localhost"));
}

TEST_F(TEVHostTest, PrimaryNameFallsBackToLocalhost)
{
    FakeNameResolver::Answers answers;
    answers.primaryIPv4 = QStringLiteral("192.0.2.5");
    answers.namesForAddresses[QStringLiteral("192.0.2.5")] = QStringLiteral("lab.example.org");
    install(answers);
    EXPECT_EQ(TEVHost::primaryNameOfLocalHost(), QStringLiteral("lab.example.org"));

    answers.namesForAddresses[QStringLiteral("192.0.2.5")] = QStringLiteral("localhost.localdomain");
    install(answers);
    EXPECT_EQ(TEVHost::primaryNameOfLocalHost(), QStringLiteral("localhost"));
    install({});
    EXPECT_EQ(TEVHost::primaryNameOfLocalHost(), QStringLiteral("localhost"));
}

TEST_F(TEVHostTest, ReachabilityCheckThatCannotRunIsLoggedAndNo)
{
    FakeNameResolver::Answers answers;
    answers.reachable[QStringLiteral("up")] = true;
    install(answers);
    EXPECT_TRUE(hostWith({QStringLiteral("up")}, {})->canBeReachedWithoutIntervention());
    EXPECT_FALSE(hostWith({QStringLiteral("elsewhere")}, {})->canBeReachedWithoutIntervention());
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("TEVHost: error setting up reachability check: no route table\n")));
}

} // namespace

namespace {

// Answers every lookup made off the test's thread late, and says on stderr when it has.
class SlowResolver final : public platform::NameResolver {
public:
    std::optional<HostEntry> hostByName(const QString& name) override
    {
        if (QThread::currentThread() != testThread_) {
            std::this_thread::sleep_for(std::chrono::milliseconds(400));
            std::fputs("lookup ended\n", stderr);
        }
        return HostEntry{{name}, {QStringLiteral("192.0.2.1")}};
    }
    std::optional<HostEntry> hostByAddress(const QString&) override { return std::nullopt; }
    std::optional<HostEntry> currentHost() override { return std::nullopt; }
    std::optional<QString> hostName() override { return std::nullopt; }
    std::optional<QString> nameForAddress(const QString&) override { return std::nullopt; }
    std::optional<QString> primaryAddress(bool) override { return std::nullopt; }
    QString localMulticastHostName() override { return {}; }
    std::optional<quint32> networkNumber(const QString&) override { return std::nullopt; }
    std::optional<bool> isReachable(const QString&, QString*) override { return std::nullopt; }

private:
    QThread* const testThread_ = QThread::currentThread();
};

} // namespace

TEST(TEVHostDeathTest, ExitWaitsForTheLookupsStillRunning)
{
    TEVHost::waitForBackgroundLookups(); // none of this process runs on in the child
    EXPECT_EXIT(
        {
            platform::NameResolver::setShared(std::make_shared<SlowResolver>());
            const auto host = TEVHost::createWithString(QStringLiteral("lab"));
            std::exit(host && !host->isLikelyComplete() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "lookup ended");
}
