#include "platform/foundation/DistributedNotificationCenter.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QObject>
#include <QThread>

#include <atomic>
#include <map>
#include <mutex>
#include <optional>

namespace platform {
namespace {

const QString kPath = QStringLiteral("/com/tarnwell/kelvaro/Notifications");
const QString kInterface = QStringLiteral("com.tarnwell.kelvaro.DistributedNotifications");
const QString kMember = QStringLiteral("Notification");
const char* const kClassName = "DistributedNotificationCenter";
// The bus itself allows 32 levels of containers; anything deeper is not ours.
constexpr int kMaxDepth = 32;

// ---- user info to D-Bus

std::optional<QVariant> toDBus(const QVariant& value, int depth)
{
    if (depth > kMaxDepth)
        return std::nullopt;
    using values::Kind;
    switch (values::kindOf(value)) {
    case Kind::Bool:
        return QVariant(*values::toBool(value));
    case Kind::Signed:
        return QVariant::fromValue<qlonglong>(*values::toSigned(value));
    case Kind::Unsigned:
        return QVariant::fromValue<qulonglong>(*values::toUnsigned(value));
    case Kind::Real:
        return QVariant(*values::toReal(value));
    case Kind::String:
        return QVariant(*values::toString(value));
    case Kind::Data:
        return QVariant(*values::toData(value));
    case Kind::Date: {
        QDBusArgument out;
        out.beginStructure();
        out << qlonglong(values::toDate(value)->toMSecsSinceEpoch());
        out.endStructure();
        return QVariant::fromValue(out);
    }
    // Children are converted before a container is opened: a QDBusArgument dropped with an open
    // container leaks it.
    case Kind::Array: {
        QVariantList converted;
        const QVariantList list = *values::toArray(value);
        for (const QVariant& element : list) {
            auto child = toDBus(element, depth + 1);
            if (!child)
                return std::nullopt;
            converted.append(*child);
        }
        QDBusArgument out;
        out.beginArray(QMetaType::fromType<QDBusVariant>());
        for (const QVariant& child : converted)
            out << QDBusVariant(child);
        out.endArray();
        return QVariant::fromValue(out);
    }
    case Kind::Dictionary: {
        QVariantMap converted;
        const QVariantMap map = *values::toDictionary(value);
        for (auto it = map.begin(); it != map.end(); ++it) {
            auto child = toDBus(it.value(), depth + 1);
            if (!child)
                return std::nullopt;
            converted.insert(it.key(), *child);
        }
        QDBusArgument out;
        out.beginMap(QMetaType::fromType<QString>(), QMetaType::fromType<QDBusVariant>());
        for (auto it = converted.begin(); it != converted.end(); ++it) {
            out.beginMapEntry();
            out << it.key() << QDBusVariant(it.value());
            out.endMapEntry();
        }
        out.endMap();
        return QVariant::fromValue(out);
    }
    case Kind::Invalid:
    case Kind::Object:
        break;
    }
    return std::nullopt;
}

// ---- D-Bus to user info; anything we would not have sent is refused

std::optional<QVariant> fromDBus(const QVariant& value, int depth);

std::optional<QVariant> fromArgument(const QDBusArgument& in, int depth)
{
    switch (in.currentType()) {
    case QDBusArgument::BasicType:
    case QDBusArgument::VariantType:
        return fromDBus(in.asVariant(), depth);
    // Containers are read to their end even after a bad element: a QDBusArgument left with an open
    // container leaks it.
    case QDBusArgument::ArrayType: {
        QVariantList list;
        bool good = true;
        in.beginArray();
        while (!in.atEnd()) {
            auto element = fromDBus(in.asVariant(), depth + 1);
            good = good && element;
            if (good)
                list.append(*element);
        }
        in.endArray();
        return good ? std::optional<QVariant>(list) : std::nullopt;
    }
    case QDBusArgument::MapType: {
        QVariantMap map;
        bool good = true;
        in.beginMap();
        while (!in.atEnd()) {
            in.beginMapEntry();
            const QVariant key = in.asVariant();
            auto element = fromDBus(in.asVariant(), depth + 1);
            in.endMapEntry();
            good = good && element && key.metaType() == QMetaType::fromType<QString>();
            if (good)
                map.insert(key.toString(), *element);
        }
        in.endMap();
        return good ? std::optional<QVariant>(map) : std::nullopt;
    }
    case QDBusArgument::StructureType: {
        if (in.currentSignature() != QLatin1String("(x)"))
            return std::nullopt;
        qlonglong milliseconds = 0;
        in.beginStructure();
        in >> milliseconds;
        in.endStructure();
        return values::fromDate(QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC));
    }
    case QDBusArgument::MapEntryType:
    case QDBusArgument::UnknownType:
        break;
    }
    return std::nullopt;
}

std::optional<QVariant> fromDBus(const QVariant& value, int depth)
{
    if (depth > kMaxDepth)
        return std::nullopt;
    const QMetaType type = value.metaType();
    if (type == QMetaType::fromType<QDBusVariant>())
        return fromDBus(value.value<QDBusVariant>().variant(), depth);
    if (type == QMetaType::fromType<QDBusArgument>())
        return fromArgument(value.value<QDBusArgument>(), depth);
    switch (type.id()) {
    case QMetaType::Bool:
        return values::fromBool(value.toBool());
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
        return values::fromUnsigned(value.toULongLong());
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::LongLong:
        return values::fromSigned(value.toLongLong());
    case QMetaType::Double:
        return values::fromReal(value.toDouble());
    case QMetaType::QString:
        return values::fromString(value.toString());
    case QMetaType::QByteArray:
        return values::fromData(value.toByteArray());
    case QMetaType::QStringList: {
        QVariantList list;
        for (const QString& text : value.toStringList())
            list.append(text);
        return QVariant(list);
    }
    default:
        break;
    }
    return std::nullopt;
}

struct Observer {
    quint64 id = 0;
    QString name;
    QString object;
    DistributedNotificationCenter::Callback callback;
    std::atomic<bool> removed{false};
};

} // namespace

