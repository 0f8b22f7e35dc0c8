// One history window with a fake controller: spans, the value range, the curves, their labels and their
// extremes, the extremes table and panel, the state written back and the frame kept per window name.

#include "tests/windows/history/HistoryTestSupport.h"
#include "windows/history/HistoryWindowSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QGuiApplication>
#include <QHeaderView>
#include <QScreen>
#include <QSet>
#include <QSlider>
#include <QTableView>

using namespace historytest;

namespace {

const double n = std::nan("");

class WindowTest : public HistoryTest {};

} // namespace

TEST_F(WindowTest, ShortTermSpansTheUpdateIntervalTimes380AndLongTermTheSlider)
{
    addGauge("t", "CPU", 1, "C", values({40, 41}));
    auto window = makeWindow("Temperatures", {"t"});
    EXPECT_DOUBLE_EQ(window->displayedTimeInterval(), 760);
    EXPECT_FALSE(window->zoomButton()->isVisibleTo(window->window()));
    EXPECT_EQ(controller_.requests.last(), qMakePair(platform::currentDate().addSecs(-760), false));
    EXPECT_FALSE(window->timeScaleSlider()->isEnabled());

    window->changeMode(1);
    EXPECT_TRUE(window->timeScaleSlider()->isEnabled());
    window->setScaleSliderPosition(4.5);
    EXPECT_DOUBLE_EQ(window->displayedTimeInterval(), 18 * 3600);
    EXPECT_EQ(controller_.requests.last(), qMakePair(platform::currentDate().addSecs(-18 * 3600), true));
    window->setScaleSliderPosition(std::nullopt);
    EXPECT_DOUBLE_EQ(window->scaleSliderPosition(), 4.5);
    // A week does not fit the window unzoomed: the button offers to zoom out.
    window->setScaleSliderPosition(7);
    EXPECT_TRUE(window->zoomButton()->isVisibleTo(window->window()));
    window->toggleXZoom();
    EXPECT_TRUE(window->isTimeAxisZoomedOut());
    EXPECT_EQ(window->graphView()->width(), window->graphScrollView()->viewport()->width());
    // Back to a span that fits: zooming out switches itself off.
    window->setScaleSliderPosition(1);
    EXPECT_FALSE(window->isTimeAxisZoomedOut());
}

TEST_F(WindowTest, ValueRangeOfAllCurvesAndTheZoomedValueRangeSwitch)
{
    addGauge("a", "A", 1, "C", values({12, 47, n}));
    addGauge("b", "B", 1, "C", values({30, 20}));
    auto window = makeWindow("W", {"a", "b"});
    EXPECT_DOUBLE_EQ(window->graphView()->minimumValue(), 0);
    EXPECT_DOUBLE_EQ(window->graphView()->valueRange(), 52);
    controller_.monitor.setGraphsZoomValueRange(true);
    window->updateWindow();
    EXPECT_NEAR(window->graphView()->minimumValue(), 8.5, 1e-9);
    EXPECT_NEAR(window->graphView()->valueRange(), 42.5, 1e-9); // 8.5 … 50.5 rounded up to 51
    EXPECT_EQ(window->unitField()->text(), "°C");
}

TEST_F(WindowTest, SampleCountComesFromTheLongestHistoryNotTheLastGauge)
{
    addGauge("a", "A", 1, "C", values({40, 41, 42, 43}));
    addGauge("b", "B", 1, "C", values({50, 51}));
    addGauge("c", "C", 1, "C", QByteArray()); // a remote gauge's long-term history: none
    controller_.identifiers.append("gone");   // no gauge at all
    auto window = makeWindow("W", {"a", "b", "c", "gone"});
    EXPECT_EQ(window->graphView()->numberOfSamples(), 4u) << "the longest history";
    ASSERT_EQ(window->numberOfExtremesRows(), 3);
    const auto text = [&](const char* id, double value) {
        return controller_.gauges[id]->localizedPresentationOfPresentationValue(value);
    };
    EXPECT_EQ(window->extremesValue(HistoryWindowController::kMinimumColumn, 0), text("a", 40));
    EXPECT_EQ(window->extremesValue(HistoryWindowController::kMaximumColumn, 1), text("b", 51));
    // A curve without values shows the missing-value text and gets no markers.
    EXPECT_EQ(window->extremesValue(HistoryWindowController::kMinimumColumn, 2), "---");
    EXPECT_EQ(window->graphSpecifiers()[2].specifier.minimumSampleIndex(), -1);
    EXPECT_EQ(window->extremesValue(HistoryWindowController::kSensorColumn, 2), "C");
    EXPECT_FALSE(window->extremesValue(HistoryWindowController::kSensorColumn, 3).isValid());
}

