#pragma once
// TEVMonitoringClient: the handle of one monitored computer that the rest of the program holds. Lives on the
// main thread; owns a capture thread and forwards operations to it as invocations, waiting for the result
// (or its time-out). Two kinds of answer need no wait: the computer's facts once the client is ready, and
// what the update tick asks (raw values, known limits, configuration changes, the battery and display
// facts of open windows), read from a copy the capture thread hands over every tick. A remote computer may
// fall silent at any time, so for it no call waits longer than a tick's budget: the connection is made on the
// capture thread, its sensor list, sensor descriptions and system-window facts come with readiness and the
// tick copies, commands are sent without waiting, and the few questions left wait a budget and go on without
// the answer. Held by shared_ptr,
// since the capture thread refers back to it weakly.

#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/TEVCaptureThread.h"
#include "acquisition/MonitoringClient.h"

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Values.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class TEVMachineInfo;
class TEVSensorDescription;
class TEVSensorValueConverter;

class TEVMonitoringClient final : public MonitoringClient,
                                  public TEVCaptureThreadClient,
                                  public std::enable_shared_from_this<TEVMonitoringClient> {
public:

    // Seconds of the shared clock.
    struct Timeouts {
        double callWait = 10.0;          // a call's deadline, from when the capture thread starts it
        double configurationDelay = 0.5; // from the thread's registration to setting up its centre
        // What the main thread gives a remote computer's answer before it goes on without it.
        double remoteCallBudget = 0.5;
    };

    // Reading a call's result: nothing (no or a failed call), or a value of another kind than expected,
    // reads as 0, NO or nil.
    struct Unbox {
        static bool boolean(const std::optional<QVariant>& result);
        static double real(const std::optional<QVariant>& result);
        static qint64 signedInteger(const std::optional<QVariant>& result);
        static quint64 unsignedInteger(const std::optional<QVariant>& result);
        static QString string(const std::optional<QVariant>& result);
        static QByteArray data(const std::optional<QVariant>& result);
        static std::optional<QVariantList> array(const std::optional<QVariant>& result);
        static std::optional<QVariantMap> dictionary(const std::optional<QVariant>& result);
        template <typename T>
        static std::shared_ptr<T> object(const std::optional<QVariant>& result)
        {
            return result ? std::dynamic_pointer_cast<T>(platform::values::toObject(*result)) : nullptr;
        }
    };

    // Null without a descriptor. The capture thread is created and started before this returns.
    static std::shared_ptr<TEVMonitoringClient> create(const std::shared_ptr<MonitorConnectionInfo>& connectionInfo,
                                                       Timeouts timeouts);
    static std::shared_ptr<TEVMonitoringClient> create(const std::shared_ptr<MonitorConnectionInfo>& connectionInfo)
    {
        return create(connectionInfo, Timeouts{});
    }
    ~TEVMonitoringClient() override;
    TEVMonitoringClient(const TEVMonitoringClient&) = delete;
    TEVMonitoringClient& operator=(const TEVMonitoringClient&) = delete;

    // "." becomes "\D" and "\" becomes "\\", so the identification fits in dotted names. Null for null.
    static QString clientIdentifierFromSerialNumber(const QString& serialNumber);
    // The reverse; null for null and for a "\" that ends the text or is followed by anything but D or "\".
    static QString serialNumberFromClientIdentifier(const QString& clientIdentifier);

    const std::shared_ptr<MonitorConnectionInfo>& connectionInfo() const override { return connectionInfo_; }
    // Null until the capture thread reported the computer's serial number.
    QString clientIdentification() const override { return clientIdentification_; }
    bool hasActiveConnection() const override { return captureThread_ != nullptr; }
    // The capture thread while the client has one (tests and benchmarks reach its run loop through it).
    std::shared_ptr<TEVCaptureThread> captureThread() const { return captureThread_; }
    const Timeouts& timeouts() const { return timeouts_; }

    // Starts capturing; NO without a capture thread, after a failure, or when the call timed out.
    bool run() override;
    // Stops capturing, then the capture thread, and drops it.
    void shutdown() override;
    // One call: once it returns, no tick runs until run().
    void pauseCapturing() override;
    // Stops the capture thread; its deregistration drops it later on the main thread.
    void handleConnectionProblem();
    // What the capture thread found wrong with the remote computer, or no answer in time.
    RemoteFailure remoteFailure() const override;
    QString description() const;

    // --- Reports of the capture thread, queued to the main thread ---------------------------------------
    void registerThreadedServer(const std::shared_ptr<TEVThreadedServer>& server) override;
    void deregisterThreadedServer(const std::shared_ptr<TEVThreadedServer>& server) override;
    void captureThreadHasBecomeReadyUsingSerialNumber(const QString& serialNumber) override;
    void captureThreadHasBecomeReady(const TEVCaptureReadyFacts& facts) override;
    void captureThreadHasLostConnectionToAcqusitionCenter(const std::shared_ptr<TEVCaptureThread>& thread) override;
    void captureThreadDidDetectSleepMode(const std::shared_ptr<TEVCaptureThread>& thread) override;
    void captureThreadDidHandOverRawValues() override;

    // --- Facade: each is one synchronous call on the capture thread; a failed call gives nil, 0 or NO --
    void setMainUpdateInterval(double seconds) override;
    double mainUpdateInterval();
    QByteArray rawShortTermHistoryDataWithIdentifier(const QString& identifier, const QDateTime& date) override;
    QByteArray rawLongTermHistoryDataWithIdentifier(const QString& identifier, const QDateTime& date) override;
    double shortTermHistoryTimeDeltaWithIdentifier(const QString& identifier) override;
    double longTermHistoryTimeDeltaWithIdentifier(const QString& identifier) override;
    // From the copy of the last tick, without a call: -1 for no value, 0 for an unknown or null identifier
    // (the capture thread's nil), and -1 for everything once the capture thread is gone or timed out.
    qint64 cachedRawValueWithIdentifier(const QString& identifier) override;
    void clearShortTermHistories() override;
    // From the copy of the last tick, without a call; NO once the capture thread is gone or timed out.
    // When no copy came for three tick intervals, one call looks whether the thread still answers.
    bool hasDetectedConfigurationChange() override;
    void acknowledgeConfigurationChange() override;

    // isRemote, machineModelCode, machineSerialNumber and machineName answer what readiness fetched, also
    // after a failure or shutdown; before readiness each is a call.
    bool isRemote() override;
    quint64 versionCode() override;
    QString hostName() override;
    // Local computer only: a remote client answers NO or forwards nothing.
    bool isLowAccessRatePolicyRecommended() override;
    void setSMCAccessPolicy(qint64 policy) override;
    void setSMARTUpdateInterval(double interval, quint64 saverInterval) override;
    void setLongTermHistoryUpdateInterval(double seconds);
    void setHistoryAutosaveTimeInterval(quint64 minutes) override;
    bool saveLongTermHistoryBuffers() override;

    quint64 numberOfAvailableSensors() override;
    void disableLocalAccess(bool disable, const QString& identifier) override;
    QStringList availableSensorIdentifiers() override;
    std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString& identifier) override;
    std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString& identifier) override;
    std::shared_ptr<const TEVMachineInfo> machineInfo() override;
    QByteArray dataForMachinePresentationIcon() override;
    QString machineModelCode() override;
    QString machineSerialNumber() override;
    QString machineName() override;
    QString smcVersion();
    quint64 currentCPUFrequency();
    std::optional<QVariantList> systemManagementDescription() override;
    qint64 liveDiskSpindownValue() override;
    // From the copy of the last tick, without a call; nothing once the capture thread is gone or timed out.
    std::optional<QVariantMap> knownMachineLimits() override;
    QVariantList blockStorageDeviceDescriptions() override;
    QList<std::shared_ptr<TEVSensorDescription>> completeListOfSensorDescriptions();
    // The battery count, the first battery's readouts and the displays: a call when first asked, then,
    // while asked again every few ticks (an open window), from the tick copy without a call.
    quint64 numberOfAvailableBatteryUnits() override;
    std::optional<QVariantMap> batteryReadoutsAtIndex(quint64 index) override;
    QVariantList displayDescriptions() override;
    double smartUpdateInterval();
    double longTermUpdateInterval();
    quint64 autosaveTimeInterval();
    void rescanForSensors() override;
    void simulateFailure();

