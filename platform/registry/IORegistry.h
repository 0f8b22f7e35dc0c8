#pragma once
// The I/O Registry: an immutable tree of entries rooted at "IOService:/", built by a backend (the fixture
// loader or the Linux providers) through a Builder. Shared; any thread may read it. Entry order is the
// tree's pre-order walk, children in the order their backend added them.
//
// Each entry directly below the root heads a branch that lives as one block. Successive versions of the
// live registry share the root and every branch whose hardware did not change, so an entry keeps its
// identity for as long as its hardware stays; holders of an entry of an older version keep working.

#include "platform/registry/IORegistryEntry.h"

#include <QHash>

#include <memory>
#include <mutex>
#include <vector>

namespace platform {

// One block of entries that live and die together: the root of a registry, or one entry below the root
// with everything below it. Internal to the registry; an entry's shared pointers keep its branch alive,
// and a branch keeps the root alive.
class IORegistryBranch : public std::enable_shared_from_this<IORegistryBranch> {
public:
    std::vector<std::unique_ptr<IORegistryEntry>> entries; // [0] heads the branch
    std::shared_ptr<const IORegistryBranch> rootBranch;    // null for the root's own branch

    // The root's branch only: the newest version of the registry, whose branches the root lists.
    std::shared_ptr<const class IORegistry> latest() const;
    void setLatest(const std::shared_ptr<const IORegistry>& registry);

private:
    mutable std::mutex mutex_;
    std::weak_ptr<const IORegistry> latest_;
};

class IORegistry {
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
        bool hasPath(const QString& path) const { return paths_.contains(path); }
        std::shared_ptr<const IORegistry> finish();

    private:
        friend class IORegistry;
        // Adds below the root of an existing registry.
        explicit Builder(std::shared_ptr<IORegistryBranch> root);

        std::shared_ptr<IORegistryBranch> root_;
        std::vector<std::shared_ptr<IORegistryBranch>> branches_;
        std::vector<IORegistryEntry*> entries_; // by index; [RootIndex] is the root
        std::vector<IORegistryBranch*> branchOf_; // the branch of each entry, by index
        QHash<QString, int> paths_;
    };

    // A registry holding only its root: what a simulated computer without registry entries has.
    static std::shared_ptr<const IORegistry> empty();

    EntryRef root() const;
    // Every entry, root first, in walk order.
    std::vector<EntryRef> entries() const;
    // Entries of class `className` or a subclass, in walk order.
    std::vector<EntryRef> matchingClass(const QString& className) const;
    std::vector<EntryRef> entriesWithProperty(const QString& key) const;
    // "IODeviceTree:/rom"; "IOService:/" is the root. Null when no entry has that path.
    EntryRef entryFromPath(const QString& path) const;

    // The registry the backends read: for a selected simulated computer, the Linux providers' entries read
    // under its root followed by its computer.plist entries (only the root when that section fails to load);
    // else the live Linux registry under the current host root. Rebuilt when the selection or root changes;
    // between those, every call checks cheaply whether hardware came or went (folder listings, connector
    // states) and rebuilds the entries of what changed.
    static std::shared_ptr<const IORegistry> current();

private:
    friend class IORegistryEntry;
    class Live;
    IORegistry() = default;
    // A version of `root`'s registry made of `branches` in order; it becomes the one the root lists. A
    // path taken by an earlier branch stays with it.
    static std::shared_ptr<const IORegistry> assemble(const std::shared_ptr<IORegistryBranch>& root,
                                                      std::vector<std::shared_ptr<const IORegistryBranch>> branches);
    std::vector<EntryRef> topEntries() const;

    std::shared_ptr<IORegistryBranch> root_;
    std::vector<std::shared_ptr<const IORegistryBranch>> branches_;
    QHash<QString, const IORegistryEntry*> paths_;
};

} // namespace platform
