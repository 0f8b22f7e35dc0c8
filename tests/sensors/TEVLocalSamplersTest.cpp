// The local samplers over fake host roots, RAID sets over a fixture registry, and mounted file systems.

#include "platform/registry/FixtureIORegistry.h"
#include "sensors/TEVActiveFileSystem.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVSensorValueConverter.h"
#include "sensors/TEVLocalCPULoadProbe.h"
#include "sensors/TEVLocalMemoryProbe.h"
#include "sensors/TEVLocalNetworkProbe.h"
#include "sensors/TEVSoftwareRAIDDevice.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace platform;

namespace {

// A host root whose files a test rewrites between samples.
struct MutableRoot {
    QTemporaryDir dir;
    std::shared_ptr<const HostRoot> root = std::make_shared<HostRoot>(dir.path());
    void write(const QString& path, const QByteArray& bytes) { kelvaro::test::writeFile(dir.path() + QLatin1Char('/') + path, bytes); }
};

QByteArray netDev(const QByteArray& lines)
{
    return "Inter-| Receive | Transmit\n face |bytes packets|bytes packets\n" + lines;
}

QByteArray netLine(const char* name, quint64 inputBytes, quint64 outputPackets)
{
    return QByteArray(name) + ": " + QByteArray::number(inputBytes) + " 1 0 0 0 0 0 0 7 "
         + QByteArray::number(outputPackets) + " 0 0 0 0 0 0\n";
}

} // namespace

TEST(TEVLocalCPULoadProbe, LoadIsBusyShareOfTheTicksOfThePeriod)
{
    MutableRoot host;
    // /proc/stat order: user nice system idle; sampler order (user, system, idle, nice).
    host.write("proc/stat", "cpu0 100 50 50 800\ncpu1 10 0 10 80\n");
    TEVLocalCPULoadProbe probe(host.root);
    EXPECT_EQ(probe.numberOfCPUs(), 2u);
    EXPECT_EQ(probe.cpuLoadForCPUAtIndex(0), 0.0); // no period yet

    struct Row {
        const char* stat;
        double cpu0;
        double cpu1;
    } rows[] = {
        {"cpu0 160 60 70 860\ncpu1 10 0 10 80\n", 60.0, 0.0},   // 90 of 150 ticks; cpu1 unchanged: 0, no error
        {"cpu0 170 60 70 850\ncpu1 20 0 10 80\n", 100.0, 100.0}, // idle went backwards: a zero delta
        {"cpu0 170 60 70 850\ncpu1 20 0 10 80\ncpu2 1 1 1 1\n", 0.0, 0.0}, // a new processor count starts over
    };
    for (const auto& row : rows) {
        host.write("proc/stat", row.stat);
        ASSERT_TRUE(probe.sample());
        EXPECT_DOUBLE_EQ(probe.cpuLoadForCPUAtIndex(0), row.cpu0) << row.stat;
        EXPECT_DOUBLE_EQ(probe.cpuLoadForCPUAtIndex(1), row.cpu1) << row.stat;
    }
    EXPECT_EQ(probe.cpuLoadForCPUAtIndex(3), 0.0);
    host.write("proc/stat", "garbage\n");
    EXPECT_FALSE(probe.sample());
    EXPECT_EQ(probe.numberOfCPUs(), 3u);
}

TEST(TEVLocalMemoryProbe, PagingCountsAre64BitDifferencesOfThePeriod)
{
    MutableRoot host;
    const QByteArray meminfo = "MemFree: 1572864 kB\nActive: 2 kB\nInactive: 3 kB\nSwapTotal: 10 kB\nSwapFree: 4 kB\n";
    host.write("proc/meminfo", meminfo);
    host.write("proc/vmstat", "pgmajfault 4294967290\npswpout 50\n");
    const auto probe = TEVLocalMemoryProbe::create(host.root);
    ASSERT_TRUE(probe);
    EXPECT_EQ(probe->freeMemory(), 1536ull << 20);
    EXPECT_EQ(probe->swapUsed(), 6u * 1024);
    EXPECT_EQ(probe->currentPageIns(), 0u);

    host.write("proc/vmstat", "pgmajfault 4294967300\npswpout 40\n");
    ASSERT_TRUE(probe->sample());
    EXPECT_EQ(probe->currentPageIns(), 10u);  // past 2^32
    EXPECT_EQ(probe->currentPageOuts(), 0u);  // went backwards
    EXPECT_EQ(probe->accumulatedPageIns(), 4294967300ull);

    kelvaro::test::log().clear();
    host.write("proc/meminfo", "nothing\n");
    EXPECT_FALSE(probe->sample());
    EXPECT_FALSE(probe->sample());
    EXPECT_EQ(kelvaro::test::log().count(QStringLiteral("could not get memory statistics")), 1); // a repeating failure is logged once
    EXPECT_EQ(probe->freeMemory(), 1536ull << 20);
    EXPECT_FALSE(TEVLocalMemoryProbe::create(std::make_shared<HostRoot>(QStringLiteral("/nonexistent"))));
}

