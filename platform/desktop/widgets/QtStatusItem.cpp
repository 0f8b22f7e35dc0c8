#include "platform/desktop/widgets/QtStatusItem.h"

#include "platform/desktop/widgets/StatusNotifierItem.h"
#include "platform/foundation/Log.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIcon>
#include <QIconEngine>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <utility>

namespace platform {

namespace {

constexpr int kSmallestPixelSize = 6;
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

bool& loggedMissingTray()
{
    static bool logged = false;
    return logged;
}

// Small text reads best bold and a little narrow, with its glyphs fitted to the pixel grid.
QFont trayFont(const QFont& font, int pixelSize)
{
    QFont tray = font;
    tray.setBold(true);
    tray.setStretch(QFont::SemiCondensed);
    tray.setHintingPreference(QFont::PreferFullHinting);
    tray.setPixelSize(pixelSize);
    return tray;
}

QRectF ink(const QString& line, const QFont& font, int pixelSize)
{
    return QFontMetricsF(trayFont(font, pixelSize)).tightBoundingRect(line);
}

int gapBetweenLines(int pixelSize)
{
    return std::max(1, pixelSize / 8);
}

bool isNumberPart(QChar c)
{
    // Group separators of the user's locale are blanks of several kinds.
    return c.isDigit() || c == QLatin1Char('.') || c == QLatin1Char(',') || c == QLatin1Char('-') ||
           c == QLatin1Char('+') || c.isSpace();
}

// The ways a slot's text can be set: "name: 42.0°C" as one line under the name, or as name, number and
// unit; a bare "42.0°C" whole or as number over unit.
QList<QStringList> arrangements(const QString& text)
{
    QString name;
    QString value = text.trimmed();
    if (const qsizetype colon = value.indexOf(QLatin1String(": ")); colon > 0) {
        name = value.left(colon).trimmed();
        value = value.mid(colon + 2).trimmed();
    }
    const QStringList lead = name.isEmpty() ? QStringList() : QStringList{name};
    QList<QStringList> result{lead + QStringList{value}};
    qsizetype unit = 0;
    while (unit < value.size() && isNumberPart(value.at(unit)))
        ++unit;
    if (unit > 0 && unit < value.size())
        result.append(lead + QStringList{value.left(unit).trimmed(), value.mid(unit).trimmed()});
    return result;
}

// Each line as large as the width allows, then all capped alike until they fit one above another.
QList<int> fit(const QStringList& lines, const QFont& font, QSize box)
{
    const int tallest = std::max(kSmallestPixelSize, box.height());
    QList<int> widest;
    for (const QString& line : lines) {
        // Text widths grow about linearly with the size: guess from one measure, then step down to fit.
        const double width = ink(line, font, tallest).width();
        int size = width > 0 ? std::min(tallest, int(tallest * box.width() / width)) : tallest;
        while (size > kSmallestPixelSize && ink(line, font, size).width() > box.width())
            --size;
        widest.append(std::max(size, kSmallestPixelSize));
    }
    const auto capped = [&](int cap) {
        QList<int> sizes;
        for (int size : std::as_const(widest))
            sizes.append(std::min(size, cap));
        return sizes;
    };
    const auto height = [&](const QList<int>& sizes) {
        double total = 0;
        for (qsizetype i = 0; i < lines.size(); ++i)
            total += ink(lines.at(i), font, sizes.at(i)).height() + (i > 0 ? gapBetweenLines(sizes.at(i)) : 0);
        return total;
    };
    int low = kSmallestPixelSize, high = *std::max_element(widest.begin(), widest.end());
    while (low < high) {
        const int middle = (low + high + 1) / 2;
        if (height(capped(middle)) <= box.height())
            low = middle;
        else
            high = middle - 1;
    }
    return capped(low);
}

// The line that carries the value's number (the first with a digit), else the first.
qsizetype primaryLine(const QStringList& lines)
{
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (std::any_of(lines.at(i).begin(), lines.at(i).end(), [](QChar c) { return c.isDigit(); }))
            return i;
    return 0;
}

// One slot's icon, drawn at whatever size it is painted: no scaling, so the text is set for the pixels the
// host gives, and the drawing of each size is kept until the slot changes.
class SlotIconEngine final : public QIconEngine {
public:
    SlotIconEngine(QtStatusItem::Run run, QFont font, QImage image)
        : run_(std::move(run)), font_(std::move(font)), image_(std::move(image))
    {
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
        painter->drawImage(rect, drawn(rect.size() * ratio));
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override { return QPixmap::fromImage(drawn(size)); }
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new SlotIconEngine(*this); }
    QString key() const override { return QStringLiteral("KelvaroTraySlot"); }

private:
    const QImage& drawn(QSize size)
    {
        if (cache_.size() == size)
            return cache_;
        if (image_.isNull())
            cache_ = QtStatusItem::iconForRun(run_, font_, size);
        else
            cache_ = image_.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        return cache_;
    }

