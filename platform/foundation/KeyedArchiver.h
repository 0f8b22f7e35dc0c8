#pragma once
// KeyedArchiver: writes values and archivable objects as a keyed archive, the binary property list of the
// original platform's keyed archiver ("$archiver", "$version", "$top", "$objects", class dictionaries,
// UIDs). One archiver makes one archive on one thread; the caller owns it.

#include "platform/foundation/Archivable.h"
#include "platform/foundation/Coder.h"

#include <QHash>
#include <QList>
#include <QVariantMap>

#include <memory>

namespace platform {

class KeyedArchiver final : public Coder {
public:
    KeyedArchiver();
    ~KeyedArchiver() override;

    // The archive of `root` under the top key "root"; null when something in it cannot be archived
    // (logged as "KeyedArchiver: <reason>").
    static QByteArray archivedDataWithRootObject(const QVariant& root);

    // The archive of everything encoded so far at the top level; null after a failure.
    QByteArray encodedData() const;

    bool allowsKeyedCoding() const override { return true; }
    bool isDecoding() const override { return false; }

    void encodeValuesOfObjCTypes(const char* types, const void* const* addresses) override;
    bool decodeValuesOfObjCTypes(const char* types, void* const* addresses) override;

    using Coder::encodeObject;
    void encodeObject(const QVariant& object, const QString& key) override;
    void encodeBool(bool value, const QString& key) override;
    void encodeInt32(qint32 value, const QString& key) override;
    void encodeInt64(qint64 value, const QString& key) override;
    void encodeFloat(float value, const QString& key) override;
    void encodeDouble(double value, const QString& key) override;
    void encodeBytes(const QByteArray& bytes, const QString& key) override;

    void failWithReason(const QString& reason) override;
    bool hasFailed() const override { return failed_; }

private:
    struct Frame {
        QVariantMap values;
        quint64 sequentialIndex = 0;
    };

    void set(const QString& rawKey, const QVariant& value);
    // The UID (as a PlistUid QVariant) of `value` in $objects, appending what is new.
    QVariant reference(const QVariant& value);
    QVariant referenceObject(const ObjectRef& object);
    QVariant classReference(const QString& className);
    quint64 append(const QVariant& plistValue);
    QVariant encodeScalar(char code, const void* address);
    QVariant oldStyleArray(char code, quint64 count, const void* address);

    QVariantList objects_;
    QList<Frame> frames_;               // frames_[0] is $top
    QHash<QString, quint64> strings_;    // equal strings share one entry
    QHash<QString, quint64> classes_;
    QHash<const Archivable*, quint64> shared_;
    QList<ObjectRef> retained_;          // keeps encoded objects alive so their addresses stay unique
    bool failed_ = false;
};

} // namespace platform
