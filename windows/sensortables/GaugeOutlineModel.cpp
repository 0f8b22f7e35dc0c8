#include "windows/sensortables/GaugeOutlineModel.h"

#include "app/model/TEVGauge.h"
#include "windows/sensortables/SensorTablesHost.h"

#include <QApplication>
#include <QFont>
#include <QFontDatabase>
#include <QPalette>

namespace {
// Root items carry 0 as internal id; a gauge carries its computer's row + 1.
constexpr quintptr kRootItem = 0;
constexpr qreal kOutlineFontSize = 13.0;
} // namespace

GaugeOutlineModel::GaugeOutlineModel(SensorTablesHost& host)
    : host_(host)
{
}

QString GaugeOutlineModel::computerAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.internalId() != kRootItem)
        return {};
    const QStringList& computers = host_.localGaugeComputers();
    return index.row() < computers.size() ? computers[index.row()] : QString();
}

std::shared_ptr<TEVGauge> GaugeOutlineModel::gaugeAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.internalId() == kRootItem)
        return nullptr;
    const QStringList& computers = host_.localGaugeComputers();
    const qsizetype computer = qsizetype(index.internalId() - 1);
    if (computer >= computers.size())
        return nullptr;
    const auto gauges = host_.gaugesByComputer().value(computers[computer]);
    return index.row() < gauges.size() ? gauges[index.row()] : nullptr;
}

QString GaugeOutlineModel::objectValueForItem(const QModelIndex& index) const
{
    if (const auto gauge = gaugeAt(index)) {
        const QString name = gauge->customName();
        return name.isEmpty() ? gauge->localizedLocation() : name;
    }
    return computerAt(index);
}

void GaugeOutlineModel::reloadData()
{
    beginResetModel();
    endResetModel();
}

void GaugeOutlineModel::gaugeDidChange(const std::shared_ptr<TEVGauge>& gauge)
{
    if (!gauge)
        return;
    for (int computer = 0; computer < rowCount(); ++computer) {
        const QModelIndex parent = index(computer, 0);
        for (int row = 0; row < rowCount(parent); ++row)
            if (const QModelIndex item = index(row, 0, parent); gaugeAt(item) == gauge)
                Q_EMIT dataChanged(item, item);
    }
}

QModelIndex GaugeOutlineModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column != 0 || row >= rowCount(parent))
        return {};
    if (!parent.isValid())
        return createIndex(row, column, kRootItem);
    return createIndex(row, column, quintptr(parent.row()) + 1);
}

QModelIndex GaugeOutlineModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == kRootItem)
        return {};
    return createIndex(int(child.internalId() - 1), 0, kRootItem);
}

int GaugeOutlineModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return int(host_.localGaugeComputers().size());
    if (parent.column() != 0)
        return 0;
    const QString computer = computerAt(parent);
    return computer.isNull() ? 0 : int(host_.gaugesByComputer().value(computer).size());
}

int GaugeOutlineModel::columnCount(const QModelIndex&) const
{
    return 1;
}

bool GaugeOutlineModel::hasChildren(const QModelIndex& parent) const
{
    return !parent.isValid() || !computerAt(parent).isNull();
}

QVariant GaugeOutlineModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const auto gauge = gaugeAt(index);
    const bool computer = !gauge && !computerAt(index).isNull();
    if (!gauge && !computer)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return objectValueForItem(index);
    case Qt::ToolTipRole:
        // A renamed sensor still tells where it measures.
        if (gauge && gauge->localizedLocation() != gauge->customName())
            return gauge->localizedLocation();
        return {};
    case Qt::FontRole: {
        QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
        font.setPointSizeF(kOutlineFontSize);
        font.setBold(computer);
        return font;
    }
    case Qt::ForegroundRole: {
        const QPalette palette = QApplication::palette();
        const bool connected = computer || gauge->connectedMonitoringClient();
        return palette.brush(connected ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText);
    }
    default:
        return {};
    }
}
