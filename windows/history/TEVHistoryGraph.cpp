#include "windows/history/TEVHistoryGraph.h"

#include "app/model/TEVGauge.h"
#include "framework/TEVStringFormat.h"
#include "framework/TEVTimeUtilities.h"
#include "platform/foundation/Clock.h"
#include "windows/history/HistoryGraphRules.h"
#include "windows/history/HistoryWindowSupport.h"

#include <QFontMetricsF>
#include <QLocale>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>

#include <cmath>

namespace rules = HistoryGraphRules;

namespace {

QImage markerImage(bool pointsUp, const QColor& color)
{
    // 11 × 9 points: a triangle whose tip touches the line it marks.
    QImage image(11, 9, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color.darker(140), 1));
    painter.setBrush(color);
    const QPolygonF up{{5.5, 0.5}, {10.5, 8.5}, {0.5, 8.5}};
    const QPolygonF down{{0.5, 0.5}, {10.5, 0.5}, {5.5, 8.5}};
    painter.drawPolygon(pointsUp ? up : down);
    return image;
}

} // namespace

// Covers its graph, above the overlays laid on it, and leaves the mouse to the graph.
class TEVHistoryGraph::LabelLayer final : public QWidget {
public:
    explicit LabelLayer(TEVHistoryGraph* graph)
        : QWidget(graph)
        , graph_(*graph)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setObjectName(QStringLiteral("graphLabelLayer"));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        graph_.paintLabelLayer(painter);
    }

private:
    TEVHistoryGraph& graph_;
};

TEVHistoryGraph::TEVHistoryGraph(QWidget* parent)
    : QWidget(parent)
    , backgroundColor_(palette().color(QPalette::Window))
{
    setObjectName(QStringLiteral("graphView"));
    labelLayer_ = new LabelLayer(this);
}

void TEVHistoryGraph::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    labelLayer_->setGeometry(rect());
}

int TEVHistoryGraph::numberOfYAxisMarks()
{
    return rules::kNumberOfYAxisMarks;
}

QImage TEVHistoryGraph::minimumMarker()
{
    // Hangs below its line, pointing up at it.
    static const QImage image = markerImage(true, QColor(0x1f, 0x6f, 0xd0));
    return image;
}

QImage TEVHistoryGraph::maximumMarker()
{
    static const QImage image = markerImage(false, QColor(0xd0, 0x2a, 0x1f));
    return image;
}

QRectF TEVHistoryGraph::graphBounds() const
{
    return QRectF(0, rules::kTimeLabelStrip, width(), std::max(0.0, height() - rules::kTimeLabelStrip));
}

void TEVHistoryGraph::prepareDrawingInScrollView(QScrollArea* scrollView, double timeInterval, quint64 numberOfSamples,
                                                 double valueRange, double minimumValue, bool zoomingOutXAxis)
{
    if (!scrollView)
        return;
    zoomedOutXAxis_ = zoomingOutXAxis;
    const QSize visible = scrollView->viewport()->size();
    const double width = rules::graphWidth(visible.width(), timeInterval, zoomingOutXAxis);
    resize(int(std::ceil(width)), visible.height());
    if (timeInterval > 0)
        timeInterval_ = timeInterval;
    numberOfSamples_ = numberOfSamples;
    valueRange_ = std::abs(valueRange);
    minimumValue_ = minimumValue;
}

void TEVHistoryGraph::setGraphSpecifiers(std::vector<HistoryCurve> curves)
{
    curves_ = std::move(curves);
}

void TEVHistoryGraph::setBackgroundColor(const QColor& color)
{
    if (color.isValid())
        backgroundColor_ = color;
}

void TEVHistoryGraph::setOverlayMasterGraph(TEVHistoryGraph* master)
{
    overlayMaster_ = master;
    // Laid over the master, it shows the master through it and leaves the mouse to it.
    setAttribute(Qt::WA_TransparentForMouseEvents, master != nullptr);
    if (master) {
        setAutoFillBackground(false);
        master->labelLayer_->raise();
        master->update();
    }
}

