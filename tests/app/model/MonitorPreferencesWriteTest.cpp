// Writing the global preferences with real clients: a local one on the simulated portable and a remote
// one on the simulated tower behind the loopback test peer.

#include "app/model/MonitorPreferences.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/TEVMonitoringClient.h"
#include "app/model/MachinePreferences.h"
#include "framework/TEVUserDefaultsProxy.h"
#include "platform/foundation/DistributedNotificationCenter.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SimulatedComputer.h"
#include "sensors/TEVSensorClassLoader.h"
#include "tests/support/DesktopFakes.h"
#include "tests/support/ProtocolTestPeer.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>

#include <algorithm>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;
using Client = TEVMonitoringClient;

namespace {

std::shared_ptr<const platform::SimulatedComputer> loadComputer(const char* name)
{
    const auto loaded = platform::SimulatedComputer::load(kt::sourcePath(QStringLiteral("fixtures/computers/") + name));
    EXPECT_TRUE(loaded.computer) << loaded.error.toStdString();
    return loaded.computer;
}

class MonitorPreferencesWriting : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Written preferences persist for the process: each test has a domain of its own.
        static int counter = 0;
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(QStringLiteral("com.tarnwell.kelvaro.writetest%1").arg(++counter));
        TEVSensorClassLoader::loadAll();
        platform::SimulatedComputer::setCurrent(loadComputer("portable"));
        local_ = readyClient(MonitorConnectionInfo::createForLocalMachine(QStringLiteral("Kelvaro")));
        ASSERT_TRUE(local_);
    }
    void TearDown() override
    {
        QList<std::shared_ptr<TEVCaptureThread>> threads;
        for (const auto& client : {local_, remote_, failing_}) {
            if (client && client->captureThread())
                threads.append(client->captureThread());
            if (client)
                client->shutdown();
        }
        for (auto& thread : threads)
            EXPECT_TRUE(kt::waitUntilReleased(thread));
        platform::SimulatedComputer::setCurrent(nullptr);
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith({});
    }

    // Without a configuration delay the clock never moves, so no wait of a connection runs out.
    static std::shared_ptr<Client> readyClient(const std::shared_ptr<MonitorConnectionInfo>& info)
    {
        auto client = Client::create(info, {.callWait = 10.0, .configurationDelay = 0.0});
        bool ready = false;
        const auto token = platform::NotificationCenter::defaultCenter().addObserver(
            Client::isReadyNotification, client, [&](const platform::Notification&) { ready = true; });
        const bool done = kt::waitFor([&] { return ready; });
        platform::NotificationCenter::defaultCenter().removeObserver(token);
        return done ? client : nullptr;
    }
    void connectRemote()
    {
        platform::SimulatedComputer::setCurrent(loadComputer("tower"));
        peer_ = std::make_unique<kt::ProtocolTestPeer>(kt::PeerOptions{kt::ProtocolTestPeer::simulatedComputerCore()});
        remote_ = readyClient(MonitorConnectionInfo::createForRemoteConnection(QStringLiteral("127.0.0.1"), peer_->port()));
        ASSERT_TRUE(remote_);
    }
    // A client without a capture thread: every call fails at once.
    void makeFailingClient()
    {
        failing_ = Client::create(MonitorConnectionInfo::createForLocalMachine(QStringLiteral("Kelvaro")));
        failing_->shutdown();
    }
    static QVariant stored(const QString& key) { return TEVUserDefaultsProxy::standardUserDefaults().objectForKey(key); }

    std::shared_ptr<Client> local_;
    std::unique_ptr<kt::ProtocolTestPeer> peer_;
    std::shared_ptr<Client> remote_;
    std::shared_ptr<Client> failing_;
};

} // namespace

