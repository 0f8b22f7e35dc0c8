#include "app/controller/ControllerCore.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/MonitoringClient.h"
#include "acquisition/TEVMonitoringClient.h"
#include "app/model/ComputerNames.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/OutputCacheEntry.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVStringFormat.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/PowerEvents.h"
#include "platform/desktop/Workspace.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVBatteryInfo.h"
#include "sensors/TEVLocalSMARTProbe.h"
#include "sensors/TEVSensor.h"

#include <QSet>

#include <algorithm>

namespace values = platform::values;
using platform::Alert;
using platform::ModalPolicy;
using platform::Scheduler;

namespace {

const QString kLocalApplicationName = QStringLiteral("Kelvaro");

QString pointerText(const void* pointer)
{
    return QStringLiteral("0x%1").arg(quintptr(pointer), 0, 16);
}

QString serialOf(const ControllerCore::ClientPtr& client)
{
    return client ? TEVMonitoringClient::serialNumberFromClientIdentifier(client->clientIdentification()) : QString();
}

// The name a ready client was told by its computer (kept through its failure and shutdown, asked of
// nobody); null before readiness, when asking would be a call into its capture thread.
QString ownNameOf(const ControllerCore::ClientPtr& client)
{
    if (!client || client->clientIdentification().isEmpty())
        return {};
    const QString name = client->machineName();
    return name.isEmpty() ? QString() : name;
}

// How the computer was to be reached: its service's name, or its host and port (several computers may
// share a host through tunnels or forwarded ports).
QString descriptorNameOf(const ControllerCore::ClientPtr& client)
{
    return client ? computernames::placeOf(client->connectionInfo().get()) : QString();
}

// A client as the log names it: by its computer's name when known, and where it is reached.
QString loggedClient(const ControllerCore::ClientPtr& client, const QString& name)
{
    const auto& info = client ? client->connectionInfo() : nullptr;
    if (info && info->isLocal())
        return name.isEmpty() ? QStringLiteral("this computer") : QStringLiteral("'%1' (this computer)").arg(name);
    const QString place = descriptorNameOf(client);
    if (name.isEmpty())
        return place.isEmpty() ? QStringLiteral("an unknown computer") : place;
    return place.isEmpty() ? QStringLiteral("'%1'").arg(name) : QStringLiteral("'%1' at %2").arg(name, place);
}

// Why a remote computer failed, in the log's words (the alert's, untranslated); null when nothing is known.
QString failureReason(RemoteFailure failure)
{
    switch (failure) {
    case RemoteFailure::HostNotFound:
        return QStringLiteral("Its name could not be found on the network.");
    case RemoteFailure::ConnectionRefused:
        return QStringLiteral("It refused the connection: no monitoring service answers at its port.");
    case RemoteFailure::NoAnswer:
        return QStringLiteral("It did not answer in time.");
    case RemoteFailure::ConnectionClosed:
        return QStringLiteral("It closed the connection or sent a reply that could not be read.");
    case RemoteFailure::NotMonitoring:
        return QStringLiteral("It answers at its port, but it is no monitoring service: it did not describe its computer.");
    case RemoteFailure::NoSerialNumber:
        return QStringLiteral("It sent no serial number, by which alone it could be told apart from other computers.");
    case RemoteFailure::None:
        break;
    }
    return {};
}

// The sentence that says which way contacting a remote computer went wrong; empty when unknown.
QString failureSentence(RemoteFailure failure)
{
    const QString reason = failureReason(failure);
    return reason.isNull() ? QString() : ControllerCore::localized(reason);
}

// " REASON" for a log line, or nothing.
QString loggedReason(RemoteFailure failure)
{
    const QString reason = failureReason(failure);
    return reason.isNull() ? QString() : QLatin1Char(' ') + reason;
}

} // namespace

ControllerCore::ControllerCore()
    : monitorPreferences_(std::make_unique<MonitorPreferences>())
    , clientFactory_([](const ConnectionInfoPtr& info) -> ClientPtr { return TEVMonitoringClient::create(info); })
{
}

ControllerCore::~ControllerCore()
{
    *alive_ = false;
    auto& center = platform::NotificationCenter::defaultCenter();
    for (const auto& tokens : std::as_const(clientObservers_))
        for (const auto& token : tokens)
            center.removeObserver(token);
    if (shouldDisconnectObserver_.isValid())
        center.removeObserver(shouldDisconnectObserver_);
    mainUpdateTimer_.invalidate();
    relaunchTimer_.invalidate();
}

bool ControllerCore::isReady(const ClientPtr& client)
{
    return client && !client->clientIdentification().isEmpty();
}

QString ControllerCore::localized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key) : key;
}

QString ControllerCore::politeLocalized(const QString& key) const
{
    return localizedUIPolitenessAgnosticStringForKey(key);
}

