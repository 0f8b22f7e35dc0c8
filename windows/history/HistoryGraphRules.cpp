#include "windows/history/HistoryGraphRules.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <optional>
#include <span>

namespace HistoryGraphRules {

ValueRange valueRangeForExtremes(std::optional<std::pair<double, double>> minimumAndMaximum, bool zoomValueRange)
{
    // No value at all: the range of a graph of zeros.
    const auto [minimum, maximum] = minimumAndMaximum.value_or(std::pair(0.0, 0.0));
    ValueRange range;
    if (minimum < 0 || zoomValueRange) {
        const double pad = (maximum - minimum) * 0.1;
        range = {minimum - pad, maximum + pad};
    } else {
        range = {0.0, maximum * 1.1};
    }
    if (std::abs(range.high - range.low) < 1) {
        range.low -= 0.5;
        range.high += 0.5;
    }
    if (range.high >= 10)
        range.high = std::ceil(range.high);
    return range;
}

std::optional<CurveExtremes> curveExtremes(const std::vector<double>& values)
{
    // A flag rather than sentinel extremes: a reading beyond any sentinel is still a reading.
    std::optional<CurveExtremes> extremes;
    for (size_t i = 0; i < values.size(); ++i) {
        const double v = values[i];
        if (std::isnan(v))
            continue;
        if (!extremes) {
            extremes = CurveExtremes{v, qint64(i), v, qint64(i)};
            continue;
        }
        // Strictly: the first occurrence of an extreme carries the marker.
        if (v < extremes->minimum)
            extremes->minimum = v, extremes->minimumIndex = qint64(i);
        if (v > extremes->maximum)
            extremes->maximum = v, extremes->maximumIndex = qint64(i);
    }
    return extremes;
}

bool keepsZoomedOut(bool zoomedOut, double interval, double graphWidth)
{
    return interval / kSecondsPerPoint <= graphWidth ? false : zoomedOut;
}

double graphWidth(double visibleWidth, double interval, bool zoomedOut)
{
    return zoomedOut ? visibleWidth : std::max(visibleWidth, interval / kSecondsPerPoint);
}

ZoomButton zoomButton(bool longTermMode, bool zoomedOut, double graphWidth, double scrollViewWidth)
{
    ZoomButton button;
    button.showsZoomIn = zoomedOut;
    if (!longTermMode)
        button.visible = false;
    else
        button.visible = zoomedOut || graphWidth > scrollViewWidth;
    return button;
}

PanelSide extremesPanelSide(const QRect& windowFrame, int panelWidth, const QRect& visibleArea)
{
    const int windowLeft = windowFrame.x();
    const int windowRight = windowFrame.x() + windowFrame.width();
    const int visibleLeft = visibleArea.x();
    const int visibleRight = visibleArea.x() + visibleArea.width();
    if (visibleRight > windowRight + panelWidth)
        return PanelSide::Right;
    const int roomLeft = windowLeft - visibleLeft;
    const int roomRight = visibleRight - windowRight;
    if (roomLeft > panelWidth)
        return PanelSide::Left;
    return roomRight > roomLeft ? PanelSide::Right : PanelSide::Left;
}

QRect extremesPanelFrame(const QRect& windowFrame, int panelWidth, const QRect& visibleArea)
{
    const int x = extremesPanelSide(windowFrame, panelWidth, visibleArea) == PanelSide::Right
                      ? windowFrame.x() + windowFrame.width()
                      : windowFrame.x() - panelWidth;
    return QRect(x, windowFrame.y(), panelWidth, windowFrame.height());
}

QRectF visibleRectForDrawingObjectRect(const QSizeF& size, const QPointF& p, double d, const QRectF& target)
{
    const double w = size.width();
    const double h = size.height();
    const QPointF candidates[] = {
        {p.x() + d, p.y() + d},
        {p.x() + d, p.y() - d - h},
        {p.x() - d - w, p.y() - d - h},
        {p.x() - d - w, p.y() + d},
    };
    QRectF rect;
    for (const QPointF& origin : candidates) {
        rect = QRectF(origin, size);
        if (target.contains(rect))
            break;
    }
    return rect;
}

namespace {

// Space between two labels, and between a label and the read-out.
constexpr double kLabelGap = 1;

// The bottoms (y-up) of boxes of `heights` that want the bottoms `wanted`, stacked in this order within
// [low, high] as near those as the order allows: the least squares of the moves, by pooling neighbours that
// would cross. None when they do not fit; `cost` is the sum of the squared moves.
std::optional<std::vector<double>> stackInOrder(std::span<const double> wanted, std::span<const double> heights,
                                                double low, double high, double* cost)
{
    const size_t n = wanted.size();
    *cost = 0;
    if (n == 0)
        return std::vector<double>{};
    std::vector<double> offsets(n);
    double total = 0;
    for (size_t i = 0; i < n; ++i) {
        offsets[i] = total;
        total += heights[i] + (i + 1 < n ? kLabelGap : 0);
    }
    if (total > high - low + 1e-9)
        return std::nullopt;
    // With each box's offset in the stack taken away the order becomes z0 <= z1 <= ...: pool adjacent
    // violators, each block at the mean of its wants.
    struct Block {
        double sum;
        size_t count;
        double mean() const { return sum / double(count); }
    };
    std::vector<Block> blocks;
    for (size_t i = 0; i < n; ++i) {
        blocks.push_back({wanted[i] - offsets[i], 1});
        while (blocks.size() > 1 && blocks[blocks.size() - 2].mean() > blocks.back().mean()) {
            const Block last = blocks.back();
            blocks.pop_back();
            blocks.back().sum += last.sum;
            blocks.back().count += last.count;
        }
    }
    std::vector<double> bottoms;
    bottoms.reserve(n);
    size_t i = 0;
    for (const Block& block : blocks) {
        const double z = std::clamp(block.mean(), low, high - total);
        for (size_t k = 0; k < block.count; ++k, ++i) {
            bottoms.push_back(z + offsets[i]);
            *cost += (bottoms.back() - wanted[i]) * (bottoms.back() - wanted[i]);
        }
    }
    return bottoms;
}

// One column of boxes, sorted by their wanted middles, each at its x: their bottoms, below and above
// `keepClear` where it lies across the column, at the split that moves them least.
std::optional<std::vector<double>> stackColumn(const std::vector<QRectF>& boxes, const QRectF& target, const QRectF& keepClear)
{
    std::vector<double> wanted, heights;
    double left = target.right(), right = target.left();
    for (const QRectF& box : boxes) {
        wanted.push_back(box.y());
        heights.push_back(box.height());
        left = std::min(left, box.x());
        right = std::max(right, box.x() + box.width());
    }
    const double bottom = target.y(), top = target.y() + target.height();
    double cost = 0;
    const bool across = !keepClear.isNull() && keepClear.x() < right + kLabelGap
                        && keepClear.x() + keepClear.width() + kLabelGap > left && keepClear.y() < top
                        && keepClear.y() + keepClear.height() > bottom;
    if (!across)
        return stackInOrder(wanted, heights, bottom, top, &cost);
    const double belowTop = keepClear.y() - kLabelGap, aboveBottom = keepClear.y() + keepClear.height() + kLabelGap;
    std::optional<std::vector<double>> best;
    double bestCost = std::numeric_limits<double>::infinity();
    const std::span<const double> wants(wanted), sizes(heights);
    for (size_t split = 0; split <= boxes.size(); ++split) {
        double below = 0, above = 0;
        const auto low = stackInOrder(wants.first(split), sizes.first(split), bottom, belowTop, &below);
        if (!low)
            continue;
        const auto high = stackInOrder(wants.subspan(split), sizes.subspan(split), aboveBottom, top, &above);
        if (!high || below + above >= bestCost)
            continue;
        bestCost = below + above;
        best = *low;
        best->insert(best->end(), high->begin(), high->end());
    }
    return best;
}

// Lays out one group of labels in each other's way into `placed`: in as few columns as lose no label, each
// column stacked at the labels' levels, clear of the read-out where it has room, and each label of a further
// column beside those of the columns before at its height. What counts as lost is a label with no room
// inside the graph (left out) or one under the read-out.
void placeGroup(std::vector<size_t> members, const std::vector<QRectF>& wanted, const QRectF& target,
                const QRectF& keepClear, std::vector<QRectF>& placed)
{
    const auto middle = [&](size_t i) { return wanted[i].y() + wanted[i].height() / 2; };
    std::stable_sort(members.begin(), members.end(), [&](size_t a, size_t b) { return middle(a) < middle(b); });
    double left = target.right(), right = target.left();
    for (const size_t i : members) {
        left = std::min(left, wanted[i].x());
        right = std::max(right, wanted[i].x() + wanted[i].width());
    }
    // Further columns away from the nearer edge of the graph.
    const bool leftwards = (left + right) / 2 >= target.center().x();
    struct Layout {
        std::vector<QRectF> boxes;
        size_t lost = 0;
    };
    // No more columns than the narrowest label leaves room for side by side.
    double narrowest = target.width();
    for (const size_t i : members)
        narrowest = std::min(narrowest, wanted[i].width());
    const size_t most = std::clamp<size_t>(size_t((target.width() + kLabelGap) / (narrowest + kLabelGap)), 1, members.size());
    std::optional<Layout> best;
    size_t worse = 0;
    for (size_t columns = 1; columns <= most; ++columns) {
        Layout layout{std::vector<QRectF>(members.size()), 0};
        for (size_t column = 0; column < columns; ++column) {
            std::vector<size_t> ks;
            for (size_t k = column; k < members.size(); k += columns)
                ks.push_back(k);
            std::vector<QRectF> stack;
            std::optional<std::vector<double>> bottoms;
            // A column higher than the graph lets go of its last curves' labels until the graph holds it.
            const auto height = [&] {
                double total = -kLabelGap;
                for (const size_t k : ks)
                    total += wanted[members[k]].height() + kLabelGap;
                return total;
            };
            while (ks.size() > 1 && height() > target.height()) {
                ks.erase(std::max_element(ks.begin(), ks.end(), [&](size_t a, size_t b) { return members[a] < members[b]; }));
                ++layout.lost;
            }
            for (const size_t k : ks)
                stack.push_back(wanted[members[k]]);
            bottoms = stackColumn(stack, target, keepClear);
            if (!bottoms)
                bottoms = stackColumn(stack, target, QRectF());
            if (!bottoms) {
                layout.lost += ks.size();
                continue;
            }
            for (size_t j = 0; j < ks.size(); ++j) {
                const size_t k = ks[j];
                QRectF box = stack[j];
                box.moveTop((*bottoms)[j]);
                // Sideways past the labels of the columns before that stand at its height.
                for (bool moved = true; moved && column > 0;) {
                    moved = false;
                    for (size_t other = 0; other < members.size(); ++other) {
                        const QRectF& o = layout.boxes[other];
                        if (other % columns >= column || o.isNull()
                            || !box.intersects(o.adjusted(-kLabelGap, -kLabelGap, kLabelGap, kLabelGap)))
                            continue;
                        box.moveLeft(leftwards ? o.left() - kLabelGap - box.width() : o.right() + kLabelGap);
                        moved = true;
                    }
                }
                if (box.left() < target.left() - 1e-9 || box.right() > target.right() + 1e-9) {
                    ++layout.lost;
                    continue;
                }
                layout.lost += !keepClear.isNull() && box.intersects(keepClear);
                layout.boxes[k] = box;
            }
        }
        // More columns lose more once they stop losing fewer.
        worse = best && layout.lost >= best->lost ? worse + 1 : 0;
        if (!best || layout.lost < best->lost)
            best = std::move(layout);
        if (best->lost == 0 || worse >= 2)
            break;
    }
    for (size_t k = 0; k < members.size(); ++k)
        placed[members[k]] = best ? best->boxes[k] : QRectF();
}

} // namespace

std::vector<QRectF> placeLabels(const std::vector<QRectF>& wanted, const QRectF& target, const QRectF& keepClear)
{
    std::vector<QRectF> boxes(wanted.size());
    std::vector<size_t> candidates;
    for (size_t i = 0; i < wanted.size(); ++i) {
        const QRectF& box = wanted[i];
        if (box.isEmpty() || box.width() > target.width() || box.height() > target.height())
            continue;
        // Sideways into the graph where a label would stick out; the height is the layout's to find.
        boxes[i] = box.translated(std::clamp(box.x(), target.left(), target.right() - box.width()) - box.x(), 0);
        candidates.push_back(i);
    }
    const std::vector<QRectF> inside = boxes;
    // Groups of labels that overlap sideways; a group whose columns reach into another's joins it.
    std::vector<size_t> groupOf(wanted.size(), 0);
    std::stable_sort(candidates.begin(), candidates.end(), [&](size_t a, size_t b) { return inside[a].x() < inside[b].x(); });
    size_t groups = 0;
    double reach = -std::numeric_limits<double>::infinity();
    for (const size_t i : candidates) {
        if (inside[i].x() >= reach + kLabelGap)
            ++groups;
        groupOf[i] = groups - 1;
        reach = std::max(reach, inside[i].right());
    }
    for (;;) {
        for (size_t g = 0; g < groups; ++g) {
            std::vector<size_t> members;
            for (const size_t i : candidates)
                if (groupOf[i] == g)
                    members.push_back(i);
            if (!members.empty())
                placeGroup(members, inside, target, keepClear, boxes);
        }
        const auto overlap = [&]() -> std::optional<std::pair<size_t, size_t>> {
            for (const size_t a : candidates)
                for (const size_t b : candidates)
                    if (groupOf[a] < groupOf[b] && !boxes[a].isNull() && !boxes[b].isNull()
                        && boxes[a].adjusted(-kLabelGap / 2, -kLabelGap / 2, kLabelGap / 2, kLabelGap / 2).intersects(boxes[b]))
                        return std::pair(groupOf[a], groupOf[b]);
            return std::nullopt;
        }();
        if (!overlap)
            break;
        for (const size_t i : candidates)
            if (groupOf[i] == overlap->second)
                groupOf[i] = overlap->first;
    }
    return boxes;
}

QStringList distinctLabelTexts(const std::vector<CurveNames>& curves)
{
    QStringList texts;
    for (const CurveNames& curve : curves)
        texts.append(curve.shortName.isEmpty() ? curve.name : curve.shortName);
    const auto shared = [&texts](qsizetype i) { return texts.count(texts[i]) > 1; };
    const auto widen = [&](const std::function<QString(qsizetype)>& text) {
        QList<bool> widened;
        for (qsizetype i = 0; i < texts.size(); ++i)
            widened.append(shared(i));
        for (qsizetype i = 0; i < texts.size(); ++i)
            if (widened[i])
                texts[i] = text(i);
    };
    widen([&](qsizetype i) { return curves[size_t(i)].name; });
    widen([&](qsizetype i) {
        const CurveNames& c = curves[size_t(i)];
        return c.computer.isEmpty() ? c.name : QStringLiteral("%1 (%2)").arg(c.name, c.computer);
    });
    QHash<QString, int> numbers;
    const QStringList before = texts;
    for (qsizetype i = 0; i < texts.size(); ++i)
        if (before.count(before[i]) > 1)
            texts[i] = QStringLiteral("%1 %2").arg(before[i]).arg(++numbers[before[i]]);
    return texts;
}

SampleSteps sampleSteps(quint64 samples, double boundsWidth, bool zoomedOut)
{
    if (samples == 0 || !(boundsWidth > 0))
        return {};
    if (zoomedOut)
        return {double(samples) / boundsWidth, 1.0};
    return {1.0, std::max(1.0, boundsWidth / double(samples))};
}

qint64 pageCount(double boundsWidth, double visibleWidth)
{
    if (!(visibleWidth > 0))
        return 1;
    return std::max<qint64>(1, qint64(std::floor(boundsWidth / visibleWidth)));
}

const char* valueLabelFormat(double step)
{
    if (step >= 10)
        return "%5.0f";
    if (step >= 1)
        return "%5.1f";
    return "%5.2f";
}

double timeForXPosition(double x, double width, double interval)
{
    if (!(width > 0))
        return 0;
    return -(width - x) / width * interval;
}

} // namespace HistoryGraphRules
