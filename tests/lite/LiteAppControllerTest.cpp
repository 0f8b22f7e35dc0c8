// The Lite controller with scripted clients, the manual clock, a scripted alert presenter, a recording tray
// item and a fake workspace, on a bundle of its own whose domain holds Kelvaro's stored preferences.

#include "lite/controller/LiteAppController.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/OutputCacheEntry.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVUserDefaultsProxy.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/DistributedNotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/app/controller/FakeMonitoringClient.h"
#include "tests/support/DesktopFakes.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGuiApplication>
#include <QPalette>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;
using kt::FakeMonitoringClient;
using Info = std::shared_ptr<MonitorConnectionInfo>;

namespace {

void advance(double seconds)
{
    for (double done = 0; done < seconds - 1e-9; done += 0.5) {
        kt::clock()->advanceSeconds(std::min(0.5, seconds - done));
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    }
}

class RecordingStatusItem final : public platform::StatusItem {
public:
    Title title;
    QStringList items;
    bool hasImage = false;
    int menusBuilt = 0;
    void setTitle(const Title& t, const QFont&) override { title = t; }
    void setImage(const QImage& image) override { hasImage = !image.isNull(); }
    qsizetype menuItemCount() const override { return items.size(); }
    void setMenuItems(const QStringList& titles) override
    {
        items = titles;
        ++menusBuilt;
    }
    void setMenuItemTitle(qsizetype index, const QString& t) override { items[index] = t; }
};

struct Recording {
    QStringList notices, panelMessages;
    int itemsMade = 0, quits = 0, terminated = 0;
    int remotePanelsMade = 0, remotePanelShows = 0;
    std::weak_ptr<RemoteConnectPanelDelegate> remotePanelDelegate;
    std::shared_ptr<RecordingStatusItem> tray;
};

class TestController final : public lite::AppController {
public:
    using lite::AppController::AppController;
    bool supported = true;
    bool isLocalMachineSupported() const override { return supported; }
    OutputCache& cache() { return outputCache_; }
};

// A bundle of its own: "<domain>.lite", so that each test reads its own copy of Kelvaro's domain.
class LiteTest : public ::testing::Test {
public:
    void SetUp() override
    {
        static int counter = 0;
        domain = QStringLiteral("com.tarnwell.kelvarotest%1").arg(++counter);
        useBundleIdentifier(domain + QStringLiteral(".lite"));
        makeController();
    }
    void TearDown() override
    {
        controller.reset();
        observer.reset();
        bus.reset();
        platform::Bundle::setMain(nullptr);
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith({});
    }
    // The program's bundle with another identifier.
    void useBundleIdentifier(const QString& identifier)
    {
        const QString program = QStringLiteral(":/resources/KelvaroLite");
        for (QDirIterator it(program, QDir::Files, QDirIterator::Subdirectories); it.hasNext();) {
            const QString from = it.next();
            const QString to = bundleDir.filePath(from.mid(program.size() + 1));
            QDir().mkpath(QFileInfo(to).path());
            QFile::remove(to);
            QFile::copy(from, to);
        }
        QFile::remove(bundleDir.filePath("Info.plist"));
        QFile info(bundleDir.filePath("Info.plist"));
        ASSERT_TRUE(info.open(QIODevice::WriteOnly | QIODevice::Truncate));
        info.write(QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                                  "<key>CFBundleIdentifier</key><string>%1</string></dict></plist>\n")
                       .arg(identifier)
                       .toUtf8());
        info.close();
        platform::Bundle::setMain(platform::Bundle::fromDirectory(bundleDir.path()));
    }
    void makeController()
    {
        lite::LiteWindows w;
        struct Notice : lite::PreferenceNoticePanel {
            Recording& r;
            explicit Notice(Recording& r) : r(r) {}
            void centerAndShow(const QString& title) override { r.notices.append(title); }
        };
        struct Panel : AlertPanel {
            Recording& r;
            explicit Panel(Recording& r) : r(r) {}
            void showMessage(const QString& m) override { r.panelMessages.append(m); }
        };
        w.makeStatusItem = [this] {
            ++rec.itemsMade;
            return rec.tray = std::make_shared<RecordingStatusItem>();
        };
        struct RemotePanel : RemoteConnectWindow {
            Recording& r;
            explicit RemotePanel(Recording& r) : r(r) {}
            void setDelegate(const std::weak_ptr<RemoteConnectPanelDelegate>& d) override { r.remotePanelDelegate = d; }
            void showWindow() override { ++r.remotePanelShows; }
        };
        w.makeRemoteConnectPanel = [this] {
            ++rec.remotePanelsMade;
            return std::make_shared<RemotePanel>(rec);
        };
        w.preferenceNoticePanel = std::make_shared<Notice>(rec);
        w.alertPanel = std::make_shared<Panel>(rec);
        controller = std::make_shared<TestController>(std::move(w));
        controller->setTerminator([this](int status) { rec.terminated = status; });
        controller->setQuitHandler([this] { ++rec.quits; });
        controller->setClientFactory([this](const Info& info) {
            auto client = std::make_shared<FakeMonitoringClient>(info, info->isLocal() ? QStringLiteral("C02LOCAL") : info->hostSpecifier());
            client->remote = !info->isLocal();
            client->sensors = sensors;
            made.append(client);
            return client;
        });
    }
    // What Kelvaro would have stored for the local computer.
    void seedKelvaroPreferences()
    {
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(domain);
        auto client = std::make_shared<FakeMonitoringClient>(MonitorConnectionInfo::createForLocalMachine("Kelvaro"), "C02LOCAL");
        client->sensors = sensors;
        client->becomeReady();
        MonitorPreferences preferences;
        preferences.readPreferences();
        ASSERT_TRUE(preferences.createLocalMachinePreferencesUsingMonitoringClient(client));
        preferences.writePreferencesUsingMonitoringClients({client}, client);
        ASSERT_TRUE(QFile::exists(domainFile()));
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith({});
    }
    QString domainFile() const { return platform::UserDefaults::pathForDomain(domain); }
    std::shared_ptr<FakeMonitoringClient> local() const { return made.first(); }
    void launchReady()
    {
        controller->applicationWillFinishLaunching();
        controller->applicationDidFinishLaunching();
        local()->becomeReady();
    }
    std::shared_ptr<FakeMonitoringClient> connectRemote(const QString& host, QStringList remoteSensors)
    {
        const QStringList kept = std::exchange(sensors, remoteSensors);
        EXPECT_TRUE(controller->createRemoteClientUsingConnectionInfo(MonitorConnectionInfo::createForRemoteConnection(host, 37037), false));
        sensors = kept;
        auto client = made.last();
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

    QTemporaryDir bundleDir;
    QString domain;
    std::unique_ptr<kt::PrivateBus> bus;
    std::unique_ptr<platform::DistributedNotificationCenter> observer;
    QStringList sensors = {"TC0D", "F0Ac"};
    kt::ScopedDesktopFakes fakes;
    Recording rec;
    std::shared_ptr<TestController> controller;
    QList<std::shared_ptr<FakeMonitoringClient>> made;
};

} // namespace

