// A remote computer whose agent is stopped (as by kill -STOP) while its windows are open, over a real
// socket: every question a tick asks of its client (configuration change, values, short-term history, known
// limits, battery and display facts) is answered without waiting for the computer, until the client gives
// up on it at its time-out and says why.

#include "windows/info/ConnectionWindowController.h"
#include "windows/info/DisplayInfoDisplay.h"
#include "windows/info/DriveOverview.h"
#include "windows/info/SensorOverview.h"
#include "windows/info/SmartBatteryInfoDisplay.h"

#include "acquisition/TEVMonitoringClient.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"
#include "app/model/ControllerLookups.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SimulatedComputer.h"
#include "sensors/TEVSensorClassLoader.h"
#include "tests/support/ProtocolTestPeer.h"
#include "tests/support/TestEnvironment.h"

#include "ui_DisplayInfo.h"
#include "ui_SmartBatteryInfo.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTableWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kt = kelvaro::test;

namespace {

// The controller's look-ups as the overview uses them: the limits come from the client.
class ClientLookups final : public ControllerLookups {
public:
    const QStringList& universalIdentifiersOfConnectedSensors() const override { return none_; }
    std::shared_ptr<TEVGauge> gaugeForUniversalSensorIdentifier(const QString&) const override { return nullptr; }
    QByteArray rawHistoryDataBetweenNowAndDate(const QDateTime&, const QString&, bool) override { return {}; }
    double historyTimeDeltaForUniversalGaugeIdentifier(const QString&, bool) override { return 1.0; }
    QList<std::shared_ptr<TEVGauge>> activeGaugesForConnectedClient(const std::shared_ptr<MonitoringClient>&) const override
    {
        return {};
    }
    std::optional<QVariantMap> knownMachineLimitsForConnectedClient(const std::shared_ptr<MonitoringClient>& client) override
    {
        ++limitsAsked;
        return client->knownMachineLimits();
    }
    MonitorPreferences* monitorPreferences() const override { return nullptr; }
    int limitsAsked = 0;

private:
    QStringList none_;
};

// A tick that waits for the stopped computer waits on the manual clock, which nothing else moves: it could
// only return once the clock passes its time-out. So a tick that returns with the clock untouched did not
// wait; one that is still running after a real-time guard (tens of seconds, for a loaded machine) is
// released by moving the clock past every time-out, and counted, so that the test fails instead of hanging.
class HangBreaker {
public:
    HangBreaker()
        : thread_([this] {
            QElapsedTimer armed;
            armed.start();
            while (!stop_) {
                if (!running_)
                    armed.restart();
                else if (armed.elapsed() > kGuardMs) {
                    ++released_;
                    kt::clock()->advanceSeconds(60);
                    armed.restart();
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        })
    {
    }
    ~HangBreaker()
    {
        stop_ = true;
        thread_.join();
    }
    // Whether `fn` returned without the clock being moved for it.
    bool returnsUnaided(const std::function<void()>& fn)
    {
        const int before = released_;
        running_ = true;
        fn();
        running_ = false;
        return released_ == before;
    }
    // Real milliseconds `fn` took, the clock moved only to break a hang.
    qint64 time(const std::function<void()>& fn)
    {
        QElapsedTimer timer;
        timer.start();
        running_ = true;
        fn();
        running_ = false;
        return timer.elapsed();
    }

private:
    static constexpr qint64 kGuardMs = 20'000;
    std::atomic<bool> stop_{false};
    std::atomic<bool> running_{false};
    std::atomic<int> released_{0};
    std::thread thread_;
};

qsizetype requestsFor(const kt::ProtocolTestPeer& peer, const QString& selector)
{
    qsizetype count = 0;
    for (const auto& request : peer.requests())
        count += request.selector == selector;
    return count;
}

} // namespace

TEST(PausedRemoteComputer, NeverHoldsTheTick)
{
    const auto loaded = platform::SimulatedComputer::load(kt::sourcePath(QStringLiteral("fixtures/computers/portable")));
    ASSERT_TRUE(loaded.computer) << loaded.error.toStdString();
    platform::SimulatedComputer::setCurrent(loaded.computer);
    TEVSensorClassLoader::loadAll();
    kt::ProtocolTestPeer peer(kt::PeerOptions{kt::ProtocolTestPeer::simulatedComputerCore()});
    ASSERT_TRUE(peer.isListening());

    // Set up at once rather than half a second of the clock after the thread starts: the clock stands still
    // until the client is ready. Moved meanwhile, it would run the connection check into its time-out
    // whenever the peer's thread is slow to answer on a loaded machine.
    const auto client = TEVMonitoringClient::create(
        MonitorConnectionInfo::createForRemoteConnection(QStringLiteral("127.0.0.1"), peer.port()),
        {.configurationDelay = 0});
    ASSERT_TRUE(client);
    QStringList posted;
    auto& centre = platform::NotificationCenter::defaultCenter();
    QList<platform::ObserverToken> tokens;
    for (const QString& name : {MonitoringClient::isReadyNotification, MonitoringClient::failedNotification})
        tokens.append(centre.addObserver(name, client->notificationIdentity(),
                                         [&](const platform::Notification& n) { posted.append(n.name); }));
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return !posted.isEmpty(); }));
    ASSERT_EQ(posted, QStringList{MonitoringClient::isReadyNotification});
    ASSERT_TRUE(client->run());
    const QString sensor = client->availableSensorIdentifiers().value(0);
    ASSERT_FALSE(sensor.isEmpty());

    ClientLookups lookups;
    SensorOverview overview(client, QStringLiteral("Sensor Overview"));
    overview.setApplicationController(&lookups);
    SmartBatteryInfoDisplay battery(client, QStringLiteral("Battery Information"));
    DisplayInfoDisplay display(client, QStringLiteral("Display Information"));
    DriveOverview drives(client, QStringLiteral("Drive Overview"));
    // What the update tick asks of a client and of the windows it refreshes.
    const auto tick = [&] {
        client->hasDetectedConfigurationChange();
        client->cachedRawValueWithIdentifier(sensor);
        client->rawShortTermHistoryDataWithIdentifier(sensor, kt::clock()->now().addSecs(-60));
        overview.updateContents();
        battery.updateContents();
        display.updateContents();
        drives.updateContents();
    };
    // Opening the windows asks the computer; a capture tick later the windows' facts come along with the
    // values. The next tick's first request shows the one before has handed its copy over.
    tick();
    const auto displaysAsked = requestsFor(peer, QStringLiteral("displayDescriptions"));
    const auto drivesAsked = requestsFor(peer, QStringLiteral("blockStorageDeviceDescriptions"));
    kt::clock()->advanceSeconds(2);
    ASSERT_TRUE(kt::runMainLoopUntil([&] {
        return requestsFor(peer, QStringLiteral("displayDescriptions")) > displaysAsked &&
               requestsFor(peer, QStringLiteral("blockStorageDeviceDescriptions")) > drivesAsked;
    }));
    const auto valuesAsked = requestsFor(peer, QStringLiteral("currentRawValues"));
    tick();
    kt::clock()->advanceSeconds(2);
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return requestsFor(peer, QStringLiteral("currentRawValues")) > valuesAsked; }));
    const auto limits = client->knownMachineLimits();
    ASSERT_TRUE(limits.has_value());
    EXPECT_FALSE(limits->isEmpty()) << "the portable's fans have limits";
    peer.pause();
    const QString batteryName = battery.ui().batteryNameField->text();
    EXPECT_FALSE(batteryName.isEmpty());
    EXPECT_EQ(display.ui().headlineField->text(), QStringLiteral("Display 1"));
    const int driveRows = drives.driveTable()->rowCount();
    EXPECT_GT(driveRows, 0);

    // Ticks while the capture thread waits for the stopped agent: each returns without waiting for it, on
    // the test clock (the real time a tick takes depends on the machine's load, so it is not the measure).
    HangBreaker breaker;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(breaker.returnsUnaided(tick)) << "the tick waited for the stopped computer";
        kt::clock()->advanceSeconds(2);
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(battery.ui().batteryNameField->text(), batteryName);
    EXPECT_EQ(display.ui().headlineField->text(), QStringLiteral("Display 1"));
    EXPECT_EQ(drives.driveTable()->rowCount(), driveRows) << "the drive window keeps what the last copy brought";
    EXPECT_GE(lookups.limitsAsked, 5);
    EXPECT_TRUE(posted.size() == 1);

    // Past the time-out the computer is given up on, as not answering.
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return posted.size() > 1; }, 1));
    EXPECT_EQ(posted.last(), MonitoringClient::failedNotification);
    EXPECT_EQ(client->remoteFailure(), RemoteFailure::NoAnswer);

    for (const auto& token : tokens)
        centre.removeObserver(token);
    peer.resume();
    client->shutdown();
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return !client->hasActiveConnection(); }));
    platform::SimulatedComputer::setCurrent(nullptr);
}

