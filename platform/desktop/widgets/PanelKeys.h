#pragma once
// PanelKeys: the keys a window without the application's menu bar answers as one with it would: Escape and
// Ctrl+W close it, Ctrl+Q quits the program. Panels, alerts and small windows install them; the program
// registers what quitting means. Main thread only.

#include <functional>

class QWidget;

namespace platform {

class PanelKeys {
public:
    // What Ctrl+Q does; none: the application's event loops end.
    static void setQuitHandler(std::function<void()> quit);
    static void quit();
    // Escape and Ctrl+W run `close` (none: the panel's own close()); Ctrl+Q closes a modal panel that way
    // first, so that whoever waits for its answer gets one, and then quits.
    static void installInto(QWidget* panel, std::function<void()> close = {});
};

} // namespace platform
