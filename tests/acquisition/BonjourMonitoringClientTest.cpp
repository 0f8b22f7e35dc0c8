// A monitoring client of a Bonjour descriptor that went through a property list: the capture thread
// resolves the service through a fake discovery (no multicast) and connects to the loopback test peer
// serving the simulated portable; a resolve that fails makes the client fail.

#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/TEVInvocationClient.h"
#include "acquisition/TEVMonitoringClient.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "platform/net/ServiceDiscovery.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorClassLoader.h"
#include "tests/support/FakeServiceDiscovery.h"
#include "tests/support/ProtocolTestPeer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;
namespace values = platform::values;
using Client = TEVMonitoringClient;
using kt::FakeServiceDiscovery;
using kt::ProtocolTestPeer;

namespace {

const QString kCurrentRawValues = QStringLiteral("currentRawValues");

// The fake discovery, answering each resolve on a later turn of the resolving thread's loop (the capture
// thread's). Resolves and answers happen on that thread only; the test reads the record once a
// notification from that thread has reached the main thread.
class AnsweringDiscovery final : public platform::ServiceDiscovery {
public:
    explicit AnsweringDiscovery(ResolveResult answer) : answer_(std::move(answer)) {}

    std::unique_ptr<platform::DiscoveryOperation> browse(const QString& type, const QString& domain,
                                                         platform::ServiceBrowseListener* listener) override
    {
        ADD_FAILURE() << "nothing browses here";
        return fake_.browse(type, domain, listener);
    }
    std::unique_ptr<platform::DiscoveryOperation> resolve(const platform::NetService& service, ResolveCallback done) override
    {
        auto operation = fake_.resolve(service, std::move(done));
        platform::RunLoop::current()->perform([this] { fake_.answerResolve(answer_); });
        return operation;
    }
    const FakeServiceDiscovery& fake() const { return fake_; }

private:
    FakeServiceDiscovery fake_;
    const ResolveResult answer_;
};

class BonjourMonitoringClient : public ::testing::Test {
protected:
    // No delay: the configuration starts on the main loop's turn after the registration, with no clock
    // movement, so no wait of the connection can run into its time-out.
    static constexpr double kConfigurationDelay = 0;
    const double savedResponseTimeout_ = TEVInvocationClient::responseTimeout();

    void SetUp() override
    {
        const auto loaded = platform::SimulatedComputer::load(kt::sourcePath(QStringLiteral("fixtures/computers/portable")));
        ASSERT_TRUE(loaded.computer) << loaded.error.toStdString();
        platform::SimulatedComputer::setCurrent(loaded.computer);
        TEVSensorClassLoader::loadAll();
        peer = std::make_unique<ProtocolTestPeer>(ProtocolTestPeer::Options{ProtocolTestPeer::simulatedComputerCore()});
        ASSERT_TRUE(peer->isListening());
    }
    void TearDown() override
    {
        if (client) {
            client->shutdown();
            client.reset();
            if (thread) {
                EXPECT_TRUE(kt::waitUntilReleased(thread));
            }
        }
        EXPECT_TRUE(kt::runMainLoopUntil([&] { return peer->openConnectionCount() == 0; }));
        peer.reset();
        platform::ServiceDiscovery::setShared(nullptr);
        platform::SimulatedComputer::setCurrent(nullptr);
        TEVInvocationClient::setResponseTimeout(savedResponseTimeout_); // the capture thread set its own
    }

    // The descriptor of "Lab Mac", written as a property list of `format` and read back.
    static std::shared_ptr<MonitorConnectionInfo> storedDescriptor(platform::PlistFormat format)
    {
        const auto original = MonitorConnectionInfo::createForRemoteConnection(
            platform::NetService(QStringLiteral("local."), QStringLiteral("_x-tevkelvaro._tcp."), QStringLiteral("Lab Mac")));
        const QByteArray bytes = platform::writePropertyList(original->propertyListRepresentation(), format);
        EXPECT_FALSE(bytes.isNull());
        const platform::PlistReadResult read = platform::readPropertyList(bytes);
        EXPECT_TRUE(read.value.isValid()) << read.error.toStdString();
        EXPECT_EQ(read.format, format);
        return MonitorConnectionInfo::connectionInfoFromPropertyList(read.value);
    }

    std::shared_ptr<AnsweringDiscovery> install(platform::ServiceDiscovery::ResolveResult answer)
    {
        auto discovery = std::make_shared<AnsweringDiscovery>(std::move(answer));
        platform::ServiceDiscovery::setShared(discovery);
        return discovery;
    }

    // The client's notifications, in the order posted.
    void observe()
    {
        for (const QString& name : {Client::isReadyNotification, Client::failedNotification, Client::lostConnectionNotification})
            tokens.append(platform::NotificationCenter::defaultCenter().addObserver(
                name, client, [this](const platform::Notification& n) { posted.append(n.name); }));
    }
    void stopObserving()
    {
        for (const auto& token : tokens)
            platform::NotificationCenter::defaultCenter().removeObserver(token);
        tokens.clear();
    }

    // Registration reaches the main loop and the configuration runs; the connection's waits end when the
    // peer or the fake discovery answers.
    bool configure()
    {
        thread = client->captureThread();
        return kt::runMainLoopUntil([&] {
            return posted.contains(Client::isReadyNotification) || posted.contains(Client::failedNotification);
        });
    }

    std::unique_ptr<ProtocolTestPeer> peer;
    std::shared_ptr<Client> client;
    std::shared_ptr<TEVCaptureThread> thread;
    QList<platform::ObserverToken> tokens;
    QStringList posted;
};

} // namespace

