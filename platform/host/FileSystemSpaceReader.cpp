#include "platform/host/FileSystemSpaceReader.h"

#include "platform/host/MountTable.h"

#include <condition_variable>

namespace platform {

struct FileSystemSpaceReader::Pending {
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    std::optional<FileSystemSpace> space;
};

namespace {

bool contains(const QString& mountPoint, const QString& path)
{
    if (mountPoint == QLatin1String("/"))
        return true;
    return path == mountPoint || (path.startsWith(mountPoint) && path.at(mountPoint.size()) == QLatin1Char('/'));
}

std::mutex sharedMutex;
std::shared_ptr<FileSystemSpaceReader>& sharedReader()
{
    static std::shared_ptr<FileSystemSpaceReader> reader;
    return reader;
}

} // namespace

FileSystemSpaceReader::FileSystemSpaceReader(Query query, std::chrono::milliseconds wait)
    : query_(std::move(query)), wait_(wait)
{
}

FileSystemSpaceReader::~FileSystemSpaceReader()
{
    std::lock_guard lock(mutex_);
    for (Worker& worker : workers_) {
        bool done = false;
        {
            std::lock_guard pendingLock(worker.pending->mutex);
            done = worker.pending->done;
        }
        // A worker keeps what it uses (query, root, path, its answer), so one still stuck may outlive us.
        if (done)
            worker.thread.join();
        else
            worker.thread.detach();
    }
}

void FileSystemSpaceReader::setWait(std::chrono::milliseconds wait)
{
    std::lock_guard lock(mutex_);
    wait_ = wait;
}

bool FileSystemSpaceReader::isNetworkFileSystemType(const QString& type)
{
    static const QStringList types = {
        QStringLiteral("nfs"),        QStringLiteral("nfs4"),          QStringLiteral("cifs"),
        QStringLiteral("smb3"),       QStringLiteral("smbfs"),         QStringLiteral("ncpfs"),
        QStringLiteral("9p"),         QStringLiteral("ceph"),          QStringLiteral("glusterfs"),
        QStringLiteral("afs"),        QStringLiteral("lustre"),        QStringLiteral("davfs"),
        QStringLiteral("sshfs"),      QStringLiteral("fuse.sshfs"),    QStringLiteral("fuse.glusterfs"),
        QStringLiteral("fuse.ceph"),  QStringLiteral("fuse.davfs2"),   QStringLiteral("fuse.curlftpfs"),
        QStringLiteral("fuse.s3fs"),  QStringLiteral("fuse.rclone"),   QStringLiteral("fuse.gvfsd-fuse"),
    };
    return types.contains(type);
}

QString FileSystemSpaceReader::fileSystemTypeOf(const HostRoot& root, const QString& path)
{
    QString type;
    qsizetype longest = -1;
    for (const MountEntry& mount : MountTable::read(root).value_or(std::vector<MountEntry>())) {
        // A later mount over the same point hides the earlier one.
        if (contains(mount.mountPoint, path) && mount.mountPoint.size() >= longest) {
            type = mount.fileSystemType;
            longest = mount.mountPoint.size();
        }
    }
    return type;
}

void FileSystemSpaceReader::reapFinishedWorkers()
{
    std::erase_if(workers_, [](Worker& worker) {
        std::lock_guard lock(worker.pending->mutex);
        if (!worker.pending->done)
            return false;
        worker.thread.join();
        return true;
    });
}

FileSystemSpaceReader::Result FileSystemSpaceReader::read(const HostRoot& root, const QString& path)
{
    if (!path.startsWith(QLatin1Char('/')) || !isNetworkFileSystemType(fileSystemTypeOf(root, path)))
        return {query_(root, path), false};

    const QString key = root.root() + QLatin1Char('\0') + path;
    std::shared_ptr<Pending> pending;
    std::chrono::milliseconds wait{};
    {
        std::lock_guard lock(mutex_);
        reapFinishedWorkers();
        pending = pending_.value(key);
        if (!pending) {
            // Only the read that starts a query waits for it: a server that stays silent costs one wait,
            // not one per probe and tick.
            wait = wait_;
            pending = std::make_shared<Pending>();
            pending_.insert(key, pending);
            workers_.push_back({std::thread([query = query_, root, path, pending] {
                                    auto space = query(root, path);
                                    std::lock_guard lock(pending->mutex);
                                    pending->space = std::move(space);
                                    pending->done = true;
                                    pending->answered.notify_all();
                                }),
                                pending});
        }
    }

    std::unique_lock pendingLock(pending->mutex);
    if (!pending->answered.wait_for(pendingLock, wait, [&] { return pending->done; }))
        return {std::nullopt, true};
    Result result{pending->space, false};
    pendingLock.unlock();
    std::lock_guard lock(mutex_);
    if (pending_.value(key) == pending)
        pending_.remove(key);
    return result;
}

std::shared_ptr<FileSystemSpaceReader> FileSystemSpaceReader::shared()
{
    std::lock_guard lock(sharedMutex);
    auto& reader = sharedReader();
    if (!reader)
        reader = std::make_shared<FileSystemSpaceReader>();
    return reader;
}

void FileSystemSpaceReader::setShared(std::shared_ptr<FileSystemSpaceReader> reader)
{
    std::lock_guard lock(sharedMutex);
    sharedReader() = std::move(reader);
}

} // namespace platform
