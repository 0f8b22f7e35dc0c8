#pragma once
// TEVHistoryGraph: the graph of a history window inside its horizontally scrolling view: grid and page
// lines, time labels, the curves (broken where a value is missing), the ruler with its read-out, curve
// labels and the extreme markers of one curve. Laid over a master graph it draws only its grid and curves;
// the master draws every label of both, and its read-out, over them all.
// The geometry is y-up from the bottom left: drawing happens inside a flipped painter, text unflipped. Paints only
// the exposed part. Owned by its window (or, attached, by the master graph); main thread.

#include "app/model/TEVGraphSpecifier.h"
#include "windows/history/HistoryGraphRules.h"

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QWidget>

#include <vector>

class QScrollArea;

// One curve as the window computed it for one redraw.
struct HistoryCurve {
    TEVGraphSpecifier specifier; // gauge, raw data and extremes (indexes -1: no value at all)
    std::vector<double> values;  // presentation values, oldest first; NaN for no value
};

class TEVHistoryGraph : public QWidget {
    Q_OBJECT

public:
    explicit TEVHistoryGraph(QWidget* parent = nullptr);

    static int numberOfYAxisMarks();

    // Sizes the graph for the scroll view's visible area: that width when zoomed out, else one point per
    // minute but at least that width; the full visible height. An interval of 0 or less is not stored.
    void prepareDrawingInScrollView(QScrollArea* scrollView, double timeInterval, quint64 numberOfSamples,
                                    double valueRange, double minimumValue, bool zoomingOutXAxis);
    void setGraphSpecifiers(std::vector<HistoryCurve> curves);
    void setUnit(const QString& unit) { graphUnit_ = unit; }
    void setBackgroundColor(const QColor& color);
    void setOverlayMasterGraph(TEVHistoryGraph* master);
    void setDisplaysAbsoluteTime(bool absolute) { absoluteTime_ = absolute; }
    void setZoomedOutXAxis(bool zoomedOut) { zoomedOutXAxis_ = zoomedOut; }
    void enableRulers(bool enable);
    void enableCurveLabels(bool enable);
    void setSpecifierIndexForExtremeVisualization(qint64 index) { extremeGaugeIndex_ = index; }
    // In the graph's y-up coordinates; clamped into the graph bounds.
    void setRulerPoint(const QPointF& point);

    double valueRange() const { return valueRange_; }
    double minimumValue() const { return minimumValue_; }
    double timeInterval() const { return timeInterval_; }
    quint64 numberOfSamples() const { return numberOfSamples_; }
    bool areRulersEnabled() const { return rulerMode_; }
    bool areCurveLabelsEnabled() const { return curveLabelMode_; }
    bool displaysAbsoluteTime() const { return absoluteTime_; }
    bool isZoomedOutXAxis() const { return zoomedOutXAxis_; }
    qint64 specifierIndexForExtremeVisualization() const { return extremeGaugeIndex_; }
    TEVHistoryGraph* overlayMasterGraph() const { return overlayMaster_.data(); }
    const std::vector<HistoryCurve>& graphSpecifiers() const { return curves_; }
    QPointF rulerPoint() const { return rulerPoint_; }
    QPointF rulerPointWorld() const { return rulerPointWorld_; }
    QColor backgroundColor() const { return backgroundColor_; }
    // The view less the time-label strip at the bottom (y-up).
    QRectF graphBounds() const;

    // Only in ruler mode, and only once the graph has a span and a range.
    void recalculateRulerPoint();
    // The time of an x position: "-00:12:00" relative to now, or the date and time.
    QString labelForXPosition(double x) const;
    // Where the ruler read-out goes (y-up), for tests.
    QRectF rulerReadoutRect() const;
    // The curve labels as they are drawn, of this graph and the overlays laid on it as one set: each by its
    // curve's first value (`anchor`, y-up) or moved from there as little as keeps it off the others and the
    // ruler's read-out (`moved`: then a thin line joins them); none over another. A curve whose label finds no
    // room has none. Empty without labels or nothing to scale by, and for a graph laid on another.
    struct CurveLabel {
        const TEVHistoryGraph* graph = nullptr;
        size_t curve = 0;
        QString text;
        QRectF box;
        QPointF anchor;
        bool moved = false;
    };
    std::vector<CurveLabel> curveLabels() const;

    // In y-up points; the images are drawn by the graph itself.
    static QImage minimumMarker();
    static QImage maximumMarker();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    class LabelLayer;
    // The graphs laid on this one.
    std::vector<const TEVHistoryGraph*> overlayGraphs() const;
    // This graph's curves' label anchors and names, when it shows labels and has a scale.
    void appendCurveLabelAnchors(std::vector<CurveLabel>& labels, std::vector<HistoryGraphRules::CurveNames>& names) const;
    // Over every curve of this graph and its overlays: the labels, then the read-out.
    void paintLabelLayer(QPainter& painter) const;
    bool canScale(const QRectF& bounds) const;
    void drawTimeLabels(QPainter& painter, const QRectF& bounds, qint64 pages) const;
    void drawCurves(QPainter& painter, const QRectF& bounds, const QRectF& exposed) const;
    void drawRuler(QPainter& painter, const QRectF& bounds) const;
    void drawRulerReadout(QPainter& painter) const;
    void drawExtremes(QPainter& painter, const QRectF& bounds) const;
    void drawCurveLabel(QPainter& painter, const HistoryCurve& curve, const CurveLabel& label) const;
    static QFont curveLabelFont(const QFont& base);
    // `origin` is the bottom-left of the text in y-up coordinates.
    void drawTextAt(QPainter& painter, const QString& text, const QPointF& origin, const QFont& font,
                    const QColor& color) const;
    QString rulerReadoutText() const;
    double widthOfSuperview() const;
    void mouseAt(const QPointF& yDownPosition, bool dragged);

    std::vector<HistoryCurve> curves_;
    quint64 numberOfSamples_ = 0;
    double timeInterval_ = 0;
    double valueRange_ = 0;
    double minimumValue_ = 0;
    QString graphUnit_;
    QColor backgroundColor_;
    bool rulerMode_ = false;
    QPointF rulerPoint_;
    QPointF rulerPointWorld_;
    bool rulerPointSet_ = false;
    bool curveLabelMode_ = false;
    bool absoluteTime_ = false;
    bool zoomedOutXAxis_ = false;
    qint64 extremeGaugeIndex_ = -1;
    QPointer<TEVHistoryGraph> overlayMaster_;
    LabelLayer* labelLayer_ = nullptr; // a child, above the overlays
};
