#include "app/controller/QtApplicationMenu.h"

#include "app/controller/AppController.h"
#include "framework/widgets/TEVAboutPanel.h"
#include "platform/desktop/widgets/PanelKeys.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QWindow>

#include <utility>

namespace {

QString menuText(const char* key)
{
    return ControllerCore::localized(QString::fromUtf8(key));
}

void orderFrontStandardTEVAboutPanel()
{
    if (TEVAboutPanel* panel = TEVAboutPanel::standardAboutPanel())
        panel->openAboutPanel();
}

// The window a menu bar belongs to; none for the tray's menu.
QWidget* ownerWindow(QMenu* menu)
{
    for (QWidget* w = menu ? menu->parentWidget() : nullptr; w; w = w->parentWidget())
        if (auto* bar = qobject_cast<QMenuBar*>(w))
            return bar->window();
    return nullptr;
}

// The application's main window on paper, scaled to fit the page.
void printMainWindow(QWidget* window)
{
    if (!window)
        return;
    QPrinter printer;
    QPrintDialog dialog(&printer, window);
    if (dialog.exec() != QDialog::Accepted)
        return;
    QPainter painter(&printer);
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    const double scale = std::min(page.width() / window->width(), page.height() / window->height());
    painter.scale(scale, scale);
    window->render(&painter);
}

} // namespace

QtApplicationMenu::QtApplicationMenu(AppController& controller, QObject* parent)
    : QObject(parent), controller_(controller)
{
    controller_.setMenuStateObserver([this] { refreshAll(); });
    platform::PanelKeys::setQuitHandler([this] { controller_.quit(); });
    // The items that need a main window read the active one: their keys must work before a menu opens.
    if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(gui, &QGuiApplication::focusWindowChanged, this, [this] { refreshAll(); });
}

QtApplicationMenu::~QtApplicationMenu()
{
    controller_.setMenuStateObserver({});
    platform::PanelKeys::setQuitHandler({});
}

template <typename F>
void QtApplicationMenu::actingFor(QWidget* window, F&& f)
{
    // Nested: a command may run a modal panel whose loop refreshes other menus.
    const QPointer<QWidget> previous = acting_;
    acting_ = window;
    controller_.setMenuWindow(window);
    f();
    acting_ = previous;
    controller_.setMenuWindow(previous);
}