    QtStatusItem::Run run_;
    QFont font_;
    QImage image_;
    QImage cache_;
};

} // namespace

QtStatusItem::QtStatusItem() : context_(std::make_unique<QObject>()), menu_(new QMenu)
{
    menu_->setTitle(QStringLiteral("UNTITLED"));
    settle_ = new QTimer(context_.get());
    settle_->setSingleShot(true);
    settle_->setInterval(kSettleMs);
    QObject::connect(settle_, &QTimer::timeout, context_.get(), [this] {
        --orderingsLeft_;
        orderItems();
    });
    // Whether a StatusNotifierWatcher runs is known only once the bus has answered; until then nothing shows.
    QObject::connect(&StatusNotifierWatch::shared(), &StatusNotifierWatch::changed, context_.get(), [this] { chooseTray(); });
    chooseTray();
}

QtStatusItem::~QtStatusItem()
{
    context_.reset();
    // While the program runs a host may read an icon at any time: StatusNotifierItems are hidden and kept for
    // the next item, XEmbed icons destroyed once the calls already handed over are done, the menu after the
    // icons that show it. Once no event loop runs any more, all go at once.
    const bool running = QThread::currentThread()->loopLevel() > 0 && !QCoreApplication::closingDown();
    const auto dispose = [running](QObject* object) {
        if (object && running)
            object->deleteLater();
        else
            delete object;
    };
    for (Slot& slot : slots_) {
        if (slot.xembed)
            slot.xembed->hide();
        dispose(slot.xembed);
        if (!slot.item)
            continue;
        if (running) {
            slot.item->setActive(false);
            slot.item->setOwner(slot.item->menuPath(), {}, {});
            // Goes with the application object at the latest.
            slot.item->setParent(&StatusNotifierWatch::shared());
            spares().items.append(slot.item);
        } else {
            delete slot.item;
        }
    }
    if (exporter_ && running) {
        exporter_->setMenu(nullptr);
        exporter_->setParent(&StatusNotifierWatch::shared());
        spares().exporter = exporter_;
    } else {
        delete exporter_;
    }
    dispose(menu_);
}

QtStatusItem::Layout QtStatusItem::layoutForText(const QString& text, const QFont& font, QSize size)
{
    Layout best;
    for (const QStringList& lines : arrangements(text)) {
        QList<int> sizes = fit(lines, font, size);
        const qsizetype primary = primaryLine(lines);
        // No unit or name outshines the number.
        for (int& lineSize : sizes)
            lineSize = std::min(lineSize, sizes.at(primary));
        const qsizetype bestPrimary = primaryLine(best.lines);
        // The number as large as it gets; then the smallest line as large as it gets.
        if (best.lines.isEmpty() || sizes.at(primary) > best.pixelSizes.at(bestPrimary) ||
            (sizes.at(primary) == best.pixelSizes.at(bestPrimary) &&
             *std::min_element(sizes.begin(), sizes.end()) >
                 *std::min_element(best.pixelSizes.begin(), best.pixelSizes.end())))
            best = {lines, sizes};
    }
    return best;
}

QImage QtStatusItem::iconForRun(const Run& run, const QFont& font, QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (size.isEmpty())
        return image;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QColor color = run.color.isValid() ? run.color : QColor(Qt::black);
    QColor text = color;
    const double side = std::min(size.width(), size.height());
    painter.setPen(Qt::NoPen);
    if (run.inverted) {
        painter.setBrush(color);
        text = color.lightnessF() > 0.6 ? QColor(Qt::black) : QColor(Qt::white);
    } else {
        // A light plate keeps a dark value legible on a dark panel and the reverse.
        painter.setBrush(color.lightnessF() > 0.6 ? QColor(40, 40, 40, 220) : QColor(245, 245, 245, 230));
    }
    painter.drawRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), side / 6, side / 6);

    const int margin = std::max(1, int(side / 20));
    const QSize box = size - QSize(2 * margin, 2 * margin);
    const Layout layout = layoutForText(run.shortText.isEmpty() ? run.text : run.shortText, font, box);
    QList<QRectF> inks;
    double height = 0;
    for (qsizetype i = 0; i < layout.lines.size(); ++i) {
        inks.append(ink(layout.lines.at(i), font, layout.pixelSizes.at(i)));
        height += inks.last().height() + (i > 0 ? gapBetweenLines(layout.pixelSizes.at(i)) : 0);
    }
    painter.setPen(text);
    double top = margin + (box.height() - height) / 2;
    for (qsizetype i = 0; i < layout.lines.size(); ++i) {
        const QRectF& lineInk = inks.at(i);
        if (i > 0)
            top += gapBetweenLines(layout.pixelSizes.at(i));
        painter.setFont(trayFont(font, layout.pixelSizes.at(i)));
        // Whole pixels: hinted glyphs stay sharp only on the grid.
        painter.drawText(QPointF(std::round((size.width() - lineInk.width()) / 2 - lineInk.left()),
                                 std::round(top - lineInk.top())),
                         layout.lines.at(i));
        top += lineInk.height();
    }
    return image;
}

