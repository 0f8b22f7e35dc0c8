#include "acquisition/TEVCaptureThread.h"

#include "acquisition/AcquisitionSelectors.h"
#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/TEVAcquisitionDispatch.h"
#include "acquisition/TEVDataAcquisitionCore.h"
#include "acquisition/TEVRemoteKelvaroClient.h"
#include "acquisition/TEVSensorHistory.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensor.h"

#include <cmath>
#include <utility>

namespace values = platform::values;

namespace {

QVariant stringOrNil(const QString& text)
{
    return text.isNull() ? QVariant() : values::fromString(text);
}

QVariant dataOrNil(const QByteArray& data)
{
    return data.isNull() ? QVariant() : values::fromData(data);
}

// Operations the thread uses for itself and does not offer to its client: the raw readings and live
// histories never leave this thread, and the centre's life cycle is the thread's business.
bool isInternalToTheThread(const AcquisitionSelector& row)
{
    switch (row.operation) {
    case AcquisitionOperation::CurrentRawValues:
    case AcquisitionOperation::LongTermSensorHistoryWithIdentifier:
    case AcquisitionOperation::SensorHistoryUpdateCount:
        return true;
    default:
        return row.optional;
    }
}

} // namespace

std::shared_ptr<TEVCaptureThread> TEVCaptureThread::create(const std::weak_ptr<TEVCaptureThreadClient>& client)
{
    if (client.expired())
        return nullptr;
    return std::shared_ptr<TEVCaptureThread>(new TEVCaptureThread(client));
}

TEVCaptureThread::TEVCaptureThread(const std::weak_ptr<TEVCaptureThreadClient>& client)
    : TEVThreadedServer(client)
    , captureClient_(client)
{
    addOwnHandlers();
    addCentreHandlers();
}

TEVCaptureThread::~TEVCaptureThread()
{
    mainTimer_.invalidate();
    stopObservingCentre();
}

void TEVCaptureThread::threadWillEnd()
{
    // A thread stopped without stopCapturing still owns its centre: it must go here, not on the main thread.
    // No later turn comes to release the dropped ones.
    stopCapturing();
    droppedCentres_.clear();
    longTermCache_.clear();
    shortTermBuffers_.clear();
    tickIndex_ = {};
    machineInfoCache_.reset();
}

