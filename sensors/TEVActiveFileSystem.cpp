#include "sensors/TEVActiveFileSystem.h"

#include "platform/foundation/Log.h"
#include "platform/host/FileSystemSpace.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

using platform::MountEntry;
using platform::MountTable;

struct FlagName {
    quint32 bit;
    const char* name;
};

constexpr FlagName kFlagNames[] = {
    {0x1, "read-only"},   {0x2, "sync"},         {0x4, "noexec"},       {0x8, "nosuid"},
    {0x10, "nodev"},      {0x20, "union"},       {0x40, "asynchronous"}, {0x80, "protected"},
    {0x100, "NFS-exported"}, {0x400, "quarantine"}, {0x1000, "local"},  {0x2000, "quota"},
    {0x4000, "root"},     {0x8000, "volfs"},     {0x100000, "nobrowse"}, {0x200000, "noowners"},
    {0x400000, "automounted"}, {0x800000, "journaled"}, {0x1000000, "noextattr"}, {0x2000000, "defer"},
    {0x4000000, "multilabel"}, {0x10000000, "noatime"},
};

bool isNetworkType(const QString& type)
{
    static const QStringList network{QStringLiteral("nfs"), QStringLiteral("nfs4"), QStringLiteral("cifs"),
                                     QStringLiteral("smb3"), QStringLiteral("smbfs"), QStringLiteral("9p"),
                                     QStringLiteral("ceph"), QStringLiteral("glusterfs"), QStringLiteral("afs"),
                                     QStringLiteral("fuse.sshfs"), QStringLiteral("davfs"), QStringLiteral("fuse.rclone")};
    return network.contains(type);
}

// Kernel interfaces rather than volumes: a browser of volumes leaves them out.
bool isVirtualType(const QString& type)
{
    static const QStringList virtualTypes{
        QStringLiteral("proc"), QStringLiteral("sysfs"), QStringLiteral("devtmpfs"), QStringLiteral("devpts"),
        QStringLiteral("cgroup"), QStringLiteral("cgroup2"), QStringLiteral("securityfs"), QStringLiteral("debugfs"),
        QStringLiteral("tracefs"), QStringLiteral("configfs"), QStringLiteral("pstore"), QStringLiteral("bpf"),
        QStringLiteral("mqueue"), QStringLiteral("hugetlbfs"), QStringLiteral("fusectl"), QStringLiteral("binfmt_misc"),
        QStringLiteral("autofs"), QStringLiteral("efivarfs"), QStringLiteral("rpc_pipefs"), QStringLiteral("nsfs")};
    return virtualTypes.contains(type);
}

QString canonicalUUID(const QString& text)
{
    const QUuid uuid = QUuid::fromString(text);
    if (!uuid.isNull())
        return uuid.toString(QUuid::WithoutBraces).toUpper();
    // FAT and NTFS serial numbers ("1A2B-3C4D") are no RFC 4122 UUIDs; they keep their form.
    return text.toUpper();
}

} // namespace

TEVActiveFileSystem::Statistics TEVActiveFileSystem::statisticsForMount(const MountEntry& mount, const QString& parentType,
                                                                        const std::optional<platform::FileSystemSpace>& space)
{
    Statistics s;
    s.fsid[0] = qint32(mount.major);
    s.fsid[1] = qint32(mount.minor);
    s.typeName = mount.fileSystemType;
    s.mountPoint = mount.mountPoint;
    s.source = mount.source;
    if (space) {
        s.blockSize = quint32(qMin<quint64>(space->blockSize, 0xFFFFFFFFu));
        s.ioSize = qint32(qMin<quint64>(space->ioSize, 0x7FFFFFFF));
        s.blocks = space->blocks;
        s.freeBlocks = space->freeBlocks;
        s.availableBlocks = space->availableBlocks;
        s.files = space->files;
        s.freeFiles = space->freeFiles;
        s.type = space->typeMagic;
    }
    for (const QString& option : mount.superOptions + mount.mountOptions) {
        if (option.startsWith(QLatin1String("uid=")) || option.startsWith(QLatin1String("user_id="))) {
            bool ok = false;
            const quint32 uid = option.section(QLatin1Char('='), 1).toUInt(&ok);
            if (ok)
                s.owner = uid;
        }
    }
    quint32 flags = 0;
    const auto set = [&flags](bool condition, quint32 bit) { flags |= condition ? bit : 0; };
    set(mount.hasOption(QStringLiteral("ro")), ReadOnly);
    set(mount.hasOption(QStringLiteral("sync")), Synchronous);
    set(mount.mountOptions.contains(QStringLiteral("noexec")), NoExec);
    set(mount.mountOptions.contains(QStringLiteral("nosuid")), NoSUID);
    set(mount.mountOptions.contains(QStringLiteral("nodev")), NoDev);
    set(mount.mountOptions.contains(QStringLiteral("noatime")), NoAccessTime);
    set(mount.fileSystemType == QLatin1String("overlay") || mount.fileSystemType == QLatin1String("aufs"), Union);
    set(!isNetworkType(mount.fileSystemType), Local);
    bool quota = false;
    for (const QString& option : mount.superOptions) {
        quota = quota || option == QLatin1String("quota") || option.startsWith(QLatin1String("usrquota"))
             || option.startsWith(QLatin1String("grpquota")) || option.startsWith(QLatin1String("prjquota"))
             || option.startsWith(QLatin1String("usrjquota")) || option.startsWith(QLatin1String("grpjquota"));
    }
    set(quota, Quota);
    set(mount.mountPoint == QLatin1String("/"), RootFileSystem);
    set(isVirtualType(mount.fileSystemType), NoBrowse);
    set(parentType == QLatin1String("autofs") && mount.fileSystemType != QLatin1String("autofs"), Automounted);
    static const QStringList journaled{QStringLiteral("ext3"), QStringLiteral("ext4"), QStringLiteral("xfs"),
                                       QStringLiteral("jfs"), QStringLiteral("reiserfs")};
    set(journaled.contains(mount.fileSystemType), Journaled);
    s.flags = flags;
    return s;
}

