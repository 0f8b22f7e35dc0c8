#include "acquisition/TEVSensorHistoryFile.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/SequentialArchiver.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/Values.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

namespace values = platform::values;
using Status = TEVSensorHistoryFile::ReadResult::Status;

const char* const kClassName = "TEVSensorHistoryFile";

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// An exclusive advisory lock on "<folder>/.<name>.lock", held for one read-modify-write. The history file
// cannot carry the lock itself: every save replaces it. The lock goes with the descriptor, so a writer
// that dies never leaves it held.
class LockFile {
public:
    LockFile(const QString& historyPath, double timeoutSeconds)
    {
        const QFileInfo info(historyPath);
        const QByteArray path =
            QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() + QStringLiteral(".lock"));
        fd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) {
            error_ = QStringLiteral("cannot open the lock file: %1").arg(systemError(errno));
            return;
        }
        // Real time, not the injectable clock: this waits for another process.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(timeoutSeconds);
        while (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR)
                continue;
            if (errno != EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
                error_ = errno == EWOULDBLOCK ? QStringLiteral("another writer holds the lock")
                                              : QStringLiteral("cannot lock: %1").arg(systemError(errno));
                ::close(fd_);
                fd_ = -1;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    ~LockFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    LockFile(const LockFile&) = delete;
    LockFile& operator=(const LockFile&) = delete;

    bool isLocked() const { return fd_ >= 0; }
    const QString& error() const { return error_; }

private:
    int fd_ = -1;
    QString error_;
};

// Whether the archive holds anything but Foundation values and histories at the places they belong.
TEVSensorHistoryFile::ReadResult entriesFromRoot(const QVariant& root, bool generic)
{
    TEVSensorHistoryFile::ReadResult result;
    const auto computers = values::toDictionary(root);
    if (!computers) {
        result.status = Status::Corrupt;
        result.error = QStringLiteral("the root is a %1, not a dictionary").arg(values::kindName(values::kindOf(root)));
        return result;
    }
    result.status = Status::Read;
    for (auto computer = computers->cbegin(); computer != computers->cend(); ++computer) {
        const auto sensors = values::toDictionary(computer.value());
        if (!sensors) {
            ++result.skipped;
            continue;
        }
        TEVSensorHistoryFile::Histories histories;
        for (auto sensor = sensors->cbegin(); sensor != sensors->cend(); ++sensor) {
            std::shared_ptr<TEVSensorHistory> history;
            if (generic) {
                // Only a generic decoding gives an object that is no history as a dictionary: keep the
                // Foundation dictionaries of a strict decoding from passing as one.
                if (const auto fields = values::toDictionary(sensor.value()))
                    history = TEVSensorHistory::createWithArchivedValues(*fields, &result.error);
            } else {
                history = platform::objectAs<TEVSensorHistory>(values::toObject(sensor.value()));
            }
            if (history)
                histories.insert(sensor.key(), std::move(history));
            else
                ++result.skipped;
        }
        result.entries.insert(computer.key(), std::move(histories));
    }
    return result;
}

} // namespace

TEVSensorHistoryFile::TEVSensorHistoryFile(QString path)
    : path_(std::move(path))
{
}

QByteArray TEVSensorHistoryFile::encode(const Entries& entries)
{
    QVariantMap root;
    for (auto computer = entries.cbegin(); computer != entries.cend(); ++computer) {
        QVariantMap sensors;
        for (auto sensor = computer.value().cbegin(); sensor != computer.value().cend(); ++sensor) {
            if (sensor.value())
                sensors.insert(sensor.key(), values::fromObject(sensor.value()));
        }
        root.insert(computer.key(), sensors);
    }
    return platform::SequentialArchiver::archivedDataWithRootObject(root);
}

TEVSensorHistoryFile::ReadResult TEVSensorHistoryFile::decode(const QByteArray& data)
{
    platform::UnarchiveOptions strict;
    strict.allowedClasses = {QStringLiteral("TEVSensorHistory")};
    const QVariant root = platform::SequentialUnarchiver::unarchiveObjectWithData(data, strict);
    if (root.isValid()) {
        ReadResult result = entriesFromRoot(root, false);
        if (result.status == Status::Read && result.skipped > 0) {
            result.status = Status::Salvaged;
            result.error = QStringLiteral("%1 values are no histories").arg(result.skipped);
        }
        return result;
    }
    // One unsound history (or a foreign object) fails the strict decoding of the whole archive, and so does
    // a file cut short (a full disk, a crash while writing it). A generic decoding, bounded alike, still
    // gives every other history, and every one that was complete before the cut.
    platform::UnarchiveOptions generic;
    generic.generic = true;
    generic.keepWhatPrecedesACut = true;
    platform::SequentialUnarchiver unarchiver(data, generic);
    const QVariant salvage = unarchiver.decodeObject();
    if (!salvage.isValid() || (unarchiver.hasFailed() && !unarchiver.endedEarly())) {
        ReadResult result;
        result.status = Status::Corrupt;
        result.error = QStringLiteral("not a readable archive");
        return result;
    }
    ReadResult result = entriesFromRoot(salvage, true);
    if (result.status == Status::Read) {
        result.status = Status::Salvaged;
        result.error = unarchiver.endedEarly()
            ? QStringLiteral("the file ends early; %1 values cut short or no sound histories").arg(result.skipped)
            : QStringLiteral("%1 values are no sound histories (last: %2)").arg(result.skipped).arg(result.error);
    }
    return result;
}

