#include "windows/SensorGridLayout.h"

#include <QPainter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace {

// The text engine places text in 64ths of a pixel, rounding a stop's place and half a width.
int sixtyFourths(double pixels)
{
    return int(std::lround(pixels * 64));
}

// Wider than any line of the text.
constexpr double kLineWidth = 1'000'000;

// Where line `i` of `layout` ends its text: before the tab that ends the line.
int textEndOfLine(const QTextLayout& layout, int i, const QString& text)
{
    const int to = i + 1 < layout.lineCount() ? layout.lineAt(i + 1).textStart() : int(text.size());
    return to > layout.lineAt(i).textStart() && text.at(to - 1) == QLatin1Char('\t') ? to - 1 : to;
}

// The advance of line `i`'s text, without its tab.
double textWidthOfLine(const QTextLayout& layout, int i, const QString& text)
{
    const QTextLine line = layout.lineAt(i);
    return line.cursorToX(textEndOfLine(layout, i, text)) - line.cursorToX(line.textStart());
}

} // namespace

SensorGridLayout::SensorGridLayout(QTextDocument* document, double cell, QTextOption::TabType type)
    : QAbstractTextDocumentLayout(document)
    , cell_(cell)
    , type_(type)
{
}

double SensorGridLayout::layOut(const QTextBlock& block, double top)
{
    QTextLayout* layout = block.layout();
    QTextOption option = document()->defaultTextOption();
    option.setTextDirection(Qt::LeftToRight);
    option.setTabs({});
    // Lines a cell wide, and a tab reaching to the cell's end: every cell's text, with its tab, is a line, and
    // the text after a tab starts the next.
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTabStopDistance(cell_);
    layout->setTextOption(option);
    const QString text = block.text();
    const bool leadingTabs = type_ != QTextOption::LeftTab;
    layout->beginLayout();
    for (QTextLine line = layout->createLine(); line.isValid(); line = layout->createLine()) {
        line.setLeadingIncluded(true);
        line.setLineWidth(cell_);
    }
    layout->endLayout();
    qreal ascent = 0, descent = 0, leading = 0;
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        ascent = std::max(ascent, line.ascent());
        descent = std::max(descent, line.descent());
        leading = std::max(leading, line.leading());
    }
    // The backgrounds of tabs, found once: looked up per tab, a line of thousands would be searched as often.
    QHash<int, QBrush> tabBrushes;
    for (auto it = block.begin(); !it.atEnd(); ++it) {
        const QTextFragment fragment = it.fragment();
        const QBrush brush = fragment.charFormat().background();
        if (brush.style() == Qt::NoBrush)
            continue;
        const QString piece = fragment.text();
        for (qsizetype at = piece.indexOf(QLatin1Char('\t')); at >= 0; at = piece.indexOf(QLatin1Char('\t'), at + 1))
            tabBrushes.insert(fragment.position() - block.position() + int(at), brush);
    }
    QList<TabBackground> backgrounds;
    int tabsBefore = 0;
    double right = 0;
    for (int i = 0; i < layout->lineCount(); ++i) {
        QTextLine line = layout->lineAt(i);
        const int from = line.textStart();
        const int textEnd = textEndOfLine(*layout, i, text);
        const bool endsInTab = textEnd < (i + 1 < layout->lineCount() ? layout->lineAt(i + 1).textStart() : int(text.size()));
        // The text's advance up to its tab, blanks included, as a stop measures it.
        const int width = textEnd > from ? sixtyFourths(textWidthOfLine(*layout, i, text)) : 0;
        const int column = tabsBefore - (leadingTabs ? 1 : 0);
        int x = 0;
        if (column >= 0 && (leadingTabs || column > 0)) {
            switch (type_) {
            case QTextOption::RightTab: x = sixtyFourths(double(column + 1) * cell_) - width; break;
            case QTextOption::CenterTab: x = sixtyFourths(double(column) * cell_ + cell_ / 2) - width / 2 - 1; break;
            default: x = sixtyFourths(double(column) * cell_); break;
            }
        }
        line.setPosition(QPointF(std::max(0, x) / 64.0, ascent - line.ascent()));
        right = std::max(right, std::max(0, x + width) / 64.0);
        tabsBefore += endsInTab ? 1 : 0;
    }
    // A tab reaches from the text before it to the text after it, or to its stop.
    for (int i = 0; i < layout->lineCount() && !tabBrushes.isEmpty(); ++i) {
        const QTextLine line = layout->lineAt(i);
        const int tab = textEndOfLine(*layout, i, text);
        const auto brush = tabBrushes.constFind(tab);
        if (brush == tabBrushes.cend() || tab >= text.size() || text.at(tab) != QLatin1Char('\t'))
            continue;
        const double from = line.x() + textWidthOfLine(*layout, i, text);
        double to = from;
        if (i + 1 < layout->lineCount())
            to = layout->lineAt(i + 1).x();
        else if (type_ == QTextOption::LeftTab)
            to = std::ceil(from / cell_) * cell_;
        if (to > from)
            backgrounds.append({QRectF(from, line.y(), to - from, line.height()), brush.value()});
    }
    if (backgrounds.isEmpty())
        tabBackgrounds_.remove(block.blockNumber());
    else
        tabBackgrounds_.insert(block.blockNumber(), backgrounds);
    const double margin = document()->documentMargin();
    layout->setPosition(QPointF(margin, top));
    // One line holding all cells would be as high; the engine rounds a line's height up.
    const double height = std::ceil(ascent + descent + std::max<qreal>(0, leading));
    blockRects_.insert(block.blockNumber(), QRectF(margin, top, right, height));
    return height;
}

