#pragma once
// HistoryWindowListModel: the table of the local preferences' history windows, one row per entry showing
// its name, renamed in place. Owned by the SensorTablesController; main thread only.

#include <QAbstractTableModel>

#include <functional>

class SensorTablesHost;

class HistoryWindowListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit HistoryWindowListModel(SensorTablesHost& host);

    // Called after a row was renamed.
    void setRenameHandler(std::function<void(int row)> handler) { renamed_ = std::move(handler); }
    void reloadData();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    SensorTablesHost& host_;
    std::function<void(int)> renamed_;
};
