#include "platform/desktop/SingleInstance.h"

#include "platform/foundation/Log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QVariantMap>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr char kClassName[] = "SingleInstance";
const QString kApplicationInterface = QStringLiteral("org.freedesktop.Application");
// One line each way on the socket: "raise", a space and the activation token when there is one.
constexpr char kRequest[] = "raise";
constexpr char kAnswer[] = "ok\n";

// A token is printable ASCII without spaces (the desktops' are); anything else is not passed on.
QString checkedToken(const QByteArray& token)
{
    for (const char c : token)
        if (c <= ' ' || c > '~')
            return QString();
    return QString::fromLatin1(token.left(256));
}

// The object path of a bus name, as desktops derive it: "com.tarnwell.Kelvaro" → "/com/tarnwell/Kelvaro".
QString objectPathOf(const QString& name)
{
    return QLatin1Char('/') + QString(name).replace(QLatin1Char('.'), QLatin1Char('/'));
}

QString errorText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

// The running copy on the session bus: Activate raises its windows, with the activation token of the
// platform data ("activation-token", or the X11 "desktop-startup-id").
class ApplicationObject final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationObject(SingleInstance::Raise raise)
        : raise_(std::move(raise))
    {
    }

public Q_SLOTS:
    void Activate(const QVariantMap& platformData)
    {
        QString token = platformData.value(QStringLiteral("activation-token")).toString();
        if (token.isEmpty())
            token = platformData.value(QStringLiteral("desktop-startup-id")).toString();
        if (raise_)
            raise_(checkedToken(token.toLatin1()));
    }

private:
    SingleInstance::Raise raise_;
};

SessionSingleInstance::SessionSingleInstance(QString runtimeFolder, QDBusConnection bus,
                                             std::chrono::milliseconds answerTimeout)
    : folder_(std::move(runtimeFolder))
    , bus_(std::move(bus))
    , answerTimeout_(answerTimeout)
{
}

SessionSingleInstance::~SessionSingleInstance()
{
    if (busObject_) {
        bus_.unregisterService(busName_);
        bus_.unregisterObject(busPath_);
    }
    // The socket goes before the lock: a start that takes the lock finds no socket of ours.
    server_.reset();
    if (lockFd_ >= 0)
        ::close(lockFd_);
}

SingleInstance::Claim SessionSingleInstance::claim(const QString& name, Raise raise, const QString& activationToken)
{
    raise_ = std::move(raise);
    if (folder_.isEmpty()) {
        log(kClassName, QStringLiteral("no runtime folder: cannot tell whether %1 runs already").arg(name));
        ownBusName(name);
        return Claim::Running;
    }
    const QString base = folder_ + QLatin1Char('/') + name;
    lockFd_ = ::open(QFile::encodeName(base + QStringLiteral(".lock")).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0) {
        log(kClassName, QStringLiteral("cannot open %1.lock (%2): cannot tell whether %3 runs already")
                            .arg(base, errorText(), name));
        ownBusName(name);
        return Claim::Running;
    }
    const auto takeLock = [this, &name, &base] {
        // Held by the open descriptor: the kernel lets it go when the process ends, however it ends.
        if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0)
            return false;
        runningProcess_ = ::getpid();
        const QByteArray pid = QByteArray::number(runningProcess_) + '\n';
        if (::ftruncate(lockFd_, 0) != 0 || ::pwrite(lockFd_, pid.constData(), size_t(pid.size()), 0) != pid.size())
            log(kClassName, QStringLiteral("cannot write %1.lock: %2").arg(base, errorText()));
        if (!listen(base + QStringLiteral(".socket")))
            log(kClassName, QStringLiteral("cannot listen on %1.socket (%2): a later start of %3 cannot reach this one")
                                .arg(base, server_->errorString(), name));
        ownBusName(name);
        return true;
    };
    if (takeLock())
        return Claim::Running;

    char text[32] = {};
    if (::pread(lockFd_, text, sizeof text - 1, 0) > 0)
        runningProcess_ = QByteArray(text).trimmed().toLongLong();
    if (askThroughBus(name, activationToken))
        return Claim::HandedOver;
    const QString socketPath = base + QStringLiteral(".socket");
    const QDeadlineTimer deadline(answerTimeout_);
    do {
        if (askThroughSocket(socketPath, activationToken, deadline))
            return Claim::HandedOver;
        // The running copy may just have ended; or it holds the lock and is about to listen.
        if (takeLock())
            return Claim::Running;
        QThread::msleep(50);
    } while (!deadline.hasExpired());
    ::close(lockFd_);
    lockFd_ = -1;
    return Claim::Unanswered;
}

