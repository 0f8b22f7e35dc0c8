#include "windows/history/HistoryOverlayWindowController.h"

#include "app/model/HistoryValueCollection.h"
#include "app/model/HistoryWindowPreferences.h"
#include "framework/TEVStringFormat.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "windows/history/HistoryWindowSupport.h"

#include <QLabel>
#include <QPropertyAnimation>
#include <QScrollArea>

#include <cmath>

using historywindows::localized;

namespace {

int animationDuration = 200;

HistoryOverlayWindowController* overlayController(const std::shared_ptr<HistoryWindow>& window)
{
    return dynamic_cast<HistoryOverlayWindowController*>(window.get());
}

} // namespace

HistoryOverlayWindowController::HistoryOverlayWindowController(std::shared_ptr<platform::UserDefaults> defaults)
    : HistoryWindowController(std::move(defaults))
{
    windowFrameBeforeOverlay_ = window()->geometry();
    previousGraphFrame_ = graphView()->geometry();
    // The controller posts with the window as its interface sees it.
    removalObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        HistoryWindow::willBeRemovedNotification, static_cast<const HistoryWindow*>(this),
        [this](const platform::Notification&) { prepareForRemoval(); });
}

HistoryOverlayWindowController::~HistoryOverlayWindowController()
{
    platform::NotificationCenter::defaultCenter().removeObserver(removalObserver_);
    prepareForDestruction();
    // The graph must be back in its own window before the window goes, and nobody may keep this one.
    if (master_) {
        master_->overlays_.removeAll(this);
        detach(false, false);
    }
    for (HistoryOverlayWindowController* overlay : std::exchange(overlays_, {}))
        if (overlay->master_ == this)
            overlay->detach(false, false);
    delete animationWindow_.data();
}

void HistoryOverlayWindowController::setAnimationDuration(int milliseconds)
{
    animationDuration = milliseconds;
}

// --- Overrides -------------------------------------------------------------------------------------------

void HistoryOverlayWindowController::openWindow()
{
    if (overlayMode_)
        return;
    HistoryWindowController::openWindow();
    updateOverlayConfiguration();
}

void HistoryOverlayWindowController::updateGraph()
{
    // An attached graph is sized and scaled for its master's view, whoever asks.
    if (overlayMode_ && master_) {
        updateGraphInScrollView(master_->graphScrollView());
        return;
    }
    HistoryWindowController::updateGraph();
    for (HistoryOverlayWindowController* overlay : std::as_const(overlays_))
        overlay->updateGraphInScrollView(graphScrollView());
}

void HistoryOverlayWindowController::updateUnitFieldWithString(const QString& unit)
{
    if (overlays_.isEmpty()) {
        HistoryWindowController::updateUnitFieldWithString(unit);
        return;
    }
    HistoryWindowController::updateUnitFieldWithString(TEVStringFormat::withObjects(
        localized(QStringLiteral("%@ (The window also contains curves with other units and scales)")), {unit}));
}

void HistoryOverlayWindowController::changeMode(qint64 tag)
{
    HistoryWindowController::changeMode(tag);
    for (HistoryOverlayWindowController* overlay : QList(overlays_))
        overlay->changeMode(tag);
}

void HistoryOverlayWindowController::changeTimeScale()
{
    HistoryWindowController::changeTimeScale();
    for (HistoryOverlayWindowController* overlay : QList(overlays_))
        overlay->setScaleSliderPosition(scaleSliderPosition());
}

void HistoryOverlayWindowController::toggleXZoom()
{
    HistoryWindowController::toggleXZoom();
    // The master's state rather than each overlay's own inverted: they cannot drift apart.
    for (HistoryOverlayWindowController* overlay : QList(overlays_))
        overlay->activateZoomedOutTimeAxis(isTimeAxisZoomedOut());
}

// --- Overlays --------------------------------------------------------------------------------------------

bool HistoryOverlayWindowController::isAvailableForOverlayWithMasterController(const HistoryOverlayWindowController* master) const
{
    if (master_ && master_ != master)
        return false;
    return overlays_.isEmpty();
}

