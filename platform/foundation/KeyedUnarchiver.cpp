#include "platform/foundation/KeyedUnarchiver.h"

#include "platform/foundation/Assert.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/KeyedCoderTypes.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NullObject.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace platform {
namespace {

constexpr qint64 kReferenceDateMSecs = 978307200000; // 2001-01-01 in ms since 1970
constexpr double kMaxDateSeconds = 1e14;             // about 3 million years either side

QString escapedKey(const QString& key) { return key.startsWith(u'$') ? u'$' + key : key; }

bool isUid(const QVariant& value) { return value.metaType() == QMetaType::fromType<PlistUid>(); }

bool isOneOf(const QString& name, std::initializer_list<const char*> names)
{
    for (const char* candidate : names)
        if (name == QLatin1String(candidate))
            return true;
    return false;
}

template <typename T>
void store(void* address, T value)
{
    std::memcpy(address, &value, sizeof(T));
}

} // namespace

KeyedUnarchiver::KeyedUnarchiver(const UnarchiveOptions& options)
    : options_(options)
{
}

KeyedUnarchiver::~KeyedUnarchiver() = default;

std::shared_ptr<KeyedUnarchiver> KeyedUnarchiver::create(const QByteArray& data, const UnarchiveOptions& options)
{
    std::shared_ptr<KeyedUnarchiver> unarchiver(new KeyedUnarchiver(options));
    if (!unarchiver->load(data))
        return nullptr;
    return unarchiver;
}

QVariant KeyedUnarchiver::unarchiveObjectWithData(const QByteArray& data, const UnarchiveOptions& options)
{
    const std::shared_ptr<KeyedUnarchiver> unarchiver = create(data, options);
    if (!unarchiver)
        return {};
    const QString root = QStringLiteral("root");
    if (!unarchiver->containsValueForKey(root)) {
        unarchiver->failWithReason(QStringLiteral("archive has no root object"));
        return {};
    }
    QVariant value = unarchiver->decodeObjectForKey(root);
    return unarchiver->hasFailed() ? QVariant() : value;
}

QStringList KeyedUnarchiver::topLevelKeys() const
{
    return frames_.isEmpty() ? QStringList() : frames_.first().values.keys();
}

void KeyedUnarchiver::failWithReason(const QString& reason)
{
    if (failed_)
        return;
    failed_ = true;
    log("KeyedUnarchiver", reason);
}

QVariant KeyedUnarchiver::failed(const QString& reason)
{
    failWithReason(reason);
    return {};
}

bool KeyedUnarchiver::checkedSize(qsizetype size, qint64 limit, const char* what)
{
    if (size <= limit)
        return true;
    failWithReason(QStringLiteral("%1 of %2 exceeds the limit of %3").arg(QString::fromLatin1(what)).arg(size).arg(limit));
    return false;
}

bool KeyedUnarchiver::load(const QByteArray& data)
{
    const ArchiveLimits& limits = options_.limits;
    PlistLimits plistLimits;
    plistLimits.maxInputBytes = limits.maxInputBytes;
    // The envelope adds three levels ($objects, the object, its NS.objects) to the nesting of objects.
    plistLimits.maxDepth = limits.maxDepth + 3;
    plistLimits.maxValues = std::max(limits.maxObjects, limits.maxElements);
    const PlistReadResult plist = readPropertyList(data, plistLimits);
    if (!plist.value.isValid()) {
        failWithReason(QStringLiteral("archive is no property list: %1").arg(plist.error));
        return false;
    }
    const QVariantMap archive = plist.value.toMap();
    const QVariant archiver = archive.value(QStringLiteral("$archiver"));
    if (values::kindOf(plist.value) != values::Kind::Dictionary || values::toString(archiver) != QStringLiteral("NSKeyedArchiver")) {
        failWithReason(QStringLiteral("archive is no keyed archive"));
        return false;
    }
    if (!values::isNumber(archive.value(QStringLiteral("$version")))) {
        failWithReason(QStringLiteral("archive has no version"));
        return false;
    }
    const auto top = values::toDictionary(archive.value(QStringLiteral("$top")));
    const auto objects = values::toArray(archive.value(QStringLiteral("$objects")));
    if (!top || !objects || objects->isEmpty() || values::toString(objects->first()) != QStringLiteral("$null")) {
        failWithReason(QStringLiteral("archive has no $top or $objects"));
        return false;
    }
    if (!checkedSize(objects->size(), limits.maxObjects, "object count"))
        return false;
    budget_.setInputSize(limits, data.size());
    objects_ = *objects;
    frames_.append(Frame{*top, 0});
    return true;
}

