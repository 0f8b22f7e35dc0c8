#include "acquisition/TEVRemoteKelvaroClient.h"

#include "acquisition/TEVAcquisitionDispatch.h"
#include "acquisition/TEVSensorHistory.h"
#include "acquisition/TEVServiceInvocation.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"

namespace values = platform::values;
using K = AcquisitionValueKind;
using O = AcquisitionOperation;

namespace {

template <class T>
std::shared_ptr<T> objectOf(const QVariant& value)
{
    return std::dynamic_pointer_cast<T>(values::toObject(value));
}

QVariantList arrayOf(const QVariant& value)
{
    return values::toArray(value).value_or(QVariantList());
}

} // namespace

TEVRemoteKelvaroClient::TEVRemoteKelvaroClient()
{
    // Every operation of the protocol table is one the local core answers.
    setVendedObjectClass(VendedObjectClass{QStringLiteral("TEVDataAcquisitionCore"), [](const QString& selector) {
                                               return acquisitionselectors::find(selector) != nullptr;
                                           }});
    setInputBufferSize(InputBufferSize);
    QStringList classes;
    for (const AcquisitionSelector& row : acquisitionselectors::table) {
        if (row.objectClass && !QLatin1String(row.objectClass).startsWith(QLatin1String("NS"))
            && !classes.contains(QLatin1String(row.objectClass)))
            classes.append(QLatin1String(row.objectClass));
    }
    setAllowedReplyClasses(classes); // a list of sensor descriptions holds such objects inside an array
}

std::shared_ptr<TEVRemoteKelvaroClient> TEVRemoteKelvaroClient::createWithNetService(const platform::NetService& service)
{
    return makeWithNetService<TEVRemoteKelvaroClient>(service);
}

std::shared_ptr<TEVRemoteKelvaroClient> TEVRemoteKelvaroClient::createWithHostSpecifier(const QString& host, quint64 port)
{
    return makeWithHostSpecifier<TEVRemoteKelvaroClient>(host, port);
}

QVariant TEVRemoteKelvaroClient::perform(const AcquisitionSelector& row, const QVariantList& arguments)
{
    QString expected;
    if (row.result == K::Object)
        expected = QLatin1String(row.objectClass);
    else if (row.result != K::None)
        expected = QStringLiteral("NSNumber");
    auto invocation = TEVServiceInvocation::invocation(row.name(), expected);
    for (int i = 0; i < row.argumentCount(); ++i)
        invocation->addArgument(acquisitiondispatch::box(row.arguments[i], arguments.value(i)));
    return resultOfInvocation(invocation);
}

QVariant TEVRemoteKelvaroClient::call(AcquisitionOperation operation, const QVariantList& arguments) const
{
    return const_cast<TEVRemoteKelvaroClient*>(this)->perform(acquisitionselectors::of(operation), arguments);
}

bool TEVRemoteKelvaroClient::isRemote() const
{
    return values::toBool(call(O::IsRemote)).value_or(false);
}

quint64 TEVRemoteKelvaroClient::versionCode() const
{
    return values::toUnsigned(call(O::VersionCode)).value_or(0);
}

QString TEVRemoteKelvaroClient::hostName() const
{
    return values::toString(call(O::HostName)).value_or(QString());
}

bool TEVRemoteKelvaroClient::isLowAccessRatePolicyRecommended() const
{
    return values::toBool(call(O::IsLowAccessRatePolicyRecommended)).value_or(false);
}

void TEVRemoteKelvaroClient::setSMCAccessPolicy(qint64 policy)
{
    call(O::SetSMCAccessPolicy, {values::fromSigned(policy)});
}

void TEVRemoteKelvaroClient::setSMARTUpdateInterval(double interval, quint64 saverInterval)
{
    call(O::SetSMARTUpdateIntervalSaverInterval, {values::fromReal(interval), values::fromUnsigned(saverInterval)});
}

void TEVRemoteKelvaroClient::setLongTermHistoryUpdateInterval(double seconds)
{
    call(O::SetLongTermHistoryUpdateInterval, {values::fromReal(seconds)});
}

void TEVRemoteKelvaroClient::setHistoryAutosaveTimeInterval(quint64 minutes)
{
    call(O::SetHistoryAutosaveTimeInterval, {values::fromUnsigned(minutes)});
}

bool TEVRemoteKelvaroClient::saveLongTermHistoryBuffers()
{
    return values::toBool(call(O::SaveLongTermHistoryBuffers)).value_or(false);
}

quint64 TEVRemoteKelvaroClient::numberOfAvailableSensors() const
{
    return values::toUnsigned(call(O::NumberOfAvailableSensors)).value_or(0);
}

void TEVRemoteKelvaroClient::disableLocalAccess(bool, const QString&) {}

