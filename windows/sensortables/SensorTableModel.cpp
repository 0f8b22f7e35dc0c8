#include "windows/sensortables/SensorTableModel.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/TEVGauge.h"
#include "platform/desktop/BundleImage.h"
#include "platform/foundation/Bundle.h"
#include "windows/sensortables/SensorTablesHost.h"
#include "windows/sensortables/SensorTablesText.h"

#include <QHash>
#include <QPainter>
#include <QPixmap>

namespace sensortables {

QString generalIconForSensorQuantityType(qint64 quantityType)
{
    switch (quantityType) {
    case 1: return QStringLiteral("TTemp16");
    case 2:
    case 3:
    case 4:
    case 5: return QStringLiteral("TElec16");
    case 6:
    case 7: return QStringLiteral("TFan16");
    case 8: return QStringLiteral("TLight16");
    case 9: return QStringLiteral("TLoad16");
    case 10: return QStringLiteral("TStorage16");
    case 11: return QStringLiteral("TInfo16");
    case 12: return QStringLiteral("TCounter16");
    case 13: return QStringLiteral("TFreq16");
    default: return QStringLiteral("TUnknown16");
    }
}

QIcon iconNamed(const QString& name)
{
    static QHash<QString, QIcon> cache;
    if (const auto found = cache.constFind(name); found != cache.constEnd())
        return *found;
    QPixmap pixmap = QPixmap::fromImage(platform::bundleImage(platform::Bundle::main().get(), name));
    if (pixmap.isNull()) {
        // A coloured disc with the quantity's initial, so the kinds stay apart without the images.
        static const QHash<QString, std::pair<QColor, QChar>> looks{
            {QStringLiteral("TTemp16"), {QColor(0xd0, 0x3a, 0x2f), QLatin1Char('T')}},
            {QStringLiteral("TElec16"), {QColor(0xe0, 0xa0, 0x10), QLatin1Char('E')}},
            {QStringLiteral("TFan16"), {QColor(0x2f, 0x7f, 0xd0), QLatin1Char('F')}},
            {QStringLiteral("TLight16"), {QColor(0xe8, 0xc8, 0x30), QLatin1Char('L')}},
            {QStringLiteral("TLoad16"), {QColor(0x3a, 0xa0, 0x50), QLatin1Char('%')}},
            {QStringLiteral("TStorage16"), {QColor(0x80, 0x60, 0xb0), QLatin1Char('S')}},
            {QStringLiteral("TInfo16"), {QColor(0x50, 0x80, 0xa0), QLatin1Char('i')}},
            {QStringLiteral("TCounter16"), {QColor(0x70, 0x70, 0x70), QLatin1Char('#')}},
            {QStringLiteral("TFreq16"), {QColor(0x20, 0xa0, 0xa0), QLatin1Char('H')}},
        };
        const auto look = looks.value(name, {QColor(0xa0, 0xa0, 0xa0), QLatin1Char('?')});
        pixmap = QPixmap(16, 16);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(look.first);
        painter.drawEllipse(QRectF(0.5, 0.5, 15, 15));
        QFont font = painter.font();
        font.setPixelSize(11);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRect(0, 0, 16, 16), Qt::AlignCenter, QString(look.second));
    }
    return *cache.insert(name, QIcon(pixmap));
}

} // namespace sensortables

using sensortables::localized;

const QStringList& SensorTableModel::defaultColumns()
{
    static const QStringList columns{kTypeIconColumn, kSensorColumn, kTypeColumn, kComputerColumn};
    return columns;
}

SensorTableModel::SensorTableModel(SensorTablesHost& host, ListProvider list, QStringList columns)
    : host_(host)
    , list_(std::move(list))
    , columns_(std::move(columns))
{
}

std::shared_ptr<TEVGauge> SensorTableModel::gaugeAtRow(int row) const
{
    const QStringList* list = sensorNameList();
    MachinePreferences* preferences = host_.localMachinePreferences();
    if (!list || !preferences || row < 0 || row >= list->size())
        return nullptr;
    return preferences->gaugeDictionary().value(list->at(row));
}

