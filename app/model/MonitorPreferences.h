#pragma once
// MonitorPreferences: the application-wide settings and the per-computer preference sets keyed by serial
// number, read from and written to the user defaults through TEVUserDefaultsProxy. One instance, owned by
// the application controller from launch to quit; main thread only.

#include <QList>
#include <QMap>
#include <QString>
#include <QVariantList>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

class MachinePreferences;
class MachineSpecifier;
class MonitorConnectionInfo;
class MonitoringClient;
class TEVUserDefaultsProxy;
namespace platform {
class DistributedNotificationCenter;
}

class MonitorPreferences {
public:
    using ClientList = QList<std::shared_ptr<MonitoringClient>>;

    // Posted to the session's other programs after every write, with the main bundle's identifier as object.
    static inline const QString userDefaultsDidChangeNotification = QStringLiteral("com.tarnwell.UserDefaultsDidChange");
    // The version that writePreferences stores; versions 2 and 3 are read alike.
    static constexpr qint64 preferencesVersion = 3;

    // The defaults of a first launch; the user defaults are not touched.
    MonitorPreferences() = default;

    // Reads the stored set; meant to be called once, right after construction.
    void readPreferences();
    // True when no set of a known version was found, or a version 1 set was imported.
    bool isFirstLaunchOfApplication() const { return firstLaunch_; }

    // What a write did: the file, and why nothing was written (null when it was).
    struct WriteResult {
        QString path;
        QString failure;
        bool changed = false; // the file was replaced; false when it already held these settings
        bool written() const { return failure.isNull(); }
    };
    // `localClient` is one of `clients`, which may hold remote ones too. Without it (before its first ready,
    // or while it is relaunched) "SeenModels" stays as stored and every client counts as remote. Writes
    // nothing over a set of a newer version, which this program could not read.
    WriteResult writePreferencesUsingMonitoringClients(const ClientList& clients,
                                                       const std::shared_ptr<MonitoringClient>& localClient);
    // Names the local computer as "SeenModels" lists it, once: the name comes from a host-name lookup, which
    // a write at logout (the network may be gone) must not make. Later writes use this name.
    void nameLocalComputer(const QString& serialNumber);
    // The settings of the first program generation, filed under the local computer's serial number.
    void importVersion1Preferences();

    std::shared_ptr<MachinePreferences> preferencesForMachineWithSerialNumber(const QString& serialNumber) const;
    // A new set for the client's computer; null (and a log line) when its serial number cannot be read or a
    // set exists already.
    std::shared_ptr<MachinePreferences> createLocalMachinePreferencesUsingMonitoringClient(
        const std::shared_ptr<MonitoringClient>& client);
    // A separate copy of the set of `serialNumber`, filed under the client's serial number; null (and a log
    // line) when that computer has a set already.
    std::shared_ptr<MachinePreferences> importedMachinePreferencesForMonitoringClient(
        const std::shared_ptr<MonitoringClient>& client, const QString& serialNumber);

    // "SeenModels" as stored: model code → list of computer dictionaries. Nothing when absent or not one.
    std::optional<QVariantMap> machineSpecifiersOfKnownSystems() const;
    // "ActiveRemoteConnections" as stored: serial numbers. Nothing when absent or not a list.
    std::optional<QVariantList> listOfSerialsToReconnect() const;
    // The remote computers to reconnect at the next launch: every computer the user connected stays listed,
    // also while it cannot be reached, until the user disconnects it.
    void rememberRemoteConnection(const QString& serialNumber);
    void forgetRemoteConnection(const QString& serialNumber);

    // Where the change notification goes; the default centre unless set (tests use a private bus).
    void setNotificationCenter(platform::DistributedNotificationCenter* center) { notificationCenter_ = center; }

    void addConnectionInfo(const std::shared_ptr<MonitorConnectionInfo>& info, const QString& serialNumber);
    std::shared_ptr<MonitorConnectionInfo> infoToConnectMachineWithSerialNumber(const QString& serialNumber) const;

