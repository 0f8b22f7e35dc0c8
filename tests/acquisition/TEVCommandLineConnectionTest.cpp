#include "acquisition/TEVCommandLineConnection.h"

#include "platform/foundation/RunLoop.h"
#include "platform/net/MemoryStreamPair.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

namespace {

using platform::MemoryStreamPair;
using Code = TEVRemoteCommandConnection::ErrorCode;

class Recorder final : public TEVRemoteCommandConnectionDelegate {
public:
    void connectionWillCloseWithError(TEVRemoteCommandConnection&, const std::optional<platform::Error>& error) override
    {
        closes.push_back(error);
        if (dropOnClose)
            dropOnClose->reset(); // the owner lets go of the connection from inside the call
    }
    bool connectionProcessParsedCommandData(TEVRemoteCommandConnection& connection, const QByteArray& data) override
    {
        payloads.append(data);
        if (data == "close")
            connection.closeWithError(std::nullopt);
        return true;
    }

    QList<QByteArray> payloads;
    std::vector<std::optional<platform::Error>> closes;
    std::shared_ptr<TEVCommandLineConnection>* dropOnClose = nullptr;
};

// Real time bounds the wait: the run loop's own limit would be on the test's manual clock, which stands still.
void runUntil(const std::function<bool()>& done)
{
    ASSERT_TRUE(kelvaro::test::waitFor(done));
}

// A line connection on end b of a memory pair, with end a left to the test as the raw peer.
struct Fixture {
    explicit Fixture(qint64 pipeCapacity = 65536, quint64 inputCapacity = 0)
        : ends(MemoryStreamPair::create(pipeCapacity))
    {
        connection = TEVCommandLineConnection::create(ends.b.input, ends.b.output);
        connection->setDelegate(recorder);
        connection->setInputBufferCapacity(inputCapacity);
        connection->open();
        ends.a.input->open();
        ends.a.output->open();
        runUntil([&] { return connection->hasSpaceAvailable() && ends.a.output->status() == platform::StreamStatus::Open; });
    }
    void peerWrites(const QByteArray& bytes)
    {
        ASSERT_EQ(ends.a.output->write(bytes.constData(), bytes.size()), bytes.size());
    }
    qint64 closeCode() const
    {
        return !recorder->closes.empty() && recorder->closes.front() ? recorder->closes.front()->code : -1;
    }

    MemoryStreamPair::Ends ends;
    std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
    std::shared_ptr<TEVCommandLineConnection> connection;
};

TEST(TEVCommandLineConnection, EscapesAndUnescapesLines)
{
    struct Row {
        QByteArray payload;
        QByteArray line;
    } rows[] = {
        {QByteArray("a\n\\b"), QByteArray("a\\n\\\\b\n")},
        {QByteArray("x\\qy"), QByteArray("x\\\\qy\n")},
        {QByteArray("ab\\"), QByteArray("ab\\\\\n")},
        {QByteArray("\0\r\x80", 3), QByteArray("\0\r\x80\n", 4)}, // NUL, CR and high bytes are not escaped
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.payload.toHex().toStdString());
        EXPECT_EQ(TEVCommandLineConnection::transferDataForPayload(row.payload), row.line);
        EXPECT_EQ(TEVCommandLineConnection::payloadForTransferData(row.line), row.payload);
    }
    EXPECT_EQ(TEVCommandLineConnection::payloadForTransferData("x\\qy\n"), QByteArray("x\\qy"));
    EXPECT_EQ(TEVCommandLineConnection::payloadForTransferData("ab\\\n"), QByteArray("ab\\")); // a lone last backslash
    EXPECT_EQ(TEVCommandLineConnection::transferDataForPayload({}), std::nullopt);
    EXPECT_EQ(TEVCommandLineConnection::payloadForTransferData("abc"), std::nullopt);
    EXPECT_EQ(TEVCommandLineConnection::payloadForTransferData({}), std::nullopt);
}

