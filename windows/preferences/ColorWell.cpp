#include "windows/preferences/ColorWell.h"

#include <QColorDialog>
#include <QPainter>
#include <QStyleOptionToolButton>
#include <QStylePainter>

ColorWell::ColorWell(QWidget* parent)
    : QToolButton(parent)
{
    setMinimumSize(44, 24);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    connect(this, &QToolButton::clicked, this, &ColorWell::openColorDialog);
}

QColor ColorWell::toQColor(const std::shared_ptr<platform::Color>& color)
{
    if (!color)
        return {};
    return QColor::fromRgbF(color->red(), color->green(), color->blue(), color->alpha());
}

void ColorWell::setColor(const std::shared_ptr<platform::Color>& color)
{
    color_ = color;
    update();
}

void ColorWell::pickColor(const QColor& color)
{
    if (!color.isValid())
        return;
    const QColor rgb = color.toRgb();
    setColor(platform::Color::rgb(platform::Color::Space::CalibratedRGB, float(rgb.redF()), float(rgb.greenF()),
                                  float(rgb.blueF()), float(rgb.alphaF())));
    Q_EMIT colorChanged();
}

void ColorWell::openColorDialog()
{
    const QColor chosen = QColorDialog::getColor(toQColor(color_).isValid() ? toQColor(color_) : QColor(Qt::black), this,
                                                 QString(), QColorDialog::ShowAlphaChannel);
    pickColor(chosen);
}

void ColorWell::paintEvent(QPaintEvent*)
{
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ToolButton, option);
    const QRect swatch = rect().adjusted(6, 5, -6, -5);
    // A checkerboard under a translucent colour shows how translucent it is.
    painter.fillRect(swatch, QBrush(Qt::white));
    painter.fillRect(swatch, QBrush(QColor(200, 200, 200), Qt::Dense4Pattern));
    const QColor shown = toQColor(color_);
    if (shown.isValid())
        painter.fillRect(swatch, isEnabled() ? shown : QColor(shown.red(), shown.green(), shown.blue(), shown.alpha() / 3));
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawRect(swatch.adjusted(0, 0, -1, -1));
}
