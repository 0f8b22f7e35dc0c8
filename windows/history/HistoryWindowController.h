#pragma once
// HistoryWindowController: one history window: the graph of a window's gauges over the short-term history
// (380 samples at the update interval) or a slider's span of the long-term one, with the common value
// range, a zoomed-out time axis, rulers, curve labels and the extremes panel; and its text and CSV
// exports. Reads gauges and histories through the controller's look-ups. Made and bound by the
// application controller (always as a HistoryOverlayWindowController); main thread.

#include "app/model/ApplicationWindows.h"
#include "windows/history/GraphLabelView.h"
#include "windows/history/HistoryExport.h"
#include "windows/history/TEVHistoryGraph.h"

#include <QAbstractButton>
#include <QColor>
#include <QDateTime>
#include <QLabel>
#include <QPointer>
#include <QRect>
#include <QScrollArea>
#include <QSlider>
#include <QTableView>
#include <QToolButton>

#include <memory>
#include <optional>
#include <vector>

class QButtonGroup;
class TEVSimpleColorCell;
namespace platform {
class UserDefaults;
}

class HistoryWindowController : public HistoryWindow {
public:
    // Extremes table columns, by identifier.
    static inline const QString kColorColumn = QStringLiteral("Color");
    static inline const QString kSensorColumn = QStringLiteral("Sensor");
    static inline const QString kMinimumColumn = QStringLiteral("Minimum");
    static inline const QString kMaximumColumn = QStringLiteral("Maximum");
    static inline const QString kCurrentColumn = QStringLiteral("Current");
    // Standard-defaults records of the window frame ("x y width height", top-left) and table columns.
    static inline const QString kFrameRecordPrefix = QStringLiteral("TEVWindowFrame-");
    static inline const QString kColumnsRecordPrefix = QStringLiteral("TEVTableColumns-");
    static constexpr double kDefaultDrawerWidth = 375.0;

    // `defaults` keeps the frames; null: the program's standard defaults (none without a main bundle).
    explicit HistoryWindowController(std::shared_ptr<platform::UserDefaults> defaults = nullptr);
    ~HistoryWindowController() override;
    HistoryWindowController(const HistoryWindowController&) = delete;
    HistoryWindowController& operator=(const HistoryWindowController&) = delete;

    // Stores both and applies the preferences: mode, zoom, slider, panel, rulers, labels, span, window.
    void bindToApplicationController(ControllerLookups* controller, HistoryWindowRegistry* registry,
                                     std::shared_ptr<HistoryWindowPreferences> preferences);
    void syncWindowStateToPreferences() override;

    // --- Queries -------------------------------------------------------------------------------------
    std::shared_ptr<HistoryWindowPreferences> preferences() const { return preferences_; }
    QWidget* window() const override;
    bool isWindowVisible() const override;
    double scaleSliderPosition() const;
    bool isInLongTermMode() const { return longTermMode_; }
    bool isExtremesPanelOpen() const;
    bool isInRulerMode() const;
    bool isLabelModeActive() const;
    bool isTimeAxisZoomedOut() const { return timeZoomedOut_; }
    bool prefersToBeOpenAtLaunchTime() const override;
    QPoint topLeftWindowPosition() const override;
    QPoint cascadeTopLeftFromPoint(const QPoint& topLeft) override;
    // The graph area (display box) in global coordinates.
    QRect screenRectOfDisplayArea() const;
    bool hasAutosavedPosition() const override;
    double displayedTimeInterval() const { return displayedTimeInterval_; }
    qint64 extremeSelectedIndex() const { return extremeSelectedIndex_; }
    const std::vector<HistoryCurve>& graphSpecifiers() const;

    // --- Commands ------------------------------------------------------------------------------------
    void openWindow() override;
    void closeWindow() override;
    void updateWindow() override;
    virtual void updateGraph();
    // Computes the curves, extremes and value range and hands them to the graph, sized for `scrollView`.
    void updateGraphInScrollView(QScrollArea* scrollView);
    virtual void updateUnitFieldWithString(const QString& unit);
    void updateForNewTimeScale() override;
    void updateExtremesDrawerForTimeInterval(double seconds);
    void activateExtremesPanel(bool open);
    void activateLabelMode(bool on);
    void activateRulerMode(bool on);
    void activateLongTermMode(bool on);
    void activateZoomedOutTimeAxis(bool on);
    // Nothing for nullopt.
    void setScaleSliderPosition(std::optional<double> position);
    double timeIntervalOfScaleSlider() const;

    // --- Actions of the window -----------------------------------------------------------------------
    // Long-term for tag 1, short-term otherwise.
    virtual void changeMode(qint64 tag);
    virtual void changeTimeScale();
    // `sender`: the extremes, ruler or label switch; other senders do nothing.
    void toggleFeature(QObject* sender);
    virtual void toggleXZoom();
    void openColorPanel(qint64 row);
    void changeGaugeColor(const QColor& color);
    // The extremes table's selection: -1 for none.
    void selectExtremesRow(qint64 row);