// What the program asks of a remote computer outside the tick (readiness, the connection window, a change of
// the sensor set, the menu commands, opening a window, the quit): with the agent stopped, each is answered
// from what the client already holds, or sent without waiting, or waits no longer than a tick's budget.
TEST(PausedRemoteComputer, NoCallOutsideTheTickWaitsForIt)
{
    const auto loaded = platform::SimulatedComputer::load(kt::sourcePath(QStringLiteral("fixtures/computers/portable")));
    ASSERT_TRUE(loaded.computer) << loaded.error.toStdString();
    platform::SimulatedComputer::setCurrent(loaded.computer);
    TEVSensorClassLoader::loadAll();
    kt::ProtocolTestPeer peer(kt::PeerOptions{kt::ProtocolTestPeer::simulatedComputerCore()});
    ASSERT_TRUE(peer.isListening());

    // Set up at once, the clock standing still until the client is ready, as in the test above.
    std::shared_ptr<TEVMonitoringClient> client = TEVMonitoringClient::create(
        MonitorConnectionInfo::createForRemoteConnection(QStringLiteral("127.0.0.1"), peer.port()),
        {.configurationDelay = 0});
    ASSERT_TRUE(client);
    QStringList posted;
    auto& centre = platform::NotificationCenter::defaultCenter();
    QList<platform::ObserverToken> tokens;
    for (const QString& name : {MonitoringClient::isReadyNotification, MonitoringClient::failedNotification})
        tokens.append(centre.addObserver(name, client->notificationIdentity(),
                                         [&](const platform::Notification& n) { posted.append(n.name); }));
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return !posted.isEmpty(); }));
    ASSERT_EQ(posted, QStringList{MonitoringClient::isReadyNotification});
    const QStringList sensors = client->availableSensorIdentifiers();
    ASSERT_FALSE(sensors.isEmpty()) << "the sensor list comes with readiness";
    ASSERT_TRUE(client->run());
    // The sensors' descriptions follow the first values; the change they make forms the gauges.
    ASSERT_TRUE(kt::runMainLoopUntil([&] { return client->sensorDescriptionForIdentifier(sensors.first()) != nullptr; }));
    EXPECT_TRUE(client->hasDetectedConfigurationChange());
    client->acknowledgeConfigurationChange();
    const QString sensor = sensors.first();

    ConnectionWindowController connections;
    QList<std::shared_ptr<MonitoringClient>> clients{client};
    connections.connectToClientList(&clients);
    peer.pause();
    // A tick now waits inside the capture thread for the stopped agent.
    kt::clock()->advanceSeconds(2);

    struct Row {
        const char* what;
        std::function<void()> ask;
    };
    const Row rows[] = {
        {"the facts readiness checks", [&] {
             EXPECT_GT(client->versionCode(), 1359u);
             EXPECT_TRUE(client->isRemote());
             EXPECT_FALSE(client->machineSerialNumber().isEmpty());
         }},
        {"the connection window", [&] {
             connections.updateContents();
             EXPECT_TRUE(connections.summaryField()->text().contains(QString::number(sensors.size())));
         }},
        {"a change of the sensor set", [&] {
             EXPECT_EQ(client->availableSensorIdentifiers(), sensors);
             EXPECT_EQ(client->numberOfAvailableSensors(), quint64(sensors.size()));
             EXPECT_TRUE(client->sensorDescriptionForIdentifier(sensor));
             EXPECT_TRUE(client->sensorValueConverterForIdentifier(sensor));
             client->disableLocalAccess(true, sensor);
             client->setMainUpdateInterval(3.0);
         }},
        {"rescan", [&] { client->rescanForSensors(); }},
        {"clear histories", [&] { client->clearShortTermHistories(); }},
        {"the system window", [&] {
             EXPECT_TRUE(client->machineInfo());
             EXPECT_TRUE(client->systemManagementDescription().has_value());
             client->dataForMachinePresentationIcon();
         }},
        {"the battery, display and drive windows", [&] {
             // Each waits its budget on the shared clock, which moves by a budget every tenth of a second here.
             std::atomic<bool> done{false};
             std::thread stepper([&] {
                 while (!done) {
                     std::this_thread::sleep_for(std::chrono::milliseconds(100));
                     kt::clock()->advanceSeconds(client->timeouts().remoteCallBudget + 0.1);
                 }
             });
             client->numberOfAvailableBatteryUnits();
             client->batteryReadoutsAtIndex(0);
             client->displayDescriptions();
             client->blockStorageDeviceDescriptions();
             done = true;
             stepper.join();
             EXPECT_TRUE(client->hasActiveConnection()) << "a late answer is no failure";
         }},
        {"the quit", [&] { client->shutdown(); }},
    };
    HangBreaker breaker;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        // A call that waited on the peer would take its 10 s time-out; 5 s is a margin a loaded machine keeps.
        EXPECT_LT(breaker.time(row.ask), 5000);
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(client->hasActiveConnection());

    // Requests sent without waiting may still be under way: the client going away meanwhile, and their
    // time-outs passing after it, must harm nothing.
    for (const auto& token : tokens)
        centre.removeObserver(token);
    const std::weak_ptr<TEVMonitoringClient> gone = client;
    clients.clear();
    connections.updateContents();
    client.reset();
    EXPECT_TRUE(gone.expired());
    kt::clock()->advanceSeconds(60);
    QCoreApplication::processEvents();
    peer.resume();
    platform::SimulatedComputer::setCurrent(nullptr);
}
