#include "platform/foundation/SequentialArchiver.h"

#include "platform/foundation/Archivable.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TypedStream.h"
#include "platform/foundation/Values.h"

#include <QtEndian>

#include <algorithm>

#include <cmath>
#include <cstring>
#include <limits>

namespace platform {

using namespace typedstream;

namespace {

// Seconds between the Unix epoch and the original platform's reference date, 2001-01-01 00:00:00 UTC.
constexpr qint64 kReferenceDateMSecs = 978307200000LL;

// Enough nesting for any type string a class of ours writes.
constexpr int kMaxTypeDepth = 32;

// Writes `value` in its shortest form; returns the bytes written.
inline int encodeInteger(char* out, qint64 value)
{
    if (value >= kReferenceBase && value <= 127) {
        out[0] = char(value);
        return 1;
    }
    if (value >= std::numeric_limits<qint16>::min() && value <= std::numeric_limits<qint16>::max()) {
        out[0] = char(kTagInt16);
        qToLittleEndian(qint16(value), out + 1);
        return 3;
    }
    if (value >= std::numeric_limits<qint32>::min() && value <= std::numeric_limits<qint32>::max()) {
        out[0] = char(kTagInt32);
        qToLittleEndian(qint32(value), out + 1);
        return 5;
    }
    out[0] = char(kTagInt64);
    qToLittleEndian(value, out + 1);
    return 9;
}

// An integer of the code's width as the signed value of the same bits, so unsigned values take the
// same bytes a reader of the signed form expects.
template <typename T>
inline qint64 signedBits(const void* address)
{
    T v;
    std::memcpy(&v, address, sizeof v);
    using S = std::make_signed_t<T>;
    return qint64(S(v));
}

qint64 integerAt(char code, const void* address)
{
    switch (code) {
    case 'c': case 'C': return signedBits<quint8>(address);
    case 's': case 'S': return signedBits<quint16>(address);
    case 'i': case 'I': case 'l': case 'L': return signedBits<quint32>(address);
    default: return signedBits<quint64>(address);
    }
}

bool isAddressScalar(char code)
{
    return (isIntegerCode(code) && code != 'B') || isRealCode(code);
}

QByteArray typeOfNumber(const QVariant& value)
{
    switch (values::kindOf(value)) {
    case values::Kind::Bool: return QByteArrayLiteral("c");
    case values::Kind::Signed: return QByteArrayLiteral("q");
    case values::Kind::Unsigned: return QByteArrayLiteral("Q");
    default: return QByteArrayLiteral("d");
    }
}

} // namespace

SequentialArchiver::SequentialArchiver()
{
    writeByte(kStreamerVersion);
    writeUnsharedString(QByteArray(kSignature));
    writeInteger(kSystemVersion);
}

QByteArray SequentialArchiver::archivedDataWithRootObject(const QVariant& root)
{
    SequentialArchiver archiver;
    archiver.encodeRootObject(root);
    return archiver.archivedData();
}

QByteArray SequentialArchiver::archivedData() const
{
    return failed_ ? QByteArray() : out_;
}

void SequentialArchiver::failWithReason(const QString& reason)
{
    if (failed_)
        return;
    failed_ = true;
    log("SequentialArchiver", reason);
}

bool SequentialArchiver::decodeValuesOfObjCTypes(const char*, void* const*)
{
    KV_ASSERTION_FAILED("decodeValuesOfObjCTypes on an archiver");
    failWithReason(QStringLiteral("decode call on an archiver"));
    return false;
}

void SequentialArchiver::encodeValuesOfObjCTypes(const char* types, const void* const* addresses)
{
    if (failed_)
        return;
    if (!types || !addresses || !writeValues(types, addresses))
        failWithReason(QStringLiteral("cannot encode values of type \"%1\"").arg(QString::fromLatin1(types ? types : "")));
}

bool SequentialArchiver::writeValues(const char* types, const void* const* addresses)
{
    const QByteArray typeString(types);
    const auto nodes = parseTypes(typeString, kMaxTypeDepth);
    if (!nodes)
        return false;
    for (const TypeNode& node : *nodes) {
        const bool scalar = isAddressScalar(node.code) || node.code == '@' || node.code == '*';
        const bool scalarArray = node.code == '[' && isAddressScalar(node.children.front().code);
        if (!scalar && !scalarArray)
            return false;
        if (scalarArray && node.count > quint64(std::numeric_limits<qsizetype>::max() / 16))
            return false;
    }

    writeGroupHeader(typeString);
    for (size_t i = 0; i < nodes->size() && !failed_; ++i) {
        const TypeNode& node = (*nodes)[i];
        const void* address = addresses[i];
        switch (node.code) {
        case 'f': {
            float v;
            std::memcpy(&v, address, sizeof v);
            writeFloat(v);
            break;
        }
        case 'd': {
            double v;
            std::memcpy(&v, address, sizeof v);
            writeDouble(v);
            break;
        }
        case '@':
            writeObject(*static_cast<const QVariant*>(address));
            break;
        case '*':
            writeCString(*static_cast<const QByteArray*>(address));
            break;
        case '[':
            writeIntegerArray(node.children.front().code, node.count, address);
            break;
        default:
            writeInteger(integerAt(node.code, address));
            break;
        }
    }
    return true;
}

void SequentialArchiver::writeIntegerArray(char code, quint64 count, const void* address)
{
    const auto* bytes = static_cast<const char*>(address);
    if (code == 'c' || code == 'C') { // character arrays are raw bytes
        out_.append(bytes, qsizetype(count));
        return;
    }
    if (isRealCode(code)) {
        const qsizetype width = code == 'f' ? 4 : 8;
        for (quint64 i = 0; i < count; ++i) {
            if (code == 'f') {
                float v;
                std::memcpy(&v, bytes + i * width, sizeof v);
                writeFloat(v);
            } else {
                double v;
                std::memcpy(&v, bytes + i * width, sizeof v);
                writeDouble(v);
            }
        }
        return;
    }
    // Bulk path for the long integer arrays of histories: grow once, then write in place.
    const qsizetype width = integerWidth(code);
    const qsizetype start = out_.size();
    const qsizetype needed = start + qsizetype(count) * 9;
    if (out_.capacity() < needed)
        out_.reserve(std::max(needed, 2 * out_.capacity())); // resize alone grows to the exact size
    out_.resize(needed);
    char* cursor = out_.data() + start;
    for (quint64 i = 0; i < count; ++i)
        cursor += encodeInteger(cursor, integerAt(code, bytes + qsizetype(i) * width));
    out_.resize(cursor - out_.constData());
}

void SequentialArchiver::writeInteger(qint64 value)
{
    char buffer[9];
    out_.append(buffer, encodeInteger(buffer, value));
}

void SequentialArchiver::writeReference(qint64 index)
{
    writeInteger(index + kReferenceBase);
}

void SequentialArchiver::writeSharedString(const QByteArray& text)
{
    const auto it = sharedStrings_.constFind(text);
    if (it != sharedStrings_.cend()) {
        writeReference(*it);
        return;
    }
    const qint64 index = sharedStrings_.size();
    sharedStrings_.insert(text, index);
    writeByte(kTagNew);
    writeUnsharedString(text);
}

void SequentialArchiver::writeUnsharedString(const QByteArray& bytes)
{
    writeInteger(bytes.size());
    out_.append(bytes);
}

void SequentialArchiver::writeCString(const QByteArray& text)
{
    if (text.isNull()) {
        writeByte(kTagNil);
        return;
    }
    const auto it = cStrings_.constFind(text);
    if (it != cStrings_.cend()) {
        writeReference(*it);
        return;
    }
    cStrings_.insert(text, nextObjectIndex_++);
    writeByte(kTagNew);
    writeSharedString(text);
}

void SequentialArchiver::writeFloat(float value)
{
    // Integral values travel as integers, as the original writes them; -0 keeps its literal.
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 2147483648.0f
        && !(value == 0 && std::signbit(value))) {
        writeInteger(qint64(value));
        return;
    }
    char buffer[5];
    buffer[0] = char(kTagReal);
    qToLittleEndian(value, buffer + 1);
    out_.append(buffer, 5);
}

