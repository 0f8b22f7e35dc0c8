#include "platform/net/NetServiceBrowser.h"

#include "tests/support/FakeServiceDiscovery.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

namespace {

using kelvaro::test::FakeServiceDiscovery;
using platform::DiscoveryError;
using platform::NetServiceBrowser;

// Records the callbacks as "find A", "find B more", "remove A", "error 10/-72007", "stop".
class Recorder final : public platform::NetServiceBrowserDelegate {
public:
    void netServiceBrowserDidFindService(NetServiceBrowser&, const platform::NetService& service, bool moreComing) override
    {
        events << QStringLiteral("find ") + service.name() + (moreComing ? QStringLiteral(" more") : QString());
        if (onEvent)
            onEvent();
    }
    void netServiceBrowserDidRemoveService(NetServiceBrowser&, const platform::NetService& service, bool moreComing) override
    {
        events << QStringLiteral("remove ") + service.name() + (moreComing ? QStringLiteral(" more") : QString());
        if (onEvent)
            onEvent();
    }
    void netServiceBrowserDidNotSearch(NetServiceBrowser&, const QVariantMap& error) override
    {
        events << QStringLiteral("error %1/%2")
                      .arg(error.value(QString::fromLatin1(NetServiceBrowser::kErrorDomainKey)).toLongLong())
                      .arg(error.value(QString::fromLatin1(NetServiceBrowser::kErrorCodeKey)).toLongLong());
    }
    void netServiceBrowserDidStopSearch(NetServiceBrowser&) override { events << QStringLiteral("stop"); }

    QStringList events;
    std::function<void()> onEvent;
};

class NetServiceBrowserTest : public ::testing::Test {
protected:
    NetServiceBrowserTest()
    {
        browser->setDelegate(&recorder);
        browser->searchForServices(QStringLiteral("_x-tevkelvaro._tcp."), QString());
    }

    std::shared_ptr<FakeServiceDiscovery> fake = std::make_shared<FakeServiceDiscovery>();
    Recorder recorder;
    std::unique_ptr<NetServiceBrowser> browser = std::make_unique<NetServiceBrowser>(fake);
};

TEST_F(NetServiceBrowserTest, FirstBurstIsHeldUntilAllForNowThenFlaggedMoreComing)
{
    fake->add(QStringLiteral("A"));
    fake->add(QStringLiteral("B"));
    fake->add(QStringLiteral("C"));
    fake->remove(QStringLiteral("B")); // came and went within the burst
    EXPECT_TRUE(recorder.events.isEmpty());
    fake->allForNow();
    EXPECT_EQ(recorder.events, (QStringList{QStringLiteral("find A more"), QStringLiteral("find C")}));

    // Afterwards every event is a batch of its own.
    fake->add(QStringLiteral("D"));
    fake->remove(QStringLiteral("A"));
    fake->allForNow();
    EXPECT_EQ(recorder.events.mid(2), (QStringList{QStringLiteral("find D"), QStringLiteral("remove A")}));
}

TEST_F(NetServiceBrowserTest, CountsInstancesPerServiceAcrossInterfacesAndProtocols)
{
    fake->allForNow();
    fake->add(QStringLiteral("A"), 2, 0);
    fake->add(QStringLiteral("A"), 2, 1);
    fake->add(QStringLiteral("A"), 3, 0);
    fake->add(QStringLiteral("A"), 2, 0); // a repeated announcement is no new instance
    fake->remove(QStringLiteral("A"), 2, 0);
    fake->remove(QStringLiteral("A"), 2, 0);
    fake->remove(QStringLiteral("A"), 9, 1); // never seen
    fake->remove(QStringLiteral("A"), 2, 1);
    EXPECT_EQ(recorder.events, QStringList{QStringLiteral("find A")});
    fake->remove(QStringLiteral("A"), 3, 0);
    EXPECT_EQ(recorder.events, (QStringList{QStringLiteral("find A"), QStringLiteral("remove A")}));
    fake->remove(QStringLiteral("A"), 3, 0);
    EXPECT_EQ(recorder.events.size(), 2);
}

TEST_F(NetServiceBrowserTest, FailureDeliversHeldFindsFirstAndEndsTheSearch)
{
    fake->add(QStringLiteral("A"));
    fake->fail({DiscoveryError::Kind::Timeout, QStringLiteral("Timeout reached")});
    EXPECT_EQ(recorder.events, (QStringList{QStringLiteral("find A"), QStringLiteral("error 10/-72007")}));
    EXPECT_FALSE(browser->isSearching());
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("NetServiceBrowser: search failed: Timeout reached\n")));
}

