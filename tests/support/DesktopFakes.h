#pragma once
// Fakes of the desktop services: a scripted alert presenter and open panel, a workspace that records what
// it was asked, a notification server on the session bus, and an HTTP server on 127.0.0.1. Main thread.

#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/OpenPanel.h"
#include "platform/desktop/SavePanel.h"
#include "platform/desktop/Workspace.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QHash>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace kelvaro::test {

// Answers alerts from a queue (0, the default button, once it is empty) and keeps every alert shown.
class ScriptedAlertPresenter final : public platform::AlertPresenter {
public:
    QList<int> answers;
    QList<platform::Alert> shown;
    int beeps = 0;
    int runModal(const platform::Alert& alert) override;
    void beep() override { ++beeps; }
};

// Answers from a queue of paths; nothing (cancel) once it is empty.
class ScriptedOpenPanel final : public platform::OpenPanel {
public:
    QList<std::optional<QString>> answers;
    QList<platform::OpenPanelOptions> shown;
    std::optional<QString> runModal(const platform::OpenPanelOptions& options) override;
};

// Answers from a queue of locations; nothing (cancel) once it is empty.
class ScriptedSavePanel final : public platform::SavePanel {
public:
    QList<std::optional<platform::SavePanelResult>> answers;
    QList<platform::SavePanelOptions> shown;
    std::optional<platform::SavePanelResult> runModal(const platform::SavePanelOptions& options) override
    {
        shown.append(options);
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }
};

class FakeWorkspace final : public platform::Workspace {
public:
    QList<QUrl> openedURLs;
    QStringList openedFiles;
    QStringList launched;
    bool succeed = true;
    std::function<void()> onLaunch; // as a program is launched
    bool openURL(const QUrl& url) override;
    bool openFile(const QString& path) override;
    bool launchApplication(const QString& name, LaunchFailure* failure = nullptr) override;
    bool launchApplicationAtPath(const QString& path) override;
    QIcon iconForFile(const QString&) override { return {}; }
};

// Installs fakes as the shared presenter, panel and workspace for one scope.
class ScopedDesktopFakes {
public:
    ScopedDesktopFakes();
    ~ScopedDesktopFakes();
    std::shared_ptr<ScriptedAlertPresenter> alerts = std::make_shared<ScriptedAlertPresenter>();
    std::shared_ptr<ScriptedOpenPanel> panel = std::make_shared<ScriptedOpenPanel>();
    std::shared_ptr<ScriptedSavePanel> savePanel = std::make_shared<ScriptedSavePanel>();
    std::shared_ptr<FakeWorkspace> workspace = std::make_shared<FakeWorkspace>();
};

// org.freedesktop.Notifications on its own session-bus connection, under a bus name unique to this process.
class FakeNotificationService final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct NotifyCall {
        QString appName;
        uint replacesId = 0;
        QString summary;
        QString body;
        QStringList actions;
        uint id = 0; // what we answered
    };

    FakeNotificationService();
    ~FakeNotificationService() override;
    bool isRegistered() const { return registered_; }
    QString serviceName() const { return serviceName_; }

    QList<NotifyCall> notifies;
    QList<uint> closed;
    QStringList capabilities{QStringLiteral("actions"), QStringLiteral("body")};

    void emitActionInvoked(uint id, const QString& key);
    void emitNotificationClosed(uint id, uint reason);

public Q_SLOTS:
    uint Notify(const QString& appName, uint replacesId, const QString& appIcon, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap& hints, int expireTimeout);
    void CloseNotification(uint id);
    QStringList GetCapabilities();

private:
    QString connectionName_;
    QString serviceName_;
    bool registered_ = false;
    uint nextId_ = 1;
};

// Serves fixed answers by path over HTTP/1.0 on 127.0.0.1; unknown paths get 404.
class LocalHttpServer final : public QObject {
    Q_OBJECT

public:
    LocalHttpServer();
    bool isListening() const { return server_.isListening(); }
    QUrl url(const QString& path = {}) const;
    void serve(const QString& path, const QByteArray& body, int status = 200);
    int requestCount() const { return requests_; }
    // Called when a request arrived, before it is answered.
    std::function<void(const QString& path)> onRequest;

private:
    void answer(QTcpSocket* socket);
    QTcpServer server_;
    QHash<QString, std::pair<int, QByteArray>> answers_;
    int requests_ = 0;
};

// A session bus is there (the tests run under dbus-run-session).
bool haveSessionBus();

// A dbus-daemon of this test process alone. Fakes that must own a fixed well-known name (a daemon's own
// name) use it: on the bus that the tests of every process share, two of them would claim it at once.
class PrivateBus final {
public:
    PrivateBus();
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool isRunning() const { return !address_.isEmpty(); }
    QString address() const { return address_; }
    // A connection of that name to this bus; disconnected again when the bus goes.
    QDBusConnection connect(const QString& connectionName);

private:
    QProcess daemon_;
    QString address_;
    QStringList connections_;
};

} // namespace kelvaro::test
