#pragma once
// A window in the desktop's own layer, below every other window, on a Wayland compositor that offers the
// layer shell (zwlr_layer_shell_v1: KWin, sway and the other wlroots compositors). No other Wayland client
// can keep a window below the others. Main thread; needs a GUI application.

class QWidget;

namespace platform {

// Whether the Wayland compositor of this program offers the layer shell; asked of it once. False off
// Wayland, on a compositor without it, and in a build without the Wayland client library.
bool layerShellOffered();

// Whether a window can be kept below the others here: where the platform stacks windows, or in the layer
// shell's desktop layer.
bool platformKeepsWindowsBelow();

// With `keep`, `window` lies from its next show on in the layer below the windows, at its position on its
// screen, taking neither the keyboard nor clicks (they reach the desktop); it must then have the flags
// Qt::FramelessWindowHint, Qt::BypassWindowManagerHint (Qt gives it no role of its own) and
// Qt::WindowTransparentForInput. Without `keep` it is a window as any other again from its next show on.
// False where the layer shell is not offered: the window is left as it was.
bool keepInDesktopLayer(QWidget* window, bool keep);

} // namespace platform
