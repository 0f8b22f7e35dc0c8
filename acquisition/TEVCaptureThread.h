#pragma once
// TEVCaptureThread: the worker thread of one monitoring client. It owns the acquisition centre of one
// computer (the local core, or the remote proxy TEVRemoteKelvaroClient), samples it on a repeating timer
// into short-term histories and a raw-value cache, and answers the client's invocations. Owned by its
// client; every field below is touched only on the capture thread itself, so nothing is locked, but for
// the raw-value hand-over, which locks itself.

#include "acquisition/RemoteFailure.h"
#include "acquisition/TEVThreadedServer.h"
#include "platform/foundation/NotificationCenter.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class MonitorConnectionInfo;
class TEVCaptureThread;
class TEVDataAcquisitionProtocol;
class TEVMachineInfo;
class TEVRemoteKelvaroClient;
class TEVSensorDescription;
class TEVSensorHistory;
class TEVSensorValueConverter;

// What a remote computer tells of one sensor; it never changes while the sensor exists.
struct TEVCaptureSensorFacts {
    std::shared_ptr<TEVSensorDescription> description;
    std::shared_ptr<TEVSensorValueConverter> converter;
};

// What the capture thread tells with readiness, asked on its own thread so that the main thread never waits
// for them: the computer's facts, and for a remote computer its sensor list as it is then (the sensors'
// descriptions follow with the first tick).
struct TEVCaptureReadyFacts {
    QString serialNumber; // null: none
    QString name;
    QString modelCode;
    QString hostName;
    bool remote = false;
    quint64 versionCode = 0;
    std::shared_ptr<const TEVMachineInfo> machineInfo;
    QStringList sensorIdentifiers; // remote computers only
    bool complete = false; // the centre answered all of them
};

// The client side (the monitoring client), told on the main thread through queued calls, never waited for.
class TEVCaptureThreadClient : public TEVThreadedServerClient {
public:
    virtual void captureThreadHasBecomeReadyUsingSerialNumber(const QString& serialNumber) = 0; // null: none
    // What the thread sends; owners that need only the serial number keep the call above.
    virtual void captureThreadHasBecomeReady(const TEVCaptureReadyFacts& facts)
    {
        captureThreadHasBecomeReadyUsingSerialNumber(facts.serialNumber);
    }
    virtual void captureThreadHasLostConnectionToAcqusitionCenter(const std::shared_ptr<TEVCaptureThread>& thread) = 0;
    virtual void captureThreadDidDetectSleepMode(const std::shared_ptr<TEVCaptureThread>& thread) = 0;
    // A newer copy of the raw-value cache waits in the thread's rawValueHandOver().
    virtual void captureThreadDidHandOverRawValues() = 0;
};

class TEVCaptureThread final : public TEVThreadedServer {
public:
    static constexpr quint64 numberOfCapturedValuesForShortTermHistory = 380;
    static constexpr double defaultMainUpdateInterval = 2.0; // seconds
    static constexpr double minimumMainUpdateInterval = 1.0; // seconds
    // Seconds. The response time-out is class-wide in the proxy; each remote connection sets it.
    static constexpr double defaultRemoteResponseTimeout = 10.0;
    static constexpr double connectivityCheckTimeout = 1.0;

