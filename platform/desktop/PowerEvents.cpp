#include "platform/desktop/PowerEvents.h"

#include "platform/foundation/Log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusArgument>
#include <QDBusMetaType>

#include <mutex>

namespace platform {

namespace {

const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");

std::mutex sharedMutex;
std::shared_ptr<PowerEvents> sharedEvents;

} // namespace

std::shared_ptr<PowerEvents> PowerEvents::shared()
{
    std::lock_guard lock(sharedMutex);
    if (!sharedEvents)
        sharedEvents = std::make_shared<LogindPowerEvents>(QDBusConnection::systemBus());
    return sharedEvents;
}

void PowerEvents::setShared(std::shared_ptr<PowerEvents> events)
{
    std::lock_guard lock(sharedMutex);
    sharedEvents = std::move(events);
}

LogindPowerEvents::LogindPowerEvents(QDBusConnection bus)
    : bus_(std::move(bus))
{
}

LogindPowerEvents::~LogindPowerEvents()
{
    if (registered_)
        bus_.disconnect(kService, kPath, kManager, QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool)));
}

bool LogindPowerEvents::registerForSystemPower()
{
    if (registered_)
        return true;
    if (!bus_.isConnected() || !bus_.interface())
        return false;
    // Asked of the bus daemon, which answers at once; logind itself is only ever called asynchronously.
    const auto owned = bus_.interface()->isServiceRegistered(kService);
    if (!owned.isValid() || !owned.value())
        return false;
    if (!bus_.connect(kService, kPath, kManager, QStringLiteral("PrepareForSleep"), this, SLOT(prepareForSleep(bool))))
        return false;
    registered_ = true;
    takeInhibitor();
    return true;
}

void LogindPowerEvents::allowSleep()
{
    if (!sleepAnnounced_)
        return; // a stray call must not leave the next sleep unguarded
    sleepAnnounced_ = false;
    // Closing our copy of the descriptor is what lets logind go on.
    inhibitor_ = QDBusUnixFileDescriptor();
}

void LogindPowerEvents::prepareForSleep(bool start)
{
    if (start) {
        sleepAnnounced_ = true;
        emit systemWillSleep();
        return;
    }
    sleepAnnounced_ = false;
    // The old inhibitor went with the sleep; hold the next one back too.
    takeInhibitor();
    emit systemHasPoweredOn();
}

void LogindPowerEvents::takeInhibitor()
{
    if (inhibitor_.isValid() || inhibitorRequested_)
        return;
    auto call = QDBusMessage::createMethodCall(kService, kPath, kManager, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep") << QStringLiteral("Kelvaro")
         << QStringLiteral("Disconnecting from the monitored computers") << QStringLiteral("delay");
    // The reply message is dropped right after the slot, so our copy is the descriptor's only one.
    inhibitorRequested_ = bus_.callWithCallback(call, this, SLOT(inhibitorTaken(QDBusMessage)), SLOT(inhibitorRefused(QDBusError)));
    if (!inhibitorRequested_)
        log("PowerEvents", QStringLiteral("could not ask the login manager to hold sleep back"));
}

void LogindPowerEvents::inhibitorTaken(const QDBusMessage& reply)
{
    inhibitorRequested_ = false;
    const auto descriptor = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().value(0));
    if (!descriptor.isValid()) {
        log("PowerEvents", QStringLiteral("the login manager answered no inhibitor"));
        return;
    }
    inhibitor_ = descriptor;
}

void LogindPowerEvents::inhibitorRefused(const QDBusError& error)
{
    inhibitorRequested_ = false;
    log("PowerEvents", QStringLiteral("could not hold sleep back: %1").arg(error.message()));
}

} // namespace platform
