#include "acquisition/TEVMonitoringClient.h"

#include "acquisition/AcquisitionSelectors.h"
#include "acquisition/TEVInvocationClient.h"
#include "acquisition/TEVServiceInvocation.h"

#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>

namespace values = platform::values;
namespace sel = acquisitionselectors;
using Op = AcquisitionOperation;

namespace {

constexpr auto kClassName = "TEVMonitoringClient";

const QString kNumber = QStringLiteral("NSNumber");
const QString kString = QStringLiteral("NSString");
const QString kData = QStringLiteral("NSData");
const QString kArray = QStringLiteral("NSArray");
const QString kDictionary = QStringLiteral("NSDictionary");
const QString kVoid;

QString selectorOf(Op operation)
{
    return QString::fromLatin1(sel::selectorOf(operation));
}

} // namespace

// --- Unboxing ----------------------------------------------------------------------------------------

bool TEVMonitoringClient::Unbox::boolean(const std::optional<QVariant>& v)
{
    return v ? values::toBool(*v).value_or(false) : false;
}
double TEVMonitoringClient::Unbox::real(const std::optional<QVariant>& v)
{
    return v ? values::toReal(*v).value_or(0) : 0;
}
qint64 TEVMonitoringClient::Unbox::signedInteger(const std::optional<QVariant>& v)
{
    return v ? values::toSigned(*v).value_or(0) : 0;
}
quint64 TEVMonitoringClient::Unbox::unsignedInteger(const std::optional<QVariant>& v)
{
    return v ? values::toUnsigned(*v).value_or(0) : 0;
}
QString TEVMonitoringClient::Unbox::string(const std::optional<QVariant>& v)
{
    return v ? values::toString(*v).value_or(QString()) : QString();
}
QByteArray TEVMonitoringClient::Unbox::data(const std::optional<QVariant>& v)
{
    return v ? values::toData(*v).value_or(QByteArray()) : QByteArray();
}
std::optional<QVariantList> TEVMonitoringClient::Unbox::array(const std::optional<QVariant>& v)
{
    return v ? values::toArray(*v) : std::nullopt;
}
std::optional<QVariantMap> TEVMonitoringClient::Unbox::dictionary(const std::optional<QVariant>& v)
{
    return v ? values::toDictionary(*v) : std::nullopt;
}

// --- Creation and life ----------------------------------------------------------------------------------

std::shared_ptr<TEVMonitoringClient> TEVMonitoringClient::create(const std::shared_ptr<MonitorConnectionInfo>& connectionInfo,
                                                                 Timeouts timeouts)
{
    if (!connectionInfo)
        return nullptr;
    std::shared_ptr<TEVMonitoringClient> client(new TEVMonitoringClient(connectionInfo, timeouts));
    client->captureThread_ = TEVCaptureThread::create(std::weak_ptr<TEVCaptureThreadClient>(client));
    if (client->captureThread_) {
        client->rawValueHandOver_ = client->captureThread_->rawValueHandOver();
        client->captureThread_->run();
    }
    return client;
}

TEVMonitoringClient::TEVMonitoringClient(std::shared_ptr<MonitorConnectionInfo> connectionInfo, Timeouts timeouts)
    : connectionInfo_(std::move(connectionInfo))
    , timeouts_(timeouts)
{
}

TEVMonitoringClient::~TEVMonitoringClient()
{
    configurationTimer_.invalidate();
    // A client dropped without shutdown must not leave its thread sampling for the rest of the process.
    if (captureThread_)
        captureThread_->stop();
}

QString TEVMonitoringClient::clientIdentifierFromSerialNumber(const QString& serialNumber)
{
    if (serialNumber.isNull())
        return {};
    QString result(QLatin1String(""));
    result.reserve(serialNumber.size());
    for (const QChar c : serialNumber) {
        if (c == QLatin1Char('.'))
            result += QLatin1String("\\D");
        else if (c == QLatin1Char('\\'))
            result += QLatin1String("\\\\");
        else
            result += c;
    }
    return result;
}