int ControllerCore::runAlert(const Alert& alert)
{
    return platform::AlertPresenter::shared()->runModal(alert);
}

bool ControllerCore::launchSibling(const QString& executable, const QString& title)
{
    platform::Workspace::LaunchFailure failure;
    if (platform::Workspace::shared()->launchApplication(executable, &failure))
        return true;
    Alert alert;
    alert.style = Alert::Style::Warning;
    alert.messageText = TEVStringFormat::withObjects(localized(QStringLiteral("%@ could not be launched.")), {title});
    if (!failure.foundAt.isEmpty()) {
        alert.informativeText = TEVStringFormat::withObjects(
            localized(QStringLiteral("The program '%@' was found but could not be started.")), {failure.foundAt});
    } else {
        // One folder a line: a path broken at its slashes reads as none.
        const QString beside = failure.searched.value(0);
        const QString path = failure.searched.size() > 1 ? failure.searched.mid(1).join(QLatin1Char('\n'))
                                                          : localized(QStringLiteral("(none)"));
        alert.informativeText = TEVStringFormat::withObjects(
            localized(QStringLiteral("No program named '%@' was found beside this one, in\n%@\n\nnor in the folders "
                                     "of the search path (PATH):\n%@")),
            {executable, beside, path});
    }
    alert.buttons = {localized(QStringLiteral("OK"))};
    runAlert(alert);
    return false;
}

// --- Clients -------------------------------------------------------------------------------------------

void ControllerCore::launchLocalClient()
{
    localClient_ = clientFactory_(MonitorConnectionInfo::createForLocalMachine(kLocalApplicationName));
    addNewClient(localClient_);
}

void ControllerCore::addNewClient(const ClientPtr& client)
{
    if (!client)
        return;
    monitorClients_.append(client);
    observeClient(client);
}

void ControllerCore::observeClient(const ClientPtr& client)
{
    auto& center = platform::NotificationCenter::defaultCenter();
    const std::weak_ptr<MonitoringClient> weak = client;
    const auto observe = [&](const QString& name, void (ControllerCore::*handler)(const ClientPtr&)) {
        return center.addObserver(name, client->notificationIdentity(),
                                  [this, weak, handler, alive = std::weak_ptr<bool>(alive_)](const platform::Notification&) {
                                      const auto flag = alive.lock();
                                      if (const auto strong = weak.lock(); strong && flag && *flag)
                                          (this->*handler)(strong);
                                  });
    };
    auto& tokens = clientObservers_[client->notificationIdentity()];
    tokens.push_back(observe(MonitoringClient::isReadyNotification, &ControllerCore::clientHasBecomeReady));
    tokens.push_back(observe(MonitoringClient::lostConnectionNotification, &ControllerCore::clientHasLostConnection));
    tokens.push_back(observe(MonitoringClient::failedNotification, &ControllerCore::clientHasFailed));
    tokens.push_back(observe(MonitoringClient::enteredSleepModeNotification, &ControllerCore::clientDidEnterSleepMode));
}

void ControllerCore::forgetClientObservers(const ClientPtr& client)
{
    auto& center = platform::NotificationCenter::defaultCenter();
    for (const auto& token : clientObservers_.take(client->notificationIdentity()))
        center.removeObserver(token);
}

void ControllerCore::observeShouldDisconnectRequests()
{
    shouldDisconnectObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        MonitoringClient::shouldDisconnectNotification, {},
        [this, alive = std::weak_ptr<bool>(alive_)](const platform::Notification& notification) {
            if (const auto flag = alive.lock(); !flag || !*flag)
                return;
            ClientPtr client;
            for (const auto& candidate : std::as_const(monitorClients_))
                if (candidate->notificationIdentity() == notification.object.get())
                    client = candidate;
            clientShouldDisconnect(client);
        });
}

void ControllerCore::stopForTermination()
{
    mainUpdateTimer_.invalidate();
    relaunchTimer_.invalidate();
    for (const auto& client : std::as_const(monitorClients_))
        forgetClientObservers(client);
    *alive_ = false;
}

void ControllerCore::removeClient(const ClientPtr& client)
{
    if (!client)
        return;
    announcedClients_.remove(client.get());
    forgetClientObservers(client);
    monitorClients_.removeAll(client);
}

void ControllerCore::disconnectClient(const ClientPtr& client)
{
    if (!client)
        return;
    if (isLocal(client)) {
        platform::log(QStringLiteral("Ignoring request to disconnect local monitor client\n"));
        return;
    }
    disconnectGaugesOfDisconnectingClient(client);
    client->shutdown();
    removeClient(client);
}

