#include "acquisition/TEVRemoteKelvaroClient.h"

#include "acquisition/TEVSensorHistory.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"
#include "tests/acquisition/AcquisitionTestSupport.h"
#include "tests/acquisition/ScriptedLinePeer.h"

#include "acquisition/TEVInvocationTarget.h"
#include "platform/foundation/ClassRegistry.h"

#include <gtest/gtest.h>

namespace {

using namespace wiretest;
namespace kt = kelvaro::test;
using Proxy = TEVRemoteKelvaroClient;
using O = AcquisitionOperation;

struct Remote {
    Remote()
        : peer(ScriptedLinePeer::create())
        , proxy(Proxy::createWithHostSpecifier(QStringLiteral("lab.example"), 4242))
    {
        proxy->setStreamPairSource(peer->source());
        notes = std::make_unique<Notifications>(*proxy);
    }
    // Answers every invocation with `reply`, recording what was sent.
    void answer(const QVariant& reply)
    {
        peer->onLine = [this, reply](const QByteArray& line) {
            sent.push_back(ScriptedLinePeer::invocationOf(line));
            peer->replyObject(ScriptedLinePeer::numberOf(line), reply);
        };
    }
    std::shared_ptr<ScriptedLinePeer> peer;
    std::shared_ptr<Proxy> proxy;
    std::unique_ptr<Notifications> notes;
    std::vector<std::shared_ptr<TEVServiceInvocation>> sent;
};

// How a value travels as a number or object; unsigned and signed integers are one kind on the wire.
QString kindOf(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool:
        return QStringLiteral("bool");
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return QStringLiteral("integer");
    case QMetaType::Double:
        return QStringLiteral("real");
    default:
        return platform::ClassRegistry::shared().isKindOf(TEVInvocationTarget::classNameOfValue(value),
                                                          QStringLiteral("NSString"))
            ? QStringLiteral("string")
            : TEVInvocationTarget::classNameOfValue(value);
    }
}

std::shared_ptr<TEVSensorDescription> description(const QString& identifier)
{
    acqtest::FakeSensor sensor(identifier, 40);
    return TEVSensorDescription::createForSensor(&sensor);
}

QString describe(const std::shared_ptr<const platform::Archivable>& object)
{
    return object ? object->className() : QStringLiteral("nil");
}

