#include "platform/registry/IORegistry.h"

#include "platform/foundation/HostRoot.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/registry/FixtureIORegistry.h"
#include "platform/registry/LinuxIORegistry.h"

#include <algorithm>

namespace platform {

std::shared_ptr<const IORegistry> IORegistryBranch::latest() const
{
    std::lock_guard lock(mutex_);
    return latest_.lock();
}

void IORegistryBranch::setLatest(const std::shared_ptr<const IORegistry>& registry)
{
    std::lock_guard lock(mutex_);
    latest_ = registry;
}

namespace {

std::shared_ptr<IORegistryBranch> newRootBranch()
{
    auto branch = std::make_shared<IORegistryBranch>();
    branch->entries.emplace_back(nullptr);
    return branch;
}

} // namespace

IORegistry::Builder::Builder() : Builder(newRootBranch()) {}

IORegistry::Builder::Builder(std::shared_ptr<IORegistryBranch> root) : root_(std::move(root))
{
    if (!root_->entries.front()) {
        auto entry = std::unique_ptr<IORegistryEntry>(new IORegistryEntry());
        entry->branch_ = root_.get();
        entry->classChain_ = {QStringLiteral("IORegistryEntry")};
        entry->name_ = QStringLiteral("Root");
        entry->paths_ = {QStringLiteral("IOService:/")};
        root_->entries.front() = std::move(entry);
    }
    entries_.push_back(root_->entries.front().get());
    branchOf_.push_back(root_.get());
    paths_.insert(QStringLiteral("IOService:/"), RootIndex);
}

int IORegistry::Builder::add(int parent, const QStringList& classChain, const QString& name,
                             std::shared_ptr<const IORegistryPropertySource> properties, const QStringList& paths)
{
    if (!root_ || parent < 0 || parent >= int(entries_.size()) || classChain.isEmpty())
        return -1;
    for (const QString& path : paths) {
        if (paths_.contains(path) || paths.count(path) > 1)
            return -1;
    }
    IORegistryBranch* branch = nullptr;
    if (parent == RootIndex) {
        branches_.push_back(std::make_shared<IORegistryBranch>());
        branch = branches_.back().get();
        branch->rootBranch = root_;
    } else {
        branch = branchOf_[size_t(parent)];
    }
    auto entry = std::unique_ptr<IORegistryEntry>(new IORegistryEntry());
    entry->branch_ = branch;
    entry->classChain_ = classChain;
    entry->name_ = name;
    entry->paths_ = paths;
    entry->source_ = std::move(properties);
    entry->parent_ = entries_[size_t(parent)];
    if (parent != RootIndex)
        entries_[size_t(parent)]->children_.push_back(entry.get());
    const int index = int(entries_.size());
    for (const QString& path : paths)
        paths_.insert(path, index);
    entries_.push_back(entry.get());
    branchOf_.push_back(branch);
    branch->entries.push_back(std::move(entry));
    return index;
}

std::shared_ptr<const IORegistry> IORegistry::Builder::finish()
{
    if (!root_)
        return nullptr;
    std::vector<std::shared_ptr<const IORegistryBranch>> branches(branches_.begin(), branches_.end());
    auto registry = assemble(root_, std::move(branches));
    root_.reset();
    branches_.clear();
    entries_.clear();
    branchOf_.clear();
    return registry;
}

std::shared_ptr<const IORegistry> IORegistry::assemble(const std::shared_ptr<IORegistryBranch>& root,
                                                       std::vector<std::shared_ptr<const IORegistryBranch>> branches)
{
    auto registry = std::shared_ptr<IORegistry>(new IORegistry());
    registry->root_ = root;
    registry->paths_.insert(QStringLiteral("IOService:/"), root->entries.front().get());
    for (const auto& branch : branches) {
        for (const auto& entry : branch->entries) {
            for (const QString& path : entry->paths_) {
                if (!registry->paths_.contains(path))
                    registry->paths_.insert(path, entry.get());
            }
        }
    }
    registry->branches_ = std::move(branches);
    root->setLatest(registry);
    return registry;
}

std::shared_ptr<const IORegistry> IORegistry::empty()
{
    return Builder().finish();
}

IORegistry::EntryRef IORegistry::root() const
{
    return root_->entries.front()->ref();
}

std::vector<IORegistry::EntryRef> IORegistry::topEntries() const
{
    std::vector<EntryRef> result;
    result.reserve(branches_.size());
    for (const auto& branch : branches_)
        result.push_back(branch->entries.front()->ref());
    return result;
}

std::vector<IORegistry::EntryRef> IORegistry::entries() const
{
    std::vector<EntryRef> result{root()};
    for (const auto& branch : branches_) {
        std::vector<const IORegistryEntry*> stack{branch->entries.front().get()};
        while (!stack.empty()) {
            const IORegistryEntry* entry = stack.back();
            stack.pop_back();
            result.push_back(entry->ref());
            stack.insert(stack.end(), entry->children_.rbegin(), entry->children_.rend());
        }
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
    return found == paths_.constEnd() ? nullptr : found.value()->ref();
}

// The registry of one host root kept up to date: each provider's branches are rebuilt when its change
// signature moves, and a rebuilt branch that reads the same things as before is replaced by the old one,
// so unchanged entries keep their identity. Fixture entries never change. Used under current()'s lock.
class IORegistry::Live {
public:
    Live(HostRoot root, std::optional<QVariantList> fixture) : root_(std::move(root)), rootBranch_(newRootBranch())
    {
        Builder builder(rootBranch_);
        for (const auto& provider : LinuxIORegistry::defaultProviders()) {
            Part part{provider, provider->changeSignature(root_), {}};
            const size_t first = builder.branches_.size();
            provider->addEntries(root_, builder);
            part.branches.assign(builder.branches_.begin() + std::ptrdiff_t(first), builder.branches_.end());
            parts_.push_back(std::move(part));
        }
        const size_t first = builder.branches_.size();
        QString error;
        if (fixture && !FixtureIORegistry::addEntries(*fixture, builder, error)) {
            log("IORegistry", error);
            failed_ = true;
            registry_ = empty();
            return;
        }
        fixed_.assign(builder.branches_.begin() + std::ptrdiff_t(first), builder.branches_.end());
        registry_ = assembleParts();
    }

    std::shared_ptr<const IORegistry> current()
    {
        if (failed_)
            return registry_;
        bool changed = false;
        for (Part& part : parts_) {
            if (!part.signature)
                continue;
            auto signature = part.provider->changeSignature(root_);
            if (signature == part.signature)
                continue;
            rebuild(part);
            part.signature = std::move(signature);
            changed = true;
        }
        if (changed)
            registry_ = assembleParts();
        return registry_;
    }

private:
    struct Part {
        std::shared_ptr<const IORegistryProvider> provider;
        std::optional<QByteArray> signature; // nothing: built once
        std::vector<std::shared_ptr<const IORegistryBranch>> branches;
    };

    static bool sameEntry(const IORegistryEntry& a, const IORegistryEntry& b)
    {
        if (a.classChain_ != b.classChain_ || a.name_ != b.name_ || a.paths_ != b.paths_
            || a.children_.size() != b.children_.size() || !a.source_ != !b.source_)
            return false;
        if (!a.source_)
            return true;
        const QString identity = a.source_->identity();
        return !identity.isNull() && identity == b.source_->identity();
    }

    static bool sameBranch(const IORegistryBranch& a, const IORegistryBranch& b)
    {
        if (a.entries.size() != b.entries.size())
            return false;
        for (size_t i = 0; i < a.entries.size(); ++i) {
            if (!sameEntry(*a.entries[i], *b.entries[i]))
                return false;
        }
        return true;
    }

    void rebuild(Part& part)
    {
        Builder builder(rootBranch_);
        part.provider->addEntries(root_, builder);
        std::vector<std::shared_ptr<const IORegistryBranch>> old = std::move(part.branches);
        part.branches.clear();
        for (const auto& fresh : builder.branches_) {
            auto kept = std::find_if(old.begin(), old.end(),
                                     [&](const auto& branch) { return branch && sameBranch(*branch, *fresh); });
            if (kept != old.end()) {
                part.branches.push_back(std::move(*kept));
                kept->reset();
            } else {
                part.branches.push_back(fresh);
            }
        }
    }

    std::shared_ptr<const IORegistry> assembleParts() const
    {
        std::vector<std::shared_ptr<const IORegistryBranch>> branches;
        for (const Part& part : parts_)
            branches.insert(branches.end(), part.branches.begin(), part.branches.end());
        branches.insert(branches.end(), fixed_.begin(), fixed_.end());
        return assemble(rootBranch_, std::move(branches));
    }

    HostRoot root_;
    std::shared_ptr<IORegistryBranch> rootBranch_;
    std::vector<Part> parts_;
    std::vector<std::shared_ptr<const IORegistryBranch>> fixed_;
    std::shared_ptr<const IORegistry> registry_;
    bool failed_ = false;
};

std::shared_ptr<const IORegistry> IORegistry::current()
{
    static std::mutex mutex;
    static std::unique_ptr<Live> live;
    static std::shared_ptr<const void> liveSource;
    static const std::shared_ptr<const IORegistry> none = empty();

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
    if (!live || liveSource != source) {
        live.reset();
        liveSource = source;
        if (!simulated) {
            live = std::make_unique<Live>(*hostRoot, std::nullopt);
        } else if (computer) {
            // Entries with a Linux source come from the providers reading the computer's own root, so fixtures
            // exercise the Linux translation too; computer.plist adds the ones that have none.
            live = std::make_unique<Live>(HostRoot(computer->rootDirectory()), computer->registry());
        }
    }
    return live ? live->current() : none;
}

} // namespace platform
