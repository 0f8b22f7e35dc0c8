#pragma once
// What a window can know of its place on the screen and among the other windows. On Wayland the compositor
// alone places and stacks windows: a client's position reads as a meaningless constant, a move or a raise
// does nothing, and no window can be kept below the others. Main thread; needs a GUI application.

#include <QString>

class QEvent;
class QWidget;

namespace platform {

// Whether the platform tells a window its position and lets it choose one: not on Wayland, nor under an X11
// window manager that does not tell where it put a window (see windowManagerTellsPlaces).
bool platformKnowsWindowPositions();
// Whether a window can raise itself, or stay above or below the others: not on Wayland, nor on its XWayland.
bool platformStacksWindows();

// Whether `event` of a window changes what its frame record holds: a move or a resize, but where positions are
// not known only a size the program set. There the window system's own (a tiling compositor's tile, say)
// comes spontaneously and is not the user's.
bool changesFrameRecord(const QEvent* event, bool positionsKnown = platformKnowsWindowPositions());

// The "x y width height" record of `window`'s client area. Where positions are not known, the place is taken
// from `stored` (a record of the same form, or "x y"), and without one the record holds no place at all
// (a null string): a size alone is no record. Not const: a window not yet framed is asked its frame of the
// window manager, once.
QString windowFrameRecord(QWidget* window, const QString& stored, bool positionsKnown = platformKnowsWindowPositions());

} // namespace platform
