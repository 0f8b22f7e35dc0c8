#include "platform/net/AvahiServiceDiscovery.h"

#include "platform/foundation/Log.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <utility>

namespace platform {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Avahi");
const QString kServerInterface = QStringLiteral("org.freedesktop.Avahi.Server");
const QString kBrowserInterface = QStringLiteral("org.freedesktop.Avahi.ServiceBrowser");
constexpr int kUnspecified = -1; // AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC
// Signals that arrive before ServiceBrowserNew answers are kept until the browser's path is known; a flood
// beyond this is not ours to keep.
constexpr qsizetype kMaxEarlySignals = 4096;

DiscoveryError unavailable(const QString& detail)
{
    return {DiscoveryError::Kind::Unavailable, detail};
}

QDBusMessage serverCall(const QString& method)
{
    return QDBusMessage::createMethodCall(kService, QStringLiteral("/"), kServerInterface, method);
}

// A search: the daemon's browser object, its signals filtered by its path, freed when we are done.
class AvahiBrowse final : public QObject, public DiscoveryOperation {
    Q_OBJECT

public:
    AvahiBrowse(QDBusConnection bus, const QString& type, const QString& domain, ServiceBrowseListener* listener)
        : bus_(std::move(bus))
        , listener_(listener)
    {
        if (!bus_.isConnected()) {
            failLater(unavailable(QStringLiteral("no connection to the bus")));
            return;
        }
        // Subscribed before the browser exists: the daemon may announce instances before its reply.
        for (const char* member : {"ItemNew", "ItemRemove", "AllForNow", "Failure"})
            bus_.connect(kService, QString(), kBrowserInterface, QString::fromLatin1(member), this, SLOT(onSignal(QDBusMessage)));
        ownerWatcher_ = new QDBusServiceWatcher(kService, bus_, QDBusServiceWatcher::WatchForUnregistration, this);
        connect(ownerWatcher_, &QDBusServiceWatcher::serviceUnregistered, this,
                [this] { fail(unavailable(QStringLiteral("the avahi daemon went away"))); });

        QDBusMessage call = serverCall(QStringLiteral("ServiceBrowserNew"));
        call << kUnspecified << kUnspecified << NetService::relativeName(type) << NetService::relativeName(domain) << 0u;
        pending_ = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
        connect(pending_, &QDBusPendingCallWatcher::finished, this, &AvahiBrowse::onCreated);
    }

    ~AvahiBrowse() override
    {
        for (const char* member : {"ItemNew", "ItemRemove", "AllForNow", "Failure"})
            bus_.disconnect(kService, QString(), kBrowserInterface, QString::fromLatin1(member), this, SLOT(onSignal(QDBusMessage)));
        if (!path_.isEmpty()) {
            freeBrowser(bus_, path_);
        } else if (pending_) {
            // The daemon makes the browser anyway; free it once its path is known.
            pending_->setParent(nullptr);
            pending_->disconnect(this);
            QDBusPendingCallWatcher* watcher = pending_;
            QDBusConnection bus = bus_;
            QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [bus, watcher] {
                const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
                if (reply.isValid())
                    freeBrowser(bus, reply.value().path());
                watcher->deleteLater();
            });
        }
    }

public Q_SLOTS:
    void onSignal(const QDBusMessage& message)
    {
        if (done_)
            return;
        if (path_.isEmpty()) {
            if (early_.size() < kMaxEarlySignals)
                early_.append(message);
            return;
        }
        if (message.path() == path_)
            handle(message);
    }

private:
    static void freeBrowser(QDBusConnection bus, const QString& path)
    {
        bus.asyncCall(QDBusMessage::createMethodCall(kService, path, kBrowserInterface, QStringLiteral("Free")));
    }

    void onCreated()
    {
        const QDBusPendingReply<QDBusObjectPath> reply = *pending_;
        pending_->deleteLater();
        pending_ = nullptr;
        if (reply.isError()) {
            fail(AvahiServiceDiscovery::errorFromDBus(reply.error().name(), reply.error().message()));
            return;
        }
        path_ = reply.value().path();
        const QList<QDBusMessage> early = std::exchange(early_, {});
        for (const QDBusMessage& message : early) {
            if (done_)
                return;
            if (message.path() == path_)
                handle(message);
        }
    }

    void handle(const QDBusMessage& message)
    {
        const QVariantList args = message.arguments();
        const QString member = message.member();
        if (member == QLatin1String("AllForNow")) {
            listener_->browseAllForNow();
        } else if (member == QLatin1String("Failure")) {
            fail(AvahiServiceDiscovery::errorFromFailureText(args.value(0).toString()));
        } else if (args.size() >= 5) {
            ServiceInstance instance;
            instance.interfaceIndex = args.at(0).toInt();
            instance.protocol = args.at(1).toInt();
            instance.service = NetService(args.at(4).toString(), args.at(3).toString(), args.at(2).toString());
            if (member == QLatin1String("ItemNew"))
                listener_->browseAddedInstance(instance);
            else
                listener_->browseRemovedInstance(instance);
        } else {
            log("AvahiServiceDiscovery", QStringLiteral("ignored a %1 signal with %2 arguments").arg(member).arg(args.size()));
        }
    }

    void fail(const DiscoveryError& error)
    {
        if (std::exchange(done_, true))
            return;
        listener_->browseFailed(error);
    }

    void failLater(const DiscoveryError& error)
    {
        QTimer::singleShot(0, this, [this, error] { fail(error); });
    }

    QDBusConnection bus_;
    ServiceBrowseListener* listener_;
    QDBusServiceWatcher* ownerWatcher_ = nullptr;
    QDBusPendingCallWatcher* pending_ = nullptr;
    QString path_;
    QList<QDBusMessage> early_;
    bool done_ = false;
};

