#pragma once
// Shaping a top-level window to a region, so that the desktop shows outside it, on every X server: the shape
// extension of common X servers reads a request longer than 256 KiB as empty, which hid the whole window
// where the region of a large text has tens of thousands of rectangles. Main thread.

#include <QRegion>

#include <cstdint>

class QWidget;
struct xcb_connection_t;

namespace platform {

// Gives `window` the shape `shape` (empty: no shape, the whole rectangle). On X11 a region of many
// rectangles goes to the server in several requests; call again after the window was created anew (its
// show event does), since the server forgets a shape with its window.
void setWindowShape(QWidget* window, const QRegion& shape);
// Gives `window`, once created, the input shape `shape` (empty: the whole rectangle): clicks outside it reach
// the windows below, while the window still draws its whole rectangle (a translucent one, where a compositor
// runs). X11 only; call again after the window was created anew.
void setWindowInputShape(QWidget* window, const QRegion& shape);

namespace x11 {

// The rectangles one shape request carries: well below the 65535-word limit of a request that is not big.
constexpr int kRectanglesPerRequest = 16000;

enum class ShapeKind { Bounding, Input };
// Sets the bounding (or input) shape of the X window `window` to `shape`, in parts; false without the shape
// extension.
bool setWindowShape(xcb_connection_t* connection, std::uint32_t window, const QRegion& shape,
                    ShapeKind which = ShapeKind::Bounding);

} // namespace x11
} // namespace platform
