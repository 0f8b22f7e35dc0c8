#include "lcd/TEVLCDCrystalfontz.h"
#include "lcd/TEVLCDHD44780.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/lcd/DeviceHotplugSource.h"

#include "tests/lcd/LcdTestSupport.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

using namespace lcdtest;
using kelvaro::test::writeFile;

TEST(TEVIOWarriorDevice, FindsSpecialModeInterfacesAndDrivesTheKernelDriversNode)
{
    QTemporaryDir dir;
    const QString usb = dir.path() + "/sys/bus/usb/devices/";
    writeFile(usb + "3-1/idVendor", "07c0\n");
    writeFile(usb + "3-1/idProduct", "1500\n");
    writeFile(usb + "3-1:1.0/bInterfaceNumber", "00\n");
    writeFile(usb + "3-1:1.1/bInterfaceNumber", "01\n");
    writeFile(usb + "3-1:1.1/usbmisc/iowarrior1/dev", "180:1\n");
    writeFile(dir.path() + "/dev/usb/iowarrior1", "");
    const auto root = std::make_shared<const platform::HostRoot>(dir.path());

    EXPECT_EQ(TEVIOWarriorDevice::listOfIOWarriorDevices(root).size(), 2u);
    const auto list = TEVIOWarriorDevice::listOfIOWarriorDevicesWithInterfaceNumber(1, root);
    ASSERT_EQ(list.size(), 1u);
    const auto& device = list.front();
    EXPECT_EQ(device->serialNumber(), "-undefined-");
    EXPECT_EQ(device->uniqueDeviceSpecifier(), "IOW40--undefined-");
    EXPECT_EQ(device->devicePresentationName(), "IO-Warrior 40");
    EXPECT_TRUE(device->isIOWarrior40());
    EXPECT_EQ(device->description(), "TEVIOWarriorDevice: interface 0x0, number 1, serial number '-undefined-', IOWarrior40 YES\n");

    auto display = TEVLCDHD44780::createForLCDController(device);
    ASSERT_TRUE(display);
    display->setString(QStringLiteral("AB\nC"));
    display.reset();
    const QByteArray expected = report({0x04, 0x01}) + report({0x05, 0x01, 0x38}) + report({0x05, 0x01, 0x0C})
                                + report({0x05, 0x01, 0x01}) + report({0x05, 0x01, 0x02}) + report({0x05, 0x01, 0x80})
                                + report({0x05, 0x86, 'A', 'B', ' ', ' ', ' ', ' '}) + report({0x05, 0x82, ' ', ' '})
                                + report({0x05, 0x01, 0xC0}) + report({0x05, 0x86, 'C', ' ', ' ', ' ', ' ', ' '})
                                + report({0x05, 0x82, ' ', ' '}) + report({0x05, 0x01, 0x01}) + report({0x04, 0x00});
    EXPECT_EQ(kelvaro::test::readFile(dir.path() + "/dev/usb/iowarrior1"), expected);
}

TEST(TEVIOWarriorDevice, ReopensTheInterfaceAfterAFailedReport)
{
    auto recording = std::make_shared<Recording>();
    auto device = recordingIoWarrior(recording);
    const quint8 bytes[7] = {0x01};
    EXPECT_FALSE(device->hasOpenInterface()) << "opened by the first report, not before";
    EXPECT_TRUE(device->sendOutputReportWithID(0x04, bytes));
    EXPECT_TRUE(device->sendOutputReportWithID(0x04, bytes));
    EXPECT_EQ(recording->opens, 1);
    recording->failNext = true;
    EXPECT_FALSE(device->sendOutputReportWithID(0x04, bytes));
    EXPECT_FALSE(device->hasOpenInterface());
    EXPECT_TRUE(device->sendOutputReportWithID(0x04, bytes));
    EXPECT_EQ(recording->opens, 2);
    EXPECT_FALSE(device->sendOutputReportWithID(0x04, nullptr));
    EXPECT_FALSE(device->writeToInterfaceBytesAt(nullptr, 8));
}

