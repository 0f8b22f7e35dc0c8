#include "sensors/HIDIdleTime.h"

#include "platform/foundation/Archivable.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"


#include <cstring>
#include <mutex>

namespace values = platform::values;

namespace {

const QString kIdleTimeKey = QStringLiteral("HIDIdleTime");

struct Cache {
    std::mutex mutex;
    std::shared_ptr<TEVIORegistryEntry> entry;
};

Cache& cache()
{
    static Cache c;
    return c;
}

// The class a value has on the original platform, for the log line.
QString foundationClassName(const QVariant& value)
{
    switch (values::kindOf(value)) {
    case values::Kind::Bool:
    case values::Kind::Signed:
    case values::Kind::Unsigned:
    case values::Kind::Real: return QStringLiteral("NSNumber");
    case values::Kind::String: return QStringLiteral("NSString");
    case values::Kind::Data: return QStringLiteral("NSData");
    case values::Kind::Date: return QStringLiteral("NSDate");
    case values::Kind::Array: return QStringLiteral("NSArray");
    case values::Kind::Dictionary: return QStringLiteral("NSDictionary");
    case values::Kind::Object: {
        const auto object = values::toObject(value);
        return object ? object->className() : QStringLiteral("NSNull");
    }
    case values::Kind::Invalid: break;
    }
    return QStringLiteral("NSNull");
}

} // namespace

std::shared_ptr<TEVIORegistryEntry> hidSystemRegistryEntry(TEVIORegistryEntry::Registry registry)
{
    Cache& c = cache();
    // One lock round look-up and store, so that two first callers cannot both fill the cache.
    std::lock_guard lock(c.mutex);
    if (c.entry)
        return c.entry;
    const auto entries = TEVIORegistryEntry::serviceObjectsMatchingName(QStringLiteral("IOHIDSystem"), std::move(registry));
    const size_t count = entries ? entries->size() : 0;
    if (count != 1) {
        platform::log(QStringLiteral("Found %1 entries for the HID subsystem, ignoring all...\n").arg(count));
        return nullptr;
    }
    const auto& entry = entries->front();
    const std::optional<QVariantMap> properties = entry->properties();
    const QVariant idle = properties ? properties->value(kIdleTimeKey) : QVariant();
    if (!values::isNumber(idle) && values::kindOf(idle) != values::Kind::Data)
        return nullptr;
    c.entry = entry;
    return c.entry;
}

quint64 currentHIDIdleTime(TEVIORegistryEntry::Registry registry)
{
    const auto entry = hidSystemRegistryEntry(std::move(registry));
    if (!entry)
        return 0;
    const std::optional<QVariantMap> properties = entry->properties();
    const QVariant idle = properties ? properties->value(kIdleTimeKey) : QVariant();
    if (!idle.isValid())
        return 0;
    switch (values::kindOf(idle)) {
    case values::Kind::Unsigned: return *values::toUnsigned(idle);
    case values::Kind::Signed: return quint64(*values::toSigned(idle));
    case values::Kind::Bool: return idle.toBool() ? 1 : 0;
    case values::Kind::Real: {
        const double nanoseconds = *values::toReal(idle);
        return nanoseconds > 0 && nanoseconds < 1.8e19 ? quint64(nanoseconds) : 0;
    }
    case values::Kind::Data: {
        const QByteArray bytes = *values::toData(idle);
        if (bytes.size() == 8) {
            quint64 native = 0;
            std::memcpy(&native, bytes.constData(), sizeof native);
            return native;
        }
        break;
    }
    default: break;
    }
    platform::log(QStringLiteral("HID subsystem entry does not contain expected class (is %1).\n").arg(foundationClassName(idle)));
    return 0;
}

void resetHIDSystemRegistryEntryCacheForTesting()
{
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    c.entry.reset();
}
