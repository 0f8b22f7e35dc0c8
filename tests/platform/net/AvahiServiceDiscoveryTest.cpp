// The avahi backend against a fake daemon that owns "org.freedesktop.Avahi" on a bus daemon of this test
// process alone: nothing is sent on a real network, and tests of other processes cannot hold the name.

#include "platform/net/AvahiServiceDiscovery.h"

#include "tests/support/DesktopFakes.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QObject>

#include <gtest/gtest.h>

#include <functional>

namespace {

using platform::AvahiServiceDiscovery;
using platform::DiscoveryError;

const QString kBrowserPath = QStringLiteral("/Client1/ServiceBrowser1");
const QString kBrowserInterface = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");

// Spins the event loop until `done` or a bound that only a broken test reaches.
bool spinUntil(const std::function<bool()>& done)
{
    QDeadlineTimer deadline(10000);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return done();
}

class FakeBrowserObject final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Avahi.ServiceBrowser")

public:
    int frees = 0;

public Q_SLOTS:
    void Free() { ++frees; }
};

class FakeAvahiServer final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Avahi.Server")

public:
    explicit FakeAvahiServer(QDBusConnection bus) : bus_(std::move(bus)) {}

    void emitItem(const QString& path, const char* member, const QString& name, int interfaceIndex = 2, int protocol = 0)
    {
        QDBusMessage signal = QDBusMessage::createSignal(path, kBrowserInterface, QString::fromLatin1(member));
        signal << interfaceIndex << protocol << name << QStringLiteral("_x-tevkelvaro._tcp") << QStringLiteral("local") << 0u;
        bus_.send(signal);
    }
    void emitPlain(const char* member, const QVariantList& args = {})
    {
        QDBusMessage signal = QDBusMessage::createSignal(kBrowserPath, kBrowserInterface, QString::fromLatin1(member));
        signal.setArguments(args);
        bus_.send(signal);
    }

    QStringList requests;
    QString failWith; // an error name for the next request

public Q_SLOTS:
    QDBusObjectPath ServiceBrowserNew(int interfaceIndex, int protocol, const QString& type, const QString& domain, uint flags)
    {
        requests << QStringLiteral("%1 %2 %3 '%4' %5").arg(interfaceIndex).arg(protocol).arg(type, domain).arg(flags);
        if (!failWith.isEmpty()) {
            sendErrorReply(failWith, QStringLiteral("refused"));
            return {};
        }
        // Sent before the reply: the client must keep it until it knows its browser's path.
        emitItem(kBrowserPath, "ItemNew", QStringLiteral("Early"));
        emitItem(QStringLiteral("/Client9/ServiceBrowser9"), "ItemNew", QStringLiteral("Stranger"));
        return QDBusObjectPath(kBrowserPath);
    }

    void ResolveService(int, int, const QString& name, const QString& type, const QString& domain, int, uint)
    {
        requests << QStringLiteral("resolve %1 %2 %3").arg(name, type, domain);
        setDelayedReply(true);
        QDBusMessage reply = message().createReply();
        reply << 2 << 0 << name << type << domain << QStringLiteral("lab.local") << 0 << QStringLiteral("192.0.2.8")
              << QVariant::fromValue<quint16>(4444) << QVariant::fromValue(QByteArrayList{}) << 0u;
        bus_.send(reply);
    }

private:
    QDBusConnection bus_;
};

class Listener final : public platform::ServiceBrowseListener {
public:
    void browseAddedInstance(const platform::ServiceInstance& i) override
    {
        events << QStringLiteral("add %1 %2/%3 %4").arg(i.service.name()).arg(i.interfaceIndex).arg(i.protocol).arg(i.service.domain());
    }
    void browseRemovedInstance(const platform::ServiceInstance& i) override { events << QStringLiteral("remove ") + i.service.name(); }
    void browseAllForNow() override { events << QStringLiteral("all for now"); }
    void browseFailed(const DiscoveryError& error) override { failures.append(error); }

