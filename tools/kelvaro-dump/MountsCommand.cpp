#include "tools/kelvaro-dump/Commands.h"

#include "sensors/TEVActiveFileSystem.h"

namespace dump {

// Every mounted file system with its figures (statvfs is asked, so a dead network mount can make it wait).
int mountsCommand(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return 2;
    QVariantList result;
    for (const auto& fs : TEVActiveFileSystem::mountedFileSystemsEnforcingUpdate(true)) {
        QVariantMap row{{QStringLiteral("MountPoint"), fs->mountPointPath()},
                        {QStringLiteral("Source"), fs->mountSourcePath()},
                        {QStringLiteral("Type"), fs->fileSystemTypeName()},
                        {QStringLiteral("ID"), QString::number(fs->fileSystemID(), 16).toUpper()},
                        {QStringLiteral("Flags"), qint64(fs->mountFlags())},
                        {QStringLiteral("FlagNames"), fs->mountFlagsDescription()},
                        {QStringLiteral("BlockSize"), qint64(fs->blockSize())},
                        {QStringLiteral("Blocks"), qint64(fs->blockCount())},
                        {QStringLiteral("FreeBlocks"), qint64(fs->freeBlockCount())},
                        {QStringLiteral("AvailableBlocks"), qint64(fs->freeBlockCountIncludingSpare())},
                        {QStringLiteral("Files"), qint64(fs->fileNodeCount())},
                        {QStringLiteral("FreeFiles"), qint64(fs->freeFileNodeCount())},
                        {QStringLiteral("Owner"), qint64(fs->userIDOfMountOwner())},
                        {QStringLiteral("PercentageFree"), fs->percentageFree()},
                        {QStringLiteral("VolumeName"), fs->volumeName()}};
        if (fs->hasArbitrationUUID())
            row.insert(QStringLiteral("UUID"), fs->arbitrationUUID());
        result.append(row);
    }
    printPropertyList(result);
    return 0;
}

} // namespace dump
