#include "acquisition/TEVInvocationClient.h"

#include "tests/acquisition/ScriptedLinePeer.h"

#include "platform/foundation/NullObject.h"

#include <gtest/gtest.h>

namespace {

using namespace wiretest;
namespace kt = kelvaro::test;
using Client = TEVInvocationClient;

const platform::NetService kService(QStringLiteral("local."), QStringLiteral("_x-tevkelvaro._tcp."), QStringLiteral("Lab"));

// Lets a wait (queued behind the events already posted) that has not ended by itself run into its time-out; one that ended by delivery or withdrawal
// never sees this.
void timeOutLater(double seconds = 100)
{
    during([seconds] { kt::clock()->advanceSeconds(seconds); });
}

// A client wired to a scripted peer, answering every selector.
struct Wired {
    explicit Wired(qint64 pipeCapacity = 65536)
        : peer(ScriptedLinePeer::create(pipeCapacity))
        , client(Client::createWithHostSpecifier(QStringLiteral("lab.example"), 4242))
    {
        client->setStreamPairSource(peer->source());
        client->setVendedObjectClass(Client::VendedObjectClass{QStringLiteral("Agent"), [](const QString&) { return true; }});
        notes = std::make_unique<Notifications>(*client);
    }
    // Answers each request of `word` with a result line holding `payload`; `thenTimeOut` lets a wait that
    // did not end with that line run into its time-out.
    void answer(const QByteArray& word, const QByteArray& payload, bool thenTimeOut = false)
    {
        peer->onLine = [this, word, payload, thenTimeOut](const QByteArray& line) {
            if (ScriptedLinePeer::wordOf(line) == word)
                peer->reply('+', ScriptedLinePeer::numberOf(line), payload);
            if (thenTimeOut)
                timeOutLater();
        };
    }
    QVariant call(const QString& selector, const QString& returnClass)
    {
        return client->resultOfInvocation(TEVServiceInvocation::invocation(selector, returnClass));
    }
    bool logged(const QString& text) const { return kt::log().lines().join(QString()).contains(text); }