void TEVCaptureThread::addOwnHandlers()
{
    addHandler(createLocalAcquisitionCenterSelector, [this](const QVariant& name) {
        return values::fromBool(createLocalAcquisitionCenterForApplicationNamed(values::toString(name).value_or(QString())));
    });
    addHandler(connectToRemoteAcquisitionCenterSelector, [this](const QVariant& info) {
        return values::fromBool(connectToRemoteAcquisitionCenterUsingInfo(
            platform::objectAs<MonitorConnectionInfo>(values::toObject(info))));
    });
    addHandler(startCapturingSelector, [this] {
        startCapturing();
        return QVariant();
    });
    addHandler(stopCapturingSelector, [this] {
        stopCapturing();
        return QVariant();
    });
    addHandler(pauseCapturingSelector, [this] {
        pauseCapturing();
        return QVariant();
    });
    addHandler(setMainUpdateIntervalSelector, [this](const QVariant& seconds) {
        setMainUpdateInterval(values::toReal(seconds).value_or(0));
        return QVariant();
    });
    addHandler(mainUpdateIntervalSelector, [this] { return values::fromReal(mainUpdateInterval()); });
    addHandler(rawShortTermHistoryDataSelector, [this](const QVariant& identifier, const QVariant& date) {
        return dataOrNil(rawShortTermHistoryDataWithIdentifier(values::toString(identifier).value_or(QString()),
                                                               values::toDate(date).value_or(QDateTime())));
    });
    addHandler(rawLongTermHistoryDataSelector, [this](const QVariant& identifier, const QVariant& date) {
        return dataOrNil(rawLongTermHistoryDataWithIdentifier(values::toString(identifier).value_or(QString()),
                                                              values::toDate(date).value_or(QDateTime())));
    });
    addHandler(shortTermHistoryTimeDeltaSelector, [this](const QVariant& identifier) {
        return values::fromReal(shortTermHistoryTimeDeltaWithIdentifier(values::toString(identifier).value_or(QString())));
    });
    addHandler(longTermHistoryTimeDeltaSelector, [this](const QVariant& identifier) {
        return values::fromReal(longTermHistoryTimeDeltaWithIdentifier(values::toString(identifier).value_or(QString())));
    });
    addHandler(cachedRawValueSelector, [this](const QVariant& identifier) {
        return cachedRawValueWithIdentifier(values::toString(identifier).value_or(QString()));
    });
    addHandler(clearShortTermHistoriesSelector, [this] {
        clearShortTermHistories();
        return QVariant();
    });
    addHandler(machineModelCodeSelector, [this] { return stringOrNil(machineModelCode()); });
    addHandler(machineSerialNumberSelector, [this] { return stringOrNil(machineSerialNumber()); });
    addHandler(machineNameSelector, [this] { return stringOrNil(machineName()); });
    addHandler(currentCPUFrequencySelector, [this] { return values::fromUnsigned(currentCPUFrequency()); });
    addHandler(hasDetectedConfigurationChangeSelector,
               [this] { return values::fromBool(hasDetectedConfigurationChange()); });
    addHandler(acknowledgeConfigurationChangeSelector, [this] {
        acknowledgeConfigurationChange();
        return QVariant();
    });
}

void TEVCaptureThread::addCentreHandlers()
{
    for (const AcquisitionSelector& row : acquisitionselectors::table) {
        if (isInternalToTheThread(row))
            continue;
        const QString selector = QString(row.name());
        if (row.operation == AcquisitionOperation::MachineInfo) {
            addHandler(selector, [this] {
                return values::fromObject(std::const_pointer_cast<TEVMachineInfo>(machineInfo()));
            });
            continue;
        }
        // The local copy keeps the centre alive through the call even if the call drops it.
        auto forward = [this, &row](const QVariantList& arguments) {
            const auto centre = dataCenter_;
            return acquisitiondispatch::perform(centre.get(), row, arguments);
        };
        switch (row.argumentCount()) {
        case 0:
            addHandler(selector, [forward] { return forward({}); });
            break;
        case 1:
            addHandler(selector, [forward](const QVariant& a) { return forward({a}); });
            break;
        default:
            addHandler(selector, [forward](const QVariant& a, const QVariant& b) { return forward({a, b}); });
            break;
        }
    }
}

std::shared_ptr<TEVCaptureThread> TEVCaptureThread::self()
{
    return std::static_pointer_cast<TEVCaptureThread>(shared_from_this());
}

bool TEVCaptureThread::createLocalAcquisitionCenterForApplicationNamed(const QString& applicationName)
{
    if (applicationName.isEmpty())
        return false;
    if (dataCenter_ || captureClient_.expired()) {
        platform::log(QStringLiteral("%1: received message to create local acquisition core in invalid context\n")
                          .arg(className()));
        return false;
    }
    auto core = std::make_shared<TEVDataAcquisitionCore>();
    core->setUserInfo(values::fromString(applicationName));
    dataCenter_ = std::move(core);
    dataCenterIsLocal_ = true;
    scheduleReadyMessage();
    return true;
}

void TEVCaptureThread::scheduleReadyMessage()
{
    // Queued, so the report follows this call's own result.
    if (auto loop = platform::RunLoop::current())
        loop->perform([weak = weak_from_this()] {
            if (auto server = weak.lock())
                std::static_pointer_cast<TEVCaptureThread>(server)->sendReadyMessageToCreator();
        });
}

