#include "programs/startup/ProgramStartup.h"

#include "acquisition/MonitoringClient.h"
#include "acquisition/TEVCaptureThread.h"
#include "acquisition/TEVMonitoringClient.h"
#include "app/controller/ControllerCore.h"
#include "app/model/OutputCacheEntry.h"
#include "framework/TEVStringFormat.h"
#include "platform/desktop/ApplicationEvents.h"
#include "platform/desktop/BundleImage.h"
#include "platform/desktop/SingleInstance.h"
#include "platform/desktop/StartedPrograms.h"
#include "platform/desktop/widgets/WindowActivation.h"
#include "platform/desktop/widgets/WindowHints.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Values.h"
#include "programs/startup/DesktopQuit.h"
#include "programs/startup/TerminationSignals.h"
#include "sensors/TEVBatteryInfo.h"
#include "sensors/TEVSensorClassLoader.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QIcon>
#include <QLoggingCategory>
#include <QPixmap>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <QWidget>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <mutex>
#include <utility>

namespace {

// Every remote computer has a worker thread, and glibc would give each a heap arena of its own, much of it
// free space held back. A few arenas are shared instead: the threads' ticks fall together, and one arena
// for all of them costs more in waits for its lock than it saves.
[[maybe_unused]] const bool heapArenasLimited = mallopt(M_ARENA_MAX, 4) == 1;

QIcon applicationIcon()
{
    const auto bundle = platform::Bundle::main();
    const QImage image = platform::bundleImage(bundle.get(), QStringLiteral("NSApplicationIcon"));
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

// One line per connected sensor, in the controller's order. Numbers in the C locale: QApplication has set
// the user's LC_NUMERIC.
void printOutputCache(const ControllerCore& controller)
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

// The end of the display. Qt's xcb plugin, once it finds its X connection broken, warns "The X11 connection
// broke ..." on the main thread and calls exit(1) right after; its Wayland plugin warns "The Wayland connection
// broke ..." (or "... experienced a fatal error") and calls _exit(1), on the main thread and on its threads
// that read the connection, often on more than one. The saving runs inside that warning, before exit() has
// destroyed a single static object, and the process then ends with status 1 without the exit handlers: they
// would destroy, newest first, objects that the threads still running use.
std::atomic<QtMessageHandler> g_previousMessageHandler{nullptr};
QLoggingCategory::CategoryFilter g_previousCategoryFilter = nullptr;
// Whether the rules in force show the default category's warnings. Ours are always on, so that the display
// warning reaches us; those the rules hide are not passed on.
std::atomic<bool> g_defaultWarningsShown{true};
QByteArray g_logName;

// The one save at the display's end, which every report of the loss waits for, on whichever thread: a report
// that returned would let the plugin end the process in the middle of it.
class LostDisplaySave {
public:
    // Never destroyed: a reporting thread may still wait here while the process ends.
    static LostDisplaySave& shared()
    {
        static auto* save = new LostDisplaySave;
        return *save;
    }

    // Main thread. From the launch on, with `save`; empty at the quit.
    void arm(std::function<void()> save)
    {
        const std::lock_guard lock(mutex_);
        if (state_ != State::NotArmed && state_ != State::Armed)
            return;
        save_ = std::move(save);
        state_ = save_ ? State::Armed : State::NotArmed;
    }

    // Main thread: saves unless done or under way, then ends the process.
    [[noreturn]] void endOnMainThread(const char* lost)
    {
        std::unique_lock lock(mutex_);
        if (state_ == State::Armed) {
            state_ = State::Saving;
            const auto save = std::exchange(save_, {});
            lock.unlock();
            platform::log(g_logName.constData(), QStringLiteral("ending without a quit: %1 went away").arg(QLatin1String(lost)));
            // A failure is recorded by the save itself, for the next start.
            save();
            lock.lock();
            state_ = State::Saved;
            changed_.notify_all();
        } else if (state_ == State::Saving) {
            // Only the save runs on this thread meanwhile: a display call of its own met the broken connection.
            lock.unlock();
            platform::log(g_logName.constData(), QStringLiteral("the save at the display's end made a display call: ending unsaved"));
        }
        end();
    }

    // Another thread: the save is handed to the main thread, and this one ends the process once it is done.
    // A main thread that never takes it up (stuck in a display call) is given a minute.
    [[noreturn]] void endOnOtherThread(QCoreApplication* application, const char* lost)
    {
        std::unique_lock lock(mutex_);
        if (state_ != State::Saved && !std::exchange(handedOver_, true)) {
            lock.unlock();
            QMetaObject::invokeMethod(application, [lost] { shared().endOnMainThread(lost); }, Qt::QueuedConnection);
            lock.lock();
        }
        if (!changed_.wait_for(lock, kGuardTime, [this] { return state_ == State::Saved; })) {
            const bool begun = state_ == State::Saving;
            lock.unlock();
            platform::log(g_logName.constData(),
                          begun ? QStringLiteral("the save at the display's end did not finish within %1 s: ending")
                                      .arg(kGuardTime.count())
                                : QStringLiteral("the main thread did not take up the display's end within %1 s: ending "
                                                 "unsaved")
                                      .arg(kGuardTime.count()));
        }
        end();
    }

private:
    enum class State {
        NotArmed, // before the launch and from the quit on: nothing to save
        Armed,
        Saving, // on the main thread
        Saved,  // or failed, and the failure recorded
    };
    static constexpr std::chrono::seconds kGuardTime{60};

    LostDisplaySave() = default;

    [[noreturn]] static void end()
    {
        std::fflush(nullptr);
        std::_Exit(1);
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    State state_ = State::NotArmed;
    bool handedOver_ = false;     // the end is queued on the main thread
    std::function<void()> save_;  // taken on the main thread
};

// What went away, for the log; null for any other message.
const char* lostDisplayOf(QtMsgType type, const QString& message)
{
    if (type != QtWarningMsg)
        return nullptr;
    if (message.startsWith(QLatin1String("The X11 connection broke")))
        return "the X server";
    if (message.startsWith(QLatin1String("The Wayland connection broke")) ||
        message.startsWith(QLatin1String("The Wayland connection experienced a fatal error")))
        return "the Wayland compositor";
    return nullptr;
}

bool isDefaultCategory(const char* category)
{
    return !category || std::strcmp(category, "default") == 0;
}

void keepDefaultWarnings(QLoggingCategory* category)
{
    if (g_previousCategoryFilter)
        g_previousCategoryFilter(category);
    if (!isDefaultCategory(category->categoryName()))
        return;
    g_defaultWarningsShown = category->isWarningEnabled();
    category->setEnabled(QtWarningMsg, true);
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    // Null only while the handler is being installed.
    if (const QtMessageHandler previous = g_previousMessageHandler;
        previous && (type != QtWarningMsg || !isDefaultCategory(context.category) || g_defaultWarningsShown))
        previous(type, context, message);
    auto* application = QCoreApplication::instance();
    const char* lost = lostDisplayOf(type, message);
    if (!lost || !application)
        return;
    if (QThread::currentThread() == application->thread())
        LostDisplaySave::shared().endOnMainThread(lost);
    LostDisplaySave::shared().endOnOtherThread(application, lost);
}

void watchForLostDisplay(const QByteArray& logName)
{
    static const bool installed = [&] {
        g_logName = logName;
        g_previousMessageHandler = qInstallMessageHandler(&handleMessage);
        g_previousCategoryFilter = QLoggingCategory::installFilter(&keepDefaultWarnings);
        return true;
    }();
    Q_UNUSED(installed);
}

} // namespace

ProgramStartup::ProgramStartup(QString program, const char* usage, bool takesOutputCache)
    : program_(std::move(program))
    , logName_(program_.toUtf8())
    , usage_(usage)
    , takesOutputCache_(takesOutputCache)
{
}

ProgramStartup::~ProgramStartup() = default;

void ProgramStartup::preferXWayland()
{
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    // A list: Qt takes the first platform that starts. For this program alone: a Qt program it starts chooses
    // for itself, as the desktop would have it.
    platform::setEnvironmentVariableForThisProcess("QT_QPA_PLATFORM", "xcb;wayland");
}

std::optional<ProgramStartup::Options> ProgramStartup::parseOptions(QStringList args, bool takesOutputCache)
{
    Options options;
    options.simulatedComputer = qEnvironmentVariable("KELVARO_SIMULATED_COMPUTER");
    options.printOutputCache =
        takesOutputCache && qEnvironmentVariable("KELVARO_PRINT_OUTPUT_CACHE") == QLatin1String("1");
    while (!args.isEmpty()) {
        const QString option = args.takeFirst();
        if (option == QLatin1String("--simulate") && !args.isEmpty())
            options.simulatedComputer = args.takeFirst();
        else if (option == QLatin1String("--print-output-cache") && takesOutputCache)
            options.printOutputCache = true;
        else if (option == QLatin1String("--help") || option == QLatin1String("-h"))
            options.help = true;
        else
            return std::nullopt;
    }
    return options;
}

std::optional<int> ProgramStartup::begin(QApplication& app)
{
    TerminationSignals::ignoreSignalsOfFailedWrites();
    QCoreApplication::setApplicationName(program_);
    platform::keepContentSizeLimits();
    const auto options = parseOptions(app.arguments().mid(1), takesOutputCache_);
    if (!options) {
        std::fputs(usage_, stderr);
        return 2;
    }
    if (options->help) {
        std::fputs(usage_, stdout);
        return 0;
    }
    options_ = *options;

    instance_ = std::make_unique<platform::SessionSingleInstance>(
        QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation), QDBusConnection::sessionBus());
    const auto claim = instance_->claim(
        QStringLiteral("com.tarnwell.") + program_,
        platform::SingleInstance::Raise([this](const QString& token) { raiseWindows(token); }),
        platform::activationTokenOfThisStart());
    if (claim == platform::SingleInstance::Claim::HandedOver) {
        platform::log(logName_.constData(), QStringLiteral("runs already (process %1): asked it to show its windows")
                                                .arg(instance_->runningProcess()));
        return 0;
    }
    if (claim == platform::SingleInstance::Claim::Unanswered) {
        platform::log(logName_.constData(), QStringLiteral("runs already (process %1) but does not answer; not starting "
                                                           "a second copy")
                                                .arg(instance_->runningProcess()));
        return 1;
    }
    // Read lazily by every backend, so it must be set before the first sensor class loads.
    if (!options_.simulatedComputer.isEmpty())
        qputenv("KELVARO_SIMULATED_COMPUTER", QFile::encodeName(options_.simulatedComputer));

    platform::Bundle::setMain(platform::Bundle::forProgram(program_));
    if (const auto bundle = platform::Bundle::main())
        QCoreApplication::setApplicationVersion(
            platform::values::toString(bundle->objectForInfoDictionaryKey(QStringLiteral("CFBundleShortVersionString")))
                .value_or(QString()));
    // Beside the histories, which both programs share: a pack keeps its number across starts, so stored
    // gauges and alerts go on watching the same pack.
    TEVBatteryInfo::setNumberStorePath(platform::Paths::applicationSupportDirectory(QStringLiteral("Kelvaro"))
                                       + QStringLiteral("BatteryNumbers.plist"));
    TEVSensorClassLoader::loadAll();
    QGuiApplication::setWindowIcon(applicationIcon());
    // Windows come and go (the splash, the tray's); the program runs until it is told to quit.
    QApplication::setQuitOnLastWindowClosed(false);

    terminationSignals_ = std::make_unique<TerminationSignals>([name = logName_](int signal) {
        platform::log(name.constData(), QStringLiteral("signal %1 received, quitting").arg(signal));
        // exit(), not quit(): a quit request closes every window first, and the windows that are open must
        // still be open when the controller records them for the next launch.
        QCoreApplication::exit(0);
    });
    if (!terminationSignals_->install())
        platform::log(logName_.constData(), QStringLiteral("could not watch for termination signals; only the menu quits"));
    return std::nullopt;
}

// A later start of the program asks for the windows: those on screen come to the front, activated with the
// later start's token, and where none is (all closed, or a start by the session manager after a quit with none
// open) the main window shows.
void ProgramStartup::raiseWindows(const QString& activationToken)
{
    platform::log(logName_.constData(), activationToken.isEmpty()
                                            ? QStringLiteral("another start asked for the windows")
                                            : QStringLiteral("another start asked for the windows (activation token %1)").arg(activationToken));
    bool shown = false;
    QWidget* first = nullptr;
    QList<QWidget*> back;
    // The windows on screen, found from the window system's windows: every widget of the program, which
    // grows with each monitored computer's windows, would be searched for the few top-level ones.
    for (QWindow* handle : QGuiApplication::topLevelWindows()) {
        if (!handle->isVisible() || !handle->handle())
            continue;
        QWidget* window = QWidget::find(handle->winId());
        if (!window || !window->isWindow())
            continue;
        const Qt::WindowType type = window->windowType();
        if (!window->isVisible() || (type != Qt::Window && type != Qt::Dialog && type != Qt::Tool))
            continue;
        window->raise();
        // Tray icons and the screen display are frameless: nothing a user could bring forward and work in.
        if (window->windowFlags() & Qt::FramelessWindowHint)
            continue;
        back.append(window);
        shown = true;
        if (!first || window->isActiveWindow())
            first = window;
    }
    if (!shown && showMainWindow_) {
        QWidget* window = showMainWindow_();
        if (window && window->isVisible() && !(window->windowFlags() & Qt::FramelessWindowHint))
            first = window;
    }
    // The focus ends in the window the user last worked in.
    if (first)
        platform::bringBackWindows(back, first, activationToken);
}

QStringList ProgramStartup::restartArguments() const
{
    QStringList arguments;
    if (!options_.simulatedComputer.isEmpty())
        arguments << QStringLiteral("--simulate") << options_.simulatedComputer;
    return arguments;
}

// Start-up leaves freed holes in the heaps (the machine description read whole, the sensor scan, the first
// windows) that the allocator keeps; a program that runs all day hands them back once, after the local
// computer's first readings.
void ProgramStartup::returnStartUpMemoryOnce(QApplication& app)
{
    if (std::exchange(startUpMemoryReturned_, true))
        return;
    QTimer::singleShot(0, &app, [] { malloc_trim(0); });
}

int ProgramStartup::exec(QApplication& app, ControllerCore& controller, Lifecycle lifecycle)
{
    // One diagnostic line once the local computer's sensors are connected: scripts wait for it.
    const auto running = std::make_shared<bool>(true);
    const auto readyObserver = platform::NotificationCenter::defaultCenter().addObserver(
        MonitoringClient::isReadyNotification, {}, [&](const platform::Notification& notification) {
            const auto local = controller.localClient();
            if (!local || notification.object.get() != local->notificationIdentity())
                return;
            returnStartUpMemoryOnce(app);
            if (lifecycle.controllerReportsMonitoring)
                return;
            // The next turn: the controller completes the client in its own observer of the same report. A
            // quit in between leaves no controller to ask.
            QTimer::singleShot(0, &app, [this, &controller, running] {
                if (!*running)
                    return;
                if (const auto client = controller.localClient())
                    platform::log(logName_.constData(), QStringLiteral("monitoring '%1' with %2 sensors")
                                                .arg(client->machineName())
                                                .arg(controller.universalIdentifiersOfConnectedSensors().size()));
            });
        });

    bool launched = false;
    watchForLostDisplay(logName_);
    lifecycle.willFinishLaunching();
    QTimer::singleShot(0, &app, [&] {
        launched = true;
        showMainWindow_ = lifecycle.showMainWindow;
        desktopQuit_ = std::make_unique<DesktopQuit>(logName_, lifecycle.saveForSessionManager, restartArguments());
        // From here on a quit writes the preferences, and so does the loss of the display.
        LostDisplaySave::shared().arm(lifecycle.saveForLostDisplay);
        lifecycle.didFinishLaunching();
    });
    const auto quitting = QObject::connect(&app, &QCoreApplication::aboutToQuit, &app, [&] {
        // A quit before the first turn has read no preferences: writing them would replace the stored ones.
        LostDisplaySave::shared().arm({});
        showMainWindow_ = {};
        desktopQuit_.reset();
        if (!launched)
            return;
        launched = false;
        if (options_.printOutputCache)
            printOutputCache(controller);
        for (const auto& client : controller.monitorClients())
            if (const auto local = std::dynamic_pointer_cast<TEVMonitoringClient>(client))
                captureThreads_.push_back(local->captureThread());
        lifecycle.willTerminate();
        platform::NotificationCenter::defaultCenter().post(platform::ApplicationWillTerminateNotification);
    });

    const int status = app.exec();
    *running = false;
    LostDisplaySave::shared().arm({});
    showMainWindow_ = {};
    desktopQuit_.reset();
    QObject::disconnect(quitting);
    platform::NotificationCenter::defaultCenter().removeObserver(readyObserver);
    return status;
}

// The capture threads hand their last reference back to the main thread when they end; the loop must turn
// until they have, or their QThreads would be destroyed while running, or left behind at the exit. A loaded
// machine can take seconds to end a thread in the middle of a reading, so the wait is long; only a thread
// stuck for a minute is given up on.
int ProgramStartup::finish(int status)
{
    const auto allGone = [&] {
        return std::all_of(captureThreads_.cbegin(), captureThreads_.cend(),
                           [](const auto& thread) { return thread.expired(); });
    };
    QTimer wake;
    wake.start(50);
    const QDeadlineTimer slow(5000);
    const QDeadlineTimer deadline(60'000);
    bool told = false;
    while (!allGone() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!told && slow.hasExpired() && !allGone()) {
            told = true;
            platform::log(logName_.constData(), QStringLiteral("waiting for a capture thread to end"));
        }
    }
    if (!allGone())
        platform::log(logName_.constData(), QStringLiteral("a capture thread did not end within 60 s"));
    QCoreApplication::processEvents();
    return status;
}
