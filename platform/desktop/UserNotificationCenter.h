#pragma once
// UserNotificationCenter: the user notifications of this program, shown by the desktop's notification
// server (org.freedesktop.Notifications on the session bus). Owned by whoever makes it (the default centre
// lives for the process); main thread: calls go out asynchronously and the server's answers and signals
// arrive from the event loop. Without a bus the default centre is null.

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

QT_BEGIN_NAMESPACE
class QDBusPendingCallWatcher;
QT_END_NAMESPACE

namespace platform {

struct UserNotification {
    enum class ActivationType { None, ContentsClicked, ActionButtonClicked };

    QString identifier; // ours; the centre keeps at most one delivered notification per identifier
    QString title;
    QString subtitle;
    QString informativeText;
    QString actionButtonTitle;
    QString otherButtonTitle;
    bool hasActionButton = false;
    ActivationType activationType = ActivationType::None; // set on activation
};

class UserNotificationCenter;

class UserNotificationCenterDelegate {
public:
    virtual ~UserNotificationCenterDelegate() = default;
    virtual void userNotificationCenterDidDeliverNotification(UserNotificationCenter&, const UserNotification&) {}
    virtual void userNotificationCenterDidActivateNotification(UserNotificationCenter&, const UserNotification&) {}
    // Asked only while the program is frontmost; a notification that is not presented is still delivered.
    virtual bool userNotificationCenterShouldPresentNotification(UserNotificationCenter&, const UserNotification&)
    {
        return false;
    }
};

class UserNotificationCenter final : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kFreedesktopService = "org.freedesktop.Notifications";

    // The one set last, else the centre on the session bus; null without a bus.
    static UserNotificationCenter* defaultCenter();
    // Null returns to the centre on the session bus. The caller keeps `center` alive while it is set.
    static void setDefaultCenter(UserNotificationCenter* center);

    // `service` is the bus name of the server (tests run a fake one under a name of their own).
    explicit UserNotificationCenter(const QString& applicationName, const QString& service = QString::fromLatin1(kFreedesktopService),
                                    QObject* parent = nullptr);
    ~UserNotificationCenter() override;

    bool isConnected() const;
    // Whether the server has answered which capabilities it has; until then the body is sent as markup,
    // which nearly every server renders.
    bool capabilitiesKnown() const { return capabilitiesKnown_; }

    void setDelegate(std::weak_ptr<UserNotificationCenterDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<UserNotificationCenterDelegate> delegate() const { return delegate_.lock(); }
    // Whether the program is frontmost now; unset means never.
    void setFrontmostProvider(std::function<bool()> provider) { frontmost_ = std::move(provider); }

    // Shows it, replacing the shown notification of the same identifier.
    void deliverNotification(const UserNotification& notification);
    void removeDeliveredNotification(const QString& identifier);
    void removeAllDeliveredNotifications();
    QList<UserNotification> deliveredNotifications() const;

private Q_SLOTS:
    void onActionInvoked(uint id, const QString& actionKey);
    void onNotificationClosed(uint id, uint reason);

private:
    struct Record {
        UserNotification notification;
        uint serverId = 0;   // 0 until the server answered Notify
        bool shown = false;  // sent to the server
        bool closeWhenAnswered = false;
    };

    void close(const std::shared_ptr<Record>& record);
    void notifyAnswered(const std::shared_ptr<Record>& record, QDBusPendingCallWatcher* watcher);

    QString applicationName_;
    QString service_;
    QString connectionName_;
    bool connected_ = false;
    bool capabilitiesKnown_ = false;
    bool bodyMarkup_ = true; // "body-markup": the body's text is markup, so ours is escaped
    std::weak_ptr<UserNotificationCenterDelegate> delegate_;
    std::function<bool()> frontmost_;
    QList<std::shared_ptr<Record>> delivered_;
    QList<std::shared_ptr<Record>> closing_; // withdrawn before the server gave their id
};

} // namespace platform
