// The frame record of the information, extreme-values and connection windows, through real user defaults.

#include "windows/WindowFrameRecord.h"

#include "platform/desktop/widgets/WindowPosition.h"
#include "platform/foundation/UserDefaults.h"
#include "windows/MinMaxWindowController.h"
#include "windows/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

TEST(WindowFrameRecord, RestoresAFrameWholeWithinTheScreenAndFollowsTheWindow)
{
    QTemporaryDir dir;
    auto defaults = std::make_shared<platform::UserDefaults>(dir.path() + QStringLiteral("/standard.plist"));
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint fallback(330, 330);
    struct Row {
        const char* record;
        QPoint place;
        QSize size;
    } rows[] = {
        {nullptr, fallback, {200, 100}},
        {"40 50 320 240", {40, 50}, {320, 240}},
        // Saved on a larger screen beyond this one: back where it can be reached, at its size.
        {"1300 860 320 240", WindowPlacement::bringOntoScreen({1300, 860, 320, 240}, WindowPlacement::currentScreens()).topLeft(), {320, 240}},
        // Partly beyond the screen's right edge, though enough of it shows to take hold of: back whole.
        {"700 300 320 240", {screen.x() + screen.width() - 320, 300}, {320, 240}},
        {"40 50 0 240", fallback, {200, 100}},
        {"forty 50 320 240", fallback, {200, 100}},
    };
    ASSERT_LT(screen.right(), 1300);
    ASSERT_TRUE(screen.contains(QRect(700, 300, 50, 240)) && screen.right() < 1019);
    ASSERT_TRUE(screen.contains(rows[2].place));
    for (const Row& row : rows) {
        if (row.record)
            defaults->setObject(QString::fromUtf8(row.record), WindowFrameRecord::kPrefix + QStringLiteral("Info"));
        else
            defaults->removeObjectForKey(WindowFrameRecord::kPrefix + QStringLiteral("Info"));
        QWidget window;
        window.resize(200, 100);
        WindowFrameRecord::attach(&window, QStringLiteral("Info"), fallback, defaults);
        EXPECT_EQ(window.pos(), row.place) << (row.record ? row.record : "-");
        EXPECT_EQ(window.size(), row.size) << (row.record ? row.record : "-");
        window.move(60, 70);
        window.resize(300, 200);
        window.show();
        EXPECT_EQ(defaults->stringForKey(WindowFrameRecord::kPrefix + QStringLiteral("Info")), QStringLiteral("60 70 300 200"));
    }
}

TEST(WindowFrameRecord, TheExtremeValuesWindowOpensAtItsOwnPlace)
{
    MinMaxWindowController extremes;
    EXPECT_EQ(extremes.window()->pos(), WindowPlacement::cascadeTopLeft(WindowPlacement::ExtremeValuesSlot, WindowPlacement::currentScreens()));
}

// Where the platform cannot tell a window its place (Wayland), the record takes the window's size and keeps the
// stored place: the constant a Wayland client reads as its position must never replace it.
TEST(WindowFrameRecord, KeepsTheStoredPlaceWhereThePlatformCannotTellIt)
{
    QWidget window;
    window.move(-3, -30);
    window.resize(800, 105);
    struct Row {
        bool positionsKnown;
        const char* stored;
        const char* record; // null: nothing to write
    } rows[] = {
        {true, nullptr, "-3 -30 800 105"},
        {true, "40 50 320 240", "-3 -30 800 105"},
        {false, "40 50 320 240", "40 50 800 105"},
        // The sensor window's own record holds the place alone.
        {false, "1200 16", "1200 16 800 105"},
        {false, "-1500 200 320 240", "-1500 200 800 105"},
        {false, nullptr, nullptr},
        {false, "", nullptr},
        {false, "forty 50 320 240", nullptr},
    };
    for (const Row& row : rows) {
        const QString stored = row.stored ? QString::fromUtf8(row.stored) : QString();
        const QString record = platform::windowFrameRecord(&window, stored, row.positionsKnown);
        EXPECT_EQ(record, row.record ? QString::fromUtf8(row.record) : QString())
            << row.positionsKnown << " " << (row.stored ? row.stored : "-");
        EXPECT_EQ(record.isNull(), row.record == nullptr) << (row.stored ? row.stored : "-");
    }
}
