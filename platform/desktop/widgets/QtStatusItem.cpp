#include "platform/desktop/widgets/QtStatusItem.h"

#include "platform/desktop/widgets/StatusNotifierTray.h"
#include "platform/desktop/widgets/StatusNotifierWatch.h"
#include "platform/desktop/widgets/XEmbedTray.h"
#include "platform/foundation/Log.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIcon>
#include <QIconEngine>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QScreen>
#include <QStyleFactory>
#include <QThread>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <utility>

namespace platform {

namespace {

constexpr int kSmallestPixelSize = 6;

// The application's style, for a menu that keeps a panel's worth of the screen clear at either edge: Qt's menu
// starts its next column there.
class PanelClearMenuStyle final : public QProxyStyle {
public:
    PanelClearMenuStyle() : QProxyStyle(QStyleFactory::create(QApplication::style()->name())) {}

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        const int base = QProxyStyle::pixelMetric(metric, option, widget);
        return metric == PM_MenuDesktopFrameWidth ? std::max(base, QtStatusItem::menuPanelAllowance) : base;
    }
};

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
// unit; a bare "42.0°C" whole or as number over unit. With `named` false, those without the name.
QList<QStringList> arrangements(const QString& text, bool named = true)
{
    QString name;
    QString value = text.trimmed();
    if (const qsizetype colon = value.indexOf(QLatin1String(": ")); colon > 0) {
        name = value.left(colon).trimmed();
        value = value.mid(colon + 2).trimmed();
    }
    const QStringList lead = name.isEmpty() || !named ? QStringList() : QStringList{name};
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
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        keepClearOfPanels(menu_);
    const auto popUp = [this](QPoint at) { popUpMenu(at); };
    xembed_ = std::make_unique<XEmbedTray>(menu_, popUp);
    statusNotifier_ = std::make_unique<StatusNotifierTray>(menu_, popUp);
    // Whether a StatusNotifierWatcher runs is known only once the bus has answered; until then nothing shows.
    QObject::connect(&StatusNotifierWatch::shared(), &StatusNotifierWatch::changed, context_.get(), [this] { chooseTray(); });
    chooseTray();
}

QtStatusItem::~QtStatusItem()
{
    context_.reset();
    // The icons go first, each as its transport lets them go while a host may still read them; then the menu
    // they show, once the calls already handed over are done.
    xembed_.reset();
    statusNotifier_.reset();
    const bool running = QThread::currentThread()->loopLevel() > 0 && !QCoreApplication::closingDown();
    if (running)
        menu_->deleteLater();
    else
        delete menu_;
}

void QtStatusItem::keepClearOfPanels(QMenu* menu)
{
    auto* style = new PanelClearMenuStyle;
    style->setParent(menu);
    menu->setStyle(style);
}

QtStatusItem::Layout QtStatusItem::layoutForText(const QString& text, const QFont& font, QSize size)
{
    // The number as large as it gets; then the smallest line as large as it gets.
    const auto better = [](const Layout& one, const Layout& other) {
        const int number = one.pixelSizes.at(primaryLine(one.lines));
        const int otherNumber = other.pixelSizes.at(primaryLine(other.lines));
        return number > otherNumber ||
               (number == otherNumber && *std::min_element(one.pixelSizes.begin(), one.pixelSizes.end()) >
                                             *std::min_element(other.pixelSizes.begin(), other.pixelSizes.end()));
    };
    // A line wider than the box even at the smallest size would be cut at both sides.
    const auto whole = [&](const Layout& layout) {
        for (qsizetype i = 0; i < layout.lines.size(); ++i)
            if (ink(layout.lines.at(i), font, layout.pixelSizes.at(i)).width() > size.width())
                return false;
        return true;
    };
    // With the name where it fits whole, else the value alone; cut only where nothing fits.
    Layout best;
    Layout cut;
    for (const bool named : {true, false}) {
        for (const QStringList& lines : arrangements(text, named)) {
            Layout layout{lines, fit(lines, font, size)};
            const qsizetype primary = primaryLine(lines);
            // No unit or name outshines the number.
            for (int& lineSize : layout.pixelSizes)
                lineSize = std::min(lineSize, layout.pixelSizes.at(primary));
            Layout& pool = whole(layout) ? best : cut;
            if (pool.lines.isEmpty() || better(layout, pool))
                pool = std::move(layout);
        }
        if (!best.lines.isEmpty())
            return best;
    }
    return cut;
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

    if (tray != tray_)
        if (TrayTransport* left = transport(tray_))
            left->leave();
    if (tray == Tray::None && watch.state() != StatusNotifierWatch::State::Unknown &&
        !std::exchange(loggedMissingTray(), true))
        log("StatusItem", QStringLiteral("no system tray yet; the values show in the tray once one starts"));
    if (tray != tray_)
        shownCount_ = 0;
    tray_ = tray;
    if (TrayTransport* entered = transport(tray_))
        entered->enter();
    showIcons();
}

TrayTransport* QtStatusItem::transport(Tray tray) const
{
    switch (tray) {
    case Tray::XEmbed:
        return xembed_.get();
    case Tray::StatusNotifier:
        return statusNotifier_.get();
    case Tray::None:
        break;
    }
    return nullptr;
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

    TrayTransport* const shownBy = transport(tray_);
    if (shownBy && count > shownCount_)
        shownBy->prepareSlots(count);
    for (qsizetype i = 0; i < count; ++i) {
        Slot& slot = slots_[i];
        const Run run = showsImage ? Run{} : title_.at(i);
        bool drawn = false;
        if (slot.shown != run) {
            slot.shown = run;
            slot.icon = QIcon(new SlotIconEngine(run, font_, showsImage ? image_ : QImage()));
            drawn = true;
        }
        if (shownBy)
            shownBy->showSlot(i, slot.icon, drawn, toolTip);
    }
    // Slots beyond the count hidden and kept: a host may still read them, and a later count shows them again.
    if (shownBy)
        shownBy->hideSlotsFrom(count);
    const bool more = count > shownCount_;
    const qsizetype before = shownCount_;
    shownCount_ = count;
    if (more && shownBy)
        shownBy->showMore(before, count);
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

qsizetype QtStatusItem::valuesAtTopLevel(int screenHeight, qsizetype trailingLines)
{
    const qsizetype lines = (screenHeight - 2 * menuPanelAllowance) / hostMenuLineHeight;
    // The separator and the submenu's line.
    return std::max<qsizetype>(1, lines - trailingLines - 2);
}

void QtStatusItem::rebuildMenu()
{
    // The one menu stays where the icons and the hosts know it; only its items change. Hosts that draw the
    // menu themselves do not scroll it, nor know the screen it opens on: the values beyond what fits above the
    // commands on this screen go into a submenu, so that every command is on the screen.
    menu_->clear();
    if (moreValues_)
        moreValues_->deleteLater();
    itemActions_.clear();
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qsizetype top = valuesAtTopLevel(screen ? screen->geometry().height() : 768, trailing_.size());
    QMenu* into = menu_;
    for (qsizetype i = 0; i < items_.size(); ++i) {
        if (i == top && items_.size() > top + 1) {
            moreValues_ = menu_->addMenu(QCoreApplication::translate("QtStatusItem", "More Values"));
            into = moreValues_;
        }
        itemActions_.append(into->addAction(items_.at(i)));
    }
    if (!trailing_.isEmpty()) {
        if (!items_.isEmpty())
            menu_->addSeparator();
        menu_->addActions(trailing_);
    }
}

} // namespace platform
