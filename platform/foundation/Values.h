#pragma once
// Strict readers and builders of the dynamic values that cross our interfaces (property lists, archives,
// invocation arguments). Booleans, signed and unsigned integers and reals stay distinct kinds; a number is
// a number and a string never silently becomes one.

#include "platform/foundation/Archivable.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <optional>

namespace platform::values {

enum class Kind { Invalid, Bool, Signed, Unsigned, Real, String, Data, Date, Array, Dictionary, Object };

Kind kindOf(const QVariant& value);
const char* kindName(Kind kind);
bool isNumber(const QVariant& value); // Bool, Signed, Unsigned or Real

// Builders: always store the canonical type of their kind.
inline QVariant fromBool(bool v) { return QVariant(v); }
inline QVariant fromSigned(qint64 v) { return QVariant::fromValue<qint64>(v); }
inline QVariant fromUnsigned(quint64 v) { return QVariant::fromValue<quint64>(v); }
inline QVariant fromReal(double v) { return QVariant(v); }
inline QVariant fromString(const QString& v) { return QVariant(v); }
inline QVariant fromData(const QByteArray& v) { return QVariant(v); }
QVariant fromDate(const QDateTime& v); // stored in UTC
inline QVariant fromArray(const QVariantList& v) { return QVariant(v); }
inline QVariant fromDictionary(const QVariantMap& v) { return QVariant(v); }
inline QVariant fromObject(const ObjectRef& v) { return v ? QVariant::fromValue(v) : QVariant(); }

// Exact readers: a value only of that kind.
std::optional<QString> toString(const QVariant& value);
std::optional<QByteArray> toData(const QVariant& value);
std::optional<QDateTime> toDate(const QVariant& value);
std::optional<QVariantList> toArray(const QVariant& value);
std::optional<QVariantMap> toDictionary(const QVariant& value);
ObjectRef toObject(const QVariant& value);

// Numeric readers accept any number kind, the way a number object answers any of its accessors, but only
// when the value is representable: a negative number is no unsigned value, 2^63 is no signed one, a real
// must be finite and is truncated toward zero for the integer readers. Booleans read as 0 and 1.
std::optional<bool> toBool(const QVariant& value); // a number: non-zero is true
std::optional<qint64> toSigned(const QVariant& value);
std::optional<quint64> toUnsigned(const QVariant& value);
std::optional<double> toReal(const QVariant& value);

// Deep equality that keeps booleans, integers and reals apart (1 != 1.0 != true). Signed and unsigned
// integers compare by value, since property lists do not keep signedness. Objects compare by identity.
bool strictlyEqual(const QVariant& a, const QVariant& b);

} // namespace platform::values