private:
    TEVMonitoringClient(std::shared_ptr<MonitorConnectionInfo> connectionInfo, Timeouts timeouts);
    // The log's words for a computer that gave no serial number, by what the capture thread found.
    QString withoutSerialNumberText() const;

    // Nothing when there is no capture thread, after a time-out, or when this call timed out.
    std::optional<QVariant> call(const QString& selector, const QString& returnClass, const QVariantList& arguments = {});
    // A call that waits at most `budget` seconds: without an answer by then it gives nothing, and the
    // client lives on (its capture thread finds out on its own whether the computer still answers).
    std::optional<QVariant> callWithin(double budget, const QString& selector, const QString& returnClass,
                                       const QVariantList& arguments = {});
    // Both: the answer within `deadline` seconds from when the capture thread starts the call (a call
    // queued behind others waits for them as their deadlines allow), and within `longest` seconds from now
    // where given. `sent` tells a call that went out (and so timed out without one) from one that could
    // not be made or was never performed.
    std::optional<QVariant> callAndWait(double deadline, std::optional<double> longest, const QString& selector,
                                        const QString& returnClass, const QVariantList& arguments, bool& sent);
    // The same call without waiting: `answer` runs later on the main thread with the result, or with
    // nothing at the time-out; never once the client is gone. False (and no answer) when it cannot be sent.
    using Answer = std::function<void(const std::optional<QVariant>&)>;
    // With `ownDeadline` (seconds) the call answers nothing at that deadline and leaves the client as it is;
    // without, it answers nothing at the call wait and the client gives up on the computer. Either counts
    // from when the capture thread starts the call.
    bool ask(const QString& selector, const QString& returnClass, const QVariantList& arguments, Answer answer = {},
             std::optional<double> ownDeadline = std::nullopt);
    // A remote computer may fall silent: the main thread never waits for it, but asks, and reads what the
    // capture thread hands over.
    bool isRemoteConnection() const { return !connectionInfo_->isLocal(); }
    void giveUpOnTimeout();
    void initiateAcquisitionConfiguration();
    double connectionDeadline() const;
    void connectionHasFailed();
    void post(const QString& notification);
    void takeRawValues();
    // Asks for the facts in the next ticks' copies; true when the copy in hand has them.
    bool watch(TEVCaptureThread::Watch watch);

    // What cannot change while the centre lives, asked once when the thread reports readiness.
    struct Facts {
        QString serialNumber;
        QString name;
        QString modelCode;
        bool remote = false;
        std::optional<quint64> versionCode; // from the readiness report only
        QString hostName;                   // likewise
        std::shared_ptr<const TEVMachineInfo> machineInfo;
    };

    const std::shared_ptr<MonitorConnectionInfo> connectionInfo_;
    const Timeouts timeouts_;
    QString clientIdentification_;
    std::shared_ptr<TEVCaptureThread> captureThread_;
    std::shared_ptr<TEVCaptureThread::RawValueHandOver> rawValueHandOver_; // outlives captureThread_
    QHash<QString, qint64> rawValues_; // the copy last taken from rawValueHandOver_
    std::optional<QVariantMap> knownMachineLimits_; // likewise
    quint64 configurationChanges_ = 0;             // likewise
    std::optional<TEVCaptureThread::Batteries> batteries_; // likewise, while watched
    std::optional<QVariantList> displays_;                 // likewise
    std::optional<QVariantList> drives_;                   // likewise
    QStringList sensorIdentifiers_;                        // likewise; remote computers only
    QHash<QString, TEVCaptureSensorFacts> sensorFacts_;    // likewise
    std::optional<QVariantList> systemManagement_;         // likewise
    QByteArray presentationIcon_;                          // likewise
    quint64 acknowledgedConfigurationChanges_ = 0;
    // The first descriptions of a remote computer's sensors came after readiness: the gauges that could not
    // be formed without them are formed at this change.
    quint64 sensorFactsArrivals_ = 0;
    // When a copy was last taken, while capturing, and the tick interval the thread was given (seconds).
    platform::Clock::Duration lastCopyTaken_{};
    bool capturing_ = false;
    double captureInterval_ = TEVCaptureThread::defaultMainUpdateInterval;
    std::optional<Facts> facts_;       // from readiness on
    platform::Timer configurationTimer_;
    bool failed_ = false;   // "failed" was posted: a later readiness report is ignored
    bool asleep_ = false;   // the computer said it sleeps: what its thread reports after that is no failure
    bool timedOut_ = false; // a call timed out: every later call fails at once
};
