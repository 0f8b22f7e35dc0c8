#pragma once
// TEVDataAcquisitionCore: the data source of the computer the program runs on. Owns the sensor objects
// (keyed by identifier), reads them as one keyed set of raw values, keeps one long-term history per sensor
// with its history and autosave timers, and saves them in the history file. Made, used and destroyed on one
// capture thread; no lock.

#include "acquisition/TEVDataAcquisitionProtocol.h"
#include "acquisition/TEVSensorHistoryFile.h"
#include "platform/foundation/RunLoop.h"
#include "sensors/TEVBatteryInfo.h"
#include "sensors/TEVSensor.h"

#include <QMap>
#include <QSet>

#include <functional>
#include <memory>
#include <optional>

class SensorLimitsManager;
class TEVMachineInfo;

class TEVDataAcquisitionCore final : public TEVDataAcquisitionProtocol {
public:
    static constexpr quint64 LongTermHistoryValueCount = 10080;
    static constexpr quint64 ProtocolVersionCode = 1360;

    // What the mount-change rescan needs of one mounted file system.
    struct MountedFileSystem {
        QString fileSystemTypeName; // "msdos", "ext4", ...
        QString mountSourcePath;    // "/dev/sdb1", "tmpfs", "server:/export", ...
    };
    // File-system identifier text → file system; nothing when the listing failed.
    using MountTable = QMap<QString, MountedFileSystem>;
    using MountLister = std::function<std::optional<MountTable>()>;

    // Where the core takes the computer's parts from; local() reads the computer the program runs on.
    struct Sources {
        std::function<TEVSensorList()> allSensors;
        std::function<TEVBatteryInfo::BatteryList()> allBatteries;
        std::shared_ptr<const TEVMachineInfo> machineInfo;
        std::function<std::shared_ptr<SensorLimitsManager>()> makeLimitsManager;
        MountLister mountedFileSystems; // null: mounts are not watched
        // Changes when a battery pack comes or goes; null: batteries are not watched.
        std::function<QByteArray()> batterySignature;
        static Sources local();
    };

    TEVDataAcquisitionCore();
    explicit TEVDataAcquisitionCore(Sources sources);
    ~TEVDataAcquisitionCore() override;
    TEVDataAcquisitionCore(const TEVDataAcquisitionCore&) = delete;
    TEVDataAcquisitionCore& operator=(const TEVDataAcquisitionCore&) = delete;

    bool isRemote() const override { return isRemote_; }
    quint64 versionCode() const override { return ProtocolVersionCode; }
    QString hostName() const override;
    bool isLowAccessRatePolicyRecommended() const override;
    void setSMCAccessPolicy(qint64 policy) override;
    void setSMARTUpdateInterval(double interval, quint64 saverInterval) override;
    void setLongTermHistoryUpdateInterval(double seconds) override;
    void setHistoryAutosaveTimeInterval(quint64 minutes) override;
    bool saveLongTermHistoryBuffers() override;
    // Why the last save of the local histories in this process wrote nothing (the file and the reason);
    // null after one that succeeded. Any thread: the main thread reads it after a failed save call, which
    // the protocol answers only with NO.
    static QString lastHistorySaveFailure();
    quint64 numberOfAvailableSensors() const override { return quint64(sensorDictionary_.size()); }
    void disableLocalAccess(bool disable, const QString& identifier) override;
    QStringList availableSensorIdentifiers() const override { return sensorDictionary_.keys(); }
    std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString& identifier) const override;
    std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString& identifier) const override;
    QVariantMap currentRawValues() override;
    std::shared_ptr<TEVSensorHistory> longTermSensorHistoryWithIdentifier(const QString& identifier) const override;
    quint64 sensorHistoryUpdateCount() const override { return historyUpdateCount_; }
    std::shared_ptr<const TEVMachineInfo> machineInfo() const override { return machineInfo_; }
    QByteArray dataForMachinePresentationIcon() const override;
    QString smcVersion() const override;
    std::optional<QVariantList> systemManagementDescription() const override;
    qint64 liveDiskSpindownValue() const override;
    std::optional<QVariantMap> knownMachineLimits() const override;
    QVariantList blockStorageDeviceDescriptions() const override;
    QList<std::shared_ptr<TEVSensorDescription>> completeListOfSensorDescriptions() const override;
    quint64 numberOfAvailableBatteryUnits() const override;
    std::optional<QVariantMap> batteryReadoutsAtIndex(quint64 index) const override;
    QVariantList displayDescriptions() const override;
    double smartUpdateInterval() const override { return smartUpdateInterval_; }
    double longTermUpdateInterval() const override { return longTermUpdateInterval_; }
    quint64 autosaveTimeInterval() const override { return autosaveTimeInterval_; }
    void rescanForSensors() override;
    // Logs, blocks the calling thread for 60 s of the shared clock, logs again and returns.
    void simulateFailure() override;

    bool respondsToOptionalOperations() const override { return true; }
    void run() override;
    void stop() override;
    void setIsRemote(bool remote) override { isRemote_ = remote; }
    void setUserInfo(const QVariant& userInfo) override { userInfo_ = userInfo; }
    QVariant userInfo() const override { return userInfo_; }

    // --- Long-term side (internal to the protocol, public for the capture thread's tests) -------------
    bool loadLongTermHistoryBuffers();
    void synchronizeHistoryBuffersWithSensors();
    void updateLongTermHistory();
    bool mountStatusMayHaveCausedSensorChange() const;
    // The fixed type names, or a source that is a disk partition or whole disk (not a loop, RAM or
    // compressed-RAM device, and not a network or virtual file system).
    static bool fileSystemCouldAffectSMARTSensor(const MountedFileSystem* fileSystem);
    // <application support>/<userInfo>/SensorHistory.tevshf; null when userInfo is no usable folder name.
    QString historyFilePath() const;

    const QMap<QString, std::shared_ptr<TEVSensor>>& sensorDictionary() const { return sensorDictionary_; }
    const QSet<QString>& blockedSensorIDs() const { return blockedSensorIDs_; }
    const QMap<QString, std::shared_ptr<TEVSensorHistory>>& historyBuffers() const { return historyBuffers_; }
    const platform::Timer& historyTimer() const { return historyTimer_; }
    const platform::Timer& autosaveTimer() const { return autosaveTimer_; }
    quint64 smartSaverInterval() const { return smartSaverInterval_; }

private:
    void readjustHistoryTimer();
    void readjustAutosaveTimer();
    void pushSMARTSettings();
    TEVBatteryInfo::BatteryList batteryList() const;
    // The history file for userInfo; null when loading and saving are off (remote, no application name).
    std::unique_ptr<TEVSensorHistoryFile> historyFile() const;

    Sources sources_;
    bool isRemote_ = false;
    QVariant userInfo_;
    QMap<QString, std::shared_ptr<TEVSensor>> sensorDictionary_;
    QSet<QString> blockedSensorIDs_;
    std::shared_ptr<const TEVMachineInfo> machineInfo_;
    std::shared_ptr<SensorLimitsManager> limitsManager_;
    MountTable mountDictionary_;
    MountTable previousMounts_;
    QByteArray batterySignature_;
    QMap<QString, std::shared_ptr<TEVSensorHistory>> historyBuffers_;
    platform::Timer historyTimer_;
    quint64 historyUpdateCount_ = 0;
    platform::Timer autosaveTimer_;
    double smartUpdateInterval_ = 60.0;
    double longTermUpdateInterval_ = 60.0;
    quint64 smartSaverInterval_ = 0;
    quint64 autosaveTimeInterval_ = 0;
};