void TEVHistoryGraph::enableRulers(bool enable)
{
    rulerMode_ = enable;
    if (enable && !rulerPointSet_) {
        // The middle of what is visible of the graph.
        const QRect visible = visibleRegion().boundingRect();
        const QRectF area = visible.isEmpty() ? QRectF(rect()) : QRectF(visible);
        setRulerPoint(QPointF(area.center().x(), height() - area.center().y()));
    }
}

void TEVHistoryGraph::enableCurveLabels(bool enable)
{
    curveLabelMode_ = enable;
}

void TEVHistoryGraph::setRulerPoint(const QPointF& point)
{
    const QRectF b = graphBounds();
    const double x = std::clamp(point.x(), b.x(), std::max(b.x(), b.x() + b.width() - 1));
    const double y = std::clamp(point.y(), b.y(), std::max(b.y(), b.y() + b.height() - 1));
    rulerPoint_ = QPointF(x, y);
    rulerPointSet_ = true;
    const double time = b.width() > 0 ? -(b.width() - x) / b.width() * timeInterval_ : 0;
    const double value = b.height() > 0 && valueRange_ > 0 ? (y - b.y()) / (b.height() / valueRange_) + minimumValue_
                                                            : minimumValue_;
    rulerPointWorld_ = QPointF(time, value);
    update();
}

void TEVHistoryGraph::recalculateRulerPoint()
{
    // Before the first span and range there is no geometry to go back to.
    if (!rulerMode_ || !(timeInterval_ > 0) || !(valueRange_ > 0))
        return;
    const QRectF b = graphBounds();
    const double x = rulerPointWorld_.x() * b.width() / timeInterval_ + b.width();
    const double y = b.height() / valueRange_ * (rulerPointWorld_.y() - minimumValue_) + b.y();
    rulerPoint_ = QPointF(std::clamp(x, b.x(), std::max(b.x(), b.x() + b.width() - 1)),
                          std::clamp(y, b.y(), std::max(b.y(), b.y() + b.height() - 1)));
    update();
}

QString TEVHistoryGraph::labelForXPosition(double x) const
{
    const double t = rules::timeForXPosition(x, width(), timeInterval_);
    if (!absoluteTime_)
        return TEVTimeUtilities::localizedNumericRepresentationForTimeInterval(t);
    return TEVTimeUtilities::localizedTextRepresentationForDate(
        platform::currentDate().addMSecs(qint64(std::llround(t * 1000.0))));
}

QString TEVHistoryGraph::rulerReadoutText() const
{
    const QRectF b = graphBounds();
    const double k = valueRange_ > 0 ? b.height() / valueRange_ : 0;
    const double value = k > 0 ? (rulerPoint_.y() - b.y()) / k + minimumValue_ : minimumValue_;
    // The number first: the format's other placeholders are objects.
    QString format = historywindows::localized(QStringLiteral("%@: %05.2f %@"));
    format.replace(QLatin1String("%05.2f"), historywindows::userNumber("%05.2f", value));
    return TEVStringFormat::withObjects(format, {labelForXPosition(rulerPoint_.x()), graphUnit_});
}

QRectF TEVHistoryGraph::rulerReadoutRect() const
{
    const QFontMetricsF metrics(font());
    const QSizeF size(metrics.horizontalAdvance(rulerReadoutText()), metrics.height());
    return rules::visibleRectForDrawingObjectRect(size, rulerPoint_, 2, graphBounds());
}

double TEVHistoryGraph::widthOfSuperview() const
{
    const QWidget* parent = parentWidget();
    return parent ? parent->width() : width();
}

