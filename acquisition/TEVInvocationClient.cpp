#include "acquisition/TEVInvocationClient.h"

#include "acquisition/TEVServiceInvocation.h"

#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "platform/net/NameResolver.h"
#include "platform/net/ServiceStreamPair.h"
#include "platform/net/TcpStreamPair.h"

#include <QHostAddress>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>

namespace values = platform::values;

const QString TEVInvocationClient::ResponseTimeoutNotification = QStringLiteral("TEVInvocationClientHasResponseTimeout");
const QString TEVInvocationClient::ConnectionFailureNotification = QStringLiteral("TEVInvocationClientHasConnectionFailure");
const QString TEVInvocationClient::SleepingServerNotification = QStringLiteral("TEVInvocationClientHasSleepingServer");
const QString TEVInvocationClient::ErrorKey = QStringLiteral("Error");

namespace {

std::atomic<double> gResponseTimeout{3.0};
std::atomic<quint64> gConnectionCounter{0};

const QString kStringClass = QStringLiteral("NSString");

bool isWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The sequence number of a reply header "[" n "]" (or "[*]" for a status line, answered as 0), white space
// allowed between the tokens. Only ASCII digits count: no sign, no escapes; a number beyond 64 bits is
// malformed.
std::optional<quint64> parseHeader(const QByteArray& header, bool status)
{
    qsizetype i = 0;
    const qsizetype n = header.size();
    auto skip = [&] {
        while (i < n && isWhiteSpace(header[i]))
            ++i;
    };
    skip();
    if (i == n || header[i] != '[')
        return std::nullopt;
    ++i;
    skip();
    quint64 number = 0;
    if (status) {
        if (i == n || header[i] != '*')
            return std::nullopt;
        ++i;
    } else {
        const qsizetype first = i;
        for (; i < n && header[i] >= '0' && header[i] <= '9'; ++i) {
            const quint64 digit = quint64(header[i] - '0');
            if (number > (std::numeric_limits<quint64>::max() - digit) / 10)
                return std::nullopt;
            number = number * 10 + digit;
        }
        if (i == first)
            return std::nullopt;
    }
    skip();
    if (i == n || header[i] != ']' || i + 1 != n)
        return std::nullopt;
    return number;
}

// An error text from the peer, fit for one log line: no control or format characters, at most `limit`
// characters.
QString loggableText(const QByteArray& bytes, qsizetype limit)
{
    QString text;
    const QString raw = QString::fromUtf8(bytes);
    text.reserve(std::min(raw.size(), limit + 1));
    for (QChar c : raw) {
        const auto category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format)
            continue;
        if (text.size() == limit) {
            if (text.back().isHighSurrogate())
                text.chop(1);
            text.append(QChar(0x2026));
            break;
        }
        text.append(c);
    }
    return text;
}

} // namespace

TEVInvocationClient::TEVInvocationClient() = default;

TEVInvocationClient::~TEVInvocationClient()
{
    shutdownImmediately();
}

std::shared_ptr<TEVInvocationClient> TEVInvocationClient::createWithNetService(const platform::NetService& service)
{
    return makeWithNetService<TEVInvocationClient>(service);
}

std::shared_ptr<TEVInvocationClient> TEVInvocationClient::createWithHostSpecifier(const QString& host, quint64 port)
{
    return makeWithHostSpecifier<TEVInvocationClient>(host, port);
}

double TEVInvocationClient::responseTimeout()
{
    return gResponseTimeout.load();
}

void TEVInvocationClient::setResponseTimeout(double seconds)
{
    if (!std::isfinite(seconds) || seconds <= 0) {
        platform::log(QStringLiteral("TEVInvocationClient: response timeout must be above 0 seconds, not %1\n").arg(seconds));
        return;
    }
    gResponseTimeout.store(seconds);
}

QString TEVInvocationClient::nextConnectionName()
{
    return QString::number(gConnectionCounter.fetch_add(1));
}

QList<quint64> TEVInvocationClient::pendingSequenceNumbers() const
{
    std::lock_guard lock(statusLock_);
    return statusByRequestNumber_.keys();
}

// --- Requests -------------------------------------------------------------------------------------------

bool TEVInvocationClient::checkConnectivityWithTimeout(double seconds)
{
    bool delivered = false;
    simpleRequest(QStringLiteral("ping"), seconds, false, &delivered);
    return delivered;
}

QString TEVInvocationClient::serverVersion()
{
    return simpleRequest(QStringLiteral("hello"), responseTimeout(), true, nullptr);
}

