#pragma once
// A monitored computer whose descriptions a test sets: batteries, displays, drives, SMBIOS records and
// the facts the connection window shows. Main thread only.

#include "acquisition/TEVMonitoringClient.h"
#include "platform/foundation/NotificationCenter.h"
#include "tests/support/QuietMonitoringClient.h"

namespace kelvaro::test {

class ScriptedInfoClient final : public QuietMonitoringClient {
public:
    explicit ScriptedInfoClient(QString serial = QStringLiteral("C02INFO"), bool isRemote = false,
                                std::shared_ptr<MonitorConnectionInfo> info = MonitorConnectionInfo::createForLocalMachine(QStringLiteral("Kelvaro")))
        : QuietMonitoringClient(std::move(info))
        , serial(std::move(serial))
        , remote(isRemote)
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
    bool isRemote() override { return remote; }
    QString hostName() override { return host; }
    QString machineModelCode() override { return model; }
    QByteArray dataForMachinePresentationIcon() override { return picture; }
    quint64 numberOfAvailableSensors() override { return sensors; }
    quint64 numberOfAvailableBatteryUnits() override { return battery ? 1 : 0; }
    std::optional<QVariantList> systemManagementDescription() override { return smbios; }
    QVariantList blockStorageDeviceDescriptions() override { ++driveCalls; return drives; }
    QVariantList displayDescriptions() override { return displays; }
    std::optional<QVariantMap> batteryReadoutsAtIndex(quint64 index) override { return index == 0 ? battery : std::nullopt; }
};

} // namespace kelvaro::test
