// The arithmetic of the history windows, each rule with its edge cases.

#include "windows/HistoryTimeScale.h"
#include "windows/history/HistoryGraphRules.h"

#include <QSet>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace rules = HistoryGraphRules;

TEST(HistoryGraphRules, TimeScaleIsPiecewiseLinearThroughTheSliderPositions)
{
    const std::pair<double, double> rows[] = {{1, 1}, {2, 3}, {3, 6}, {4, 12}, {4.5, 18}, {5, 24}, {6, 72}, {7, 168}};
    for (const auto& [position, hours] : rows)
        EXPECT_DOUBLE_EQ(HistoryTimeScale::timeIntervalForSliderValue(position), hours * 3600) << position;
}

TEST(HistoryGraphRules, ValueRange)
{
    struct Row {
        std::optional<std::pair<double, double>> extremes;
        bool zoom;
        double low, high;
    } rows[] = {
        {std::pair(0.0, 47.0), false, 0, 52},       // 51.7 rounded up
        {std::pair(-3.0, 7.0), false, -4, 8},       // below 10: not rounded
        {std::pair(0.2, 0.2), false, -0.5, 0.72},   // at least 1 wide
        {std::nullopt, false, -0.5, 0.5},           // no value at all
        {std::pair(40.0, 50.0), true, 39, 51},      // zoomed: 10 % padding both sides
        {std::pair(40.0, 45.0), false, 0, 50},      // 49.5 rounded up
        {std::pair(3e9, 3.1e9), false, 0, 3.41e9},  // readings beyond any sentinel
    };
    for (const Row& row : rows) {
        const auto range = rules::valueRangeForExtremes(row.extremes, row.zoom);
        EXPECT_NEAR(range.low, row.low, 1e-9) << row.high;
        EXPECT_NEAR(range.high, row.high, 1e-9 * std::max(1.0, row.high)) << row.high;
    }
    EXPECT_NEAR(rules::valueRangeForExtremes(std::pair(0.2, 0.2), false).range(), 1.22, 1e-9);
}

TEST(HistoryGraphRules, CurveExtremesKeepTheFirstOccurrenceAndNeedAValue)
{
    const double n = std::nan("");
    const auto found = rules::curveExtremes({n, 5, 2, 9, 2, 9, n});
    ASSERT_TRUE(found);
    EXPECT_EQ(found->minimum, 2);
    EXPECT_EQ(found->minimumIndex, 2);
    EXPECT_EQ(found->maximum, 9);
    EXPECT_EQ(found->maximumIndex, 3);
    EXPECT_FALSE(rules::curveExtremes({n, n}));
    EXPECT_FALSE(rules::curveExtremes({}));
    EXPECT_EQ(rules::curveExtremes({3e9, 2.5e9})->minimum, 2.5e9);
}

TEST(HistoryGraphRules, ZoomButtonAndAutomaticZoomOff)
{
    EXPECT_FALSE(rules::zoomButton(false, true, 2000, 500).visible) << "short-term: hidden";
    EXPECT_TRUE(rules::zoomButton(true, true, 500, 500).visible);
    EXPECT_TRUE(rules::zoomButton(true, true, 500, 500).showsZoomIn);
    EXPECT_FALSE(rules::zoomButton(true, false, 500, 500).visible) << "nothing to zoom out of";
    EXPECT_TRUE(rules::zoomButton(true, false, 10080, 500).visible);
    EXPECT_FALSE(rules::zoomButton(true, false, 10080, 500).showsZoomIn);
    // 760 s is 12.7 points: it fits, so zooming out goes off; a week does not fit 500 points.
    EXPECT_FALSE(rules::keepsZoomedOut(true, 760, 500));
    EXPECT_TRUE(rules::keepsZoomedOut(true, 604800, 500));
    EXPECT_FALSE(rules::keepsZoomedOut(false, 604800, 500));
    EXPECT_EQ(rules::graphWidth(500, 604800, false), 10080);
    EXPECT_EQ(rules::graphWidth(500, 604800, true), 500);
    EXPECT_EQ(rules::graphWidth(500, 760, false), 500);
}

TEST(HistoryGraphRules, ExtremesPanelSide)
{
    using Side = rules::PanelSide;
    const QRect screen(0, 0, 1600, 1000);
    struct Row {
        QRect window;
        Side side;
    } rows[] = {
        {{100, 100, 600, 400}, Side::Right},  // room on the right
        {{1000, 100, 500, 400}, Side::Left},  // 100 right, 1000 left
        {{300, 100, 1100, 400}, Side::Left},  // neither fits: 200 right, 300 left
        {{200, 100, 1100, 400}, Side::Right}, // neither fits: 300 right, 200 left
        {{250, 100, 1100, 400}, Side::Left},  // a tie goes left
    };
    for (const Row& row : rows)
        EXPECT_EQ(rules::extremesPanelSide(row.window, 375, screen), row.side) << row.window.x();
    EXPECT_EQ(rules::extremesPanelFrame(QRect(1000, 100, 500, 400), 375, screen), QRect(625, 100, 375, 400));
    EXPECT_EQ(rules::extremesPanelFrame(QRect(100, 100, 600, 400), 375, screen), QRect(700, 100, 375, 400));
}

