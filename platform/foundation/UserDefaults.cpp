#include "platform/foundation/UserDefaults.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {
namespace {

using values::Kind;

// The value as a property list stores and reads it back, or invalid when a property list cannot hold it.
QVariant canonical(const QVariant& value)
{
    switch (values::kindOf(value)) {
    case Kind::Bool:
        return values::fromBool(value.toBool());
    case Kind::Signed:
        return values::fromSigned(value.toLongLong());
    case Kind::Unsigned: {
        const quint64 u = value.toULongLong();
        return u <= quint64(std::numeric_limits<qint64>::max()) ? values::fromSigned(qint64(u)) : values::fromUnsigned(u);
    }
    case Kind::Real:
        return values::fromReal(value.toDouble());
    case Kind::String:
        // A property list cannot hold U+0000; refusing it here keeps one bad value from blocking every save.
        if (value.toString().contains(QChar(0)))
            return {};
        return values::fromString(value.toString());
    case Kind::Data:
        return values::fromData(value.toByteArray());
    case Kind::Date: {
        // The XML date element has no fraction of a second.
        const QDateTime date = value.toDateTime();
        if (!date.isValid())
            return {};
        const qint64 ms = date.toMSecsSinceEpoch();
        return values::fromDate(QDateTime::fromMSecsSinceEpoch(ms - ((ms % 1000) + 1000) % 1000, Qt::UTC));
    }
    case Kind::Array: {
        QVariantList list;
        for (const QVariant& element : value.toList()) {
            QVariant c = canonical(element);
            if (!c.isValid())
                return {};
            list.append(std::move(c));
        }
        return values::fromArray(list);
    }
    case Kind::Dictionary: {
        QVariantMap map;
        const QVariantMap source = value.toMap();
        for (auto it = source.begin(); it != source.end(); ++it) {
            QVariant c = canonical(it.value());
            if (!c.isValid() || it.key().contains(QChar(0)))
                return {};
            map.insert(it.key(), std::move(c));
        }
        return values::fromDictionary(map);
    }
    case Kind::Object:
    case Kind::Invalid:
        break;
    }
    return {};
}

// An exclusive advisory lock on a file beside the defaults, held for one read-merge-write. The defaults file
// itself cannot carry the lock: every write replaces it.
class FileLock {
public:
    explicit FileLock(const QString& defaultsPath)
    {
        const QFileInfo info(defaultsPath);
        const QByteArray path = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                                                  QStringLiteral(".lock"));
        fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FileLock()
    {
        if (fd_ >= 0)
            ::close(fd_); // releases the lock
    }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    int fd_ = -1;
};

struct Domains {
    std::mutex mutex;
    std::map<QString, std::shared_ptr<UserDefaults>> instances;
};

Domains& domains()
{
    // Never destroyed: the instances must not write at static destruction, after the log has gone.
    static Domains* d = new Domains;
    return *d;
}

} // namespace

std::shared_ptr<UserDefaults> UserDefaults::forDomain(const QString& domain)
{
    if (domain.isEmpty() || domain.contains(QLatin1Char('/')) || domain == QLatin1String(".") ||
        domain == QLatin1String("..")) {
        log("UserDefaults", QStringLiteral("\"%1\" is no preferences domain").arg(domain));
        return nullptr;
    }
    Domains& d = domains();
    std::lock_guard lock(d.mutex);
    std::shared_ptr<UserDefaults>& instance = d.instances[domain];
    if (!instance)
        instance = std::make_shared<UserDefaults>(pathForDomain(domain), domain);
    return instance;
}

std::shared_ptr<UserDefaults> UserDefaults::standard()
{
    return forDomain(Bundle::main()->identifier());
}

QString UserDefaults::pathForDomain(const QString& domain)
{
    return Paths::configHome() + QStringLiteral("/kelvaro/") + domain + QStringLiteral(".plist");
}

