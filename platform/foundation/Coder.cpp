#include "platform/foundation/Coder.h"

#include "platform/foundation/Assert.h"

namespace platform {

void Coder::encodeArrayOfObjCType(char type, quint64 count, const void* address)
{
    const QByteArray types = "[" + QByteArray::number(count) + type + "]";
    encodeValueOfObjCType(types.constData(), address);
}

bool Coder::decodeArrayOfObjCType(char type, quint64 count, void* address)
{
    const QByteArray types = "[" + QByteArray::number(count) + type + "]";
    return decodeValueOfObjCType(types.constData(), address);
}

QVariant Coder::decodeObject()
{
    QVariant object;
    if (!decodeValueOfObjCType("@", &object))
        return {};
    return object;
}

void Coder::keyedCallOnSequentialCoder(const char* call)
{
    KV_ASSERTION_FAILED(call);
    failWithReason(QStringLiteral("keyed call %1 on a sequential coder").arg(QString::fromLatin1(call)));
}

void Coder::encodeObject(const QVariant&, const QString&) { keyedCallOnSequentialCoder("encodeObject:forKey:"); }
void Coder::encodeBool(bool, const QString&) { keyedCallOnSequentialCoder("encodeBool:forKey:"); }
void Coder::encodeInt32(qint32, const QString&) { keyedCallOnSequentialCoder("encodeInt32:forKey:"); }
void Coder::encodeInt64(qint64, const QString&) { keyedCallOnSequentialCoder("encodeInt64:forKey:"); }
void Coder::encodeFloat(float, const QString&) { keyedCallOnSequentialCoder("encodeFloat:forKey:"); }
void Coder::encodeDouble(double, const QString&) { keyedCallOnSequentialCoder("encodeDouble:forKey:"); }
void Coder::encodeBytes(const QByteArray&, const QString&) { keyedCallOnSequentialCoder("encodeBytes:forKey:"); }

bool Coder::containsValueForKey(const QString&) const
{
    const_cast<Coder*>(this)->keyedCallOnSequentialCoder("containsValueForKey:");
    return false;
}

QVariant Coder::decodeObjectForKey(const QString&)
{
    keyedCallOnSequentialCoder("decodeObjectForKey:");
    return {};
}

QVariant Coder::decodeObjectOfClasses(const QStringList&, const QString&)
{
    keyedCallOnSequentialCoder("decodeObjectOfClasses:forKey:");
    return {};
}

bool Coder::decodeBoolForKey(const QString&)
{
    keyedCallOnSequentialCoder("decodeBoolForKey:");
    return false;
}

qint32 Coder::decodeInt32ForKey(const QString&)
{
    keyedCallOnSequentialCoder("decodeInt32ForKey:");
    return 0;
}

qint64 Coder::decodeInt64ForKey(const QString&)
{
    keyedCallOnSequentialCoder("decodeInt64ForKey:");
    return 0;
}

float Coder::decodeFloatForKey(const QString&)
{
    keyedCallOnSequentialCoder("decodeFloatForKey:");
    return 0;
}

double Coder::decodeDoubleForKey(const QString&)
{
    keyedCallOnSequentialCoder("decodeDoubleForKey:");
    return 0;
}

QByteArray Coder::decodeBytesForKey(const QString&)
{
    keyedCallOnSequentialCoder("decodeBytesForKey:");
    return {};
}

} // namespace platform
