#include "tests/support/ProtocolTestPeer.h"

#include "acquisition/AcquisitionSelectors.h"
#include "acquisition/TEVAcquisitionDispatch.h"
#include "acquisition/TEVCommandLineConnection.h"
#include "acquisition/TEVDataAcquisitionCore.h"
#include "acquisition/TEVServiceInvocation.h"
#include "platform/foundation/Coder.h"
#include "platform/foundation/HostRoot.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/NullObject.h"
#include "platform/foundation/RunLoop.h"
#include "platform/registry/IORegistry.h"
#include "platform/net/TcpStreamPair.h"
#include "sensors/TEVMachineInfo.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHash>
#include <QTcpServer>
#include <QThread>
#include <QTimer>

#include <deque>
#include <future>
#include <mutex>
#include <semaphore>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace kelvaro::test {

namespace values = platform::values;

PeerReply PeerReply::answer(const QVariant& value)
{
    PeerReply reply;
    reply.value = value;
    return reply;
}

PeerReply PeerReply::silence()
{
    PeerReply reply;
    reply.kind = Kind::Silence;
    return reply;
}

PeerReply PeerReply::error(const QByteArray& text)
{
    PeerReply reply;
    reply.kind = Kind::Error;
    reply.text = text;
    return reply;
}

PeerReply PeerReply::raw(const QByteArray& line)
{
    PeerReply reply;
    reply.kind = Kind::Raw;
    reply.text = line;
    return reply;
}

PeerReply PeerReply::close()
{
    PeerReply reply;
    reply.kind = Kind::Close;
    return reply;
}

namespace {

// Replies may be much larger than a request (the machine's icon, every sensor description); the client
// takes lines of up to 2 MiB.
constexpr quint64 kInputCapacity = 2 * 1024 * 1024;
constexpr quint64 kOutputCapacity = 4 * 1024 * 1024;

// Splits "word[digits]rest". The sequence number is digits only and must fit 64 bits.
void parseHeader(const QByteArray& line, PeerRequest& request, QByteArray& rest)
{
    const qsizetype open = line.indexOf('[');
    if (open < 0) {
        request.command = QString::fromLatin1(line);
        return;
    }
    request.command = QString::fromLatin1(line.left(open));
    const qsizetype close = line.indexOf(']', open);
    if (close < 0)
        return;
    const QByteArray digits = line.mid(open + 1, close - open - 1);
    if (digits.isEmpty() || digits.size() > 20)
        return;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return;
    }
    bool ok = false;
    const quint64 number = digits.toULongLong(&ok);
    if (!ok)
        return;
    request.sequenceNumber = number;
    rest = line.mid(close + 1);
}

void decodeInvocation(const QByteArray& archive, PeerRequest& request)
{
    platform::UnarchiveOptions options;
    options.allowedClasses = {QStringLiteral("TEVServiceInvocation")};
    const QVariant root = platform::KeyedUnarchiver::unarchiveObjectWithData(archive, options);
    const auto invocation = std::dynamic_pointer_cast<TEVServiceInvocation>(values::toObject(root));
    if (!invocation)
        return;
    request.decoded = true;
    request.selector = invocation->selector();
    request.arguments = invocation->arguments();
    for (const QVariant& argument : request.arguments)
        request.argumentKinds.append(values::kindOf(argument));
    request.returnValueClass = invocation->returnValueClass();
    request.isOneWay = invocation->isOneWay();
}

// Hands each accepted socket over as a stream pair, without Qt's own buffering.
class PeerServer final : public QTcpServer {
public:
    std::function<void(platform::StreamPair)> accepted;

protected:
    void incomingConnection(qintptr socketDescriptor) override
    {
        // Trickled bytes must leave one by one, not wait for an acknowledgement.
        const int on = 1;
        ::setsockopt(int(socketDescriptor), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (auto pair = platform::TcpStreamPair::fromSocketDescriptor(int(socketDescriptor)))
            accepted(*pair);
    }
};

} // namespace