TEST_F(NetServiceBrowserTest, StopReportsAndEndsTheSearchAndASecondSearchIsRefused)
{
    browser->searchForServices(QStringLiteral("_x-tevkelvaro._tcp."), QString());
    EXPECT_EQ(recorder.events, QStringList{QStringLiteral("error 10/-72003")});
    EXPECT_EQ(fake->searches().size(), 1);

    browser->stop();
    browser->stop();
    EXPECT_EQ(recorder.events.mid(1), QStringList{QStringLiteral("stop")});
    QCoreApplication::processEvents();
    EXPECT_FALSE(fake->activeSearch());
}

TEST_F(NetServiceBrowserTest, DelegateMayStopOrDestroyTheBrowserFromACallback)
{
    fake->add(QStringLiteral("A"));
    fake->add(QStringLiteral("B"));
    recorder.onEvent = [this] { browser->stop(); };
    fake->allForNow();
    EXPECT_EQ(recorder.events, (QStringList{QStringLiteral("find A more"), QStringLiteral("stop")}));

    recorder.events.clear();
    browser->searchForServices(QStringLiteral("_x-tevkelvaro._tcp."), QString());
    fake->add(QStringLiteral("C"));
    fake->add(QStringLiteral("D"));
    recorder.onEvent = [this] { browser.reset(); };
    fake->allForNow();
    EXPECT_EQ(recorder.events, QStringList{QStringLiteral("find C more")});
    QCoreApplication::processEvents();
    EXPECT_FALSE(fake->activeSearch());
}

TEST(NetServiceBrowserErrors, MapDiscoveryErrorsToErrorDictionaries)
{
    using Kind = DiscoveryError::Kind;
    const struct {
        Kind kind;
        qint64 domain;
        qint64 code;
    } rows[] = {
        {Kind::Unavailable, NetServiceBrowser::PosixDomain, ECONNREFUSED},
        {Kind::Denied, NetServiceBrowser::PosixDomain, EACCES},
        {Kind::NotFound, NetServiceBrowser::NetServicesDomain, -72002},
        {Kind::Collision, NetServiceBrowser::NetServicesDomain, -72001},
        {Kind::BadArgument, NetServiceBrowser::NetServicesDomain, -72004},
        {Kind::Timeout, NetServiceBrowser::NetServicesDomain, -72007},
        {Kind::Unknown, NetServiceBrowser::NetServicesDomain, -72000},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(int(row.kind));
        const QVariantMap dict = NetServiceBrowser::errorDictionary({row.kind, QString()});
        EXPECT_EQ(dict.value(QString::fromLatin1(NetServiceBrowser::kErrorDomainKey)), QVariant::fromValue<qint64>(row.domain));
        EXPECT_EQ(dict.value(QString::fromLatin1(NetServiceBrowser::kErrorCodeKey)), QVariant::fromValue<qint64>(row.code));
    }
}

TEST(NetService, KeepsTypeAndDomainAbsolute)
{
    const platform::NetService service(QStringLiteral("local"), QStringLiteral("_x-tevkelvaro._tcp"), QStringLiteral("Lab"));
    EXPECT_EQ(service, FakeServiceDiscovery::agent(QStringLiteral("Lab")));
    EXPECT_EQ(service.description(), QStringLiteral("Lab._x-tevkelvaro._tcp.local."));
    EXPECT_NE(service, platform::NetService(QStringLiteral("example.org."), QStringLiteral("_x-tevkelvaro._tcp."), QStringLiteral("Lab")));
    EXPECT_EQ(platform::NetService::relativeName(QStringLiteral("local.")), QStringLiteral("local"));
}

} // namespace
