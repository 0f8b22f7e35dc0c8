// The loopback test peer does what its scripts say: a plain TCP socket with our line framing talks to it
// and sees the replies, status, error and malformed lines, silence, trickles and closes it was told to send,
// and invocations answered from a simulated computer's core.

#include "tests/support/ProtocolTestPeer.h"

#include "acquisition/TEVCommandLineConnection.h"
#include "acquisition/TEVServiceInvocation.h"
#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/NullObject.h"
#include "platform/foundation/SimulatedComputer.h"
#include "sensors/TEVSensorClassLoader.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QTcpSocket>

#include <gtest/gtest.h>

namespace {

using kelvaro::test::PeerReply;
using kelvaro::test::ProtocolTestPeer;
namespace values = platform::values;

// A guard against a hang only: the peer's thread may be slow to run on a loaded machine.
constexpr int kGuardMs = 30'000;

// Blocking on purpose: the peer answers from its own thread.
class RawClient {
public:
    explicit RawClient(const ProtocolTestPeer& peer)
    {
        socket_.connectToHost(peer.address(), peer.port());
        EXPECT_TRUE(socket_.waitForConnected(kGuardMs));
    }

    void send(const QByteArray& payload)
    {
        socket_.write(TEVCommandLineConnection::transferDataForPayload(payload).value());
        EXPECT_TRUE(socket_.waitForBytesWritten(kGuardMs));
    }

    // The next unescaped line; nothing when none came within 5 s of real time or the peer closed.
    std::optional<QByteArray> readLine()
    {
        qsizetype end;
        while ((end = buffer_.indexOf('\n')) < 0) {
            if (!socket_.waitForReadyRead(kGuardMs))
                return std::nullopt;
            buffer_ += socket_.readAll();
            ++reads_;
        }
        const QByteArray line = buffer_.left(end + 1);
        buffer_.remove(0, end + 1);
        return TEVCommandLineConnection::payloadForTransferData(line);
    }

    bool closedByPeer()
    {
        while (socket_.state() == QAbstractSocket::ConnectedState) {
            if (!socket_.waitForReadyRead(kGuardMs))
                break;
            buffer_ += socket_.readAll();
        }
        return socket_.state() != QAbstractSocket::ConnectedState;
    }

    int reads() const { return reads_; }

private:
    QTcpSocket socket_;
    QByteArray buffer_;
    int reads_ = 0;
};

QByteArray invokeLine(quint64 number, const std::shared_ptr<TEVServiceInvocation>& invocation)
{
    return "invoke[" + QByteArray::number(number) + ']'
        + platform::KeyedArchiver::archivedDataWithRootObject(values::fromObject(invocation));
}

// The value of a "+[number]<archive>" line.
QVariant resultOf(const std::optional<QByteArray>& line, quint64 number)
{
    const QByteArray header = "+[" + QByteArray::number(number) + ']';
    EXPECT_TRUE(line && line->startsWith(header)) << (line ? line->toStdString() : "no line");
    if (!line || !line->startsWith(header))
        return {};
    return platform::KeyedUnarchiver::unarchiveObjectWithData(line->mid(header.size()));
}

} // namespace

TEST(ProtocolTestPeer, AnswersMetaRequestsWithTheirSequenceNumbers)
{
    ProtocolTestPeer peer({{}, "Peer 7.1", "pong"});
    ASSERT_TRUE(peer.isListening());
    ASSERT_NE(peer.port(), 0);
    RawClient client(peer);
    client.send("hello[1]");
    client.send("ping[2]");
    client.send("bye[3]");
    EXPECT_EQ(client.readLine(), QByteArray("+[1]Peer 7.1"));
    EXPECT_EQ(client.readLine(), QByteArray("+[2]pong"));
    EXPECT_EQ(client.readLine(), QByteArray("+[3]bye"));

    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(requests[0].command, QStringLiteral("hello"));
    EXPECT_EQ(requests[1].command, QStringLiteral("ping"));
    EXPECT_EQ(requests[2].sequenceNumber, 3u);
    EXPECT_EQ(requests[2].line, QByteArray("bye[3]"));
    EXPECT_EQ(peer.connectionCount(), 1);
}

