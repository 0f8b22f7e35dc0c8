#pragma once
// TEVSimpleColorCell: the colour swatch of the extremes table: a framed rectangle of 60 % × 75 % of the
// cell, whose click (pressed and released inside it) sends the cell's action with the row. Owned by its
// table; main thread.

#include <QStyledItemDelegate>

#include <functional>

class TEVSimpleColorCell : public QStyledItemDelegate {
public:
    explicit TEVSimpleColorCell(QObject* parent = nullptr);

    static QRect swatchRectForCellFrame(const QRect& frame);
    // Called with the row of a click inside a swatch.
    void setAction(std::function<void(int row)> action) { action_ = std::move(action); }
    bool isAlternate() const { return pressedRow_ >= 0; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;

private:
    std::function<void(int)> action_;
    int pressedRow_ = -1; // the row whose swatch the mouse went down in
};
