#include "platform/registry/BlockStorageProvider.h"

#include "platform/foundation/HostRoot.h"
#include "platform/foundation/Values.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using platform::BlockStorageProvider;
using platform::HostRoot;

namespace {

// A sysfs tree under a temporary root: /sys/block/<disk> links to its device path as on a real kernel.
struct FakeBlockTree {
    QTemporaryDir dir;

    void disk(const QString& name, const QString& devicePath, const QString& dev, const QMap<QString, QString>& deviceFiles = {},
              const QString& udev = {}, bool withDevice = true)
    {
        const QString block = dir.path() + "/sys/" + devicePath + "/block/" + name;
        kelvaro::test::writeFile(block + "/dev", dev.toUtf8() + "\n");
        kelvaro::test::writeFile(block + "/size", "2048\n");
        kelvaro::test::writeFile(block + "/removable", "0\n");
        for (auto it = deviceFiles.cbegin(); it != deviceFiles.cend(); ++it)
            kelvaro::test::writeFile(dir.path() + "/sys/" + devicePath + "/" + it.key(), it.value().toUtf8() + "\n");
        if (withDevice)
            QFile::link("../../../" + devicePath.section('/', -1), block + "/device");
        QDir().mkpath(dir.path() + "/sys/block");
        QFile::link("../" + devicePath + "/block/" + name, dir.path() + "/sys/block/" + name);
        if (!udev.isEmpty())
            kelvaro::test::writeFile(dir.path() + "/run/udev/data/b" + dev, udev.toUtf8());
    }

    std::shared_ptr<const platform::IORegistry> registry() const
    {
        platform::IORegistry::Builder builder;
        BlockStorageProvider().addEntries(HostRoot(dir.path()), builder);
        return builder.finish();
    }
};

const char* kSataUdev = "E:ID_ATA=1\nE:ID_ATA_SATA=1\nE:ID_BUS=ata\nE:ID_MODEL=Samsung_SSD\n"
                        "E:ID_MODEL_ENC=Samsung\\x20SSD\\x20860\\x20EVO\\x20\\x20\nE:ID_SERIAL_SHORT=S3Z9NB0K\n"
                        "E:ID_REVISION=RVT04B6Q\nE:ID_ATA_FEATURE_SET_SMART=1\n";

} // namespace

