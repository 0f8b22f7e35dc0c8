#include "framework/widgets/TEVAlphaCurtainView.h"

#include <QLinearGradient>
#include <QPainter>

TEVAlphaCurtainView::TEVAlphaCurtainView(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void TEVAlphaCurtainView::paintEvent(QPaintEvent*)
{
    // The whole bounds each time: a partial repaint would cut a strip's gradient.
    QPainter painter(this);
    const QRectF bounds(0, 0, width(), height());
    const QColor opaque(255, 255, 255, 255);
    const QColor clear(255, 255, 255, 0);

    const QRectF bottom(bounds.left(), bounds.bottom() - kCurtainDepth, bounds.width(), kCurtainDepth);
    QLinearGradient up(bottom.bottomLeft(), bottom.topLeft());
    up.setColorAt(0, opaque);
    up.setColorAt(1, clear);
    painter.fillRect(bottom, up);

    const QRectF top(bounds.left(), bounds.top(), bounds.width(), kCurtainDepth);
    QLinearGradient down(top.topLeft(), top.bottomLeft());
    down.setColorAt(0, opaque);
    down.setColorAt(1, clear);
    painter.fillRect(top, down);
}
