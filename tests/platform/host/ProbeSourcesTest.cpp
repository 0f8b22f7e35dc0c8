// The host readers behind the probes: /proc/stat, meminfo + vmstat, net/dev, mountinfo, the space fixture
// and md arrays.

#include "platform/host/FileSystemSpace.h"
#include "platform/host/MountTable.h"
#include "platform/host/NetworkInterfaceStatistics.h"
#include "platform/host/ProcessCount.h"
#include "platform/host/ProcessorTicks.h"
#include "platform/host/SoftwareRaidArrays.h"
#include "platform/host/VirtualMemoryStatistics.h"
#include "platform/registry/SoftwareRaidProvider.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

using namespace platform;

namespace {

struct FakeRoot {
    QTemporaryDir dir;
    explicit FakeRoot(const std::map<QString, QByteArray>& files)
    {
        for (const auto& [path, bytes] : files)
            kelvaro::test::writeFile(dir.path() + QLatin1Char('/') + path, bytes);
    }
    HostRoot root() const { return HostRoot(dir.path()); }
};

} // namespace

TEST(ProcessorTicks, FoldsKernelFieldsAndKeepsProcessorNumbers)
{
    // cpu1 is offline: the kernel leaves its line out.
    const auto ticks = ProcessorTicks::parse("cpu  9 9 9 9 9 9 9 9 9 9\n"
                                             "cpu0 100 50 20 800 7 3 2 1 40 0\n"
                                             "cpu2 5 6 7 8\n"
                                             "intr 1 2 3\n");
    ASSERT_TRUE(ticks);
    ASSERT_EQ(ticks->size(), 3u);
    const auto& cpu0 = (*ticks)[0];
    EXPECT_EQ(cpu0.user, 100u); // guest time is already inside user
    EXPECT_EQ(cpu0.nice, 50u);
    EXPECT_EQ(cpu0.system, 20u + 3 + 2 + 1);
    EXPECT_EQ(cpu0.idle, 800u + 7);
    EXPECT_FALSE((*ticks)[1].online);
    EXPECT_TRUE((*ticks)[2].online);
    EXPECT_FALSE(ProcessorTicks::parse("intr 1 2 3\n"));
}

TEST(VirtualMemoryStatistics, SumsWiredPartsAndReadsPagingCounters)
{
    const auto stats = VirtualMemoryStatistics::parse("MemFree: 100 kB\nActive: 200 kB\nInactive: 300 kB\n"
                                                      "Unevictable: 1 kB\nSUnreclaim: 2 kB\nKernelStack: 3 kB\n"
                                                      "PageTables: 4 kB\nSwapTotal: 1000 kB\nSwapFree: 400 kB\n",
                                                      QByteArray("pswpin 1\npswpout 7\npgmajfault 8589934592\n"));
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->freeBytes, 100u * 1024);
    EXPECT_EQ(stats->wiredBytes, 10u * 1024);
    EXPECT_EQ(stats->swapUsedBytes(), 600u * 1024);
    EXPECT_EQ(stats->pageIns, 8589934592ull); // 64-bit, beyond 2^32
    EXPECT_EQ(stats->pageOuts, 7u);
    EXPECT_FALSE(VirtualMemoryStatistics::parse("Active: 1 kB\nInactive: 1 kB\n", std::nullopt));
}

TEST(NetworkInterfaceStatistics, Reads64BitCountersEvenWhenGluedToTheName)
{
    const auto interfaces = NetworkInterfaceStatistics::parse(
        "Inter-|   Receive                                                |  Transmit\n"
        " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs drop fifo colls carrier compressed\n"
        "    lo:    100       2    0    0    0     0          0         0      100       2    0    0    0     0       0          0\n"
        "enp0s31f6:8589934597 9 1 0 0 0 0 0 4294967296 10 2 0 0 3 0 0\n"
        "  bad: 1 2 3\n");
    ASSERT_TRUE(interfaces);
    ASSERT_EQ(interfaces->size(), 2u);
    const auto& [name, c] = (*interfaces)[1];
    EXPECT_EQ(name, QStringLiteral("enp0s31f6"));
    EXPECT_EQ(c.inputBytes, 8589934597ull);
    EXPECT_EQ(c.inputPackets, 9u);
    EXPECT_EQ(c.inputErrors, 1u);
    EXPECT_EQ(c.outputBytes, 4294967296ull);
    EXPECT_EQ(c.outputPackets, 10u);
    EXPECT_EQ(c.outputErrors, 2u);
    EXPECT_EQ(c.collisions, 3u);
}

