#include "platform/foundation/KeyedArchiver.h"

#include "platform/foundation/Assert.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/KeyedCoderTypes.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"

#include <cstring>

namespace platform {
namespace {

constexpr qint64 kReferenceDateMSecs = 978307200000; // 2001-01-01 in ms since 1970

QVariant uid(quint64 value) { return QVariant::fromValue(PlistUid{value}); }

// User keys that start with "$" get one more, so they never meet the archive's own keys.
QString escapedKey(const QString& key) { return key.startsWith(u'$') ? u'$' + key : key; }

template <typename T>
T load(const void* address)
{
    T value;
    std::memcpy(&value, address, sizeof(T));
    return value;
}

} // namespace

KeyedArchiver::KeyedArchiver()
{
    objects_.append(values::fromString(QStringLiteral("$null")));
    frames_.append(Frame{});
}

KeyedArchiver::~KeyedArchiver() = default;

QByteArray KeyedArchiver::archivedDataWithRootObject(const QVariant& root)
{
    KeyedArchiver archiver;
    archiver.encodeObject(root, QStringLiteral("root"));
    return archiver.encodedData();
}

QByteArray KeyedArchiver::encodedData() const
{
    if (failed_)
        return {};
    QVariantMap archive;
    archive.insert(QStringLiteral("$archiver"), values::fromString(QStringLiteral("NSKeyedArchiver")));
    archive.insert(QStringLiteral("$version"), values::fromSigned(100000));
    archive.insert(QStringLiteral("$top"), values::fromDictionary(frames_.first().values));
    archive.insert(QStringLiteral("$objects"), values::fromArray(objects_));
    return writePropertyList(values::fromDictionary(archive), PlistFormat::Binary);
}

void KeyedArchiver::failWithReason(const QString& reason)
{
    if (failed_)
        return;
    failed_ = true;
    log("KeyedArchiver", reason);
}

void KeyedArchiver::set(const QString& rawKey, const QVariant& value)
{
    if (!failed_)
        frames_.last().values.insert(rawKey, value);
}

void KeyedArchiver::encodeObject(const QVariant& object, const QString& key)
{
    set(escapedKey(key), reference(object));
}

void KeyedArchiver::encodeBool(bool value, const QString& key) { set(escapedKey(key), values::fromBool(value)); }
void KeyedArchiver::encodeInt32(qint32 value, const QString& key) { set(escapedKey(key), values::fromSigned(value)); }
void KeyedArchiver::encodeInt64(qint64 value, const QString& key) { set(escapedKey(key), values::fromSigned(value)); }
void KeyedArchiver::encodeFloat(float value, const QString& key) { set(escapedKey(key), values::fromReal(double(value))); }
void KeyedArchiver::encodeDouble(double value, const QString& key) { set(escapedKey(key), values::fromReal(value)); }
void KeyedArchiver::encodeBytes(const QByteArray& bytes, const QString& key) { set(escapedKey(key), values::fromData(bytes)); }

quint64 KeyedArchiver::append(const QVariant& plistValue)
{
    objects_.append(plistValue);
    return quint64(objects_.size() - 1);
}

QVariant KeyedArchiver::classReference(const QString& className)
{
    const auto known = classes_.constFind(className);
    if (known != classes_.cend())
        return uid(*known);
    QVariantList chain;
    for (const QString& name : ClassRegistry::shared().classChain(className))
        chain.append(values::fromString(name));
    QVariantMap dictionary;
    dictionary.insert(QStringLiteral("$classname"), values::fromString(className));
    dictionary.insert(QStringLiteral("$classes"), values::fromArray(chain));
    const quint64 index = append(values::fromDictionary(dictionary));
    classes_.insert(className, index);
    return uid(index);
}

QVariant KeyedArchiver::reference(const QVariant& value)
{
    if (failed_)
        return uid(0);
    switch (values::kindOf(value)) {
    case values::Kind::Invalid:
        if (value.isValid()) {
            failWithReason(QStringLiteral("cannot archive a value of type %1").arg(QString::fromLatin1(value.typeName())));
            return uid(0);
        }
        return uid(0); // nil
    case values::Kind::Bool:
        return uid(append(values::fromBool(value.toBool())));
    case values::Kind::Signed:
        return uid(append(values::fromSigned(value.toLongLong())));
    case values::Kind::Unsigned:
        return uid(append(values::fromUnsigned(value.toULongLong())));
    case values::Kind::Real:
        return uid(append(values::fromReal(value.toDouble())));
    case values::Kind::String: {
        const QString text = value.toString();
        const auto known = strings_.constFind(text);
        if (known != strings_.cend())
            return uid(*known);
        const quint64 index = append(values::fromString(text));
        strings_.insert(text, index);
        return uid(index);
    }
    case values::Kind::Data:
        return uid(append(values::fromData(value.toByteArray())));
    case values::Kind::Date: {
        if (!value.toDateTime().isValid()) {
            failWithReason(QStringLiteral("cannot archive an invalid date"));
            return uid(0);
        }
        const qint64 msecs = value.toDateTime().toMSecsSinceEpoch() - kReferenceDateMSecs;
        const quint64 index = append(QVariant());
        QVariantMap date;
        date.insert(QStringLiteral("NS.time"), values::fromReal(double(msecs) / 1000.0));
        date.insert(QStringLiteral("$class"), classReference(QStringLiteral("NSDate")));
        objects_[qsizetype(index)] = values::fromDictionary(date);
        return uid(index);
    }
    case values::Kind::Array: {
        const quint64 index = append(QVariant());
        QVariantList refs;
        for (const QVariant& item : value.toList()) {
            if (!item.isValid()) {
                failWithReason(QStringLiteral("cannot archive nil inside an array"));
                return uid(0);
            }
            refs.append(reference(item));
        }
        QVariantMap array;
        array.insert(QStringLiteral("NS.objects"), values::fromArray(refs));
        array.insert(QStringLiteral("$class"), classReference(QStringLiteral("NSArray")));
        objects_[qsizetype(index)] = values::fromDictionary(array);
        return uid(index);
    }
    case values::Kind::Dictionary: {
        const quint64 index = append(QVariant());
        const QVariantMap map = value.toMap();
        QVariantList keys;
        QVariantList refs;
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            if (!it.value().isValid()) {
                failWithReason(QStringLiteral("cannot archive nil for dictionary key \"%1\"").arg(it.key()));
                return uid(0);
            }
            keys.append(reference(values::fromString(it.key())));
            refs.append(reference(it.value()));
        }
        QVariantMap dictionary;
        dictionary.insert(QStringLiteral("NS.keys"), values::fromArray(keys));
        dictionary.insert(QStringLiteral("NS.objects"), values::fromArray(refs));
        dictionary.insert(QStringLiteral("$class"), classReference(QStringLiteral("NSDictionary")));
        objects_[qsizetype(index)] = values::fromDictionary(dictionary);
        return uid(index);
    }
    case values::Kind::Object:
        return referenceObject(values::toObject(value));
    }
    return uid(0);
}

