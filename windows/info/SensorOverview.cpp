#include "windows/info/SensorOverview.h"

#include "acquisition/MonitoringClient.h"
#include "app/model/ControllerLookups.h"
#include "app/model/TEVGauge.h"
#include "platform/desktop/BundleImage.h"
#include "platform/desktop/widgets/PanelKeys.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Values.h"
#include "sensors/SensorLimitsManager.h"
#include "sensors/TEVSensorDescription.h"

#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace values = platform::values;
using infowindows::localized;

namespace {

// The details panel goes where its overview goes: closed with it.
class FollowsOwner final : public QObject {
public:
    FollowsOwner(QWidget* owner, QWidget* panel)
        : QObject(owner), panel_(panel)
    {
        owner->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        // A minimised overview hides spontaneously; only a closed or hidden one takes its panel along.
        if (panel_ && (event->type() == QEvent::Close || (event->type() == QEvent::Hide && !event->spontaneous())))
            panel_->hide();
        return false;
    }

private:
    QPointer<QWidget> panel_;
};

} // namespace

const QStringList& SensorOverview::columnIdentifiers()
{
    static const QStringList identifiers = {QStringLiteral("Location"), QStringLiteral("Value"), QStringLiteral("Maximum"),
                                            QStringLiteral("Minimum")};
    return identifiers;
}

SensorOverview::SensorOverview(ClientPtr client, QString defaultTitle)
    : MonitorWindowController(std::move(client), std::move(defaultTitle))
{
    auto window = std::make_unique<QWidget>();
    window->setObjectName(QStringLiteral("SensorOverview"));
    window->resize(520, 420);
    auto* layout = new QVBoxLayout(window.get());
    sensorTable_ = new QTableWidget(window.get());
    sensorTable_->setObjectName(QStringLiteral("sensorTable"));
    sensorTable_->setColumnCount(int(columnIdentifiers().size()));
    sensorTable_->setHorizontalHeaderLabels(
        {localized(QStringLiteral("Location")), localized(QStringLiteral("Value")), localized(QStringLiteral("Maximum")),
         localized(QStringLiteral("Minimum"))});
    sensorTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    sensorTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    sensorTable_->setSelectionMode(QAbstractItemView::SingleSelection);
    sensorTable_->setAlternatingRowColors(true);
    sensorTable_->verticalHeader()->hide();
    // The value columns are fitted when their texts grow, not measured on every tick as ResizeToContents does.
    sensorTable_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    sensorTable_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    layout->addWidget(sensorTable_);
    QObject::connect(sensorTable_, &QTableWidget::cellClicked, window.get(), [this](int row, int) { selectSensor(row); });
    QObject::connect(sensorTable_, &QTableWidget::cellActivated, window.get(), [this](int row, int) { selectSensor(row); });
    setWindow(std::move(window));

    // A window of its own: a tool window of the overview would share the overview's menu keys, and a key both
    // answer (Ctrl+W, Ctrl+Q) would do nothing.
    sensorInfoPanel_ = std::make_unique<QWidget>(nullptr, Qt::Tool);
    sensorInfoPanel_->setObjectName(QStringLiteral("sensorInfoPanel"));
    sensorInfoPanel_->setWindowTitle(localized(QStringLiteral("Sensor Information")));
    auto* panelLayout = new QHBoxLayout(sensorInfoPanel_.get());
    quantityIconView_ = new QLabel(sensorInfoPanel_.get());
    quantityIconView_->setObjectName(QStringLiteral("quantityIconView"));
    quantityIconView_->setFixedSize(48, 48);
    quantityIconView_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    panelLayout->addWidget(quantityIconView_, 0, Qt::AlignTop);
    auto* fields = new QFormLayout;
    static const char* const kTitles[kNumberOfInfoFields] = {"Location:", "Computer:",  "Sensor:", "Sensor Type:", "Quantity:",
                                                             "Precision:", "Accuracy:", "Value:",  "Limits:"};
    for (int i = 0; i < kNumberOfInfoFields; ++i) {
        auto* field = new QLabel(sensorInfoPanel_.get());
        field->setObjectName(QStringLiteral("sensorInfoField%1").arg(i));
        field->setTextInteractionFlags(Qt::TextSelectableByMouse);
        fields->addRow(localized(QLatin1String(kTitles[i])), field);
        sensorInfoFields_.append(field);
    }
    panelLayout->addLayout(fields);
    new FollowsOwner(MonitorWindowController::window(), sensorInfoPanel_.get());
    platform::PanelKeys::installInto(sensorInfoPanel_.get());
}

