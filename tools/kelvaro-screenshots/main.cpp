// kelvaro-screenshots: runs the application controller on a computer (simulated with --simulate) with the
// real windows and saves each window as a PNG into a folder. A first short run learns the computer and
// writes its preferences and history file; the file is then filled with hours of long-term history, and
// the second run samples the short-term history in simulated time (both run on a manual clock) rather than
// waiting.
// Writes no preferences or histories of the user: its configuration and data folders are temporary.

#include "acquisition/TEVCaptureThread.h"
#include "acquisition/TEVMonitoringClient.h"
#include "acquisition/TEVSensorHistory.h"
#include "acquisition/TEVSensorHistoryFile.h"
#include "app/controller/AppController.h"
#include "app/controller/QtApplicationMenu.h"
#include "app/model/HistoryWindowPreferences.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/TEVGauge.h"
#include "lcd/TEVSerialPortDevice.h"
#include "lcd/manager/LCDModuleManager.h"
#include "platform/desktop/widgets/ApplicationMenuBar.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Color.h"
#include "platform/foundation/UserDefaults.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVLocalNetworkProbe.h"
#include "platform/foundation/Paths.h"
#include "sensors/TEVSensorClassLoader.h"
#include "windows/MinMaxWindowController.h"
#include "windows/TEVDockDisplay.h"
#include "windows/TEVScreenDisplayWindow.h"
#include "windows/TEVSensorWindowController.h"
#include "windows/history/HistoryCompositingInspector.h"
#include "windows/history/HistoryOverlayWindowController.h"
#include "windows/info/ConnectionWindowController.h"
#include "windows/info/MonitorWindowController.h"
#include "windows/info/QtMonitorWindowFactory.h"
#include "windows/info/SMBIOSSheetController.h"
#include "windows/info/SystemInfoDisplay.h"
#include "windows/remote/RemoteConnectPanel.h"
#include "windows/probes/ProbesManager.h"
#include "windows/preferences/PreferenceWindowController.h"
#include "windows/sensortables/SensorDrawerPanel.h"
#include "windows/sensortables/SensorTablesController.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QTableView>
#include <QRadialGradient>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

const char kUsage[] = "usage: kelvaro-screenshots [--simulate DIR] [--seconds N] OUTPUT-DIR\n";

// The clock of both runs.
std::shared_ptr<platform::ManualClock> simulatedClock;

// Turns the main loop until `done` or for `milliseconds` of real time; the manual clock keeps pace with it.
bool runUntil(const std::function<bool()>& done, int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    QElapsedTimer pace;
    pace.start();
    qint64 paced = 0; // nanoseconds passed on to the manual clock
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        const qint64 now = pace.nsecsElapsed();
        simulatedClock->advance(std::chrono::nanoseconds(now - paced));
        paced = now;
    }
    return done();
}

void runFor(int milliseconds)
{
    runUntil([] { return false; }, milliseconds);
}