void HistoryOverlayWindowController::updateOverlayConfiguration()
{
    const QList<HistoryOverlayWindowController*> old = std::exchange(overlays_, {});
    if (!registry() || !preferences())
        return;
    for (const QString& identifier : preferences()->overlayReferences()) {
        HistoryOverlayWindowController* candidate =
            overlayController(registry()->overlayHistoryWindowControllerForIdentifier(identifier));
        // Stored references may name this window, a window twice, or one that is taken: none of those nest.
        if (!candidate || candidate == this || overlays_.contains(candidate)
            || !candidate->isAvailableForOverlayWithMasterController(this))
            continue;
        overlays_.append(candidate);
    }
    for (const auto& window : registry()->historyWindowControllers()) {
        HistoryOverlayWindowController* controller = overlayController(window);
        if (!controller)
            continue;
        const bool now = overlays_.contains(controller);
        const bool before = old.contains(controller);
        if (now && !before)
            controller->enableOverlayModeAttachingToController(this);
        else if (before && !now)
            controller->disableOverlayModeAndDetach();
    }
    // The new curves and the unit note show at once.
    updateGraph();
}

void HistoryOverlayWindowController::enableOverlayModeAttachingToController(HistoryOverlayWindowController* master)
{
    if (overlayMode_)
        return;
    KV_ASSERT_OR_RETURN(master, , "no master controller specified");
    master_ = master;
    windowFrameBeforeOverlay_ = window()->geometry();
    activateExtremesPanel(false);
    activateLabelMode(master->isLabelModeActive());
    activateRulerMode(master->isInRulerMode());
    setScaleSliderPosition(master->scaleSliderPosition());
    activateLongTermMode(master->isInLongTermMode());
    activateZoomedOutTimeAxis(master->isTimeAxisZoomedOut());

    const bool wasVisible = isWindowVisible();
    const QRect from = screenRectOfDisplayArea();
    const QPixmap picture = wasVisible && animationDuration > 0 ? displayBox()->grab() : QPixmap();
    window()->hide();
    if (wasVisible)
        animateFrame(from, master->screenRectOfDisplayArea(), picture);

    TEVHistoryGraph* graph = graphView();
    previousGraphFrame_ = graph->geometry();
    graphScrollView()->takeWidget();
    TEVHistoryGraph* masterGraph = master->graphView();
    graph->setParent(masterGraph);
    graph->setGeometry(0, 0, masterGraph->width(), masterGraph->height());
    graph->setOverlayMasterGraph(masterGraph);
    graph->lower();
    graph->show();
    overlayMode_ = true;
    updateGraph();
}

void HistoryOverlayWindowController::disableOverlayModeAndDetach()
{
    detach(true, true);
}

void HistoryOverlayWindowController::detach(bool show, bool animate)
{
    if (!overlayMode_)
        return;
    const QRect from = master_ ? master_->screenRectOfDisplayArea() : QRect();
    master_ = nullptr;
    TEVHistoryGraph* graph = graphView();
    graph->setOverlayMasterGraph(nullptr);
    graph->hide();
    graphScrollView()->setWidget(graph);
    graph->setGeometry(previousGraphFrame_);
    graph->show();
    window()->setGeometry(windowFrameBeforeOverlay_);
    overlayMode_ = false;
    if (!show)
        return;
    if (animate && animationDuration > 0)
        animateFrame(from, windowFrameBeforeOverlay_, displayBox()->grab());
    window()->show();
    window()->raise();
    updateGraph();
}

