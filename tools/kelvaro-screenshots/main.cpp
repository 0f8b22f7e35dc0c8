// kelvaro-screenshots: runs the application controller on a computer (simulated with --simulate) with the
// real windows, lets it sample for a few seconds and saves each window as a PNG into a folder. Writes no
// preferences or histories of the user: its configuration and data folders are temporary.

#include "acquisition/TEVCaptureThread.h"
#include "acquisition/TEVMonitoringClient.h"
#include "app/controller/AppController.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/TEVGauge.h"
#include "lcd/TEVSerialPortDevice.h"
#include "lcd/manager/LCDModuleManager.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Color.h"
#include "platform/foundation/UserDefaults.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVLocalNetworkProbe.h"
#include "sensors/TEVSensorClassLoader.h"
#include "windows/MinMaxWindowController.h"
#include "windows/TEVDockDisplay.h"
#include "windows/TEVScreenDisplayWindow.h"
#include "windows/TEVSensorWindowController.h"
#include "windows/info/ConnectionWindowController.h"
#include "windows/info/MonitorWindowController.h"
#include "windows/info/QtMonitorWindowFactory.h"
#include "windows/info/SMBIOSSheetController.h"
#include "windows/info/SystemInfoDisplay.h"
#include "windows/remote/RemoteConnectPanel.h"
#include "windows/probes/ProbesManager.h"
#include "windows/preferences/PreferenceWindowController.h"
#include "windows/sensortables/SensorTablesController.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QTableView>
#include <QRadialGradient>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const char kUsage[] = "usage: kelvaro-screenshots [--simulate DIR] [--seconds N] OUTPUT-DIR\n";

void runFor(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

bool runUntil(const std::function<bool()>& done, int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    return done();
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

} // namespace

int main(int argc, char** argv)
{
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
    controller->applicationWillFinishLaunching();
    controller->applicationDidFinishLaunching();
    if (!runUntil([&] { return controller->localPreferences() && !controller->universalIdentifiersOfConnectedSensors().isEmpty(); },
                  30000)) {
        std::fputs("kelvaro-screenshots: the computer did not become ready\n", stderr);
        return 1;
    }
    // A long-term sample every second rather than every minute, so that the extremes have data to show.
    if (const auto local = std::dynamic_pointer_cast<TEVMonitoringClient>(controller->localClient()))
        local->setLongTermHistoryUpdateInterval(1.0);
    runFor(seconds * 1000);

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
    preferences->window()->hide();

    std::vector<std::weak_ptr<TEVCaptureThread>> threads;
    for (const auto& client : controller->monitorClients())
        if (const auto local = std::dynamic_pointer_cast<TEVMonitoringClient>(client))
            threads.push_back(local->captureThread());
    controller->applicationWillTerminate();
    TEVApplicationDelegate::setApplicationDelegate(nullptr);
    controller.reset();
    sensorWindows.clear();
    minMax.reset();
    factories.clear();
    connections.reset();
    lcd.reset();
    preferences.reset();
    // The capture threads hand their last reference back to this thread as they end.
    runUntil([&] { return std::all_of(threads.cbegin(), threads.cend(), [](const auto& t) { return t.expired(); }); }, 5000);
    return ok ? 0 : 1;
}
