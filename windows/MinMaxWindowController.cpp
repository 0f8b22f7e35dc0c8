#include "windows/MinMaxWindowController.h"

#include "app/model/TEVGauge.h"
#include "framework/TEVTimeUtilities.h"
#include "platform/desktop/widgets/PanelKeys.h"
#include "platform/foundation/Clock.h"
#include "windows/HistoryTimeScale.h"
#include "windows/WindowFrameRecord.h"
#include "windows/WindowPlacement.h"

#include "ui_MinMaxWindow.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QLabel>
#include <QSlider>
#include <QTableView>

#include <cstring>
#include <limits>

namespace {

const QString kNoValue = QStringLiteral("---");

class MinMaxTableModel final : public QAbstractTableModel {
public:
    MinMaxTableModel(const MinMaxWindowController& controller, QObject* parent)
        : QAbstractTableModel(parent)
        , controller_(controller)
    {
    }
    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : int(controller_.numberOfRows());
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 3; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role == Qt::TextAlignmentRole && index.column() > 0)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        if (role != Qt::DisplayRole)
            return {};
        const QString text = controller_.objectValueForTableColumn(columnIdentifier(index.column()), index.row());
        return text.isNull() ? QVariant() : QVariant(text);
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        static const QString titles[] = {QStringLiteral("Sensor"), QStringLiteral("Minimum"), QStringLiteral("Maximum")};
        return section >= 0 && section < 3 ? QVariant(titles[section]) : QVariant();
    }
    void reload()
    {
        beginResetModel();
        endResetModel();
    }

private:
    static QString columnIdentifier(int column)
    {
        switch (column) {
        case 0: return MinMaxWindowController::kSensorColumn;
        case 1: return MinMaxWindowController::kMinColumn;
        case 2: return MinMaxWindowController::kMaxColumn;
        default: return {};
        }
    }
    const MinMaxWindowController& controller_;
};

} // namespace

MinMaxWindowController::MinMaxWindowController()
{
    window_ = new QWidget;
    Ui::MinMaxWindow ui;
    ui.setupUi(window_);
    timeScaleField_ = ui.timeScaleField;
    timeScaleSlider_ = ui.timeScaleSlider;
    valueTable_ = ui.valueTable;
    model_ = new MinMaxTableModel(*this, window_);
    valueTable_->setModel(model_);
    valueTable_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    valueTable_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    valueTable_->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    valueTable_->verticalHeader()->setDefaultSectionSize(valueTable_->fontMetrics().height() + 6);
    // Moving the slider recomputes the rows at once.
    QObject::connect(timeScaleSlider_, &QSlider::valueChanged, window_, [this] { updateWindow(); });
    platform::PanelKeys::installInto(window_);
    WindowFrameRecord::attach(window_, QStringLiteral("ExtremeValues"),
                              WindowPlacement::cascadeTopLeft(WindowPlacement::ExtremeValuesSlot, WindowPlacement::currentScreens()));
}

MinMaxWindowController::~MinMaxWindowController()
{
    delete window_.data();
}

QWidget* MinMaxWindowController::window() const
{
    return window_.data();
}

bool MinMaxWindowController::isWindowVisible() const
{
    return window_ && window_->isVisible();
}

void MinMaxWindowController::showWindow()
{
    if (!window_)
        return;
    window_->show();
    window_->raise();
    window_->activateWindow();
}

double MinMaxWindowController::timeIntervalOfScaleSlider() const
{
    return HistoryTimeScale::timeIntervalForSliderValue(double(timeScaleSlider_->value()) / 1000.0);
}

void MinMaxWindowController::updateWindow()
{
    if (!lookups_)
        return;
    const double span = timeIntervalOfScaleSlider();
    const QDateTime start = platform::currentDate().addMSecs(-qint64(span * 1000));
    timeScaleField_->setText(TEVTimeUtilities::localizedTextRepresentationForTimeInterval(span));
    minCache_.clear();
    maxCache_.clear();
    for (const QString& identifier : lookups_->universalIdentifiersOfConnectedSensors()) {
        const auto gauge = lookups_->gaugeForUniversalSensorIdentifier(identifier);
        const QByteArray data = lookups_->rawHistoryDataBetweenNowAndDate(start, identifier, true);
        // A flag rather than sentinel extremes: a reading beyond any sentinel is still a reading.
        bool seen = false;
        double lowest = std::numeric_limits<double>::infinity();
        double highest = -std::numeric_limits<double>::infinity();
        for (qsizetype offset = 0; gauge && offset + qsizetype(sizeof(qint64)) <= data.size(); offset += sizeof(qint64)) {
            qint64 raw;
            std::memcpy(&raw, data.constData() + offset, sizeof raw);
            if (raw == -1)
                continue;
            const double value = gauge->presentationValueForRawValue(raw);
            if (value == TEVGauge::missingValue)
                continue;
            seen = true;
            lowest = std::min(lowest, value);
            highest = std::max(highest, value);
        }
        if (!gauge) {
            minCache_.append(kNoValue);
            maxCache_.append(kNoValue);
            continue;
        }
        minCache_.append(gauge->localizedPresentationOfPresentationValue(seen ? lowest : TEVGauge::missingValue));
        maxCache_.append(gauge->localizedPresentationOfPresentationValue(seen ? highest : TEVGauge::missingValue));
    }
    static_cast<MinMaxTableModel*>(model_)->reload();
}

QString MinMaxWindowController::objectValueForTableColumn(const QString& column, qsizetype row) const
{
    if (row < 0 || !lookups_)
        return {};
    if (column == kSensorColumn) {
        // The names come from the current list, which may have shrunk since the last update.
        const QStringList& identifiers = lookups_->universalIdentifiersOfConnectedSensors();
        const auto gauge = row < identifiers.size() ? lookups_->gaugeForUniversalSensorIdentifier(identifiers.at(row)) : nullptr;
        return gauge ? gauge->customName() : kNoValue;
    }
    if (column == kMinColumn)
        return row < minCache_.size() ? minCache_.at(row) : kNoValue;
    if (column == kMaxColumn)
        return row < maxCache_.size() ? maxCache_.at(row) : kNoValue;
    return {};
}