    std::shared_ptr<ScriptedLinePeer> peer;
    std::shared_ptr<Client> client;
    std::unique_ptr<Notifications> notes;
};

TEST(TEVInvocationClient, CreationChecksServiceHostAndPort)
{
    EXPECT_FALSE(Client::createWithNetService(platform::NetService()));
    EXPECT_TRUE(Client::createWithNetService(kService)->isConnectingViaBonjour());
    EXPECT_FALSE(Client::createWithHostSpecifier(QString(), 80));
    EXPECT_FALSE(Client::createWithHostSpecifier(QStringLiteral("h"), 65536));
    const auto client = Client::createWithHostSpecifier(QStringLiteral("h"), 65535);
    ASSERT_TRUE(client);
    EXPECT_FALSE(client->isConnectingViaBonjour());
    EXPECT_EQ(client->netServicePort(), 65535u);
    EXPECT_EQ(client->sequenceNumber(), 1u);
}

TEST(TEVInvocationClient, ResponseTimeoutIsClassWideAndRejectsNonPositiveValues)
{
    ResponseTimeoutGuard guard;
    EXPECT_EQ(Client::responseTimeout(), 3.0);
    Client::setResponseTimeout(10.0);
    Client::setResponseTimeout(0);
    Client::setResponseTimeout(-1);
    EXPECT_EQ(Client::responseTimeout(), 10.0);
    const quint64 first = Client::nextConnectionName().toULongLong();
    EXPECT_EQ(Client::nextConnectionName().toULongLong(), first + 1);
}

TEST(TEVInvocationClient, SequenceNumbersStartAtOneAndAdvanceWithoutConnection)
{
    auto client = Client::createWithHostSpecifier(QStringLiteral("h"), 1);
    client->setStreamPairSource([] { return std::nullopt; });
    Notifications notes(*client);

    // Nothing can go out, so nothing is waited for: each request fails at once, without a time-out.
    EXPECT_FALSE(client->checkConnectivityWithTimeout(1.0));
    EXPECT_EQ(client->sequenceNumber(), 2u);
    EXPECT_TRUE(notes.names.isEmpty()); // a missed connectivity check is not posted

    EXPECT_TRUE(client->serverVersion().isNull());
    EXPECT_EQ(client->sequenceNumber(), 3u);
    EXPECT_EQ(notes.names, QStringList{Client::ConnectionFailureNotification});
    EXPECT_FALSE(kt::log().contains(QStringLiteral("TEVInvocationStatus: timeout while waiting for server response, will disconnect.\n")));
    EXPECT_TRUE(client->pendingSequenceNumbers().isEmpty());
    EXPECT_FALSE(client->connection());
}

TEST(TEVInvocationClient, RequestLinesCarryTheirWordAndNumber)
{
    Wired w;
    w.peer->onLine = [&](const QByteArray& line) {
        w.peer->reply('+', ScriptedLinePeer::numberOf(line), ScriptedLinePeer::wordOf(line) == "hello" ? "" : "pong");
    };
    EXPECT_TRUE(w.client->checkConnectivityWithTimeout(1.0));
    const QString version = w.client->serverVersion();
    EXPECT_FALSE(version.isNull()); // an empty version still answers
    EXPECT_TRUE(version.isEmpty());
    EXPECT_EQ(w.client->pingResponse(), QStringLiteral("pong"));
    w.client->disconnectFromServer();
    EXPECT_EQ(w.peer->requests, (QList<QByteArray>{"ping[1]", "hello[2]", "ping[3]", "bye[4]"}));
    EXPECT_TRUE(w.notes->names.isEmpty());
    EXPECT_TRUE(w.client->pendingSequenceNumbers().isEmpty());
}

TEST(TEVInvocationClient, ResultDeliversToItsOwnNumberOnly)
{
    Wired w;
    w.client->ensureConnectivity();
    std::vector<std::shared_ptr<TEVInvocationStatus>> statuses;
    for (int i = 1; i <= 7; ++i) {
        statuses.push_back(std::make_shared<TEVInvocationStatus>(QStringLiteral("NSString"), true));
        EXPECT_EQ(w.client->registerPendingRequestUsingStatus(statuses.back()), quint64(i));
        w.client->sendCommandString(QStringLiteral("ping"));
    }
    EXPECT_EQ(w.client->registerPendingRequestUsingStatus(nullptr), 0u);
    w.peer->writeLine("+[ \t7 ]seven");
    EXPECT_TRUE(statuses[6]->waitInRunLoopUntilReturnValueDeliveredWithTimeout(3));
    EXPECT_EQ(statuses[6]->returnValue(), QVariant(QStringLiteral("seven")));
    for (int i = 0; i < 6; ++i)
        EXPECT_FALSE(statuses[size_t(i)]->returnValue().isValid()) << i;
    EXPECT_EQ(w.peer->requests.size(), 7);
}

TEST(TEVInvocationClient, MalformedRepliesCloseTheConnectionWithCode6)
{
    const QByteArray rows[] = {
        "+1 no bracket",
        "+[abc]x",
        "*[*]hello",
        "*[1]alive",         // a status line has "*" in brackets
        "+[*]x",             // a result line has a number
        "?[1]x",             // unknown kind
        "+[-1]x",            // digits only: no sign
        "+[+1]x",
        "+[1 2]x",
        "+[18446744073709551616]x", // beyond 64 bits
        "+[\\u0031]x",       // no escapes in the header
        "+[\xef\xbc\x91]x",  // a full-width digit is no ASCII digit
        "+[]x",
        "+ ]x",
    };
    for (const QByteArray& row : rows) {
        SCOPED_TRACE(row.toStdString());
        Wired w;
        w.peer->onLine = [&](const QByteArray&) {
            w.peer->writeLine(row);
            timeOutLater();
        };
        EXPECT_TRUE(w.client->pingResponse().isNull());
        EXPECT_EQ(w.notes->names, QStringList{Client::ConnectionFailureNotification}); // ended at once, no time-out
        const auto error = w.notes->failureError();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->domain, TEVRemoteCommandConnection::ErrorDomain);
        EXPECT_EQ(error->code, 6);
        EXPECT_FALSE(w.client->connection());
        EXPECT_TRUE(w.client->pendingSequenceNumbers().isEmpty());
    }
}

