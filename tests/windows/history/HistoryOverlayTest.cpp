// Overlays and the compositing inspector: which windows are offered, attaching and detaching (graph,
// frame, window), the master's settings driving its overlays, removal of masters and overlays, and an
// inspector that keeps its window while it is used.

#include "tests/windows/history/HistoryTestSupport.h"
#include "windows/history/HistoryCompositingInspector.h"

#include <QApplication>
#include <QImage>
#include <QKeySequence>
#include <QLabel>
#include <QSet>
#include <QTableView>
#include <QTest>

using namespace historytest;

namespace {

class OverlayTest : public HistoryTest {
protected:
    void SetUp() override
    {
        HistoryTest::SetUp();
        addGauge("t", "CPU", 1, "C", values({40, 42, 44}));
        addGauge("f", "Fan", 6, "rpm", values({1200, 1300, 1250}));
        inspector_ = std::make_unique<HistoryCompositingInspector>();
        inspector_->bindToApplicationController(&controller_);
        master_ = makeWindow("Temperatures", {"t"});
        overlay_ = makeWindow("Fans", {"f"});
        other_ = makeWindow("Other", {"f"});
        overlay_->window()->setGeometry(400, 300, 500, 280);
        frame_ = overlay_->window()->geometry();
        overlay_->openWindow();
        master_->openWindow();
    }
    void TearDown() override
    {
        inspector_.reset();
        HistoryTest::TearDown();
    }
    void attach(const std::shared_ptr<HistoryOverlayWindowController>& master, const QStringList& overlays)
    {
        master->preferences()->overlayReferences().clear();
        for (const QString& identifier : overlays)
            master->preferences()->overlayReferences().append(identifier);
        master->updateOverlayConfiguration();
    }
    static QString idOf(const std::shared_ptr<HistoryOverlayWindowController>& window)
    {
        return window->preferences()->overlayIdentifier();
    }
    static void activate(QWidget* window, bool active)
    {
        QEvent event(active ? QEvent::WindowActivate : QEvent::WindowDeactivate);
        QApplication::sendEvent(window, &event);
    }

    std::unique_ptr<HistoryCompositingInspector> inspector_;
    std::shared_ptr<HistoryOverlayWindowController> master_, overlay_, other_;
    QRect frame_;
};

} // namespace

TEST_F(OverlayTest, AttachingHidesTheWindowAndMovesItsGraphDetachingRestoresBoth)
{
    attach(master_, {idOf(overlay_)});
    ASSERT_TRUE(overlay_->isInOverlayMode());
    EXPECT_EQ(overlay_->masterController(), master_.get());
    EXPECT_FALSE(overlay_->isWindowVisible());
    EXPECT_EQ(overlay_->historyGraph()->parentWidget(), master_->historyGraph());
    EXPECT_EQ(overlay_->historyGraph()->size(), master_->historyGraph()->size());
    EXPECT_EQ(overlay_->historyGraph()->overlayMasterGraph(), master_->historyGraph());
    EXPECT_EQ(overlay_->graphScrollView()->widget(), nullptr);
    EXPECT_TRUE(master_->unitField()->text().contains("other units and scales"));
    overlay_->openWindow();
    EXPECT_FALSE(overlay_->isWindowVisible()) << "an attached window stays hidden";

    attach(master_, {});
    EXPECT_FALSE(overlay_->isInOverlayMode());
    EXPECT_TRUE(overlay_->isWindowVisible());
    EXPECT_EQ(overlay_->window()->geometry(), frame_);
    EXPECT_EQ(overlay_->graphScrollView()->widget(), overlay_->historyGraph());
    EXPECT_EQ(overlay_->historyGraph()->overlayMasterGraph(), nullptr);
    EXPECT_EQ(master_->unitField()->text(), "°C");
}

TEST_F(OverlayTest, OverlaysDoNotNestAndAreOfferedOnlyToTheirMaster)
{
    attach(master_, {idOf(overlay_)});
    EXPECT_FALSE(master_->isAvailableForOverlayWithMasterController(other_.get())) << "it has overlays";
    EXPECT_FALSE(overlay_->isAvailableForOverlayWithMasterController(other_.get())) << "attached to another";
    EXPECT_TRUE(overlay_->isAvailableForOverlayWithMasterController(master_.get()));
    // A stored reference to a window that is taken, or to itself, attaches nothing.
    attach(other_, {idOf(overlay_), idOf(other_), idOf(master_)});
    EXPECT_TRUE(other_->overlayControllers().isEmpty());
    EXPECT_EQ(overlay_->masterController(), master_.get());
}

