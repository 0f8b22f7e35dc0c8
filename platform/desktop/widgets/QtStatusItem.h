#pragma once
// The tray backend of StatusItem: one tray icon per title slot, each a plate with the slot's text drawn at
// the size the tray host gives it, in the slot's colour (inverted: that colour as the plate), the whole title
// as tooltip and the drop-down as the menu of either mouse button. Where a StatusNotifierWatcher owns its
// name on the session bus the icons are StatusNotifierItems (StatusNotifierItem.h), registered again whenever
// a watcher appears; elsewhere on X they are XEmbed icons, shown whether or not a tray host runs and docked by
// Qt when one starts. A host reads icons and menu whenever it likes: icons come and go by difference, are
// hidden and kept for reuse, and are destroyed only with the item, after the bus let go of them; the one menu
// changes its items in place. Made by the program for the application controller; main thread only.

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
class QSystemTrayIcon;
class QTimer;

namespace platform {

class DBusMenuExporter;
class StatusNotifierIcon;

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
        QPointer<QSystemTrayIcon> xembed;
        QPointer<StatusNotifierIcon> item;
    };

    void rebuildMenu();
    void showIcons();
    void chooseTray();
    QSystemTrayIcon* makeXEmbedIcon();
    StatusNotifierIcon* makeItem();
    void orderOnceRead();
    void orderItems();
    void popUpMenu(QPoint at);

    // Lives as long as the item: the context of its connections to the watch and the icons.
    std::unique_ptr<QObject> context_;
    Tray tray_ = Tray::None;
    quint64 watcherGeneration_ = 0;
    Title title_;
    QFont font_;
    QImage image_;
    QList<Slot> slots_;
    qsizetype shownCount_ = 0;
    // Icons registered with a watcher are shown again in order once its hosts stopped reading them for a
    // moment, which puts them in order on hosts that took them in any; a host that reads on gets them in
    // order again, a few times at most.
    QTimer* settle_ = nullptr;
    int orderingsLeft_ = 0;
    QMenu* menu_ = nullptr;
    DBusMenuExporter* exporter_ = nullptr;
    QStringList items_;
    QList<QAction*> itemActions_;
    QList<QAction*> trailing_;
};

} // namespace platform
