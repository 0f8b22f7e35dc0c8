#include "platform/lcd/SerialPort.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
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
    // The descriptor stays non-blocking: the open could otherwise wait for carrier, and a write for a
    // module that stopped reading.
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
    // What is queued may go out, for a bounded time: a stalled module must not hold up the quit.
    const auto deadline = std::chrono::steady_clock::now() + DrainLimit;
    const auto left = [&deadline] {
        return int(std::max<qint64>(0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count()));
    };
    while (!failed_ && !rest_.isEmpty() && writeSome(rest_) == Outcome::Full) {
        pollfd request{fd_, POLLOUT, 0};
        if (::poll(&request, 1, left()) <= 0)
            break;
    }
    for (int queued = 0; !failed_ && ::ioctl(fd_, TIOCOUTQ, &queued) == 0 && queued > 0 && left() > 0;)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ::tcflush(fd_, TCOFLUSH);
    ::tcsetattr(fd_, TCSANOW, &saved_->settings);
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
}

SerialPort::Outcome SerialPort::writeSome(QByteArray& bytes)
{
    while (!bytes.isEmpty()) {
        const ssize_t written = write_(fd_, bytes.constData(), size_t(bytes.size()));
        if (written > 0) {
            bytes.remove(0, qsizetype(written));
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return Outcome::Full;
        } else {
            failed_ = true; // an error, or a device that takes nothing
            return Outcome::Failed;
        }
    }
    return Outcome::Done;
}

bool SerialPort::write(const QByteArray& bytes)
{
    if (failed_)
        return false;
    if (!rest_.isEmpty() && writeSome(rest_) != Outcome::Done)
        return false;
    QByteArray frame = bytes;
    const qsizetype size = frame.size();
    switch (writeSome(frame)) {
    case Outcome::Done:
        return true;
    case Outcome::Full:
        if (frame.size() == size)
            return false; // dropped whole: the stream stays in step with the module
        rest_ = frame;
        return true;
    case Outcome::Failed:
        return false;
    }
    return false;
}

} // namespace platform
