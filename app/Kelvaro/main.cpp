// Kelvaro: the hardware monitor. Sets up the application object, the bundle, the sensor classes and the
// desktop services, then hands start-up, the running program and the quit to the application controller.

#include "acquisition/MonitoringClient.h"
#include "acquisition/TEVCaptureThread.h"
#include "acquisition/TEVMonitoringClient.h"
#include "app/Kelvaro/TerminationSignals.h"
#include "app/controller/AppController.h"
#include "app/controller/QtAlertPanel.h"
#include "app/controller/QtApplicationMenu.h"
#include "app/controller/QtGaugeResetPanel.h"
#include "app/controller/QtSplashWindow.h"
#include "app/controller/QtWarningPanel.h"
#include "app/model/OutputCacheEntry.h"
#include "framework/TEVStringFormat.h"
#include "lcd/manager/LCDModuleManager.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/ApplicationEvents.h"
#include "platform/desktop/widgets/ApplicationMenuBar.h"
#include "platform/desktop/widgets/QtAlertPresenter.h"
#include "platform/desktop/widgets/QtOpenPanel.h"
#include "platform/desktop/widgets/QtSavePanel.h"
#include "platform/desktop/widgets/QtStatusItem.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVSensorClassLoader.h"
#include "windows/MinMaxWindowController.h"
#include "windows/TEVDockDisplay.h"
#include "windows/TEVSMCKeyDebugWindowController.h"
#include "windows/TEVSensorWindowController.h"
#include "windows/history/HistoryCompositingInspector.h"
#include "windows/history/HistoryOverlayWindowController.h"
#include "windows/info/ConnectionWindowController.h"
#include "windows/info/QtMonitorWindowFactory.h"
#include "windows/remote/RemoteConnectPanel.h"
#include "windows/probes/ProbesManager.h"
#include "windows/preferences/PreferenceWindowController.h"
#include "windows/sensortables/MachinePrefsImportController.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QIcon>
#include <QPixmap>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

const QString kProgram = QStringLiteral("Kelvaro");

const char kUsage[] =
    "usage: Kelvaro [--simulate DIR] [--print-output-cache]\n"
    "  --simulate DIR        monitor the simulated computer in DIR instead of this machine\n"
    "                        (as KELVARO_SIMULATED_COMPUTER=DIR does)\n"
    "  --print-output-cache  at quit, print every connected sensor's last value on standard output, one\n"
    "                        tab-separated line each: identifier, value, text (as KELVARO_PRINT_OUTPUT_CACHE=1)\n"
    "KELVARO_NONINTERACTIVE=1 answers every alert with its default button and logs it, for scripted runs.\n"
    "KELVARO_SMC_KEY_WINDOW=1 opens the SMC key decoder, a diagnostic window.\n";

struct Options {
    QString simulatedComputer;
    bool printOutputCache = false;
    bool help = false;
};

// Null when the arguments are not understood.
std::optional<Options> parseOptions(QStringList args)
{
    Options options;
    options.simulatedComputer = qEnvironmentVariable("KELVARO_SIMULATED_COMPUTER");
    options.printOutputCache = qEnvironmentVariable("KELVARO_PRINT_OUTPUT_CACHE") == QLatin1String("1");
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--simulate") && !args.isEmpty())
            options.simulatedComputer = args.takeFirst();
        else if (option == QLatin1String("--print-output-cache"))
            options.printOutputCache = true;
        else if (option == QLatin1String("--help") || option == QLatin1String("-h"))
            options.help = true;
        else
            return std::nullopt;
    }
    return options;
}

