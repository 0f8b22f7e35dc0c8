#pragma once
// Notifications between the programs of the user's session, carried as the D-Bus signal
// com.tarnwell.kelvaro.DistributedNotifications.Notification(s name, s object, a{sv} userInfo) on the
// object path /com/tarnwell/kelvaro/Notifications. Each centre has its own bus connection; the default
// centre lives for the process. Thread-safe; observers are called on the thread that registered them,
// from its event loop. Without a bus everything is dropped after one log line.

#include "platform/foundation/NotificationCenter.h"

#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

namespace platform {

struct DistributedNotification {
    QString name;
    QString object; // null when posted without one
    QVariantMap userInfo;
};

class DistributedNotificationCenter {
public:
    using Callback = std::function<void(const DistributedNotification&)>;

    static DistributedNotificationCenter& defaultCenter();

    // An empty address means the session bus of DBUS_SESSION_BUS_ADDRESS.
    explicit DistributedNotificationCenter(const QString& busAddress = {});
    ~DistributedNotificationCenter();
    DistributedNotificationCenter(const DistributedNotificationCenter&) = delete;
    DistributedNotificationCenter& operator=(const DistributedNotificationCenter&) = delete;

    bool isConnected() const;

    // An empty name observes every notification, a null object every object. No token without a bus.
    ObserverToken addObserver(const QString& name, const QString& object, Callback callback);
    // A removed observer is not called again, also for signals already on their way to its thread.
    void removeObserver(ObserverToken token);
    // False when nothing was sent: no bus, or the user info holds a value D-Bus cannot carry (an object).
    // User-info values keep their kinds on the wire: b, x, t, d, s, ay, av, a{sv}, and a date as the
    // structure (x) of UTC milliseconds since 1970.
    bool post(const QString& name, const QString& object, const QVariantMap& userInfo = {});

private:
    struct Private;
    std::unique_ptr<Private> d_;
};

} // namespace platform
