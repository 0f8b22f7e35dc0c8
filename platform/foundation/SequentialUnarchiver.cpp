#include "platform/foundation/SequentialUnarchiver.h"

#include "platform/foundation/Assert.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/TypedStream.h"
#include "platform/foundation/Values.h"

#include <QDateTime>
#include <QVariantMap>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace platform {

using namespace typedstream;

namespace {

constexpr qint64 kReferenceDateMSecs = 978307200000LL; // 2001-01-01 00:00:00 UTC
constexpr double kMaxDateSeconds = 1e13;              // far beyond any real date, well inside QDateTime
constexpr quint64 kUnbounded = std::numeric_limits<quint64>::max();

enum EntryKind { kObject, kClass, kCString };

bool fitsWidth(qint64 value, int width)
{
    if (width >= 8)
        return true;
    const qint64 low = -(qint64(1) << (8 * width - 1));
    const qint64 high = (qint64(1) << (8 * width)) - 1;
    return value >= low && value <= high;
}

// The width's bits of `value`, read back as the signed or unsigned C type of that width.
qint64 signExtended(qint64 value, int width)
{
    switch (width) {
    case 1: return qint8(value);
    case 2: return qint16(value);
    case 4: return qint32(value);
    default: return value;
    }
}

quint64 zeroExtended(qint64 value, int width)
{
    return width >= 8 ? quint64(value) : quint64(value) & ((quint64(1) << (8 * width)) - 1);
}

template <typename T>
void store(void* address, T value)
{
    std::memcpy(address, &value, sizeof value);
}

void storeInteger(char code, void* address, qint64 value)
{
    switch (integerWidth(code)) {
    case 1: store(address, quint8(value)); break;
    case 2: store(address, quint16(value)); break;
    case 4: store(address, quint32(value)); break;
    default: store(address, quint64(value)); break;
    }
}

// The fewest input bytes a value of this type takes; every value takes at least one, so a count
// checked against the remaining input bounds what we allocate.
quint64 minimumBytes(const TypeNode& node)
{
    if (node.code == '[') {
        const quint64 element = minimumBytes(node.children.front());
        if (node.count == 0 || element == 0)
            return 0;
        return node.count > kUnbounded / element ? kUnbounded : node.count * element;
    }
    if (node.code == '{') {
        quint64 sum = 0;
        for (const TypeNode& field : node.children) {
            const quint64 m = minimumBytes(field);
            sum = m > kUnbounded - sum ? kUnbounded : sum + m;
        }
        return sum;
    }
    return 1;
}

bool isAddressScalar(char code)
{
    return (isIntegerCode(code) && code != 'B') || isRealCode(code);
}

// 'l' and 'L' are the 32-bit 'i' and 'I' here.
QByteArray normalisedTypes(QByteArray types)
{
    for (char& c : types) {
        if (c == 'l')
            c = 'i';
        else if (c == 'L')
            c = 'I';
    }
    return types;
}

QString printable(const QByteArray& types)
{
    return QString::fromLatin1(types.left(64).toPercentEncoding("[]{}=+@*#:%^"));
}

} // namespace

struct SequentialUnarchiver::Entry {
    int kind = kObject;
    bool complete = false; // objects: decoded (a reference to an unfinished object is a cycle)
    quint64 cost = 0;      // objects: expanded cost
    QVariant value;
    QString className;
    QByteArray text;
};

SequentialUnarchiver::SequentialUnarchiver(const QByteArray& data, const UnarchiveOptions& options)
    : options_(options), data_(data)
{
    pos_ = data_.constData();
    end_ = pos_ + data_.size();
    budget_.setInputSize(options_.limits, data_.size());
    if (data_.size() > options_.limits.maxInputBytes) {
        fail(QStringLiteral("archive of %1 bytes exceeds the limit of %2").arg(data_.size()).arg(options_.limits.maxInputBytes));
        return;
    }
    // Version 4, then the signature as a counted string, then the system version.
    const QByteArray magic = QByteArray(1, char(kStreamerVersion)) + char(sizeof kSignature - 1) + kSignature;
    qint64 systemVersion = 0;
    if (!data_.startsWith(magic)) {
        fail(QStringLiteral("not a typedstream archive"));
        return;
    }
    pos_ += magic.size();
    readInteger(systemVersion);
}