QString TEVInvocationClient::pingResponse()
{
    return simpleRequest(QStringLiteral("ping"), responseTimeout(), true, nullptr);
}

void TEVInvocationClient::disconnectFromServer()
{
    simpleRequest(QStringLiteral("bye"), responseTimeout(), false, nullptr);
}

QString TEVInvocationClient::simpleRequest(const QString& word, double timeout, bool postTimeout, bool* delivered)
{
    const auto keepAlive = weak_from_this().lock(); // an observer may drop us while we wait
    ensureConnectivity();
    const bool connected = connection_ != nullptr;
    auto status = std::make_shared<TEVInvocationStatus>(kStringClass, true);
    const quint64 number = registerPendingRequestUsingStatus(status);
    sendCommandString(word);
    if (!connected) {
        // Nothing went out (the name does not resolve): there is no answer to wait for.
        unregisterPendingRequestOfSequenceNumber(number);
        if (delivered)
            *delivered = false;
        if (postTimeout)
            post(ConnectionFailureNotification);
        return {};
    }
    platform::WaitResult how = platform::WaitResult::TimedOut;
    const std::optional<QVariant> value = waitForReply(status, timeout, &how);
    unregisterPendingRequestOfSequenceNumber(number);
    if (delivered)
        *delivered = value.has_value();
    if (!value && how == platform::WaitResult::TimedOut)
        noteFailure(RemoteFailure::NoAnswer);
    if (!value) {
        if (postTimeout && how == platform::WaitResult::TimedOut)
            post(ResponseTimeoutNotification);
        return {};
    }
    // Any reply counts, an empty one too: it must not read as the null of a failure.
    const QString text = values::toString(*value).value_or(QString());
    return text.isNull() ? QStringLiteral("") : text;
}

std::optional<QVariant> TEVInvocationClient::waitForReply(const std::shared_ptr<TEVInvocationStatus>& status,
                                                          double timeout, platform::WaitResult* how)
{
    const bool delivered =
        status->waitInRunLoopUntilReturnValueDeliveredWithTimeout(timeout, timeout * TotalDeadlineInTimeouts);
    *how = status->lastWaitResult();
    if (!delivered)
        return std::nullopt;
    return status->returnValue();
}

QByteArray TEVInvocationClient::archiveOf(const std::shared_ptr<TEVServiceInvocation>& invocation)
{
    const auto encode = [&] { return platform::KeyedArchiver::archivedDataWithRootObject(values::fromObject(invocation)); };
    if (!invocation->arguments().isEmpty())
        return encode();
    const QString key = invocation->selector() + QLatin1Char('\x1f') + invocation->returnValueClass() +
                        (invocation->isOneWay() ? QStringLiteral("\x1f1") : QStringLiteral("\x1f0"));
    const std::lock_guard lock(archivesLock_);
    if (const auto known = argumentlessArchives_.constFind(key); known != argumentlessArchives_.cend())
        return known.value();
    const QByteArray archive = encode();
    if (!archive.isEmpty())
        argumentlessArchives_.insert(key, archive);
    return archive;
}

QVariant TEVInvocationClient::resultOfInvocation(const std::shared_ptr<TEVServiceInvocation>& invocation)
{
    if (!invocation)
        return {};
    if (!vendedObjectClass_) {
        platform::log(QStringLiteral("%1: class of vended object is undefined.").arg(className()));
        return {};
    }
    if (!vendedObjectClass_->instancesRespondToSelector
        || !vendedObjectClass_->instancesRespondToSelector(invocation->selector())) {
        platform::log(QStringLiteral("%1: -[%2 %3] is not implemented!")
                          .arg(className(), vendedObjectClass_->name, invocation->selector()));
        return {};
    }
    if (!invocation->validate())
        return {};
    const QByteArray archive = archiveOf(invocation);
    if (archive.isEmpty()) {
        platform::log(QStringLiteral("%1: invocation '%2' could not be encoded with current parameters!")
                          .arg(className(), invocation->selector()));
        return {};
    }

    const auto keepAlive = weak_from_this().lock();
    ensureConnectivity();
    const bool connected = connection_ != nullptr;
    auto status = std::make_shared<TEVInvocationStatus>(invocation->returnValueClass(), false);
    const quint64 number = registerPendingRequestUsingStatus(status);
    sendData(QStringLiteral("invoke[%1]").arg(number).toUtf8() + archive);
    if (!connected) {
        unregisterPendingRequestOfSequenceNumber(number);
        post(ConnectionFailureNotification);
        return {};
    }
    platform::WaitResult how = platform::WaitResult::TimedOut;
    const std::optional<QVariant> value = waitForReply(status, responseTimeout(), &how);
    unregisterPendingRequestOfSequenceNumber(number);
    if (value)
        // A call without result hands on nothing of what the peer chose to send.
        return invocation->returnValueClass().isEmpty() ? QVariant() : *value;
    // A withdrawn wait means the connection went (already posted as a failure) or we were shut down.
    if (how == platform::WaitResult::TimedOut) {
        noteFailure(RemoteFailure::NoAnswer);
        post(ResponseTimeoutNotification);
    }
    return {};
}