TEVSensorHistoryFile::FileBytes TEVSensorHistoryFile::readBytes(const QString& path)
{
    using Read = platform::FileReadResult::Status;
    platform::FileReadResult file = platform::Paths::readRegularFile(path, maximumFileBytes);
    FileBytes result;
    result.status = file.status == Read::Read ? Status::Read : file.status == Read::Missing ? Status::Missing : Status::Unreadable;
    result.bytes = std::move(file.bytes);
    result.error = file.error;
    return result;
}

TEVSensorHistoryFile::ReadResult TEVSensorHistoryFile::read() const
{
    const FileBytes file = readBytes(path_);
    if (file.status != Status::Read) {
        ReadResult result;
        result.status = file.status;
        result.error = file.error;
        return result;
    }
    return decode(file.bytes);
}

platform::FileWriteResult TEVSensorHistoryFile::saveEntry(const QString& serialNumber, const Histories& histories)
{
    const LockFile lock(path_, lockTimeout_);
    if (!lock.isLocked())
        return {false, lock.error()};

    // A file kept elsewhere through a link is replaced, moved aside and cleaned up after where it lives; the
    // link stays.
    const platform::ResolvedFile file = platform::Paths::resolveFileLinks(path_);
    if (!file)
        return {false, file.error};
    ReadResult current = read();
    if (current.status == Status::Unreadable)
        return {false, QStringLiteral("cannot read %1 (%2); it is left as it is").arg(path_, current.error)};
    removeTemporaryFiles(file.path);
    if (current.status == Status::Salvaged || current.status == Status::Corrupt) {
        // Kept aside, never overwritten: a later damaged file gets a name of its own.
        const QString stamp = platform::currentDate().toUTC().toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
        QString backup = file.path + QStringLiteral(".unreadable-") + stamp;
        for (int n = 2; QFileInfo::exists(backup); ++n)
            backup = file.path + QStringLiteral(".unreadable-") + stamp + QLatin1Char('-') + QString::number(n);
        if (::rename(QFile::encodeName(file.path).constData(), QFile::encodeName(backup).constData()) != 0)
            return {false, QStringLiteral("cannot move the damaged %1 aside: %2").arg(file.path, systemError(errno))};
        platform::log(kClassName, QStringLiteral("the damaged %1 (%2) was moved to %3; %4 computers' histories kept")
                                      .arg(file.path, current.error, QFileInfo(backup).fileName())
                                      .arg(current.entries.size()));
    }

    current.entries.insert(serialNumber, histories);
    const QByteArray bytes = encode(current.entries);
    if (bytes.isNull())
        return {false, QStringLiteral("the histories could not be archived")};
    return writer_ ? writer_(file.path, bytes) : platform::Paths::writeFileSafely(file.path, bytes, 0644);
}

int TEVSensorHistoryFile::removeTemporaryFiles(const QString& file) const
{
    // Paths::writeFileSafely writes ".<name>.<random>" and renames it over the file; a save killed in
    // between leaves it behind. Called under the lock, so no save is writing one now.
    const QFileInfo info(file);
    const QString prefix = QStringLiteral(".") + info.fileName() + QLatin1Char('.');
    const QString lockName = prefix + QStringLiteral("lock");
    QDir folder = info.absoluteDir();
    int removed = 0;
    for (const QString& name : folder.entryList({prefix + QLatin1Char('*')}, QDir::Files | QDir::Hidden | QDir::System)) {
        if (name != lockName && folder.remove(name))
            ++removed;
    }
    if (removed > 0)
        platform::log(kClassName, QStringLiteral("removed %1 temporary files that an interrupted save left in %2")
                                      .arg(removed).arg(folder.path()));
    return removed;
}

int TEVSensorHistoryFile::removeStaleTemporaryFiles() const
{
    // Without waiting: while another save holds the lock its temporary file is not stale, and the next
    // save removes what is.
    const LockFile lock(path_, 0);
    if (!lock.isLocked())
        return 0;
    const platform::ResolvedFile file = platform::Paths::resolveFileLinks(path_);
    return file ? removeTemporaryFiles(file.path) : 0;
}
