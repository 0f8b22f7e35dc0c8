#pragma once
// One entry of an I/O Registry tree: class chain (most derived first), name, optional plane paths, live
// properties, parent and children in the service plane. Owned by its IORegistry: every shared pointer to an
// entry keeps the whole tree alive. Immutable once the tree is built; any thread may read it.

#include "platform/registry/IORegistryPropertySource.h"

#include <QStringList>

#include <memory>
#include <vector>

namespace platform {

class IORegistry;

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
    std::vector<std::shared_ptr<const IORegistryEntry>> children() const;
    std::shared_ptr<const IORegistryEntry> firstChild() const;

private:
    friend class IORegistry;
    IORegistryEntry() = default;

    const IORegistry* registry_ = nullptr;
    QStringList classChain_;
    QString name_;
    QStringList paths_;
    std::shared_ptr<const IORegistryPropertySource> source_;
    int parent_ = -1;
    std::vector<int> children_;
};

} // namespace platform