void ControllerCore::disconnectGaugesOfDisconnectingClient(const ClientPtr& client)
{
    if (!client || !localPreferences_)
        return;
    // By connection, not by serial number: a refused second client of a computer must leave the gauges of
    // the accepted one connected.
    const TEVSensorSource* source = client.get();
    for (const auto& gauge : std::as_const(localPreferences_->gaugeDictionary()))
        if (gauge && gauge->connectedMonitoringClient().get() == source)
            gauge->connectToClient(nullptr);
}

bool ControllerCore::createRemoteClientUsingConnectionInfo(const ConnectionInfoPtr& info, bool quietly)
{
    if (!info)
        return false;
    if (clientForRemoteConnection(info)) {
        platform::log(QStringLiteral("Ignoring connection request: Already connected.\n"));
        return false;
    }
    const ClientPtr client = clientFactory_(info);
    if (!client)
        return false;
    addNewClient(client);
    if (quietly)
        reconnectingClients_.append(client);
    return true;
}

void ControllerCore::performConnectUsingInfoQuietFlagPair(const QVariantList& pair)
{
    KV_ASSERT_OR_RETURN(pair.size() == 2, , "invalid parameters");
    const auto info = std::dynamic_pointer_cast<MonitorConnectionInfo>(values::toObject(pair.at(0)));
    createRemoteClientUsingConnectionInfo(info, values::toBool(pair.at(1)).value_or(false));
}

void ControllerCore::scheduleStaggeredConnects(const QList<ConnectionInfoPtr>& infos, bool quietly)
{
    double delay = 0;
    for (const auto& info : infos) {
        if (!info)
            continue;
        delay += kConnectStagger;
        const QVariantList pair{values::fromObject(info), values::fromBool(quietly)};
        Scheduler::shared()->afterSeconds(delay, guarded([this, pair] { performConnectUsingInfoQuietFlagPair(pair); }),
                                          ModalPolicy::WaitWhileModal);
    }
}

void ControllerCore::scheduleReconnectOfKnownClients()
{
    Scheduler::shared()->afterSeconds(kConnectStagger, guarded([this] { reconnectKnownClients(); }),
                                      ModalPolicy::WaitWhileModal);
}

void ControllerCore::showIncompatibleAgentAlert()
{
    Alert alert;
    alert.style = Alert::Style::Informational;
    alert.messageText = localized(QStringLiteral("Incompatible remote agent"));
    alert.informativeText = politeLocalized(QStringLiteral(
        "The remote software version is too old to communicate with this monitor version. Please upgrade the remote "
        "application."));
    alert.buttons = {localized(QStringLiteral("OK"))};
    runAlert(alert);
}

QString ControllerCore::fillNumbers(QString format, const QStringList& numbers)
{
    for (const QString& number : numbers) {
        const qsizetype at = format.indexOf(QLatin1String("%g"));
        if (at < 0)
            break;
        format.replace(at, 2, number);
    }
    return format;
}

QString ControllerCore::plainNumber(double value)
{
    return TEVStringFormat::withNumber("%g", value);
}

void ControllerCore::panel(RemoteConnectPanel*, const QList<ConnectionInfoPtr>& services)
{
    scheduleStaggeredConnects(services, false);
}

void ControllerCore::openRemoteConnectPanel()
{
    if (!remoteConnectPanel_) {
        remoteConnectPanel_ = makeRemoteConnectPanel();
        if (!remoteConnectPanel_)
            return;
        // Held weakly by the panel; a controller that no shared pointer owns hands itself over as nothing.
        if (const auto self = weak_from_this().lock())
            remoteConnectPanel_->setDelegate(std::shared_ptr<RemoteConnectPanelDelegate>(self, this));
    }
    remoteConnectPanel_->showWindow();
}

void ControllerCore::reconnectKnownClients()
{
    QList<ConnectionInfoPtr> infos;
    for (const QVariant& serial : monitorPreferences_->listOfSerialsToReconnect().value_or(QVariantList())) {
        if (const auto text = values::toString(serial))
            if (auto info = monitorPreferences_->infoToConnectMachineWithSerialNumber(*text))
                infos.append(std::move(info));
    }
    scheduleStaggeredConnects(infos, true);
}

bool ControllerCore::isClientAcceptableForNewConnection(const ClientPtr& client) const
{
    if (!client)
        return false;
    const QString identification = client->clientIdentification();
    if (identification.isEmpty()) {
        platform::log(QStringLiteral("WARNING: the client of %1 could not identify itself.\n").arg(loggedClient(client, {})));
        return false;
    }
    for (const auto& other : monitorClients_) {
        if (other != client && other->clientIdentification() == identification) {
            platform::log(QStringLiteral("WARNING: we are already connected to client '%1'!\n").arg(identification));
            return false;
        }
    }
    return true;
}