void TEVHistoryGraph::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRectF b = graphBounds();
    // The exposed rectangle in y-up terms; x is the same in both.
    const QRect exposed = event->rect();
    const QRectF exposedUp(exposed.x(), height() - exposed.y() - exposed.height(), exposed.width(), exposed.height());
    painter.translate(0, height());
    painter.scale(1, -1);

    if (!overlayMaster_)
        painter.fillRect(b, backgroundColor_);

    const qint64 pages = rules::pageCount(b.width(), widthOfSuperview());
    QPainterPath grid;
    grid.addRect(b.adjusted(0.5, 0.5, -0.5, -0.5));
    for (int i = 1; i < rules::kNumberOfYAxisMarks; ++i) {
        const double y = std::round((b.height() - 1) * i / rules::kNumberOfYAxisMarks + b.y()) + 0.5;
        grid.moveTo(b.x(), y);
        grid.lineTo(b.width() - 1, y);
    }
    for (qint64 i = 1; i < pages; ++i) {
        const double x = std::round(double(i) * (b.width() - 1) / double(pages)) + 0.5;
        grid.moveTo(x, b.y());
        grid.lineTo(x, b.y() + b.height() - 1);
    }
    painter.setPen(QPen(historywindows::gridColor(palette()), 0));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(grid);

    if (!overlayMaster_)
        drawTimeLabels(painter, b, pages);

    if (!canScale(b))
        return;
    drawCurves(painter, b, exposedUp);
    if (rulerMode_ && !overlayMaster_)
        drawRuler(painter, b);
    drawExtremes(painter, b);
}

bool TEVHistoryGraph::canScale(const QRectF& b) const
{
    // Without a span, samples or range there is nothing to scale by.
    return numberOfSamples_ != 0 && valueRange_ > 0 && timeInterval_ > 0 && b.width() > 0 && b.height() > 0;
}

