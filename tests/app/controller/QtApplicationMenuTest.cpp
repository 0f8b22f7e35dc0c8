// The application's menus as Qt builds them, offscreen: one menu bar per window, commands reaching the
// controller, check marks and titles read back when a menu opens.

#include "app/controller/AppController.h"
#include "app/controller/QtApplicationMenu.h"
#include "app/controller/QtGaugeResetPanel.h"
#include "app/model/MonitorPreferences.h"
#include "framework/TEVSoftwareUpdateManager.h"
#include "framework/TEVUserDefaultsProxy.h"
#include "framework/widgets/TEVAboutPanel.h"
#include "platform/desktop/widgets/ApplicationMenuBar.h"
#include "tests/support/DesktopFakes.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

QAction* findAction(QWidget* menu, const QString& text)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == text)
            return action;
        if (action->menu())
            if (QAction* inner = findAction(action->menu(), text))
                return inner;
    }
    return nullptr;
}

} // namespace

TEST(QtApplicationMenu, EveryWindowGetsAMenuBarWhoseCommandsReachTheController)
{
    AppController controller;
    QtApplicationMenu menus(controller);
    platform::ApplicationMenuBar::setMaker([&menus](QWidget* window) { return menus.makeMenuBar(window); });
    QWidget window;
    new QVBoxLayout(&window);
    platform::ApplicationMenuBar::installInto(&window);
    platform::ApplicationMenuBar::setMaker({});
    auto* bar = window.layout()->menuBar() ? qobject_cast<QMenuBar*>(window.layout()->menuBar()) : nullptr;
    ASSERT_NE(bar, nullptr);
    QStringList titles;
    for (QAction* action : bar->actions())
        titles.append(action->text());
    EXPECT_EQ(titles, QStringList({"Kelvaro", "File", "Sensors", "Display", "Window"}));

    QAction* five = findAction(bar, "5 Values");
    ASSERT_NE(five, nullptr);
    five->trigger();
    EXPECT_EQ(controller.monitorPreferences()->numberOfMenuBarValues(), 5u);
    QList<QAction*> checked;
    for (QAction* action : five->actionGroup()->actions())
        if (action->isChecked())
            checked.append(action);
    EXPECT_EQ(checked, QList<QAction*>({five}));

    // Without a main window there is nothing to close, print or save.
    QAction* close = findAction(bar, "Close Window");
    ASSERT_NE(close, nullptr);
    EXPECT_FALSE(close->isEnabled());

    // The tray's commands end with the application's Dock menu.
    const QList<QAction*> tray = menus.dockMenuActions();
    ASSERT_FALSE(tray.isEmpty());
    EXPECT_EQ(tray.last()->text(), "Quit Kelvaro");
    EXPECT_NE(std::find_if(tray.cbegin(), tray.cend(), [](QAction* a) { return a->text() == "Application Icon"; }), tray.cend());
}

TEST(QtApplicationMenu, TheKelvaroMenuAndTheTrayOpenAboutUpdateCheckFeedbackAndWebSite)
{
    kelvaro::test::ScopedDesktopFakes fakes;
    TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(QStringLiteral("com.tarnwell.kelvaro.menutest"));
    // A repository without the update information: the check runs and says it could not reach it.
    QTemporaryDir repository;
    TEVSoftwareUpdateManager::setRepositoryURL(QUrl::fromLocalFile(repository.path()));
    const auto restore = qScopeGuard([] {
        TEVSoftwareUpdateManager::setRepositoryURL({});
        TEVApplicationDelegate::setApplicationDelegate(nullptr);
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith({});
    });
    auto controller = std::make_shared<AppController>();
    TEVApplicationDelegate::setApplicationDelegate(controller);
    controller->applicationWillFinishLaunching();
    ASSERT_TRUE(controller->updateManager());
    QtApplicationMenu menus(*controller);
    QWidget window;
    new QVBoxLayout(&window);
    platform::ApplicationMenuBar::setMaker([&menus](QWidget* w) { return menus.makeMenuBar(w); });
    platform::ApplicationMenuBar::installInto(&window);
    platform::ApplicationMenuBar::setMaker({});
    auto* bar = qobject_cast<QMenuBar*>(window.layout()->menuBar());
    ASSERT_NE(bar, nullptr);
    QMenu tray;
    tray.addActions(menus.dockMenuActions());

    for (QWidget* menu : {static_cast<QWidget*>(bar->actions().first()->menu()), static_cast<QWidget*>(&tray)}) {
        const auto item = [menu](const char* text) {
            QAction* action = findAction(menu, QString::fromLatin1(text));
            EXPECT_TRUE(action && action->isEnabled()) << text;
            return action ? action : new QAction(menu);
        };
        fakes.alerts->shown.clear();
        fakes.workspace->openedURLs.clear();
        item("About Kelvaro")->trigger();
        TEVAboutPanel* about = TEVAboutPanel::standardAboutPanel();
        EXPECT_TRUE(about->isVisible());
        EXPECT_TRUE(about->isAnimating());
        about->closeAboutPanel();
        item("Check for Updates...")->trigger();
        ASSERT_EQ(fakes.alerts->shown.size(), 1);
        EXPECT_EQ(fakes.alerts->shown.first().messageText, QStringLiteral("Could not contact update site"));
        item("Send Feedback...")->trigger();
        item("Kelvaro Web Site")->trigger();
        EXPECT_EQ(fakes.workspace->openedURLs, QList<QUrl>({QUrl(QStringLiteral("mailto:support@kelvaro.example.org?subject=Kelvaro")),
                                                           QUrl(QStringLiteral("https://kelvaro.example.org/"))}));
    }
}

TEST(QtGaugeResetPanel, AnswersTheCheckedSettingsOrNothingWhenCancelled)
{
    std::optional<GaugeResetChoice> answer;
    bool answered = false;
    const auto choose = [&](std::optional<GaugeResetChoice> choice) {
        answer = choice;
        answered = true;
    };
    std::unique_ptr<QDialog> panel(QtGaugeResetPanel::make(choose));
    const QList<QCheckBox*> boxes = panel->findChild<QWidget*>("gaugeResetSwitches")->findChildren<QCheckBox*>();
    ASSERT_EQ(boxes.size(), 6);
    for (int i = 0; i < 5; ++i) // all but the colours
        boxes[i]->setChecked(true);
    panel->accept();
    ASSERT_TRUE(answer.has_value());
    EXPECT_TRUE(answer->customNames && answer->shortNames && answer->spokenNames && answer->enabledStates && answer->formats);
    EXPECT_FALSE(answer->colors);

    panel.reset(QtGaugeResetPanel::make(choose));
    answered = false;
    panel->reject();
    EXPECT_TRUE(answered);
    EXPECT_FALSE(answer.has_value());
}
