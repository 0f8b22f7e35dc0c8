// The application controller with scripted clients, the manual clock and a scripted alert presenter.

#include "app/controller/AppController.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "app/model/HistoryWindowPreferences.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MachineSpecifier.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/HistoryWindowPreferences.h"
#include "app/model/OutputCacheEntry.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVUserDefaultsProxy.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/PowerEvents.h"
#include "platform/desktop/SpeechSynthesizer.h"
#include "platform/desktop/UserNotificationCenter.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/foundation/NotificationCenter.h"
#include "sensors/TEVArtificialSensor.h"
#include "tests/app/controller/FakeMonitoringClient.h"
#include "tests/support/DesktopFakes.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QWidget>
#include <QGuiApplication>
#include <QPalette>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <clocale>
#include <csignal>
#include <sys/resource.h>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;
using kt::FakeMonitoringClient;
using Info = std::shared_ptr<MonitorConnectionInfo>;

namespace {

void turn()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

double now()
{
    return std::chrono::duration<double>(kt::clock()->monotonic()).count();
}

void advance(double seconds)
{
    // In steps, so that timers fire in order as they would in real time.
    for (double done = 0; done < seconds - 1e-9; done += 0.5) {
        kt::clock()->advanceSeconds(std::min(0.5, seconds - done));
        turn();
    }
}

// The stored preferences of the test's domain, as the file holds them.
QVariantMap storedPreferences()
{
    const QString path = platform::UserDefaults::pathForDomain(TEVUserDefaultsProxy::overriddenDomain());
    return platform::values::toDictionary(platform::readPropertyList(kt::readFile(path)).value).value_or(QVariantMap());
}

class FakePowerEvents final : public platform::PowerEvents {
public:
    bool registerForSystemPower() override { return true; }
    void allowSleep() override { allowed.push_back(onAllow ? onAllow() : 0); }
    std::function<int()> onAllow;
    std::vector<int> allowed; // what onAllow saw at each release
};

struct Recording {
    int splashShown = 0, splashClosed = 0, warningShown = 0, warningHidden = 0;
    QList<const void*> probeClients;
    // "<style> shown" and "<style> values <n>", in order.
    QStringList sensorWindowEvents;
    int remotePanelsMade = 0, remotePanelShows = 0;
    std::weak_ptr<RemoteConnectPanelDelegate> remotePanelDelegate;
};

ApplicationWindows recordingWindows(Recording& r)
{
    struct Splash : SplashWindow {
        Recording& r;
        explicit Splash(Recording& r) : r(r) {}
        void show() override { ++r.splashShown; }
        void close() override { ++r.splashClosed; }
    };
    struct Warning : WarningPanel {
        Recording& r;
        explicit Warning(Recording& r) : r(r) {}
        void centerAndShow() override { ++r.warningShown; }
        void orderOut() override { ++r.warningHidden; }
    };
    struct Probes : ProbesPane {
        Recording& r;
        explicit Probes(Recording& r) : r(r) {}
        void useLocalMonitoringClient(const std::shared_ptr<MonitoringClient>& c) override { r.probeClients.append(c.get()); }
    };
    struct Sensors : SensorWindow {
        Recording& r;
        qint64 style;
        bool visible = false;
        int values = 0;
        Sensors(Recording& r, qint64 style) : r(r), style(style) {}
        bool isWindowVisible() const override { return visible; }
        void showWindow() override
        {
            visible = true;
            r.sensorWindowEvents.append(QStringLiteral("%1 shown").arg(style));
        }
        void removeAllValues() override { values = 0; }
        void addStringValue(const QString&, const std::shared_ptr<TEVGauge>&) override { ++values; }
        void updateWindow() override { r.sensorWindowEvents.append(QStringLiteral("%1 values %2").arg(style).arg(values)); }
    };
    struct RemotePanel : RemoteConnectWindow {
        Recording& r;
        explicit RemotePanel(Recording& r) : r(r) {}
        void setDelegate(const std::weak_ptr<RemoteConnectPanelDelegate>& d) override { r.remotePanelDelegate = d; }
        void showWindow() override { ++r.remotePanelShows; }
    };
    ApplicationWindows w = ApplicationWindows::doNothing();
    w.makeRemoteConnectPanel = [&r] {
        ++r.remotePanelsMade;
        return std::make_shared<RemotePanel>(r);
    };
    w.makeSensorWindow = [&r](qint64 style, const QString&) { return std::make_shared<Sensors>(r, style); };
    w.makeSplashWindow = [&r] { return std::make_shared<Splash>(r); };
    w.warningPanel = std::make_shared<Warning>(r);
    w.probesPane = std::make_shared<Probes>(r);
    return w;
}

class TestController final : public AppController {
public:
    using AppController::AppController;
    int preferredChannelsOpened = 0;
    int spoken = 0;
    int ticksInside = 0, deepestTick = 0;
    std::function<void()> duringAlerts;
    bool opensPreferredChannels = false;
    using AppController::checkForDeactivatedGF6800Sensors, AppController::checkForOutdatedSensorDesignations,
        AppController::checkForUncoloredGauges, AppController::checkForWithdrawnSensorSupport;
    OutputCache& cache() { return outputCache_; }
    // A supported computer unless a test says otherwise, so that no model alert joins those the tests expect.
    MachineModel model{QStringLiteral("MacBookPro11,1"), QStringLiteral("Apple Inc.")};
    MachineModel localMachineModel() const override { return model; }
    void openPreferredDisplayChannels() override
    {
        ++preferredChannelsOpened;
        if (opensPreferredChannels)
            AppController::openPreferredDisplayChannels();
    }
    void speakActiveValues() override
    {
        ++spoken;
        AppController::speakActiveValues();
    }
    void checkForAlerts() override
    {
        deepestTick = std::max(deepestTick, ++ticksInside);
        if (duringAlerts)
            duringAlerts();
        AppController::checkForAlerts();
        --ticksInside;
    }
};

class AppControllerTest : public ::testing::Test {
public:
    void SetUp() override
    {
        static int counter = 0;
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(QStringLiteral("com.tarnwell.kelvaro.controllertest%1").arg(++counter));
        platform::PowerEvents::setShared(power);
        makeController();
    }
    void makeController()
    {
        made.clear();
        madeAt.clear();
        controller = std::make_shared<TestController>(recordingWindows(rec));
        controller->setClientFactory([this](const Info& info) {
            auto client = std::make_shared<FakeMonitoringClient>(info, info->isLocal() ? QStringLiteral("C02LOCAL") : info->hostSpecifier());
            client->remote = !info->isLocal();
            made.append(client);
            madeAt.append(now());
            return client;
        });
    }
    void TearDown() override
    {
        controller.reset();
        platform::PowerEvents::setShared(nullptr);
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith({});
    }
    std::shared_ptr<FakeMonitoringClient> local() const { return made.first(); }
    // A client factory for a controller of a test's own: the clients it makes, with `serial`, go into `made`.
    ControllerCore::ClientFactory recordingClients(const QString& serial = QStringLiteral("C02FAKE"))
    {
        made.clear();
        return [this, serial](const Info& info) {
            made.append(std::make_shared<FakeMonitoringClient>(info, serial));
            return made.last();
        };
    }
    void launchReady()
    {
        controller->applicationDidFinishLaunching();
        local()->becomeReady();
    }
    std::shared_ptr<FakeMonitoringClient> connectRemote(const QString& host, bool ready = true)
    {
        EXPECT_TRUE(controller->createRemoteClientUsingConnectionInfo(MonitorConnectionInfo::createForRemoteConnection(host, 37037), false));
        auto client = made.last();
        if (ready)
            client->becomeReady();
        return client;
    }
    QStringList alertTitles() const
    {
        QStringList titles;
        for (const auto& alert : fakes.alerts->shown)
            titles.append(alert.messageText);
        return titles;
    }

    kt::ScopedDesktopFakes fakes;
    std::shared_ptr<FakePowerEvents> power = std::make_shared<FakePowerEvents>();
    Recording rec;
    std::shared_ptr<TestController> controller;
    QList<std::shared_ptr<FakeMonitoringClient>> made;
    QList<double> madeAt;
};

} // namespace

TEST_F(AppControllerTest, StartsCompletesTheLocalClientOnceAndFillsTheCache)
{
    controller->applicationDidFinishLaunching();
    ASSERT_EQ(made.size(), 1);
    EXPECT_TRUE(local()->connectionInfo()->isLocal());
    EXPECT_EQ(rec.splashShown, 1);
    EXPECT_TRUE(controller->isUpdateTimerRunning());
    advance(4); // ticks before the client is ready ask it nothing
    EXPECT_EQ(local()->callsBeforeReady, 0);

    local()->becomeReady();
    const auto prefs = controller->localPreferences();
    ASSERT_TRUE(prefs);
    EXPECT_EQ(controller->monitorPreferences()->preferencesForMachineWithSerialNumber("C02LOCAL"), prefs);
    EXPECT_EQ(prefs->gaugeDictionary().keys(), (QStringList{"F0Ac", "TC0D"}));
    EXPECT_EQ(rec.splashClosed, 1);
    EXPECT_EQ(local()->runs, 1);
    // Gauge order: temperatures (quantity 1) before fans (6).
    EXPECT_EQ(controller->universalIdentifiersOfConnectedSensors(), (QStringList{"TC0D", "F0Ac"}));
    advance(2);
    for (const QString& id : controller->universalIdentifiersOfConnectedSensors()) {
        const auto entry = controller->outputCache().value(id);
        ASSERT_TRUE(entry && entry->hasValue()) << id.toStdString();
        EXPECT_DOUBLE_EQ(entry->currentValue(), 42.0);
    }

    // A relaunch after a lost connection: the new client is ready again, nothing is completed twice.
    local()->loseConnection();
    advance(10);
    ASSERT_EQ(made.size(), 2);
    made.last()->becomeReady();
    EXPECT_EQ(controller->localPreferences(), prefs);
    EXPECT_EQ(rec.splashShown, 1);
    EXPECT_EQ(controller->preferredChannelsOpened, 1);
    EXPECT_EQ(rec.probeClients.last(), made.last().get()); // the probe pane follows the new client
}