class AvahiResolve final : public QObject, public DiscoveryOperation {
public:
    AvahiResolve(QDBusConnection bus, const NetService& service, ServiceDiscovery::ResolveCallback done)
        : done_(std::move(done))
    {
        if (!bus.isConnected()) {
            QTimer::singleShot(0, this, [this] { finish(unavailable(QStringLiteral("no connection to the bus"))); });
            return;
        }
        QDBusMessage call = serverCall(QStringLiteral("ResolveService"));
        call << kUnspecified << kUnspecified << service.name() << NetService::relativeName(service.type())
             << NetService::relativeName(service.domain()) << kUnspecified << 0u;
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
            watcher->deleteLater();
            const QDBusMessage reply = watcher->reply();
            if (reply.type() == QDBusMessage::ErrorMessage) {
                finish(AvahiServiceDiscovery::errorFromDBus(reply.errorName(), reply.errorMessage()));
                return;
            }
            // (interface, protocol, name, type, domain, host, aprotocol, address, port, txt, flags)
            const QVariantList args = reply.arguments();
            if (args.size() < 9) {
                finish(DiscoveryError{DiscoveryError::Kind::Unknown, QStringLiteral("short ResolveService reply")});
                return;
            }
            ResolvedService resolved;
            resolved.interfaceIndex = args.at(0).toInt();
            resolved.hostName = args.at(5).toString();
            resolved.address = args.at(7).toString();
            resolved.port = quint16(args.at(8).toUInt());
            finish(resolved);
        });
    }

private:
    void finish(const ServiceDiscovery::ResolveResult& result)
    {
        if (auto done = std::exchange(done_, {}))
            done(result);
    }

    ServiceDiscovery::ResolveCallback done_;
};

} // namespace

AvahiServiceDiscovery::AvahiServiceDiscovery(BusProvider bus)
    : bus_(bus ? std::move(bus) : BusProvider([] { return QDBusConnection::systemBus(); }))
{
}

std::unique_ptr<DiscoveryOperation> AvahiServiceDiscovery::browse(const QString& type, const QString& domain,
                                                                  ServiceBrowseListener* listener)
{
    return std::make_unique<AvahiBrowse>(bus_(), type, domain, listener);
}

std::unique_ptr<DiscoveryOperation> AvahiServiceDiscovery::resolve(const NetService& service, ResolveCallback done)
{
    return std::make_unique<AvahiResolve>(bus_(), service, std::move(done));
}

std::optional<QString> AvahiServiceDiscovery::hostName(int timeoutMs) const
{
    QDBusConnection bus = bus_();
    if (!bus.isConnected())
        return std::nullopt;
    const QDBusMessage reply = bus.call(serverCall(QStringLiteral("GetHostName")), QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return std::nullopt;
    const QString name = reply.arguments().constFirst().toString();
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

DiscoveryError AvahiServiceDiscovery::errorFromDBus(const QString& errorName, const QString& message)
{
    using Kind = DiscoveryError::Kind;
    struct Row {
        const char* name;
        Kind kind;
    };
    static const Row rows[] = {
        {"org.freedesktop.DBus.Error.ServiceUnknown", Kind::Unavailable},
        {"org.freedesktop.DBus.Error.NameHasNoOwner", Kind::Unavailable},
        {"org.freedesktop.DBus.Error.NoReply", Kind::Unavailable},
        {"org.freedesktop.DBus.Error.NoServer", Kind::Unavailable},
        {"org.freedesktop.DBus.Error.Disconnected", Kind::Unavailable},
        {"org.freedesktop.DBus.Error.AccessDenied", Kind::Denied},
        {"org.freedesktop.DBus.Error.InvalidArgs", Kind::BadArgument},
        {"org.freedesktop.Avahi.NoDaemonError", Kind::Unavailable},
        {"org.freedesktop.Avahi.DisconnectedError", Kind::Unavailable},
        {"org.freedesktop.Avahi.AccessDeniedError", Kind::Denied},
        {"org.freedesktop.Avahi.NotPermittedError", Kind::Denied},
        {"org.freedesktop.Avahi.TimeoutError", Kind::Timeout},
        {"org.freedesktop.Avahi.NotFoundError", Kind::NotFound},
        {"org.freedesktop.Avahi.CollisionError", Kind::Collision},
    };
    const QString detail = message.isEmpty() ? errorName : errorName + QStringLiteral(": ") + message;
    for (const Row& row : rows) {
        if (errorName == QLatin1String(row.name))
            return {row.kind, detail};
    }
    if (errorName.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn")))
        return {Kind::Unavailable, detail};
    // InvalidServiceTypeError, InvalidDomainNameError, InvalidFlagsError, InvalidArgumentError, ...
    if (errorName.startsWith(QLatin1String("org.freedesktop.Avahi.Invalid")))
        return {Kind::BadArgument, detail};
    return {Kind::Unknown, detail};
}

DiscoveryError AvahiServiceDiscovery::errorFromFailureText(const QString& text)
{
    using Kind = DiscoveryError::Kind;
    // The daemon's Failure signal carries avahi_strerror() text, not an error name.
    if (text == QLatin1String("Timeout reached"))
        return {Kind::Timeout, text};
    if (text == QLatin1String("Not found"))
        return {Kind::NotFound, text};
    if (text == QLatin1String("Local name collision"))
        return {Kind::Collision, text};
    if (text == QLatin1String("Daemon not running") || text == QLatin1String("Daemon connection failed"))
        return {Kind::Unavailable, text};
    if (text == QLatin1String("Access denied") || text == QLatin1String("Operation not permitted"))
        return {Kind::Denied, text};
    return {Kind::Unknown, text};
}

} // namespace platform

#include "AvahiServiceDiscovery.moc"
