#pragma once
// The I/O Registry: an immutable tree of entries rooted at "IOService:/", built by a backend (the fixture
// loader or the Linux providers) through a Builder. Shared; any thread may read it. Entry order is the
// tree's pre-order walk, children in the order their backend added them.

#include "platform/registry/IORegistryEntry.h"

#include <QHash>

#include <memory>
#include <vector>

namespace platform {

class IORegistry : public std::enable_shared_from_this<IORegistry> {
public:
    using EntryRef = std::shared_ptr<const IORegistryEntry>;
    static constexpr int RootIndex = 0;

    // Adds entries below a root entry (class "IORegistryEntry", name "Root", path "IOService:/").
    class Builder {
    public:
        Builder();
        // The new entry's index, or -1 when `parent` is no entry, the class chain is empty or a path is
        // already taken.
        int add(int parent, const QStringList& classChain, const QString& name,
                std::shared_ptr<const IORegistryPropertySource> properties, const QStringList& paths = {});
        bool hasPath(const QString& path) const { return registry_->paths_.contains(path); }
        std::shared_ptr<const IORegistry> finish();

    private:
        std::shared_ptr<IORegistry> registry_;
    };

    // A registry holding only its root: what a simulated computer without registry entries has.
    static std::shared_ptr<const IORegistry> empty();

    EntryRef root() const { return entryAt(RootIndex); }
    // Every entry, root first, in walk order.
    std::vector<EntryRef> entries() const;
    // Entries of class `className` or a subclass, in walk order.
    std::vector<EntryRef> matchingClass(const QString& className) const;
    std::vector<EntryRef> entriesWithProperty(const QString& key) const;
    // "IODeviceTree:/rom"; "IOService:/" is the root. Null when no entry has that path.
    EntryRef entryFromPath(const QString& path) const;

    // The registry the backends read: for a selected simulated computer, the Linux providers' entries read
    // under its root followed by its computer.plist entries (only the root when that section fails to load);
    // else the live Linux registry under the current host root. Rebuilt when the selection or root changes.
    static std::shared_ptr<const IORegistry> current();

private:
    friend class IORegistryEntry;
    IORegistry() = default;
    EntryRef entryAt(int index) const;

    std::vector<std::unique_ptr<IORegistryEntry>> entries_;
    QHash<QString, int> paths_;
};

} // namespace platform
