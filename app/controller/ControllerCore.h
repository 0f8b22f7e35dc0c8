#pragma once
// ControllerCore: what both programs' application controllers share: the monitoring clients (creation,
// acceptance, staggered and quiet connects, loss, failure, the watchdog relaunch of the local client, sleep
// and wake), the single update timer, the synchronisation of the gauges with the clients and the output
// cache. Each program's AppController derives from it and supplies its own ready handling, client removal,
// configuration-change handling and output channels. Owned by the program's entry; main thread only.

#include "app/model/ApplicationWindows.h"
#include "app/model/ControllerLookups.h"
#include "framework/TEVApplicationDelegate.h"
#include "platform/desktop/Scheduler.h"
#include "platform/foundation/NotificationCenter.h"

#include <QDateTime>
#include <QMetaType>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <functional>
#include <memory>
#include <vector>

class MachinePreferences;
class MonitorConnectionInfo;
class MonitoringClient;
class MonitorPreferences;
class OutputCacheEntry;
class RemoteConnectPanel;
class TEVGauge;
namespace platform {
struct Alert;
class PowerEvents;
}

Q_DECLARE_METATYPE(std::shared_ptr<MonitoringClient>)

class ControllerCore : public TEVApplicationDelegate, public ControllerLookups, public RemoteConnectPanelDelegate {
public:
    using ClientPtr = std::shared_ptr<MonitoringClient>;
    using ClientList = QList<ClientPtr>;
    using ConnectionInfoPtr = std::shared_ptr<MonitorConnectionInfo>;
    // Makes the client of a descriptor; null when it cannot. Tests install fakes.
    using ClientFactory = std::function<ClientPtr(const ConnectionInfoPtr&)>;

    // Seconds of the shared clock.
    static constexpr double kConnectStagger = 1.0;
    static constexpr double kReconnectAfterWake = 8.0;
    static constexpr double kLostConnectionAlertDelay = 5.0;
    static constexpr double kLocalClientRelaunchDelay = 10.0;
    // Clients of older acquisition sides speak a protocol this program cannot use.
    static constexpr quint16 kLastUnacceptableVersionCode = 1359;

    ControllerCore();
    ~ControllerCore() override;

    void setClientFactory(ClientFactory factory) { clientFactory_ = std::move(factory); }

    // --- Clients ------------------------------------------------------------------------------------
    void launchLocalClient();
    void addNewClient(const ClientPtr& client);
    virtual void removeClient(const ClientPtr& client);
    void disconnectClient(const ClientPtr& client);
    void disconnectGaugesOfDisconnectingClient(const ClientPtr& client);
    bool createRemoteClientUsingConnectionInfo(const ConnectionInfoPtr& info, bool quietly);
    // [descriptor, quietly]
    void performConnectUsingInfoQuietFlagPair(const QVariantList& pair);
    // The remote-connect panel's choice: connected one after the other, not quietly.
    void panel(RemoteConnectPanel* panel, const QList<ConnectionInfoPtr>& services) override;
    // "Connect to Remote Computer...": makes the panel on the first call, with this controller as its
    // delegate, and shows it on every call.
    void openRemoteConnectPanel();
    std::shared_ptr<RemoteConnectWindow> remoteConnectPanel() const { return remoteConnectPanel_; }
    void reconnectKnownClients();
    bool isClientAcceptableForNewConnection(const ClientPtr& client) const;
    static bool isServerVersionAcceptable(quint64 versionCode);

    virtual void clientHasBecomeReady(const ClientPtr& client) = 0;
    void clientHasLostConnection(const ClientPtr& client);
    void clientHasFailed(const ClientPtr& client);
    void clientDidEnterSleepMode(const ClientPtr& client);
    void clientShouldDisconnect(const ClientPtr& client);
    // [client, serial number text]
    void displayConditionalConnectionFailureWarningWithParameters(const QVariantList& parameters);
    void handleFailureOfLocalClient();
    void reconnectLocalClientAfterFailure();

    // --- Sleep and wake -----------------------------------------------------------------------------
    void setupPowerEventNotification();
    // Non-zero while the system's power events are received.
    quint32 powerManagementService() const { return powerManagementService_; }
    void processPowerEventNewStateIsSleeping(bool sleeping);
    void reconnectSleepingClientConnections();