TEST_F(OverlayTest, TheMastersModeSliderAndZoomDriveItsOverlays)
{
    master_->activateRulerMode(true);
    attach(master_, {idOf(overlay_)});
    EXPECT_TRUE(overlay_->isInRulerMode()) << "copied when attached";
    master_->changeMode(1);
    EXPECT_TRUE(overlay_->isInLongTermMode());
    master_->timeScaleSlider()->setValue(5000); // as the user drags it
    EXPECT_DOUBLE_EQ(overlay_->scaleSliderPosition(), 5);
    EXPECT_DOUBLE_EQ(overlay_->displayedTimeInterval(), 24 * 3600);
    EXPECT_EQ(overlay_->historyGraph()->size(), master_->historyGraph()->size());
    master_->toggleXZoom();
    EXPECT_TRUE(overlay_->isTimeAxisZoomedOut());
    EXPECT_EQ(overlay_->historyGraph()->width(), master_->historyGraph()->width());
}

TEST_F(OverlayTest, RemovingAMasterOrAnOverlayLetsTheOthersGoFirst)
{
    attach(master_, {idOf(overlay_)});
    auto& center = platform::NotificationCenter::defaultCenter();
    // The master goes: its overlay comes back in its own window at its old frame.
    master_->closeWindow();
    center.post(HistoryWindow::willBeRemovedNotification, static_cast<const HistoryWindow*>(master_.get()));
    controller_.windows.removeAll(master_);
    master_.reset();
    EXPECT_FALSE(overlay_->isInOverlayMode());
    EXPECT_TRUE(overlay_->isWindowVisible());
    EXPECT_EQ(overlay_->window()->geometry(), frame_);

    // An attached overlay goes: the master forgets it and its reference.
    attach(other_, {idOf(overlay_)});
    ASSERT_TRUE(overlay_->isInOverlayMode());
    overlay_->closeWindow();
    center.post(HistoryWindow::willBeRemovedNotification, static_cast<const HistoryWindow*>(overlay_.get()));
    controller_.windows.removeAll(overlay_);
    overlay_.reset();
    EXPECT_TRUE(other_->overlayControllers().isEmpty());
    EXPECT_TRUE(other_->preferences()->overlayReferences().isEmpty());
    EXPECT_TRUE(other_->historyGraph()->findChildren<TEVHistoryGraph*>().isEmpty()) << "no overlay graph left on it";
    other_->updateWindow();
}