void HistoryOverlayWindowController::animateFrame(const QRect& from, const QRect& to, const QPixmap& picture)
{
    if (animationDuration <= 0 || picture.isNull() || from.isEmpty() || to.isEmpty())
        return;
    if (!animationWindow_) {
        animationWindow_ = new QLabel(nullptr, Qt::FramelessWindowHint | Qt::Tool | Qt::WindowStaysOnTopHint
                                                   | Qt::WindowDoesNotAcceptFocus);
        animationWindow_->setAttribute(Qt::WA_ShowWithoutActivating);
        animationWindow_->setScaledContents(true);
        animationWindow_->setWindowOpacity(0.5);
    }
    QLabel* shown = animationWindow_.data();
    shown->setPixmap(picture);
    shown->setGeometry(from);
    shown->show();
    auto* animation = new QPropertyAnimation(shown, "geometry", shown);
    animation->setDuration(animationDuration);
    animation->setStartValue(from);
    animation->setEndValue(to);
    QObject::connect(animation, &QPropertyAnimation::finished, shown, [shown] { shown->hide(); });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void HistoryOverlayWindowController::prepareForRemoval()
{
    if (HistoryOverlayWindowController* master = master_) {
        master->overlays_.removeAll(this);
        if (const auto prefs = master->preferences(); prefs && preferences())
            prefs->overlayReferences().removeAll(preferences()->overlayIdentifier());
        // The controller closes the window that is going: it stays hidden.
        detach(false, false);
        master->updateGraph();
    }
    for (HistoryOverlayWindowController* overlay : std::exchange(overlays_, {}))
        overlay->disableOverlayModeAndDetach();
}

// --- Exports ---------------------------------------------------------------------------------------------

std::shared_ptr<HistoryValueCollection>
HistoryOverlayWindowController::valueCollectionFromHistoryWindowController(const HistoryWindowController* controller,
                                                                           const QDateTime& now) const
{
    if (!controller || !controller->preferences())
        return nullptr;
    auto matrix = controller->allocatedHistoryValues(now);
    if (!matrix)
        return nullptr;
    auto collection = std::make_shared<HistoryValueCollection>();
    collection->setValueArray(std::move(matrix->values));
    collection->setNumberOfGauges(matrix->gaugeCount);
    collection->setNumberOfSamples(matrix->sampleCount);
    collection->setDeltaTime(matrix->deltaTime);
    collection->setSensorNames(controller->preferences()->sensorIdentifierList());
    return collection;
}

std::optional<HistoryExport::Table> HistoryOverlayWindowController::combinedTable() const
{
    const QDateTime now = platform::currentDate();
    const auto master = valueCollectionFromHistoryWindowController(this, now);
    if (!master)
        return std::nullopt;
    QList<std::shared_ptr<HistoryValueCollection>> collections{master};
    for (const HistoryOverlayWindowController* overlay : overlays_) {
        const auto collection = valueCollectionFromHistoryWindowController(overlay, now);
        if (!collection || collection->numberOfSamples() != master->numberOfSamples()) {
            platform::log(QStringLiteral("Internal failure to collect data for combined export of history overlay windows. "
                                         "Trying simple export.\n"));
            return std::nullopt;
        }
        collections.append(collection);
    }
    HistoryExport::Table table;
    table.samples = master->numberOfSamples();
    table.deltaTime = master->deltaTime();
    table.start = now.addMSecs(-qint64(std::llround(displayedTimeInterval() * 1000.0)));
    for (const auto& collection : collections) {
        table.columns += exportColumnsForIdentifiers(collection->sensorNames());
        const std::vector<double> values = collection->valueArray();
        table.values.insert(table.values.end(), values.begin(), values.end());
        // A short block keeps the columns after it in place.
        table.values.resize(size_t(table.columns.size()) * table.samples, HistoryValueCollection::kNoValue);
    }
    return table;
}

QString HistoryOverlayWindowController::textRepresentation() const
{
    const auto table = overlays_.isEmpty() ? std::nullopt : combinedTable();
    if (!table)
        return HistoryWindowController::textRepresentation();
    return HistoryExport::text(
        TEVStringFormat::withObjects(localized(QStringLiteral("%@ (combined with other data)")), {preferences()->windowName()}),
        *table);
}

QString HistoryOverlayWindowController::csvRepresentation() const
{
    const auto table = overlays_.isEmpty() ? std::nullopt : combinedTable();
    if (!table)
        return HistoryWindowController::csvRepresentation();
    return HistoryExport::csv(localized(QStringLiteral("Time,")), *table);
}