TEST(TEVInvocationClient, LargestSequenceNumberIsWellFormed)
{
    Wired w;
    w.client->ensureConnectivity();
    w.peer->writeLine("+[18446744073709551615]dropped");
    w.peer->writeLine("+[ 00 ]dropped"); // leading zeros are digits too
    pumpUntil([&] { return w.peer->pending.isEmpty() && w.client->connection()->inputBuffer().isEmpty(); });
    EXPECT_TRUE(w.client->connection()->isOpen());
    EXPECT_TRUE(w.notes->names.isEmpty());
}

TEST(TEVInvocationClient, SleepingServerIsPostedAndTheConnectionStays)
{
    Wired w;
    w.peer->onLine = [&](const QByteArray& line) {
        w.peer->writeLine("*[ * ]zzz");
        w.peer->reply('+', ScriptedLinePeer::numberOf(line), "pong");
    };
    EXPECT_EQ(w.client->pingResponse(), QStringLiteral("pong"));
    pumpUntil([&] { return !w.notes->names.isEmpty(); }); // posted on a later turn than its line
    EXPECT_EQ(w.notes->names, QStringList{Client::SleepingServerNotification});
    ASSERT_TRUE(w.client->connection());
    EXPECT_TRUE(w.client->connection()->isOpen());
}

TEST(TEVInvocationClient, ObserverOfASleepingServerMayMakeARequestWithoutReparsingTheLine)
{
    Wired w;
    int pings = 0;
    w.peer->onLine = [&](const QByteArray& line) {
        const QByteArray word = ScriptedLinePeer::wordOf(line);
        if (word == "hello") {
            // The status line and the start of the reply arrive together; the rest follows later.
            w.peer->writeLine("*[*]zzz");
            w.peer->reply('+', ScriptedLinePeer::numberOf(line), "version");
        } else if (word == "ping") {
            ++pings;
            w.peer->reply('+', ScriptedLinePeer::numberOf(line), "pong");
        }
    };
    QString nested;
    w.notes->onPost = [&](const platform::Notification& n) {
        if (n.name == Client::SleepingServerNotification)
            nested = w.client->pingResponse();
    };
    EXPECT_EQ(w.client->serverVersion(), QStringLiteral("version"));
    pumpUntil([&] { return !nested.isNull(); });
    EXPECT_EQ(nested, QStringLiteral("pong"));
    EXPECT_EQ(pings, 1);
    EXPECT_EQ(w.notes->count(Client::SleepingServerNotification), 1);
    EXPECT_EQ(w.notes->count(Client::ConnectionFailureNotification), 0);
}

TEST(TEVInvocationClient, ARepeatedReplyDoesNotReplaceTheFirst)
{
    Wired w;
    w.peer->onLine = [&](const QByteArray& line) {
        w.peer->reply('+', ScriptedLinePeer::numberOf(line), "first");
        w.peer->reply('+', ScriptedLinePeer::numberOf(line), "second");
    };
    EXPECT_EQ(w.client->pingResponse(), QStringLiteral("first"));
}

