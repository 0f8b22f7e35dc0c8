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
#include "platform/desktop/widgets/QtAlertPresenter.h"
#include "windows/MinMaxWindowController.h"
#include "windows/info/ConnectionWindowController.h"
#include "tests/support/DesktopFakes.h"

#include <QAction>
#include <QCheckBox>
#include <QDialog>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <functional>

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
    int preferencesOpened = 0;
    menus.openPreferences = [&preferencesOpened] { ++preferencesOpened; };
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
    // A window never shown carries its menus' titles (its bar is as large), their items come with the window.
    const int widthUnshown = bar->sizeHint().width();
    EXPECT_EQ(findAction(bar, "5 Values"), nullptr);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    EXPECT_EQ(bar->sizeHint().width(), widthUnshown);
    // Its keys work before any menu was opened.
    QTest::keyClick(window.windowHandle(), Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(preferencesOpened, 1);

    QAction* five = findAction(bar, "5 Values");
    ASSERT_NE(five, nullptr);
    five->trigger();
    EXPECT_EQ(controller.monitorPreferences()->numberOfMenuBarValues(), 5u);
    QList<QAction*> checked;
    for (QAction* action : five->actionGroup()->actions())
        if (action->isChecked())
            checked.append(action);
    EXPECT_EQ(checked, QList<QAction*>({five}));

    // A window's own menu bar closes and prints that window, focused or not.
    QAction* close = findAction(bar, "Close Window");
    ASSERT_NE(close, nullptr);
    EXPECT_TRUE(close->isEnabled());

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
    // Opened from a window not yet shown, a menu has its items.
    emit bar->actions().first()->menu()->aboutToShow();
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

namespace {

// A key pressed on `panel` as the user presses it: the panel is the active window.
void press(QWidget* panel, const QKeySequence& keys)
{
    panel->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(panel));
    const QKeyCombination key = keys[0];
    QTest::keyClick(panel, key.key(), key.keyboardModifiers());
}

const QKeySequence kEscape(Qt::Key_Escape), kCloseKeys(Qt::CTRL | Qt::Key_W), kQuitKeys(Qt::CTRL | Qt::Key_Q);

} // namespace

// Panels and small windows answer the keys a window with the menu bar would, also without a window manager.
TEST(PanelKeys, PanelsAndAlertsCloseOnEscapeAndCtrlWAndQuitOnCtrlQ)
{
    AppController controller;
    int quits = 0;
    controller.setQuitHandler([&quits] { ++quits; });
    QtApplicationMenu menus(controller);
    platform::AlertPresenter::setShared(std::make_shared<platform::QtAlertPresenter>());
    const auto restore = qScopeGuard([] { platform::AlertPresenter::setShared(nullptr); });

    TEVAboutPanel about;
    MinMaxWindowController extremes;
    ConnectionWindowController connections;
    struct Window {
        const char* name;
        std::function<QWidget*()> open;
    };
    const Window windows[] = {
        {"About panel", [&about] { about.openAboutPanel(); return &about; }},
        {"extreme values", [&extremes] { extremes.showWindow(); return extremes.window(); }},
        {"connected computers", [&connections] { connections.openWindow(); return connections.window(); }},
    };
    for (const Window& window : windows)
        for (const QKeySequence& keys : {kEscape, kCloseKeys, kQuitKeys}) {
            SCOPED_TRACE(testing::Message() << window.name << " " << keys.toString().toStdString());
            QWidget* shown = window.open();
            ASSERT_TRUE(shown->isVisible());
            const int before = quits;
            press(shown, keys);
            if (keys == kQuitKeys) {
                EXPECT_EQ(quits, before + 1);
                shown->close();
            } else {
                EXPECT_FALSE(shown->isVisible());
                EXPECT_EQ(quits, before);
            }
        }

    // The alerts are modal: the keys reach them while their caller waits for the answer.
    struct Alert {
        const char* name;
        std::function<void()> run;
    };
    bool reset = false;
    const Alert alerts[] = {
        {"Reset sensor colors?", [&controller] { controller.resetSensorColors(); }},
        {"Reset All Sensors", [&reset] { reset = QtGaugeResetPanel::run().has_value(); }},
    };
    for (const Alert& alert : alerts)
        for (const QKeySequence& keys : {kEscape, kCloseKeys, kQuitKeys}) {
            SCOPED_TRACE(testing::Message() << alert.name << " " << keys.toString().toStdString());
            const int before = quits;
            bool pressed = false;
            QElapsedTimer waited;
            waited.start();
            QTimer poll;
            QObject::connect(&poll, &QTimer::timeout, [&] {
                QWidget* modal = QApplication::activeModalWidget();
                if (!modal)
                    return;
                if (!pressed) {
                    pressed = true;
                    press(modal, keys);
                } else if (waited.elapsed() > 30000) {
                    ADD_FAILURE() << "the key left the alert open";
                    modal->close();
                    if (auto* dialog = qobject_cast<QDialog*>(modal))
                        dialog->reject();
                }
            });
            poll.start(10);
            alert.run();
            poll.stop();
            EXPECT_TRUE(pressed);
            EXPECT_FALSE(reset);
            if (keys == kQuitKeys)
                EXPECT_TRUE(QTest::qWaitFor([&] { return quits == before + 1; }, 30000));
            else
                EXPECT_EQ(quits, before);
        }
}

// The commands of a window's own menu bar act on that window, whichever window has the focus (or none does).
TEST(QtApplicationMenu, AMenuBarsCommandsActOnItsWindow)
{
    AppController controller;
    QtApplicationMenu menus(controller);
    platform::ApplicationMenuBar::setMaker([&menus](QWidget* w) { return menus.makeMenuBar(w); });
    QWidget window, other;
    new QVBoxLayout(&window);
    platform::ApplicationMenuBar::installInto(&window);
    platform::ApplicationMenuBar::setMaker({});
    auto* bar = qobject_cast<QMenuBar*>(window.layout()->menuBar());
    ASSERT_NE(bar, nullptr);
    window.show();
    other.show();
    for (QWidget* focused : {static_cast<QWidget*>(nullptr), &other}) {
        SCOPED_TRACE(focused ? "another window focused" : "no window focused");
        window.show();
        if (focused) {
            focused->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(focused));
        }
        QMenu* file = bar->actions().at(1)->menu();
        emit file->aboutToShow(); // as the user's click opens it
        for (const char* item : {"Print...", "Close Window"})
            EXPECT_TRUE(findAction(file, QString::fromLatin1(item))->isEnabled()) << item;
        findAction(file, "Close Window")->trigger();
        EXPECT_FALSE(window.isVisible());
        EXPECT_TRUE(other.isVisible());
    }
}
