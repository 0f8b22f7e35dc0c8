#pragma once
// GaugeOutlineModel: the outline of the local preferences' gauges: the computers (sorted as the controller
// sorts them) at the root, each with its gauges. Reads the controller's lists on every call; reloaded when
// they are rebuilt. Owned by the SensorTablesController; main thread only.

#include <QAbstractItemModel>

#include <memory>

class SensorTablesHost;
class TEVGauge;

class GaugeOutlineModel final : public QAbstractItemModel {
    Q_OBJECT
public:
    explicit GaugeOutlineModel(SensorTablesHost& host);

    // The computer string of a root item; null for any other index.
    QString computerAt(const QModelIndex& index) const;
    // The gauge of a child item; null for any other index.
    std::shared_ptr<TEVGauge> gaugeAt(const QModelIndex& index) const;
    // The text of an item: a computer's string, a gauge's name as the user gave it (its location when that
    // is empty), so that a rename shows here as in every window.
    QString objectValueForItem(const QModelIndex& index) const;
    void reloadData();
    // The rows of `gauge` show its names again.
    void gaugeDidChange(const std::shared_ptr<TEVGauge>& gauge);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    SensorTablesHost& host_;
};
