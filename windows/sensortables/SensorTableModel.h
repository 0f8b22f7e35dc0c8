#pragma once
// SensorTableModel: one drag-and-drop sensor table over a live list of universal gauge identifiers (an
// output channel's list in the local preferences, a history window's curves, or the connected sensors).
// The list is read afresh on every call and a drop edits it in place; nothing is copied for keeps. Owned by
// the SensorTablesController; main thread only.

#include "framework/widgets/TEVDragTableView.h"

#include <QAbstractTableModel>
#include <QIcon>
#include <QStringList>

#include <functional>

class SensorTablesHost;
class TEVGauge;

class SensorTableModel final : public QAbstractTableModel, public TEVDragTableDataSource {
    Q_OBJECT
public:
    // Null while the table has no list (a history table without a selected window).
    using ListProvider = std::function<QStringList*()>;

    static inline const QString kSensorColumn = QStringLiteral("Sensor");
    static inline const QString kTypeIconColumn = QStringLiteral("TypeIcon");
    static inline const QString kTypeColumn = QStringLiteral("Type");
    static inline const QString kComputerColumn = QStringLiteral("Computer");
    static const QStringList& defaultColumns();

    SensorTableModel(SensorTablesHost& host, ListProvider list, QStringList columns = defaultColumns());

    QStringList* sensorNameList() const { return list_ ? list_() : nullptr; }
    const QStringList& columnIdentifiers() const { return columns_; }
    // The gauge of the local preferences for a row's identifier; null when there is none.
    std::shared_ptr<TEVGauge> gaugeAtRow(int row) const;
    // What a column shows for a row: text for "Sensor", "Type" and "Computer", an image name for
    // "TypeIcon"; invalid for a row outside the list or another column.
    QVariant objectValueForTableColumn(const QString& column, int row) const;
    // After the list changed behind the table's back.
    void reloadData();

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    QVariantList* arrayForDragTable(TEVDragTableView& table) override;
    void dragTableDidChangeArray(TEVDragTableView& table) override;

signals:
    // A drop changed the list.
    void listChangedByDrop();

private:
    QString computerColumnValue(const QString& identifier, const std::shared_ptr<TEVGauge>& gauge) const;

    SensorTablesHost& host_;
    ListProvider list_;
    QStringList columns_;
    // The drag table works on variants: the live list is copied in for one drag step and written back.
    QVariantList scratch_;
};

namespace sensortables {
// Image name of a quantity type's small icon ("TTemp16" … "TUnknown16").
QString generalIconForSensorQuantityType(qint64 quantityType);
// The bundle's image of that name; a drawn stand-in when the bundle has none.
QIcon iconNamed(const QString& name);
} // namespace sensortables