class ProtocolTestPeer::Impl {
public:
    // One accepted connection; lives on the peer's thread.
    class Session final : public TEVRemoteCommandConnectionDelegate, public std::enable_shared_from_this<Session> {
    public:
        struct Chunk {
            QByteArray bytes;
            bool trickle = false;
            std::chrono::milliseconds gap{0};
            bool close = false;
            platform::Clock::Duration clockStep{0};
        };

        Session(Impl& impl, int number, std::shared_ptr<TEVCommandLineConnection> connection)
            : impl_(impl)
            , number_(number)
            , connection_(std::move(connection))
        {
        }

        bool connectionProcessParsedCommandData(TEVRemoteCommandConnection&, const QByteArray& data) override
        {
            impl_.handle(shared_from_this(), data);
            return true;
        }
        void connectionWillCloseWithError(TEVRemoteCommandConnection&, const std::optional<platform::Error>&) override
        {
            impl_.drop(shared_from_this());
        }

        int number() const { return number_; }
        bool isOpen() const { return connection_ && connection_->isOpen(); }

        void enqueue(Chunk chunk)
        {
            queue_.push_back(std::move(chunk));
            pump();
        }

        void closeNow()
        {
            shutdown();
            impl_.drop(shared_from_this());
        }

        // Silent: the connection does not call back.
        void shutdown()
        {
            queue_.clear();
            if (connection_)
                connection_->close();
        }

    private:
        // Writes in order; a trickle or a pending close holds back everything queued after it.
        void pump()
        {
            while (!waiting_ && !queue_.empty()) {
                if (!isOpen()) {
                    queue_.clear();
                    return;
                }
                Chunk& chunk = queue_.front();
                if (chunk.close) {
                    if (!connection_->outputBuffer().isEmpty()) {
                        resumeAfter(std::chrono::milliseconds(1));
                        return;
                    }
                    closeNow();
                    return;
                }
                if (!chunk.trickle) {
                    connection_->sendCommand(chunk.bytes);
                    queue_.pop_front();
                    continue;
                }
                if (chunk.clockStep > platform::Clock::Duration::zero()) {
                    if (auto manual = std::dynamic_pointer_cast<platform::ManualClock>(platform::Clock::shared()))
                        manual->advance(chunk.clockStep);
                }
                connection_->sendCommand(chunk.bytes.left(1));
                chunk.bytes.remove(0, 1);
                const auto gap = chunk.gap;
                if (chunk.bytes.isEmpty())
                    queue_.pop_front();
                resumeAfter(gap);
                return;
            }
        }

        void resumeAfter(std::chrono::milliseconds delay)
        {
            waiting_ = true;
            std::weak_ptr<Session> weak = shared_from_this();
            QTimer::singleShot(delay, impl_.context_.get(), [weak] {
                if (auto self = weak.lock()) {
                    self->waiting_ = false;
                    self->pump();
                }
            });
        }

        Impl& impl_;
        const int number_;
        std::shared_ptr<TEVCommandLineConnection> connection_;
        std::deque<Chunk> queue_;
        bool waiting_ = false;
    };

    explicit Impl(Options options)
        : options_(std::move(options))
    {
    }

    // Runs `fn` on the peer's thread and waits for it.
    void runOnPeer(const std::function<void()>& fn)
    {
        std::promise<void> done;
        if (!loop_ || !loop_->perform([&] {
                fn();
                done.set_value();
            }))
            return;
        done.get_future().wait();
    }

    void post(std::function<void()> fn)
    {
        if (loop_)
            loop_->perform(std::move(fn));
    }

    void start()
    {
        thread_.setObjectName(QStringLiteral("ProtocolTestPeer"));
        thread_.start();
        loop_ = platform::RunLoop::forThread(&thread_);
        runOnPeer([this] {
            context_ = std::make_unique<QObject>();
            if (options_.makeCentre)
                centre_ = options_.makeCentre();
            server_ = std::make_unique<PeerServer>();
            server_->accepted = [this](platform::StreamPair pair) { accept(std::move(pair)); };
            const bool listening = server_->listen(QHostAddress(QHostAddress::LocalHost), options_.port);
            std::lock_guard lock(mutex_);
            listening_ = listening;
            port_ = listening ? server_->serverPort() : 0;
        });
    }