SequentialUnarchiver::~SequentialUnarchiver() = default;

QVariant SequentialUnarchiver::unarchiveObjectWithData(const QByteArray& data, const UnarchiveOptions& options)
{
    SequentialUnarchiver unarchiver(data, options);
    const QVariant root = unarchiver.decodeObject();
    return unarchiver.failed_ ? QVariant() : root;
}

std::optional<QVariantList> SequentialUnarchiver::decodeNextValues()
{
    if (atEnd())
        return std::nullopt;
    QVariantList values;
    if (!readGenericGroup(values))
        return std::nullopt;
    return values;
}

bool SequentialUnarchiver::atEnd() const
{
    return failed_ || pos_ >= end_;
}

qint64 SequentialUnarchiver::versionForClassName(const QString& className) const
{
    return versions_.value(className, 0);
}

void SequentialUnarchiver::failWithReason(const QString& reason)
{
    fail(reason);
}

bool SequentialUnarchiver::endsEarly()
{
    if (!options_.keepWhatPrecedesACut)
        return fail(QStringLiteral("archive ends early"));
    if (!cut_)
        log("SequentialUnarchiver", QStringLiteral("archive ends early at byte %1 of %2; keeping what came before")
                                        .arg(pos_ - data_.constData()).arg(data_.size()));
    cut_ = true;
    pos_ = end_; // nothing after the cut is read, not even what a count check stopped short of
    return false;
}

bool SequentialUnarchiver::fail(const QString& reason)
{
    if (!failed_) {
        failed_ = true;
        log("SequentialUnarchiver", reason);
    }
    return false;
}

void SequentialUnarchiver::encodeValuesOfObjCTypes(const char*, const void* const*)
{
    KV_ASSERTION_FAILED("encodeValuesOfObjCTypes on an unarchiver");
    fail(QStringLiteral("encode call on an unarchiver"));
}

bool SequentialUnarchiver::decodeValuesOfObjCTypes(const char* types, void* const* addresses)
{
    if (failed_)
        return false;
    if (!types || !addresses)
        return fail(QStringLiteral("decode call without types or addresses"));
    const QByteArray requested(types);
    const auto nodes = parseTypes(requested, 2);
    bool supported = nodes.has_value();
    for (size_t i = 0; supported && i < nodes->size(); ++i) {
        const TypeNode& node = (*nodes)[i];
        supported = isAddressScalar(node.code) || node.code == '@' || node.code == '*'
                    || (node.code == '[' && isAddressScalar(node.children.front().code));
    }
    if (!supported)
        return fail(QStringLiteral("cannot decode values of type \"%1\"").arg(printable(requested)));

    QByteArray found;
    if (!readGroupTypes(found))
        return false;
    if (normalisedTypes(found) != normalisedTypes(requested))
        return fail(QStringLiteral("type mismatch: archive has \"%1\", asked for \"%2\"")
                        .arg(printable(found), printable(requested)));
    for (size_t i = 0; i < nodes->size(); ++i) {
        if (!readValueInto((*nodes)[i], addresses[i]))
            return false;
    }
    return true;
}

// --- Bytes and integers --------------------------------------------------------------------------------

bool SequentialUnarchiver::readByte(quint8& b)
{
    if (failed_)
        return false;
    if (pos_ >= end_)
        return endsEarly();
    b = quint8(*pos_++);
    return true;
}

bool SequentialUnarchiver::peekByte(quint8& b) const
{
    if (failed_ || pos_ >= end_)
        return false;
    b = quint8(*pos_);
    return true;
}

bool SequentialUnarchiver::readBytes(qsizetype count, const char*& bytes)
{
    if (failed_)
        return false;
    if (count < 0 || count > remaining())
        return endsEarly();
    bytes = pos_;
    pos_ += count;
    return true;
}

bool SequentialUnarchiver::readInteger(qint64& value)
{
    quint8 head = 0;
    return readByte(head) && readIntegerAfter(head, value);
}

