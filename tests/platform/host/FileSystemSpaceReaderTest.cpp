#include "platform/host/FileSystemSpaceReader.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <thread>

using platform::FileSystemSpace;
using platform::FileSystemSpaceReader;
using platform::HostRoot;

TEST(FileSystemSpaceReader, NetworkMountsAreAskedOffTheCallerWhoGetsNoValueWhileTheServerIsSilent)
{
    QTemporaryDir dir;
    kelvaro::test::writeFile(dir.path() + "/proc/self/mountinfo",
                             "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                             "22 21 0:50 / /mnt/share rw - nfs4 server:/export rw,vers=4.2\n"
                             "23 21 0:51 / /home/me/remote rw - fuse.sshfs me@host: rw\n");
    const HostRoot root(dir.path());
    // statfs of /mnt/share hangs until the server is back; every call notes the thread that asked.
    std::mutex mutex;
    std::condition_variable changed;
    bool serverBack = false;
    int calls = 0;
    std::thread::id asker;
    FileSystemSpaceReader reader(
        [&](const HostRoot&, const QString& path) {
            std::unique_lock lock(mutex);
            ++calls;
            asker = std::this_thread::get_id();
            changed.wait(lock, [&] { return serverBack || !path.startsWith("/mnt/share"); });
            FileSystemSpace space;
            space.blockSize = 4096;
            space.blocks = 100;
            return std::optional(space);
        },
        std::chrono::milliseconds(0));
    const auto askedHere = [&] {
        std::lock_guard lock(mutex);
        return asker == std::this_thread::get_id();
    };

    EXPECT_EQ(reader.read(root, "/var/log").space->blocks, 100u);
    EXPECT_TRUE(askedHere());
    // No value while the server is silent, and no second query piles up behind the first.
    for (int tick = 0; tick < 3; ++tick) {
        const auto silent = reader.read(root, "/mnt/share/docs");
        EXPECT_TRUE(silent.waiting);
        EXPECT_FALSE(silent.space);
    }
    {
        std::lock_guard lock(mutex);
        serverBack = true;
        changed.notify_all();
    }
    // The released query answers soon; reads meanwhile do not wait for it, nor ask again.
    auto back = reader.read(root, "/mnt/share/docs");
    for (int guard = 0; back.waiting && guard < 10'000; ++guard) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        back = reader.read(root, "/mnt/share/docs");
    }
    EXPECT_FALSE(back.waiting);
    EXPECT_EQ(back.space->totalBytes(), 409600u);
    EXPECT_FALSE(askedHere());
    reader.setWait(std::chrono::minutes(1)); // a guard only: a new query on a live server answers at once
    EXPECT_FALSE(reader.read(root, "/home/me/remote/notes").waiting);
    EXPECT_FALSE(askedHere());
    std::lock_guard lock(mutex);
    EXPECT_EQ(calls, 3);
}

TEST(FileSystemSpaceReader, OnlyTheReadThatStartsANetworkQueryWaitsForIt)
{
    QTemporaryDir dir;
    kelvaro::test::writeFile(dir.path() + "/proc/self/mountinfo", "21 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
                                                               "22 21 0:50 / /mnt/share rw - nfs4 server:/export rw\n");
    const HostRoot root(dir.path());
    auto serverBack = std::make_shared<std::promise<void>>();
    auto back = serverBack->get_future().share();
    FileSystemSpaceReader reader(
        [back](const HostRoot&, const QString&) {
            back.wait();
            return std::optional(FileSystemSpace{});
        },
        std::chrono::milliseconds(0));
    EXPECT_TRUE(reader.read(root, "/mnt/share").waiting);
    // A wait of a minute would hold every later tick for a minute while the server stays silent.
    reader.setWait(std::chrono::minutes(1));
    auto later = std::async(std::launch::async, [&] { return reader.read(root, "/mnt/share").waiting; });
    const bool returned = later.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    serverBack->set_value();
    EXPECT_TRUE(returned);
    EXPECT_TRUE(later.get());
    // Once the query has answered, the reader's end joins its worker rather than leaving it behind.
    for (int guard = 0; reader.read(root, "/mnt/share").waiting && guard < 10'000; ++guard)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(FileSystemSpaceReader, NetworkTypesAreThoseWhoseStatfsWaitsForAServer)
{
    for (const char* type : {"nfs", "nfs4", "cifs", "smb3", "sshfs", "fuse.sshfs", "9p", "ceph", "glusterfs"})
        EXPECT_TRUE(FileSystemSpaceReader::isNetworkFileSystemType(type)) << type;
    for (const char* type : {"ext4", "btrfs", "tmpfs", "vfat", "fuse", "overlay", ""})
        EXPECT_FALSE(FileSystemSpaceReader::isNetworkFileSystemType(type)) << type;
}
