#pragma once
// The tray backend of StatusItem: one tray icon per title slot, each a square with the slot's text drawn
// as large as fits, in the slot's colour (inverted: that colour as the background), the whole title as
// tooltip and the drop-down as every icon's context menu. Without a tray host it says so once and shows
// nothing. Made by the program for the application controller; main thread only.

#include "platform/desktop/StatusItem.h"

#include <QImage>
#include <QList>

#include <memory>

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

    // The icon of one slot, `size` pixels square; pure drawing, for the tray and for tests.
    static QImage iconForRun(const Run& run, const QFont& font, int size);
    // Commands appended below the values of the context menu (the application's own); the menu shows them
    // at once, even while it has no values.
    void setTrailingActions(const QList<QAction*>& actions)
    {
        trailing_ = actions;
        rebuildMenu();
    }

private:
    void rebuildMenu();
    void showIcons();

    bool available_ = false;
    Title title_;
    QFont font_;
    QImage image_;
    QList<QSystemTrayIcon*> icons_;
    std::unique_ptr<QMenu> menu_;
    QStringList items_;
    QList<QAction*> itemActions_;
    QList<QAction*> trailing_;
};

} // namespace platform