bool ControllerCore::isServerVersionAcceptable(quint64 versionCode)
{
    return quint16(versionCode) > kLastUnacceptableVersionCode;
}

void ControllerCore::clientShouldDisconnect(const ClientPtr& client)
{
    // The user's disconnect, the only one that drops the computer from those reconnected at launch. A client
    // still connecting is known by how it is reached.
    if (client && !isLocal(client) && monitorPreferences_) {
        if (isReady(client)) {
            monitorPreferences_->forgetRemoteConnection(client->machineSerialNumber());
        } else if (const auto info = client->connectionInfo()) {
            for (const QVariant& entry : monitorPreferences_->listOfSerialsToReconnect().value_or(QVariantList())) {
                const QString serial = values::toString(entry).value_or(QString());
                const auto known = monitorPreferences_->infoToConnectMachineWithSerialNumber(serial);
                if (known && known->isEqual(*info))
                    monitorPreferences_->forgetRemoteConnection(serial);
            }
        }
    }
    disconnectClient(client);
    handleConfigurationChangeOnClient(nullptr);
}

void ControllerCore::clientHasLostConnection(const ClientPtr& client)
{
    if (!contains(client))
        return;
    if (isLocal(client)) {
        handleFailureOfLocalClient();
        return;
    }
    client->shutdown();
    removeClient(client);
    handleConfigurationChangeOnClient(nullptr);
    const QString serial = serialOf(client);
    platform::log(QStringLiteral("The monitoring client of %1 (S/N %2) has lost connection.%3\n")
                      .arg(loggedClient(client, ownNameOf(client)), serial, loggedReason(client->remoteFailure())));
    if (reconnectingClients_.removeAll(client) > 0)
        return;
    const QVariantList parameters{QVariant::fromValue(client), values::fromString(serial.isEmpty() ? QStringLiteral("?") : serial)};
    Scheduler::shared()->afterSeconds(kLostConnectionAlertDelay,
                                      guarded([this, parameters] { displayConditionalConnectionFailureWarningWithParameters(parameters); }),
                                      ModalPolicy::WaitWhileModal);
}

void ControllerCore::displayConditionalConnectionFailureWarningWithParameters(const QVariantList& parameters)
{
    KV_ASSERT_OR_RETURN(parameters.size() == 2, , "invalid parameters");
    const QString serial = values::toString(parameters.at(1)).value_or(QString());
    // The client is gone from the list by now: its own name, not what a look-up by serial number finds.
    QString name = ownNameOf(parameters.at(0).value<ClientPtr>());
    if (name.isEmpty())
        name = readableRepresentationForClientWithSerialNumber(serial);
    Alert alert;
    alert.messageText = localized(QStringLiteral("Lost connection to monitored computer"));
    alert.informativeText =
        TEVStringFormat::withObjects(localized(QStringLiteral("There was a communication problem affecting the system '%@'. It "
                                                              "is currently not possible to receive any information from "
                                                              "this computer.")),
                                     {name});
    alert.buttons = {localized(QStringLiteral("OK"))};
    runAlert(alert);
}

void ControllerCore::clientHasFailed(const ClientPtr& client)
{
    if (!contains(client))
        return;
    const bool local = isLocal(client);
    // Named before the removal: afterwards a look-up by serial number finds only the descriptor's host.
    const QString serial = serialOf(client);
    QString name = ownNameOf(client);
    if (name.isEmpty() && !serial.isEmpty())
        name = readableRepresentationForClientWithSerialNumber(serial);
    const QString logged = loggedClient(client, name);
    if (name.isEmpty() && !local)
        name = descriptorNameOf(client);
    if (name.isEmpty())
        name = localized(QStringLiteral("computer previously selected"));
    client->shutdown();
    removeClient(client);
    if (!local)
        handleConfigurationChangeOnClient(nullptr);
    platform::log(QStringLiteral("The monitoring client of %1 has failed.%2\n")
                      .arg(logged, local ? QString() : loggedReason(client->remoteFailure())));
    if (reconnectingClients_.removeAll(client) > 0)
        return;
    if (local) {
        showLocalClientFailureAlert();
        return;
    }
    Alert alert;
    alert.messageText = localized(QStringLiteral("Could not contact remote computer"));
    alert.informativeText = TEVStringFormat::withObjects(
        localized(QStringLiteral("It was not possible to contact '%@' to get sensor readouts.")), {name});
    if (const QString reason = failureSentence(client->remoteFailure()); !reason.isEmpty())
        alert.informativeText += QLatin1Char(' ') + reason;
    alert.buttons = {localized(QStringLiteral("OK"))};
    runAlert(alert);
}