    // Setters store values as given; the ranges are enforced only when reading the user defaults.
    qint64 temperatureDisplayUnit() const { return temperatureOutputUnit_; }
    void setTemperatureDisplayUnit(qint64 unit) { temperatureOutputUnit_ = unit; }
    bool suppressesSplashWindow() const { return suppressesSplashWindow_; }
    void setSuppressesSplashWindow(bool flag) { suppressesSplashWindow_ = flag; }
    bool graphsZoomValueRange() const { return graphsZoomValueRange_; }
    void setGraphsZoomValueRange(bool flag) { graphsZoomValueRange_ = flag; }
    bool displaysAbsoluteHistoryTimes() const { return displayAbsoluteTimes_; }
    void setDisplaysAbsoluteHistoryTimes(bool flag) { displayAbsoluteTimes_ = flag; }
    bool reconnectClientsOnLaunch() const { return reconnectClientsOnLaunch_; }
    void setReconnectClientsOnLaunch(bool flag) { reconnectClientsOnLaunch_ = flag; }
    bool areSleepWarningsDisabled() const { return disableSleepWarnings_; }
    void setDisableSleepWarnings(bool flag) { disableSleepWarnings_ = flag; }
    bool showsPositiveBatteryCurrents() const { return showPositiveBatteryCurrents_; }
    void setShowsPositiveBatteryCurrents(bool flag) { showPositiveBatteryCurrents_ = flag; }
    quint64 sensorUpdateInterval() const { return updateInterval_; } // seconds
    void setSensorUpdateInterval(quint64 seconds) { updateInterval_ = seconds; }
    quint64 smartUpdateInterval() const { return smartUpdateInterval_; } // seconds
    void setSMARTUpdateInterval(quint64 seconds) { smartUpdateInterval_ = seconds; }
    quint64 autosaveHistoryMinutes() const { return autosaveHistoryMinutes_; } // 0: off
    void setAutosaveHistoryMinutes(quint64 minutes) { autosaveHistoryMinutes_ = minutes; }
    quint64 smartDiskSaverInterval() const { return diskSaverInterval_; } // seconds, 0: off
    void setSMARTDiskSaverInterval(quint64 seconds) { diskSaverInterval_ = seconds; }
    quint64 numberOfDockValues() const { return numberOfDockValues_; }
    void setNumberOfDockValues(quint64 count) { numberOfDockValues_ = count; }
    quint64 numberOfMenuBarValues() const { return numberOfMenuBarValues_; }
    void setNumberOfMenuBarValues(quint64 count) { numberOfMenuBarValues_ = count; }
    qint64 voiceMode() const { return voiceMode_; }
    void setVoiceMode(qint64 mode) { voiceMode_ = mode; }
    // Carried unchanged between reading and writing; nothing here interprets it.
    quint64 dontAskForX86DriverInApplicationVersion() const { return x86DriverDialogVersionCode_; }
    void setDontAskForX86DriverInApplicationVersion(quint64 versionCode) { x86DriverDialogVersionCode_ = versionCode; }
    qint64 smcAccessPolicy() const { return smcAccessPolicy_; }
    void setSMCAccessPolicy(qint64 policy) { smcAccessPolicy_ = policy; }
    bool standardWindowShouldOpen() const { return standardWindowOpen_; }
    void setStandardWindowShouldOpen(bool flag) { standardWindowOpen_ = flag; }
    bool screenDisplayShouldOpen() const { return screenWindowOpen_; }
    void setScreenDisplayShouldOpen(bool flag) { screenWindowOpen_ = flag; }
    bool overviewShouldOpen() const { return overviewOpen_; }
    void setOverviewShouldOpen(bool flag) { overviewOpen_ = flag; }
    bool systemInfoShouldOpen() const { return systemInfoOpen_; }
    void setSystemInfoShouldOpen(bool flag) { systemInfoOpen_ = flag; }
    bool batteryInfoShouldOpen() const { return batteryInfoOpen_; }
    void setBatteryInfoShouldOpen(bool flag) { batteryInfoOpen_ = flag; }
    bool historyWindowsShouldOpen() const { return historyWindowsOpen_; }
    void setHistoryWindowsShouldOpen(bool flag) { historyWindowsOpen_ = flag; }
    bool minMaxWindowShouldOpen() const { return minMaxWindowOpen_; }
    void setMinMaxWindowShouldOpen(bool flag) { minMaxWindowOpen_ = flag; }
    bool displayInfoShouldOpen() const { return displayInfoOpen_; }
    void setDisplayInfoShouldOpen(bool flag) { displayInfoOpen_ = flag; }

private:
    friend struct MonitorPreferencesSettings; // the key table of the .cpp

    void readSettings();
    void readKnownConnections();
    void writeSeenModels(const std::shared_ptr<MonitoringClient>& localClient);
    std::shared_ptr<MachineSpecifier> localComputer(const QString& serialNumber);
    // Starts from the stored list on first use.
    QVariantList& rememberedRemoteConnections();
    void writeConnectionsAndMachines(TEVUserDefaultsProxy& defaults);

    QMap<QString, std::shared_ptr<MachinePreferences>> preferencesByMachine_; // serial number → set
    std::shared_ptr<MachineSpecifier> localComputer_; // named once, see nameLocalComputer
    qint64 temperatureOutputUnit_ = 0;
    bool suppressesSplashWindow_ = false;
    bool graphsZoomValueRange_ = false;
    bool displayAbsoluteTimes_ = false;
    bool reconnectClientsOnLaunch_ = true;
    bool disableSleepWarnings_ = false;
    bool showPositiveBatteryCurrents_ = true;
    quint64 updateInterval_ = 2;
    quint64 smartUpdateInterval_ = 60;
    quint64 autosaveHistoryMinutes_ = 0;
    quint64 diskSaverInterval_ = 0;
    quint64 numberOfDockValues_ = 1;
    quint64 numberOfMenuBarValues_ = 1;
    qint64 voiceMode_ = 1;
    quint64 x86DriverDialogVersionCode_ = 0;
    qint64 smcAccessPolicy_ = 0;
    bool standardWindowOpen_ = true;
    bool screenWindowOpen_ = false;
    bool overviewOpen_ = true;
    bool systemInfoOpen_ = false;
    bool batteryInfoOpen_ = false;
    bool historyWindowsOpen_ = false;
    bool minMaxWindowOpen_ = false;
    bool displayInfoOpen_ = false;
    QMap<QString, std::shared_ptr<MonitorConnectionInfo>> knownConnectionInfo_; // serial number → how to reach it
    // Stored entries this program cannot read, written back unchanged.
    QVariantMap unreadableMachinePreferences_; // serial number → stored set
    QVariantMap unreadableConnections_;        // serial number → stored connection
    QVariant unreadableConnectionsValue_;      // a stored "KnownRemoteConnections3" that is no dictionary
    bool firstLaunch_ = false;
    bool storedVersionIsNewer_ = false;
    std::optional<QVariantList> rememberedRemoteConnections_; // "ActiveRemoteConnections" to write
    platform::DistributedNotificationCenter* notificationCenter_ = nullptr;
};