bool SequentialUnarchiver::readIntegerAfter(quint8 head, qint64& value)
{
    const char* bytes = nullptr;
    switch (head) {
    case kTagInt16:
        if (!readBytes(2, bytes))
            return false;
        value = qFromLittleEndian<qint16>(bytes);
        return true;
    case kTagInt32:
        if (!readBytes(4, bytes))
            return false;
        value = qFromLittleEndian<qint32>(bytes);
        return true;
    case kTagInt64:
        if (!readBytes(8, bytes))
            return false;
        value = qFromLittleEndian<qint64>(bytes);
        return true;
    default:
        if (qint8(head) >= kTagFirst && qint8(head) <= kTagLast)
            return fail(QStringLiteral("unexpected tag 0x%1 where an integer belongs").arg(head, 2, 16, QLatin1Char('0')));
        value = qint8(head);
        return true;
    }
}

bool SequentialUnarchiver::readReference(quint8 head, qint64& index)
{
    qint64 value = 0;
    if (head != kTagInt16 && head != kTagInt32 && qint8(head) >= kTagFirst && qint8(head) <= kTagLast)
        return fail(QStringLiteral("unexpected tag 0x%1 where a reference belongs").arg(head, 2, 16, QLatin1Char('0')));
    if (!readIntegerAfter(head, value))
        return false;
    index = value - kReferenceBase;
    if (index < 0)
        return fail(QStringLiteral("bad reference %1").arg(value));
    return true;
}

bool SequentialUnarchiver::readFloat(float& value)
{
    quint8 head = 0;
    if (!peekByte(head))
        return readByte(head); // reports the failure
    if (head == kTagReal) {
        const char* bytes = nullptr;
        ++pos_;
        if (!readBytes(4, bytes))
            return false;
        value = qFromLittleEndian<float>(bytes);
        return true;
    }
    qint64 integral = 0;
    if (!readInteger(integral))
        return false;
    value = float(integral);
    return true;
}

bool SequentialUnarchiver::readDouble(double& value)
{
    quint8 head = 0;
    if (!peekByte(head))
        return readByte(head);
    if (head == kTagReal) {
        const char* bytes = nullptr;
        ++pos_;
        if (!readBytes(8, bytes))
            return false;
        value = qFromLittleEndian<double>(bytes);
        return true;
    }
    qint64 integral = 0;
    if (!readInteger(integral))
        return false;
    value = double(integral);
    return true;
}

// --- Strings, tables and classes ----------------------------------------------------------------------

bool SequentialUnarchiver::readUnsharedString(QByteArray& bytes)
{
    qint64 length = 0;
    if (!readInteger(length))
        return false;
    if (length < 0 || length > options_.limits.maxDataBytes)
        return fail(QStringLiteral("string of %1 bytes exceeds the limit").arg(length));
    const char* data = nullptr;
    if (!readBytes(qsizetype(length), data))
        return false;
    bytes = QByteArray(data, qsizetype(length));
    return true;
}

bool SequentialUnarchiver::readSharedString(QByteArray& text, bool& isNil)
{
    quint8 head = 0;
    if (!readByte(head))
        return false;
    isNil = head == kTagNil;
    if (isNil) {
        text = QByteArray();
        return true;
    }
    if (head == kTagNew) {
        if (qsizetype(sharedStrings_.size()) >= options_.limits.maxObjects)
            return fail(QStringLiteral("more than %1 shared strings").arg(options_.limits.maxObjects));
        if (!readUnsharedString(text))
            return false;
        sharedStrings_.push_back(text);
        return true;
    }
    qint64 index = 0;
    if (!readReference(head, index))
        return false;
    if (index >= qint64(sharedStrings_.size()))
        return fail(QStringLiteral("string reference %1 out of range").arg(index));
    text = sharedStrings_[size_t(index)];
    return true;
}

bool SequentialUnarchiver::addEntry(int kind, qint64& index)
{
    if (qsizetype(entries_.size()) >= options_.limits.maxObjects)
        return fail(QStringLiteral("more than %1 objects").arg(options_.limits.maxObjects));
    index = qint64(entries_.size());
    Entry entry;
    entry.kind = kind;
    entry.complete = kind != kObject;
    entries_.push_back(std::move(entry));
    return true;
}