bool TEVCaptureThread::connectToRemoteAcquisitionCenterUsingInfo(const std::shared_ptr<const MonitorConnectionInfo>& info)
{
    if (!info)
        return false;
    if (dataCenter_ || captureClient_.expired() || connectingProxy_) {
        platform::log(QStringLiteral("%1: received message to connect to remote acquisition core in invalid context\n")
                          .arg(className()));
        return false;
    }
    std::shared_ptr<TEVRemoteKelvaroClient> proxy;
    if (info->netService())
        proxy = TEVRemoteKelvaroClient::createWithNetService(*info->netService());
    else if (!info->hostSpecifier().isNull())
        proxy = TEVRemoteKelvaroClient::createWithHostSpecifier(info->hostSpecifier(), info->portNumber());
    else
        return false;
    if (!proxy) {
        platform::log(QStringLiteral("%1: Failed to create remote client connection using parameters %2.\n")
                          .arg(className(), info->description()));
        return false;
    }
    TEVInvocationClient::setResponseTimeout(remoteResponseTimeout_);

    // Until it has answered, the proxy is not the centre: a tick or a client call inside the waits below
    // finds no centre, and a failure it posts meanwhile fails this attempt instead of reporting a loss
    // of a centre the client never had.
    observeCentre(*proxy);
    connectingProxy_ = proxy->notificationObject().get();
    connectingProxyFailed_ = false;
    const auto giveUp = [&] {
        reportFailureOf(*proxy);
        stopObservingCentre();
        connectingProxy_ = nullptr;
        releaseLater(proxy);
        return false;
    };
    if (!proxy->checkConnectivityWithTimeout(connectivityCheckTimeout) || connectingProxyFailed_)
        return giveUp();
    // A computer that answers the ping but gives no version is no centre: dropped as after a failed ping,
    // so that no proxy stays observed without a client that uses it.
    if (proxy->serverVersion().isNull() || connectingProxyFailed_)
        return giveUp();
    connectingProxy_ = nullptr;
    dataCenter_ = proxy;
    dataCenterIsLocal_ = false;
    scheduleReadyMessage();
    return true;
}

void TEVCaptureThread::sendReadyMessageToCreator()
{
    TEVCaptureReadyFacts facts;
    facts.serialNumber = machineSerialNumber();
    if (facts.serialNumber.isEmpty())
        if (const auto proxy = std::dynamic_pointer_cast<TEVRemoteKelvaroClient>(dataCenter_)) {
            // Told before the readiness: the client reads why it could not take the computer up.
            const RemoteFailure failure = proxy->failure();
            rawValueHandOver_->setFailure(failure != RemoteFailure::None ? failure
                                          : machineInfo()                ? RemoteFailure::NoSerialNumber
                                                                         : RemoteFailure::NotMonitoring);
        }
    if (const auto centre = dataCenter_; centre && !facts.serialNumber.isEmpty()) {
        // Each may be a round trip to a remote computer: asked here, the main thread only reads them.
        facts.machineInfo = machineInfo();
        facts.name = machineName();
        facts.modelCode = machineModelCode();
        // A proxy is remote by what it is; asking would only cost a round trip before readiness.
        facts.remote = dataCenterIsLocal_ ? centre->isRemote() : true;
        facts.versionCode = centre->versionCode();
        facts.hostName = centre->hostName();
        if (!dataCenterIsLocal_) {
            facts.sensorIdentifiers = centre->availableSensorIdentifiers();
            // The tick copies carry the list from now on; it changes with the sensor set.
            if (dataCenter_ == centre)
                sensorIdentifiers_ = facts.sensorIdentifiers;
        }
        // A centre lost meanwhile answered nothing.
        facts.complete = dataCenter_ == centre;
    }
    tellCaptureClient([facts = std::move(facts)](TEVCaptureThreadClient& client, const std::shared_ptr<TEVCaptureThread>&) {
        client.captureThreadHasBecomeReady(facts);
    });
}