void SequentialArchiver::writeDouble(double value)
{
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 2147483648.0
        && !(value == 0 && std::signbit(value))) {
        writeInteger(qint64(value));
        return;
    }
    char buffer[9];
    buffer[0] = char(kTagReal);
    qToLittleEndian(value, buffer + 1);
    out_.append(buffer, 9);
}

void SequentialArchiver::writeClassChain(const ClassChain& chain)
{
    for (const auto& [name, version] : chain) {
        const auto it = classes_.constFind(name);
        if (it != classes_.cend()) {
            writeReference(*it); // a known class carries its superclasses already
            return;
        }
        classes_.insert(name, nextObjectIndex_++);
        writeByte(kTagNew);
        writeSharedString(name.toUtf8());
        writeInteger(version);
    }
    writeByte(kTagNil);
}

void SequentialArchiver::writeObject(const QVariant& value)
{
    if (failed_)
        return;
    const values::Kind kind = values::kindOf(value);
    if (kind == values::Kind::Invalid) {
        if (value.isValid() && value.metaType() != QMetaType::fromType<ObjectRef>()) {
            failWithReason(QStringLiteral("cannot archive a value of type %1").arg(QString::fromLatin1(value.typeName())));
            return;
        }
        writeByte(kTagNil);
        return;
    }
    if (kind == values::Kind::Date && !value.toDateTime().isValid()) {
        writeByte(kTagNil); // as values::fromDate makes of it
        return;
    }
    if (kind != values::Kind::Object) {
        writeFoundationObject(value);
        return;
    }

    const ObjectRef object = values::toObject(value);
    const auto it = objects_.constFind(object.get());
    if (it != objects_.cend()) {
        writeReference(*it);
        return;
    }
    objects_.insert(object.get(), nextObjectIndex_++);
    writeByte(kTagNew);
    const ClassRegistry& registry = ClassRegistry::shared();
    ClassChain chain;
    for (const QString& name : registry.classChain(object->className())) {
        const auto entry = registry.entry(name);
        chain.append({name, entry ? entry->version : 0});
    }
    writeClassChain(chain);
    object->encodeWithCoder(*this);
    writeByte(kTagEndOfObject);
}