bool SequentialUnarchiver::readCString(QByteArray& text)
{
    quint8 head = 0;
    if (!readByte(head))
        return false;
    if (head == kTagNil) {
        text = QByteArray();
        return true;
    }
    if (head == kTagNew) {
        qint64 index = 0;
        bool isNil = false;
        if (!addEntry(kCString, index) || !readSharedString(text, isNil))
            return false;
        if (isNil)
            return fail(QStringLiteral("C string without text"));
        entries_[size_t(index)].text = text;
        return countExpansion(ExpansionBudget::kCostPerValue + quint64(text.size()));
    }
    qint64 index = 0;
    if (!readReference(head, index))
        return false;
    if (index >= qint64(entries_.size()) || entries_[size_t(index)].kind != kCString)
        return fail(QStringLiteral("C string reference %1 out of range").arg(index));
    text = entries_[size_t(index)].text;
    return countExpansion(ExpansionBudget::kCostPerValue + quint64(text.size()));
}

bool SequentialUnarchiver::readClass(qint64& classIndex)
{
    classIndex = -1;
    // Iterative: a chain is as long as the input makes it, each class an entry under maxObjects.
    for (;;) {
        quint8 head = 0;
        if (!readByte(head))
            return false;
        if (head == kTagNil)
            return true;
        if (head == kTagNew) {
            qint64 index = 0;
            QByteArray name;
            bool isNil = false;
            qint64 version = 0;
            if (!addEntry(kClass, index) || !readSharedString(name, isNil) || !readInteger(version))
                return false;
            if (isNil || name.isEmpty())
                return fail(QStringLiteral("class without a name"));
            const QString className = QString::fromUtf8(name);
            entries_[size_t(index)].className = className;
            if (!versions_.contains(className))
                versions_.insert(className, version);
            if (classIndex < 0)
                classIndex = index;
            continue;
        }
        qint64 index = 0;
        if (!readReference(head, index))
            return false;
        if (index >= qint64(entries_.size()) || entries_[size_t(index)].kind != kClass)
            return fail(QStringLiteral("class reference %1 out of range").arg(index));
        if (classIndex < 0)
            classIndex = index;
        return true; // a known class brings its superclasses with it
    }
}

// --- Groups and values --------------------------------------------------------------------------------

bool SequentialUnarchiver::readGroupTypes(QByteArray& types)
{
    quint8 head = 0;
    if (!peekByte(head))
        return readByte(head);
    if (head == kTagEndOfObject && objectBodies_ > 0)
        return fail(QStringLiteral("read past the end of an object's coded values"));
    bool isNil = false;
    if (!readSharedString(types, isNil))
        return false;
    if (isNil || types.isEmpty())
        return fail(QStringLiteral("group without a type string"));
    return true;
}

bool SequentialUnarchiver::expectGroup(const char* types)
{
    QByteArray found;
    if (!readGroupTypes(found))
        return false;
    if (found != types)
        return fail(QStringLiteral("expected a \"%1\" group, found \"%2\"").arg(QLatin1String(types), printable(found)));
    return true;
}

bool SequentialUnarchiver::readValueInto(const TypeNode& node, void* address)
{
    switch (node.code) {
    case '@':
        return readObject(*static_cast<QVariant*>(address));
    case '*':
        return readCString(*static_cast<QByteArray*>(address));
    case 'f': {
        float v = 0;
        if (!readFloat(v))
            return false;
        store(address, v);
        return true;
    }
    case 'd': {
        double v = 0;
        if (!readDouble(v))
            return false;
        store(address, v);
        return true;
    }
    case '[':
        return readScalarArray(node.children.front().code, node.count, address);
    default: {
        qint64 v = 0;
        if (!readInteger(v))
            return false;
        if (!fitsWidth(v, integerWidth(node.code)))
            return fail(QStringLiteral("integer %1 does not fit type '%2'").arg(v).arg(QLatin1Char(node.code)));
        storeInteger(node.code, address, v);
        return true;
    }
    }
}