void TEVCaptureThread::tellCaptureClient(
    std::function<void(TEVCaptureThreadClient&, const std::shared_ptr<TEVCaptureThread>&)> call)
{
    auto main = platform::RunLoop::main();
    if (!main)
        return;
    main->perform([client = captureClient_, thread = self(), call = std::move(call)] {
        if (auto c = client.lock())
            call(*c, thread);
    });
}

void TEVCaptureThread::dropDataCenter()
{
    stopObservingCentre();
    releaseLater(std::exchange(dataCenter_, nullptr));
    dataCenterIsLocal_ = false;
}

void TEVCaptureThread::releaseLater(std::shared_ptr<TEVDataAcquisitionProtocol> centre)
{
    if (!centre)
        return;
    droppedCentres_.append(std::move(centre));
    if (releaseScheduled_)
        return;
    auto loop = platform::RunLoop::current();
    if (!loop)
        return; // released with the thread
    releaseScheduled_ = true;
    // A call under way on a dropped centre holds its own reference, so a release that runs inside one of
    // its nested waits still leaves it alive until that call has returned.
    loop->perform([weak = weak_from_this()] {
        if (auto server = weak.lock()) {
            auto& thread = static_cast<TEVCaptureThread&>(*server);
            thread.releaseScheduled_ = false;
            const auto released = std::exchange(thread.droppedCentres_, {});
        }
    });
}

void TEVCaptureThread::observeCentre(const TEVRemoteKelvaroClient& proxy)
{
    stopObservingCentre();
    const void* poster = proxy.notificationObject().get();
    observedProxy_ = poster;
    auto& centre = platform::NotificationCenter::defaultCenter();
    const auto observe = [&](const QString& name, CentreEvent event) {
        centreObservers_.append(centre.addObserver(
            name, proxy.notificationObject(), [weak = weak_from_this(), poster, event](const platform::Notification&) {
                if (auto server = weak.lock())
                    static_cast<TEVCaptureThread&>(*server).centreDidPost(poster, event);
            }));
    };
    observe(TEVInvocationClient::ResponseTimeoutNotification, CentreEvent::Lost);
    observe(TEVInvocationClient::ConnectionFailureNotification, CentreEvent::Lost);
    observe(TEVInvocationClient::SleepingServerNotification, CentreEvent::Sleeping);
}

void TEVCaptureThread::stopObservingCentre()
{
    auto& centre = platform::NotificationCenter::defaultCenter();
    for (const platform::ObserverToken token : std::exchange(centreObservers_, {}))
        centre.removeObserver(token);
    observedProxy_ = nullptr;
}

void TEVCaptureThread::centreDidPost(const void* poster, CentreEvent event)
{
    if (poster != observedProxy_)
        return;
    if (poster == connectingProxy_) {
        connectingProxyFailed_ = true;
        return;
    }
    if (event == CentreEvent::Lost)
        handleLossOfDataCenter();
    else
        handleSleepingDataCenter();
}

void TEVCaptureThread::reportFailureOf(const TEVRemoteKelvaroClient& proxy)
{
    // A proxy that noted nothing was given up on for want of an answer (a ping missed, no version).
    const RemoteFailure failure = proxy.failure();
    rawValueHandOver_->setFailure(failure == RemoteFailure::None ? RemoteFailure::NoAnswer : failure);
}

void TEVCaptureThread::handleLossOfDataCenter()
{
    if (!dataCenter_)
        return;
    if (const auto proxy = std::dynamic_pointer_cast<TEVRemoteKelvaroClient>(dataCenter_))
        reportFailureOf(*proxy);
    // The timer keeps running: ticks read nothing, so caches and histories keep what they had.
    dropDataCenter();
    tellCaptureClient([](TEVCaptureThreadClient& client, const std::shared_ptr<TEVCaptureThread>& thread) {
        client.captureThreadHasLostConnectionToAcqusitionCenter(thread);
    });
}

