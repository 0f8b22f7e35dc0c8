#include "platform/registry/IORegistryEntry.h"

#include "platform/registry/IORegistry.h"

namespace platform {

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
    return parent_ < 0 ? nullptr : registry_->entryAt(parent_);
}

std::vector<std::shared_ptr<const IORegistryEntry>> IORegistryEntry::children() const
{
    std::vector<std::shared_ptr<const IORegistryEntry>> result;
    result.reserve(children_.size());
    for (int index : children_)
        result.push_back(registry_->entryAt(index));
    return result;
}

std::shared_ptr<const IORegistryEntry> IORegistryEntry::firstChild() const
{
    return children_.empty() ? nullptr : registry_->entryAt(children_.front());
}

} // namespace platform
