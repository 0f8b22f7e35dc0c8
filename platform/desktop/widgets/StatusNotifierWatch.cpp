#include "platform/desktop/widgets/StatusNotifierWatch.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QPointer>

namespace platform {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

} // namespace

StatusNotifierWatch& StatusNotifierWatch::shared()
{
    // Made on first use by the main thread; lives as long as the application object.
    static QPointer<StatusNotifierWatch> watch;
    if (!watch) {
        watch = new StatusNotifierWatch;
        if (QCoreApplication::instance())
            watch->setParent(QCoreApplication::instance());
    }
    return *watch;
}

StatusNotifierWatch::StatusNotifierWatch()
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        state_ = State::Absent;
        return;
    }
    watcher_ = new QDBusServiceWatcher(kWatcherService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                ownerChangeSeen_ = true;
                setOwner(owner);
            });
    // The bus itself answers, never the tray host; still, nothing waits for it.
    const QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("/org/freedesktop/DBus"),
                                                            QStringLiteral("org.freedesktop.DBus"),
                                                            QStringLiteral("GetNameOwner"))
                             << kWatcherService;
    auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(ask), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        if (ownerChangeSeen_)
            return;
        const QDBusPendingReply<QString> owner = *call;
        setOwner(owner.isValid() ? owner.value() : QString());
    });
}

void StatusNotifierWatch::setOwner(const QString& owner)
{
    const State state = owner.isEmpty() ? State::Absent : State::Present;
    if (state == state_ && owner == owner_)
        return;
    state_ = state;
    owner_ = owner;
    ++generation_;
    emit changed();
}

} // namespace platform
