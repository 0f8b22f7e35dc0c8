#pragma once
// ProtocolTestPeer: a stand-in for the remote agent, for tests only. It listens on 127.0.0.1, reads the
// line protocol with our own framing, answers "hello", "ping", "bye" and archived invocations from an
// acquisition centre of its own, records every request line, and follows per-test scripts (delays, byte
// trickles, error, status and malformed lines, silence, closing). The test owns it; the sockets, the centre
// and all answering live on the peer's own thread, so the test's thread may block in nested waits.

#include "acquisition/TEVDataAcquisitionProtocol.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Values.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QVariant>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace kelvaro::test {

// What the peer made of one request line.
struct PeerRequest {
    QByteArray line;                      // the unescaped line as received
    QString command;                      // the bytes before "[" ("hello", "ping", "bye", "invoke", ...)
    std::optional<quint64> sequenceNumber; // none when the brackets did not hold a decimal number
    // Invocations only: whether the archive decoded, and what it held.
    bool decoded = false;
    QString selector;
    QVariantList arguments;
    // The kinds as the archive gives them back: the binary property list keeps no signedness, so an
    // unsigned argument below 2^63 reads back as Signed.
    QList<platform::values::Kind> argumentKinds;
    QString returnValueClass; // empty = a call without result
    bool isOneWay = false;
    int connection = 0; // 1 for the first accepted connection, 2 for the next, ...
};

// How the peer answers one request.
struct PeerReply {
    enum class Kind {
        Answer,  // the normal "+" reply (or `value` when set)
        Silence, // no reply at all
        Error,   // "-[N]" followed by `text`
        Raw,     // the line `text` (framed) instead of a reply, e.g. a malformed one
        Bytes,   // the bytes `text` exactly as given, unframed: e.g. a reply that never ends its line
        Close,   // close the connection instead of answering
    };

    Kind kind = Kind::Answer;
    QByteArray text;
    // Answer: this result instead of the centre's; an invalid QVariant sends an archived null object.
    std::optional<QVariant> value;
    // Framed lines sent first, e.g. "*[*]alive" or "*[*]zzz".
    QList<QByteArray> linesBefore;
    // Real time between reading the request and answering. Real time keeps a test's manual clock still,
    // so a delayed reply never turns into a client time-out by accident.
    std::chrono::milliseconds delay{0};
    // Moved on the shared manual clock when the request arrives (nothing with a system clock): lets a
    // silent peer drive the client's time-out while the client's thread is blocked in its wait.
    platform::Clock::Duration advanceClock{0};
    // Writes the reply line one byte per write, `trickleGap` of real time apart.
    bool trickle = false;
    std::chrono::milliseconds trickleGap{2};
    // Moved on the shared manual clock before each trickled byte: the client sees the bytes this far apart
    // on its clock however late the peer's thread runs on a loaded machine.
    platform::Clock::Duration trickleClockStep{0};

    static PeerReply answer(const QVariant& value);
    static PeerReply silence();
    static PeerReply error(const QByteArray& text);
    static PeerReply raw(const QByteArray& line);
    static PeerReply close();
};

// Called on the peer's thread; the centre is used and destroyed there only.
using PeerCentreFactory = std::function<std::unique_ptr<TEVDataAcquisitionProtocol>()>;

// How the peer answers the question which computer it serves, as agents that are broken or are none do.
enum class PeerIdentity {
    Own,            // the served computer's description
    None,           // an archived null object: no description at all
    NoSerialNumber, // a description of a computer (named kNamelessComputer) without a serial number
    SleepsFirst,    // "*[*]zzz" before the served computer's description
};
inline const QString kNamelessComputer = QStringLiteral("Computer without serial number");

struct PeerOptions {
    PeerCentreFactory makeCentre; // null: every invocation gets the empty result of its operation
    QByteArray version = "Kelvaro test peer 1.0"; // the "hello" reply
    QByteArray pingText = "pong";
    quint16 port = 0; // 0: an ephemeral port
};

class ProtocolTestPeer {
public:
    using CentreFactory = PeerCentreFactory;
    using Options = PeerOptions;

    // Starts the thread and listens on 127.0.0.1 at an ephemeral port; returns when it listens and the
    // centre exists. Check isListening().
    explicit ProtocolTestPeer(Options options = {});
    ~ProtocolTestPeer();
    ProtocolTestPeer(const ProtocolTestPeer&) = delete;
    ProtocolTestPeer& operator=(const ProtocolTestPeer&) = delete;

    // A core of the currently selected simulated computer (with its own machine description), serving
    // as a remote agent's core does: no long-term histories, the presentation icon offered.
    static CentreFactory simulatedComputerCore();

    bool isListening() const;
    QHostAddress address() const { return QHostAddress(QHostAddress::LocalHost); }
    quint16 port() const;

    // The next request whose command word or invocation selector is `match` (any request when empty) is
    // answered by `reply`; scripts are used once, in the order given.
    void script(PeerReply reply, const QString& match = {});
    // Every later invocation of `selector` is answered with `value` (invalid = nil) instead of the centre.
    void answerSelector(const QString& selector, const QVariant& value);
    // From the next question on, the served computer is described as `identity` says.
    void identifyAs(PeerIdentity identity);

    // Act on the newest connection from the peer's thread, in the order called.
    void sendLine(const QByteArray& payload);  // framed and escaped
    void sendBytes(const QByteArray& bytes);   // exactly as given, no framing
    void closeConnection();
    // Stops the peer's thread as a stopped process stops (kill -STOP): it reads, writes and answers
    // nothing while its connections stay open; resume() (or destruction) lets it go on.
    void pause();
    void resume();

    QList<PeerRequest> requests() const;
    // The requests so far whose command word or invocation selector is `match`, counted on the peer's side: a
    // test that polls while the peer answers copies no list the peer's thread appends to.
    qsizetype requestCount(const QString& match) const;
    int connectionCount() const;   // connections accepted so far
    int openConnectionCount() const;
    // Runs the calling thread's events until `count` requests arrived; false after `realTimeout`.
    bool waitForRequests(qsizetype count, std::chrono::milliseconds realTimeout = std::chrono::seconds(30)) const; // a hang guard

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace kelvaro::test
