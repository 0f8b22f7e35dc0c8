#pragma once
// FileSystemSpaceReader: file-system space for a caller that must not block, such as the capture thread. A
// path on a network file system, whose statfs hangs for minutes when the server is gone, is asked on a
// worker thread; the read that starts the query waits for it at most a bounded time, later reads not at
// all: until that worker answers, the caller is told to wait. One query per path is under way at a time.
// Other paths are asked at once. The file system of a path comes from the mount table, which never touches
// the mounts (read once per MountTable::ReadingScope). Thread-safe; one shared instance.

#include "platform/host/FileSystemSpace.h"

#include <QHash>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace platform {

class FileSystemSpaceReader {
public:
    using Query = std::function<std::optional<FileSystemSpace>(const HostRoot&, const QString&)>;
    static constexpr std::chrono::milliseconds DefaultWait{250};

    struct Result {
        std::optional<FileSystemSpace> space; // nothing when the query failed
        bool waiting = false;                 // a worker is still asking: there is no answer yet
    };

    explicit FileSystemSpaceReader(Query query = &FileSystemSpace::query, std::chrono::milliseconds wait = DefaultWait);
    // Joins the workers that answered; one still stuck is left to end on its own.
    ~FileSystemSpaceReader();
    FileSystemSpaceReader(const FileSystemSpaceReader&) = delete;
    FileSystemSpaceReader& operator=(const FileSystemSpaceReader&) = delete;

    Result read(const HostRoot& root, const QString& path);
    void setWait(std::chrono::milliseconds wait);

    // "nfs", "cifs", "fuse.sshfs", "9p", "ceph", "glusterfs", ...: the types whose statfs waits for a server.
    static bool isNetworkFileSystemType(const QString& type);
    // The type of the mount holding `path` (the longest mount point containing it); null when unknown.
    static QString fileSystemTypeOf(const HostRoot& root, const QString& path);

    static std::shared_ptr<FileSystemSpaceReader> shared();
    // Null returns to the default reader.
    static void setShared(std::shared_ptr<FileSystemSpaceReader> reader);

private:
    struct Pending;
    struct Worker {
        std::thread thread;
        std::shared_ptr<Pending> pending;
    };
    void reapFinishedWorkers(); // under mutex_

    Query query_;
    std::mutex mutex_;
    std::chrono::milliseconds wait_;
    QHash<QString, std::shared_ptr<Pending>> pending_; // by root and path
    std::vector<Worker> workers_;
};

} // namespace platform