    // --- Look-ups -----------------------------------------------------------------------------------
    ClientPtr clientForClientIdentifier(const QString& identification) const;
    ClientPtr clientForRemoteConnection(const ConnectionInfoPtr& info) const;
    ClientPtr clientForSerialNumber(const QString& serialNumber) const;
    QString readableRepresentationForClientWithSerialNumber(const QString& serialNumber) const;
    QString readableRepresentationForClientBelongingToUniversalGaugeIdentifier(const QString& identifier) const;
    static bool isGaugeListCompletelyDisconnected(const QList<std::shared_ptr<TEVGauge>>& gauges);

    // --- Update cycle -------------------------------------------------------------------------------
    void readjustMainUpdateTimer();
    void processTimedUpdate();
    void checkForConfigurationChangeOnClients();
    // Null: every client.
    virtual void handleConfigurationChangeOnClient(const ClientPtr& client) = 0;
    void synchronizeLocalPreferencesWithClient(const ClientPtr& client);
    // Null: every client still monitored, as a configuration change on all of them needs.
    void synchronizeLocalPreferencesWithClientOrAll(const ClientPtr& client);
    void synchronizeGlobalPreferencesWithClient(const ClientPtr& client);
    virtual void resyncConnectedSensors();
    virtual void updateAllOutputChannelsAndCache(bool refill) = 0;
    void updateOutputCache();
    // Compares each alert sensor's current value with its gauge's thresholds and raises what crosses them.
    virtual void checkForAlerts();
    virtual void raiseAlertForSensorWithIdentifier(const QString& identifier, double value, bool isHigh) = 0;

    // --- ControllerLookups --------------------------------------------------------------------------
    const QStringList& universalIdentifiersOfConnectedSensors() const override { return connectedSensorNames_; }
    std::shared_ptr<TEVGauge> gaugeForUniversalSensorIdentifier(const QString& identifier) const override;
    QByteArray rawHistoryDataBetweenNowAndDate(const QDateTime& date, const QString& identifier, bool longTerm) override;
    double historyTimeDeltaForUniversalGaugeIdentifier(const QString& identifier, bool longTerm) override;
    std::optional<QVariantMap> knownMachineLimitsForConnectedClient(const ClientPtr& client) override;
    MonitorPreferences* monitorPreferences() const override { return monitorPreferences_.get(); }

    // --- State, for the programs and their tests ------------------------------------------------------
    const ClientList& monitorClients() const { return monitorClients_; }
    ClientPtr localClient() const { return localClient_; }
    std::shared_ptr<MachinePreferences> localPreferences() const { return localPreferences_; }
    const OutputCache& outputCache() const { return outputCache_; }
    // Universal identifier → monotonic time before which no new alert is raised for it.
    using PendingAlerts = QMap<QString, platform::Clock::Duration>;
    const PendingAlerts& pendingAlerts() const { return pendingAlerts_; }
    PendingAlerts& pendingAlerts() { return pendingAlerts_; }
    const ClientList& reconnectingClients() const { return reconnectingClients_; }
    const QList<ConnectionInfoPtr>& sleepingHosts() const { return sleepingHosts_; }
    quint64 speechSlotCounter() const { return speechSlotCounter_; }
    bool isUpdateTimerRunning() const { return mainUpdateTimer_.isValid(); }
    bool isLocalClientRelaunchPending() const { return relaunchTimer_.isValid(); }

    // Texts of the main bundle's default table (also for the controller's own panels and menus).
    static QString localized(const QString& key);

protected:
    // The polite-aware lookup for the longer texts.
    QString politeLocalized(const QString& key) const;
    // A modal alert through the shared presenter; answers the chosen button's index.
    static int runAlert(const platform::Alert& alert);
    // Launches the program `executable` (shown to the user as `title`) through the shared workspace; when
    // nothing starts, an alert names it and where it was looked for. True when it started.
    static bool launchSibling(const QString& executable, const QString& title);
    virtual const char* className() const { return "AppController"; }