void SequentialArchiver::writeFoundationObject(const QVariant& value)
{
    static const ClassChain stringChain{{QStringLiteral("NSString"), 1}, {QStringLiteral("NSObject"), 0}};
    static const ClassChain numberChain{
        {QStringLiteral("NSNumber"), 0}, {QStringLiteral("NSValue"), 0}, {QStringLiteral("NSObject"), 0}};
    static const ClassChain dataChain{{QStringLiteral("NSData"), 0}, {QStringLiteral("NSObject"), 0}};
    static const ClassChain dateChain{{QStringLiteral("NSDate"), 0}, {QStringLiteral("NSObject"), 0}};
    static const ClassChain arrayChain{{QStringLiteral("NSArray"), 0}, {QStringLiteral("NSObject"), 0}};
    static const ClassChain dictionaryChain{{QStringLiteral("NSDictionary"), 0}, {QStringLiteral("NSObject"), 0}};

    // Values have no identity of their own: each one is a new object.
    ++nextObjectIndex_;
    writeByte(kTagNew);
    switch (values::kindOf(value)) {
    case values::Kind::String:
        writeClassChain(stringChain);
        writeGroupHeader(QByteArrayLiteral("+"));
        writeUnsharedString(value.toString().toUtf8());
        break;
    case values::Kind::Bool:
    case values::Kind::Signed:
    case values::Kind::Unsigned:
    case values::Kind::Real: {
        writeClassChain(numberChain);
        const QByteArray type = typeOfNumber(value);
        writeGroupHeader(QByteArrayLiteral("*"));
        writeCString(type);
        writeGroupHeader(type);
        switch (values::kindOf(value)) {
        case values::Kind::Bool: writeInteger(value.toBool() ? 1 : 0); break;
        case values::Kind::Signed: writeInteger(value.toLongLong()); break;
        case values::Kind::Unsigned: writeInteger(qint64(value.toULongLong())); break;
        default: writeDouble(value.toDouble()); break;
        }
        break;
    }
    case values::Kind::Data: {
        const QByteArray bytes = value.toByteArray();
        if (bytes.size() > std::numeric_limits<qint32>::max()) {
            failWithReason(QStringLiteral("data of %1 bytes is too long").arg(bytes.size()));
            return;
        }
        writeClassChain(dataChain);
        writeGroupHeader(QByteArrayLiteral("i"));
        writeInteger(bytes.size());
        writeGroupHeader("[" + QByteArray::number(bytes.size()) + "c]");
        out_.append(bytes);
        break;
    }
    case values::Kind::Date: {
        writeClassChain(dateChain);
        writeGroupHeader(QByteArrayLiteral("d"));
        writeDouble(double(value.toDateTime().toMSecsSinceEpoch() - kReferenceDateMSecs) / 1000.0);
        break;
    }
    case values::Kind::Array: {
        const QVariantList list = value.toList();
        writeClassChain(arrayChain);
        writeGroupHeader(QByteArrayLiteral("i"));
        writeInteger(list.size());
        for (const QVariant& element : list) {
            writeGroupHeader(QByteArrayLiteral("@"));
            writeObject(element);
        }
        break;
    }
    case values::Kind::Dictionary: {
        const QVariantMap map = value.toMap();
        writeClassChain(dictionaryChain);
        writeGroupHeader(QByteArrayLiteral("i"));
        writeInteger(map.size());
        for (auto it = map.cbegin(); it != map.cend(); ++it) {
            writeGroupHeader(QByteArrayLiteral("@"));
            writeObject(values::fromString(it.key()));
            writeGroupHeader(QByteArrayLiteral("@"));
            writeObject(it.value());
        }
        break;
    }
    default:
        break;
    }
    writeByte(kTagEndOfObject);
}

} // namespace platform