TEST(LiteDomain, IsTheIdentifierCutAtItsFirstLite)
{
    const struct {
        const char* identifier;
        QString domain;
    } cases[] = {
        {"com.tarnwell.kelvaro.lite", "com.tarnwell.kelvaro"},
        {"a.b.kelvaro.lite", "a.b.kelvaro"},
        {"a.lite.b.lite", "a"},
        {"com.tarnwell.kelvaro", QString()},
        {"com.tarnwell.kelvaro.lite.x", QString()},
        {"com.tarnwell.kelvaro.Lite", QString()},
        {"", QString()},
    };
    for (const auto& c : cases) {
        const QString domain = lite::AppController::masterPreferencesDomainForIdentifier(c.identifier);
        EXPECT_EQ(domain, c.domain) << c.identifier;
        EXPECT_EQ(domain.isNull(), c.domain.isNull()) << c.identifier;
    }
}

TEST_F(LiteTest, WithoutTheLiteSuffixItLogsAndEndsWithStatusOneBeforeShowingAnything)
{
    useBundleIdentifier(QStringLiteral("com.tarnwell.kelvaro"));
    controller->applicationWillFinishLaunching();
    EXPECT_EQ(rec.terminated, 1);
    rec.terminated = 0;
    controller->applicationDidFinishLaunching();
    EXPECT_EQ(rec.terminated, 1);
    EXPECT_EQ(kt::log().count("Internal bundle identification error. Terminating!\n"), 2);
    EXPECT_TRUE(made.isEmpty());
    EXPECT_EQ(rec.itemsMade, 0);
    EXPECT_TRUE(TEVUserDefaultsProxy::overriddenDomain().isNull());

    // The real ending: the process's exit status.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            lite::AppController real;
            real.applicationWillFinishLaunching();
        },
        ::testing::ExitedWithCode(1), "Internal bundle identification error");
}