QStringList TEVRemoteKelvaroClient::availableSensorIdentifiers() const
{
    QStringList identifiers;
    for (const QVariant& item : arrayOf(call(O::AvailableSensorIdentifiers))) {
        if (auto identifier = values::toString(item))
            identifiers.append(*identifier);
    }
    return identifiers;
}

std::shared_ptr<TEVSensorDescription> TEVRemoteKelvaroClient::sensorDescriptionForIdentifier(const QString& identifier) const
{
    return objectOf<TEVSensorDescription>(call(O::SensorDescriptionForIdentifier, {values::fromString(identifier)}));
}

std::shared_ptr<TEVSensorValueConverter>
TEVRemoteKelvaroClient::sensorValueConverterForIdentifier(const QString& identifier) const
{
    return objectOf<TEVSensorValueConverter>(call(O::SensorValueConverterForIdentifier, {values::fromString(identifier)}));
}

QVariantMap TEVRemoteKelvaroClient::currentRawValues()
{
    return values::toDictionary(call(O::CurrentRawValues)).value_or(QVariantMap());
}

std::shared_ptr<TEVSensorHistory> TEVRemoteKelvaroClient::longTermSensorHistoryWithIdentifier(const QString& identifier) const
{
    return objectOf<TEVSensorHistory>(call(O::LongTermSensorHistoryWithIdentifier, {values::fromString(identifier)}));
}

quint64 TEVRemoteKelvaroClient::sensorHistoryUpdateCount() const
{
    return values::toUnsigned(call(O::SensorHistoryUpdateCount)).value_or(0);
}

std::shared_ptr<const TEVMachineInfo> TEVRemoteKelvaroClient::machineInfo() const
{
    return objectOf<TEVMachineInfo>(call(O::MachineInfo));
}

QByteArray TEVRemoteKelvaroClient::dataForMachinePresentationIcon() const
{
    return values::toData(call(O::DataForMachinePresentationIcon)).value_or(QByteArray());
}

QString TEVRemoteKelvaroClient::smcVersion() const
{
    return values::toString(call(O::SmcVersion)).value_or(QString());
}

std::optional<QVariantList> TEVRemoteKelvaroClient::systemManagementDescription() const
{
    return values::toArray(call(O::SystemManagementDescription));
}

qint64 TEVRemoteKelvaroClient::liveDiskSpindownValue() const
{
    return values::toSigned(call(O::LiveDiskSpindownValue)).value_or(0);
}

std::optional<QVariantMap> TEVRemoteKelvaroClient::knownMachineLimits() const
{
    return values::toDictionary(call(O::KnownMachineLimits));
}

QVariantList TEVRemoteKelvaroClient::blockStorageDeviceDescriptions() const
{
    return arrayOf(call(O::BlockStorageDeviceDescriptions));
}

QList<std::shared_ptr<TEVSensorDescription>> TEVRemoteKelvaroClient::completeListOfSensorDescriptions() const
{
    QList<std::shared_ptr<TEVSensorDescription>> descriptions;
    for (const QVariant& item : arrayOf(call(O::CompleteListOfSensorDescriptions))) {
        if (auto description = objectOf<TEVSensorDescription>(item))
            descriptions.append(description);
    }
    return descriptions;
}

quint64 TEVRemoteKelvaroClient::numberOfAvailableBatteryUnits() const
{
    return values::toUnsigned(call(O::NumberOfAvailableBatteryUnits)).value_or(0);
}

std::optional<QVariantMap> TEVRemoteKelvaroClient::batteryReadoutsAtIndex(quint64 index) const
{
    return values::toDictionary(call(O::BatteryReadoutsAtIndex, {values::fromUnsigned(index)}));
}

QVariantList TEVRemoteKelvaroClient::displayDescriptions() const
{
    return arrayOf(call(O::DisplayDescriptions));
}

double TEVRemoteKelvaroClient::smartUpdateInterval() const
{
    return values::toReal(call(O::SmartUpdateInterval)).value_or(0.0);
}

double TEVRemoteKelvaroClient::longTermUpdateInterval() const
{
    return values::toReal(call(O::LongTermUpdateInterval)).value_or(0.0);
}

quint64 TEVRemoteKelvaroClient::autosaveTimeInterval() const
{
    return values::toUnsigned(call(O::AutosaveTimeInterval)).value_or(0);
}

void TEVRemoteKelvaroClient::rescanForSensors()
{
    call(O::RescanForSensors);
}

void TEVRemoteKelvaroClient::simulateFailure()
{
    call(O::SimulateFailure);
}

void TEVRemoteKelvaroClient::connectionLogWithFormat(TEVRemoteCommandConnection&, const QString&) {}
