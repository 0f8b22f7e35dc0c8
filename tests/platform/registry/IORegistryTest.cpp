#include "platform/foundation/HostRoot.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "platform/registry/DmiPlatformProvider.h"
#include "platform/registry/FixtureIORegistry.h"
#include "platform/registry/IORegistry.h"
#include "platform/registry/LinuxIORegistry.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::FixtureIORegistry;
using platform::HostRoot;
using platform::IORegistry;
namespace values = platform::values;

namespace {

QVariantMap entry(const QStringList& classes, const QVariantMap& extra = {})
{
    QVariantMap result = extra;
    QVariantList chain;
    for (const QString& name : classes)
        chain.append(values::fromString(name));
    result.insert(QStringLiteral("Class"), chain);
    return result;
}

// A root with a storage controller holding two drives (one a subclass) and an SMC with a device-tree path.
QVariantList sampleSection()
{
    const QVariantMap ssd = entry({"IOAHCIBlockStorageDevice", "IOBlockStorageDevice", "IOService"},
                                  {{"Name", "ssd"},
                                   {"Properties", QVariantMap{{"Removable", values::fromBool(false)},
                                                              {"Size", values::fromSigned(512)},
                                                              {"Serial", values::fromData("AB\0CD")}}}});
    const QVariantMap disk = entry({"IOBlockStorageDevice", "IOService"}, {{"Name", "disk"}});
    const QVariantMap controller =
        entry({"AppleAHCI", "IOService"}, {{"Children", QVariantList{ssd, disk}}});
    const QVariantMap smc = entry({"AppleSMC", "IOService"},
                                  {{"Path", "IODeviceTree:/smc"},
                                   {"Properties", QVariantMap{{"smc-version", values::fromString("1.2f3")}}}});
    return {controller, smc};
}

QStringList names(const std::vector<IORegistry::EntryRef>& entries)
{
    QStringList result;
    for (const auto& e : entries)
        result.append(e->name());
    return result;
}

} // namespace

TEST(IORegistry, ClassMatchFollowsTheClassChainInWalkOrder)
{
    const auto loaded = FixtureIORegistry::load(sampleSection());
    ASSERT_TRUE(loaded.registry) << loaded.error.toStdString();
    const auto& registry = *loaded.registry;

    EXPECT_EQ(names(registry.entries()), QStringList({"Root", "AppleAHCI", "ssd", "disk", "AppleSMC"}));
    EXPECT_EQ(names(registry.matchingClass("IOBlockStorageDevice")), QStringList({"ssd", "disk"}));
    EXPECT_EQ(names(registry.matchingClass("IOAHCIBlockStorageDevice")), QStringList({"ssd"}));
    EXPECT_EQ(names(registry.matchingClass("IOService")), QStringList({"AppleAHCI", "ssd", "disk", "AppleSMC"}));
    EXPECT_TRUE(registry.matchingClass("AppleSmartBattery").empty());
    EXPECT_EQ(names(registry.entriesWithProperty("smc-version")), QStringList({"AppleSMC"}));
}

TEST(IORegistry, PropertiesKeepTheirKinds)
{
    const auto registry = FixtureIORegistry::load(sampleSection()).registry;
    ASSERT_TRUE(registry);
    const auto ssd = registry->matchingClass("IOAHCIBlockStorageDevice").at(0);
    EXPECT_EQ(values::kindOf(ssd->property("Removable")), values::Kind::Bool);
    EXPECT_EQ(values::kindOf(ssd->property("Size")), values::Kind::Signed);
    EXPECT_EQ(values::kindOf(ssd->property("Serial")), values::Kind::Data);
    EXPECT_FALSE(ssd->property("Missing").isValid());
    EXPECT_EQ(ssd->properties().size(), 3);
}