void TEVCaptureThread::handleSleepingDataCenter()
{
    if (!dataCenter_ || captureClient_.expired())
        return;
    dropDataCenter();
    tellCaptureClient([](TEVCaptureThreadClient& client, const std::shared_ptr<TEVCaptureThread>& thread) {
        client.captureThreadDidDetectSleepMode(thread);
    });
}

void TEVCaptureThread::startCapturing()
{
    const auto centre = dataCenter_;
    if (!centre)
        return;
    if (dataCenterIsLocal_)
        centre->run();
    const auto count = qsizetype(centre->numberOfAvailableSensors());
    shortTermBuffers_ = {};
    tickIndex_ = {};
    shortTermBuffers_.reserve(count);
    rawValueCache_ = {};
    rawValueCache_.reserve(count);
    synchronizeBuffersWithCurrentConfiguration();
    longTermCache_ = {};
    longTermCache_.reserve(count);
    longTermUpdateCount_ = 0;
    refreshKnownMachineLimits();
    readjustMainTimer();
    updateAllReadings();
    if (dataCenterIsLocal_ || dataCenter_ != centre)
        return;
    // After the first values: the sensors' descriptions and what the system window of a remote computer
    // shows, fetched here so that the main thread never asks for them, and handed over at once.
    refreshSensorFacts();
    if (!systemManagement_ && dataCenter_ == centre)
        systemManagement_ = centre->systemManagementDescription();
    if (presentationIcon_.isNull() && dataCenter_ == centre)
        presentationIcon_ = centre->dataForMachinePresentationIcon();
    handOverRawValues();
}

void TEVCaptureThread::stopCapturing()
{
    mainTimer_.invalidate();
    mainTimer_ = {};
    const bool local = dataCenterIsLocal_;
    stopObservingCentre();
    if (const auto centre = dataCenter_; centre && local)
        centre->stop();
    dropDataCenter();
}

void TEVCaptureThread::pauseCapturing()
{
    mainTimer_.invalidate();
    mainTimer_ = {};
}

bool TEVCaptureThread::isCapturing() const
{
    return mainTimer_.isValid();
}

void TEVCaptureThread::readjustMainTimer()
{
    mainTimer_.invalidate();
    mainTimer_ = {};
    auto loop = platform::RunLoop::current();
    if (!loop)
        return;
    mainTimer_ = loop->addTimer(
        platform::durationFromSeconds(mainUpdateInterval_),
        [weak = weak_from_this()] {
            if (auto server = weak.lock())
                std::static_pointer_cast<TEVCaptureThread>(server)->updateAllReadings();
        },
        true);
}

std::optional<QVariantMap> TEVCaptureThread::readCurrentRawValues()
{
    const auto centre = dataCenter_;
    if (!centre)
        return std::nullopt;
    QVariantMap rawValues = centre->currentRawValues();
    // A centre lost during the call answered nothing: its empty answer is no change of configuration.
    if (dataCenter_ != centre)
        return std::nullopt;
    return rawValues;
}

bool TEVCaptureThread::sensorConfigurationHasChangedSinceLastUpdate(const std::optional<QVariantMap>& rawValues) const
{
    if (!rawValues)
        return false;
    if (rawValues->size() != rawValueCache_.size())
        return true;
    for (auto it = rawValues->cbegin(); it != rawValues->cend(); ++it) {
        if (!rawValueCache_.contains(it.key()))
            return true;
    }
    return false;
}

bool TEVCaptureThread::TickIndex::matches(const QVariantMap& rawValues) const
{
    if (!valid || rawValues.size() != identifiers.size())
        return false;
    qsizetype i = 0;
    for (auto it = rawValues.cbegin(); it != rawValues.cend(); ++it, ++i) {
        if (it.key() != identifiers[i])
            return false;
    }
    return true;
}