TEST_F(LiteTest, TheNoticeComesOnlyForExactlyKelvarosDomain)
{
    // Made before the controller goes (in TearDown): it holds the observing centre.
    bus = std::make_unique<kt::PrivateBus>();
    ASSERT_TRUE(bus->isRunning());
    platform::DistributedNotificationCenter poster(bus->address());
    observer = std::make_unique<platform::DistributedNotificationCenter>(bus->address());
    controller->setNotificationCenter(observer.get());
    controller->applicationWillFinishLaunching();
    const QString name = MonitorPreferences::userDefaultsDidChangeNotification;
    for (const QString& other : {domain + ".lite", QString(), domain + ".x", domain.left(domain.size() - 1)})
        ASSERT_TRUE(poster.post(name, other));
    ASSERT_TRUE(poster.post(name, domain));
    ASSERT_TRUE(kt::waitFor([&] { return !rec.notices.isEmpty(); }));
    EXPECT_EQ(rec.notices, QStringList{"Kelvaro"});

    // Gone at quit: a later announcement shows nothing.
    controller->applicationWillTerminate();
    ASSERT_TRUE(poster.post(name, domain));
    ASSERT_TRUE(poster.post(name, domain + ".probe"));
    kt::waitFor([] { return false; }, 300);
    EXPECT_EQ(rec.notices.size(), 1);
}

TEST_F(LiteTest, StartUpWithoutKelvarosPreferences)
{
    controller->supported = false;
    launchReady();
    // The model notice first, then the missing preferences; monitoring goes on.
    EXPECT_EQ(alertTitles(), (QStringList{"This model series is not supported by this application.", "No preferences set"}));
    EXPECT_TRUE(fakes.alerts->shown.at(1).informativeText.contains("please launch Kelvaro before you use Kelvaro Lite"));
    EXPECT_EQ(local()->runs, 1);
    EXPECT_FALSE(controller->localPreferences());
    // An absent set acts as an empty one: one placeholder for the default single title value, no value lines.
    ASSERT_TRUE(rec.tray);
    EXPECT_EQ(rec.tray->title.size(), 1);
    EXPECT_EQ(rec.tray->title.value(0).text, " - ");
    EXPECT_TRUE(rec.tray->items.isEmpty());
    EXPECT_EQ(kt::log().count("found no gauge object"), 0);
    // A crossing is held off but does nothing.
    controller->raiseAlertForSensorWithIdentifier("TC0D", 99, true);
    EXPECT_TRUE(controller->pendingAlerts().contains("TC0D"));
    EXPECT_EQ(fakes.alerts->beeps, 0);
    EXPECT_TRUE(rec.panelMessages.isEmpty());
}

TEST_F(LiteTest, TheTrayWaitsThenIsMadeAfreshOnEveryReadyClient)
{
    seedKelvaroPreferences();
    controller->applicationWillFinishLaunching();
    controller->applicationDidFinishLaunching();
    ASSERT_TRUE(rec.tray);
    ASSERT_EQ(rec.tray->title.size(), 1);
    EXPECT_EQ(rec.tray->title.first().text, "*** PLEASE WAIT ***");
    EXPECT_TRUE(alertTitles().isEmpty());
    local()->becomeReady();
    ASSERT_TRUE(controller->localPreferences());
    EXPECT_EQ(rec.itemsMade, 2);
    EXPECT_NE(rec.tray->title.first().text, "*** PLEASE WAIT ***");
    connectRemote("tower.local", {"TA"});
    EXPECT_EQ(rec.itemsMade, 3);
    EXPECT_EQ(controller->monitorClients().size(), 2);
}