void TEVInvocationClient::sendPing()
{
    const auto keepAlive = weak_from_this().lock(); // sending may post a failure whose observer drops us
    if (outstandingPing_ != 0)
        return;
    ensureConnectivity();
    auto status = std::make_shared<TEVInvocationStatus>(kStringClass, true);
    const quint64 number = registerPendingRequestUsingStatus(status);
    outstandingPing_ = number;
    sendCommandString(QStringLiteral("ping"));
    if (outstandingPing_ != number)
        return; // the connection went while sending
    const auto loop = platform::RunLoop::current();
    if (!loop)
        return;
    std::weak_ptr<TEVInvocationClient> weak = weak_from_this();
    pingDeadline_ = platform::monotonicNow() + platform::durationFromSeconds(responseTimeout() * TotalDeadlineInTimeouts);
    pingTimer_ = loop->performAfter(platform::durationFromSeconds(responseTimeout()), [weak, number] {
        const auto self = weak.lock();
        if (!self || self->outstandingPing_ != number)
            return;
        self->outstandingPing_ = 0;
        self->unregisterPendingRequestOfSequenceNumber(number);
        self->noteFailure(RemoteFailure::NoAnswer);
        self->post(ResponseTimeoutNotification);
    });
}

// --- Lower layer ----------------------------------------------------------------------------------------

std::optional<platform::StreamPair> TEVInvocationClient::streamPair()
{
    if (streamPairSource_)
        return streamPairSource_();
    if (netService_)
        return platform::ServiceStreamPair::forService(*netService_);
    QHostAddress address;
    if (!address.setAddress(netServiceHost_)) {
        const auto entry = platform::NameResolver::shared()->hostByName(netServiceHost_);
        if (entry) {
            for (const QString& text : entry->addresses) {
                if (address.setAddress(text))
                    break;
            }
        }
        if (address.isNull()) {
            platform::log(QStringLiteral("%1: host %2 does not resolve\n").arg(className(), netServiceHost_));
            noteFailure(RemoteFailure::HostNotFound);
            return std::nullopt;
        }
    }
    return platform::TcpStreamPair::connectToHost(address, quint16(netServicePort_));
}

void TEVInvocationClient::ensureConnectivity()
{
    if (connection_)
        return;
    const std::optional<platform::StreamPair> pair = streamPair();
    if (!pair)
        return;
    auto connection = TEVCommandLineConnection::create(pair->input, pair->output);
    if (!connection)
        return;
    if (inputBufferSize_ != 0)
        connection->setInputBufferCapacity(inputBufferSize_);
    if (outputBufferSize_ != 0)
        connection->setOutputBufferCapacity(outputBufferSize_);
    connection->setDelegate(weak_from_this());
    connection->setName(nextConnectionName());
    errorLinesLogged_ = 0;
    errorLinesUnlogged_ = 0;
    connection_ = connection;
    connection->open();
}

quint64 TEVInvocationClient::registerPendingRequestUsingStatus(const std::shared_ptr<TEVInvocationStatus>& status)
{
    if (!status)
        return 0;
    std::lock_guard lock(statusLock_);
    statusByRequestNumber_.insert(sequenceNumber_, status);
    return sequenceNumber_;
}

void TEVInvocationClient::sendCommandString(const QString& command)
{
    if (command.isEmpty())
        return;
    sendData(QStringLiteral("%1[%2]").arg(command).arg(sequenceNumber_).toUtf8());
}

void TEVInvocationClient::sendData(const QByteArray& data)
{
    // The number is spent before the line goes: a close while sending may already run our callbacks.
    ++sequenceNumber_;
    if (const auto connection = connection_)
        connection->submitLine(data);
}

