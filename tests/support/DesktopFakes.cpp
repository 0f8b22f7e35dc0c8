#include "tests/support/DesktopFakes.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QTcpSocket>

#include <atomic>

namespace kelvaro::test {

int ScriptedAlertPresenter::runModal(const platform::Alert& alert)
{
    shown.append(alert);
    return answers.isEmpty() ? 0 : answers.takeFirst();
}

std::optional<QString> ScriptedOpenPanel::runModal(const platform::OpenPanelOptions& options)
{
    shown.append(options);
    return answers.isEmpty() ? std::nullopt : answers.takeFirst();
}

bool FakeWorkspace::openURL(const QUrl& url)
{
    openedURLs.append(url);
    return succeed;
}

bool FakeWorkspace::openFile(const QString& path)
{
    openedFiles.append(path);
    return succeed;
}

bool FakeWorkspace::launchApplication(const QString& name, LaunchFailure* failure)
{
    launched.append(name);
    if (onLaunch)
        onLaunch();
    if (!succeed && failure)
        *failure = {{}, {QStringLiteral("/opt/kelvaro/bin"), QStringLiteral("/usr/bin")}};
    return succeed;
}

bool FakeWorkspace::launchApplicationAtPath(const QString& path)
{
    launched.append(path);
    return succeed;
}

ScopedDesktopFakes::ScopedDesktopFakes()
{
    platform::AlertPresenter::setShared(alerts);
    platform::OpenPanel::setShared(panel);
    platform::SavePanel::setShared(savePanel);
    platform::Workspace::setShared(workspace);
}

ScopedDesktopFakes::~ScopedDesktopFakes()
{
    platform::AlertPresenter::setShared(nullptr);
    platform::OpenPanel::setShared(nullptr);
    platform::SavePanel::setShared(nullptr);
    platform::Workspace::setShared(nullptr);
}

namespace {
std::atomic<int> g_services{0};
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
} // namespace

bool haveSessionBus()
{
    return QDBusConnection::sessionBus().isConnected();
}

FakeNotificationService::FakeNotificationService()
{
    const int n = ++g_services;
    connectionName_ = QStringLiteral("fake-notifications-%1").arg(n);
    // Tests of several processes share one bus: the name carries our process ID.
    serviceName_ = QStringLiteral("org.freedesktop.Notifications.Fake%1_%2").arg(QCoreApplication::applicationPid()).arg(n);
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_);
    if (!bus.isConnected())
        return;
    registered_ = bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots) && bus.registerService(serviceName_);
}

FakeNotificationService::~FakeNotificationService()
{
    QDBusConnection bus(connectionName_);
    bus.unregisterService(serviceName_);
    bus.unregisterObject(kPath);
    QDBusConnection::disconnectFromBus(connectionName_);
}

uint FakeNotificationService::Notify(const QString& appName, uint replacesId, const QString&, const QString& summary,
                                     const QString& body, const QStringList& actions, const QVariantMap&, int)
{
    NotifyCall record{appName, replacesId, summary, body, actions, replacesId != 0 ? replacesId : nextId_++};
    notifies.append(record);
    return record.id;
}

void FakeNotificationService::CloseNotification(uint id)
{
    closed.append(id);
}

QStringList FakeNotificationService::GetCapabilities()
{
    return capabilities;
}

void FakeNotificationService::emitActionInvoked(uint id, const QString& key)
{
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("ActionInvoked"));
    signal << id << key;
    QDBusConnection(connectionName_).send(signal);
}

void FakeNotificationService::emitNotificationClosed(uint id, uint reason)
{
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("NotificationClosed"));
    signal << id << reason;
    QDBusConnection(connectionName_).send(signal);
}

PrivateBus::PrivateBus()
{
    // The address is the first line the daemon prints; it listens on a fresh socket in /tmp.
    daemon_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--nopidfile"),
                                                 QStringLiteral("--print-address=1")});
    // Guards only: a loaded machine may take seconds to start the daemon.
    if (!daemon_.waitForStarted(30'000))
        return;
    QByteArray out;
    while (!out.contains('\n') && daemon_.waitForReadyRead(30'000))
        out += daemon_.readAllStandardOutput();
    const QString line = QString::fromUtf8(out.left(out.indexOf('\n'))).trimmed();
    if (line.startsWith(QStringLiteral("unix:")))
        address_ = line;
}

PrivateBus::~PrivateBus()
{
    for (const QString& name : std::as_const(connections_))
        QDBusConnection::disconnectFromBus(name);
    if (daemon_.state() != QProcess::NotRunning) {
        daemon_.terminate();
        if (!daemon_.waitForFinished(5000)) {
            daemon_.kill();
            daemon_.waitForFinished(5000);
        }
    }
}

QDBusConnection PrivateBus::connect(const QString& connectionName)
{
    connections_.append(connectionName);
    return QDBusConnection::connectToBus(address_, connectionName);
}

LocalHttpServer::LocalHttpServer()
{
    server_.listen(QHostAddress::LocalHost, 0);
    connect(&server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

QUrl LocalHttpServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path));
}

void LocalHttpServer::serve(const QString& path, const QByteArray& body, int status)
{
    answers_.insert(path, {status, body});
}

void LocalHttpServer::answer(QTcpSocket* socket)
{
    if (socket->property("answered").toBool())
        return;
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    if (!request.contains("\r\n\r\n"))
        return;
    socket->setProperty("answered", true);
    ++requests_;
    const QList<QByteArray> words = request.left(request.indexOf("\r\n")).split(' ');
    const QString path = words.size() >= 2 ? QString::fromUtf8(words.at(1)) : QString();
    if (onRequest)
        onRequest(path);
    const auto it = answers_.constFind(path);
    const int status = it == answers_.constEnd() ? 404 : it->first;
    const QByteArray body = it == answers_.constEnd() ? QByteArray("not found") : it->second;
    QByteArray reply = "HTTP/1.0 " + QByteArray::number(status) + " X\r\nContent-Type: application/xml\r\nContent-Length: "
                       + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    socket->write(reply);
    socket->disconnectFromHost();
}

} // namespace kelvaro::test
