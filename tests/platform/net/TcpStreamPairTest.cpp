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

namespace {

// Reads what each notice of bytes announces, or leaves the first notice's bytes unread.
class ReadingDelegate final : public StreamDelegate {
public:
    std::shared_ptr<InputStream> input;
    bool ignoreFirstNotice = false;
    int notices = 0;
    int noticesAfterEnd = 0;
    QByteArray received;
    bool ended = false;

    void stream(Stream&, StreamEvent event) override
    {
        if (event != StreamEvent::HasBytesAvailable)
            return;
        ++notices;
        if (ended)
            ++noticesAfterEnd;
        if (ignoreFirstNotice && notices == 1)
            return;
        readAll();
    }
    void readAll()
    {
        char buffer[64];
        for (;;) {
            const qint64 n = input->read(buffer, sizeof buffer);
            if (n > 0)
                received.append(buffer, n);
            if (n == 0)
                ended = true;
            if (n <= 0)
                return;
        }
    }
};

} // namespace

// The input tells of bytes until its reader has read them, once more after the reader reads again, and
// nothing after the end of the stream.
TEST(TcpStreamPair, TellsOfBytesWhileTheReaderReadsAndNothingAfterTheEnd)
{
    const struct {
        const char* name;
        bool ignoreFirstNotice;
    } rows[] = {{"a reader that reads every notice", false}, {"a reader that leaves the first bytes unread", true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        QTcpServer server;
        ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
        auto pair = TcpStreamPair::connectToHost(QHostAddress::LocalHost, server.serverPort());
        ASSERT_TRUE(pair);
        auto delegate = std::make_shared<ReadingDelegate>();
        delegate->input = pair->input;
        delegate->ignoreFirstNotice = row.ignoreFirstNotice;
        pair->input->setDelegate(delegate);
        pair->input->open();
        pair->output->open();
        ASSERT_TRUE(kelvaro::test::waitFor([&] { return server.hasPendingConnections(); }));
        QTcpSocket* peer = server.nextPendingConnection();

        peer->write("a");
        peer->flush();
        ASSERT_TRUE(kelvaro::test::waitFor([&] { return delegate->notices >= 1; }));
        if (row.ignoreFirstNotice) {
            // Unread bytes are not announced again turn after turn.
            for (int i = 0; i < 20; ++i)
                QCoreApplication::processEvents();
            EXPECT_EQ(delegate->notices, 1);
            delegate->readAll();
        }
        ASSERT_TRUE(kelvaro::test::waitFor([&] { return delegate->received == "a"; }));
        peer->write("b");
        peer->flush();
        ASSERT_TRUE(kelvaro::test::waitFor([&] { return delegate->received == "ab"; }));
        peer->close();
        ASSERT_TRUE(kelvaro::test::waitFor([&] { return delegate->ended; }));
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        EXPECT_EQ(delegate->noticesAfterEnd, 0);
        pair->input->close();
        pair->output->close();
    }
}
