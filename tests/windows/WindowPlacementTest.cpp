// The placement rules over fake screen lists: one screen, two stacked screens, a detached screen.

#include "windows/WindowPlacement.h"

#include "tests/support/QtPrinters.h"

#include <gtest/gtest.h>

namespace {

using WindowPlacement::Screens;

// 1280 × 800 with a 24-pixel panel at the top.
Screens oneScreen()
{
    return {{QRect(0, 0, 1280, 800)}, {QRect(0, 24, 1280, 776)}, 0};
}

// A second, larger screen above the primary one.
Screens stackedScreens()
{
    return {{QRect(0, 0, 1280, 800), QRect(0, -1080, 1920, 1080)}, {QRect(0, 24, 1280, 776), QRect(0, -1080, 1920, 1080)}, 0};
}

} // namespace

TEST(WindowPlacement, FitKeepsTheTopLeftAndTakesTheTextSizeWithinTheVisibleArea)
{
    const QSize minimum(80, 60), maximum(600, 200);
    struct Row {
        const char* what;
        Screens screens;
        QRect frame;
        QRect expected;
    } rows[] = {
        {"fits as it is", oneScreen(), {300, 300, 100, 100}, {300, 300, 600, 200}},
        {"too wide for the right edge", oneScreen(), {1000, 300, 100, 100}, {1000, 300, 280, 200}},
        {"left edge near the right edge keeps the minimum width", oneScreen(), {1250, 300, 100, 100}, {1200, 300, 80, 200}},
        {"left edge beyond the right edge", oneScreen(), {1500, 300, 100, 100}, {0, 24, 600, 200}},
        {"partly left of the screen", oneScreen(), {-50, 300, 100, 100}, {0, 300, 600, 200}},
        {"under the top panel", oneScreen(), {300, 5, 100, 100}, {300, 24, 600, 200}},
        {"top edge near the bottom", oneScreen(), {300, 700, 100, 100}, {300, 700, 600, 100}},
        {"on the upper screen", stackedScreens(), {100, -900, 100, 100}, {100, -900, 600, 200}},
        {"mostly on the upper screen, its wider area", stackedScreens(), {1500, -300, 300, 350}, {1500, -300, 420, 200}},
        {"on a detached screen", stackedScreens(), {3000, 2000, 100, 100}, {0, 24, 600, 200}},
        {"on no screen at all", oneScreen(), {-5000, -5000, 100, 100}, {0, 24, 600, 200}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(WindowPlacement::fitFrameToScreen(row.frame, minimum, maximum, row.screens), row.expected) << row.what;
}

TEST(WindowPlacement, OnAnyScreenAndTheOffScreenFallback)
{
    EXPECT_TRUE(WindowPlacement::isOnAnyScreen(QRect(1270, 790, 50, 50), oneScreen()));
    EXPECT_FALSE(WindowPlacement::isOnAnyScreen(QRect(1280, 0, 50, 50), oneScreen()));
    EXPECT_TRUE(WindowPlacement::isOnAnyScreen(QRect(10, -500, 50, 50), stackedScreens()));
    EXPECT_FALSE(WindowPlacement::isOnAnyScreen(QRect(10, -500, 50, 50), oneScreen()));
    EXPECT_EQ(WindowPlacement::offScreenFallbackTopLeft(oneScreen()), QPoint(160, 100));
}

TEST(WindowPlacement, DraggingUpStopsAtTheTopUnlessAnotherScreenIsThere)
{
    struct Row {
        const char* what;
        Screens screens;
        qsizetype current;
        QPoint proposed;
        QPoint expected;
    } rows[] = {
        {"within the screen", oneScreen(), 0, {200, 100}, {200, 100}},
        {"above the only screen", oneScreen(), 0, {200, -40}, {200, 0}},
        {"onto the screen above", stackedScreens(), 0, {200, -40}, {200, -40}},
        {"above the upper screen", stackedScreens(), 1, {200, -1200}, {200, -1080}},
        {"down onto the lower screen", stackedScreens(), 1, {200, 300}, {200, 300}},
        {"beside the screen above", stackedScreens(), 0, {2000, -40}, {2000, 0}},
    };
    for (const Row& row : rows)
        EXPECT_EQ(WindowPlacement::dragTopLeft(row.proposed, row.current, row.screens), row.expected) << row.what;
}

TEST(WindowPlacement, ARestoredFrameShowingTooLittleComesBackWhole)
{
    struct Row {
        const char* what;
        Screens screens;
        QRect frame;
        bool showsEnough;
        QRect expected; // by bringOntoScreen
    } rows[] = {
        {"inside", oneScreen(), {300, 300, 200, 100}, true, {300, 300, 200, 100}},
        {"50 × 30 in the corner", oneScreen(), {1230, 770, 200, 100}, true, {1080, 700, 200, 100}},
        {"49 pixels wide in the corner", oneScreen(), {1231, 770, 200, 100}, false, {1080, 700, 200, 100}},
        {"under the top panel only", oneScreen(), {300, -90, 200, 100}, false, {300, 24, 200, 100}},
        {"saved on a larger screen", {{QRect(0, 0, 800, 600)}, {QRect(0, 0, 800, 600)}, 0}, {1300, 860, 300, 120}, false, {500, 480, 300, 120}},
        {"a small window wholly shown", oneScreen(), {1260, 780, 20, 20}, true, {1260, 780, 20, 20}},
        {"larger than the screen", oneScreen(), {-100, -100, 2000, 1000}, true, {0, 24, 1280, 776}},
        {"on the upper screen", stackedScreens(), {100, -900, 200, 100}, true, {100, -900, 200, 100}},
        {"on a detached screen", stackedScreens(), {3000, 2000, 200, 100}, false, {1080, 700, 200, 100}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(WindowPlacement::showsEnoughOfFrame(row.frame, row.screens), row.showsEnough) << row.what;
        const QRect brought = WindowPlacement::bringOntoScreen(row.frame, row.screens);
        EXPECT_EQ(brought, row.expected) << row.what;
        EXPECT_TRUE(WindowPlacement::showsEnoughOfFrame(brought, row.screens)) << row.what;
    }
}

TEST(WindowPlacement, WindowsWithoutARecordCascadeAndStayOnTheScreen)
{
    for (const Screens& screens : {oneScreen(), Screens{{QRect(0, 0, 800, 600)}, {QRect(0, 0, 800, 600)}, 0}}) {
        EXPECT_EQ(WindowPlacement::cascadeTopLeft(WindowPlacement::SensorWindowSlot, screens), QPoint(300, 300));
        QList<QPoint> seen;
        for (int slot = WindowPlacement::SensorWindowSlot; slot <= WindowPlacement::ConnectionsSlot; ++slot) {
            const QPoint p = WindowPlacement::cascadeTopLeft(slot, screens);
            EXPECT_FALSE(seen.contains(p)) << slot;
            EXPECT_TRUE(WindowPlacement::showsEnoughOfFrame(QRect(p, QSize(200, 150)), screens)) << slot;
            seen.append(p);
        }
    }
}

TEST(WindowPlacement, AWindowWithoutAPlaceOpensWhereItHidesNoOther)
{
    const Screens large{{QRect(0, 0, 1600, 1000)}, {QRect(0, 0, 1600, 1000)}, 0};
    const QRect sensorsLarge(0, 300, 1600, 103), sensorsSmall(0, 300, 1280, 103);
    const QRect overview(360, 360, 520, 420);
    const QSize least(200, 150);
    struct Row {
        const char* what;
        Screens screens;
        QRect wanted;
        QSize minimum;
        QList<QRect> shown;
        QRect expected;
    } rows[] = {
        {"free where it wants to be", large, {300, 300, 400, 200}, least, {}, {300, 300, 400, 200}},
        {"a text wider than its screen from there moves left", oneScreen(), {300, 300, 1400, 103}, {450, 103}, {}, {0, 300, 1280, 103}},
        {"the overview below the sensor window", large, overview, least, {sensorsLarge}, {360, 413, 520, 420}},
        {"shortened to the room below on a smaller screen", oneScreen(), overview, least, {sensorsSmall}, {360, 413, 520, 387}},
        {"beside a window with no room below it", oneScreen(), overview, least, {{300, 300, 400, 480}}, {710, 360, 520, 420}},
        {"narrowed by no more than a third beside two windows", oneScreen(), overview, least, {sensorsSmall, {330, 413, 600, 300}},
         {933, 413, 347, 387}},
        {"a screen display that cannot shrink goes below", oneScreen(), {330, 330, 600, 300}, {600, 300}, {sensorsSmall},
         {330, 413, 600, 300}},
        // Framed: the sensor window with its title bar, the system information below it.
        {"the extreme values cut a little beside the system information", oneScreen(), {390, 390, 422, 385}, least,
         {{0, 300, 1280, 128}, {300, 438, 560, 340}}, {870, 438, 410, 362}},
        {"the extreme values whole where they hide least, not squeezed into a strip", oneScreen(), {390, 390, 422, 385},
         least, {{0, 250, 1280, 128}, {200, 388, 1080, 340}}, {0, 24, 422, 385}},
        {"no free place: where it wanted to be", oneScreen(), overview, least, {{0, 24, 1280, 776}}, overview},
    };
    for (const Row& row : rows) {
        const QRect place = WindowPlacement::freePlace(row.wanted, row.minimum, row.shown, row.screens);
        EXPECT_EQ(place, row.expected) << row.what;
        EXPECT_TRUE(row.screens.primaryAvailable().contains(place)) << row.what;
        // Cut by no more than a third, if at all.
        EXPECT_GE(place.width() * 3, row.wanted.width() * 2) << row.what;
        EXPECT_GE(place.height() * 3, row.wanted.height() * 2) << row.what;
    }
}

TEST(WindowPlacement, AWindowWithoutAPlaceLeavesEveryTitleBarAndTheSensorMenuBarClear)
{
    // As xfwm4 frames them: title bars 29 pixels, the sensor window's menu bar 24 below its title bar.
    const Screens wide{{QRect(0, 0, 1600, 1000)}, {QRect(0, 27, 1600, 973)}, 0};
    const Screens small{{QRect(0, 0, 1280, 800)}, {QRect(0, 27, 1280, 773)}, 0};
    const WindowPlacement::ShownFrame sensorsWide{{0, 300, 1600, 137}, 29, 53}, sensorsSmall{{0, 300, 1280, 137}, 29, 53};
    const WindowPlacement::ShownFrame overviewWide{{360, 447, 530, 454}, 29, 0}, overviewSmall{{360, 447, 530, 353}, 29, 0};
    const QRect systemInformation(390, 390, 562, 594), extremeValues(510, 510, 430, 394);
    const QSize systemInformationLeast(562, 593), extremeValuesLeast(245, 186);
    struct Row {
        const char* what;
        Screens screens;
        QRect wanted;
        QSize minimum;
        QList<WindowPlacement::ShownFrame> shown;
        QRect expected;
    } rows[] = {
        {"too tall for the room below the sensor window: whole, its lower edge off the screen", wide, systemInformation,
         systemInformationLeast, {sensorsWide, overviewWide}, {900, 447, 562, 594}},
        {"no free place: over the overview's body at the bottom, its title bar held", wide, extremeValues, extremeValuesLeast,
         {sensorsWide, overviewWide, {{900, 447, 562, 594}, 29, 0}}, {0, 606, 430, 394}},
        {"no free place: over the overview's body, the title bars of both held", small, systemInformation,
         systemInformationLeast, {sensorsSmall, overviewSmall}, {718, 447, 562, 594}},
        {"then the extreme values at the left, the lower edge off the screen", small, extremeValues, extremeValuesLeast,
         {sensorsSmall, overviewSmall, {{718, 447, 562, 594}, 29, 0}}, {0, 447, 430, 394}},
        {"below the sensor window over the other one, not over the menu bar where it would hide least", oneScreen(), {390, 390, 422, 385}, {200, 150},
         {{{0, 250, 1280, 128}, 28, 50}, {{200, 388, 1080, 340}, 28, 0}}, {0, 415, 422, 385}},
    };
    for (const Row& row : rows) {
        const QRect place = WindowPlacement::freePlace(row.wanted, row.minimum, row.shown, row.screens, 29);
        EXPECT_EQ(place, row.expected) << row.what;
        const QRect area = row.screens.primaryAvailable();
        EXPECT_TRUE(area.contains(QRect(place.topLeft(), QSize(place.width(), 29)))) << row.what;
        EXPECT_GE(place.left(), area.left()) << row.what;
        EXPECT_LE(place.right(), area.right()) << row.what;
        for (const auto& shown : row.shown)
            EXPECT_FALSE(place.intersects(QRect(shown.frame.topLeft(), QSize(shown.frame.width(), shown.keptClear)))) << row.what;
    }
}
