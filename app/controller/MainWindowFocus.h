#pragma once
// MainWindowFocus: gives the keyboard focus back to the main window once the windows opened with it have been
// mapped. A window manager focuses each window it maps, and Qt activates a window shown before its map only at
// the map: of windows opened together the last one would keep the focus. Main thread.

class QWidget;

namespace MainWindowFocus {

// Activates `main`, when shown, once it and each window shown with it that takes the focus are on screen; at
// once when all are.
void activateOnceMapped(QWidget* main);

} // namespace MainWindowFocus