    // The thread's own operations, by the selector the client invokes. The centre's operations are
    // invoked by their names in AcquisitionSelectors.h.
    static inline const QString createLocalAcquisitionCenterSelector =
        QStringLiteral("createLocalAcquisitionCenterForApplicationNamed:");
    static inline const QString connectToRemoteAcquisitionCenterSelector =
        QStringLiteral("connectToRemoteAcquisitionCenterUsingInfo:");
    static inline const QString startCapturingSelector = QStringLiteral("startCapturing");
    static inline const QString stopCapturingSelector = QStringLiteral("stopCapturing");
    static inline const QString pauseCapturingSelector = QStringLiteral("pauseCapturing");
    static inline const QString setMainUpdateIntervalSelector = QStringLiteral("setMainUpdateInterval:");
    static inline const QString mainUpdateIntervalSelector = QStringLiteral("mainUpdateInterval");
    static inline const QString rawShortTermHistoryDataSelector =
        QStringLiteral("rawShortTermHistoryDataWithIdentifier:betweenNowAndDate:");
    static inline const QString rawLongTermHistoryDataSelector =
        QStringLiteral("rawLongTermHistoryDataWithIdentifier:betweenNowAndDate:");
    static inline const QString shortTermHistoryTimeDeltaSelector =
        QStringLiteral("shortTermHistoryTimeDeltaWithIdentifier:");
    static inline const QString longTermHistoryTimeDeltaSelector =
        QStringLiteral("longTermHistoryTimeDeltaWithIdentifier:");
    static inline const QString cachedRawValueSelector = QStringLiteral("cachedRawValueWithIdentifier:");
    static inline const QString clearShortTermHistoriesSelector = QStringLiteral("clearShortTermHistories");
    static inline const QString machineModelCodeSelector = QStringLiteral("machineModelCode");
    static inline const QString machineSerialNumberSelector = QStringLiteral("machineSerialNumber");
    static inline const QString machineNameSelector = QStringLiteral("machineName");
    static inline const QString currentCPUFrequencySelector = QStringLiteral("currentCPUFrequency");
    static inline const QString hasDetectedConfigurationChangeSelector =
        QStringLiteral("hasDetectedConfigurationChange");
    static inline const QString acknowledgeConfigurationChangeSelector =
        QStringLiteral("acknowledgeConfigurationChange");

    // The battery facts a battery window shows: the number of units and the readouts of the first.
    struct Batteries {
        quint64 units = 0;
        std::optional<QVariantMap> first;
    };
    // Facts fetched on every tick only while the main thread keeps asking for them (its windows are open).
    enum Watch : unsigned { WatchBatteries = 1, WatchDisplays = 2, WatchDrives = 4 };
    // Ticks a watch lasts after the main thread last asked.
    static constexpr int watchedTicks = 3;

    // What the main thread reads on its ticks without asking the thread: the raw values of the last tick,
    // the computer's known limits (fetched again whenever the sensor set changes), how often that set
    // changed, and the watched facts.
    struct TickCopy {
        QHash<QString, qint64> rawValues;
        std::optional<QVariantMap> knownMachineLimits; // nothing until the centre answered
        quint64 configurationChanges = 0;
        std::optional<Batteries> batteries;   // nothing while not watched
        std::optional<QVariantList> displays; // likewise
        std::optional<QVariantList> drives;   // likewise
        // A remote computer's sensors, refreshed with the limits, and what its system window shows, fetched
        // once; all empty for the local computer.
        QStringList sensorIdentifiers;
        QHash<QString, TEVCaptureSensorFacts> sensors;
        std::optional<QVariantList> systemManagement;
        QByteArray presentationIcon;
    };

    // The latest tick copy on its way to the main thread: put after every tick, taken by the client when
    // told and after each of its calls, so that a value read after a call is never older than the call's
    // answer. A copy shares the cache's data until the next tick writes. Also carries why the remote
    // centre failed, set before the client hears of the failure.
    class RawValueHandOver {
    public:
        // True when no copy was waiting, so the client has to be told.
        bool put(const TickCopy& copy);
        // Nothing when no copy came since the last take.
        std::optional<TickCopy> take();
        void setFailure(RemoteFailure failure);
        RemoteFailure failure();
        // Main thread: asks for the Watch facts in the next ticks' copies. Capture thread: takes the asks.
        void watch(unsigned watches);
        unsigned takeWatches();

    private:
        std::mutex mutex_;
        std::optional<TickCopy> waiting_; // guarded by mutex_
        unsigned watches_ = 0;            // guarded by mutex_
        RemoteFailure failure_ = RemoteFailure::None; // guarded by mutex_
    };