TEST(TEVLocalNetworkProbe, FirstSampleAndCounterResetGiveNoChange)
{
    MutableRoot host;
    host.write("proc/net/dev", netDev(netLine("eth0", 5000000000ull, 10)));
    const auto probe = TEVLocalNetworkProbe::create(host.root);
    ASSERT_TRUE(probe);
    const QString eth0 = QStringLiteral("eth0");
    EXPECT_EQ(probe->numberOfInputBytesForBSDInterface(eth0, true), 5000000000ull);
    EXPECT_EQ(probe->numberOfInputBytesForBSDInterface(eth0, false), std::nullopt);

    host.write("proc/net/dev", netDev(netLine("eth0", 5000005000ull, 4) + netLine("wlan0", 5000, 1)));
    ASSERT_TRUE(probe->sample());
    EXPECT_EQ(probe->numberOfInputBytesForBSDInterface(eth0, false), 5000u);
    EXPECT_EQ(probe->numberOfOutputPacketsForBSDInterface(eth0, false), std::nullopt); // 10 → 4: reset
    EXPECT_EQ(probe->numberOfInputBytesForBSDInterface(QStringLiteral("wlan0"), false), std::nullopt);
    // Index 13 with the flag clear would read position 14.
    EXPECT_EQ(probe->statisticsValueAtIndex(13, eth0, false), std::nullopt);
    EXPECT_EQ(probe->statisticsValueAtIndex(12, eth0, false), 0u);

    host.write("proc/net/dev", netDev(netLine("wlan0", 6000, 1)));
    ASSERT_TRUE(probe->sample());
    EXPECT_FALSE(probe->hasInterface(eth0));
    EXPECT_EQ(probe->currentNetworkInterfaceBSDNames(), QStringList{QStringLiteral("wlan0")});
    host.write("sys/class/net/wlan0/ifalias", "Office Wi-Fi\n");
    EXPECT_EQ(probe->currentPresentationNamesByBSDInterfaceNames().value(QStringLiteral("wlan0")), QStringLiteral("Office Wi-Fi"));
}

TEST(TEVSoftwareRAIDDevice, ReadsCurrentAndLegacyLayouts)
{
    const auto entry = [](const char* cls, const QVariantMap& properties, const QVariantList& children = {}) {
        QVariantMap result{{"Class", QVariantList{QString::fromLatin1(cls), QStringLiteral("IOService")}}, {"Properties", properties}};
        if (!children.isEmpty())
            result.insert("Children", children);
        return QVariant(result);
    };
    const auto current = FixtureIORegistry::load({entry("AppleRAIDMember", {{"AppleRAID-LevelName", "Mirror"},
                                                                            {"AppleRAID-SetName", "Mirror Set"},
                                                                            {"AppleRAID-MemberUUID", "M-1"},
                                                                            {"AppleRAID-SetUUID", "S-1"},
                                                                            {"AppleRAID-SetStatus", "Degraded"}}),
                                                  entry("AppleRAIDMember", {{"AppleRAID-LevelName", "Stripe"}})});
    ASSERT_TRUE(current.registry) << qPrintable(current.error);
    const auto sets = TEVSoftwareRAIDDevice::allSoftwareRAIDs(current.registry);
    ASSERT_EQ(sets.size(), 1u); // the entry without every key is skipped
    EXPECT_EQ(sets[0]->raidLevel(), 1);
    EXPECT_FALSE(sets[0]->isOnline());
    const auto found = TEVSoftwareRAIDDevice::softwareRAIDDeviceWithIdentifier(QStringLiteral("M-1"), current.registry);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name(), QStringLiteral("Mirror Set"));

    const auto legacy = FixtureIORegistry::load({entry("AppleRAIDController", {{"AppleRAID-LevelName", "Concat"},
                                                                              {"AppleRAID-SetName", "Old"},
                                                                              {"AppleRAID-SetUniqueName", "U-9"},
                                                                              {"AppleRAID-Status", "Running"}},
                                                       {entry("IOMedia", {})})});
    ASSERT_TRUE(legacy.registry) << qPrintable(legacy.error);
    const auto old = TEVSoftwareRAIDDevice::allSoftwareRAIDs(legacy.registry);
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(old[0]->identifier(), QStringLiteral("U-9"));
    EXPECT_TRUE(old[0]->setIdentifier().isNull());
    EXPECT_TRUE(old[0]->isOnline());
    EXPECT_EQ(old[0]->raidLevel(), 0);
    EXPECT_FALSE(TEVSoftwareRAIDDevice::softwareRAIDDeviceWithIdentifier(QStringLiteral("M-1"), IORegistry::empty()));
}