QString TEVMonitoringClient::serialNumberFromClientIdentifier(const QString& clientIdentifier)
{
    if (clientIdentifier.isNull())
        return {};
    QString result(QLatin1String(""));
    result.reserve(clientIdentifier.size());
    for (qsizetype i = 0; i < clientIdentifier.size(); ++i) {
        const QChar c = clientIdentifier[i];
        if (c != QLatin1Char('\\')) {
            result += c;
            continue;
        }
        if (++i >= clientIdentifier.size())
            return {};
        if (clientIdentifier[i] == QLatin1Char('D'))
            result += QLatin1Char('.');
        else if (clientIdentifier[i] == QLatin1Char('\\'))
            result += QLatin1Char('\\');
        else
            return {};
    }
    return result;
}

bool TEVMonitoringClient::run()
{
    if (failed_)
        return false; // there is no centre to capture from
    // The first reading of a remote computer is a round trip: its values come with the next hand-over.
    if (isRemoteConnection()) {
        // Capturing starts whether or not the first reading comes within the budget.
        if (!captureThread_ || timedOut_)
            return false;
        callWithin(timeouts_.remoteCallBudget, TEVCaptureThread::startCapturingSelector, kVoid);
    } else if (!call(TEVCaptureThread::startCapturingSelector, kVoid)) {
        return false;
    }
    capturing_ = true;
    lastCopyTaken_ = platform::monotonicNow();
    return true;
}

void TEVMonitoringClient::pauseCapturing()
{
    if (call(TEVCaptureThread::pauseCapturingSelector, kVoid))
        capturing_ = false;
}

void TEVMonitoringClient::shutdown()
{
    configurationTimer_.invalidate();
    if (!captureThread_)
        return;
    // A thread that waits for a silent remote computer is cancelled out of its wait and stops capturing as
    // it ends: the quit never waits for the computer.
    if (!isRemoteConnection())
        call(TEVCaptureThread::stopCapturingSelector, kVoid);
    if (captureThread_) {
        captureThread_->stop();
        captureThread_.reset();
    }
}

RemoteFailure TEVMonitoringClient::remoteFailure() const
{
    if (connectionInfo_->isLocal())
        return RemoteFailure::None;
    const RemoteFailure failure = rawValueHandOver_ ? rawValueHandOver_->failure() : RemoteFailure::None;
    if (failure == RemoteFailure::None && (failed_ || timedOut_))
        return RemoteFailure::NoAnswer;
    return failure;
}

void TEVMonitoringClient::handleConnectionProblem()
{
    if (captureThread_)
        captureThread_->stop();
}

QString TEVMonitoringClient::description() const
{
    return QStringLiteral("%1: identification '%2' connection: %3 capture thread: 0x%4\n")
        .arg(QLatin1String(kClassName), clientIdentification_, connectionInfo_->description(),
             QString::number(quintptr(captureThread_.get()), 16));
}

void TEVMonitoringClient::post(const QString& notification)
{
    // An observer may drop the last reference to the client while it is told.
    const auto keepAlive = weak_from_this().lock();
    platform::NotificationCenter::defaultCenter().post(notification, notificationIdentity());
}

// --- Reports of the capture thread --------------------------------------------------------------------

void TEVMonitoringClient::registerThreadedServer(const std::shared_ptr<TEVThreadedServer>& server)
{
    const auto main = platform::RunLoop::main();
    if (!server || !main)
        return;
    configurationTimer_.invalidate();
    configurationTimer_ = main->performAfter(platform::durationFromSeconds(timeouts_.configurationDelay),
                                             [weak = weak_from_this()] {
                                                 if (const auto client = weak.lock())
                                                     client->initiateAcquisitionConfiguration();
                                             });
}

void TEVMonitoringClient::deregisterThreadedServer(const std::shared_ptr<TEVThreadedServer>& server)
{
    if (!server)
        return;
    configurationTimer_.invalidate();
    captureThread_.reset();
    post(lostConnectionNotification);
}

QString TEVMonitoringClient::withoutSerialNumberText() const
{
    switch (remoteFailure()) {
    case RemoteFailure::NotMonitoring:
        return connectionInfo_->description() + QStringLiteral(": it describes no computer, so it is no monitoring service");
    case RemoteFailure::NoSerialNumber:
        return connectionInfo_->description() + QStringLiteral(": the computer sent no serial number");
    default:
        return connectionInfo_->description() + QStringLiteral(": the computer could not tell its serial number");
    }
}