TEST(TEVInvocationClient, ErrorLineIsLoggedCleanAndCappedAndTheRequestTimesOut)
{
    Wired w;
    const QByteArray noise = QByteArray("bad\x01\x1b[2Jthing\r\xe2\x80\xae") + QByteArray(2000, 'x');
    w.peer->onLine = [&](const QByteArray& line) {
        w.peer->reply('-', ScriptedLinePeer::numberOf(line), noise);
        timeOutLater(3);
    };
    EXPECT_TRUE(w.client->pingResponse().isNull());
    EXPECT_EQ(w.notes->names, QStringList{Client::ResponseTimeoutNotification});
    QString line;
    for (const QString& logged : kt::log().lines()) {
        if (logged.startsWith(QStringLiteral("TEVInvocationClient: bad")))
            line = logged;
    }
    ASSERT_FALSE(line.isEmpty());
    EXPECT_TRUE(line.startsWith(QStringLiteral("TEVInvocationClient: bad[2Jthingxxx")));
    EXPECT_TRUE(line.endsWith(QStringLiteral("\n")));
    EXPECT_EQ(line.size(), qsizetype(QStringLiteral("TEVInvocationClient: ").size() + Client::MaxLoggedErrorTextLength + 2));
    for (QChar c : line.chopped(1))
        EXPECT_NE(c.category(), QChar::Other_Control);
}

TEST(TEVInvocationClient, ErrorLinesAreLoggedAFewAMinuteAndTheRestCounted)
{
    Wired w;
    int burst = 100;
    w.peer->onLine = [&](const QByteArray& line) {
        for (int i = 0; i < burst; ++i)
            w.peer->reply('-', ScriptedLinePeer::numberOf(line), "refused " + QByteArray::number(i));
        timeOutLater(3);
    };
    EXPECT_TRUE(w.client->pingResponse().isNull());
    const auto connection = w.client->connection();
    EXPECT_EQ(kt::log().count(QStringLiteral("TEVInvocationClient: refused")), Client::MaxLoggedErrorLinesPerMinute);
    EXPECT_EQ(kt::log().count(QStringLiteral("more error lines")), 0);

    kt::clock()->advanceSeconds(60);
    burst = 1;
    EXPECT_TRUE(w.client->pingResponse().isNull());
    EXPECT_EQ(w.client->connection(), connection);
    const QStringList lines = kt::log().lines();
    const qsizetype counted = lines.indexOf(QStringLiteral("TEVInvocationClient: 95 more error lines of the server were not logged\n"));
    ASSERT_GE(counted, 0) << lines.join(QString()).toStdString();
    EXPECT_EQ(lines.value(counted + 1), QStringLiteral("TEVInvocationClient: refused 0\n"));
    EXPECT_EQ(kt::log().count(QStringLiteral("TEVInvocationClient: refused")), Client::MaxLoggedErrorLinesPerMinute + 1);
}

TEST(TEVInvocationClient, LateReplyIsDropped)
{
    Wired w;
    quint64 asked = 0;
    w.peer->onLine = [&](const QByteArray& line) {
        asked = ScriptedLinePeer::numberOf(line);
        timeOutLater(3);
    };
    EXPECT_TRUE(w.client->pingResponse().isNull());
    w.peer->reply('+', asked, "late");
    w.peer->reply('+', asked + 100, "never asked");
    pumpUntil([&] { return w.peer->pending.isEmpty() && w.client->connection()->inputBuffer().isEmpty(); });
    EXPECT_TRUE(w.client->connection()->isOpen());
    EXPECT_EQ(w.notes->names, QStringList{Client::ResponseTimeoutNotification});
}

// The reply takes 8 s in all, but no gap between its pieces reaches the 3 s time-out.
TEST(TEVInvocationClient, ReplyTrickledWithinTheTimeOutDoesNotTimeOut)
{
    Wired w;
    QByteArray reply;
    std::function<void(qsizetype)> step = [&](qsizetype at) {
        w.peer->writeRaw(reply.mid(at, 10));
        if (at + 10 < reply.size())
            during([&, at] {
                kt::clock()->advanceSeconds(2);
                during([&, at] { step(at + 10); });
            });
    };
    w.peer->onLine = [&](const QByteArray& line) {
        reply = *TEVCommandLineConnection::transferDataForPayload(
            "+[" + QByteArray::number(ScriptedLinePeer::numberOf(line)) + "]" + QByteArray(40, 'p'));
        step(0);
    };
    const auto start = platform::monotonicNow();
    EXPECT_EQ(w.client->pingResponse(), QString(40, QLatin1Char('p')));
    EXPECT_GE(platform::monotonicNow() - start, platform::durationFromSeconds(8));
    EXPECT_TRUE(w.notes->names.isEmpty());
}