    void pause()
    {
        {
            std::lock_guard lock(mutex_);
            if (paused_)
                return;
            paused_ = true;
        }
        auto stopped = std::make_shared<std::promise<void>>();
        auto hasStopped = stopped->get_future();
        post([this, stopped] {
            stopped->set_value();
            resumed_.acquire();
        });
        hasStopped.wait();
    }

    void resume()
    {
        std::lock_guard lock(mutex_);
        if (!std::exchange(paused_, false))
            return;
        resumed_.release();
    }

    void stop()
    {
        resume();
        runOnPeer([this] {
            const auto sessions = std::exchange(sessions_, {});
            for (const auto& session : sessions)
                session->shutdown();
            server_.reset();
            centre_.reset();
            context_.reset();
        });
        thread_.quit();
        thread_.wait();
    }

    void accept(platform::StreamPair pair)
    {
        auto connection = TEVCommandLineConnection::create(pair.input, pair.output);
        if (!connection)
            return;
        connection->setInputBufferCapacity(kInputCapacity);
        connection->setOutputBufferCapacity(kOutputCapacity);
        int number;
        {
            std::lock_guard lock(mutex_);
            number = ++accepted_;
        }
        auto session = std::make_shared<Session>(*this, number, connection);
        connection->setDelegate(session);
        connection->setName(QString::number(number));
        sessions_.append(session);
        connection->open();
    }

    // The connection may still be inside its own callback: it goes on a later turn.
    void drop(const std::shared_ptr<Session>& session)
    {
        if (!sessions_.removeOne(session))
            return;
        post([session] {});
    }

    std::shared_ptr<Session> newest() const { return sessions_.isEmpty() ? nullptr : sessions_.last(); }

    void handle(const std::shared_ptr<Session>& session, const QByteArray& line)
    {
        PeerRequest request;
        request.line = line;
        request.connection = session->number();
        QByteArray rest;
        parseHeader(line, request, rest);
        if (request.command == QLatin1String("invoke") && request.sequenceNumber)
            decodeInvocation(rest, request);

        PeerReply reply;
        std::optional<QVariant> fixed;
        {
            std::lock_guard lock(mutex_);
            requests_.append(request);
            for (auto it = scripts_.begin(); it != scripts_.end(); ++it) {
                if (it->first.isEmpty() || it->first == request.command
                    || (request.decoded && it->first == request.selector)) {
                    reply = it->second;
                    scripts_.erase(it);
                    break;
                }
            }
            if (request.decoded && fixedAnswers_.contains(request.selector))
                fixed = fixedAnswers_.value(request.selector);
        }
        requestArrived_.release();

        if (reply.advanceClock > platform::Clock::Duration::zero()) {
            if (auto manual = std::dynamic_pointer_cast<platform::ManualClock>(platform::Clock::shared()))
                manual->advance(reply.advanceClock);
        }
        if (!reply.value && fixed)
            reply.value = fixed;

        std::weak_ptr<Session> weak = session;
        auto send = [this, weak, request, reply] {
            if (auto target = weak.lock())
                respond(*target, request, reply);
        };
        if (reply.delay > std::chrono::milliseconds::zero())
            QTimer::singleShot(reply.delay, context_.get(), send);
        else
            send();
    }

