#pragma once
// A monitoring client that answers straight from an acquisition centre on the test's thread: the local
// core of a simulated computer, or the remote proxy talking to the loopback test peer. Lets the windows
// fill from a real computer description without a capture thread. Main thread only.

#include "acquisition/TEVDataAcquisitionProtocol.h"
#include "acquisition/TEVMonitoringClient.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"
#include "tests/support/QuietMonitoringClient.h"

#include <memory>

namespace kelvaro::test {

class CoreBackedClient final : public QuietMonitoringClient {
public:
    explicit CoreBackedClient(std::shared_ptr<TEVDataAcquisitionProtocol> centre)
        : centre_(std::move(centre))
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

    bool isRemote() override { return centre_->isRemote(); }
    quint64 versionCode() override { return centre_->versionCode(); }
    QString hostName() override { return centre_->hostName(); }
    QString machineModelCode() override { return model_; }
    std::shared_ptr<const TEVMachineInfo> machineInfo() override { return centre_->machineInfo(); }
    QByteArray dataForMachinePresentationIcon() override { return centre_->dataForMachinePresentationIcon(); }
    quint64 numberOfAvailableSensors() override { return centre_->numberOfAvailableSensors(); }
    quint64 numberOfAvailableBatteryUnits() override { return centre_->numberOfAvailableBatteryUnits(); }
    QStringList availableSensorIdentifiers() override { return centre_->availableSensorIdentifiers(); }
    std::optional<QVariantMap> knownMachineLimits() override { return centre_->knownMachineLimits(); }
    std::optional<QVariantList> systemManagementDescription() override { return centre_->systemManagementDescription(); }
    QVariantList blockStorageDeviceDescriptions() override { return centre_->blockStorageDeviceDescriptions(); }
    QVariantList displayDescriptions() override { return centre_->displayDescriptions(); }
    std::optional<QVariantMap> batteryReadoutsAtIndex(quint64 index) override { return centre_->batteryReadoutsAtIndex(index); }

private:
    std::shared_ptr<TEVDataAcquisitionProtocol> centre_;
    QString serial_;
    QString name_;
    QString model_;
};

} // namespace kelvaro::test
