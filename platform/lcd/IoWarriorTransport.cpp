#include "platform/lcd/IoWarriorTransport.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <hidapi/hidapi.h>
#include <unistd.h>

#include <vector>

namespace platform {

std::unique_ptr<IoWarriorTransport> IoWarriorTransport::open(const IoWarriorInterface& interface)
{
    if (!interface.deviceNode.isEmpty())
        return IoWarriorCharDevice::open(interface.deviceNode);
    if (!interface.sysfsName.isEmpty())
        return IoWarriorHidapiDevice::open(interface.sysfsName);
    return nullptr;
}

std::unique_ptr<IoWarriorCharDevice> IoWarriorCharDevice::open(const QString& path)
{
    // Without waiting: a node that is no device (a FIFO without reader) must not hold the main thread. The
    // driver sends the special-mode interface's reports synchronously all the same.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return nullptr;
    return std::unique_ptr<IoWarriorCharDevice>(new IoWarriorCharDevice(fd));
}

IoWarriorCharDevice::~IoWarriorCharDevice()
{
    ::close(fd_);
}

bool IoWarriorCharDevice::writeReport(const quint8* bytes, qsizetype count)
{
    if (!bytes || count <= 0)
        return false;
    // The driver takes a report whole or not at all; anything shorter is a failure, not a part to continue.
    // A node whose reader has gone fails with EPIPE (SIGPIPE is ignored by the programs).
    ssize_t written;
    do {
        written = ::write(fd_, bytes, size_t(count));
    } while (written < 0 && errno == EINTR);
    return written == count;
}

std::unique_ptr<IoWarriorHidapiDevice> IoWarriorHidapiDevice::open(const QString& sysfsName)
{
    if (::hid_init() != 0)
        return nullptr;
    hid_device* device = ::hid_open_path(QFile::encodeName(sysfsName).constData());
    if (!device)
        return nullptr;
    return std::unique_ptr<IoWarriorHidapiDevice>(new IoWarriorHidapiDevice(device));
}

IoWarriorHidapiDevice::~IoWarriorHidapiDevice()
{
    ::hid_close(device_);
}

bool IoWarriorHidapiDevice::writeReport(const quint8* bytes, qsizetype count)
{
    if (!bytes || count <= 0)
        return false;
    std::vector<unsigned char> buffer(size_t(count) + 1, 0);
    std::copy(bytes, bytes + count, buffer.begin() + 1);
    // The interface has no OUT endpoint, so hidapi sends a SET_REPORT and counts the leading 0x00 too.
    return ::hid_write(device_, buffer.data(), buffer.size()) == int(buffer.size());
}

} // namespace platform