    void respond(Session& session, const PeerRequest& request, const PeerReply& reply)
    {
        for (const QByteArray& line : reply.linesBefore)
            session.enqueue({framed(line)});
        std::optional<QByteArray> payload;
        switch (reply.kind) {
        case PeerReply::Kind::Silence:
            return;
        case PeerReply::Kind::Close:
            session.enqueue({{}, false, {}, true});
            return;
        case PeerReply::Kind::Raw:
            payload = reply.text;
            break;
        case PeerReply::Kind::Bytes:
            session.enqueue({reply.text, reply.trickle, reply.trickleGap, false, reply.trickleClockStep});
            return;
        case PeerReply::Kind::Error:
            if (request.sequenceNumber)
                payload = "-[" + QByteArray::number(*request.sequenceNumber) + ']' + reply.text;
            break;
        case PeerReply::Kind::Answer:
            payload = answer(request, reply.value);
            break;
        }
        if (payload && !payload->isEmpty())
            session.enqueue({framed(*payload), reply.trickle, reply.trickleGap, false, reply.trickleClockStep});
    }

    static QByteArray framed(const QByteArray& payload)
    {
        return TEVCommandLineConnection::transferDataForPayload(payload).value_or(QByteArray());
    }

    // The "+" (or, when it cannot answer, "-") line for `request`; nothing without a sequence number.
    std::optional<QByteArray> answer(const PeerRequest& request, const std::optional<QVariant>& value)
    {
        if (!request.sequenceNumber)
            return std::nullopt;
        const QByteArray number = '[' + QByteArray::number(*request.sequenceNumber) + ']';
        const QString& command = request.command;
        if (command == QLatin1String("hello"))
            return '+' + number + options_.version;
        if (command == QLatin1String("ping"))
            return '+' + number + options_.pingText;
        if (command == QLatin1String("bye"))
            return '+' + number + "bye";
        if (command != QLatin1String("invoke"))
            return '-' + number + "unknown command";
        if (!request.decoded)
            return '-' + number + "invocation could not be decoded";

        QVariant result;
        if (value) {
            result = *value;
        } else {
            const AcquisitionSelector* row = acquisitionselectors::find(request.selector);
            if (!row)
                return '-' + number + "unknown selector " + request.selector.toUtf8();
            result = acquisitiondispatch::perform(centre_.get(), *row, request.arguments);
            // A call without result completes on any non-null object.
            if (row->result == AcquisitionValueKind::None)
                result = values::fromBool(true);
        }
        if (!result.isValid())
            result = values::fromObject(platform::NullObject::shared());
        const QByteArray archive = platform::KeyedArchiver::archivedDataWithRootObject(result);
        if (archive.isEmpty())
            return '-' + number + "result could not be archived";
        return '+' + number + archive;
    }

    Options options_;
    QThread thread_;
    std::shared_ptr<platform::RunLoop> loop_;

    // The peer's thread only.
    std::unique_ptr<QObject> context_; // real-time timers
    std::unique_ptr<TEVDataAcquisitionProtocol> centre_;
    std::unique_ptr<PeerServer> server_;
    QList<std::shared_ptr<Session>> sessions_;

    // Shared with the test's thread.
    mutable std::mutex mutex_;
    bool listening_ = false;
    quint16 port_ = 0;
    int accepted_ = 0;
    QList<PeerRequest> requests_;
    QList<std::pair<QString, PeerReply>> scripts_;
    QHash<QString, QVariant> fixedAnswers_;
    std::counting_semaphore<> requestArrived_{0};
    bool paused_ = false; // guarded by mutex_
    std::binary_semaphore resumed_{0};
};

ProtocolTestPeer::ProtocolTestPeer(Options options)
    : impl_(std::make_unique<Impl>(std::move(options)))
{
    impl_->start();
}

ProtocolTestPeer::~ProtocolTestPeer()
{
    impl_->stop();
}

ProtocolTestPeer::CentreFactory ProtocolTestPeer::simulatedComputerCore()
{
    return []() -> std::unique_ptr<TEVDataAcquisitionProtocol> {
        auto sources = TEVDataAcquisitionCore::Sources::local();
        // The shared description is collected once per process; each computer needs its own.
        sources.machineInfo = std::make_shared<const TEVMachineInfo>(*platform::HostRoot::current(),
                                                                     platform::IORegistry::current());
        auto core = std::make_unique<TEVDataAcquisitionCore>(std::move(sources));
        core->setIsRemote(true);
        return core;
    };
}

