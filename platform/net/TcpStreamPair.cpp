#include "platform/net/TcpStreamPair.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

class TcpInput;
class TcpOutput;

// The socket both streams share. Notifiers are made on the thread that opens the first stream; the
// descriptor is closed when both streams are closed or gone.
struct TcpSocket {
    int fd = -1;
    bool connecting = false;
    bool inputClosed = false;
    bool outputClosed = false;
    int connectError = 0; // a connect that failed at once, reported when the streams open
    bool readSinceReadable = false; // the input's reader read while told of bytes
    std::optional<Error> error;
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
    std::weak_ptr<TcpInput> input;
    std::weak_ptr<TcpOutput> output;

    ~TcpSocket()
    {
        readNotifier.reset();
        writeNotifier.reset();
        if (fd >= 0)
            ::close(fd);
    }

    void ensureNotifiers();
    void readable();
    void writable();
    void fail(int code);
    void closeDirection(bool inputSide);
};

class TcpInput final : public InputStream {
public:
    explicit TcpInput(std::shared_ptr<TcpSocket> socket) : socket_(std::move(socket)) {}
    ~TcpInput() override { close(); }

    void open() override;
    void close() override
    {
        status_ = StreamStatus::Closed;
        socket_->closeDirection(true);
    }
    int descriptor() const { return socket_->fd; }
    StreamStatus status() const override { return status_; }
    std::optional<Error> streamError() const override { return error_; }
    qint64 read(char* buffer, qint64 maxLength) override;

    void event(StreamEvent event)
    {
        if (status_ == StreamStatus::Closed || status_ == StreamStatus::NotOpen)
            return;
        if (event == StreamEvent::OpenCompleted)
            status_ = StreamStatus::Open;
        if (event == StreamEvent::ErrorOccurred) {
            status_ = StreamStatus::Error;
            error_ = socket_->error;
        }
        notify(event);
    }
    bool isOpen() const { return status_ == StreamStatus::Open || status_ == StreamStatus::Opening; }

private:
    std::shared_ptr<TcpSocket> socket_;
    StreamStatus status_ = StreamStatus::NotOpen;
    std::optional<Error> error_;
};

class TcpOutput final : public OutputStream {
public:
    explicit TcpOutput(std::shared_ptr<TcpSocket> socket) : socket_(std::move(socket)) {}
    ~TcpOutput() override { close(); }

    void open() override;
    void close() override
    {
        status_ = StreamStatus::Closed;
        socket_->closeDirection(false);
    }
    StreamStatus status() const override { return status_; }
    std::optional<Error> streamError() const override { return error_; }
    qint64 write(const char* data, qint64 length) override;

    void event(StreamEvent event)
    {
        if (status_ == StreamStatus::Closed || status_ == StreamStatus::NotOpen)
            return;
        if (event == StreamEvent::OpenCompleted)
            status_ = StreamStatus::Open;
        if (event == StreamEvent::ErrorOccurred) {
            status_ = StreamStatus::Error;
            error_ = socket_->error;
        }
        notify(event);
    }

private:
    std::shared_ptr<TcpSocket> socket_;
    StreamStatus status_ = StreamStatus::NotOpen;
    std::optional<Error> error_;
};

void TcpSocket::ensureNotifiers()
{
    if (readNotifier)
        return;
    readNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    readNotifier->setEnabled(false);
    QObject::connect(readNotifier.get(), &QSocketNotifier::activated, readNotifier.get(), [this] { readable(); });
    writeNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    writeNotifier->setEnabled(false);
    QObject::connect(writeNotifier.get(), &QSocketNotifier::activated, writeNotifier.get(), [this] { writable(); });
}