// An update reaches the gauges and cache entries it fills without looking them up again: the ones it fills
// must still be those the lists hold, whichever list changed since the update before.
TEST_F(AppControllerTest, EachUpdateFillsTheGaugesAndCacheEntriesFiledNow)
{
    launchReady();
    controller->updateAllOutputChannelsAndCache(true);
    auto& gauges = controller->localPreferences()->gaugeDictionary();
    const auto value = [&](const char* id) {
        const auto entry = controller->outputCache().value(id);
        return entry && entry->hasValue() ? entry->currentValue() : -1.0;
    };
    ASSERT_DOUBLE_EQ(value("TC0D"), 42.0);

    const auto refiled = TEVGauge::createForSensorIdentifierConnectingToClient(QStringLiteral("TC0D"), local());
    gauges.insert(QStringLiteral("TC0D"), refiled);
    local()->raw.insert(QStringLiteral("TC0D"), 5100);
    controller->updateAllOutputChannelsAndCache(true);
    EXPECT_EQ(controller->outputCache().value("TC0D")->connectedGauge(), refiled) << "a gauge filed anew";
    EXPECT_DOUBLE_EQ(value("TC0D"), 51.0);

    const auto entry = std::make_shared<OutputCacheEntry>();
    controller->cache().insert(QStringLiteral("TC0D"), entry);
    controller->updateAllOutputChannelsAndCache(true);
    EXPECT_TRUE(entry->hasValue()) << "a cache entry made anew";
    EXPECT_EQ(entry->connectedGauge(), refiled);

    const QString missing = QStringLiteral("WARNING: found no gauge object for TC0D!");
    gauges.remove(QStringLiteral("TC0D"));
    local()->raw.insert(QStringLiteral("F0Ac"), 120000);
    controller->updateAllOutputChannelsAndCache(true);
    controller->updateAllOutputChannelsAndCache(true);
    EXPECT_EQ(kt::log().count(missing), 2) << "a gauge gone is said on every update";
    EXPECT_DOUBLE_EQ(value("F0Ac"), 1200.0) << "and the others are still filled";

    gauges.insert(QStringLiteral("TC0D"), refiled);
    local()->raw.insert(QStringLiteral("TC0D"), 5200);
    controller->updateAllOutputChannelsAndCache(true);
    EXPECT_EQ(kt::log().count(missing), 2);
    EXPECT_DOUBLE_EQ(value("TC0D"), 52.0) << "a gauge filed again";
}

TEST_F(AppControllerTest, TheRemoteConnectPanelIsMadeOnceAndHandsItsChoiceToTheController)
{
    launchReady();
    controller->openRemoteConnectPanel();
    controller->openRemoteConnectPanel();
    EXPECT_EQ(rec.remotePanelsMade, 1);
    EXPECT_EQ(rec.remotePanelShows, 2);
    const auto delegate = rec.remotePanelDelegate.lock();
    ASSERT_EQ(delegate.get(), static_cast<RemoteConnectPanelDelegate*>(controller.get()));
    delegate->panel(nullptr, {MonitorConnectionInfo::createForRemoteConnection("lab.local", 37037)});
    advance(1);
    ASSERT_EQ(made.size(), 2);
    EXPECT_EQ(made.last()->connectionInfo()->hostSpecifier(), QStringLiteral("lab.local"));
}

TEST_F(AppControllerTest, ConnectsAreStaggeredOneSecondApart)
{
    launchReady();
    controller->processPowerEventNewStateIsSleeping(false); // nothing slept: no connect
    advance(20);
    const int before = made.size();
    const double t0 = now();
    const auto hosts = [](QStringList names) {
        QList<Info> infos;
        for (const QString& name : names)
            infos.append(MonitorConnectionInfo::createForRemoteConnection(name, 37037));
        return infos;
    };
    controller->panel(nullptr, hosts({"a", "b", "c"}));
    advance(5);
    ASSERT_EQ(made.size(), before + 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_DOUBLE_EQ(madeAt[before + i] - t0, 1.0 + i);
    EXPECT_TRUE(controller->reconnectingClients().isEmpty()); // not quietly

    // Sleep disconnects the ready remote computers, releasing sleep only after; wake reconnects them quietly.
    // Each step is logged, and so are the gauges of each computer again once it is back.
    for (int i = before; i < made.size(); ++i) {
        made[i]->serial = QStringLiteral("SLEEPER%1").arg(i);
        made[i]->becomeReady();
    }
    const QString gaugesLine = QStringLiteral("sensors of 'Fake computer' added as gauges");
    const int gaugesBefore = kt::log().count(gaugesLine);
    EXPECT_EQ(gaugesBefore, 3);
    power->onAllow = [&] { return int(std::count_if(made.cbegin(), made.cend(), [](const auto& c) { return c->shutdowns > 0; })); };
    emit power->systemWillSleep();
    EXPECT_EQ(power->allowed, std::vector<int>{3});
    EXPECT_EQ(controller->monitorClients().size(), 1);
    EXPECT_EQ(kt::log().count(QStringLiteral("The system goes to sleep: 3 remote computers are disconnected.")), 1);
    const double wake = now();
    emit power->systemHasPoweredOn();
    EXPECT_EQ(kt::log().count(QStringLiteral("The system has woken: 3 remote computers are reconnected in 8 s.")), 1);
    advance(12);
    EXPECT_EQ(kt::log().count(QStringLiteral("Reconnecting 3 remote computers after the wake.")), 1);
    ASSERT_EQ(made.size(), before + 6);
    for (int i = 0; i < 3; ++i)
        EXPECT_DOUBLE_EQ(madeAt[before + 3 + i] - wake, 9.0 + i);
    EXPECT_EQ(controller->reconnectingClients().size(), 3);
    for (int i = before + 3; i < made.size(); ++i) {
        made[i]->serial = made[i - 3]->serial;
        made[i]->becomeReady();
    }
    EXPECT_EQ(kt::log().count(gaugesLine), gaugesBefore + 3) << "a computer back after the wake has its gauges again";
}

TEST_F(AppControllerTest, ReconnectsKnownComputersSkippingThoseWithoutADescriptor)
{
    auto& prefs = *controller->monitorPreferences();
    prefs.addConnectionInfo(MonitorConnectionInfo::createForRemoteConnection("two", 1), "S2");
    prefs.addConnectionInfo(MonitorConnectionInfo::createForRemoteConnection("three", 1), "S3");
    TEVUserDefaultsProxy::standardUserDefaults().setObject(platform::values::fromArray({"S1", "S2", "S3"}),
                                                           "ActiveRemoteConnections");
    const double t0 = now();
    controller->reconnectKnownClients();
    advance(4);
    ASSERT_EQ(made.size(), 2);
    EXPECT_EQ(made[0]->connectionInfo()->hostSpecifier(), "two");
    EXPECT_DOUBLE_EQ(madeAt[0] - t0, 1.0);
    EXPECT_DOUBLE_EQ(madeAt[1] - t0, 2.0);
    EXPECT_EQ(controller->reconnectingClients().size(), 2);
    EXPECT_EQ(controller->readableRepresentationForClientWithSerialNumber("S9"), "Computer with serial number S9");
    EXPECT_EQ(controller->readableRepresentationForClientWithSerialNumber("S3"), "three");
    EXPECT_DOUBLE_EQ(controller->historyTimeDeltaForUniversalGaugeIdentifier({}, true), 1.0);
}

TEST_F(AppControllerTest, AcceptsOnlyIdentifiedUniqueClientsOfARecentVersion)
{
    struct Case {
        const char* name;
        quint64 version;
        QString identification; // null: from the serial number
        bool accepted;
        const char* alert;
    };
    const Case cases[] = {
        {"version 1359", 1359, {}, false, "Incompatible remote agent"},
        {"version 1360", 1360, {}, true, nullptr},
        {"16 bits of 66896 are 1360", 66896, {}, true, nullptr},
        {"no identification", 1376, QStringLiteral(""), false, nullptr},
    };
    launchReady();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fakes.alerts->shown.clear();
        auto remote = connectRemote(c.name, false);
        remote->version = c.version;
        remote->becomeReady(c.identification);
        EXPECT_EQ(controller->monitorClients().contains(remote), c.accepted);
        EXPECT_EQ(remote->shutdowns > 0, !c.accepted);
        EXPECT_EQ(alertTitles(), c.alert ? QStringList{c.alert} : QStringList{});
        controller->disconnectClient(remote);
    }

    // A second client of the same computer is refused without disconnecting the first one's gauges, and the
    // user is told; so is a remote computer that is this one.
    fakes.alerts->shown.clear();
    auto first = connectRemote("tower");
    auto second = connectRemote("tower.local", false);
    second->serial = first->serial;
    second->becomeReady();
    EXPECT_FALSE(controller->monitorClients().contains(second));
    int connected = 0;
    for (const auto& gauge : controller->localPreferences()->gaugeDictionary())
        connected += gauge->connectedMonitoringClient().get() == static_cast<TEVSensorSource*>(first.get());
    EXPECT_EQ(connected, 2);
    EXPECT_EQ(controller->clientForSerialNumber("tower"), first);
    ASSERT_EQ(alertTitles(), QStringList{"Computer monitored already"});
    EXPECT_FALSE(fakes.alerts->shown.first().informativeText.contains("this computer"));

    fakes.alerts->shown.clear();
    auto itself = connectRemote("127.0.0.1", false);
    itself->serial = local()->serial;
    itself->becomeReady();
    EXPECT_FALSE(controller->monitorClients().contains(itself));
    EXPECT_TRUE(controller->monitorClients().contains(local()));
    ASSERT_EQ(alertTitles(), QStringList{"Computer monitored already"});
    EXPECT_TRUE(fakes.alerts->shown.first().informativeText.contains("is this computer")) << fakes.alerts->shown.first().informativeText.toStdString();
}

TEST_F(AppControllerTest, LostAndFailedClients)
{
    launchReady();
    // A quiet client is dropped silently; a loud one is reported 5 s after its loss.
    ASSERT_TRUE(controller->createRemoteClientUsingConnectionInfo(MonitorConnectionInfo::createForRemoteConnection("quiet", 1), true));
    made.last()->loseConnection();
    auto loud = connectRemote("loud");
    loud->name = QStringLiteral("Loud Mac");
    loud->loseConnection();
    EXPECT_FALSE(controller->monitorClients().contains(loud));
    advance(4.5);
    EXPECT_TRUE(fakes.alerts->shown.isEmpty());
    advance(1);
    EXPECT_EQ(alertTitles(), QStringList{"Lost connection to monitored computer"});
    // Named as it named itself, though it is no longer among the clients.
    EXPECT_TRUE(fakes.alerts->shown.first().informativeText.contains("'Loud Mac'"));

    // A failed local client is removed for good, with the alert that asks to quit.
    fakes.alerts->shown.clear();
    local()->fail();
    advance(20);
    EXPECT_EQ(made.size(), 3);
    EXPECT_TRUE(controller->monitorClients().isEmpty());
    EXPECT_EQ(alertTitles(), QStringList{"The application could not complete its startup within the expected time."});
}

