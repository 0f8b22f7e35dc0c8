#pragma once
// Whether the desktop composites windows, so that a window's transparent pixels show what lies below it
// instead of black. Main thread; needs a GUI application.

namespace platform {

// Wayland always composites; on X11 a compositing manager owns the _NET_WM_CM_S<screen> selection; the
// offscreen and other platforms count as not compositing.
bool isCompositingManagerRunning();

} // namespace platform
