// The remote acquisition proxy against the loopback test peer serving the simulated portable: the
// connection check, the greeting, the machine description and raw values of the remote core, every proxy
// operation arriving with its selector, argument order and kinds and expected class as the peer decodes
// them, and the deadlines of calls to a peer that answers wrongly or never finishes its reply.

#include "acquisition/AcquisitionSelectors.h"
#include "acquisition/TEVAcquisitionDispatch.h"
#include "acquisition/TEVRemoteKelvaroClient.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorClassLoader.h"
#include "sensors/TEVSensorDescription.h"
#include "tests/support/ProtocolTestPeer.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

using kelvaro::test::PeerReply;
using kelvaro::test::PeerRequest;
using kelvaro::test::ProtocolTestPeer;
namespace values = platform::values;
using K = AcquisitionValueKind;

class RemoteClientPeer : public ::testing::Test {
protected:
    void SetUp() override
    {
        const auto loaded = platform::SimulatedComputer::load(kelvaro::test::sourcePath(QStringLiteral("fixtures/computers/portable")));
        ASSERT_TRUE(loaded.computer) << loaded.error.toStdString();
        platform::SimulatedComputer::setCurrent(loaded.computer);
        TEVSensorClassLoader::loadAll();
        reference = ProtocolTestPeer::simulatedComputerCore()();
        peer = std::make_unique<ProtocolTestPeer>(kelvaro::test::PeerOptions{ProtocolTestPeer::simulatedComputerCore()});
        ASSERT_TRUE(peer->isListening());
        client = TEVRemoteKelvaroClient::createWithHostSpecifier(QStringLiteral("127.0.0.1"), peer->port());
        ASSERT_TRUE(client);
    }
    void TearDown() override
    {
        client.reset();
        peer.reset();
        platform::SimulatedComputer::setCurrent(nullptr);
    }

    PeerRequest lastRequest() const
    {
        const auto requests = peer->requests();
        return requests.isEmpty() ? PeerRequest{} : requests.back();
    }

    std::unique_ptr<TEVDataAcquisitionProtocol> reference; // the same computer, read here
    std::unique_ptr<ProtocolTestPeer> peer;
    std::shared_ptr<TEVRemoteKelvaroClient> client;
};

// The class a proxy call names as its expected result.
QString expectedClass(const AcquisitionSelector& row)
{
    switch (row.result) {
    case K::None:
        return {};
    case K::Object:
        return QLatin1String(row.objectClass);
    default:
        return QStringLiteral("NSNumber");
    }
}

// A sample argument of each kind and the kind the peer reads it back as (the binary property list keeps
// no signedness, so an unsigned number returns as a signed one).
QVariant sampleArgument(K kind, const QString& identifier)
{
    switch (kind) {
    case K::Bool: return values::fromBool(true);
    case K::Count: return values::fromUnsigned(600);
    case K::Signed: return values::fromSigned(-3);
    case K::Double: return values::fromReal(2.5);
    case K::Object: return identifier;
    case K::None: break;
    }
    return {};
}

bool sameValue(const QVariant& a, const QVariant& b)
{
    if (values::isNumber(a) && values::isNumber(b))
        return values::toReal(a) == values::toReal(b);
    return a == b;
}

values::Kind kindOnTheWire(K kind)
{
    switch (kind) {
    case K::Bool: return values::Kind::Bool;
    case K::Count:
    case K::Signed: return values::Kind::Signed;
    case K::Double: return values::Kind::Real;
    default: return values::Kind::String;
    }
}

} // namespace

TEST_F(RemoteClientPeer, ChecksConnectivityAndGreets)
{
    EXPECT_TRUE(client->checkConnectivityWithTimeout(1.0));
    EXPECT_EQ(client->serverVersion(), QStringLiteral("Kelvaro test peer 1.0"));
    EXPECT_EQ(client->pingResponse(), QStringLiteral("pong"));

    const auto requests = peer->requests();
    ASSERT_EQ(requests.size(), 3);
    EXPECT_EQ(requests[0].line, QByteArray("ping[1]"));
    EXPECT_EQ(requests[1].line, QByteArray("hello[2]"));
    EXPECT_EQ(requests[2].line, QByteArray("ping[3]"));
}

