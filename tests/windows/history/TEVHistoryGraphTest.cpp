// The graph painted into images offscreen: page lines, gaps, every n-th sample when zoomed out, markers,
// the ruler read-out and the value labels.

#include "tests/windows/history/HistoryTestSupport.h"
#include "windows/history/GraphLabelView.h"
#include "windows/history/HistoryWindowSupport.h"
#include "windows/history/TEVHistoryGraph.h"

#include <QImage>
#include <QScrollArea>

using namespace historytest;

namespace {

class GraphTest : public HistoryTest {
protected:
    void SetUp() override
    {
        HistoryTest::SetUp();
        scroll_.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll_.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll_.setFrameShape(QFrame::NoFrame);
        scroll_.resize(500, 220);
        scroll_.show(); // lays out the viewport
        graph_ = new TEVHistoryGraph;
        scroll_.setWidget(graph_);
        graph_->setBackgroundColor(Qt::white);
        gauge_ = addGauge("t", "Temp", 1, "C", {});
    }
    // One curve of presentation values over the width, range 0 … range.
    void show(const std::vector<double>& values, double interval, bool zoomedOut, double range = 2)
    {
        graph_->prepareDrawingInScrollView(&scroll_, interval, values.size(), range, 0, zoomedOut);
        HistoryCurve curve;
        curve.specifier.setGauge(gauge_, QByteArray());
        curve.values = values;
        std::vector<HistoryCurve> curves;
        curves.push_back(std::move(curve));
        graph_->setGraphSpecifiers(std::move(curves));
    }
    QImage paint() const
    {
        QImage image(graph_->size(), QImage::Format_RGB32);
        image.fill(Qt::black);
        graph_->render(&image);
        return image;
    }
    // The pixel row of a value (y-up, from the graph's own scale).
    int rowOf(double value) const
    {
        const QRectF b = graph_->graphBounds();
        return int(graph_->height() - ((value - graph_->minimumValue()) * b.height() / graph_->valueRange() + b.y()));
    }
    // The curve's red, also where antialiasing blends it with the white background.
    static bool isCurve(QRgb pixel) { return qRed(pixel) - qGreen(pixel) > 50 && qGreen(pixel) == qBlue(pixel); }
    bool curveNear(const QImage& image, int x, int y) const
    {
        for (int dy = -2; dy <= 2; ++dy)
            if (isCurve(image.pixel(x, std::clamp(y + dy, 0, image.height() - 1))))
                return true;
        return false;
    }

    QScrollArea scroll_;
    TEVHistoryGraph* graph_ = nullptr;
    std::shared_ptr<TEVGauge> gauge_;
};

} // namespace

TEST_F(GraphTest, PageLinesAtOneAndTwoThirdsOfAThreePageGraphAndNoneForOnePage)
{
    const QColor grid = historywindows::gridColor(graph_->palette());
    show({}, 1500 * 60, false);
    const int y = graph_->height() - 20 - 15; // inside the graph, between two horizontal lines
    ASSERT_EQ(graph_->width(), 1500);
    QImage image = paint();
    for (const int x : {500, 999})
        EXPECT_EQ(QColor(image.pixel(x, y)), grid) << x;
    for (const int x : {250, 750, 1250})
        EXPECT_EQ(QColor(image.pixel(x, y)), QColor(Qt::white)) << x;

    show({}, 500 * 60, false);
    ASSERT_EQ(graph_->width(), 500);
    image = paint();
    for (const int x : {166, 167, 333, 334})
        EXPECT_EQ(QColor(image.pixel(x, y)), QColor(Qt::white)) << x;
    EXPECT_EQ(QColor(image.pixel(0, y)), grid) << "the outline";
    // The time labels leave the strip below the graph; the graph itself stays white there.
    EXPECT_EQ(graph_->labelForXPosition(250), "-04:10:00");
}

