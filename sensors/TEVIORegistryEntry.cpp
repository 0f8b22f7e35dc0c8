#include "sensors/TEVIORegistryEntry.h"

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"

#include <QStringDecoder>

namespace values = platform::values;

namespace {

TEVIORegistryEntry::Registry registryOrCurrent(TEVIORegistryEntry::Registry registry)
{
    return registry ? std::move(registry) : platform::IORegistry::current();
}

TEVIORegistryEntry::EntryList wrap(const std::vector<platform::IORegistry::EntryRef>& entries)
{
    TEVIORegistryEntry::EntryList result;
    result.reserve(entries.size());
    for (const auto& entry : entries) {
        if (auto wrapper = TEVIORegistryEntry::createWithIOKitHandle(entry))
            result.push_back(std::move(wrapper));
    }
    return result;
}

} // namespace

std::optional<TEVIORegistryEntry::EntryList> TEVIORegistryEntry::serviceObjectsMatchingName(const QString& className,
                                                                                            Registry registry)
{
    if (className.isEmpty())
        return std::nullopt;
    return wrap(registryOrCurrent(std::move(registry))->matchingClass(className));
}

std::optional<TEVIORegistryEntry::EntryList>
TEVIORegistryEntry::serviceObjectsContainingPropertyWithKey(const QString& key, Registry registry)
{
    if (key.isEmpty())
        return std::nullopt;
    const auto current = registryOrCurrent(std::move(registry));
    auto entries = current->entriesWithProperty(key);
    // The recursive walk starts below the root.
    std::erase(entries, current->root());
    return wrap(entries);
}

std::shared_ptr<TEVIORegistryEntry> TEVIORegistryEntry::registryEntryInPlane(const QString& plane,
                                                                             const QString& absolutePath,
                                                                             Registry registry)
{
    if (plane.isEmpty() || absolutePath.isEmpty())
        return nullptr;
    return createWithIOKitHandle(
        registryOrCurrent(std::move(registry))->entryFromPath(plane + QLatin1Char(':') + absolutePath));
}

std::shared_ptr<TEVIORegistryEntry> TEVIORegistryEntry::createWithIOKitHandle(Handle handle)
{
    if (!handle)
        return nullptr;
    return std::make_shared<TEVIORegistryEntry>(std::move(handle));
}

std::shared_ptr<TEVIORegistryEntry> TEVIORegistryEntry::parentServiceEntry() const
{
    return handle_ ? createWithIOKitHandle(handle_->parent()) : nullptr;
}

std::shared_ptr<TEVIORegistryEntry> TEVIORegistryEntry::childServiceEntry() const
{
    return handle_ ? createWithIOKitHandle(handle_->firstChild()) : nullptr;
}

QString TEVIORegistryEntry::driverClassName() const
{
    for (Handle entry = handle_; entry; entry = entry->parent()) {
        if (entry->hasProperty(QStringLiteral("CFBundleIdentifier")))
            return values::toString(entry->property(QStringLiteral("IOClass"))).value_or(QString());
    }
    return {};
}

std::shared_ptr<TEVIORegistryEntry> TEVIORegistryEntry::snapshot() const
{
    auto copy = std::make_shared<TEVIORegistryEntry>(handle_);
    copy->frozen_ = properties();
    return copy;
}

QVariant TEVIORegistryEntry::value(const QString& name) const
{
    if (frozen_)
        return frozen_->value(name);
    return handle_ ? handle_->property(name) : QVariant();
}

std::optional<QVariantMap> TEVIORegistryEntry::properties() const
{
    if (frozen_)
        return frozen_;
    if (!handle_)
        return std::nullopt;
    return handle_->properties();
}

bool TEVIORegistryEntry::hasValueWithName(const QString& name) const
{
    return value(name).isValid();
}

QString TEVIORegistryEntry::stringValueWithName(const QString& name) const
{
    const QVariant property = value(name);
    if (const auto text = values::toString(property))
        return text->isNull() ? QString(QLatin1String("")) : *text;
    const auto data = values::toData(property);
    if (!data)
        return {};
    const qsizetype end = data->indexOf('\0');
    const QByteArray bytes = end < 0 ? *data : data->left(end);
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return {};
    return text.isNull() ? QString(QLatin1String("")) : text;
}

qint64 TEVIORegistryEntry::integerValueWithName(const QString& name) const
{
    const QVariant property = value(name);
    if (values::kindOf(property) == values::Kind::Bool || !values::isNumber(property))
        return -1;
    return values::toSigned(property).value_or(-1);
}

bool TEVIORegistryEntry::boolValueWithName(const QString& name) const
{
    const QVariant property = value(name);
    return values::kindOf(property) == values::Kind::Bool && property.toBool();
}

std::optional<QVariantList> TEVIORegistryEntry::arrayValueWithName(const QString& name) const
{
    return values::toArray(value(name));
}

QString TEVIORegistryEntry::description() const
{
    const auto all = properties();
    return QStringLiteral("TEVIORegistryEntry: ")
        + (all ? platform::describePropertyList(values::fromDictionary(*all)) : QStringLiteral("(null)"))
        + QLatin1Char('\n');
}