// Every split of the reply bytes over reads, down to one byte a read, gives the same result.
TEST(TEVInvocationClient, RepliesSplitAtAnyByteArriveWhole)
{
    for (const qint64 size : {1, 2, 3, 5, 7, 64}) {
        SCOPED_TRACE(size);
        Wired w;
        w.peer->ends.aToB->scriptReads(std::deque<qint64>(4000, size));
        w.peer->ends.aToB->scriptWrites(std::deque<qint64>(4000, size));
        w.answer("invoke", platform::KeyedArchiver::archivedDataWithRootObject(
                               values::fromDictionary({{QStringLiteral("line\nfeed\\"), values::fromSigned(-1)}})));
        const QVariant value = w.call(QStringLiteral("currentRawValues"), QStringLiteral("NSDictionary"));
        EXPECT_EQ(values::toDictionary(value).value_or(QVariantMap()).value(QStringLiteral("line\nfeed\\")),
                  values::fromSigned(-1));
        EXPECT_TRUE(w.notes->names.isEmpty());
    }
}

TEST(TEVInvocationClient, OneAndTwoByteLinesAreIgnored)
{
    Wired w;
    w.peer->onLine = [&](const QByteArray& line) {
        w.peer->writeRaw("+\n+[\n]]\n\n");
        w.peer->reply('+', ScriptedLinePeer::numberOf(line), "ok");
    };
    EXPECT_EQ(w.client->pingResponse(), QStringLiteral("ok"));
    EXPECT_TRUE(w.notes->names.isEmpty());
    EXPECT_TRUE(w.client->connection()->isOpen());
}

// A wait ends only by bytes from its own peer: a thread whose other timers keep firing still gives up after
// the response time-out.
TEST(TEVInvocationClient, SilentPeerTimesOutWhileOtherTimersFire)
{
    Wired w;
    int ticks = 0;
    platform::Timer timer = platform::RunLoop::main()->addTimer(platform::durationFromSeconds(1), [&] {
        ++ticks;
        during([] { kt::clock()->advanceSeconds(1); });
    }, true);
    during([] { kt::clock()->advanceSeconds(1); });
    EXPECT_TRUE(w.client->pingResponse().isNull());
    timer.invalidate();
    EXPECT_GE(ticks, 2);
    EXPECT_LE(ticks, 3);
    EXPECT_EQ(w.notes->names, QStringList{Client::ResponseTimeoutNotification});
    EXPECT_TRUE(w.client->pendingSequenceNumbers().isEmpty());
}

TEST(TEVInvocationClient, PeerClosingEndsEveryPendingWaitAtOnce)
{
    Wired w;
    // Request 2 is made from a timer while request 1 waits, so two waits are pending when the peer goes.
    w.peer->onLine = [&](const QByteArray& line) {
        if (ScriptedLinePeer::numberOf(line) == 2) {
            w.peer->closeOutput();
            timeOutLater();
        }
    };
    QString inner = QStringLiteral("unset");
    during([&] { inner = w.client->pingResponse(); });
    EXPECT_TRUE(w.client->pingResponse().isNull());
    EXPECT_TRUE(inner.isNull());
    EXPECT_EQ(w.notes->names, QStringList{Client::ConnectionFailureNotification});
    EXPECT_FALSE(w.notes->failureError()); // an orderly end carries no error
    EXPECT_FALSE(w.logged(QStringLiteral("timeout while waiting")));
    EXPECT_FALSE(w.client->connection());
}

TEST(TEVInvocationClient, StreamErrorIsPostedWithTheError)
{
    Wired w;
    const platform::Error reset = platform::posixError(ECONNRESET);
    w.peer->onLine = [&](const QByteArray&) {
        w.peer->ends.aToB->fail(reset);
        timeOutLater();
    };
    EXPECT_TRUE(w.client->serverVersion().isNull());
    EXPECT_EQ(w.notes->names, QStringList{Client::ConnectionFailureNotification});
    EXPECT_EQ(w.notes->failureError(), reset);
}

