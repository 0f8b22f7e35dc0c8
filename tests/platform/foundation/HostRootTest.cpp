#include "platform/foundation/HostRoot.h"

#include "tests/support/ScopedEnvironment.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::HostRoot;

namespace {

// Restores the environment's choice of root after a test that changed it.
struct CurrentRootGuard {
    ~CurrentRootGuard() { HostRoot::setCurrent(nullptr); }
};

} // namespace

TEST(HostRoot, NaturalOrderComparesDigitRunsByNumber)
{
    struct Row {
        const char* less;
        const char* greater;
    };
    const Row rows[] = {
        {"sda2", "sda10"},   {"sda", "sda1"},         {"sda9", "sdb1"},      {"cpu9", "cpu10"},
        {"cpu10", "cpufreq"}, {"nvme0n1p2", "nvme0n1p10"}, {"md1", "md01"},  {"hwmon2", "hwmon100000000000000000000"},
        {"BAT0", "BAT1"},     {"a", "b"},
    };
    for (const Row& row : rows) {
        EXPECT_TRUE(HostRoot::naturalLess(row.less, row.greater)) << row.less << " < " << row.greater;
        EXPECT_FALSE(HostRoot::naturalLess(row.greater, row.less)) << row.greater << " !< " << row.less;
    }
    EXPECT_FALSE(HostRoot::naturalLess("sda1", "sda1"));
}

TEST(HostRoot, ListsFolderInNaturalOrder)
{
    QTemporaryDir dir;
    for (const char* name : {"sda10", "sda2", "sda", "sda1", "loop0"})
        kelvaro::test::writeFile(dir.path() + "/sys/block/" + name, "");
    const HostRoot root(dir.path());
    EXPECT_EQ(root.listDirectory("/sys/block"), (QStringList{"loop0", "sda", "sda1", "sda2", "sda10"}));
    EXPECT_EQ(root.listDirectory("/sys/block/sda"), std::nullopt) << "a file is no folder";
    EXPECT_EQ(root.listDirectory("/sys/class"), std::nullopt);
}

TEST(HostRoot, ReadsFilesAndLinksUnderItsRoot)
{
    QTemporaryDir dir;
    kelvaro::test::writeFile(dir.path() + "/etc/os-release", "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Straße 12\"\n");
    QDir().mkpath(dir.path() + "/sys/class/net");
    ASSERT_TRUE(QFile::link("../../devices/virtual/net/lo", dir.path() + "/sys/class/net/lo"));
    const HostRoot root(dir.path());

    EXPECT_EQ(root.path("/etc/os-release"), dir.path() + "/etc/os-release");
    EXPECT_EQ(root.path("/../../etc/os-release"), dir.path() + "/etc/os-release") << "cannot climb out";
    EXPECT_EQ(root.readTextFile("/etc/os-release").value_or(""), "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Straße 12\"\n");
    EXPECT_EQ(root.readFile("/etc/missing"), std::nullopt);
    EXPECT_EQ(root.readFile("/etc/os-release", 10), std::nullopt) << "larger than the bound";
    EXPECT_EQ(root.readLink("/sys/class/net/lo"), QString("../../devices/virtual/net/lo"));
    EXPECT_EQ(root.readLink("/etc/os-release"), std::nullopt) << "no link";
}

TEST(HostRoot, LiveRootReadsProcfsFilesThatReportNoSize)
{
    const HostRoot live;
    EXPECT_TRUE(live.isLive());
    EXPECT_EQ(live.path("/proc/self/stat"), "/proc/self/stat");
    const std::optional<QByteArray> stat = live.readFile("/proc/self/stat");
    ASSERT_TRUE(stat);
    EXPECT_FALSE(stat->isEmpty());
}

TEST(HostRoot, CurrentFollowsEnvironmentUntilSetInCode)
{
    CurrentRootGuard guard;
    kelvaro::test::ScopedEnvironment env;
    env.unset("KELVARO_SIMULATED_COMPUTER");
    env.unset("KELVARO_HOST_ROOT");

    HostRoot::setCurrent(nullptr);
    EXPECT_TRUE(HostRoot::current()->isLive());

    env.set("KELVARO_HOST_ROOT", "/srv/captured");
    HostRoot::setCurrent(nullptr);
    EXPECT_EQ(HostRoot::current()->root(), "/srv/captured");

    env.set("KELVARO_SIMULATED_COMPUTER", "/srv/computers/tower");
    HostRoot::setCurrent(nullptr);
    EXPECT_EQ(HostRoot::current()->root(), "/srv/computers/tower/root");
    EXPECT_TRUE(kelvaro::test::log().contains("HostRoot: KELVARO_HOST_ROOT is ignored"));

    HostRoot::setCurrent(std::make_shared<HostRoot>("/srv/other"));
    EXPECT_EQ(HostRoot::current()->root(), "/srv/other");
}