bool UserDefaults::synchronizeAll()
{
    std::vector<std::shared_ptr<UserDefaults>> all;
    {
        Domains& d = domains();
        std::lock_guard lock(d.mutex);
        for (const auto& entry : d.instances)
            all.push_back(entry.second);
    }
    bool ok = true;
    for (const std::shared_ptr<UserDefaults>& defaults : all)
        ok = defaults->synchronize() && ok;
    return ok;
}

UserDefaults::UserDefaults(const QString& filePath, const QString& domain)
    : path_(QFileInfo(filePath).absoluteFilePath())
    , domain_(domain.isEmpty() ? QFileInfo(filePath).completeBaseName() : domain)
{
    QString error;
    const FileState state = readFile(&stored_, &error);
    if (state == FileState::Bad || state == FileState::Unreadable) {
        log("UserDefaults", error + QStringLiteral("; using the registered defaults"));
        reportedBadFile_ = true;
    }
    if (state == FileState::Unreadable)
        unreadableReason_ = error;
}

UserDefaults::~UserDefaults()
{
    std::lock_guard lock(mutex_);
    if (!changed_.isEmpty())
        synchronizeLocked();
}

UserDefaults::FileState UserDefaults::readFile(QVariantMap* values, QString* error) const
{
    QFile file(path_);
    // Also a link to a file not made yet, which Qt takes for an existing file.
    if (struct stat st {}; ::stat(QFile::encodeName(path_).constData(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
        values->clear();
        return FileState::Missing;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot read %1: %2").arg(path_, file.errorString());
        return FileState::Unreadable;
    }
    // One byte past the bound tells a file that is too large without reading all of it.
    const QByteArray bytes = file.read(kMaximumFileBytes + 1);
    if (bytes.size() > kMaximumFileBytes) {
        *error = QStringLiteral("%1 is larger than %2 bytes, more than any settings take").arg(path_).arg(kMaximumFileBytes);
        return FileState::Bad;
    }
    const PlistReadResult read = readPropertyList(bytes);
    const std::optional<QVariantMap> dict = values::toDictionary(read.value);
    if (!dict) {
        *error = QStringLiteral("%1 is no property-list dictionary%2")
                     .arg(path_, read.error.isEmpty() ? QString() : QStringLiteral(" (") + read.error + QLatin1Char(')'));
        return FileState::Bad;
    }
    *values = *dict;
    return FileState::Read;
}

QVariant UserDefaults::objectForKey(const QString& key) const
{
    std::lock_guard lock(mutex_);
    const auto it = stored_.constFind(key);
    if (it != stored_.constEnd())
        return it.value();
    return registered_.value(key);
}

QString UserDefaults::stringForKey(const QString& key) const
{
    return values::toString(objectForKey(key)).value_or(QString());
}

std::optional<QVariantList> UserDefaults::arrayForKey(const QString& key) const
{
    return values::toArray(objectForKey(key));
}

std::optional<QVariantMap> UserDefaults::dictionaryForKey(const QString& key) const
{
    return values::toDictionary(objectForKey(key));
}

std::optional<QByteArray> UserDefaults::dataForKey(const QString& key) const
{
    return values::toData(objectForKey(key));
}

bool UserDefaults::boolForKey(const QString& key) const
{
    return values::toBool(objectForKey(key)).value_or(false);
}

qint64 UserDefaults::integerForKey(const QString& key) const
{
    return values::toSigned(objectForKey(key)).value_or(0);
}

double UserDefaults::doubleForKey(const QString& key) const
{
    return values::toReal(objectForKey(key)).value_or(0.0);
}

float UserDefaults::floatForKey(const QString& key) const
{
    return float(doubleForKey(key));
}

bool UserDefaults::setObject(const QVariant& value, const QString& key)
{
    if (!value.isValid()) {
        removeObjectForKey(key);
        return true;
    }
    QVariant stored = canonical(value);
    if (!stored.isValid()) {
        log("UserDefaults", QStringLiteral("refused a value for \"%1\" that a property list cannot hold").arg(key));
        return false;
    }
    std::lock_guard lock(mutex_);
    stored_.insert(key, std::move(stored));
    changed_.insert(key);
    return true;
}

void UserDefaults::setBool(bool value, const QString& key)
{
    setObject(values::fromBool(value), key);
}

void UserDefaults::setInteger(qint64 value, const QString& key)
{
    setObject(values::fromSigned(value), key);
}

void UserDefaults::setDouble(double value, const QString& key)
{
    setObject(values::fromReal(value), key);
}

void UserDefaults::setFloat(float value, const QString& key)
{
    setObject(values::fromReal(double(value)), key);
}

void UserDefaults::removeObjectForKey(const QString& key)
{
    std::lock_guard lock(mutex_);
    stored_.remove(key);
    changed_.insert(key);
}

void UserDefaults::registerDefaults(const QVariantMap& defaults)
{
    std::lock_guard lock(mutex_);
    for (auto it = defaults.begin(); it != defaults.end(); ++it) {
        QVariant value = canonical(it.value());
        if (value.isValid())
            registered_.insert(it.key(), std::move(value));
        else
            log("UserDefaults", QStringLiteral("refused a default for \"%1\" that a property list cannot hold").arg(it.key()));
    }
}

QVariantMap UserDefaults::dictionaryRepresentation() const
{
    std::lock_guard lock(mutex_);
    QVariantMap all = registered_;
    for (auto it = stored_.begin(); it != stored_.end(); ++it)
        all.insert(it.key(), it.value());
    return all;
}

bool UserDefaults::synchronize()
{
    std::lock_guard lock(mutex_);
    lastWriteError_ = QString();
    wroteFile_ = false;
    const bool written = synchronizeLocked();
    if (!written && lastWriteError_.isEmpty())
        lastWriteError_ = QStringLiteral("cannot write %1").arg(path_);
    return written;
}

QString UserDefaults::lastWriteError() const
{
    std::lock_guard lock(mutex_);
    return lastWriteError_;
}

bool UserDefaults::lastSynchronizeWroteFile() const
{
    std::lock_guard lock(mutex_);
    return wroteFile_;
}

QString UserDefaults::unreadableReason() const
{
    std::lock_guard lock(mutex_);
    return unreadableReason_;
}

QString UserDefaults::moveBadFileAside()
{
    // A link stays, to the good file written next; what it pointed to is moved aside beside itself.
    const ResolvedFile file = Paths::resolveFileLinks(path_);
    if (!file) {
        log("UserDefaults", QStringLiteral("cannot move %1 aside: %2").arg(path_, file.error));
        return {};
    }
    QString aside = file.path + QStringLiteral(".corrupt");
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = file.path + QStringLiteral(".corrupt-%1").arg(n);
    if (::rename(QFile::encodeName(file.path).constData(), QFile::encodeName(aside).constData()) != 0) {
        log("UserDefaults", QStringLiteral("cannot move %1 aside: %2").arg(file.path, QString::fromLocal8Bit(std::strerror(errno))));
        return {};
    }
    log("UserDefaults", QStringLiteral("moved the unreadable %1 to %2").arg(file.path, aside));
    movedAsideTo_ = aside;
    return aside;
}

QString UserDefaults::setAsideBadFile()
{
    std::lock_guard lock(mutex_);
    if (!movedAsideTo_.isNull())
        return std::exchange(movedAsideTo_, QString());
    FileLock fileLock(path_);
    QVariantMap file;
    QString error;
    if (readFile(&file, &error) != FileState::Bad)
        return {};
    if (!reportedBadFile_)
        log("UserDefaults", error + QStringLiteral("; using the values known here"));
    reportedBadFile_ = true;
    const QString aside = moveBadFileAside();
    movedAsideTo_.clear();
    return aside;
}

bool UserDefaults::synchronizeLocked()
{
    const QString folder = QFileInfo(path_).absolutePath();
    if (!changed_.isEmpty() && !QDir().mkpath(folder)) {
        lastWriteError_ = QStringLiteral("cannot create the folder %1").arg(folder);
        log("UserDefaults", lastWriteError_);
        return false;
    }
    FileLock fileLock(path_);

    QVariantMap file;
    QString error;
    const FileState state = readFile(&file, &error);
    QVariantMap merged;
    unreadableReason_ = state == FileState::Unreadable ? error : QString();
    if (state == FileState::Unreadable) {
        // The file may be intact: never replace it with only the values known here. Changes wait for the
        // next synchronize.
        if (!reportedBadFile_)
            log("UserDefaults", error);
        reportedBadFile_ = true;
        lastWriteError_ = error;
        return changed_.isEmpty();
    }
    if (state == FileState::Bad) {
        if (!reportedBadFile_) {
            log("UserDefaults", error + QStringLiteral("; using the values known here"));
            reportedBadFile_ = true;
        }
        if (changed_.isEmpty())
            return true;
        merged = stored_;
    } else {
        reportedBadFile_ = false;
        merged = file;
        for (const QString& key : std::as_const(changed_)) {
            const auto it = stored_.constFind(key);
            if (it != stored_.constEnd())
                merged.insert(key, it.value());
            else
                merged.remove(key);
        }
        stored_ = merged;
        if (state == FileState::Read && values::strictlyEqual(values::fromDictionary(merged), values::fromDictionary(file))) {
            changed_.clear();
            return true;
        }
        if (changed_.isEmpty() || (state == FileState::Missing && merged.isEmpty())) {
            changed_.clear();
            return true; // nothing of ours to write; a missing file stays missing
        }
    }

    // A value XML cannot hold (a control character in a key kept as read from a binary file) would come
    // back changed: such settings are written in the binary form, which both readers take.
    const QVariant all = values::fromDictionary(merged);
    const QByteArray bytes = writePropertyList(all, xmlHoldsEveryCharacter(all) ? PlistFormat::Xml : PlistFormat::Binary);
    if (bytes.isNull()) {
        lastWriteError_ = QStringLiteral("cannot encode the values of %1").arg(path_);
        log("UserDefaults", lastWriteError_);
        return false;
    }
    // The next start would refuse a larger file and run on the defaults: the file read last stays instead.
    if (bytes.size() > kMaximumFileBytes) {
        lastWriteError_ = QStringLiteral("the settings take %1 bytes, more than the %2 bytes %3 may hold")
                              .arg(bytes.size()).arg(kMaximumFileBytes).arg(path_);
        log("UserDefaults", lastWriteError_);
        return false;
    }
    // A file its owner made read-only is kept, also where the folder would let us replace it (and for root,
    // whom the mode does not stop).
    if (struct stat st {}; ::stat(QFile::encodeName(path_).constData(), &st) == 0 && S_ISREG(st.st_mode)
        && ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(QFile::encodeName(path_).constData(), W_OK) != 0)) {
        lastWriteError_ = QStringLiteral("%1 is read-only").arg(path_);
        if (!reportedReadOnly_)
            log("UserDefaults", lastWriteError_ + QStringLiteral("; it is kept as it is"));
        reportedReadOnly_ = true;
        return false;
    }
    reportedReadOnly_ = false;
    // Keep the bad file for whoever wants to rescue it; never write over it.
    if (state == FileState::Bad && moveBadFileAside().isNull()) {
        lastWriteError_ = QStringLiteral("cannot move the unreadable %1 aside").arg(path_);
        return false;
    }
    const FileWriteResult written = Paths::writeFileThroughLinks(path_, bytes, 0600);
    if (!written) {
        lastWriteError_ = written.error;
        log("UserDefaults", written.error);
        return false;
    }
    changed_.clear();
    wroteFile_ = true;
    return true;
}

} // namespace platform