TEST(TEVInvocationClient, ShutdownImmediatelyPostsNothing)
{
    Wired w;
    w.client->ensureConnectivity();
    const auto connection = w.client->connection();
    ASSERT_TRUE(connection);
    // The owner shuts down while a request waits: the wait ends at once, and nothing is posted.
    w.peer->onLine = [&](const QByteArray&) { during([&] { w.client->shutdownImmediately(); }); };
    EXPECT_TRUE(w.client->pingResponse().isNull());
    EXPECT_FALSE(connection->isOpen());
    EXPECT_FALSE(w.client->connection());
    EXPECT_TRUE(w.client->pendingSequenceNumbers().isEmpty());
    EXPECT_TRUE(w.notes->names.isEmpty());

    // Destruction shuts down the same way.
    Wired other;
    other.client->ensureConnectivity();
    const auto otherConnection = other.client->connection();
    other.client.reset();
    EXPECT_FALSE(otherConnection->isOpen());
    EXPECT_TRUE(other.notes->names.isEmpty());
}

// The owner lets go of the client from inside a notification, and from a timer inside a nested wait: the
// client lives until the call on its stack returns.
TEST(TEVInvocationClient, OwnerMayDropTheClientInsideItsCallbacks)
{
    {
        Wired w;
        std::weak_ptr<Client> weak = w.client;
        Client* raw = w.client.get();
        w.notes->onPost = [&](const platform::Notification&) { w.client.reset(); };
        w.peer->onLine = [&](const QByteArray&) {
            w.peer->writeLine("+[x]");
            timeOutLater();
        };
        EXPECT_TRUE(raw->pingResponse().isNull());
        EXPECT_TRUE(weak.expired());
    }
    {
        Wired w;
        std::weak_ptr<Client> weak = w.client;
        Client* raw = w.client.get();
        w.peer->onLine = [&](const QByteArray& line) {
            const quint64 outer = ScriptedLinePeer::numberOf(line);
            if (outer != 1)
                return;
            during([&w, raw, outer] {
                // A nested call whose wait sees the owner go, then both replies.
                w.peer->onLine = [&w, outer](const QByteArray& inner) {
                    w.client.reset();
                    w.peer->reply('+', ScriptedLinePeer::numberOf(inner), "inner");
                    w.peer->reply('+', outer, "outer");
                };
                EXPECT_EQ(raw->pingResponse(), QStringLiteral("inner"));
            });
        };
        EXPECT_EQ(raw->pingResponse(), QStringLiteral("outer"));
        EXPECT_TRUE(weak.expired());
    }
}

// "alive" is answered with one ping that nobody waits for: the request under way returns before the ping's
// reply, and a flood of "alive" lines makes no second ping while one is out.
TEST(TEVInvocationClient, AliveSendsOnePingWithoutNesting)
{
    Wired w;
    QByteArray flood;
    for (int i = 0; i < 200; ++i)
        flood += "*[*]alive\n";
    w.peer->onLine = [&](const QByteArray& line) {
        if (line == "hello[1]")
            w.peer->writeRaw(flood);
        if (line == "ping[2]")
            w.peer->reply('+', 1, "v1"); // hello is answered only once the ping is out
    };
    EXPECT_EQ(w.client->serverVersion(), QStringLiteral("v1"));
    EXPECT_EQ(w.peer->requests, (QList<QByteArray>{"hello[1]", "ping[2]"}));
    EXPECT_EQ(w.client->pendingSequenceNumbers(), QList<quint64>{2});

    // Its reply retires it; the next "alive" may ping again.
    w.peer->onLine = nullptr;
    w.peer->reply('+', 2, "pong");
    pumpUntil([&] { return w.client->pendingSequenceNumbers().isEmpty(); });
    w.peer->writeLine("*[*]alive");
    pumpUntil([&] { return w.peer->requests.size() == 3; });
    EXPECT_EQ(w.peer->requests.back(), "ping[3]");

    // Unanswered, it gives up after the response time-out like any request.
    kt::clock()->advanceSeconds(3);
    pumpUntil([&] { return w.client->pendingSequenceNumbers().isEmpty(); });
    EXPECT_EQ(w.notes->names, QStringList{Client::ResponseTimeoutNotification});
}