// --- Objects ---------------------------------------------------------------------------------------

QString KeyedUnarchiver::classNameFromReference(const QVariant& classRef)
{
    if (!isUid(classRef)) {
        failWithReason(QStringLiteral("object has no class"));
        return {};
    }
    const quint64 uid = classRef.value<PlistUid>().value;
    const auto known = classNames_.constFind(uid);
    if (known != classNames_.cend())
        return *known;
    if (uid == 0 || uid >= quint64(objects_.size())) {
        failWithReason(QStringLiteral("class reference %1 is out of range").arg(uid));
        return {};
    }
    const auto name = values::toString(values::toDictionary(objects_[qsizetype(uid)]).value_or(QVariantMap())
                                           .value(QStringLiteral("$classname")));
    if (!name || name->isEmpty()) {
        failWithReason(QStringLiteral("object %1 is no class description").arg(uid));
        return {};
    }
    classNames_.insert(uid, *name);
    return *name;
}

QString KeyedUnarchiver::classNameOf(quint64 uid)
{
    const QVariant& raw = objects_[qsizetype(uid)];
    switch (values::kindOf(raw)) {
    case values::Kind::String:
        return QStringLiteral("NSString");
    case values::Kind::Data:
        return QStringLiteral("NSData");
    case values::Kind::Bool:
    case values::Kind::Signed:
    case values::Kind::Unsigned:
    case values::Kind::Real:
        return QStringLiteral("NSNumber");
    case values::Kind::Dictionary:
        return classNameFromReference(raw.toMap().value(QStringLiteral("$class")));
    default:
        failWithReason(QStringLiteral("object %1 is no archived object").arg(uid));
        return {};
    }
}

QVariant KeyedUnarchiver::decodeReference(const QVariant& reference, const QString& key)
{
    if (failed_)
        return {};
    if (!isUid(reference))
        return failed(QStringLiteral("value for key \"%1\" is no object reference").arg(key));
    return decodeUid(reference.value<PlistUid>().value);
}

QVariant KeyedUnarchiver::decodeUid(quint64 uid)
{
    if (failed_)
        return {};
    if (uid >= quint64(objects_.size()))
        return failed(QStringLiteral("object reference %1 is out of range").arg(uid));
    if (uid == 0)
        return {};
    if (const values::Kind kind = values::kindOf(objects_[qsizetype(uid)]); kind != values::Kind::Dictionary)
        return decodePlainValue(uid, kind);
    const auto known = decoded_.constFind(uid);
    if (known != decoded_.cend())
        return countExpansion(costs_.value(uid)) ? *known : QVariant();
    if (decoding_.contains(uid))
        return failed(QStringLiteral("object %1 contains itself").arg(uid));
    if (depth_ >= options_.limits.maxDepth)
        return failed(QStringLiteral("objects nest deeper than %1").arg(options_.limits.maxDepth));

    const QVariant raw = objects_[qsizetype(uid)];
    quint64 cost = ExpansionBudget::kCostPerValue;
    decoding_.insert(uid);
    ++depth_;
    gathering_.append(cost);
    const QVariant result = decodeObject(uid, raw.toMap());
    cost = gathering_.takeLast();
    --depth_;
    decoding_.remove(uid);
    if (failed_)
        return {};
    if (values::kindOf(result) == values::Kind::String)
        cost += quint64(result.toString().size()) * 2;
    else if (values::kindOf(result) == values::Kind::Data)
        cost += quint64(result.toByteArray().size());
    if (!countExpansion(cost))
        return {};
    decoded_.insert(uid, result);
    costs_.insert(uid, cost);
    return result;
}

