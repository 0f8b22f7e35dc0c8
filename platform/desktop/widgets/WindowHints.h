#pragma once
// What a window tells the window manager beyond Qt's flags (a window of the desktop's own, like the screen
// display, that no task bar or pager lists), and what the window manager adds around a window: its frame,
// known before the window first shows. Main thread.

#include <QMargins>
#include <QPoint>
#include <QRect>

#include <optional>

class QWidget;
struct xcb_connection_t;

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
// Whether the X11 window manager running tells where it framed and put a window: it publishes its frames
// (_NET_FRAME_EXTENTS in _NET_SUPPORTED). One that does not (weston's XWayland window manager) draws a frame
// with an invisible margin Qt counts, moves windows without telling them and ignores moves before the map, so
// a position read back is not where the window shows. True without a window manager and off X11. Asked of
// the X server again only when a window manager starts, ends or changes what it announces.
bool windowManagerTellsPlaces();

// Moves `window` so that its frame's top-left corner is at `topLeft`. Qt takes the position of a window that
// exists but has no frame yet as its inside's; the frame to come is added here.
void moveFrameTo(QWidget* window, const QPoint& topLeft);

// Where Qt draws a window's decoration itself (on Wayland without the compositor's), the compositor holds the
// whole window, decoration included, to the least and largest size Qt asks for, which are those of its
// contents: a window of one size, or at its largest, would lose the title bar's height of its contents. From
// this call on every top-level window asks for its limits with its decoration. Main thread, GUI application.
void keepContentSizeLimits();

namespace x11 {

// windowManagerTellsPlaces() for the X server of `connection`.
bool windowManagerTellsPlaces(xcb_connection_t* connection);
// windowManagerTellsPlaces(connection) kept until the events read from `connection` (given to handle()) say
// the root's properties naming the window manager changed or its window went.
class WindowManagerWatch {
public:
    explicit WindowManagerWatch(xcb_connection_t* connection);
    bool tellsPlaces();
    void handle(const void* xcbGenericEvent);

private:
    xcb_connection_t* connection_;
    quint32 root_ = 0, check_ = 0, supported_ = 0;
    quint32 manager_ = 0; // the window manager's window whose end is heard
    std::optional<bool> answer_;
};
// The atom `name` of the X server of `connection`, made if new; XCB_ATOM_NONE (0) without an answer.
quint32 internAtom(xcb_connection_t* connection, const char* name);
// The application's connection to its X server; null off X11.
xcb_connection_t* applicationConnection();
// The X window of `window` now: QWidget::winId() keeps naming the one that new window flags replaced.
quint32 windowOf(QWidget* window);
// Where a window manager does not tell it: the room its frame takes around `window` as the X server has them,
// invisible margins included, as the client's offset and the frame's size over the client's. None before the
// window manager framed it, without one, and off X11.
std::optional<QMargins> drawnFrameMargins(QWidget* window);

} // namespace x11
} // namespace platform