TEST(TEVInvocationClient, ArchivedNilCompletesTheCallAtOnce)
{
    for (const QVariant& nil : {QVariant(), values::fromObject(platform::NullObject::shared())}) {
        Wired w;
        w.answer("invoke", platform::KeyedArchiver::archivedDataWithRootObject(nil), true);
        EXPECT_FALSE(w.call(QStringLiteral("machineInfo"), QStringLiteral("TEVMachineInfo")).isValid());
        EXPECT_TRUE(w.notes->names.isEmpty());
        EXPECT_FALSE(w.logged(QStringLiteral("timeout while waiting")));
    }
}

TEST(TEVInvocationClient, RepliesThatDoNotDecodeCloseTheConnection)
{
    const QByteArray rows[] = {
        QByteArray(),
        QByteArray("not an archive"),
        // A class outside the allow-list.
        platform::KeyedArchiver::archivedDataWithRootObject(
            values::fromObject(TEVServiceInvocation::invocation(QStringLiteral("isRemote"), QString()))),
        // A keyed archive cut short.
        platform::KeyedArchiver::archivedDataWithRootObject(values::fromString(QStringLiteral("cut"))).chopped(9),
        // A binary property list with U+0000 in a dictionary key (once fatal to libplist): the reply line
        // after its one-byte prefix and "+[1]", without its line feed.
        kt::readFile(kt::testDataPath(QStringLiteral("hostile/reply-line-nul-in-key.bin"))).mid(5).chopped(1),
    };
    for (const QByteArray& payload : rows) {
        SCOPED_TRACE(payload.left(16).toHex().toStdString());
        Wired w;
        w.answer("invoke", payload, true);
        EXPECT_FALSE(w.call(QStringLiteral("hostName"), QStringLiteral("NSString")).isValid());
        ASSERT_EQ(w.notes->names, QStringList{Client::ConnectionFailureNotification});
        EXPECT_EQ(w.notes->failureError()->code, 6);
    }
}

// The peer has answered, wrongly: waiting on for the time-out would only hold the caller.
TEST(TEVInvocationClient, ValueOfTheWrongClassFailsTheCallAtOnce)
{
    Wired w;
    w.answer("invoke", platform::KeyedArchiver::archivedDataWithRootObject(values::fromString(QStringLiteral("no"))));
    const auto start = platform::monotonicNow();
    EXPECT_FALSE(w.call(QStringLiteral("currentRawValues"), QStringLiteral("NSDictionary")).isValid());
    EXPECT_EQ(platform::monotonicNow(), start);
    ASSERT_EQ(w.notes->names, QStringList{Client::ConnectionFailureNotification});
    EXPECT_EQ(w.notes->failureError()->code, 6);
    EXPECT_EQ(w.client->failure(), RemoteFailure::ConnectionClosed);
    EXPECT_TRUE(w.logged(QStringLiteral("expected NSDictionary but got NSString")));
}

// A call without result completes on whatever the peer sends, and hands none of it on.
TEST(TEVInvocationClient, CallWithoutResultHandsOnNothing)
{
    Wired w;
    w.answer("invoke", platform::KeyedArchiver::archivedDataWithRootObject(values::fromString(QStringLiteral("surprise"))));
    EXPECT_FALSE(w.call(QStringLiteral("rescanForSensors"), QString()).isValid());
    EXPECT_TRUE(w.notes->names.isEmpty());
    EXPECT_TRUE(w.client->connection()->isOpen());
}