TEST(IORegistry, PathsParentsAndChildrenLinkTheTree)
{
    const auto registry = FixtureIORegistry::load(sampleSection()).registry;
    ASSERT_TRUE(registry);
    EXPECT_EQ(registry->entryFromPath("IOService:/"), registry->root());
    const auto smc = registry->entryFromPath("IODeviceTree:/smc");
    ASSERT_TRUE(smc);
    EXPECT_EQ(smc->name(), "AppleSMC");
    EXPECT_FALSE(registry->entryFromPath("IODeviceTree:/rom"));
    EXPECT_FALSE(registry->entryFromPath("IODeviceTree:/smc/"));

    const auto controller = registry->matchingClass("AppleAHCI").at(0);
    EXPECT_EQ(names(controller->children()), QStringList({"ssd", "disk"}));
    EXPECT_EQ(controller->firstChild()->name(), "ssd");
    EXPECT_EQ(controller->firstChild()->parent(), controller);
    EXPECT_EQ(controller->parent(), registry->root());
    EXPECT_FALSE(registry->root()->parent());
    EXPECT_FALSE(smc->firstChild());
}

TEST(IORegistry, AnEntryKeepsItsTreeAlive)
{
    IORegistry::EntryRef ssd;
    {
        const auto registry = FixtureIORegistry::load(sampleSection()).registry;
        ASSERT_TRUE(registry);
        ssd = registry->matchingClass("IOAHCIBlockStorageDevice").at(0);
    }
    ASSERT_TRUE(ssd->parent());
    EXPECT_EQ(ssd->parent()->name(), "AppleAHCI");
}

TEST(FixtureIORegistry, RejectsMalformedEntriesNamingTheKeyPath)
{
    const QVariantMap good = entry({"IOService"});
    struct Row {
        QVariantList section;
        const char* error;
    };
    const Row rows[] = {
        {{QVariant(values::fromString("x"))}, "Registry[0]: an entry must be a dictionary"},
        {{QVariantMap{{"Name", "x"}}}, "Registry[0].Class: must be a non-empty array of class names"},
        {{entry({})}, "Registry[0].Class: must be a non-empty array of class names"},
        {{entry({"IOService", ""})}, "Registry[0].Class[1]: must be a non-empty string"},
        {{good, entry({"IOService"}, {{"Colour", "red"}})}, "Registry[1].Colour: unknown key"},
        {{entry({"IOService"}, {{"Name", values::fromSigned(1)}})}, "Registry[0].Name: must be a string"},
        {{entry({"IOService"}, {{"Path", "/rom"}})}, "Registry[0].Path: must be a string \"<Plane>:/<path>\""},
        {{entry({"IOService"}, {{"Path", "IOService:/"}})}, "Registry[0].Path: \"IOService:/\" is already taken"},
        {{entry({"IOService"}, {{"Properties", QVariantList{}}})}, "Registry[0].Properties: must be a dictionary"},
        {{entry({"IOService"}, {{"Children", QVariantMap{}}})}, "Registry[0].Children: must be an array"},
        {{entry({"IOService"}, {{"Children", QVariantList{good, entry({"IOService"}, {{"Bogus", 1}})}}})},
         "Registry[0].Children[1].Bogus: unknown key"},
        {{entry({"A"}, {{"Path", "IODeviceTree:/a"}}),
          entry({"B"}, {{"Children", QVariantList{entry({"C"}, {{"Path", "IODeviceTree:/a"}})}}})},
         "Registry[1].Children[0].Path: \"IODeviceTree:/a\" is already taken"},
    };
    for (const Row& row : rows) {
        const auto loaded = FixtureIORegistry::load(row.section);
        EXPECT_FALSE(loaded.registry) << row.error;
        EXPECT_EQ(loaded.error, QString::fromUtf8(row.error));
    }
}

TEST(IORegistry, CurrentReadsTheSelectedSimulatedComputer)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("root"));
    const auto computer = platform::SimulatedComputer::fromDictionary({{"Registry", sampleSection()}}, dir.path());
    ASSERT_TRUE(computer.computer) << computer.error.toStdString();
    platform::SimulatedComputer::setCurrent(computer.computer);
    const auto registry = IORegistry::current();
    EXPECT_EQ(names(registry->matchingClass("AppleSMC")), QStringList({"AppleSMC"}));
    EXPECT_EQ(IORegistry::current(), registry);

    const auto bare = platform::SimulatedComputer::fromDictionary({}, dir.path());
    platform::SimulatedComputer::setCurrent(bare.computer);
    EXPECT_EQ(IORegistry::current()->entries().size(), 1u);

    // The computer's own root feeds the Linux providers ahead of its fixture entries.
    kelvaro::test::writeFile(dir.path() + "/root/sys/class/dmi/id/product_name", "Tower1,1\n");
    const auto both = platform::SimulatedComputer::fromDictionary({{"Registry", sampleSection()}}, dir.path());
    platform::SimulatedComputer::setCurrent(both.computer);
    const auto combined = IORegistry::current();
    ASSERT_EQ(combined->matchingClass("IOPlatformExpertDevice").size(), 1u);
    EXPECT_EQ(combined->matchingClass("IOPlatformExpertDevice").front()->property("model"), QVariant("Tower1,1"));
    EXPECT_EQ(names(combined->matchingClass("AppleSMC")), QStringList({"AppleSMC"}));
    platform::SimulatedComputer::setCurrent(nullptr);
}