TEST_F(OverlayTest, CurveLabelsOfAMasterAndItsOverlaysAreOneSetClearOfTheReadout)
{
    // Temperatures on a scale of 0 to 52 and voltages of 0 to 13.2 whose curves start at one height.
    QStringList temperatures, voltages;
    for (int i = 0; i < 5; ++i) {
        temperatures.append(QStringLiteral("temp%1").arg(i));
        addGauge(temperatures.last(), QStringLiteral("SMC TEMP %1").arg(i), 1, "C", values({40.0 + i * 0.2, 47}));
        voltages.append(QStringLiteral("volt%1").arg(i));
        addGauge(voltages.last(), QStringLiteral("SMC VOLT %1").arg(i), 2, "V", values({10.0 + i * 0.05, 12}));
    }
    auto master = makeWindow("Temperature", temperatures);
    auto overlay = makeWindow("Voltage", voltages);
    overlay->openWindow();
    master->openWindow();
    master->activateLabelMode(true);
    master->activateRulerMode(true);
    attach(master, {idOf(overlay)});
    ASSERT_TRUE(overlay->isInOverlayMode());
    TEVHistoryGraph* graph = master->historyGraph();
    TEVHistoryGraph* laid = overlay->historyGraph();
    const QRectF b = graph->graphBounds();
    // The ruler where the labels want to be: its read-out lies in their way.
    const double level = 40.0 / graph->valueRange() * b.height() + b.y();
    graph->setRulerPoint(QPointF(b.x() + 20, level - 30));
    const QRectF readout = graph->rulerReadoutRect();

    EXPECT_TRUE(laid->curveLabels().empty()) << "an overlay's labels are among its master's";
    const auto labels = graph->curveLabels();
    ASSERT_EQ(labels.size(), size_t(10));
    int ofOverlay = 0, moved = 0;
    QSet<QString> texts;
    for (size_t i = 0; i < labels.size(); ++i) {
        const auto& label = labels[i];
        SCOPED_TRACE(label.text.toStdString());
        texts.insert(label.text);
        ASSERT_TRUE(label.graph == graph || label.graph == laid);
        ofOverlay += label.graph == laid;
        moved += label.moved;
        // At its own curve's first value, on its own graph's scale.
        const double first = label.graph->graphSpecifiers()[label.curve].values.front();
        EXPECT_NEAR(label.anchor.y(), (first - label.graph->minimumValue()) / label.graph->valueRange() * b.height() + b.y(), 1e-6);
        if (!label.moved) {
            EXPECT_EQ(label.box, HistoryGraphRules::visibleRectForDrawingObjectRect(label.box.size(), label.anchor, 1, b));
        }
        // Within the column that ten labels of one level make.
        EXPECT_LT(std::abs(label.box.center().y() - label.anchor.y()), 10 * (label.box.height() + 1)) << "near its level";
        EXPECT_TRUE(b.contains(label.box));
        EXPECT_FALSE(label.box.intersects(readout)) << "over the read-out";
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(label.box.intersects(labels[j].box)) << "over " << labels[j].text.toStdString();
    }
    EXPECT_EQ(ofOverlay, 5);
    EXPECT_GT(moved, 0);
    EXPECT_EQ(texts.size(), 10) << "no two labels read alike";

    // Drawn over every curve of both graphs: no curve's red shows through the read-out's text box.
    const QImage picture = graph->grab().toImage();
    const QRect box(int(readout.x()) + 1, int(graph->height() - readout.y() - readout.height()) + 1, int(readout.width()) - 2,
                    int(readout.height()) - 2);
    int red = 0, dark = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x) {
            const QColor c = picture.pixelColor(x, y);
            red += c.red() > 150 && c.green() < 100;
            dark += c.lightness() < 100;
        }
    EXPECT_EQ(red, 0);
    EXPECT_GT(dark, 20) << "the read-out's text";
}

TEST_F(OverlayTest, DestroyingAMasterWithAttachedOverlaysLeavesNothingDangling)
{
    attach(master_, {idOf(overlay_)});
    controller_.windows.removeAll(master_);
    master_.reset();
    EXPECT_FALSE(overlay_->isInOverlayMode());
    EXPECT_EQ(overlay_->graphScrollView()->widget(), overlay_->historyGraph());
    overlay_->updateWindow();
}

TEST_F(OverlayTest, InspectorOffersTheAvailableWindowsAndAttachesTheCheckedOnes)
{
    EXPECT_EQ(inspector_->windowNameMessage()->text(), "- no window selected -");
    activate(master_->window(), true);
    EXPECT_EQ(inspector_->selectedController(), master_.get());
    EXPECT_EQ(inspector_->windowNameMessage()->text(), "Temperatures");
    EXPECT_EQ(inspector_->availableOverlays(), (QStringList{idOf(overlay_), idOf(other_)}));
    EXPECT_EQ(inspector_->objectValue(HistoryCompositingInspector::kWindowColumn, 0), "Fans");
    inspector_->setObjectValue(true, HistoryCompositingInspector::kActivateColumn, 0);
    EXPECT_TRUE(overlay_->isInOverlayMode());
    EXPECT_EQ(master_->preferences()->overlayReferences(), QStringList{idOf(overlay_)});
    EXPECT_EQ(inspector_->objectValue(HistoryCompositingInspector::kActivateColumn, 0), true);

    // Using the panel deactivates the history window; the inspector keeps it.
    activate(master_->window(), false);
    activate(inspector_->inspectorPanel(), true);
    EXPECT_EQ(inspector_->selectedController(), master_.get());
    inspector_->setObjectValue(false, HistoryCompositingInspector::kActivateColumn, 0);
    EXPECT_FALSE(overlay_->isInOverlayMode());
    EXPECT_EQ(overlay_->window()->geometry(), frame_);

    // Another window offers the master, which now has no overlays, and not itself.
    other_->openWindow();
    activate(other_->window(), true);
    EXPECT_EQ(inspector_->availableOverlays(), (QStringList{idOf(master_), idOf(overlay_)}));
    // Closing the selected window lets it go.
    other_->closeWindow();
    EXPECT_EQ(inspector_->selectedController(), nullptr);
    EXPECT_TRUE(inspector_->availableOverlays().isEmpty());
}

