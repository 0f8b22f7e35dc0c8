#pragma once
// UserDefaults: the settings of one preferences domain, kept as an XML property list at
// $XDG_CONFIG_HOME/kelvaro/<domain>.plist. Reads see the stored values over a registration layer that is
// never written. One shared instance per domain for the process (forDomain, standard); any thread.
//
// Writing: set/remove change memory only; synchronize() writes. It re-reads the file under an advisory
// lock, keeps the keys set or removed here since the last synchronize, takes every other key from the file
// (so another process's writes to other keys survive, and show up here), and replaces the file atomically
// only when that changes it; a file kept elsewhere through a symbolic link is replaced at the link's target,
// and the link stays. Call it after a batch of changes (the preference code does, at quit too, via
// synchronizeAll()); an instance of its own (the path constructor) also writes unwritten changes when
// destroyed. There is no timed write.
//
// Nothing larger than kMaximumFileBytes is written, nor over a file without write permission (mode 400):
// synchronize fails, tells why in lastWriteError, and keeps the changes.
//
// A file that cannot be read, is no property-list dictionary or is larger than kMaximumFileBytes is logged
// once and left alone while nothing is set; reads then give the registered defaults. The first synchronize
// with changes moves it (a link's target) aside to <file>.corrupt (or .corrupt-2, ...) and writes the
// values known here, so nothing is lost.
//
// The file is written as XML, or in the binary form where a string or key holds a character XML cannot
// (a control character), so that every value reads back as it was.
//
// Typed readers are strict: a string never reads as a number or a boolean ("YES", "1" give NO and 0),
// and a number never reads as a string.

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QVariant>

#include <memory>
#include <mutex>
#include <optional>

namespace platform {

class UserDefaults {
public:
    // A monitored computer's settings take some 75 KiB, so this holds those of about 55 computers, far more
    // than anyone monitors; a larger file counts as unreadable rather than costing seconds and hundreds of
    // MiB at every start and quit.
    static constexpr qint64 kMaximumFileBytes = 4 * 1024 * 1024;

    // The process's instance of `domain` ("com.tarnwell.kelvaro"); null for a domain that is empty or
    // holds a '/'.
    static std::shared_ptr<UserDefaults> forDomain(const QString& domain);
    // The domain of the running program's bundle identifier.
    static std::shared_ptr<UserDefaults> standard();
    static QString pathForDomain(const QString& domain);
    // synchronize() of every domain instance; true when all succeeded.
    static bool synchronizeAll();

    // An instance of its own on `filePath`, independent of the shared ones; reads the file now.
    explicit UserDefaults(const QString& filePath, const QString& domain = {});
    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    QString domain() const { return domain_; }
    QString filePath() const { return path_; }

    // The stored value, else the registered one; invalid when neither.
    QVariant objectForKey(const QString& key) const;
    QString stringForKey(const QString& key) const; // null when absent or not a string
    std::optional<QVariantList> arrayForKey(const QString& key) const;
    std::optional<QVariantMap> dictionaryForKey(const QString& key) const;
    std::optional<QByteArray> dataForKey(const QString& key) const;
    // Numbers only (booleans count as 0 and 1); NO, 0 and 0.0 when absent or of another kind.
    bool boolForKey(const QString& key) const;
    qint64 integerForKey(const QString& key) const; // a real is truncated toward zero
    double doubleForKey(const QString& key) const;
    float floatForKey(const QString& key) const;

    // An invalid value removes the key. A value that a property list cannot hold (an object, an invalid
    // date or element) is refused with a log line and changes nothing; returns whether it was stored.
    // Values are kept as the XML property list reads them back: integers as qint64 below 2^63, else
    // quint64; reals as double; dates in UTC, truncated to whole seconds.
    bool setObject(const QVariant& value, const QString& key);
    void setBool(bool value, const QString& key);
    void setInteger(qint64 value, const QString& key);
    void setDouble(double value, const QString& key);
    void setFloat(float value, const QString& key);
    void removeObjectForKey(const QString& key);

    // Adds to the registration layer (later registrations of a key win). Never written.
    void registerDefaults(const QVariantMap& defaults);
    // The registered values overlaid with the stored ones.
    QVariantMap dictionaryRepresentation() const;

    // False when the file could not be written; the changes are kept for the next attempt.
    bool synchronize();
    // Why the last synchronize wrote nothing ("cannot create ...: Read-only file system"); null after one
    // that succeeded.
    QString lastWriteError() const;
    // The last synchronize replaced the file; false when it had nothing to write or failed.
    bool lastSynchronizeWroteFile() const;
    // Why the file, which exists, could not be read when last looked at (permissions, an I/O error): the
    // values are then the registered ones, and nothing is ever written over it. Null while it is readable,
    // missing, or only no property list (that one is moved aside instead).
    QString unreadableReason() const;

    // A file that is no property-list dictionary, moved aside now rather than at the first synchronize, so
    // that the program can say where it went. Answers that place once, also when synchronize moved it
    // already; null while the file is readable (or missing), when it cannot be moved, and once answered.
    QString setAsideBadFile();

private:
    // Bad: read, but no property-list dictionary. Unreadable: exists but cannot be opened (may be intact).
    enum class FileState { Missing, Read, Unreadable, Bad };
    FileState readFile(QVariantMap* values, QString* error) const;
    bool synchronizeLocked();
    // Renames the bad file to a free "<file>.corrupt" name; null (and a log line) when that fails.
    QString moveBadFileAside();

    const QString path_;
    const QString domain_;
    mutable std::mutex mutex_;
    QVariantMap stored_;
    QVariantMap registered_;
    QSet<QString> changed_; // set or removed since the last successful synchronize
    bool reportedBadFile_ = false;
    QString movedAsideTo_;
    QString lastWriteError_;
    bool wroteFile_ = false;
    bool reportedReadOnly_ = false;
    QString unreadableReason_;
};

} // namespace platform