SensorOverview::~SensorOverview() = default;

QLabel* SensorOverview::sensorInfoField(int row) const
{
    return row >= 0 && row < sensorInfoFields_.size() ? sensorInfoFields_[row] : nullptr;
}

QString SensorOverview::limitsPresentationForEntry(const QVariant& entry, const std::shared_ptr<TEVGauge>& gauge, bool isMinimum)
{
    const auto limits = values::toArray(entry);
    if (!gauge || !limits || limits->isEmpty() || (isMinimum && limits->size() < 2))
        return QStringLiteral("");
    const auto limit = values::toReal(limits->at(isMinimum ? 1 : 0));
    if (!limit)
        return QStringLiteral("");
    double value = *limit;
    if (gauge->sensorQuantityType() == 1) {
        switch (TEVGauge::preferredTemperatureDisplayUnit()) {
        case 1:
        case 4: value = value * 9.0 / 5.0 + 32.0; break;
        case 2: value += 273.15; break;
        default: break;
        }
    }
    return gauge->localizedPresentationOfPresentationValue(value);
}

QString SensorOverview::limitsLine(const QString& minimum, const QString& maximum)
{
    if (!minimum.isEmpty() && !maximum.isEmpty())
        return infowindows::withObjects(QStringLiteral("%@ ..%@"), {minimum, maximum});
    if (!minimum.isEmpty())
        return QLatin1Char('>') + minimum;
    if (!maximum.isEmpty())
        return QLatin1Char('<') + maximum;
    return localized(QStringLiteral("not applicable or unknown"));
}

void SensorOverview::updateContents()
{
    MonitorWindowController::updateContents();
    activeGauges_.clear();
    minimumLimits_.clear();
    maximumLimits_.clear();
    if (applicationController_) {
        activeGauges_ = applicationController_->activeGaugesForConnectedClient(monitorClient());
        const QVariantMap limits = applicationController_->knownMachineLimitsForConnectedClient(monitorClient()).value_or(QVariantMap());
        for (const auto& gauge : std::as_const(activeGauges_)) {
            const auto description = gauge ? gauge->sensorDescription() : nullptr;
            const QVariant entry = limits.value(SensorLimitsManager::unifiedSensorLocationForSensorDescription(description.get()));
            minimumLimits_.append(limitsPresentationForEntry(entry, gauge, true));
            maximumLimits_.append(limitsPresentationForEntry(entry, gauge, false));
        }
    }
    reloadTable();
    if (shownGauge_ && sensorInfoPanel_->isVisible())
        showSensorInfo(shownGauge_);
}

QString SensorOverview::objectValueForTableColumn(const QString& column, qsizetype row) const
{
    if (row < 0 || row >= activeGauges_.size() || !activeGauges_[row])
        return {};
    const auto& gauge = activeGauges_[row];
    switch (columnIdentifiers().indexOf(column)) {
    case 0: return gauge->localizedLocation();
    case 1: return gauge->localizedValue();
    case 2: return maximumLimits_[row];
    case 3: return minimumLimits_[row];
    default: return {};
    }
}