TEST_F(WindowTest, ExtremesBeyondAnySentinelAndTheFirstOfTwoEqualMinima)
{
    addGauge("hz", "Clock", 13, "Hz", raws({300000000000, 310000000000, 300000000000}));
    addGauge("t", "T", 1, "C", values({5, 3, 7, 3}));
    auto window = makeWindow("W", {"hz", "t"});
    const auto& clock = window->graphSpecifiers()[0].specifier;
    EXPECT_EQ(clock.minimumValue(), 3e9);
    EXPECT_EQ(clock.minimumSampleIndex(), 0);
    EXPECT_EQ(clock.maximumSampleIndex(), 1);
    EXPECT_EQ(window->graphSpecifiers()[1].specifier.minimumSampleIndex(), 1);
    EXPECT_GE(window->graphView()->minimumValue() + window->graphView()->valueRange(), 3.1e9);
}

TEST_F(WindowTest, ATimeStepOfZeroShowsNothingAndDividesNothing)
{
    addGauge("t", "T", 1, "C", QByteArray());
    controller_.monitor.setSensorUpdateInterval(0);
    auto window = makeWindow("W", {"t"});
    EXPECT_EQ(window->displayedTimeInterval(), 0);
    EXPECT_EQ(window->graphView()->numberOfSamples(), 0u);
    window->activateRulerMode(true);
    window->graphView()->recalculateRulerPoint();
    EXPECT_FALSE(std::isnan(window->graphView()->rulerPointWorld().x()));
    const auto matrix = window->allocatedHistoryValues(platform::currentDate());
    ASSERT_TRUE(matrix);
    EXPECT_EQ(matrix->sampleCount, 0u);
}

TEST_F(WindowTest, ExtremesSelectionMarksTheCurveAndTheSwatchEditsTheGaugesColour)
{
    const auto gauge = addGauge("t", "T", 1, "C", values({40, 45}));
    auto window = makeWindow("W", {"t"});
    window->openWindow();
    window->selectExtremesRow(0);
    EXPECT_EQ(window->graphView()->specifierIndexForExtremeVisualization(), 0);
    window->selectExtremesRow(5);
    EXPECT_EQ(window->extremeSelectedIndex(), -1);
    window->openColorPanel(0);
    window->changeGaugeColor(QColor(0, 255, 0));
    EXPECT_EQ(historywindows::toQColor(gauge->presentationColor()), QColor(0, 255, 0));
    window->setExtremesValue(QColor(0, 0, 255), HistoryWindowController::kColorColumn, 0);
    EXPECT_EQ(window->extremesValue(HistoryWindowController::kColorColumn, 0), QColor(0, 0, 255));
    window->setExtremesValue(QStringLiteral("red"), HistoryWindowController::kColorColumn, 0);
    EXPECT_EQ(window->extremesValue(HistoryWindowController::kColorColumn, 0), QColor(0, 0, 255)) << "colours only";
}

TEST_F(WindowTest, ExtremesPanelOpensWithItsWindowBesideItAndKeepsItsWidth)
{
    addGauge("t", "T", 1, "C", values({40, 45}));
    auto window = makeWindow("W", {"t"});
    window->activateExtremesPanel(true);
    EXPECT_TRUE(window->isExtremesPanelOpen());
    EXPECT_FALSE(window->extremesDrawerPanel()->isVisible()) << "its window is closed";
    window->openWindow();
    ASSERT_TRUE(window->extremesDrawerPanel()->isVisible());
    const QRect frame = window->window()->frameGeometry();
    const QRect panel = window->extremesDrawerPanel()->geometry();
    EXPECT_TRUE(panel.x() >= frame.x() + frame.width() || panel.x() + panel.width() <= frame.x());
    EXPECT_EQ(panel.width(), 375);
    EXPECT_TRUE(window->extremesSwitch()->isChecked());
    window->selectExtremesRow(0);
    // Closed by the user: the width is kept, the switch and the markers go off.
    window->extremesDrawerPanel()->resize(420, 300);
    window->extremesDrawerPanel()->close();
    EXPECT_FALSE(window->isExtremesPanelOpen());
    EXPECT_FALSE(window->extremesSwitch()->isChecked());
    EXPECT_EQ(window->extremeSelectedIndex(), -1);
    EXPECT_EQ(window->preferences()->drawerWidth(), 420);
}

