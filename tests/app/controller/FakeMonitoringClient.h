#pragma once
// A scripted monitored computer for the controller's tests: its facts, its sensors (temperatures "T…" and
// fans "F…", raw values in hundredths), and the reports a real client posts (ready, lost, failed, sleep).
// Records the calls that matter. Main thread only.

#include "acquisition/TEVMonitoringClient.h"
#include "platform/foundation/NotificationCenter.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensor.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"
#include "tests/support/QuietMonitoringClient.h"

#include <QHash>
#include <QStringList>

namespace kelvaro::test {

class FakeMonitoringClient final : public QuietMonitoringClient {
public:
    explicit FakeMonitoringClient(std::shared_ptr<MonitorConnectionInfo> info, QString serial = QStringLiteral("C02FAKE"))
        : QuietMonitoringClient(std::move(info))
        , serial(std::move(serial))
    {
    }

    // --- Script -------------------------------------------------------------------------------------
    QString serial;
    QString name = QStringLiteral("Fake computer");
    QString model = QStringLiteral("MacBookPro5,1");
    bool remote = false;
    quint64 version = 1360;
    QStringList sensors = {QStringLiteral("TC0D"), QStringLiteral("F0Ac")};
    QHash<QString, qint64> raw;
    bool configurationChanged = false;
    bool historiesSaved = true;
    RemoteFailure failure = RemoteFailure::None;
    // Calls that would wait for a real client's thread, made before it reported ready.
    int callsBeforeReady = 0;
    int runs = 0;
    int shutdowns = 0;

    void becomeReady(const QString& identification = {})
    {
        identification_ = identification.isNull() ? TEVMonitoringClient::clientIdentifierFromSerialNumber(serial) : identification;
        post(isReadyNotification);
    }
    void loseConnection() { post(lostConnectionNotification); }
    void fail() { post(failedNotification); }
    void enterSleepMode() { post(enteredSleepModeNotification); }

    // --- MonitoringClient ----------------------------------------------------------------------------
    QString clientIdentification() const override { return identification_; }
    RemoteFailure remoteFailure() const override { return failure; }
    QString machineSerialNumber() override { return counted(serial); }
    QString machineName() override { return counted(name); }
    std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString& id) override
    {
        if (!counted(sensors.contains(id)))
            return nullptr;
        TEVSensor sensor;
        sensor.setUniqueIdentifier(id);
        sensor.setLocationIdentifier(QStringLiteral("Location ") + id);
        sensor.setQuantityType(id.startsWith(QLatin1Char('F')) ? 6 : 1);
        sensor.setSensorType(1);
        sensor.setPrecision(0.25, 0.5);
        return sensor.configurationDescription();
    }
    std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString& id) override
    {
        if (!counted(sensors.contains(id)))
            return nullptr;
        auto converter = std::make_shared<TEVSensorValueConverter>();
        converter->setConversionFunctionType(TEVSensorValueConverter::LinearFactor);
        converter->setLinearFactor(0.01);
        return converter;
    }
    qint64 cachedRawValueWithIdentifier(const QString& id) override { return raw.value(id, 4200); }
    void disableLocalAccess(bool, const QString&) override { counted(0); }

    bool hasActiveConnection() const override { return shutdowns == 0; }
    bool run() override { return ++runs > 0; }
    void shutdown() override { ++shutdowns; }
    bool isRemote() override { return counted(remote); }
    quint64 versionCode() override { return counted(version); }
    QString hostName() override { return counted(name); }
    QString machineModelCode() override { return counted(model); }
    std::shared_ptr<const TEVMachineInfo> machineInfo() override { return nullptr; }
    QByteArray dataForMachinePresentationIcon() override { return {}; }
    quint64 numberOfAvailableSensors() override { return counted(quint64(sensors.size())); }
    quint64 numberOfAvailableBatteryUnits() override { return 0; }
    QStringList availableSensorIdentifiers() override { return counted(sensors); }
    void rescanForSensors() override {}
    bool hasDetectedConfigurationChange() override { return counted(configurationChanged); }
    void acknowledgeConfigurationChange() override { configurationChanged = false; }
    bool saveLongTermHistoryBuffers() override { return !remote && historiesSaved; }

private:
    template <typename T>
    T counted(T value)
    {
        if (identification_.isEmpty())
            ++callsBeforeReady;
        return value;
    }
    void post(const QString& name) { platform::NotificationCenter::defaultCenter().post(name, notificationIdentity()); }

    QString identification_;
};

} // namespace kelvaro::test