// The panel is made at its first opening: the window chosen and the overlay attached before it shows in it.
TEST_F(OverlayTest, AnInspectorPanelMadeLateShowsWhatWasChosenBefore)
{
    activate(master_->window(), true);
    inspector_->setObjectValue(true, HistoryCompositingInspector::kActivateColumn, 0);
    EXPECT_TRUE(overlay_->isInOverlayMode());
    inspector_->openInspector();
    EXPECT_EQ(inspector_->windowNameMessage()->text(), "Temperatures");
    QAbstractItemModel* table = inspector_->overlayTable()->model();
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->index(0, 1).data().toString(), "Fans");
    EXPECT_EQ(table->index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Checked);
    EXPECT_EQ(table->index(1, 0).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
    inspector_->deactivateAllOverlays();
    EXPECT_EQ(table->index(0, 0).data(Qt::CheckStateRole).toInt(), Qt::Unchecked);
}

TEST_F(OverlayTest, InspectorDropsAWindowThatIsRemoved)
{
    activate(master_->window(), true);
    platform::NotificationCenter::defaultCenter().post(HistoryWindow::willBeRemovedNotification,
                                                       static_cast<const HistoryWindow*>(overlay_.get()));
    EXPECT_EQ(inspector_->availableOverlays(), QStringList{idOf(other_)});
    platform::NotificationCenter::defaultCenter().post(HistoryWindow::willBeRemovedNotification,
                                                       static_cast<const HistoryWindow*>(master_.get()));
    EXPECT_EQ(inspector_->selectedController(), nullptr);
    inspector_->deactivateAllOverlays();
}

TEST_F(OverlayTest, TheInspectorClosesOnEscapeAndCtrlWAndWithTheLastHistoryWindow)
{
    QWidget* panel = inspector_->inspectorPanel();
    for (const QKeyCombination keys : {QKeyCombination(Qt::Key_Escape), QKeyCombination(Qt::CTRL | Qt::Key_W)}) {
        SCOPED_TRACE(QKeySequence(keys).toString().toStdString());
        inspector_->openInspector();
        ASSERT_TRUE(panel->isVisible());
        ASSERT_TRUE(QTest::qWaitForWindowActive(panel)) << "opened without taking the keyboard";
        QTest::keyClick(panel, keys.key(), keys.keyboardModifiers());
        EXPECT_FALSE(panel->isVisible());
    }

    // Attached, an overlay's window is hidden while its master is shown: there is still something to combine.
    other_->openWindow();
    inspector_->openInspector();
    attach(master_, {idOf(overlay_)});
    EXPECT_TRUE(panel->isVisible());
    // The history windows closed one by one, as Window > Close History Windows does: the last shown one takes
    // the panel.
    other_->closeWindow();
    EXPECT_TRUE(panel->isVisible());
    master_->closeWindow();
    EXPECT_FALSE(panel->isVisible());
    // Opened with none, it says so.
    inspector_->openInspector();
    EXPECT_EQ(inspector_->windowNameMessage()->text(), "- no history window open -");
    master_->openWindow();
    EXPECT_EQ(inspector_->windowNameMessage()->text(), "- no window selected -");
    // The last history window leaving the controller's list takes it too.
    for (const auto& window : {master_, overlay_, other_})
        platform::NotificationCenter::defaultCenter().post(HistoryWindow::willBeRemovedNotification,
                                                           static_cast<const HistoryWindow*>(window.get()));
    EXPECT_FALSE(panel->isVisible());
}

