#include "platform/foundation/ClassRegistry.h"

#include "platform/foundation/NullObject.h"

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
    const auto add = [this](const char* name, const char* superclass, Decoder decoder = {}) {
        const QString className = QString::fromLatin1(name);
        d->entries.insert(className, Entry{className, QString::fromLatin1(superclass), 0, std::move(decoder)});
    };
    d->entries.insert(QStringLiteral("NSObject"), Entry{QStringLiteral("NSObject"), QString(), 0, {}});
    // The Foundation values, with the original class hierarchy, so class chains and kind-of questions
    // about them work. Registered here rather than by static initialisers, which a static library may drop.
    // The keyed unarchiver decodes the values itself; only NSNull has a decoder.
    add("NSString", "NSObject");
    add("NSMutableString", "NSString");
    add("NSValue", "NSObject");
    add("NSNumber", "NSValue");
    add("NSData", "NSObject");
    add("NSMutableData", "NSData");
    add("NSDate", "NSObject");
    add("NSArray", "NSObject");
    add("NSMutableArray", "NSArray");
    add("NSDictionary", "NSObject");
    add("NSMutableDictionary", "NSDictionary");
    add("NSNull", "NSObject", [](Coder&) { return NullObject::shared(); });
    // Holds the scalar arrays of sequential calls in keyed archives.
    add("_NSKeyedCoderOldStyleArray", "NSObject");
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