    QStringList events;
    QList<DiscoveryError> failures;
};

class AvahiServiceDiscoveryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus_.isRunning()) << "dbus-daemon did not start";
        qDBusRegisterMetaType<QByteArrayList>(); // the TXT records, "aay"
        clientBus_ = bus_.connect(QStringLiteral("avahi-client"));
        serverBus_ = std::make_unique<QDBusConnection>(bus_.connect(QStringLiteral("fake-avahi")));
        ASSERT_TRUE(clientBus_.isConnected() && serverBus_->isConnected());
        server_ = std::make_unique<FakeAvahiServer>(*serverBus_);
        ASSERT_TRUE(serverBus_->registerObject(QStringLiteral("/"), server_.get(), QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(serverBus_->registerObject(kBrowserPath, &browserObject_, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(serverBus_->registerService(QStringLiteral("org.freedesktop.Avahi")));
        ASSERT_TRUE(spinUntil([this] { return clientBus_.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Avahi")).value(); }));
    }
    void TearDown() override
    {
        if (serverBus_) {
            serverBus_->unregisterService(QStringLiteral("org.freedesktop.Avahi"));
            serverBus_->unregisterObject(kBrowserPath);
            serverBus_->unregisterObject(QStringLiteral("/"));
        }
    }

    kelvaro::test::PrivateBus bus_;
    QDBusConnection clientBus_{QString()};
    AvahiServiceDiscovery discovery{[this] { return clientBus_; }};
    std::unique_ptr<QDBusConnection> serverBus_;
    std::unique_ptr<FakeAvahiServer> server_;
    FakeBrowserObject browserObject_;
};

TEST_F(AvahiServiceDiscoveryTest, BrowsesKeepingEarlySignalsAndFilteringOtherBrowsers)
{
    Listener listener;
    auto search = discovery.browse(QStringLiteral("_x-tevkelvaro._tcp."), QString(), &listener);
    ASSERT_TRUE(spinUntil([&] { return !listener.events.isEmpty(); }));
    EXPECT_EQ(server_->requests, QStringList{QStringLiteral("-1 -1 _x-tevkelvaro._tcp '' 0")});

    server_->emitItem(kBrowserPath, "ItemNew", QStringLiteral("Lab"), 3, 1);
    server_->emitItem(kBrowserPath, "ItemRemove", QStringLiteral("Early"));
    server_->emitPlain("AllForNow");
    ASSERT_TRUE(spinUntil([&] { return listener.events.size() >= 4; }));
    EXPECT_EQ(listener.events, (QStringList{QStringLiteral("add Early 2/0 local."), QStringLiteral("add Lab 3/1 local."),
                                            QStringLiteral("remove Early"), QStringLiteral("all for now")}));

    server_->emitPlain("Failure", {QStringLiteral("Timeout reached")});
    ASSERT_TRUE(spinUntil([&] { return !listener.failures.isEmpty(); }));
    EXPECT_EQ(listener.failures.constFirst().kind, DiscoveryError::Kind::Timeout);

    search.reset();
    EXPECT_TRUE(spinUntil([&] { return browserObject_.frees == 1; }));
}

TEST_F(AvahiServiceDiscoveryTest, ReportsRefusalsAndADaemonThatGoesAway)
{
    server_->failWith = QStringLiteral("org.freedesktop.Avahi.InvalidServiceTypeError");
    Listener refused;
    auto first = discovery.browse(QStringLiteral("bad"), QString(), &refused);
    ASSERT_TRUE(spinUntil([&] { return !refused.failures.isEmpty(); }));
    EXPECT_EQ(refused.failures.constFirst().kind, DiscoveryError::Kind::BadArgument);

    server_->failWith.clear();
    Listener abandoned;
    auto second = discovery.browse(QStringLiteral("_x-tevkelvaro._tcp."), QString(), &abandoned);
    ASSERT_TRUE(spinUntil([&] { return !abandoned.events.isEmpty(); }));
    serverBus_->unregisterService(QStringLiteral("org.freedesktop.Avahi"));
    ASSERT_TRUE(spinUntil([&] { return !abandoned.failures.isEmpty(); }));
    EXPECT_EQ(abandoned.failures.constFirst().kind, DiscoveryError::Kind::Unavailable);
    EXPECT_EQ(abandoned.failures.size(), 1);
}

TEST_F(AvahiServiceDiscoveryTest, ResolvesToHostAddressAndPort)
{
    std::optional<platform::ServiceDiscovery::ResolveResult> result;
    auto resolve = discovery.resolve(platform::NetService(QStringLiteral("local."), QStringLiteral("_x-tevkelvaro._tcp."), QStringLiteral("Lab")),
                                     [&](const platform::ServiceDiscovery::ResolveResult& r) { result = r; });
    ASSERT_TRUE(spinUntil([&] { return result.has_value(); }));
    const auto* resolved = std::get_if<platform::ResolvedService>(&*result);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->hostName, QStringLiteral("lab.local"));
    EXPECT_EQ(resolved->address, QStringLiteral("192.0.2.8"));
    EXPECT_EQ(resolved->port, 4444);
    EXPECT_EQ(server_->requests, QStringList{QStringLiteral("resolve Lab _x-tevkelvaro._tcp local")});
}

TEST(AvahiServiceDiscovery, WithoutABusFailsLaterNotDuringTheCall)
{
    AvahiServiceDiscovery discovery([] {
        return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/kelvaro-bus"), QStringLiteral("kelvaro-no-bus"));
    });
    Listener listener;
    auto search = discovery.browse(QStringLiteral("_x-tevkelvaro._tcp."), QString(), &listener);
    EXPECT_TRUE(listener.failures.isEmpty());
    ASSERT_TRUE(spinUntil([&] { return !listener.failures.isEmpty(); }));
    EXPECT_EQ(listener.failures.constFirst().kind, DiscoveryError::Kind::Unavailable);
    EXPECT_FALSE(discovery.hostName(100));
    QDBusConnection::disconnectFromBus(QStringLiteral("kelvaro-no-bus"));
}

TEST(AvahiServiceDiscovery, MapsDaemonErrors)
{
    using Kind = DiscoveryError::Kind;
    const std::pair<const char*, Kind> rows[] = {
        {"org.freedesktop.DBus.Error.ServiceUnknown", Kind::Unavailable},
        {"org.freedesktop.DBus.Error.NoReply", Kind::Unavailable},
        {"org.freedesktop.DBus.Error.Spawn.ServiceNotFound", Kind::Unavailable},
        {"org.freedesktop.Avahi.AccessDeniedError", Kind::Denied},
        {"org.freedesktop.Avahi.TimeoutError", Kind::Timeout},
        {"org.freedesktop.Avahi.NotFoundError", Kind::NotFound},
        {"org.freedesktop.Avahi.CollisionError", Kind::Collision},
        {"org.freedesktop.Avahi.InvalidDomainNameError", Kind::BadArgument},
        {"org.freedesktop.Avahi.OSError", Kind::Unknown},
    };
    for (const auto& [name, kind] : rows) {
        SCOPED_TRACE(name);
        const DiscoveryError error = AvahiServiceDiscovery::errorFromDBus(QString::fromLatin1(name), QStringLiteral("why"));
        EXPECT_EQ(error.kind, kind);
        EXPECT_EQ(error.detail, QString::fromLatin1(name) + QStringLiteral(": why"));
    }
    EXPECT_EQ(AvahiServiceDiscovery::errorFromFailureText(QStringLiteral("Not found")).kind, Kind::NotFound);
    EXPECT_EQ(AvahiServiceDiscovery::errorFromFailureText(QStringLiteral("Something new")).kind, Kind::Unknown);
}

} // namespace

#include "AvahiServiceDiscoveryTest.moc"
