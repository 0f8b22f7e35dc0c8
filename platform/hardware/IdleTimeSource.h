#pragma once
// IdleTimeSource: how long the user has not touched keyboard or pointer, as the "IOHIDSystem" registry entry
// publishes it. The live source asks the X server's screen-saver extension in an X session; in a Wayland
// session GNOME Shell's idle monitor, else the compositor's idle notifications; logind where nothing else
// tells. A simulated computer gives its fixed "IdleTime"; tests install a fake. The process-wide source is
// replaceable and thread-safe; implementations must be too.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class QDBusConnection;

namespace platform {

class IdleTimeSource {
public:
    virtual ~IdleTimeSource() = default;
    // Nanoseconds since the last user input; nothing when the platform does not tell. Never blocks.
    virtual std::optional<quint64> idleNanoseconds() const = 0;
    // Where the readings come from, for the log; empty for a fixed answer.
    virtual QString description() const { return {}; }

    // The session the program runs in, as its environment tells.
    struct Session {
        QByteArray x11Display;     // DISPLAY
        QByteArray waylandDisplay; // WAYLAND_DISPLAY
        QByteArray sessionType;    // XDG_SESSION_TYPE
        static Session fromEnvironment();
        // A Wayland compositor owns the seat: an X server there (XWayland) sees only its own clients' input.
        bool isWayland() const;
    };
    enum class Kind { XScreenSaver, MutterIdleMonitor, WaylandIdleNotifications, Logind };
    // The sources to ask in `session`, the first that gives a reading answering: the X server's in an X
    // session, GNOME Shell's idle monitor and the compositor's notifications in a Wayland session, and logind
    // last everywhere. Sources that cannot be reached at the start are left out.
    static std::vector<Kind> candidates(const Session& session);

    // The source set last, else the selected simulated computer's "IdleTime" (nothing when it has none),
    // else the live source of the environment's session. Never null.
    static std::shared_ptr<const IdleTimeSource> shared();
    // The candidates of `session` that can be reached, in their order.
    static std::shared_ptr<const IdleTimeSource> live(const Session& session);
    // Null returns to the automatic choice.
    static void setShared(std::shared_ptr<const IdleTimeSource> source);
};

// A fixed answer: a simulated computer's "IdleTime" or a test's fake (which may change it at any time).
class FixedIdleTimeSource final : public IdleTimeSource {
public:
    explicit FixedIdleTimeSource(std::optional<quint64> nanoseconds = std::nullopt);
    std::optional<quint64> idleNanoseconds() const override;
    void setIdleNanoseconds(std::optional<quint64> nanoseconds);
    void setIdleSeconds(double seconds);

private:
    mutable std::mutex mutex_;
    std::optional<quint64> nanoseconds_;
};

// The X screen-saver extension's idle time of one display (XScreenSaverQueryInfo: milliseconds since the
// last input event, which every key press and pointer move resets), on a connection of its own. A reading
// is one round trip to the X server. When the server goes away the source answers nothing from then on;
// the program is not ended by it.
class XScreenSaverIdleTimeSource final : public IdleTimeSource {
public:
    // Null when `display` cannot be opened or has no screen-saver extension.
    static std::shared_ptr<XScreenSaverIdleTimeSource> create(const QByteArray& display);
    ~XScreenSaverIdleTimeSource() override;
    std::optional<quint64> idleNanoseconds() const override;
    QString description() const override;

    struct State;

private:
    XScreenSaverIdleTimeSource() = default;
    std::unique_ptr<State> state_;
};

// logind's aggregate idle hint (org.freedesktop.login1.Manager IdleHint / IdleSinceHintMonotonic) on the
// system bus. The properties are fetched asynchronously at most once a second of the shared clock; a
// reading answers from the last reply, so it never waits for the bus. While the seat is not idle the idle
// time is 0 (the user is active); it is unknown only without an answer, which is logged once.
class LogindIdleTimeSource final : public IdleTimeSource {
public:
    // Null `connection`: the system bus.
    explicit LogindIdleTimeSource(const QDBusConnection* connection = nullptr);
    ~LogindIdleTimeSource() override;
    std::optional<quint64> idleNanoseconds() const override;
    QString description() const override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// GNOME Shell's idle monitor (org.gnome.Mutter.IdleMonitor GetIdletime at /org/gnome/Mutter/IdleMonitor/Core
// on the session bus: milliseconds since the last input), which the compositor itself keeps. Asked
// asynchronously at most once a second of the shared clock; a reading answers from the last reply, nothing
// before the first or where no such monitor runs.
class MutterIdleTimeSource final : public IdleTimeSource {
public:
    // Null `connection`: the session bus.
    explicit MutterIdleTimeSource(const QDBusConnection* connection = nullptr);
    ~MutterIdleTimeSource() override;
    std::optional<quint64> idleNanoseconds() const override;
    QString description() const override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The first of its sources that gives a reading; the later ones are asked only while the earlier give none.
// Which source answers is logged whenever it changes.
class FirstReadingIdleTimeSource final : public IdleTimeSource {
public:
    explicit FirstReadingIdleTimeSource(std::vector<std::shared_ptr<const IdleTimeSource>> sources);
    std::optional<quint64> idleNanoseconds() const override;
    QString description() const override;
    const std::vector<std::shared_ptr<const IdleTimeSource>>& sources() const { return sources_; }

private:
    std::vector<std::shared_ptr<const IdleTimeSource>> sources_;
    mutable std::mutex mutex_;
    mutable std::optional<size_t> answering_;
};

} // namespace platform