TEST_F(RemoteClientPeer, ReadsTheRemoteMachineAndItsRawValues)
{
    const auto machine = client->machineInfo();
    ASSERT_TRUE(machine);
    EXPECT_EQ(machine->systemSerialNumber(), reference->machineInfo()->systemSerialNumber());
    EXPECT_EQ(lastRequest().returnValueClass, QStringLiteral("TEVMachineInfo"));

    const QVariantMap raw = client->currentRawValues();
    EXPECT_EQ(raw.keys(), reference->currentRawValues().keys());
    for (auto it = raw.cbegin(); it != raw.cend(); ++it)
        EXPECT_TRUE(values::isNumber(it.value())) << it.key().toStdString();

    EXPECT_TRUE(client->isRemote()); // the agent's own answer
    EXPECT_EQ(client->numberOfAvailableSensors(), reference->numberOfAvailableSensors());
    EXPECT_EQ(client->availableSensorIdentifiers(), reference->availableSensorIdentifiers());
    const QString first = reference->availableSensorIdentifiers().value(0);
    const auto description = client->sensorDescriptionForIdentifier(first);
    ASSERT_TRUE(description);
    EXPECT_EQ(description->locationIdentifier(), reference->sensorDescriptionForIdentifier(first)->locationIdentifier());
    EXPECT_EQ(description->sensorName(), reference->sensorDescriptionForIdentifier(first)->sensorName());
    EXPECT_TRUE(client->sensorValueConverterForIdentifier(first));
    EXPECT_EQ(client->completeListOfSensorDescriptions().size(), qsizetype(reference->numberOfAvailableSensors()));
}

TEST_F(RemoteClientPeer, EveryOperationTravelsWithItsSelectorBoxingAndClass)
{
    // The core would block its thread for a minute of the shared clock.
    peer->answerSelector(QStringLiteral("simulateFailure"), values::fromBool(true));
    const QString identifier = reference->availableSensorIdentifiers().value(0);
    qsizetype sent = 0;
    for (const AcquisitionSelector& row : acquisitionselectors::table) {
        if (row.optional)
            continue;
        SCOPED_TRACE(row.selector);
        QVariantList arguments;
        for (K kind : row.arguments) {
            if (kind != K::None)
                arguments.append(sampleArgument(kind, identifier));
        }
        const quint64 before = client->sequenceNumber();
        // Through the proxy's own operations, unboxed as the capture thread's mirror does.
        acquisitiondispatch::perform(client.get(), row, arguments);
        if (row.operation == AcquisitionOperation::DisableLocalAccessToSensorWithIdentifier) {
            EXPECT_EQ(client->sequenceNumber(), before);
            continue;
        }
        ++sent;
        ASSERT_EQ(peer->requests().size(), sent);
        const PeerRequest request = lastRequest();
        EXPECT_EQ(request.command, QStringLiteral("invoke"));
        EXPECT_EQ(request.sequenceNumber, before);
        ASSERT_TRUE(request.decoded);
        EXPECT_EQ(request.selector, row.name());
        EXPECT_EQ(request.returnValueClass, expectedClass(row));
        ASSERT_EQ(request.arguments.size(), row.argumentCount());
        for (int i = 0; i < row.argumentCount(); ++i) {
            EXPECT_EQ(request.argumentKinds[i], kindOnTheWire(row.arguments[i])) << i;
            EXPECT_TRUE(sameValue(request.arguments[i], arguments[i])) << i;
        }
    }
    const PeerRequest smart = [&] {
        for (const auto& request : peer->requests()) {
            if (request.selector == QLatin1String("setSMARTUpdateInterval:saverInterval:"))
                return request;
        }
        return PeerRequest{};
    }();
    EXPECT_EQ(smart.arguments, (QVariantList{values::fromReal(2.5), values::fromSigned(600)}));
}

TEST_F(RemoteClientPeer, SilentPeerEndsTheCallWithZeroAndATimeOut)
{
    PeerReply silent = PeerReply::silence();
    silent.advanceClock = std::chrono::minutes(1); // past any response time-out
    peer->script(silent, QStringLiteral("numberOfAvailableSensors"));
    int timeouts = 0;
    auto& centre = platform::NotificationCenter::defaultCenter();
    const auto token = centre.addObserver(TEVInvocationClient::ResponseTimeoutNotification,
                                          client->notificationObject(),
                                          [&](const platform::Notification&) { ++timeouts; });
    EXPECT_EQ(client->numberOfAvailableSensors(), 0u);
    centre.removeObserver(token);
    EXPECT_EQ(timeouts, 1);
    // The connection stays usable.
    EXPECT_EQ(client->numberOfAvailableSensors(), reference->numberOfAvailableSensors());
}