    // --- Extremes table ------------------------------------------------------------------------------
    qsizetype numberOfExtremesRows() const;
    // A colour for "Color", texts for the others; invalid for another column or row.
    QVariant extremesValue(const QString& column, qsizetype row) const;
    // Only "Color" takes a value (a colour, for a valid row).
    void setExtremesValue(const QVariant& value, const QString& column, qsizetype row);

    // --- Exports -------------------------------------------------------------------------------------
    // One row of `sampleCount` presentation values per identifier of the list (2^64: no value), the
    // histories of now - displayed span to now; nothing while unbound or with an empty list.
    struct ValueMatrix {
        std::vector<double> values;
        quint64 gaugeCount = 0;
        quint64 sampleCount = 0;
        double deltaTime = 0;
    };
    std::optional<ValueMatrix> allocatedHistoryValues(const QDateTime& now) const;
    QString textRepresentation() const override;
    QString csvRepresentation() const override;
    // The legend entries of identifiers: custom name and unit, or the identifier and "-" without a gauge.
    QList<HistoryExport::Column> exportColumnsForIdentifiers(const QStringList& identifiers) const;

    // --- Parts of the window, by outlet name -----------------------------------------------------------
    TEVHistoryGraph* graphView() const { return graphView_.data(); }
    GraphLabelView* graphLabelView() const { return graphLabelView_.data(); }
    QScrollArea* graphScrollView() const { return graphScrollView_.data(); }
    QWidget* displayBox() const { return displayBox_.data(); }
    // The extremes panel and its parts: made when the panel first opens or one is asked for.
    QWidget* extremesDrawerPanel() const
    {
        ensureExtremesPanel();
        return extremesDrawerPanel_.data();
    }
    QTableView* extremesTable() const
    {
        ensureExtremesPanel();
        return extremesTable_.data();
    }
    QLabel* extremesIntervalMessage() const
    {
        ensureExtremesPanel();
        return extremesIntervalMessage_.data();
    }
    QLabel* unitField() const { return unitField_.data(); }
    QSlider* timeScaleSlider() const { return timeScaleSlider_.data(); }
    QToolButton* zoomButton() const { return zoomButton_.data(); }
    QAbstractButton* extremesSwitch() const { return extremesSwitch_.data(); }
    QAbstractButton* rulerSwitch() const { return rulerSwitch_.data(); }
    QAbstractButton* labelSwitch() const { return labelSwitch_.data(); }
    QButtonGroup* modeSwitches() const { return modeSwitches_; }

protected:
    ControllerLookups* applicationController() const { return controller_; }
    // While the window goes: nothing more is asked of the controller, nothing follows the window's events.
    void prepareForDestruction();
    HistoryWindowRegistry* registry() const { return registry_; }
    // The extremes panel was closed (by the user or by activateExtremesPanel).
    void extremesPanelWillClose();

private:
    class ExtremesModel;
    class WindowWatcher;
    void placeExtremesPanel();
    void ensureExtremesPanel() const;
    void makeExtremesPanel();
    void restoreExtremesColumns();
    // Each row of the extremes table as high as its name wrapped at the column's width.
    void fitExtremesRows();
    void setFrameAutosaveName(const QString& name);
    void saveFrame() const;
    QDateTime now() const;

    ControllerLookups* controller_ = nullptr;
    HistoryWindowRegistry* registry_ = nullptr;
    std::shared_ptr<HistoryWindowPreferences> preferences_;
    std::shared_ptr<platform::UserDefaults> defaults_;
    bool longTermMode_ = false;
    bool timeZoomedOut_ = false;
    double displayedTimeInterval_ = 1.0;
    qint64 gaugeIndexForColorUpdate_ = -1;
    qint64 extremeSelectedIndex_ = -1;
    // The panel is asked for while the window is closed: it opens with the window.
    bool extremesPanelPending_ = false;
    bool extremesRowsFitting_ = false;
    QPoint initialPosition_;
    QString frameAutosaveName_;
    QString tableAutosaveName_;

    QPointer<QWidget> window_;
    QPointer<QWidget> displayBox_;
    QPointer<QWidget> extremesDrawerPanel_;
    QPointer<QLabel> extremesIntervalMessage_;
    QPointer<QTableView> extremesTable_;
    QPointer<GraphLabelView> graphLabelView_;
    QPointer<QScrollArea> graphScrollView_;
    QPointer<TEVHistoryGraph> graphView_;
    QPointer<QLabel> unitField_;
    QPointer<QSlider> timeScaleSlider_;
    QPointer<QToolButton> zoomButton_;
    QPointer<QAbstractButton> extremesSwitch_;
    QPointer<QAbstractButton> rulerSwitch_;
    QPointer<QAbstractButton> labelSwitch_;
    QButtonGroup* modeSwitches_ = nullptr; // owned by the window
    ExtremesModel* extremesModel_ = nullptr; // owned by the panel
    WindowWatcher* watcher_ = nullptr; // owned by the window
    TEVSimpleColorCell* colorCell_ = nullptr; // owned by the table
};
