#include "acquisition/TEVTCPServiceBrowser.h"

#include "platform/net/AvahiServiceDiscovery.h"
#include "tests/support/FakeServiceDiscovery.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

namespace {

using kelvaro::test::FakeServiceDiscovery;
using Mutation = TEVTCPServiceBrowser::SetMutation;

QString mutationName(Mutation mutation)
{
    switch (mutation) {
    case Mutation::Union: return QStringLiteral("union");
    case Mutation::Minus: return QStringLiteral("minus");
    case Mutation::Intersect: return QStringLiteral("intersect");
    case Mutation::Set: return QStringLiteral("set");
    }
    return QString();
}

// "will union A,B" / "did union A,B": the announcements, their objects sorted by name.
QString announcement(const char* phase, Mutation mutation, const TEVTCPServiceBrowser::ServiceSet& objects)
{
    QStringList names;
    for (const platform::NetService& service : objects)
        names << service.name();
    names.sort();
    return QStringLiteral("%1 %2 %3").arg(QString::fromLatin1(phase), mutationName(mutation), names.join(QLatin1Char(','))).trimmed();
}

class Delegate final : public TEVTCPServiceBrowserDelegate {
public:
    void browserDidStopWithError(TEVTCPServiceBrowser&, const platform::Error& error) override { errors.append(error); }
    QList<platform::Error> errors;
};

class TEVTCPServiceBrowserTest : public ::testing::Test {
protected:
    TEVTCPServiceBrowserTest()
    {
        browser = TEVTCPServiceBrowser::createForNetServiceWithDomain(QString(), QStringLiteral("_x-tevkelvaro._tcp."), fake);
        QObject::connect(browser.get(), &TEVTCPServiceBrowser::willChangeServices, [this](Mutation m, const auto& objects) {
            changes << announcement("will", m, objects);
        });
        QObject::connect(browser.get(), &TEVTCPServiceBrowser::didChangeServices, [this](Mutation m, const auto& objects) {
            changes << announcement("did", m, objects);
        });
        QObject::connect(browser.get(), &TEVTCPServiceBrowser::didChangeIsStarted, [this] { changes << QStringLiteral("isStarted"); });
        browser->setDelegate(delegate);
    }

    void find(const char* name, bool moreComing)
    {
        browser->netServiceBrowserDidFindService(*browser->netBrowser(), FakeServiceDiscovery::agent(QString::fromLatin1(name)), moreComing);
    }
    void removal(const char* name, bool moreComing)
    {
        browser->netServiceBrowserDidRemoveService(*browser->netBrowser(), FakeServiceDiscovery::agent(QString::fromLatin1(name)), moreComing);
    }

    std::shared_ptr<FakeServiceDiscovery> fake = std::make_shared<FakeServiceDiscovery>();
    std::shared_ptr<Delegate> delegate = std::make_shared<Delegate>();
    std::shared_ptr<TEVTCPServiceBrowser> browser;
    QStringList changes;
};

TEST_F(TEVTCPServiceBrowserTest, RejectsAnEmptyType)
{
    EXPECT_FALSE(TEVTCPServiceBrowser::createForNetServiceWithDomain(QString(), QString(), fake));
}

TEST_F(TEVTCPServiceBrowserTest, StartsOnceSearchingTheDefaultDomainsAndStopWhenStoppedDoesNothing)
{
    browser->stop();
    EXPECT_TRUE(changes.isEmpty());
    browser->start();
    browser->start();
    ASSERT_EQ(fake->searches().size(), 1);
    EXPECT_EQ(fake->searches().constFirst()->type, QStringLiteral("_x-tevkelvaro._tcp."));
    EXPECT_EQ(fake->searches().constFirst()->domain, QStringLiteral(""));
    EXPECT_TRUE(browser->isStarted());
    EXPECT_EQ(changes, QStringList{QStringLiteral("isStarted")});
}

TEST_F(TEVTCPServiceBrowserTest, FindsFlaggedMoreComingChangeServicesOnce)
{
    browser->start();
    changes.clear();
    find("A", true);
    find("B", true);
    EXPECT_TRUE(changes.isEmpty());
    find("C", false);
    EXPECT_EQ(changes, (QStringList{QStringLiteral("will union A,B,C"), QStringLiteral("did union A,B,C")}));
    EXPECT_EQ(browser->services().size(), 3);
    EXPECT_TRUE(browser->pendingServicesToAdd().isEmpty());
}

TEST_F(TEVTCPServiceBrowserTest, RemovalOfAnUnknownServiceAnnouncesMinusAndKeepsTheSet)
{
    browser->start();
    find("A", false);
    changes.clear();
    removal("Z", false);
    EXPECT_EQ(changes, (QStringList{QStringLiteral("will minus Z"), QStringLiteral("did minus Z")}));
    EXPECT_EQ(browser->services(), TEVTCPServiceBrowser::ServiceSet{FakeServiceDiscovery::agent(QStringLiteral("A"))});
}

TEST_F(TEVTCPServiceBrowserTest, StopEmptiesServicesWithOneSetChange)
{
    browser->start();
    find("A", true);
    find("B", false);
    find("C", true); // pending, dropped by stop
    changes.clear();
    browser->stop();
    EXPECT_EQ(changes, (QStringList{QStringLiteral("isStarted"), QStringLiteral("will set"), QStringLiteral("did set")}));
    EXPECT_TRUE(browser->services().isEmpty());
    EXPECT_TRUE(browser->pendingServicesToAdd().isEmpty());
    EXPECT_TRUE(delegate->errors.isEmpty()) << "stop tells nobody";
}

TEST_F(TEVTCPServiceBrowserTest, CallbacksFromAnotherBrowserAreIgnored)
{
    browser->start();
    platform::NetServiceBrowser other(fake);
    browser->netServiceBrowserDidFindService(other, FakeServiceDiscovery::agent(QStringLiteral("A")), false);
    browser->netServiceBrowserDidStopSearch(other);
    EXPECT_TRUE(browser->services().isEmpty());
    EXPECT_TRUE(delegate->errors.isEmpty());
}

TEST_F(TEVTCPServiceBrowserTest, ErrorDictionariesBecomeErrorsByDomainNumber)
{
    browser->start();
    find("A", false);
    const struct {
        QVariant domain;
        QVariant code;
        const char* expectedDomain;
        qint64 expectedCode;
    } rows[] = {
        {qint64(1), qint64(65), "NSPOSIXErrorDomain", 65},
        {qint64(2), qint64(-50), "NSOSStatusErrorDomain", -50},
        {qint64(10), qint64(-72000), "kCFErrorDomainCFNetwork", -72000},
        {QVariant(), QVariant(), "kCFErrorDomainCFNetwork", 0},
    };
    for (const auto& row : rows) {
        QVariantMap dict;
        if (row.domain.isValid())
            dict.insert(QString::fromLatin1(platform::NetServiceBrowser::kErrorDomainKey), row.domain);
        if (row.code.isValid())
            dict.insert(QString::fromLatin1(platform::NetServiceBrowser::kErrorCodeKey), row.code);
        browser->netServiceBrowserDidNotSearch(*browser->netBrowser(), dict);
    }
    browser->netServiceBrowserDidStopSearch(*browser->netBrowser());
    ASSERT_EQ(delegate->errors.size(), 5);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(delegate->errors.at(i).domain, QString::fromLatin1(rows[i].expectedDomain));
        EXPECT_EQ(delegate->errors.at(i).code, rows[i].expectedCode);
        EXPECT_TRUE(delegate->errors.at(i).userInfo.isEmpty());
    }
    EXPECT_EQ(delegate->errors.at(4), (platform::Error{QStringLiteral("NSCocoaErrorDomain"), 3072, {}}));
    EXPECT_TRUE(browser->isStarted());
    EXPECT_EQ(browser->services().size(), 1);
}

