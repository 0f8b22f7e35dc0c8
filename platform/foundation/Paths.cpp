#include "platform/foundation/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

QString absoluteFromEnvironment(const char* name)
{
    const QString value = qEnvironmentVariable(name);
    // The XDG conventions ignore relative paths.
    if (value.isEmpty() || !QDir::isAbsolutePath(value))
        return {};
    return QDir::cleanPath(value);
}

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// The value of `key` in a user-dirs.dirs file: lines of the form XDG_DESKTOP_DIR="$HOME/Desktop", where the
// value is quoted and may start with $HOME (the only expansion the format allows).
QString userDirFromFile(const QString& file, const QString& key, const QString& home)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    QString result;
    for (QString line : lines) {
        line = line.trimmed();
        if (line.startsWith(QLatin1Char('#')) || !line.startsWith(key + QLatin1Char('=')))
            continue;
        QString value = line.mid(key.size() + 1).trimmed();
        if (value.size() < 2 || !value.startsWith(QLatin1Char('"')) || !value.endsWith(QLatin1Char('"')))
            continue;
        value = value.mid(1, value.size() - 2);
        if (value.startsWith(QLatin1String("$HOME")))
            value = home + value.mid(5);
        else if (!QDir::isAbsolutePath(value))
            continue;
        result = QDir::cleanPath(value); // the last assignment wins, as in a shell
    }
    return result;
}

// What a name holds that is no regular file, as "it is ..., not a file" tells it.
const char* kindOfNonFile(mode_t mode)
{
    return S_ISFIFO(mode) ? "a FIFO"
         : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
         : S_ISSOCK(mode) ? "a socket"
         : S_ISDIR(mode) ? "a folder" : "no regular file";
}

bool writeAll(int fd, const QByteArray& bytes, int* error)
{
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

QString Paths::homeDirectory()
{
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty())
        return QDir::cleanPath(home);
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size_t(size > 0 ? size : 16384));
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return QDir::cleanPath(QString::fromLocal8Bit(found->pw_dir));
    return QStringLiteral("/");
}

QString Paths::dataHome()
{
    const QString dir = absoluteFromEnvironment("XDG_DATA_HOME");
    return dir.isEmpty() ? homeDirectory() + QStringLiteral("/.local/share") : dir;
}

QString Paths::configHome()
{
    const QString dir = absoluteFromEnvironment("XDG_CONFIG_HOME");
    return dir.isEmpty() ? homeDirectory() + QStringLiteral("/.config") : dir;
}

QString Paths::desktopDirectory()
{
    const QString home = homeDirectory();
    QString dir = absoluteFromEnvironment("XDG_DESKTOP_DIR");
    if (dir.isEmpty())
        dir = userDirFromFile(configHome() + QStringLiteral("/user-dirs.dirs"), QStringLiteral("XDG_DESKTOP_DIR"), home);
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        return home;
    return dir;
}

QString Paths::applicationSupportDirectory(const QString& applicationName)
{
    return dataHome() + QLatin1Char('/') + applicationName + QLatin1Char('/');
}

ResolvedFile Paths::resolveFileLinks(const QString& path)
{
    // The system's own bound on the links of one path.
    constexpr int kMaximumLinks = 40;
    QString current = path;
    for (int links = 0;; ++links) {
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(QFile::encodeName(current).constData(), buffer, sizeof buffer);
        if (n < 0 && (errno == EINVAL || errno == ENOENT || errno == ENOTDIR)) {
            // Where a link leads, only a file is replaced or moved aside: never a device or a folder.
            struct stat st {};
            if (links > 0 && ::stat(QFile::encodeName(current).constData(), &st) == 0 && !S_ISREG(st.st_mode))
                return {path, QStringLiteral("%1 is a link to %2: it is %3, not a file")
                                  .arg(path, current, QLatin1String(kindOfNonFile(st.st_mode)))};
            return {current, {}}; // a file, a missing name, or what a write of a name given as it is reports
        }
        if (n < 0)
            return {path, QStringLiteral("cannot follow the link %1: %2").arg(current, systemError(errno))};
        if (size_t(n) == sizeof buffer)
            return {path, QStringLiteral("cannot follow the link %1: %2").arg(current, systemError(ENAMETOOLONG))};
        if (links == kMaximumLinks)
            return {path, QStringLiteral("cannot follow the link %1: %2").arg(path, systemError(ELOOP))};

        QString target = QFile::decodeName(QByteArray(buffer, n));
        if (!target.startsWith(QLatin1Char('/')))
            target = QFileInfo(current).path() + QLatin1Char('/') + target;
        const qsizetype slash = target.lastIndexOf(QLatin1Char('/'));
        const QString folder = slash == 0 ? QStringLiteral("/") : target.left(slash);
        const QString name = target.mid(slash + 1);
        if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
            return {path, QStringLiteral("%1 is a link to the folder %2, not to a file").arg(path, target)};
        // Not cleaned as text: ".." after a linked folder leads where the system takes it.
        char* real = ::realpath(QFile::encodeName(folder).constData(), nullptr);
        if (!real) {
            const QString why = errno == ENOENT ? QStringLiteral("which does not exist")
                                                : QStringLiteral("which cannot be reached: %1").arg(systemError(errno));
            return {path, QStringLiteral("%1 is a link into the folder %2, %3").arg(path, QDir::cleanPath(folder), why)};
        }
        const QString realFolder = QFile::decodeName(real);
        std::free(real);
        current = (realFolder == QLatin1String("/") ? QString() : realFolder) + QLatin1Char('/') + name;
    }
}