QIcon applicationIcon()
{
    const auto bundle = platform::Bundle::main();
    QPixmap pixmap;
    if (const auto data = bundle ? bundle->imageData(QStringLiteral("NSApplicationIcon")) : std::nullopt)
        pixmap.loadFromData(*data);
    return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

// One line per connected sensor, in the controller's order. Numbers in the C locale: QApplication has set
// the user's LC_NUMERIC.
void printOutputCache(const AppController& controller)
{
    QString text;
    for (const QString& identifier : controller.universalIdentifiersOfConnectedSensors()) {
        const auto entry = controller.outputCache().value(identifier);
        const bool hasValue = entry && entry->hasValue();
        text += identifier + QLatin1Char('\t')
                + (hasValue ? TEVStringFormat::withNumber("%g", entry->currentValue()) : QString()) + QLatin1Char('\t')
                + (hasValue ? entry->stringRepresentation() : QString()) + QLatin1Char('\n');
    }
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}

// The capture threads hand their last reference back to the main thread when they end; the loop must turn
// until they have, or their QThreads would be destroyed while running.
void waitForCaptureThreads(const std::vector<std::weak_ptr<TEVCaptureThread>>& threads)
{
    const auto allGone = [&] {
        return std::all_of(threads.cbegin(), threads.cend(), [](const auto& thread) { return thread.expired(); });
    };
    QTimer wake;
    wake.start(50);
    const QDeadlineTimer deadline(5000);
    while (!allGone() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (!allGone())
        platform::log("Kelvaro", QStringLiteral("a capture thread did not end within 5 s"));
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(kProgram);
    const auto options = parseOptions(app.arguments().mid(1));
    if (!options) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (options->help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    // Read lazily by every backend, so it must be set before the first sensor class loads.
    if (!options->simulatedComputer.isEmpty())
        qputenv("KELVARO_SIMULATED_COMPUTER", QFile::encodeName(options->simulatedComputer));

    platform::Bundle::setMain(platform::Bundle::forProgram(kProgram));
    if (const auto bundle = platform::Bundle::main())
        QCoreApplication::setApplicationVersion(
            platform::values::toString(bundle->objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString")))
                .value_or(QString()));
    TEVSensorClassLoader::loadAll();
    if (qEnvironmentVariable("KELVARO_NONINTERACTIVE") != QLatin1String("1")) {
        platform::AlertPresenter::setShared(std::make_shared<platform::QtAlertPresenter>());
        platform::OpenPanel::setShared(std::make_shared<platform::QtOpenPanel>());
        platform::SavePanel::setShared(std::make_shared<platform::QtSavePanel>());
    }
    QGuiApplication::setWindowIcon(applicationIcon());
    // Windows come and go (the splash, later the tray's); the program runs until it is told to quit.
    QApplication::setQuitOnLastWindowClosed(false);

    TerminationSignals terminationSignals([](int signal) {
        platform::log("Kelvaro", QStringLiteral("signal %1 received, quitting").arg(signal));
        // exit(), not quit(): a quit request closes every window first, and the windows that are open must
        // still be open when the controller records them for the next launch.
        QCoreApplication::exit(0);
    });
    if (!terminationSignals.install())
        platform::log("Kelvaro", QStringLiteral("could not watch for termination signals; only the menu quits"));

    ApplicationWindows windows = ApplicationWindows::doNothing();
    windows.makeSplashWindow = [] { return std::make_shared<QtSplashWindow>(); };
    windows.warningPanel = std::make_shared<QtWarningPanel>();
    windows.alertPanel = std::make_shared<QtAlertPanel>();
    windows.makeRemoteConnectPanel = [] { return std::make_shared<RemoteConnectPanel>(); };
    windows.makeMonitorWindowFactory = [](const QString& className, const QString& title) -> std::shared_ptr<MonitorWindowFactory> {
        return QtMonitorWindowFactory::monitorWindowFactoryForClass(className, title);
    };
    // The one connection window of the process; the controller owns it and goes before the application.
    windows.connectionWindow = std::make_shared<ConnectionWindowController>();
    windows.makeSensorWindow = [](qint64 style, const QString& autosaveName) {
        return std::make_shared<TEVSensorWindowController>(style, autosaveName);
    };
    windows.makeMinMaxWindow = [] { return std::make_shared<MinMaxWindowController>(); };
    // Without its panel the offer is skipped and new preferences are made.
    windows.makeImportPanel = []() -> std::shared_ptr<PreferenceImportPanel> {
        if (auto panel = MachinePrefsImportController::create())
            return panel;
        return std::make_shared<PreferenceImportPanel>();
    };
    windows.makeHistoryWindow = [](ControllerLookups* controller, HistoryWindowRegistry* registry,
                                   const std::shared_ptr<HistoryWindowPreferences>& preferences) {
        auto window = std::make_shared<HistoryOverlayWindowController>();
        window->bindToApplicationController(controller, registry, preferences);
        return window;
    };
    windows.compositingInspector = HistoryCompositingInspector::sharedHistoryCompositingInspector();
    windows.dockTile = std::make_shared<TEVDockDisplay>();
    windows.runGaugeResetPanel = [] { return QtGaugeResetPanel::run(); };
    // The tray's context menu ends with the application's commands, made once the controller exists.
    QList<QAction*> trayCommands;
    windows.makeStatusItem = [&trayCommands] {
        auto item = std::make_shared<platform::QtStatusItem>();
        item->setTrailingActions(trayCommands);
        return item;
    };
    windows.probesPane = ProbesManager::sharedProbesManager();
    windows.lcdManager = LCDModuleManager::sharedLCDModuleManager();
    windows.preferenceWindow = std::make_shared<PreferenceWindowController>();
    auto controller = std::make_shared<AppController>(std::move(windows));
    TEVApplicationDelegate::setApplicationDelegate(controller);
    auto menus = std::make_unique<QtApplicationMenu>(*controller);
    platform::ApplicationMenuBar::setMaker([&menus](QWidget* window) { return menus->makeMenuBar(window); });
    menus->openPreferences = [&controller] { controller->showPreferenceWindow(); };
    trayCommands = menus->dockMenuActions();

    // One diagnostic line once the local computer's sensors are connected: scripts wait for it.
    const auto readyObserver = platform::NotificationCenter::defaultCenter().addObserver(
        MonitoringClient::isReadyNotification, {}, [&](const platform::Notification& notification) {
            const auto local = controller->localClient();
            if (!local || notification.object.get() != local->notificationIdentity())
                return;
            // The next turn: the controller completes the client in its own observer of the same report.
            QTimer::singleShot(0, &app, [&controller] {
                if (const auto client = controller->localClient())
                    platform::log("Kelvaro", QStringLiteral("monitoring '%1' with %2 sensors")
                                                 .arg(client->machineName())
                                                 .arg(controller->universalIdentifiersOfConnectedSensors().size()));
            });
        });

    if (qEnvironmentVariable("KELVARO_SMC_KEY_WINDOW") == QLatin1String("1"))
        TEVSMCKeyDebugWindowController::sharedWindowController().showWindow();

    bool launched = false;
    std::vector<std::weak_ptr<TEVCaptureThread>> captureThreads;
    controller->applicationWillFinishLaunching();
    QTimer::singleShot(0, &app, [&] {
        launched = true;
        controller->applicationDidFinishLaunching();
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &app, [&] {
        // A quit before the first turn has read no preferences: writing them would replace the stored ones.
        if (!launched)
            return;
        launched = false;
        if (options->printOutputCache)
            printOutputCache(*controller);
        for (const auto& client : controller->monitorClients())
            if (const auto local = std::dynamic_pointer_cast<TEVMonitoringClient>(client))
                captureThreads.push_back(local->captureThread());
        controller->applicationWillTerminate();
        platform::NotificationCenter::defaultCenter().post(platform::ApplicationWillTerminateNotification);
    });

    const int status = app.exec();
    platform::NotificationCenter::defaultCenter().removeObserver(readyObserver);
    // Gone before the capture threads end: each end reports a lost connection, which the controller would
    // answer with a relaunch of the local client.
    TEVApplicationDelegate::setApplicationDelegate(nullptr);
    platform::ApplicationMenuBar::setMaker({});
    menus.reset();
    controller.reset();
    waitForCaptureThreads(captureThreads);
    return status;
}
