#pragma once
// FileSystemSpace: the size figures of the file system that holds a path (statvfs), with f_frsize as the
// block unit. The one host reader that touches a mounted file system: a dead network mount can block it,
// so only callers that may wait use it. Stateless; any thread.
//
// Under the live root ("/") it calls statfs (the statvfs figures and the type's magic number). Under any other root (a simulated computer, a captured tree)
// nothing real can be asked, so it reads the text file <root>/run/kelvaro/statvfs instead: one line per
// mounted file system,
//     <mount point> <f_frsize> <f_blocks> <f_bfree> <f_bavail> <f_files> <f_ffree>
// with the mount point escaped as in mountinfo ("\040" for a space). A path belongs to the longest mount
// point that contains it; a root without the file answers nothing for every path.

#include "platform/foundation/HostRoot.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

struct FileSystemSpace {
    quint64 blockSize = 0; // f_frsize, the unit of the block counts
    quint64 ioSize = 0;    // f_bsize, the preferred transfer size
    quint64 blocks = 0;
    quint64 freeBlocks = 0;      // including those reserved for root
    quint64 availableBlocks = 0; // what an unprivileged user may still write
    quint64 files = 0;
    quint64 freeFiles = 0;
    quint32 typeMagic = 0; // f_type ("EXT4_SUPER_MAGIC" 0xEF53, ...); 0 under a simulated root

    quint64 totalBytes() const { return blocks * blockSize; }
    quint64 availableBytes() const { return availableBlocks * blockSize; }
    // As df counts "Used": everything not free, reserved blocks excluded.
    quint64 usedBytes() const { return blocks > freeBlocks ? (blocks - freeBlocks) * blockSize : 0; }
    // df's "Use%": the used share of what users can have (used plus available), reserved blocks left out.
    // Nothing when both are 0. Every used or free percentage of a volume comes from here, so they agree.
    static std::optional<double> percentageUsed(quint64 blocks, quint64 freeBlocks, quint64 availableBlocks);
    std::optional<double> percentageUsed() const { return percentageUsed(blocks, freeBlocks, availableBlocks); }

    // Nothing for an empty or relative path, or when the query fails (no such path).
    static std::optional<FileSystemSpace> query(const HostRoot& root, const QString& path);
    // The fixture file's figures for `path`.
    static std::optional<FileSystemSpace> parseFixture(const QByteArray& text, const QString& path);
};

} // namespace platform