void TEVMonitoringClient::captureThreadHasBecomeReady(const TEVCaptureReadyFacts& facts)
{
    if (failed_ || timedOut_ || !captureThread_) {
        platform::log(kClassName, QStringLiteral("readiness reported after the connection failed is ignored"));
        return;
    }
    if (asleep_) {
        platform::log(kClassName, QStringLiteral("readiness reported after the computer went to sleep is ignored"));
        return;
    }
    if (facts.serialNumber.isEmpty() || !facts.complete) {
        platform::log(kClassName, facts.serialNumber.isEmpty() ? withoutSerialNumberText()
                                                               : QStringLiteral("capture thread reported readiness but not the computer's facts"));
        failed_ = true;
        post(failedNotification);
        return;
    }
    facts_ = Facts{facts.serialNumber, facts.name, facts.modelCode, facts.remote, facts.versionCode, facts.hostName,
                   facts.machineInfo};
    sensorIdentifiers_ = facts.sensorIdentifiers;
    clientIdentification_ = clientIdentifierFromSerialNumber(facts.serialNumber);
    post(isReadyNotification);
}

void TEVMonitoringClient::captureThreadHasBecomeReadyUsingSerialNumber(const QString& serialNumber)
{
    if (failed_ || timedOut_ || !captureThread_) {
        platform::log(kClassName, QStringLiteral("readiness reported after the connection failed is ignored"));
        return;
    }
    if (asleep_) {
        platform::log(kClassName, QStringLiteral("readiness reported after the computer went to sleep is ignored"));
        return;
    }
    if (serialNumber.isEmpty()) {
        // Without a serial number there is no identification to name the computer by.
        platform::log(kClassName, withoutSerialNumberText());
        failed_ = true;
        post(failedNotification);
        return;
    }
    // Asked before anyone hears of readiness, so that no observer waits for them on the capture thread.
    const auto name = call(TEVCaptureThread::machineNameSelector, kString);
    const auto modelCode = call(TEVCaptureThread::machineModelCodeSelector, kString);
    const auto remote = call(selectorOf(Op::IsRemote), kNumber);
    if (!name || !modelCode || !remote) {
        platform::log(kClassName, QStringLiteral("capture thread reported readiness but not the computer's facts"));
        failed_ = true;
        post(failedNotification);
        return;
    }
    facts_ = Facts{serialNumber, Unbox::string(name), Unbox::string(modelCode), Unbox::boolean(remote), std::nullopt, QString(), nullptr};
    clientIdentification_ = clientIdentifierFromSerialNumber(serialNumber);
    post(isReadyNotification);
}

void TEVMonitoringClient::captureThreadHasLostConnectionToAcqusitionCenter(const std::shared_ptr<TEVCaptureThread>&)
{
    failed_ = true;
    post(failedNotification);
}

void TEVMonitoringClient::captureThreadDidDetectSleepMode(const std::shared_ptr<TEVCaptureThread>&)
{
    asleep_ = true;
    post(enteredSleepModeNotification);
}

void TEVMonitoringClient::captureThreadDidHandOverRawValues()
{
    takeRawValues();
}

void TEVMonitoringClient::takeRawValues()
{
    if (!rawValueHandOver_)
        return;
    if (auto copy = rawValueHandOver_->take()) {
        lastCopyTaken_ = platform::monotonicNow();
        rawValues_ = std::move(copy->rawValues);
        knownMachineLimits_ = std::move(copy->knownMachineLimits);
        configurationChanges_ = copy->configurationChanges;
        batteries_ = std::move(copy->batteries);
        displays_ = std::move(copy->displays);
        drives_ = std::move(copy->drives);
        if (isRemoteConnection()) {
            if (sensorFacts_.isEmpty() && !copy->sensors.isEmpty())
                ++sensorFactsArrivals_;
            sensorIdentifiers_ = std::move(copy->sensorIdentifiers);
            sensorFacts_ = std::move(copy->sensors);
            systemManagement_ = std::move(copy->systemManagement);
            presentationIcon_ = std::move(copy->presentationIcon);
        }
    }
}

bool TEVMonitoringClient::watch(TEVCaptureThread::Watch watch)
{
    if (!captureThread_ || timedOut_ || !rawValueHandOver_)
        return false;
    rawValueHandOver_->watch(watch);
    takeRawValues();
    switch (watch) {
    case TEVCaptureThread::WatchBatteries: return batteries_.has_value();
    case TEVCaptureThread::WatchDisplays: return displays_.has_value();
    case TEVCaptureThread::WatchDrives: return drives_.has_value();
    }
    return false;
}