bool SequentialUnarchiver::readScalarArray(char code, quint64 count, void* address)
{
    auto* out = static_cast<char*>(address);
    if (code == 'c' || code == 'C') {
        if (count > quint64(options_.limits.maxDataBytes))
            return fail(QStringLiteral("array of %1 bytes exceeds the limit").arg(count));
        const char* bytes = nullptr;
        if (!readBytes(qsizetype(count), bytes))
            return false;
        if (count > 0)
            std::memcpy(out, bytes, size_t(count));
        return true;
    }
    if (count > quint64(options_.limits.maxElements))
        return fail(QStringLiteral("array of %1 elements exceeds the limit").arg(count));
    if (count > quint64(remaining()))
        return endsEarly();
    if (code == 'f' || code == 'd') {
        for (quint64 i = 0; i < count; ++i) {
            if (code == 'f') {
                float v = 0;
                if (!readFloat(v))
                    return false;
                store(out + i * sizeof v, v);
            } else {
                double v = 0;
                if (!readDouble(v))
                    return false;
                store(out + i * sizeof v, v);
            }
        }
        return true;
    }
    // Integers go straight into the caller's packed array; one-byte values, the common case, inline.
    const int width = integerWidth(code);
    for (quint64 i = 0; i < count; ++i) {
        qint64 v = 0;
        if (pos_ < end_ && (qint8(*pos_) < kTagFirst || qint8(*pos_) > kTagLast)) {
            v = qint8(*pos_++);
        } else if (end_ - pos_ > 4 && quint8(*pos_) == kTagInt32) {
            v = qFromLittleEndian<qint32>(pos_ + 1);
            pos_ += 5;
        } else if (!readInteger(v)) {
            return false;
        }
        if (!fitsWidth(v, width))
            return fail(QStringLiteral("integer %1 does not fit type '%2'").arg(v).arg(QLatin1Char(code)));
        storeInteger(code, out + qsizetype(i) * width, v);
    }
    return true;
}

bool SequentialUnarchiver::readGenericGroup(QVariantList& values)
{
    QByteArray types;
    if (!readGroupTypes(types))
        return false;
    const auto nodes = parseTypes(types, options_.limits.maxDepth);
    if (!nodes)
        return fail(QStringLiteral("bad type string \"%1\"").arg(printable(types)));
    for (const TypeNode& node : *nodes) {
        QVariant value;
        if (!readGenericValue(node, value) || !countInline(node, value))
            return false;
        values.append(value);
    }
    return true;
}

bool SequentialUnarchiver::readGenericValue(const TypeNode& node, QVariant& value)
{
    if (isIntegerCode(node.code)) {
        qint64 v = 0;
        if (!readInteger(v))
            return false;
        const int width = integerWidth(node.code);
        if (!fitsWidth(v, width))
            return fail(QStringLiteral("integer %1 does not fit type '%2'").arg(v).arg(QLatin1Char(node.code)));
        if (node.code == 'B')
            value = values::fromBool(v != 0);
        else if (isSignedIntegerCode(node.code))
            value = values::fromSigned(signExtended(v, width));
        else
            value = values::fromUnsigned(zeroExtended(v, width));
        return true;
    }
    switch (node.code) {
    case 'f': {
        float v = 0;
        if (!readFloat(v))
            return false;
        value = values::fromReal(v);
        return true;
    }
    case 'd': {
        double v = 0;
        if (!readDouble(v))
            return false;
        value = values::fromReal(v);
        return true;
    }
    case '@':
        return readObject(value);
    case '#': {
        qint64 classIndex = -1;
        if (!readClass(classIndex))
            return false;
        value = classIndex < 0 ? QVariant() : values::fromString(entries_[size_t(classIndex)].className);
        return true;
    }
    case '*': {
        QByteArray text;
        if (!readCString(text))
            return false;
        value = text.isNull() ? QVariant() : values::fromData(text);
        return true;
    }
    case '+': {
        QByteArray bytes;
        if (!readUnsharedString(bytes))
            return false;
        value = values::fromData(bytes);
        return true;
    }
    case ':':
    case '%': {
        QByteArray text;
        bool isNil = false;
        if (!readSharedString(text, isNil))
            return false;
        value = isNil ? QVariant() : values::fromString(QString::fromUtf8(text));
        return true;
    }
    case '[':
    case '{': {
        // Type nesting and object nesting share one depth budget: objects inside nested types would
        // otherwise multiply the two bounds on the stack.
        if (depth_ >= options_.limits.maxDepth)
            return fail(QStringLiteral("values nest deeper than %1").arg(options_.limits.maxDepth));
        ++depth_;
        const bool ok = readGenericContainer(node, value);
        --depth_;
        return ok;
    }
    default:
        return fail(QStringLiteral("unsupported type '%1'").arg(QLatin1Char(node.code)));
    }
}

