#pragma once
// SensorGridLayout: lays out the sensor window's text of cells, where each line holds cells a fixed width
// apart and a tab leads (right, centred) or ends (left) each cell's text. It places every cell's text in its
// cell itself as a line of its own, where the text engine's right and centred tab stops measure the rest of
// the line for each stop: laying out a line of thousands of cells again, as a changed value has it, took the
// square of its cells. The text looks as the standard layout with those stops lays it out. Only for text
// that runs from the left, without wrapping. Main thread.

#include <QAbstractTextDocumentLayout>
#include <QHash>
#include <QBrush>
#include <QRectF>
#include <QTextLayout>

#include <memory>
#include <QTextOption>

class SensorGridLayout final : public QAbstractTextDocumentLayout {
public:
    // `cell`: the distance of the cells; `type`: how a text stands in its cell (a left, right or centre tab).
    SensorGridLayout(QTextDocument* document, double cell, QTextOption::TabType type);

    void draw(QPainter* painter, const PaintContext& context) override;
    int hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const override;
    int pageCount() const override { return 1; }
    QSizeF documentSize() const override;
    QRectF frameBoundingRect(QTextFrame* frame) const override;
    QRectF blockBoundingRect(const QTextBlock& block) const override;

protected:
    void documentChanged(int from, int charsRemoved, int charsAdded) override;
    void resizeInlineObject(QTextInlineObject, int, const QTextFormat&) override {}
    void positionInlineObject(QTextInlineObject, int, const QTextFormat&) override {}
    void drawInlineObject(QPainter*, const QRectF&, QTextInlineObject, int, const QTextFormat&) override {}

private:
    // Lays `block` out at `top`; its height.
    double layOut(const QTextBlock& block, double top);
    void layOutFrom(const QTextBlock& first);

    // The engine's own layout of `block` with its stops, for drawing a selection the way it would.
    const QTextLayout& engineLayout(const QTextBlock& block) const;

    double cell_;
    QTextOption::TabType type_;
    QHash<int, QRectF> blockRects_; // by block number
    // The room of each tab drawn with a background (an inverted value's), in its block's layout.
    struct TabBackground {
        QRectF rect;
        QBrush brush;
    };
    QHash<int, QList<TabBackground>> tabBackgrounds_;
    mutable QHash<int, std::shared_ptr<QTextLayout>> engineLayouts_;
    QSizeF size_;
};