// Bytes, the end, or a failure are waiting; which one is told by a peek, so that a spurious wake-up is
// not reported as bytes.
// The notifier stays on while the reader reads, as it does nearly always: turning it off and on again
// costs the thread's event loop two wake-ups a reply.
void TcpSocket::readable()
{
    auto in = input.lock(); // keeps the socket alive through the delegate's call
    if (!in || !in->isOpen()) {
        readNotifier->setEnabled(false);
        return;
    }
    char byte;
    ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    if (n < 0) {
        fail(errno);
        return;
    }
    readSinceReadable = false;
    in->event(StreamEvent::HasBytesAvailable);
    // A reader that left the bytes where they are is told again only once it reads.
    if (!readSinceReadable && readNotifier)
        readNotifier->setEnabled(false);
}

void TcpSocket::writable()
{
    writeNotifier->setEnabled(false);
    auto in = input.lock();
    auto out = output.lock();
    if (connecting) {
        int code = connectError;
        socklen_t length = sizeof code;
        if (code == 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length) != 0)
            code = errno;
        if (code != 0) {
            fail(code);
            return;
        }
        connecting = false;
        if (in && in->isOpen()) {
            readNotifier->setEnabled(true);
            in->event(StreamEvent::OpenCompleted);
        }
        if (out && out->status() == StreamStatus::Opening)
            out->event(StreamEvent::OpenCompleted);
    }
    if (out && out->status() == StreamStatus::Open)
        out->event(StreamEvent::HasSpaceAvailable);
}

void TcpSocket::fail(int code)
{
    if (!error)
        error = posixError(code);
    readNotifier->setEnabled(false);
    writeNotifier->setEnabled(false);
    auto in = input.lock();
    auto out = output.lock();
    if (in)
        in->event(StreamEvent::ErrorOccurred);
    if (out)
        out->event(StreamEvent::ErrorOccurred);
}

void TcpSocket::closeDirection(bool inputSide)
{
    if (fd < 0)
        return;
    bool& closed = inputSide ? inputClosed : outputClosed;
    if (closed)
        return;
    closed = true;
    QSocketNotifier* notifier = inputSide ? readNotifier.get() : writeNotifier.get();
    if (notifier)
        notifier->setEnabled(false);
    if (!inputClosed || !outputClosed) {
        // A closed output tells the peer at once (end of stream); a closed input only stops reading.
        if (!inputSide && !connecting)
            ::shutdown(fd, SHUT_WR);
        return;
    }
    readNotifier.reset();
    writeNotifier.reset();
    ::close(fd);
    fd = -1;
}

void TcpInput::open()
{
    if (status_ != StreamStatus::NotOpen)
        return;
    socket_->ensureNotifiers();
    status_ = StreamStatus::Opening;
    if (socket_->connecting) {
        socket_->writeNotifier->setEnabled(true); // the connect's completion opens it
        return;
    }
    std::weak_ptr<TcpInput> weak = socket_->input;
    RunLoop::current()->perform([weak] {
        if (auto self = weak.lock(); self && self->status() == StreamStatus::Opening) {
            self->event(StreamEvent::OpenCompleted);
            if (self->isOpen() && self->socket_->readNotifier)
                self->socket_->readNotifier->setEnabled(true);
        }
    });
}

qint64 TcpInput::read(char* buffer, qint64 maxLength)
{
    if (status_ != StreamStatus::Open || socket_->fd < 0)
        return -1;
    ssize_t n = ::recv(socket_->fd, buffer, size_t(maxLength), MSG_DONTWAIT);
    if (n > 0) {
        socket_->readSinceReadable = true;
        socket_->readNotifier->setEnabled(true);
        return n;
    }
    if (n == 0) {
        status_ = StreamStatus::AtEnd;
        socket_->readNotifier->setEnabled(false);
        return 0;
    }
    error_ = posixError(errno);
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        socket_->readSinceReadable = true;
        socket_->readNotifier->setEnabled(true);
    } else {
        status_ = StreamStatus::Error;
        socket_->readNotifier->setEnabled(false);
    }
    return -1;
}