void TEVCaptureThread::updateAllReadings()
{
    const auto rawValues = readCurrentRawValues();
    if (rawValues && tickIndex_.matches(*rawValues)) {
        const QDateTime now = platform::currentDate();
        qsizetype i = 0;
        for (auto it = rawValues->cbegin(); it != rawValues->cend(); ++it, ++i) {
            const qint64 raw = values::toSigned(it.value()).value_or(-1);
            if (TEVSensorHistory* history = tickIndex_.histories[size_t(i)])
                history->setPresentRawValue(raw, now);
            rawValueCache_.insert(it.key(), raw);
        }
    } else if (sensorConfigurationHasChangedSinceLastUpdate(rawValues)) {
        synchronizeBuffersWithCurrentConfiguration();
        noteConfigurationChange();
        refreshKnownMachineLimits();
        refreshSensorFacts();
    } else if (rawValues) {
        const QDateTime now = platform::currentDate();
        for (auto it = rawValues->cbegin(); it != rawValues->cend(); ++it) {
            // A value that is no integer is stored as "no value", never as a reading of 0.
            const qint64 raw = values::toSigned(it.value()).value_or(-1);
            if (const auto history = shortTermBuffers_.constFind(it.key()); history != shortTermBuffers_.cend() && *history)
                (*history)->setPresentRawValue(raw, now);
            rawValueCache_.insert(it.key(), raw);
        }
    }
    refreshWatchedFacts();
    handOverRawValues();
}

void TEVCaptureThread::noteConfigurationChange()
{
    configurationDidChange_ = true;
    ++configurationChanges_;
}

void TEVCaptureThread::refreshKnownMachineLimits()
{
    const auto centre = dataCenter_;
    if (!centre)
        return;
    auto limits = centre->knownMachineLimits();
    // A centre lost during the call answered nothing: the limits known before stay.
    if (dataCenter_ == centre && limits)
        knownMachineLimits_ = std::move(limits);
}

void TEVCaptureThread::refreshSensorFacts()
{
    const auto centre = dataCenter_;
    if (!centre || dataCenterIsLocal_)
        return;
    const QStringList identifiers = centre->availableSensorIdentifiers();
    QHash<QString, TEVCaptureSensorFacts> sensors;
    sensors.reserve(identifiers.size());
    for (const QString& identifier : identifiers) {
        TEVCaptureSensorFacts known = sensorFacts_.value(identifier);
        if (!known.description && dataCenter_ == centre)
            known.description = centre->sensorDescriptionForIdentifier(identifier);
        if (!known.converter && dataCenter_ == centre)
            known.converter = centre->sensorValueConverterForIdentifier(identifier);
        sensors.insert(identifier, std::move(known));
    }
    // A centre lost during the calls answered nothing: what was known before stays.
    if (dataCenter_ != centre)
        return;
    sensorIdentifiers_ = identifiers;
    sensorFacts_ = std::move(sensors);
}

void TEVCaptureThread::refreshWatchedFacts()
{
    const unsigned asked = rawValueHandOver_->takeWatches();
    if (asked & WatchBatteries)
        batteryWatchTicks_ = watchedTicks;
    if (asked & WatchDisplays)
        displayWatchTicks_ = watchedTicks;
    if (asked & WatchDrives)
        driveWatchTicks_ = watchedTicks;
    // A centre lost during a call answered nothing: what was fetched before stays.
    const auto centre = dataCenter_;
    if (batteryWatchTicks_ > 0) {
        --batteryWatchTicks_;
        if (centre) {
            Batteries batteries{centre->numberOfAvailableBatteryUnits(), std::nullopt};
            if (batteries.units > 0 && dataCenter_ == centre)
                batteries.first = centre->batteryReadoutsAtIndex(0);
            if (dataCenter_ == centre)
                batteries_ = std::move(batteries);
        }
    } else {
        batteries_.reset();
    }
    const auto refreshList = [&](int& ticks, std::optional<QVariantList>& facts, auto fetch) {
        if (ticks <= 0) {
            facts.reset();
            return;
        }
        --ticks;
        if (centre) {
            QVariantList list = fetch(*centre);
            if (dataCenter_ == centre)
                facts = std::move(list);
        }
    };
    refreshList(displayWatchTicks_, displays_, [](auto& c) { return c.displayDescriptions(); });
    refreshList(driveWatchTicks_, drives_, [](auto& c) { return c.blockStorageDeviceDescriptions(); });
}