TEST(HistoryGraphRules, FloatingRectangleTakesTheFirstCandidateInside)
{
    const QRectF target(0, 20, 500, 300); // y-up: 20 to 320
    const QSizeF size(100, 20);
    // Room everywhere: above right.
    EXPECT_EQ(rules::visibleRectForDrawingObjectRect(size, {200, 100}, 2, target), QRectF(202, 102, 100, 20));
    // Near the top right corner: below left.
    EXPECT_EQ(rules::visibleRectForDrawingObjectRect(size, {490, 310}, 2, target), QRectF(388, 288, 100, 20));
    // Near the top left: below right.
    EXPECT_EQ(rules::visibleRectForDrawingObjectRect(size, {10, 310}, 2, target), QRectF(12, 288, 100, 20));
    // Nothing fits: the last candidate, above left.
    EXPECT_EQ(rules::visibleRectForDrawingObjectRect(QSizeF(600, 20), {10, 100}, 2, target), QRectF(-592, 102, 600, 20));
}

TEST(HistoryGraphRules, CurveLabelsNeverLieOverOneAnotherAndStayNearTheirCurves)
{
    const QRectF target(0, 20, 500, 300); // y-up: 20 to 320
    const QSizeF label(48, 19);
    // Boxes where a lone label goes at each curve's first point.
    const auto at = [&](const std::vector<QPointF>& anchors, const QRectF& in) {
        std::vector<QRectF> wanted;
        for (const QPointF& anchor : anchors)
            wanted.push_back(rules::visibleRectForDrawingObjectRect(label, anchor, 1, in));
        return wanted;
    };
    // The simulated portable at a first start: fourteen temperatures between 27 and 58 °C, on a scale of 0 to
    // 64, all starting at the right edge of a graph 230 points high.
    const QRectF portable(0, 20, 600, 230);
    std::vector<QPointF> temperatures;
    for (const double t : {58.0, 47.0, 44.0, 40.0, 39.0, 39.5, 35.0, 33.0, 31.0, 30.0, 29.5, 28.0, 27.5, 27.0})
        temperatures.emplace_back(597, 20 + t / 64 * 230);
    const std::vector<QPointF> stacked(14, QPointF(0, 160));
    const QRectF readout(150, 150, 140, 16);
    struct Row {
        const char* what;
        std::vector<QRectF> wanted;
        QRectF target;
        QRectF readout;
        bool readoutClear; // else there is no room but over it
        int columns;       // side by side; 0: more than the graph holds, some left out
    };
    const Row rows[] = {
        {"apart", at({{10, 40}, {200, 200}, {400, 60}}, target), target, {}, true, 1},
        {"fourteen from one level", at(stacked, target), target, {}, true, 1},
        {"fourteen near the top", at(std::vector<QPointF>(14, QPointF(0, 318)), target), target, {}, true, 1},
        {"two close", at({{100, 100}, {102, 104}}, target), target, {}, true, 1},
        {"the portable's fourteen at the right edge", at(temperatures, portable), portable, {}, true, 2},
        {"master's and overlays' labels on one level",
         at({{30, 100}, {30, 100}, {30, 101}, {31, 99}, {30, 140}}, target), target, {}, true, 1},
        {"the read-out in their way", at({{140, 150}, {141, 152}, {142, 149}, {400, 150}}, target), target, readout, true, 1},
        {"a column beside where one cannot hold them", at(std::vector<QPointF>(30, QPointF(490, 100)), target), target, {},
         true, 2},
        {"over the read-out where nothing else holds them", at(std::vector<QPointF>(3, QPointF(0, 30)), QRectF(0, 20, 100, 60)),
         QRectF(0, 20, 100, 60), QRectF(0, 30, 100, 40), false, 1},
        {"more than the graph holds", at(std::vector<QPointF>(40, QPointF(0, 30)), QRectF(0, 20, 100, 60)),
         QRectF(0, 20, 100, 60), {}, true, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::vector<QRectF> boxes = rules::placeLabels(row.wanted, row.target, row.readout);
        ASSERT_EQ(boxes.size(), row.wanted.size());
        const auto inTheWay = [&](const QRectF& box, size_t self) {
            if (!row.target.contains(box) || (row.readoutClear && box.intersects(row.readout)))
                return true;
            for (size_t j = 0; j < boxes.size(); ++j)
                if (j != self && !boxes[j].isNull() && box.intersects(boxes[j]))
                    return true;
            return false;
        };
        int placed = 0;
        QSet<double> columns;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].isNull())
                continue;
            ++placed;
            columns.insert(boxes[i].x() - row.wanted[i].x());
            EXPECT_EQ(boxes[i].size(), label) << i;
            EXPECT_FALSE(inTheWay(boxes[i], i)) << i << " lies out of the graph, over the read-out or over another";
            // Moved only as far as it must: a step back towards its curve's level runs into something.
            const double back = row.wanted[i].y() - boxes[i].y();
            if (std::abs(back) > 0.5) {
                EXPECT_TRUE(inTheWay(boxes[i].translated(0, std::copysign(1.5, back)), i)) << i << " moved further than it must";
            } else if (row.columns == 1) {
                EXPECT_EQ(boxes[i].x(), row.wanted[i].x()) << i << " moved sideways with room in its column";
            }
        }
        if (row.columns == 0) {
            EXPECT_LT(placed, int(boxes.size()));
            EXPECT_GE(placed, 4) << "two columns of two at least";
        } else {
            EXPECT_EQ(placed, int(boxes.size()));
            EXPECT_EQ(int(columns.size()), row.columns);
        }
    }
    // Apart, each stays where it would go alone; fourteen from one level stand centred on it.
    const auto apart = at({{10, 40}, {200, 200}, {400, 60}}, target);
    EXPECT_EQ(rules::placeLabels(apart, target, {}), apart);
    const auto column = rules::placeLabels(at(stacked, target), target, {});
    double middles = 0;
    for (const QRectF& box : column)
        middles += box.center().y() / double(column.size());
    EXPECT_NEAR(middles, at(stacked, target)[0].center().y(), 0.01);
    // Further columns go away from the nearer edge: left of labels at the right edge.
    for (const QRectF& box : rules::placeLabels(at(std::vector<QPointF>(30, QPointF(490, 100)), target), target, {}))
        EXPECT_LE(box.right(), 490);
    // The read-out splits the labels in its way, the nearer below, the others above.
    const auto split = rules::placeLabels(at({{140, 150}, {141, 152}, {142, 149}}, target), target, readout);
    for (const QRectF& box : split)
        EXPECT_TRUE(box.top() >= readout.bottom() || box.bottom() <= readout.top()) << box.y();
}

