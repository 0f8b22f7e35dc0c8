#include "app/controller/AppController.h"

#include "app/controller/MainWindowFocus.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/MonitoringClient.h"
#include "acquisition/TEVMonitoringClient.h"
#include "app/model/ComputerNames.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MachineSpecifier.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/OutputCacheEntry.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVStringFormat.h"
#include "framework/TEVTimeUtilities.h"
#include "framework/TEVUserDefaultsProxy.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/BundleImage.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVArtificialSensor.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QIcon>

#include <algorithm>
#include <utility>

namespace values = platform::values;
using platform::Alert;

namespace {

// qGuiApp casts whatever application object there is; the benchmarks run with a plain core one.
bool isGuiApplication()
{
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

constexpr quint64 kProductCode = 216202;
constexpr quint64 kVersionCode = 1376;
const QString kApplicationName = QStringLiteral("Kelvaro");

QString fill(const QString& format, const QStringList& arguments)
{
    return TEVStringFormat::withObjects(format, arguments);
}

} // namespace

// The controller as the preference window sees it.
class AppController::PreferenceOwner final : public PreferenceWindowOwner {
public:
    explicit PreferenceOwner(AppController& controller)
        : c_(controller)
    {
    }
    MonitorPreferences* monitorPreferences() const override { return c_.monitorPreferences(); }
    std::shared_ptr<MachinePreferences> localPreferences() const override { return c_.localPreferences_; }
    std::shared_ptr<MonitoringClient> localClient() const override { return c_.localClient_; }
    QList<std::shared_ptr<MonitoringClient>> monitoringClients() const override { return c_.clientsSnapshot(); }
    void updateGaugeAlertsChangingTemperatureUnitFrom(qint64 oldUnit, qint64 newUnit) override
    {
        c_.updateGaugeAlertsChangingTemperatureUnitFrom(oldUnit, newUnit);
    }
    void updateAllOutputChannelsAndCache(bool refill) override { c_.updateAllOutputChannelsAndCache(refill); }
    void mainUpdateIntervalDidChange() override
    {
        for (const auto& history : std::as_const(c_.historyWindowControllers_))
            history->updateForNewTimeScale();
        c_.readjustMainUpdateTimer();
    }
    void voiceSettingDidChange() override
    {
        c_.speechSlotCounter_ = 0;
        c_.updateAllOutputChannelsAndCache(true);
    }
    const QStringList& connectedSensorNames() const override { return c_.connectedSensorNames_; }
    const QStringList& localGaugeComputers() const override { return c_.localGaugeComputers_; }
    const QMap<QString, QList<std::shared_ptr<TEVGauge>>>& gaugesByComputer() const override { return c_.gaugesByComputer_; }
    void handleConfigurationChange() override { c_.handleConfigurationChangeOnClient(nullptr); }
    QList<std::shared_ptr<HistoryWindow>>& historyWindowControllers() override { return c_.historyWindowControllers_; }
    std::shared_ptr<HistoryWindow> makeHistoryWindowController(const std::shared_ptr<HistoryWindowPreferences>& preferences) override
    {
        return c_.windows_.makeHistoryWindow(&c_, &c_, preferences);
    }
    void setWindowDefaultFont(qint64 tag) override { c_.setWindowDefaultFont(tag); }
    void setWindowDefaultLabelRatio(qint64 tag) override { c_.setWindowDefaultLabelRatio(tag); }
    void resetWindowBackgroundColor(qint64 tag) override { c_.resetWindowBackgroundColor(tag); }
    void resetMenuBarFont() override { c_.resetMenuBarFont(); }

private:
    AppController& c_;
};

AppController::AppController(ApplicationWindows windows)
    : windows_(std::move(windows))
    , preferenceOwner_(std::make_unique<PreferenceOwner>(*this))
{
    // What the program leaves unset does nothing.
    const ApplicationWindows none = ApplicationWindows::doNothing();
    const auto fill = [](auto& member, const auto& fallback) {
        if (!member)
            member = fallback;
    };
    fill(windows_.makeSensorWindow, none.makeSensorWindow);
    fill(windows_.makeMonitorWindowFactory, none.makeMonitorWindowFactory);
    fill(windows_.makeHistoryWindow, none.makeHistoryWindow);
    fill(windows_.makeMinMaxWindow, none.makeMinMaxWindow);
    fill(windows_.makeSplashWindow, none.makeSplashWindow);
    fill(windows_.makeImportPanel, none.makeImportPanel);
    fill(windows_.makeStatusItem, none.makeStatusItem);
    fill(windows_.makeRemoteConnectPanel, none.makeRemoteConnectPanel);
    fill(windows_.dockTile, none.dockTile);
    fill(windows_.connectionWindow, none.connectionWindow);
    fill(windows_.compositingInspector, none.compositingInspector);
    fill(windows_.probesPane, none.probesPane);
    fill(windows_.lcdManager, none.lcdManager);
    fill(windows_.preferenceWindow, none.preferenceWindow);
    fill(windows_.warningPanel, none.warningPanel);
    fill(windows_.alertPanel, none.alertPanel);
    warningPanel_ = windows_.warningPanel;
}

AppController::~AppController()
{
    windows_.preferenceWindow->bindToApplicationController(nullptr);
    // The history windows go while the list that the compositing inspector reads is whole: a window
    // that hides as it goes tells the inspector, which looks the window up there.
    const auto historyWindows = std::exchange(historyWindowControllers_, {});
}

QString AppController::hardwareSupportLimitText()
{
    const auto bundle = platform::Bundle::main();
    const QVariant limit = bundle ? bundle->objectForInfoDictionaryKey(QStringLiteral("TEVHardwareSupportLimit")) : QVariant();
    if (const auto date = values::toDate(limit))
        return TEVTimeUtilities::localizedDayRepresentationForDate(*date);
    return QStringLiteral("-unknown-");
}

QImage AppController::applicationIcon()
{
    if (QImage image = platform::bundleImage(platform::Bundle::main().get(), QStringLiteral("NSApplicationIcon"));
        !image.isNull())
        return image;
    return isGuiApplication() ? QGuiApplication::windowIcon().pixmap(128).toImage() : QImage();
}

// --- Launch ----------------------------------------------------------------------------------------------

void AppController::applicationWillFinishLaunching()
{
    setInternationalApplicationName(kApplicationName, kProductCode, kVersionCode, kApplicationName, kApplicationName);
    setupApplicationSupport();
}

void AppController::applicationDidFinishLaunching()
{
    monitorPreferences_->readPreferences();
    setAsideUnreadablePreferences();
    takeNoticeOfLastEnd();
    if (!monitorPreferences_->suppressesSplashWindow())
        createAndOpenLocalSplashWindow();
    monitorClients_.clear();
    // Its ready report comes later, through the main loop.
    launchLocalClient();
    windows_.connectionWindow->connectToClientList(&monitorClients_);
    observeShouldDisconnectRequests();

    addMonitorWindowFactoryForClass(kSensorOverview, localized(QStringLiteral("Sensor Overview")));
    addMonitorWindowFactoryForClass(kSystemInfoDisplay, localized(QStringLiteral("System Information")));
    addMonitorWindowFactoryForClass(kDriveOverview, localized(QStringLiteral("Drive Overview")));
    addMonitorWindowFactoryForClass(kSmartBatteryInfoDisplay, localized(QStringLiteral("Battery Information")));
    addMonitorWindowFactoryForClass(kDisplayInfoDisplay, localized(QStringLiteral("Display Information")));

    // No capacity hint from the local client: it is not ready, and asking it would wait for its thread.
    connectedSensorNames_.clear();
    outputCache_.clear();
    pendingAlerts_.clear();
    reconnectingClients_.clear();
    sleepingHosts_.clear();

    standardWindowController_ = windows_.makeSensorWindow(0, QStringLiteral("StandardWindow"));
    standardWindowController_->setWindowTitle(localized(QStringLiteral("Sensors")));
    screenDisplayController_ = windows_.makeSensorWindow(1, QStringLiteral("FloatingWindow"));
    windows_.dockTile->setDefaultBackground(applicationIcon());
    historyWindowControllers_.clear();
    minMaxWindowController_ = windows_.makeMinMaxWindow();
    windows_.compositingInspector->bindToApplicationController(this);
    updateStatefulMenuItems();
    windows_.preferenceWindow->bindToApplicationController(preferenceOwner_.get());
    windows_.preferenceWindow->setWillCloseHandler([this] { preferenceWindowWillClose(); });

    // Panes 0 to 8 are the preference window's own; 9 and 10 belong to the probe and LCD managers.
    // Their views are asked for when the window makes its panes.
    QList<PreferenceWindow::PaneViewMaker> views(kNumberOfPreferencePanes);
    prefPaneIdentifiers_.clear();
    for (qint64 i = 0; i < kNumberOfPreferencePanes; ++i) {
        if (i == 9) {
            views[i] = [pane = std::weak_ptr(windows_.probesPane)]() -> QWidget* {
                const auto probes = pane.lock();
                return probes ? probes->preferencePaneView() : nullptr;
            };
            windows_.probesPane->setPreferenceWindow(windows_.preferenceWindow->window());
            windows_.probesPane->useLocalMonitoringClient(localClient_);
        } else if (i == 10) {
            views[i] = [manager = std::weak_ptr(windows_.lcdManager)]() -> QWidget* {
                const auto lcd = manager.lock();
                return lcd ? lcd->preferencePaneView() : nullptr;
            };
            windows_.lcdManager->setPreferenceWindow(windows_.preferenceWindow->window());
            windows_.lcdManager->setApplicationController(this);
        }
        prefPaneIdentifiers_.append(QString::number(quint64(i)));
    }
    windows_.preferenceWindow->setPaneViewMakers(prefPaneIdentifiers_, views);

    setupPowerEventNotification();
    readjustMainUpdateTimer();

    bool shownDialogs = false;
    if (!isLocalMachineSupportedGetHasShownSubmitDialogs(&shownDialogs) && !shownDialogs)
        showModelSupportNotice();
}

void AppController::setAsideUnreadablePreferences()
{
    TEVUserDefaultsProxy defaults = TEVUserDefaultsProxy::standardUserDefaults();
    // A file that exists but cannot be opened may be intact: it stays, and nothing is written over it.
    if (const QString unreadable = defaults.unreadableReason(); !unreadable.isNull()) {
        toldFailures_.insert(unreadable);
        queueNotice(localized(QStringLiteral("Settings Not Read")),
                    fill(localized(QStringLiteral("The stored settings could not be read (%@), so the application "
                                                  "runs with its default settings. The file is left as it is, and "
                                                  "changed settings cannot be saved while it cannot be read.")),
                         {unreadable}));
        return;
    }
    // Told once: the unreadable file is out of the way from now on.
    const QString aside = defaults.setAsideBadFile();
    if (aside.isNull())
        return;
    queueNotice(localized(QStringLiteral("Settings Reset")),
                fill(localized(QStringLiteral("The stored settings could not be read, so the application started "
                                              "with its default settings. The unreadable file was kept as \"%@\".")),
                     {aside}));
}

void AppController::queueNotice(const QString& title, const QString& text)
{
    notices_.append({title, text});
}

void AppController::tellOfResetPreferences()
{
    if (notices_.isEmpty())
        return;
    // One panel: a second notice would replace the first.
    QStringList texts;
    for (const auto& notice : std::as_const(notices_))
        texts.append(notice.second);
    const QString title = notices_.constFirst().first;
    notices_.clear();
    const QString text = texts.join(QStringLiteral("\n\n"));
    platform::log("Kelvaro", QStringLiteral("told the user: %1").arg(text.simplified()));
    windows_.alertPanel->showNotice(title, text);
}

void AppController::showModelSupportNotice()
{
    Alert alert;
    alert.messageText = localized(QStringLiteral("This model series is not supported by this application."));
    alert.informativeText = fill(politeLocalized(QStringLiteral(
                                     "%@ will not run on your Mac. It is designed to work with Apple computers officially "
                                     "supporting OS X 10.10, OS X 10.11, or macOS 10.12 that have been released before %@.")),
                                 {kApplicationName, hardwareSupportLimitText()});
    alert.buttons = {localized(QStringLiteral("OK"))};
    runAlert(alert);
}

void AppController::createAndOpenLocalSplashWindow()
{
    if (splash_)
        return;
    splash_ = windows_.makeSplashWindow();
    splash_->show();
}

// --- Ready clients ---------------------------------------------------------------------------------------

void AppController::refuseLocalClient()
{
    // The program cannot work without it: say so instead of leaving the splash window up for ever.
    platform::log(QStringLiteral("The local monitoring client was refused; the application cannot monitor this computer.\n"));
    if (splash_) {
        splash_->close();
        splash_.reset();
    }
    tellOfResetPreferences();
    showLocalClientFailureAlert();
}

void AppController::showAlreadyMonitoredAlert(const QString& name, bool thisComputer)
{
    Alert alert;
    alert.style = Alert::Style::Informational;
    alert.messageText = localized(QStringLiteral("Computer monitored already"));
    alert.informativeText =
        thisComputer
            ? fill(localized(QStringLiteral("The computer '%@' is this computer, which is monitored already. The new "
                                            "connection to it was closed.")),
                   {name})
            : fill(localized(QStringLiteral("The computer '%@' is monitored already. The new connection to it was "
                                            "closed.")),
                   {name});
    alert.buttons = {localized(QStringLiteral("OK"))};
    runAlert(alert);
}

void AppController::clientHasBecomeReady(const ClientPtr& client)
{
    if (!contains(client))
        return;
    const bool local = isLocal(client);
    if (!isClientAcceptableForNewConnection(client)) {
        platform::log(QStringLiteral("Incorrect connection request detected. Rejecting client!\n"));
        if (local) {
            refuseLocalClient();
            return;
        }
        // Only this client's gauges and windows: those of the monitored computer stay as they are.
        const QString name = client->machineName();
        const bool identified = !client->clientIdentification().isEmpty();
        const auto own = localClient();
        const bool thisComputer = own && own != client && own->clientIdentification() == client->clientIdentification();
        reconnectingClients_.removeAll(client);
        disconnectClient(client);
        if (identified)
            showAlreadyMonitoredAlert(name, thisComputer);
        return;
    }
    if (!isServerVersionAcceptable(client->versionCode())) {
        showIncompatibleAgentAlert();
        if (local && contains(client)) {
            refuseLocalClient();
            return;
        }
        disconnectClient(client);
        return;
    }
    // An alert above runs a nested loop in which the client may have gone.
    if (!contains(client))
        return;

    addClientToAllMonitorWindowFactories(client);
    windows_.connectionWindow->updateContents();
    reconnectingClients_.removeAll(client);
    if (local) {
        completeInitializationOfLocalClient();
        // After a relaunch the probe pane must drop the client that was shut down.
        windows_.probesPane->useLocalMonitoringClient(client);
    } else {
        monitorPreferences_->addConnectionInfo(client->connectionInfo(), client->machineSerialNumber());
        monitorPreferences_->rememberRemoteConnection(client->machineSerialNumber());
    }
    synchronizeGlobalPreferencesWithClient(client);
    client->run();
    handleConfigurationChangeOnClient(nullptr);
    // Not on the way out of an unanswered import offer: the windows of the last quit stay as recorded.
    if (local && !preferredChannelsOpened_ && localPreferences_ && !localPreferencesUndecided_) {
        preferredChannelsOpened_ = true;
        openPreferredDisplayChannels();
    }
    // Over the windows just opened.
    if (local)
        tellOfResetPreferences();
    if (local && !monitoringReported_) {
        // One diagnostic line, once the local computer's sensors are connected: scripts wait for it.
        monitoringReported_ = true;
        platform::log("Kelvaro", QStringLiteral("monitoring '%1' with %2 sensors")
                                     .arg(client->machineName())
                                     .arg(connectedSensorNames_.size()));
    }
    if (!client->hasActiveConnection())
        return;
    if (localLCDManager_) {
        localLCDManager_->rebuildListOfAvailableOutputItems();
        localLCDManager_->updateContents();
    }
    // A computer that failed meanwhile has its own alert: "no sensors" would be a second one for one failure.
    if (client->numberOfAvailableSensors() == 0 && client->remoteFailure() == RemoteFailure::None) {
        Alert alert;
        alert.style = Alert::Style::Informational;
        alert.messageText = localized(QStringLiteral("No accessible sensors found"));
        alert.informativeText = fill(politeLocalized(QStringLiteral(
                                         "Unfortunately, the application could not detect any accessible sensors in the "
                                         "computer '%@'.\n\nThe application is supporting all Macintosh computers released "
                                         "before %@. Please see the online help for more information.")),
                                     {client->machineName(), hardwareSupportLimitText()});
        alert.buttons = {localized(QStringLiteral("OK"))};
        runAlert(alert);
    }
    if (!contains(client))
        return;
    if (!monitorPreferences_->isFirstLaunchOfApplication() && local) {
        checkForUncoloredGauges();
        checkForDeactivatedGF6800Sensors();
    }
    checkForOutdatedSensorDesignations();
    checkForWithdrawnSensorSupport();
}

void AppController::openPreferredDisplayChannels()
{
    const MonitorPreferences& prefs = *monitorPreferences_;
    // Each window is filled at once rather than on the next tick, which may be seconds away.
    if (prefs.standardWindowShouldOpen())
        openSensorWindow();
    if (prefs.screenDisplayShouldOpen())
        toggleScreenWindow();
    if (prefs.overviewShouldOpen())
        openMonitorWindows(kSensorOverview);
    if (prefs.systemInfoShouldOpen())
        openMonitorWindows(kSystemInfoDisplay);
    if (prefs.historyWindowsShouldOpen())
        openHistoryWindowsRestrictToPreferredOnes(true);
    if (prefs.minMaxWindowShouldOpen())
        openMinMaxWindow();
    if (prefs.batteryInfoShouldOpen())
        openMonitorWindows(kSmartBatteryInfoDisplay);
    if (prefs.displayInfoShouldOpen())
        openMonitorWindows(kDisplayInfoDisplay);
    // The sensor window is the main one: it keeps the focus, not the window opened last.
    if (prefs.standardWindowShouldOpen() && standardWindowController_)
        MainWindowFocus::activateOnceMapped(standardWindowController_->window());
}

void AppController::completeInitializationOfLocalClient()
{
    if (localPreferences_)
        return;
    readOrCreateLocalMachinePreferences();
    // Named now, while the network is there: a write at logout must not look the name up.
    if (localClient_)
        monitorPreferences_->nameLocalComputer(localClient_->machineSerialNumber());
    windows_.preferenceWindow->selectPreferencePaneAtIndex(0);
    minMaxWindowController_->bindToApplicationController(this);
    localLCDManager_ = windows_.lcdManager;
    if (localPreferences_)
        localLCDManager_->setLCDModulePreferences(localPreferences_->lcdModuleDescriptions());
    if (splash_) {
        splash_->close();
        splash_.reset();
    }
    if (monitorPreferences_->reconnectClientsOnLaunch())
        scheduleReconnectOfKnownClients();
}

void AppController::readOrCreateLocalMachinePreferences()
{
    if (!localClient_)
        return;
    const QString serial = localClient_->machineSerialNumber();
    localPreferences_ = monitorPreferences_->preferencesForMachineWithSerialNumber(serial);
    if (!localPreferences_) {
        const auto known = monitorPreferences_->machineSpecifiersOfKnownSystems();
        const QVariant computers = known ? known->value(localClient_->machineModelCode()) : QVariant();
        const auto list = values::toArray(computers);
        if (list && !list->isEmpty()) {
            const auto specifiers = MachineSpecifier::specifierArrayForDictionaryArray(computers);
            const auto panel = windows_.makeImportPanel();
            const QString chosen = panel->runDialogPanelForMachineSpecifiers(specifiers.value_or(MachineSpecifier::List()));
            if (panel->endedWithoutAnswer()) {
                // The program quit while the offer was open: that decides nothing. The rest of this run works
                // on a new set that is never filed.
                localPreferencesUndecided_ = true;
                localPreferences_ = MachinePreferences::createForLocalClient(localClient_);
            } else if (!chosen.isEmpty()) {
                localPreferences_ = monitorPreferences_->importedMachinePreferencesForMonitoringClient(localClient_, chosen);
            }
        }
    }
    if (!localPreferences_)
        localPreferences_ = monitorPreferences_->createLocalMachinePreferencesUsingMonitoringClient(localClient_);
    if (!localPreferences_)
        return;
    TEVArtificialSensor::setArtificialSensorsUsingPreferenceDictionaries(localPreferences_->probeDescriptions());
    if (!TEVArtificialSensor::allSensors().isEmpty())
        localClient_->rescanForSensors();
}

void AppController::preferenceWindowWillClose()
{
    takeBackPanePreferences();
    MonitorPreferences::WriteResult written;
    windows_.preferenceWindow->runWithWaitSheet([this, &written] { written = writePreferences(); });
    if (!written.written())
        tellOfFailedWrites({fill(localized(QStringLiteral("The settings could not be saved to \"%@\": %@.")),
                                 {written.path, written.failure})},
                           false);
}

void AppController::takeBackPanePreferences()
{
    if (!localPreferences_)
        return;
    localPreferences_->setProbeDescriptions(TEVArtificialSensor::preferenceDictionariesForAllSensors());
    if (localLCDManager_)
        localPreferences_->setLCDModuleDescriptions(localLCDManager_->lcdModulePreferences());
}

MonitorPreferences::WriteResult AppController::writePreferences()
{
    // A local set the user has not decided on is not stored, nor is this computer listed as seen: the offer
    // to import comes again at the next start.
    if (!localSetDecided()) {
        ClientList remotes = monitorClients_;
        remotes.removeAll(localClient_);
        return monitorPreferences_->writePreferencesUsingMonitoringClients(remotes, nullptr);
    }
    return monitorPreferences_->writePreferencesUsingMonitoringClients(monitorClients_, localClient_);
}

void AppController::showPreferenceWindow()
{
    windows_.preferenceWindow->showWindow();
}

// --- Termination -----------------------------------------------------------------------------------------

void AppController::applicationWillTerminate()
{
    windows_.preferenceWindow->setWillCloseHandler({});
    recordWindows();
    // Before the first completion (or while the local client is relaunched) some of these are absent: what
    // exists is still written.
    takeBackPanePreferences();
    if (localLCDManager_)
        localLCDManager_->shutdownAllDisplays();
    const MonitorPreferences::WriteResult preferences = writePreferences();
    const std::optional<QString> histories = saveLongTermHistories();
    QStringList failures;
    if (!preferences.written())
        failures.append(fill(localized(QStringLiteral("The settings could not be saved to \"%@\": %@.")),
                             {preferences.path, preferences.failure}));
    if (histories && !histories->isNull())
        failures.append(fill(localized(QStringLiteral("The sensor histories could not be saved: %@.")), {*histories}));
    tellOfFailedWrites(failures, true);
    // Nothing more runs: a client's end, reported from here on, is the quit, not a failure to answer.
    stopForTermination();
    for (const auto& client : clientsSnapshot())
        client->shutdown();
    windows_.dockTile->restoreApplicationIcon();
    installedDockImage_ = 0;
}

void AppController::recordWindows()
{
    if (standardWindowController_)
        standardWindowController_->saveSpecialPositionPreferences();
    if (screenDisplayController_)
        screenDisplayController_->saveSpecialPositionPreferences();
    MonitorPreferences& prefs = *monitorPreferences_;
    // Until the windows of the last quit were opened, what is visible says nothing of what the user wants:
    // the stored choice stays.
    if (preferredChannelsOpened_) {
        const auto factoryVisible = [this](const QString& name) {
            const auto factory = windowFactories_.value(name);
            return factory && factory->isWindowVisible();
        };
        prefs.setStandardWindowShouldOpen(standardWindowController_ && standardWindowController_->isWindowVisible());
        prefs.setScreenDisplayShouldOpen(screenDisplayController_ && screenDisplayController_->isWindowVisible());
        prefs.setOverviewShouldOpen(factoryVisible(kSensorOverview));
        prefs.setSystemInfoShouldOpen(factoryVisible(kSystemInfoDisplay));
        prefs.setBatteryInfoShouldOpen(factoryVisible(kSmartBatteryInfoDisplay));
        prefs.setDisplayInfoShouldOpen(factoryVisible(kDisplayInfoDisplay));
        prefs.setHistoryWindowsShouldOpen(hasHistoryWindowOpen());
        prefs.setMinMaxWindowShouldOpen(minMaxWindowController_ && minMaxWindowController_->isWindowVisible());
        for (const auto& history : std::as_const(historyWindowControllers_))
            history->syncWindowStateToPreferences();
    }
}

// --- Clients and the update cycle ----------------------------------------------------------------------

void AppController::removeClient(const ClientPtr& client)
{
    if (!client)
        return;
    removeClientFromAllMonitorWindowFactories(client);
    ControllerCore::removeClient(client);
    windows_.connectionWindow->updateContents();
}

void AppController::handleConfigurationChangeOnClient(const ClientPtr& client)
{
    synchronizeLocalPreferencesWithClientOrAll(client);
    resyncConnectedSensors();
    createHistoryWindowControllers();
    windows_.preferenceWindow->updatePreferenceWindow();
    windows_.preferenceWindow->deselectHistoryWindowTable();
    windows_.connectionWindow->updateContents();
    updateAllOutputChannelsAndCache(true);
}

void AppController::updateAllOutputChannelsAndCache(bool refill)
{
    // A refresh asked for from inside a refresh (an alert's nested loop) would only repeat this one.
    if (updating_)
        return;
    updating_ = true;
    if (refill)
        updateOutputCache();
    if (standardWindowController_ && standardWindowController_->isWindowVisible())
        updateStandardWindow();
    if (screenDisplayController_ && screenDisplayController_->isWindowVisible())
        updateScreenDisplay();
    updateMenuBarDisplay();
    updateDockDisplay();
    updateHistoryWindows();
    for (const QString& name : {kSensorOverview, kSmartBatteryInfoDisplay, kDisplayInfoDisplay, kDriveOverview}) {
        const auto factory = windowFactories_.value(name);
        if (factory && factory->isWindowVisible())
            factory->updateAllWindows();
    }
    if (localLCDManager_)
        localLCDManager_->updateAllDisplaysUsingOutputCache(outputCache_);
    checkForAlerts();
    ++speechSlotCounter_;
    if (localPreferences_ && localPreferences_->talksInIntervals()) {
        if (speechSlotCounter_ >= localPreferences_->talkIntervalMultiplier()) {
            speechSlotCounter_ = 0;
            speakActiveValues();
        }
    } else {
        checkForVoiceValueChanges();
    }
    updating_ = false;
}

void AppController::rebuildGaugeOutlineRepresentations()
{
    gaugesByComputer_.clear();
    gaugesByIdentification_.clear();
    // A gauge belongs to the computer its identifier names, whatever that computer calls itself.
    if (localPreferences_) {
        const auto& gauges = localPreferences_->gaugeDictionary();
        for (auto it = gauges.cbegin(); it != gauges.cend(); ++it) {
            if (!it.value())
                continue;
            QString serial;
            const bool remote = TEVGauge::getSensorIdentifier(nullptr, &serial, it.key());
            gaugesByIdentification_[remote ? TEVMonitoringClient::clientIdentifierFromSerialNumber(serial) : QString()].append(it.value());
        }
    }
    QList<computernames::Computer> computers;
    QList<const QList<std::shared_ptr<TEVGauge>>*> lists;
    for (auto it = gaugesByIdentification_.begin(); it != gaugesByIdentification_.end(); ++it) {
        std::stable_sort(it->begin(), it->end(), [](const auto& a, const auto& b) { return a->compare(*b) < 0; });
        const bool local = it.key().isEmpty();
        const QString identification = local ? (localClient_ ? localClient_->clientIdentification() : QString()) : it.key();
        const QString serial = TEVMonitoringClient::serialNumberFromClientIdentifier(identification);
        const QString name = local ? (localClient_ ? localClient_->machineName() : QString())
                                   : readableRepresentationForClientWithSerialNumber(serial);
        if (name.isNull())
            continue;
        std::shared_ptr<MonitorConnectionInfo> place;
        if (local)
            place = localClient_->connectionInfo();
        else if (const auto client = clientForClientIdentifier(it.key()))
            place = client->connectionInfo();
        else
            place = monitorPreferences_->infoToConnectMachineWithSerialNumber(serial);
        computers.append({name, computernames::placeOf(place.get()), serial});
        lists.append(&it.value());
    }
    const QStringList names = computernames::distinctNames(computers);
    for (qsizetype i = 0; i < names.size(); ++i)
        gaugesByComputer_.insert(names[i], *lists[i]);
    localGaugeComputers_ = gaugesByComputer_.keys();
    std::stable_sort(localGaugeComputers_.begin(), localGaugeComputers_.end(),
                     [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
}

QList<std::shared_ptr<TEVGauge>> AppController::activeGaugesForConnectedClient(const ClientPtr& client) const
{
    QList<std::shared_ptr<TEVGauge>> active;
    if (!client)
        return active;
    const bool local = isLocal(client);
    const QString identification = client->clientIdentification();
    if (!local && identification.isEmpty())
        return active;
    for (const auto& gauge : gaugesByIdentification_.value(local ? QString() : identification))
        if (gauge->isReadyAndConnected())
            active.append(gauge);
    return active;
}

// --- Monitor and history windows -----------------------------------------------------------------------

void AppController::addMonitorWindowFactoryForClass(const QString& className, const QString& defaultWindowTitle)
{
    if (defaultWindowTitle.isNull())
        return;
    // A class outside the window family gives no factory.
    if (auto factory = windows_.makeMonitorWindowFactory(className, defaultWindowTitle))
        windowFactories_.insert(className, std::move(factory));
}

void AppController::addClientToAllMonitorWindowFactories(const ClientPtr& client)
{
    for (const auto& factory : std::as_const(windowFactories_))
        factory->addMonitoringClient(client, this);
}

void AppController::removeClientFromAllMonitorWindowFactories(const ClientPtr& client)
{
    for (const auto& factory : std::as_const(windowFactories_))
        factory->removeMonitoringClient(client);
}

void AppController::createHistoryWindowControllers()
{
    if (!localPreferences_)
        return;
    const auto& preferences = localPreferences_->historyWindowPreferences();
    for (qsizetype i = historyWindowControllers_.size(); i < preferences.size(); ++i) {
        auto controller = windows_.makeHistoryWindow(this, this, preferences.at(i));
        historyWindowControllers_.append(controller);
        platform::NotificationCenter::defaultCenter().post(historyWindowControllerWasAddedNotification, controller.get());
    }
}

void AppController::updateHistoryWindows()
{
    for (const auto& history : QList(historyWindowControllers_))
        if (history->isWindowVisible())
            history->updateWindow();
    if (minMaxWindowController_ && minMaxWindowController_->isWindowVisible())
        minMaxWindowController_->updateWindow();
}

void AppController::openHistoryWindowsRestrictToPreferredOnes(bool restrict)
{
    // The cascade runs through every window, opened or not.
    QPoint p(0, 0);
    for (const auto& history : QList(historyWindowControllers_)) {
        if (p.x() == 0 || p.y() == 0 || history->hasAutosavedPosition())
            p = history->topLeftWindowPosition();
        else
            p = history->cascadeTopLeftFromPoint(p);
        if (!restrict || history->prefersToBeOpenAtLaunchTime())
            history->openWindow();
    }
}

bool AppController::hasHistoryWindowOpen() const
{
    return std::any_of(historyWindowControllers_.cbegin(), historyWindowControllers_.cend(),
                       [](const auto& history) { return history->isWindowVisible(); });
}
