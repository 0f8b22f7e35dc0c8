#include "platform/lcd/SerialPort.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

namespace platform {

struct SerialPort::Saved {
    termios settings;
};

namespace {

constexpr int kModemLines = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR; // 0x126

SerialPort::Opening failure(int fd, SerialPort::Step step)
{
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    SerialPort::Opening opening;
    opening.failedStep = step;
    opening.error = error;
    return opening;
}

} // namespace

SerialPort::Opening SerialPort::open(const QString& path, WriteCall write)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return failure(-1, Step::Open);
    if (::ioctl(fd, TIOCEXCL) < 0)
        return failure(fd, Step::ExclusiveAccess);
    // Non-blocking only for the open, which could otherwise wait for carrier.
    if (::fcntl(fd, F_SETFL, 0) < 0)
        return failure(fd, Step::Open);
    auto saved = std::make_unique<Saved>();
    if (::tcgetattr(fd, &saved->settings) < 0)
        return failure(fd, Step::GetSettings);

    termios settings = saved->settings;
    ::cfmakeraw(&settings);
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 10;
    // On Linux the speed lives in c_cflag, so the flags are set first and the speed after: the other order
    // leaves speed 0, which hangs up the line. CLOCAL keeps a missing carrier from hanging it up later.
    settings.c_cflag = CS8 | CLOCAL | CREAD;
    if (::cfsetispeed(&settings, B19200) < 0 || ::cfsetospeed(&settings, B19200) < 0
        || ::tcsetattr(fd, TCSANOW, &settings) < 0)
        return failure(fd, Step::SetSettings);

    bool modemLinesSet = true;
    const int lines = kModemLines;
    if (::ioctl(fd, TIOCMSET, &lines) < 0) {
        if (errno != ENOTTY && errno != EINVAL)
            return failure(fd, Step::ModemLines);
        modemLinesSet = false;
    }

    std::unique_ptr<SerialPort> port(new SerialPort);
    port->fd_ = fd;
    port->saved_ = std::move(saved);
    port->write_ = write ? std::move(write) : WriteCall([](int f, const void* b, size_t n) { return ::write(f, b, n); });
    Opening opening;
    opening.port = std::move(port);
    opening.modemLinesSet = modemLinesSet;
    return opening;
}

SerialPort::~SerialPort()
{
    ::tcdrain(fd_);
    ::tcsetattr(fd_, TCSANOW, &saved_->settings);
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
}

bool SerialPort::write(const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = write_(fd_, data, size_t(left));
        if (written > 0) {
            data += written;
            left -= written;
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && errno == EAGAIN) {
            pollfd request{fd_, POLLOUT, 0};
            if (::poll(&request, 1, 1000) <= 0)
                return false;
        } else {
            return false; // an error, or a device that takes nothing
        }
    }
    return true;
}

void SerialPort::pause(Clock::Duration duration)
{
    const std::shared_ptr<Clock> clock = Clock::shared();
    if (auto manual = std::dynamic_pointer_cast<ManualClock>(clock))
        manual->advance(duration);
    else
        std::this_thread::sleep_for(duration);
}

} // namespace platform
