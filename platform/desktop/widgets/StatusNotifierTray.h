#pragma once
// The tray of StatusNotifierItem hosts (XFCE's panel, KDE, GNOME's AppIndicator, waybar, swaybar), the
// program's own rather than Qt's (see TrayTransport.h): a StatusNotifierIcon per slot and the menu exported for
// the host to show, registered with the watcher that runs now and again with every new one, and put in the
// title's order. A host reads icons and menu whenever it likes: icons are hidden and kept for reuse, by the next
// item too, and destroyed only once the bus let go of them. Nothing waits on the host. Made and owned by
// QtStatusItem; main thread.

#include "platform/desktop/widgets/TrayTransport.h"

#include <QList>
#include <QPoint>
#include <QPointer>

#include <functional>
#include <memory>

class QMenu;
class QObject;
class QTimer;

namespace platform {

class DBusMenuExporter;
class StatusNotifierIcon;

class StatusNotifierTray final : public TrayTransport {
public:
    // `popUp` opens `menu` at a point, for a host without a menu of its own.
    StatusNotifierTray(QMenu* menu, std::function<void(QPoint)> popUp);
    ~StatusNotifierTray() override;

    void enter() override;
    void leave() override;
    void prepareSlots(qsizetype count) override;
    void showSlot(qsizetype index, const QIcon& icon, bool drawn, const QString& toolTip) override;
    void hideSlotsFrom(qsizetype count) override;
    void showMore(qsizetype before, qsizetype count) override;

private:
    // A kept icon or a new one; with `registered`, only one the watcher has taken already.
    StatusNotifierIcon* makeItem(bool registered);
    void orderOnceRead();
    void orderItems();

    // Lives as long as the tray: the context of its connections and its icons' calls back.
    std::unique_ptr<QObject> context_;
    QMenu* menu_;
    std::function<void(QPoint)> popUp_;
    bool entered_ = false;
    // By slot. Hosts keep an icon where they first took it, a newer one left of those before it (GNOME's), or
    // sort them by title (KDE's): the icons of the slots are registered with the watcher the first slot last,
    // and each slot's icon takes the slot's title.
    QList<QPointer<StatusNotifierIcon>> items_;
    qsizetype shownCount_ = 0;
    // Icons registered with a watcher are shown again in order once its hosts stopped reading them for a
    // moment, which puts them in order on hosts that took them in any; a host that reads on gets them in
    // order again, a few times at most.
    QTimer* settle_ = nullptr;
    int orderingsLeft_ = 0;
    DBusMenuExporter* exporter_ = nullptr;
};

} // namespace platform