bool SequentialUnarchiver::readGenericContainer(const TypeNode& node, QVariant& value)
{
    switch (node.code) {
    case '[': {
        const TypeNode& element = node.children.front();
        if (element.code == 'c' || element.code == 'C') {
            if (node.count > quint64(options_.limits.maxDataBytes))
                return fail(QStringLiteral("array of %1 bytes exceeds the limit").arg(node.count));
            const char* bytes = nullptr;
            if (!readBytes(qsizetype(node.count), bytes))
                return false;
            value = values::fromData(QByteArray(bytes, qsizetype(node.count)));
            return true;
        }
        if (node.count > quint64(options_.limits.maxElements))
            return fail(QStringLiteral("array of %1 elements exceeds the limit").arg(node.count));
        if (node.count > 0 && minimumBytes(element) == 0)
            return fail(QStringLiteral("array of values that take no bytes"));
        if (minimumBytes(node) > quint64(remaining()))
            return endsEarly();
        QVariantList list;
        list.reserve(qsizetype(node.count));
        for (quint64 i = 0; i < node.count; ++i) {
            QVariant v;
            if (!readGenericValue(element, v) || !countInline(element, v))
                return false;
            list.append(v);
        }
        value = values::fromArray(list);
        return true;
    }
    case '{': {
        QVariantList fields;
        for (const TypeNode& field : node.children) {
            QVariant v;
            if (!readGenericValue(field, v) || !countInline(field, v))
                return false;
            fields.append(v);
        }
        value = values::fromArray(fields);
        return true;
    }
    default:
        return fail(QStringLiteral("unsupported type '%1'").arg(QLatin1Char(node.code)));
    }
}

// --- Objects ------------------------------------------------------------------------------------------

bool SequentialUnarchiver::readObject(QVariant& value)
{
    quint8 head = 0;
    if (!readByte(head))
        return false;
    if (head == kTagNil) {
        value = QVariant();
        return true;
    }
    if (head != kTagNew) {
        qint64 index = 0;
        if (!readReference(head, index))
            return false;
        if (index >= qint64(entries_.size()) || entries_[size_t(index)].kind != kObject)
            return fail(QStringLiteral("object reference %1 out of range").arg(index));
        const Entry& entry = entries_[size_t(index)];
        if (!entry.complete) {
            // Back references (to a parent, say) are common in object graphs. Values and decoders cannot
            // hold them; generic inspection marks them.
            if (!options_.generic)
                return fail(QStringLiteral("reference cycle through object %1").arg(index));
            value = values::fromDictionary({{QStringLiteral("$class"), values::fromString(entry.className)},
                                            {QStringLiteral("$ref"), values::fromSigned(index)}});
            return true;
        }
        value = entry.value;
        return countExpansion(entry.cost);
    }

    qint64 index = 0;
    qint64 classIndex = -1;
    if (!addEntry(kObject, index) || !readClass(classIndex))
        return false;
    if (classIndex < 0)
        return fail(QStringLiteral("object without a class"));
    if (depth_ >= options_.limits.maxDepth)
        return fail(QStringLiteral("objects nest deeper than %1").arg(options_.limits.maxDepth));
    const QString className = entries_[size_t(classIndex)].className;
    entries_[size_t(index)].className = className;
    ++depth_;
    QVariant decoded;
    gathering_.append(ExpansionBudget::kCostPerValue);
    const bool ok = readObjectBody(className, decoded);
    quint64 cost = gathering_.takeLast();
    --depth_;
    if (!ok)
        return false;
    if (values::kindOf(decoded) == values::Kind::String)
        cost += quint64(decoded.toString().size()) * 2;
    else if (values::kindOf(decoded) == values::Kind::Data)
        cost += quint64(decoded.toByteArray().size());
    if (!countExpansion(cost))
        return false;
    Entry& entry = entries_[size_t(index)];
    entry.value = decoded;
    entry.cost = cost;
    entry.complete = true;
    value = decoded;
    return true;
}