bool SessionSingleInstance::listen(const QString& socketPath)
{
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // Left by a copy that did not end cleanly; only the lock's holder gets here.
    QLocalServer::removeServer(socketPath);
    if (!server_->listen(socketPath))
        return false;
    QObject::connect(server_.get(), &QLocalServer::newConnection, server_.get(), [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                if (!socket->canReadLine())
                    return;
                const QByteArray line = socket->readLine(320).chopped(1);
                // An earlier version's "raise" carries no token.
                const bool asked = line == kRequest || line.startsWith(QByteArray(kRequest) + ' ');
                if (asked)
                    socket->write(kAnswer);
                socket->disconnectFromServer();
                if (asked && raise_)
                    raise_(checkedToken(line.mid(sizeof kRequest)));
            });
        }
    });
    return true;
}

void SessionSingleInstance::ownBusName(const QString& name)
{
    if (!bus_.isConnected() || !bus_.interface())
        return;
    auto object = std::make_unique<ApplicationObject>([this](const QString& token) {
        if (raise_)
            raise_(token);
    });
    const QString path = objectPathOf(name);
    if (!bus_.registerObject(path, object.get(), QDBusConnection::ExportAllSlots)) {
        log(kClassName, QStringLiteral("cannot register %1 on the session bus").arg(path));
        return;
    }
    if (!bus_.registerService(name)) {
        bus_.unregisterObject(path);
        log(kClassName, QStringLiteral("the session-bus name %1 belongs to another process; this one is reached "
                                       "through its runtime folder")
                            .arg(name));
        return;
    }
    busObject_ = std::move(object);
    busName_ = name;
    busPath_ = path;
}

bool SessionSingleInstance::askThroughBus(const QString& name, const QString& activationToken)
{
    // Only the lock's holder counts: another session's copy may own the name on a bus shared with this one.
    if (runningProcess_ <= 0 || !bus_.isConnected() || !bus_.interface())
        return false;
    const auto owner = bus_.interface()->servicePid(name);
    if (!owner.isValid() || qint64(owner.value()) != runningProcess_)
        return false;
    auto call = QDBusMessage::createMethodCall(name, objectPathOf(name), kApplicationInterface, QStringLiteral("Activate"));
    QVariantMap platformData;
    if (!activationToken.isEmpty()) {
        platformData.insert(QStringLiteral("activation-token"), activationToken);
        platformData.insert(QStringLiteral("desktop-startup-id"), activationToken);
    }
    call << platformData;
    const QDBusMessage reply = bus_.call(call, QDBus::Block, int(answerTimeout_.count()));
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool SessionSingleInstance::askThroughSocket(const QString& socketPath, const QString& activationToken,
                                             const QDeadlineTimer& deadline)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return false;
    QByteArray request = kRequest;
    if (const QString token = checkedToken(activationToken.toLatin1()); !token.isEmpty())
        request += ' ' + token.toLatin1();
    socket.write(request + '\n');
    if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
        return false;
    while (!socket.canReadLine() && socket.waitForReadyRead(int(deadline.remainingTime()))) {
    }
    return socket.canReadLine() && socket.readLine(64) == kAnswer;
}

} // namespace platform

#include "SingleInstance.moc"
