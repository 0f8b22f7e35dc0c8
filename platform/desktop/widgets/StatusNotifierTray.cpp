#include "platform/desktop/widgets/StatusNotifierTray.h"

#include "platform/desktop/widgets/DBusMenuExporter.h"
#include "platform/desktop/widgets/StatusNotifierIcon.h"
#include "platform/desktop/widgets/StatusNotifierWatch.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenu>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace platform {

namespace {

// How long the hosts' reading of newly registered icons must have paused before they are put in order, and
// how often a host that goes on reading them (a slow one, or one that reads again at each change of status)
// sees them put in order again.
constexpr int kSettleMs = 500;
constexpr int kOrderings = 3;

// Icons of items gone, hidden and kept while the program runs: a host may read them at any time, and takes
// them back when the next item shows them. Deleted as the event loop ends.
struct Spares {
    QList<QPointer<StatusNotifierIcon>> items;
    QPointer<DBusMenuExporter> exporter;
};

Spares& spares()
{
    static Spares kept;
    static const bool flushed = [] {
        if (QCoreApplication::instance())
            QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                             &StatusNotifierWatch::shared(), [] {
                                 for (const QPointer<StatusNotifierIcon>& item : std::as_const(kept.items))
                                     delete item;
                                 kept.items.clear();
                                 delete kept.exporter;
                             });
        return true;
    }();
    (void)flushed;
    return kept;
}

} // namespace

StatusNotifierTray::StatusNotifierTray(QMenu* menu, std::function<void(QPoint)> popUp)
    : context_(std::make_unique<QObject>()), menu_(menu), popUp_(std::move(popUp))
{
    settle_ = new QTimer(context_.get());
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMs);
    QObject::connect(settle_, &QTimer::timeout, context_.get(), [this] {
        --orderingsLeft_;
        orderItems();
    });
}

StatusNotifierTray::~StatusNotifierTray()
{
    context_.reset();
    // While the program runs a host may read an icon at any time: the icons are hidden and kept for the next
    // item, and so is the menu's export. Once no event loop runs any more, all go at once.
    const bool running = QThread::currentThread()->loopLevel() > 0 && !QCoreApplication::closingDown();
    for (const QPointer<StatusNotifierIcon>& item : std::as_const(items_)) {
        if (!item)
            continue;
        if (running) {
            item->setActive(false);
            item->setOwner(item->menuPath(), {}, {});
            // Goes with the application object at the latest.
            item->setParent(&StatusNotifierWatch::shared());
            spares().items.append(item);
        } else {
            delete item;
        }
    }
    if (exporter_ && running) {
        exporter_->setMenu(nullptr);
        exporter_->setParent(&StatusNotifierWatch::shared());
        spares().exporter = exporter_;
    } else {
        delete exporter_;
    }
}

void StatusNotifierTray::enter()
{
    entered_ = true;
    // A new watcher knows nothing of the items: all of them again, the last slot first, as hosts put each new
    // icon left of those before it.
    bool any = false;
    for (qsizetype i = items_.size() - 1; i >= 0; --i) {
        if (!items_.at(i))
            continue;
        items_.at(i)->registerWithWatcher();
        any = true;
    }
    if (any)
        orderOnceRead();
}

void StatusNotifierTray::leave()
{
    entered_ = false;
    settle_->stop();
    orderingsLeft_ = 0;
    for (const QPointer<StatusNotifierIcon>& item : std::as_const(items_))
        if (item)
            item->setActive(false);
}

