#pragma once
// ApplicationMenuBar: the desktop has no menu bar of the application, so each of its main windows carries
// one. The program registers how a menu bar is made; windows install one without knowing who answers its
// commands. Without a registered maker (tests, the Lite edition) windows have none. Main thread only.

#include <functional>

class QMenuBar;
class QWidget;

namespace platform {

class ApplicationMenuBar {
public:
    using Maker = std::function<QMenuBar*(QWidget* window)>;
    static void setMaker(Maker maker);
    // Gives `window` (a QMainWindow, or a widget with a layout) a menu bar of its own.
    static void installInto(QWidget* window);
};

} // namespace platform
