#include "platform/desktop/widgets/QtStatusItem.h"

#include "platform/foundation/Log.h"

#include <QAction>
#include <QCoreApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <algorithm>
#include <utility>

namespace platform {

namespace {

constexpr int kIconSize = 64;

bool& loggedMissingTray()
{
    static bool logged = false;
    return logged;
}

} // namespace

QtStatusItem::QtStatusItem()
    : available_(QSystemTrayIcon::isSystemTrayAvailable())
{
    if (!available_ && !std::exchange(loggedMissingTray(), true))
        log("StatusItem", QStringLiteral("no system tray is available; the values are not shown in the tray"));
}

QtStatusItem::~QtStatusItem()
{
    qDeleteAll(icons_);
}

QImage QtStatusItem::iconForRun(const Run& run, const QFont& font, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QColor color = run.color.isValid() ? run.color : QColor(Qt::black);
    QColor text = color;
    if (run.inverted) {
        painter.setBrush(color);
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(0, 0, size, size), size / 8.0, size / 8.0);
        text = color.lightnessF() > 0.6 ? QColor(Qt::black) : QColor(Qt::white);
    } else {
        // A light plate keeps a dark value legible on a dark panel and the reverse.
        painter.setBrush(color.lightnessF() > 0.6 ? QColor(40, 40, 40, 220) : QColor(245, 245, 245, 230));
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(0, 0, size, size), size / 8.0, size / 8.0);
    }
    // Two lines, so the text can be large in a small tray: "name: value" as name over value, a bare value as
    // its number over its unit.
    QString label = run.text.trimmed();
    const qsizetype colon = label.indexOf(QLatin1String(": "));
    if (colon > 0) {
        label = label.left(colon) + QLatin1Char('\n') + label.mid(colon + 2).trimmed();
    } else {
        qsizetype unit = 0;
        while (unit < label.size() && (label.at(unit).isDigit() || QStringLiteral(".,-+ ").contains(label.at(unit))))
            ++unit;
        if (unit > 0 && unit < label.size())
            label = label.left(unit).trimmed() + QLatin1Char('\n') + label.mid(unit).trimmed();
    }
    const QStringList lines = label.split(QLatin1Char('\n'));
    QFont drawn = font;
    const QRectF box(size * 0.06, size * 0.06, size * 0.88, size * 0.88);
    double points = size;
    for (; points > 4; points -= 1) {
        drawn.setPixelSize(int(points));
        const QFontMetricsF metrics(drawn);
        double widest = 0;
        for (const QString& line : lines)
            widest = std::max(widest, metrics.horizontalAdvance(line));
        if (widest <= box.width() && metrics.height() * lines.size() <= box.height())
            break;
    }
    drawn.setBold(true);
    painter.setFont(drawn);
    painter.setPen(text);
    painter.drawText(box, Qt::AlignCenter, lines.join(QLatin1Char('\n')));
    return image;
}

void QtStatusItem::setTitle(const Title& title, const QFont& font)
{
    // Every tick sets the title; icons are drawn again only when it reads differently.
    if (title == title_ && font == font_ && !icons_.isEmpty())
        return;
    title_ = title;
    font_ = font;
    showIcons();
}

void QtStatusItem::setImage(const QImage& image)
{
    image_ = image;
    showIcons();
}

void QtStatusItem::showIcons()
{
    if (!available_)
        return;
    const bool showsImage = title_.isEmpty() && !image_.isNull();
    const qsizetype count = showsImage ? 1 : title_.size();
    QString tooltip;
    for (const Run& run : std::as_const(title_))
        tooltip += run.text;
    while (icons_.size() < count) {
        auto* icon = new QSystemTrayIcon;
        icon->setContextMenu(menu_.get());
        icons_.append(icon);
    }
    while (icons_.size() > count)
        delete icons_.takeLast();
    for (qsizetype i = 0; i < count; ++i) {
        QSystemTrayIcon* icon = icons_.at(i);
        icon->setIcon(showsImage ? QIcon(QPixmap::fromImage(image_))
                                 : QIcon(QPixmap::fromImage(iconForRun(title_.at(i), font_, kIconSize))));
        icon->setToolTip(showsImage ? QCoreApplication::applicationName() : tooltip.trimmed());
        if (!icon->isVisible())
            icon->show();
    }
}

qsizetype QtStatusItem::menuItemCount() const
{
    return items_.size();
}

void QtStatusItem::setMenuItems(const QStringList& titles)
{
    items_ = titles;
    rebuildMenu();
}

void QtStatusItem::setMenuItemTitle(qsizetype index, const QString& title)
{
    if (index < 0 || index >= items_.size())
        return;
    items_[index] = title;
    if (index < itemActions_.size())
        itemActions_.at(index)->setText(title);
}

void QtStatusItem::rebuildMenu()
{
    for (QSystemTrayIcon* icon : std::as_const(icons_))
        icon->setContextMenu(nullptr);
    itemActions_.clear();
    menu_.reset();
    if (items_.isEmpty() && trailing_.isEmpty())
        return;
    menu_ = std::make_unique<QMenu>();
    menu_->setTitle(QStringLiteral("UNTITLED"));
    for (const QString& title : std::as_const(items_))
        itemActions_.append(menu_->addAction(title));
    if (!trailing_.isEmpty()) {
        if (!items_.isEmpty())
            menu_->addSeparator();
        menu_->addActions(trailing_);
    }
    for (QSystemTrayIcon* icon : std::as_const(icons_))
        icon->setContextMenu(menu_.get());
}

} // namespace platform