void SensorGridLayout::layOutFrom(const QTextBlock& first)
{
    const double margin = document()->documentMargin();
    double top = margin;
    if (first.previous().isValid()) {
        const QRectF above = blockRects_.value(first.previous().blockNumber());
        top = above.bottom();
    }
    for (QTextBlock block = first; block.isValid(); block = block.next())
        top += layOut(block, top);
}

void SensorGridLayout::documentChanged(int from, int charsRemoved, int charsAdded)
{
    Q_UNUSED(charsRemoved);
    const QSizeF before = size_;
    QTextBlock first = document()->findBlock(from);
    if (!first.isValid())
        first = document()->begin();
    const int count = document()->blockCount();
    // Paragraphs added or removed move those below; a changed text within its paragraphs moves nothing else
    // unless a height changed.
    engineLayouts_.clear();
    if (blockRects_.size() != count) {
        blockRects_.clear();
        tabBackgrounds_.clear();
        layOutFrom(document()->begin());
    } else {
        const QTextBlock last = document()->findBlock(from + charsAdded);
        bool moved = false;
        for (QTextBlock block = first; block.isValid(); block = block.next()) {
            const double height = blockRects_.value(block.blockNumber()).height();
            if (moved) {
                layOutFrom(block);
                break;
            }
            const double top = block.previous().isValid() ? blockRects_.value(block.previous().blockNumber()).bottom()
                                                          : document()->documentMargin();
            moved = layOut(block, top) != height;
            if (block == last && !moved)
                break;
        }
    }
    double width = 0, bottom = 0;
    for (const QRectF& rect : std::as_const(blockRects_)) {
        width = std::max(width, rect.right());
        bottom = std::max(bottom, rect.bottom());
    }
    const double margin = document()->documentMargin();
    size_ = QSizeF(width + margin, bottom + margin);
    emit update();
    if (documentSize() != before)
        emit documentSizeChanged(documentSize());
}

QSizeF SensorGridLayout::documentSize() const
{
    const double page = document()->pageSize().width();
    return QSizeF(std::max(page > 0 ? page : 0.0, size_.width()), size_.height());
}

QRectF SensorGridLayout::frameBoundingRect(QTextFrame* frame) const
{
    return frame == document()->rootFrame() ? QRectF(QPointF(0, 0), documentSize()) : QRectF();
}