// Lives on the thread that registered its observer, so the bus delivers the signal there.
class DistributedNotificationReceiver : public QObject {
    Q_OBJECT
public:
    DistributedNotificationReceiver(std::shared_ptr<Observer> observer, std::shared_ptr<std::atomic<bool>> logged)
        : observer_(std::move(observer))
        , malformedLogged_(std::move(logged))
    {
    }

public Q_SLOTS:
    void receive(const QDBusMessage& message)
    {
        if (observer_->removed)
            return;
        const QVariantList args = message.arguments();
        std::optional<QVariant> userInfo;
        if (args.size() == 3 && args[0].metaType() == QMetaType::fromType<QString>()
            && args[1].metaType() == QMetaType::fromType<QString>())
            userInfo = fromDBus(args[2], 0);
        if (!userInfo || userInfo->metaType() != QMetaType::fromType<QVariantMap>()) {
            // Anyone on the bus can send this signal; a centre says so once, not for every bad message.
            if (!malformedLogged_->exchange(true))
                log(kClassName, QStringLiteral("dropped a malformed notification from %1").arg(message.service()));
            return;
        }
        DistributedNotification notification;
        notification.name = args[0].toString();
        if (!args[1].toString().isEmpty())
            notification.object = args[1].toString();
        notification.userInfo = userInfo->toMap();
        if (!observer_->name.isEmpty() && observer_->name != notification.name)
            return;
        if (!observer_->object.isNull() && observer_->object != notification.object)
            return;
        observer_->callback(notification);
    }

private:
    std::shared_ptr<Observer> observer_;
    std::shared_ptr<std::atomic<bool>> malformedLogged_;
};

struct DistributedNotificationCenter::Private {
    QString connectionName;
    QDBusConnection connection{QString()};
    std::mutex mutex;
    std::map<quint64, std::pair<std::shared_ptr<Observer>, DistributedNotificationReceiver*>> observers;
    quint64 nextId = 1;
    std::shared_ptr<std::atomic<bool>> malformedLogged = std::make_shared<std::atomic<bool>>(false);

    QStringList argumentMatch(const Observer& observer) const
    {
        return observer.name.isEmpty() ? QStringList() : QStringList{observer.name};
    }

