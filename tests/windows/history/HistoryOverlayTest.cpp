// Overlays and the compositing inspector: which windows are offered, attaching and detaching (graph,
// frame, window), the master's settings driving its overlays, removal of masters and overlays, and an
// inspector that keeps its window while it is used.

#include "tests/windows/history/HistoryTestSupport.h"
#include "windows/history/HistoryCompositingInspector.h"

#include <QApplication>

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
    EXPECT_TRUE(other_->historyGraph()->children().isEmpty());
    other_->updateWindow();
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