bool SequentialUnarchiver::countInline(const TypeNode& node, const QVariant& value)
{
    // Objects and C strings count themselves, at every reference.
    if (node.code == '@' || node.code == '*')
        return true;
    quint64 cost = ExpansionBudget::kCostPerValue;
    if (values::kindOf(value) == values::Kind::String)
        cost += quint64(value.toString().size()) * 2;
    else if (values::kindOf(value) == values::Kind::Data)
        cost += quint64(value.toByteArray().size());
    return countExpansion(cost);
}

bool SequentialUnarchiver::countExpansion(quint64 cost)
{
    if (budget_.add(gathering_.last(), cost))
        return true;
    return fail(QStringLiteral("archive expands to more than %1 bytes of values").arg(budget_.limit()));
}

bool SequentialUnarchiver::readObjectBody(const QString& className, QVariant& value)
{
    ++objectBodies_;
    bool handled = false;
    bool ok = readFoundationObject(className, value, handled);
    if (ok && !handled) {
        if (options_.generic) {
            QVariantMap map;
            map.insert(QStringLiteral("$class"), values::fromString(className));
            qsizetype n = 0;
            quint8 head = 0;
            while (ok && peekByte(head) && head != kTagEndOfObject) {
                QVariantList groupValues;
                ok = readGenericGroup(groupValues);
                for (const QVariant& v : groupValues)
                    map.insert(QStringLiteral("$%1").arg(n++), v);
            }
            value = values::fromDictionary(map);
        } else if (!isAllowed(className)) {
            ok = fail(QStringLiteral("class %1 is not allowed").arg(className));
        } else {
            const auto entry = ClassRegistry::shared().entry(className);
            if (!entry || !entry->decoder) {
                ok = fail(QStringLiteral("class %1 has no decoder").arg(className));
            } else {
                const ObjectRef object = entry->decoder(*this);
                ok = !failed_ && !cut_;
                value = values::fromObject(object);
            }
        }
    }
    --objectBodies_;
    if (!ok)
        return false;
    // A Foundation value read whole, or a container cut short with the elements before the cut, stays
    // though its end is not there to read.
    const bool ended = (handled && cut_) || readEndOfObject(className);
    return ended || (handled && cut_ && !failed_);
}

bool SequentialUnarchiver::readEndOfObject(const QString& className)
{
    quint8 head = 0;
    if (!readByte(head))
        return false;
    if (head != kTagEndOfObject)
        return fail(QStringLiteral("%1 left coded values unread").arg(className));
    return true;
}

bool SequentialUnarchiver::isAllowed(const QString& className) const
{
    const ClassRegistry& registry = ClassRegistry::shared();
    for (const QString& allowed : options_.allowedClasses) {
        if (registry.isKindOf(className, allowed))
            return true;
    }
    return false;
}