QRectF SensorGridLayout::blockBoundingRect(const QTextBlock& block) const
{
    return blockRects_.value(block.blockNumber());
}

void SensorGridLayout::draw(QPainter* painter, const PaintContext& context)
{
    const QRectF clip = context.clip;
    painter->setPen(context.palette.color(QPalette::Text));
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        const QRectF rect = blockRects_.value(block.blockNumber());
        if (clip.isValid() && (rect.bottom() < clip.top() || rect.top() > clip.bottom()))
            continue;
        QTextLayout* layout = block.layout();
        QList<QTextLayout::FormatRange> selected;
        const int blockStart = block.position();
        const int blockEnd = blockStart + block.length() - 1; // without the paragraph's end
        for (const Selection& selection : context.selections) {
            const int start = selection.cursor.selectionStart();
            const int end = selection.cursor.selectionEnd();
            if (start >= end || end <= blockStart || start >= blockEnd)
                continue;
            QTextLayout::FormatRange range;
            range.start = std::max(start, blockStart) - blockStart;
            range.length = std::min(end, blockEnd) - blockStart - range.start;
            range.format = selection.format;
            selected.append(range);
        }
        if (!selected.isEmpty()) {
            engineLayout(block).draw(painter, QPointF(), selected, clip);
            continue;
        }
        // Only the cells the clip reaches: a paint for a few changed cells draws those.
        const QPointF at = layout->position();
        for (const TabBackground& background : tabBackgrounds_.value(block.blockNumber()))
            painter->fillRect(background.rect.translated(at), background.brush);
        const QString text = block.text();
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            const double left = at.x() + line.x();
            const double slack = line.height();
            if (clip.isValid() && (left + textWidthOfLine(*layout, i, text) + slack < clip.left() || left - slack > clip.right()))
                continue;
            line.draw(painter, at);
        }
    }
}

const QTextLayout& SensorGridLayout::engineLayout(const QTextBlock& block) const
{
    auto& kept = engineLayouts_[block.blockNumber()];
    if (!kept) {
        kept = std::make_shared<QTextLayout>(block.text(), document()->defaultFont());
        kept->setFormats(block.textFormats());
        QTextOption option = document()->defaultTextOption();
        option.setTextDirection(Qt::LeftToRight);
        option.setWrapMode(QTextOption::NoWrap);
        option.setTabs(block.blockFormat().tabPositions());
        kept->setTextOption(option);
        kept->beginLayout();
        QTextLine line = kept->createLine();
        line.setLeadingIncluded(true);
        line.setLineWidth(kLineWidth);
        kept->endLayout();
        kept->setPosition(block.layout()->position());
    }
    return *kept;
}

int SensorGridLayout::hitTest(const QPointF& point, Qt::HitTestAccuracy accuracy) const
{
    QTextBlock hit;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        const QRectF rect = blockRects_.value(block.blockNumber());
        if (point.y() < rect.bottom() || !block.next().isValid()) {
            if (accuracy == Qt::ExactHit && (point.y() < rect.top() || point.y() >= rect.bottom()))
                return -1;
            hit = block;
            break;
        }
    }
    if (!hit.isValid())
        return -1;
    const QTextLayout* layout = hit.layout();
    const double x = point.x() - layout->position().x();
    const QString text = hit.text();
    int nearest = -1;
    double distance = 0;
    for (int i = 0; i < layout->lineCount(); ++i) {
        const QTextLine line = layout->lineAt(i);
        const double away = x < line.x() ? line.x() - x : std::max(0.0, x - line.x() - textWidthOfLine(*layout, i, text));
        if (nearest < 0 || away < distance) {
            nearest = i;
            distance = away;
        }
    }
    if (nearest < 0 || (accuracy == Qt::ExactHit && distance > 0))
        return accuracy == Qt::ExactHit ? -1 : hit.position();
    return hit.position() + layout->lineAt(nearest).xToCursor(x);
}
