#include "platform/hardware/IdleTimeSource.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "platform/hardware/WaylandIdleTimeSource.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <cmath>
#include <ctime>
#include <utility>

namespace platform {

namespace {

struct SharedSelection {
    std::mutex mutex;
    std::shared_ptr<const IdleTimeSource> chosen;
    std::shared_ptr<const IdleTimeSource> live;
    std::shared_ptr<const SimulatedComputer> simulatedFor;
    std::shared_ptr<const IdleTimeSource> simulated;
};

SharedSelection& selection()
{
    static SharedSelection s;
    return s;
}

// A D-Bus call asked at most once a second of the shared clock and never waited for, on the connection given,
// else on `bus()` once an application object exists. Guarded by its source's mutex.
struct PolledCall {
    std::optional<QDBusConnection> connection;
    std::optional<QDBusPendingCall> pending;
    Clock::Duration lastRequest{};
    bool requested = false;

    // The reply that came since the last look.
    std::optional<QDBusMessage> takeReply()
    {
        if (!pending || !pending->isFinished())
            return std::nullopt;
        const QDBusMessage reply = pending->reply();
        pending.reset();
        return reply;
    }
    // Asks again once a second has passed with no call pending; false when it was time to ask and there is
    // no bus.
    bool askWhenDue(QDBusConnection (*bus)(), QDBusMessage (*makeCall)())
    {
        const Clock::Duration now = monotonicNow();
        if (pending || (requested && now - lastRequest < std::chrono::seconds(1)))
            return true;
        requested = true;
        lastRequest = now;
        if (!connection && QCoreApplication::instance())
            connection = bus();
        if (!connection || !connection->isConnected())
            return false;
        pending = connection->asyncCall(makeCall(), 2000);
        return true;
    }
};

QDBusMessage logindIdleHintCall()
{
    QDBusMessage call =
        QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
    call << QStringLiteral("org.freedesktop.login1.Manager");
    return call;
}

QDBusMessage mutterIdleTimeCall()
{
    return QDBusMessage::createMethodCall(QStringLiteral("org.gnome.Mutter.IdleMonitor"),
                                          QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"),
                                          QStringLiteral("org.gnome.Mutter.IdleMonitor"), QStringLiteral("GetIdletime"));
}

std::optional<quint64> nanosecondsFromSeconds(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 0 || seconds >= 1.8e10)
        return std::nullopt;
    return quint64(std::llround(seconds * 1e9));
}

} // namespace

std::shared_ptr<const IdleTimeSource> IdleTimeSource::shared()
{
    auto& s = selection();
    std::lock_guard lock(s.mutex);
    if (s.chosen)
        return s.chosen;
    if (SimulatedComputer::isSelected()) {
        const auto computer = SimulatedComputer::current();
        if (!s.simulated || s.simulatedFor != computer) {
            std::optional<quint64> idle;
            if (computer && computer->idleTime())
                idle = nanosecondsFromSeconds(*computer->idleTime());
            s.simulated = std::make_shared<FixedIdleTimeSource>(idle);
            s.simulatedFor = computer;
        }
        return s.simulated;
    }
    if (!s.live)
        s.live = live(Session::fromEnvironment());
    return s.live;
}

IdleTimeSource::Session IdleTimeSource::Session::fromEnvironment()
{
    return {qgetenv("DISPLAY"), qgetenv("WAYLAND_DISPLAY"), qgetenv("XDG_SESSION_TYPE")};
}

bool IdleTimeSource::Session::isWayland() const
{
    return !waylandDisplay.isEmpty() || sessionType == "wayland";
}

std::vector<IdleTimeSource::Kind> IdleTimeSource::candidates(const Session& session)
{
    std::vector<Kind> kinds;
    if (!session.isWayland()) {
        if (!session.x11Display.isEmpty())
            kinds.push_back(Kind::XScreenSaver);
    } else {
        // GNOME Shell answers on the session bus also to a program that has only DISPLAY; the notifications
        // need the compositor's socket.
        kinds.push_back(Kind::MutterIdleMonitor);
        if (!session.waylandDisplay.isEmpty())
            kinds.push_back(Kind::WaylandIdleNotifications);
    }
    kinds.push_back(Kind::Logind);
    return kinds;
}

std::shared_ptr<const IdleTimeSource> IdleTimeSource::live(const Session& session)
{
    std::vector<std::shared_ptr<const IdleTimeSource>> sources;
    for (const Kind kind : candidates(session)) {
        switch (kind) {
        case Kind::XScreenSaver:
            if (auto x = XScreenSaverIdleTimeSource::create(session.x11Display))
                sources.push_back(std::move(x));
            break;
        case Kind::MutterIdleMonitor:
            sources.push_back(std::make_shared<MutterIdleTimeSource>());
            break;
        case Kind::WaylandIdleNotifications:
            if (auto wayland = WaylandIdleTimeSource::create(session.waylandDisplay))
                sources.push_back(std::move(wayland));
            break;
        case Kind::Logind:
            sources.push_back(std::make_shared<LogindIdleTimeSource>());
            break;
        }
    }
    return std::make_shared<FirstReadingIdleTimeSource>(std::move(sources));
}

void IdleTimeSource::setShared(std::shared_ptr<const IdleTimeSource> source)
{
    auto& s = selection();
    std::lock_guard lock(s.mutex);
    s.chosen = std::move(source);
}

FixedIdleTimeSource::FixedIdleTimeSource(std::optional<quint64> nanoseconds) : nanoseconds_(nanoseconds) {}