// A remote computer that fails is named as it named itself or, never ready, by how it was reached (its host
// and port: several computers may share a host); the alert says which way contacting it went wrong, and the
// log line names the computer, not the client object.
TEST_F(AppControllerTest, FailedRemoteComputerIsNamedWithTheReason)
{
    struct Row {
        const char* host;
        bool ready;
        RemoteFailure failure;
        const char* name;
        const char* logged;
        const char* reason;
    };
    const Row rows[] = {
        {"10.0.0.7", true, RemoteFailure::NoAnswer, "Studio Mac", "'Studio Mac' at 10.0.0.7:37037", "It did not answer in time."},
        {"10.0.0.8", true, RemoteFailure::ConnectionClosed, "Studio Mac", "'Studio Mac' at 10.0.0.8:37037", "It closed the connection"},
        {"10.0.0.9", false, RemoteFailure::ConnectionRefused, "10.0.0.9:37037", "10.0.0.9:37037", "It refused the connection"},
        {"nowhere.example", false, RemoteFailure::HostNotFound, "nowhere.example:37037", "nowhere.example:37037",
         "Its name could not be found"},
        {"10.0.0.10", false, RemoteFailure::NotMonitoring, "10.0.0.10:37037", "10.0.0.10:37037",
         "It answers at its port, but it is no monitoring service: it did not describe its computer."},
        {"10.0.0.11", false, RemoteFailure::NoSerialNumber, "10.0.0.11:37037", "10.0.0.11:37037",
         "It sent no serial number, by which alone it could be told apart from other computers."},
    };
    launchReady();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.host);
        fakes.alerts->shown.clear();
        auto remote = connectRemote(row.host, row.ready);
        remote->name = QStringLiteral("Studio Mac");
        remote->failure = row.failure;
        remote->fail();
        EXPECT_FALSE(controller->monitorClients().contains(remote));
        ASSERT_EQ(alertTitles(), QStringList{"Could not contact remote computer"});
        const QString text = fakes.alerts->shown.first().informativeText;
        EXPECT_TRUE(text.startsWith(QStringLiteral("It was not possible to contact '%1' to get sensor readouts. ").arg(row.name)))
            << text.toStdString();
        EXPECT_TRUE(text.contains(QLatin1String(row.reason))) << text.toStdString();
        // The log says who and why as well, on the one line of the failure.
        EXPECT_EQ(kt::log().count(QStringLiteral("The monitoring client of %1 has failed. %2").arg(row.logged, row.reason)), 1)
            << kt::log().lines().join(QString()).toStdString();
    }
}

// A remote computer that says it sleeps before it has said who it is is named by its host and port in the
// log and the alert; one that has, by its name.
TEST_F(AppControllerTest, ARemoteComputerAsleepIsNamedEvenBeforeItIdentifiedItself)
{
    struct Row {
        const char* host;
        bool ready;
        const char* name;
        const char* logged;
    };
    const Row rows[] = {
        {"10.0.0.7", false, "10.0.0.7:37037", "The monitored computer at 10.0.0.7:37037 has entered sleep mode before it "
                                              "identified itself and is disconnected.\n"},
        {"10.0.0.8", true, "Studio Mac", "The monitored computer 'Studio Mac' at 10.0.0.8:37037 (S/N 10.0.0.8) has entered "
                                         "sleep mode and is disconnected.\n"},
    };
    launchReady();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.host);
        fakes.alerts->shown.clear();
        auto remote = connectRemote(row.host, false);
        remote->name = QStringLiteral("Studio Mac");
        if (row.ready)
            remote->becomeReady();
        fakes.alerts->shown.clear();
        remote->enterSleepMode();
        EXPECT_FALSE(controller->monitorClients().contains(remote));
        EXPECT_EQ(kt::log().count(QLatin1String(row.logged)), 1) << kt::log().lines().join(QString()).toStdString();
        ASSERT_EQ(alertTitles(), QStringList{"Sensors on remote computer have powered down"});
        EXPECT_TRUE(fakes.alerts->shown.first().informativeText.contains(QStringLiteral("from computer '%1' because").arg(row.name)))
            << fakes.alerts->shown.first().informativeText.toStdString();
    }
}

// Identical computers of a rack share a name: each computer's overview has its own gauges once, and the
// outline names each computer apart by where it is reached, the stored gauges keyed as ever.
TEST_F(AppControllerTest, ComputersOfOneNameKeepTheirOwnGaugesAndAreNamedApart)
{
    launchReady();
    QList<std::shared_ptr<FakeMonitoringClient>> remotes;
    for (const char* host : {"10.0.0.7", "10.0.0.8", "10.0.0.9"}) {
        auto remote = connectRemote(QLatin1String(host), false);
        remote->name = QStringLiteral("Studio Mac Pro");
        remote->becomeReady();
        remotes.append(remote);
    }
    for (const auto& remote : remotes) {
        SCOPED_TRACE(remote->serial.toStdString());
        const auto gauges = controller->activeGaugesForConnectedClient(remote);
        ASSERT_EQ(gauges.size(), remote->sensors.size());
        for (const auto& gauge : gauges)
            EXPECT_EQ(gauge->connectedMonitoringClient().get(), static_cast<const TEVSensorSource*>(remote.get()));
    }
    EXPECT_EQ(controller->activeGaugesForConnectedClient(local()).size(), local()->sensors.size());
    EXPECT_EQ(controller->localGaugeComputers(),
              (QStringList{"Fake computer", "Studio Mac Pro (10.0.0.7:37037)", "Studio Mac Pro (10.0.0.8:37037)",
                           "Studio Mac Pro (10.0.0.9:37037)"}));
    for (const QString& computer : controller->localGaugeComputers())
        EXPECT_EQ(controller->gaugesByComputer().value(computer).size(), 2) << computer.toStdString();
    EXPECT_TRUE(controller->localPreferences()->gaugeDictionary().contains(QStringLiteral("remote.10\\D0\\D0\\D8.TC0D")));

    // Gone, a computer keeps its gauges under its stored place; the last one of the name left is its name alone.
    controller->disconnectClient(remotes[0]);
    controller->disconnectClient(remotes[1]);
    controller->handleConfigurationChangeOnClient(nullptr);
    EXPECT_EQ(controller->localGaugeComputers(),
              (QStringList{"10.0.0.7", "10.0.0.8", "Fake computer", "Studio Mac Pro"}));
    EXPECT_EQ(controller->activeGaugesForConnectedClient(remotes[2]).size(), 2);
}

// One failure, one dialog: a remote computer without sensors is told of as such, but one that failed by the
// time it is taken up gets only the alert of its failure.
TEST_F(AppControllerTest, AFailedRemoteComputerGetsOneDialog)
{
    struct Row {
        const char* host;
        RemoteFailure failure;
        QStringList alerts;
    };
    const Row rows[] = {
        {"10.0.0.7", RemoteFailure::None, {"No accessible sensors found"}},
        {"10.0.0.8", RemoteFailure::NoAnswer, {"Could not contact remote computer"}},
    };
    launchReady();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.host);
        fakes.alerts->shown.clear();
        auto remote = connectRemote(row.host, false);
        remote->sensors.clear();
        remote->failure = row.failure;
        remote->becomeReady();
        if (row.failure != RemoteFailure::None)
            remote->fail();
        EXPECT_EQ(alertTitles(), row.alerts);
        controller->disconnectClient(remote);
    }
}

TEST_F(AppControllerTest, RelaunchesTheLocalClientAfterTenSecondsWhateverTheIntervalDoes)
{
    launchReady();
    local()->loseConnection();
    EXPECT_FALSE(controller->isUpdateTimerRunning());
    EXPECT_EQ(rec.warningShown, 1);
    EXPECT_FALSE(controller->localClient());
    advance(5);
    controller->readjustMainUpdateTimer(); // the interval slider moved meanwhile
    EXPECT_FALSE(controller->isUpdateTimerRunning());
    advance(4.5);
    EXPECT_EQ(made.size(), 1);
    advance(0.5);
    ASSERT_EQ(made.size(), 2);
    EXPECT_EQ(controller->localClient(), made.last());
    EXPECT_EQ(rec.warningHidden, 1);
    EXPECT_TRUE(controller->isUpdateTimerRunning());
}

