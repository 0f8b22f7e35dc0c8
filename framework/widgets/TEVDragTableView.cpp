#include "framework/widgets/TEVDragTableView.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/SequentialArchiver.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/Values.h"

#include <QDrag>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMimeData>

#include <algorithm>

namespace {

using platform::values::Kind;

// The value classes of the original platform: all of them can be archived and copied.
std::optional<QList<Kind>> foundationKinds(const QString& className)
{
    static const QHash<QString, QList<Kind>> kinds{
        {QStringLiteral("NSString"), {Kind::String}},
        {QStringLiteral("NSNumber"), {Kind::Bool, Kind::Signed, Kind::Unsigned, Kind::Real}},
        {QStringLiteral("NSData"), {Kind::Data}},
        {QStringLiteral("NSDate"), {Kind::Date}},
        {QStringLiteral("NSArray"), {Kind::Array}},
        {QStringLiteral("NSDictionary"), {Kind::Dictionary}},
    };
    const auto found = kinds.constFind(className);
    if (found == kinds.constEnd())
        return std::nullopt;
    return *found;
}

bool isElementOfClass(const QVariant& element, const QString& className)
{
    if (const auto kinds = foundationKinds(className))
        return kinds->contains(platform::values::kindOf(element));
    const platform::ObjectRef object = platform::values::toObject(element);
    return object && platform::ClassRegistry::shared().isKindOf(object->className(), className);
}

// Equal values, or objects that archive alike: a dropped element is a decoded copy, never the same object.
bool sameElement(const QVariant& a, const QVariant& b)
{
    if (platform::values::strictlyEqual(a, b))
        return true;
    const QByteArray archivedA = platform::SequentialArchiver::archivedDataWithRootObject(a);
    return !archivedA.isNull() && archivedA == platform::SequentialArchiver::archivedDataWithRootObject(b);
}

} // namespace

TEVDragTableView::TEVDragTableView(QWidget* parent)
    : QTableView(parent)
{
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setDropIndicatorShown(true);
}

bool TEVDragTableView::enableDraggingForArrayElementClass(const QString& className, bool sourceOnly, bool allowDuplicates)
{
    bool conforms = foundationKinds(className).has_value();
    if (!conforms) {
        const auto entry = platform::ClassRegistry::shared().entry(className);
        conforms = entry && entry->decoder && entry->supportsCopying;
    }
    if (!conforms) {
        disableDragging();
        return false;
    }
    arrayElementClass_ = className;
    dragSourceOnly_ = sourceOnly;
    allowDuplicates_ = allowDuplicates;
    draggingEnabled_ = true;
    setDragEnabled(true);
    setAcceptDrops(true);
    viewport()->setAcceptDrops(true);
    return true;
}

void TEVDragTableView::disableDragging()
{
    draggingEnabled_ = false;
    arrayElementClass_.clear();
    setDragEnabled(false);
    setAcceptDrops(false);
    viewport()->setAcceptDrops(false);
}

QString TEVDragTableView::nativeDragPasteboardType() const
{
    if (!draggingEnabled_)
        return {};
    return QStringLiteral("TEVDragTable [%1] Object List").arg(arrayElementClass_);
}

bool TEVDragTableView::writeRows(const QList<int>& rows, const QVariantList& array, QMimeData* pasteboard)
{
    if (!pasteboard || !draggingEnabled_)
        return false;
    QVariantList elements;
    QList<int> taken;
    for (int row : rows) {
        if (row < 0 || row >= array.size() || taken.contains(row))
            continue;
        taken.append(row);
        elements.append(array[row]);
    }
    const QByteArray data = platform::SequentialArchiver::archivedDataWithRootObject(platform::values::fromArray(elements));
    if (data.isNull())
        return false; // the archiver logged which element it could not write
    pasteboard->setData(nativeDragPasteboardType(), data);
    ownDragData_ = pasteboard;
    ownDragRows_ = taken;
    return true;
}

TEVDragTableView::DragOperation TEVDragTableView::validateDrop(const DraggingInfo& info, const QVariantList* array,
                                                               int proposedRow, DropPosition position) const
{
    if (!info.data || !array || !draggingEnabled_ || position != DropPosition::Above)
        return None;
    if (proposedRow < 0 || proposedRow > array->size())
        return None;
    const bool fromHere = info.source == this;
    if (!fromHere && dragSourceOnly_)
        return None;
    if (!info.data->hasFormat(nativeDragPasteboardType()))
        return None;
    return fromHere ? Move : Copy;
}