TEST(TEVCommandLineConnection, FramesLinesAcrossEverySplitOfTheStream)
{
    const QList<QByteArray> payloads = {"hello[1]", QByteArray("+[2]\0bin\\ary\nend", 16), "-[3]x"};
    QByteArray wire;
    for (const QByteArray& payload : payloads)
        wire += *TEVCommandLineConnection::transferDataForPayload(payload);
    wire.insert(9, '\n'); // an empty line between the first two is ignored

    for (qint64 split = 0; split <= wire.size(); ++split) {
        SCOPED_TRACE(split);
        Fixture f;
        if (split == wire.size())
            f.ends.aToB->scriptReads(std::deque<qint64>(size_t(wire.size()), 1)); // one byte per read
        f.peerWrites(wire.left(split));
        runUntil([&] { return f.connection->inputBuffer().size() + f.recorder->payloads.size() > 0 || split == 0; });
        f.peerWrites(wire.mid(split));
        runUntil([&] { return f.recorder->payloads.size() == payloads.size(); });
        EXPECT_EQ(f.recorder->payloads, payloads);
        EXPECT_TRUE(f.connection->inputBuffer().isEmpty());
        EXPECT_TRUE(f.connection->isOpen());
    }
}

TEST(TEVCommandLineConnection, KeepsAPartialLineForTheNextRead)
{
    Fixture f;
    f.peerWrites("one\ntwo\nthr");
    runUntil([&] { return f.recorder->payloads.size() == 2; });
    EXPECT_EQ(f.connection->inputBuffer(), QByteArray("thr"));
    f.peerWrites("ee\n");
    runUntil([&] { return f.recorder->payloads.size() == 3; });
    EXPECT_EQ(f.recorder->payloads.back(), QByteArray("three"));
}

TEST(TEVCommandLineConnection, ClosesOnALineLongerThanTheInputCapacity)
{
    for (qint64 length : {qint64(16383), qint64(16384)}) {
        SCOPED_TRACE(length);
        Fixture f(65536);
        f.peerWrites(QByteArray(length, 'x'));
        runUntil([&] { return f.connection->inputBuffer().size() == length || !f.connection->isOpen(); });
        if (length < 16384) {
            EXPECT_TRUE(f.connection->isOpen()); // waits for the rest of the line
            f.peerWrites("\n");
            runUntil([&] { return f.recorder->payloads.size() == 1; });
            EXPECT_EQ(f.recorder->payloads.front().size(), length);
        } else {
            EXPECT_FALSE(f.connection->isOpen());
            EXPECT_EQ(f.closeCode(), Code::InputCommandTooLong);
            EXPECT_EQ(f.connection->error()->localizedDescription(), QStringLiteral("Input command too long"));
        }
    }
}

// A large capacity bounds a line; the buffer grows only as far as the lines read need, and a line far longer
// than a read is still read whole.
TEST(TEVCommandLineConnection, TheInputBufferGrowsAsTheLinesNeedUpToTheCapacity)
{
    constexpr quint64 capacity = 2097152;
    struct Row {
        qint64 length; // of the line, without its end
        bool whole;    // read as one payload; else the connection closes
        qint64 mostKept; // the buffer's allocation afterwards at most
    } rows[] = {
        {10, true, 65536},
        {16383, true, 65536},
        {40000, true, 262144},
        {700000, true, qint64(capacity)},
        {qint64(capacity) - 1, true, 2 * qint64(capacity)}, // the container's own growth may add to it
        {qint64(capacity), false, 2 * qint64(capacity)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.length);
        Fixture f(qint64(capacity) + 16, capacity);
        EXPECT_LE(f.connection->inputBuffer().capacity(), 65536);
        f.peerWrites(QByteArray(row.length, 'x') + (row.whole ? QByteArray("\n") : QByteArray()));
        runUntil([&] { return !f.recorder->payloads.isEmpty() || !f.connection->isOpen(); });
        if (row.whole) {
            ASSERT_EQ(f.recorder->payloads.size(), 1);
            EXPECT_EQ(f.recorder->payloads.front().size(), row.length);
            EXPECT_TRUE(f.connection->isOpen());
        } else {
            EXPECT_FALSE(f.connection->isOpen());
            EXPECT_EQ(f.closeCode(), Code::InputCommandTooLong);
        }
        EXPECT_LE(f.connection->inputBuffer().capacity(), row.mostKept);
    }
}