    void drop(const std::shared_ptr<Observer>& observer, DistributedNotificationReceiver* receiver)
    {
        observer->removed = true;
        if (!receiver)
            return;
        connection.disconnect(QString(), kPath, kInterface, kMember, argumentMatch(*observer), QString(),
                              receiver, SLOT(receive(QDBusMessage)));
        // Deleted on its own thread, unless that thread is gone (then nothing can be delivering to it).
        QThread* home = receiver->thread();
        if (!home || home == QThread::currentThread() || home->isFinished())
            delete receiver;
        else
            receiver->deleteLater();
    }
};

DistributedNotificationCenter& DistributedNotificationCenter::defaultCenter()
{
    // Never destroyed: the bus connection must not be torn down after the application object.
    static DistributedNotificationCenter* center = new DistributedNotificationCenter;
    return *center;
}

DistributedNotificationCenter::DistributedNotificationCenter(const QString& busAddress)
    : d_(std::make_unique<Private>())
{
    static std::atomic<int> counter{0};
    d_->connectionName = QStringLiteral("kelvaro-distributed-notifications-%1").arg(++counter);
    d_->connection = busAddress.isEmpty()
        ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, d_->connectionName)
        : QDBusConnection::connectToBus(busAddress, d_->connectionName);
    if (!d_->connection.isConnected())
        log(kClassName, QStringLiteral("no session bus; distributed notifications are dropped"));
}

DistributedNotificationCenter::~DistributedNotificationCenter()
{
    decltype(d_->observers) observers;
    {
        std::lock_guard lock(d_->mutex);
        observers.swap(d_->observers);
    }
    for (auto& [id, entry] : observers)
        d_->drop(entry.first, entry.second);
    QDBusConnection::disconnectFromBus(d_->connectionName);
}

bool DistributedNotificationCenter::isConnected() const
{
    return d_->connection.isConnected();
}

ObserverToken DistributedNotificationCenter::addObserver(const QString& name, const QString& object,
                                                         Callback callback)
{
    if (!callback || !d_->connection.isConnected())
        return {};
    auto observer = std::make_shared<Observer>();
    observer->name = name;
    observer->object = object;
    observer->callback = std::move(callback);
    auto* receiver = new DistributedNotificationReceiver(observer, d_->malformedLogged);
    if (!d_->connection.connect(QString(), kPath, kInterface, kMember, d_->argumentMatch(*observer), QString(),
                                receiver, SLOT(receive(QDBusMessage)))) {
        log(kClassName, QStringLiteral("cannot observe '%1': %2").arg(name, d_->connection.lastError().message()));
        delete receiver;
        return {};
    }
    // The match rule goes to the bus without waiting for it; a round trip on the same connection makes sure
    // it is in force before the caller relies on it, e.g. on a post another process makes right afterwards.
    d_->connection.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                       QStringLiteral("/org/freedesktop/DBus"),
                                                       QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")),
                        QDBus::Block, 2000);
    std::lock_guard lock(d_->mutex);
    observer->id = d_->nextId++;
    d_->observers.emplace(observer->id, std::make_pair(observer, receiver));
    return {observer->id};
}

void DistributedNotificationCenter::removeObserver(ObserverToken token)
{
    std::shared_ptr<Observer> observer;
    DistributedNotificationReceiver* receiver = nullptr;
    {
        std::lock_guard lock(d_->mutex);
        auto it = d_->observers.find(token.id);
        if (it == d_->observers.end())
            return;
        std::tie(observer, receiver) = it->second;
        d_->observers.erase(it);
    }
    d_->drop(observer, receiver);
}

bool DistributedNotificationCenter::post(const QString& name, const QString& object, const QVariantMap& userInfo)
{
    if (!d_->connection.isConnected())
        return false;
    const auto payload = toDBus(QVariant(userInfo), 0);
    if (!payload) {
        log(kClassName, QStringLiteral("user info of '%1' holds a value that cannot be sent; notification dropped")
                            .arg(name));
        return false;
    }
    QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, kMember);
    signal << name << object << *payload; // a null object goes as "", which reads back as null
    if (!d_->connection.send(signal)) {
        log(kClassName, QStringLiteral("cannot send '%1': %2").arg(name, d_->connection.lastError().message()));
        return false;
    }
    return true;
}

} // namespace platform

#include "DistributedNotificationCenter.moc"