TEST_F(AppControllerTest, QuitWritesWhatExistsInEveryState)
{
    struct Case {
        const char* name;
        std::function<void(AppControllerTest&)> before;
        bool hasLocalSet;
        // The failed history save is warned of only where there were histories to save.
        bool warnsOfHistories;
    };
    const Case cases[] = {
        {"before the first ready", [](AppControllerTest& t) { t.controller->applicationDidFinishLaunching(); }, false, false},
        {"during a relaunch", [](AppControllerTest& t) { t.launchReady(); t.local()->loseConnection(); }, true, false},
        {"running", [](AppControllerTest& t) { t.launchReady(); }, true, false},
        {"running, histories not saved",
         [](AppControllerTest& t) {
             t.launchReady();
             t.local()->historiesSaved = false;
         },
         true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        static int counter = 0;
        const QString domain = QStringLiteral("com.tarnwell.kelvaro.quittest%1").arg(++counter);
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(domain);
        makeController();
        c.before(*this);
        const auto clients = made;
        kt::log().clear();
        controller->applicationWillTerminate();
        EXPECT_EQ(kt::log().contains("could not save long-term history buffers"), c.warnsOfHistories);
        const auto read = platform::readPropertyList(kt::readFile(platform::UserDefaults::pathForDomain(domain)));
        const auto stored = platform::values::toDictionary(read.value);
        ASSERT_TRUE(stored) << "no preferences written";
        const QVariantMap sets = platform::values::toDictionary(stored->value("MachinePreferences")).value_or(QVariantMap());
        EXPECT_EQ(sets.contains("C02LOCAL"), c.hasLocalSet);
        EXPECT_EQ(stored->value("PreferencesVersion"), QVariant(qint64(3)));
        for (const auto& client : clients)
            EXPECT_GE(client->shutdowns, 1);
    }
}

TEST_F(AppControllerTest, RefusedLocalClientClosesTheSplashAndSaysSo)
{
    controller->applicationDidFinishLaunching();
    local()->becomeReady(QStringLiteral(""));
    EXPECT_EQ(rec.splashClosed, 1);
    EXPECT_EQ(alertTitles(), QStringList{"The application could not complete its startup within the expected time."});
    EXPECT_FALSE(controller->localPreferences());
}

TEST_F(AppControllerTest, ConfigurationChangesAndIntervalSpeech)
{
    launchReady();
    controller->pendingAlerts().insert("F0Ac", kt::clock()->monotonic());
    const auto fan = controller->localPreferences()->gaugeDictionary().value("F0Ac");

    // A vanished sensor: disconnected, no cache entry, no pending alert.
    local()->sensors = {"TC0D", "TC1D"};
    local()->raw.insert("TC1D", 3000);
    local()->configurationChanged = true;
    advance(2);
    EXPECT_FALSE(fan->connectedMonitoringClient());
    EXPECT_FALSE(controller->outputCache().contains("F0Ac"));
    EXPECT_FALSE(controller->pendingAlerts().contains("F0Ac"));
    // A new one: its sorted place (by location name) and a value in the same update.
    EXPECT_EQ(controller->universalIdentifiersOfConnectedSensors(), (QStringList{"TC0D", "TC1D"}));
    EXPECT_DOUBLE_EQ(controller->outputCache().value("TC1D")->currentValue(), 30.0);

    // Interval speech counts every update, not only the ticks.
    struct Case {
        quint64 multiplier;
        int updates;
        int spoken;
    };
    for (const Case c : {Case{3, 9, 3}, Case{3, 8, 2}, Case{0, 4, 4}}) {
        controller->localPreferences()->setTalksInIntervals(true);
        controller->localPreferences()->setTalkIntervalMultiplier(c.multiplier);
        controller->spoken = 0;
        // Start the count afresh: one update with the multiplier reached resets it.
        controller->localPreferences()->setTalkIntervalMultiplier(0);
        controller->updateAllOutputChannelsAndCache(true);
        controller->localPreferences()->setTalkIntervalMultiplier(c.multiplier);
        controller->spoken = 0;
        for (int i = 0; i < c.updates; ++i)
            controller->updateAllOutputChannelsAndCache(true);
        EXPECT_EQ(controller->spoken, c.spoken) << c.multiplier << " " << c.updates;
    }
}

TEST_F(AppControllerTest, AModalAlertDuringATickDoesNotReenterIt)
{
    // An alert whose modal loop runs the main loop while 30 s pass, as Qt's does.
    class SpinningPresenter final : public platform::AlertPresenter {
    public:
        int runModal(const platform::Alert&) override
        {
            advance(30);
            return 0;
        }
        void beep() override {}
    };
    launchReady();
    auto remote = connectRemote("tower");
    platform::AlertPresenter::setShared(std::make_shared<SpinningPresenter>());
    bool once = true;
    controller->duringAlerts = [&] {
        if (std::exchange(once, false)) {
            remote->loseConnection(); // the client list changes while the tick is inside its alert
            platform::AlertPresenter::shared()->runModal({});
        }
    };
    advance(2);
    EXPECT_EQ(controller->deepestTick, 1);
    EXPECT_FALSE(controller->monitorClients().contains(remote));
    advance(2);
    EXPECT_EQ(controller->deepestTick, 1);
    platform::AlertPresenter::setShared(nullptr);
}

namespace platform {
void PrintTo(const StatusItem::Run& run, std::ostream* os)
{
    *os << '"' << run.text.toStdString() << "\" " << run.color.name().toStdString() << (run.inverted ? " inverted" : "");
}
} // namespace platform

namespace {

class RecordingStatusItem final : public platform::StatusItem {
public:
    Title title;
    QStringList items;
    int menusBuilt = 0;
    void setTitle(const Title& t, const QFont&) override { title = t; }
    qsizetype menuItemCount() const override { return items.size(); }
    void setMenuItems(const QStringList& titles) override
    {
        items = titles;
        ++menusBuilt;
    }
    void setMenuItemTitle(qsizetype index, const QString& t) override { items[index] = t; }
};

class RecordingDock final : public DockTile {
public:
    QStringList lines;
    QList<QColor> colors;
    void setLine1Color(const QColor& a, const QColor& b) override { colors = {a, b}; }
    void setLine1(const QString& a, const QString& b) override { lines = {a, b}; }
};

} // namespace

TEST_F(AppControllerTest, TrayTitleSlotsAndDropDown)
{
    std::shared_ptr<RecordingStatusItem> tray;
    auto windows = recordingWindows(rec);
    int itemsMade = 0;
    windows.makeStatusItem = [&] {
        ++itemsMade;
        return tray = std::make_shared<RecordingStatusItem>();
    };
    controller = std::make_shared<TestController>(windows);
    controller->setClientFactory([this](const Info& info) {
        auto client = std::make_shared<FakeMonitoringClient>(info, QStringLiteral("C02LOCAL"));
        client->sensors = {"TA", "TB", "TC", "TD"};
        made.append(client);
        return client;
    });
    launchReady();
    auto& prefs = *controller->localPreferences();
    const auto gauge = [&](const char* id) { return prefs.gaugeDictionary().value(id); };
    const auto red = platform::Color::rgb(platform::Color::Space::DeviceRGB, 1, 0, 0);
    gauge("TA")->setPresentationColor(red);
    gauge("TB")->setAlertState(true);
    gauge("TB")->setPresentationColor(platform::Color::rgb(platform::Color::Space::DeviceRGB, 0, 0, 1));
    made.first()->raw.insert("TB", 5000);
    const QColor text = QGuiApplication::palette().color(QPalette::WindowText);
    struct Case {
        const char* name;
        QStringList sensors;
        quint64 count;
        bool shortNames, color;
        platform::StatusItem::Title runs;
        QStringList menu;
    };
    const Case cases[] = {
        {"two slots, one sensor", {"TA"}, 2, false, false, {{"42.0°C", text, false}, {" - ", text, false}}, {}},
        {"colour carries over a slot without a value", {"TA", "TX", "TB"}, 3, false, true,
         {{"42.0°C", Qt::red, false}, {" - ", Qt::red, false}, {" 50.0°C", Qt::blue, true}}, {}},
        {"short names", {"TA", "TB"}, 2, true, false,
         {{"LOCAT: 42.0°C", text, false}, {" LOCAT: 50.0°C", text, true}}, {}},
        {"the rest in the drop-down, in order", {"TA", "TB", "TX", "TC"}, 1, false, false, {{"42.0°C", text, false}},
         {"Location TB: 50.0°C", "Location TC: 42.0°C"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prefs.menuBarSensorNames() = c.sensors;
        prefs.setMenuBarDisplaysShortNames(c.shortNames);
        prefs.setMenuBarUsesColor(c.color);
        controller->monitorPreferences()->setNumberOfMenuBarValues(c.count);
        controller->updateAllOutputChannelsAndCache(true);
        ASSERT_TRUE(tray);
        EXPECT_EQ(tray->title, c.runs);
        EXPECT_EQ(tray->items, c.menu);
    }
    // Same count: the drop-down is not rebuilt, its titles change in place.
    const int built = tray->menusBuilt;
    made.first()->raw.insert("TC", 4400);
    controller->updateAllOutputChannelsAndCache(true);
    EXPECT_EQ(tray->menusBuilt, built);
    EXPECT_EQ(tray->items.last(), QStringLiteral("Location TC: 44.0°C"));
    controller->monitorPreferences()->setNumberOfMenuBarValues(0);
    controller->updateAllOutputChannelsAndCache(true);
    EXPECT_FALSE(controller->statusItem());
    EXPECT_EQ(itemsMade, 1);
}

TEST_F(AppControllerTest, DockLinesFallBackToADashInTheHighlightColour)
{
    auto dock = std::make_shared<RecordingDock>();
    auto windows = recordingWindows(rec);
    windows.dockTile = dock;
    controller = std::make_shared<TestController>(windows);
    controller->setClientFactory(recordingClients());
    launchReady();
    controller->localPreferences()->dockSensorNames() = {};
    controller->monitorPreferences()->setNumberOfDockValues(1);
    controller->updateAllOutputChannelsAndCache(true);
    EXPECT_EQ(dock->lines, (QStringList{"-", "-"}));
    const QColor highlight = QGuiApplication::palette().color(QPalette::Highlight);
    EXPECT_EQ(dock->colors, (QList<QColor>{highlight, highlight}));
}

namespace {

class FakeSpeech final : public platform::SpeechSynthesizer {
public:
    QStringList spoken;
    QStringList availableVoices() override { return {"v.en"}; }
    QString defaultVoice() override { return "v.en"; }
    QVariantMap attributesForVoice(const QString&) override { return {{kVoiceLocaleIdentifier, "en-us"}}; }
    QString voiceBundlesDirectory() override { return {}; }
    bool startSpeaking(const QString& text, const QString&) override
    {
        spoken.append(text);
        return true;
    }
};

// The local computer with one temperature "TC0D" at 42.0 °C, in the alert and talking lists.
class AlertsTest : public AppControllerTest {
public:
    void SetUp() override
    {
        AppControllerTest::SetUp();
        platform::SpeechSynthesizer::setShared(speech);
        launchReady();
        prefs = controller->localPreferences();
        gauge = prefs->gaugeDictionary().value("TC0D");
        prefs->alertTriggerSensorNames() = {"TC0D"};
        prefs->talkingSensorNames() = {"TC0D"};
        prefs->setAlertPlaysSound(true);
        controller->monitorPreferences()->setVoiceMode(2);
        controller->setAlertHandOffPath(dir.filePath("alert.txt"));
    }
    void TearDown() override
    {
        platform::SpeechSynthesizer::setShared(nullptr);
        AppControllerTest::TearDown();
    }
    void tick(qint64 raw)
    {
        local()->raw.insert("TC0D", raw);
        controller->updateAllOutputChannelsAndCache(true);
    }

    QTemporaryDir dir;
    std::shared_ptr<FakeSpeech> speech = std::make_shared<FakeSpeech>();
    std::shared_ptr<MachinePreferences> prefs;
    std::shared_ptr<TEVGauge> gauge;
};

} // namespace

TEST_F(AlertsTest, ThresholdsAreStrictAndAlertsAreHeldOffPerSensor)
{
    gauge->enableHighThresholdAlert(true);
    gauge->setHighThreshold(50);
    struct Step {
        double advance;
        qint64 raw;
        int beeps;
        bool state;
    };
    const Step steps[] = {
        {0, 5000, 0, false},    // equal to the limit
        {0, 5001, 1, true},     // just above
        {29, 5100, 1, true},    // held off
        {0.5, 5100, 1, true},   // the wall clock set back an hour changes nothing
        {1, 5100, 2, true},     // 30 s later
        {0, -1, 2, false},      // no value clears the state
    };
    for (const Step& s : steps) {
        kt::clock()->advanceSeconds(s.advance);
        if (&s == &steps[3])
            kt::clock()->setNow(kt::clock()->now().addSecs(-3600));
        tick(s.raw);
        EXPECT_EQ(fakes.alerts->beeps, s.beeps) << s.raw;
        EXPECT_EQ(gauge->isInAlertState(), s.state) << s.raw;
    }
    // Inverted limits: above the high and below the low one; the high alert goes out, the low one is held off.
    gauge->enableLowThresholdAlert(true);
    gauge->setLowThreshold(60);
    kt::clock()->advanceSeconds(31);
    speech->spoken.clear();
    prefs->setAlertUsesVoice(true);
    prefs->talkingSensorNames().clear();
    tick(5500);
    EXPECT_EQ(fakes.alerts->beeps, 3);
    EXPECT_TRUE(gauge->isInAlertState());
    EXPECT_EQ(speech->spoken.size(), 1);
}

TEST_F(AlertsTest, ChangeSpeechFollowsTheDeltaAndNeverRepeatsAMissingValue)
{
    tick(4200); // nothing spoken yet: differs from 0.0
    ASSERT_EQ(speech->spoken, QStringList{"   42.0 ."});
    tick(4200);
    tick(4201); // 0.01 is not more than the default delta
    EXPECT_EQ(speech->spoken.size(), 1);
    tick(4203); // 0.02 is
    EXPECT_EQ(speech->spoken.size(), 2);
    // No value: said once as such, then nothing more while it lasts.
    speech->spoken.clear();
    prefs->talkingSensorNames() = {"TC0D", "GONE"};
    tick(-1);
    tick(-1);
    tick(-1);
    EXPECT_TRUE(speech->spoken.isEmpty());
    controller->speakActiveValues();
    EXPECT_EQ(speech->spoken, QStringList{"no value ."});
}

TEST_F(AlertsTest, SpeechWithoutEspeakIsReportedOnceWithTheReason)
{
    QTemporaryDir empty;
    platform::SpeechSynthesizer::setShared(std::make_shared<platform::EspeakSpeechSynthesizer>(empty.filePath("espeak-ng")));
    kt::log().clear();
    tick(4200);
    tick(4300);
    controller->speakActiveValues();
    EXPECT_EQ(kt::log().count("WARNING: could not speak because no valid voice for language 'en'.\n"), 1)
        << kt::log().lines().join("").toStdString();
    EXPECT_EQ(kt::log().count("EspeakSpeechSynthesizer: " + empty.filePath("espeak-ng") + " was not found; speech is not available"), 1);
}

TEST_F(AlertsTest, TemperatureUnitChangesConvertTheThresholdsOfEveryTemperatureGauge)
{
    const double high = gauge->highThreshold();
    gauge->connectToClient(nullptr); // its computer is away
    controller->updateGaugeAlertsChangingTemperatureUnitFrom(0, 3);
    EXPECT_EQ(gauge->highThreshold(), high);
    controller->updateGaugeAlertsChangingTemperatureUnitFrom(0, 1);
    EXPECT_DOUBLE_EQ(gauge->highThreshold(), high * 9 / 5 + 32);
    EXPECT_EQ(prefs->gaugeDictionary().value("F0Ac")->lowThreshold(), 100.0) << "fans keep theirs";
}

TEST_F(AlertsTest, TheHandOffFileNamesTheSensorAndIsNeverWrittenThroughALink)
{
    gauge->enableHighThresholdAlert(true);
    gauge->setHighThreshold(10);
    prefs->setAlertLaunchesObject(true);
    prefs->setAlertObjectPath("/opened");
    prefs->setAlertOpensWarning(false);
    tick(4200);
    EXPECT_EQ(kt::readFile(dir.filePath("alert.txt")), "TC0D\n");
    EXPECT_EQ(fakes.workspace->openedFiles, QStringList{"/opened"});

    // A link planted at the path: replaced, never followed.
    const QString target = dir.filePath("victim");
    kt::writeFile(target, "keep");
    QFile::remove(dir.filePath("alert.txt"));
    ASSERT_TRUE(QFile::link(target, dir.filePath("alert.txt")));
    kt::clock()->advanceSeconds(31);
    fakes.workspace->succeed = false;
    tick(4300);
    EXPECT_EQ(kt::readFile(target), "keep");
    EXPECT_EQ(kt::readFile(dir.filePath("alert.txt")), "TC0D\n");
    EXPECT_EQ(alertTitles(), QStringList{"Could not open alert object"});
}

TEST_F(AlertsTest, TheNotificationReplacesTheLastAlert)
{
    if (!kt::haveSessionBus())
        GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    kt::FakeNotificationService service;
    ASSERT_TRUE(service.isRegistered());
    service.capabilities << "body-markup";
    platform::UserNotificationCenter center(QStringLiteral("Kelvaro"), service.serviceName());
    platform::UserNotificationCenter::setDefaultCenter(&center);
    ASSERT_TRUE(kt::waitFor([&] { return center.capabilitiesKnown(); }));
    gauge->enableHighThresholdAlert(true);
    gauge->setHighThreshold(40);
    gauge->setCustomName("CPU <b>die</b> & R&D"); // a name the user typed is text, never markup
    prefs->setAlertSendsGrowl(true);
    struct Delivered : platform::UserNotificationCenterDelegate {
        int count = 0;
        void userNotificationCenterDidDeliverNotification(platform::UserNotificationCenter&, const platform::UserNotification&) override
        {
            ++count;
        }
    };
    const auto delivered = std::make_shared<Delivered>();
    center.setDelegate(delivered);
    tick(4250);
    ASSERT_TRUE(kt::waitFor([&] { return delivered->count == 1; })); // the server's id is known now
    kt::clock()->advanceSeconds(31);
    tick(4300);
    ASSERT_TRUE(kt::waitFor([&] { return service.notifies.size() == 2; }));
    platform::UserNotificationCenter::setDefaultCenter(nullptr);
    EXPECT_EQ(service.notifies.at(0).summary, "Sensor Alert");
    EXPECT_EQ(service.notifies.at(0).body, "CPU &lt;b&gt;die&lt;/b&gt; &amp; R&amp;D\nValue has exceeded limit 40 (currently 42.5).");
    EXPECT_EQ(service.notifies.at(1).replacesId, service.notifies.at(0).id);
}

TEST_F(AppControllerTest, TheWindowsOpenAtTheLastQuitReopenOnce)
{
    struct Factory : MonitorWindowFactory {
        QStringList* opened;
        QString name;
        void openAllWindows() override { opened->append(name); }
    };
    QStringList opened;
    auto windows = recordingWindows(rec);
    windows.makeMonitorWindowFactory = [&](const QString& name, const QString&) {
        auto factory = std::make_shared<Factory>();
        factory->opened = &opened;
        factory->name = name;
        return factory;
    };
    // The base's behaviour, not the counting override of the other tests.
    auto real = std::make_shared<AppController>(windows);
    real->setClientFactory(recordingClients());
    real->applicationDidFinishLaunching();
    auto& prefs = *real->monitorPreferences();
    prefs.setOverviewShouldOpen(true);
    prefs.setSystemInfoShouldOpen(true);
    prefs.setBatteryInfoShouldOpen(false);
    prefs.setDisplayInfoShouldOpen(true);
    made.first()->becomeReady();
    EXPECT_EQ(opened, (QStringList{"SensorOverview", "SystemInfoDisplay", "DisplayInfoDisplay"}));
    made.first()->becomeReady(); // a later ready of the same client opens nothing again
    EXPECT_EQ(opened.size(), 3);
}

TEST_F(AppControllerTest, OpensTheWindowsOfTheLastQuitFilledAtOnce)
{
    struct Row {
        bool standard, floating;
        QStringList events;
    } rows[] = {
        // A first launch opens the sensor window only.
        {true, false, {"0 shown", "0 values 2"}},
        {true, true, {"0 shown", "0 values 2", "1 shown", "1 values 2"}},
        {false, false, {}},
    };
    for (const Row& row : rows) {
        makeController();
        controller->opensPreferredChannels = true;
        controller->applicationDidFinishLaunching();
        controller->monitorPreferences()->setStandardWindowShouldOpen(row.standard);
        controller->monitorPreferences()->setScreenDisplayShouldOpen(row.floating);
        rec.sensorWindowEvents.clear();
        fakes.alerts->answers = {1}; // no new colours, which would refresh the windows once more
        local()->becomeReady();
        EXPECT_EQ(rec.sensorWindowEvents, row.events) << row.standard << row.floating;
        controller->applicationWillTerminate();
        EXPECT_EQ(controller->monitorPreferences()->standardWindowShouldOpen(), row.standard);
        EXPECT_EQ(controller->monitorPreferences()->screenDisplayShouldOpen(), row.floating);
    }
}

// --- Menus ---------------------------------------------------------------------------------------------------

TEST_F(AppControllerTest, StatefulMenusCheckOnlyTheChosenItem)
{
    struct Row {
        void (AppController::*action)(qint64);
        QString menu;
        qint64 tag;
        QList<qint64> tags; // the menu's items
    } rows[] = {
        {&AppController::changeMenuBarDisplay, "menuBarMenu", 4250, {4290, 4210, 4220, 4230, 4240, 4250, 4260, 4270, 4280}},
        {&AppController::changeMenuBarDisplay, "menuBarMenu", 4290, {4290, 4210, 4250, 4280}},
        {&AppController::changeDockDisplay, "dockContextMenu", 4330, {4310, 4320, 4330}},
        {&AppController::changeDockDisplay, "dockMenu", 4320, {4310, 4320, 4330}},
        {&AppController::changeVoiceMode, "speechMenu", 4420, {4410, 4420, 4430}},
        // An unknown tag leaves the choice made before.
        {&AppController::changeVoiceMode, "speechMenu", 4499, {4410, 4420, 4430}},
    };
    launchReady();
    controller->changeVoiceMode(4420);
    for (const Row& row : rows) {
        (controller.get()->*row.action)(row.tag);
        const qint64 expected = row.tag == 4499 ? 4420 : row.tag;
        for (qint64 tag : row.tags)
            EXPECT_EQ(controller->isMenuItemChecked(row.menu, tag), tag == expected) << row.menu.toStdString() << tag;
    }
    controller->changeMenuBarDisplay(4250);
    EXPECT_EQ(controller->monitorPreferences()->numberOfMenuBarValues(), 5u);
    EXPECT_EQ(controller->monitorPreferences()->voiceMode(), 1);
}

TEST_F(AppControllerTest, ValidatesWindowItemsAgainstTheMainWindow)
{
    launchReady();
    QWidget* main = nullptr;
    controller->setMainWindowLookup([&main] { return main; });
    for (qint64 tag : {2010, 2020, 2040})
        EXPECT_FALSE(controller->validateMenuItem(tag)) << tag;
    EXPECT_TRUE(controller->validateMenuItem(4250));
    QWidget other;
    main = &other;
    EXPECT_TRUE(controller->validateMenuItem(2010));
    EXPECT_TRUE(controller->validateMenuItem(2040));
    // Only the sensor window or a history window can be saved.
    EXPECT_FALSE(controller->validateMenuItem(2020));
}

TEST_F(AppControllerTest, LaunchingTheLiteEditionQuitsOnlyWhenItStartedAndTellsWhyNot)
{
    launchReady();
    int quits = 0;
    controller->setQuitHandler([&quits] { ++quits; });
    fakes.workspace->succeed = false;
    fakes.alerts->shown.clear();
    controller->launchSmallSibling();
    EXPECT_EQ(quits, 0);
    // Told, naming the program and where it was looked for.
    ASSERT_EQ(fakes.alerts->shown.size(), 1);
    EXPECT_EQ(fakes.alerts->shown[0].messageText, "Kelvaro Lite could not be launched.");
    for (const char* named : {"'KelvaroLite'", "\n/opt/kelvaro/bin\n", "PATH", "\n/usr/bin"})
        EXPECT_TRUE(fakes.alerts->shown[0].informativeText.contains(QLatin1String(named))) << named;
    // Lite reads this computer's set as it starts: stored by then, not only at the quit that follows.
    fakes.workspace->succeed = true;
    QVariantMap storedAtLaunch;
    fakes.workspace->onLaunch = [&] { storedAtLaunch = storedPreferences(); };
    controller->launchSmallSibling();
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(fakes.alerts->shown.size(), 1);
    EXPECT_EQ(fakes.workspace->launched, QStringList({"KelvaroLite", "KelvaroLite"}));
    EXPECT_TRUE(platform::values::toDictionary(storedAtLaunch.value("MachinePreferences")).value_or(QVariantMap()).contains("C02LOCAL"));
}

// --- Start-up checks and exports --------------------------------------------------------------------------

TEST_F(AppControllerTest, ModelCheckWarnsOnceAboutTheVendorOrTheSeries)
{
    const QString series = "This model series is not supported by this application.";
    const QString vendor = "This is not an Apple-branded computer.";
    struct Row {
        const char *model, *vendor;
        QStringList alerts;
    } rows[] = {{"MacBookPro11,1", "Apple Inc.", {}}, {"MacBookPro11,1", "LENOVO", {}}, {"Unknown1,1", "Apple Inc.", {series}},
                {"", "Apple", {series}},            {"Unknown1,1", "LENOVO", {vendor}}, {"Unknown1,1", "", {vendor}},
                {"Unknown1,1", "apple", {vendor}}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.model + std::string(" / ") + row.vendor);
        fakes.alerts->shown.clear();
        makeController();
        controller->model = {row.model, row.vendor};
        controller->applicationDidFinishLaunching();
        EXPECT_EQ(alertTitles(), row.alerts);
        EXPECT_EQ(fakes.alerts->shown.value(0).informativeText.startsWith("Kelvaro will not run on your Mac."),
                  row.alerts == QStringList{series});
    }
}

TEST_F(AppControllerTest, UncolouredGaugesGetTheFallbackColoursInIdentifierOrder)
{
    controller->applicationDidFinishLaunching();
    local()->sensors.clear();
    for (int i = 69; i >= 0; --i)
        local()->sensors.append(QStringLiteral("T%1").arg(i, 2, 10, QLatin1Char('0')));
    local()->becomeReady();
    const auto rgb = [this](int n) {
        const auto color = controller->localPreferences()->gaugeDictionary().value(QStringLiteral("T%1").arg(n, 2, 10, QLatin1Char('0')))->presentationColor();
        return std::vector<float>{color->red(), color->green(), color->blue(), color->alpha()};
    };
    fakes.alerts->answers = {1, 0};
    controller->checkForUncoloredGauges(); // "No": still black
    EXPECT_EQ(rgb(69), (std::vector<float>{0.0f, 0.0f, 0.0f, 1.0f}));
    controller->checkForUncoloredGauges();
    EXPECT_EQ(rgb(5), (std::vector<float>{0.0f, 0.25f, 0.25f, 1.0f}));
    EXPECT_EQ(rgb(63), (std::vector<float>{0.75f, 0.75f, 0.75f, 1.0f}));
    for (int n = 64; n < 70; ++n)
        EXPECT_EQ(rgb(n), rgb(n - 64)) << n;
    controller->checkForUncoloredGauges(); // one gauge is not black: no question
    EXPECT_EQ(fakes.alerts->shown.size(), 2);
}

TEST_F(AppControllerTest, WithdrawnSensorsAreRemovedOnlyWhileDisconnected)
{
    controller->applicationDidFinishLaunching();
    local()->sensors.append("smc.temperature.HV3");
    local()->becomeReady();
    auto& gauges = controller->localPreferences()->gaugeDictionary();
    const auto stored = [](const QString& id) { return TEVGauge::createForSensorIdentifierPreferenceDictionary(id, QVariantMap()); };
    for (const QString id : {"smc.temperature.IQ3", "hwsensor.NVDA.-7", "hwcontrol.NVDA.-1", "hwsensor.NVDA.0", "remote.x.smc.temperature.HV3"})
        gauges.insert(id, stored(id));
    controller->checkForDeactivatedGF6800Sensors();
    controller->checkForWithdrawnSensorSupport();
    EXPECT_EQ(gauges.keys(), (QStringList{"F0Ac", "TC0D", "hwsensor.NVDA.0", "remote.x.smc.temperature.HV3", "smc.temperature.HV3"}));
    // The sensor is gone from the computer; its stored gauge goes at the next check.
    local()->sensors.removeLast();
    gauges.insert("smc.temperature.HV3", stored("smc.temperature.HV3"));
    controller->checkForWithdrawnSensorSupport();
    EXPECT_FALSE(gauges.contains("smc.temperature.HV3"));
}

TEST_F(AppControllerTest, RawDesignationsAreRenamedOnYesAndNeverAskedAgainAfterNo)
{
    QTemporaryDir bundle;
    const auto plist = [](const QVariantMap& m) { return platform::writePropertyList(m, platform::PlistFormat::Xml); };
    kt::writeFile(bundle.path() + "/Info.plist", plist({}));
    kt::writeFile(bundle.path() + "/en.lproj/ModelCodes.strings", plist({{"MacBookPro11,1", "MacBook Pro"}}));
    kt::writeFile(bundle.path() + "/en.lproj/SensorLocations.strings", plist({{"Location TC0D", "CPU die"}}));
    platform::Bundle::setMain(platform::Bundle::fromDirectory(bundle.path()));
    const auto restore = qScopeGuard([] { platform::Bundle::setMain(nullptr); });
    launchReady();
    ASSERT_TRUE(fakes.alerts->shown.isEmpty());
    const auto cpu = controller->localPreferences()->gaugeDictionary().value("TC0D");
    for (const int answer : {1, 0}) {
        cpu->setCustomName("Location TC0D");
        fakes.alerts->answers = {answer};
        controller->checkForOutdatedSensorDesignations();
        controller->checkForOutdatedSensorDesignations(); // "No" for good; "Yes" leaves no raw name
        EXPECT_EQ(fakes.alerts->shown.size(), 1);
        EXPECT_TRUE(fakes.alerts->shown.value(0).informativeText.contains("the sensor 'Location TC0D' should be renamed to 'CPU die'"));
        EXPECT_EQ(cpu->customName(), answer ? "Location TC0D" : "CPU die");
        EXPECT_EQ(controller->localPreferences()->avoidsCheckForOutdatedSensorNames(), answer == 1);
        controller->localPreferences()->setAvoidsCheckForOutdatedSensorNames(false);
        fakes.alerts->shown.clear();
    }
}

TEST_F(AppControllerTest, ExportsAndReportMatchTheirGoldenFilesInEveryLocale)
{
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const auto restore = qScopeGuard([] {
        QLocale::setDefault(QLocale::c());
        std::setlocale(LC_NUMERIC, "C");
    });
    controller->applicationDidFinishLaunching();
    local()->sensors.append("TX9Z");
    local()->raw["TC0D"] = 4250;
    local()->becomeReady();
    const auto remote = connectRemote("office", false);
    remote->name = "Office Mac";
    remote->sensors = {"TC0D"};
    remote->becomeReady();
    const auto& gauges = controller->localPreferences()->gaugeDictionary();
    gauges.value("TC0D")->setCustomName("CPU");
    gauges.value("F0Ac")->setCustomName("Fan, left");
    gauges.value("remote.office.TC0D")->setCustomName("Office CPU");
    controller->localPreferences()->standardWindowSensorNames() = {"TC0D", "not.cached", "F0Ac"};
    controller->updateAllOutputChannelsAndCache(true);
    const auto golden = [](const char* name) { return QString::fromUtf8(kt::readFile(kt::testDataPath(QString("exports/") + name))); };
    EXPECT_EQ(controller->fileContentsForStandardWindowUsingCSVFormat(false), golden("readings.txt"));
    EXPECT_EQ(controller->fileContentsForStandardWindowUsingCSVFormat(true), golden("readings.csv"));
    EXPECT_EQ(controller->sensorIdentifierReport(), golden("report.txt"));

    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ASSERT_TRUE(std::setlocale(LC_NUMERIC, "de_DE.UTF-8"));
    EXPECT_EQ(controller->fileContentsForStandardWindowUsingCSVFormat(true), golden("readings.csv"));
    EXPECT_EQ(controller->sensorIdentifierReport(), golden("report-de.txt"));

    controller->localPreferences()->standardWindowSensorNames() = {"not.cached"};
    EXPECT_EQ(controller->fileContentsForStandardWindowUsingCSVFormat(true), "Sensor,Value,Unit\n");
    EXPECT_EQ(controller->fileContentsForStandardWindowUsingCSVFormat(false), "2026-01-01 12:00:00 +0000\n\n");
}

TEST_F(AppControllerTest, SavePanelsWriteTheChosenTypeOrSayWhyNot)
{
    launchReady();
    QTemporaryDir dir;
    auto& panel = *fakes.savePanel;
    // /proc takes no new files, not even from root.
    panel.answers = {platform::SavePanelResult{dir.filePath("r.csv"), 1}, std::nullopt, platform::SavePanelResult{"/proc/r.txt", 0},
                     platform::SavePanelResult{dir.filePath("ids.txt"), 0}, platform::SavePanelResult{"/proc/ids.txt", 0}};
    controller->exportStandardSensorReadings();
    EXPECT_EQ(QString::fromUtf8(kt::readFile(dir.filePath("r.csv"))), controller->fileContentsForStandardWindowUsingCSVFormat(true));
    controller->exportStandardSensorReadings(); // cancelled
    controller->exportStandardSensorReadings();
    EXPECT_EQ(panel.shown.at(1).selectedFileType, 1); // the type chosen last
    controller->saveIdentifierReport();
    EXPECT_EQ(QString::fromUtf8(kt::readFile(dir.filePath("ids.txt"))), controller->sensorIdentifierReport());
    EXPECT_EQ(panel.shown.at(3).suggestedName, "SensorIDReport.txt");
    controller->saveIdentifierReport();
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), (QStringList{"ids.txt", "r.csv"}));
    ASSERT_EQ(alertTitles(), (QStringList{"Could not save file", "The sensor ID report could not be created"}));
    EXPECT_EQ(fakes.alerts->shown.at(0).informativeText, "The file 'r.txt' could not be created.");
    EXPECT_TRUE(fakes.alerts->shown.at(1).informativeText.startsWith("The file could not be saved to the location /proc/ids.txt."));
}

