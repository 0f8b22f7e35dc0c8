#pragma once
// Whether the session runs a StatusNotifierWatcher, the registry of the trays of XFCE's panel, KDE, GNOME's
// AppIndicator extension, waybar and swaybar: followed on the session bus without waiting on anyone. Main thread.

#include <QObject>
#include <QString>

class QDBusServiceWatcher;

namespace platform {

// Whether a StatusNotifierWatcher owns its name on the session bus, followed through its ownership changes:
// asked once without waiting for the answer, so that no start waits on a tray host. One per process.
class StatusNotifierWatch final : public QObject {
    Q_OBJECT
public:
    enum class State { Unknown, Absent, Present };
    static StatusNotifierWatch& shared();

    State state() const { return state_; }
    // The watcher's unique bus name; empty while there is none.
    QString owner() const { return owner_; }
    // Changes with every new owner: a restarted tray host wants the icons registered again.
    quint64 generation() const { return generation_; }

signals:
    void changed();

private:
    StatusNotifierWatch();
    void setOwner(const QString& owner);

    State state_ = State::Unknown;
    QString owner_;
    quint64 generation_ = 0;
    bool ownerChangeSeen_ = false;
    QDBusServiceWatcher* watcher_ = nullptr;
};

} // namespace platform