QString SensorTableModel::computerColumnValue(const QString& identifier, const std::shared_ptr<TEVGauge>& gauge) const
{
    if (gauge && gauge->connectedMonitoringClient())
        return gauge->machineName();
    QString serial;
    if (!TEVGauge::getSensorIdentifier(nullptr, &serial, identifier))
        return QString(QLatin1String(""));
    const MonitorPreferences* global = host_.monitorPreferences();
    const auto info = global ? global->infoToConnectMachineWithSerialNumber(serial) : nullptr;
    if (!info)
        return QString(QLatin1String(""));
    if (info->netService())
        return info->netService()->name();
    return info->hostSpecifier().isNull() ? QString(QLatin1String("")) : info->hostSpecifier();
}

QVariant SensorTableModel::objectValueForTableColumn(const QString& column, int row) const
{
    const QStringList* list = sensorNameList();
    if (!list || row < 0 || row >= list->size())
        return {};
    const auto gauge = gaugeAtRow(row);
    if (column == kSensorColumn)
        return gauge ? QVariant(gauge->customName()) : QVariant();
    if (column == kTypeIconColumn)
        return sensortables::generalIconForSensorQuantityType(gauge ? gauge->sensorQuantityType() : 0);
    if (column == kTypeColumn)
        return gauge && gauge->connectedMonitoringClient() ? gauge->localizedQuantityType()
                                                          : localized(QStringLiteral("-Disconnected-"));
    if (column == kComputerColumn)
        return computerColumnValue(list->at(row), gauge);
    return {};
}

void SensorTableModel::reloadData()
{
    beginResetModel();
    endResetModel();
}

int SensorTableModel::rowCount(const QModelIndex& parent) const
{
    const QStringList* list = sensorNameList();
    return parent.isValid() || !list ? 0 : int(list->size());
}

int SensorTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(columns_.size());
}

Qt::ItemFlags SensorTableModel::flags(const QModelIndex& index) const
{
    // The view starts a drag only from rows its model lets go.
    const Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    return index.isValid() ? flags | Qt::ItemIsDragEnabled : flags;
}

QVariant SensorTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= columns_.size())
        return {};
    const QString& column = columns_[index.column()];
    if (column == kTypeIconColumn) {
        if (role != Qt::DecorationRole)
            return {};
        const QVariant name = objectValueForTableColumn(column, index.row());
        return name.isValid() ? QVariant(sensortables::iconNamed(name.toString())) : QVariant();
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    // Narrow tables cut names and may hide the other columns: the name's tooltip tells all three.
    if (role == Qt::ToolTipRole && column == kSensorColumn) {
        const QString name = objectValueForTableColumn(column, index.row()).toString();
        const QString computer = objectValueForTableColumn(kComputerColumn, index.row()).toString();
        const QString type = objectValueForTableColumn(kTypeColumn, index.row()).toString();
        return computer.isEmpty() ? name + QLatin1Char('\n') + type : name + QLatin1Char('\n') + type + QStringLiteral(", ") + computer;
    }
    return objectValueForTableColumn(column, index.row());
}

QVariant SensorTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= columns_.size())
        return {};
    const QString& column = columns_[section];
    return column == kTypeIconColumn ? QString() : localized(column);
}

QVariantList* SensorTableModel::arrayForDragTable(TEVDragTableView&)
{
    const QStringList* list = sensorNameList();
    if (!list)
        return nullptr;
    scratch_.clear();
    scratch_.reserve(list->size());
    for (const QString& identifier : *list)
        scratch_.append(identifier);
    return &scratch_;
}

void SensorTableModel::dragTableDidChangeArray(TEVDragTableView&)
{
    if (QStringList* list = sensorNameList()) {
        list->clear();
        for (const QVariant& identifier : std::as_const(scratch_))
            list->append(identifier.toString());
    }
    reloadData();
    emit listChangedByDrop();
}
