#include "platform/foundation/ClassRegistry.h"

#include <QHash>

#include <mutex>
#include <shared_mutex>

namespace platform {

struct ClassRegistry::Private {
    mutable std::shared_mutex mutex;
    QHash<QString, Entry> entries;
};

ClassRegistry::ClassRegistry()
    : d(new Private)
{
    d->entries.insert(QStringLiteral("NSObject"), Entry{QStringLiteral("NSObject"), QString(), 0, {}});
}

ClassRegistry& ClassRegistry::shared()
{
    static ClassRegistry registry; // never destroyed before static registrations of other units run
    return registry;
}

bool ClassRegistry::registerClass(Entry entry)
{
    std::unique_lock lock(d->mutex);
    const QString name = entry.name;
    d->entries.insert(name, std::move(entry));
    return true;
}

std::optional<ClassRegistry::Entry> ClassRegistry::entry(const QString& name) const
{
    std::shared_lock lock(d->mutex);
    const auto it = d->entries.constFind(name);
    if (it == d->entries.cend())
        return std::nullopt;
    return *it;
}

bool ClassRegistry::contains(const QString& name) const
{
    std::shared_lock lock(d->mutex);
    return d->entries.contains(name);
}

QStringList ClassRegistry::classChain(const QString& name) const
{
    std::shared_lock lock(d->mutex);
    QStringList chain;
    QString current = name;
    // The depth bound guards against a registration that makes a class its own ancestor.
    while (!current.isEmpty() && chain.size() < 64 && !chain.contains(current)) {
        chain.append(current);
        const auto it = d->entries.constFind(current);
        if (it == d->entries.cend())
            break;
        current = it->superclassName;
    }
    return chain;
}

bool ClassRegistry::isKindOf(const QString& name, const QString& ancestor) const
{
    return classChain(name).contains(ancestor);
}

} // namespace platform