// --- Call path ----------------------------------------------------------------------------------------

void TEVMonitoringClient::initiateAcquisitionConfiguration()
{
    if (!captureThread_ || failed_)
        return;
    if (connectionInfo_->isLocal()) {
        const auto created = call(TEVCaptureThread::createLocalAcquisitionCenterSelector, kNumber,
                                  {values::fromString(connectionInfo_->applicationName())});
        if (!Unbox::boolean(created))
            connectionHasFailed();
        return;
    }
    // A remote computer may take its time to connect (or trickle its greeting): the thread connects on its
    // own, bounded by its own time-outs, and the main thread only hears how it went.
    const double deadline = connectionDeadline();
    const bool sent = ask(TEVCaptureThread::connectToRemoteAcquisitionCenterSelector, kNumber,
                          {values::fromObject(connectionInfo_)},
                          [weak = weak_from_this()](const std::optional<QVariant>& connected) {
                              const auto client = weak.lock();
                              if (client && !Unbox::boolean(connected) && !client->failed_)
                                  client->connectionHasFailed();
                          },
                          deadline);
    if (!sent)
        connectionHasFailed();
}

double TEVMonitoringClient::connectionDeadline() const
{
    // The thread's own waits (the connectivity check, then the greeting within its total deadline) end the
    // attempt before this; it only guards against a thread that never answers.
    const double own = captureThread_ ? TEVCaptureThread::connectivityCheckTimeout +
                                            captureThread_->remoteResponseTimeout() * TEVInvocationClient::TotalDeadlineInTimeouts
                                      : 0.0;
    return own + timeouts_.callWait;
}

void TEVMonitoringClient::connectionHasFailed()
{
    failed_ = true;
    post(failedNotification);
}

std::optional<QVariant> TEVMonitoringClient::callWithin(double budget, const QString& selector,
                                                        const QString& returnClass, const QVariantList& arguments)
{
    bool sent = false;
    // The budget bounds the main thread's wait, however long the call waited in the queue.
    return callAndWait(std::min(budget, timeouts_.callWait), budget, selector, returnClass, arguments, sent);
}

std::optional<QVariant> TEVMonitoringClient::call(const QString& selector, const QString& returnClass,
                                                  const QVariantList& arguments)
{
    bool sent = false;
    auto result = callAndWait(timeouts_.callWait, std::nullopt, selector, returnClass, arguments, sent);
    if (!result && sent)
        giveUpOnTimeout();
    return result;
}

std::optional<QVariant> TEVMonitoringClient::callAndWait(double deadline, std::optional<double> longest,
                                                         const QString& selector, const QString& returnClass,
                                                         const QVariantList& arguments, bool& sent)
{
    using Outcome = TEVThreadedServer::CallState::Outcome;
    sent = false;
    if (!captureThread_ || timedOut_)
        return std::nullopt;
    auto invocation = TEVServiceInvocation::invocation(selector, returnClass);
    for (const QVariant& argument : arguments)
        invocation->addArgument(argument);
    // The server drops an invalid invocation silently; waiting for it would only run into the time-out.
    if (!invocation->validate())
        return std::nullopt;
    // A thread that is stopping performs nothing more: such a call fails at once, not by time-out. The
    // answer is read from the call's state, so the block has nothing to hand over.
    const auto state = captureThread_->invoke(invocation, [](const std::optional<QVariant>&) {},
                                              platform::durationFromSeconds(deadline));
    if (!state)
        return std::nullopt;
    const Outcome outcome = state->wait(
        longest ? std::optional(platform::monotonicNow() + platform::durationFromSeconds(*longest)) : std::nullopt);
    // A call the thread ended without performing failed at once: no time-out to report.
    sent = outcome != Outcome::NeverPerformed;
    if (outcome != Outcome::Answered)
        return std::nullopt;
    // Every tick before the answer has handed its values over: what is read next is as new as the answer.
    takeRawValues();
    return state->result();
}

void TEVMonitoringClient::giveUpOnTimeout()
{
    // Every call still waiting runs into its deadline after the first: the computer is given up on once.
    if (timedOut_)
        return;
    platform::log(kClassName, QStringLiteral("Timeout while waiting for server response!"));
    timedOut_ = true;
    handleConnectionProblem();
}