TEST_F(RemoteClientPeer, ArchivedNilCompletesTheCallAtOnce)
{
    peer->answerSelector(QStringLiteral("hostName"), QVariant());
    EXPECT_TRUE(client->hostName().isNull());
    EXPECT_EQ(peer->requests().size(), 1);
}

namespace {

struct FaultyPeerRow {
    const char* name;
    PeerReply reply;
    QString notification;     // what the failure is posted as
    RemoteFailure failure;
    double earliest, latest;  // when the call fails, in response time-outs of the shared clock
};

void PrintTo(const FaultyPeerRow& row, std::ostream* os)
{
    *os << row.name;
}

class RemoteClientFaultyPeer : public RemoteClientPeer, public ::testing::WithParamInterface<FaultyPeerRow> {};

PeerReply trickleWithoutLineFeed()
{
    PeerReply reply;
    reply.kind = PeerReply::Kind::Bytes;
    reply.text = "+[1]" + QByteArray(20000, 'x'); // far longer than the test waits
    reply.trickle = true;
    // 10 s of clock (a response time-out) in 200 bytes: bytes come far more often than that.
    reply.trickleGap = std::chrono::milliseconds(2);
    reply.trickleClockStep = std::chrono::milliseconds(50);
    return reply;
}

} // namespace

// A peer that answers with the wrong type fails the call at once; one that trickles bytes without ever
// ending its line fails it at the call's total deadline, though no gap between its bytes reaches the
// response time-out.
TEST_P(RemoteClientFaultyPeer, FailsTheCallWithinItsDeadline)
{
    const FaultyPeerRow& row = GetParam();
    const double saved = TEVInvocationClient::responseTimeout();
    TEVInvocationClient::setResponseTimeout(10);
    peer->script(row.reply, QStringLiteral("numberOfAvailableSensors"));
    QStringList posted;
    // When the failure is posted, on the clock that only the peer's bytes move: the peer goes on writing
    // after the deadline, so a measure taken after the call returns would count the bytes of however long
    // a loaded machine takes to get back to the test.
    const auto start = platform::monotonicNow();
    auto failedAt = start;
    auto& centre = platform::NotificationCenter::defaultCenter();
    QList<platform::ObserverToken> tokens;
    for (const QString& name : {TEVInvocationClient::ResponseTimeoutNotification, TEVInvocationClient::ConnectionFailureNotification})
        tokens.append(centre.addObserver(name, client->notificationObject(), [&](const platform::Notification& n) {
            posted.append(n.name);
            failedAt = platform::monotonicNow();
        }));
    EXPECT_EQ(client->numberOfAvailableSensors(), 0u);
    const double waited = std::chrono::duration<double>(failedAt - start).count() / 10;
    for (const auto token : tokens)
        centre.removeObserver(token);
    TEVInvocationClient::setResponseTimeout(saved);
    EXPECT_GE(waited, row.earliest);
    EXPECT_LE(waited, row.latest);
    EXPECT_EQ(posted, QStringList{row.notification});
    EXPECT_EQ(client->failure(), row.failure);
}

INSTANTIATE_TEST_SUITE_P(Rows, RemoteClientFaultyPeer, ::testing::Values(
    FaultyPeerRow{"WrongType", PeerReply::answer(values::fromString(QStringLiteral("many"))),
                  TEVInvocationClient::ConnectionFailureNotification, RemoteFailure::ConnectionClosed, 0, 0},
    // Half a time-out of margin past the deadline: the bytes a loaded machine lets the peer write between
    // the deadline and the post.
    FaultyPeerRow{"TrickleWithoutLineFeed", trickleWithoutLineFeed(),
                  TEVInvocationClient::ResponseTimeoutNotification, RemoteFailure::NoAnswer,
                  TEVInvocationClient::TotalDeadlineInTimeouts, TEVInvocationClient::TotalDeadlineInTimeouts + 0.5}),
    [](const auto& info) { return std::string(info.param.name); });
