#pragma once
// KeyedUnarchiver: reads keyed archives of the original platform's keyed archiver (binary or XML property
// list) back into values and archivable objects. Decoding is allow-listed by class and bounded; bad
// input gives nil with one log line "KeyedUnarchiver: <reason>". One unarchiver per archive and thread.

#include "platform/foundation/ArchiveOptions.h"
#include "platform/foundation/Coder.h"
#include "platform/foundation/Values.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QVariantMap>

#include <memory>
#include <vector>

namespace platform {

class KeyedUnarchiver final : public Coder {
public:
    // The object under the top key "root"; invalid (nil) on any failure.
    static QVariant unarchiveObjectWithData(const QByteArray& data, const UnarchiveOptions& options = {});

    // An unarchiver positioned at the archive's top keys (decodeObjectForKey("root"), ...); null when the
    // data is no keyed archive. After a failure every decode call answers nil / 0.
    static std::shared_ptr<KeyedUnarchiver> create(const QByteArray& data, const UnarchiveOptions& options = {});

    ~KeyedUnarchiver() override;

    // The keys of $top, for a reader that decodes every one.
    QStringList topLevelKeys() const;

    bool allowsKeyedCoding() const override { return true; }
    bool isDecoding() const override { return true; }

    void encodeValuesOfObjCTypes(const char* types, const void* const* addresses) override;
    bool decodeValuesOfObjCTypes(const char* types, void* const* addresses) override;

    bool containsValueForKey(const QString& key) const override;
    QVariant decodeObjectForKey(const QString& key) override;
    QVariant decodeObjectOfClasses(const QStringList& classNames, const QString& key) override;
    bool decodeBoolForKey(const QString& key) override;
    qint32 decodeInt32ForKey(const QString& key) override;
    qint64 decodeInt64ForKey(const QString& key) override;
    float decodeFloatForKey(const QString& key) override;
    double decodeDoubleForKey(const QString& key) override;
    QByteArray decodeBytesForKey(const QString& key) override;

    void failWithReason(const QString& reason) override;
    bool hasFailed() const override { return failed_; }

private:
    explicit KeyedUnarchiver(const UnarchiveOptions& options);

    struct Frame {
        QVariantMap values;
        quint64 sequentialIndex = 0;
    };

    bool load(const QByteArray& data);
    QVariant valueForKey(const QString& key, const char* call);
    std::optional<qint64> integerForKey(const QString& key, const char* call);
    QVariant decodeReference(const QVariant& reference, const QString& key);
    QVariant decodeUid(quint64 uid);
    // A string, data or number of $objects.
    QVariant decodePlainValue(quint64 uid, values::Kind kind);
    // Counts a decoded object's expanded cost into the object that refers to it; false past the budget.
    bool countExpansion(quint64 cost);
    QVariant decodeObject(quint64 uid, const QVariantMap& object);
    QVariant decodeGenericValue(const QVariant& value, int depth);
    QVariant decodeArchivable(const QString& className, const QVariantMap& object);
    // "$classname" of the object at `uid` (inline values by their Foundation class), or null after failing.
    QString classNameOf(quint64 uid);
    QString classNameFromReference(const QVariant& classRef);
    bool checkedSize(qsizetype size, qint64 limit, const char* what);
    bool decodeScalar(char code, const QVariant& value, void* address);
    bool decodeOldStyleArray(char code, quint64 count, const QVariant& reference, void* address);
    QVariant failed(const QString& reason);

    UnarchiveOptions options_;
    QVariantList objects_;
    QList<Frame> frames_;             // frames_[0] holds $top
    QHash<quint64, QVariant> decoded_; // shared objects decode once
    QSet<quint64> decoding_;           // objects being decoded now: meeting one again is a cycle
    QHash<quint64, QString> classNames_;
    ExpansionBudget budget_;
    QHash<quint64, quint64> costs_;    // expanded cost of each decoded object
    std::vector<bool> plainValuesSeen_; // by uid, once one is decoded
    QList<quint64> gathering_{0};     // cost gathered by each object being decoded; [0]: the whole archive's
    int depth_ = 0;
    bool failed_ = false;
};

} // namespace platform
