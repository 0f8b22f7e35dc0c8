#pragma once
// One entry of an I/O Registry tree: class chain (most derived first), name, optional plane paths, live
// properties, parent and children in the service plane. Owned by its branch of the registry (see
// IORegistry): a shared pointer to an entry keeps its branch and the root alive. Immutable once built; any
// thread may read it.

#include "platform/registry/IORegistryPropertySource.h"

#include <QStringList>

#include <memory>
#include <vector>

namespace platform {

class IORegistry;
class IORegistryBranch;

class IORegistryEntry {
public:
    const QStringList& classChain() const { return classChain_; }
    QString className() const { return classChain_.value(0); }
    // True when the entry is of class `name` or of a subclass of it.
    bool conformsTo(const QString& name) const { return classChain_.contains(name); }
    QString name() const { return name_; }
    // Full paths such as "IODeviceTree:/rom".
    const QStringList& paths() const { return paths_; }

    QVariantMap properties() const;
    QVariant property(const QString& key) const; // invalid when absent
    bool hasProperty(const QString& key) const { return property(key).isValid(); }

    std::shared_ptr<const IORegistryEntry> parent() const;
    // The root's children are the entries below the root in the newest version of its registry.
    std::vector<std::shared_ptr<const IORegistryEntry>> children() const;
    std::shared_ptr<const IORegistryEntry> firstChild() const;

private:
    friend class IORegistry;
    IORegistryEntry() = default;
    std::shared_ptr<const IORegistryEntry> ref() const;

    const IORegistryBranch* branch_ = nullptr;
    QStringList classChain_;
    QString name_;
    QStringList paths_;
    std::shared_ptr<const IORegistryPropertySource> source_;
    const IORegistryEntry* parent_ = nullptr; // null for the root only
    std::vector<const IORegistryEntry*> children_; // in the same branch; unused for the root
};

} // namespace platform
