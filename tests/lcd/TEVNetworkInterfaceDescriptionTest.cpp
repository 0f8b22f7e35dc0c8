#include "lcd/TEVNetworkInterfaceDescription.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using kelvaro::test::writeFile;

TEST(TEVNetworkInterfaceDescription, DescribesThisMachinesPhysicalInterfaces)
{
    const auto root = std::make_shared<const platform::HostRoot>();
    const auto list = TEVNetworkInterfaceDescription::allPhysicalNetworkInterfaces(root);
    QStringList names;
    for (const auto& description : list)
        names << description->darwinInterfaceName();
    EXPECT_FALSE(names.contains("lo"));
    for (const auto& description : list) {
        const QString name = description->darwinInterfaceName();
        EXPECT_EQ(description->maximumTransferUnit(), kelvaro::test::readFile("/sys/class/net/" + name + "/mtu").trimmed().toLongLong()) << name.toStdString();
        EXPECT_EQ(description->mediumAccessControlAddress().size(), 6) << name.toStdString();
        qint64 minimum = 0, maximum = 0;
        description->getMTULimitsMinimum(&minimum, &maximum);
        EXPECT_GT(minimum, 8) << name.toStdString();
        EXPECT_GE(maximum, description->maximumTransferUnit()) << name.toStdString();
        EXPECT_TRUE(description->description().startsWith("TEVNetworkInterfaceDescription: interface '" + name + "' wireless: "));
    }
    if (QFile::exists("/sys/class/net/eth0/device")) {
        EXPECT_TRUE(names.contains("eth0"));
    }

    EXPECT_EQ(TEVNetworkInterfaceDescription::readableIPv4AddressForDarwinInterfaceName("lo"), "127.0.0.1");
    EXPECT_TRUE(TEVNetworkInterfaceDescription::readableIPv4AddressForDarwinInterfaceName("nosuchif0").isNull());
    EXPECT_TRUE(TEVNetworkInterfaceDescription::readableIPv4AddressForDarwinInterfaceName("").isNull());
}

TEST(TEVNetworkInterfaceDescription, ListsOnlyPlausibleInterfacesOfAFixture)
{
    QTemporaryDir dir;
    const QString net = dir.path() + "/sys/class/net/";
    auto interface = [&](const QString& name, int index, const QByteArray& address, const QByteArray& mtu) {
        QDir().mkpath(net + name);
        QFile::link("../../../devices/" + name, net + name + "/device");
        writeFile(net + name + "/ifindex", QByteArray::number(index) + "\n");
        writeFile(net + name + "/address", address + "\n");
        writeFile(net + name + "/mtu", mtu + "\n");
    };
    interface("wlan0", 3, "a4:5e:60:c1:22:01", "1400");
    QDir().mkpath(net + "wlan0/wireless");
    interface("enp0s31f6", 2, "00:1b:63:a1:c2:d3", "9000");
    interface("usb0", 4, "02:00:00:00:00:01", "1500"); // its driver allows an MTU of 0
    interface("dummy0", 5, "", "1500");                // no hardware address
    writeFile(net + "lo/ifindex", "1\n");              // no device behind it
    const auto limits = [](int index) -> std::optional<std::pair<qint64, qint64>> {
        return std::make_pair(index == 4 ? 0 : 68, index == 2 ? 9216 : 1500);
    };

    const auto list = TEVNetworkInterfaceDescription::allPhysicalNetworkInterfaces(
        std::make_shared<const platform::HostRoot>(dir.path()), limits);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->description(), "TEVNetworkInterfaceDescription: interface 'enp0s31f6' wireless: 0 MTU: 9000 MTU limits: 68..9216\n");
    EXPECT_EQ(list[1]->description(), "TEVNetworkInterfaceDescription: interface 'wlan0' wireless: 1 MTU: 1400 MTU limits: 68..1500\n");
    EXPECT_EQ(list[1]->mediumAccessControlAddress(), QByteArray::fromHex("a45e60c12201"));
    list[1]->getMTULimitsMinimum(nullptr, nullptr);

    QFile::remove(net + "wlan0/mtu");
    list[1]->refreshMTUValue();
    EXPECT_EQ(list[1]->maximumTransferUnit(), 1500);
    EXPECT_TRUE(kelvaro::test::log().contains("ioctl for interface failed\n"));
}