TEST_F(AppControllerTest, ResettingSensorColorsChangesNothingUnlessAnsweredYes)
{
    launchReady();
    const auto gauge = controller->localPreferences()->gaugeDictionary().first();
    gauge->setPresentationColor(platform::Color::rgb(platform::Color::Space::DeviceRGB, 0.1f, 0.2f, 0.3f));
    const auto before = gauge->presentationColor();
    fakes.alerts->answers = {0};
    controller->resetSensorColors();
    EXPECT_EQ(gauge->presentationColor(), before);
    ASSERT_EQ(alertTitles(), QStringList({"Do you really want to reset all sensor colors?"}));
    EXPECT_EQ(fakes.alerts->shown.first().buttons, QStringList({"No", "Yes"}));
    fakes.alerts->answers = {1};
    controller->resetSensorColors();
    EXPECT_NE(gauge->presentationColor(), before);
}

TEST_F(AppControllerTest, HistoryWindowsOfTheLastQuitOpenCascadedAndTheVisibleOnesUpdateEveryTick)
{
    struct History final : HistoryWindow {
        QStringList* events = nullptr;
        QString name;
        bool visible = false;
        QPoint topLeft{100, 100};
        bool isWindowVisible() const override { return visible; }
        void openWindow() override
        {
            visible = true;
            events->append("open " + name);
        }
        void updateWindow() override { events->append("update " + name); }
        // Only the temperatures were open at the last quit.
        bool prefersToBeOpenAtLaunchTime() const override { return name.startsWith("Temperature"); }
        QPoint topLeftWindowPosition() const override { return topLeft; }
        QPoint cascadeTopLeftFromPoint(const QPoint& p) override
        {
            topLeft = p + QPoint(22, 22);
            events->append(QStringLiteral("cascade %1 %2,%3").arg(name).arg(topLeft.x()).arg(topLeft.y()));
            return topLeft;
        }
    };
    QStringList events;
    QList<const void*> registries;
    auto windows = recordingWindows(rec);
    windows.makeHistoryWindow = [&](ControllerLookups*, HistoryWindowRegistry* registry,
                                    const std::shared_ptr<HistoryWindowPreferences>& prefs) {
        registries.append(registry);
        auto window = std::make_shared<History>();
        window->events = &events;
        window->name = prefs->windowName();
        return window;
    };
    auto real = std::make_shared<AppController>(windows);
    real->setClientFactory(recordingClients());
    real->applicationDidFinishLaunching();
    real->monitorPreferences()->setHistoryWindowsShouldOpen(true);
    made.first()->becomeReady();
    // One window per quantity type of the first launch, both cascaded, the preferred one opened.
    EXPECT_EQ(events, (QStringList{"open Temperature Sensors", "cascade Fan Revolution Sensors 122,122"}));
    ASSERT_EQ(real->historyWindowControllers().size(), 2);
    EXPECT_EQ(registries, (QList<const void*>{static_cast<HistoryWindowRegistry*>(real.get()), static_cast<HistoryWindowRegistry*>(real.get())}));
    EXPECT_EQ(real->overlayHistoryWindowControllerForIdentifier(
                  real->localPreferences()->historyWindowPreferences().at(1)->overlayIdentifier()),
              real->historyWindowControllers().at(1));
    events.clear();
    real->updateAllOutputChannelsAndCache(true);
    EXPECT_EQ(events, QStringList{"update Temperature Sensors"});
    EXPECT_TRUE(real->hasHistoryWindowOpen());
    real->applicationWillTerminate();
    EXPECT_TRUE(real->monitorPreferences()->historyWindowsShouldOpen());
}