// The panel is made when it first opens: the columns kept under the window's name come back then.
TEST_F(WindowTest, TheExtremesColumnsKeptPerNameComeBackWhenThePanelFirstOpens)
{
    addGauge("t", "T", 1, "C", values({40, 45}));
    auto window = makeWindow("Columns", {"t"});
    window->openWindow();
    window->activateExtremesPanel(true);
    ASSERT_TRUE(window->extremesDrawerPanel()->isVisible());
    window->extremesTable()->horizontalHeader()->resizeSection(0, 77);
    window->closeWindow();

    controller_.windows.clear();
    auto again = std::make_shared<HistoryOverlayWindowController>(defaults_);
    again->bindToApplicationController(&controller_, &controller_,
                                       HistoryWindowPreferences::createWithPreferenceDictionary(window->preferences()->preferenceProperties()));
    again->openWindow();
    again->activateExtremesPanel(true);
    ASSERT_TRUE(again->extremesDrawerPanel()->isVisible());
    EXPECT_EQ(again->extremesTable()->horizontalHeader()->sectionSize(0), 77);
}

TEST_F(WindowTest, StateGoesBackToThePreferencesAndTheFrameIsKeptPerName)
{
    addGauge("t", "T", 1, "C", values({40}));
    auto window = makeWindow("Kept", {"t"});
    EXPECT_FALSE(window->hasAutosavedPosition());
    window->openWindow();
    window->changeMode(1);
    window->setScaleSliderPosition(3);
    window->toggleFeature(window->rulerSwitch());
    window->toggleFeature(window->labelSwitch());
    window->toggleFeature(nullptr);
    window->window()->move(100, 50);
    window->syncWindowStateToPreferences();
    const auto& prefs = *window->preferences();
    EXPECT_TRUE(prefs.opensAtLaunchTime());
    EXPECT_TRUE(prefs.prefersLongTermMode());
    EXPECT_DOUBLE_EQ(prefs.preferredSliderPosition(), 3);
    EXPECT_TRUE(prefs.showsRulersAtLaunchTime());
    EXPECT_TRUE(prefs.showsCurveLabelsAtLaunchTime());
    EXPECT_FALSE(prefs.opensDrawerAtLaunchTime());
    window->closeWindow();
    window->syncWindowStateToPreferences();
    EXPECT_FALSE(prefs.opensAtLaunchTime());

    // The next window of that name takes the frame and the settings.
    controller_.windows.clear();
    auto again = std::make_shared<HistoryOverlayWindowController>(defaults_);
    auto stored = HistoryWindowPreferences::createWithPreferenceDictionary(prefs.preferenceProperties());
    again->bindToApplicationController(&controller_, &controller_, stored);
    EXPECT_EQ(again->window()->pos(), QPoint(100, 50));
    EXPECT_TRUE(again->hasAutosavedPosition());
    EXPECT_EQ(again->window()->windowTitle(), "Kept");
    EXPECT_TRUE(again->isInLongTermMode());
    EXPECT_TRUE(again->isInRulerMode());
    EXPECT_EQ(again->modeSwitches()->checkedId(), 1);
    EXPECT_DOUBLE_EQ(again->displayedTimeInterval(), 6 * 3600);
}

TEST_F(WindowTest, AFrameSavedOnALargerScreenComesBackWhole)
{
    // The offscreen screen is smaller than 1300 × 1000.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_LT(area.width(), 1300);
    addGauge("t", "T", 1, "C", values({40}));
    struct Row {
        const char* record;
        QRect expected;
    } rows[] = {{"100 80 500 300", {100, 80, 500, 300}},
                {"1300 860 500 300", {area.x() + area.width() - 500, area.y() + area.height() - 300, 500, 300}},
                {"-50 20 1300 300", {area.x(), 20, area.width(), 300}}};
    for (const Row& row : rows) {
        defaults_->setObject(QString::fromUtf8(row.record), HistoryWindowController::kFrameRecordPrefix + "HistoryWindow-Far");
        controller_.windows.clear();
        auto window = makeWindow("Far", {"t"});
        EXPECT_EQ(QRect(window->window()->pos(), window->window()->size()), row.expected) << row.record;
    }
}