void TEVHistoryGraph::drawTextAt(QPainter& painter, const QString& text, const QPointF& origin, const QFont& font,
                                 const QColor& color) const
{
    const QFontMetricsF metrics(font);
    const QRectF box(origin.x(), height() - origin.y() - metrics.height(), metrics.horizontalAdvance(text) + 1,
                     metrics.height());
    painter.save();
    painter.resetTransform();
    painter.setFont(font);
    painter.setPen(color);
    painter.drawText(box, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    painter.restore();
}

void TEVHistoryGraph::drawTimeLabels(QPainter& painter, const QRectF& b, qint64 pages) const
{
    const QFont font = historywindows::smallSystemFont();
    const QColor color = palette().color(QPalette::WindowText);
    for (qint64 i = 0; i < pages; ++i) {
        const double x = double(i) * (b.width() - 1) / double(pages);
        // The words end in a blank of their own.
        const QString words = TEVTimeUtilities::localizedTextRepresentationForTimeInterval(timeInterval_).trimmed();
        const QString label = i == 0 && !absoluteTime_
                                  ? TEVStringFormat::withObjects(historywindows::localized(QStringLiteral("%@ ago ")), {words})
                                  : labelForXPosition(x);
        drawTextAt(painter, label, QPointF(x, 2), font, color);
    }
    const QString now = absoluteTime_ ? TEVStringFormat::withObjects(historywindows::localized(QStringLiteral("%@ (Now)")),
                                                                     {labelForXPosition(b.width())})
                                      : historywindows::localized(QStringLiteral("Now"));
    const double textWidth = QFontMetricsF(font).horizontalAdvance(now);
    drawTextAt(painter, now, QPointF(b.width() - 1 - textWidth - 2, 2), font, color);
}

void TEVHistoryGraph::drawCurves(QPainter& painter, const QRectF& b, const QRectF& exposed) const
{
    const auto steps = rules::sampleSteps(numberOfSamples_, b.width(), zoomedOutXAxis_);
    const double k = b.height() / valueRange_;
    const double samples = double(numberOfSamples_);
    const qint64 points = qint64(std::ceil(samples / steps.sampleStep));
    // The points whose x lies in the exposed strip, and one more on each side so that lines enter it.
    const qint64 first = std::max<qint64>(0, qint64(std::floor((exposed.left() - b.x()) / steps.xStep)) - 1);
    const qint64 last = std::min<qint64>(points - 1, qint64(std::ceil((exposed.right() - b.x()) / steps.xStep)) + 1);
    painter.setRenderHint(QPainter::Antialiasing);
    QPolygonF segment;
    segment.reserve(int(std::max<qint64>(0, last - first + 1)));
    for (const HistoryCurve& curve : curves_) {
        const auto gauge = curve.specifier.associatedGauge();
        const qint64 count = qint64(curve.values.size());
        if (!gauge || count == 0)
            continue;
        // A shorter history ends at now like the others.
        const qint64 offset = std::max<qint64>(0, qint64(numberOfSamples_) - count);
        const auto valueAtPoint = [&](qint64 j, double* value) {
            const qint64 index = qint64(double(j) * steps.sampleStep) - offset;
            if (index < 0 || index >= count || std::isnan(curve.values[size_t(index)]))
                return false;
            *value = curve.values[size_t(index)];
            return true;
        };
        // A line 2 points wide as three antialiased 1-point passes, half a point above, below and right of
        // it: Qt strokes wide antialiased lines at a few microseconds a segment, many times what its
        // thin-line path takes, and a week of ten curves must paint within a frame. At this width it looks
        // the same.
        QPen pen(historywindows::toQColor(gauge->presentationColor(), Qt::black), 1.0);
        pen.setCosmetic(true);
        painter.setPen(pen);
        segment.clear();
        const QTransform base = painter.transform();
        const auto flush = [&] {
            if (segment.size() > 1)
                for (const QPointF& offset : {QPointF(0, 0.5), QPointF(0, -0.5), QPointF(0.5, 0)}) {
                    painter.setTransform(QTransform::fromTranslate(offset.x(), offset.y()) * base);
                    painter.drawPolyline(segment);
                }
            painter.setTransform(base);
            segment.clear();
        };
        for (qint64 j = first; j <= last; ++j) {
            double v = 0;
            if (!valueAtPoint(j, &v)) {
                flush();
                continue;
            }
            segment.append(QPointF(b.x() + double(j) * steps.xStep, (v - minimumValue_) * k + b.y()));
        }
        flush();
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
}

QFont TEVHistoryGraph::curveLabelFont(const QFont& base)
{
    QFont font = base;
    font.setPointSizeF(10);
    return font;
}

std::vector<const TEVHistoryGraph*> TEVHistoryGraph::overlayGraphs() const
{
    std::vector<const TEVHistoryGraph*> overlays;
    for (const TEVHistoryGraph* child : findChildren<TEVHistoryGraph*>(Qt::FindDirectChildrenOnly))
        if (child->overlayMaster_ == this)
            overlays.push_back(child);
    return overlays;
}

void TEVHistoryGraph::appendCurveLabelAnchors(std::vector<CurveLabel>& labels, std::vector<rules::CurveNames>& names) const
{
    const QRectF b = graphBounds();
    if (!curveLabelMode_ || !canScale(b))
        return;
    const auto steps = rules::sampleSteps(numberOfSamples_, b.width(), zoomedOutXAxis_);
    const double k = b.height() / valueRange_;
    const qint64 points = qint64(std::ceil(double(numberOfSamples_) / steps.sampleStep));
    for (size_t i = 0; i < curves_.size(); ++i) {
        const HistoryCurve& curve = curves_[i];
        const auto gauge = curve.specifier.associatedGauge();
        const qint64 count = qint64(curve.values.size());
        if (!gauge || count == 0)
            continue;
        // At the curve's first value, on this graph's own scale.
        const qint64 offset = std::max<qint64>(0, qint64(numberOfSamples_) - count);
        for (qint64 j = std::max<qint64>(0, qint64(std::floor(double(offset) / steps.sampleStep))); j < points; ++j) {
            const qint64 index = qint64(double(j) * steps.sampleStep) - offset;
            if (index < 0)
                continue;
            if (index >= count)
                break;
            if (std::isnan(curve.values[size_t(index)]))
                continue;
            CurveLabel label;
            label.graph = this;
            label.curve = i;
            label.anchor = QPointF(b.x() + double(j) * steps.xStep, (curve.values[size_t(index)] - minimumValue_) * k + b.y());
            labels.push_back(label);
            names.push_back({gauge->shortName(), gauge->customName(), gauge->machineName()});
            break;
        }
    }
}

std::vector<TEVHistoryGraph::CurveLabel> TEVHistoryGraph::curveLabels() const
{
    std::vector<CurveLabel> labels;
    if (overlayMaster_)
        return labels;
    std::vector<rules::CurveNames> names;
    appendCurveLabelAnchors(labels, names);
    for (const TEVHistoryGraph* overlay : overlayGraphs())
        overlay->appendCurveLabelAnchors(labels, names);
    if (labels.empty())
        return labels;
    const QRectF b = graphBounds();
    const QStringList texts = rules::distinctLabelTexts(names);
    const QFontMetricsF metrics(curveLabelFont(font()));
    std::vector<QRectF> wanted;
    for (size_t i = 0; i < labels.size(); ++i) {
        const QSizeF size(metrics.horizontalAdvance(texts[qsizetype(i)]) + 6, metrics.height() + 4);
        wanted.push_back(rules::visibleRectForDrawingObjectRect(size, labels[i].anchor, 1, b));
    }
    const QRectF readout = rulerMode_ && canScale(b) ? rulerReadoutRect() : QRectF();
    const std::vector<QRectF> boxes = rules::placeLabels(wanted, b, readout);
    for (size_t i = 0; i < labels.size(); ++i) {
        labels[i].text = texts[qsizetype(i)];
        labels[i].box = boxes[i];
        labels[i].moved = std::abs(boxes[i].x() - wanted[i].x()) > 0.5 || std::abs(boxes[i].y() - wanted[i].y()) > 0.5;
    }
    std::erase_if(labels, [](const CurveLabel& label) { return label.box.isNull(); });
    return labels;
}

void TEVHistoryGraph::paintLabelLayer(QPainter& painter) const
{
    if (overlayMaster_ || !canScale(graphBounds()))
        return;
    painter.translate(0, height());
    painter.scale(1, -1);
    const std::vector<CurveLabel> labels = curveLabels();
    // A moved label's line first: its end lies under the label.
    painter.setRenderHint(QPainter::Antialiasing);
    for (const CurveLabel& label : labels) {
        const auto gauge = label.graph->curves_[label.curve].specifier.associatedGauge();
        if (!label.moved || !gauge)
            continue;
        const QPointF end(label.anchor.x() <= label.box.center().x() ? label.box.left() : label.box.right(),
                          label.box.center().y());
        QPen pen(historywindows::toQColor(gauge->presentationColor(), Qt::gray), 1);
        pen.setCosmetic(true);
        painter.setPen(pen);
        painter.drawLine(label.anchor, end);
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const CurveLabel& label : labels)
        drawCurveLabel(painter, label.graph->curves_[label.curve], label);
    if (rulerMode_)
        drawRulerReadout(painter);
}

void TEVHistoryGraph::drawRuler(QPainter& painter, const QRectF& b) const
{
    QPen pen(palette().color(QPalette::Highlight), 1);
    pen.setDashPattern({5, 2});
    painter.setPen(pen);
    const QPointF p = rulerPoint_ + QPointF(0.5, 0.5);
    painter.drawLine(QPointF(b.x(), p.y()), QPointF(b.x() + b.width() - 1, p.y()));
    painter.drawLine(QPointF(p.x(), b.y()), QPointF(p.x(), b.y() + b.height() - 1));
}

void TEVHistoryGraph::drawRulerReadout(QPainter& painter) const
{
    const QRectF box = rulerReadoutRect();
    // Readable over the curves of every graph laid on this one.
    QColor behind = backgroundColor_;
    behind.setAlphaF(0.85f);
    painter.fillRect(box, behind);
    drawTextAt(painter, rulerReadoutText(), box.topLeft(), font(), palette().color(QPalette::WindowText));
}

void TEVHistoryGraph::drawExtremes(QPainter& painter, const QRectF& b) const
{
    if (extremeGaugeIndex_ < 0 || extremeGaugeIndex_ >= qint64(curves_.size()))
        return;
    const HistoryCurve& curve = curves_[size_t(extremeGaugeIndex_)];
    const TEVGraphSpecifier& s = curve.specifier;
    // A curve without values has no extremes to mark.
    if (s.minimumSampleIndex() < 0 || s.maximumSampleIndex() < 0)
        return;
    const auto steps = rules::sampleSteps(numberOfSamples_, b.width(), zoomedOutXAxis_);
    const double k = b.height() / valueRange_;
    const double yMin = (s.minimumValue() - minimumValue_) * k;
    const double yMax = (s.maximumValue() - minimumValue_) * k;
    QPen pen(Qt::red, 1);
    pen.setDashPattern({3, 3});
    painter.setPen(pen);
    painter.drawLine(QPointF(b.x(), b.y() + yMin + 0.5), QPointF(b.x() + b.width(), b.y() + yMin + 0.5));
    painter.drawLine(QPointF(b.x(), b.y() + yMax + 0.5), QPointF(b.x() + b.width(), b.y() + yMax + 0.5));
    const qint64 offset = std::max<qint64>(0, qint64(numberOfSamples_) - qint64(curve.values.size()));
    const QImage minImage = minimumMarker();
    const QImage maxImage = maximumMarker();
    const auto xOf = [&](qint64 index) {
        return double(index + offset) * steps.xStep / steps.sampleStep + b.x();
    };
    // Images upright: their y-up origins are their bottom-left corners.
    const auto drawImage = [&](const QImage& image, const QPointF& origin) {
        painter.save();
        painter.resetTransform();
        painter.drawImage(QPointF(origin.x(), height() - origin.y() - image.height()), image);
        painter.restore();
    };
    drawImage(minImage, QPointF(xOf(s.minimumSampleIndex()) - minImage.width() / 2.0, b.y() + yMin - minImage.height()));
    drawImage(maxImage, QPointF(xOf(s.maximumSampleIndex()) - maxImage.width() / 2.0, b.y() + yMax));
}

void TEVHistoryGraph::drawCurveLabel(QPainter& painter, const HistoryCurve& curve, const CurveLabel& label) const
{
    const auto gauge = curve.specifier.associatedGauge();
    if (!gauge)
        return;
    const QFont font = curveLabelFont(this->font());
    const QString& text = label.text;
    const QRectF& box = label.box;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QColor fill = historywindows::toQColor(gauge->presentationColor(), Qt::gray);
    fill.setAlphaF(0.66f);
    // Through the middles of the edges, each corner the two control points of its curve.
    const float hw = float(box.width() / 2), hh = float(box.height() / 2);
    const QPointF c(box.x() + hw, box.y() + hh);
    QPainterPath path;
    path.moveTo(c.x() - hw, c.y());
    path.cubicTo(box.bottomLeft(), box.bottomLeft(), QPointF(c.x(), c.y() + hh));
    path.cubicTo(box.bottomRight(), box.bottomRight(), QPointF(c.x() + hw, c.y()));
    path.cubicTo(box.topRight(), box.topRight(), QPointF(c.x(), c.y() - hh));
    path.cubicTo(box.topLeft(), box.topLeft(), QPointF(c.x() - hw, c.y()));
    path.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawPath(path);
    painter.restore();
    drawTextAt(painter, text, box.topLeft() + QPointF(3, 1), font, palette().color(QPalette::Text));
    drawTextAt(painter, text, box.topLeft() + QPointF(4, 2), font, palette().color(QPalette::Base));
}

void TEVHistoryGraph::mouseAt(const QPointF& position, bool dragged)
{
    setRulerPoint(QPointF(position.x(), height() - position.y()));
    if (!dragged || !rulerMode_)
        return;
    for (QWidget* w = parentWidget(); w; w = w->parentWidget())
        if (auto* scroll = qobject_cast<QScrollArea*>(w)) {
            scroll->ensureVisible(int(position.x()), int(position.y()), 20, 0);
            break;
        }
}

void TEVHistoryGraph::mousePressEvent(QMouseEvent* event)
{
    if (overlayMaster_) {
        QMouseEvent forwarded(event->type(), overlayMaster_->mapFromGlobal(event->globalPosition()),
                              event->globalPosition(), event->button(), event->buttons(), event->modifiers());
        overlayMaster_->mousePressEvent(&forwarded);
        return;
    }
    mouseAt(event->position(), false);
}

void TEVHistoryGraph::mouseMoveEvent(QMouseEvent* event)
{
    if (overlayMaster_) {
        QMouseEvent forwarded(event->type(), overlayMaster_->mapFromGlobal(event->globalPosition()),
                              event->globalPosition(), event->button(), event->buttons(), event->modifiers());
        overlayMaster_->mouseMoveEvent(&forwarded);
        return;
    }
    if (event->buttons() & Qt::LeftButton)
        mouseAt(event->position(), true);
}