TEST_F(AppControllerTest, HistoryBackgroundResetNeedsExactlyOneSelectedWindow)
{
    struct Preferences : PreferenceWindow {
        QList<qint64> rows;
        int updates = 0;
        QList<qint64> selectedHistoryWindowRows() const override { return rows; }
        void updatePreferenceWindow() override { ++updates; }
    };
    auto prefs = std::make_shared<Preferences>();
    auto windows = recordingWindows(rec);
    windows.preferenceWindow = prefs;
    controller = std::make_shared<TestController>(windows);
    controller->setClientFactory(recordingClients(QStringLiteral("C02LOCAL")));
    launchReady();
    const auto& histories = controller->localPreferences()->historyWindowPreferences();
    ASSERT_GE(histories.size(), 2);
    for (const auto& history : histories)
        history->setGraphBackgroundColor(platform::Color::white(platform::Color::Space::DeviceWhite, 0.0f));
    const auto black = histories.at(1)->graphBackgroundColor();
    prefs->rows = {0, 1};
    prefs->updates = 0;
    controller->resetWindowBackgroundColor(6000);
    EXPECT_EQ(prefs->updates, 0);
    EXPECT_EQ(histories.at(1)->graphBackgroundColor(), black);
    prefs->rows = {1};
    controller->resetWindowBackgroundColor(6000);
    EXPECT_EQ(prefs->updates, 1);
    EXPECT_NE(histories.at(1)->graphBackgroundColor(), black);
    EXPECT_EQ(histories.at(0)->graphBackgroundColor()->whiteLevel(), 0.0f);
}