// `seconds` of simulated time in steps of `step`, each given a few milliseconds to be sampled.
void simulate(double seconds, double step)
{
    for (double done = 0; done < seconds; done += step) {
        simulatedClock->advanceSeconds(step);
        QDeadlineTimer turn(6);
        while (!turn.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    }
}

void waitForCaptureThreads(AppController& controller, std::shared_ptr<AppController>& owner)
{
    std::vector<std::weak_ptr<TEVCaptureThread>> threads;
    for (const auto& client : controller.monitorClients())
        if (const auto local = std::dynamic_pointer_cast<TEVMonitoringClient>(client))
            threads.push_back(local->captureThread());
    controller.applicationWillTerminate();
    TEVApplicationDelegate::setApplicationDelegate(nullptr);
    owner.reset();
    // The capture threads hand their last reference back to this thread as they end.
    runUntil([&] { return std::all_of(threads.cbegin(), threads.cend(), [](const auto& t) { return t.expired(); }); }, 5000);
}

// The local computer is monitored with every sensor it has; a computer without any (a bare virtual machine)
// is ready as soon as its preferences are.
bool localComputerIsReady(const AppController& controller)
{
    if (!controller.localPreferences())
        return false;
    if (!controller.universalIdentifiersOfConnectedSensors().isEmpty())
        return true;
    const auto local = controller.localClient();
    return local && local->numberOfAvailableSensors() == 0;
}

// What the first run learnt: the computer's serial number and a recent raw value of each local sensor.
struct Computer {
    QString serial;
    QMap<QString, qint64> rawValues;
};

std::optional<Computer> learnComputer()
{
    auto controller = std::make_shared<AppController>();
    TEVApplicationDelegate::setApplicationDelegate(controller);
    controller->applicationWillFinishLaunching();
    controller->applicationDidFinishLaunching();
    const bool ready = runUntil([&] { return localComputerIsReady(*controller); }, 30000);
    std::optional<Computer> computer;
    if (ready) {
        // Two samples of every sensor.
        runFor(4500);
        const auto local = controller->localClient();
        computer = Computer{local->machineSerialNumber(), {}};
        for (const QString& id : controller->universalIdentifiersOfConnectedSensors()) {
            const QByteArray data = local->rawShortTermHistoryDataWithIdentifier(id, platform::currentDate().addSecs(-30));
            for (qsizetype at = data.size() - qsizetype(sizeof(qint64)); at >= 0; at -= qsizetype(sizeof(qint64))) {
                qint64 raw;
                std::memcpy(&raw, data.constData() + at, sizeof raw);
                if (raw != -1) {
                    computer->rawValues.insert(id, raw);
                    break;
                }
            }
        }
    }
    waitForCaptureThreads(*controller, controller);
    return computer;
}

// A week-long minute history whose last `hours` wander around `raw`, the newest slot at `now`.
std::shared_ptr<TEVSensorHistory> filledHistory(qint64 raw, int hours, const QDateTime& now, std::mt19937& random)
{
    constexpr quint64 count = 10080;
    QVariantList ring;
    ring.reserve(qsizetype(count));
    const double phase = std::uniform_real_distribution<double>(0, 6.283)(random);
    std::normal_distribution<double> noise(0, 0.004);
    for (quint64 i = 0; i < count; ++i) {
        const quint64 age = count - 1 - i; // minutes before now
        if (age >= quint64(hours) * 60 || raw == 0) {
            ring.append(QVariant::fromValue(qint64(age >= quint64(hours) * 60 ? -1 : 0)));
            continue;
        }
        const double t = double(age) * 60.0;
        const double factor = 1 + 0.07 * std::sin(t / 10800.0 * 6.283 + phase) + 0.025 * std::sin(t / 1020.0 * 6.283) + noise(random);
        const double value = std::clamp(double(raw) * factor, -2147483647.0, 2147483647.0);
        ring.append(QVariant::fromValue(qint64(std::llround(value))));
    }
    const QVariantMap archived{{QStringLiteral("$class"), QStringLiteral("TEVSensorHistory")},
                               {QStringLiteral("$0"), QVariant::fromValue(count)},
                               {QStringLiteral("$1"), 60.0},
                               {QStringLiteral("$2"), ring},
                               {QStringLiteral("$3"), QVariant::fromValue(qint64(count - 1))},
                               {QStringLiteral("$4"), now}};
    return TEVSensorHistory::createWithArchivedValues(archived);
}

bool fillHistoryFile(const Computer& computer, int hours, const QDateTime& now)
{
    TEVSensorHistoryFile file(platform::Paths::applicationSupportDirectory(QStringLiteral("Kelvaro"))
                              + TEVSensorHistoryFile::fileName());
    TEVSensorHistoryFile::Histories histories;
    std::mt19937 random(20260101);
    for (auto it = computer.rawValues.cbegin(); it != computer.rawValues.cend(); ++it)
        if (std::llabs(it.value()) < 2147483647LL)
            if (auto history = filledHistory(it.value(), hours, now, random))
                histories.insert(it.key(), history);
    const auto written = file.saveEntry(computer.serial, histories);
    if (!written)
        std::fprintf(stderr, "kelvaro-screenshots: could not write %s: %s\n", qPrintable(file.path()), qPrintable(written.error));
    return bool(written);
}

bool save(const QImage& image, const QString& dir, const QString& name)
{
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    if (image.isNull() || !image.save(path)) {
        std::fprintf(stderr, "kelvaro-screenshots: could not save %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// A desktop to show the screen display over: a dusk gradient with a lit horizon.
QImage desktopBehind(const QSize& size)
{
    QImage desktop(size, QImage::Format_RGB32);
    QPainter painter(&desktop);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor(0x1d, 0x2b, 0x53));
    sky.setColorAt(0.7, QColor(0x7e, 0x4a, 0x6b));
    sky.setColorAt(1, QColor(0xe0, 0x8a, 0x5a));
    painter.fillRect(desktop.rect(), sky);
    QRadialGradient sun(QPointF(size.width() * 0.75, size.height() * 0.95), size.height() * 0.5);
    sun.setColorAt(0, QColor(255, 220, 150, 200));
    sun.setColorAt(1, QColor(255, 220, 150, 0));
    painter.fillRect(desktop.rect(), sun);
    return desktop;
}

// A few gauges of different kinds, so that one picture shows several sensor types.
QStringList chosenIdentifiers(const AppController& controller, int count)
{
    QStringList chosen;
    QList<qint64> kinds;
    for (const QString& id : controller.universalIdentifiersOfConnectedSensors()) {
        const auto gauge = controller.gaugeForUniversalSensorIdentifier(id);
        if (!gauge || kinds.count(gauge->sensorQuantityType()) >= 2)
            continue;
        kinds.append(gauge->sensorQuantityType());
        chosen.append(id);
        if (chosen.size() == count)
            break;
    }
    return chosen;
}

// A 4 x 20 module on a serial port that takes every byte and keeps none: the LCD pane has a module to show.
std::shared_ptr<LCDModuleManager> demoLCDModuleManager()
{
    struct Sink final : platform::SerialTransport {
        bool write(const QByteArray&) override { return true; }
    };
    LCDModuleManager::Hardware hardware;
    hardware.listControllers = [] {
        const platform::SerialPortEntry entry{QStringLiteral("ttyUSB0"), QStringLiteral("usb-FTDI_FT232R_A9K3L2P1-if00-port0"),
                                              QStringLiteral("/dev/ttyUSB0")};
        return LCDModuleManager::ControllerList{TEVSerialPortDevice::createWithIORegistryEntry(entry, [](const QString&) {
            platform::SerialPort::Opening opening;
            opening.port = std::make_unique<Sink>();
            return opening;
        })};
    };
    hardware.observeHotplug = false;
    return std::make_shared<LCDModuleManager>(hardware);
}

// The history windows the first launch made, one per quantity type: short- and long-term, and with an
// overlay of another kind.
bool saveHistoryWindows(AppController& controller, const QString& output)
{
    QList<HistoryOverlayWindowController*> windows;
    for (const auto& window : controller.historyWindowControllers())
        if (auto* history = dynamic_cast<HistoryOverlayWindowController*>(window.get()))
            windows.append(history);
    const auto quantityOf = [&](HistoryOverlayWindowController* window) {
        const QStringList& ids = window->preferences()->sensorIdentifierList();
        const auto gauge = ids.isEmpty() ? nullptr : controller.gaugeForUniversalSensorIdentifier(ids.first());
        return gauge ? gauge->sensorQuantityType() : 0;
    };
    const auto find = [&](qint64 quantity) -> HistoryOverlayWindowController* {
        for (HistoryOverlayWindowController* window : windows)
            if (quantityOf(window) == quantity)
                return window;
        return nullptr;
    };
    HistoryOverlayWindowController* temperatures = find(1);
    HistoryOverlayWindowController* fans = find(6);
    // A computer without temperatures or fans has no history windows to picture.
    if (controller.universalIdentifiersOfConnectedSensors().isEmpty())
        return true;
    if (!temperatures || !fans) {
        std::fputs("kelvaro-screenshots: no temperature and fan history windows\n", stderr);
        return false;
    }
    // Colours as a user would give them, a few curves a window.
    const float palette[][3] = {{0.80f, 0.16f, 0.12f}, {0.10f, 0.45f, 0.80f}, {0.15f, 0.55f, 0.20f}, {0.60f, 0.30f, 0.70f},
                                {0.85f, 0.50f, 0.05f}, {0.20f, 0.60f, 0.60f}};
    for (HistoryOverlayWindowController* window : {temperatures, fans}) {
        QStringList& ids = window->preferences()->sensorIdentifierList();
        ids = ids.mid(0, window == temperatures ? 4 : 2);
        for (qsizetype i = 0; i < ids.size(); ++i)
            if (const auto gauge = controller.gaugeForUniversalSensorIdentifier(ids.at(i)))
                gauge->setPresentationColor(platform::Color::rgb(platform::Color::Space::DeviceRGB, palette[(i + (window == fans ? 4 : 0)) % 6][0],
                                                                 palette[(i + (window == fans ? 4 : 0)) % 6][1],
                                                                 palette[(i + (window == fans ? 4 : 0)) % 6][2]));
    }
    const auto shot = [&](HistoryOverlayWindowController* window, const QString& name) {
        window->openWindow();
        window->window()->resize(760, 420);
        runFor(200);
        window->updateWindow();
        runFor(200);
        return save(window->window()->grab().toImage(), output, name);
    };
    bool ok = true;
    temperatures->activateLabelMode(true);
    ok &= shot(temperatures, QStringLiteral("History-short"));
    // Twelve hours of the long-term history squeezed into the window.
    temperatures->changeMode(1);
    temperatures->setScaleSliderPosition(4.0);
    if (!temperatures->isTimeAxisZoomedOut())
        temperatures->toggleXZoom();
    temperatures->activateLabelMode(false);
    temperatures->activateRulerMode(true);
    temperatures->historyGraph()->setRulerPoint(QPointF(temperatures->historyGraph()->width() * 0.62,
                                                        temperatures->historyGraph()->height() * 0.55));
    ok &= shot(temperatures, QStringLiteral("History-long"));
    temperatures->activateRulerMode(false);
    temperatures->preferences()->overlayReferences() = QStringList{fans->preferences()->overlayIdentifier()};
    fans->openWindow();
    temperatures->updateOverlayConfiguration();
    ok &= fans->isInOverlayMode();
    ok &= shot(temperatures, QStringLiteral("History-overlay"));
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    // One manual clock for both runs, kept at the pace of real time while they wait and run ahead when the
    // short-term history is sampled.
    simulatedClock = std::make_shared<platform::ManualClock>(QDateTime::currentDateTimeUtc());
    platform::Clock::setShared(simulatedClock);
    QTemporaryDir scratch;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.path() + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(scratch.path() + QStringLiteral("/data")));
    qputenv("KELVARO_NONINTERACTIVE", "1");
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Kelvaro"));
    QStringList args = app.arguments().mid(1);
    QString output;
    int seconds = 5;
    while (!args.isEmpty()) {
        const QString arg = args.takeFirst();
        if (arg == QLatin1String("--simulate") && !args.isEmpty())
            qputenv("KELVARO_SIMULATED_COMPUTER", QFile::encodeName(args.takeFirst()));
        else if (arg == QLatin1String("--seconds") && !args.isEmpty())
            seconds = args.takeFirst().toInt();
        else if (output.isEmpty() && !arg.startsWith(QLatin1Char('-')))
            output = arg;
        else
            output.clear(), args.clear();
    }
    if (output.isEmpty() || !QDir().mkpath(output)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    platform::Bundle::setMain(platform::Bundle::forProgram(QStringLiteral("Kelvaro")));
    TEVSensorClassLoader::loadAll();
    QApplication::setQuitOnLastWindowClosed(false);

    // Hours of long-term history, written as the program would have left them.
    constexpr int kHistoryHours = 14;
    const auto computer = learnComputer();
    if (!computer || !fillHistoryFile(*computer, kHistoryHours, platform::currentDate())) {
        std::fputs("kelvaro-screenshots: the computer did not become ready\n", stderr);
        return 1;
    }

    QList<std::shared_ptr<TEVSensorWindowController>> sensorWindows;
    std::shared_ptr<MinMaxWindowController> minMax;
    auto dock = std::make_shared<TEVDockDisplay>();
    ApplicationWindows windows = ApplicationWindows::doNothing();
    // Translucent as under a compositor: the picture shows what a desktop with one would.
    windows.makeSensorWindow = [&sensorWindows](qint64 style, const QString& name) {
        sensorWindows.append(std::make_shared<TEVSensorWindowController>(style, name, nullptr, true));
        return sensorWindows.last();
    };
    windows.makeMinMaxWindow = [&minMax] { return minMax = std::make_shared<MinMaxWindowController>(); };
    windows.makeHistoryWindow = [](ControllerLookups* lookups, HistoryWindowRegistry* registry,
                                   const std::shared_ptr<HistoryWindowPreferences>& preferences) {
        auto window = std::make_shared<HistoryOverlayWindowController>();
        window->bindToApplicationController(lookups, registry, preferences);
        return window;
    };
    windows.compositingInspector = HistoryCompositingInspector::sharedHistoryCompositingInspector();
    windows.dockTile = dock;
    QMap<QString, std::shared_ptr<QtMonitorWindowFactory>> factories;
    windows.makeMonitorWindowFactory = [&factories](const QString& className, const QString& title) -> std::shared_ptr<MonitorWindowFactory> {
        return factories[className] = QtMonitorWindowFactory::monitorWindowFactoryForClass(className, title);
    };
    auto connections = std::make_shared<ConnectionWindowController>();
    windows.connectionWindow = connections;
    auto lcd = demoLCDModuleManager();
    windows.lcdManager = lcd;
    windows.probesPane = ProbesManager::sharedProbesManager();
    auto preferences = std::make_shared<PreferenceWindowController>();
    windows.preferenceWindow = preferences;
    auto controller = std::make_shared<AppController>(std::move(windows));
    TEVApplicationDelegate::setApplicationDelegate(controller);
    // Every window carries the menu bar it has in the program.
    auto menus = std::make_unique<QtApplicationMenu>(*controller);
    platform::ApplicationMenuBar::setMaker([&menus](QWidget* window) { return menus->makeMenuBar(window); });
    controller->applicationWillFinishLaunching();
    controller->applicationDidFinishLaunching();
    if (!runUntil([&] { return localComputerIsReady(*controller); }, 30000)) {
        std::fputs("kelvaro-screenshots: the computer did not become ready\n", stderr);
        return 1;
    }
    // A full short-term history: 380 samples at the update interval, in simulated time.
    simulate(double(controller->monitorPreferences()->sensorUpdateInterval()) * 385, 1.0);
    runFor(seconds * 200);

    const auto prefs = controller->localPreferences();
    const QStringList shown = chosenIdentifiers(*controller, 5);
    // Colours as a user would give them: the gauges start uncoloured.
    const float palette[][3] = {{0.80f, 0.16f, 0.12f}, {0.10f, 0.45f, 0.80f}, {0.15f, 0.55f, 0.20f}, {0.60f, 0.30f, 0.70f}, {0.85f, 0.50f, 0.05f}};
    for (qsizetype i = 0; i < shown.size(); ++i)
        if (const auto gauge = controller->gaugeForUniversalSensorIdentifier(shown.at(i)))
            gauge->setPresentationColor(platform::Color::rgb(platform::Color::Space::DeviceRGB, palette[i % 5][0],
                                                             palette[i % 5][1], palette[i % 5][2]));
    prefs->standardWindowSensorNames() = shown;
    prefs->setStandardWindowUsesForeground(false);
    prefs->screenDisplaySensorNames() = shown.mid(0, 3);
    controller->updateAllOutputChannelsAndCache(true);

    bool ok = sensorWindows.size() == 2 && minMax;
    if (!ok) {
        std::fputs("kelvaro-screenshots: the windows were not made\n", stderr);
        return 1;
    }
    auto standard = sensorWindows.at(0);
    for (const bool vertical : {false, true}) {
        prefs->setStandardWindowVertical(vertical);
        standard->showWindow();
        controller->updateStandardWindow();
        QCoreApplication::processEvents();
        ok &= save(standard->sensorWindow()->grab().toImage(), output,
                   vertical ? QStringLiteral("SensorWindow-vertical") : QStringLiteral("SensorWindow-horizontal"));
    }

    auto floating = sensorWindows.at(1);
    prefs->setScreenDisplayUsesForeground(true);
    prefs->setScreenDisplayForeground(platform::Color::white(platform::Color::Space::DeviceWhite, 1.0f));
    floating->showWindow();
    controller->updateScreenDisplay();
    QCoreApplication::processEvents();
    if (auto* display = qobject_cast<TEVScreenDisplayWindow*>(floating->sensorWindow())) {
        const QImage content = display->contentImage();
        QImage desktop = desktopBehind(content.size() + QSize(160, 120));
        QPainter painter(&desktop);
        painter.drawImage(80, 60, content);
        painter.end();
        ok &= save(desktop, output, QStringLiteral("ScreenDisplay"));
        // Every value of the computer at 36 points, on the whole screen it must fit (rows and then columns).
        const QStringList all = controller->universalIdentifiersOfConnectedSensors();
        if (!all.isEmpty()) {
            const auto oldFont = prefs->screenDisplayFont();
            prefs->screenDisplaySensorNames() = all;
            prefs->setScreenDisplayFontName(oldFont.name, 36);
            const QRect area = floating->sensorWindow()->screen()->availableGeometry();
            for (const bool vertical : {false, true}) {
                prefs->setScreenDisplayVertical(vertical);
                floating->sensorWindow()->move(area.topLeft());
                controller->updateScreenDisplay();
                QCoreApplication::processEvents();
                QImage screen = desktopBehind(area.size());
                QPainter painter(&screen);
                painter.drawImage(floating->sensorWindow()->pos() - area.topLeft(), display->contentImage());
                painter.end();
                ok &= save(screen, output, vertical ? QStringLiteral("ScreenDisplay-all-vertical") : QStringLiteral("ScreenDisplay-all"));
            }
            prefs->setScreenDisplayVertical(false);
            prefs->setScreenDisplayFontName(oldFont.name, oldFont.size);
            prefs->screenDisplaySensorNames() = shown.mid(0, 3);
            controller->updateScreenDisplay();
        }
    }

    minMax->updateWindow();
    minMax->showWindow();
    minMax->window()->resize(480, 320);
    QCoreApplication::processEvents();
    ok &= save(minMax->window()->grab().toImage(), output, QStringLiteral("ExtremeValues"));

    auto* monitor = controller->monitorPreferences();
    prefs->dockSensorNames() = shown.mid(0, 2);
    for (const quint64 lines : {1, 2}) {
        monitor->setNumberOfDockValues(lines);
        // One picture in each look: plain text for one line, the LCD panel for two.
        prefs->setDockUsesTextDisplay(lines == 1);
        controller->updateDockDisplay();
        ok &= save(dock->dockTileImage(), output, QStringLiteral("DockTile-%1").arg(lines));
    }

    // The information windows of the computer, by the names the README uses.
    const std::pair<const char*, QString> kinds[] = {
        {"Overview", AppController::kSensorOverview},       {"SystemInfo", AppController::kSystemInfoDisplay},
        {"Drives", AppController::kDriveOverview},          {"Battery", AppController::kSmartBatteryInfoDisplay},
        {"Displays", AppController::kDisplayInfoDisplay},
    };
    for (const auto& [name, className] : kinds) {
        const auto factory = factories.value(className);
        MonitorWindowController* window = factory ? factory->windowControllerForClient(controller->localClient()) : nullptr;
        if (!window) {
            std::fprintf(stderr, "kelvaro-screenshots: no %s window\n", name);
            ok = false;
            continue;
        }
        factory->openWindowForMonitoringClient(controller->localClient());
        window->updateContents();
        runFor(300);
        ok &= save(window->window()->grab().toImage(), output, QString::fromLatin1(name));
        if (auto* system = dynamic_cast<SystemInfoDisplay*>(window)) {
            system->openManagementSheet();
            runFor(300);
            if (QWidget* sheet = system->smSheetController() ? system->smSheetController()->window() : nullptr)
                ok &= save(sheet->grab().toImage(), output, QStringLiteral("SMBIOS"));
            system->closeSMBIOSSheet();
        }
        factory->closeWindowForMonitoringClient(controller->localClient());
    }

    // The remote-connect panel with two stored lists (what it found on the network, or why it could not
    // browse), and its list editor with the first list open.
    {
        const auto manual = [](const char* host, int port) {
            return QVariantMap{{"ConnectionSpecifier", "Manual"}, {"ServiceName", host}, {"ServicePort", port}};
        };
        if (const auto defaults = platform::UserDefaults::standard())
            defaults->setObject(QVariantMap{{"Office", QVariantList{manual("office-1.lab", 37037), manual("office-2.lab", 37037)}},
                                            {"Rack", QVariantList{manual("10.0.8.21", 37037)}}},
                                RemoteConnectPanel::kComputerListsKey);
        RemoteConnectPanel panel;
        panel.showWindow();
        panel.hostField()->setText(QStringLiteral("lab-server.local"));
        runFor(1500);
        ok &= save(panel.window()->grab().toImage(), output, QStringLiteral("RemoteConnect"));
        panel.openComputerListSheet();
        panel.computerListOutline()->expandAll();
        runFor(300);
        ok &= save(panel.computerListSheet()->grab().toImage(), output, QStringLiteral("ComputerLists"));
        panel.closeComputerListSheet();
    }

    // Probes of several kinds for pane 9.
    {
        using Probe = TEVArtificialSensor;
        Probe::addArtificialSensor(Probe::createAsLoadSensorForCPUAtIndex(0));
        Probe::addArtificialSensor(Probe::createAsTotalCPULoadSensor());
        Probe::addArtificialSensor(Probe::createAsMemorySensorOfType(Probe::MemoryFree));
        Probe::addArtificialSensor(Probe::createAsMemorySensorOfType(Probe::MemorySwapUsed));
        Probe::addArtificialSensor(Probe::createAsStorageSensorForPath(QStringLiteral("/"), Probe::DiskFree));
        Probe::addArtificialSensor(Probe::createAsBatterySensorForIndex(0));
        Probe::addArtificialSensor(Probe::createAsProcessCountSensor());
        if (const auto network = TEVLocalNetworkProbe::sharedNetworkProbe(); network && !network->currentNetworkInterfaceBSDNames().isEmpty()) {
            const QString name = network->currentNetworkInterfaceBSDNames().constLast();
            Probe::addArtificialSensor(Probe::createAsNetworkInterfaceSensorWithType(Probe::NetInBytes, name, QStringLiteral("BSD Interface '%1'").arg(name)));
        }
    }

    // The LCD pane's module showing two gauges, the time and a bar graph.
    {
        const auto item = [](qint64 type, const QString& text, quint64 length = 1, quint64 precision = 0) {
            return QVariantMap{{QStringLiteral("ItemType"), type}, {QStringLiteral("Association"), text},
                               {QStringLiteral("MaxLength"), length}, {QStringLiteral("Precision"), precision}};
        };
        const QString first = shown.value(0), second = shown.value(1);
        const QVariantList items{item(0, QStringLiteral("Kelvaro ")), item(3, {}), item(1, {}),
                                 item(0, QStringLiteral("A ")), item(9, first, 8, 1), item(1, {}),
                                 item(0, QStringLiteral("B ")), item(9, second, 8, 0), item(1, {}),
                                 item(0, QStringLiteral("Load ")), item(10, first)};
        lcd->setLCDModulePreferences({{QStringLiteral("Serial-usb-FTDI_FT232R_A9K3L2P1-if00-port0"),
                                       QVariantMap{{QStringLiteral("DisplayType"), qint64(7)},
                                                   {QStringLiteral("ScreenSaver"), 900.0},
                                                   {QStringLiteral("OutputItems"), items}}}});
        lcd->rebuildListOfAvailableOutputItems();
        QWidget* pane = lcd->preferencePaneView();
        pane->findChild<QTableView*>(QStringLiteral("controllerTable"))->selectRow(0);
        pane->findChild<QTableView*>(QStringLiteral("elementTargetTable"))->selectRow(4);
        controller->updateAllOutputChannelsAndCache(true);
    }

    // Every preference pane, as the toolbar shows it, with a row chosen in the outline and the lists.
    prefs->alertTriggerSensorNames() = shown.mid(0, 2);
    preferences->showWindow();
    if (SensorTablesController* tables = preferences->sensorTables()) {
        tables->selectOutlineRow(2);
        tables->historyWindowTable()->selectRow(0);
        tables->sensorTable(SensorTablesController::AlertTable)->selectRow(0);
    }
    for (qint64 pane = 0; pane < PreferenceWindowController::kNumberOfPanes; ++pane) {
        preferences->selectPreferencePaneAtIndex(pane);
        runFor(200);
        ok &= save(preferences->window()->grab().toImage(), output, QStringLiteral("pane-%1").arg(pane));
    }
    // The drawer of sensors beside the window, as it opens from the sensor window's pane.
    if (SensorTablesController* tables = preferences->sensorTables()) {
        preferences->selectPreferencePaneAtIndex(2);
        tables->openSensorDrawerPanel();
        runFor(200);
        if (QWidget* drawer = tables->sensorDrawerPanel())
            ok &= save(drawer->grab().toImage(), output, QStringLiteral("Drawer"));
        tables->sensorDrawerPanel()->close();
    }
    preferences->window()->hide();

    ok &= saveHistoryWindows(*controller, output);

    // The menus go before the controller they ask.
    platform::ApplicationMenuBar::setMaker({});
    menus.reset();
    waitForCaptureThreads(*controller, controller);
    sensorWindows.clear();
    minMax.reset();
    factories.clear();
    connections.reset();
    lcd.reset();
    preferences.reset();
    return ok ? 0 : 1;
}