TEST_F(TEVTCPServiceBrowserTest, FindsFromTheDaemonArriveInBatchesThroughThePlatformBrowser)
{
    browser->start();
    changes.clear();
    fake->add(QStringLiteral("A"), 2, 0);
    fake->add(QStringLiteral("A"), 2, 1);
    fake->add(QStringLiteral("B"), 2, 0);
    fake->allForNow();
    fake->remove(QStringLiteral("A"), 2, 0);
    EXPECT_EQ(changes, (QStringList{QStringLiteral("will union A,B"), QStringLiteral("did union A,B")}));
    fake->remove(QStringLiteral("A"), 2, 1);
    EXPECT_EQ(changes.mid(2), (QStringList{QStringLiteral("will minus A"), QStringLiteral("did minus A")}));
    fake->fail({platform::DiscoveryError::Kind::Timeout, QStringLiteral("Timeout reached")});
    ASSERT_EQ(delegate->errors.size(), 1);
    EXPECT_EQ(delegate->errors.constFirst(), (platform::Error{QStringLiteral("kCFErrorDomainCFNetwork"), -72007, {}}));
}

TEST_F(TEVTCPServiceBrowserTest, RunLoopModesChangeOnlyWhileStarted)
{
    const QSet<QString> defaultModes{QStringLiteral("kCFRunLoopDefaultMode")};
    browser->addRunLoopMode(QStringLiteral("modal"));
    EXPECT_EQ(browser->runLoopModes(), defaultModes);
    browser->start();
    browser->addRunLoopMode(QString());
    browser->addRunLoopMode(QStringLiteral("modal"));
    EXPECT_EQ(browser->runLoopModes().size(), 2);
    browser->removeRunLoopMode(QStringLiteral("modal"));
    EXPECT_EQ(browser->runLoopModes(), defaultModes);
}

// This machine runs no avahi daemon: the real backend must say so through the delegate and nothing else.
TEST(TEVTCPServiceBrowserWithoutDaemon, ReportsTheFailureToTheDelegate)
{
    auto avahi = std::make_shared<platform::AvahiServiceDiscovery>([] {
        return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/kelvaro-system-bus"), QStringLiteral("kelvaro-no-system-bus"));
    });
    auto browser = TEVTCPServiceBrowser::createForNetServiceWithDomain(QString(), QStringLiteral("_x-tevkelvaro._tcp."), avahi);
    auto delegate = std::make_shared<Delegate>();
    browser->setDelegate(delegate);
    browser->start();
    QDeadlineTimer deadline(10000);
    while (delegate->errors.isEmpty() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    ASSERT_EQ(delegate->errors.size(), 1);
    EXPECT_EQ(delegate->errors.constFirst().domain, QStringLiteral("NSPOSIXErrorDomain"));
    EXPECT_EQ(delegate->errors.constFirst().code, ECONNREFUSED);
    EXPECT_TRUE(browser->isStarted());
    EXPECT_TRUE(browser->services().isEmpty());
    browser->stop();
    QDBusConnection::disconnectFromBus(QStringLiteral("kelvaro-no-system-bus"));
}

} // namespace
