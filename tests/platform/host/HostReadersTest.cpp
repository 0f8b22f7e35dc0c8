#include "platform/host/CpuInfo.h"
#include "platform/host/CpuTopology.h"
#include "platform/host/DmiIdentity.h"
#include "platform/host/HostText.h"
#include "platform/host/MemoryInfo.h"
#include "platform/host/NetworkHardwareAddress.h"
#include "platform/host/SystemIdentity.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>

using namespace platform;

namespace {

using Files = std::map<QString, QByteArray>;

struct FakeRoot {
    QTemporaryDir dir;
    explicit FakeRoot(const std::map<QString, QByteArray>& files)
    {
        for (const auto& [path, bytes] : files)
            kelvaro::test::writeFile(dir.path() + QLatin1Char('/') + path, bytes);
    }
    HostRoot root() const { return HostRoot(dir.path()); }
};

// Two blocks of a Haswell i5-4258U as the kernel prints them (trimmed to the lines we read).
const QByteArray haswellCpuinfo = "processor\t: 0\n"
                                  "vendor_id\t: GenuineIntel\n"
                                  "cpu family\t: 6\n"
                                  "model\t\t: 69\n"
                                  "model name\t: Intel(R) Core(TM) i5-4258U CPU @ 2.40GHz\n"
                                  "stepping\t: 1\n"
                                  "cpu MHz\t\t: 1299.975\n"
                                  "physical id\t: 0\n"
                                  "core id\t\t: 0\n"
                                  "flags\t\t: fpu vme ht lm\n"
                                  "address sizes\t: 39 bits physical, 48 bits virtual\n"
                                  "\n"
                                  "processor\t: 1\n"
                                  "vendor_id\t: GenuineIntel\n"
                                  "cpu family\t: 6\n"
                                  "model\t\t: 69\n"
                                  "stepping\t: 1\n"
                                  "physical id\t: 0\n"
                                  "core id\t\t: 1\n"
                                  "\n";

} // namespace

TEST(CpuInfo, ReadsTheFirstProcessorAndCountsPackagesAndCores)
{
    const auto info = CpuInfo::parse(QString::fromLatin1(haswellCpuinfo));
    ASSERT_TRUE(info);
    EXPECT_EQ(info->vendor, QStringLiteral("GenuineIntel"));
    EXPECT_EQ(info->brand, QStringLiteral("Intel(R) Core(TM) i5-4258U CPU @ 2.40GHz"));
    EXPECT_EQ(info->family, 6u);
    EXPECT_EQ(info->model, 69u);
    EXPECT_EQ(info->stepping, 1u);
    EXPECT_EQ(info->flags, (QStringList{"fpu", "vme", "ht", "lm"}));
    EXPECT_EQ(info->physicalAddressBits, 39u);
    EXPECT_EQ(info->virtualAddressBits, 48u);
    ASSERT_TRUE(info->megahertz);
    EXPECT_DOUBLE_EQ(*info->megahertz, 1299.975);
    EXPECT_EQ(info->processorCount, 2);
    EXPECT_EQ(info->packageCount, 1);
    EXPECT_EQ(info->coreCount, 2);

    // A VM's cpuinfo without topology lines.
    const auto vm = CpuInfo::parse(QStringLiteral("processor\t: 0\nvendor_id\t: GenuineIntel\n\nprocessor\t: 1\n"));
    ASSERT_TRUE(vm);
    EXPECT_EQ(vm->processorCount, 2);
    EXPECT_FALSE(vm->packageCount);
    EXPECT_FALSE(vm->family);
    EXPECT_FALSE(vm->signature());
    EXPECT_FALSE(CpuInfo::parse(QStringLiteral("")));
    EXPECT_FALSE(CpuInfo::read(HostRoot(QStringLiteral("/nonexistent-root"))));
}

TEST(CpuInfo, SignatureRebuildsTheExtendedFamilyAndModelFields)
{
    struct Row { quint32 family; quint32 model; quint32 stepping; std::optional<quint32> signature; };
    const Row rows[] = {
        {6, 69, 1, 0x40651},    // Haswell ULT
        {6, 62, 4, 0x306E4},    // Ivy Bridge-EP (Xeon E5-1650 v2)
        {6, 158, 10, 0x906EA},  // Coffee Lake (Core i7-8700B)
        {15, 4, 1, 0xF41},      // NetBurst: base family 15, no extended family
        {23, 49, 0, 0x830F10},  // Zen 2: 15 + 8
        {26, 2, 1, 0xB00F21},   // Zen 5
        {6, 69, 16, std::nullopt},
        {6, 256, 1, std::nullopt},
    };
    for (const Row& row : rows) {
        CpuInfo info;
        info.family = row.family;
        info.model = row.model;
        info.stepping = row.stepping;
        EXPECT_EQ(info.signature(), row.signature) << row.family << "/" << row.model << "/" << row.stepping;
    }
}

