#pragma once
// What a window tells the window manager beyond Qt's flags (a window of the desktop's own, like the screen
// display, that no task bar or pager lists), and what the window manager adds around a window: its frame,
// known before the window first shows. Main thread.

#include <QMargins>
#include <QPoint>
#include <QRect>

class QWidget;

namespace platform {

// Asks the window manager to leave `window` out of task bars and pagers (_NET_WM_STATE_SKIP_TASKBAR and
// _NET_WM_STATE_SKIP_PAGER). Call from its show event, once it exists and before it maps: Qt keeps the states
// it finds when it maps the window. X11 only.
void keepOutOfTaskbar(QWidget* window);

// The frame that the window manager draws around `window` (title bar and borders): as it stands once the
// window is framed; before that, for a window that exists (created, not yet shown), on X11, the extents the
// window manager announces for it (_NET_REQUEST_FRAME_EXTENTS, waited for a second at most, once per
// window). None for a window not yet created, without a window manager, for a frameless window, and where the
// platform does not tell.
QMargins frameMargins(QWidget* window);

// The place and size of `window` with its frame, also before the window manager has framed it.
QRect expectedFrameGeometry(QWidget* window);
// Moves `window` so that its frame's top-left corner is at `topLeft`. Qt takes the position of a window that
// exists but has no frame yet as its inside's; the frame to come is added here.
void moveFrameTo(QWidget* window, const QPoint& topLeft);

} // namespace platform