void SensorOverview::reloadTable()
{
    const int selected = sensorTable_->currentRow();
    bool refit = sensorTable_->rowCount() != int(activeGauges_.size());
    sensorTable_->setRowCount(int(activeGauges_.size()));
    // Cells are kept and only a text that changed is set: every new cell would make the table measure its
    // columns again, on every tick.
    for (int row = 0; row < activeGauges_.size(); ++row) {
        for (int column = 0; column < columnIdentifiers().size(); ++column) {
            const QString text = objectValueForTableColumn(columnIdentifiers()[column], row);
            if (column > 0 && text.size() > longestTexts_[column]) {
                longestTexts_[column] = text.size();
                refit = true;
            }
            if (QTableWidgetItem* cell = sensorTable_->item(row, column)) {
                if (cell->text() != text)
                    cell->setText(text);
                continue;
            }
            auto* cell = new QTableWidgetItem(text);
            if (column > 0)
                cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            sensorTable_->setItem(row, column, cell);
        }
    }
    if (refit)
        for (int column = 1; column < columnIdentifiers().size(); ++column)
            sensorTable_->resizeColumnToContents(column);
    if (selected >= 0 && selected < activeGauges_.size())
        sensorTable_->selectRow(selected);
}

void SensorOverview::selectSensor(int row)
{
    if (row < 0 || row >= activeGauges_.size() || !activeGauges_[row])
        return;
    showSensorInfo(activeGauges_[row]);
    if (!sensorInfoPanel_->isVisible()) {
        placeSensorInfoPanel();
        sensorInfoPanel_->show();
        sensorInfoPanel_->raise();
        sensorInfoPanel_->activateWindow();
    }
}

void SensorOverview::showSensorInfo(const std::shared_ptr<TEVGauge>& gauge)
{
    shownGauge_ = gauge;
    // A sensor that left the list keeps the limits it had.
    if (const qsizetype row = activeGauges_.indexOf(gauge); row >= 0)
        shownLimits_ = limitsLine(minimumLimits_[row], maximumLimits_[row]);
    const QString texts[kNumberOfInfoFields] = {
        gauge->localizedLocation(),    gauge->machineName(),        gauge->sensorName(),
        gauge->localizedSensorType(),  gauge->localizedQuantityType(), gauge->localizedPrecision(),
        gauge->localizedAccuracy(),    gauge->localizedValue(),     shownLimits_};
    for (int i = 0; i < kNumberOfInfoFields; ++i)
        if (sensorInfoFields_[i]->text() != texts[i])
            sensorInfoFields_[i]->setText(texts[i]);
    const QString icon = gauge->iconForSensorQuantityType();
    if (quantityIconView_->property("iconName") == QVariant(icon))
        return; // drawn once, not scaled again on every tick
    quantityIconView_->setProperty("iconName", icon);
    const QPixmap image = QPixmap::fromImage(platform::bundleImage(platform::Bundle::main().get(), icon));
    quantityIconView_->setPixmap(image.isNull() ? QPixmap() : image.scaled(quantityIconView_->size(), Qt::KeepAspectRatio,
                                                                             Qt::SmoothTransformation));
}

void SensorOverview::placeSensorInfoPanel()
{
    QWidget* owner = window();
    if (!owner)
        return;
    sensorInfoPanel_->adjustSize();
    const QRect beside = owner->frameGeometry();
    const QScreen* screen = owner->screen();
    const QRect area = screen ? screen->availableGeometry() : QRect();
    constexpr int kGap = 8;
    const QSize size = sensorInfoPanel_->frameGeometry().size();
    // Right of the overview; left of it where the screen ends first; within the screen either way.
    QPoint at(beside.right() + 1 + kGap, beside.top());
    if (!area.isEmpty()) {
        if (at.x() + size.width() > area.right() + 1 && beside.left() - kGap - size.width() >= area.left())
            at.setX(beside.left() - kGap - size.width());
        at.setX(std::clamp(at.x(), area.left(), std::max(area.left(), area.right() + 1 - size.width())));
        at.setY(std::clamp(at.y(), area.top(), std::max(area.top(), area.bottom() + 1 - size.height())));
    }
    sensorInfoPanel_->move(at);
}
