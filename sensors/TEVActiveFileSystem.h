#pragma once
// TEVActiveFileSystem: a snapshot of one mounted file system (its mountinfo line, the flags its mount
// options give and, when asked for, its statvfs figures) with its volume UUID. Immutable after creation
// but for the atomic UUID; the class operations keep no state and may be called from any thread.

#include "platform/foundation/HostRoot.h"
#include "platform/host/FileSystemSpace.h"
#include "platform/host/MountTable.h"

#include <QHash>
#include <QList>

#include <memory>
#include <mutex>
#include <optional>

class TEVActiveFileSystem {
public:
    using FileSystemList = QList<std::shared_ptr<TEVActiveFileSystem>>;

    // The original statistics record's fields, as filled on Linux.
    struct Statistics {
        quint32 blockSize = 0; // f_frsize: the unit of the block counts
        qint32 ioSize = 0;     // f_bsize
        quint64 blocks = 0;
        quint64 freeBlocks = 0;
        quint64 availableBlocks = 0;
        quint64 files = 0;
        quint64 freeFiles = 0;
        qint32 fsid[2] = {0, 0}; // the device's major and minor number
        quint32 owner = 0;       // the "uid=" mount option of FAT and FUSE mounts, else 0 (root)
        quint32 type = 0;        // statfs f_type; 0 when the figures were not asked for
        quint32 flags = 0;
        quint32 subtype = 0;
        QString typeName;   // "ext4"
        QString mountPoint; // "/home"
        QString source;     // "/dev/sda2"
    };

    enum MountFlag : quint32 {
        ReadOnly = 0x1, Synchronous = 0x2, NoExec = 0x4, NoSUID = 0x8, NoDev = 0x10, Union = 0x20, Asynchronous = 0x40,
        Local = 0x1000, Quota = 0x2000, RootFileSystem = 0x4000, NoBrowse = 0x100000, Automounted = 0x400000,
        Journaled = 0x800000, NoAccessTime = 0x10000000
    };

    // All mounted file systems in mountinfo order. With `enforcingUpdate` each one's figures are asked for
    // (statvfs, which can wait on a dead network mount); without, the block figures are 0 and no mounted
    // file system is touched.
    static FileSystemList mountedFileSystemsEnforcingUpdate(bool enforcingUpdate,
                                                            const platform::HostRoot& root = *platform::HostRoot::current());
    // fileSystemID as "%llX" → file system; a later entry with the same identifier wins (bind mounts and
    // btrfs subvolumes share theirs).
    static QHash<QString, std::shared_ptr<TEVActiveFileSystem>> mountedFileSystemsByID(
        const platform::HostRoot& root = *platform::HostRoot::current());
    static FileSystemList availableFileSystemsWithUUID(const platform::HostRoot& root = *platform::HostRoot::current());
    static QHash<QString, std::shared_ptr<TEVActiveFileSystem>> diskFileSystemsByUUIDStrings(
        const platform::HostRoot& root = *platform::HostRoot::current());
    // The file system holding `path`, with its figures; null for an empty path or a failed query.
    static std::shared_ptr<TEVActiveFileSystem> fileSystemAtPath(const QString& path,
                                                                 const platform::HostRoot& root = *platform::HostRoot::current());
    static bool isPathOnSameFileSystemAsPath(const QString& path, const QString& otherPath,
                                             const platform::HostRoot& root = *platform::HostRoot::current());
    static QString mountPathForAutoFSMapWithName(const QString& mapName,
                                                 const platform::HostRoot& root = *platform::HostRoot::current());

    // Null (logged) when the type name, mount point or source is empty.
    static std::shared_ptr<TEVActiveFileSystem> createWithBSDStatistics(const Statistics& statistics);
    // The record of one mountinfo line: flags from the options; `parentType` is the type of the mount it
    // sits on (an autofs parent marks it automounted).
    static Statistics statisticsForMount(const platform::MountEntry& mount, const QString& parentType,
                                         const std::optional<platform::FileSystemSpace>& space);

    quint64 blockSize() const { return stats_.blockSize; }
    quint64 optimalBlockSize() const { return quint64(qint64(stats_.ioSize)); }
    quint64 blockCount() const { return stats_.blocks; }
    quint64 freeBlockCount() const { return stats_.freeBlocks; }
    quint64 freeBlockCountIncludingSpare() const { return stats_.availableBlocks; }
    quint64 fileNodeCount() const { return stats_.files; }
    quint64 freeFileNodeCount() const { return stats_.freeFiles; }
    quint64 fileSystemID() const { return quint64(quint32(stats_.fsid[0])) << 32 | quint32(stats_.fsid[1]); }
    quint32 userIDOfMountOwner() const { return stats_.owner; }
    quint32 fileSystemType() const { return stats_.type; }
    quint32 fileSystemSubType() const { return stats_.subtype; }
    quint32 mountFlags() const { return stats_.flags; }
    QString fileSystemTypeName() const { return stats_.typeName; }
    QString mountPointPath() const { return stats_.mountPoint; }
    QString mountSourcePath() const { return stats_.source; }
    bool isAutomounted() const { return stats_.flags & Automounted; }
    // f_bavail ÷ f_blocks × 100; 0 without blocks.
    double percentageFree() const;
    const Statistics& statistics() const { return stats_; }

    // Canonical upper-case text; null when the volume has none.
    QString arbitrationUUID() const;
    void setArbitrationUUID(const QString& uuid);
    bool hasArbitrationUUID() const { return !arbitrationUUID().isNull(); }
    // The volume label, else the last component of the mount point ("/" for the root).
    QString volumeName() const { return volumeName_; }
    void setVolumeName(const QString& name) { volumeName_ = name; }

    // The names of the set flags in their fixed order, joined by ", ".
    QString mountFlagsDescription() const;
    QString description() const;
    bool isEqual(const TEVActiveFileSystem* other) const { return other && other->fileSystemID() == fileSystemID(); }

private:
    explicit TEVActiveFileSystem(Statistics stats) : stats_(std::move(stats)) {}

    Statistics stats_;
    QString volumeName_;
    mutable std::mutex uuidMutex_;
    QString arbitrationUUID_;
};