TEST(CpuTopology, CountsPackagesCoresAndThreadsAndReadsCaches)
{
    // Two packages of 2 cores × 2 threads; cpu7 is present but offline and has no topology folder.
    std::map<QString, QByteArray> files{
        {"sys/devices/system/cpu/present", "0-7\n"},
        {"sys/devices/system/cpu/online", "0-6\n"},
        {"sys/devices/system/cpu/cpu0/cache/index0/level", "1\n"},
        {"sys/devices/system/cpu/cpu0/cache/index0/type", "Data\n"},
        {"sys/devices/system/cpu/cpu0/cache/index0/size", "32K\n"},
        {"sys/devices/system/cpu/cpu0/cache/index1/level", "1\n"},
        {"sys/devices/system/cpu/cpu0/cache/index1/type", "Instruction\n"},
        {"sys/devices/system/cpu/cpu0/cache/index1/size", "64K\n"},
        {"sys/devices/system/cpu/cpu0/cache/index2/level", "2\n"},
        {"sys/devices/system/cpu/cpu0/cache/index2/type", "Unified\n"},
        {"sys/devices/system/cpu/cpu0/cache/index2/size", "256K\n"},
        {"sys/devices/system/cpu/cpu0/cache/index3/level", "3\n"},
        {"sys/devices/system/cpu/cpu0/cache/index3/type", "Unified\n"},
        {"sys/devices/system/cpu/cpu0/cache/index3/size", "12288K\n"},
        {"sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "3900000\n"},
        {"sys/devices/system/cpu/cpu0/cpufreq/base_frequency", "3500000\n"},
        {"sys/devices/system/cpu/cpu8/topology/physical_package_id", "9\n"}, // not present: ignored
    };
    for (int cpu = 0; cpu < 7; ++cpu) {
        const QString base = QStringLiteral("sys/devices/system/cpu/cpu%1/topology/").arg(cpu);
        files[base + "physical_package_id"] = QByteArray::number(cpu / 4) + '\n';
        files[base + "core_id"] = QByteArray::number(cpu % 4 / 2) + '\n';
        files[base + "thread_siblings_list"] = QByteArray::number(cpu / 2 * 2) + '-' + QByteArray::number(cpu / 2 * 2 + 1) + '\n';
    }
    const FakeRoot fake(files);
    const CpuTopology topology = CpuTopology::read(fake.root());
    EXPECT_EQ(topology.presentCount, 8);
    EXPECT_EQ(topology.onlineCount, 7);
    EXPECT_EQ(topology.packageCount, 2);
    EXPECT_EQ(topology.coreCount, 4);
    EXPECT_EQ(topology.threadsPerCore, 2);
    EXPECT_EQ(topology.l1DataCache, 32768u);
    EXPECT_EQ(topology.l1InstructionCache, 65536u);
    EXPECT_EQ(topology.l2Cache, 262144u);
    EXPECT_EQ(topology.l3Cache, 12582912u);
    EXPECT_EQ(topology.frequency, 3500000000u); // the nominal clock, not the turbo maximum

    const FakeRoot bare(Files{{"sys/devices/system/cpu/present", "0\n"},
                         {"sys/devices/system/cpu/cpu0/cpufreq/cpuinfo_max_freq", "2400000\n"}});
    const CpuTopology vm = CpuTopology::read(bare.root());
    EXPECT_EQ(vm.presentCount, 1);
    EXPECT_FALSE(vm.onlineCount);
    EXPECT_FALSE(vm.packageCount);
    EXPECT_FALSE(vm.l1DataCache);
    EXPECT_EQ(vm.frequency, 2400000000u);
}

TEST(HostText, ParsesCpuListsSizesAndAssignments)
{
    struct ListRow { const char* text; std::optional<int> count; };
    const ListRow lists[] = {{"0-3,5,7-8\n", 7}, {"0", 1}, {"", 0}, {"3-1", std::nullopt}, {"0-x", std::nullopt},
                             {"1-2-3", std::nullopt}, {"0-99999999", std::nullopt}};
    for (const ListRow& row : lists)
        EXPECT_EQ(hosttext::countCpuList(QLatin1String(row.text)), row.count) << row.text;

    struct SizeRow { const char* text; std::optional<quint64> bytes; };
    const SizeRow sizes[] = {{"32K", 32768}, {"6M\n", 6291456}, {"512", 512}, {"K", std::nullopt}, {"-1K", std::nullopt},
                             {"99999999999999999999K", std::nullopt}};
    for (const SizeRow& row : sizes)
        EXPECT_EQ(hosttext::parseSize(QLatin1String(row.text)), row.bytes) << row.text;

    const auto fields = hosttext::parseAssignments(QStringLiteral(
        "# comment\nNAME=\"Debian GNU/Linux\"\nPRETTY_HOSTNAME='Anna''s Mac'\nID=debian\nQUOTED=\"a \\\"b\\\"\"\nbad line\n=x\n"));
    EXPECT_EQ(fields.value("NAME"), QStringLiteral("Debian GNU/Linux"));
    EXPECT_EQ(fields.value("PRETTY_HOSTNAME"), QStringLiteral("Annas Mac"));
    EXPECT_EQ(fields.value("ID"), QStringLiteral("debian"));
    EXPECT_EQ(fields.value("QUOTED"), QStringLiteral("a \"b\""));
    EXPECT_EQ(fields.size(), 4);
}

TEST(MemoryInfo, InstalledMemoryCountsOnlineBlocksElseMemTotal)
{
    const FakeRoot blocks(Files{{"sys/devices/system/memory/block_size_bytes", "8000000\n"},
                           {"sys/devices/system/memory/memory0/online", "1\n"},
                           {"sys/devices/system/memory/memory1/online", "1\n"},
                           {"sys/devices/system/memory/memory2/online", "0\n"},
                           {"proc/meminfo", "MemTotal:        8029720 kB\n"}});
    EXPECT_EQ(MemoryInfo::installedBytes(blocks.root()), 2 * 0x8000000ull);

    const FakeRoot meminfo(Files{{"proc/meminfo", "MemTotal:        8029720 kB\nMemFree:  1 kB\n"}});
    EXPECT_EQ(MemoryInfo::installedBytes(meminfo.root()), 8029720ull * 1024);
    const FakeRoot malformed(Files{{"proc/meminfo", "MemTotal:  lots\n"}});
    EXPECT_FALSE(MemoryInfo::installedBytes(malformed.root()));
    const FakeRoot none(Files{});
    EXPECT_FALSE(MemoryInfo::installedBytes(none.root()));
}

TEST(MemoryInfo, OptimumFreeSumsTheZoneHighWatermarksOnly)
{
    const FakeRoot fake(Files{{"proc/zoneinfo", "Node 0, zone      DMA\n"
                                           "  pages free     3840\n"
                                           "        min      13\n"
                                           "        high     26\n"
                                           "  pagesets\n"
                                           "    cpu: 0\n"
                                           "              count: 0\n"
                                           "              high:  60\n"
                                           "Node 0, zone    DMA32\n"
                                           "        high     4000\n"
                                           "Node 0, zone   Normal\n"
                                           "        high     20000\n"}});
    EXPECT_EQ(MemoryInfo::optimumFreeBytes(fake.root(), 4096), 24026ull * 4096);
    const FakeRoot none(Files{});
    EXPECT_FALSE(MemoryInfo::optimumFreeBytes(none.root(), 4096));
}

TEST(SystemIdentity, ReadsNamesMachineIdAndKernelFields)
{
    const FakeRoot fake(Files{{"etc/machine-id", "3d1219c7c4c5404aaa1f6d2a48adfda4\n"},
                         {"usr/lib/os-release", "NAME=Fallback\n"},
                         {"proc/version", "Linux version 6.1.0-18-amd64 (gcc) #1 SMP\n"},
                         {"proc/sys/kernel/osrelease", "6.1.0-18-amd64\n"}});
    EXPECT_EQ(SystemIdentity::machineId(fake.root()), QUuid(QStringLiteral("3d1219c7-c4c5-404a-aa1f-6d2a48adfda4")));
    // Checked against Python's hmac module: keyed by the machine id over the program's id.
    EXPECT_EQ(SystemIdentity::applicationSpecificMachineId(fake.root(), QUuid(QStringLiteral("dcffddeb-f7a3-4f34-b26e-cad8bc17ef9e"))),
              QUuid(QStringLiteral("026cc1e2-0ceb-44b1-8ca3-e9921e3ec644")));
    EXPECT_EQ(SystemIdentity::osRelease(fake.root())->value("NAME"), QStringLiteral("Fallback"));
    EXPECT_EQ(SystemIdentity::kernelBanner(fake.root()), QStringLiteral("Linux version 6.1.0-18-amd64 (gcc) #1 SMP"));
    EXPECT_EQ(SystemIdentity::kernelValue(fake.root(), "osrelease"), QStringLiteral("6.1.0-18-amd64"));
    EXPECT_FALSE(SystemIdentity::kernelValue(fake.root(), "ostype"));
    EXPECT_FALSE(SystemIdentity::prettyHostname(fake.root()));

    for (const char* bad : {"", "00000000000000000000000000000000", "3d1219c7c4c5404aaa1f6d2a48adfda", "not-a-machine-id"}) {
        const FakeRoot badId(Files{{"etc/machine-id", QByteArray(bad) + '\n'}});
        EXPECT_FALSE(SystemIdentity::machineId(badId.root())) << bad;
    }

    struct Row { const char* release; std::optional<qint64> code; };
    const Row rows[] = {{"6.1.0-18-amd64", 0x060100}, {"6.1.76", 0x06014C}, {"4.19.300", 0x0413FF}, {"6.18", 0x061200},
                        {"Darwin", std::nullopt}};
    for (const Row& row : rows)
        EXPECT_EQ(SystemIdentity::kernelVersionCode(QLatin1String(row.release)), row.code) << row.release;
}

TEST(DmiIdentity, PlaceholderSerialNumbersCountAsNone)
{
    struct Row { const char* serial; bool placeholder; };
    const Row rows[] = {{"", true}, {"  ", true}, {"0", true}, {"Not Specified", true}, {"not specified\n", true},
                        {"To Be Filled By O.E.M.", true}, {"System Serial Number", true}, {"Default string", true},
                        {"C02XK0ABJHD3", false}, {"00", false}, {"Not Specified 2", false}};
    for (const Row& row : rows)
        EXPECT_EQ(DmiIdentity::isPlaceholderSerialNumber(QLatin1String(row.serial)), row.placeholder) << row.serial;

    const FakeRoot fake(Files{{"sys/class/dmi/id/product_name", "MacPro6,1\n"},
                         {"sys/class/dmi/id/product_serial", "\n"},
                         {"sys/class/dmi/id/product_uuid", "FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF\n"}});
    EXPECT_EQ(DmiIdentity::field(fake.root(), "product_name"), QStringLiteral("MacPro6,1"));
    EXPECT_FALSE(DmiIdentity::field(fake.root(), "product_serial"));
    EXPECT_FALSE(DmiIdentity::field(fake.root(), "board_name"));
    EXPECT_FALSE(DmiIdentity::productUuid(fake.root()));
}

TEST(NetworkHardwareAddress, AsksTheDriverOnlyForPhysicalInterfacesWithoutAPermanentAddress)
{
    QTemporaryDir dir;
    const auto write = [&](const QString& path, const QByteArray& bytes) { kelvaro::test::writeFile(dir.path() + "/" + path, bytes); };
    for (const auto& [name, index, type, address] :
         std::vector<std::tuple<QString, int, QByteArray, QByteArray>>{{"wlan0", 3, "3", "66:77:88:99:aa:bb"},
                                                                       {"eth0", 5, "0", "00:00:00:00:00:00"},
                                                                       {"eth1", 4, "0", "00:1b:63:a1:c2:zz"}}) {
        write("sys/class/net/" + name + "/ifindex", QByteArray::number(index));
        write("sys/class/net/" + name + "/addr_assign_type", type);
        write("sys/class/net/" + name + "/address", address);
        ASSERT_TRUE(QFile::link("../../../pci0000:00", dir.path() + "/sys/class/net/" + name + "/device"));
    }
    QStringList asked;
    const auto interfaces = NetworkHardwareAddress::permanentAddresses(HostRoot(dir.path()), [&](const QString& name) {
        asked.append(name);
        return std::optional<QByteArray>(QByteArray::fromHex("a4b1c2d3e4f5"));
    });
    EXPECT_EQ(asked, QStringList{"wlan0"});
    ASSERT_EQ(interfaces.size(), 1u); // eth0's address is zero, eth1's malformed
    EXPECT_EQ(interfaces[0].name, QStringLiteral("wlan0"));
    EXPECT_EQ(interfaces[0].address.toHex(), QByteArray("a4b1c2d3e4f5"));
    EXPECT_FALSE(NetworkHardwareAddress::liveQuery(HostRoot(dir.path())));
}
