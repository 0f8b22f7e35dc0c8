#include "platform/registry/IORegistry.h"

#include "platform/foundation/HostRoot.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/registry/FixtureIORegistry.h"
#include "platform/registry/LinuxIORegistry.h"

#include <mutex>

namespace platform {

IORegistry::Builder::Builder() : registry_(new IORegistry())
{
    auto root = std::unique_ptr<IORegistryEntry>(new IORegistryEntry());
    root->registry_ = registry_.get();
    root->classChain_ = {QStringLiteral("IORegistryEntry")};
    root->name_ = QStringLiteral("Root");
    root->paths_ = {QStringLiteral("IOService:/")};
    registry_->paths_.insert(root->paths_.front(), RootIndex);
    registry_->entries_.push_back(std::move(root));
}

int IORegistry::Builder::add(int parent, const QStringList& classChain, const QString& name,
                             std::shared_ptr<const IORegistryPropertySource> properties, const QStringList& paths)
{
    if (!registry_ || parent < 0 || parent >= int(registry_->entries_.size()) || classChain.isEmpty())
        return -1;
    for (const QString& path : paths) {
        if (registry_->paths_.contains(path) || paths.count(path) > 1)
            return -1;
    }
    const int index = int(registry_->entries_.size());
    auto entry = std::unique_ptr<IORegistryEntry>(new IORegistryEntry());
    entry->registry_ = registry_.get();
    entry->classChain_ = classChain;
    entry->name_ = name;
    entry->paths_ = paths;
    entry->source_ = std::move(properties);
    entry->parent_ = parent;
    for (const QString& path : paths)
        registry_->paths_.insert(path, index);
    registry_->entries_[size_t(parent)]->children_.push_back(index);
    registry_->entries_.push_back(std::move(entry));
    return index;
}

std::shared_ptr<const IORegistry> IORegistry::Builder::finish()
{
    return std::move(registry_);
}

std::shared_ptr<const IORegistry> IORegistry::empty()
{
    return Builder().finish();
}

IORegistry::EntryRef IORegistry::entryAt(int index) const
{
    if (index < 0 || index >= int(entries_.size()))
        return nullptr;
    // Aliasing pointer: whoever holds an entry holds the tree it links into.
    return EntryRef(shared_from_this(), entries_[size_t(index)].get());
}

std::vector<IORegistry::EntryRef> IORegistry::entries() const
{
    std::vector<EntryRef> result;
    std::vector<int> stack{RootIndex};
    while (!stack.empty()) {
        const int index = stack.back();
        stack.pop_back();
        result.push_back(entryAt(index));
        const auto& children = entries_[size_t(index)]->children_;
        stack.insert(stack.end(), children.rbegin(), children.rend());
    }
    return result;
}

std::vector<IORegistry::EntryRef> IORegistry::matchingClass(const QString& className) const
{
    std::vector<EntryRef> result;
    for (auto& entry : entries()) {
        if (entry->conformsTo(className))
            result.push_back(std::move(entry));
    }
    return result;
}

std::vector<IORegistry::EntryRef> IORegistry::entriesWithProperty(const QString& key) const
{
    std::vector<EntryRef> result;
    for (auto& entry : entries()) {
        if (entry->hasProperty(key))
            result.push_back(std::move(entry));
    }
    return result;
}

IORegistry::EntryRef IORegistry::entryFromPath(const QString& path) const
{
    const auto found = paths_.constFind(path);
    return found == paths_.constEnd() ? nullptr : entryAt(found.value());
}

std::shared_ptr<const IORegistry> IORegistry::current()
{
    static std::mutex mutex;
    static std::shared_ptr<const IORegistry> cached;
    static std::shared_ptr<const void> cachedSource;
    static bool cachedSimulated = false;

    const bool simulated = SimulatedComputer::isSelected();
    std::shared_ptr<const void> source;
    std::shared_ptr<const SimulatedComputer> computer;
    std::shared_ptr<const HostRoot> hostRoot;
    if (simulated) {
        computer = SimulatedComputer::current();
        source = computer;
    } else {
        hostRoot = HostRoot::current();
        source = hostRoot;
    }

    std::lock_guard lock(mutex);
    if (cached && cachedSimulated == simulated && cachedSource == source)
        return cached;

    std::shared_ptr<const IORegistry> registry;
    if (!simulated) {
        registry = LinuxIORegistry::build(*hostRoot);
    } else if (computer) {
        // Entries with a Linux source come from the providers reading the computer's own root, so fixtures
        // exercise the Linux translation too; computer.plist adds the ones that have none.
        Builder builder;
        const HostRoot root(computer->rootDirectory());
        for (const auto& provider : LinuxIORegistry::defaultProviders())
            provider->addEntries(root, builder);
        QString error;
        if (!computer->registry() || FixtureIORegistry::addEntries(*computer->registry(), builder, error))
            registry = builder.finish();
        else
            log("IORegistry", error);
    }
    cached = registry ? registry : empty();
    cachedSource = source;
    cachedSimulated = simulated;
    return cached;
}

} // namespace platform
