#pragma once
// ComputerListModel: the list editor's outline over the panel's root array of computer lists: list rows
// at the top, their members below them; column 0 the presented name, column 1 the presented port. Edits
// run the nodes' validation before their setters; every addition and removal goes through this model, so
// the outline follows at once. Owned by the remote-connect panel; main thread only.

#include "windows/remote/ComputerListPresentationNode.h"

#include <QAbstractItemModel>

#include <functional>

class ComputerListModel final : public QAbstractItemModel {
public:
    enum Column { NameColumn = 0, PortColumn = 1 };

    explicit ComputerListModel(std::shared_ptr<ComputerListRoot> root, QObject* parent = nullptr);

    const std::shared_ptr<ComputerListRoot>& root() const { return root_; }
    // Told of each refused name edit, after the edit was refused.
    void setRefusalHandler(std::function<void(const platform::Error&)> handler) { refused_ = std::move(handler); }

    ComputerListNodePtr nodeForIndex(const QModelIndex& index) const;
    QModelIndex indexForNode(const ComputerListNodePtr& node, int column = NameColumn) const;

    // A change of the whole root array: `change` runs between the two announcements.
    void changeRootArray(const std::function<void(ComputerListRoot&)>& change);
    void appendList(const ComputerListNodePtr& list);
    void removeList(int row);
    void appendMember(const ComputerListNodePtr& list, const ComputerListNodePtr& member);
    void removeMember(const ComputerListNodePtr& list, int row);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& index) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    // Every list, even an empty one, can be expanded.
    bool hasChildren(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

private:
    std::shared_ptr<ComputerListRoot> root_;
    std::function<void(const platform::Error&)> refused_;
};
