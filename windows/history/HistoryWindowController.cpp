#include "windows/history/HistoryWindowController.h"

#include "acquisition/TEVCaptureThread.h"
#include "app/model/HistoryValueCollection.h"
#include "app/model/HistoryWindowPreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVStringFormat.h"
#include "framework/TEVTimeUtilities.h"
#include "platform/desktop/widgets/ApplicationMenuBar.h"
#include "platform/desktop/widgets/WindowPosition.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/UserDefaults.h"
#include "windows/HistoryTimeScale.h"
#include "windows/WindowFrameRecord.h"
#include "windows/WindowPlacement.h"
#include "windows/history/GraphLabelView.h"
#include "windows/history/HistoryGraphRules.h"
#include "windows/history/HistoryWindowSupport.h"
#include "windows/history/TEVSimpleColorCell.h"

#include "ui_HistoryExtremesPanel.h"
#include "ui_HistoryWindow.h"

#include <QAbstractTableModel>
#include <QButtonGroup>
#include <QColorDialog>
#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QTableView>
#include <QToolButton>

#include <cmath>
#include <cstring>
#include <utility>

namespace rules = HistoryGraphRules;
using historywindows::localized;

namespace {

const QStringList kExtremesColumns = {HistoryWindowController::kColorColumn, HistoryWindowController::kSensorColumn,
                                      HistoryWindowController::kMinimumColumn, HistoryWindowController::kMaximumColumn,
                                      HistoryWindowController::kCurrentColumn};
constexpr QPoint kInitialPosition{120, 120};
constexpr QPoint kCascadeOffset{22, 22};

// The one colour panel of the process and the window whose gauge it edits.
HistoryWindowController* colorPanelTarget = nullptr;

QColorDialog* sharedColorPanel()
{
    static QPointer<QColorDialog> panel;
    if (!panel) {
        panel = new QColorDialog;
        panel->setOption(QColorDialog::NoButtons);
        panel->setOption(QColorDialog::ShowAlphaChannel, false);
        QObject::connect(panel, &QColorDialog::currentColorChanged, [](const QColor& color) {
            if (colorPanelTarget)
                colorPanelTarget->changeGaugeColor(color);
        });
    }
    return panel;
}

QIcon drawZoomIcon(bool zoomIn)
{
    QImage image(16, 16, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x40, 0x40, 0x40), 1.6));
    painter.drawEllipse(QRectF(1.5, 1.5, 9, 9));
    painter.drawLine(QPointF(9.5, 9.5), QPointF(14.5, 14.5));
    painter.drawLine(QPointF(4, 6), QPointF(8, 6));
    if (zoomIn)
        painter.drawLine(QPointF(6, 4), QPointF(6, 8));
    return QIcon(QPixmap::fromImage(image));
}

// "ZoomIn" or "ZoomOut", drawn once.
const QIcon& zoomIcon(bool zoomIn)
{
    static const QIcon in = drawZoomIcon(true);
    static const QIcon out = drawZoomIcon(false);
    return zoomIn ? in : out;
}

// Presentation values of packed raw ones; NaN where there is none.
std::vector<double> presentationValues(const TEVGauge& gauge, const QByteArray& data)
{
    const qsizetype count = data.size() / qsizetype(sizeof(qint64));
    std::vector<double> values(size_t(count), std::nan(""));
    for (qsizetype i = 0; i < count; ++i) {
        qint64 raw;
        std::memcpy(&raw, data.constData() + i * qsizetype(sizeof raw), sizeof raw);
        if (raw == -1)
            continue;
        const double value = gauge.presentationValueForRawValue(raw);
        if (value != TEVGauge::missingValue)
            values[size_t(i)] = value;
    }
    return values;
}

const MonitorPreferences& monitorPreferencesOf(const ControllerLookups* controller)
{
    static const MonitorPreferences defaults;
    const MonitorPreferences* prefs = controller ? controller->monitorPreferences() : nullptr;
    return prefs ? *prefs : defaults;
}

} // namespace

// --- The extremes table ----------------------------------------------------------------------------------