// Every operation of the protocol: what the proxy method sends, and what it makes of a reply.
TEST(TEVRemoteKelvaroClient, EveryOperationSendsItsSelectorArgumentsAndExpectedClass)
{
    const QVariant dictionary = values::fromDictionary({{QStringLiteral("TC0P"), values::fromSigned(-1)}});
    const QVariant array = values::fromArray({values::fromString(QStringLiteral("a")), values::fromString(QStringLiteral("b"))});
    struct Row {
        O operation;
        std::function<QVariant(Proxy&)> call; // the proxy's answer, summarised
        QVariantList arguments;               // expected on the wire
        QVariant reply;
        QVariant expected;
    };
    const QString id = QStringLiteral("TC0P");
    const Row rows[] = {
        {O::IsRemote, [](Proxy& p) { return QVariant(p.isRemote()); }, {}, values::fromBool(true), true},
        {O::VersionCode, [](Proxy& p) { return QVariant(p.versionCode()); }, {}, values::fromUnsigned(1360), quint64(1360)},
        {O::HostName, [](Proxy& p) { return QVariant(p.hostName()); }, {}, values::fromString("lab"), QStringLiteral("lab")},
        {O::IsLowAccessRatePolicyRecommended, [](Proxy& p) { return QVariant(p.isLowAccessRatePolicyRecommended()); }, {},
         values::fromBool(true), true},
        {O::SetSMCAccessPolicy, [](Proxy& p) { p.setSMCAccessPolicy(-2); return QVariant(); }, {values::fromSigned(-2)},
         values::fromBool(true), {}},
        {O::SetSMARTUpdateIntervalSaverInterval, [](Proxy& p) { p.setSMARTUpdateInterval(2.5, 30); return QVariant(); },
         {values::fromReal(2.5), values::fromUnsigned(30)}, values::fromBool(true), {}},
        {O::SetLongTermHistoryUpdateInterval, [](Proxy& p) { p.setLongTermHistoryUpdateInterval(60); return QVariant(); },
         {values::fromReal(60)}, values::fromBool(true), {}},
        {O::SetHistoryAutosaveTimeInterval, [](Proxy& p) { p.setHistoryAutosaveTimeInterval(5); return QVariant(); },
         {values::fromUnsigned(5)}, values::fromBool(true), {}},
        {O::SaveLongTermHistoryBuffers, [](Proxy& p) { return QVariant(p.saveLongTermHistoryBuffers()); }, {},
         values::fromBool(true), true},
        {O::NumberOfAvailableSensors, [](Proxy& p) { return QVariant(p.numberOfAvailableSensors()); }, {},
         values::fromUnsigned(12), quint64(12)},
        {O::AvailableSensorIdentifiers, [](Proxy& p) { return QVariant(p.availableSensorIdentifiers()); }, {}, array,
         QStringList{QStringLiteral("a"), QStringLiteral("b")}},
        {O::SensorDescriptionForIdentifier,
         [id](Proxy& p) { return QVariant(p.sensorDescriptionForIdentifier(id)->localIdentifier()); },
         {values::fromString(id)}, values::fromObject(description(id)), id},
        {O::SensorValueConverterForIdentifier,
         [id](Proxy& p) { return QVariant(describe(p.sensorValueConverterForIdentifier(id))); }, {values::fromString(id)},
         values::fromObject(std::make_shared<TEVSensorValueConverter>()), QStringLiteral("TEVSensorValueConverter")},
        {O::CurrentRawValues, [](Proxy& p) { return QVariant(p.currentRawValues()); }, {}, dictionary, dictionary},
        {O::LongTermSensorHistoryWithIdentifier,
         [id](Proxy& p) { return QVariant(p.longTermSensorHistoryWithIdentifier(id)->valueCount()); },
         {values::fromString(id)}, values::fromObject(TEVSensorHistory::create(10, 60)), quint64(10)},
        {O::SensorHistoryUpdateCount, [](Proxy& p) { return QVariant(p.sensorHistoryUpdateCount()); }, {},
         values::fromUnsigned(7), quint64(7)},
        {O::MachineInfo, [](Proxy& p) { return QVariant(describe(p.machineInfo())); }, {},
         values::fromObject(std::const_pointer_cast<TEVMachineInfo>(acqtest::machineWithSerial(QStringLiteral("C02X")))),
         QStringLiteral("TEVMachineInfo")},
        {O::DataForMachinePresentationIcon, [](Proxy& p) { return QVariant(p.dataForMachinePresentationIcon()); }, {},
         values::fromData("\x01\x02"), QByteArray("\x01\x02")},
        {O::SmcVersion, [](Proxy& p) { return QVariant(p.smcVersion()); }, {}, values::fromString("1.7f"), QStringLiteral("1.7f")},
        {O::SystemManagementDescription, [](Proxy& p) { return QVariant(p.systemManagementDescription().value()); }, {},
         array, array},
        {O::LiveDiskSpindownValue, [](Proxy& p) { return QVariant(p.liveDiskSpindownValue()); }, {}, values::fromSigned(-3),
         qint64(-3)},
        {O::KnownMachineLimits, [](Proxy& p) { return QVariant(p.knownMachineLimits().value()); }, {}, dictionary, dictionary},
        {O::BlockStorageDeviceDescriptions, [](Proxy& p) { return QVariant(p.blockStorageDeviceDescriptions()); }, {}, array,
         array},
        {O::CompleteListOfSensorDescriptions,
         [](Proxy& p) {
             QStringList ids;
             for (const auto& d : p.completeListOfSensorDescriptions())
                 ids.append(d->localIdentifier());
             return QVariant(ids);
         },
         {}, values::fromArray({values::fromObject(description(QStringLiteral("A"))), values::fromObject(description(QStringLiteral("B")))}),
         QStringList{QStringLiteral("A"), QStringLiteral("B")}},
        {O::NumberOfAvailableBatteryUnits, [](Proxy& p) { return QVariant(p.numberOfAvailableBatteryUnits()); }, {},
         values::fromUnsigned(2), quint64(2)},
        {O::BatteryReadoutsAtIndex, [](Proxy& p) { return QVariant(p.batteryReadoutsAtIndex(1).value()); },
         {values::fromUnsigned(1)}, dictionary, dictionary},
        {O::DisplayDescriptions, [](Proxy& p) { return QVariant(p.displayDescriptions()); }, {}, array, array},
        {O::SmartUpdateInterval, [](Proxy& p) { return QVariant(p.smartUpdateInterval()); }, {}, values::fromReal(300.5), 300.5},
        {O::LongTermUpdateInterval, [](Proxy& p) { return QVariant(p.longTermUpdateInterval()); }, {}, values::fromReal(60),
         60.0},
        {O::AutosaveTimeInterval, [](Proxy& p) { return QVariant(p.autosaveTimeInterval()); }, {}, values::fromUnsigned(5),
         quint64(5)},
        {O::RescanForSensors, [](Proxy& p) { p.rescanForSensors(); return QVariant(); }, {}, values::fromBool(true), {}},
        {O::SimulateFailure, [](Proxy& p) { p.simulateFailure(); return QVariant(); }, {}, values::fromBool(true), {}},
    };
    int covered = 0;
    for (const Row& row : rows) {
        const AcquisitionSelector& entry = acquisitionselectors::of(row.operation);
        SCOPED_TRACE(entry.selector);
        Remote r;
        r.answer(row.reply);
        EXPECT_EQ(row.call(*r.proxy), row.expected);
        ASSERT_EQ(r.sent.size(), 1u);
        ASSERT_TRUE(r.sent[0]);
        const TEVServiceInvocation& sent = *r.sent[0];
        EXPECT_EQ(sent.selector(), entry.name());
        const QString expectedClass = entry.result == AcquisitionValueKind::Object ? QString::fromLatin1(entry.objectClass)
            : entry.result == AcquisitionValueKind::None                          ? QString()
                                                                                  : QStringLiteral("NSNumber");
        EXPECT_EQ(sent.returnValueClass(), expectedClass);
        EXPECT_FALSE(sent.isOneWay());
        ASSERT_EQ(sent.arguments().size(), row.arguments.size());
        ASSERT_EQ(int(row.arguments.size()), entry.argumentCount());
        for (qsizetype i = 0; i < row.arguments.size(); ++i) {
            EXPECT_EQ(kindOf(sent.arguments()[i]), kindOf(row.arguments[i])) << i;
            EXPECT_EQ(sent.arguments()[i].toString(), row.arguments[i].toString()) << i;
        }
        EXPECT_TRUE(r.notes->names.isEmpty());
        ++covered;
    }
    int remoteRows = 0;
    for (const AcquisitionSelector& entry : acquisitionselectors::table)
        remoteRows += !entry.optional && entry.operation != O::DisableLocalAccessToSensorWithIdentifier;
    EXPECT_EQ(covered, remoteRows);
}

