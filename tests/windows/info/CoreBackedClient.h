#pragma once
// A monitoring client that answers straight from an acquisition centre on the test's thread: the local
// core of a simulated computer, or the remote proxy talking to the loopback test peer. Lets the windows
// fill from a real computer description without a capture thread. Main thread only.

#include "acquisition/MonitoringClient.h"
#include "acquisition/TEVDataAcquisitionProtocol.h"
#include "acquisition/TEVMonitoringClient.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"

#include <memory>

namespace kelvaro::test {

class CoreBackedClient final : public MonitoringClient {
public:
    explicit CoreBackedClient(std::shared_ptr<TEVDataAcquisitionProtocol> centre)
        : centre_(std::move(centre))
        , info_(MonitorConnectionInfo::createForLocalMachine(QStringLiteral("Kelvaro")))
    {
        const auto machine = centre_->machineInfo();
        serial_ = machine ? machine->systemSerialNumber() : QString();
        name_ = machine ? machine->computerName() : QString();
        model_ = machine ? machine->systemModelCode() : QString();
    }

    QString clientIdentification() const override { return TEVMonitoringClient::clientIdentifierFromSerialNumber(serial_); }
    QString machineSerialNumber() override { return serial_; }
    QString machineName() override { return name_; }
    std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString& id) override
    {
        return centre_->sensorDescriptionForIdentifier(id);
    }
    std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString& id) override
    {
        return centre_->sensorValueConverterForIdentifier(id);
    }
    qint64 cachedRawValueWithIdentifier(const QString& id) override
    {
        const auto raw = platform::values::toSigned(centre_->currentRawValues().value(id));
        return raw.value_or(-1);
    }
    void disableLocalAccess(bool, const QString&) override {}

    const std::shared_ptr<MonitorConnectionInfo>& connectionInfo() const override { return info_; }
    bool hasActiveConnection() const override { return true; }
    bool run() override { return true; }
    void shutdown() override {}
    bool isRemote() override { return centre_->isRemote(); }
    quint64 versionCode() override { return centre_->versionCode(); }
    QString hostName() override { return centre_->hostName(); }
    QString machineModelCode() override { return model_; }
    std::shared_ptr<const TEVMachineInfo> machineInfo() override { return centre_->machineInfo(); }
    QByteArray dataForMachinePresentationIcon() override { return centre_->dataForMachinePresentationIcon(); }
    quint64 numberOfAvailableSensors() override { return centre_->numberOfAvailableSensors(); }
    quint64 numberOfAvailableBatteryUnits() override { return centre_->numberOfAvailableBatteryUnits(); }
    QStringList availableSensorIdentifiers() override { return centre_->availableSensorIdentifiers(); }
    void rescanForSensors() override {}
    bool hasDetectedConfigurationChange() override { return false; }
    void acknowledgeConfigurationChange() override {}
    QByteArray rawShortTermHistoryDataWithIdentifier(const QString&, const QDateTime&) override { return {}; }
    QByteArray rawLongTermHistoryDataWithIdentifier(const QString&, const QDateTime&) override { return {}; }
    double shortTermHistoryTimeDeltaWithIdentifier(const QString&) override { return 2.0; }
    double longTermHistoryTimeDeltaWithIdentifier(const QString&) override { return 60.0; }
    void clearShortTermHistories() override {}
    bool saveLongTermHistoryBuffers() override { return false; }
    void setMainUpdateInterval(double) override {}
    void setSMCAccessPolicy(qint64) override {}
    void setSMARTUpdateInterval(double, quint64) override {}
    void setHistoryAutosaveTimeInterval(quint64) override {}
    bool isLowAccessRatePolicyRecommended() override { return false; }
    qint64 liveDiskSpindownValue() override { return 0; }
    std::optional<QVariantMap> knownMachineLimits() override { return centre_->knownMachineLimits(); }
    std::optional<QVariantList> systemManagementDescription() override { return centre_->systemManagementDescription(); }
    QVariantList blockStorageDeviceDescriptions() override { return centre_->blockStorageDeviceDescriptions(); }
    QVariantList displayDescriptions() override { return centre_->displayDescriptions(); }
    std::optional<QVariantMap> batteryReadoutsAtIndex(quint64 index) override { return centre_->batteryReadoutsAtIndex(index); }

private:
    std::shared_ptr<TEVDataAcquisitionProtocol> centre_;
    std::shared_ptr<MonitorConnectionInfo> info_;
    QString serial_;
    QString name_;
    QString model_;
};

} // namespace kelvaro::test