class HistoryWindowController::ExtremesModel final : public QAbstractTableModel {
public:
    ExtremesModel(HistoryWindowController& controller, QObject* parent)
        : QAbstractTableModel(parent)
        , controller_(controller)
    {
    }
    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : int(controller_.numberOfExtremesRows());
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(kExtremesColumns.size()); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        const QString& column = kExtremesColumns.at(index.column());
        if (column == kColorColumn)
            return role == Qt::DecorationRole ? controller_.extremesValue(column, index.row()) : QVariant();
        if (role == Qt::TextAlignmentRole && index.column() >= 2)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return role == Qt::DisplayRole ? controller_.extremesValue(column, index.row()) : QVariant();
    }
    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (role != Qt::EditRole && role != Qt::DecorationRole)
            return false;
        controller_.setExtremesValue(value, kExtremesColumns.at(index.column()), index.row());
        return true;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kExtremesColumns.size())
            return {};
        return section == 0 ? QString() : localized(kExtremesColumns.at(section));
    }
    void reload()
    {
        beginResetModel();
        endResetModel();
    }

private:
    HistoryWindowController& controller_;
};

// Frame autosave, the panel following its window, the graph following the visible area.
class HistoryWindowController::WindowWatcher final : public QObject {
public:
    WindowWatcher(HistoryWindowController& controller, QObject* parent)
        : QObject(parent)
        , controller_(controller)
    {
    }
    bool eventFilter(QObject* object, QEvent* event) override
    {
        auto& c = controller_;
        if (object == c.window_) {
            switch (event->type()) {
            case QEvent::Move:
            case QEvent::Resize:
                if (platform::changesFrameRecord(event))
                    c.saveFrame();
                if (c.extremesDrawerPanel_ && c.extremesDrawerPanel_->isVisible())
                    c.placeExtremesPanel();
                break;
            case QEvent::Hide:
                // A child panel goes and comes with its window.
                if (c.extremesDrawerPanel_ && c.extremesDrawerPanel_->isVisible()) {
                    c.extremesPanelPending_ = true;
                    c.extremesDrawerPanel_->hide();
                }
                break;
            case QEvent::Show:
                if (c.extremesPanelPending_) {
                    c.extremesPanelPending_ = false;
                    c.activateExtremesPanel(true);
                }
                break;
            default:
                break;
            }
        } else if (object == c.extremesDrawerPanel_ && event->type() == QEvent::Close) {
            c.extremesPanelWillClose();
        } else if (c.extremesTable_ && object == c.extremesTable_->viewport() && event->type() == QEvent::Resize) {
            c.fitExtremesRows();
        } else if (c.graphScrollView_ && object == c.graphScrollView_->viewport() && event->type() == QEvent::Resize) {
            if (c.graphView_)
                c.graphView_->recalculateRulerPoint();
            c.updateGraph();
        }
        return false;
    }

private:
    HistoryWindowController& controller_;
};

// --- Creation --------------------------------------------------------------------------------------------

HistoryWindowController::HistoryWindowController(std::shared_ptr<platform::UserDefaults> defaults)
    : defaults_(std::move(defaults))
{
    if (!defaults_ && platform::Bundle::main())
        defaults_ = platform::UserDefaults::standard();
    window_ = new QWidget;
    Ui::HistoryWindow ui;
    ui.setupUi(window_);
    platform::ApplicationMenuBar::installInto(window_);
    displayBox_ = ui.displayBox;
    graphLabelView_ = ui.graphLabelView;
    graphScrollView_ = ui.graphScrollView;
    graphView_ = ui.graphView;
    unitField_ = ui.unitField;
    timeScaleSlider_ = ui.timeScaleSlider;
    zoomButton_ = ui.zoomButton;
    extremesSwitch_ = ui.extremesSwitch;
    rulerSwitch_ = ui.rulerSwitch;
    labelSwitch_ = ui.labelSwitch;
    modeSwitches_ = ui.modeSwitches;
    modeSwitches_->setId(ui.shortTermSwitch, 0);
    modeSwitches_->setId(ui.longTermSwitch, 1);
    const QList<QAbstractButton*> buttons{ui.shortTermSwitch, ui.longTermSwitch, extremesSwitch_.data(), rulerSwitch_.data(),
                                          labelSwitch_.data()};
    for (QAbstractButton* button : buttons)
        button->setText(localized(button->text()));
    timeScaleSlider_->setToolTip(localized(timeScaleSlider_->toolTip()));
    zoomButton_->setToolTip(localized(zoomButton_->toolTip()));
    ui.shortTermSwitch->setChecked(true);
    timeScaleSlider_->setEnabled(false);
    zoomButton_->setIcon(zoomIcon(false));
    zoomButton_->hide();
    graphLabelView_->attachToScrollView(graphScrollView_);

    QObject::connect(modeSwitches_, &QButtonGroup::idClicked, window_, [this](int id) { changeMode(id); });
    QObject::connect(timeScaleSlider_, &QSlider::valueChanged, window_, [this] { changeTimeScale(); });
    for (QAbstractButton* toggle : {extremesSwitch_.data(), rulerSwitch_.data(), labelSwitch_.data()})
        QObject::connect(toggle, &QAbstractButton::clicked, window_, [this, toggle] { toggleFeature(toggle); });
    QObject::connect(zoomButton_, &QToolButton::clicked, window_, [this] { toggleXZoom(); });

    watcher_ = new WindowWatcher(*this, window_);
    window_->installEventFilter(watcher_);
    graphScrollView_->viewport()->installEventFilter(watcher_);
    window_->move(kInitialPosition);
    initialPosition_ = window_->pos();
}