void TEVInvocationClient::unregisterPendingRequestOfSequenceNumber(quint64 number)
{
    std::lock_guard lock(statusLock_);
    statusByRequestNumber_.remove(number);
}

std::shared_ptr<TEVInvocationStatus> TEVInvocationClient::statusOf(quint64 number) const
{
    std::lock_guard lock(statusLock_);
    return statusByRequestNumber_.value(number);
}

void TEVInvocationClient::deliverResult(const QVariant& result, quint64 number)
{
    // A nil result is a result (an archived null object): it completes the call at once.
    if (const auto status = statusOf(number))
        status->deliverReturnValue(result);
}

QVariant TEVInvocationClient::returnNilHandlingTimeoutOfRequestWithSequenceNumber(quint64 number)
{
    unregisterPendingRequestOfSequenceNumber(number);
    noteFailure(RemoteFailure::NoAnswer);
    post(ResponseTimeoutNotification);
    return {};
}

void TEVInvocationClient::shutdownImmediately()
{
    if (const auto connection = std::exchange(connection_, nullptr)) {
        connection->setDelegate({});
        connection->close();
    }
    logUnloggedErrorLines();
    withdrawAll();
}

void TEVInvocationClient::withdrawAll()
{
    QMap<quint64, std::shared_ptr<TEVInvocationStatus>> pending;
    {
        std::lock_guard lock(statusLock_);
        pending.swap(statusByRequestNumber_);
    }
    outstandingPing_ = 0;
    pingTimer_.invalidate();
    for (const auto& status : std::as_const(pending))
        status->withdraw();
}

void TEVInvocationClient::noteFailure(RemoteFailure failure)
{
    if (failure_ == RemoteFailure::None)
        failure_ = failure;
}

void TEVInvocationClient::post(const QString& name, const QVariantMap& userInfo)
{
    const auto keepAlive = weak_from_this().lock(); // observers may drop the client
    platform::NotificationCenter::defaultCenter().post(name, notificationObject(), userInfo);
}

// --- From the connection --------------------------------------------------------------------------------

void TEVInvocationClient::connectionWillCloseWithError(TEVRemoteCommandConnection& connection,
                                                       const std::optional<platform::Error>& error)
{
    if (&connection != connection_.get())
        return;
    const auto keepAlive = weak_from_this().lock();
    // Detach first: waits end at once, and an observer that asks again gets a fresh connection.
    shutdownImmediately();
    noteFailure(error && error->domain == QLatin1String("NSPOSIXErrorDomain") && error->code == ECONNREFUSED
                    ? RemoteFailure::ConnectionRefused
                    : RemoteFailure::ConnectionClosed);
    QVariantMap userInfo;
    if (error)
        userInfo.insert(ErrorKey, QVariant::fromValue(*error));
    post(ConnectionFailureNotification, userInfo);
}

void TEVInvocationClient::connectionDidReadBytes(TEVRemoteCommandConnection& connection, quint64)
{
    if (&connection != connection_.get())
        return;
    QList<std::shared_ptr<TEVInvocationStatus>> pending;
    {
        std::lock_guard lock(statusLock_);
        pending = statusByRequestNumber_.values();
    }
    for (const auto& status : std::as_const(pending))
        status->reportProgress();
    if (outstandingPing_ != 0 && pingTimer_.isValid())
        pingTimer_.setFireDate(std::min(pingDeadline_, platform::monotonicNow() + platform::durationFromSeconds(responseTimeout())));
}

void TEVInvocationClient::connectionLogWithFormat(TEVRemoteCommandConnection& connection, const QString& line)
{
    if (&connection == connection_.get() && !line.isEmpty())
        platform::log(QStringLiteral("%1: %2\n").arg(className(), line));
}

void TEVInvocationClient::closeMalformed(TEVRemoteCommandConnection& connection)
{
    connection.closeWithError(TEVRemoteCommandConnection::errorWithCode(TEVRemoteCommandConnection::InputCommandMalformed));
}

