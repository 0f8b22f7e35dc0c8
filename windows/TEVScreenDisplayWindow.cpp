#include "windows/TEVScreenDisplayWindow.h"

#include "platform/desktop/widgets/AlertInFront.h"
#include "platform/desktop/widgets/DesktopLayer.h"
#include "platform/desktop/widgets/WindowHints.h"
#include "platform/desktop/widgets/WindowPosition.h"
#include "platform/desktop/widgets/WindowShape.h"
#include "windows/WindowPlacement.h"

#include <QBitmap>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRegion>
#include <QTextDocument>
#include <QWindow>

namespace {

// The shadow falls to the lower right, as light from the upper left would cast it.
constexpr QPoint kShadowOffset(1, 2);

} // namespace

TEVScreenDisplayWindow::TEVScreenDisplayWindow(bool translucent)
    : QWidget(nullptr)
    , translucent_(translucent)
{
    setObjectName(QStringLiteral("sensorWindow"));
    setAttribute(Qt::WA_TranslucentBackground, translucent_);
    // Without translucency the pixels inside the mask are this colour: anti-aliased edges blend into a
    // dark outline that reads on any desktop.
    setAutoFillBackground(false);
    applyWindowFlags();
    resize(100, 100);
}

void TEVScreenDisplayWindow::applyWindowFlags()
{
    const bool visible = isVisible();
    // A display over the desktop: it takes no keyboard focus from the window being worked in.
    Qt::WindowFlags flags = Qt::FramelessWindowHint | Qt::Tool | Qt::NoDropShadowWindowHint | Qt::WindowDoesNotAcceptFocus;
    flags |= backdrop_ ? Qt::WindowStaysOnBottomHint : Qt::WindowStaysOnTopHint;
    // A Wayland compositor keeps no window below the others but in its layer shell's desktop layer, where
    // the display takes no clicks: those on it reach the desktop.
    const bool below = backdrop_ && !platform::platformStacksWindows();
    const bool layered = platform::keepInDesktopLayer(this, below) && below;
    if (layered)
        flags |= Qt::BypassWindowManagerHint | Qt::WindowTransparentForInput;
    const bool aside = below && !layered;
    if (aside) {
        // Where no window can be kept below the others it comes up over them: the clicks at least go through
        // it, to the alert or window it covers. A plain window, not a tool: weston's X window manager keeps a
        // tool window of the program's over all its other windows, which a window opened later then could not
        // cover.
        flags |= Qt::WindowTransparentForInput;
        flags.setFlag(Qt::Tool, false);
        flags |= Qt::Window;
    }
    setWindowFlags(flags);
    // Out of sight while an alert waits: a press where it lies would bring it over the question.
    platform::stepAsideForAlerts(this, aside);
    // New flags hide the window. Shown again it is another X window than the one its show event saw.
    if (visible) {
        show();
        applyShape();
        platform::keepOutOfTaskbar(this);
    }
}

void TEVScreenDisplayWindow::enableBackdropMode(bool enable)
{
    if (backdrop_ == enable)
        return;
    backdrop_ = enable;
    applyWindowFlags();
}

void TEVScreenDisplayWindow::setHasShadow(bool shadow)
{
    if (shadow_ == shadow)
        return;
    shadow_ = shadow;
    reshape();
}

void TEVScreenDisplayWindow::setContent(QTextDocument& document, const QSize& size)
{
    QImage text(size.expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    text.fill(Qt::transparent);
    {
        QPainter painter(&text);
        document.drawContents(&painter);
    }
    text_ = text;
    reshape();
}

void TEVScreenDisplayWindow::reshape()
{
    if (text_.isNull())
        return;
    content_ = QImage(text_.size(), QImage::Format_ARGB32_Premultiplied);
    content_.fill(Qt::transparent);
    QPainter painter(&content_);
    if (shadow_) {
        QImage shadow = text_;
        QPainter tint(&shadow);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(shadow.rect(), QColor(0, 0, 0, 160));
        tint.end();
        painter.drawImage(kShadowOffset, shadow);
    }
    painter.drawImage(0, 0, text_);
    painter.end();
    // Only the drawn pixels belong to the window; the rest of its rectangle is the desktop. Translucent, it
    // draws its whole rectangle but takes clicks only on them, so the gaps reach the windows below.
    const QImage alpha = content_.createAlphaMask(Qt::ThresholdAlphaDither);
    const QRegion shape(QBitmap::fromImage(alpha));
    // An empty mask would mean no mask at all: the whole rectangle, black.
    shape_ = shape.isEmpty() ? QRegion(0, 0, 1, 1) : shape;
    applyShape();
    update();
}

void TEVScreenDisplayWindow::showEvent(QShowEvent* event)
{
    // A window made anew (new flags make one) has lost the shape and states its predecessor had.
    applyShape();
    platform::keepOutOfTaskbar(this);
    QWidget::showEvent(event);
}

void TEVScreenDisplayWindow::applyShape()
{
    if (shape_.isEmpty())
        return;
    if (!translucent_)
        platform::setWindowShape(this, shape_);
    // Clicks that go through the whole window have no shape to keep to.
    else if (!windowFlags().testFlag(Qt::WindowTransparentForInput))
        platform::setWindowInputShape(this, shape_);
}

void TEVScreenDisplayWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    if (translucent_) {
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    } else {
        painter.fillRect(rect(), Qt::black);
    }
    painter.drawImage(0, 0, content_);
}

void TEVScreenDisplayWindow::mousePressEvent(QMouseEvent* event)
{
    if (fixed_ || event->button() != Qt::LeftButton)
        return;
    // Wayland lets no client place its windows: the compositor moves it.
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && windowHandle()) {
        windowHandle()->startSystemMove();
        return;
    }
    initialLocation_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
}

void TEVScreenDisplayWindow::mouseMoveEvent(QMouseEvent* event)
{
    if (fixed_ || !(event->buttons() & Qt::LeftButton))
        return;
    const auto screens = WindowPlacement::currentScreens();
    const QPoint proposed = event->globalPosition().toPoint() - initialLocation_;
    move(WindowPlacement::dragTopLeft(proposed, WindowPlacement::screenIndexForFrame(frameGeometry(), screens), screens));
}
