#include "platform/desktop/widgets/XEmbedTray.h"

#include <QCoreApplication>
#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QThread>

#include <utility>

namespace platform {

XEmbedTray::XEmbedTray(QMenu* menu, std::function<void(QPoint)> popUp)
    : context_(std::make_unique<QObject>()), menu_(menu), popUp_(std::move(popUp))
{
}

XEmbedTray::~XEmbedTray()
{
    context_.reset();
    // Destroyed once the calls already handed over are done; once no event loop runs any more, at once.
    const bool running = QThread::currentThread()->loopLevel() > 0 && !QCoreApplication::closingDown();
    for (const QPointer<QSystemTrayIcon>& icon : std::as_const(icons_)) {
        if (icon)
            icon->hide();
        if (icon && running)
            icon->deleteLater();
        else
            delete icon;
    }
}

void XEmbedTray::leave()
{
    for (const QPointer<QSystemTrayIcon>& icon : std::as_const(icons_)) {
        if (icon) {
            icon->hide();
            icon->deleteLater();
        }
    }
    icons_.clear();
}

QSystemTrayIcon* XEmbedTray::makeIcon()
{
    auto* icon = new QSystemTrayIcon;
    icon->setContextMenu(menu_);
    QObject::connect(icon, &QSystemTrayIcon::activated, context_.get(), [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            popUp_(QCursor::pos());
    });
    return icon;
}

void XEmbedTray::showSlot(qsizetype index, const QIcon& icon, bool drawn, const QString& toolTip)
{
    while (icons_.size() <= index)
        icons_.append(nullptr);
    QPointer<QSystemTrayIcon>& shown = icons_[index];
    if (!shown) {
        shown = makeIcon();
        drawn = true;
    }
    if (drawn)
        shown->setIcon(icon);
    if (shown->toolTip() != toolTip)
        shown->setToolTip(toolTip);
}

void XEmbedTray::hideSlotsFrom(qsizetype count)
{
    for (qsizetype i = count; i < icons_.size(); ++i)
        if (icons_.at(i) && icons_.at(i)->isVisible())
            icons_.at(i)->hide();
}

void XEmbedTray::showMore(qsizetype, qsizetype count)
{
    // A tray host puts each icon it docks left of those before it, and docks them again in the order they were
    // first shown when it restarts: all again, the last slot first, so the icons read as the title does.
    for (qsizetype i = 0; i < count; ++i)
        if (icons_.at(i)->isVisible())
            icons_.at(i)->hide();
    for (qsizetype i = count - 1; i >= 0; --i)
        icons_.at(i)->show();
}

} // namespace platform
