#pragma once
// ScriptedLinePeer: the agent's end of an in-memory stream pair for invocation-client tests. It splits what
// the client writes into request lines, hands each to the test's script, and writes whatever the script
// answers, holding back what the pipe does not take at once. Lives on the test's main thread.

#include "acquisition/TEVCommandLineConnection.h"
#include "acquisition/TEVInvocationClient.h"
#include "acquisition/TEVServiceInvocation.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Values.h"
#include "platform/net/MemoryStreamPair.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <functional>

namespace wiretest {

namespace values = platform::values;

// Runs `fn` on the main loop from inside whatever wait comes next.
inline void during(std::function<void()> fn)
{
    platform::RunLoop::main()->perform(std::move(fn));
}

inline void pumpUntil(const std::function<bool()>& done)
{
    ASSERT_EQ(platform::RunLoop::current()->runUntil(done, std::chrono::seconds(5)), platform::WaitResult::Delivered);
}

class ScriptedLinePeer final : public platform::StreamDelegate, public std::enable_shared_from_this<ScriptedLinePeer> {
public:
    static std::shared_ptr<ScriptedLinePeer> create(qint64 pipeCapacity = 65536)
    {
        auto peer = std::make_shared<ScriptedLinePeer>();
        peer->ends = platform::MemoryStreamPair::create(pipeCapacity);
        return peer;
    }

    // Hands end b to the client on its first connection and opens end a; later connections get nothing.
    TEVInvocationClient::StreamPairSource source()
    {
        std::weak_ptr<ScriptedLinePeer> weak = weak_from_this();
        return [weak]() -> std::optional<platform::StreamPair> {
            auto self = weak.lock();
            if (!self || self->handedOut)
                return std::nullopt;
            self->handedOut = true;
            self->ends.a.input->setDelegate(self);
            self->ends.a.output->setDelegate(self);
            self->ends.a.input->open();
            self->ends.a.output->open();
            return self->ends.b;
        };
    }

    // Raw bytes, not framed.
    void writeRaw(const QByteArray& bytes)
    {
        pending.append(bytes);
        flush();
    }
    // One framed line.
    void writeLine(const QByteArray& payload) { writeRaw(*TEVCommandLineConnection::transferDataForPayload(payload)); }
    void reply(char kind, quint64 number, const QByteArray& payload)
    {
        writeLine(QByteArray(1, kind) + '[' + QByteArray::number(number) + ']' + payload);
    }
    void replyObject(quint64 number, const QVariant& value)
    {
        reply('+', number, platform::KeyedArchiver::archivedDataWithRootObject(value));
    }
    void closeOutput() { ends.a.output->close(); }

    // "word[n]..." → n; 0 when the line has no number.
    static quint64 numberOf(const QByteArray& line)
    {
        const qsizetype open = line.indexOf('[');
        const qsizetype close = line.indexOf(']');
        return open < 0 || close < open ? 0 : line.mid(open + 1, close - open - 1).toULongLong();
    }
    static QByteArray wordOf(const QByteArray& line) { return line.left(line.indexOf('[')); }
    // The invocation an "invoke" line carries; null when it does not decode.
    static std::shared_ptr<TEVServiceInvocation> invocationOf(const QByteArray& line)
    {
        platform::UnarchiveOptions options;
        options.allowedClasses = {QStringLiteral("TEVServiceInvocation")};
        return platform::objectAs<TEVServiceInvocation>(
            values::toObject(platform::KeyedUnarchiver::unarchiveObjectWithData(line.mid(line.indexOf(']') + 1), options)));
    }

    void stream(platform::Stream& stream, platform::StreamEvent event) override
    {
        if (event == platform::StreamEvent::HasSpaceAvailable)
            flush();
        if (event != platform::StreamEvent::HasBytesAvailable || &stream != ends.a.input.get())
            return;
        char buffer[4096];
        const qint64 got = ends.a.input->read(buffer, sizeof buffer);
        if (got <= 0)
            return;
        received.append(buffer, got);
        qsizetype lineFeed;
        while ((lineFeed = received.indexOf('\n')) >= 0) {
            const QByteArray line = *TEVCommandLineConnection::payloadForTransferData(received.left(lineFeed + 1));
            received.remove(0, lineFeed + 1);
            requests.append(line);
            if (onLine)
                onLine(line);
        }
    }

    platform::MemoryStreamPair::Ends ends;
    std::function<void(const QByteArray& line)> onLine;
    QList<QByteArray> requests;
    QByteArray received;
    QByteArray pending;
    bool handedOut = false;

private:
    void flush()
    {
        if (pending.isEmpty() || ends.a.output->status() != platform::StreamStatus::Open)
            return;
        const qint64 wrote = ends.a.output->write(pending.constData(), pending.size());
        if (wrote > 0)
            pending.remove(0, wrote);
    }
};

// Every notification a client posts, in order.
class Notifications {
public:
    explicit Notifications(const TEVInvocationClient& client)
    {
        for (const QString& name : {TEVInvocationClient::ResponseTimeoutNotification,
                                    TEVInvocationClient::ConnectionFailureNotification,
                                    TEVInvocationClient::SleepingServerNotification}) {
            tokens_.push_back(platform::NotificationCenter::defaultCenter().addObserver(
                name, client.notificationObject(), [this](const platform::Notification& n) {
                    names.append(n.name);
                    userInfos.append(n.userInfo);
                    if (onPost)
                        onPost(n);
                }));
        }
    }
    ~Notifications()
    {
        for (auto token : tokens_)
            platform::NotificationCenter::defaultCenter().removeObserver(token);
    }
    int count(const QString& name) const { return int(names.count(name)); }
    std::optional<platform::Error> failureError() const
    {
        const qsizetype i = names.indexOf(TEVInvocationClient::ConnectionFailureNotification);
        if (i < 0 || !userInfos[i].contains(TEVInvocationClient::ErrorKey))
            return std::nullopt;
        return userInfos[i].value(TEVInvocationClient::ErrorKey).value<platform::Error>();
    }

    QStringList names;
    QList<QVariantMap> userInfos;
    std::function<void(const platform::Notification&)> onPost;

private:
    std::vector<platform::ObserverToken> tokens_;
};

// Restores the class-wide response time-out after a test that changes it.
struct ResponseTimeoutGuard {
    const double saved = TEVInvocationClient::responseTimeout();
    ~ResponseTimeoutGuard() { TEVInvocationClient::setResponseTimeout(saved); }
};

} // namespace wiretest