std::optional<QVariantList> TEVDragTableView::draggedElements(const QMimeData* data) const
{
    platform::UnarchiveOptions options;
    if (!foundationKinds(arrayElementClass_))
        options.allowedClasses = {arrayElementClass_};
    const auto elements = platform::values::toArray(
        platform::SequentialUnarchiver::unarchiveObjectWithData(data->data(nativeDragPasteboardType()), options));
    if (!elements) {
        platform::log("TEVDragTableView", QStringLiteral("the dragged data is no archived array of %1").arg(arrayElementClass_));
        return std::nullopt;
    }
    for (const QVariant& element : *elements) {
        if (!isElementOfClass(element, arrayElementClass_)) {
            platform::log("TEVDragTableView", QStringLiteral("the dragged data holds a %1 where a %2 belongs")
                                                  .arg(QString::fromLatin1(platform::values::kindName(platform::values::kindOf(element))),
                                                       arrayElementClass_));
            return std::nullopt;
        }
    }
    return elements;
}

bool TEVDragTableView::acceptDrop(const DraggingInfo& info, QVariantList* array, int row, DropPosition position)
{
    const DragOperation operation = validateDrop(info, array, row, position);
    if (operation == None)
        return false;
    const std::optional<QVariantList> elements = draggedElements(info.data);
    if (!elements)
        return false;

    if (operation == Move) {
        // Our own drag: the rows it took must still hold what it carries, else the array changed meanwhile.
        if (info.data != ownDragData_ || ownDragRows_.size() != elements->size())
            return false;
        QVariantList moved;
        for (qsizetype i = 0; i < ownDragRows_.size(); ++i) {
            const int source = ownDragRows_[i];
            if (source >= array->size() || !sameElement(array->at(source), elements->at(i)))
                return false;
            moved.append(array->at(source)); // the very elements move, not copies
        }
        QList<int> descending = ownDragRows_;
        std::sort(descending.begin(), descending.end(), std::greater<>());
        int insertAt = row;
        for (int source : descending) {
            array->removeAt(source);
            if (source < row)
                --insertAt;
        }
        for (qsizetype i = moved.size() - 1; i >= 0; --i)
            array->insert(insertAt, moved[i]);
    } else {
        for (qsizetype i = elements->size() - 1; i >= 0; --i) {
            const QVariant& element = elements->at(i);
            const bool present = std::any_of(array->cbegin(), array->cend(),
                                             [&element](const QVariant& held) { return sameElement(held, element); });
            if (allowDuplicates_ || !present)
                array->insert(row, element);
        }
    }
    reloadData();
    return true;
}

QVariantList* TEVDragTableView::backingArray()
{
    const auto dataSource = dataSource_.lock();
    return dataSource ? dataSource->arrayForDragTable(*this) : nullptr;
}

void TEVDragTableView::reloadData()
{
    clearSelection();
    if (const auto dataSource = dataSource_.lock())
        dataSource->dragTableDidChangeArray(*this);
    emit arrayChangedByDrop();
}

std::pair<int, TEVDragTableView::DropPosition> TEVDragTableView::dropTarget(const QPoint& point) const
{
    // Always between rows: the upper half of a row drops above it, the lower half below it.
    const int row = rowAt(point.y());
    if (row < 0)
        return {model() ? model()->rowCount(rootIndex()) : 0, DropPosition::Above};
    const int middle = rowViewportPosition(row) + rowHeight(row) / 2;
    return {point.y() < middle ? row : row + 1, DropPosition::Above};
}

void TEVDragTableView::startDrag(Qt::DropActions)
{
    const QVariantList* array = backingArray();
    if (!array || !selectionModel())
        return;
    QList<int> rows;
    for (const QModelIndex& index : selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    auto* data = new QMimeData;
    if (!writeRows(rows, *array, data)) {
        delete data;
        return;
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(data);
    drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::MoveAction);
    ownDragRows_.clear();
}

void TEVDragTableView::dragEnterEvent(QDragEnterEvent* event)
{
    dragMoveEvent(event);
}

void TEVDragTableView::dragMoveEvent(QDragMoveEvent* event)
{
    const auto [row, position] = dropTarget(event->position().toPoint());
    const DragOperation operation = validateDrop({event->mimeData(), event->source()}, backingArray(), row, position);
    if (operation == None) {
        event->ignore();
        return;
    }
    // The source never deletes rows itself (startDrag ignores the result), so a move reports as one.
    event->setDropAction(operation == Move ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
}

void TEVDragTableView::dropEvent(QDropEvent* event)
{
    const auto [row, position] = dropTarget(event->position().toPoint());
    if (acceptDrop({event->mimeData(), event->source()}, backingArray(), row, position)) {
        event->setDropAction(event->source() == this ? Qt::MoveAction : Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}
