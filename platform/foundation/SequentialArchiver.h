#pragma once
// SequentialArchiver: writes the original platform's typedstream archives (non-keyed archiver). Foundation
// values go out as the original classes write them (NSString, NSNumber, NSData, NSDate, NSArray,
// NSDictionary); archivable objects write their class chain with versions from ClassRegistry, then their
// encodeWithCoder groups. Shared objects are written once. One archiver per archive, used on one thread.

#include "platform/foundation/Coder.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>

namespace platform {

class SequentialArchiver final : public Coder {
public:
    SequentialArchiver(); // writes the header

    // Null on failure (a value that cannot be archived, or an object that failed itself), with a log line.
    static QByteArray archivedDataWithRootObject(const QVariant& root);

    // Root values may follow one another; a reader decodes them in the same order.
    void encodeRootObject(const QVariant& root) { encodeObject(root); }
    // The archive written so far; null after a failure.
    QByteArray archivedData() const;

    bool allowsKeyedCoding() const override { return false; }
    bool isDecoding() const override { return false; }
    void encodeValuesOfObjCTypes(const char* types, const void* const* addresses) override;
    bool decodeValuesOfObjCTypes(const char* types, void* const* addresses) override;
    void failWithReason(const QString& reason) override;
    bool hasFailed() const override { return failed_; }

private:
    void writeByte(quint8 b) { out_.append(char(b)); }
    void writeInteger(qint64 value);
    void writeReference(qint64 index);
    void writeSharedString(const QByteArray& text);
    void writeUnsharedString(const QByteArray& bytes);
    void writeCString(const QByteArray& text);
    void writeFloat(float value);
    void writeDouble(double value);
    using ClassChain = QList<QPair<QString, qint64>>; // name and version, most derived first
    void writeClassChain(const ClassChain& chain);
    void writeObject(const QVariant& value);
    void writeFoundationObject(const QVariant& value);
    void writeGroupHeader(const QByteArray& types) { writeSharedString(types); }
    bool writeValues(const char* types, const void* const* addresses);
    void writeIntegerArray(char code, quint64 count, const void* address);

    QByteArray out_;
    QHash<QByteArray, qint64> sharedStrings_;
    QHash<QString, qint64> classes_;
    QHash<const void*, qint64> objects_;
    QHash<QByteArray, qint64> cStrings_;
    qint64 nextObjectIndex_ = 0; // objects, classes and C strings share one table
    bool failed_ = false;
};

} // namespace platform