TEST(TEVInvocationClient, RefusedCallsSendAndPostNothing)
{
    Wired w;
    w.client->setVendedObjectClass(std::nullopt);
    EXPECT_FALSE(w.call(QStringLiteral("isRemote"), QStringLiteral("NSNumber")).isValid());
    EXPECT_TRUE(w.logged(QStringLiteral("TEVInvocationClient: class of vended object is undefined.")));

    w.client->setVendedObjectClass(Client::VendedObjectClass{QStringLiteral("Agent"), [](const QString& selector) {
                                       return selector != QLatin1String("secret");
                                   }});
    EXPECT_FALSE(w.call(QStringLiteral("secret"), QString()).isValid());
    EXPECT_TRUE(w.logged(QStringLiteral("TEVInvocationClient: -[Agent secret] is not implemented!")));
    EXPECT_FALSE(w.call(QStringLiteral("needsOne:"), QString()).isValid()); // fails validation
    EXPECT_FALSE(w.client->resultOfInvocation(nullptr).isValid());

    EXPECT_EQ(w.client->sequenceNumber(), 1u);
    EXPECT_FALSE(w.client->connection());
    EXPECT_TRUE(w.notes->names.isEmpty());
}

TEST(TEVInvocationClient, InvocationLineCarriesTheArchivedCall)
{
    Wired w;
    std::shared_ptr<TEVServiceInvocation> sent;
    w.peer->onLine = [&](const QByteArray& line) {
        EXPECT_TRUE(line.startsWith("invoke[1]"));
        sent = ScriptedLinePeer::invocationOf(line);
        w.peer->replyObject(1, values::fromBool(true));
    };
    auto call = TEVServiceInvocation::invocation(QStringLiteral("batteryReadoutsAtIndex:"), QStringLiteral("NSNumber"),
                                                 values::fromUnsigned(2));
    EXPECT_EQ(w.client->resultOfInvocation(call), values::fromBool(true));
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->selector(), QStringLiteral("batteryReadoutsAtIndex:"));
    EXPECT_EQ(sent->returnValueClass(), QStringLiteral("NSNumber"));
    EXPECT_EQ(sent->arguments(), QVariantList{values::fromUnsigned(2)});
    EXPECT_FALSE(sent->isOneWay());
}

TEST(TEVInvocationClient, TracesOfItsConnectionAreLogged)
{
    Wired w;
    w.answer("ping", "pong");
    EXPECT_EQ(w.client->pingResponse(), QStringLiteral("pong"));
    EXPECT_TRUE(w.logged(QStringLiteral("TEVInvocationClient: Opening connection\n")));
    EXPECT_EQ(w.client->connection()->name().toULongLong() + 1, Client::nextConnectionName().toULongLong());
}

// Archives written by the original platform's keyed archiver, as a peer on that platform would answer.
TEST(TEVInvocationClient, DecodesRepliesArchivedByTheOriginalPlatform)
{
    {
        Wired w;
        w.answer("invoke", kt::readFile(kt::testDataPath(QStringLiteral("wire/NSKeyedUnarchiver-ArrayTest.plist"))));
        const QVariant value = w.call(QStringLiteral("availableSensorIdentifiers"), QStringLiteral("NSArray"));
        EXPECT_EQ(values::toArray(value).value_or(QVariantList()),
                  (QVariantList{values::fromString(QStringLiteral("baa")), values::fromString(QStringLiteral("baa")),
                                values::fromString(QStringLiteral("black")), values::fromString(QStringLiteral("sheep"))}));
    }
    // A URL, a notification (whose user info is a dictionary) and a set: classes no reply may hold.
    for (const char* name : {"NSKeyedUnarchiver-URLTest.plist", "NSKeyedUnarchiver-NotificationTest.plist",
                             "NSSet-Numbers.archive"}) {
        SCOPED_TRACE(name);
        Wired w;
        w.answer("invoke", kt::readFile(kt::testDataPath(QStringLiteral("wire/") + QLatin1String(name))), true);
        EXPECT_FALSE(w.call(QStringLiteral("knownMachineLimits"), QStringLiteral("NSDictionary")).isValid());
        EXPECT_EQ(w.notes->names, QStringList{Client::ConnectionFailureNotification});
        EXPECT_TRUE(w.logged(QStringLiteral("is not allowed")));
    }
}

} // namespace