bool ProtocolTestPeer::isListening() const
{
    std::lock_guard lock(impl_->mutex_);
    return impl_->listening_;
}

quint16 ProtocolTestPeer::port() const
{
    std::lock_guard lock(impl_->mutex_);
    return impl_->port_;
}

void ProtocolTestPeer::script(PeerReply reply, const QString& match)
{
    std::lock_guard lock(impl_->mutex_);
    impl_->scripts_.append({match, std::move(reply)});
}

void ProtocolTestPeer::answerSelector(const QString& selector, const QVariant& value)
{
    std::lock_guard lock(impl_->mutex_);
    impl_->fixedAnswers_.insert(selector, value);
}

namespace {

// A description that the client's decoder takes for a computer's: a name, and no serial number.
class NamelessMachineInfo final : public platform::Archivable {
public:
    QString className() const override { return QStringLiteral("TEVMachineInfo"); }
    void encodeWithCoder(platform::Coder& coder) const override
    {
        coder.encodeObject(platform::values::fromString(kNamelessComputer), QStringLiteral("computerName"));
    }
};

} // namespace

void ProtocolTestPeer::identifyAs(PeerIdentity identity)
{
    const QString selector = QString::fromLatin1(acquisitionselectors::selectorOf(AcquisitionOperation::MachineInfo));
    switch (identity) {
    case PeerIdentity::Own:
        break;
    case PeerIdentity::None:
        answerSelector(selector, QVariant());
        break;
    case PeerIdentity::NoSerialNumber:
        answerSelector(selector, platform::values::fromObject(std::make_shared<NamelessMachineInfo>()));
        break;
    case PeerIdentity::SleepsFirst: {
        PeerReply reply;
        reply.linesBefore = {QByteArrayLiteral("*[*]zzz")};
        script(reply, selector);
        break;
    }
    }
}

void ProtocolTestPeer::sendLine(const QByteArray& payload)
{
    Impl* impl = impl_.get();
    impl->post([impl, payload] {
        if (auto session = impl->newest())
            session->enqueue({Impl::framed(payload)});
    });
}

void ProtocolTestPeer::sendBytes(const QByteArray& bytes)
{
    Impl* impl = impl_.get();
    impl->post([impl, bytes] {
        if (auto session = impl->newest())
            session->enqueue({bytes});
    });
}

void ProtocolTestPeer::pause()
{
    impl_->pause();
}

void ProtocolTestPeer::resume()
{
    impl_->resume();
}

void ProtocolTestPeer::closeConnection()
{
    Impl* impl = impl_.get();
    impl->post([impl] {
        if (auto session = impl->newest())
            session->enqueue({{}, false, {}, true});
    });
}

QList<PeerRequest> ProtocolTestPeer::requests() const
{
    std::lock_guard lock(impl_->mutex_);
    return impl_->requests_;
}

qsizetype ProtocolTestPeer::requestCount(const QString& match) const
{
    std::lock_guard lock(impl_->mutex_);
    qsizetype count = 0;
    for (const PeerRequest& request : std::as_const(impl_->requests_))
        count += request.command == match || (request.decoded && request.selector == match);
    return count;
}

int ProtocolTestPeer::connectionCount() const
{
    std::lock_guard lock(impl_->mutex_);
    return impl_->accepted_;
}

int ProtocolTestPeer::openConnectionCount() const
{
    int count = 0;
    Impl* impl = impl_.get();
    impl->runOnPeer([impl, &count] {
        for (const auto& session : std::as_const(impl->sessions_))
            count += session->isOpen();
    });
    return count;
}

bool ProtocolTestPeer::waitForRequests(qsizetype count, std::chrono::milliseconds realTimeout) const
{
    const QDeadlineTimer deadline(realTimeout);
    while (requests().size() < count) {
        if (deadline.hasExpired())
            return false;
        // The test's thread keeps serving its own sockets (the client's writes) meanwhile.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        impl_->requestArrived_.try_acquire_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace kelvaro::test
