#include "platform/desktop/UserNotificationCenter.h"

#include "platform/foundation/Log.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

#include <atomic>

namespace platform {
namespace {

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const char* const kClassName = "UserNotificationCenter";
// The action key the notification protocol reserves for a click on the notification itself.
const QString kDefaultAction = QStringLiteral("default");
const QString kActionButton = QStringLiteral("action");

std::atomic<int> g_connectionCount{0};

// The body markup of the notification protocol is a small XML subset: these three keep a sensor's name
// ("CPU <b>die</b>", "R&D") as its text.
QString escapedMarkup(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('&'))
            escaped += QStringLiteral("&amp;");
        else if (c == QLatin1Char('<'))
            escaped += QStringLiteral("&lt;");
        else if (c == QLatin1Char('>'))
            escaped += QStringLiteral("&gt;");
        else
            escaped += c;
    }
    return escaped;
}
UserNotificationCenter* g_override = nullptr;

} // namespace

void UserNotificationCenter::setDefaultCenter(UserNotificationCenter* center)
{
    g_override = center;
}

UserNotificationCenter* UserNotificationCenter::defaultCenter()
{
    if (g_override)
        return g_override;
    static UserNotificationCenter* center = [] {
        auto* made = new UserNotificationCenter(QCoreApplication::applicationName(), QString::fromLatin1(kFreedesktopService),
                                                QCoreApplication::instance());
        if (!made->isConnected()) {
            delete made;
            return static_cast<UserNotificationCenter*>(nullptr);
        }
        return made;
    }();
    return center;
}

UserNotificationCenter::UserNotificationCenter(const QString& applicationName, const QString& service, QObject* parent)
    : QObject(parent)
    , applicationName_(applicationName)
    , service_(service)
    , connectionName_(QStringLiteral("kelvaro-user-notifications-%1").arg(++g_connectionCount))
{
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_);
    connected_ = bus.isConnected();
    if (!connected_) {
        log(kClassName, QStringLiteral("no session bus; user notifications are not shown"));
        return;
    }
    bus.connect(service_, kPath, kInterface, QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
    bus.connect(service_, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(onNotificationClosed(uint, uint)));
    // A server without "body-markup" shows the body as it comes, escapes and all.
    auto* watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(QDBusMessage::createMethodCall(service_, kPath, kInterface, QStringLiteral("GetCapabilities"))), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, watcher] {
        watcher->deleteLater();
        const QDBusPendingReply<QStringList> reply = *watcher;
        if (reply.isError())
            return;
        bodyMarkup_ = reply.value().contains(QStringLiteral("body-markup"));
        capabilitiesKnown_ = true;
    });
}

UserNotificationCenter::~UserNotificationCenter()
{
    // Dropping the connection closes it on the bus thread, which then disconnects every object still
    // hooked to its signals; were we still among them, that would race with the rest of our destruction.
    if (connected_) {
        QDBusConnection bus(connectionName_);
        bus.disconnect(service_, kPath, kInterface, QStringLiteral("ActionInvoked"), this, SLOT(onActionInvoked(uint, QString)));
        bus.disconnect(service_, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                       SLOT(onNotificationClosed(uint, uint)));
    }
    QDBusConnection::disconnectFromBus(connectionName_);
}

bool UserNotificationCenter::isConnected() const
{
    return connected_;
}