// The extremes panel is made when it first opens: most history windows never show it.
void HistoryWindowController::ensureExtremesPanel() const
{
    if (!extremesDrawerPanel_ && window_)
        const_cast<HistoryWindowController*>(this)->makeExtremesPanel();
}

void HistoryWindowController::makeExtremesPanel()
{
    extremesDrawerPanel_ = new QWidget(window_, Qt::Tool);
    Ui::HistoryExtremesPanel panelUi;
    panelUi.setupUi(extremesDrawerPanel_);
    extremesDrawerPanel_->setWindowTitle(localized(extremesDrawerPanel_->windowTitle()));
    extremesTable_ = panelUi.extremesTable;
    extremesIntervalMessage_ = panelUi.extremesIntervalMessage;
    extremesModel_ = new ExtremesModel(*this, extremesDrawerPanel_);
    extremesTable_->setModel(extremesModel_);
    colorCell_ = new TEVSimpleColorCell(extremesTable_);
    colorCell_->setAction([this](int row) { openColorPanel(row); });
    extremesTable_->setItemDelegateForColumn(0, colorCell_);
    QHeaderView* header = extremesTable_->horizontalHeader();
    header->resizeSection(0, 40);
    header->setSectionResizeMode(1, QHeaderView::Stretch);
    for (int column = 2; column < kExtremesColumns.size(); ++column)
        header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    extremesTable_->verticalHeader()->setDefaultSectionSize(extremesTable_->fontMetrics().height() + 6);
    // A long name takes the lines it needs: the panel has room below its few rows, and a name cut to
    // "SMC BATTERY ..." on several rows tells none of them apart.
    extremesTable_->verticalHeader()->setMinimumSectionSize(extremesTable_->fontMetrics().height() + 6);
    extremesTable_->setWordWrap(true);
    extremesTable_->setTextElideMode(Qt::ElideNone);

    QObject::connect(extremesTable_->selectionModel(), &QItemSelectionModel::selectionChanged, window_, [this] {
        const QModelIndexList rows = extremesTable_->selectionModel()->selectedRows();
        selectExtremesRow(rows.isEmpty() ? -1 : rows.first().row());
    });
    const auto saveColumns = [this] {
        if (defaults_ && !tableAutosaveName_.isEmpty())
            defaults_->setObject(extremesTable_->horizontalHeader()->saveState(), kColumnsRecordPrefix + tableAutosaveName_);
    };
    QObject::connect(header, &QHeaderView::sectionResized, window_, saveColumns);
    QObject::connect(header, &QHeaderView::sectionMoved, window_, saveColumns);

    extremesDrawerPanel_->installEventFilter(watcher_);
    extremesTable_->viewport()->installEventFilter(watcher_);
    restoreExtremesColumns();
}

void HistoryWindowController::restoreExtremesColumns()
{
    if (!extremesTable_ || !defaults_ || tableAutosaveName_.isEmpty())
        return;
    if (const auto state = defaults_->dataForKey(kColumnsRecordPrefix + tableAutosaveName_))
        extremesTable_->horizontalHeader()->restoreState(*state);
}

HistoryWindowController::~HistoryWindowController()
{
    prepareForDestruction();
    if (colorPanelTarget == this)
        colorPanelTarget = nullptr;
    delete window_.data();
}

void HistoryWindowController::prepareForDestruction()
{
    controller_ = nullptr;
    registry_ = nullptr;
    delete std::exchange(watcher_, nullptr);
}