void ControllerCore::showLocalClientFailureAlert()
{
    Alert alert;
    alert.messageText = localized(QStringLiteral("The application could not complete its startup within the expected time."));
    alert.informativeText = localized(QStringLiteral(
        "Detecting the available sensors on this computer took much longer than expected. Parts of the system did not "
        "respond. There might be a hardware or software defect on this system which prevents successful launch. You "
        "should quit the application now. If the computer is overloaded at the moment, please retry again at a later "
        "time."));
    alert.buttons = {localized(QStringLiteral("OK"))};
    runAlert(alert);
}

void ControllerCore::clientDidEnterSleepMode(const ClientPtr& client)
{
    if (!contains(client))
        return;
    // A computer may say it sleeps before it has told who it is: then it is known only by where it is.
    const QString serial = serialOf(client);
    QString name = ownNameOf(client);
    if (name.isEmpty() && !serial.isEmpty())
        name = readableRepresentationForClientWithSerialNumber(serial);
    if (serial.isEmpty())
        platform::log(QStringLiteral("The monitored computer at %1 has entered sleep mode before it identified itself and "
                                     "is disconnected.\n")
                          .arg(descriptorNameOf(client)));
    else
        platform::log(QStringLiteral("The monitored computer %1 (S/N %2) has entered sleep mode and is disconnected.\n")
                          .arg(loggedClient(client, name), serial));
    if (name.isEmpty())
        name = descriptorNameOf(client);
    client->shutdown();
    removeClient(client);
    handleConfigurationChangeOnClient(nullptr);
    if (monitorPreferences_->areSleepWarningsDisabled())
        return;
    Alert alert;
    alert.messageText = localized(QStringLiteral("Sensors on remote computer have powered down"));
    alert.informativeText =
        politeLocalized(QStringLiteral(
            "It is no longer possible to get readouts from computer '%@' because its sensors have been powered down. The "
            "system has entered sleep mode.\n\nIf you don't like to be informed in such cases, you can disable this warning "
            "in the General pane of the Preferences window."));
    alert.informativeText = TEVStringFormat::withObjects(alert.informativeText, {name});
    alert.buttons = {localized(QStringLiteral("OK"))};
    runAlert(alert);
}

void ControllerCore::handleFailureOfLocalClient()
{
    const ClientPtr client = localClient_;
    platform::log(QStringLiteral("WARNING: Communication timeout in the local data acquisition thread (client %1). The "
                                 "operating system did not respond to a sensor request.\n")
                      .arg(pointerText(client.get())));
    mainUpdateTimer_.invalidate();
    warningPanel_->centerAndShow();
    disconnectGaugesOfDisconnectingClient(client);
    if (client)
        client->shutdown();
    removeClient(client);
    localClient_.reset();
    relaunchTimer_.invalidate();
    relaunchTimer_ = Scheduler::shared()->afterSeconds(kLocalClientRelaunchDelay,
                                                       guarded([this] { reconnectLocalClientAfterFailure(); }),
                                                       ModalPolicy::WaitWhileModal);
}

void ControllerCore::reconnectLocalClientAfterFailure()
{
    warningPanel_->orderOut();
    launchLocalClient();
    platform::log(QStringLiteral("*** Trying to resume normal operation. Control was transferred to client %1.\n")
                      .arg(pointerText(localClient_.get())));
    relaunchTimer_ = {};
    readjustMainUpdateTimer();
}

// --- Sleep and wake ------------------------------------------------------------------------------------

void ControllerCore::setupPowerEventNotification()
{
    powerEvents_ = platform::PowerEvents::shared();
    if (!powerEvents_ || !powerEvents_->registerForSystemPower()) {
        powerManagementService_ = 0;
        platform::log(QStringLiteral("%1: WARNING: could not register for power event notifications\n")
                          .arg(QLatin1String(className())));
        return;
    }
    powerManagementService_ = 1;
    QObject::connect(powerEvents_.get(), &platform::PowerEvents::systemWillSleep, powerEvents_.get(),
                     guarded([this] { systemWillSleep(); }));
    QObject::connect(powerEvents_.get(), &platform::PowerEvents::systemHasPoweredOn, powerEvents_.get(),
                     guarded([this] { processPowerEventNewStateIsSleeping(false); }));
}

void ControllerCore::systemWillSleep()
{
    processPowerEventNewStateIsSleeping(true);
    // Only now: the remote computers were told goodbye before the network goes down.
    powerEvents_->allowSleep();
}

