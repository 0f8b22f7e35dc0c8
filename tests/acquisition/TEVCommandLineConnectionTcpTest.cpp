#include "acquisition/TEVCommandLineConnection.h"

#include "platform/foundation/RunLoop.h"
#include "platform/net/TcpStreamPair.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QTcpServer>

#include <cerrno>

#include <gtest/gtest.h>

namespace {

class Recorder final : public TEVRemoteCommandConnectionDelegate {
public:
    void connectionWillCloseWithError(TEVRemoteCommandConnection&, const std::optional<platform::Error>& error) override
    {
        closes.push_back(error);
    }
    bool connectionProcessParsedCommandData(TEVRemoteCommandConnection&, const QByteArray& data) override
    {
        payloads.append(data);
        return true;
    }

    QList<QByteArray> payloads;
    std::vector<std::optional<platform::Error>> closes;
};

// Hands each accepted socket over as a stream pair, without Qt's own buffering.
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

struct Link {
    Link()
    {
        EXPECT_TRUE(server.listen(QHostAddress::LocalHost));
        auto pair = platform::TcpStreamPair::connectToHost(QHostAddress::LocalHost, server.serverPort());
        EXPECT_TRUE(platform::TcpStreamPair::setKernelBufferSizes(*pair, 32768, 32768));
        client = TEVCommandLineConnection::create(pair->input, pair->output);
        client->setDelegate(clientRecorder);
        client->open();
        runUntil([&] { return client->hasSpaceAvailable() && !server.accepted.empty(); });
        EXPECT_TRUE(platform::TcpStreamPair::setKernelBufferSizes(server.accepted.front(), 32768, 32768));
        peer = TEVCommandLineConnection::create(server.accepted.front().input, server.accepted.front().output);
        peer->setDelegate(peerRecorder);
    }

    Server server;
    std::shared_ptr<Recorder> clientRecorder = std::make_shared<Recorder>();
    std::shared_ptr<Recorder> peerRecorder = std::make_shared<Recorder>();
    std::shared_ptr<TEVCommandLineConnection> client;
    std::shared_ptr<TEVCommandLineConnection> peer;
};

TEST(TEVCommandLineConnectionTcp, DeliversEveryLineInOrderUnderBackPressure)
{
    Link link;
    const int lineCount = 800;
    auto payload = [](int i) { return QByteArray::number(i) + ':' + QByteArray(997, char('a' + i % 26)); };
    int submitted = 0;
    // Feeds as much as the output buffer takes; a full buffer is never overrun.
    auto feed = [&] {
        while (submitted < lineCount
               && quint64(link.client->outputBuffer().size()) + 1024 <= link.client->outputBufferCapacity())
            link.client->submitLine(payload(submitted++));
    };
    // The peer does not read yet: once the kernel's buffers are full, no space event comes and lines wait
    // in the output buffer. Loopback sends complete within the call, so a few quiet turns show the stall.
    for (int quietTurns = 0; quietTurns < 10 && submitted < lineCount;) {
        const qsizetype before = link.client->outputBuffer().size();
        feed();
        QCoreApplication::processEvents();
        quietTurns = before > 0 && link.client->outputBuffer().size() == before ? quietTurns + 1 : 0;
    }
    EXPECT_LT(submitted, lineCount);
    EXPECT_FALSE(link.client->outputBuffer().isEmpty());
    EXPECT_FALSE(link.client->hasSpaceAvailable());

    link.peer->open();
    runUntil([&] { feed(); return link.peerRecorder->payloads.size() == lineCount; });
    for (int i = 0; i < lineCount; ++i)
        ASSERT_EQ(link.peerRecorder->payloads[i], payload(i)) << i;
    EXPECT_TRUE(link.client->isOpen());
    EXPECT_TRUE(link.clientRecorder->closes.empty());

    link.peer->submitLine("+[1]reply");
    runUntil([&] { return !link.clientRecorder->payloads.empty(); });
    EXPECT_EQ(link.clientRecorder->payloads.front(), QByteArray("+[1]reply"));
}

TEST(TEVCommandLineConnectionTcp, ReportsThePeerClosingMidLine)
{
    Link link;
    link.peer->open();
    runUntil([&] { return link.peer->hasSpaceAvailable(); });
    link.peer->sendCommand("alive\nhalf");
    runUntil([&] { return link.peer->outputBuffer().isEmpty(); });
    link.peer->close();
    runUntil([&] { return !link.clientRecorder->closes.empty(); });
    EXPECT_EQ(link.clientRecorder->payloads, QList<QByteArray>{"alive"});
    EXPECT_EQ(link.clientRecorder->closes.front(), std::nullopt); // an orderly end, not an error
    EXPECT_EQ(link.client->inputBuffer(), QByteArray("half"));
}

TEST(TEVCommandLineConnectionTcp, ReportsARefusedConnect)
{
    quint16 port;
    {
        QTcpServer closed;
        ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
        port = closed.serverPort();
    }
    auto pair = platform::TcpStreamPair::connectToHost(QHostAddress::LocalHost, port);
    auto connection = TEVCommandLineConnection::create(pair->input, pair->output);
    auto recorder = std::make_shared<Recorder>();
    connection->setDelegate(recorder);
    connection->open();
    runUntil([&] { return !recorder->closes.empty(); });
    ASSERT_TRUE(recorder->closes.front());
    EXPECT_EQ(recorder->closes.front()->domain, QStringLiteral("NSPOSIXErrorDomain"));
    EXPECT_EQ(recorder->closes.front()->code, ECONNREFUSED);
    EXPECT_FALSE(platform::TcpStreamPair::connectToHost(QHostAddress(), 1).has_value());
}

} // namespace