    // Null for a null client. The thread is created, not started (run()).
    static std::shared_ptr<TEVCaptureThread> create(const std::weak_ptr<TEVCaptureThreadClient>& client);
    ~TEVCaptureThread() override;

    QString className() const override { return QStringLiteral("TEVCaptureThread"); }

    // Any thread; takes effect at the next remote connection (tests shorten it).
    void setRemoteResponseTimeout(double seconds) { remoteResponseTimeout_ = seconds; }
    double remoteResponseTimeout() const { return remoteResponseTimeout_; }

    // --- Operations, performed on the capture thread -----------------------------------------------
    bool createLocalAcquisitionCenterForApplicationNamed(const QString& applicationName);
    bool connectToRemoteAcquisitionCenterUsingInfo(const std::shared_ptr<const MonitorConnectionInfo>& info);
    void startCapturing();
    // Stops the sampling and drops the centre.
    void stopCapturing();
    // Stops the sampling only: the centre goes on answering (a last save of its histories).
    void pauseCapturing();
    // Seconds; below the minimum or equal to the current value it is ignored.
    void setMainUpdateInterval(double seconds);
    double mainUpdateInterval() const { return mainUpdateInterval_; }
    // Null without a history (or for a date the history cannot answer).
    QByteArray rawShortTermHistoryDataWithIdentifier(const QString& identifier, const QDateTime& date) const;
    QByteArray rawLongTermHistoryDataWithIdentifier(const QString& identifier, const QDateTime& date);
    // 1.0 without a history.
    double shortTermHistoryTimeDeltaWithIdentifier(const QString& identifier) const;
    double longTermHistoryTimeDeltaWithIdentifier(const QString& identifier);
    // The boxed signed raw value; nil for an unknown identifier, the number 0 for a null one.
    QVariant cachedRawValueWithIdentifier(const QString& identifier) const;
    void clearShortTermHistories();
    QString machineModelCode();
    QString machineSerialNumber();
    QString machineName();
    quint64 currentCPUFrequency(); // Hz, 0 when unknown
    bool hasDetectedConfigurationChange() const { return configurationDidChange_; }
    void acknowledgeConfigurationChange() { configurationDidChange_ = false; }
    // The limits as last fetched from the centre.
    const std::optional<QVariantMap>& knownMachineLimits() const { return knownMachineLimits_; }
    // Fetched from the centre while none is cached, then kept for the thread's life.
    std::shared_ptr<const TEVMachineInfo> machineInfo();

    // One tick: what the sampling timer runs (benches run it directly, on the capture thread).
    void updateAllReadings();

    // --- State, for the capture thread and its tests -----------------------------------------------
    bool hasDataCenter() const { return bool(dataCenter_); }
    // Whether the centre this thread created is its local core; false without a centre.
    bool dataCenterIsLocal() const { return dataCenter_ && dataCenterIsLocal_; }
    bool isCapturing() const;
    const QHash<QString, std::shared_ptr<TEVSensorHistory>>& shortTermBuffers() const { return shortTermBuffers_; }
    const QHash<QString, qint64>& rawValueCache() const { return rawValueCache_; }
    // Centres dropped but not yet released (the release waits for a later run-loop turn).
    qsizetype droppedCentreCount() const { return droppedCentres_.size(); }
    // Any thread; the client keeps it once it has dropped the thread.
    const std::shared_ptr<RawValueHandOver>& rawValueHandOver() const { return rawValueHandOver_; }

protected:
    void threadWillEnd() override;

private:
    explicit TEVCaptureThread(const std::weak_ptr<TEVCaptureThreadClient>& client);
    void addCentreHandlers();
    void addOwnHandlers();