// Each row scripts the first request (a hello) and names the lines the client must see before the
// reply to a second, ordinary ping.
struct ScriptRow {
    const char* name;
    PeerReply reply;
    QList<QByteArray> expected;
};

class ProtocolTestPeerScript : public ::testing::TestWithParam<ScriptRow> {};

TEST_P(ProtocolTestPeerScript, SendsWhatTheScriptSays)
{
    ProtocolTestPeer peer;
    peer.script(GetParam().reply, QStringLiteral("hello"));
    RawClient client(peer);
    client.send("hello[1]");
    client.send("ping[2]");
    QList<QByteArray> seen;
    for (qsizetype i = 0; i <= GetParam().expected.size(); ++i)
        seen.append(client.readLine().value_or("(none)"));
    EXPECT_EQ(seen, GetParam().expected + QList<QByteArray>{"+[2]pong"});
    EXPECT_EQ(peer.requests().size(), 2);
}

PeerReply withStatusLines()
{
    PeerReply reply;
    reply.linesBefore = {"*[*]alive", "*[*]zzz"};
    return reply;
}

INSTANTIATE_TEST_SUITE_P(Rows, ProtocolTestPeerScript, ::testing::Values(
    ScriptRow{"silence", PeerReply::silence(), {}},
    ScriptRow{"error", PeerReply::error("no such thing"), {"-[1]no such thing"}},
    ScriptRow{"malformed", PeerReply::raw("+[x1]\\junk"), {"+[x1]\\junk"}},
    ScriptRow{"status", withStatusLines(), {"*[*]alive", "*[*]zzz", "+[1]Kelvaro test peer 1.0"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ProtocolTestPeer, DelayedReplyComesAfterLaterOnes)
{
    ProtocolTestPeer peer;
    PeerReply slow;
    slow.delay = std::chrono::milliseconds(300); // long beside the turn the ping takes
    peer.script(slow, QStringLiteral("hello"));
    RawClient client(peer);
    client.send("hello[1]");
    client.send("ping[2]");
    EXPECT_EQ(client.readLine(), QByteArray("+[2]pong"));
    EXPECT_EQ(client.readLine(), QByteArray("+[1]Kelvaro test peer 1.0"));
}

TEST(ProtocolTestPeer, TrickledReplyArrivesWholeOverManyReads)
{
    ProtocolTestPeer peer({{}, "a version text long enough to trickle", "pong"});
    PeerReply trickle;
    trickle.trickle = true;
    trickle.trickleGap = std::chrono::milliseconds(5);
    peer.script(trickle);
    RawClient client(peer);
    client.send("hello[1]");
    EXPECT_EQ(client.readLine(), QByteArray("+[1]a version text long enough to trickle"));
    EXPECT_GT(client.reads(), 1);
    // What was queued behind the trickle follows it intact.
    client.send("ping[2]");
    EXPECT_EQ(client.readLine(), QByteArray("+[2]pong"));
}

TEST(ProtocolTestPeer, ClosesTheConnectionWhenToldAndTakesANewOne)
{
    ProtocolTestPeer peer;
    peer.script(PeerReply::close(), QStringLiteral("ping"));
    {
        RawClient client(peer);
        client.send("ping[1]");
        EXPECT_TRUE(client.closedByPeer());
    }
    RawClient again(peer);
    again.send("ping[2]");
    EXPECT_EQ(again.readLine(), QByteArray("+[2]pong"));
    EXPECT_EQ(peer.connectionCount(), 2);
    EXPECT_EQ(peer.requests().back().connection, 2);
}

TEST(ProtocolTestPeer, AdvancesTheManualClockWhenTheRequestArrives)
{
    ProtocolTestPeer peer;
    PeerReply reply;
    reply.advanceClock = std::chrono::seconds(10);
    peer.script(reply);
    const auto before = kelvaro::test::clock()->monotonic();
    RawClient client(peer);
    client.send("ping[1]");
    EXPECT_EQ(client.readLine(), QByteArray("+[1]pong"));
    EXPECT_EQ(kelvaro::test::clock()->monotonic() - before, std::chrono::seconds(10));
}

TEST(ProtocolTestPeer, SendsUnsolicitedLinesAndBytes)
{
    ProtocolTestPeer peer;
    RawClient client(peer);
    client.send("ping[1]");
    ASSERT_EQ(client.readLine(), QByteArray("+[1]pong"));
    peer.sendLine("*[*]zzz");
    peer.sendBytes("half a line, ");
    peer.sendBytes("then the rest\n");
    EXPECT_EQ(client.readLine(), QByteArray("*[*]zzz"));
    EXPECT_EQ(client.readLine(), QByteArray("half a line, then the rest"));
}

class ProtocolTestPeerOnPortable : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto loaded = platform::SimulatedComputer::load(kelvaro::test::sourcePath(QStringLiteral("fixtures/computers/portable")));
        ASSERT_TRUE(loaded.computer) << loaded.error.toStdString();
        platform::SimulatedComputer::setCurrent(loaded.computer);
        TEVSensorClassLoader::loadAll();
    }
    void TearDown() override { platform::SimulatedComputer::setCurrent(nullptr); }
};

TEST_F(ProtocolTestPeerOnPortable, AnswersInvocationsFromTheSimulatedCore)
{
    const auto reference = ProtocolTestPeer::simulatedComputerCore()();
    ASSERT_GT(reference->numberOfAvailableSensors(), 0u);

    ProtocolTestPeer peer({ProtocolTestPeer::simulatedComputerCore()});
    peer.answerSelector(QStringLiteral("hostName"), QStringLiteral("peer.example"));
    RawClient client(peer);
    client.send(invokeLine(1, TEVServiceInvocation::invocation(QStringLiteral("numberOfAvailableSensors"),
                                                               QStringLiteral("NSNumber"))));
    const QVariant count = resultOf(client.readLine(), 1);
    EXPECT_TRUE(values::isNumber(count));
    EXPECT_EQ(values::toUnsigned(count), reference->numberOfAvailableSensors());

    client.send(invokeLine(2, TEVServiceInvocation::invocation(QStringLiteral("setSMARTUpdateInterval:saverInterval:"),
                                                               QString(), values::fromReal(30.5),
                                                               values::fromUnsigned(600))));
    EXPECT_EQ(resultOf(client.readLine(), 2), values::fromBool(true)); // void calls complete on YES

    client.send(invokeLine(3, TEVServiceInvocation::invocation(QStringLiteral("hostName"), QStringLiteral("NSString"))));
    EXPECT_EQ(resultOf(client.readLine(), 3), QVariant(QStringLiteral("peer.example")));

    client.send(invokeLine(4, TEVServiceInvocation::invocation(QStringLiteral("sensorDescriptionForIdentifier:"),
                                                               QStringLiteral("TEVSensorDescription"),
                                                               QStringLiteral("no such sensor"))));
    EXPECT_EQ(values::toObject(resultOf(client.readLine(), 4)), platform::NullObject::shared());

    client.send("invoke[5]not an archive");
    EXPECT_EQ(client.readLine(), QByteArray("-[5]invocation could not be decoded"));

    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 5);
    EXPECT_EQ(requests[0].command, QStringLiteral("invoke"));
    EXPECT_EQ(requests[0].sequenceNumber, 1u);
    EXPECT_TRUE(requests[0].decoded);
    EXPECT_EQ(requests[0].selector, QStringLiteral("numberOfAvailableSensors"));
    EXPECT_EQ(requests[0].returnValueClass, QStringLiteral("NSNumber"));
    EXPECT_TRUE(requests[0].arguments.isEmpty());
    EXPECT_EQ(requests[1].arguments, (QVariantList{values::fromReal(30.5), values::fromSigned(600)}));
    EXPECT_EQ(requests[1].argumentKinds, (QList<values::Kind>{values::Kind::Real, values::Kind::Signed}));
    EXPECT_TRUE(requests[1].returnValueClass.isEmpty());
    EXPECT_FALSE(requests[4].decoded);
}
