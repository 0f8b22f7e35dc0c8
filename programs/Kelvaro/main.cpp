// Kelvaro: the hardware monitor. Sets up the application object, the bundle, the sensor classes and the
// desktop services, then hands start-up, the running program and the quit to the application controller.

#include "app/controller/AppController.h"
#include "app/controller/QtAlertPanel.h"
#include "app/controller/QtApplicationMenu.h"
#include "app/controller/QtGaugeResetPanel.h"
#include "app/controller/QtSplashWindow.h"
#include "app/controller/QtWarningPanel.h"
#include "lcd/manager/LCDModuleManager.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/widgets/ApplicationMenuBar.h"
#include "platform/desktop/widgets/QtAlertPresenter.h"
#include "platform/desktop/widgets/QtOpenPanel.h"
#include "platform/desktop/widgets/QtSavePanel.h"
#include "platform/desktop/widgets/QtStatusItem.h"
#include "programs/startup/ProgramStartup.h"
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

namespace {

const char kUsage[] =
    "usage: Kelvaro [--simulate DIR] [--print-output-cache]\n"
    "  --simulate DIR        monitor the simulated computer in DIR instead of this machine\n"
    "                        (as KELVARO_SIMULATED_COMPUTER=DIR does)\n"
    "  --print-output-cache  at quit, print every connected sensor's last value on standard output, one\n"
    "                        tab-separated line each: identifier, value, text (as KELVARO_PRINT_OUTPUT_CACHE=1)\n"
    "KELVARO_NONINTERACTIVE=1 answers every alert with its default button and logs it, for scripted runs.\n"
    "KELVARO_SMC_KEY_WINDOW=1 opens the SMC key decoder, a diagnostic window.\n";

} // namespace

int main(int argc, char** argv)
{
    ProgramStartup::preferXWayland();
    QApplication app(argc, argv);
    ProgramStartup startup(QStringLiteral("Kelvaro"), kUsage, true);
    if (const auto status = startup.begin(app))
        return *status;
    // An alert the user did not bring about in a window of their own belongs to the sensor window, also a panel
    // shown where no one is asked.
    platform::QtAlertPresenter::setFallbackParent([]() -> QWidget* {
        for (QWidget* window : QApplication::topLevelWidgets())
            // The screen display shares its name; frameless, it holds no alert.
            if (window->objectName() == QLatin1String("sensorWindow") && window->windowType() == Qt::Window &&
                !window->windowFlags().testFlag(Qt::FramelessWindowHint))
                return window;
        return nullptr;
    });
    if (qEnvironmentVariable("KELVARO_NONINTERACTIVE") != QLatin1String("1")) {
        platform::AlertPresenter::setShared(std::make_shared<platform::QtAlertPresenter>());
        platform::OpenPanel::setShared(std::make_shared<platform::QtOpenPanel>());
        platform::SavePanel::setShared(std::make_shared<platform::QtSavePanel>());
    }

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

    if (qEnvironmentVariable("KELVARO_SMC_KEY_WINDOW") == QLatin1String("1"))
        TEVSMCKeyDebugWindowController::sharedWindowController().showWindow();

    const int status = startup.exec(app, *controller,
                                    {[&] { controller->applicationWillFinishLaunching(); },
                                     [&] { controller->applicationDidFinishLaunching(); },
                                     [&] { controller->applicationWillTerminate(); },
                                     [&] { controller->saveForLostDisplay(); },
                                     /*controllerReportsMonitoring=*/true,
                                     [&] { controller->saveForSessionManager(); },
                                     [&] { return controller->openSensorWindow(); }});
    // Gone before the capture threads end: each end reports a lost connection, which the controller would
    // answer with a relaunch of the local client.
    TEVApplicationDelegate::setApplicationDelegate(nullptr);
    platform::ApplicationMenuBar::setMaker({});
    menus.reset();
    controller.reset();
    return startup.finish(status);
}
