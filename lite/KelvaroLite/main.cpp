// KelvaroLite: the tray-only edition. Sets up the application object, its bundle, the sensor classes and the
// desktop services, then hands start-up, the running program and the quit to the Lite controller.

#include "acquisition/MonitoringClient.h"
#include "acquisition/TEVCaptureThread.h"
#include "acquisition/TEVMonitoringClient.h"
#include "app/Kelvaro/TerminationSignals.h"
#include "app/controller/QtAlertPanel.h"
#include "app/controller/QtWarningPanel.h"
#include "lite/controller/LiteAppController.h"
#include "lite/controller/QtPreferenceNoticePanel.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/ApplicationEvents.h"
#include "platform/desktop/widgets/QtAlertPresenter.h"
#include "platform/desktop/widgets/QtStatusItem.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVSensorClassLoader.h"
#include "windows/info/ConnectionWindowController.h"
#include "windows/remote/RemoteConnectPanel.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QIcon>
#include <QPixmap>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const QString kProgram = QStringLiteral("KelvaroLite");

const char kUsage[] =
    "usage: KelvaroLite [--simulate DIR]\n"
    "  --simulate DIR  monitor the simulated computer in DIR instead of this machine\n"
    "                  (as KELVARO_SIMULATED_COMPUTER=DIR does)\n"
    "KELVARO_NONINTERACTIVE=1 answers every alert with its default button and logs it, for scripted runs.\n";

QIcon applicationIcon()
{
    const auto bundle = platform::Bundle::main();
    QPixmap pixmap;
    if (const auto data = bundle ? bundle->imageData(QStringLiteral("NSApplicationIcon")) : std::nullopt)
        pixmap.loadFromData(*data);
    return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

// The capture threads hand their last reference back to the main thread when they end.
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
        platform::log("KelvaroLite", QStringLiteral("a capture thread did not end within 5 s"));
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(kProgram);
    QStringList args = app.arguments().mid(1);
    QString simulated = qEnvironmentVariable("KELVARO_SIMULATED_COMPUTER");
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--simulate") && !args.isEmpty()) {
            simulated = args.takeFirst();
        } else if (option == QLatin1String("--help") || option == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    // Read lazily by every backend, so it must be set before the first sensor class loads.
    if (!simulated.isEmpty())
        qputenv("KELVARO_SIMULATED_COMPUTER", QFile::encodeName(simulated));

    platform::Bundle::setMain(platform::Bundle::forProgram(kProgram));
    if (const auto bundle = platform::Bundle::main())
        QCoreApplication::setApplicationVersion(
            platform::values::toString(bundle->objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString")))
                .value_or(QString()));
    TEVSensorClassLoader::loadAll();
    if (qEnvironmentVariable("KELVARO_NONINTERACTIVE") != QLatin1String("1"))
        platform::AlertPresenter::setShared(std::make_shared<platform::QtAlertPresenter>());
    QGuiApplication::setWindowIcon(applicationIcon());
    QApplication::setQuitOnLastWindowClosed(false);

    TerminationSignals terminationSignals([](int signal) {
        platform::log("KelvaroLite", QStringLiteral("signal %1 received, quitting").arg(signal));
        QApplication::quit();
    });
    if (!terminationSignals.install())
        platform::log("KelvaroLite", QStringLiteral("could not watch for termination signals; only the menu quits"));

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

    // One diagnostic line once the local computer's sensors are connected: scripts wait for it.
    const auto readyObserver = platform::NotificationCenter::defaultCenter().addObserver(
        MonitoringClient::isReadyNotification, {}, [&](const platform::Notification& notification) {
            const auto local = controller->localClient();
            if (!local || notification.object.get() != local->notificationIdentity())
                return;
            QTimer::singleShot(0, &app, [&controller] {
                if (const auto client = controller->localClient())
                    platform::log("KelvaroLite", QStringLiteral("monitoring '%1' with %2 sensors")
                                                     .arg(client->machineName())
                                                     .arg(controller->universalIdentifiersOfConnectedSensors().size()));
            });
        });

    bool launched = false;
    std::vector<std::weak_ptr<TEVCaptureThread>> captureThreads;
    controller->applicationWillFinishLaunching();
    QTimer::singleShot(0, &app, [&] {
        launched = true;
        controller->applicationDidFinishLaunching();
    });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &app, [&] {
        if (!launched)
            return;
        launched = false;
        for (const auto& client : controller->monitorClients())
            if (const auto local = std::dynamic_pointer_cast<TEVMonitoringClient>(client))
                captureThreads.push_back(local->captureThread());
        controller->applicationWillTerminate();
        platform::NotificationCenter::defaultCenter().post(platform::ApplicationWillTerminateNotification);
    });

    const int status = app.exec();
    platform::NotificationCenter::defaultCenter().removeObserver(readyObserver);
    TEVApplicationDelegate::setApplicationDelegate(nullptr);
    controller.reset();
    waitForCaptureThreads(captureThreads);
    return status;
}
