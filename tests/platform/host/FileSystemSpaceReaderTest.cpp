#include "platform/host/FileSystemSpaceReader.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <condition_variable>

using platform::FileSystemSpace;
using platform::FileSystemSpaceReader;
using platform::HostRoot;

namespace {

// A statfs stand-in: paths under /mnt/share hang until the test releases them. Notes the thread that asked.
struct FakeStatfs {
    std::mutex mutex;
    std::condition_variable changed;
    bool released = false;
    int calls = 0;
    std::thread::id asker;

    std::optional<FileSystemSpace> operator()(const HostRoot&, const QString& path)
    {
        std::unique_lock lock(mutex);
        ++calls;
        asker = std::this_thread::get_id();
        if (path.startsWith("/mnt/share"))
            changed.wait(lock, [this] { return released; });
        FileSystemSpace space;
        space.blockSize = 4096;
        space.blocks = 100;
        return space;
    }
    void release()
    {
        std::lock_guard lock(mutex);
        released = true;
        changed.notify_all();
    }
    int count()
    {
        std::lock_guard lock(mutex);
        return calls;
    }
    bool askedOnThisThread()
    {
        std::lock_guard lock(mutex);
        return asker == std::this_thread::get_id();
    }
};

} // namespace

TEST(FileSystemSpaceReader, NetworkMountsAreAskedOffTheCallerWhoGetsNoValueWhileTheServerIsSilent)
{
    QTemporaryDir dir;
    kelvaro::test::writeFile(dir.path() + "/proc/self/mountinfo",
                             "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                             "22 21 0:50 / /mnt/share rw - nfs4 server:/export rw,vers=4.2\n"
                             "23 21 0:51 / /home/me/remote rw - fuse.sshfs me@host: rw\n");
    const HostRoot root(dir.path());
    FakeStatfs statfs;
    FileSystemSpaceReader reader([&statfs](const HostRoot& r, const QString& p) { return statfs(r, p); },
                                 std::chrono::milliseconds(0));

    const auto local = reader.read(root, "/var/log");
    EXPECT_FALSE(local.waiting);
    EXPECT_EQ(local.space->blocks, 100u);
    EXPECT_TRUE(statfs.askedOnThisThread());

    // The server is gone: no value, and no second query piles up behind the first.
    for (int tick = 0; tick < 3; ++tick) {
        const auto silent = reader.read(root, "/mnt/share/docs");
        EXPECT_TRUE(silent.waiting);
        EXPECT_FALSE(silent.space);
    }
    statfs.release();
    reader.setWait(std::chrono::minutes(1)); // a guard only: the released query answers at once
    const auto back = reader.read(root, "/mnt/share/docs");
    EXPECT_FALSE(back.waiting);
    EXPECT_EQ(back.space->totalBytes(), 409600u);
    EXPECT_EQ(statfs.count(), 2);
    EXPECT_FALSE(statfs.askedOnThisThread());

    EXPECT_FALSE(reader.read(root, "/home/me/remote/notes").waiting);
    EXPECT_FALSE(statfs.askedOnThisThread());
    EXPECT_EQ(statfs.count(), 3);
}

TEST(FileSystemSpaceReader, NetworkTypesAreThoseWhoseStatfsWaitsForAServer)
{
    for (const char* type : {"nfs", "nfs4", "cifs", "smb3", "sshfs", "fuse.sshfs", "9p", "ceph", "glusterfs"})
        EXPECT_TRUE(FileSystemSpaceReader::isNetworkFileSystemType(type)) << type;
    for (const char* type : {"ext4", "btrfs", "tmpfs", "vfat", "fuse", "overlay", ""})
        EXPECT_FALSE(FileSystemSpaceReader::isNetworkFileSystemType(type)) << type;
}