QVariant KeyedArchiver::referenceObject(const ObjectRef& object)
{
    const auto known = shared_.constFind(object.get());
    if (known != shared_.cend())
        return uid(*known);
    // The index is taken before the object encodes itself, so a reference back to it resolves.
    const quint64 index = append(QVariant());
    shared_.insert(object.get(), index);
    retained_.append(object);
    frames_.append(Frame{});
    object->encodeWithCoder(*this);
    Frame frame = frames_.takeLast();
    if (failed_)
        return uid(0);
    frame.values.insert(QStringLiteral("$class"), classReference(object->className()));
    objects_[qsizetype(index)] = values::fromDictionary(frame.values);
    return uid(index);
}

QVariant KeyedArchiver::encodeScalar(char code, const void* address)
{
    switch (code) {
    case 'c': return values::fromSigned(load<qint8>(address));
    case 'C': return values::fromSigned(load<quint8>(address));
    case 's': return values::fromSigned(load<qint16>(address));
    case 'S': return values::fromSigned(load<quint16>(address));
    case 'i':
    case 'l': return values::fromSigned(load<qint32>(address));
    case 'I':
    case 'L': return values::fromSigned(load<quint32>(address));
    case 'q': return values::fromSigned(load<qint64>(address));
    case 'Q': return values::fromUnsigned(load<quint64>(address));
    case 'f': return values::fromReal(double(load<float>(address)));
    case 'd': return values::fromReal(load<double>(address));
    default: break;
    }
    return {};
}

QVariant KeyedArchiver::oldStyleArray(char code, quint64 count, const void* address)
{
    const int size = KeyedCoderTypes::scalarSize(code);
    const quint64 index = append(QVariant());
    QVariantMap array;
    const auto* bytes = static_cast<const char*>(address);
    for (quint64 i = 0; i < count; ++i)
        array.insert(KeyedCoderTypes::sequentialKey(i), encodeScalar(code, bytes + i * quint64(size)));
    array.insert(QStringLiteral("NS.count"), values::fromSigned(qint64(count)));
    array.insert(QStringLiteral("NS.size"), values::fromSigned(size));
    array.insert(QStringLiteral("NS.type"), values::fromSigned(code));
    array.insert(QStringLiteral("$class"), classReference(KeyedCoderTypes::oldStyleArrayClass));
    objects_[qsizetype(index)] = values::fromDictionary(array);
    return uid(index);
}

void KeyedArchiver::encodeValuesOfObjCTypes(const char* types, const void* const* addresses)
{
    if (failed_)
        return;
    const auto items = KeyedCoderTypes::parse(types);
    if (!items) {
        failWithReason(QStringLiteral("cannot archive values of type \"%1\"").arg(QString::fromLatin1(types)));
        return;
    }
    for (qsizetype i = 0; i < items->size() && !failed_; ++i) {
        const KeyedCoderTypes::Item& item = items->at(i);
        const void* address = addresses[i];
        QVariant value;
        if (item.isArray) {
            value = oldStyleArray(item.code, item.count, address);
        } else if (item.code == '@') {
            value = reference(*static_cast<const QVariant*>(address));
        } else if (item.code == '*') {
            // A C string is archived as a string object, as the original did for NSValue's type string.
            const QByteArray& text = *static_cast<const QByteArray*>(address);
            const QString string = QString::fromUtf8(text);
            if (!text.isNull() && string.toUtf8() != text) {
                failWithReason(QStringLiteral("cannot archive a C string that is not UTF-8"));
                return;
            }
            value = text.isNull() ? uid(0) : reference(values::fromString(string));
        } else {
            value = encodeScalar(item.code, address);
        }
        Frame& frame = frames_.last();
        frame.values.insert(KeyedCoderTypes::sequentialKey(frame.sequentialIndex++), value);
    }
}

bool KeyedArchiver::decodeValuesOfObjCTypes(const char*, void* const*)
{
    KV_ASSERTION_FAILED("decodeValuesOfObjCTypes on an archiver");
    failWithReason(QStringLiteral("decode call on an archiver"));
    return false;
}

} // namespace platform
