#include "windows/sensortables/HistoryWindowListModel.h"

#include "app/model/HistoryWindowPreferences.h"
#include "app/model/MachinePreferences.h"
#include "windows/sensortables/SensorTablesHost.h"
#include "windows/sensortables/SensorTablesText.h"

HistoryWindowListModel::HistoryWindowListModel(SensorTablesHost& host)
    : host_(host)
{
}

void HistoryWindowListModel::reloadData()
{
    beginResetModel();
    endResetModel();
}

int HistoryWindowListModel::rowCount(const QModelIndex& parent) const
{
    MachinePreferences* preferences = host_.localMachinePreferences();
    return parent.isValid() || !preferences ? 0 : int(preferences->historyWindowPreferences().size());
}

int HistoryWindowListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 1;
}

QVariant HistoryWindowListModel::data(const QModelIndex& index, int role) const
{
    MachinePreferences* preferences = host_.localMachinePreferences();
    if (!preferences || !index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    const auto& windows = preferences->historyWindowPreferences();
    if (index.row() >= windows.size() || !windows[index.row()])
        return {};
    return windows[index.row()]->windowName();
}

bool HistoryWindowListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    MachinePreferences* preferences = host_.localMachinePreferences();
    if (!preferences || !index.isValid() || role != Qt::EditRole)
        return false;
    const auto& windows = preferences->historyWindowPreferences();
    if (index.row() >= windows.size() || !windows[index.row()])
        return false;
    windows[index.row()]->setWindowName(value.toString());
    emit dataChanged(index, index);
    if (renamed_)
        renamed_(index.row());
    return true;
}

Qt::ItemFlags HistoryWindowListModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable : Qt::NoItemFlags;
}

QVariant HistoryWindowListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section != 0)
        return {};
    return sensortables::localized(QStringLiteral("History Windows"));
}