TEST_F(GraphTest, AMissingValueLeavesAGap)
{
    const double n = std::nan("");
    show({1, 1, 1, n, n, 1, 1, 1}, 8 * 60, false); // 500 / 8 = 62.5 points a sample
    const QImage image = paint();
    const int y = rowOf(1);
    EXPECT_TRUE(curveNear(image, 60, y));
    EXPECT_TRUE(curveNear(image, 124, y));
    EXPECT_TRUE(curveNear(image, 400, y));
    for (const int x : {150, 200, 260})
        EXPECT_FALSE(curveNear(image, x, y)) << x;
}

TEST_F(GraphTest, ZoomedOutShowsEveryNthSampleOf10080In500Points)
{
    std::vector<double> week(10080, 1.0);
    week[10] = 9; // between the 0th and the 20.16th sample: not drawn
    show(week, 604800, true, 10);
    ASSERT_EQ(graph_->width(), 500);
    QImage image = paint();
    for (int x = 0; x < 4; ++x)
        EXPECT_FALSE(curveNear(image, x, rowOf(8))) << x;
    week[10] = 1;
    week[20] = 9; // the first sample drawn after the start
    show(week, 604800, true, 10);
    image = paint();
    EXPECT_TRUE(curveNear(image, 1, rowOf(8.5)));
    // Unzoomed the graph is a week of minutes wide and draws one point per sample.
    show(week, 604800, false, 10);
    EXPECT_EQ(graph_->width(), 10080);
}

TEST_F(GraphTest, NothingIsScaledWithoutSpanOrRangeOrSamples)
{
    show({1, 2, 3}, 0, false);
    EXPECT_EQ(graph_->timeInterval(), 0) << "a span of 0 is not stored";
    graph_->enableRulers(true);
    graph_->recalculateRulerPoint();
    EXPECT_FALSE(std::isnan(graph_->rulerPoint().x()));
    const QImage image = paint();
    EXPECT_FALSE(curveNear(image, 250, rowOf(2)));
}

TEST_F(GraphTest, ExtremeMarkersOnlyForACurveWithValues)
{
    const auto redPixels = [](const QImage& image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                count += image.pixel(x, y) == qRgb(255, 0, 0);
        return count;
    };
    show({1, 2, 1}, 3 * 60, false, 4);
    auto curves = graph_->graphSpecifiers();
    curves[0].specifier.setMinimum(1, 0, 2, 1);
    graph_->setGraphSpecifiers(curves);
    graph_->setSpecifierIndexForExtremeVisualization(0);
    EXPECT_GT(redPixels(paint()), 100);
    curves[0].specifier.setMinimum(0, -1, 0, -1);
    graph_->setGraphSpecifiers(curves);
    EXPECT_EQ(redPixels(paint()), 0);
}

TEST_F(GraphTest, RulerReadoutNearTheTopRightGoesBelowLeft)
{
    show({1, 2}, 500 * 60, false, 4);
    graph_->enableRulers(true);
    const QRectF b = graph_->graphBounds();
    graph_->setRulerPoint(QPointF(b.right() - 3, b.bottom() - 3)); // y-up: bottom() is the top edge
    const QRectF readout = graph_->rulerReadoutRect();
    EXPECT_LT(readout.right(), graph_->rulerPoint().x());
    EXPECT_LT(readout.bottom(), graph_->rulerPoint().y());
    EXPECT_TRUE(b.contains(readout));
    EXPECT_NEAR(graph_->rulerPointWorld().x(), -180, 1e-6);
    EXPECT_NEAR(graph_->rulerPointWorld().y(), 4, 0.1);
}

TEST_F(GraphTest, ValueLabelsFollowTheStepInTheUsersLocale)
{
    GraphLabelView labels;
    labels.attachToScrollView(&scroll_);
    show({}, 60, false, 150);
    EXPECT_EQ(labels.labelTexts(), (QStringList{"    0", "   25", "   50", "   75", "  100", "  125", "  150"}));
    show({}, 60, false, 3);
    EXPECT_EQ(labels.labelTexts().mid(0, 2), (QStringList{" 0.00", " 0.50"}));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(labels.labelTexts().at(1), " 0,50");
    // Each centred on its grid line: the lowest on the bottom edge of the graph area.
    const QList<double> centres = labels.labelCentres();
    ASSERT_EQ(centres.size(), 7);
    EXPECT_GT(centres.first(), centres.last());
}