void QtStatusItem::setTitle(const Title& title, const QFont& font)
{
    // Every tick sets the title; a slot is drawn and sent again only when it reads differently.
    if (title == title_ && font == font_)
        return;
    if (font != font_)
        for (Slot& slot : slots_)
            slot.shown.reset();
    font_ = font;
    title_ = title;
    showIcons();
}

void QtStatusItem::setImage(const QImage& image)
{
    if (image == image_)
        return;
    image_ = image;
    for (Slot& slot : slots_)
        slot.shown.reset();
    showIcons();
}

void QtStatusItem::chooseTray()
{
    const StatusNotifierWatch& watch = StatusNotifierWatch::shared();
    Tray tray = Tray::None;
    if (watch.state() == StatusNotifierWatch::State::Present)
        tray = Tray::StatusNotifier;
    else if (watch.state() == StatusNotifierWatch::State::Absent &&
             QGuiApplication::platformName() == QLatin1String("xcb"))
        tray = Tray::XEmbed;
    const bool newWatcher = tray == Tray::StatusNotifier && watch.generation() != watcherGeneration_;
    watcherGeneration_ = watch.generation();
    if (tray == tray_ && !newWatcher)
        return;

    if (tray_ == Tray::XEmbed && tray != Tray::XEmbed) {
        for (Slot& slot : slots_) {
            if (slot.xembed) {
                slot.xembed->hide();
                slot.xembed->deleteLater();
            }
        }
    }
    if (tray_ == Tray::StatusNotifier && tray != Tray::StatusNotifier) {
        settle_->stop();
        orderingsLeft_ = 0;
        for (Slot& slot : slots_)
            if (slot.item)
                slot.item->setActive(false);
    }
    if (tray == Tray::None && watch.state() != StatusNotifierWatch::State::Unknown &&
        !std::exchange(loggedMissingTray(), true))
        log("StatusItem", QStringLiteral("no system tray yet; the values show in the tray once one starts"));
    if (tray != tray_)
        shownCount_ = 0;
    tray_ = tray;

    if (tray_ == Tray::StatusNotifier) {
        // A new watcher knows nothing of the items: all of them again, the last slot first, as hosts put each
        // new icon left of those before it.
        bool any = false;
        for (qsizetype i = slots_.size() - 1; i >= 0; --i) {
            if (!slots_.at(i).item)
                continue;
            slots_.at(i).item->registerWithWatcher();
            any = true;
        }
        if (any)
            orderOnceRead();
    }
    showIcons();
}

QSystemTrayIcon* QtStatusItem::makeXEmbedIcon()
{
    auto* icon = new QSystemTrayIcon;
    icon->setContextMenu(menu_);
    QObject::connect(icon, &QSystemTrayIcon::activated, context_.get(), [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            popUpMenu(QCursor::pos());
    });
    return icon;
}

StatusNotifierIcon* QtStatusItem::makeItem()
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
            popUpMenu(at);
    };
    const auto read = [this, context](const QString& reader) {
        // Only the watcher's own reads count: a host in its process (XFCE's) reads on as it takes the icons in,
        // while anyone else's are no sign of that.
        if (context && orderingsLeft_ > 0 && reader == StatusNotifierWatch::shared().owner())
            settle_->start();
    };
    kept.items.removeAll(nullptr);
    if (!kept.items.isEmpty()) {
        StatusNotifierIcon* item = kept.items.takeFirst();
        item->setParent(nullptr);
        item->setOwner(exporter_->path(), popUp, read);
        return item;
    }
    return new StatusNotifierIcon(QStringLiteral("/StatusNotifierItem/%1").arg(++number), exporter_->path(), popUp, read);
}

void QtStatusItem::orderOnceRead()
{
    orderingsLeft_ = kOrderings;
    settle_->start();
}

void QtStatusItem::orderItems()
{
    if (tray_ != Tray::StatusNotifier)
        return;
    // Shown again the last first: each host puts it left of those before it, whatever order it took them in.
    QList<StatusNotifierIcon*> shown;
    for (qsizetype i = 0; i < shownCount_ && i < slots_.size(); ++i)
        if (slots_.at(i).item)
            shown.append(slots_.at(i).item);
    for (StatusNotifierIcon* item : std::as_const(shown))
        item->setActive(false);
    for (qsizetype i = shown.size() - 1; i >= 0; --i)
        shown.at(i)->setActive(true);
}