TEST(TEVRemoteKelvaroClient, WithoutReplyOperationsAnswerNothingAndPostTheTimeOut)
{
    Remote r;
    r.peer->onLine = [](const QByteArray&) { during([] { kt::clock()->advanceSeconds(3); }); };
    EXPECT_FALSE(r.proxy->isRemote());
    EXPECT_EQ(r.proxy->numberOfAvailableSensors(), 0u);
    EXPECT_EQ(r.proxy->smartUpdateInterval(), 0.0);
    EXPECT_TRUE(r.proxy->hostName().isNull());
    EXPECT_FALSE(r.proxy->knownMachineLimits());
    EXPECT_EQ(r.notes->count(TEVInvocationClient::ResponseTimeoutNotification), 5);
}

TEST(TEVRemoteKelvaroClient, ReplyOfAnotherClassAnswersNothingAtOnce)
{
    Remote r;
    r.answer(values::fromString(QStringLiteral("not a description")));
    EXPECT_FALSE(r.proxy->machineInfo());
    EXPECT_EQ(r.notes->names, QStringList{TEVInvocationClient::ConnectionFailureNotification});
}

TEST(TEVRemoteKelvaroClient, DisableLocalAccessSendsNothing)
{
    Remote r;
    r.answer(values::fromBool(true));
    r.proxy->disableLocalAccess(true, QStringLiteral("TC0P"));
    EXPECT_EQ(r.proxy->sequenceNumber(), 1u);
    EXPECT_FALSE(r.proxy->connection());
    EXPECT_TRUE(r.peer->requests.isEmpty());
}