namespace {

// A DMI folder under a temporary host root.
struct FakeDmi {
    QTemporaryDir dir;
    void write(const QString& file, const QByteArray& text)
    {
        kelvaro::test::writeFile(dir.path() + "/sys/class/dmi/id/" + file, text);
    }
    HostRoot root() const { return HostRoot(dir.path()); }
};

} // namespace

TEST(DmiPlatformProvider, PublishesPlatformExpertAndRomReadLive)
{
    FakeDmi dmi;
    dmi.write("product_name", "MacBookPro9,1\n");
    dmi.write("product_serial", "\n");
    dmi.write("board_name", "Mac-4B7AC7E43945597E\n");
    dmi.write("sys_vendor", "Apple Inc.\n");
    dmi.write("bios_version", "MBP91.88Z.00D3.B08\n");
    dmi.write("bios_date", "08/08/2012\n");
    const auto registry = platform::LinuxIORegistry::build(dmi.root());

    const auto experts = registry->matchingClass("IOPlatformExpertDevice");
    ASSERT_EQ(experts.size(), 1u);
    const auto expert = experts.front();
    EXPECT_TRUE(expert->conformsTo("IOService"));
    EXPECT_EQ(expert->property("model"), QVariant(QString("MacBookPro9,1")));
    EXPECT_EQ(expert->property("IOPlatformSerialNumber"), QVariant(QString("")));
    EXPECT_EQ(expert->property("board-id"), QVariant(QString("Mac-4B7AC7E43945597E")));
    EXPECT_EQ(expert->property("manufacturer"), QVariant(QString("Apple Inc.")));
    EXPECT_EQ(expert->properties().size(), 4);

    const auto rom = registry->entryFromPath("IODeviceTree:/rom");
    ASSERT_TRUE(rom);
    EXPECT_EQ(rom->parent(), expert);
    EXPECT_EQ(rom->property("version"), QVariant(QString("MBP91.88Z.00D3.B08")));
    EXPECT_EQ(rom->property("release-date"), QVariant(QString("08/08/2012")));

    dmi.write("bios_version", "MBP91.88Z.00D3.B0C\n");
    EXPECT_EQ(rom->property("version"), QVariant(QString("MBP91.88Z.00D3.B0C")));
}

TEST(DmiPlatformProvider, UnreadableSerialStillPairsWithBoardIdAndMissingFilesStayAbsent)
{
    FakeDmi dmi;
    dmi.write("board_name", "Z390\n");
    const auto registry = platform::LinuxIORegistry::build(dmi.root());
    const auto expert = registry->matchingClass("IOPlatformExpertDevice").at(0);
    EXPECT_EQ(expert->property("IOPlatformSerialNumber"), QVariant(QString("")));
    EXPECT_EQ(expert->property("board-id"), QVariant(QString("Z390")));
    EXPECT_FALSE(expert->property("model").isValid());
    EXPECT_FALSE(registry->entryFromPath("IODeviceTree:/rom"));
}

TEST(DmiPlatformProvider, NoDmiFolderAddsNothing)
{
    QTemporaryDir dir;
    const auto registry = platform::LinuxIORegistry::build(HostRoot(dir.path()));
    EXPECT_EQ(registry->entries().size(), 1u);
}

