#include "lcd/TEVLCDCrystalfontz.h"
#include "lcd/TEVLCDHD44780.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/lcd/DeviceHotplugSource.h"

#include "tests/lcd/LcdTestSupport.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
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

TEST(TEVIOWarriorDevice, AChipWhoseNodeComesBackIsSetUpAgainAndItsFailureLoggedOnce)
{
    // The programs ignore SIGPIPE; without that the write to the reader-less FIFO below ends the process.
    struct sigaction ignore = {}, previous = {};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &previous), 0);

    QTemporaryDir dir;
    const QString usb = dir.path() + "/sys/bus/usb/devices/";
    writeFile(usb + "3-1/idVendor", "07c0\n");
    writeFile(usb + "3-1/idProduct", "1501\n");
    writeFile(usb + "3-1/serial", "0000ABCD\n");
    writeFile(usb + "3-1:1.1/bInterfaceNumber", "01\n");
    writeFile(usb + "3-1:1.1/usbmisc/iowarrior1/dev", "180:1\n");
    const QString node = dir.path() + "/dev/usb/iowarrior1";
    writeFile(node, "");
    ASSERT_TRUE(QFile::remove(node));
    // The node is a FIFO at first: its reader going away is the chip going away.
    ASSERT_EQ(::mkfifo(QFile::encodeName(node).constData(), 0600), 0);
    int reader = ::open(QFile::encodeName(node).constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const auto list = TEVIOWarriorDevice::listOfIOWarriorDevicesWithInterfaceNumber(
        1, std::make_shared<const platform::HostRoot>(dir.path()));
    ASSERT_EQ(list.size(), 1u);
    auto display = TEVLCDHD44780::createForLCDController(list.front());
    ASSERT_TRUE(display);
    const QByteArray setUp = report({0x04, 0x01}) + report({0x05, 0x01, 0x38}) + report({0x05, 0x01, 0x0C})
                             + report({0x05, 0x01, 0x01});
    char buffer[256];
    EXPECT_EQ(::read(reader, buffer, sizeof buffer), setUp.size());
    EXPECT_EQ(QByteArray(buffer, setUp.size()), setUp);

    kelvaro::test::log().clear();
    ::close(reader);
    display->setString(QStringLiteral("AB"));
    EXPECT_FALSE(list.front()->hasOpenInterface());
    ASSERT_TRUE(QFile::remove(node)); // unplugged
    display->setString(QStringLiteral("AB"));
    display->setString(QStringLiteral("AB"));

    // Plugged in again: a device node that takes reports.
    writeFile(node, "");
    display->setString(QStringLiteral("CD"));
    const QByteArray text = report({0x05, 0x01, 0x02}) + report({0x05, 0x01, 0x80})
                            + report({0x05, 0x86, 'C', 'D', ' ', ' ', ' ', ' '}) + report({0x05, 0x82, ' ', ' '})
                            + report({0x05, 0x01, 0xC0}) + report({0x05, 0x86, ' ', ' ', ' ', ' ', ' ', ' '})
                            + report({0x05, 0x82, ' ', ' '});
    EXPECT_EQ(kelvaro::test::readFile(node), setUp + text) << "the set-up goes before the first text";
    display->setString(QStringLiteral("CD"));
    EXPECT_EQ(kelvaro::test::readFile(node), setUp + text + text) << "and only once";

    const QStringList lines = kelvaro::test::log().lines();
    ASSERT_EQ(lines.size(), 2) << lines.join("").toStdString();
    EXPECT_EQ(lines[0], "TEVIOWarriorDevice: a report failed on IO-Warrior 24 (serial number '0000ABCD', interface 1); "
                        "it is tried again with every report, and set up again once it answers\n");
    EXPECT_EQ(lines[1], "TEVIOWarriorDevice: IO-Warrior 24 (serial number '0000ABCD', interface 1) answers again\n");
    display.reset();
    ::sigaction(SIGPIPE, &previous, nullptr);
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
    EXPECT_TRUE(kelvaro::test::log().contains("has no modem control lines"));
    // The settle time passes on a timer: the caller goes on at once, and what it sent meanwhile waits.
    EXPECT_EQ(platform::monotonicNow(), start) << "the opening waited for the module";
    display->setString(QStringLiteral("41.5\u2103\nOK"));
    EXPECT_TRUE(port->isSettling());
    EXPECT_EQ(read(), QByteArray());
    kelvaro::test::clock()->advance(TEVSerialPortDevice::SettleTime);
    ASSERT_TRUE(kelvaro::test::waitFor([&] { return !port->isSettling(); }));
    EXPECT_EQ(read(), bytes({0x04, 0x01, 0x14, 0x17, 0x19, 0x00, 0x1C, 0x14, 0x1C, 0, 0, 0, 0, 0}) + "\x01" "41.5\x80   OK      ");
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

namespace {

// A pseudo-terminal standing in for a USB serial adapter with a module on it; the master is the module.
struct ModulePty {
    int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QString slave;
    int keepOpen = -1; // the master reads EIO once no slave is open
    ModulePty()
    {
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return;
        slave = QString::fromLatin1(::ptsname(master));
        keepOpen = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
        ::fcntl(master, F_SETFL, O_NONBLOCK);
    }
    ~ModulePty()
    {
        ::close(keepOpen);
        ::close(master);
    }
    // What arrived, once there are at least `size` bytes (the pty hands them over on a kernel worker).
    QByteArray read(qsizetype size = 0) const
    {
        QByteArray bytes;
        char buffer[4096];
        kelvaro::test::waitFor([&] {
            for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
                bytes.append(buffer, n);
            return bytes.size() >= size;
        });
        return bytes;
    }
};

} // namespace

TEST(TEVSerialPortDevice, APortThatFailedToOpenIsOpenedAgainByALaterSendAtMostEveryFewSeconds)
{
    ModulePty pty;
    ASSERT_FALSE(pty.slave.isEmpty());
    QTemporaryDir dir;
    const QString path = dir.filePath("ttyUSB0"); // the adapter is not plugged in yet
    int attempts = 0;
    auto port = TEVSerialPortDevice::createWithIORegistryEntry(platform::SerialPortEntry{"ttyUSB0", "ttyUSB0", path},
                                                                [&attempts](const QString& at) {
                                                                    ++attempts;
                                                                    return platform::SerialPort::open(at);
                                                                });
    kelvaro::test::log().clear();
    auto display = TEVLCDCrystalfontz::createForLCDController(port);
    ASSERT_TRUE(display) << "a module whose port failed still has its display";
    EXPECT_EQ(attempts, 1);

    // Output ticks every 2 s: a try every RetryInterval, and one line in the log for all of them.
    for (int tick = 0; tick < 10; ++tick) {
        kelvaro::test::clock()->advanceSeconds(2);
        display->setString(QStringLiteral("CPU 41"));
    }
    EXPECT_EQ(attempts, 1 + 3) << "at 6, 12 and 18 s";
    EXPECT_EQ(kelvaro::test::log().count("failed to open device path"), 1) << kelvaro::test::log().lines().join("").toStdString();

    // Plugged in: the next due try opens it, sets the module up again and sends the text once it settled.
    ASSERT_TRUE(QFile::link(pty.slave, path));
    kelvaro::test::clock()->advanceSeconds(TEVSerialPortDevice::RetryInterval.count());
    display->setString(QStringLiteral("CPU 42"));
    EXPECT_TRUE(port->isPortOpen());
    kelvaro::test::clock()->advance(TEVSerialPortDevice::SettleTime);
    const QByteArray expected = bytes({0x04, 0x01, 0x14, 0x17, 0x19, 0x00, 0x1C, 0x14, 0x1C, 0, 0, 0, 0, 0}) + "\x01" "CPU 42  " + QByteArray(8, ' ');
    EXPECT_EQ(pty.read(expected.size()), expected);
    EXPECT_TRUE(kelvaro::test::log().contains("is open again"));
}

TEST(TEVSerialPortDevice, AModuleThatStoppedReadingCostsFramesNeverTheCallersTime)
{
    ModulePty pty;
    ASSERT_FALSE(pty.slave.isEmpty());
    auto port = TEVSerialPortDevice::createWithIORegistryEntry(platform::SerialPortEntry{"pts", "pts", pty.slave});
    ASSERT_TRUE(port->configureSerialPort());
    kelvaro::test::clock()->advance(TEVSerialPortDevice::SettleTime);
    ASSERT_TRUE(kelvaro::test::waitFor([&] { return !port->isSettling(); }));
    // The module reads nothing from here on: 4 KB frames fill what the line can hold within a few sends.
    auto frame = [](int i) { return QByteArray(4096, char('A' + i % 26)); };
    int taken = 0;
    int dropped = 0;
    QElapsedTimer timer;
    for (int i = 0; i < 64; ++i) {
        timer.start();
        (port->sendData(frame(i)) ? taken : dropped)++;
        // A send that waited for the module would wait for good: the bound is only a loaded machine's margin.
        ASSERT_LT(timer.elapsed(), 5000) << "send " << i << " waited for the module";
    }
    EXPECT_GT(taken, 0);
    EXPECT_GT(dropped, 0);

    // Reading again, the module gets whole frames only, each once, in order; the next one goes out.
    QByteArray received = pty.read(qsizetype(taken) * 4096 - 4096); // the last one taken may be partly out
    EXPECT_TRUE(port->sendData(frame(99)));
    received += pty.read(qsizetype(taken + 1) * 4096 - received.size());
    ASSERT_EQ(received.size() % 4096, 0);
    for (qsizetype at = 0; at < received.size(); at += 4096)
        EXPECT_EQ(received.mid(at, 4096), QByteArray(4096, received.at(at))) << at;
    EXPECT_EQ(received.right(4096), frame(99));

    // Stalled again at the quit: the port is put back within the bounded drain. An unbounded drain would
    // wait for good; the margin over the limit is one a loaded machine keeps.
    while (port->sendData(frame(0))) {
    }
    timer.start();
    EXPECT_TRUE(port->restorePortConfiguration());
    EXPECT_LT(timer.elapsed(), 10 * platform::SerialPort::DrainLimit.count());
}
