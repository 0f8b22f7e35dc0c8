#include "windows/remote/ComputerListModel.h"

#include "platform/foundation/Bundle.h"

namespace {

QString localized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key) : key;
}

int rowOf(const ComputerListNodeArray& array, const ComputerListPresentationNode* node)
{
    for (qsizetype i = 0; i < array.size(); ++i)
        if (array.at(i).get() == node)
            return int(i);
    return -1;
}

} // namespace

// A list row carries no pointer; a member row carries its list node, whose row the root array gives.
ComputerListModel::ComputerListModel(std::shared_ptr<ComputerListRoot> root, QObject* parent)
    : QAbstractItemModel(parent)
    , root_(root ? std::move(root) : std::make_shared<ComputerListRoot>())
{
}

ComputerListNodePtr ComputerListModel::nodeForIndex(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    const auto* list = static_cast<const ComputerListPresentationNode*>(index.internalPointer());
    if (!list)
        return root_->nodes.value(index.row());
    const int listRow = rowOf(root_->nodes, list);
    if (listRow < 0)
        return nullptr;
    const ComputerListNodeArray* members = root_->nodes.at(listRow)->members();
    return members ? members->value(index.row()) : nullptr;
}

QModelIndex ComputerListModel::indexForNode(const ComputerListNodePtr& node, int column) const
{
    if (!node)
        return {};
    if (!node->isLeaf()) {
        const int row = rowOf(root_->nodes, node.get());
        return row < 0 ? QModelIndex() : createIndex(row, column, nullptr);
    }
    const auto list = node->parentList();
    if (!list || rowOf(root_->nodes, list.get()) < 0)
        return {};
    const int row = rowOf(*list->members(), node.get());
    return row < 0 ? QModelIndex() : createIndex(row, column, list.get());
}

void ComputerListModel::changeRootArray(const std::function<void(ComputerListRoot&)>& change)
{
    beginResetModel();
    change(*root_);
    endResetModel();
}

void ComputerListModel::appendList(const ComputerListNodePtr& list)
{
    if (!list || list->isLeaf())
        return;
    const int row = int(root_->nodes.size());
    beginInsertRows({}, row, row);
    root_->nodes.append(list);
    endInsertRows();
}

void ComputerListModel::removeList(int row)
{
    if (row < 0 || row >= root_->nodes.size())
        return;
    beginRemoveRows({}, row, row);
    root_->nodes.removeAt(row);
    endRemoveRows();
}

void ComputerListModel::appendMember(const ComputerListNodePtr& list, const ComputerListNodePtr& member)
{
    const QModelIndex parent = indexForNode(list);
    if (!parent.isValid() || !member)
        return;
    const int row = int(list->members()->size());
    beginInsertRows(parent, row, row);
    list->members()->append(member);
    endInsertRows();
}

void ComputerListModel::removeMember(const ComputerListNodePtr& list, int row)
{
    const QModelIndex parent = indexForNode(list);
    if (!parent.isValid() || row < 0 || row >= list->members()->size())
        return;
    beginRemoveRows(parent, row, row);
    list->members()->removeAt(row);
    endRemoveRows();
}

QModelIndex ComputerListModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column < 0 || column > PortColumn || row < 0)
        return {};
    if (!parent.isValid())
        return row < root_->nodes.size() ? createIndex(row, column, nullptr) : QModelIndex();
    const auto list = nodeForIndex(parent);
    if (!list || list->isLeaf() || row >= list->members()->size())
        return {};
    return createIndex(row, column, list.get());
}

QModelIndex ComputerListModel::parent(const QModelIndex& index) const
{
    if (!index.isValid() || !index.internalPointer())
        return {};
    const int row = rowOf(root_->nodes, static_cast<const ComputerListPresentationNode*>(index.internalPointer()));
    return row < 0 ? QModelIndex() : createIndex(row, NameColumn, nullptr);
}

int ComputerListModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return int(root_->nodes.size());
    if (parent.column() != NameColumn)
        return 0;
    const auto node = nodeForIndex(parent);
    return node && !node->isLeaf() ? int(node->members()->size()) : 0;
}

bool ComputerListModel::hasChildren(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return !root_->nodes.isEmpty();
    const auto node = parent.column() == NameColumn ? nodeForIndex(parent) : nullptr;
    return node && !node->isLeaf();
}

int ComputerListModel::columnCount(const QModelIndex&) const
{
    return 2;
}

QVariant ComputerListModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    const auto node = nodeForIndex(index);
    if (!node)
        return {};
    return index.column() == NameColumn ? node->presentedName() : node->presentedPortNumber();
}

QVariant ComputerListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    if (section == NameColumn)
        return localized(QStringLiteral("Name"));
    if (section == PortColumn)
        return localized(QStringLiteral("Port"));
    return {};
}

Qt::ItemFlags ComputerListModel::flags(const QModelIndex& index) const
{
    const auto node = nodeForIndex(index);
    if (!node)
        return Qt::NoItemFlags;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.column() == NameColumn || node->canEditPortNumber())
        flags |= Qt::ItemIsEditable;
    if (node->isLeaf())
        flags |= Qt::ItemNeverHasChildren;
    return flags;
}

bool ComputerListModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    const auto node = nodeForIndex(index);
    if (!node || role != Qt::EditRole)
        return false;
    if (index.column() == NameColumn) {
        platform::Error error;
        if (!node->validatePresentedName(value, &error)) {
            if (refused_)
                refused_(error);
            return false;
        }
        node->setPresentedName(value.toString());
    } else {
        if (!node->canEditPortNumber())
            return false;
        QVariant port = value;
        node->validatePresentedPortNumber(&port, nullptr);
        node->setPresentedPortNumber(port.toString());
    }
    Q_EMIT dataChanged(index.siblingAtColumn(NameColumn), index.siblingAtColumn(PortColumn));
    return true;
}
