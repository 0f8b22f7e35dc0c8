#include "windows/history/TEVSimpleColorCell.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

TEVSimpleColorCell::TEVSimpleColorCell(QObject* parent)
    : QStyledItemDelegate(parent)
{
}

QRect TEVSimpleColorCell::swatchRectForCellFrame(const QRect& frame)
{
    const int w = int(frame.width() * 0.6);
    const int h = int(frame.height() * 0.75);
    return QRect(frame.x() + (frame.width() - w) / 2, frame.y() + (frame.height() - h) / 2, w, h);
}

void TEVSimpleColorCell::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    // Colours only: anything else in the cell draws no swatch.
    const QVariant value = index.data(Qt::DecorationRole);
    if (value.metaType().id() != QMetaType::QColor)
        return;
    // The row's background (selected or not) behind the swatch.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    const QWidget* widget = option.widget;
    (widget ? widget->style() : QApplication::style())->drawPrimitive(QStyle::PE_PanelItemViewItem, &background, painter, widget);
    const QRect swatch = swatchRectForCellFrame(option.rect);
    painter->save();
    painter->fillRect(swatch, value.value<QColor>());
    const bool alternate = pressedRow_ == index.row();
    painter->setPen(option.palette.color(alternate ? QPalette::HighlightedText : QPalette::Text));
    painter->drawRect(swatch.adjusted(0, 0, -1, -1));
    painter->restore();
}

bool TEVSimpleColorCell::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                     const QModelIndex& index)
{
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease)
        return false;
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton)
        return false;
    const bool inside = swatchRectForCellFrame(option.rect).contains(mouse->position().toPoint());
    if (event->type() == QEvent::MouseButtonPress) {
        if (!inside)
            return false;
        pressedRow_ = index.row();
        return true;
    }
    const int pressed = std::exchange(pressedRow_, -1);
    if (pressed < 0)
        return false;
    if (pressed == index.row() && action_)
        action_(pressed);
    return true;
}