    std::shared_ptr<TEVCaptureThread> self();
    void sendReadyMessageToCreator();
    void scheduleReadyMessage();
    // A queued call on the main thread to the client, when it is still there.
    void tellCaptureClient(std::function<void(TEVCaptureThreadClient&, const std::shared_ptr<TEVCaptureThread>&)> call);
    // The seam of the remote path: the centre's connection is gone, or its computer sleeps.
    void handleLossOfDataCenter();
    void handleSleepingDataCenter();
    void dropDataCenter();
    // Keeps `centre` until a later run-loop turn, so a centre dropped inside its own callback outlives it.
    void releaseLater(std::shared_ptr<TEVDataAcquisitionProtocol> centre);
    void observeCentre(const TEVRemoteKelvaroClient& proxy);
    void stopObservingCentre();
    enum class CentreEvent { Lost, Sleeping };
    void centreDidPost(const void* poster, CentreEvent event);

    void readjustMainTimer();
    // Nothing without a centre.
    std::optional<QVariantMap> readCurrentRawValues();
    bool sensorConfigurationHasChangedSinceLastUpdate(const std::optional<QVariantMap>& rawValues) const;
    void synchronizeBuffersWithCurrentConfiguration();
    void handOverRawValues();
    void noteConfigurationChange();
    void refreshKnownMachineLimits();
    // A remote centre's sensor list with each sensor's description and converter (new sensors only).
    void refreshSensorFacts();
    void refreshWatchedFacts();
    // Why the proxy failed, for the client's alert, before the client hears of it.
    void reportFailureOf(const TEVRemoteKelvaroClient& proxy);
    std::shared_ptr<TEVSensorHistory> longTermHistoryWithIdentifier(const QString& identifier);

    std::weak_ptr<TEVCaptureThreadClient> captureClient_;
    // Shared so that a call under way keeps the centre alive when a nested wait inside it drops the centre.
    std::shared_ptr<TEVDataAcquisitionProtocol> dataCenter_;
    bool dataCenterIsLocal_ = false;
    // The proxy being connected (not yet the centre), and whether it failed while connecting.
    const void* connectingProxy_ = nullptr;
    bool connectingProxyFailed_ = false;
    const void* observedProxy_ = nullptr;
    QList<platform::ObserverToken> centreObservers_;
    QList<std::shared_ptr<TEVDataAcquisitionProtocol>> droppedCentres_;
    bool releaseScheduled_ = false;
    std::atomic<double> remoteResponseTimeout_{defaultRemoteResponseTimeout};
    QHash<QString, std::shared_ptr<TEVSensorHistory>> shortTermBuffers_;
    // The sensors of the last synchronisation in the order of a reading's values, with their histories: a
    // tick whose values name the same sensors stores them without looking any up. Rebuilt with the buffers.
    struct TickIndex {
        bool valid = false;
        QStringList identifiers;
        std::vector<TEVSensorHistory*> histories; // owned by shortTermBuffers_
        bool matches(const QVariantMap& rawValues) const;
    };
    TickIndex tickIndex_;
    QHash<QString, std::shared_ptr<TEVSensorHistory>> longTermCache_;
    quint64 longTermUpdateCount_ = 0;
    QHash<QString, qint64> rawValueCache_;
    const std::shared_ptr<RawValueHandOver> rawValueHandOver_ = std::make_shared<RawValueHandOver>();
    std::shared_ptr<const TEVMachineInfo> machineInfoCache_;
    platform::Timer mainTimer_;
    double mainUpdateInterval_ = defaultMainUpdateInterval;
    bool configurationDidChange_ = false;
    quint64 configurationChanges_ = 0;
    std::optional<QVariantMap> knownMachineLimits_;
    QStringList sensorIdentifiers_;
    QHash<QString, TEVCaptureSensorFacts> sensorFacts_;
    std::optional<QVariantList> systemManagement_;
    QByteArray presentationIcon_;
    int batteryWatchTicks_ = 0;
    int displayWatchTicks_ = 0;
    int driveWatchTicks_ = 0;
    std::optional<Batteries> batteries_;
    std::optional<QVariantList> displays_;
    std::optional<QVariantList> drives_;
};
