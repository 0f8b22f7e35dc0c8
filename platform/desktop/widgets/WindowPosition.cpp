#include "platform/desktop/widgets/WindowPosition.h"

#include "platform/desktop/widgets/WindowHints.h"

#include <QEvent>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QWidget>

namespace platform {

bool platformKnowsWindowPositions()
{
    return !QGuiApplication::platformName().startsWith(QLatin1String("wayland")) && windowManagerTellsPlaces();
}

bool platformStacksWindows()
{
    // Under a Wayland session the X server is the compositor's XWayland, whose window manager stacks its
    // windows as the compositor does its own: a new window goes on top, and a raise or "below" is not heard.
    const QString platform = QGuiApplication::platformName();
    return !platform.startsWith(QLatin1String("wayland")) &&
           !(platform == QLatin1String("xcb") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"));
}

bool changesFrameRecord(const QEvent* event, bool positionsKnown)
{
    if (!event || (event->type() != QEvent::Move && event->type() != QEvent::Resize))
        return false;
    return positionsKnown || (event->type() == QEvent::Resize && !event->spontaneous());
}

QString windowFrameRecord(QWidget* window, const QString& stored, bool positionsKnown)
{
    if (!window)
        return {};
    const QSize size = window->size();
    if (positionsKnown) {
        // The frame's corner, as a window placed before the window manager framed it will have it.
        const QPoint p = expectedFrameGeometry(window).topLeft();
        return QStringLiteral("%1 %2 %3 %4").arg(p.x()).arg(p.y()).arg(size.width()).arg(size.height());
    }
    static const QRegularExpression place(QStringLiteral("^\\s*([-+]?\\d+)\\s+([-+]?\\d+)(\\s|$)"));
    const auto match = place.match(stored);
    if (!match.hasMatch())
        return {};
    return QStringLiteral("%1 %2 %3 %4").arg(match.captured(1), match.captured(2)).arg(size.width()).arg(size.height());
}

} // namespace platform
