#pragma once
// ProgramStartup: what both programs do around their application controller: the command line, the one
// running copy per user, the bundle, the sensor classes and the application icon, the termination signals,
// the line scripts wait for once the local computer is monitored, the launch and quit sequence (and the
// saving when the display goes), the output-cache print and the wait for the capture threads. One per
// process, made by main() after the application object; main thread.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class ControllerCore;
namespace platform {
class SingleInstance;
}
class QApplication;
class QWidget;
class TEVCaptureThread;
class DesktopQuit;
class TerminationSignals;

class ProgramStartup {
public:
    struct Options {
        QString simulatedComputer;
        bool printOutputCache = false;
        bool help = false;
    };
    // The program's controller at each step of its life.
    struct Lifecycle {
        std::function<void()> willFinishLaunching;
        std::function<void()> didFinishLaunching;
        std::function<void()> willTerminate;
        // When the X server goes away under the program (a logout): what must be saved, with no display
        // call, before the process ends with status 1. Runs on the main thread inside the display plugin's
        // warning, at most once, and never after willTerminate. Optional.
        std::function<void()> saveForLostDisplay;
        // The controller logs "monitoring ..." itself, once the import offer is answered.
        bool controllerReportsMonitoring = false;
        // When the session manager asks the program to save (a logout, before its end): what a later start
        // must find, as the windows are now. Optional.
        std::function<void()> saveForSessionManager;
        // When another start asks for the windows and none of the program's windows is on screen; the window
        // it showed, if any. Optional.
        std::function<QWidget*()> showMainWindow;
    };

    // Before the application object: in a Wayland session that offers XWayland the programs run as its X11
    // clients (Wayland, natively, only when XWayland fails), since only there their windows open where the
    // user left them. A platform the user chose (QT_QPA_PLATFORM) stays.
    static void preferXWayland();

    // `usage` is printed for --help and for arguments not understood; --print-output-cache is an option
    // only where `takesOutputCache`.
    ProgramStartup(QString program, const char* usage, bool takesOutputCache);
    ~ProgramStartup();
    ProgramStartup(const ProgramStartup&) = delete;
    ProgramStartup& operator=(const ProgramStartup&) = delete;

    // Reads the command line, hands over to a running copy of the program, then sets up the bundle, the
    // sensor classes, the application icon and the termination signals. A status when the program ends here
    // (help, arguments not understood, another copy runs).
    std::optional<int> begin(QApplication& app);
    const Options& options() const { return options_; }

    // Launches the controller, turns the event loop and quits through `lifecycle`; the loop's status.
    int exec(QApplication& app, ControllerCore& controller, Lifecycle lifecycle);
    // Once the controller is gone: waits until the capture threads have ended; answers `status`.
    int finish(int status);

    // Null when the arguments are not understood. The environment gives the defaults.
    static std::optional<Options> parseOptions(QStringList args, bool takesOutputCache);

private:
    void returnStartUpMemoryOnce(QApplication& app);
    void raiseWindows(const QString& activationToken);
    // What a start by the session manager needs besides its session: the computer monitored.
    QStringList restartArguments() const;

    QString program_;
    QByteArray logName_;
    const char* usage_;
    bool takesOutputCache_;
    Options options_;
    // Held on main()'s stack: an exit past the event loop leaves it to the kernel, not to a bus gone by then.
    std::unique_ptr<platform::SingleInstance> instance_;
    std::unique_ptr<TerminationSignals> terminationSignals_;
    std::unique_ptr<DesktopQuit> desktopQuit_;
    std::function<QWidget*()> showMainWindow_; // set while the event loop turns
    std::vector<std::weak_ptr<TEVCaptureThread>> captureThreads_;
    bool startUpMemoryReturned_ = false;
};
