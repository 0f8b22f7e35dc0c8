#pragma once
// The tray of StatusNotifierItem hosts (XFCE's panel, KDE, GNOME's AppIndicator, waybar, swaybar): each icon
// an object on the session bus, the menu exported as com.canonical.dbusmenu so that the host shows it itself
// wherever its tray is, registered with org.kde.StatusNotifierWatcher whenever one appears. Nothing here
// waits on the bus: a host that stops answering holds no call. Made and owned by QtStatusItem; main thread.

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QHash>
#include <QIcon>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QVariant>

#include <functional>

class QAction;
class QDBusMessage;
class QDBusServiceWatcher;
class QMenu;
class QTimer;

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

// A menu exported over com.canonical.dbusmenu: its actions, their submenus and every later change of them,
// read by the host whenever it likes. Holds the menu weakly.
class DBusMenuExporter final : public QDBusVirtualObject {
public:
    DBusMenuExporter(QMenu* menu, QString path);
    ~DBusMenuExporter() override;

    QString path() const { return path_; }
    // Exports another menu at the same path, for a host that keeps the path.
    void setMenu(QMenu* menu);
    void unregister();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int idOf(QAction* action);
    QMenu* menuOf(int id) const;
    QVariantMap propertiesOf(QAction* action) const;
    void watchMenu(QMenu* menu);
    void scheduleFlush();
    void flush();
    void activate(int id);

    QPointer<QMenu> menu_;
    QString path_;
    QDBusConnection bus_;
    bool registered_ = false;
    uint revision_ = 1;
    int nextId_ = 1;
    QHash<QAction*, int> ids_;
    QHash<int, QPointer<QAction>> actions_;
    QSet<QMenu*> watched_;
    bool layoutDirty_ = false;
    QSet<int> changed_;
    QTimer* flushTimer_ = nullptr;
};

// One icon of the tray. Its status (Active or Passive) shows or hides it; the host reads the pixels, drawn at
// the sizes hosts ask most, whenever it likes.
class StatusNotifierIcon final : public QDBusVirtualObject {
public:
    // popUp shows the program's own menu at the point a host without a menu of its own passes, with whether it
    // asked for the context menu (else the icon was activated); read tells each time anyone reads the icon.
    using PopUp = std::function<void(QPoint, bool)>;
    // With the bus name of the reader.
    using Read = std::function<void(const QString&)>;
    StatusNotifierIcon(QString path, QString menuPath, PopUp popUp, Read read);
    ~StatusNotifierIcon() override;

    QString path() const { return path_; }
    QString menuPath() const { return menuPath_; }
    // Hands the icon to another owner, as a kept icon is used again.
    void setOwner(QString menuPath, PopUp popUp, Read read);
    void setIcon(const QIcon& icon);
    QIcon icon() const { return icon_; }
    void setToolTip(const QString& toolTip);
    void setActive(bool active);
    bool isActive() const { return active_; }
    // Asks the watcher to show it to its hosts; the answer is not waited for.
    void registerWithWatcher();
    // Registered with the watcher that runs now.
    bool isRegisteredWithWatcher() const;
    void unregister();

    // The pixels hosts read at a size: ARGB32 in network byte order.
    static QByteArray argbBytes(const QImage& image);

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

private:
    QVariant property(const QString& name) const;
    QVariantMap properties() const;
    void emitSignal(const QString& name, const QVariantList& arguments = {});

    QString path_;
    QString menuPath_;
    PopUp popUp_;
    Read read_;
    QDBusConnection bus_;
    bool registered_ = false;
    // The watcher's generation it was registered with (StatusNotifierWatch::generation), 0 for none.
    quint64 registeredWith_ = 0;
    QIcon icon_;
    // IconPixmap of icon_, drawn on the first read.
    mutable QVariant pixmaps_;
    QString toolTip_;
    bool active_ = false;
};

} // namespace platform