void HistoryWindowController::bindToApplicationController(ControllerLookups* controller, HistoryWindowRegistry* registry,
                                                          std::shared_ptr<HistoryWindowPreferences> preferences)
{
    controller_ = controller;
    registry_ = registry;
    preferences_ = std::move(preferences);
    if (!controller_ || !preferences_)
        return;
    longTermMode_ = preferences_->prefersLongTermMode();
    timeScaleSlider_->setEnabled(longTermMode_);
    timeZoomedOut_ = preferences_->prefersZoomedOutTimeAxis();
    {
        const QSignalBlocker blocker(timeScaleSlider_);
        timeScaleSlider_->setValue(int(std::lround(preferences_->preferredSliderPosition() * 1000)));
    }
    activateExtremesPanel(preferences_->opensDrawerAtLaunchTime());
    activateRulerMode(preferences_->showsRulersAtLaunchTime());
    activateLabelMode(preferences_->showsCurveLabelsAtLaunchTime());
    updateForNewTimeScale();
    updateWindow();
}

void HistoryWindowController::syncWindowStateToPreferences()
{
    if (!preferences_)
        return;
    preferences_->setPrefersLongTermMode(longTermMode_);
    preferences_->setPrefersZoomedOutTimeAxis(timeZoomedOut_);
    preferences_->setOpensAtLaunchTime(isWindowVisible());
    preferences_->setPreferredSliderPosition(scaleSliderPosition());
    preferences_->setOpensDrawerAtLaunchTime(isExtremesPanelOpen());
    preferences_->setShowsRulersAtLaunchTime(isInRulerMode());
    preferences_->setShowsCurveLabelsAtLaunchTime(isLabelModeActive());
}

// --- Queries ---------------------------------------------------------------------------------------------

QWidget* HistoryWindowController::window() const
{
    return window_.data();
}

bool HistoryWindowController::isWindowVisible() const
{
    return window_ && window_->isVisible();
}

double HistoryWindowController::scaleSliderPosition() const
{
    return double(timeScaleSlider_->value()) / 1000.0;
}

bool HistoryWindowController::isExtremesPanelOpen() const
{
    return extremesPanelPending_ || (extremesDrawerPanel_ && extremesDrawerPanel_->isVisible());
}

bool HistoryWindowController::isInRulerMode() const
{
    return graphView_ && graphView_->areRulersEnabled();
}

bool HistoryWindowController::isLabelModeActive() const
{
    return graphView_ && graphView_->areCurveLabelsEnabled();
}

bool HistoryWindowController::prefersToBeOpenAtLaunchTime() const
{
    return preferences_ && preferences_->opensAtLaunchTime();
}

QPoint HistoryWindowController::topLeftWindowPosition() const
{
    return window_ ? window_->pos() : QPoint();
}

QPoint HistoryWindowController::cascadeTopLeftFromPoint(const QPoint& topLeft)
{
    if (!window_)
        return topLeft;
    window_->move(topLeft + kCascadeOffset);
    return window_->pos();
}

QRect HistoryWindowController::screenRectOfDisplayArea() const
{
    if (!displayBox_)
        return {};
    return QRect(displayBox_->mapToGlobal(QPoint(0, 0)), displayBox_->size());
}

bool HistoryWindowController::hasAutosavedPosition() const
{
    // Where the window was made unless a saved frame (or the user) moved it.
    if (!controller_ || !window_)
        return false;
    return window_->pos() != initialPosition_;
}

const std::vector<HistoryCurve>& HistoryWindowController::graphSpecifiers() const
{
    return graphView_->graphSpecifiers();
}

QDateTime HistoryWindowController::now() const
{
    return platform::currentDate();
}

// --- Commands --------------------------------------------------------------------------------------------

void HistoryWindowController::openWindow()
{
    if (!window_)
        return;
    window_->show();
    window_->raise();
    window_->activateWindow();
}

void HistoryWindowController::closeWindow()
{
    if (window_)
        window_->hide();
}