StatusNotifierIcon* StatusNotifierTray::makeItem(bool registered)
{
    static quint64 number = 0;
    Spares& kept = spares();
    if (!exporter_ && kept.exporter) {
        exporter_ = kept.exporter;
        kept.exporter.clear();
        exporter_->setParent(nullptr);
        exporter_->setMenu(menu_);
    }
    if (!exporter_)
        exporter_ = new DBusMenuExporter(menu_, QStringLiteral("/StatusNotifierMenu/%1").arg(++number));
    const QPointer<QObject> context = context_.get();
    const auto popUp = [this, context](QPoint at, bool contextMenu) {
        // Off X a menu without a window of the program's own opens as a window by itself, wherever the
        // compositor puts it: only for a host that asks for the context menu, having none of its own.
        if (context && (contextMenu || QGuiApplication::platformName() == QLatin1String("xcb")))
            popUp_(at);
    };
    const auto read = [this, context](const QString& reader) {
        // Only the watcher's own reads count: a host in its process (XFCE's) reads on as it takes the icons in,
        // while anyone else's are no sign of that.
        if (context && orderingsLeft_ > 0 && reader == StatusNotifierWatch::shared().owner())
            settle_->start();
    };
    kept.items.removeAll(nullptr);
    for (qsizetype i = 0; i < kept.items.size(); ++i) {
        if (kept.items.at(i)->isRegisteredWithWatcher() != registered)
            continue;
        StatusNotifierIcon* item = kept.items.takeAt(i);
        item->setParent(nullptr);
        item->setOwner(exporter_->path(), popUp, read);
        return item;
    }
    if (registered)
        return nullptr;
    return new StatusNotifierIcon(QStringLiteral("/StatusNotifierItem/%1").arg(++number), exporter_->path(), popUp, read);
}

void StatusNotifierTray::orderOnceRead()
{
    orderingsLeft_ = kOrderings;
    settle_->start();
}

void StatusNotifierTray::orderItems()
{
    if (!entered_)
        return;
    // Shown again the last first: each host puts it left of those before it, whatever order it took them in.
    QList<StatusNotifierIcon*> shown;
    for (qsizetype i = 0; i < shownCount_ && i < items_.size(); ++i)
        if (items_.at(i))
            shown.append(items_.at(i));
    for (StatusNotifierIcon* item : std::as_const(shown))
        item->setActive(false);
    for (qsizetype i = shown.size() - 1; i >= 0; --i)
        shown.at(i)->setActive(true);
}

void StatusNotifierTray::prepareSlots(qsizetype count)
{
    items_.removeAll(nullptr);
    // A kept icon the watcher has already taken stands right of this tray's icons, all newer: it serves the
    // slots after them. Any other icon is taken anew, left of them all, so the slots before take the new
    // icons and the icons they had move on to the slots after, keeping their places on the host.
    QList<QPointer<StatusNotifierIcon>> fresh;
    while (items_.size() + fresh.size() < count) {
        if (fresh.isEmpty())
            if (StatusNotifierIcon* kept = makeItem(true)) {
                items_.append(kept);
                continue;
            }
        fresh.append(makeItem(false));
    }
    items_ = fresh + items_;
}

void StatusNotifierTray::showSlot(qsizetype index, const QIcon& icon, bool drawn, const QString& toolTip)
{
    if (items_.size() <= index)
        prepareSlots(index + 1);
    QPointer<StatusNotifierIcon>& item = items_[index];
    // Also what changed while another tray showed the slot.
    if (drawn || item->icon().cacheKey() != icon.cacheKey())
        item->setIcon(icon);
    item->setToolTip(toolTip);
    item->setTitle(QStringLiteral("%1 %2").arg(QCoreApplication::applicationName()).arg(index + 1));
    item->setActive(true);
}

void StatusNotifierTray::hideSlotsFrom(qsizetype count)
{
    shownCount_ = count;
    for (qsizetype i = count; i < items_.size(); ++i)
        if (items_.at(i))
            items_.at(i)->setActive(false);
}

void StatusNotifierTray::showMore(qsizetype before, qsizetype count)
{
    // New ones registered once their pixels are there, the last first; they stand before the others.
    (void)before;
    bool registered = false;
    for (qsizetype i = std::min(count, items_.size()) - 1; i >= 0; --i) {
        if (!items_.at(i) || items_.at(i)->isRegisteredWithWatcher())
            continue;
        items_.at(i)->registerWithWatcher();
        registered = true;
    }
    if (registered)
        orderOnceRead();
    else if (!settle_->isActive())
        orderItems();
}

} // namespace platform