void TEVCaptureThread::handOverRawValues()
{
    if (!rawValueHandOver_->put(TickCopy{rawValueCache_, knownMachineLimits_, configurationChanges_, batteries_, displays_, drives_,
                                         sensorIdentifiers_, sensorFacts_, systemManagement_, presentationIcon_}))
        return; // the client has yet to take the one before, and takes this one instead
    // Unlike the other reports this one does not hold the thread: one is queued every tick.
    if (const auto main = platform::RunLoop::main())
        main->perform([client = captureClient_] {
            if (const auto c = client.lock())
                c->captureThreadDidHandOverRawValues();
        });
}

bool TEVCaptureThread::RawValueHandOver::put(const TickCopy& copy)
{
    const std::lock_guard lock(mutex_);
    const bool wasEmpty = !waiting_;
    waiting_ = copy;
    return wasEmpty;
}

std::optional<TEVCaptureThread::TickCopy> TEVCaptureThread::RawValueHandOver::take()
{
    const std::lock_guard lock(mutex_);
    return std::exchange(waiting_, std::nullopt);
}

void TEVCaptureThread::RawValueHandOver::setFailure(RemoteFailure failure)
{
    const std::lock_guard lock(mutex_);
    if (failure_ == RemoteFailure::None)
        failure_ = failure;
}

RemoteFailure TEVCaptureThread::RawValueHandOver::failure()
{
    const std::lock_guard lock(mutex_);
    return failure_;
}

void TEVCaptureThread::RawValueHandOver::watch(unsigned watches)
{
    const std::lock_guard lock(mutex_);
    watches_ |= watches;
}

unsigned TEVCaptureThread::RawValueHandOver::takeWatches()
{
    const std::lock_guard lock(mutex_);
    return std::exchange(watches_, 0u);
}

void TEVCaptureThread::synchronizeBuffersWithCurrentConfiguration()
{
    const auto makeHistory = [this] {
        return TEVSensorHistory::create(numberOfCapturedValuesForShortTermHistory, mainUpdateInterval_);
    };
    tickIndex_ = {};
    const auto rawValues = readCurrentRawValues();
    if (!rawValues) {
        // Without a centre nothing is known to have gone: keep every sensor, with a history for each.
        for (auto it = rawValueCache_.cbegin(); it != rawValueCache_.cend(); ++it) {
            if (!shortTermBuffers_.contains(it.key()))
                shortTermBuffers_.insert(it.key(), makeHistory());
        }
        return;
    }
    for (auto it = rawValues->cbegin(); it != rawValues->cend(); ++it) {
        if (!rawValueCache_.contains(it.key()))
            rawValueCache_.insert(it.key(), values::toSigned(it.value()).value_or(-1));
        if (!shortTermBuffers_.contains(it.key()))
            shortTermBuffers_.insert(it.key(), makeHistory());
    }
    TEVSensor::removeUnknownSensorEntriesFromDictionary(&rawValueCache_, &*rawValues);
    TEVSensor::removeUnknownSensorEntriesFromDictionary(&shortTermBuffers_, &*rawValues);
    // Both now hold exactly the sensors of these values.
    tickIndex_.identifiers = rawValues->keys();
    tickIndex_.histories.reserve(size_t(tickIndex_.identifiers.size()));
    for (const QString& identifier : std::as_const(tickIndex_.identifiers))
        tickIndex_.histories.push_back(shortTermBuffers_.value(identifier).get());
    tickIndex_.valid = true;
}