TEST_F(MonitorPreferencesWriting, WrittenSettingsReadBackUnchanged)
{
    MonitorPreferences written;
    written.readPreferences();
    ASSERT_TRUE(written.isFirstLaunchOfApplication());
    written.setTemperatureDisplayUnit(4);
    written.setStandardWindowShouldOpen(false);
    written.setSensorUpdateInterval(600);
    written.setDontAskForX86DriverInApplicationVersion(0x8000'0000'0000'0001ull); // beyond the signed range
    written.addConnectionInfo(MonitorConnectionInfo::createForRemoteConnection(QStringLiteral("agent"), 37037), "S1");
    const auto set = written.createLocalMachinePreferencesUsingMonitoringClient(local_);
    ASSERT_TRUE(set);
    set->setTalkIntervalMultiplier(7);
    written.writePreferencesUsingMonitoringClients({local_}, local_);

    EXPECT_EQ(stored("PreferencesVersion"), QVariant::fromValue<qint64>(3));
    EXPECT_EQ(stored("SensorWindowOpen"), QVariant(false)); // a boolean, not a number
    MonitorPreferences read;
    read.readPreferences();
    EXPECT_FALSE(read.isFirstLaunchOfApplication());
    EXPECT_EQ(read.temperatureDisplayUnit(), 4);
    EXPECT_FALSE(read.standardWindowShouldOpen());
    EXPECT_EQ(read.sensorUpdateInterval(), 600u);
    EXPECT_EQ(read.dontAskForX86DriverInApplicationVersion(), 0x8000'0000'0000'0001ull);
    const auto info = read.infoToConnectMachineWithSerialNumber("S1");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->portNumber(), 37037);
    const auto readSet = read.preferencesForMachineWithSerialNumber(local_->machineSerialNumber());
    ASSERT_TRUE(readSet);
    EXPECT_EQ(readSet->talkIntervalMultiplier(), 7u);
}

TEST_F(MonitorPreferencesWriting, SeenModelsListTheLocalComputerOnceAfterTheOthersOfItsModel)
{
    const QString model = local_->machineModelCode();
    const QString serial = local_->machineSerialNumber();
    ASSERT_FALSE(model.isEmpty());
    const QVariantMap other{{"HostOrComputerName", "old-board"}, {"SerialNumber", "OTHER"}};
    TEVUserDefaultsProxy::standardUserDefaults().setObject(
        QVariantMap{{model, QVariantList{other, "kept as it is"}}, {"Another,1", QVariantList{}}}, "SeenModels");

    MonitorPreferences preferences;
    const auto first = preferences.writePreferencesUsingMonitoringClients({local_}, local_);
    const auto second = preferences.writePreferencesUsingMonitoringClients({local_}, local_);
    // The second write finds the file as it would write it: it says so rather than "written".
    EXPECT_TRUE(first.written() && first.changed);
    EXPECT_TRUE(second.written());
    EXPECT_FALSE(second.changed);

    const auto seen = preferences.machineSpecifiersOfKnownSystems();
    ASSERT_TRUE(seen);
    EXPECT_EQ(seen->value("Another,1"), QVariantList{});
    const QVariantList computers = seen->value(model).toList();
    ASSERT_EQ(computers.size(), 3);
    EXPECT_EQ(computers.at(0), other);
    EXPECT_EQ(computers.at(2).toMap().value("SerialNumber"), serial);
}

TEST_F(MonitorPreferencesWriting, ActiveRemoteConnectionsNameTheReachableRemoteComputersAndTheChangeIsAnnounced)
{
    ASSERT_NO_FATAL_FAILURE(connectRemote());
    makeFailingClient();
    const QString remoteSerial = remote_->machineSerialNumber();
    ASSERT_FALSE(remoteSerial.isEmpty());
    ASSERT_NE(remoteSerial, local_->machineSerialNumber());

    // On a bus of this process alone, so that the writes of other test processes are not seen.
    kt::PrivateBus bus;
    ASSERT_TRUE(bus.isRunning());
    platform::DistributedNotificationCenter poster(bus.address());
    platform::DistributedNotificationCenter observer(bus.address());
    QList<platform::DistributedNotification> received;
    observer.addObserver(MonitorPreferences::userDefaultsDidChangeNotification, QString(),
                         [&](const platform::DistributedNotification& n) { received.append(n); });

    MonitorPreferences preferences;
    preferences.setNotificationCenter(&poster);
    preferences.writePreferencesUsingMonitoringClients({failing_, local_, remote_}, local_);
    EXPECT_EQ(preferences.listOfSerialsToReconnect(), QVariantList{remoteSerial});
    ASSERT_TRUE(kt::waitFor([&] { return !received.isEmpty(); }));
    EXPECT_EQ(received.size(), 1);
    EXPECT_EQ(received.constFirst().object, "com.tarnwell.kelvaro");
    EXPECT_TRUE(received.constFirst().userInfo.isEmpty());
}

TEST_F(MonitorPreferencesWriting, NothingIsWrittenOverTheSetOfANewerVersion)
{
    const QVariantMap newer{{"SOME-SERIAL", QVariantMap{{"FutureKey", true}}}};
    auto defaults = TEVUserDefaultsProxy::standardUserDefaults();
    defaults.setInteger(4, "PreferencesVersion");
    defaults.setObject(newer, "MachinePreferences");

    MonitorPreferences preferences;
    preferences.readPreferences();
    EXPECT_TRUE(preferences.isFirstLaunchOfApplication());
    ASSERT_TRUE(preferences.createLocalMachinePreferencesUsingMonitoringClient(local_));
    preferences.writePreferencesUsingMonitoringClients({local_}, local_);
    EXPECT_EQ(stored("PreferencesVersion"), QVariant::fromValue<qint64>(4));
    EXPECT_EQ(stored("MachinePreferences"), QVariant(newer));
    EXPECT_EQ(kt::log().count("MonitorPreferences: preferences not written: the stored ones are of a newer version\n"), 1);
}

TEST_F(MonitorPreferencesWriting, ANewLocalSetNeedsTheSerialNumberAndNoSetForIt)
{
    makeFailingClient();
    MonitorPreferences preferences;
    EXPECT_FALSE(preferences.createLocalMachinePreferencesUsingMonitoringClient(nullptr));
    EXPECT_FALSE(preferences.createLocalMachinePreferencesUsingMonitoringClient(failing_));
    EXPECT_EQ(kt::log().count("MonitorPreferences: could not create new preferences set: serial number inaccessible\n"), 1);

    const auto created = preferences.createLocalMachinePreferencesUsingMonitoringClient(local_);
    ASSERT_TRUE(created);
    const QString serial = local_->machineSerialNumber();
    EXPECT_EQ(preferences.preferencesForMachineWithSerialNumber(serial), created);
    EXPECT_FALSE(preferences.createLocalMachinePreferencesUsingMonitoringClient(local_));
    EXPECT_EQ(kt::log().count("MonitorPreferences: WARNING - received message to create preference set for already "
                              "existing machine " + serial + "\n"), 1);
    EXPECT_EQ(preferences.preferencesForMachineWithSerialNumber(serial), created);
}

TEST_F(MonitorPreferencesWriting, AnImportedSetIsASeparateSetFiledUnderTheClientsSerial)
{
    ASSERT_NO_FATAL_FAILURE(connectRemote());
    makeFailingClient();
    MonitorPreferences preferences;
    const QString sourceSerial = local_->machineSerialNumber();
    const auto source = preferences.createLocalMachinePreferencesUsingMonitoringClient(local_);
    ASSERT_TRUE(source);
    source->setTalkIntervalMultiplier(7);
    EXPECT_FALSE(preferences.importedMachinePreferencesForMonitoringClient(remote_, "NO-SUCH-SERIAL"));
    EXPECT_FALSE(preferences.importedMachinePreferencesForMonitoringClient(nullptr, sourceSerial));
    EXPECT_FALSE(preferences.importedMachinePreferencesForMonitoringClient(failing_, sourceSerial));

    const auto copy = preferences.importedMachinePreferencesForMonitoringClient(remote_, sourceSerial);
    ASSERT_TRUE(copy);
    EXPECT_NE(copy, source);
    EXPECT_EQ(preferences.preferencesForMachineWithSerialNumber(remote_->machineSerialNumber()), copy);
    EXPECT_EQ(preferences.preferencesForMachineWithSerialNumber(sourceSerial), source);
    EXPECT_EQ(copy->talkIntervalMultiplier(), 7u);
    copy->setTalkIntervalMultiplier(3);
    EXPECT_EQ(source->talkIntervalMultiplier(), 7u);

    // A second import, or one onto the source's own computer, would replace a set someone holds.
    EXPECT_FALSE(preferences.importedMachinePreferencesForMonitoringClient(remote_, sourceSerial));
    EXPECT_FALSE(preferences.importedMachinePreferencesForMonitoringClient(local_, sourceSerial));
    EXPECT_EQ(preferences.preferencesForMachineWithSerialNumber(remote_->machineSerialNumber()), copy);
    EXPECT_EQ(preferences.preferencesForMachineWithSerialNumber(sourceSerial), source);
}