TEST_F(BonjourMonitoringClient, DescriptorReadsBackFromBothPropertyListFormats)
{
    for (const auto format : {platform::PlistFormat::Xml, platform::PlistFormat::Binary}) {
        const auto info = storedDescriptor(format);
        ASSERT_TRUE(info);
        EXPECT_FALSE(info->isLocal());
        ASSERT_TRUE(info->netService());
        EXPECT_EQ(info->netService()->name(), QStringLiteral("Lab Mac"));
        EXPECT_EQ(info->netService()->domain(), QStringLiteral("local."));
        EXPECT_EQ(info->netService()->type(), MonitorConnectionInfo::remoteMonitoringBonjourServiceType());
        EXPECT_TRUE(info->hostSpecifier().isNull());
        EXPECT_EQ(info->description(), QStringLiteral("remote connection to Bonjour service: Lab Mac._x-tevkelvaro._tcp.local."));
    }
}

TEST_F(BonjourMonitoringClient, ResolvesTheStoredServiceAndCapturesFromThePeer)
{
    const auto info = storedDescriptor(platform::PlistFormat::Binary);
    ASSERT_TRUE(info);
    const auto discovery = install(platform::ResolvedService{QStringLiteral("lab-mac.local"), QStringLiteral("127.0.0.1"), peer->port(), 2});
    peer->answerSelector(kCurrentRawValues, QVariantMap{{QStringLiteral("sensor.a"), values::fromSigned(10)}});

    client = Client::create(info, {.callWait = 10.0, .configurationDelay = kConfigurationDelay});
    ASSERT_TRUE(client);
    observe();
    ASSERT_TRUE(configure());
    ASSERT_EQ(posted, QStringList{Client::isReadyNotification}) << kt::log().lines().join(QString()).toStdString();

    const QString serial = ProtocolTestPeer::simulatedComputerCore()()->machineInfo()->systemSerialNumber();
    ASSERT_FALSE(serial.isEmpty());
    EXPECT_EQ(client->clientIdentification(), Client::clientIdentifierFromSerialNumber(serial));
    ASSERT_EQ(discovery->fake().resolves().size(), 1);
    EXPECT_EQ(discovery->fake().resolves().front()->service, *info->netService());
    EXPECT_EQ(peer->connectionCount(), 1);
    EXPECT_TRUE(client->isRemote());
    EXPECT_EQ(client->machineSerialNumber(), serial);

    // Capturing starts without waiting for the remote computer: its first values come with a hand-over.
    ASSERT_TRUE(client->run());
    EXPECT_TRUE(kt::runMainLoopUntil([&] { return client->cachedRawValueWithIdentifier(QStringLiteral("sensor.a")) == 10; }));
    // The next tick, one main update interval on, reads the peer's new value.
    peer->answerSelector(kCurrentRawValues, QVariantMap{{QStringLiteral("sensor.a"), values::fromSigned(11)}});
    kt::clock()->advanceSeconds(client->mainUpdateInterval());
    EXPECT_TRUE(kt::runMainLoopUntil([&] { return client->cachedRawValueWithIdentifier(QStringLiteral("sensor.a")) == 11; }));

    client->shutdown();
    EXPECT_FALSE(client->hasActiveConnection());
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return posted.contains(Client::lostConnectionNotification); }));
    EXPECT_EQ(posted, (QStringList{Client::isReadyNotification, Client::lostConnectionNotification}));
    EXPECT_TRUE(kt::runMainLoopUntil([&] { return peer->openConnectionCount() == 0; }));
    EXPECT_EQ(peer->connectionCount(), 1);
    stopObserving();
}

TEST_F(BonjourMonitoringClient, AResolveErrorFailsTheClient)
{
    const auto info = storedDescriptor(platform::PlistFormat::Xml);
    ASSERT_TRUE(info);
    const auto discovery = install(platform::DiscoveryError{platform::DiscoveryError::Kind::NotFound,
                                                            QStringLiteral("org.freedesktop.Avahi.NotFoundError: Not found")});

    client = Client::create(info, {.callWait = 10.0, .configurationDelay = kConfigurationDelay});
    ASSERT_TRUE(client);
    observe();
    ASSERT_TRUE(configure());
    EXPECT_EQ(posted, QStringList{Client::failedNotification}) << kt::log().lines().join(QString()).toStdString();
    EXPECT_TRUE(client->clientIdentification().isNull());
    ASSERT_EQ(discovery->fake().resolves().size(), 1);
    EXPECT_EQ(discovery->fake().resolves().front()->service, *info->netService());
    EXPECT_TRUE(kt::log().contains(QStringLiteral("cannot resolve Lab Mac._x-tevkelvaro._tcp.local.")));
    EXPECT_EQ(peer->connectionCount(), 0);
    stopObserving();
}

TEST_F(BonjourMonitoringClient, RunAnswersNoAfterTheConnectionFailed)
{
    install(platform::DiscoveryError{platform::DiscoveryError::Kind::NotFound, QStringLiteral("not found")});
    client = Client::create(storedDescriptor(platform::PlistFormat::Xml), {.callWait = 10.0, .configurationDelay = kConfigurationDelay});
    ASSERT_TRUE(client);
    observe();
    ASSERT_TRUE(configure());
    ASSERT_EQ(posted, QStringList{Client::failedNotification});
    // Nothing captures without a centre, so starting must not be reported as done.
    EXPECT_FALSE(client->run());
    stopObserving();
}
