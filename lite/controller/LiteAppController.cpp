#include "lite/controller/LiteAppController.h"

#include "acquisition/MonitoringClient.h"
#include "app/controller/AppController.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/OutputCacheEntry.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVStringFormat.h"
#include "framework/TEVUserDefaultsProxy.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/Scheduler.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DistributedNotificationCenter.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVMachineInfo.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>

namespace lite {

namespace {

constexpr quint64 kProductCode = 216202;
constexpr quint64 kVersionCode = 1376;
const QString kApplicationName = QStringLiteral("Kelvaro");
const QString kFeedbackSubject = QStringLiteral("Kelvaro%20Lite");
const QString kLiteSuffix = QStringLiteral(".lite");

QString fill(const QString& format, const QStringList& arguments)
{
    return TEVStringFormat::withObjects(format, arguments);
}

} // namespace

AppController::AppController(LiteWindows windows)
    : windows_(std::move(windows))
{
    if (!windows_.makeStatusItem)
        windows_.makeStatusItem = [] { return std::make_shared<platform::StatusItem>(); };
    if (!windows_.connectionWindow)
        windows_.connectionWindow = std::make_shared<ConnectionWindow>();
    if (!windows_.alertPanel)
        windows_.alertPanel = std::make_shared<AlertPanel>();
    if (!windows_.preferenceNoticePanel)
        windows_.preferenceNoticePanel = std::make_shared<PreferenceNoticePanel>();
    if (!windows_.warningPanel)
        windows_.warningPanel = std::make_shared<WarningPanel>();
    warningPanel_ = windows_.warningPanel;
    terminate_ = [](int status) {
        std::fflush(nullptr);
        std::exit(status);
    };
    // exit(), not quit(): a quit request to the application is the desktop's (see DesktopQuit).
    quit_ = [] { QCoreApplication::exit(0); };
}

AppController::~AppController()
{
    if (center_ && noticeObserver_ != platform::ObserverToken())
        center_->removeObserver(noticeObserver_);
}

// --- Domain ----------------------------------------------------------------------------------------------

QString AppController::masterPreferencesDomainForIdentifier(const QString& identifier)
{
    if (!identifier.endsWith(kLiteSuffix))
        return {};
    return identifier.left(identifier.indexOf(kLiteSuffix));
}

QString AppController::masterPreferencesDomain()
{
    const auto bundle = platform::Bundle::main();
    return masterPreferencesDomainForIdentifier(bundle ? bundle->identifier() : QString());
}

bool AppController::redirectToMasterDomain()
{
    const QString domain = masterPreferencesDomain();
    if (domain.isEmpty()) {
        platform::log(QStringLiteral("Internal bundle identification error. Terminating!\n"));
        terminate_(1);
        return false;
    }
    TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(domain);
    return true;
}

// --- Launch ----------------------------------------------------------------------------------------------

void AppController::applicationWillFinishLaunching()
{
    setInternationalApplicationName(kApplicationName, kProductCode, kVersionCode, kFeedbackSubject, kApplicationName);
    if (!redirectToMasterDomain())
        return;
    if (!center_)
        center_ = &platform::DistributedNotificationCenter::defaultCenter();
    if (noticeObserver_ == platform::ObserverToken())
        noticeObserver_ = center_->addObserver(MonitorPreferences::userDefaultsDidChangeNotification, QString(),
                                               [this, alive = std::weak_ptr<bool>(aliveFlag())](
                                                   const platform::DistributedNotification& notification) {
                                                   if (const auto flag = alive.lock(); flag && *flag)
                                                       masterPreferencesDidChange(notification.object);
                                               });
    setupApplicationSupport();
}

void AppController::applicationDidFinishLaunching()
{
    if (!redirectToMasterDomain())
        return;
    monitorPreferences_->readPreferences();
    monitorClients_.clear();
    launchLocalClient();
    windows_.connectionWindow->connectToClientList(&monitorClients_);
    observeShouldDisconnectRequests();
    // No capacity hint from the local client: it is not ready, and asking it would wait for its thread.
    connectedSensorNames_.clear();
    outputCache_.clear();
    pendingAlerts_.clear();
    reconnectingClients_.clear();
    sleepingHosts_.clear();
    setupPowerEventNotification();
    readjustMainUpdateTimer();

    if (!isLocalMachineSupported()) {
        platform::Alert alert;
        alert.messageText = localized(QStringLiteral("This model series is not supported by this application."));
        alert.informativeText = politeLocalized(QStringLiteral(
            "This version of Kelvaro Lite will not run on your Mac. Please run the main application (Kelvaro) for "
            "further information."));
        alert.buttons = {localized(QStringLiteral("OK"))};
        runAlert(alert);
    }
    if (monitorPreferences_->isFirstLaunchOfApplication())
        openNoPrefsDialog();
    // The first refresh (a tick or a ready client) replaces the wait title.
    if (!statusItem_) {
        statusItem_ = makeStatusItem();
        // The tray draws a mark short enough to read at its size; the words are the tooltip.
        statusItem_->setTitle({{localized(kPleaseWait), QColor(), false, QStringLiteral("…")}}, QFont());
    }
}

bool AppController::isLocalMachineSupported() const
{
    const auto info = TEVMachineInfo::sharedMachineInfo();
    const auto bundle = platform::Bundle::main();
    if (!info || !bundle || info->systemModelCode().isEmpty())
        return false;
    const QString notFound = QStringLiteral("*NOTFOUND*");
    return bundle->localizedString(info->systemModelCode(), notFound, QStringLiteral("ModelCodes")) != notFound;
}

void AppController::openNoPrefsDialog()
{
    const QString name = localized(kApplicationName);
    platform::Alert alert;
    alert.messageText = localized(QStringLiteral("No preferences set"));
    alert.informativeText = fill(politeLocalized(QStringLiteral(
                                     "You have not used %@ on this computer before. To set preferences for this computer "
                                     "type, please launch %@ before you use %@ Lite.")),
                                 {name, name, name});
    alert.buttons = {localized(QStringLiteral("OK"))};
    runAlert(alert);
}

void AppController::masterPreferencesDidChange(const QString& object)
{
    const QString domain = masterPreferencesDomain();
    if (domain.isEmpty() || object != domain)
        return;
    windows_.preferenceNoticePanel->centerAndShow(localized(kApplicationName));
}

// --- Ready clients ---------------------------------------------------------------------------------------

void AppController::clientHasBecomeReady(const ClientPtr& client)
{
    if (!contains(client))
        return;
    if (!isClientAcceptableForNewConnection(client)) {
        platform::log(QStringLiteral("Incorrect connection request detected. Rejecting client!\n"));
        disconnectClient(client);
        return;
    }
    if (!isServerVersionAcceptable(quint16(client->versionCode()))) {
        showIncompatibleAgentAlert();
        disconnectClient(client);
        return;
    }
    // An alert above runs a nested loop in which the client may have gone.
    if (!contains(client))
        return;
    windows_.connectionWindow->updateContents();
    reconnectingClients_.removeAll(client);
    if (isLocal(client))
        completeInitializationOfLocalClient();
    else
        monitorPreferences_->addConnectionInfo(client->connectionInfo(), client->machineSerialNumber());
    synchronizeGlobalPreferencesWithClient(client);
    client->run();
    // The refresh below makes a fresh item.
    statusItem_.reset();
    handleConfigurationChangeOnClient(nullptr);
    if (!contains(client) || !client->hasActiveConnection() || client->numberOfAvailableSensors() != 0
        || client->remoteFailure() != RemoteFailure::None)
        return;
    platform::Alert alert;
    alert.style = platform::Alert::Style::Informational;
    alert.messageText = localized(QStringLiteral("No accessible sensors found"));
    alert.informativeText = fill(politeLocalized(QStringLiteral(
                                     "Unfortunately, the application could not detect any accessible sensors in the "
                                     "computer '%@'.\n\nThe application is supporting all Macintosh computers released "
                                     "before %@. Please see the online help of %@ for more information.")),
                                 {client->machineName(), ::AppController::hardwareSupportLimitText(),
                                  localized(kApplicationName)});
    alert.buttons = {localized(QStringLiteral("OK"))};
    runAlert(alert);
    platform::Scheduler::shared()->afterSeconds(0, guarded([this] { launchBigSibling(); }));
}

void AppController::completeInitializationOfLocalClient()
{
    if (localPreferences_)
        return;
    readOrCreateLocalMachinePreferences();
    if (monitorPreferences_->reconnectClientsOnLaunch())
        scheduleReconnectOfKnownClients();
}

void AppController::readOrCreateLocalMachinePreferences()
{
    if (!localClient_)
        return;
    // Kelvaro's set or none: the Lite edition neither imports nor creates one.
    localPreferences_ = monitorPreferences_->preferencesForMachineWithSerialNumber(localClient_->machineSerialNumber());
    if (!localPreferences_)
        return;
    TEVArtificialSensor::setArtificialSensorsUsingPreferenceDictionaries(localPreferences_->probeDescriptions());
    if (!TEVArtificialSensor::allSensors().isEmpty())
        localClient_->rescanForSensors();
}

void AppController::rescanLocalClientForSensors()
{
    if (localClient_)
        localClient_->rescanForSensors();
}

// --- Termination -----------------------------------------------------------------------------------------

void AppController::applicationWillTerminate()
{
    // Writes nothing: the preferences are Kelvaro's.
    stopForTermination();
    for (const auto& client : clientsSnapshot())
        client->shutdown();
    if (center_ && noticeObserver_ != platform::ObserverToken()) {
        center_->removeObserver(noticeObserver_);
        noticeObserver_ = {};
    }
}

// --- Clients and the update cycle ----------------------------------------------------------------------

void AppController::removeClient(const ClientPtr& client)
{
    if (!client)
        return;
    ControllerCore::removeClient(client);
    windows_.connectionWindow->updateContents();
}

void AppController::handleConfigurationChangeOnClient(const ClientPtr& client)
{
    synchronizeLocalPreferencesWithClientOrAll(client);
    resyncConnectedSensors();
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
    updateMenuBarDisplay();
    checkForAlerts();
    updating_ = false;
}

QList<std::shared_ptr<TEVGauge>> AppController::activeGaugesForConnectedClient(const ClientPtr& client) const
{
    // Only the monitor windows ask, and the Lite edition has none.
    (void)client;
    return {};
}

} // namespace lite
