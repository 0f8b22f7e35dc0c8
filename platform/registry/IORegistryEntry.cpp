#include "platform/registry/IORegistryEntry.h"

#include "platform/registry/IORegistry.h"

namespace platform {

std::shared_ptr<const IORegistryEntry> IORegistryEntry::ref() const
{
    // Aliasing pointer: whoever holds an entry holds the branch it lives in.
    return std::shared_ptr<const IORegistryEntry>(branch_->shared_from_this(), this);
}

QVariantMap IORegistryEntry::properties() const
{
    return source_ ? source_->properties() : QVariantMap();
}

QVariant IORegistryEntry::property(const QString& key) const
{
    return source_ ? source_->property(key) : QVariant();
}

std::shared_ptr<const IORegistryEntry> IORegistryEntry::parent() const
{
    return parent_ ? parent_->ref() : nullptr;
}

std::vector<std::shared_ptr<const IORegistryEntry>> IORegistryEntry::children() const
{
    if (!parent_) {
        const auto latest = branch_->latest();
        return latest ? latest->topEntries() : std::vector<std::shared_ptr<const IORegistryEntry>>();
    }
    std::vector<std::shared_ptr<const IORegistryEntry>> result;
    result.reserve(children_.size());
    for (const IORegistryEntry* child : children_)
        result.push_back(child->ref());
    return result;
}

std::shared_ptr<const IORegistryEntry> IORegistryEntry::firstChild() const
{
    if (!parent_) {
        const auto all = children();
        return all.empty() ? nullptr : all.front();
    }
    return children_.empty() ? nullptr : children_.front()->ref();
}

} // namespace platform
