#include "platform/net/TcpStreamPair.h"

#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

using namespace platform;

namespace {

// Closes and drops both streams from inside the event that reports bytes: the owner of a connection may
// end it from any of its callbacks.
class ClosingDelegate final : public StreamDelegate {
public:
    StreamPair pair;
    int events = 0;
    bool closed = false;

    void stream(Stream&, StreamEvent event) override
    {
        ++events;
        if (event != StreamEvent::HasBytesAvailable && event != StreamEvent::EndEncountered)
            return;
        pair.input->close();
        pair.output->close();
        pair = {};
        closed = true;
    }
};

} // namespace

TEST(TcpStreamPair, OwnerMayCloseAndDropBothStreamsInsideTheirEvent)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    auto pair = TcpStreamPair::connectToHost(QHostAddress::LocalHost, server.serverPort());
    ASSERT_TRUE(pair);
    auto delegate = std::make_shared<ClosingDelegate>();
    delegate->pair = *pair;
    pair->input->setDelegate(delegate);
    pair->output->setDelegate(delegate);
    pair->input->open();
    pair->output->open();
    pair.reset();

    ASSERT_TRUE(kelvaro::test::waitFor([&] { return server.hasPendingConnections(); }));
    QTcpSocket* peer = server.nextPendingConnection();
    peer->write("x");
    peer->flush();
    ASSERT_TRUE(kelvaro::test::waitFor([&] { return delegate->closed; }));
    // A later turn of the loop must not touch what was deleted (ASan reports it).
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_GE(delegate->events, 1);
}
