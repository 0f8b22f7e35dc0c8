#pragma once
// TEVDragTableView: a table that moves or copies the elements of the array behind it by drag and drop,
// between tables of one element class or within one table (reordering). The array belongs to the data
// source, held weakly, which answers it and reloads its model after a drop. Main thread only.
//
// The drag data is a sequential archive of the dragged elements, in the order of the dragged rows, under
// the format "TEVDragTable [<element class>] Object List", so only tables of one element class exchange
// elements. A move within one table removes exactly the dragged rows, by position, so equal elements
// elsewhere in the array stay where they are.

#include <QList>
#include <QPointer>
#include <QString>
#include <QTableView>
#include <QVariantList>

#include <memory>

class QMimeData;
class TEVDragTableView;

class TEVDragTableDataSource {
public:
    virtual ~TEVDragTableDataSource() = default;
    // The array the table shows; null when there is none.
    virtual QVariantList* arrayForDragTable(TEVDragTableView& table) = 0;
    // A drop changed the array: the model reloads, the owner saves or applies it.
    virtual void dragTableDidChangeArray(TEVDragTableView& table) = 0;
};

class TEVDragTableView : public QTableView {
    Q_OBJECT
public:
    enum class DropPosition { On, Above };
    enum DragOperation : int { None = 0, Copy = 1, Move = 16 };

    // What a drop brings: its data and the widget it comes from (null from another program).
    struct DraggingInfo {
        const QMimeData* data = nullptr;
        const QObject* source = nullptr;
    };

    explicit TEVDragTableView(QWidget* parent = nullptr);

    // `className` is "NSString", "NSNumber", "NSData", "NSDate", "NSArray", "NSDictionary" or a class of
    // ClassRegistry that can be decoded and copied; for any other class dragging is switched off and the
    // result is false.
    bool enableDraggingForArrayElementClass(const QString& className, bool sourceOnly, bool allowDuplicates);
    void disableDragging();
    bool isDraggingEnabled() const { return draggingEnabled_; }
    bool isDragSourceOnly() const { return dragSourceOnly_; }
    bool allowsDuplicates() const { return allowDuplicates_; }
    QString arrayElementClass() const { return arrayElementClass_; }
    // Null while dragging is off.
    QString nativeDragPasteboardType() const;

    void setDragDataSource(std::weak_ptr<TEVDragTableDataSource> dataSource) { dataSource_ = std::move(dataSource); }

    // Puts the elements at `rows` (in that order; rows beyond the end and repeated rows skipped) on
    // `pasteboard`. False when dragging is off or there is no pasteboard.
    bool writeRows(const QList<int>& rows, const QVariantList& array, QMimeData* pasteboard);
    DragOperation validateDrop(const DraggingInfo& info, const QVariantList* array, int proposedRow,
                               DropPosition position) const;
    // Carries out a drop at `row`; false (array unchanged) when validateDrop refuses it or the data does
    // not decode to elements of the class.
    bool acceptDrop(const DraggingInfo& info, QVariantList* array, int row, DropPosition position);

signals:
    void arrayChangedByDrop();

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Row and position under a drag at `point` (viewport coordinates).
    std::pair<int, DropPosition> dropTarget(const QPoint& point) const;
    std::optional<QVariantList> draggedElements(const QMimeData* data) const;
    QVariantList* backingArray();
    void reloadData();

    QString arrayElementClass_; // empty while dragging is off
    bool draggingEnabled_ = false;
    bool dragSourceOnly_ = false;
    bool allowDuplicates_ = false;
    std::weak_ptr<TEVDragTableDataSource> dataSource_;
    // The rows of this table's own drag in progress, so a move removes those very positions.
    QPointer<const QMimeData> ownDragData_;
    QList<int> ownDragRows_;
};