bool TEVMonitoringClient::ask(const QString& selector, const QString& returnClass, const QVariantList& arguments,
                              Answer answer, std::optional<double> ownDeadline)
{
    const auto main = platform::RunLoop::main();
    if (!captureThread_ || timedOut_ || !main)
        return false;
    auto invocation = TEVServiceInvocation::invocation(selector, returnClass);
    for (const QVariant& argument : arguments)
        invocation->addArgument(argument);
    if (!invocation->validate())
        return false;
    // Shared by the completion block, the queued answer and the deadline; whichever comes first decides. The
    // deadline's timer holds it weakly: the block, which is called once whatever happens, keeps it alive.
    struct Pending {
        std::shared_ptr<const TEVThreadedServer::CallState> call;
        bool settled = false; // main thread: answered or given up
        Answer answer;
        platform::Timer deadline;
        std::function<void(const std::shared_ptr<Pending>&)> expire;
    };
    const auto pending = std::make_shared<Pending>();
    pending->answer = std::move(answer);
    const std::weak_ptr<TEVMonitoringClient> weak = weak_from_this();
    const auto settle = [](Pending& pending, const std::shared_ptr<TEVMonitoringClient>& client,
                           const std::optional<QVariant>& result) {
        pending.settled = true;
        pending.deadline.invalidate();
        const Answer answer = std::exchange(pending.answer, {});
        if (client && answer)
            answer(result);
    };
    pending->call = captureThread_->invoke(
        invocation,
        [main, weak, pending, settle](const std::optional<QVariant>& result) {
            main->perform([weak, pending, settle, result] {
                if (pending->settled)
                    return;
                const auto client = weak.lock();
                if (client)
                    client->takeRawValues();
                settle(*pending, client, result);
            });
        },
        platform::durationFromSeconds(ownDeadline.value_or(timeouts_.callWait)));
    if (!pending->call)
        return false;
    const bool givesUp = !ownDeadline;
    // Looks at the call when its deadline as it stood comes: one still queued, or started since, has a
    // later one, and the timer waits again.
    pending->expire = [main, weak, settle, givesUp](const std::shared_ptr<Pending>& p) {
        // An answer already on its way to this thread is taken when it arrives.
        if (p->settled || p->call->isAnswered())
            return;
        const auto left = p->call->deadline() - platform::monotonicNow();
        if (left > platform::Clock::Duration::zero()) {
            p->deadline = main->performAfter(left, [held = std::weak_ptr<Pending>(p)] {
                if (const auto p = held.lock())
                    p->expire(p);
            });
            return;
        }
        const auto client = weak.lock();
        if (client && givesUp)
            client->giveUpOnTimeout();
        settle(*p, client, std::nullopt);
    };
    pending->expire(pending);
    return true;
}

// --- Facade -------------------------------------------------------------------------------------------

void TEVMonitoringClient::setMainUpdateInterval(double seconds)
{
    if (seconds >= TEVCaptureThread::minimumMainUpdateInterval && std::isfinite(seconds))
        captureInterval_ = seconds;
    if (isRemoteConnection()) {
        ask(TEVCaptureThread::setMainUpdateIntervalSelector, kVoid, {values::fromReal(seconds)});
        return;
    }
    call(TEVCaptureThread::setMainUpdateIntervalSelector, kVoid, {values::fromReal(seconds)});
}

double TEVMonitoringClient::mainUpdateInterval()
{
    return Unbox::real(call(TEVCaptureThread::mainUpdateIntervalSelector, kNumber));
}

QByteArray TEVMonitoringClient::rawShortTermHistoryDataWithIdentifier(const QString& identifier, const QDateTime& date)
{
    return Unbox::data(call(TEVCaptureThread::rawShortTermHistoryDataSelector, kData, {values::fromString(identifier), values::fromDate(date)}));
}

QByteArray TEVMonitoringClient::rawLongTermHistoryDataWithIdentifier(const QString& identifier, const QDateTime& date)
{
    return Unbox::data(call(TEVCaptureThread::rawLongTermHistoryDataSelector, kData, {values::fromString(identifier), values::fromDate(date)}));
}

double TEVMonitoringClient::shortTermHistoryTimeDeltaWithIdentifier(const QString& identifier)
{
    return Unbox::real(call(TEVCaptureThread::shortTermHistoryTimeDeltaSelector, kNumber, {values::fromString(identifier)}));
}