QList<QtApplicationMenu::Menu> QtApplicationMenu::menuBar() const
{
    AppController& c = controller_;
    const auto call = [](std::function<void()> fn) {
        return [fn](qint64) {
            if (fn)
                fn();
        };
    };
    const auto member = [&c](auto fn) { return [&c, fn](qint64) { (c.*fn)(); }; };
    const auto openAll = [&c](const QString& className) { return [&c, className](qint64) { c.openMonitorWindows(className); }; };
    const Item separator;

    Menu application{QStringLiteral("Kelvaro"), {
        {menuText("About Kelvaro"), 0, [](qint64) { orderFrontStandardTEVAboutPanel(); }},
        separator,
        {menuText("Preferences..."), 0, call(openPreferences), QStringLiteral("Ctrl+,")},
        {menuText("Check for Updates..."), 0, member(&AppController::checkForSoftwareUpdate)},
        separator,
        {menuText("Send Feedback..."), 0, member(&AppController::contactAuthor)},
        {menuText("Kelvaro Web Site"), 0, member(&AppController::contactWebSite)},
        separator,
        {menuText("Launch Kelvaro Lite"), 0, member(&AppController::launchSmallSibling)},
        separator,
        {menuText("Quit Kelvaro"), 0, member(&AppController::quit), QStringLiteral("Ctrl+Q")},
    }, {}};
    Menu file{menuText("File"), {
        {menuText("Save..."), 2020, member(&AppController::save), QStringLiteral("Ctrl+S")},
        {menuText("Save Sensor ID Report..."), 0, member(&AppController::saveIdentifierReport)},
        separator,
        {menuText("Print..."), 2040, [&c](qint64) { printMainWindow(c.windowActedOn()); }, QStringLiteral("Ctrl+P")},
        separator,
        {menuText("Close Window"), 2010, [&c](qint64) {
             if (QWidget* window = c.windowActedOn())
                 window->close();
         }, QStringLiteral("Ctrl+W")},
    }, {}};
    Menu sensors{menuText("Sensors"), {
        {menuText("Update Readings Now"), 0, member(&AppController::enforceUpdateOfReadings), QStringLiteral("Ctrl+R")},
        {menuText("Rescan for Sensors"), 0, member(&AppController::rescanForSensors)},
        {menuText("Clear Short-Term History"), 0, member(&AppController::clearShortTermHistory)},
        separator,
        {menuText("Reset Sensor Colors..."), 0, member(&AppController::resetSensorColors)},
        {menuText("Reset All Sensors..."), 0, member(&AppController::resetAllGauges)},
    }, {}};

    Menu menuBarMenu{menuText("Menu Bar"), {}, {}};
    menuBarMenu.items.append({menuText("No Values"), 4290, {}, {}, QStringLiteral("menuBarMenu")});
    for (int n = 1; n <= 8; ++n)
        menuBarMenu.items.append({n == 1 ? menuText("1 Value") : menuText("%1 Values").arg(n), 4200 + 10 * n, {}, {},
                                  QStringLiteral("menuBarMenu")});
    for (Item& item : menuBarMenu.items)
        item.run = [&c](qint64 tag) { c.changeMenuBarDisplay(tag); };
    Menu speech{menuText("Speech"), {
        {menuText("Speak All Values"), 4410, {}, {}, QStringLiteral("speechMenu")},
        {menuText("Speak Alerts Only"), 4420, {}, {}, QStringLiteral("speechMenu")},
        {menuText("Silent"), 4430, {}, {}, QStringLiteral("speechMenu")},
    }, {}};
    for (Item& item : speech.items)
        item.run = [&c](qint64 tag) { c.changeVoiceMode(tag); };
    Item opens0, opens1, opens2;
    opens0.submenu = 0, opens1.submenu = 1, opens2.submenu = 2;
    Menu display{menuText("Display"), {opens0, opens1, opens2}, {menuBarMenu, dockMenu(QStringLiteral("dockMenu")), speech}};

    Item screen{menuText("Show Screen Display"), 0, member(&AppController::toggleScreenWindow), QStringLiteral("Ctrl+D")};
    screen.isScreenWindowItem = true;
    Menu window{menuText("Window"), {
        {menuText("Sensor Window"), 0, member(&AppController::openSensorWindow), QStringLiteral("Ctrl+1")},
        screen,
        {menuText("Reposition Screen Display"), 0, member(&AppController::repositionScreenWindow)},
        {menuText("Extreme Values"), 0, member(&AppController::openMinMaxWindow)},
        separator,
        {menuText("Open History Windows"), 0, member(&AppController::openHistoryWindows), QStringLiteral("Ctrl+H")},
        {menuText("Close History Windows"), 0, member(&AppController::closeHistoryWindows)},
        {menuText("Combine History Windows..."), 0, member(&AppController::combineHistoryWindows)},
        separator,
        {menuText("Overview"), 0, openAll(AppController::kSensorOverview)},
        {menuText("System Information"), 0, openAll(AppController::kSystemInfoDisplay)},
        {menuText("Drives"), 0, openAll(AppController::kDriveOverview)},
        {menuText("Batteries"), 0, openAll(AppController::kSmartBatteryInfoDisplay)},
        {menuText("Displays"), 0, openAll(AppController::kDisplayInfoDisplay)},
        separator,
        {menuText("Connections"), 0, member(&AppController::openRemoteConnectionWindow)},
        {menuText("Connect to Remote Computer..."), 0, member(&AppController::openRemoteConnectPanel)},
    }, {}};
    return {application, file, sensors, display, window};
}

QtApplicationMenu::Menu QtApplicationMenu::dockMenu(const QString& name) const
{
    AppController& c = controller_;
    Menu dock{menuText("Application Icon"), {
        {menuText("1 Value"), 4310, {}, {}, name},
        {menuText("2 Values"), 4320, {}, {}, name},
        {menuText("No Values"), 4330, {}, {}, name},
    }, {}};
    for (Item& item : dock.items)
        item.run = [&c](qint64 tag) { c.changeDockDisplay(tag); };
    return dock;
}

QMenu* QtApplicationMenu::build(const Menu& description, QWidget* parent)
{
    auto* menu = new QMenu(description.title, parent);
    fill(menu, description);
    return menu;
}

void QtApplicationMenu::fill(QMenu* menu, const Menu& description)
{
    QActionGroup* group = nullptr;
    for (const Item& item : description.items) {
        if (item.submenu >= 0) {
            menu->addMenu(build(description.submenus.at(item.submenu), menu));
            continue;
        }
        if (!item.run) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(item.title);
        action->setData(item.tag);
        if (!item.shortcut.isEmpty())
            action->setShortcut(QKeySequence(item.shortcut));
        if (!item.statefulMenu.isEmpty()) {
            action->setCheckable(true);
            action->setProperty("statefulMenu", item.statefulMenu);
            if (!group)
                group = new QActionGroup(menu);
            group->addAction(action);
        }
        if (item.isScreenWindowItem)
            action->setObjectName(QStringLiteral("screenWindowMenuItem"));
        const auto run = item.run;
        const qint64 tag = item.tag;
        const QPointer<QMenu> owner = menu;
        connect(action, &QAction::triggered, this, [this, run, tag, owner] {
            actingFor(ownerWindow(owner), [&] { run(tag); });
            refreshAll();
        });
    }
    menus_.append(menu);
    // Shortcuts work before a menu was ever opened: the states are set now, and again at each opening.
    refresh(menu);
    connect(menu, &QMenu::aboutToShow, this, [this, menu] { refresh(menu); });
}

