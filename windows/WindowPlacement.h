#pragma once
// WindowPlacement: where the sensor window and the screen display go, as pure functions of a frame and the
// screens, in Qt's top-left, y-down coordinates (edges exclusive: right = x + width, bottom = y + height).

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

namespace WindowPlacement {

// The screens as the window system reports them; `primary` indexes both lists.
struct Screens {
    QList<QRect> geometries;
    QList<QRect> available; // without panels and docks
    qsizetype primary = 0;

    QRect primaryGeometry() const { return geometries.value(primary); }
    QRect primaryAvailable() const { return available.value(primary); }
};

// The screens of the running application (empty without a GUI application).
Screens currentScreens();

bool isOnAnyScreen(const QRect& frame, const Screens& screens);
// Whether enough of `frame` lies in the available area of one screen to take hold of it: `enough`, or the
// whole frame where it is smaller.
bool showsEnoughOfFrame(const QRect& frame, const Screens& screens, const QSize& enough = QSize(50, 30));
// The screen that holds most of `frame`; -1 when it lies on none.
qsizetype screenIndexForFrame(const QRect& frame, const Screens& screens);

// The standard window grown or shrunk to `maximum`, keeping its top-left corner, within the available area
// of its screen; a frame on no screen, or left of nothing it could show, goes onto the primary screen. The
// left edge stays far enough left that `minimum.width()` remains visible.
QRect fitFrameToScreen(const QRect& frame, const QSize& minimum, const QSize& maximum, const Screens& screens);

// A frame restored from an earlier session moved (and shrunk, where it is larger) into the available area of
// the screen that holds most of it, or of the primary screen when it lies on none.
QRect bringOntoScreen(const QRect& frame, const Screens& screens);

// A shown window as a window opening beside it sees it: its frame and the heads at its top, its title bar and,
// for the sensor window, the menu bar below it.
struct ShownFrame {
    QRect frame;
    int titleBar = 0;  // of which a third (at least 100 pixels) must stay clear to take hold of it
    int keptClear = 0; // the strip that nothing may cover at all
    bool yields = false; // the screen display: kept clear of where there is room, else covered as the desktop
};

// A window of `frame`'s size (its frame included, `titleBar` the height of its title bar) that opens without a
// recorded place, where it hides none of the `shown` frames: at `frame` when that is free, else at the free
// place nearest it beside, above or below them, or at the edges of the available area of its screen. It keeps
// its size where it can and is cut (to no less than `minimum`, nor than two thirds of each side) where only a
// smaller window fits; one that cannot be cut so far goes whole where its lower edge leaves the area (a third
// of it showing). Where no place is free it hides the others' bodies but never a head: its title bar and each
// other's keep a third clear (100 pixels at least), and no kept-clear strip is covered; as little as it can,
// its lower edge off the area if need be. Only where even that is impossible it goes where it hides least,
// within the area.
QRect freePlace(const QRect& frame, const QSize& minimum, const QList<ShownFrame>& shown, const Screens& screens,
                int titleBar = 0);
QRect freePlace(const QRect& frame, const QSize& minimum, const QList<QRect>& shown, const Screens& screens);
// The frames of the program's shown windows but `except`: what a window opening without a place avoids.
QList<ShownFrame> shownWindowFrames(const QWidget* except);
// Marks `window` as the program's main window: a window opening beside it leaves its menu bar clear too.
void keepMenuBarClear(QWidget* window);

// Where the windows open that have no recorded place, so that no two open on top of one another: slot 0 is
// the sensor window's (300, 300), each further slot 30 pixels down and right of it, starting again near the
// top left of the primary screen's available area where the cascade would leave it.
QPoint cascadeTopLeft(int slot, const Screens& screens);
enum CascadeSlot { SensorWindowSlot, ScreenDisplaySlot, OverviewSlot, SystemInfoSlot, DrivesSlot, BatteriesSlot, DisplaysSlot,
                   ExtremeValuesSlot, ConnectionsSlot };

// Where a screen display lands that a resize left on no screen: an eighth into the primary screen.
QPoint offScreenFallbackTopLeft(const Screens& screens);

// A drag of the screen display to `proposed`: its top edge may leave the top of `currentScreen` only onto
// another screen, else it stops at that top.
QPoint dragTopLeft(const QPoint& proposed, qsizetype currentScreen, const Screens& screens);
bool isAllowedToCrossTopScreenBorder(const QPoint& topLeft, qsizetype currentScreen, const Screens& screens);

} // namespace WindowPlacement
