#include "platform/lcd/IoWarriorInterfaces.h"
#include "platform/lcd/SerialPort.h"
#include "platform/lcd/SerialPorts.h"

#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

using namespace platform;
using kelvaro::test::writeFile;

namespace {

// A pseudo-terminal whose slave stands in for a serial port. The test keeps a slave descriptor of its own,
// opened before the port claims it, to look at the settings.
struct Pty {
    int master = -1;
    int slave = -1;
    QString slavePath;
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return;
        slavePath = QString::fromLatin1(::ptsname(master));
        slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
    }
    ~Pty()
    {
        ::close(slave);
        ::close(master);
    }
    // What the port has written so far.
    QByteArray drain() const
    {
        QByteArray bytes;
        char buffer[512];
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
            bytes.append(buffer, n);
        return bytes;
    }
};

} // namespace

TEST(SerialPort, SetsUpAPseudoTerminalAt19200RawAndPutsTheSettingsBack)
{
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    termios before;
    ASSERT_EQ(::tcgetattr(pty.slave, &before), 0);

    SerialPort::Opening opening = SerialPort::open(pty.slavePath);
    ASSERT_TRUE(opening.port) << int(opening.failedStep) << " " << opening.error;
    EXPECT_FALSE(opening.modemLinesSet) << "a pty has no modem lines (ENOTTY), which does not fail the port";

    termios now;
    ASSERT_EQ(::tcgetattr(pty.slave, &now), 0);
    EXPECT_EQ(::cfgetospeed(&now), speed_t(B19200)) << "the speed must survive setting the control flags";
    EXPECT_EQ(::cfgetispeed(&now), speed_t(B19200));
    EXPECT_EQ(now.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_TRUE(now.c_cflag & CLOCAL);
    EXPECT_FALSE(now.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_FALSE(now.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(now.c_oflag & OPOST);
    EXPECT_EQ(now.c_cc[VMIN], 1);
    EXPECT_EQ(now.c_cc[VTIME], 10);

    EXPECT_TRUE(opening.port->write(QByteArray("\x01\x02\x00\x7f", 4)));
    EXPECT_EQ(pty.drain(), QByteArray("\x01\x02\x00\x7f", 4)) << "raw: no output processing";

    opening.port.reset();
    termios after;
    ASSERT_EQ(::tcgetattr(pty.slave, &after), 0);
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
}

TEST(SerialPort, ContinuesShortAndInterruptedWritesUntilTheFrameIsOut)
{
    Pty pty;
    ASSERT_GE(pty.slave, 0);
    int calls = 0;
    // First call interrupted, then at most three bytes a call, as a busy USB adapter may take them.
    auto shortWrites = [&calls](int fd, const void* bytes, size_t count) -> ssize_t {
        if (calls++ == 0) {
            errno = EINTR;
            return -1;
        }
        return ::write(fd, bytes, std::min<size_t>(count, 3));
    };
    SerialPort::Opening opening = SerialPort::open(pty.slavePath, shortWrites);
    ASSERT_TRUE(opening.port);
    const QByteArray frame = QByteArray("\x01") + QByteArray("CPU 42.3") + QByteArray(8, ' ');
    EXPECT_TRUE(opening.port->write(frame));
    EXPECT_EQ(pty.drain(), frame);
    EXPECT_EQ(calls, 1 + 6);

    auto failing = [](int, const void*, size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    opening.port.reset();
    SerialPort::Opening broken = SerialPort::open(pty.slavePath, failing);
    ASSERT_TRUE(broken.port);
    EXPECT_FALSE(broken.port->write(frame));
}

TEST(SerialPort, ReportsTheStepThatFailed)
{
    SerialPort::Opening missing = SerialPort::open(QStringLiteral("/nonexistent/ttyUSB9"));
    EXPECT_FALSE(missing.port);
    EXPECT_EQ(missing.failedStep, SerialPort::Step::Open);
    EXPECT_EQ(missing.error, ENOENT);

    QTemporaryDir dir;
    writeFile(dir.filePath("plain"), "not a terminal");
    SerialPort::Opening plain = SerialPort::open(dir.filePath("plain"));
    EXPECT_FALSE(plain.port);
    EXPECT_EQ(plain.failedStep, SerialPort::Step::ExclusiveAccess);
}

TEST(IoWarriorInterfaces, ListsBothInterfacesOfEachChipWithTheDriverNodeAndSerial)
{
    QTemporaryDir dir;
    const QString usb = dir.path() + "/sys/bus/usb/devices/";
    auto device = [&](const QString& name, const QByteArray& vendor, const QByteArray& product, const QByteArray& serial) {
        writeFile(usb + name + "/idVendor", vendor + "\n");
        writeFile(usb + name + "/idProduct", product + "\n");
        if (!serial.isEmpty())
            writeFile(usb + name + "/serial", serial + "\n");
        for (const char* number : {"00", "01"})
            writeFile(usb + name + ":1." + QString::number(QByteArray(number).toInt()) + "/bInterfaceNumber", QByteArray(number) + "\n");
    };
    device("3-1", "07c0", "1500", "");         // IO-Warrior 40, no serial, held by the kernel driver
    device("3-2", "07c0", "1501", "0000A1B2"); // IO-Warrior 24 without the driver
    device("1-1", "046d", "c52b", "XYZ");      // a receiver of another make
    writeFile(usb + "usb1/idVendor", "1d6b\n"); // a root hub and its interface
    writeFile(usb + "1-0:1.0/bInterfaceNumber", "00\n");
    writeFile(usb + "3-1:1.1/usbmisc/iowarrior1/dev", "180:1\n");

    std::vector<QString> asked;
    IoWarriorInterfaces::InfoQuery query = [&asked](const QString& node) {
        asked.push_back(node);
        IoWarriorInfo info;
        std::memcpy(info.serial, "00001234", 9);
        return std::optional<IoWarriorInfo>(info);
    };
    const auto list = IoWarriorInterfaces::list(HostRoot(dir.path()), query);
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[0].sysfsName, "3-1:1.0");
    EXPECT_EQ(list[0].deviceNode, "");
    EXPECT_EQ(list[1].sysfsName, "3-1:1.1");
    EXPECT_EQ(list[1].interfaceNumber, 1);
    EXPECT_EQ(list[1].productID, IoWarriorInterfaces::IoWarrior40ProductID);
    EXPECT_EQ(list[1].deviceNode, dir.path() + "/dev/usb/iowarrior1");
    EXPECT_EQ(list[1].usbSerialNumber, "");
    EXPECT_EQ(list[1].driverSerialNumber, "00001234");
    EXPECT_EQ(list[3].sysfsName, "3-2:1.1");
    EXPECT_EQ(list[3].usbSerialNumber, "0000A1B2");
    EXPECT_EQ(asked, std::vector<QString>{dir.path() + "/dev/usb/iowarrior1"}) << "only a node without USB serial is asked";
}

TEST(SerialPorts, ListsRealPortsOnlyByTheirStableNames)
{
    QTemporaryDir dir;
    const QString tty = dir.path() + "/sys/class/tty/";
    auto port = [&](const QString& name, const QByteArray& dev) {
        QDir().mkpath(tty + name);
        QFile::link("../../../devices/" + name, tty + name + "/device");
        writeFile(tty + name + "/dev", dev + "\n");
    };
    for (const char* virtualTty : {"tty0", "tty1", "console", "ptmx", "ttyp0"})
        writeFile(tty + virtualTty + "/dev", "4:0\n");
    port("ttyS0", "4:64");
    writeFile(tty + "ttyS0/type", "4\n");
    port("ttyS1", "4:65");
    writeFile(tty + "ttyS1/type", "0\n"); // an 8250 slot without a UART
    port("ttyUSB0", "188:0");
    port("ttyACM0", "166:0");
    QDir().mkpath(dir.path() + "/dev/serial/by-id");
    QFile::link("../../ttyUSB0", dir.path() + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0");
    writeFile(dir.path() + "/run/udev/data/c166:0", "E:ID_MODEL=CFA635\nE:ID_SERIAL=Crystalfontz_CFA635_USB_LCD_CF123456\n");

    const auto list = SerialPorts::list(HostRoot(dir.path()));
    std::vector<QString> names, stable;
    for (const auto& entry : list) {
        names.push_back(entry.kernelName);
        stable.push_back(entry.stableName);
    }
    EXPECT_EQ(names, (std::vector<QString>{"ttyACM0", "ttyS0", "ttyUSB0"}));
    EXPECT_EQ(stable, (std::vector<QString>{"Crystalfontz_CFA635_USB_LCD_CF123456", "ttyS0",
                                            "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"}));
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(list[2].devicePath, dir.path() + "/dev/ttyUSB0");
}