double TEVMonitoringClient::longTermHistoryTimeDeltaWithIdentifier(const QString& identifier)
{
    return Unbox::real(call(TEVCaptureThread::longTermHistoryTimeDeltaSelector, kNumber, {values::fromString(identifier)}));
}

qint64 TEVMonitoringClient::cachedRawValueWithIdentifier(const QString& identifier)
{
    // A dead client's gauges show no value rather than a reading of 0.
    if (!captureThread_ || timedOut_)
        return -1;
    if (identifier.isNull())
        return 0;
    return rawValues_.value(identifier, 0);
}

void TEVMonitoringClient::clearShortTermHistories()
{
    if (isRemoteConnection()) {
        ask(TEVCaptureThread::clearShortTermHistoriesSelector, kVoid, {});
        return;
    }
    call(TEVCaptureThread::clearShortTermHistoriesSelector, kVoid);
}

// Asked on every tick of the main thread, so answered from the tick copy: a capture thread held up by a
// silent computer must not hold the tick.
bool TEVMonitoringClient::hasDetectedConfigurationChange()
{
    if (!captureThread_ || timedOut_)
        return false;
    takeRawValues();
    // A thread stuck where nothing runs its loop (a local sensor read that hangs) hands nothing over: one
    // call finds out, and its time-out fails the client. A thread that waits for a remote computer
    // answers it at once from inside that wait.
    const auto now = platform::monotonicNow();
    if (capturing_ && now - lastCopyTaken_ > platform::durationFromSeconds(3 * captureInterval_)) {
        lastCopyTaken_ = now;
        call(TEVThreadedServer::pingSelector, kString);
        if (!captureThread_ || timedOut_)
            return false;
    }
    return configurationChanges_ + sensorFactsArrivals_ != acknowledgedConfigurationChanges_;
}

void TEVMonitoringClient::acknowledgeConfigurationChange()
{
    acknowledgedConfigurationChanges_ = configurationChanges_ + sensorFactsArrivals_;
}

bool TEVMonitoringClient::isRemote()
{
    if (facts_)
        return facts_->remote;
    // Before readiness a remote computer has told nothing, and the main thread does not wait for it.
    if (isRemoteConnection())
        return false;
    return Unbox::boolean(call(selectorOf(Op::IsRemote), kNumber));
}

quint64 TEVMonitoringClient::versionCode()
{
    if (facts_ && facts_->versionCode)
        return *facts_->versionCode;
    if (isRemoteConnection())
        return 0;
    return Unbox::unsignedInteger(call(selectorOf(Op::VersionCode), kNumber));
}

QString TEVMonitoringClient::hostName()
{
    if (isRemoteConnection())
        return facts_ ? facts_->hostName : QString();
    return Unbox::string(call(selectorOf(Op::HostName), kString));
}

// Local-only operations decide by the descriptor: asking the centre first would cost a second hand-over
// and, for a remote computer, a round trip over a connection that may be failing.
bool TEVMonitoringClient::isLowAccessRatePolicyRecommended()
{
    if (!connectionInfo_->isLocal())
        return false;
    return Unbox::boolean(call(selectorOf(Op::IsLowAccessRatePolicyRecommended), kNumber));
}

void TEVMonitoringClient::setSMCAccessPolicy(qint64 policy)
{
    if (connectionInfo_->isLocal())
        call(selectorOf(Op::SetSMCAccessPolicy), kVoid, {values::fromSigned(policy)});
}

void TEVMonitoringClient::setSMARTUpdateInterval(double interval, quint64 saverInterval)
{
    if (connectionInfo_->isLocal())
        call(selectorOf(Op::SetSMARTUpdateIntervalSaverInterval), kVoid,
             {values::fromReal(interval), values::fromUnsigned(saverInterval)});
}

void TEVMonitoringClient::setLongTermHistoryUpdateInterval(double seconds)
{
    if (connectionInfo_->isLocal())
        call(selectorOf(Op::SetLongTermHistoryUpdateInterval), kVoid, {values::fromReal(seconds)});
}

void TEVMonitoringClient::setHistoryAutosaveTimeInterval(quint64 minutes)
{
    if (connectionInfo_->isLocal())
        call(selectorOf(Op::SetHistoryAutosaveTimeInterval), kVoid, {values::fromUnsigned(minutes)});
}