TEST(BlockStorageProvider, ClassChainAndPropertiesFollowTheTransport)
{
    FakeBlockTree tree;
    tree.disk("sda", "devices/pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", "8:0",
              {{"vendor", "ATA     "}, {"model", "Samsung SSD 860 "}}, kSataUdev);
    tree.disk("sdb", "devices/pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0/host6/target6:0:0/6:0:0:0", "8:16",
              {{"vendor", "SanDisk "}, {"model", "Cruzer Blade    "}}, "E:ID_BUS=usb\nE:ID_SERIAL_SHORT=4C53\n");
    tree.disk("nvme0n1", "devices/pci0000:00/0000:00:1d.0/0000:3d:00.0/nvme/nvme0", "259:0",
              {{"model", "WDC PC SN730 SDBQNTY-256G-1001"}, {"serial", "19484D800906"}});
    tree.disk("vda", "devices/pci0000:00/0000:00:04.0/virtio1", "254:0", {{"vendor", "0x1af4"}});
    tree.disk("sdc", "devices/pci0000:00/0000:00:1f.2/ata3/host2/target2:0:0/2:0:0:0", "8:32", {{"model", "OLD DISK"}});
    const auto registry = tree.registry();

    const auto drives = registry->matchingClass("IOBlockStorageDevice");
    QStringList classes;
    for (const auto& d : drives)
        classes.append(d->className());
    // Natural order of the sysfs names.
    EXPECT_EQ(classes, QStringList({"IONVMeBlockStorageDevice", "IOAHCIBlockStorageDevice", "IOBlockStorageServices",
                                    "IOAHCIBlockStorageDevice", "IOVirtIOBlockStorageDevice"}));

    const auto characteristics = [&](int i) { return drives[size_t(i)]->property("Device Characteristics").toMap(); };
    const auto interconnect = [&](int i) {
        return drives[size_t(i)]->property("Protocol Characteristics").toMap().value("Physical Interconnect").toString();
    };
    // sda: udev's full model, no "ATA" vendor, S.M.A.R.T. from the feature set.
    EXPECT_EQ(characteristics(1).value("Product Name"), QVariant("Samsung SSD 860 EVO"));
    EXPECT_FALSE(characteristics(1).contains("Vendor Name"));
    EXPECT_EQ(characteristics(1).value("Serial Number"), QVariant("S3Z9NB0K"));
    EXPECT_TRUE(platform::values::strictlyEqual(characteristics(1).value("ATA Features"), platform::values::fromUnsigned(0x20)));
    EXPECT_TRUE(platform::values::strictlyEqual(drives[1]->property("SMART Capable"), platform::values::fromBool(true)));
    EXPECT_EQ(interconnect(1), "SATA");
    // sdb: a USB stick.
    EXPECT_EQ(characteristics(2).value("Vendor Name"), QVariant("SanDisk"));
    EXPECT_EQ(characteristics(2).value("Product Name"), QVariant("Cruzer Blade"));
    EXPECT_EQ(interconnect(2), "USB");
    EXPECT_FALSE(drives[2]->property("SMART Capable").toBool());
    // sdc: an ATA disk without a udev record: support unknown, so no claim either way.
    EXPECT_FALSE(drives[3]->hasProperty("SMART Capable"));
    EXPECT_FALSE(characteristics(3).contains("ATA Features"));
    EXPECT_EQ(interconnect(3), "SATA");
    EXPECT_EQ(interconnect(0), "PCI-Express");
    EXPECT_EQ(characteristics(0).value("Serial Number"), QVariant("19484D800906"));
    EXPECT_EQ(interconnect(4), "Virtual Interface");
    EXPECT_EQ(characteristics(4).value("Product Name"), QVariant("VirtIO Block Device"));
    EXPECT_FALSE(characteristics(4).contains("Vendor Name"));

    const auto media = drives[1]->firstChild();
    ASSERT_TRUE(media);
    EXPECT_EQ(media->className(), "IOMedia");
    EXPECT_EQ(media->property("BSD Name"), QVariant("sda"));
    EXPECT_TRUE(platform::values::strictlyEqual(media->property("Size"), platform::values::fromUnsigned(2048 * 512)));
}

TEST(BlockStorageProvider, SkipsVirtualDisksAndDisksWithoutADevice)
{
    FakeBlockTree tree;
    for (const char* name : {"loop0", "ram0", "zram0", "dm-0", "md0"})
        tree.disk(name, "devices/virtual/block", "7:0", {}, {}, true);
    tree.disk("sdz", "devices/platform/nothing", "8:240", {}, {}, false);
    EXPECT_TRUE(tree.registry()->matchingClass("IOBlockStorageDevice").empty());
    EXPECT_EQ(tree.registry()->entries().size(), 1u);
}

TEST(BlockStorageProvider, UdevRecordsAndEscapes)
{
    const auto record = BlockStorageProvider::parseUdevRecord("S:disk/by-id/x\nE:ID_BUS=ata\nE:ID_A=b=c\nG:systemd\nE:\n");
    EXPECT_EQ(record.value("ID_BUS"), "ata");
    EXPECT_EQ(record.value("ID_A"), "b=c");
    EXPECT_EQ(record.size(), 2);
    EXPECT_EQ(BlockStorageProvider::decodeUdevString("A\\x20B\\x2fC\\x"), "A B/C\\x");
    EXPECT_EQ(BlockStorageProvider::decodeUdevString("\\xzz"), "\\xzz");
}
