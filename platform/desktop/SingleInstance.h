#pragma once
// SingleInstance: one running copy of a program per user. The first start claims the program's name; a later
// start finds the running copy, asks it to raise its windows (handing over the activation token the desktop
// gave it, without which a Wayland compositor does not let the running copy take the focus) and ends. One per process, claimed by main()
// before anything costly; main thread.

#include <QDBusConnection>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>

class QDeadlineTimer;
class QLocalServer;

namespace platform {

class SingleInstance {
public:
    enum class Claim {
        Running,    // this process is the running copy
        HandedOver, // another copy runs and was asked to raise its windows
        Unanswered, // another copy runs but did not answer
    };

    // What a later start hands over: the desktop's activation token of that start, empty without one.
    using Raise = std::function<void(const QString& activationToken)>;

    virtual ~SingleInstance() = default;

    // Claims `name` ("com.tarnwell.Kelvaro") for this process. While it is the running copy, `raise` runs on
    // the main thread whenever a later start asks. A later start hands over `activationToken`.
    virtual Claim claim(const QString& name, Raise raise, const QString& activationToken = QString()) = 0;
    Claim claim(const QString& name, std::function<void()> raise)
    {
        return claim(name, Raise([raise = std::move(raise)](const QString&) {
                         if (raise)
                             raise();
                     }));
    }
    // The process id of the running copy once a claim found one; 0 when unknown.
    virtual qint64 runningProcess() const = 0;
};

// The user's session: a lock in the runtime folder (XDG_RUNTIME_DIR) decides which copy runs, whether or not a
// session bus is there; the running copy listens on a socket beside it and owns the bus name when it can, as
// org.freedesktop.Application at the name's path. A later start asks it through the bus when the name's owner
// is the lock's holder, otherwise through the socket. Goes before the application object: its end gives the
// name back.
class SessionSingleInstance final : public SingleInstance {
public:
    SessionSingleInstance(QString runtimeFolder, QDBusConnection bus,
                          std::chrono::milliseconds answerTimeout = std::chrono::seconds(5));
    ~SessionSingleInstance() override;

    using SingleInstance::claim;
    Claim claim(const QString& name, Raise raise, const QString& activationToken = QString()) override;
    qint64 runningProcess() const override { return runningProcess_; }

private:
    bool listen(const QString& socketPath);
    void ownBusName(const QString& name);
    bool askThroughBus(const QString& name, const QString& activationToken);
    bool askThroughSocket(const QString& socketPath, const QString& activationToken, const QDeadlineTimer& deadline);

    QString folder_;
    QDBusConnection bus_;
    std::chrono::milliseconds answerTimeout_;
    Raise raise_;
    int lockFd_ = -1;
    qint64 runningProcess_ = 0;
    std::unique_ptr<QLocalServer> server_;
    std::unique_ptr<QObject> busObject_;
    QString busName_;
    QString busPath_;
};

} // namespace platform