bool TEVMonitoringClient::saveLongTermHistoryBuffers()
{
    if (!connectionInfo_->isLocal())
        return false;
    return Unbox::boolean(call(selectorOf(Op::SaveLongTermHistoryBuffers), kNumber));
}

quint64 TEVMonitoringClient::numberOfAvailableSensors()
{
    if (isRemoteConnection())
        return quint64(availableSensorIdentifiers().size());
    return Unbox::unsignedInteger(call(selectorOf(Op::NumberOfAvailableSensors), kNumber));
}

void TEVMonitoringClient::disableLocalAccess(bool disable, const QString& identifier)
{
    if (isRemoteConnection()) {
        ask(selectorOf(Op::DisableLocalAccessToSensorWithIdentifier), kVoid,
            {values::fromBool(disable), values::fromString(identifier)});
        return;
    }
    call(selectorOf(Op::DisableLocalAccessToSensorWithIdentifier), kVoid,
         {values::fromBool(disable), values::fromString(identifier)});
}

QStringList TEVMonitoringClient::availableSensorIdentifiers()
{
    if (isRemoteConnection()) {
        if (!captureThread_ || timedOut_)
            return {};
        takeRawValues();
        return sensorIdentifiers_;
    }
    QStringList identifiers;
    for (const QVariant& entry : Unbox::array(call(selectorOf(Op::AvailableSensorIdentifiers), kArray)).value_or(QVariantList())) {
        if (const auto identifier = values::toString(entry))
            identifiers.append(*identifier);
    }
    return identifiers;
}

std::shared_ptr<TEVSensorDescription> TEVMonitoringClient::sensorDescriptionForIdentifier(const QString& identifier)
{
    if (isRemoteConnection()) {
        if (!captureThread_ || timedOut_)
            return nullptr;
        takeRawValues();
        return sensorFacts_.value(identifier).description;
    }
    return Unbox::object<TEVSensorDescription>(call(selectorOf(Op::SensorDescriptionForIdentifier),
                                               QStringLiteral("TEVSensorDescription"), {values::fromString(identifier)}));
}

std::shared_ptr<TEVSensorValueConverter> TEVMonitoringClient::sensorValueConverterForIdentifier(const QString& identifier)
{
    if (isRemoteConnection()) {
        if (!captureThread_ || timedOut_)
            return nullptr;
        takeRawValues();
        return sensorFacts_.value(identifier).converter;
    }
    return Unbox::object<TEVSensorValueConverter>(call(selectorOf(Op::SensorValueConverterForIdentifier),
                                                  QStringLiteral("TEVSensorValueConverter"),
                                                  {values::fromString(identifier)}));
}

std::shared_ptr<const TEVMachineInfo> TEVMonitoringClient::machineInfo()
{
    if (facts_ && facts_->machineInfo)
        return facts_->machineInfo;
    if (isRemoteConnection())
        return nullptr;
    return Unbox::object<const TEVMachineInfo>(call(selectorOf(Op::MachineInfo), QStringLiteral("TEVMachineInfo")));
}

QByteArray TEVMonitoringClient::dataForMachinePresentationIcon()
{
    if (isRemoteConnection())
        return presentationIcon_;
    return Unbox::data(call(selectorOf(Op::DataForMachinePresentationIcon), kData));
}

QString TEVMonitoringClient::machineModelCode()
{
    if (facts_)
        return facts_->modelCode;
    if (isRemoteConnection())
        return {};
    return Unbox::string(call(TEVCaptureThread::machineModelCodeSelector, kString));
}

QString TEVMonitoringClient::machineSerialNumber()
{
    if (facts_)
        return facts_->serialNumber;
    if (isRemoteConnection())
        return {};
    return Unbox::string(call(TEVCaptureThread::machineSerialNumberSelector, kString));
}

QString TEVMonitoringClient::machineName()
{
    if (facts_)
        return facts_->name;
    if (isRemoteConnection())
        return {};
    return Unbox::string(call(TEVCaptureThread::machineNameSelector, kString));
}

QString TEVMonitoringClient::smcVersion()
{
    return Unbox::string(call(selectorOf(Op::SmcVersion), kString));
}

quint64 TEVMonitoringClient::currentCPUFrequency()
{
    return Unbox::unsignedInteger(call(TEVCaptureThread::currentCPUFrequencySelector, kNumber));
}

