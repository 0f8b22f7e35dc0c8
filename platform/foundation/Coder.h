#pragma once
// Coder: what an archivable class sees while it encodes itself or is decoded. One interface serves both
// directions and both archive kinds, as the original coder did:
//  - keyed coders answer the keyed calls, and store sequential calls under generated keys "$0", "$1", ...
//    in call order (an array of scalars as a "_NSKeyedCoderOldStyleArray" object);
//  - sequential (typedstream) coders answer only the sequential calls; a keyed call on them is a contract
//    violation that fails the archive.
// A decoder that meets bad input marks the coder failed; the archive as a whole then decodes to nil.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace platform {

class Coder {
public:
    virtual ~Coder() = default;

    virtual bool allowsKeyedCoding() const = 0;
    virtual bool isDecoding() const = 0;

    // --- Sequential coding -------------------------------------------------------------------------
    // `types` is a string of type codes, one value per code, written as one group. Each address points at
    // a value of the code's C++ type:
    //   c qint8   C quint8   s qint16   S quint16   i,l qint32   I,L quint32   q qint64   Q quint64
    //   f float   d double   @ QVariant (any value, see Values.h)   * QByteArray (a null one is a null C string)
    // An array code "[<n><code>]" (e.g. "[380i]") points at n packed values of that code's type.
    // Decoding returns false (and marks the coder failed) when the archive holds other types or ends.
    virtual void encodeValuesOfObjCTypes(const char* types, const void* const* addresses) = 0;
    virtual bool decodeValuesOfObjCTypes(const char* types, void* const* addresses) = 0;

    void encodeValueOfObjCType(const char* type, const void* address) { encodeValuesOfObjCTypes(type, &address); }
    bool decodeValueOfObjCType(const char* type, void* address) { return decodeValuesOfObjCTypes(type, &address); }
    // `count` packed values of the scalar code `type` (one character).
    void encodeArrayOfObjCType(char type, quint64 count, const void* address);
    bool decodeArrayOfObjCType(char type, quint64 count, void* address);

    void encodeObject(const QVariant& object) { encodeValueOfObjCType("@", &object); }
    QVariant decodeObject();

    // The version of a class as stored in a sequential archive (0 for keyed archives and unknown classes).
    virtual qint64 versionForClassName(const QString& className) const { Q_UNUSED(className); return 0; }

    // --- Keyed coding --------------------------------------------------------------------------------
    virtual void encodeObject(const QVariant& object, const QString& key);
    virtual void encodeConditionalObject(const QVariant& object, const QString& key) { encodeObject(object, key); }
    virtual void encodeBool(bool value, const QString& key);
    virtual void encodeInt32(qint32 value, const QString& key);
    virtual void encodeInt64(qint64 value, const QString& key);
    virtual void encodeFloat(float value, const QString& key);
    virtual void encodeDouble(double value, const QString& key);
    virtual void encodeBytes(const QByteArray& bytes, const QString& key);

    virtual bool containsValueForKey(const QString& key) const;
    // Invalid when absent (or not decodable).
    virtual QVariant decodeObjectForKey(const QString& key);
    // As decodeObjectForKey, but an object whose class is not of (a subclass of) one of `classNames` fails
    // the archive. Foundation values count by their class names ("NSString", "NSNumber", "NSArray", ...).
    virtual QVariant decodeObjectOfClasses(const QStringList& classNames, const QString& key);
    // Scalars: 0 / false / empty when absent; a value of another kind fails the archive.
    virtual bool decodeBoolForKey(const QString& key);
    virtual qint32 decodeInt32ForKey(const QString& key);
    virtual qint64 decodeInt64ForKey(const QString& key);
    virtual float decodeFloatForKey(const QString& key);
    virtual double decodeDoubleForKey(const QString& key);
    virtual QByteArray decodeBytesForKey(const QString& key);

    // --- Failure -------------------------------------------------------------------------------------
    // Marks the archive bad; the archiver logs `reason` once and the whole decode answers nil.
    virtual void failWithReason(const QString& reason) = 0;
    virtual bool hasFailed() const = 0;

protected:
    // Default for the keyed calls on a coder that has none.
    void keyedCallOnSequentialCoder(const char* call);
};

} // namespace platform