    // A snapshot: loops over it survive clients added or removed by a handler, an alert or a nested loop.
    ClientList clientsSnapshot() const { return monitorClients_; }
    bool isLocal(const ClientPtr& client) const { return client && client == localClient_; }
    bool contains(const ClientPtr& client) const { return client && monitorClients_.contains(client); }
    static constexpr double kAlertHoldOff = 30.0;
    // NO while the sensor's last alert is held off; otherwise starts a new hold-off. On the monotonic clock,
    // so that setting the wall clock back cannot silence alerts.
    bool passesAlertHoldOff(const QString& identifier);
    // Registers clientShouldDisconnect for the notification from any object.
    void observeShouldDisconnectRequests();
    // Ready: the client reported its identification. Before that every call would wait for its thread.
    static bool isReady(const ClientPtr& client);
    // Spreads connect requests one stagger step apart, the first one step from now.
    void scheduleStaggeredConnects(const QList<ConnectionInfoPtr>& infos, bool quietly);
    virtual void rebuildGaugeOutlineRepresentations() {}
    // The program's remote-connect panel; null when it has none.
    virtual std::shared_ptr<RemoteConnectWindow> makeRemoteConnectPanel() { return nullptr; }
    // The local computer's failure: the alert that asks the user to quit.
    void showLocalClientFailureAlert();
    // The client of a gauge's computer (null when it is not connected) and the sensor's own identifier.
    ClientPtr clientOfUniversalGaugeIdentifier(const QString& identifier, QString* sensor) const;
    // At quit: no more ticks, relaunches or delayed work, and no more reports of the clients.
    void stopForTermination();
    // False once the controller is gone; delayed work holds it weakly and checks it first.
    const std::shared_ptr<bool>& aliveFlag() const { return alive_; }

    std::unique_ptr<MonitorPreferences> monitorPreferences_;
    ClientList monitorClients_;
    ClientPtr localClient_;
    std::shared_ptr<MachinePreferences> localPreferences_;
    QStringList connectedSensorNames_;
    OutputCache outputCache_;
    PendingAlerts pendingAlerts_;
    quint64 speechSlotCounter_ = 0;
    ClientList reconnectingClients_;
    // Remote clients whose gauges were logged as connected, so that each connection is logged once.
    QSet<const MonitoringClient*> announcedClients_;
    QList<ConnectionInfoPtr> sleepingHosts_;
    std::shared_ptr<WarningPanel> warningPanel_ = std::make_shared<WarningPanel>();
    std::shared_ptr<RemoteConnectWindow> remoteConnectPanel_;

    // `fn` wrapped for delayed work: it runs only while the controller lives and has not quit.
    template <typename Fn>
    std::function<void()> guarded(Fn fn) const
    {
        return [alive = std::weak_ptr<bool>(alive_), fn = std::move(fn)] {
            if (const auto flag = alive.lock(); flag && *flag)
                fn();
        };
    }
    // The known computers, connected quietly one stagger step after the local computer's first ready.
    void scheduleReconnectOfKnownClients();
    // A client too old to talk to: the alert before it is disconnected.
    void showIncompatibleAgentAlert();
    // Replaces the "%g" placeholders of `format` in turn, before any name is filled in (a name may hold any
    // text); `numbers` are already formatted.
    static QString fillNumbers(QString format, const QStringList& numbers);
    // A number as C's "%g" prints it, whatever the user's locale.
    static QString plainNumber(double value);

private:
    void observeClient(const ClientPtr& client);
    void forgetClientObservers(const ClientPtr& client);
    void systemWillSleep();
    // Finds each connected sensor's gauge and cache entry anew where the lists they came from have changed.
    void refreshTickHandles();

    // What a tick fills, found once by identifier: the gauge and the cache entry of each connected sensor,
    // in the order of connectedSensorNames_. The copies of the lists they were found in share those lists'
    // data until either list changes, which tells the handles out of date.
    struct TickHandle {
        QString identifier;
        std::shared_ptr<TEVGauge> gauge;
        std::shared_ptr<OutputCacheEntry> entry;
    };
    QList<TickHandle> tickHandles_;
    QStringList tickHandleNames_;
    MachinePreferences::GaugeMap tickHandleGauges_;
    OutputCache tickHandleCache_;
    const MachinePreferences* tickHandlePreferences_ = nullptr;

    ClientFactory clientFactory_;
    platform::Scheduler::Handle mainUpdateTimer_;
    // Apart from the update timer, so that a new update interval during the wait cannot cancel the relaunch.
    platform::Scheduler::Handle relaunchTimer_;
    quint32 powerManagementService_ = 0;
    std::shared_ptr<platform::PowerEvents> powerEvents_;
    QMap<const void*, std::vector<platform::ObserverToken>> clientObservers_;
    platform::ObserverToken shouldDisconnectObserver_;
    // Delayed work holds the controller weakly: it may fire after the controller is gone.
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};