TEST(TEVRemoteKelvaroClient, SMARTIntervalsTravelAsDoubleThenUnsigned)
{
    Remote r;
    r.answer(values::fromBool(true));
    r.proxy->setSMARTUpdateInterval(1800, 600);
    ASSERT_EQ(r.sent.size(), 1u);
    const QVariantList arguments = r.sent[0]->arguments();
    ASSERT_EQ(arguments.size(), 2);
    EXPECT_EQ(arguments[0].typeId(), QMetaType::Double);
    EXPECT_EQ(arguments[0].toDouble(), 1800.0);
    EXPECT_EQ(kindOf(arguments[1]), QStringLiteral("integer"));
    EXPECT_EQ(values::toUnsigned(arguments[1]), 600u);
}

TEST(TEVRemoteKelvaroClient, OnlyOperationsOfTheCoreAreSent)
{
    Remote r;
    EXPECT_EQ(r.proxy->vendedObjectClass()->name, QStringLiteral("TEVDataAcquisitionCore"));
    EXPECT_FALSE(r.proxy->resultOfInvocation(TEVServiceInvocation::invocation(QStringLiteral("eraseDisk"), QString())).isValid());
    EXPECT_TRUE(kt::log().contains(QStringLiteral("TEVRemoteKelvaroClient: -[TEVDataAcquisitionCore eraseDisk] is not implemented!")));
    EXPECT_TRUE(r.peer->requests.isEmpty());
    for (const AcquisitionSelector& entry : acquisitionselectors::table)
        EXPECT_TRUE(r.proxy->vendedObjectClass()->instancesRespondToSelector(entry.name())) << entry.selector;
}

TEST(TEVRemoteKelvaroClient, ConnectsWithLargeInputBufferAndTracesNothing)
{
    Remote r;
    r.answer(values::fromBool(true));
    EXPECT_TRUE(r.proxy->isRemote());
    ASSERT_TRUE(r.proxy->connection());
    EXPECT_EQ(r.proxy->connection()->inputBufferCapacity(), 2097152u);
    EXPECT_EQ(r.proxy->connection()->outputBufferCapacity(), TEVRemoteCommandConnection::DefaultBufferCapacity);
    for (const QString& line : kt::log().lines())
        EXPECT_FALSE(line.startsWith(QStringLiteral("TEVRemoteKelvaroClient:"))) << line.toStdString();
}

// A reply bigger than the pipe between the peer and us arrives in pieces and decodes whole.
TEST(TEVRemoteKelvaroClient, LargeReplyArrivesWhole)
{
    Remote r;
    QVariantMap raw;
    for (int i = 0; i < 5000; ++i)
        raw.insert(QStringLiteral("SENSOR-%1").arg(i), values::fromSigned(i));
    r.answer(values::fromDictionary(raw));
    EXPECT_EQ(r.proxy->currentRawValues().size(), 5000);
}

} // namespace
