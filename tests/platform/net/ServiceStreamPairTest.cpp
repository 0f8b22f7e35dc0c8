#include "platform/net/ServiceStreamPair.h"

#include "platform/foundation/RunLoop.h"
#include "platform/net/NetServiceBrowser.h"
#include "platform/net/TcpStreamPair.h"
#include "tests/support/FakeServiceDiscovery.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <cerrno>
#include <algorithm>
#include <functional>
#include <vector>

namespace {

using kelvaro::test::FakeServiceDiscovery;
using platform::DiscoveryError;
using platform::ResolvedService;
using platform::ServiceStreamPair;
using platform::StreamEvent;
using platform::StreamStatus;

// Events as "in OpenCompleted", "out HasSpaceAvailable"..., checked to come from the streams handed out.
class Recorder final : public platform::StreamDelegate {
public:
    explicit Recorder(const platform::StreamPair& pair) : input_(pair.input.get()), output_(pair.output.get()) {}

    void stream(platform::Stream& stream, StreamEvent event) override
    {
        const bool input = &stream == input_;
        EXPECT_TRUE(input || &stream == output_);
        events.push_back({input, event});
        if (onEvent)
            onEvent(input, event);
    }
    int count(bool input, StreamEvent event) const
    {
        return int(std::count(events.begin(), events.end(), std::pair{input, event}));
    }

    std::vector<std::pair<bool, StreamEvent>> events;
    std::function<void(bool, StreamEvent)> onEvent;

private:
    const platform::Stream* input_; // identities only: the recorder must not keep the streams alive
    const platform::Stream* output_;
};

// Hands each accepted socket over as a stream pair.
class Server final : public QTcpServer {
public:
    std::vector<platform::StreamPair> accepted;

protected:
    void incomingConnection(qintptr socketDescriptor) override
    {
        if (auto pair = platform::TcpStreamPair::fromSocketDescriptor(int(socketDescriptor)))
            accepted.push_back(*pair);
    }
};

// Real time bounds the wait: the run loop's own limit would be on the test's manual clock, which stands still.
void runUntil(const std::function<bool()>& done)
{
    ASSERT_TRUE(kelvaro::test::waitFor(done));
}

void settle()
{
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
}

class ServiceStreamPairTest : public ::testing::Test {
protected:
    ServiceStreamPairTest() { platform::ServiceDiscovery::setShared(fake); }
    ~ServiceStreamPairTest() override { platform::ServiceDiscovery::setShared(nullptr); }

    // A pair for the agent "Lab" with a recorder on both streams, opened unless told otherwise.
    void make(bool openInput = true, bool openOutput = true)
    {
        pair = *ServiceStreamPair::forService(FakeServiceDiscovery::agent(QStringLiteral("Lab")));
        recorder = std::make_shared<Recorder>(pair);
        pair.input->setDelegate(recorder);
        pair.output->setDelegate(recorder);
        if (openInput)
            pair.input->open();
        if (openOutput)
            pair.output->open();
    }

    ResolvedService listenerAddress()
    {
        if (!server.isListening()) {
            EXPECT_TRUE(server.listen(QHostAddress::LocalHost));
        }
        return ResolvedService{QStringLiteral("lab.local"), QStringLiteral("127.0.0.1"), server.serverPort(), 2};
    }