bool SequentialUnarchiver::readFoundationObject(const QString& className, QVariant& value, bool& handled)
{
    handled = true;
    const ArchiveLimits& limits = options_.limits;
    if (className == QLatin1String("NSString") || className == QLatin1String("NSMutableString")) {
        QByteArray utf8;
        if (!expectGroup("+") || !readUnsharedString(utf8))
            return false;
        value = values::fromString(QString::fromUtf8(utf8));
        return true;
    }
    if (className == QLatin1String("NSNumber")) {
        QByteArray type;
        if (!expectGroup("*") || !readCString(type))
            return false;
        if (type.size() != 1 || !(isIntegerCode(type[0]) || isRealCode(type[0])))
            return fail(QStringLiteral("number of type \"%1\"").arg(printable(type)));
        if (!expectGroup(type.constData()))
            return false;
        const char code = type[0];
        if (isRealCode(code)) {
            double d = 0;
            float f = 0;
            if (code == 'f' ? !readFloat(f) : !readDouble(d))
                return false;
            value = values::fromReal(code == 'f' ? double(f) : d);
            return true;
        }
        qint64 v = 0;
        if (!readInteger(v))
            return false;
        const int width = integerWidth(code);
        if (!fitsWidth(v, width))
            return fail(QStringLiteral("integer %1 does not fit type '%2'").arg(v).arg(QLatin1Char(code)));
        // Booleans are numbers of type 'c' holding 0 or 1.
        if (code == 'B' || (code == 'c' && (v == 0 || v == 1)))
            value = values::fromBool(v != 0);
        else if (isSignedIntegerCode(code))
            value = values::fromSigned(signExtended(v, width));
        else
            value = values::fromUnsigned(zeroExtended(v, width));
        return true;
    }
    if (className == QLatin1String("NSData") || className == QLatin1String("NSMutableData")) {
        qint64 length = 0;
        if (!expectGroup("i") || !readInteger(length))
            return false;
        if (length < 0 || length > limits.maxDataBytes)
            return fail(QStringLiteral("data of %1 bytes exceeds the limit").arg(length));
        quint8 head = 0;
        if (length == 0 && peekByte(head) && head == kTagEndOfObject) {
            value = values::fromData(QByteArray(""));
            return true;
        }
        QByteArray types;
        if (!readGroupTypes(types))
            return false;
        if (types != "[" + QByteArray::number(length) + "c]" && types != "[" + QByteArray::number(length) + "C]")
            return fail(QStringLiteral("data of %1 bytes with values of type \"%2\"").arg(length).arg(printable(types)));
        const char* bytes = nullptr;
        if (!readBytes(qsizetype(length), bytes))
            return false;
        value = values::fromData(QByteArray(bytes, qsizetype(length)));
        return true;
    }
    if (className == QLatin1String("NSDate")) {
        double seconds = 0;
        if (!expectGroup("d") || !readDouble(seconds))
            return false;
        if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxDateSeconds)
            return fail(QStringLiteral("date %1 out of range").arg(seconds));
        value = values::fromDate(QDateTime::fromMSecsSinceEpoch(qint64(std::llround(seconds * 1000.0)) + kReferenceDateMSecs,
                                                                Qt::UTC));
        return true;
    }
    const bool isArray = className == QLatin1String("NSArray") || className == QLatin1String("NSMutableArray");
    const bool isDictionary =
        className == QLatin1String("NSDictionary") || className == QLatin1String("NSMutableDictionary");
    if (!isArray && !isDictionary) {
        handled = false;
        return true;
    }
    qint64 count = 0;
    if (!expectGroup("i") || !readInteger(count))
        return false;
    // Each element takes at least two bytes: its "@" group's type reference and the object.
    const qint64 leastBytes = isDictionary ? 4 : 2;
    if (count < 0 || count > limits.maxElements)
        return fail(QStringLiteral("container of %1 elements exceeds the limit").arg(count));
    // Salvaging reads the elements that are there; the reservation stays within what the input can hold.
    if (count > remaining() / leastBytes && !options_.keepWhatPrecedesACut)
        return endsEarly();
    const auto cutShort = [this] { return cut_ && !failed_; };
    if (isArray) {
        QVariantList list;
        list.reserve(qsizetype(std::min<qint64>(count, remaining() / leastBytes)));
        for (qint64 i = 0; i < count; ++i) {
            QVariant element;
            if (!expectGroup("@") || !readObject(element)) {
                if (!cutShort())
                    return false;
                break;
            }
            list.append(element);
        }
        value = values::fromArray(list);
        return true;
    }
    QVariantMap map;
    for (qint64 i = 0; i < count; ++i) {
        QVariant key;
        QVariant element;
        if (!expectGroup("@") || !readObject(key)) {
            if (!cutShort())
                return false;
            break;
        }
        const auto text = values::toString(key);
        if (!text)
            return fail(QStringLiteral("dictionary key of kind %1").arg(QLatin1String(values::kindName(values::kindOf(key)))));
        if (!expectGroup("@") || !readObject(element)) {
            if (!cutShort())
                return false;
            break;
        }
        map.insert(*text, element);
    }
    value = values::fromDictionary(map);
    return true;
}

} // namespace platform
