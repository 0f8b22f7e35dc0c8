#include "platform/host/FileSystemSpace.h"

#include "platform/host/MountTable.h"

#include <QFile>

#include <sys/statfs.h>

namespace platform {

namespace {

bool contains(const QString& mountPoint, const QString& path)
{
    if (mountPoint == QLatin1String("/"))
        return true;
    return path == mountPoint || (path.startsWith(mountPoint) && path.at(mountPoint.size()) == QLatin1Char('/'));
}

} // namespace

std::optional<FileSystemSpace> FileSystemSpace::query(const HostRoot& root, const QString& path)
{
    if (!path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    if (!root.isLive()) {
        const auto text = root.readFile(QStringLiteral("/run/kelvaro/statvfs"));
        return text ? parseFixture(*text, path) : std::nullopt;
    }
    // statfs: the statvfs figures plus the file system's magic number.
    struct statfs info {};
    if (statfs(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    FileSystemSpace space;
    // Some old file systems leave f_frsize 0; their fragment is the block.
    space.blockSize = info.f_frsize ? info.f_frsize : info.f_bsize;
    space.ioSize = info.f_bsize;
    space.blocks = info.f_blocks;
    space.freeBlocks = info.f_bfree;
    space.availableBlocks = info.f_bavail;
    space.files = info.f_files;
    space.freeFiles = info.f_ffree;
    space.typeMagic = quint32(info.f_type);
    return space;
}

std::optional<FileSystemSpace> FileSystemSpace::parseFixture(const QByteArray& text, const QString& path)
{
    std::optional<FileSystemSpace> best;
    qsizetype bestLength = -1;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() != 7)
            continue;
        const QString mountPoint = MountTable::unescape(fields[0]);
        if (!contains(mountPoint, path) || mountPoint.size() <= bestLength)
            continue;
        quint64 numbers[6] = {};
        bool ok = true;
        for (int i = 0; i < 6 && ok; ++i)
            numbers[i] = fields[i + 1].toULongLong(&ok);
        if (!ok)
            continue;
        FileSystemSpace space;
        space.blockSize = space.ioSize = numbers[0];
        space.blocks = numbers[1];
        space.freeBlocks = numbers[2];
        space.availableBlocks = numbers[3];
        space.files = numbers[4];
        space.freeFiles = numbers[5];
        best = space;
        bestLength = mountPoint.size();
    }
    return best;
}

std::optional<double> FileSystemSpace::percentageUsed(quint64 blocks, quint64 freeBlocks, quint64 availableBlocks)
{
    const double used = blocks > freeBlocks ? double(blocks - freeBlocks) : 0.0;
    const double available = double(availableBlocks);
    if (used + available <= 0.0)
        return std::nullopt;
    return 100.0 * used / (used + available);
}

} // namespace platform