// A plain value decodes to itself at a cost of its size alone, so it is not kept like an object: it is only
// marked, so that a later reference is not held to the depth limit it met the first time.
QVariant KeyedUnarchiver::decodePlainValue(quint64 uid, values::Kind kind)
{
    const QVariant& raw = objects_[qsizetype(uid)];
    quint64 cost = ExpansionBudget::kCostPerValue;
    switch (kind) {
    case values::Kind::String:
        cost += quint64(raw.toString().size()) * 2;
        break;
    case values::Kind::Data:
        cost += quint64(raw.toByteArray().size());
        break;
    case values::Kind::Bool:
    case values::Kind::Signed:
    case values::Kind::Unsigned:
    case values::Kind::Real:
        break;
    default:
        if (depth_ >= options_.limits.maxDepth)
            return failed(QStringLiteral("objects nest deeper than %1").arg(options_.limits.maxDepth));
        return failed(QStringLiteral("object %1 is no archived object").arg(uid));
    }
    if (plainValuesSeen_.empty())
        plainValuesSeen_.resize(size_t(objects_.size()));
    if (!plainValuesSeen_[size_t(uid)]) {
        if (depth_ >= options_.limits.maxDepth)
            return failed(QStringLiteral("objects nest deeper than %1").arg(options_.limits.maxDepth));
        if (kind == values::Kind::String && !checkedSize(raw.toString().size() * 2, options_.limits.maxDataBytes, "string size"))
            return {};
        if (kind == values::Kind::Data && !checkedSize(raw.toByteArray().size(), options_.limits.maxDataBytes, "data size"))
            return {};
    }
    if (!countExpansion(cost))
        return {};
    plainValuesSeen_[size_t(uid)] = true;
    return raw;
}

bool KeyedUnarchiver::countExpansion(quint64 cost)
{
    if (budget_.add(gathering_.last(), cost))
        return true;
    failWithReason(QStringLiteral("archive expands to more than %1 bytes of values").arg(budget_.limit()));
    return false;
}

QVariant KeyedUnarchiver::decodeObject(quint64 uid, const QVariantMap& object)
{
    const QString className = classNameFromReference(object.value(QStringLiteral("$class")));
    if (failed_)
        return {};
    const ArchiveLimits& limits = options_.limits;

    if (isOneOf(className, {"NSString", "NSMutableString"})) {
        const QVariant string = object.value(QStringLiteral("NS.string"));
        if (const auto text = values::toString(string))
            return checkedSize(text->size() * 2, limits.maxDataBytes, "string size") ? string : QVariant();
        if (const auto bytes = values::toData(object.value(QStringLiteral("NS.bytes"))))
            return checkedSize(bytes->size(), limits.maxDataBytes, "string size") ? values::fromString(QString::fromUtf8(*bytes)) : QVariant();
        return failed(QStringLiteral("%1 %2 has no text").arg(className).arg(uid));
    }
    if (isOneOf(className, {"NSData", "NSMutableData"})) {
        QVariant data = object.value(QStringLiteral("NS.data"));
        if (!data.isValid())
            data = object.value(QStringLiteral("NS.bytes"));
        if (isUid(data))
            data = decodeUid(data.value<PlistUid>().value);
        const auto bytes = values::toData(data);
        if (!bytes)
            return failed(QStringLiteral("%1 %2 has no bytes").arg(className).arg(uid));
        return checkedSize(bytes->size(), limits.maxDataBytes, "data size") ? data : QVariant();
    }
    if (className == QLatin1String("NSDate")) {
        const auto seconds = values::toReal(object.value(QStringLiteral("NS.time")));
        if (!seconds || !std::isfinite(*seconds) || std::fabs(*seconds) > kMaxDateSeconds)
            return failed(QStringLiteral("NSDate %1 has no valid time").arg(uid));
        return values::fromDate(QDateTime::fromMSecsSinceEpoch(qint64(std::llround(*seconds * 1000.0)) + kReferenceDateMSecs, Qt::UTC));
    }
    if (isOneOf(className, {"NSArray", "NSMutableArray"})) {
        const auto refs = values::toArray(object.value(QStringLiteral("NS.objects")));
        if (!refs)
            return failed(QStringLiteral("%1 %2 has no NS.objects").arg(className).arg(uid));
        if (!checkedSize(refs->size(), limits.maxElements, "array size"))
            return {};
        QVariantList list;
        list.reserve(refs->size());
        for (const QVariant& ref : *refs) {
            QVariant item = decodeReference(ref, QStringLiteral("NS.objects"));
            if (failed_)
                return {};
            if (!item.isValid())
                return failed(QStringLiteral("%1 %2 holds nil").arg(className).arg(uid));
            list.append(std::move(item));
        }
        return values::fromArray(list);
    }
    if (isOneOf(className, {"NSDictionary", "NSMutableDictionary"})) {
        const auto keys = values::toArray(object.value(QStringLiteral("NS.keys")));
        const auto refs = values::toArray(object.value(QStringLiteral("NS.objects")));
        if (!keys || !refs || keys->size() != refs->size())
            return failed(QStringLiteral("%1 %2 has no matching NS.keys and NS.objects").arg(className).arg(uid));
        if (!checkedSize(refs->size(), limits.maxElements, "dictionary size"))
            return {};
        QVariantMap map;
        for (qsizetype i = 0; i < keys->size(); ++i) {
            const QVariant key = decodeReference(keys->at(i), QStringLiteral("NS.keys"));
            QVariant value = decodeReference(refs->at(i), QStringLiteral("NS.objects"));
            if (failed_)
                return {};
            const auto name = values::toString(key);
            if (!name)
                return failed(QStringLiteral("%1 %2 has a key that is no string").arg(className).arg(uid));
            if (!value.isValid())
                return failed(QStringLiteral("%1 %2 holds nil").arg(className).arg(uid));
            map.insert(*name, std::move(value));
        }
        return values::fromDictionary(map);
    }
    if (options_.generic) {
        QVariantMap map;
        for (auto it = object.cbegin(); it != object.cend(); ++it) {
            if (it.key() == QLatin1String("$class"))
                continue;
            const QString key = it.key().startsWith(QLatin1String("$$")) ? it.key().mid(1) : it.key();
            QVariant value = decodeGenericValue(it.value(), 0);
            if (failed_)
                return {};
            map.insert(key, std::move(value));
        }
        map.insert(QStringLiteral("$class"), values::fromString(className));
        return values::fromDictionary(map);
    }
    if (className == QLatin1String("NSNull"))
        return values::fromObject(NullObject::shared());
    return decodeArchivable(className, object);
}

