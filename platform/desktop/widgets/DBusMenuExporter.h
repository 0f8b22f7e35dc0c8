#pragma once
// A menu of the program's exported on the session bus as com.canonical.dbusmenu, for a tray host that shows the
// menu itself wherever its tray is. Nothing here waits on the bus. Main thread.

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QVariant>

class QAction;
class QDBusMessage;
class QMenu;
class QTimer;

namespace platform {

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

} // namespace platform