// Escaped names, a bind mount, btrfs subvolumes of one file system, a varying number of optional fields
// and a file system mounted by the automounter on its autofs mount point.
TEST(MountTable, ParsesBySeparatorAndUnescapesNames)
{
    kelvaro::test::log().clear();
    const auto mounts = MountTable::parse(
        "25 1 0:32 /@ / rw,relatime shared:1 - btrfs /dev/sda2 rw,subvol=/@\n"
        "26 25 0:32 /@home /home rw,relatime shared:2 master:9 - btrfs /dev/sda2 rw,subvol=/@home\n"
        "27 25 8:17 / /media/a\\040b\\011c\\012d\\134e rw,nosuid - exfat /dev/sdb1 rw,uid=1000\n"
        "28 26 0:32 /@home/anna/src /srv/src rw - btrfs /dev/sda2 rw\n"
        "29 25 0:40 / /net rw,relatime shared:7 - autofs -hosts rw,fd=5\n"
        "30 29 0:52 / /net/nas rw shared:8 - nfs4 nas:/ rw,vers=4.2\n"
        "31 25 broken line\n");
    ASSERT_EQ(mounts.size(), 6u);
    EXPECT_EQ(mounts[0].root, QStringLiteral("/@"));
    EXPECT_EQ(mounts[1].mountPoint, QStringLiteral("/home"));
    EXPECT_EQ(mounts[1].fileSystemType, QStringLiteral("btrfs"));
    EXPECT_EQ(mounts[1].major, mounts[0].major);
    EXPECT_EQ(mounts[1].minor, 32u);
    EXPECT_EQ(mounts[2].mountPoint, QStringLiteral("/media/a b\tc\nd\\e"));
    EXPECT_EQ(mounts[2].mountOptions, (QStringList{QStringLiteral("rw"), QStringLiteral("nosuid")}));
    EXPECT_EQ(mounts[3].root, QStringLiteral("/@home/anna/src"));
    EXPECT_EQ(mounts[4].source, QStringLiteral("-hosts"));
    EXPECT_EQ(mounts[5].parentID, 29);
    EXPECT_EQ(mounts[5].superOptions.last(), QStringLiteral("vers=4.2"));
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("MountTable: malformed mountinfo line 7\n")));
}

TEST(FileSystemSpace, FixtureAnswersForTheLongestMountPointHoldingThePath)
{
    const QByteArray fixture = "/ 4096 1000 400 300 10 5\n/media/a\\040b 512 80 40 40 0 0\n/srv 4096 50 10 10 0 0\n";
    struct Row {
        const char* path;
        quint64 blocks;
    } rows[] = {{"/", 1000}, {"/etc/passwd", 1000}, {"/media/a b/x", 80}, {"/media/a bc", 1000}, {"/srv", 50}, {"/srvx", 1000}};
    for (const auto& row : rows) {
        const auto space = FileSystemSpace::parseFixture(fixture, QString::fromUtf8(row.path));
        ASSERT_TRUE(space) << row.path;
        EXPECT_EQ(space->blocks, row.blocks) << row.path;
    }
    const auto root = FileSystemSpace::parseFixture(fixture, QStringLiteral("/"));
    EXPECT_EQ(root->availableBytes(), 300u * 4096);
    EXPECT_EQ(root->usedBytes(), 600u * 4096); // reserved blocks are not "used"
    const FakeRoot empty({{"proc/1/stat", "1 (init) S\n"}, {"proc/self/stat", "x"}, {"proc/12a/x", ""}, {"proc/973/stat", ""}});
    EXPECT_FALSE(FileSystemSpace::query(empty.root(), QStringLiteral("/")));
    EXPECT_EQ(ProcessCount::read(empty.root()), 2u);
}

TEST(SoftwareRaidArray, StatusFollowsArrayStateAndMissingMembers)
{
    struct Row {
        const char* state;
        const char* degraded;
        const char* status;
    } rows[] = {{"clean", "0", "Online"}, {"active", "0", "Online"}, {"active", "1", "Degraded"},
                {"inactive", "1", "Offline"}, {"clear", "", "Offline"}};
    for (const auto& row : rows) {
        const FakeRoot host({{"sys/block/md0/dev", "9:0\n"}, {"sys/block/md0/md/level", "raid1\n"},
                             {"sys/block/md0/md/array_state", row.state}, {"sys/block/md0/md/degraded", row.degraded},
                             {"sys/block/md0/md/dev-sdc/state", "in_sync\n"},
                             {"run/udev/data/b9:0", "E:MD_UUID=aa:bb\nE:MD_DEVNAME=mirror\n"}});
        const auto arrays = SoftwareRaidArray::read(host.root());
        ASSERT_EQ(arrays.size(), 1u);
        EXPECT_EQ(SoftwareRaidProvider::statusText(arrays[0]), QString::fromLatin1(row.status)) << row.state;
        EXPECT_EQ(arrays[0].uuid, QStringLiteral("aa:bb"));
        EXPECT_EQ(arrays[0].name, QStringLiteral("mirror"));
        EXPECT_EQ(arrays[0].members, QStringList{QStringLiteral("sdc")});
    }
    EXPECT_EQ(SoftwareRaidProvider::levelName(QStringLiteral("raid1")), QStringLiteral("Mirror"));
    EXPECT_EQ(SoftwareRaidProvider::levelName(QStringLiteral("linear")), QStringLiteral("Concat"));
    EXPECT_EQ(SoftwareRaidProvider::levelName(QStringLiteral("raid5")), QStringLiteral("RAID5"));
}