std::optional<quint64> FixedIdleTimeSource::idleNanoseconds() const
{
    std::lock_guard lock(mutex_);
    return nanoseconds_;
}

void FixedIdleTimeSource::setIdleNanoseconds(std::optional<quint64> nanoseconds)
{
    std::lock_guard lock(mutex_);
    nanoseconds_ = nanoseconds;
}

void FixedIdleTimeSource::setIdleSeconds(double seconds)
{
    setIdleNanoseconds(nanosecondsFromSeconds(seconds));
}

struct LogindIdleTimeSource::State {
    std::mutex mutex;
    PolledCall call;
    // Whether the last reply told the hint; from it, whether the seat is idle and since when, in
    // CLOCK_MONOTONIC microseconds.
    bool answered = false;
    bool toldUnknown = false;
    bool idle = false;
    quint64 idleSinceMicroseconds = 0;
};

LogindIdleTimeSource::LogindIdleTimeSource(const QDBusConnection* connection) : state_(std::make_unique<State>())
{
    if (connection)
        state_->call.connection = *connection;
}

LogindIdleTimeSource::~LogindIdleTimeSource() = default;

QString LogindIdleTimeSource::description() const
{
    return QStringLiteral("logind's idle hint, which reads as an active user wherever the session never sets it");
}

std::optional<quint64> LogindIdleTimeSource::idleNanoseconds() const
{
    State& s = *state_;
    std::lock_guard lock(s.mutex);

    if (const auto reply = s.call.takeReply()) {
        s.idle = false;
        s.answered = false;
        if (reply->type() == QDBusMessage::ReplyMessage && !reply->arguments().isEmpty()) {
            const QVariantMap properties = qdbus_cast<QVariantMap>(reply->arguments().constFirst());
            const QVariant hint = properties.value(QStringLiteral("IdleHint"));
            const QVariant since = properties.value(QStringLiteral("IdleSinceHintMonotonic"));
            if (hint.typeId() == QMetaType::Bool && since.canConvert<quint64>()) {
                s.answered = true;
                s.idle = hint.toBool();
                s.idleSinceMicroseconds = since.toULongLong();
            }
        }
        if (!s.answered && !std::exchange(s.toldUnknown, true))
            log("LogindIdleTimeSource", QStringLiteral("no source tells the idle time (logind: %1); the LCD saver "
                                                       "neither blanks nor wakes a module")
                                            .arg(reply->type() == QDBusMessage::ErrorMessage ? reply->errorMessage()
                                                                                             : QStringLiteral("no idle hint")));
    }

    // The system bus needs an application object; without one (or without a bus) nothing is known.
    if (!s.call.askWhenDue(&QDBusConnection::systemBus, &logindIdleHintCall) && !std::exchange(s.toldUnknown, true))
        log("LogindIdleTimeSource", QStringLiteral("no source tells the idle time (no system bus); the LCD saver "
                                                   "neither blanks nor wakes a module"));

    if (!s.answered)
        return std::nullopt;
    // Not idle: the user is active now. logind only says since when the hint holds, which is no idle time.
    if (!s.idle)
        return 0;
    if (s.idleSinceMicroseconds == 0)
        return std::nullopt;
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const quint64 nowMicroseconds = quint64(ts.tv_sec) * 1000000u + quint64(ts.tv_nsec) / 1000u;
    if (nowMicroseconds < s.idleSinceMicroseconds)
        return std::nullopt;
    return (nowMicroseconds - s.idleSinceMicroseconds) * 1000u;
}

struct MutterIdleTimeSource::State {
    std::mutex mutex;
    PolledCall call;
    std::optional<quint64> milliseconds; // from the last good reply
};

MutterIdleTimeSource::MutterIdleTimeSource(const QDBusConnection* connection) : state_(std::make_unique<State>())
{
    if (connection)
        state_->call.connection = *connection;
}

MutterIdleTimeSource::~MutterIdleTimeSource() = default;

QString MutterIdleTimeSource::description() const
{
    return QStringLiteral("GNOME Shell's idle monitor");
}

std::optional<quint64> MutterIdleTimeSource::idleNanoseconds() const
{
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (const auto reply = s.call.takeReply()) {
        s.milliseconds.reset();
        if (reply->type() == QDBusMessage::ReplyMessage && reply->arguments().size() == 1 &&
            reply->arguments().constFirst().typeId() == QMetaType::ULongLong)
            s.milliseconds = reply->arguments().constFirst().toULongLong();
    }
    s.call.askWhenDue(&QDBusConnection::sessionBus, &mutterIdleTimeCall);
    if (!s.milliseconds || *s.milliseconds >= 18'000'000'000'000u)
        return std::nullopt;
    return *s.milliseconds * 1'000'000u;
}

FirstReadingIdleTimeSource::FirstReadingIdleTimeSource(std::vector<std::shared_ptr<const IdleTimeSource>> sources)
    : sources_(std::move(sources))
{
}

std::optional<quint64> FirstReadingIdleTimeSource::idleNanoseconds() const
{
    for (size_t i = 0; i < sources_.size(); ++i) {
        if (const auto reading = sources_[i]->idleNanoseconds()) {
            std::lock_guard lock(mutex_);
            if (answering_ != i) {
                answering_ = i;
                if (const QString description = sources_[i]->description(); !description.isEmpty())
                    log("IdleTimeSource", QStringLiteral("the idle time comes from %1").arg(description));
            }
            return reading;
        }
    }
    return std::nullopt;
}

QString FirstReadingIdleTimeSource::description() const
{
    std::lock_guard lock(mutex_);
    return answering_ ? sources_[*answering_]->description() : QString();
}

} // namespace platform
