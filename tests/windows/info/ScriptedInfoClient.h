#pragma once
// A monitored computer whose descriptions a test sets: batteries, displays, drives, SMBIOS records and
// the facts the connection window shows. Main thread only.

#include "acquisition/MonitoringClient.h"
#include "acquisition/TEVMonitoringClient.h"
#include "platform/foundation/NotificationCenter.h"

namespace kelvaro::test {

class ScriptedInfoClient final : public MonitoringClient {
public:
    explicit ScriptedInfoClient(QString serial = QStringLiteral("C02INFO"), bool isRemote = false)
        : serial(std::move(serial))
        , remote(isRemote)
        , info_(MonitorConnectionInfo::createForLocalMachine(QStringLiteral("Kelvaro")))
    {
    }

    QString serial;
    bool remote = false;
    QString name = QStringLiteral("Scripted computer");
    QString model = QStringLiteral("MacBookPro5,1");
    QString host = QStringLiteral("scripted.local");
    quint64 sensors = 2;
    std::optional<QVariantMap> battery;
    QVariantList displays;
    QVariantList drives;
    std::optional<QVariantList> smbios;
    QByteArray picture;
    int driveCalls = 0;

    QString clientIdentification() const override { return TEVMonitoringClient::clientIdentifierFromSerialNumber(serial); }
    QString machineSerialNumber() override { return serial; }
    QString machineName() override { return name; }
    std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString&) override { return nullptr; }
    std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString&) override { return nullptr; }
    qint64 cachedRawValueWithIdentifier(const QString&) override { return -1; }
    void disableLocalAccess(bool, const QString&) override {}
    const std::shared_ptr<MonitorConnectionInfo>& connectionInfo() const override { return info_; }
    bool hasActiveConnection() const override { return true; }
    bool run() override { return true; }
    void shutdown() override {}
    bool isRemote() override { return remote; }
    quint64 versionCode() override { return 1360; }
    QString hostName() override { return host; }
    QString machineModelCode() override { return model; }
    std::shared_ptr<const TEVMachineInfo> machineInfo() override { return nullptr; }
    QByteArray dataForMachinePresentationIcon() override { return picture; }
    quint64 numberOfAvailableSensors() override { return sensors; }
    quint64 numberOfAvailableBatteryUnits() override { return battery ? 1 : 0; }
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
    std::optional<QVariantList> systemManagementDescription() override { return smbios; }
    QVariantList blockStorageDeviceDescriptions() override { ++driveCalls; return drives; }
    QVariantList displayDescriptions() override { return displays; }
    std::optional<QVariantMap> batteryReadoutsAtIndex(quint64 index) override { return index == 0 ? battery : std::nullopt; }

private:
    std::shared_ptr<MonitorConnectionInfo> info_;
};

} // namespace kelvaro::test
