#pragma once
// HistoryOverlayWindowController: the history window the application makes. It can take other windows as
// overlays (their graphs laid over its own, each with its own scale, following its mode, slider and zoom;
// their windows hidden) or be one of them, and exports itself with its overlays side by side. Overlays
// never nest. Before a window leaves the controller's list its overlays, or its master, are let go.
// Owned by the application controller; main thread.

#include "windows/history/HistoryWindowController.h"

#include "platform/foundation/NotificationCenter.h"

#include <QList>
#include <QPointer>

class HistoryValueCollection;
class QLabel;

class HistoryOverlayWindowController : public HistoryWindowController {
public:
    explicit HistoryOverlayWindowController(std::shared_ptr<platform::UserDefaults> defaults = nullptr);
    ~HistoryOverlayWindowController() override;

    // Milliseconds of the attach and detach animations; 0 shows none (tests).
    static void setAnimationDuration(int milliseconds);

    void openWindow() override;
    void updateGraph() override;
    void updateUnitFieldWithString(const QString& unit) override;
    void changeMode(qint64 tag) override;
    void changeTimeScale() override;
    void toggleXZoom() override;
    QString textRepresentation() const override;
    QString csvRepresentation() const override;

    TEVHistoryGraph* historyGraph() const { return graphView(); }
    // No when attached to another master; else yes exactly when this window has no overlays of its own.
    bool isAvailableForOverlayWithMasterController(const HistoryOverlayWindowController* master) const;
    // Attaches the windows the stored overlay references name and lets go of those they no longer name.
    void updateOverlayConfiguration();
    void enableOverlayModeAttachingToController(HistoryOverlayWindowController* master);
    // Restores graph, frame and window.
    void disableOverlayModeAndDetach();
    // The controller's value matrix with its counts, step and identifiers; null for null or without one.
    std::shared_ptr<HistoryValueCollection> valueCollectionFromHistoryWindowController(const HistoryWindowController* controller,
                                                                                       const QDateTime& now) const;

    bool isInOverlayMode() const { return overlayMode_; }
    HistoryOverlayWindowController* masterController() const { return master_; }
    const QList<HistoryOverlayWindowController*>& overlayControllers() const { return overlays_; }
    QRect windowFrameBeforeOverlay() const { return windowFrameBeforeOverlay_; }

    // Before the controller drops this window: an overlay goes back to its own window (hidden, as the
    // controller closes it) and leaves its master's references; a master lets its overlays go.
    void prepareForRemoval();

private:
    // Graph and frame back, the window left as `show` says.
    void detach(bool show, bool animate);
    void animateFrame(const QRect& from, const QRect& to, const QPixmap& picture);
    // The master's columns followed by its overlays'; nothing (logged) when an overlay's data does not fit.
    std::optional<HistoryExport::Table> combinedTable() const;

    bool overlayMode_ = false;
    QList<HistoryOverlayWindowController*> overlays_;
    HistoryOverlayWindowController* master_ = nullptr;
    QPointer<QLabel> animationWindow_;
    QRect windowFrameBeforeOverlay_;
    QRect previousGraphFrame_;
    platform::ObserverToken removalObserver_;
};