std::shared_ptr<TEVActiveFileSystem> TEVActiveFileSystem::createWithBSDStatistics(const Statistics& statistics)
{
    if (statistics.typeName.isEmpty() || statistics.mountPoint.isEmpty() || statistics.source.isEmpty()) {
        platform::log(QString::asprintf("Notice: Received invalid file system description with ID 0x%x-0x%x.\n",
                                        unsigned(statistics.fsid[0]), unsigned(statistics.fsid[1])));
        return nullptr;
    }
    return std::shared_ptr<TEVActiveFileSystem>(new TEVActiveFileSystem(statistics));
}

TEVActiveFileSystem::FileSystemList TEVActiveFileSystem::mountedFileSystemsEnforcingUpdate(bool enforcingUpdate,
                                                                                           const platform::HostRoot& root)
{
    FileSystemList result;
    const auto mounts = MountTable::read(root);
    if (!mounts)
        return result;
    QHash<int, QString> typesByID;
    for (const auto& mount : *mounts)
        typesByID.insert(mount.mountID, mount.fileSystemType);
    const auto uuids = MountTable::volumeUUIDsByDevice(root);
    const auto labels = MountTable::volumeLabelsByDevice(root);
    for (const auto& mount : *mounts) {
        const auto space = enforcingUpdate ? platform::FileSystemSpace::query(root, mount.mountPoint) : std::nullopt;
        auto fileSystem = createWithBSDStatistics(statisticsForMount(mount, typesByID.value(mount.parentID), space));
        if (!fileSystem)
            continue;
        const QString device = MountTable::deviceNameOfSource(root, mount.source);
        if (!device.isEmpty() && uuids.contains(device))
            fileSystem->setArbitrationUUID(uuids.value(device));
        QString name = device.isEmpty() ? QString() : labels.value(device);
        if (name.isEmpty())
            name = mount.mountPoint == QLatin1String("/") ? mount.mountPoint : QFileInfo(mount.mountPoint).fileName();
        fileSystem->setVolumeName(name);
        result.append(std::move(fileSystem));
    }
    return result;
}

QHash<QString, std::shared_ptr<TEVActiveFileSystem>> TEVActiveFileSystem::mountedFileSystemsByID(const platform::HostRoot& root)
{
    QHash<QString, std::shared_ptr<TEVActiveFileSystem>> result;
    for (const auto& fileSystem : mountedFileSystemsEnforcingUpdate(false, root))
        result.insert(QString::number(fileSystem->fileSystemID(), 16).toUpper(), fileSystem);
    return result;
}

TEVActiveFileSystem::FileSystemList TEVActiveFileSystem::availableFileSystemsWithUUID(const platform::HostRoot& root)
{
    FileSystemList result;
    for (const auto& fileSystem : mountedFileSystemsEnforcingUpdate(false, root)) {
        if (fileSystem->hasArbitrationUUID())
            result.append(fileSystem);
    }
    return result;
}

QHash<QString, std::shared_ptr<TEVActiveFileSystem>> TEVActiveFileSystem::diskFileSystemsByUUIDStrings(const platform::HostRoot& root)
{
    QHash<QString, std::shared_ptr<TEVActiveFileSystem>> result;
    for (const auto& fileSystem : availableFileSystemsWithUUID(root))
        result.insert(fileSystem->arbitrationUUID(), fileSystem);
    return result;
}

