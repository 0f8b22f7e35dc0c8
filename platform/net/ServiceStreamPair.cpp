#include "platform/net/ServiceStreamPair.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/NetServiceBrowser.h"
#include "platform/net/TcpStreamPair.h"

#include <cerrno>
#include <type_traits>
#include <utility>

namespace platform {
namespace {

const char* const kClassName = "ServiceStreamPair";

class ServiceInput;
class ServiceOutput;

// What both streams share: the resolve while it runs, then the TCP pair, whose events it hands on to the
// matching stream. The streams own it; the TCP streams hold it weakly as their delegate.
class ServiceConnection final : public StreamDelegate, public std::enable_shared_from_this<ServiceConnection> {
public:
    explicit ServiceConnection(NetService service) : service_(std::move(service)) {}

    void endOpened(bool input);
    // An end closed or went away: a resolve nobody waits for any more is cancelled.
    void endClosed();
    void stream(Stream& stream, StreamEvent event) override;

    const std::optional<StreamPair>& tcp() const { return tcp_; }

    std::weak_ptr<ServiceInput> input;
    std::weak_ptr<ServiceOutput> output;

private:
    void startResolve();
    void resolved(quint64 generation, const ServiceDiscovery::ResolveResult& result);
    void connectTo(const ResolvedService& resolved);
    void fail(const Error& error);
    bool anyEndWaiting() const;

    const NetService service_;
    std::unique_ptr<DiscoveryOperation> resolve_;
    quint64 generation_ = 0; // counts resolves started and cancelled, so that a stale answer is ignored
    std::optional<StreamPair> tcp_;
    std::optional<Error> error_; // the resolve or the connect could not be started
};

// One end. Before the TCP pair exists it answers for itself (Opening, or Error after a failed resolve);
// afterwards its status, error, reads and writes are the TCP stream's.
template <class Base>
class ServiceEnd : public Base {
public:
    explicit ServiceEnd(std::shared_ptr<ServiceConnection> connection) : connection_(std::move(connection)) {}
    ~ServiceEnd() override { close(); }

    void open() override
    {
        if (opened_ || closed_)
            return;
        opened_ = true;
        connection_->endOpened(kInput);
    }

    void close() override
    {
        if (closed_)
            return;
        closed_ = true;
        if (Base* stream = inner())
            stream->close();
        connection_->endClosed();
    }

    StreamStatus status() const override
    {
        if (closed_)
            return StreamStatus::Closed;
        if (!opened_)
            return StreamStatus::NotOpen;
        if (error_)
            return StreamStatus::Error;
        if (Base* stream = inner())
            return stream->status();
        return StreamStatus::Opening;
    }

    std::optional<Error> streamError() const override
    {
        if (error_)
            return error_;
        if (Base* stream = inner())
            return stream->streamError();
        return std::nullopt;
    }

    bool isLive() const { return opened_ && !closed_ && !error_; }
    bool isClosed() const { return closed_; }

    void deliver(StreamEvent event)
    {
        if (isLive())
            this->notify(event);
    }

    void fail(const Error& error)
    {
        if (!isLive() || inner())
            return;
        error_ = error;
        this->notify(StreamEvent::ErrorOccurred);
    }

protected:
    static constexpr bool kInput = std::is_same_v<Base, InputStream>;

    Base* inner() const
    {
        const auto& tcp = connection_->tcp();
        if (!tcp)
            return nullptr;
        if constexpr (kInput)
            return tcp->input.get();
        else
            return tcp->output.get();
    }

private:
    std::shared_ptr<ServiceConnection> connection_;
    bool opened_ = false;
    bool closed_ = false;
    std::optional<Error> error_;
};

class ServiceInput final : public ServiceEnd<InputStream> {
public:
    using ServiceEnd::ServiceEnd;

    qint64 read(char* buffer, qint64 maxLength) override
    {
        InputStream* stream = inner();
        return stream && status() == StreamStatus::Open ? stream->read(buffer, maxLength) : -1;
    }
};

class ServiceOutput final : public ServiceEnd<OutputStream> {
public:
    using ServiceEnd::ServiceEnd;

