#pragma once
// The tray of XEmbed hosts on X (trayer, XFCE's panel without its StatusNotifier tray, tint2): one
// QSystemTrayIcon per slot, shown whether or not a tray host runs and docked by Qt when one starts; the menu for
// either button. Used only where no StatusNotifierWatcher runs (see TrayTransport.h). Made and owned by
// QtStatusItem; main thread.

#include "platform/desktop/widgets/TrayTransport.h"

#include <QList>
#include <QPoint>
#include <QPointer>

#include <functional>
#include <memory>

class QMenu;
class QObject;
class QSystemTrayIcon;

namespace platform {

class XEmbedTray final : public TrayTransport {
public:
    // `popUp` opens `menu` at a point, for a left click.
    XEmbedTray(QMenu* menu, std::function<void(QPoint)> popUp);
    ~XEmbedTray() override;

    void enter() override {}
    void leave() override;
    void showSlot(qsizetype index, const QIcon& icon, bool drawn, const QString& toolTip) override;
    void hideSlotsFrom(qsizetype count) override;
    void showMore(qsizetype before, qsizetype count) override;

private:
    QSystemTrayIcon* makeIcon();

    // Lives as long as the tray: the context of its icons' connections.
    std::unique_ptr<QObject> context_;
    QMenu* menu_;
    std::function<void(QPoint)> popUp_;
    QList<QPointer<QSystemTrayIcon>> icons_;
};

} // namespace platform