    std::shared_ptr<FakeServiceDiscovery> fake = std::make_shared<FakeServiceDiscovery>();
    Server server;
    platform::StreamPair pair;
    std::shared_ptr<Recorder> recorder;
};

TEST_F(ServiceStreamPairTest, ResolvesThenConnectsAndCarriesBytesBothWays)
{
    make();
    ASSERT_EQ(fake->resolves().size(), 1);
    EXPECT_EQ(fake->resolves().front()->service, FakeServiceDiscovery::agent(QStringLiteral("Lab")));
    settle();
    EXPECT_EQ(pair.input->status(), StreamStatus::Opening);
    EXPECT_EQ(pair.output->status(), StreamStatus::Opening);
    EXPECT_TRUE(recorder->events.empty());
    EXPECT_EQ(pair.output->write("x", 1), -1); // nowhere to write yet

    fake->answerResolve(listenerAddress());
    runUntil([&] {
        return recorder->count(true, StreamEvent::OpenCompleted) == 1 && recorder->count(false, StreamEvent::HasSpaceAvailable) > 0
            && !server.accepted.empty();
    });
    EXPECT_EQ(recorder->count(false, StreamEvent::OpenCompleted), 1);
    EXPECT_EQ(pair.input->status(), StreamStatus::Open);
    EXPECT_EQ(pair.output->status(), StreamStatus::Open);
    settle();
    EXPECT_FALSE(fake->resolves().front()->active); // the finished resolve was let go

    platform::StreamPair peer = server.accepted.front();
    peer.input->open();
    peer.output->open();
    ASSERT_EQ(pair.output->write("ping", 4), 4);
    QByteArray atPeer;
    runUntil([&] {
        char buffer[16];
        const qint64 n = peer.input->read(buffer, sizeof buffer);
        if (n > 0)
            atPeer.append(buffer, n);
        return atPeer.size() >= 4;
    });
    EXPECT_EQ(atPeer, QByteArray("ping"));

    runUntil([&] { return peer.output->status() == StreamStatus::Open; });
    ASSERT_EQ(peer.output->write("pong", 4), 4);
    runUntil([&] { return recorder->count(true, StreamEvent::HasBytesAvailable) > 0; });
    char buffer[16];
    ASSERT_EQ(pair.input->read(buffer, sizeof buffer), 4);
    EXPECT_EQ(QByteArray(buffer, 4), QByteArray("pong"));

    peer.output->close();
    runUntil([&] { return pair.input->read(buffer, sizeof buffer) == 0; });
    EXPECT_EQ(pair.input->status(), StreamStatus::AtEnd);
}

TEST_F(ServiceStreamPairTest, FailedResolveEndsBothStreamsInAResolveError)
{
    using Kind = DiscoveryError::Kind;
    struct Row {
        Kind kind;
        qint64 code;
    };
    const Row rows[] = {
        {Kind::NotFound, platform::NetServiceBrowser::NotFoundError},
        {Kind::Timeout, platform::NetServiceBrowser::TimeoutError},
        {Kind::Collision, platform::NetServiceBrowser::CollisionError},
        {Kind::BadArgument, platform::NetServiceBrowser::BadArgumentError},
        {Kind::Unavailable, platform::NetServiceBrowser::UnknownError},
        {Kind::Denied, platform::NetServiceBrowser::UnknownError},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(int(row.kind));
        make();
        fake->answerResolve(DiscoveryError{row.kind, QStringLiteral("org.freedesktop.Avahi.Whatever: it said no")});
        settle();
        for (const auto& stream : {std::shared_ptr<platform::Stream>(pair.input), std::shared_ptr<platform::Stream>(pair.output)}) {
            EXPECT_EQ(stream->status(), StreamStatus::Error);
            ASSERT_TRUE(stream->streamError());
            EXPECT_EQ(stream->streamError()->domain, QString::fromLatin1(ServiceStreamPair::kResolveErrorDomain));
            EXPECT_EQ(stream->streamError()->code, row.code);
            EXPECT_TRUE(stream->streamError()->localizedDescription().contains(QStringLiteral("it said no")));
        }
        EXPECT_EQ(recorder->events, (std::vector<std::pair<bool, StreamEvent>>{{true, StreamEvent::ErrorOccurred},
                                                                               {false, StreamEvent::ErrorOccurred}}));
    }
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("ServiceStreamPair: cannot resolve Lab._x-tevkelvaro._tcp.local.")));

    // An answer that is no numeric address fails the same way.
    make();
    fake->answerResolve(ResolvedService{QStringLiteral("lab.local"), QStringLiteral("lab.local"), 4242, 2});
    settle();
    ASSERT_TRUE(pair.output->streamError());
    EXPECT_EQ(pair.output->streamError()->domain, QString::fromLatin1(ServiceStreamPair::kResolveErrorDomain));
    EXPECT_EQ(recorder->count(true, StreamEvent::ErrorOccurred), 1);
}

TEST_F(ServiceStreamPairTest, StreamOpenedAfterAFailedResolveFailsOnALaterTurn)
{
    make(true, false);
    fake->answerResolve(DiscoveryError{DiscoveryError::Kind::NotFound, {}});
    pair.output->open();
    EXPECT_EQ(recorder->count(false, StreamEvent::ErrorOccurred), 0);
    settle();
    EXPECT_EQ(recorder->count(false, StreamEvent::ErrorOccurred), 1);
    EXPECT_EQ(pair.output->streamError(), pair.input->streamError());
    EXPECT_EQ(fake->resolves().size(), 1); // no second attempt
}