std::optional<QVariantList> TEVMonitoringClient::systemManagementDescription()
{
    if (isRemoteConnection())
        return systemManagement_;
    return Unbox::array(call(selectorOf(Op::SystemManagementDescription), kArray));
}

qint64 TEVMonitoringClient::liveDiskSpindownValue()
{
    return Unbox::signedInteger(call(selectorOf(Op::LiveDiskSpindownValue), kNumber));
}

std::optional<QVariantMap> TEVMonitoringClient::knownMachineLimits()
{
    if (!captureThread_ || timedOut_)
        return std::nullopt;
    takeRawValues();
    return knownMachineLimits_;
}

QVariantList TEVMonitoringClient::blockStorageDeviceDescriptions()
{
    if (watch(TEVCaptureThread::WatchDrives))
        return *drives_;
    if (isRemoteConnection())
        return Unbox::array(callWithin(timeouts_.remoteCallBudget, selectorOf(Op::BlockStorageDeviceDescriptions), kArray))
            .value_or(QVariantList());
    return Unbox::array(call(selectorOf(Op::BlockStorageDeviceDescriptions), kArray)).value_or(QVariantList());
}

QList<std::shared_ptr<TEVSensorDescription>> TEVMonitoringClient::completeListOfSensorDescriptions()
{
    QList<std::shared_ptr<TEVSensorDescription>> descriptions;
    const auto array = Unbox::array(call(selectorOf(Op::CompleteListOfSensorDescriptions), kArray));
    for (const QVariant& entry : array.value_or(QVariantList())) {
        if (auto description = std::dynamic_pointer_cast<TEVSensorDescription>(values::toObject(entry)))
            descriptions.append(std::move(description));
    }
    return descriptions;
}

quint64 TEVMonitoringClient::numberOfAvailableBatteryUnits()
{
    if (watch(TEVCaptureThread::WatchBatteries))
        return batteries_->units;
    // A remote computer's window fills in when a later tick brings the facts, if they do not come at once.
    if (isRemoteConnection())
        return Unbox::unsignedInteger(callWithin(timeouts_.remoteCallBudget, selectorOf(Op::NumberOfAvailableBatteryUnits), kNumber));
    return Unbox::unsignedInteger(call(selectorOf(Op::NumberOfAvailableBatteryUnits), kNumber));
}

std::optional<QVariantMap> TEVMonitoringClient::batteryReadoutsAtIndex(quint64 index)
{
    if (index == 0 && watch(TEVCaptureThread::WatchBatteries))
        return batteries_->first;
    if (isRemoteConnection())
        return Unbox::dictionary(callWithin(timeouts_.remoteCallBudget, selectorOf(Op::BatteryReadoutsAtIndex), kDictionary,
                                            {values::fromUnsigned(index)}));
    return Unbox::dictionary(call(selectorOf(Op::BatteryReadoutsAtIndex), kDictionary, {values::fromUnsigned(index)}));
}

QVariantList TEVMonitoringClient::displayDescriptions()
{
    if (watch(TEVCaptureThread::WatchDisplays))
        return *displays_;
    if (isRemoteConnection())
        return Unbox::array(callWithin(timeouts_.remoteCallBudget, selectorOf(Op::DisplayDescriptions), kArray)).value_or(QVariantList());
    return Unbox::array(call(selectorOf(Op::DisplayDescriptions), kArray)).value_or(QVariantList());
}

double TEVMonitoringClient::smartUpdateInterval()
{
    return Unbox::real(call(selectorOf(Op::SmartUpdateInterval), kNumber));
}

double TEVMonitoringClient::longTermUpdateInterval()
{
    return Unbox::real(call(selectorOf(Op::LongTermUpdateInterval), kNumber));
}

quint64 TEVMonitoringClient::autosaveTimeInterval()
{
    return Unbox::unsignedInteger(call(selectorOf(Op::AutosaveTimeInterval), kNumber));
}

void TEVMonitoringClient::rescanForSensors()
{
    // A remote computer's new sensors come with a later tick, as a change of its sensor set.
    if (isRemoteConnection()) {
        ask(selectorOf(Op::RescanForSensors), kVoid, {});
        return;
    }
    call(selectorOf(Op::RescanForSensors), kVoid);
}

void TEVMonitoringClient::simulateFailure()
{
    call(selectorOf(Op::SimulateFailure), kVoid);
}