bool TEVInvocationClient::connectionProcessParsedCommandData(TEVRemoteCommandConnection& connection,
                                                             const QByteArray& line)
{
    if (&connection != connection_.get())
        return true; // a line of a connection we let go of
    if (line.size() < 3)
        return true;
    const auto keepAlive = weak_from_this().lock();
    const char kind = line[0];
    const qsizetype end = line.indexOf(']');
    if (end < 0) {
        closeMalformed(connection);
        return true;
    }
    const QByteArray header = line.mid(1, end);
    const std::optional<quint64> number = parseHeader(header, kind == '*');
    if (!number || (kind != '*' && kind != '+' && kind != '-')) {
        closeMalformed(connection);
        return true;
    }
    const QByteArray payload = line.mid(end + 1);
    switch (kind) {
    case '*':
        handleStatusLine(connection, payload);
        break;
    case '-':
        logErrorLine(payload);
        break;
    default:
        handleResultLine(connection, *number, payload);
        break;
    }
    return true;
}

// A peer may send error lines as fast as it can write them: the log gets a few per minute.
void TEVInvocationClient::logErrorLine(const QByteArray& payload)
{
    const platform::Clock::Duration now = platform::monotonicNow();
    if (errorLinesLogged_ == 0 || now - errorWindowStart_ >= std::chrono::minutes(1)) {
        errorWindowStart_ = now;
        errorLinesLogged_ = 0;
    }
    if (errorLinesLogged_ >= MaxLoggedErrorLinesPerMinute) {
        ++errorLinesUnlogged_;
        return;
    }
    ++errorLinesLogged_;
    logUnloggedErrorLines();
    platform::log(QStringLiteral("%1: %2\n").arg(className(), loggableText(payload, MaxLoggedErrorTextLength)));
}

void TEVInvocationClient::logUnloggedErrorLines()
{
    if (errorLinesUnlogged_ == 0)
        return;
    platform::log(QStringLiteral("%1: %2 more error lines of the server were not logged\n").arg(className()).arg(errorLinesUnlogged_));
    errorLinesUnlogged_ = 0;
}

void TEVInvocationClient::handleStatusLine(TEVRemoteCommandConnection& connection, const QByteArray& payload)
{
    if (payload == "zzz") {
        // Posted on a later turn: an observer may make a request, whose wait must not run inside this parse.
        const auto loop = platform::RunLoop::current();
        if (!loop)
            return;
        std::weak_ptr<TEVInvocationClient> weak = weak_from_this();
        std::weak_ptr<TEVCommandLineConnection> from = connection_;
        loop->perform([weak, from] {
            const auto self = weak.lock();
            if (self && self->connection_ && self->connection_ == from.lock())
                self->post(SleepingServerNotification);
        });
        return;
    }
    if (payload != "alive") {
        closeMalformed(connection);
        return;
    }
    // Answered on a later turn, never nested inside this line; a flood of "alive" lines makes one ping.
    if (outstandingPing_ != 0 || pingScheduled_)
        return;
    const auto loop = platform::RunLoop::current();
    if (!loop)
        return;
    pingScheduled_ = true;
    std::weak_ptr<TEVInvocationClient> weak = weak_from_this();
    std::weak_ptr<TEVCommandLineConnection> from = connection_;
    loop->perform([weak, from] {
        const auto self = weak.lock();
        if (!self)
            return;
        self->pingScheduled_ = false;
        // Only while the connection that asked is still ours: a ping must not open a new one.
        if (self->connection_ && self->connection_ == from.lock())
            self->sendPing();
    });
}

void TEVInvocationClient::handleResultLine(TEVRemoteCommandConnection& connection, quint64 number,
                                           const QByteArray& payload)
{
    const auto status = statusOf(number);
    if (status && status->isServiceInvocation()) {
        platform::UnarchiveOptions options;
        options.allowedClasses = allowedReplyClasses_;
        const QString& expected = status->returnValueClass();
        if (!expected.isEmpty() && expected != QLatin1String("NSObject"))
            options.allowedClasses.append(expected);
        const auto unarchiver = platform::KeyedUnarchiver::create(payload, options);
        QVariant value;
        if (unarchiver)
            value = unarchiver->decodeObjectForKey(QStringLiteral("root"));
        if (!unarchiver || unarchiver->hasFailed()) {
            closeMalformed(connection);
            return;
        }
        if (const auto object = values::toObject(value); object && object->className() == QLatin1String("NSNull"))
            value = QVariant();
        // Waiting on would only run into the time-out: the peer has answered, wrongly.
        if (!status->deliverReturnValue(value)) {
            closeMalformed(connection);
            return;
        }
    } else if (status) {
        deliverResult(values::fromString(QString::fromUtf8(payload)), number);
    }
    if (number != 0 && number == outstandingPing_) {
        outstandingPing_ = 0;
        pingTimer_.invalidate();
        unregisterPendingRequestOfSequenceNumber(number);
    }
}