TEST_F(ServiceStreamPairTest, RefusedConnectEndsInTheSocketError)
{
    ResolvedService resolved = listenerAddress();
    server.close(); // nobody listens on that port now
    make();
    fake->answerResolve(resolved);
    runUntil([&] { return recorder->count(true, StreamEvent::ErrorOccurred) && recorder->count(false, StreamEvent::ErrorOccurred); });
    ASSERT_TRUE(pair.input->streamError());
    EXPECT_EQ(pair.input->streamError()->domain, QStringLiteral("NSPOSIXErrorDomain"));
    EXPECT_EQ(pair.input->streamError()->code, ECONNREFUSED);
    EXPECT_EQ(pair.output->status(), StreamStatus::Error);
}

TEST_F(ServiceStreamPairTest, CloseBeforeResolveCancelsItAndNothingArrivesAfterwards)
{
    make();
    ASSERT_EQ(fake->resolves().size(), 1);
    const auto pending = fake->resolves().front();
    pair.input->close();
    EXPECT_TRUE(pending->active); // the output still waits for it
    pair.output->close();
    EXPECT_FALSE(pending->active);
    EXPECT_EQ(pair.input->status(), StreamStatus::Closed);
    EXPECT_EQ(pair.output->status(), StreamStatus::Closed);

    // A backend that answers anyway is not heard.
    ASSERT_TRUE(pending->done);
    pending->done(listenerAddress());
    settle();
    EXPECT_TRUE(recorder->events.empty());
    EXPECT_TRUE(server.accepted.empty());
    pair.input->open(); // a closed stream stays closed
    EXPECT_EQ(fake->resolves().size(), 1);

    make(); // dropping the streams cancels as well
    const auto second = fake->resolves().back();
    pair = {};
    EXPECT_FALSE(second->active);
}

TEST_F(ServiceStreamPairTest, EndClosedWhileResolvingStaysQuietWhileTheOtherConnects)
{
    make();
    pair.input->close();
    fake->answerResolve(listenerAddress());
    runUntil([&] { return recorder->count(false, StreamEvent::HasSpaceAvailable) > 0 && !server.accepted.empty(); });
    ASSERT_EQ(pair.output->write("late", 4), 4);
    settle();
    for (const auto& event : recorder->events)
        EXPECT_FALSE(event.first) << int(event.second);
    EXPECT_EQ(pair.input->status(), StreamStatus::Closed);
}

TEST(ServiceStreamPair, ConnectAddressScopesOnlyLinkLocalIPv6)
{
    struct Row {
        const char* address;
        int interfaceIndex;
        const char* expected; // null: unusable
    };
    const Row rows[] = {
        {"127.0.0.1", 2, "127.0.0.1"},
        {"192.168.1.20", -1, "192.168.1.20"},
        {"fe80::1", 3, "fe80::1%3"},
        {"fe80::1", -1, "fe80::1"},
        {"2001:db8::1", 3, "2001:db8::1"},
        {"lab.local", 2, nullptr},
        {"127.0.0.1:80", 2, nullptr},
        {"", 2, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address);
        const auto address = ServiceStreamPair::connectAddress({QString(), QString::fromLatin1(row.address), 1, row.interfaceIndex});
        if (!row.expected) {
            EXPECT_FALSE(address);
            continue;
        }
        ASSERT_TRUE(address);
        EXPECT_EQ(address->toString(), QString::fromLatin1(row.expected));
    }
}

TEST(ServiceStreamPair, RefusesAServiceWithoutNameOrType)
{
    EXPECT_FALSE(ServiceStreamPair::forService(platform::NetService(QStringLiteral("local."), QStringLiteral("_x-tevkelvaro._tcp."), QString())));
    EXPECT_FALSE(ServiceStreamPair::forService(platform::NetService(QStringLiteral("local."), QString(), QStringLiteral("Lab"))));
    EXPECT_TRUE(kelvaro::test::log().contains(QStringLiteral("ServiceStreamPair: cannot connect to a service without a name and type")));
}

} // namespace
