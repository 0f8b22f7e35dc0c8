#pragma once
// TEVInvocationClient: the client end of the remote-monitoring line protocol. Numbers every request, sends
// method calls as keyed archives of TEVServiceInvocation, and waits for the matching reply inside the
// calling thread's run loop. Shared (shared_ptr) by its owner; lives on, and is used only from, one thread.
//
// Wire: requests "hello[n]", "ping[n]", "bye[n]", "invoke[n]<archive>"; replies "+[n]<payload>" (result),
// "-[n]<text>" (error), "*[*]alive" / "*[*]zzz" (status); every line framed by TEVCommandLineConnection.

#include "acquisition/RemoteFailure.h"
#include "acquisition/TEVCommandLineConnection.h"
#include "acquisition/TEVInvocationStatus.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/NetService.h"
#include "platform/net/Stream.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class TEVServiceInvocation;

class TEVInvocationClient : public TEVRemoteCommandConnectionDelegate,
                            public std::enable_shared_from_this<TEVInvocationClient> {
public:
    // Posted on the client's thread through the default centre, with notificationObject() as object.
    static const QString ResponseTimeoutNotification;   // "TEVInvocationClientHasResponseTimeout"
    static const QString ConnectionFailureNotification; // "TEVInvocationClientHasConnectionFailure"
    static const QString SleepingServerNotification;    // "TEVInvocationClientHasSleepingServer"
    // User-info key of the connection failure: a platform::Error, absent after an orderly end of stream.
    static const QString ErrorKey; // "Error"

    // Longest error text ("-" line) that is logged, in characters; the rest is cut.
    static constexpr qsizetype MaxLoggedErrorTextLength = 512;
    // At most this many error lines of one connection are logged per minute; the others are counted,
    // and the count is logged with the next logged line or when the connection ends.
    static constexpr int MaxLoggedErrorLinesPerMinute = 5;

    // The class whose instances answer on the remote side: a call for a selector they do not implement
    // is refused before sending.
    struct VendedObjectClass {
        QString name;
        std::function<bool(const QString& selector)> instancesRespondToSelector;
    };

    // Where a connection's streams come from; nothing when there is no pair right now.
    using StreamPairSource = std::function<std::optional<platform::StreamPair>()>;

    // Null for a service without name or type.
    static std::shared_ptr<TEVInvocationClient> createWithNetService(const platform::NetService& service);
    // Null for an empty host or a port above 65535. `host` is a host name or a numeric address.
    static std::shared_ptr<TEVInvocationClient> createWithHostSpecifier(const QString& host, quint64 port);
    ~TEVInvocationClient() override;
    TEVInvocationClient(const TEVInvocationClient&) = delete;
    TEVInvocationClient& operator=(const TEVInvocationClient&) = delete;

    // Class-wide, seconds; 3.0 at start. Applies to every request except the connectivity check.
    static double responseTimeout();
    // However many bytes trickle in, a request ends this many of its time-outs after it was sent.
    static constexpr double TotalDeadlineInTimeouts = 3.0;
    static void setResponseTimeout(double seconds);
    // "0", "1", ...: the name of each new connection.
    static QString nextConnectionName();

    const std::optional<VendedObjectClass>& vendedObjectClass() const { return vendedObjectClass_; }
    void setVendedObjectClass(std::optional<VendedObjectClass> vendedClass) { vendedObjectClass_ = std::move(vendedClass); }
    // Capacities for new connections in bytes; 0 = the connection's default.
    quint64 inputBufferSize() const { return inputBufferSize_; }
    void setInputBufferSize(quint64 bytes) { inputBufferSize_ = bytes; }
    quint64 outputBufferSize() const { return outputBufferSize_; }
    void setOutputBufferSize(quint64 bytes) { outputBufferSize_ = bytes; }
    // Classes besides the Foundation values that a reply may hold (the expected class is always allowed).
    const QStringList& allowedReplyClasses() const { return allowedReplyClasses_; }
    void setAllowedReplyClasses(const QStringList& classNames) { allowedReplyClasses_ = classNames; }
    // Replaces how streams are obtained for new connections (a test transport); null restores the
    // service or host and port.
    void setStreamPairSource(StreamPairSource source) { streamPairSource_ = std::move(source); }

    const std::optional<platform::NetService>& netService() const { return netService_; }
    const QString& netServiceHost() const { return netServiceHost_; }
    quint64 netServicePort() const { return netServicePort_; }
    bool isConnectingViaBonjour() const { return netService_.has_value(); }
    const std::shared_ptr<TEVCommandLineConnection>& connection() const { return connection_; }
    quint64 sequenceNumber() const { return sequenceNumber_; }
    // Sequence numbers of the requests waiting for a reply, the fire-and-forget ping included.
    QList<quint64> pendingSequenceNumbers() const;
    platform::ObjectIdentity notificationObject() const { return static_cast<const TEVInvocationClient*>(this); }
    // The first failure of this client: what went wrong before anything else did.
    RemoteFailure failure() const { return failure_; }

    // Requests: each runs the current thread's run loop until its reply, a time-out without bytes from
    // the peer, or the end of the connection.
    // True when a result reply for the ping came in time; a miss is not posted.
    bool checkConnectivityWithTimeout(double seconds);
    // The server's version text; null on failure.
    QString serverVersion();
    QString pingResponse();
    // Sends "bye" and waits; posts nothing.
    void disconnectFromServer();
    // The result of the remote call (nil for a call without result, a refused call or a failure). A
    // delivered nil (an archived null object) is a result. A reply of another class than expected fails
    // the call at once and closes the connection as malformed.
    QVariant resultOfInvocation(const std::shared_ptr<TEVServiceInvocation>& invocation);
    // A ping whose reply is not waited for; at most one is outstanding.
    void sendPing();

    // Lower layer.
    void ensureConnectivity();
    // 0 for a null status.
    quint64 registerPendingRequestUsingStatus(const std::shared_ptr<TEVInvocationStatus>& status);
    void sendCommandString(const QString& command);
    // Submits one line and advances the sequence number, also without a connection.
    void sendData(const QByteArray& data);
    void unregisterPendingRequestOfSequenceNumber(quint64 number);
    void deliverResult(const QVariant& result, quint64 number);
    // Unregisters, posts the response time-out; always nil.
    QVariant returnNilHandlingTimeoutOfRequestWithSequenceNumber(quint64 number);
    // Closes the connection silently and ends every pending wait without a result. Posts nothing.
    void shutdownImmediately();

    // From the connection.
    void connectionWillCloseWithError(TEVRemoteCommandConnection& connection,
                                      const std::optional<platform::Error>& error) override;
    bool connectionProcessParsedCommandData(TEVRemoteCommandConnection& connection, const QByteArray& line) override;
    void connectionDidReadBytes(TEVRemoteCommandConnection& connection, quint64 count) override;
    void connectionLogWithFormat(TEVRemoteCommandConnection& connection, const QString& line) override;

    virtual QString className() const { return QStringLiteral("TEVInvocationClient"); }

protected:
    TEVInvocationClient();
    // Shared by the creators of this class and its subclasses; runs after the subclass's constructor.
    template <class Client>
    static std::shared_ptr<Client> makeWithNetService(const platform::NetService& service);
    template <class Client>
    static std::shared_ptr<Client> makeWithHostSpecifier(const QString& host, quint64 port);

private:
    std::optional<platform::StreamPair> streamPair();
    // The keyed archive of `invocation`; empty when it cannot be encoded.
    QByteArray archiveOf(const std::shared_ptr<TEVServiceInvocation>& invocation);
    // The value when delivered, nothing otherwise (with how the wait ended).
    std::optional<QVariant> waitForReply(const std::shared_ptr<TEVInvocationStatus>& status, double timeout,
                                         platform::WaitResult* how);
    QString simpleRequest(const QString& word, double timeout, bool postTimeout, bool* delivered);
    void handleStatusLine(TEVRemoteCommandConnection& connection, const QByteArray& payload);
    void handleResultLine(TEVRemoteCommandConnection& connection, quint64 number, const QByteArray& payload);
    void closeMalformed(TEVRemoteCommandConnection& connection);
    void logErrorLine(const QByteArray& payload);
    void logUnloggedErrorLines();
    std::shared_ptr<TEVInvocationStatus> statusOf(quint64 number) const;
    void post(const QString& name, const QVariantMap& userInfo = {});
    void withdrawAll();
    void noteFailure(RemoteFailure failure);

    std::optional<VendedObjectClass> vendedObjectClass_;
    quint64 inputBufferSize_ = 0;
    quint64 outputBufferSize_ = 0;
    std::optional<platform::NetService> netService_;
    QString netServiceHost_;
    quint64 netServicePort_ = 0;
    std::shared_ptr<TEVCommandLineConnection> connection_;
    QMap<quint64, std::shared_ptr<TEVInvocationStatus>> statusByRequestNumber_;
    mutable std::mutex statusLock_; // guards statusByRequestNumber_ only
    quint64 sequenceNumber_ = 1;
    // Error lines of the current connection: the start of the minute they are logged in, how many were,
    // and how many were not.
    platform::Clock::Duration errorWindowStart_{};
    int errorLinesLogged_ = 0;
    quint64 errorLinesUnlogged_ = 0;

    // The archives of the calls without arguments, made once: the same few are asked for every tick.
    QMap<QString, QByteArray> argumentlessArchives_;
    std::mutex archivesLock_;

    QStringList allowedReplyClasses_;
    StreamPairSource streamPairSource_;
    // The fire-and-forget ping: its number while outstanding (0: none), scheduled before it is sent, and
    // the timer that gives up on it.
    quint64 outstandingPing_ = 0;
    bool pingScheduled_ = false;
    platform::Timer pingTimer_;
    platform::Clock::Duration pingDeadline_{}; // bytes of the peer move the ping's time-out up to here
    RemoteFailure failure_ = RemoteFailure::None;
};

template <class Client>
std::shared_ptr<Client> TEVInvocationClient::makeWithNetService(const platform::NetService& service)
{
    if (service.name().isEmpty() || service.type().isEmpty())
        return nullptr;
    std::shared_ptr<Client> client(new Client());
    client->netService_ = service;
    return client;
}

template <class Client>
std::shared_ptr<Client> TEVInvocationClient::makeWithHostSpecifier(const QString& host, quint64 port)
{
    if (host.isEmpty() || port > 65535)
        return nullptr;
    std::shared_ptr<Client> client(new Client());
    client->netServiceHost_ = host;
    client->netServicePort_ = port;
    return client;
}
