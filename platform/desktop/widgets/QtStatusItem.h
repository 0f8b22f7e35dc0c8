#pragma once
// The tray backend of StatusItem: one tray icon per title slot, each a plate with the slot's text drawn at
// the size the tray host gives it, in the slot's colour (inverted: that colour as the plate), the whole title
// as tooltip and the drop-down as the menu of either mouse button. The icons reach the tray through one of two
// transports (TrayTransport.h): StatusNotifierItems where a StatusNotifierWatcher owns its name on the session
// bus, registered again whenever a watcher appears; elsewhere on X, XEmbed icons, shown whether or not a tray
// host runs. A slot is drawn only when it reads differently; the one menu changes its items in place. Made by
// the program for the application controller; main thread only.

#include "platform/desktop/StatusItem.h"

#include <QIcon>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QPointer>
#include <QSize>

#include <memory>
#include <optional>

class QAction;
class QMenu;
class QObject;

namespace platform {

class StatusNotifierTray;
class TrayTransport;
class XEmbedTray;

class QtStatusItem final : public StatusItem {
public:
    QtStatusItem();
    ~QtStatusItem() override;

    void setTitle(const Title& title, const QFont& font) override;
    void setImage(const QImage& image) override;
    qsizetype menuItemCount() const override;
    void setMenuItems(const QStringList& titles) override;
    void setMenuItemTitle(qsizetype index, const QString& title) override;

    // The icon of one slot at `size` device pixels; pure drawing, for the tray and for tests.
    static QImage iconForRun(const Run& run, const QFont& font, QSize size);
    // How a slot's text is set in a box of `size` pixels: its lines, top to bottom, and each line's pixel
    // size. The value's number gets the largest size the box allows.
    struct Layout {
        QStringList lines;
        QList<int> pixelSizes;
    };
    static Layout layoutForText(const QString& text, const QFont& font, QSize size);

    // Where a client knows neither the desktop's panels nor where its menu's window goes, only its screen's
    // size (Wayland), the menu leaves this much of the screen clear at the top and at the bottom, a panel at
    // either edge or one twice as tall at one, and lays its items out in more columns instead.
    static constexpr int menuPanelAllowance = 32;
    static void keepClearOfPanels(QMenu* menu);
    // A line of a menu a host draws is at most this tall (GNOME Shell's are 36 px at its usual font).
    static constexpr int hostMenuLineHeight = 40;
    // How many values the menu lists above the commands, the rest in a submenu, on a screen so tall with so
    // many lines of commands after them.
    static qsizetype valuesAtTopLevel(int screenHeight, qsizetype trailingLines);

    // Commands appended below the values of the menu (the application's own); the menu shows them at once,
    // even while it has no values.
    void setTrailingActions(const QList<QAction*>& actions)
    {
        trailing_ = actions;
        rebuildMenu();
    }

private:
    enum class Tray { None, XEmbed, StatusNotifier };
    struct Slot {
        // What the icon shows; none until it is first drawn.
        std::optional<Run> shown;
        QIcon icon;
        QString toolTip;
    };

    void rebuildMenu();
    void showIcons();
    void chooseTray();
    // The transport of `tray`; null for none.
    TrayTransport* transport(Tray tray) const;
    void popUpMenu(QPoint at);

    // Lives as long as the item: the context of its connections to the watch.
    std::unique_ptr<QObject> context_;
    Tray tray_ = Tray::None;
    quint64 watcherGeneration_ = 0;
    Title title_;
    QFont font_;
    QImage image_;
    QList<Slot> slots_;
    qsizetype shownCount_ = 0;
    std::unique_ptr<XEmbedTray> xembed_;
    std::unique_ptr<StatusNotifierTray> statusNotifier_;
    QMenu* menu_ = nullptr;
    QPointer<QMenu> moreValues_;
    QStringList items_;
    QList<QAction*> itemActions_;
    QList<QAction*> trailing_;
};

} // namespace platform
