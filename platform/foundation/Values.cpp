#include "platform/foundation/Values.h"

#include <cmath>
#include <limits>

namespace platform::values {

Kind kindOf(const QVariant& value)
{
    if (!value.isValid())
        return Kind::Invalid;
    switch (value.metaType().id()) {
    case QMetaType::Bool:
        return Kind::Bool;
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::Short:
    case QMetaType::Int:
    case QMetaType::Long:
    case QMetaType::LongLong:
        return Kind::Signed;
    case QMetaType::UChar:
    case QMetaType::UShort:
    case QMetaType::UInt:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return Kind::Unsigned;
    case QMetaType::Float:
    case QMetaType::Double:
        return Kind::Real;
    case QMetaType::QString:
        return Kind::String;
    case QMetaType::QByteArray:
        return Kind::Data;
    case QMetaType::QDateTime:
        return Kind::Date;
    case QMetaType::QVariantList:
        return Kind::Array;
    case QMetaType::QVariantMap:
        return Kind::Dictionary;
    default:
        break;
    }
    if (value.metaType() == QMetaType::fromType<ObjectRef>())
        return value.value<ObjectRef>() ? Kind::Object : Kind::Invalid;
    return Kind::Invalid;
}

const char* kindName(Kind kind)
{
    switch (kind) {
    case Kind::Invalid: return "invalid";
    case Kind::Bool: return "bool";
    case Kind::Signed: return "signed";
    case Kind::Unsigned: return "unsigned";
    case Kind::Real: return "real";
    case Kind::String: return "string";
    case Kind::Data: return "data";
    case Kind::Date: return "date";
    case Kind::Array: return "array";
    case Kind::Dictionary: return "dictionary";
    case Kind::Object: return "object";
    }
    return "invalid";
}

bool isNumber(const QVariant& value)
{
    const Kind k = kindOf(value);
    return k == Kind::Bool || k == Kind::Signed || k == Kind::Unsigned || k == Kind::Real;
}

QVariant fromDate(const QDateTime& v)
{
    return v.isValid() ? QVariant(v.toUTC()) : QVariant();
}

std::optional<QString> toString(const QVariant& value)
{
    if (kindOf(value) != Kind::String)
        return std::nullopt;
    return value.toString();
}

std::optional<QByteArray> toData(const QVariant& value)
{
    if (kindOf(value) != Kind::Data)
        return std::nullopt;
    return value.toByteArray();
}

std::optional<QDateTime> toDate(const QVariant& value)
{
    if (kindOf(value) != Kind::Date)
        return std::nullopt;
    return value.toDateTime().toUTC();
}

std::optional<QVariantList> toArray(const QVariant& value)
{
    if (kindOf(value) != Kind::Array)
        return std::nullopt;
    return value.toList();
}

std::optional<QVariantMap> toDictionary(const QVariant& value)
{
    if (kindOf(value) != Kind::Dictionary)
        return std::nullopt;
    return value.toMap();
}

ObjectRef toObject(const QVariant& value)
{
    if (value.metaType() != QMetaType::fromType<ObjectRef>())
        return nullptr;
    return value.value<ObjectRef>();
}

std::optional<bool> toBool(const QVariant& value)
{
    switch (kindOf(value)) {
    case Kind::Bool:
        return value.toBool();
    case Kind::Signed:
        return value.toLongLong() != 0;
    case Kind::Unsigned:
        return value.toULongLong() != 0;
    case Kind::Real: {
        const double d = value.toDouble();
        if (std::isnan(d))
            return std::nullopt;
        return d != 0.0;
    }
    default:
        return std::nullopt;
    }
}

std::optional<qint64> toSigned(const QVariant& value)
{
    switch (kindOf(value)) {
    case Kind::Bool:
        return value.toBool() ? 1 : 0;
    case Kind::Signed:
        return value.toLongLong();
    case Kind::Unsigned: {
        const quint64 u = value.toULongLong();
        if (u > quint64(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(u);
    }
    case Kind::Real: {
        const double d = std::trunc(value.toDouble());
        // 2^63 is exactly representable; anything at or above it does not fit.
        if (!std::isfinite(d) || d < -9223372036854775808.0 || d >= 9223372036854775808.0)
            return std::nullopt;
        return qint64(d);
    }
    default:
        return std::nullopt;
    }
}

std::optional<quint64> toUnsigned(const QVariant& value)
{
    switch (kindOf(value)) {
    case Kind::Bool:
        return value.toBool() ? 1u : 0u;
    case Kind::Signed: {
        const qint64 s = value.toLongLong();
        if (s < 0)
            return std::nullopt;
        return quint64(s);
    }
    case Kind::Unsigned:
        return value.toULongLong();
    case Kind::Real: {
        const double d = std::trunc(value.toDouble());
        if (!std::isfinite(d) || d < 0.0 || d >= 18446744073709551616.0)
            return std::nullopt;
        return quint64(d);
    }
    default:
        return std::nullopt;
    }
}

std::optional<double> toReal(const QVariant& value)
{
    switch (kindOf(value)) {
    case Kind::Bool:
        return value.toBool() ? 1.0 : 0.0;
    case Kind::Signed:
        return double(value.toLongLong());
    case Kind::Unsigned:
        return double(value.toULongLong());
    case Kind::Real:
        return value.toDouble();
    default:
        return std::nullopt;
    }
}

bool strictlyEqual(const QVariant& a, const QVariant& b)
{
    const Kind ka = kindOf(a);
    const Kind kb = kindOf(b);
    const auto isInteger = [](Kind k) { return k == Kind::Signed || k == Kind::Unsigned; };
    if (isInteger(ka) && isInteger(kb)) {
        if (ka == kb)
            return ka == Kind::Signed ? a.toLongLong() == b.toLongLong() : a.toULongLong() == b.toULongLong();
        const qint64 s = ka == Kind::Signed ? a.toLongLong() : b.toLongLong();
        const quint64 u = ka == Kind::Unsigned ? a.toULongLong() : b.toULongLong();
        return s >= 0 && quint64(s) == u;
    }
    if (ka != kb)
        return false;
    switch (ka) {
    case Kind::Invalid:
        return true;
    case Kind::Bool:
        return a.toBool() == b.toBool();
    case Kind::Real: {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return x == y || (std::isnan(x) && std::isnan(y));
    }
    case Kind::String:
        return a.toString() == b.toString();
    case Kind::Data:
        return a.toByteArray() == b.toByteArray();
    case Kind::Date:
        return a.toDateTime() == b.toDateTime();
    case Kind::Array: {
        const QVariantList la = a.toList();
        const QVariantList lb = b.toList();
        if (la.size() != lb.size())
            return false;
        for (qsizetype i = 0; i < la.size(); ++i)
            if (!strictlyEqual(la[i], lb[i]))
                return false;
        return true;
    }
    case Kind::Dictionary: {
        const QVariantMap ma = a.toMap();
        const QVariantMap mb = b.toMap();
        if (ma.size() != mb.size())
            return false;
        for (auto it = ma.cbegin(); it != ma.cend(); ++it) {
            const auto other = mb.constFind(it.key());
            if (other == mb.cend() || !strictlyEqual(it.value(), other.value()))
                return false;
        }
        return true;
    }
    case Kind::Object:
        return toObject(a) == toObject(b);
    default:
        return false;
    }
}

} // namespace platform::values