void UserNotificationCenter::deliverNotification(const UserNotification& notification)
{
    uint replaces = 0;
    for (qsizetype i = 0; i < delivered_.size(); ++i) {
        const std::shared_ptr<Record> old = delivered_.at(i);
        if (old->notification.identifier != notification.identifier)
            continue;
        delivered_.removeAt(i);
        if (old->serverId != 0)
            replaces = old->serverId; // the server swaps it in place
        else if (old->shown)
            close(old);
        break;
    }

    auto record = std::make_shared<Record>();
    record->notification = notification;
    record->notification.activationType = UserNotification::ActivationType::None;
    delivered_.append(record);

    const std::shared_ptr<UserNotificationCenterDelegate> delegate = delegate_.lock();
    const bool frontmost = frontmost_ && frontmost_();
    const bool present = !frontmost || (delegate && delegate->userNotificationCenterShouldPresentNotification(*this, record->notification));
    if (!present || !connected_) {
        if (replaces != 0) {
            auto gone = std::make_shared<Record>();
            gone->serverId = replaces;
            gone->shown = true;
            close(gone);
        }
        if (delegate)
            delegate->userNotificationCenterDidDeliverNotification(*this, record->notification);
        return;
    }

    QString body = notification.subtitle;
    if (!notification.informativeText.isEmpty())
        body += (body.isEmpty() ? QString() : QStringLiteral("\n")) + notification.informativeText;
    if (bodyMarkup_)
        body = escapedMarkup(body);
    QStringList actions{kDefaultAction, notification.title};
    if (notification.hasActionButton && !notification.actionButtonTitle.isEmpty())
        actions << kActionButton << notification.actionButtonTitle;

    QDBusMessage call = QDBusMessage::createMethodCall(service_, kPath, kInterface, QStringLiteral("Notify"));
    call << applicationName_ << replaces << QString() << notification.title << body << actions << QVariantMap() << -1;
    record->shown = true;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection(connectionName_).asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, record, watcher] { notifyAnswered(record, watcher); });
}

void UserNotificationCenter::notifyAnswered(const std::shared_ptr<Record>& record, QDBusPendingCallWatcher* watcher)
{
    watcher->deleteLater();
    const QDBusPendingReply<uint> reply = *watcher;
    if (reply.isError()) {
        log(kClassName, QStringLiteral("the notification server refused \"%1\": %2").arg(record->notification.title, reply.error().message()));
        delivered_.removeOne(record);
        return;
    }
    record->serverId = reply.value();
    if (record->closeWhenAnswered) {
        closing_.removeOne(record);
        close(record);
        return;
    }
    if (const auto delegate = delegate_.lock(); delegate && delivered_.contains(record))
        delegate->userNotificationCenterDidDeliverNotification(*this, record->notification);
}

void UserNotificationCenter::close(const std::shared_ptr<Record>& record)
{
    if (!record->shown || !connected_)
        return;
    if (record->serverId == 0) {
        record->closeWhenAnswered = true;
        closing_.append(record);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(service_, kPath, kInterface, QStringLiteral("CloseNotification"));
    call << record->serverId;
    QDBusConnection(connectionName_).asyncCall(call);
}

void UserNotificationCenter::removeDeliveredNotification(const QString& identifier)
{
    for (qsizetype i = 0; i < delivered_.size(); ++i) {
        if (delivered_.at(i)->notification.identifier == identifier) {
            const std::shared_ptr<Record> record = delivered_.takeAt(i);
            close(record);
            return;
        }
    }
}

void UserNotificationCenter::removeAllDeliveredNotifications()
{
    const QList<std::shared_ptr<Record>> records = std::exchange(delivered_, {});
    for (const auto& record : records)
        close(record);
}

QList<UserNotification> UserNotificationCenter::deliveredNotifications() const
{
    QList<UserNotification> list;
    for (const auto& record : delivered_)
        list.append(record->notification);
    return list;
}

void UserNotificationCenter::onActionInvoked(uint id, const QString& actionKey)
{
    for (const auto& record : std::as_const(delivered_)) {
        if (record->serverId != id || id == 0)
            continue;
        UserNotification activated = record->notification;
        activated.activationType = actionKey == kActionButton ? UserNotification::ActivationType::ActionButtonClicked
                                                              : UserNotification::ActivationType::ContentsClicked;
        // Keep a reference: the delegate may remove the notification.
        const std::shared_ptr<Record> keep = record;
        if (const auto delegate = delegate_.lock())
            delegate->userNotificationCenterDidActivateNotification(*this, activated);
        return;
    }
}

void UserNotificationCenter::onNotificationClosed(uint id, uint /*reason*/)
{
    for (qsizetype i = 0; i < delivered_.size(); ++i) {
        if (delivered_.at(i)->serverId == id && id != 0) {
            delivered_.removeAt(i);
            return;
        }
    }
}

} // namespace platform