TEST(HistoryGraphRules, CurveLabelTextsTellTheCurvesApart)
{
    using C = rules::CurveNames;
    const struct {
        const char* what;
        std::vector<C> curves;
        QStringList texts;
    } rows[] = {
        {"distinct short names", {{"CPU", "CPU die", "mac"}, {"FAN", "Exhaust", "mac"}}, {"CPU", "FAN"}},
        {"no short name", {{"", "CPU die", "mac"}}, {"CPU die"}},
        {"shared short names take the names",
         {{"SMC B", "SMC BATTERY 1", "mac"}, {"SMC B", "SMC BATTERY 2", "mac"}, {"SMC S", "SMC SSD", "mac"},
          {"SMC S", "SMC SKIN", "mac"}, {"CPU", "CPU die", "mac"}},
         {"SMC BATTERY 1", "SMC BATTERY 2", "SMC SSD", "SMC SKIN", "CPU"}},
        {"shared names take the computer",
         {{"CPU", "CPU die", "mac"}, {"CPU", "CPU die", "server"}}, {"CPU die (mac)", "CPU die (server)"}},
        {"all shared are numbered", {{"CPU", "CPU die", "mac"}, {"CPU", "CPU die", "mac"}}, {"CPU die (mac) 1", "CPU die (mac) 2"}},
        {"a short name like another's name", {{"Fan", "Fan", ""}, {"Fan", "Fan 2", ""}}, {"Fan", "Fan 2"}},
    };
    for (const auto& row : rows) {
        const QStringList texts = rules::distinctLabelTexts(row.curves);
        EXPECT_EQ(texts, row.texts) << row.what;
        EXPECT_EQ(QSet<QString>(texts.cbegin(), texts.cend()).size(), texts.size()) << row.what;
    }
}

TEST(HistoryGraphRules, SampleStepsPagesLabelsAndTimes)
{
    EXPECT_DOUBLE_EQ(rules::sampleSteps(10080, 10080, false).sampleStep, 1);
    EXPECT_DOUBLE_EQ(rules::sampleSteps(10080, 10080, false).xStep, 1);
    EXPECT_DOUBLE_EQ(rules::sampleSteps(10080, 500, true).sampleStep, 20.16);
    EXPECT_DOUBLE_EQ(rules::sampleSteps(10080, 500, true).xStep, 1);
    EXPECT_DOUBLE_EQ(rules::sampleSteps(380, 760, false).xStep, 2);
    EXPECT_DOUBLE_EQ(rules::sampleSteps(0, 500, true).sampleStep, 1) << "nothing to divide";
    EXPECT_EQ(rules::pageCount(1500, 500), 3);
    EXPECT_EQ(rules::pageCount(500, 500), 1);
    EXPECT_EQ(rules::pageCount(500, 0), 1);
    EXPECT_STREQ(rules::valueLabelFormat(25), "%5.0f");
    EXPECT_STREQ(rules::valueLabelFormat(10), "%5.0f");
    EXPECT_STREQ(rules::valueLabelFormat(2), "%5.1f");
    EXPECT_STREQ(rules::valueLabelFormat(0.5), "%5.2f");
    EXPECT_DOUBLE_EQ(rules::timeForXPosition(250, 500, 3600), -1800);
    EXPECT_DOUBLE_EQ(rules::timeForXPosition(500, 500, 3600), 0);
    EXPECT_DOUBLE_EQ(rules::timeForXPosition(10, 0, 3600), 0);
}