void TEVCaptureThread::setMainUpdateInterval(double seconds)
{
    if (!(seconds >= minimumMainUpdateInterval) || !std::isfinite(seconds) || seconds == mainUpdateInterval_)
        return;
    mainUpdateInterval_ = seconds;
    // The resynchronisation below would hide a sensor-set change that no tick has seen yet.
    if (sensorConfigurationHasChangedSinceLastUpdate(readCurrentRawValues()))
        noteConfigurationChange();
    shortTermBuffers_.clear();
    tickIndex_ = {};
    synchronizeBuffersWithCurrentConfiguration();
    handOverRawValues();
    readjustMainTimer();
}

QByteArray TEVCaptureThread::rawShortTermHistoryDataWithIdentifier(const QString& identifier,
                                                                   const QDateTime& date) const
{
    const auto history = shortTermBuffers_.value(identifier);
    return history ? history->rawValueDataBetweenNowAndDate(date) : QByteArray();
}

QByteArray TEVCaptureThread::rawLongTermHistoryDataWithIdentifier(const QString& identifier, const QDateTime& date)
{
    const auto history = longTermHistoryWithIdentifier(identifier);
    return history ? history->rawValueDataBetweenNowAndDate(date) : QByteArray();
}

double TEVCaptureThread::shortTermHistoryTimeDeltaWithIdentifier(const QString& identifier) const
{
    const auto history = shortTermBuffers_.value(identifier);
    return history ? history->timeDelta() : 1.0;
}

double TEVCaptureThread::longTermHistoryTimeDeltaWithIdentifier(const QString& identifier)
{
    const auto history = longTermHistoryWithIdentifier(identifier);
    return history ? history->timeDelta() : 1.0;
}

std::shared_ptr<TEVSensorHistory> TEVCaptureThread::longTermHistoryWithIdentifier(const QString& identifier)
{
    // A remote centre keeps its long-term histories to itself.
    const auto centre = dataCenter_;
    if (identifier.isNull() || !centre || !dataCenterIsLocal_)
        return nullptr;
    const quint64 count = centre->sensorHistoryUpdateCount();
    if (count > longTermUpdateCount_) {
        longTermCache_.clear();
        for (const QString& sensor : centre->availableSensorIdentifiers()) {
            if (auto history = centre->longTermSensorHistoryWithIdentifier(sensor))
                longTermCache_.insert(sensor, std::move(history));
        }
        longTermUpdateCount_ = count;
    }
    return longTermCache_.value(identifier);
}

QVariant TEVCaptureThread::cachedRawValueWithIdentifier(const QString& identifier) const
{
    if (identifier.isNull())
        return values::fromSigned(0);
    const auto it = rawValueCache_.constFind(identifier);
    return it == rawValueCache_.cend() ? QVariant() : values::fromSigned(it.value());
}

void TEVCaptureThread::clearShortTermHistories()
{
    for (const auto& history : std::as_const(shortTermBuffers_)) {
        if (history)
            history->discardAllValues();
    }
}

std::shared_ptr<const TEVMachineInfo> TEVCaptureThread::machineInfo()
{
    if (!machineInfoCache_) {
        if (const auto centre = dataCenter_)
            machineInfoCache_ = centre->machineInfo();
    }
    return machineInfoCache_;
}

QString TEVCaptureThread::machineModelCode()
{
    const auto info = machineInfo();
    return info ? info->systemModelCode() : QString();
}

QString TEVCaptureThread::machineSerialNumber()
{
    const auto info = machineInfo();
    return info ? info->systemSerialNumber() : QString();
}

QString TEVCaptureThread::machineName()
{
    const auto info = machineInfo();
    return info ? info->computerName() : QString();
}

quint64 TEVCaptureThread::currentCPUFrequency()
{
    const auto info = machineInfo();
    return info ? info->processorFrequency() : 0;
}