void QtStatusItem::showIcons()
{
    const bool showsImage = title_.isEmpty() && !image_.isNull();
    const qsizetype count = tray_ == Tray::None ? 0 : showsImage ? 1 : title_.size();
    while (slots_.size() < count)
        slots_.append(Slot{});
    QString toolTip;
    for (const Run& run : std::as_const(title_))
        toolTip += run.text;
    toolTip = showsImage ? QCoreApplication::applicationName() : toolTip.trimmed();

    for (qsizetype i = 0; i < count; ++i) {
        Slot& slot = slots_[i];
        const Run run = showsImage ? Run{} : title_.at(i);
        bool drawn = false;
        if (slot.shown != run) {
            slot.shown = run;
            slot.icon = QIcon(new SlotIconEngine(run, font_, showsImage ? image_ : QImage()));
            drawn = true;
        }
        if (tray_ == Tray::XEmbed) {
            if (!slot.xembed) {
                slot.xembed = makeXEmbedIcon();
                drawn = true;
            }
            if (drawn)
                slot.xembed->setIcon(slot.icon);
            if (slot.xembed->toolTip() != toolTip)
                slot.xembed->setToolTip(toolTip);
        } else if (tray_ == Tray::StatusNotifier) {
            if (!slot.item)
                slot.item = makeItem();
            // Also what changed while another tray showed the slot.
            if (drawn || slot.item->icon().cacheKey() != slot.icon.cacheKey())
                slot.item->setIcon(slot.icon);
            slot.item->setToolTip(toolTip);
            slot.item->setActive(true);
        }
    }
    // Slots beyond the count hidden and kept: a host may still read them, and a later count shows them again.
    for (qsizetype i = count; i < slots_.size(); ++i) {
        if (slots_.at(i).xembed && slots_.at(i).xembed->isVisible())
            slots_.at(i).xembed->hide();
        if (slots_.at(i).item)
            slots_.at(i).item->setActive(false);
    }
    const bool more = count > shownCount_;
    const qsizetype before = shownCount_;
    shownCount_ = count;
    if (!more)
        return;
    if (tray_ == Tray::XEmbed) {
        // A tray host puts each icon it docks left of those before it, and docks them again in the order they
        // were first shown when it restarts: all again, the last slot first, so the icons read as the title does.
        for (qsizetype i = 0; i < count; ++i)
            if (slots_.at(i).xembed->isVisible())
                slots_.at(i).xembed->hide();
        for (qsizetype i = count - 1; i >= 0; --i)
            slots_.at(i).xembed->show();
    } else if (tray_ == Tray::StatusNotifier) {
        // New ones registered once their pixels are there, the last first.
        bool registered = false;
        for (qsizetype i = count - 1; i >= before; --i) {
            if (slots_.at(i).item->isRegisteredWithWatcher())
                continue;
            slots_.at(i).item->registerWithWatcher();
            registered = true;
        }
        if (registered)
            orderOnceRead();
        else if (!settle_->isActive())
            orderItems();
    }
}

void QtStatusItem::popUpMenu(QPoint at)
{
    if (!menu_ || menu_->isVisible())
        return;
    // A Wayland client's menu that none of its windows opened is a window of its own, which a tiling compositor
    // makes a tile the size of the screen: of one size, it floats. The window's limits only: the menu's own
    // would lay its items out in one column, off the screen.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        menu_->winId();
        if (QWindow* window = menu_->windowHandle()) {
            const QSize size = menu_->sizeHint();
            window->setMinimumSize(size);
            window->setMaximumSize(size);
        }
    }
    menu_->popup(at);
}

qsizetype QtStatusItem::menuItemCount() const
{
    return items_.size();
}

void QtStatusItem::setMenuItems(const QStringList& titles)
{
    if (titles == items_)
        return;
    if (titles.size() == items_.size()) {
        // The same items with other titles: changed in place, as a host may be showing the menu.
        for (qsizetype i = 0; i < titles.size(); ++i)
            setMenuItemTitle(i, titles.at(i));
        return;
    }
    items_ = titles;
    rebuildMenu();
}

void QtStatusItem::setMenuItemTitle(qsizetype index, const QString& title)
{
    if (index < 0 || index >= items_.size())
        return;
    items_[index] = title;
    if (index < itemActions_.size() && itemActions_.at(index)->text() != title)
        itemActions_.at(index)->setText(title);
}

void QtStatusItem::rebuildMenu()
{
    // The one menu stays where the icons and the hosts know it; only its items change.
    menu_->clear();
    itemActions_.clear();
    for (const QString& title : std::as_const(items_))
        itemActions_.append(menu_->addAction(title));
    if (!trailing_.isEmpty()) {
        if (!items_.isEmpty())
            menu_->addSeparator();
        menu_->addActions(trailing_);
    }
}

} // namespace platform
