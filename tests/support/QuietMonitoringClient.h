#pragma once
// A monitoring client that is connected, ready and quiet: no sensors, no histories, no descriptions, every
// setting ignored. Test clients derive from it and answer only what their test asks. Main thread only.

#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/MonitoringClient.h"

namespace kelvaro::test {

class QuietMonitoringClient : public MonitoringClient {
public:
    explicit QuietMonitoringClient(std::shared_ptr<MonitorConnectionInfo> info =
                                       MonitorConnectionInfo::createForLocalMachine(QStringLiteral("Kelvaro")))
        : info_(std::move(info))
    {
    }

    QString clientIdentification() const override { return QStringLiteral("C02QUIET"); }
    QString machineSerialNumber() override { return QStringLiteral("C02QUIET"); }
    QString machineName() override { return QStringLiteral("Quiet computer"); }
    std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString&) override { return nullptr; }
    std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString&) override { return nullptr; }
    qint64 cachedRawValueWithIdentifier(const QString&) override { return -1; }
    void disableLocalAccess(bool, const QString&) override {}
    const std::shared_ptr<MonitorConnectionInfo>& connectionInfo() const override { return info_; }
    bool hasActiveConnection() const override { return true; }
    bool run() override { return true; }
    void shutdown() override {}
    bool isRemote() override { return false; }
    quint64 versionCode() override { return 1360; }
    QString hostName() override { return {}; }
    QString machineModelCode() override { return {}; }
    std::shared_ptr<const TEVMachineInfo> machineInfo() override { return nullptr; }
    QByteArray dataForMachinePresentationIcon() override { return {}; }
    quint64 numberOfAvailableSensors() override { return 0; }
    quint64 numberOfAvailableBatteryUnits() override { return 0; }
    QStringList availableSensorIdentifiers() override { return {}; }
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
    std::optional<QVariantMap> knownMachineLimits() override { return QVariantMap(); }
    std::optional<QVariantList> systemManagementDescription() override { return std::nullopt; }
    QVariantList blockStorageDeviceDescriptions() override { return {}; }
    QVariantList displayDescriptions() override { return {}; }
    std::optional<QVariantMap> batteryReadoutsAtIndex(quint64) override { return std::nullopt; }

private:
    std::shared_ptr<MonitorConnectionInfo> info_;
};

} // namespace kelvaro::test