void TcpOutput::open()
{
    if (status_ != StreamStatus::NotOpen)
        return;
    socket_->ensureNotifiers();
    if (socket_->connecting) {
        status_ = StreamStatus::Opening;
        socket_->writeNotifier->setEnabled(true);
        return;
    }
    status_ = StreamStatus::Opening;
    std::weak_ptr<TcpOutput> weak = socket_->output;
    RunLoop::current()->perform([weak] {
        if (auto self = weak.lock(); self && self->status() == StreamStatus::Opening) {
            self->event(StreamEvent::OpenCompleted);
            if (self->status() == StreamStatus::Open && self->socket_->writeNotifier)
                self->socket_->writeNotifier->setEnabled(true);
        }
    });
}

qint64 TcpOutput::write(const char* data, qint64 length)
{
    if (status_ != StreamStatus::Open || socket_->fd < 0)
        return -1;
    ssize_t n = ::send(socket_->fd, data, size_t(length), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n >= 0 || errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        socket_->writeNotifier->setEnabled(true);
        return n > 0 ? n : 0;
    }
    error_ = posixError(errno);
    status_ = StreamStatus::Error;
    return -1;
}

std::optional<StreamPair> makePair(int fd, bool connecting, int connectError = 0)
{
    auto socket = std::make_shared<TcpSocket>();
    socket->fd = fd;
    socket->connecting = connecting;
    socket->connectError = connectError;
    auto input = std::make_shared<TcpInput>(socket);
    auto output = std::make_shared<TcpOutput>(socket);
    socket->input = input;
    socket->output = output;
    return StreamPair{input, output};
}

} // namespace

Error posixError(int code)
{
    return Error{QStringLiteral("NSPOSIXErrorDomain"), code,
                 {{QStringLiteral("NSLocalizedDescription"), QString::fromLocal8Bit(std::strerror(code))}}};
}

std::optional<StreamPair> TcpStreamPair::connectToHost(const QHostAddress& address, quint16 port)
{
    sockaddr_storage storage{};
    socklen_t length = 0;
    int family = 0;
    if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* in4 = reinterpret_cast<sockaddr_in*>(&storage);
        in4->sin_family = AF_INET;
        in4->sin_port = htons(port);
        in4->sin_addr.s_addr = htonl(address.toIPv4Address());
        length = sizeof *in4;
        family = AF_INET;
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&storage);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        Q_IPV6ADDR bytes = address.toIPv6Address();
        std::memcpy(&in6->sin6_addr, &bytes, sizeof bytes);
        in6->sin6_scope_id = address.scopeId().toUInt();
        length = sizeof *in6;
        family = AF_INET6;
    } else {
        log(QStringLiteral("TcpStreamPair: not a numeric address: \"%1\"\n").arg(address.toString()));
        return std::nullopt;
    }
    int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int code = errno; // callers read errno for the cause; logging may change it
        log(QStringLiteral("TcpStreamPair: cannot make a socket: %1\n").arg(posixError(code).localizedDescription()));
        errno = code;
        return std::nullopt;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one); // one command per line: no Nagle delay
    // Even a connect that ends at once reports through the write notifier, so that every outcome reaches
    // the delegate as an event on the opening thread.
    int code = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 && errno != EINPROGRESS)
        code = errno;
    return makePair(fd, true, code);
}

std::optional<StreamPair> TcpStreamPair::fromSocketDescriptor(int socketDescriptor)
{
    if (socketDescriptor < 0)
        return std::nullopt;
    int flags = ::fcntl(socketDescriptor, F_GETFL);
    if (flags < 0 || ::fcntl(socketDescriptor, F_SETFL, flags | O_NONBLOCK) != 0) {
        log(QStringLiteral("TcpStreamPair: cannot use socket %1: %2\n").arg(socketDescriptor).arg(posixError(errno).localizedDescription()));
        return std::nullopt;
    }
    int one = 1;
    ::setsockopt(socketDescriptor, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return makePair(socketDescriptor, false);
}

bool TcpStreamPair::setKernelBufferSizes(const StreamPair& pair, int sendBytes, int receiveBytes)
{
    auto* input = dynamic_cast<TcpInput*>(pair.input.get());
    if (!input)
        return false;
    int fd = input->descriptor();
    return fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBytes, sizeof sendBytes) == 0
        && ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBytes, sizeof receiveBytes) == 0;
}

} // namespace platform
