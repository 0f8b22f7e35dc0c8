// The tray's menu where the program knows its screen's size only: laid out on the offscreen platform's screen.

#include "platform/desktop/widgets/QtStatusItem.h"

#include <QAction>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>

#include <gtest/gtest.h>

#include <memory>

using platform::QtStatusItem;

namespace {

// The tray's menu as the program fills it: a line per value, then its own commands, one of them a submenu.
std::unique_ptr<QMenu> trayMenu(int values, bool keptClear)
{
    auto menu = std::make_unique<QMenu>();
    if (keptClear)
        QtStatusItem::keepClearOfPanels(menu.get());
    for (int i = 0; i < values; ++i)
        menu->addAction(QStringLiteral("SMC BATTERY CHARGER PROXIMITY %1: 46°C").arg(i, 3, 10, QLatin1Char('0')));
    menu->addSeparator();
    menu->addAction(QStringLiteral("Sensor Window"));
    menu->addMenu(QStringLiteral("Application Icon"))->addAction(QStringLiteral("Plain"));
    menu->addSeparator();
    menu->addAction(QStringLiteral("Preferences…"));
    menu->addAction(QStringLiteral("Quit Kelvaro"));
    return menu;
}

} // namespace

TEST(TrayMenu, KeepsAPanelsWorthOfTheScreenClearAtEitherEdgeWithEveryItemInIt)
{
    const int screen = QGuiApplication::primaryScreen()->availableGeometry().height();
    const int limit = screen - 2 * QtStatusItem::menuPanelAllowance;
    // The fewest values whose menu, in one column, reaches into the margins.
    int reaching = 1;
    while (trayMenu(reaching, false)->sizeHint().height() <= limit)
        ++reaching;
    ASSERT_EQ(trayMenu(reaching, false)->sizeHint().width(), trayMenu(1, false)->sizeHint().width());
    const struct Case {
        const char* what;
        int values;
    } cases[] = {
        {"a few values", 3},
        {"one fewer than reach the margins", reaching - 1},
        {"a column reaching into the margins", reaching},
        {"several columns' worth", 4 * reaching},
    };
    for (const Case& c : cases) {
        const auto plain = trayMenu(c.values, false);
        const auto kept = trayMenu(c.values, true);
        const QSize size = kept->sizeHint();
        EXPECT_LE(size.height(), limit) << c.what;
        // Every item, the last commands too, lies within the menu's window.
        for (QAction* action : kept->actions()) {
            if (action->isSeparator())
                continue;
            EXPECT_TRUE(QRect(QPoint(), size).contains(kept->actionGeometry(action)))
                << c.what << ": " << qPrintable(action->text()) << " at " << kept->actionGeometry(action).y();
        }
        // A menu that fits is laid out as anywhere else.
        if (plain->sizeHint().height() <= limit) {
            EXPECT_EQ(size, plain->sizeHint()) << c.what;
        }
    }
}