std::shared_ptr<TEVActiveFileSystem> TEVActiveFileSystem::fileSystemAtPath(const QString& path, const platform::HostRoot& root)
{
    if (path.isEmpty())
        return nullptr;
    const auto space = platform::FileSystemSpace::query(root, path);
    const auto mounts = MountTable::read(root);
    if (!space || !mounts)
        return nullptr;
    // statfs follows symbolic links, so the mount must be found for where the path leads, not for its text:
    // on the live machine by the device of the resolved path. A simulated root has no devices to ask.
    QString target = QDir::cleanPath(path);
    std::optional<std::pair<quint32, quint32>> device;
    if (root.isLive()) {
        target = QFileInfo(path).canonicalFilePath();
        struct stat info {};
        if (target.isEmpty() || ::stat(QFile::encodeName(target).constData(), &info) != 0)
            return nullptr;
        device = std::pair<quint32, quint32>(major(info.st_dev), minor(info.st_dev));
    }
    // The last mount on the longest mount point holding the path: a later mount hides an earlier one. One
    // of the path's device wins over any other (a btrfs subvolume's files report a device of their own).
    const MountEntry* best = nullptr;
    bool bestOnDevice = false;
    QHash<int, QString> typesByID;
    for (const auto& mount : *mounts) {
        typesByID.insert(mount.mountID, mount.fileSystemType);
        const QString& point = mount.mountPoint;
        const bool holds = point == QLatin1String("/") || target == point
                        || (target.startsWith(point) && target.at(point.size()) == QLatin1Char('/'));
        if (!holds)
            continue;
        const bool onDevice = device && device->first == mount.major && device->second == mount.minor;
        if (!best || (onDevice && !bestOnDevice) || (onDevice == bestOnDevice && point.size() >= best->mountPoint.size())) {
            best = &mount;
            bestOnDevice = onDevice;
        }
    }
    if (!best)
        return nullptr;
    return createWithBSDStatistics(statisticsForMount(*best, typesByID.value(best->parentID), space));
}

bool TEVActiveFileSystem::isPathOnSameFileSystemAsPath(const QString& path, const QString& otherPath,
                                                       const platform::HostRoot& root)
{
    const auto first = fileSystemAtPath(path, root);
    const auto second = first ? fileSystemAtPath(otherPath, root) : nullptr;
    return second && first->fileSystemID() == second->fileSystemID();
}

QString TEVActiveFileSystem::mountPathForAutoFSMapWithName(const QString& mapName, const platform::HostRoot& root)
{
    if (mapName.isEmpty())
        return {};
    // "map -hosts" is how the original automounter names a map; Linux's automount writes the map itself
    // ("/etc/auto.misc", "-hosts").
    const QStringList sources{QStringLiteral("map -") + mapName, mapName, QLatin1Char('-') + mapName};
    for (const auto& fileSystem : mountedFileSystemsEnforcingUpdate(false, root)) {
        if (fileSystem->fileSystemTypeName() == QLatin1String("autofs") && sources.contains(fileSystem->mountSourcePath()))
            return fileSystem->mountPointPath();
    }
    return {};
}

double TEVActiveFileSystem::percentageFree() const
{
    // The complement of the disk probe's used share, so both tell the same of a volume.
    const auto used = platform::FileSystemSpace::percentageUsed(stats_.blocks, stats_.freeBlocks, stats_.availableBlocks);
    return used ? 100.0 - *used : 0.0;
}

QString TEVActiveFileSystem::arbitrationUUID() const
{
    std::lock_guard lock(uuidMutex_);
    return arbitrationUUID_;
}

void TEVActiveFileSystem::setArbitrationUUID(const QString& uuid)
{
    std::lock_guard lock(uuidMutex_);
    arbitrationUUID_ = uuid.isEmpty() ? QString() : canonicalUUID(uuid);
}

QString TEVActiveFileSystem::mountFlagsDescription() const
{
    QStringList names;
    for (const auto& flag : kFlagNames) {
        if (stats_.flags & flag.bit)
            names.append(QString::fromLatin1(flag.name));
    }
    return names.join(QStringLiteral(", "));
}

QString TEVActiveFileSystem::description() const
{
    const QString uuid = arbitrationUUID();
    return QStringLiteral("TEVActiveFileSystem: %1 on %2 (flags %3: %4)\n").arg(stats_.source, stats_.mountPoint,
                                                                                 QString::number(stats_.flags, 16),
                                                                                 mountFlagsDescription())
         + QStringLiteral("block size: %1 (optimum: %2), blocks: %3 (free: %4, including spare: %5), file nodes: %6 (free: %7)\n")
               .arg(blockSize()).arg(optimalBlockSize()).arg(blockCount()).arg(freeBlockCount())
               .arg(freeBlockCountIncludingSpare()).arg(fileNodeCount()).arg(freeFileNodeCount())
         + QStringLiteral("ID: %1, owned by %2, type %3 subtype %4 (%5), UUID: %6 Volume: '%7'\n")
               .arg(QString::number(fileSystemID(), 16)).arg(qint32(stats_.owner)).arg(stats_.type).arg(stats_.subtype)
               .arg(stats_.typeName, uuid.isNull() ? QStringLiteral("none") : uuid, volumeName_);
}