void ControllerCore::processPowerEventNewStateIsSleeping(bool sleeping)
{
    if (!sleeping) {
        platform::log(QStringLiteral("The system has woken: %1 remote computers are reconnected in %2 s.\n")
                          .arg(sleepingHosts_.size())
                          .arg(plainNumber(kReconnectAfterWake)));
        Scheduler::shared()->afterSeconds(kReconnectAfterWake, guarded([this] { reconnectSleepingClientConnections(); }),
                                          ModalPolicy::WaitWhileModal);
        return;
    }
    sleepingHosts_.clear();
    ClientList remote;
    for (const auto& client : clientsSnapshot()) {
        if (isReady(client) && client->isRemote()) {
            sleepingHosts_.append(client->connectionInfo());
            remote.append(client);
        }
    }
    platform::log(QStringLiteral("The system goes to sleep: %1 remote computers are disconnected.\n").arg(remote.size()));
    for (const auto& client : remote)
        disconnectClient(client);
}

void ControllerCore::reconnectSleepingClientConnections()
{
    platform::log(QStringLiteral("Reconnecting %1 remote computers after the wake.\n").arg(sleepingHosts_.size()));
    reconnectingClients_.clear();
    scheduleStaggeredConnects(sleepingHosts_, true);
}

// --- Look-ups ------------------------------------------------------------------------------------------

ControllerCore::ClientPtr ControllerCore::clientForClientIdentifier(const QString& identification) const
{
    if (identification.isNull())
        return nullptr;
    for (const auto& client : monitorClients_)
        if (client->clientIdentification() == identification)
            return client;
    return nullptr;
}

ControllerCore::ClientPtr ControllerCore::clientForRemoteConnection(const ConnectionInfoPtr& info) const
{
    if (!info)
        return nullptr;
    // A client that is not ready has no acquisition side to be remote yet; asking it would wait for it.
    for (const auto& client : monitorClients_)
        if (isReady(client) && client->isRemote() && client->connectionInfo() && client->connectionInfo()->isEqual(*info))
            return client;
    return nullptr;
}

ControllerCore::ClientPtr ControllerCore::clientForSerialNumber(const QString& serialNumber) const
{
    if (serialNumber.isNull())
        return nullptr;
    return clientForClientIdentifier(TEVMonitoringClient::clientIdentifierFromSerialNumber(serialNumber));
}

QString ControllerCore::readableRepresentationForClientWithSerialNumber(const QString& serialNumber) const
{
    if (serialNumber.isNull())
        return {};
    if (const auto client = clientForSerialNumber(serialNumber))
        return client->machineName();
    if (const auto info = monitorPreferences_->infoToConnectMachineWithSerialNumber(serialNumber)) {
        if (info->netService())
            return info->netService()->name();
        if (!info->hostSpecifier().isNull())
            return info->hostSpecifier();
    }
    return TEVStringFormat::withObjects(localized(QStringLiteral("Computer with serial number %@")), {serialNumber});
}

QString ControllerCore::readableRepresentationForClientBelongingToUniversalGaugeIdentifier(const QString& identifier) const
{
    if (identifier.isNull())
        return {};
    QString serial;
    if (TEVGauge::getSensorIdentifier(nullptr, &serial, identifier))
        return readableRepresentationForClientWithSerialNumber(serial);
    return localClient_ ? localClient_->machineName() : QString();
}

bool ControllerCore::isGaugeListCompletelyDisconnected(const QList<std::shared_ptr<TEVGauge>>& gauges)
{
    return std::none_of(gauges.cbegin(), gauges.cend(),
                        [](const auto& gauge) { return gauge && gauge->connectedMonitoringClient(); });
}

// --- Update cycle --------------------------------------------------------------------------------------

void ControllerCore::readjustMainUpdateTimer()
{
    // The relaunch starts the timer again when it is done, with the interval then set.
    if (relaunchTimer_.isValid())
        return;
    mainUpdateTimer_.invalidate();
    const double interval = double(std::max<quint64>(1, monitorPreferences_->sensorUpdateInterval()));
    mainUpdateTimer_ = Scheduler::shared()->every(platform::durationFromSeconds(interval),
                                                  guarded([this] { processTimedUpdate(); }), ModalPolicy::WaitWhileModal);
}

void ControllerCore::processTimedUpdate()
{
    checkForConfigurationChangeOnClients();
    updateAllOutputChannelsAndCache(true);
}

void ControllerCore::checkForConfigurationChangeOnClients()
{
    for (const auto& client : clientsSnapshot()) {
        if (!contains(client) || !isReady(client) || !client->hasDetectedConfigurationChange())
            continue;
        client->acknowledgeConfigurationChange();
        handleConfigurationChangeOnClient(client);
    }
}

void ControllerCore::synchronizeLocalPreferencesWithClientOrAll(const ClientPtr& client)
{
    if (client) {
        synchronizeLocalPreferencesWithClient(client);
        return;
    }
    for (const auto& each : clientsSnapshot())
        if (contains(each))
            synchronizeLocalPreferencesWithClient(each);
}

