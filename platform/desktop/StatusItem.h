#pragma once
// StatusItem: the program's item in the desktop's tray: a title of value slots, each drawn in its colour
// (inverted while its gauge alerts), and a drop-down menu of further values. This base shows nothing; the
// tray backend in widgets/ draws one tray icon per slot. Owned by the application controller; main thread.

#include <QColor>
#include <QFont>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>

namespace platform {

class StatusItem {
public:
    // One slot of the title: its text as the title spells it (later slots start with a blank).
    struct Run {
        QString text;
        QColor color;
        bool inverted = false;
        // Drawn in place of the text where the tray is too small to read it (empty: the text itself).
        QString shortText = {};
        bool operator==(const Run&) const = default;
    };
    using Title = QList<Run>;

    virtual ~StatusItem() = default;

    virtual void setTitle(const Title& title, const QFont& font) { (void)title, (void)font; }
    // Shown while the title is empty; a null image removes it.
    virtual void setImage(const QImage& image) { (void)image; }
    // 0 when there is no drop-down.
    virtual qsizetype menuItemCount() const { return 0; }
    // A new drop-down with these items; none removes it.
    virtual void setMenuItems(const QStringList& titles) { (void)titles; }
    // Changes one item of the drop-down in place.
    virtual void setMenuItemTitle(qsizetype index, const QString& title) { (void)index, (void)title; }
};

} // namespace platform
