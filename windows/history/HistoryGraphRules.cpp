#include "windows/history/HistoryGraphRules.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

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

std::vector<QRectF> placeLabels(const std::vector<QSizeF>& sizes, const std::vector<QPointF>& anchors, double offset,
                                const QRectF& target)
{
    constexpr double kGap = 1;
    std::vector<QRectF> placed;
    placed.reserve(sizes.size());
    const auto isFree = [&](const QRectF& rect) {
        if (!target.contains(rect))
            return false;
        return std::none_of(placed.cbegin(), placed.cend(), [&](const QRectF& other) {
            return !other.isNull() && rect.intersects(other.adjusted(-kGap / 2, -kGap / 2, kGap / 2, kGap / 2));
        });
    };
    for (size_t i = 0; i < sizes.size() && i < anchors.size(); ++i) {
        const QRectF first = visibleRectForDrawingObjectRect(sizes[i], anchors[i], offset, target);
        if (isFree(first)) {
            placed.push_back(first);
            continue;
        }
        // A free place touches a placed label or the target's edge: only those positions need trying, the
        // nearest first.
        const double w = first.width(), h = first.height();
        std::vector<double> xs{first.x()};
        std::vector<double> ys{first.y(), target.top(), target.bottom() - h};
        for (const QRectF& other : placed) {
            if (other.isNull())
                continue;
            xs.push_back(other.right() + kGap);
            xs.push_back(other.left() - kGap - w);
            ys.push_back(other.bottom() + kGap);
            ys.push_back(other.top() - kGap - h);
        }
        const auto byDistance = [](std::vector<double>& values, double from) {
            std::sort(values.begin(), values.end(),
                      [from](double a, double b) { return std::abs(a - from) < std::abs(b - from); });
        };
        byDistance(ys, first.y());
        // Columns beside the labels in the way, the label's own first: it stays by the start of its curve
        // where it can.
        byDistance(xs, first.x());
        std::optional<QRectF> found;
        for (const double x : xs) {
            for (const double y : ys)
                if (const QRectF rect(x, y, w, h); isFree(rect)) {
                    found = rect;
                    break;
                }
            if (found)
                break;
        }
        placed.push_back(found.value_or(QRectF()));
    }
    return placed;
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