void HistoryWindowController::updateWindow()
{
    if (!controller_ || !preferences_)
        return;
    const QString name = preferences_->windowName();
    if (window_->windowTitle() != name)
        window_->setWindowTitle(name);
    setFrameAutosaveName(TEVStringFormat::withObjects(QStringLiteral("%@-%@"), {QStringLiteral("HistoryWindow"), name}));
    const QString tableName = TEVStringFormat::withObjects(QStringLiteral("%@-%@"), {QStringLiteral("HistoryExtremes"), name});
    if (tableName != tableAutosaveName_) {
        tableAutosaveName_ = tableName;
        restoreExtremesColumns();
    }
    if (QAbstractButton* button = modeSwitches_->button(longTermMode_ ? 1 : 0))
        button->setChecked(true);
    timeScaleSlider_->setEnabled(longTermMode_);
    updateGraph();
}

void HistoryWindowController::setFrameAutosaveName(const QString& name)
{
    if (name == frameAutosaveName_)
        return;
    frameAutosaveName_ = name;
    if (!defaults_)
        return;
    const auto frame = WindowFrameRecord::parse(defaults_->stringForKey(kFrameRecordPrefix + name));
    if (!frame) {
        // A new name keeps the frame: it is saved under that name from now on.
        saveFrame();
        return;
    }
    // Saved on a screen that is gone or larger: it comes back whole within this one.
    const auto screens = WindowPlacement::currentScreens();
    const QRect shown = screens.geometries.isEmpty() ? *frame : WindowPlacement::bringOntoScreen(*frame, screens);
    window_->move(shown.topLeft());
    window_->resize(shown.size());
}

void HistoryWindowController::saveFrame() const
{
    if (!defaults_ || !window_ || frameAutosaveName_.isEmpty())
        return;
    const QString record = platform::windowFrameRecord(window_, defaults_->stringForKey(kFrameRecordPrefix + frameAutosaveName_));
    if (!record.isNull())
        defaults_->setObject(record, kFrameRecordPrefix + frameAutosaveName_);
}

void HistoryWindowController::updateGraph()
{
    updateGraphInScrollView(graphScrollView_);
}

void HistoryWindowController::updateGraphInScrollView(QScrollArea* scrollView)
{
    // Without data to ask for the graph keeps what it showed.
    if (!scrollView || !controller_ || !preferences_ || preferences_->sensorIdentifierList().isEmpty())
        return;
    const QDateTime start = now().addMSecs(-qint64(std::llround(displayedTimeInterval_ * 1000.0)));
    std::vector<HistoryCurve> curves;
    std::optional<std::pair<double, double>> extremes;
    QString unit;
    quint64 samples = 0;
    for (const QString& identifier : preferences_->sensorIdentifierList()) {
        const auto gauge = controller_->gaugeForUniversalSensorIdentifier(identifier);
        if (!gauge)
            continue;
        HistoryCurve curve;
        const QByteArray data = controller_->rawHistoryDataBetweenNowAndDate(start, identifier, longTermMode_);
        curve.specifier.setGauge(gauge, data);
        curve.values = presentationValues(*gauge, data);
        unit = gauge->localizedUnit();
        // The longest history sets the graph's length: a gauge without data blanks nothing.
        samples = std::max<quint64>(samples, curve.values.size());
        if (const auto found = rules::curveExtremes(curve.values)) {
            curve.specifier.setMinimum(found->minimum, found->minimumIndex, found->maximum, found->maximumIndex);
            extremes = extremes ? std::pair(std::min(extremes->first, found->minimum), std::max(extremes->second, found->maximum))
                                : std::pair(found->minimum, found->maximum);
        } else {
            // No extremes to show or mark.
            curve.specifier.setMinimum(0, -1, 0, -1);
        }
        curves.push_back(std::move(curve));
    }
    const MonitorPreferences& monitor = monitorPreferencesOf(controller_);
    const rules::ValueRange range = rules::valueRangeForExtremes(extremes, monitor.graphsZoomValueRange());
    if (unit.isNull())
        unit = QString(QLatin1String(""));
    updateUnitFieldWithString(unit);
    graphView_->setUnit(unit);
    graphView_->prepareDrawingInScrollView(scrollView, displayedTimeInterval_, samples, range.range(), range.low,
                                           timeZoomedOut_);
    const auto zoom = rules::zoomButton(longTermMode_, timeZoomedOut_, graphView_->width(),
                                        graphScrollView_->viewport()->width());
    zoomButton_->setVisible(zoom.visible);
    if (zoomButton_->icon().cacheKey() != zoomIcon(zoom.showsZoomIn).cacheKey())
        zoomButton_->setIcon(zoomIcon(zoom.showsZoomIn));
    if (extremeSelectedIndex_ >= qint64(curves.size()))
        extremeSelectedIndex_ = -1;
    graphView_->setGraphSpecifiers(std::move(curves));
    graphView_->setBackgroundColor(historywindows::toQColor(preferences_->graphBackgroundColor(),
                                                            window_->palette().color(QPalette::Window)));
    graphView_->setSpecifierIndexForExtremeVisualization(extremeSelectedIndex_);
    graphView_->setDisplaysAbsoluteTime(monitor.displaysAbsoluteHistoryTimes());
    graphView_->update();
    graphLabelView_->update();
    if (isExtremesPanelOpen())
        updateExtremesDrawerForTimeInterval(displayedTimeInterval_);
}