QVariant KeyedUnarchiver::decodeGenericValue(const QVariant& value, int depth)
{
    if (isUid(value))
        return decodeUid(value.value<PlistUid>().value);
    if (depth + depth_ > options_.limits.maxDepth)
        return failed(QStringLiteral("objects nest deeper than %1").arg(options_.limits.maxDepth));
    // Inline values are part of their object's cost, met again at every reference to the object.
    quint64 cost = ExpansionBudget::kCostPerValue;
    if (values::kindOf(value) == values::Kind::String)
        cost += quint64(value.toString().size()) * 2;
    else if (values::kindOf(value) == values::Kind::Data)
        cost += quint64(value.toByteArray().size());
    if (!countExpansion(cost))
        return {};
    if (const auto list = values::toArray(value)) {
        if (!checkedSize(list->size(), options_.limits.maxElements, "array size"))
            return {};
        QVariantList items;
        items.reserve(list->size());
        for (const QVariant& item : *list) {
            items.append(decodeGenericValue(item, depth + 1));
            if (failed_)
                return {};
        }
        return values::fromArray(items);
    }
    if (const auto map = values::toDictionary(value)) {
        QVariantMap items;
        for (auto it = map->cbegin(); it != map->cend(); ++it) {
            items.insert(it.key(), decodeGenericValue(it.value(), depth + 1));
            if (failed_)
                return {};
        }
        return values::fromDictionary(items);
    }
    return value;
}

QVariant KeyedUnarchiver::decodeArchivable(const QString& className, const QVariantMap& object)
{
    ClassRegistry& registry = ClassRegistry::shared();
    bool allowed = false;
    for (const QString& allowedClass : options_.allowedClasses)
        allowed = allowed || registry.isKindOf(className, allowedClass);
    if (!allowed)
        return failed(QStringLiteral("class %1 is not allowed").arg(className));
    const auto entry = registry.entry(className);
    if (!entry || !entry->decoder)
        return failed(QStringLiteral("class %1 has no decoder").arg(className));
    frames_.append(Frame{object, 0});
    const ObjectRef result = entry->decoder(*this);
    frames_.removeLast();
    if (failed_)
        return {};
    return values::fromObject(result);
}

// --- Keyed calls -----------------------------------------------------------------------------------

bool KeyedUnarchiver::containsValueForKey(const QString& key) const
{
    return !frames_.isEmpty() && frames_.last().values.contains(escapedKey(key));
}

QVariant KeyedUnarchiver::valueForKey(const QString& key, const char*)
{
    if (failed_ || frames_.isEmpty())
        return {};
    return frames_.last().values.value(escapedKey(key));
}

QVariant KeyedUnarchiver::decodeObjectForKey(const QString& key)
{
    const QVariant reference = valueForKey(key, "decodeObjectForKey:");
    if (!reference.isValid())
        return {};
    return decodeReference(reference, key);
}

