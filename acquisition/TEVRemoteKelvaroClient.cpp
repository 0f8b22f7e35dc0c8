#include "acquisition/TEVRemoteKelvaroClient.h"

#include "acquisition/TEVSensorHistory.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"

TEVRemoteKelvaroClient::TEVRemoteKelvaroClient() = default;

std::shared_ptr<TEVRemoteKelvaroClient> TEVRemoteKelvaroClient::createWithNetService(const platform::NetService& service)
{
    return makeWithNetService<TEVRemoteKelvaroClient>(service);
}

std::shared_ptr<TEVRemoteKelvaroClient> TEVRemoteKelvaroClient::createWithHostSpecifier(const QString& host, quint64 port)
{
    return makeWithHostSpecifier<TEVRemoteKelvaroClient>(host, port);
}

QVariant TEVRemoteKelvaroClient::perform(const AcquisitionSelector&, const QVariantList&) { return {}; }
QVariant TEVRemoteKelvaroClient::call(AcquisitionOperation, const QVariantList&) const { return {}; }
bool TEVRemoteKelvaroClient::isRemote() const { return false; }
quint64 TEVRemoteKelvaroClient::versionCode() const { return 0; }
QString TEVRemoteKelvaroClient::hostName() const { return {}; }
bool TEVRemoteKelvaroClient::isLowAccessRatePolicyRecommended() const { return false; }
void TEVRemoteKelvaroClient::setSMCAccessPolicy(qint64) {}
void TEVRemoteKelvaroClient::setSMARTUpdateInterval(double, quint64) {}
void TEVRemoteKelvaroClient::setLongTermHistoryUpdateInterval(double) {}
void TEVRemoteKelvaroClient::setHistoryAutosaveTimeInterval(quint64) {}
bool TEVRemoteKelvaroClient::saveLongTermHistoryBuffers() { return false; }
quint64 TEVRemoteKelvaroClient::numberOfAvailableSensors() const { return 0; }
void TEVRemoteKelvaroClient::disableLocalAccess(bool, const QString&) {}
QStringList TEVRemoteKelvaroClient::availableSensorIdentifiers() const { return {}; }
std::shared_ptr<TEVSensorDescription> TEVRemoteKelvaroClient::sensorDescriptionForIdentifier(const QString&) const { return {}; }
std::shared_ptr<TEVSensorValueConverter> TEVRemoteKelvaroClient::sensorValueConverterForIdentifier(const QString&) const { return {}; }
QVariantMap TEVRemoteKelvaroClient::currentRawValues() { return {}; }
std::shared_ptr<TEVSensorHistory> TEVRemoteKelvaroClient::longTermSensorHistoryWithIdentifier(const QString&) const { return {}; }
quint64 TEVRemoteKelvaroClient::sensorHistoryUpdateCount() const { return 0; }
std::shared_ptr<const TEVMachineInfo> TEVRemoteKelvaroClient::machineInfo() const { return {}; }
QByteArray TEVRemoteKelvaroClient::dataForMachinePresentationIcon() const { return {}; }
QString TEVRemoteKelvaroClient::smcVersion() const { return {}; }
std::optional<QVariantList> TEVRemoteKelvaroClient::systemManagementDescription() const { return {}; }
qint64 TEVRemoteKelvaroClient::liveDiskSpindownValue() const { return 0; }
std::optional<QVariantMap> TEVRemoteKelvaroClient::knownMachineLimits() const { return {}; }
QVariantList TEVRemoteKelvaroClient::blockStorageDeviceDescriptions() const { return {}; }
QList<std::shared_ptr<TEVSensorDescription>> TEVRemoteKelvaroClient::completeListOfSensorDescriptions() const { return {}; }
quint64 TEVRemoteKelvaroClient::numberOfAvailableBatteryUnits() const { return 0; }
std::optional<QVariantMap> TEVRemoteKelvaroClient::batteryReadoutsAtIndex(quint64) const { return {}; }
QVariantList TEVRemoteKelvaroClient::displayDescriptions() const { return {}; }
double TEVRemoteKelvaroClient::smartUpdateInterval() const { return 0; }
double TEVRemoteKelvaroClient::longTermUpdateInterval() const { return 0; }
quint64 TEVRemoteKelvaroClient::autosaveTimeInterval() const { return 0; }
void TEVRemoteKelvaroClient::rescanForSensors() {}
void TEVRemoteKelvaroClient::simulateFailure() {}
void TEVRemoteKelvaroClient::connectionLogWithFormat(TEVRemoteCommandConnection&, const QString&) {}