TEST(TEVCommandLineConnection, ReportsThePeersEndAndErrors)
{
    {
        Fixture f;
        f.recorder->dropOnClose = &f.connection;
        f.peerWrites("done\nhalf a li");
        f.ends.a.output->close();
        runUntil([&] { return !f.recorder->closes.empty(); });
        EXPECT_EQ(f.recorder->payloads, QList<QByteArray>{"done"}); // the half line is not handed on
        EXPECT_EQ(f.recorder->closes.front(), std::nullopt);
        EXPECT_EQ(f.connection, nullptr); // dropped inside the callback, without harm
    }
    {
        Fixture f;
        const platform::Error reset = platform::posixError(ECONNRESET);
        f.ends.aToB->fail(reset);
        runUntil([&] { return !f.recorder->closes.empty(); });
        EXPECT_EQ(f.recorder->closes.front(), reset);
        EXPECT_EQ(f.connection->error(), reset);
    }
}

TEST(TEVCommandLineConnection, StopsHandingOnLinesOnceALineClosedIt)
{
    Fixture f;
    f.peerWrites("a\nclose\nb\n");
    runUntil([&] { return !f.connection->isOpen(); });
    EXPECT_EQ(f.recorder->payloads, (QList<QByteArray>{"a", "close"}));
}

TEST(TEVRemoteCommandConnection, BoundsTheOutputBuffer)
{
    Fixture f(1); // the peer takes one byte and then reads nothing
    f.connection->setOutputBufferCapacity(16);
    f.connection->sendCommand("12345");
    EXPECT_EQ(f.connection->outputBuffer(), QByteArray("2345")); // a partial write keeps the rest in front
    f.connection->sendCommand("abcdefghijkl"); // exactly full
    EXPECT_EQ(f.connection->outputBuffer().size(), 16);
    EXPECT_TRUE(f.recorder->closes.empty());
    f.connection->sendCommand("z");
    EXPECT_EQ(f.closeCode(), Code::OutputBufferFull);

    Fixture g;
    g.connection->sendCommand(QByteArray(16385, 'x'));
    EXPECT_EQ(g.closeCode(), Code::OutputCommandTooLong);
}

TEST(TEVRemoteCommandConnection, ClosesOnceAndKeepsTheFirstError)
{
    Fixture f;
    f.connection->close();
    f.connection->close();
    f.connection->closeWithError(TEVRemoteCommandConnection::errorWithCode(Code::UnexpectedInput));
    EXPECT_TRUE(f.recorder->closes.empty()); // a silent close, and nothing after it reaches the delegate
    EXPECT_EQ(f.connection->error(), std::nullopt);

    EXPECT_EQ(TEVRemoteCommandConnection::errorWithCode(7), std::nullopt);
    EXPECT_EQ(TEVRemoteCommandConnection::errorWithCode(0)->localizedDescription(), QStringLiteral("No error"));
}

TEST(TEVRemoteCommandConnection, RefusesInputWithoutAParser)
{
    auto ends = MemoryStreamPair::create();
    auto connection = TEVRemoteCommandConnection::create(ends.b.input, ends.b.output);
    auto recorder = std::make_shared<Recorder>(); // processes commands but parses none
    connection->setDelegate(recorder);
    connection->open();
    ends.a.output->open();
    runUntil([&] { return ends.a.output->status() == platform::StreamStatus::Open; });
    ends.a.output->write("x\n", 2);
    runUntil([&] { return !connection->isOpen(); });
    ASSERT_EQ(recorder->closes.size(), 1u);
    EXPECT_EQ(recorder->closes.front()->code, Code::UnexpectedInput);
    EXPECT_EQ(TEVRemoteCommandConnection::create(ends.a.input, nullptr), nullptr);
}

} // namespace