TEST(TEVActiveFileSystem, FreeShareOfAVolumeIsWhatTheDiskProbeDoesNotCountUsed)
{
    struct Row {
        const char* what;
        const char* statvfs;
        double percentageFree;
    } rows[] = {
        {"5 % reserved for root", "/ 4096 1000 350 300 10 5\n", 100.0 * 300.0 / 950.0},
        {"nothing reserved", "/ 4096 1000 250 250 10 5\n", 25.0},
        {"full to the reserve", "/ 4096 1000 50 0 10 5\n", 0.0},
        {"an empty file system", "/ 4096 0 0 0 0 0\n", 0.0},
    };
    for (const Row& row : rows) {
        MutableRoot host;
        host.write("proc/self/mountinfo", "25 1 8:2 / / rw - ext4 /dev/sda2 rw\n");
        host.write("run/kelvaro/statvfs", row.statvfs);
        HostRoot::setCurrent(host.root);
        const auto mounts = TEVActiveFileSystem::mountedFileSystemsEnforcingUpdate(true, *host.root);
        ASSERT_EQ(mounts.size(), 1) << row.what;
        EXPECT_NEAR(mounts[0]->percentageFree(), row.percentageFree, 1e-9) << row.what;
        const auto used = TEVArtificialSensor::createAsStorageSensorForPath(QStringLiteral("/"), TEVArtificialSensor::DiskCapacity);
        const qint64 raw = used->rawValue();
        if (mounts[0]->blockCount() == 0)
            EXPECT_EQ(raw, -1) << row.what;
        else
            EXPECT_NEAR(mounts[0]->percentageFree() + used->valueConverter()->valueForRawSensorValue(raw), 100.0, 1e-4) << row.what;
        HostRoot::setCurrent(nullptr);
    }
}

