#pragma once
// MonitoringClient: what the application holds of one monitored computer, the operations of the client
// facade. TEVMonitoringClient implements it over its capture thread; the application's tests script fakes.
// Main thread only. Every call but hasActiveConnection, clientIdentification, connectionInfo, the per-tick
// facts (cached raw values, known limits, configuration change) and, once the client is ready, its facts
// (serial number, name, model, remote or not) may wait for the computer; a client without a capture
// thread answers nil, NO or 0 at once. A client of a remote computer never lets the main thread wait for
// it longer than a tick's budget: it answers from what readiness and the ticks brought, sends commands
// without waiting, and shuts down without asking.
//
// Notifications about a client (ready, lost, failed, sleep, should-disconnect) carry as object the identity
// of its MonitoringClient subobject, so observers compare it with the pointer they hold.

#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/RemoteFailure.h"
#include "acquisition/TEVSensorSource.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

class TEVMachineInfo;

class MonitoringClient : public TEVSensorSource {
public:
    // Posted on the main thread in the default centre, with the client as object.
    static inline const QString isReadyNotification = QStringLiteral("TEVMonitoringClientIsReady");
    static inline const QString failedNotification = QStringLiteral("TEVMonitoringClientFailed");
    static inline const QString lostConnectionNotification = QStringLiteral("TEVMonitoringClientLostConnection");
    static inline const QString enteredSleepModeNotification = QStringLiteral("TEVMonitoringClientEnteredSleepMode");
    // Posted by the windows, with the client as object, when the user asks to disconnect it.
    static inline const QString shouldDisconnectNotification = QStringLiteral("TEVMonitoringClientShouldDisconnect");

    // The identity notifications about this client carry.
    const void* notificationIdentity() const { return static_cast<const MonitoringClient*>(this); }

    virtual const std::shared_ptr<MonitorConnectionInfo>& connectionInfo() const = 0;
    virtual bool hasActiveConnection() const = 0;

    virtual bool run() = 0;
    virtual void shutdown() = 0;
    // Stops the sampling and keeps the client's other operations working (a last save of its histories).
    virtual void pauseCapturing() {}
    // Why a remote computer failed, once it has; None otherwise. Never waits.
    virtual RemoteFailure remoteFailure() const { return RemoteFailure::None; }

    // NO until the acquisition side is set up.
    virtual bool isRemote() = 0;
    virtual quint64 versionCode() = 0;
    virtual QString hostName() = 0;
    virtual QString machineModelCode() = 0;
    virtual std::shared_ptr<const TEVMachineInfo> machineInfo() = 0;
    virtual QByteArray dataForMachinePresentationIcon() = 0;

    virtual quint64 numberOfAvailableSensors() = 0;
    virtual quint64 numberOfAvailableBatteryUnits() = 0;
    // Plain sensor identifiers, never the "remote." form.
    virtual QStringList availableSensorIdentifiers() = 0;
    virtual void rescanForSensors() = 0;
    // Never waits: read from the copy of the last tick.
    virtual bool hasDetectedConfigurationChange() = 0;
    virtual void acknowledgeConfigurationChange() = 0;

    // Oldest first, signed 64-bit values, -1 for no value; empty when there is none.
    virtual QByteArray rawShortTermHistoryDataWithIdentifier(const QString& identifier, const QDateTime& date) = 0;
    virtual QByteArray rawLongTermHistoryDataWithIdentifier(const QString& identifier, const QDateTime& date) = 0;
    virtual double shortTermHistoryTimeDeltaWithIdentifier(const QString& identifier) = 0;
    virtual double longTermHistoryTimeDeltaWithIdentifier(const QString& identifier) = 0;
    virtual void clearShortTermHistories() = 0;
    // NO for a remote client, without asking.
    virtual bool saveLongTermHistoryBuffers() = 0;

    virtual void setMainUpdateInterval(double seconds) = 0;
    virtual void setSMCAccessPolicy(qint64 policy) = 0;
    virtual void setSMARTUpdateInterval(double interval, quint64 saverInterval) = 0;
    virtual void setHistoryAutosaveTimeInterval(quint64 minutes) = 0;
    virtual bool isLowAccessRatePolicyRecommended() = 0;
    virtual qint64 liveDiskSpindownValue() = 0;

    // Never waits: the limits as the capture thread last fetched them (at the start of capturing and on
    // every change of the sensor set).
    virtual std::optional<QVariantMap> knownMachineLimits() = 0;
    virtual std::optional<QVariantList> systemManagementDescription() = 0;
    virtual QVariantList blockStorageDeviceDescriptions() = 0;
    virtual QVariantList displayDescriptions() = 0;
    virtual std::optional<QVariantMap> batteryReadoutsAtIndex(quint64 index) = 0;

protected:
    MonitoringClient() = default;
};
