#include "framework/widgets/TEVSimpleColorView.h"

#include <QPaintEvent>
#include <QPainter>

TEVSimpleColorView::TEVSimpleColorView(QWidget* parent)
    : QWidget(parent)
{
}

QColor TEVSimpleColorView::color() const
{
    std::lock_guard lock(mutex_);
    return color_;
}

void TEVSimpleColorView::setColor(const QColor& color)
{
    std::lock_guard lock(mutex_);
    color_ = color;
}

void TEVSimpleColorView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(event->rect(), color());
}
