// KelvaroLite: the tray-only edition. Sets up the application object, its bundle, the sensor classes and the
// desktop services, then hands start-up, the running program and the quit to the Lite controller.

#include "app/controller/QtAlertPanel.h"
#include "app/controller/QtWarningPanel.h"
#include "lite/controller/LiteAppController.h"
#include "lite/controller/QtPreferenceNoticePanel.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/widgets/QtAlertPresenter.h"
#include "platform/desktop/widgets/QtStatusItem.h"
#include "platform/foundation/Log.h"
#include "programs/startup/ProgramStartup.h"
#include "windows/info/ConnectionWindowController.h"
#include "windows/remote/RemoteConnectPanel.h"

#include <QAction>
#include <QApplication>

namespace {

const char kUsage[] =
    "usage: KelvaroLite [--simulate DIR]\n"
    "  --simulate DIR  monitor the simulated computer in DIR instead of this machine\n"
    "                  (as KELVARO_SIMULATED_COMPUTER=DIR does)\n"
    "KELVARO_NONINTERACTIVE=1 answers every alert with its default button and logs it, for scripted runs.\n";

} // namespace

int main(int argc, char** argv)
{
    ProgramStartup::preferXWayland();
    QApplication app(argc, argv);
    ProgramStartup startup(QStringLiteral("KelvaroLite"), kUsage, false);
    if (const auto status = startup.begin(app))
        return *status;
    if (qEnvironmentVariable("KELVARO_NONINTERACTIVE") != QLatin1String("1"))
        platform::AlertPresenter::setShared(std::make_shared<platform::QtAlertPresenter>());

    // The tray menu's commands: made once, attached to every status item the controller makes.
    QObject commands;
    QList<QAction*> actions;
    lite::LiteWindows windows;
    windows.makeStatusItem = [&actions] {
        auto item = std::make_shared<platform::QtStatusItem>();
        item->setTrailingActions(actions);
        return item;
    };
    windows.makeRemoteConnectPanel = [] { return std::make_shared<RemoteConnectPanel>(); };
    windows.connectionWindow = std::make_shared<ConnectionWindowController>();
    windows.alertPanel = std::make_shared<QtAlertPanel>();
    windows.preferenceNoticePanel = std::make_shared<lite::QtPreferenceNoticePanel>();
    windows.warningPanel = std::make_shared<QtWarningPanel>();
    auto controller = std::make_shared<lite::AppController>(std::move(windows));
    TEVApplicationDelegate::setApplicationDelegate(controller);
    for (const lite::MenuCommand& command : controller->menuCommands()) {
        auto* action = new QAction(command.title, &commands);
        action->setSeparator(command.title.isEmpty());
        if (command.run)
            QObject::connect(action, &QAction::triggered, &commands, command.run);
        actions.append(action);
    }

    const int status = startup.exec(app, *controller,
                                    {[&] { controller->applicationWillFinishLaunching(); },
                                     [&] { controller->applicationDidFinishLaunching(); },
                                     [&] { controller->applicationWillTerminate(); },
                                     // Nothing to save: the preferences are Kelvaro's. Said, as Kelvaro
                                     // says what it saved, so that a logout reads the same in both logs.
                                     [] {
                                         platform::log("KelvaroLite", QStringLiteral("saved at the display's end: "
                                                                                     "nothing to write (the preferences are Kelvaro's)"));
                                     },
                                     false,
                                     // Nothing for the session manager either,
                                     {},
                                     // nor a window to show: the tray is Lite's.
                                     {}});
    TEVApplicationDelegate::setApplicationDelegate(nullptr);
    controller.reset();
    return startup.finish(status);
}