TEST_F(LiteTest, TrayTitleAndMenuGoldenRuns)
{
    sensors = {"TA", "TB", "TC", "TD"};
    seedKelvaroPreferences();
    launchReady();
    auto& prefs = *controller->localPreferences();
    local()->raw.insert("TB", 5000);
    const QColor text = QGuiApplication::palette().color(QPalette::WindowText);
    const struct Case {
        const char* name;
        QStringList sensors;
        quint64 count;
        bool shortNames;
        platform::StatusItem::Title runs;
        bool image;
        QStringList menu;
    } cases[] = {
        {"two values with short names", {"TA", "TB"}, 2, true, {{"LOCAT: 42.0°C", text, false}, {" LOCAT: 50.0°C", text, false}}, false, {}},
        {"two values without", {"TA", "TB"}, 2, false, {{"42.0°C", text, false}, {" 50.0°C", text, false}}, false, {}},
        {"three slots, two names", {"TA", "TB"}, 3, false,
         {{"42.0°C", text, false}, {" 50.0°C", text, false}, {" - ", text, false}}, false, {}},
        {"no title: the icon, every sensor in the menu", {"TA", "TX", "TB"}, 0, true, {}, true,
         {"Location TA: 42.0°C", "Location TB: 50.0°C"}},
        {"the rest in the menu, custom names", {"TA", "TB", "TC"}, 1, true, {{"LOCAT: 42.0°C", text, false}}, false,
         {"Location TB: 50.0°C", "Location TC: 42.0°C"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        prefs.menuBarSensorNames() = c.sensors;
        prefs.setMenuBarDisplaysShortNames(c.shortNames);
        controller->monitorPreferences()->setNumberOfMenuBarValues(c.count);
        controller->updateAllOutputChannelsAndCache(true);
        EXPECT_EQ(rec.tray->title, c.runs);
        EXPECT_EQ(rec.tray->hasImage, c.image);
        EXPECT_EQ(rec.tray->items, c.menu);
    }
    // Same number of lines: retitled in place; a lost value rebuilds the menu one line shorter.
    const int built = rec.tray->menusBuilt;
    local()->raw.insert("TC", 4400);
    controller->updateAllOutputChannelsAndCache(true);
    EXPECT_EQ(rec.tray->menusBuilt, built);
    EXPECT_EQ(rec.tray->items.last(), "Location TC: 44.0°C");
    local()->sensors.removeAll("TC");
    local()->configurationChanged = true;
    controller->processTimedUpdate();
    EXPECT_EQ(rec.tray->menusBuilt, built + 1);
    EXPECT_EQ(rec.tray->items, QStringList{"Location TB: 50.0°C"});
}

TEST_F(LiteTest, TheMenuCommands)
{
    seedKelvaroPreferences();
    launchReady();
    QStringList titles;
    for (const auto& command : controller->menuCommands())
        titles.append(command.title);
    EXPECT_EQ(titles, (QStringList{"", "Update all readings now", "", "Connect to Remote Computer...", "Show Remote Connections",
                                   "", "Launch Kelvaro and Quit Lite Version", "Quit Kelvaro Lite"}));
    const auto commands = controller->menuCommands();
    local()->raw.insert("TC0D", 4700);
    commands.at(1).run();
    EXPECT_EQ(controller->outputCache().value("TC0D")->currentValue(), 47.0);
    // "Connect to Remote Computer...": one panel, shown each time, handing its choice to this controller.
    commands.at(3).run();
    commands.at(3).run();
    EXPECT_EQ(rec.remotePanelsMade, 1);
    EXPECT_EQ(rec.remotePanelShows, 2);
    const auto delegate = rec.remotePanelDelegate.lock();
    ASSERT_EQ(delegate.get(), static_cast<RemoteConnectPanelDelegate*>(controller.get()));
    const auto before = made.size();
    delegate->panel(nullptr, {MonitorConnectionInfo::createForRemoteConnection("lab.local", 37037)});
    advance(1);
    ASSERT_EQ(made.size(), before + 1);
    EXPECT_EQ(made.last()->connectionInfo()->hostSpecifier(), QStringLiteral("lab.local"));
    commands.at(7).run();
    EXPECT_EQ(rec.quits, 1);
}

TEST_F(LiteTest, AlertsAreHeldOffThirtySecondsOnTheMonotonicClock)
{
    seedKelvaroPreferences();
    launchReady();
    auto& prefs = *controller->localPreferences();
    prefs.setAlertPlaysSound(true);
    prefs.setAlertOpensWarning(true);
    const struct {
        double after;
        int beeps;
    } steps[] = {{0, 1}, {10, 1}, {21, 2}, {29, 2}, {1.5, 3}};
    for (const auto& s : steps) {
        kt::clock()->advanceSeconds(s.after);
        if (&s == &steps[3])
            kt::clock()->setNow(kt::clock()->now().addSecs(-3600)); // the wall clock set back changes nothing
        controller->raiseAlertForSensorWithIdentifier("TC0D", 55, true);
        EXPECT_EQ(fakes.alerts->beeps, s.beeps) << s.after;
    }
    ASSERT_EQ(rec.panelMessages.size(), 3);
    EXPECT_TRUE(rec.panelMessages.first().startsWith("Sensor 'Location TC0D' has exceeded a value of ")) << rec.panelMessages.first().toStdString();
    EXPECT_TRUE(rec.panelMessages.first().contains("The current value is 55.\nThe alert was registered at "));

    // An entry without a gauge names the sensor by its identifier.
    controller->cache().insert("smc.temp.GONE", std::make_shared<OutputCacheEntry>());
    controller->raiseAlertForSensorWithIdentifier("smc.temp.GONE", 12, false);
    EXPECT_TRUE(rec.panelMessages.last().startsWith("Sensor 'smc.temp.GONE' has fallen below a value of ?")) << rec.panelMessages.last().toStdString();
    controller->raiseAlertForSensorWithIdentifier(QString(), 12, false);
    EXPECT_EQ(rec.panelMessages.size(), 4);
}

TEST_F(LiteTest, AnUnopenableAlertObjectIsReportedOnlyWithoutThePanel)
{
    seedKelvaroPreferences();
    launchReady();
    auto& prefs = *controller->localPreferences();
    prefs.setAlertLaunchesObject(true);
    prefs.setAlertObjectPath("/nonexistent/alert.app");
    fakes.workspace->succeed = false;
    for (const bool panel : {true, false}) {
        SCOPED_TRACE(panel);
        prefs.setAlertOpensWarning(panel);
        fakes.alerts->shown.clear();
        rec.panelMessages.clear();
        kt::clock()->advanceSeconds(31);
        controller->raiseAlertForSensorWithIdentifier("TC0D", 55, true);
        EXPECT_EQ(fakes.workspace->openedFiles.size(), panel ? 1 : 2);
        EXPECT_EQ(rec.panelMessages.size(), panel ? 1 : 0);
        EXPECT_EQ(alertTitles(), panel ? QStringList() : QStringList{"Could not open alert object"});
    }
    EXPECT_TRUE(fakes.alerts->shown.first().informativeText.contains("path '/nonexistent/alert.app'"));
}

TEST_F(LiteTest, HandsOverToKelvaroAndQuitsOnlyWhenItStarted)
{
    seedKelvaroPreferences();
    launchReady();
    const struct {
        const char* name;
        bool launches;
        std::function<void()> trigger;
    } cases[] = {
        {"menu, launch fails", false, [&] { controller->menuCommands().at(6).run(); }},
        {"menu", true, [&] { controller->menuCommands().at(6).run(); }},
        // A remote computer without sensors: the alert, then the hand-over on the next turn.
        {"remote without sensors", true, [&] {
             connectRemote("empty.local", {});
             EXPECT_EQ(alertTitles().value(0), "No accessible sensors found");
             EXPECT_TRUE(fakes.alerts->shown.value(0).informativeText.contains("computer 'Fake computer'"));
             EXPECT_TRUE(fakes.workspace->launched.isEmpty());
             advance(0.5);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fakes.workspace->succeed = c.launches;
        fakes.workspace->launched.clear();
        fakes.alerts->shown.clear();
        rec.quits = 0;
        c.trigger();
        EXPECT_EQ(fakes.workspace->launched, QStringList{"Kelvaro"});
        EXPECT_EQ(rec.quits, c.launches ? 1 : 0);
        // A failed launch is told, naming the program and where it was looked for.
        const bool told = std::any_of(fakes.alerts->shown.cbegin(), fakes.alerts->shown.cend(), [](const platform::Alert& a) {
            return a.messageText == "Kelvaro could not be launched." && a.informativeText.contains("'Kelvaro'")
                   && a.informativeText.contains("/opt/kelvaro/bin") && a.informativeText.contains("/usr/bin");
        });
        EXPECT_EQ(told, !c.launches);
    }
}

TEST_F(LiteTest, ARunLeavesKelvarosDomainFileByteForByte)
{
    seedKelvaroPreferences();
    QFile file(domainFile());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();
    const auto modified = QFileInfo(file).lastModified();

    launchReady();
    controller->monitorPreferences()->setNumberOfMenuBarValues(3);
    controller->localPreferences()->setAlertPlaysSound(true);
    connectRemote("tower.local", {"TA"});
    advance(6);
    controller->applicationWillTerminate();
    controller.reset();
    platform::UserDefaults::synchronizeAll();

    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    EXPECT_EQ(QFileInfo(file).lastModified(), modified);
}