TEST_F(WindowTest, FourteenCurveLabelsTellTheSensorsApartAndLieApart)
{
    // The portable's temperatures: many names begin alike, and their histories begin together.
    const QStringList names = {"SMC BATTERY 1", "SMC BATTERY 2", "SMC SKIN LEFT", "SMC SKIN RIGHT", "CPU DIE", "CPU PROXIMITY",
                               "GPU DIE", "GPU PROXIMITY", "MEMORY BANK A", "MEMORY BANK B", "HEATSINK 1", "HEATSINK 2",
                               "AIRPORT", "NORTHBRIDGE"};
    QStringList identifiers;
    for (qsizetype i = 0; i < names.size(); ++i) {
        identifiers.append(QStringLiteral("t%1").arg(i));
        addGauge(identifiers.last(), names[i], 1, "C", values({40.0 + double(i % 3), 41.0 + double(i % 3), 42.0}));
    }
    auto window = makeWindow("W", identifiers);
    window->openWindow();
    window->labelSwitch()->click();
    ASSERT_TRUE(window->graphView()->areCurveLabelsEnabled());
    const auto labels = window->graphView()->curveLabels();
    ASSERT_EQ(labels.size(), size_t(names.size()));
    QSet<QString> texts;
    for (size_t i = 0; i < labels.size(); ++i) {
        texts.insert(labels[i].text);
        EXPECT_TRUE(window->graphView()->graphBounds().contains(labels[i].box)) << labels[i].text.toStdString();
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(labels[i].box.intersects(labels[j].box))
                << labels[i].text.toStdString() << " over " << labels[j].text.toStdString();
    }
    EXPECT_EQ(texts.size(), names.size()) << "no two labels read alike";
    EXPECT_TRUE(texts.contains("SMC BATTERY 1") && texts.contains("CPU D")) << "a short name stays where it is unique";
}

TEST_F(WindowTest, TheExtremesPanelShowsLongNamesWholeOnMoreLines)
{
    const QStringList names = {"SMC BATTERY CHARGER PROXIMITY", "SMC BATTERY POSITION 2 TEMPERATURE", "SMC BATTERY GAS GAUGE"};
    QStringList identifiers;
    for (qsizetype i = 0; i < names.size(); ++i) {
        identifiers.append(QStringLiteral("b%1").arg(i));
        addGauge(identifiers.last(), names[i], 1, "C", values({30, 31}));
    }
    auto window = makeWindow("W", identifiers);
    window->activateExtremesPanel(true);
    window->openWindow();
    QWidget* panel = window->extremesDrawerPanel();
    ASSERT_TRUE(panel->isVisible());
    auto* table = panel->findChild<QTableView*>(QStringLiteral("extremesTable"));
    ASSERT_TRUE(table);
    for (const int width : {375, 330}) {
        panel->resize(width, panel->height());
        // The resize, then the rows fitted to the columns it gave.
        QApplication::processEvents();
        QApplication::processEvents();
        for (int row = 0; row < int(names.size()); ++row) {
            const QRect cell = table->visualRect(table->model()->index(row, 1));
            const QString name = table->model()->index(row, 1).data().toString();
            EXPECT_EQ(name, names[row]);
            // The whole name fits its cell, on as many lines as it takes.
            const QRect needed = table->fontMetrics().boundingRect(QRect(0, 0, cell.width() - 8, 10000),
                                                                   Qt::TextWordWrap, name);
            EXPECT_LE(needed.height(), cell.height()) << width << ": " << name.toStdString();
            EXPECT_LE(cell.bottom(), table->viewport()->height()) << "all rows in view";
        }
        // The panel is narrower than the longest name on one line: the test holds wrapped names.
        EXPECT_GT(table->fontMetrics().horizontalAdvance(names[1]), table->columnWidth(1)) << width;
    }
}