    qint64 write(const char* data, qint64 length) override
    {
        OutputStream* stream = inner();
        return stream && status() == StreamStatus::Open ? stream->write(data, length) : -1;
    }
};

void ServiceConnection::endOpened(bool isInput)
{
    if (error_) {
        // Too late for this end: it learns of the failure on a later turn, as an opening socket would.
        std::weak_ptr<ServiceConnection> weak = weak_from_this();
        RunLoop::current()->perform([weak, isInput] {
            auto self = weak.lock();
            if (!self)
                return;
            if (isInput) {
                if (auto in = self->input.lock())
                    in->fail(*self->error_);
            } else if (auto out = self->output.lock()) {
                out->fail(*self->error_);
            }
        });
        return;
    }
    if (tcp_) {
        if (isInput)
            tcp_->input->open();
        else
            tcp_->output->open();
        return;
    }
    if (!resolve_)
        startResolve();
}

void ServiceConnection::endClosed()
{
    if (resolve_ && !anyEndWaiting()) {
        ++generation_;
        resolve_.reset();
    }
}

bool ServiceConnection::anyEndWaiting() const
{
    auto in = input.lock();
    auto out = output.lock();
    return (in && in->isLive()) || (out && out->isLive());
}

void ServiceConnection::startResolve()
{
    std::weak_ptr<ServiceConnection> weak = weak_from_this();
    const quint64 generation = ++generation_;
    resolve_ = ServiceDiscovery::shared()->resolve(service_, [weak, generation](const ServiceDiscovery::ResolveResult& result) {
        if (auto self = weak.lock())
            self->resolved(generation, result);
    });
}

void ServiceConnection::resolved(quint64 generation, const ServiceDiscovery::ResolveResult& result)
{
    if (generation != generation_ || !resolve_ || tcp_ || error_)
        return; // cancelled, or answered twice
    // We are inside the operation's own callback: it goes on a later turn, not under its own feet.
    std::shared_ptr<DiscoveryOperation> finished(std::move(resolve_));
    RunLoop::current()->perform([finished] {});
    if (const auto* error = std::get_if<DiscoveryError>(&result)) {
        log(kClassName, QStringLiteral("cannot resolve %1: %2").arg(service_.description(), error->detail));
        fail(ServiceStreamPair::resolveError(service_, *error));
        return;
    }
    connectTo(std::get<ResolvedService>(result));
}

void ServiceConnection::connectTo(const ResolvedService& resolved)
{
    const std::optional<QHostAddress> address = ServiceStreamPair::connectAddress(resolved);
    if (!address) {
        log(kClassName, QStringLiteral("%1 resolved to \"%2\", not a numeric address").arg(service_.description(), resolved.address));
        fail(Error{QString::fromLatin1(ServiceStreamPair::kResolveErrorDomain), NetServiceBrowser::UnknownError,
                   {{QStringLiteral("NSLocalizedDescription"),
                     QStringLiteral("%1 resolved to an address that is not numeric: \"%2\"").arg(service_.description(), resolved.address)}}});
        return;
    }
    std::optional<StreamPair> pair = TcpStreamPair::connectToHost(*address, resolved.port);
    if (!pair) {
        const int code = errno; // connectToHost has logged why no socket could be made
        fail(posixError(code != 0 ? code : EIO));
        return;
    }
    tcp_ = std::move(pair);
    tcp_->input->setDelegate(weak_from_this());
    tcp_->output->setDelegate(weak_from_this());
    // The TCP streams follow the ends: opened where an end waits, closed where it was closed meanwhile.
    auto keep = shared_from_this();
    auto in = input.lock();
    auto out = output.lock();
    if (!in || in->isClosed())
        tcp_->input->close();
    else if (in->isLive())
        tcp_->input->open();
    if (!out || out->isClosed())
        tcp_->output->close();
    else if (out->isLive())
        tcp_->output->open();
}

void ServiceConnection::fail(const Error& error)
{
    error_ = error;
    auto keep = shared_from_this(); // a delegate may drop both ends while it hears of the failure
    // Each end is looked up at its own turn: one dropped while the other heard of the failure hears nothing.
    if (auto in = input.lock())
        in->fail(error);
    if (auto out = output.lock())
        out->fail(error);
}

void ServiceConnection::stream(Stream& stream, StreamEvent event)
{
    auto keep = shared_from_this();
    if (!tcp_)
        return;
    if (&stream == tcp_->input.get()) {
        if (auto in = input.lock())
            in->deliver(event);
    } else if (&stream == tcp_->output.get()) {
        if (auto out = output.lock())
            out->deliver(event);
    }
}

} // namespace

std::optional<StreamPair> ServiceStreamPair::forService(const NetService& service)
{
    if (service.name().isEmpty() || service.type().isEmpty()) {
        log(kClassName, QStringLiteral("cannot connect to a service without a name and type: \"%1\"").arg(service.description()));
        return std::nullopt;
    }
    auto connection = std::make_shared<ServiceConnection>(service);
    auto input = std::make_shared<ServiceInput>(connection);
    auto output = std::make_shared<ServiceOutput>(connection);
    connection->input = input;
    connection->output = output;
    return StreamPair{input, output};
}

Error ServiceStreamPair::resolveError(const NetService& service, const DiscoveryError& error)
{
    using Kind = DiscoveryError::Kind;
    qint64 code = NetServiceBrowser::UnknownError; // also a missing daemon: the text says which
    switch (error.kind) {
    case Kind::NotFound: code = NetServiceBrowser::NotFoundError; break;
    case Kind::Collision: code = NetServiceBrowser::CollisionError; break;
    case Kind::BadArgument: code = NetServiceBrowser::BadArgumentError; break;
    case Kind::Timeout: code = NetServiceBrowser::TimeoutError; break;
    case Kind::Unavailable:
    case Kind::Denied:
    case Kind::Unknown: break;
    }
    QString text = QStringLiteral("cannot resolve %1").arg(service.description());
    if (!error.detail.isEmpty())
        text += QStringLiteral(": ") + error.detail;
    return Error{QString::fromLatin1(kResolveErrorDomain), code, {{QStringLiteral("NSLocalizedDescription"), text}}};
}

std::optional<QHostAddress> ServiceStreamPair::connectAddress(const ResolvedService& resolved)
{
    QHostAddress address;
    if (resolved.address.isEmpty() || !address.setAddress(resolved.address))
        return std::nullopt;
    if (address.protocol() == QAbstractSocket::IPv6Protocol && address.isLinkLocal() && address.scopeId().isEmpty()
        && resolved.interfaceIndex > 0)
        address.setScopeId(QString::number(resolved.interfaceIndex));
    return address;
}

} // namespace platform