namespace {

// Hardware that comes and goes under a temporary host root, each piece its own sysfs files.
struct Hotplug {
    const char* what;
    const char* className;
    QList<QPair<QString, QByteArray>> files; // under the root
    QString link;                            // a /sys/block link to make, "<name> <target>"
    QString removed;                         // the folder or link to delete, or "<file>=<text>" to write
};

void apply(const QString& root, const Hotplug& row, bool add)
{
    if (add) {
        for (const auto& [path, bytes] : row.files)
            kelvaro::test::writeFile(root + path, bytes);
        if (!row.link.isEmpty()) {
            ASSERT_TRUE(QDir(root).mkpath("sys/block"));
            ASSERT_TRUE(QFile::link(row.link.section(' ', 1), root + "/sys/block/" + row.link.section(' ', 0, 0)));
        }
    } else if (row.removed.contains('=')) {
        kelvaro::test::writeFile(root + row.removed.section('=', 0, 0), row.removed.section('=', 1).toUtf8());
    } else if (QFileInfo(root + row.removed).isSymLink()) {
        ASSERT_TRUE(QFile::remove(root + row.removed));
    } else {
        ASSERT_TRUE(QDir(root + row.removed).removeRecursively());
    }
}

} // namespace

TEST(IORegistry, CurrentSeesHardwareComeAndGoAndKeepsWhatStayed)
{
    QTemporaryDir dir;
    const QString root = dir.path();
    platform::HostRoot::setCurrent(std::make_shared<HostRoot>(root));
    const QByteArray edid = QByteArray::fromHex("00ffffffffffff00") + QByteArray(120, '\x01');
    const QString virtio = "/sys/devices/pci0000:00/0000:00:04.0/virtio1/block/vda";
    const Hotplug rows[] = {
        {"display", "IODisplay",
         {{"/sys/class/drm/card0-HDMI-A-1/status", "connected\n"}, {"/sys/class/drm/card0-HDMI-A-1/edid", edid}},
         {}, "/sys/class/drm/card0-HDMI-A-1/status=disconnected\n"},
        {"battery", "AppleSmartBattery",
         {{"/sys/class/power_supply/BAT1/type", "Battery\n"}, {"/sys/class/power_supply/BAT1/charge_full", "5000000\n"}},
         {}, "/sys/class/power_supply/BAT1"},
        {"virtio disk", "IOBlockStorageDevice", {{virtio + "/size", "2048\n"}, {virtio + "/device/vendor", "0x1af4\n"}},
         "vda ../devices/pci0000:00/0000:00:04.0/virtio1/block/vda", "/sys/block/vda"},
        {"md array", "AppleRAIDMember", {{"/sys/block/md0/md/level", "raid1\n"}, {"/sys/block/md0/md/array_state", "clean\n"}},
         {}, "/sys/block/md0"},
    };
    EXPECT_EQ(IORegistry::current()->entries().size(), 1u); // the first listing: nothing yet

    std::vector<IORegistry::EntryRef> held;
    for (const Hotplug& row : rows) {
        apply(root, row, true);
        const auto found = IORegistry::current()->matchingClass(row.className);
        ASSERT_EQ(found.size(), 1u) << row.what << " did not appear";
        held.push_back(found.front());
        // What was there before keeps its entry.
        for (size_t i = 0; i + 1 < held.size(); ++i)
            EXPECT_EQ(IORegistry::current()->matchingClass(rows[i].className).at(0), held[i]) << rows[i].what;
    }
    const auto disk = held[2];
    EXPECT_EQ(disk->property("Device Characteristics").toMap().value("Product Name"), "VirtIO Block Device");

    for (size_t r = 0; r < std::size(rows); ++r) {
        apply(root, rows[r], false);
        EXPECT_TRUE(IORegistry::current()->matchingClass(rows[r].className).empty()) << rows[r].what << " did not go";
        for (size_t i = r + 1; i < std::size(rows); ++i)
            EXPECT_EQ(IORegistry::current()->matchingClass(rows[i].className).at(0), held[i]) << rows[i].what;
    }
    // A holder of the removed disk's entry no longer reads a made-up name.
    EXPECT_TRUE(disk->properties().isEmpty());
    EXPECT_EQ(IORegistry::current()->root()->children().size(), 0u);
    platform::HostRoot::setCurrent(nullptr);
}