TEST(LCDController, EqualityIsClassAndSerialNumber)
{
    auto recording = std::make_shared<Recording>();
    const auto iow40 = recordingIoWarrior(recording, "0000ABCD", 0x1500);
    const auto iow24 = recordingIoWarrior(recording, "0000ABCD", 0x1501);
    const auto unnamed1 = recordingIoWarrior(recording, "", 0x1500);
    const auto unnamed2 = recordingIoWarrior(recording, "", 0x1500);
    const auto serial = recordingSerialPort(recording);
    EXPECT_TRUE(iow40->isEqual(*iow24));
    EXPECT_NE(iow40->uniqueDeviceSpecifier(), iow24->uniqueDeviceSpecifier());
    EXPECT_TRUE(unnamed1->isEqual(*unnamed2));
    EXPECT_FALSE(iow40->isEqual(*unnamed1));
    EXPECT_FALSE(serial->isEqual(*iow40));
    EXPECT_EQ(serial->uniqueDeviceSpecifier(), "Serial-usb-FTDI_A50285BI-if00-port0");
    // The type column names the port briefly; the long stable name is its serial number.
    EXPECT_EQ(serial->devicePresentationName(), "Serial port ttyUSB0");
    EXPECT_FALSE(TEVIOWarriorDevice::createWithIORegistryEntry(std::nullopt));
    EXPECT_FALSE(TEVSerialPortDevice::createWithIORegistryEntry(platform::SerialPortEntry{"ttyS0", "ttyS0", ""}));
}

TEST(LCDController, HotplugEventsPostTheChangeNotification)
{
    auto source = std::make_shared<platform::DeviceHotplugSource>();
    platform::DeviceHotplugSource::setShared(source);
    ASSERT_TRUE(TEVIOWarriorDevice::setupConnectionNotifications());
    ASSERT_TRUE(TEVSerialPortDevice::setupConnectionNotifications());
    ASSERT_TRUE(TEVIOWarriorDevice::setupConnectionNotifications()) << "a second set-up must not double the posts";
    std::vector<std::pair<const void*, QVariant>> posted;
    auto& center = platform::NotificationCenter::defaultCenter();
    const auto token = center.addObserver(TEVLCDController::changeNotification, {}, [&](const platform::Notification& n) {
        posted.emplace_back(n.object.get(), n.userInfo.value(TEVLCDController::changeKindKey));
    });
    const void* iow = TEVIOWarriorDevice::classIdentity();
    const void* tty = TEVSerialPortDevice::classIdentity();
    const struct {
        platform::DeviceEvent event;
        const void* object; // null: no notification
        quint64 kind;
    } rows[] = {
        {{"add", "usb", "usb_device", "3-1", "/devices/pci0000:00/usb3/3-1", {{"PRODUCT", "7c0/1500/101"}}}, iow, 2},
        {{"remove", "usb", "usb_device", "3-2", "/devices/pci0000:00/usb3/3-2", {{"PRODUCT", "7c0/1501/101"}}}, iow, 3},
        {{"add", "usbmisc", "", "iowarrior1", "/devices/pci0000:00/usb3/3-1/3-1:1.1/usbmisc/iowarrior1", {}}, iow, 2},
        {{"add", "usb", "usb_interface", "3-1:1.1", "/devices/pci0000:00/usb3/3-1/3-1:1.1", {{"PRODUCT", "7c0/1500/101"}}}, nullptr, 0},
        {{"bind", "usb", "usb_device", "3-1", "/devices/pci0000:00/usb3/3-1", {{"PRODUCT", "7c0/1500/101"}}}, nullptr, 0},
        {{"add", "usb", "usb_device", "1-1", "/devices/pci0000:00/usb1/1-1", {{"PRODUCT", "46d/c52b/1211"}}}, nullptr, 0},
        {{"add", "tty", "", "ttyUSB0", "/devices/pci0000:00/usb3/3-3/3-3:1.0/ttyUSB0/tty/ttyUSB0", {}}, tty, 2},
        {{"remove", "tty", "", "ttyUSB0", "/devices/pci0000:00/usb3/3-3/3-3:1.0/ttyUSB0/tty/ttyUSB0", {}}, tty, 3},
        {{"add", "tty", "", "tty63", "/devices/virtual/tty/tty63", {}}, nullptr, 0},
    };
    for (const auto& row : rows) {
        posted.clear();
        source->deliver(row.event);
        if (!row.object) {
            EXPECT_TRUE(posted.empty()) << row.event.sysname.toStdString() << " " << row.event.action.toStdString();
            continue;
        }
        ASSERT_EQ(posted.size(), 1u) << row.event.sysname.toStdString() << " " << row.event.action.toStdString();
        EXPECT_EQ(posted[0].first, row.object);
        EXPECT_EQ(posted[0].second, QVariant::fromValue<quint64>(row.kind));
    }
    center.removeObserver(token);
    platform::DeviceHotplugSource::setShared(nullptr);
    // The live monitor may be refused in a container; made or not, it lives until the application goes.
    platform::DeviceHotplugSource::shared();
}