// --- What a session leaves for the next one ----------------------------------------------------------------

namespace {

// Offers the computers it is given; answers as scripted, and reports what the log said meanwhile.
struct ScriptedImportPanel final : PreferenceImportPanel {
    enum class Answer { Quit, DontImport };
    Answer answer = Answer::Quit;
    int runs = 0;
    bool monitoringLoggedWhileOpen = false;
    QString runDialogPanelForMachineSpecifiers(const QList<std::shared_ptr<MachineSpecifier>>&) override
    {
        ++runs;
        monitoringLoggedWhileOpen = kt::log().contains(QStringLiteral("monitoring '"));
        return {};
    }
    bool endedWithoutAnswer() const override { return answer == Answer::Quit; }
};

} // namespace

TEST_F(AppControllerTest, AQuitBeforeTheWindowsOpenedKeepsTheStoredWindowFlags)
{
    struct Row {
        const char* what;
        bool offerImport; // another computer of this model left its settings
        bool ready;
    } rows[] = {
        {"before the local computer is ready", false, false},
        {"while the import offer is open", true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        static int counter = 0;
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(QStringLiteral("com.tarnwell.kelvaro.flagtest%1").arg(++counter));
        auto defaults = TEVUserDefaultsProxy::standardUserDefaults();
        defaults.setInteger(3, "PreferencesVersion");
        defaults.setBool(true, "SensorWindowOpen");
        defaults.setBool(true, "OverviewOpen");
        defaults.setBool(false, "SystemInfoOpen");
        if (row.offerImport) {
            defaults.setObject(QVariantMap{{"MacBookPro5,1", QVariantList{QVariantMap{{"HostOrComputerName", "old"}, {"SerialNumber", "C02OLD"}}}}},
                               "SeenModels");
            defaults.setObject(QVariantMap{{"C02OLD", QVariantMap{}}}, "MachinePreferences");
        }
        ASSERT_TRUE(defaults.synchronize());
        auto windows = recordingWindows(rec);
        const auto panel = std::make_shared<ScriptedImportPanel>();
        windows.makeImportPanel = [panel] { return panel; };
        auto real = std::make_shared<AppController>(windows);
        real->setClientFactory(recordingClients(QStringLiteral("C02LOCAL")));
        kt::log().clear();
        real->applicationDidFinishLaunching();
        if (row.ready)
            made.first()->becomeReady();
        real->applicationWillTerminate();

        const QVariantMap stored = storedPreferences();
        EXPECT_EQ(stored.value("SensorWindowOpen"), QVariant(true));
        EXPECT_EQ(stored.value("OverviewOpen"), QVariant(true));
        EXPECT_EQ(stored.value("SystemInfoOpen"), QVariant(false));
        EXPECT_EQ(panel->runs, row.offerImport ? 1 : 0);
        EXPECT_FALSE(panel->monitoringLoggedWhileOpen);
        EXPECT_EQ(kt::log().contains(QStringLiteral("Kelvaro: monitoring 'Fake computer' with 2 sensors")), row.ready);
    }
}

TEST_F(AppControllerTest, AQuitDuringTheImportOfferDecidesNothingAndTheOfferComesAgain)
{
    struct Row {
        ScriptedImportPanel::Answer answer;
        bool localSetStored;
        int offersAtTheNextStart;
    } rows[] = {
        {ScriptedImportPanel::Answer::Quit, false, 1},
        {ScriptedImportPanel::Answer::DontImport, true, 0},
    };
    for (const Row& row : rows) {
        static int counter = 0;
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(QStringLiteral("com.tarnwell.kelvaro.importtest%1").arg(++counter));
        auto defaults = TEVUserDefaultsProxy::standardUserDefaults();
        const QVariantMap seen{{"MacBookPro5,1", QVariantList{QVariantMap{{"HostOrComputerName", "old"}, {"SerialNumber", "C02OLD"}}}}};
        defaults.setInteger(3, "PreferencesVersion");
        defaults.setObject(seen, "SeenModels");
        defaults.setObject(QVariantMap{{"C02OLD", QVariantMap{}}}, "MachinePreferences");
        ASSERT_TRUE(defaults.synchronize());

        int offers = 0;
        for (int run = 0; run < 2; ++run) {
            auto windows = recordingWindows(rec);
            const auto panel = std::make_shared<ScriptedImportPanel>();
            panel->answer = row.answer;
            windows.makeImportPanel = [panel] { return panel; };
            auto real = std::make_shared<AppController>(windows);
            real->setClientFactory(recordingClients(QStringLiteral("C02LOCAL")));
            real->applicationDidFinishLaunching();
            made.first()->becomeReady();
            EXPECT_TRUE(real->localPreferences()); // the session runs on either way
            real->applicationWillTerminate();
            offers = panel->runs;
            if (run == 0) {
                const QVariantMap stored = storedPreferences();
                const QVariantMap sets = platform::values::toDictionary(stored.value("MachinePreferences")).value_or(QVariantMap());
                EXPECT_EQ(sets.contains("C02LOCAL"), row.localSetStored);
                EXPECT_TRUE(sets.contains("C02OLD"));
                const QVariantList computers = platform::values::toDictionary(stored.value("SeenModels"))
                                                   .value_or(QVariantMap())
                                                   .value("MacBookPro5,1")
                                                   .toList();
                EXPECT_EQ(computers.size(), row.localSetStored ? 2 : 1);
            }
        }
        EXPECT_EQ(offers, row.offersAtTheNextStart);
    }
}

TEST_F(AppControllerTest, ARemoteComputerIsReconnectedAtLaunchUntilTheUserDisconnectsIt)
{
    const auto session = [this](const std::function<void()>& during) {
        makeController();
        launchReady();
        during();
        controller->applicationWillTerminate();
        return platform::values::toArray(storedPreferences().value("ActiveRemoteConnections")).value_or(QVariantList());
    };
    const auto quietlyMade = [this] {
        QStringList hosts;
        for (const auto& client : made.mid(1))
            hosts.append(client->connectionInfo()->hostSpecifier());
        return hosts;
    };
    // The user connects two computers.
    EXPECT_EQ(session([&] {
                  connectRemote("lab");
                  connectRemote("office");
              }),
              (QVariantList{"lab", "office"}));
    // Next launch: both are tried quietly. The lab is off, so its quiet reconnect fails; the user disconnects
    // the office.
    EXPECT_EQ(session([&] {
                  advance(3);
                  EXPECT_EQ(quietlyMade(), (QStringList{"lab", "office"}));
                  made.at(1)->fail();
                  made.at(2)->becomeReady();
                  platform::NotificationCenter::defaultCenter().post(MonitoringClient::shouldDisconnectNotification, made.at(2)->notificationIdentity());
                  EXPECT_EQ(controller->monitorClients().size(), 1);
              }),
              QVariantList{"lab"});
    EXPECT_FALSE(alertTitles().contains("Could not contact remote computer")); // a quiet reconnect fails silently
    // The launch after: the lab is tried again, the office is not.
    session([&] {
        advance(3);
        EXPECT_EQ(quietlyMade(), QStringList{"lab"});
    });
}

TEST_F(AppControllerTest, ProbeAndLCDSettingsAreWrittenWhenThePreferenceWindowCloses)
{
    struct LCD final : LCDManager {
        QVariantMap modules{{"IOW40-0001", QVariantMap{{"DisplayType", qint64(2)}}}};
        std::optional<QVariantMap> lcdModulePreferences() const override { return modules; }
    };
    auto windows = recordingWindows(rec);
    windows.lcdManager = std::make_shared<LCD>();
    auto real = std::make_shared<AppController>(windows);
    real->setClientFactory(recordingClients(QStringLiteral("C02LOCAL")));
    real->applicationDidFinishLaunching();
    made.first()->becomeReady();
    const auto restore = qScopeGuard([] { TEVArtificialSensor::setArtificialSensorsUsingPreferenceDictionaries(QVariantList()); });
    ASSERT_TRUE(TEVArtificialSensor::addArtificialSensor(TEVArtificialSensor::createAsProcessCountSensor()));

    real->preferenceWindowWillClose();
    const QVariantMap set = platform::values::toDictionary(
                                platform::values::toDictionary(storedPreferences().value("MachinePreferences")).value_or(QVariantMap()).value("C02LOCAL"))
                                .value_or(QVariantMap());
    EXPECT_EQ(platform::values::toArray(set.value("LocalProbes")).value_or(QVariantList()).size(), 1);
    EXPECT_TRUE(platform::values::strictlyEqual(set.value("LCDModules"), platform::values::fromDictionary(LCD().modules)));
}

TEST_F(AppControllerTest, AnUnreadablePreferencesFileIsSetAsideAndTheUserToldOnce)
{
    struct Panel final : AlertPanel {
        QStringList notices;
        void showNotice(const QString& title, const QString& message) override { notices.append(title + ": " + message); }
    };
    TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(QStringLiteral("com.tarnwell.kelvaro.resettest"));
    const QString path = platform::UserDefaults::pathForDomain(TEVUserDefaultsProxy::overriddenDomain());
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<?xml version=\"1.0\"?><plist><dict><key>UpdateInterval</key><integer>7"); // cut short
    file.close();

    for (int run = 0; run < 2; ++run) {
        auto windows = recordingWindows(rec);
        const auto panel = std::make_shared<Panel>();
        windows.alertPanel = panel;
        auto real = std::make_shared<AppController>(windows);
        real->setClientFactory(recordingClients());
        real->applicationDidFinishLaunching();
        EXPECT_TRUE(panel->notices.isEmpty()); // told over the windows, once they are open
        made.first()->becomeReady();
        if (run == 0) {
            ASSERT_EQ(panel->notices.size(), 1);
            EXPECT_TRUE(panel->notices.first().startsWith("Settings Reset: ")) << panel->notices.first().toStdString();
            EXPECT_TRUE(panel->notices.first().contains(path + ".corrupt")) << panel->notices.first().toStdString();
            EXPECT_TRUE(kt::readFile(path + ".corrupt").endsWith("<integer>7"));
        } else {
            EXPECT_TRUE(panel->notices.isEmpty());
        }
        real->applicationWillTerminate();
    }
    EXPECT_TRUE(storedPreferences().contains("PreferencesVersion"));
}

