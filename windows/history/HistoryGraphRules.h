#pragma once
// HistoryGraphRules: the arithmetic of the history windows as pure functions: the value range of a graph,
// the zoom button, the side of the extremes panel, the placement of a floating rectangle and of the curve
// labels with their texts, the sample and x steps, the pages, the value-label formats and the extremes of a curve. Graph geometry is in y-up
// terms (the graph draws inside a flipped painter); window geometry is in Qt's top-left terms.

#include <QRect>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace HistoryGraphRules {

// Seconds of history one point of an unzoomed graph stands for.
constexpr double kSecondsPerPoint = 60.0;
// The strip at the bottom of a graph that holds the time labels, in points.
constexpr double kTimeLabelStrip = 20.0;
constexpr int kNumberOfYAxisMarks = 6;

// The lowest and highest value a graph shows: range = high - low.
struct ValueRange {
    double low = 0;
    double high = 0;
    double range() const { return high - low; }
};
// From the extremes of every curve (nothing when no curve had a value): 10 % padding on both sides when a
// value is negative or `zoomValueRange` is set, else from 0 to 110 % of the maximum; at least 1 wide;
// a top of 10 or more is rounded up to a whole number.
ValueRange valueRangeForExtremes(std::optional<std::pair<double, double>> minimumAndMaximum, bool zoomValueRange);

// The lowest and highest value of a curve with their first sample indexes; nothing without values.
struct CurveExtremes {
    double minimum = 0;
    qint64 minimumIndex = -1;
    double maximum = 0;
    qint64 maximumIndex = -1;
};
// `values`: presentation values, NaN for no value.
std::optional<CurveExtremes> curveExtremes(const std::vector<double>& values);

// Whether a graph of `interval` seconds stays zoomed out: not when it fits `graphWidth` unzoomed.
bool keepsZoomedOut(bool zoomedOut, double interval, double graphWidth);
// The graph's width: the visible width when zoomed out, else one point per minute but never narrower.
double graphWidth(double visibleWidth, double interval, bool zoomedOut);

struct ZoomButton {
    bool visible = false;
    bool showsZoomIn = false; // "ZoomIn" while zoomed out, else "ZoomOut"
};
ZoomButton zoomButton(bool longTermMode, bool zoomedOut, double graphWidth, double scrollViewWidth);

enum class PanelSide { Left, Right };
// Right when the panel fits right of the window within the visible area, else left when it fits there,
// else the side with more room (left on a tie). Frames in Qt terms, right edge = x + width.
PanelSide extremesPanelSide(const QRect& windowFrame, int panelWidth, const QRect& visibleArea);
// The panel beside the window on that side, as high as the window.
QRect extremesPanelFrame(const QRect& windowFrame, int panelWidth, const QRect& visibleArea);

// A `size` rectangle near `point` (y-up): above right, below right, below left, above left of it, `offset`
// away; the first that lies wholly inside `target`, else the last.
QRectF visibleRectForDrawingObjectRect(const QSizeF& size, const QPointF& point, double offset, const QRectF& target);

// Lays out the curve labels of a graph and its overlays as one set. Each box keeps its x and size and goes
// as near its `wanted` y as it can: labels in each other's way stand in a column centred on their levels,
// each moved no further than it must, within `target` and clear of `keepClear` (the ruler's read-out; null:
// none). Where one column cannot hold them, they take turns in more, each label of a further column beside
// those before it at its height, away from the nearer edge; as few columns as lose no label. Only where
// nothing else holds them does a label lie under the read-out; a label with no room left is null.
std::vector<QRectF> placeLabels(const std::vector<QRectF>& wanted, const QRectF& target, const QRectF& keepClear);

// The texts of the curve labels, one per curve of (short name, name, computer): the short name, but where
// curves share one, their names; where those are shared too, with the computer's name; and where even
// that is shared, numbered.
struct CurveNames {
    QString shortName;
    QString name;
    QString computer;
};
QStringList distinctLabelTexts(const std::vector<CurveNames>& curves);

// How far the sample position and x advance per drawn point: a zoomed-out graph shows every n-th sample
// (n = samples / width, not an average), an unzoomed one every sample at least one point apart.
struct SampleSteps {
    double sampleStep = 1;
    double xStep = 1;
};
SampleSteps sampleSteps(quint64 samples, double boundsWidth, bool zoomedOut);

// Whole visible widths in the graph (at least 1).
qint64 pageCount(double boundsWidth, double visibleWidth);

// printf format of the value labels for a label step.
const char* valueLabelFormat(double step);

// Seconds relative to now (0 or negative) of x in a view `width` points wide showing `interval` seconds;
// 0 for an empty view.
double timeForXPosition(double x, double width, double interval);

} // namespace HistoryGraphRules