void QtApplicationMenu::refresh(QMenu* menu)
{
    actingFor(ownerWindow(menu), [&] { refreshStates(menu); });
}

void QtApplicationMenu::refreshStates(QMenu* menu)
{
    for (QAction* action : menu->actions()) {
        if (action->isSeparator() || action->menu())
            continue;
        const qint64 tag = action->data().toLongLong();
        action->setEnabled(controller_.validateMenuItem(tag));
        const QString stateful = action->property("statefulMenu").toString();
        if (!stateful.isEmpty())
            action->setChecked(controller_.isMenuItemChecked(stateful, tag));
        if (action->objectName() == QLatin1String("screenWindowMenuItem"))
            action->setText(controller_.screenWindowMenuItemTitle());
    }
}

void QtApplicationMenu::refreshAll()
{
    menus_.removeAll(nullptr);
    for (const auto& menu : std::as_const(menus_))
        refresh(menu);
}

namespace {

// A window's menus until it is first shown: their titles only. Every computer has several windows most
// never open, each with a menu bar of some eighty actions; their keys work only in a shown window anyway.
class UnbuiltMenus final : public QObject {
public:
    UnbuiltMenus(QWidget* window, QMenuBar* bar, std::function<void()> build)
        : QObject(bar), window_(window), build_(std::move(build))
    {
        window->installEventFilter(this);
    }

    void buildNow()
    {
        if (!build_)
            return;
        window_->removeEventFilter(this);
        const auto build = std::exchange(build_, {});
        build();
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == window_ && event->type() == QEvent::Show)
            buildNow();
        return false;
    }

private:
    QWidget* window_;
    std::function<void()> build_;
};

} // namespace

QMenuBar* QtApplicationMenu::makeMenuBar(QWidget* window)
{
    auto* bar = new QMenuBar(window);
    QList<QPair<QPointer<QMenu>, Menu>> menus;
    for (const Menu& description : menuBar()) {
        auto* menu = new QMenu(description.title, bar);
        bar->addMenu(menu);
        menus.append({menu, description});
    }
    auto* unbuilt = new UnbuiltMenus(window, bar, [self = QPointer(this), menus] {
        if (!self)
            return;
        for (const auto& [menu, description] : menus)
            if (menu)
                self->fill(menu, description);
    });
    // A menu opened from a window not yet shown (a command's panel, a test) gets its items first.
    for (const auto& entry : std::as_const(menus))
        connect(entry.first, &QMenu::aboutToShow, unbuilt, &UnbuiltMenus::buildNow);
    return bar;
}

QList<QAction*> QtApplicationMenu::dockMenuActions()
{
    if (!dockMenu_) {
        AppController& c = controller_;
        const auto member = [&c](auto fn) { return [&c, fn](qint64) { (c.*fn)(); }; };
        Item screen{menuText("Show Screen Display"), 0, member(&AppController::toggleScreenWindow)};
        screen.isScreenWindowItem = true;
        Item icon;
        icon.submenu = 0;
        const Menu commands{QString(), {
            {menuText("Sensor Window"), 0, member(&AppController::openSensorWindow)},
            screen,
            {menuText("Extreme Values"), 0, member(&AppController::openMinMaxWindow)},
            {menuText("Open History Windows"), 0, member(&AppController::openHistoryWindows)},
            icon,
            Item(),
            {menuText("About Kelvaro"), 0, [](qint64) { orderFrontStandardTEVAboutPanel(); }},
            {menuText("Check for Updates..."), 0, member(&AppController::checkForSoftwareUpdate)},
            {menuText("Send Feedback..."), 0, member(&AppController::contactAuthor)},
            {menuText("Kelvaro Web Site"), 0, member(&AppController::contactWebSite)},
            Item(),
            {menuText("Preferences..."), 0, [this](qint64) {
                 if (openPreferences)
                     openPreferences();
             }},
            {menuText("Quit Kelvaro"), 0, member(&AppController::quit)},
        }, {dockMenu(QStringLiteral("dockContextMenu"))}};
        dockMenu_.reset(build(commands, nullptr));
    }
    return dockMenu_->actions();
}