void ControllerCore::synchronizeLocalPreferencesWithClient(const ClientPtr& client)
{
    if (!isReady(client) || !localPreferences_)
        return;
    const bool local = isLocal(client);
    QSet<QString> universal;
    QStringList added;
    auto& gauges = localPreferences_->gaugeDictionary();
    for (const QString& identifier : client->availableSensorIdentifiers()) {
        const QString id = TEVGauge::universalGaugeIdentifierForSensorIdentifier(identifier, client, local);
        if (id.isNull())
            continue;
        universal.insert(id);
        if (!gauges.contains(id))
            added.append(id);
    }
    const QString serial = client->machineSerialNumber();
    for (auto it = gauges.cbegin(); it != gauges.cend(); ++it) {
        const auto& gauge = it.value();
        if (!gauge)
            continue;
        if (universal.contains(it.key())) {
            gauge->connectToClient(client);
            client->disableLocalAccess(!gauge->isEnabled(), gauge->sensorIdentifier());
        } else if (gauge->serialNumberOfMachine() == serial) {
            gauge->connectToClient(nullptr); // gone from this computer
        }
    }
    const qsizetype made = localPreferences_->addNewSensorsWithUniversalIdentifiers(added, client);
    localPreferences_->removeTypeInvalidGaugesFromHistoryWindowPreferences();
    // A remote computer's sensors become gauges only once their descriptions came: say when (scripts wait for
    // it), for a computer connected again (after a wake, a loss) also when its gauges were there already.
    if (local)
        return;
    qsizetype connected = 0;
    if (!announcedClients_.contains(client.get()))
        for (const auto& gauge : std::as_const(gauges))
            if (gauge && gauge->connectedMonitoringClient().get() == static_cast<const TEVSensorSource*>(client.get()))
                ++connected;
    if (made > 0 || connected > 0) {
        announcedClients_.insert(client.get());
        platform::log(QStringLiteral("%1 sensors of '%2' added as gauges\n")
                          .arg(made > 0 ? made : connected)
                          .arg(client->machineName()));
    }
}

void ControllerCore::synchronizeGlobalPreferencesWithClient(const ClientPtr& client)
{
    if (!client)
        return;
    const MonitorPreferences& prefs = *monitorPreferences_;
    TEVGauge::setPreferredTemperatureDisplayUnit(prefs.temperatureDisplayUnit());
    client->setMainUpdateInterval(double(prefs.sensorUpdateInterval()));
    if (!isLocal(client))
        return;
    client->setSMCAccessPolicy(prefs.smcAccessPolicy());
    client->setSMARTUpdateInterval(double(prefs.smartUpdateInterval()), prefs.smartDiskSaverInterval());
    client->setHistoryAutosaveTimeInterval(prefs.autosaveHistoryMinutes());
    TEVLocalSMARTProbe::setDriveAccessInterval(prefs.smartUpdateInterval());
    TEVBatteryInfo::setEnforcesAbsoluteBatteryCurrents(prefs.showsPositiveBatteryCurrents());
}

void ControllerCore::resyncConnectedSensors()
{
    struct Connected {
        std::shared_ptr<TEVGauge> gauge;
        ClientPtr client;
    };
    std::vector<Connected> connected;
    for (const auto& client : clientsSnapshot()) {
        if (!isReady(client))
            continue;
        for (const QString& identifier : client->availableSensorIdentifiers())
            if (auto gauge = TEVGauge::createForSensorIdentifierConnectingToClient(identifier, client))
                connected.push_back({std::move(gauge), client});
    }
    std::stable_sort(connected.begin(), connected.end(),
                     [](const Connected& a, const Connected& b) { return a.gauge->compare(*b.gauge) < 0; });

    connectedSensorNames_.clear();
    QSet<QString> reference;
    for (const Connected& entry : connected) {
        const QString id = TEVGauge::universalGaugeIdentifierForSensorIdentifier(entry.gauge->sensorIdentifier(), entry.client,
                                                                                 isLocal(entry.client));
        connectedSensorNames_.append(id);
        reference.insert(id);
    }
    for (const QString& id : std::as_const(connectedSensorNames_))
        if (!outputCache_.contains(id))
            outputCache_.insert(id, std::make_shared<OutputCacheEntry>());
    TEVSensor::removeUnknownSensorEntriesFromDictionary(&outputCache_, &reference);
    TEVSensor::removeUnknownSensorEntriesFromDictionary(&pendingAlerts_, &reference);
    rebuildGaugeOutlineRepresentations();
}