QVariant KeyedUnarchiver::decodeObjectOfClasses(const QStringList& classNames, const QString& key)
{
    const QVariant reference = valueForKey(key, "decodeObjectOfClasses:forKey:");
    if (!reference.isValid())
        return {};
    if (!isUid(reference))
        return failed(QStringLiteral("value for key \"%1\" is no object reference").arg(key));
    const quint64 uid = reference.value<PlistUid>().value;
    if (uid >= quint64(objects_.size()))
        return failed(QStringLiteral("object reference %1 is out of range").arg(uid));
    if (uid == 0)
        return {};
    const QString className = classNameOf(uid);
    if (failed_)
        return {};
    bool allowed = false;
    for (const QString& name : classNames)
        allowed = allowed || ClassRegistry::shared().isKindOf(className, name);
    if (!allowed) {
        return failed(QStringLiteral("object of class %1 for key \"%2\" where %3 was expected")
                          .arg(className, key, classNames.join(QStringLiteral(", "))));
    }
    return decodeUid(uid);
}

bool KeyedUnarchiver::decodeBoolForKey(const QString& key)
{
    const QVariant value = valueForKey(key, "decodeBoolForKey:");
    if (!value.isValid())
        return false;
    const auto result = values::toBool(value);
    if (!result) {
        failWithReason(QStringLiteral("value for key \"%1\" is no boolean").arg(key));
        return false;
    }
    return *result;
}

std::optional<qint64> KeyedUnarchiver::integerForKey(const QString& key, const char* call)
{
    const QVariant value = valueForKey(key, call);
    if (!value.isValid())
        return 0;
    const auto result = values::toSigned(value);
    if (!result) {
        failWithReason(QStringLiteral("value for key \"%1\" is no integer").arg(key));
        return std::nullopt;
    }
    return result;
}

qint32 KeyedUnarchiver::decodeInt32ForKey(const QString& key)
{
    const auto value = integerForKey(key, "decodeInt32ForKey:");
    if (!value)
        return 0;
    if (*value < std::numeric_limits<qint32>::min() || *value > std::numeric_limits<qint32>::max()) {
        failWithReason(QStringLiteral("value for key \"%1\" does not fit in 32 bits").arg(key));
        return 0;
    }
    return qint32(*value);
}

qint64 KeyedUnarchiver::decodeInt64ForKey(const QString& key)
{
    return integerForKey(key, "decodeInt64ForKey:").value_or(0);
}

double KeyedUnarchiver::decodeDoubleForKey(const QString& key)
{
    const QVariant value = valueForKey(key, "decodeDoubleForKey:");
    if (!value.isValid())
        return 0;
    const auto result = values::toReal(value);
    if (!result) {
        failWithReason(QStringLiteral("value for key \"%1\" is no number").arg(key));
        return 0;
    }
    return *result;
}

float KeyedUnarchiver::decodeFloatForKey(const QString& key)
{
    return float(decodeDoubleForKey(key));
}

QByteArray KeyedUnarchiver::decodeBytesForKey(const QString& key)
{
    const QVariant value = valueForKey(key, "decodeBytesForKey:");
    if (!value.isValid())
        return {};
    const auto bytes = values::toData(value);
    if (!bytes) {
        failWithReason(QStringLiteral("value for key \"%1\" is no data").arg(key));
        return {};
    }
    return *bytes;
}

// --- Sequential calls ------------------------------------------------------------------------------

bool KeyedUnarchiver::decodeScalar(char code, const QVariant& value, void* address)
{
    if (code == 'f' || code == 'd') {
        const auto real = values::toReal(value);
        if (!real) {
            failWithReason(QStringLiteral("sequential value is no number"));
            return false;
        }
        if (code == 'f')
            store(address, float(*real));
        else
            store(address, *real);
        return true;
    }
    // Integers: the value must fit the code's width as a signed or an unsigned number.
    quint64 bits = 0;
    bool negative = false;
    switch (values::kindOf(value)) {
    case values::Kind::Bool:
        bits = value.toBool() ? 1 : 0;
        break;
    case values::Kind::Signed:
        bits = quint64(value.toLongLong());
        negative = value.toLongLong() < 0;
        break;
    case values::Kind::Unsigned:
        bits = value.toULongLong();
        break;
    default:
        failWithReason(QStringLiteral("sequential value is no integer"));
        return false;
    }
    const int width = KeyedCoderTypes::scalarSize(code) * 8;
    if (width < 64) {
        const qint64 signedValue = qint64(bits);
        const bool fits = negative ? signedValue >= -(qint64(1) << (width - 1)) : bits < (quint64(1) << width);
        if (!fits) {
            failWithReason(QStringLiteral("sequential value %1 does not fit type '%2'").arg(negative ? QString::number(signedValue) : QString::number(bits)).arg(QChar::fromLatin1(code)));
            return false;
        }
    }
    switch (width) {
    case 8: store(address, quint8(bits)); break;
    case 16: store(address, quint16(bits)); break;
    case 32: store(address, quint32(bits)); break;
    default: store(address, bits); break;
    }
    return true;
}

