#pragma once
// TEVDataAcquisitionProtocol: the operations of a data source for one computer, in the order of
// AcquisitionSelectors.h. Implemented by the local acquisition core and by the remote proxy; called only on
// the capture thread that owns the source.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <memory>
#include <optional>

class TEVMachineInfo;
class TEVSensorDescription;
class TEVSensorHistory;
class TEVSensorValueConverter;

class TEVDataAcquisitionProtocol {
public:
    virtual ~TEVDataAcquisitionProtocol() = default;

    virtual bool isRemote() const = 0;
    virtual quint64 versionCode() const = 0;
    virtual QString hostName() const = 0; // null: unknown
    virtual bool isLowAccessRatePolicyRecommended() const = 0;
    virtual void setSMCAccessPolicy(qint64 policy) = 0;
    // Seconds; the saver interval is user idle time in seconds, 0 = off.
    virtual void setSMARTUpdateInterval(double interval, quint64 saverInterval) = 0;
    virtual void setLongTermHistoryUpdateInterval(double seconds) = 0;
    virtual void setHistoryAutosaveTimeInterval(quint64 minutes) = 0;
    virtual bool saveLongTermHistoryBuffers() = 0;
    virtual quint64 numberOfAvailableSensors() const = 0;
    virtual void disableLocalAccess(bool disable, const QString& identifier) = 0;
    virtual QStringList availableSensorIdentifiers() const = 0;
    virtual std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString& identifier) const = 0;
    virtual std::shared_ptr<TEVSensorValueConverter>
    sensorValueConverterForIdentifier(const QString& identifier) const = 0;
    // Sensor identifier → signed 64-bit raw value (-1: no value).
    virtual QVariantMap currentRawValues() = 0;
    virtual std::shared_ptr<TEVSensorHistory> longTermSensorHistoryWithIdentifier(const QString& identifier) const = 0;
    virtual quint64 sensorHistoryUpdateCount() const = 0;
    virtual std::shared_ptr<const TEVMachineInfo> machineInfo() const = 0;
    virtual QByteArray dataForMachinePresentationIcon() const = 0; // null: none
    virtual QString smcVersion() const = 0;                        // null: no SMC
    virtual std::optional<QVariantList> systemManagementDescription() const = 0;
    virtual qint64 liveDiskSpindownValue() const = 0; // minutes, 0 when unknown
    virtual std::optional<QVariantMap> knownMachineLimits() const = 0;
    virtual QVariantList blockStorageDeviceDescriptions() const = 0;
    virtual QList<std::shared_ptr<TEVSensorDescription>> completeListOfSensorDescriptions() const = 0;
    virtual quint64 numberOfAvailableBatteryUnits() const = 0;
    virtual std::optional<QVariantMap> batteryReadoutsAtIndex(quint64 index) const = 0;
    virtual QVariantList displayDescriptions() const = 0;
    virtual double smartUpdateInterval() const = 0;
    virtual double longTermUpdateInterval() const = 0;
    virtual quint64 autosaveTimeInterval() const = 0;
    virtual void rescanForSensors() = 0;
    virtual void simulateFailure() = 0;

    // The optional operations: only the local core has them (respondsToOptionalOperations).
    virtual bool respondsToOptionalOperations() const { return false; }
    virtual void run() {}
    virtual void stop() {}
    virtual void setIsRemote(bool) {}
    virtual void setUserInfo(const QVariant&) {}
    virtual QVariant userInfo() const { return {}; }
};