void ControllerCore::updateOutputCache()
{
    // An absent local set (the Lite edition on a computer Kelvaro never saw) has no gauges to fill.
    if (!localPreferences_)
        return;
    refreshTickHandles();
    for (const TickHandle& handle : std::as_const(tickHandles_)) {
        if (!handle.gauge) {
            platform::log(QStringLiteral("WARNING: found no gauge object for %1!\n").arg(handle.identifier));
            continue;
        }
        if (!handle.entry) {
            platform::log(QStringLiteral("WARNING: found no cache entry object for %1!\n").arg(handle.identifier));
            continue;
        }
        handle.entry->cacheCurrentValueFromGauge(handle.gauge);
    }
}

void ControllerCore::refreshTickHandles()
{
    // Looking up thousands of identifiers every tick cost more than filling the entries.
    const auto& gauges = std::as_const(*localPreferences_).gaugeDictionary();
    if (tickHandlePreferences_ == localPreferences_.get() && tickHandleNames_.isSharedWith(connectedSensorNames_) &&
        tickHandleGauges_.isSharedWith(gauges) && tickHandleCache_.isSharedWith(outputCache_))
        return;
    tickHandlePreferences_ = localPreferences_.get();
    tickHandleNames_ = connectedSensorNames_;
    tickHandleGauges_ = gauges;
    tickHandleCache_ = outputCache_;
    tickHandles_.clear();
    tickHandles_.reserve(connectedSensorNames_.size());
    for (const QString& id : std::as_const(connectedSensorNames_))
        tickHandles_.append({id, gauges.value(id), outputCache_.value(id)});
}

// --- Alerts --------------------------------------------------------------------------------------------

void ControllerCore::checkForAlerts()
{
    if (!localPreferences_)
        return;
    // A copy: a modal alert below runs a loop in which the lists and the cache may change.
    const QStringList triggers = localPreferences_->alertTriggerSensorNames();
    for (const QString& id : triggers) {
        const auto entry = outputCache_.value(id);
        const auto gauge = entry ? entry->connectedGauge() : nullptr;
        if (!gauge || !gauge->isEnabled())
            continue;
        const double value = gauge->presentationValue(); // afresh, not the cached value
        if (value == TEVGauge::missingValue) {
            gauge->setAlertState(false);
            continue;
        }
        const bool high = gauge->isEnabledHighThresholdAlert() && value > gauge->highThreshold();
        if (high)
            raiseAlertForSensorWithIdentifier(id, value, true);
        const bool low = gauge->isEnabledLowThresholdAlert() && value < gauge->lowThreshold();
        if (low)
            raiseAlertForSensorWithIdentifier(id, value, false);
        gauge->setAlertState(high || low);
    }
}

bool ControllerCore::passesAlertHoldOff(const QString& identifier)
{
    const auto now = platform::monotonicNow();
    const auto pending = pendingAlerts_.constFind(identifier);
    if (pending != pendingAlerts_.cend() && pending.value() >= now)
        return false;
    pendingAlerts_.insert(identifier, now + platform::durationFromSeconds(kAlertHoldOff));
    return true;
}

// --- ControllerLookups ---------------------------------------------------------------------------------

std::shared_ptr<TEVGauge> ControllerCore::gaugeForUniversalSensorIdentifier(const QString& identifier) const
{
    if (identifier.isNull())
        return nullptr;
    const auto entry = outputCache_.value(identifier);
    return entry ? entry->connectedGauge() : nullptr;
}

ControllerCore::ClientPtr ControllerCore::clientOfUniversalGaugeIdentifier(const QString& identifier, QString* sensor) const
{
    *sensor = identifier;
    QString serial;
    if (TEVGauge::getSensorIdentifier(sensor, &serial, identifier))
        return clientForSerialNumber(serial);
    return localClient_;
}

QByteArray ControllerCore::rawHistoryDataBetweenNowAndDate(const QDateTime& date, const QString& identifier, bool longTerm)
{
    if (identifier.isNull())
        return {};
    QString sensor;
    const ClientPtr client = clientOfUniversalGaugeIdentifier(identifier, &sensor);
    if (!client)
        return {};
    return longTerm ? client->rawLongTermHistoryDataWithIdentifier(sensor, date)
                    : client->rawShortTermHistoryDataWithIdentifier(sensor, date);
}

double ControllerCore::historyTimeDeltaForUniversalGaugeIdentifier(const QString& identifier, bool longTerm)
{
    if (identifier.isNull())
        return 1.0;
    QString sensor;
    const ClientPtr client = clientOfUniversalGaugeIdentifier(identifier, &sensor);
    if (!client)
        return 0.0;
    return longTerm ? client->longTermHistoryTimeDeltaWithIdentifier(sensor)
                    : client->shortTermHistoryTimeDeltaWithIdentifier(sensor);
}

std::optional<QVariantMap> ControllerCore::knownMachineLimitsForConnectedClient(const ClientPtr& client)
{
    if (!client)
        return std::nullopt;
    return client->knownMachineLimits();
}
