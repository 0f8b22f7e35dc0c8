#pragma once
// QtApplicationMenu: the application's menus as Qt menus, made from one description for every window's
// menu bar and for the tray's context menu. Each command goes to the application controller; check marks,
// enabled states and the screen display item's title are read from it each time a menu opens. Main thread.

#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class AppController;
class QAction;
class QMenuBar;
class QWidget;

class QtApplicationMenu final : public QObject {
public:
    explicit QtApplicationMenu(AppController& controller, QObject* parent = nullptr);
    ~QtApplicationMenu() override;

    // A menu bar for `window`, owned by it: its menus' titles at once, their items when the window first shows
    // or one of them opens.
    QMenuBar* makeMenuBar(QWidget* window);
    // What the tray's context menu ends with: the Dock menu's commands and the application's own (About,
    // update check, feedback, web site, preferences, quit); owned by this object.
    QList<QAction*> dockMenuActions();

    // The preference window is shown by its owner.
    std::function<void()> openPreferences;

private:
    struct Item {
        Item(QString title = {}, qint64 tag = 0, std::function<void(qint64)> run = {}, QString shortcut = {},
             QString statefulMenu = {})
            : title(std::move(title)), tag(tag), run(std::move(run)), shortcut(std::move(shortcut)),
              statefulMenu(std::move(statefulMenu))
        {
        }
        QString title;
        qint64 tag = 0;
        std::function<void(qint64 tag)> run; // none: a separator
        QString shortcut;
        QString statefulMenu; // "menuBarMenu", … when the item carries a check mark
        bool isScreenWindowItem = false;
        int submenu = -1; // an index into the menu's submenus: this item opens it
    };
    struct Menu {
        QString title;
        QList<Item> items;
        QList<Menu> submenus;
    };

    QList<Menu> menuBar() const;
    Menu dockMenu(const QString& name) const;
    QMenu* build(const Menu& description, QWidget* parent);
    void fill(QMenu* menu, const Menu& description);
    // A menu's states as they read for the window of its menu bar.
    void refresh(QMenu* menu);
    void refreshStates(QMenu* menu);
    // Runs `f` with `window` as the window the commands act on.
    template <typename F>
    void actingFor(QWidget* window, F&& f);
    void refreshAll();

    AppController& controller_;
    std::unique_ptr<QMenu> dockMenu_;
    QList<QPointer<QMenu>> menus_;
    QPointer<QWidget> acting_;
};
