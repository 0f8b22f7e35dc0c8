#pragma once
// Activating a window on behalf of another start of the program, with the token the desktop gave that start:
// without it a Wayland compositor does not hand the focus over, and an X11 window manager that guards against
// focus stealing only marks the window urgent. Main thread; needs a GUI application.

#include <QList>
#include <QString>

class QWidget;

namespace platform {

// The token the desktop gave this process's start: XDG_ACTIVATION_TOKEN (Wayland), else DESKTOP_STARTUP_ID
// (X11), read from the environment the process started with (Qt's xcb plugin takes the latter out). Empty
// without one.
QString activationTokenOfThisStart();

// The time of the user's action in an X11 start-up id ("..._TIME<server time>"); 0 when it holds none.
quint32 userTimeOfStartupId(const QString& startupId);

// Activates `window` with `token` (may be empty): through xdg-activation on Wayland, with the token's user
// time on X11.
void activateWindowWithToken(QWidget* window, const QString& token);

// Brings `windows` back, those the user minimized too, and leaves `focus` (one of them, or another shown
// window) activated with `token`: where the window system alone unminimizes a window at an activation (an
// X11 window manager that keeps an iconic window so when it is mapped again) each minimized one is
// activated; on Wayland, where a token is good for one activation and a client does not even learn that its
// window was minimized, those the compositor no longer has drawn are shown anew.
void bringBackWindows(const QList<QWidget*>& windows, QWidget* focus, const QString& token);

} // namespace platform