TEST(TEVSerialPortDevice, DrivesACrystalfontzOverAPseudoTerminal)
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const QString slave = QString::fromLatin1(::ptsname(master));
    const int keepOpen = ::open(::ptsname(master), O_RDWR | O_NOCTTY); // the master reads EIO once no slave is open
    auto read = [master] {
        QByteArray bytes;
        char buffer[256];
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            bytes.append(buffer, n);
        return bytes;
    };

    const auto start = platform::monotonicNow();
    auto port = TEVSerialPortDevice::createWithIORegistryEntry(platform::SerialPortEntry{"pts", "pts", slave});
    auto display = TEVLCDCrystalfontz::createForLCDController(port);
    ASSERT_TRUE(display);
    EXPECT_EQ(platform::monotonicNow() - start, std::chrono::seconds(1)) << "the settle time, on the test's clock";
    EXPECT_TRUE(kelvaro::test::log().contains("has no modem control lines"));
    EXPECT_EQ(read(), bytes({0x04, 0x01, 0x14, 0x17, 0x19, 0x00, 0x1C, 0x14, 0x1C, 0, 0, 0, 0, 0}));
    display->setString(QStringLiteral("41.5\u2103\nOK"));
    EXPECT_EQ(read(), "\x01" "41.5\x80   OK      ");
    display->setBrightness(150, -3);
    EXPECT_EQ(read(), bytes({0x0E, 0x64, 0x0F, 0x00}));

    EXPECT_FALSE(port->configureSerialPort());
    EXPECT_TRUE(kelvaro::test::log().contains("TEVSerialPortDevice: attempt to reopen serial port. Ignoring...\n"));
    EXPECT_FALSE(port->sendData(QByteArray()));
    display.reset();
    EXPECT_EQ(read(), "\x01" + QByteArray(16, ' '));
    EXPECT_TRUE(port->restorePortConfiguration());
    EXPECT_FALSE(port->restorePortConfiguration());
    EXPECT_TRUE(kelvaro::test::log().contains("cannot restore port configuration because port is not open"));
    EXPECT_FALSE(port->sendData("x"));

    auto absent = TEVSerialPortDevice::createWithIORegistryEntry(platform::SerialPortEntry{"x", "x", "/nonexistent/tty"});
    EXPECT_FALSE(absent->configureSerialPort());
    EXPECT_TRUE(kelvaro::test::log().contains(
        "TEVSerialPortDevice: failed to open device path '/nonexistent/tty', error 2 (No such file or directory)\n"));
    ::close(keepOpen);
    ::close(master);
}
