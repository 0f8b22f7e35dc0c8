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
    struct Row {
        const char* what;
        std::vector<QPointF> anchors;
        QRectF target;
        bool allFit; // else a label without room is left out (null)
    };
    const Row rows[] = {
        {"apart", {{10, 40}, {200, 200}, {400, 60}}, target, true},
        // Fourteen curves starting where their histories begin, most at nearly the same value.
        {"fourteen at one start", std::vector<QPointF>(14, QPointF(0, 100)), target, true},
        {"fourteen near the top", std::vector<QPointF>(14, QPointF(0, 318)), target, true},
        {"two close", {{100, 100}, {102, 104}}, target, true},
        {"more than the graph holds", std::vector<QPointF>(40, QPointF(0, 30)), QRectF(0, 20, 100, 60), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const std::vector<QSizeF> sizes(row.anchors.size(), label);
        const std::vector<QRectF> boxes = rules::placeLabels(sizes, row.anchors, 1, row.target);
        ASSERT_EQ(boxes.size(), row.anchors.size());
        int placed = 0;
        for (size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].isNull())
                continue;
            ++placed;
            EXPECT_EQ(boxes[i].size(), label) << i;
            EXPECT_TRUE(row.target.contains(boxes[i])) << i;
            for (size_t j = 0; j < i; ++j)
                EXPECT_FALSE(boxes[i].intersects(boxes[j])) << i << " over " << j;
        }
        // The small graph has room for two columns of two beside the first label's place at least.
        if (row.allFit)
            EXPECT_EQ(placed, int(boxes.size()));
        else
            EXPECT_GE(placed, 4);
        // The first label goes where a lone label would.
        EXPECT_EQ(boxes[0], rules::visibleRectForDrawingObjectRect(label, row.anchors[0], 1, row.target));
    }
    // Where labels are apart, each stays where it would go alone.
    const std::vector<QPointF> apart{{10, 40}, {200, 200}, {400, 60}};
    const auto boxes = rules::placeLabels(std::vector<QSizeF>(3, label), apart, 1, target);
    for (size_t i = 0; i < apart.size(); ++i)
        EXPECT_EQ(boxes[i], rules::visibleRectForDrawingObjectRect(label, apart[i], 1, target));
    // Moved ones stay near their start: the fourteen stacked ones lie in the first columns, and where the
    // curves start at the right edge, in the columns left of it.
    const auto stacked = rules::placeLabels(std::vector<QSizeF>(14, label), std::vector<QPointF>(14, QPointF(0, 100)), 1, target);
    for (const QRectF& box : stacked)
        EXPECT_LT(box.x(), 2 * (label.width() + 2));
    const auto atTheEnd = rules::placeLabels(std::vector<QSizeF>(30, label), std::vector<QPointF>(30, QPointF(490, 100)), 1, target);
    for (const QRectF& box : atTheEnd) {
        ASSERT_FALSE(box.isNull()) << "the graph holds them all left of their start";
        EXPECT_GT(box.x(), 490 - 3 * (label.width() + 2));
    }
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
