#pragma once
// The tray backend of StatusItem: one tray icon per title slot, each a plate with the slot's text drawn at
// the size the tray host gives it, in the slot's colour (inverted: that colour as the plate), the whole title
// as tooltip and the drop-down as the menu of either mouse button. On X the icons are shown whether or not a
// tray host runs; Qt docks them when one starts and again after it restarts. Made by the program for the
// application controller; main thread only.

#include "platform/desktop/StatusItem.h"

#include <QImage>
#include <QList>
#include <QSize>

#include <memory>
#include <optional>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace platform {

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
    struct Slot {
        // What the icon shows; none until it is first drawn.
        std::optional<Run> shown;
        QSystemTrayIcon* icon = nullptr;
    };

    void rebuildMenu();
    void showIcons();
    void makeIcons(qsizetype count);
    void popUpMenu();

    const bool canDock_;
    Title title_;
    QFont font_;
    QImage image_;
    QString toolTip_;
    QList<Slot> icons_;
    std::unique_ptr<QMenu> menu_;
    QStringList items_;
    QList<QAction*> itemActions_;
    QList<QAction*> trailing_;
};

} // namespace platform