TEST(TEVActiveFileSystem, ListsMountsWithIdentifiersFlagsAndVolumeNames)
{
    MutableRoot host;
    host.write("proc/self/mountinfo",
               "25 1 8:2 / / rw,noatime - ext4 /dev/sda2 rw,usrquota\n"
               "26 25 0:20 / /proc rw,nosuid,nodev,noexec - proc proc rw\n"
               "27 25 0:40 / /net rw - autofs map\\040-hosts rw,fd=5\n"
               "28 27 0:52 / /net/nas rw - nfs4 nas:/ rw\n"
               "29 25 4294967295:2147483649 / /odd ro - ext4 /dev/sdz1 ro\n"
               "30 25 8:3 / /empty rw - ext4 /dev/sda3 rw\n");
    host.write("run/kelvaro/statvfs", "/ 4096 1000 400 300 10 5\n");
    QDir().mkpath(host.dir.path() + "/dev/disk/by-uuid");
    QDir().mkpath(host.dir.path() + "/dev/disk/by-label");
    QFile::link("../../sda2", host.dir.path() + "/dev/disk/by-uuid/3f1c2a9e-58d4-4c39-9b0e-6a7e2d1f0c55");
    QFile::link("../../sda2", host.dir.path() + "/dev/disk/by-label/Main\\x20Disk");

    const auto all = TEVActiveFileSystem::mountedFileSystemsEnforcingUpdate(true, *host.root);
    ASSERT_EQ(all.size(), 6);
    EXPECT_EQ(all[0]->mountFlagsDescription(), QStringLiteral("local, quota, root, journaled, noatime"));
    EXPECT_EQ(all[0]->arbitrationUUID(), QStringLiteral("3F1C2A9E-58D4-4C39-9B0E-6A7E2D1F0C55"));
    EXPECT_EQ(all[0]->volumeName(), QStringLiteral("Main Disk"));
    EXPECT_DOUBLE_EQ(all[0]->percentageFree(), 100.0 * 300.0 / 900.0); // 100 reserved blocks are neither
    EXPECT_TRUE(all[3]->isAutomounted());
    EXPECT_FALSE(all[3]->mountFlags() & TEVActiveFileSystem::Local);
    EXPECT_EQ(all[4]->fileSystemID(), 0xFFFFFFFF80000001ull); // the high half survives a "negative" low half
    const auto quick = TEVActiveFileSystem::mountedFileSystemsEnforcingUpdate(false, *host.root);
    EXPECT_EQ(quick[0]->blockCount(), 0u); // the listing that must not wait asks no file system
    EXPECT_EQ(quick[0]->percentageFree(), 0.0);
    EXPECT_EQ(all[5]->volumeName(), QStringLiteral("empty"));

    const auto byID = TEVActiveFileSystem::mountedFileSystemsByID(*host.root);
    EXPECT_TRUE(byID.contains(QStringLiteral("800000002")));
    EXPECT_TRUE(byID.contains(QStringLiteral("FFFFFFFF80000001")));
    EXPECT_EQ(TEVActiveFileSystem::diskFileSystemsByUUIDStrings(*host.root).size(), 1);
    EXPECT_EQ(TEVActiveFileSystem::mountPathForAutoFSMapWithName(QStringLiteral("hosts"), *host.root), QStringLiteral("/net"));
    EXPECT_TRUE(TEVActiveFileSystem::mountPathForAutoFSMapWithName(QString(), *host.root).isNull());
    const auto inside = TEVActiveFileSystem::fileSystemAtPath(QStringLiteral("/net/nas/share"), *host.root);
    ASSERT_TRUE(inside);
    EXPECT_EQ(inside->mountPointPath(), QStringLiteral("/net/nas"));
    EXPECT_FALSE(TEVActiveFileSystem::fileSystemAtPath(QString(), *host.root));

    kelvaro::test::log().clear();
    TEVActiveFileSystem::Statistics invalid;
    invalid.fsid[0] = 1;
    invalid.fsid[1] = 2;
    EXPECT_FALSE(TEVActiveFileSystem::createWithBSDStatistics(invalid));
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("Notice: Received invalid file system description with ID 0x1-0x2.\n")));
}

TEST(TEVActiveFileSystem, PathThroughSymbolicLinkGetsTheMountItLeadsTo)
{
    const HostRoot live;
    const auto proc = TEVActiveFileSystem::fileSystemAtPath(QStringLiteral("/proc"), live);
    if (!proc || proc->mountPointPath() != QLatin1String("/proc"))
        GTEST_SKIP() << "no procfs mounted on /proc";
    QTemporaryDir dir;
    const QString link = dir.path() + QStringLiteral("/to-proc");
    ASSERT_TRUE(QFile::link(QStringLiteral("/proc"), link));
    const auto linked = TEVActiveFileSystem::fileSystemAtPath(link + QStringLiteral("/self"), live);
    ASSERT_TRUE(linked);
    EXPECT_EQ(linked->mountPointPath(), QStringLiteral("/proc"));
    EXPECT_EQ(linked->fileSystemTypeName(), QStringLiteral("proc"));
    EXPECT_EQ(linked->fileSystemID(), proc->fileSystemID());
    EXPECT_TRUE(TEVActiveFileSystem::isPathOnSameFileSystemAsPath(link, QStringLiteral("/proc/self"), live));
}