bool KeyedUnarchiver::decodeOldStyleArray(char code, quint64 count, const QVariant& reference, void* address)
{
    if (count > quint64(options_.limits.maxElements)) {
        failWithReason(QStringLiteral("array of %1 values exceeds the limit of %2").arg(count).arg(options_.limits.maxElements));
        return false;
    }
    const quint64 uid = isUid(reference) ? reference.value<PlistUid>().value : 0;
    if (uid == 0 || uid >= quint64(objects_.size())) {
        failWithReason(QStringLiteral("sequential array reference is missing or out of range"));
        return false;
    }
    const QVariantMap array = values::toDictionary(objects_[qsizetype(uid)]).value_or(QVariantMap());
    const QString className = classNameFromReference(array.value(QStringLiteral("$class")));
    if (failed_)
        return false;
    const int size = KeyedCoderTypes::scalarSize(code);
    if (className != KeyedCoderTypes::oldStyleArrayClass
        || values::toSigned(array.value(QStringLiteral("NS.count"))) != qint64(count)
        || values::toSigned(array.value(QStringLiteral("NS.type"))) != qint64(code)
        || values::toSigned(array.value(QStringLiteral("NS.size"))) != qint64(size)) {
        failWithReason(QStringLiteral("archive holds no array of type [%1%2]").arg(count).arg(QChar::fromLatin1(code)));
        return false;
    }
    auto* bytes = static_cast<char*>(address);
    for (quint64 i = 0; i < count; ++i) {
        const QVariant value = array.value(KeyedCoderTypes::sequentialKey(i));
        if (!value.isValid()) {
            failWithReason(QStringLiteral("array of type [%1%2] lacks element %3").arg(count).arg(QChar::fromLatin1(code)).arg(i));
            return false;
        }
        if (!decodeScalar(code, value, bytes + i * quint64(size)))
            return false;
    }
    return true;
}

bool KeyedUnarchiver::decodeValuesOfObjCTypes(const char* types, void* const* addresses)
{
    if (failed_ || frames_.isEmpty())
        return false;
    const auto items = KeyedCoderTypes::parse(types);
    if (!items) {
        failWithReason(QStringLiteral("cannot decode values of type \"%1\"").arg(QString::fromLatin1(types)));
        return false;
    }
    for (qsizetype i = 0; i < items->size(); ++i) {
        const KeyedCoderTypes::Item& item = items->at(i);
        void* address = addresses[i];
        const QString key = KeyedCoderTypes::sequentialKey(frames_.last().sequentialIndex++);
        const QVariant value = frames_.last().values.value(key);
        if (!value.isValid()) {
            failWithReason(QStringLiteral("archive has no sequential value %1").arg(key));
            return false;
        }
        if (item.isArray) {
            if (!decodeOldStyleArray(item.code, item.count, value, address))
                return false;
        } else if (item.code == '@') {
            *static_cast<QVariant*>(address) = decodeReference(value, key);
        } else if (item.code == '*') {
            const QVariant text = decodeReference(value, key);
            if (text.isValid() && !values::toString(text)) {
                failWithReason(QStringLiteral("sequential value %1 is no C string").arg(key));
                return false;
            }
            *static_cast<QByteArray*>(address) = text.isValid() ? text.toString().toUtf8() : QByteArray();
        } else if (!decodeScalar(item.code, value, address)) {
            return false;
        }
        if (failed_)
            return false;
    }
    return true;
}

void KeyedUnarchiver::encodeValuesOfObjCTypes(const char*, const void* const*)
{
    KV_ASSERTION_FAILED("encodeValuesOfObjCTypes on an unarchiver");
    failWithReason(QStringLiteral("encode call on an unarchiver"));
}

} // namespace platform