void HistoryWindowController::updateUnitFieldWithString(const QString& unit)
{
    if (unitField_->text() != unit)
        unitField_->setText(unit);
}

void HistoryWindowController::updateForNewTimeScale()
{
    if (longTermMode_)
        displayedTimeInterval_ = timeIntervalOfScaleSlider();
    else
        displayedTimeInterval_ = double(monitorPreferencesOf(controller_).sensorUpdateInterval())
                                 * double(TEVCaptureThread::numberOfCapturedValuesForShortTermHistory);
    activateZoomedOutTimeAxis(rules::keepsZoomedOut(timeZoomedOut_, displayedTimeInterval_, graphView_->width()));
}

void HistoryWindowController::activateZoomedOutTimeAxis(bool on)
{
    timeZoomedOut_ = on;
    updateGraph();
    graphView_->recalculateRulerPoint();
}

void HistoryWindowController::updateExtremesDrawerForTimeInterval(double seconds)
{
    ensureExtremesPanel();
    extremesModel_->reload();
    fitExtremesRows();
    if (extremeSelectedIndex_ >= 0 && extremeSelectedIndex_ < numberOfExtremesRows()) {
        const QSignalBlocker blocker(extremesTable_->selectionModel());
        extremesTable_->selectRow(int(extremeSelectedIndex_));
    }
    extremesIntervalMessage_->setText(
        seconds == 0 ? QString()
                     : TEVStringFormat::withObjects(localized(QStringLiteral("Time Interval: %@")),
                                                    {TEVTimeUtilities::localizedTextRepresentationForTimeInterval(seconds)}));
}

void HistoryWindowController::fitExtremesRows()
{
    // Once the columns have their new widths, which the header works out after this event.
    if (std::exchange(extremesRowsFitting_, true))
        return;
    QMetaObject::invokeMethod(extremesTable_, [this] {
        extremesRowsFitting_ = false;
        extremesTable_->resizeRowsToContents();
    }, Qt::QueuedConnection);
}

void HistoryWindowController::placeExtremesPanel()
{
    const double stored = preferences_ ? preferences_->drawerWidth() : 0;
    const int width = int(stored == 0 ? kDefaultDrawerWidth : stored);
    const QRect frame = window_->frameGeometry();
    const QScreen* screen = window_->screen();
    const QRect visible = screen ? screen->availableGeometry() : frame;
    const QRect panel = rules::extremesPanelFrame(frame, width, visible);
    extremesDrawerPanel_->resize(width, window_->height());
    extremesDrawerPanel_->move(panel.x(), frame.y());
}

void HistoryWindowController::activateExtremesPanel(bool open)
{
    if (open == isExtremesPanelOpen())
        return;
    if (open) {
        if (!window_->isVisible()) {
            // It opens with its window.
            extremesPanelPending_ = true;
        } else {
            ensureExtremesPanel();
            placeExtremesPanel();
            extremesDrawerPanel_->show();
            extremesDrawerPanel_->raise();
            updateExtremesDrawerForTimeInterval(0);
        }
    } else {
        extremesPanelPending_ = false;
        if (extremesDrawerPanel_ && extremesDrawerPanel_->isVisible())
            extremesDrawerPanel_->close();
        extremeSelectedIndex_ = -1;
    }
    extremesSwitch_->setChecked(open);
}

void HistoryWindowController::extremesPanelWillClose()
{
    if (preferences_)
        preferences_->setDrawerWidth(extremesDrawerPanel_->width());
    extremesSwitch_->setChecked(false);
    if (extremeSelectedIndex_ != -1) {
        extremeSelectedIndex_ = -1;
        updateGraph();
    }
}

