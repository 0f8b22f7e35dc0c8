#pragma once
// SequentialUnarchiver: reads the original platform's typedstream archives (non-keyed unarchiver).
// Foundation objects become the values of Values.h; other classes are decoded by their ClassRegistry
// decoder when allowed, or, in generic mode, become {"$class": name, "$0": first value, ...}. Decoding is
// bounded (ArchiveLimits): bad input decodes to nil with one log line. One per archive, used on one thread.

#include "platform/foundation/ArchiveOptions.h"
#include "platform/foundation/Coder.h"

#include <QByteArray>
#include <QHash>
#include <QVariantList>

#include <optional>
#include <vector>

namespace platform {

namespace typedstream {
struct TypeNode;
}

class SequentialUnarchiver final : public Coder {
public:
    // Reads the header; a bad one fails the unarchiver at once.
    explicit SequentialUnarchiver(const QByteArray& data, const UnarchiveOptions& options = {});
    ~SequentialUnarchiver() override;

    // The first root object; invalid when it is nil or the archive is bad.
    static QVariant unarchiveObjectWithData(const QByteArray& data, const UnarchiveOptions& options = {});

    // Root values follow one another: decodeObject() and decodeValuesOfObjCTypes() read the next ones,
    // and decodeNextValues() reads the next group whatever its types (integers as qint64 or quint64,
    // reals as double, C strings and character arrays as QByteArray, other arrays and structs as lists).
    // Nullopt at the end of the archive or on failure.
    std::optional<QVariantList> decodeNextValues();
    bool atEnd() const;

    bool allowsKeyedCoding() const override { return false; }
    bool isDecoding() const override { return true; }
    void encodeValuesOfObjCTypes(const char* types, const void* const* addresses) override;
    bool decodeValuesOfObjCTypes(const char* types, void* const* addresses) override;
    qint64 versionForClassName(const QString& className) const override;
    void failWithReason(const QString& reason) override;
    // A cut archive counts as failed for the decoders of its objects.
    bool hasFailed() const override { return failed_ || cut_; }
    // The input ended inside a value and UnarchiveOptions::keepWhatPrecedesACut kept what came before.
    bool endedEarly() const { return cut_; }

private:
    struct Entry; // a row of the table shared by objects, classes and C strings

    bool fail(const QString& reason);
    bool endsEarly();
    bool addEntry(int kind, qint64& index);
    qsizetype remaining() const { return qsizetype(end_ - pos_); }
    bool readByte(quint8& b);
    bool peekByte(quint8& b) const;
    bool readBytes(qsizetype count, const char*& bytes);
    bool readInteger(qint64& value);
    bool readIntegerAfter(quint8 head, qint64& value);
    bool readReference(quint8 head, qint64& index);
    bool readSharedString(QByteArray& text, bool& isNil);
    bool readUnsharedString(QByteArray& bytes);
    bool readCString(QByteArray& text);
    bool readFloat(float& value);
    bool readDouble(double& value);
    bool readClass(qint64& classIndex);
    bool readGroupTypes(QByteArray& types);
    bool expectGroup(const char* types);
    bool readObject(QVariant& value);
    // Counts an object's expanded cost into the object that refers to it; false past the budget.
    bool countExpansion(quint64 cost);
    // Counts a generic value read inline into the object that holds it; false past the budget.
    bool countInline(const typedstream::TypeNode& node, const QVariant& value);
    bool readObjectBody(const QString& className, QVariant& value);
    bool readFoundationObject(const QString& className, QVariant& value, bool& handled);
    bool readGenericValue(const typedstream::TypeNode& node, QVariant& value);
    bool readGenericContainer(const typedstream::TypeNode& node, QVariant& value);
    bool readGenericGroup(QVariantList& values);
    bool readValueInto(const typedstream::TypeNode& node, void* address);
    bool readScalarArray(char code, quint64 count, void* address);
    bool readEndOfObject(const QString& className);
    bool isAllowed(const QString& className) const;

    UnarchiveOptions options_;
    const char* pos_ = nullptr;
    const char* end_ = nullptr;
    QByteArray data_;
    std::vector<QByteArray> sharedStrings_;
    std::vector<Entry> entries_;
    QHash<QString, qint64> versions_;
    ExpansionBudget budget_;
    QList<quint64> gathering_{0}; // expanded cost gathered by each object being read; [0]: the archive's
    int depth_ = 0;
    int objectBodies_ = 0; // nesting of objects whose coded values are being read
    bool failed_ = false;
    bool cut_ = false;
};

} // namespace platform