FileWriteResult Paths::writeFileThroughLinks(const QString& path, const QByteArray& bytes, int mode)
{
    const ResolvedFile file = resolveFileLinks(path);
    if (!file)
        return {false, file.error};
    return writeFileSafely(file.path, bytes, mode);
}

FileWriteResult Paths::writeFileSafely(const QString& path, const QByteArray& bytes, int mode)
{
    const QFileInfo info(path);
    if (path.isEmpty() || info.fileName().isEmpty())
        return {false, QStringLiteral("no file name in \"%1\"").arg(path)};
    const QString folder = info.absolutePath();
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());

    // A name nobody can have prepared: O_EXCL fails on anything already there, a symlink included.
    QByteArray temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        const QString suffix = QString::number(QRandomGenerator::system()->generate64(), 36);
        temp = QFile::encodeName(folder + QStringLiteral("/.") + info.fileName() + QLatin1Char('.') + suffix);
        fd = ::open(temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode_t(mode));
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return {false, QStringLiteral("cannot create a temporary file in %1: %2").arg(folder, systemError(errno))};

    int error = 0;
    bool ok = writeAll(fd, bytes, &error);
    if (ok && ::fsync(fd) != 0) {
        error = errno;
        ok = false;
    }
    if (::close(fd) != 0 && ok) {
        error = errno;
        ok = false;
    }
    if (ok && ::rename(temp.constData(), target.constData()) != 0) {
        error = errno;
        ok = false;
    }
    if (!ok) {
        ::unlink(temp.constData());
        return {false, QStringLiteral("cannot write %1: %2").arg(path, systemError(error))};
    }
    // The rename is durable once the folder's entry is on disk; failing that is no reason to report failure.
    const int dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return {true, {}};
}

QByteArray Paths::readAtMost(QIODevice& device, qint64 maxBytes)
{
    constexpr qint64 chunkBytes = 64 * 1024;
    const qint64 limit = std::max<qint64>(maxBytes, 0) + 1;
    QByteArray bytes;
    if (!device.isSequential())
        bytes.reserve(qsizetype(std::clamp<qint64>(device.size() - device.pos(), 0, limit)));
    while (bytes.size() < limit) {
        const QByteArray chunk = device.read(std::min(chunkBytes, limit - bytes.size()));
        if (chunk.isEmpty())
            break;
        bytes += chunk;
    }
    return bytes;
}

FileReadResult Paths::readRegularFile(const QString& path, qint64 maxBytes)
{
    FileReadResult result;
    // Non-blocking: opening a FIFO for reading would wait for a writer.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno != ENOENT) {
            result.status = FileReadResult::Status::Refused;
            result.error = QString::fromLocal8Bit(std::strerror(errno));
        }
        return result;
    }
    const auto refused = [&](const QString& error) {
        ::close(fd);
        result.status = FileReadResult::Status::Refused;
        result.bytes.clear();
        result.error = error;
        return result;
    };
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return refused(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(st.st_mode))
        return refused(QStringLiteral("it is %1, not a file").arg(QLatin1String(kindOfNonFile(st.st_mode))));
    const qint64 limit = std::max<qint64>(maxBytes, 0);
    const QString tooLarge = QStringLiteral("it is larger than %1 bytes").arg(limit);
    if (st.st_size > limit)
        return refused(tooLarge);
    // The file may grow while it is read: one byte past the bound tells.
    result.bytes.resize(qsizetype(st.st_size) + 1);
    qsizetype filled = 0;
    for (;;) {
        if (filled == result.bytes.size()) {
            if (filled > limit)
                return refused(tooLarge);
            result.bytes.resize(qsizetype(std::min<qint64>(qint64(filled) * 2, limit + 1)));
        }
        const ssize_t n = ::read(fd, result.bytes.data() + filled, size_t(result.bytes.size() - filled));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return refused(QString::fromLocal8Bit(std::strerror(errno)));
        if (n == 0)
            break;
        filled += n;
    }
    ::close(fd);
    if (filled > limit)
        return refused(tooLarge);
    result.bytes.truncate(filled);
    result.status = FileReadResult::Status::Read;
    return result;
}

} // namespace platform