void HistoryWindowController::activateLabelMode(bool on)
{
    if (on == graphView_->areCurveLabelsEnabled())
        return;
    graphView_->enableCurveLabels(on);
    graphView_->update();
    labelSwitch_->setChecked(on);
}

void HistoryWindowController::activateRulerMode(bool on)
{
    if (on == graphView_->areRulersEnabled())
        return;
    graphView_->enableRulers(on);
    graphView_->update();
    rulerSwitch_->setChecked(on);
}

void HistoryWindowController::activateLongTermMode(bool on)
{
    longTermMode_ = on;
    timeScaleSlider_->setEnabled(on);
    if (QAbstractButton* button = modeSwitches_->button(on ? 1 : 0))
        button->setChecked(true);
    updateForNewTimeScale();
}

void HistoryWindowController::setScaleSliderPosition(std::optional<double> position)
{
    if (!position)
        return;
    {
        const QSignalBlocker blocker(timeScaleSlider_);
        timeScaleSlider_->setValue(int(std::lround(*position * 1000)));
    }
    updateForNewTimeScale();
}

double HistoryWindowController::timeIntervalOfScaleSlider() const
{
    return HistoryTimeScale::timeIntervalForSliderValue(scaleSliderPosition());
}

// --- Actions ---------------------------------------------------------------------------------------------

void HistoryWindowController::changeMode(qint64 tag)
{
    activateLongTermMode(tag == 1);
}

void HistoryWindowController::changeTimeScale()
{
    updateForNewTimeScale();
}

void HistoryWindowController::toggleFeature(QObject* sender)
{
    if (!sender)
        return;
    if (sender == extremesSwitch_)
        activateExtremesPanel(!isExtremesPanelOpen());
    else if (sender == rulerSwitch_)
        activateRulerMode(!isInRulerMode());
    else if (sender == labelSwitch_)
        activateLabelMode(!isLabelModeActive());
}

void HistoryWindowController::toggleXZoom()
{
    activateZoomedOutTimeAxis(!timeZoomedOut_);
}

void HistoryWindowController::openColorPanel(qint64 row)
{
    if (row < 0 || row >= numberOfExtremesRows())
        return;
    gaugeIndexForColorUpdate_ = row;
    const auto gauge = graphSpecifiers()[size_t(row)].specifier.associatedGauge();
    QColorDialog* panel = sharedColorPanel();
    colorPanelTarget = nullptr; // setting the panel's colour is no edit
    panel->setCurrentColor(historywindows::toQColor(gauge ? gauge->presentationColor() : nullptr, Qt::black));
    colorPanelTarget = this;
    panel->show();
    panel->raise();
}

void HistoryWindowController::changeGaugeColor(const QColor& color)
{
    if (gaugeIndexForColorUpdate_ < 0 || gaugeIndexForColorUpdate_ >= numberOfExtremesRows())
        return;
    if (const auto gauge = graphSpecifiers()[size_t(gaugeIndexForColorUpdate_)].specifier.associatedGauge())
        gauge->setPresentationColor(historywindows::fromQColor(color));
    updateGraph();
}

void HistoryWindowController::selectExtremesRow(qint64 row)
{
    extremeSelectedIndex_ = row >= 0 && row < numberOfExtremesRows() ? row : -1;
    updateGraph();
}

// --- Extremes table --------------------------------------------------------------------------------------

qsizetype HistoryWindowController::numberOfExtremesRows() const
{
    return qsizetype(graphSpecifiers().size());
}

QVariant HistoryWindowController::extremesValue(const QString& column, qsizetype row) const
{
    if (row < 0 || row >= numberOfExtremesRows())
        return {};
    const TEVGraphSpecifier& specifier = graphSpecifiers()[size_t(row)].specifier;
    const auto gauge = specifier.associatedGauge();
    if (!gauge)
        return {};
    const bool hasExtremes = specifier.minimumSampleIndex() >= 0;
    if (column == kColorColumn)
        return historywindows::toQColor(gauge->presentationColor(), Qt::black);
    if (column == kSensorColumn)
        return gauge->customName();
    if (column == kMinimumColumn)
        return gauge->localizedPresentationOfPresentationValue(hasExtremes ? specifier.minimumValue() : TEVGauge::missingValue);
    if (column == kMaximumColumn)
        return gauge->localizedPresentationOfPresentationValue(hasExtremes ? specifier.maximumValue() : TEVGauge::missingValue);
    if (column == kCurrentColumn)
        return gauge->localizedValue();
    return {};
}