// Sensors of two computers that the sensor window lists under one name are told apart by their computers
// in both readings exports; a name that occurs once stays as it is.
TEST_F(AppControllerTest, ReadingsOfSameNamedSensorsNameTheirComputers)
{
    controller->applicationDidFinishLaunching();
    local()->raw["TC0D"] = 4250;
    local()->becomeReady();
    const auto remote = connectRemote("office", false);
    remote->name = "Office Mac";
    remote->sensors = {"TC0D"};
    remote->raw["TC0D"] = 5125;
    remote->becomeReady();
    const auto& gauges = controller->localPreferences()->gaugeDictionary();
    gauges.value("TC0D")->setCustomName("CPU");
    gauges.value("remote.office.TC0D")->setCustomName("CPU");
    gauges.value("F0Ac")->setCustomName("Fan");
    controller->localPreferences()->standardWindowSensorNames() = {"TC0D", "remote.office.TC0D", "F0Ac"};
    controller->updateAllOutputChannelsAndCache(true);
    const QString localName = gauges.value("TC0D")->machineName();
    ASSERT_FALSE(localName.isEmpty());
    const QStringList csv = controller->fileContentsForStandardWindowUsingCSVFormat(true).split('\n');
    ASSERT_GE(csv.size(), 4);
    EXPECT_TRUE(csv[1].contains("CPU (" + localName + ")")) << csv[1].toStdString();
    EXPECT_TRUE(csv[2].startsWith("\"CPU (Office Mac)\",")) << csv[2].toStdString();
    EXPECT_TRUE(csv[3].startsWith("Fan,")) << csv[3].toStdString();
    const QString text = controller->fileContentsForStandardWindowUsingCSVFormat(false);
    EXPECT_TRUE(text.contains("\nCPU (Office Mac):")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nCPU (" + localName + "):")) << text.toStdString();
}

// Writes that fail are told to the user once, naming the file and the reason: an alert while running, a notice
// at the next start for what failed at quit. The failure is real: a file-size limit (which holds for root
// too) stops the preferences file, as a full disk would, while the few lines of the notice still fit.
TEST_F(AppControllerTest, FailedWritesAreToldOnceNamingTheFileAndTheReason)
{
    struct Panel final : AlertPanel {
        QStringList notices;
        void showNotice(const QString& title, const QString& message) override { notices.append(title + ": " + message); }
    };
    struct Limit {
        rlimit saved{};
        void (*savedHandler)(int) = nullptr;
        explicit Limit(rlim_t bytes)
        {
            getrlimit(RLIMIT_FSIZE, &saved);
            savedHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit limit = saved;
            limit.rlim_cur = bytes;
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        ~Limit()
        {
            setrlimit(RLIMIT_FSIZE, &saved);
            std::signal(SIGXFSZ, savedHandler);
        }
    };
    TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(QStringLiteral("com.tarnwell.kelvaro.failedwritetest"));
    const QString path = platform::UserDefaults::pathForDomain(TEVUserDefaultsProxy::overriddenDomain());
    for (const QString& notice : AppController::notSavedNoticePaths())
        QFile::remove(notice);
    const auto start = [&](const std::shared_ptr<Panel>& panel) {
        auto windows = recordingWindows(rec);
        windows.alertPanel = panel;
        auto real = std::make_shared<AppController>(windows);
        real->setClientFactory(recordingClients(QStringLiteral("C02LOCAL")));
        real->applicationDidFinishLaunching();
        made.first()->becomeReady();
        return real;
    };

    // Running: two closes of the preference window that both fail give one alert.
    auto panel = std::make_shared<Panel>();
    auto real = start(panel);
    {
        const Limit limit(1024);
        real->preferenceWindowWillClose();
        real->preferenceWindowWillClose();
    }
    ASSERT_EQ(alertTitles().count("Settings Not Saved"), 1);
    const QString told = fakes.alerts->shown.at(alertTitles().indexOf("Settings Not Saved")).informativeText;
    EXPECT_TRUE(told.contains(path) && told.contains("File too large")) << told.toStdString();

    // At quit: a failure not told yet (the histories) waits for the next start; the told one is not repeated.
    made.first()->historiesSaved = false;
    {
        const Limit limit(1024);
        real->applicationWillTerminate();
    }
    real.reset();
    EXPECT_FALSE(QFileInfo::exists(path));
    for (int run = 0; run < 2; ++run) {
        panel = std::make_shared<Panel>();
        real = start(panel);
        if (run == 0) {
            ASSERT_EQ(panel->notices.size(), 1);
            EXPECT_TRUE(panel->notices.first().startsWith("Not Saved Last Time: ")) << panel->notices.first().toStdString();
            EXPECT_TRUE(panel->notices.first().contains("sensor histories could not be saved"));
            EXPECT_FALSE(panel->notices.first().contains("settings could not be saved"));
        } else {
            EXPECT_TRUE(panel->notices.isEmpty()) << panel->notices.first().toStdString();
        }
        real->applicationWillTerminate();
        real.reset();
    }
    EXPECT_TRUE(storedPreferences().contains("PreferencesVersion"));
    EXPECT_EQ(alertTitles().count("Settings Not Saved"), 1);
}

// A preferences file that exists but cannot be opened may be intact: the session runs on the defaults, the
// user is told once with the reason, and nothing is written over the file. A folder in its place cannot be
// opened as a file by anyone, root included.
TEST_F(AppControllerTest, AnUnopenablePreferencesFileIsToldAndNeverWrittenOver)
{
    struct Panel final : AlertPanel {
        QStringList notices;
        void showNotice(const QString& title, const QString& message) override { notices.append(title + ": " + message); }
    };
    const QString path = platform::UserDefaults::pathForDomain(QStringLiteral("com.tarnwell.kelvaro.unopenabletest"));
    ASSERT_TRUE(QDir().mkpath(path));
    TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(QStringLiteral("com.tarnwell.kelvaro.unopenabletest"));
    auto windows = recordingWindows(rec);
    const auto panel = std::make_shared<Panel>();
    windows.alertPanel = panel;
    auto real = std::make_shared<AppController>(windows);
    real->setClientFactory(recordingClients(QStringLiteral("C02LOCAL")));
    real->applicationDidFinishLaunching();
    made.first()->becomeReady();
    ASSERT_EQ(panel->notices.size(), 1);
    EXPECT_TRUE(panel->notices.first().startsWith("Settings Not Read: ") && panel->notices.first().contains(path))
        << panel->notices.first().toStdString();
    real->preferenceWindowWillClose();
    real->applicationWillTerminate();
    EXPECT_FALSE(alertTitles().contains("Settings Not Saved")) << alertTitles().join(", ").toStdString();
    EXPECT_TRUE(QFileInfo(path).isDir());
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList({"*.corrupt*"}).size(), 0);
    for (const QString& notice : AppController::notSavedNoticePaths())
        EXPECT_FALSE(QFileInfo::exists(notice)) << notice.toStdString();
}