void HistoryWindowController::setExtremesValue(const QVariant& value, const QString& column, qsizetype row)
{
    if (column != kColorColumn || row < 0 || row >= numberOfExtremesRows() || value.metaType().id() != QMetaType::QColor)
        return;
    if (const auto gauge = graphSpecifiers()[size_t(row)].specifier.associatedGauge())
        gauge->setPresentationColor(historywindows::fromQColor(value.value<QColor>()));
    updateGraph();
}

// --- Exports ---------------------------------------------------------------------------------------------

std::optional<HistoryWindowController::ValueMatrix> HistoryWindowController::allocatedHistoryValues(const QDateTime& now) const
{
    if (!controller_ || !preferences_ || preferences_->sensorIdentifierList().isEmpty())
        return std::nullopt;
    const QStringList& identifiers = preferences_->sensorIdentifierList();
    const QDateTime start = now.addMSecs(-qint64(std::llround(displayedTimeInterval_ * 1000.0)));
    std::vector<std::vector<double>> rows;
    ValueMatrix matrix;
    qsizetype longest = -1;
    for (qsizetype i = 0; i < identifiers.size(); ++i) {
        const auto gauge = controller_->gaugeForUniversalSensorIdentifier(identifiers.at(i));
        const QByteArray data =
            gauge ? controller_->rawHistoryDataBetweenNowAndDate(start, identifiers.at(i), longTermMode_) : QByteArray();
        rows.push_back(gauge ? presentationValues(*gauge, data) : std::vector<double>());
        // The longest history sets the length, so that no identifier's data is cut or lost.
        if (rows.back().size() > matrix.sampleCount) {
            matrix.sampleCount = rows.back().size();
            longest = i;
        }
    }
    matrix.gaugeCount = quint64(identifiers.size());
    matrix.deltaTime = controller_->historyTimeDeltaForUniversalGaugeIdentifier(identifiers.at(std::max<qsizetype>(0, longest)),
                                                                               longTermMode_);
    const quint64 samples = matrix.sampleCount;
    matrix.values.assign(size_t(matrix.gaugeCount * samples), HistoryValueCollection::kNoValue);
    for (size_t g = 0; g < rows.size(); ++g) {
        // Shorter histories end at now like the longest.
        const size_t offset = samples - rows[g].size();
        for (size_t s = 0; s < rows[g].size(); ++s)
            if (!std::isnan(rows[g][s]))
                matrix.values[g * samples + offset + s] = rows[g][s];
    }
    return matrix;
}

QList<HistoryExport::Column> HistoryWindowController::exportColumnsForIdentifiers(const QStringList& identifiers) const
{
    QList<HistoryExport::Column> columns;
    for (const QString& identifier : identifiers) {
        const auto gauge = controller_ ? controller_->gaugeForUniversalSensorIdentifier(identifier) : nullptr;
        if (gauge) {
            const QString computer = gauge->machineName();
            columns.append({gauge->customName(), gauge->localizedUnit(), computer.isEmpty() ? gauge->serialNumberOfMachine() : computer});
        }
        else
            columns.append({identifier, QStringLiteral("-")});
    }
    return columns;
}

QString HistoryWindowController::textRepresentation() const
{
    const QDateTime when = now();
    const auto matrix = allocatedHistoryValues(when);
    if (!matrix)
        return QString(QLatin1String(""));
    HistoryExport::Table table{exportColumnsForIdentifiers(preferences_->sensorIdentifierList()), matrix->values,
                               matrix->sampleCount,
                               when.addMSecs(-qint64(std::llround(displayedTimeInterval_ * 1000.0))), matrix->deltaTime};
    return HistoryExport::text(preferences_->windowName(), table);
}

QString HistoryWindowController::csvRepresentation() const
{
    const QDateTime when = now();
    const auto matrix = allocatedHistoryValues(when);
    if (!matrix)
        return QString(QLatin1String(""));
    HistoryExport::Table table{exportColumnsForIdentifiers(preferences_->sensorIdentifierList()), matrix->values,
                               matrix->sampleCount,
                               when.addMSecs(-qint64(std::llround(displayedTimeInterval_ * 1000.0))), matrix->deltaTime};
    return HistoryExport::csv(localized(QStringLiteral("Time,")), table);
}
