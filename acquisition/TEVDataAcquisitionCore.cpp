#include "acquisition/TEVDataAcquisitionCore.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/HostRoot.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/Values.h"
#include "platform/host/MountTable.h"
#include "platform/host/SystemIdentity.h"
#include "platform/registry/PowerSupplyBatteryProvider.h"
#include "sensors/SensorLimitsManager.h"
#include "sensors/TEVActiveFileSystem.h"
#include "sensors/TEVBatterySensor.h"
#include "sensors/TEVBlockStorageDeviceInfo.h"
#include "sensors/TEVDisplayInfo.h"
#include "sensors/TEVLocalSMARTProbe.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSMARTTemperatureSensor.h"
#include "sensors/TEVSMBIOSInfo.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSystemManagementController.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <limits>
#include <thread>

namespace {

constexpr auto kClassName = "TEVDataAcquisitionCore";

void logMessage(const QString& message)
{
    platform::log(kClassName, message);
}

QString threadAddress()
{
    return QString::asprintf("%p", static_cast<void*>(QThread::currentThread()));
}

} // namespace

TEVDataAcquisitionCore::Sources TEVDataAcquisitionCore::Sources::local()
{
    Sources sources;
    sources.allSensors = [] { return TEVSensor::allSensors(); };
    // In number order, so that the first battery is the one whose sensors say "Battery 1".
    sources.allBatteries = [] {
        TEVBatteryInfo::BatteryList batteries;
        for (const auto& numbered : TEVBatteryInfo::numberedBatteries())
            batteries.append(numbered.battery);
        return batteries;
    };
    sources.machineInfo = TEVMachineInfo::sharedMachineInfo();
    sources.makeLimitsManager = [] { return std::make_shared<SensorLimitsManager>(); };
    sources.mountedFileSystems = []() -> std::optional<MountTable> {
        MountTable table;
        const auto mounted = TEVActiveFileSystem::mountedFileSystemsByID();
        for (auto it = mounted.cbegin(); it != mounted.cend(); ++it) {
            if (it.value())
                table.insert(it.key(), {it.value()->fileSystemTypeName(), it.value()->mountSourcePath()});
        }
        return table;
    };
    sources.batterySignature = [] {
        return platform::PowerSupplyBatteryProvider().changeSignature(*platform::HostRoot::current()).value_or(QByteArray());
    };
    return sources;
}

TEVDataAcquisitionCore::TEVDataAcquisitionCore()
    : TEVDataAcquisitionCore(Sources::local())
{
}

TEVDataAcquisitionCore::TEVDataAcquisitionCore(Sources sources)
    : sources_(std::move(sources))
{
    // With two sensors of one identifier the later one wins.
    if (sources_.allSensors) {
        for (const auto& sensor : sources_.allSensors()) {
            if (sensor)
                sensorDictionary_.insert(sensor->uniqueIdentifier(), sensor);
        }
    }
    machineInfo_ = sources_.machineInfo;
    if (sources_.makeLimitsManager)
        limitsManager_ = sources_.makeLimitsManager();
    if (sources_.mountedFileSystems)
        mountDictionary_ = sources_.mountedFileSystems().value_or(MountTable{});
    previousMounts_ = mountDictionary_;
    if (sources_.batterySignature)
        batterySignature_ = sources_.batterySignature();
}

TEVDataAcquisitionCore::~TEVDataAcquisitionCore()
{
    historyTimer_.invalidate();
    autosaveTimer_.invalidate();
}

QString TEVDataAcquisitionCore::hostName() const
{
    const auto name = platform::SystemIdentity::hostname(*platform::HostRoot::current());
    return name ? *name : QString();
}

bool TEVDataAcquisitionCore::isLowAccessRatePolicyRecommended() const
{
    return TEVSystemManagementController::isLowAccessRatePolicyRecommended();
}

void TEVDataAcquisitionCore::setSMCAccessPolicy(qint64 policy)
{
    TEVSystemManagementController::setAccessPolicy(policy);
}

void TEVDataAcquisitionCore::setSMARTUpdateInterval(double interval, quint64 saverInterval)
{
    // NaN and infinity would reach an integer conversion; they are ignored like any interval below 1 s.
    if (!(interval >= 1.0) || !std::isfinite(interval))
        return;
    smartUpdateInterval_ = interval;
    smartSaverInterval_ = saverInterval;
    pushSMARTSettings();
}

void TEVDataAcquisitionCore::pushSMARTSettings()
{
    const double bound = double(std::numeric_limits<quint64>::max());
    const quint64 seconds = smartUpdateInterval_ >= bound ? std::numeric_limits<quint64>::max()
                                                          : quint64(smartUpdateInterval_);
    for (const auto& sensor : std::as_const(sensorDictionary_)) {
        if (auto* disk = dynamic_cast<TEVSMARTTemperatureSensor*>(sensor.get())) {
            disk->setDiskAccessInterval(seconds);
            disk->setDiskSaverInterval(smartSaverInterval_);
        }
    }
    TEVLocalSMARTProbe::setDriveSaverInterval(smartSaverInterval_);
}

void TEVDataAcquisitionCore::disableLocalAccess(bool disable, const QString& identifier)
{
    if (identifier.isEmpty() || isRemote_ || !sensorDictionary_.contains(identifier))
        return;
    if (disable)
        blockedSensorIDs_.insert(identifier);
    else
        blockedSensorIDs_.remove(identifier);
}

std::shared_ptr<TEVSensorDescription> TEVDataAcquisitionCore::sensorDescriptionForIdentifier(const QString& identifier) const
{
    const auto sensor = sensorDictionary_.value(identifier);
    return sensor ? sensor->configurationDescription() : nullptr;
}

std::shared_ptr<TEVSensorValueConverter>
TEVDataAcquisitionCore::sensorValueConverterForIdentifier(const QString& identifier) const
{
    const auto sensor = sensorDictionary_.value(identifier);
    return sensor ? sensor->valueConverter() : nullptr;
}

QVariantMap TEVDataAcquisitionCore::currentRawValues()
{
    // A pack put in or taken out changes the sensor list, as a mount does, without the user asking for a
    // rescan; the capture thread sees the new set in this tick's values.
    if (sources_.batterySignature) {
        if (QByteArray signature = sources_.batterySignature(); signature != batterySignature_) {
            batterySignature_ = std::move(signature);
            rescanForSensors();
        }
    }
    // The disk probes of one tick share one reading of the mount table.
    const platform::MountTable::ReadingScope mountTable;
    QVariantMap values;
    for (auto it = sensorDictionary_.cbegin(); it != sensorDictionary_.cend(); ++it) {
        // A blocked sensor's hardware is not touched at all.
        const qint64 raw = blockedSensorIDs_.contains(it.key()) ? -1 : it.value()->rawValue();
        values.insert(it.key(), platform::values::fromSigned(raw));
    }
    return values;
}

QByteArray TEVDataAcquisitionCore::dataForMachinePresentationIcon() const
{
    // Linux has no system icon of the computer to convert.
    if (!isRemote_ || !machineInfo_)
        return {};
    return machineInfo_->imageDataForMachinePicture();
}

QString TEVDataAcquisitionCore::smcVersion() const
{
    const auto smc = TEVSystemManagementController::sharedSystemManagementController();
    return smc ? smc->versionNumber() : QString();
}

std::optional<QVariantList> TEVDataAcquisitionCore::systemManagementDescription() const
{
    const auto smbios = TEVSMBIOSInfo::systemManagementBIOSInformation();
    if (!smbios)
        return std::nullopt;
    return smbios->systemManagementStructures();
}

qint64 TEVDataAcquisitionCore::liveDiskSpindownValue() const
{
    // Linux keeps no system-wide disk sleep timer (each drive has its own standby setting, which cannot be
    // read back). Said once: the capture thread may ask at every refresh.
    static std::atomic<bool> logged{false};
    if (!logged.exchange(true))
        logMessage(QStringLiteral("Could not read power management data"));
    return 0;
}

std::optional<QVariantMap> TEVDataAcquisitionCore::knownMachineLimits() const
{
    return limitsManager_ ? limitsManager_->limitsForCurrentMachine() : std::nullopt;
}

QVariantList TEVDataAcquisitionCore::blockStorageDeviceDescriptions() const
{
    return TEVBlockStorageDeviceInfo::blockStorageDeviceDescriptions();
}

QList<std::shared_ptr<TEVSensorDescription>> TEVDataAcquisitionCore::completeListOfSensorDescriptions() const
{
    TEVSensorList sensors = sources_.allSensors ? sources_.allSensors() : TEVSensorList{};
    sensors.removeAll(nullptr);
    std::stable_sort(sensors.begin(), sensors.end(),
                     [](const auto& a, const auto& b) { return a->compare(*b) < 0; });
    QList<std::shared_ptr<TEVSensorDescription>> descriptions;
    descriptions.reserve(sensors.size());
    for (const auto& sensor : std::as_const(sensors))
        descriptions.append(sensor->configurationDescription());
    return descriptions;
}

// Batteries are listed afresh at each call, as drives and displays are: packs come and go.
TEVBatteryInfo::BatteryList TEVDataAcquisitionCore::batteryList() const
{
    return sources_.allBatteries ? sources_.allBatteries() : TEVBatteryInfo::BatteryList{};
}

quint64 TEVDataAcquisitionCore::numberOfAvailableBatteryUnits() const
{
    return quint64(batteryList().size());
}

std::optional<QVariantMap> TEVDataAcquisitionCore::batteryReadoutsAtIndex(quint64 index) const
{
    const auto batteries = batteryList();
    if (index >= quint64(batteries.size()) || !batteries[qsizetype(index)])
        return std::nullopt;
    return batteries[qsizetype(index)]->currentReadouts();
}

QVariantList TEVDataAcquisitionCore::displayDescriptions() const
{
    QVariantList descriptions;
    for (const auto& display : TEVDisplayInfo::allDisplays())
        descriptions.append(display->displayDescription());
    return descriptions;
}

void TEVDataAcquisitionCore::rescanForSensors()
{
    TEVSensorList fresh = sources_.allSensors ? sources_.allSensors() : TEVSensorList{};
    fresh.removeAll(nullptr);
    QMap<QString, std::shared_ptr<TEVSensor>> freshByIdentifier;
    for (const auto& sensor : std::as_const(fresh))
        freshByIdentifier.insert(sensor->uniqueIdentifier(), sensor);

    // Sensors present before keep their objects, and with them their state. A battery sensor keeps nothing
    // but its pack, which may be another one now under the same number: it takes the fresh object.
    for (const auto& sensor : std::as_const(fresh)) {
        const QString& identifier = sensor->uniqueIdentifier();
        if (!sensorDictionary_.contains(identifier) || dynamic_cast<const TEVBatterySensor*>(sensor.get()))
            sensorDictionary_.insert(identifier, freshByIdentifier.value(identifier));
    }
    const QStringList known = sensorDictionary_.keys();
    for (const QString& identifier : known) {
        if (!freshByIdentifier.contains(identifier)) {
            sensorDictionary_.remove(identifier);
            blockedSensorIDs_.remove(identifier);
        }
    }
    for (const auto& sensor : std::as_const(sensorDictionary_))
        sensor->resolveObjectDependenciesUsingSensorList(fresh);
    synchronizeHistoryBuffersWithSensors();
}

void TEVDataAcquisitionCore::simulateFailure()
{
    // Blocks like a hung call, timed by the shared clock so that tests can move it; the caller's wait runs
    // out meanwhile. Ending the thread here would skip every clean-up, so the call returns instead.
    const auto deadline = platform::monotonicNow() + std::chrono::seconds(60);
    logMessage(QStringLiteral("*** As requested, thread %1 is simulating a failure.").arg(threadAddress()));
    while (platform::monotonicNow() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    logMessage(QStringLiteral("*** As part of the simulation, thread %1 now carries on without a reply.")
                   .arg(threadAddress()));
}

// --- Long-term histories ------------------------------------------------------------------------------

void TEVDataAcquisitionCore::run()
{
    const auto name = platform::values::toString(userInfo_);
    if (!name || name->isEmpty())
        return;
    loadLongTermHistoryBuffers();
    synchronizeHistoryBuffersWithSensors();
    pushSMARTSettings();
    readjustHistoryTimer();
    readjustAutosaveTimer();
}

void TEVDataAcquisitionCore::stop()
{
    historyTimer_.invalidate();
    historyTimer_ = {};
    autosaveTimer_.invalidate();
    autosaveTimer_ = {};
}

void TEVDataAcquisitionCore::setLongTermHistoryUpdateInterval(double seconds)
{
    if (!(seconds >= 1.0) || !std::isfinite(seconds) || seconds == longTermUpdateInterval_)
        return;
    longTermUpdateInterval_ = seconds;
    // Cleared histories are made anew at the new step: slots of the old step would be read at the wrong times.
    for (auto it = historyBuffers_.begin(); it != historyBuffers_.end(); ++it) {
        if (auto history = TEVSensorHistory::create(LongTermHistoryValueCount, seconds))
            it.value() = std::move(history);
        else
            it.value()->discardAllValues();
    }
    // The capture thread refetches the (new) histories when the count moves.
    ++historyUpdateCount_;
    readjustHistoryTimer();
}

void TEVDataAcquisitionCore::setHistoryAutosaveTimeInterval(quint64 minutes)
{
    autosaveTimeInterval_ = minutes;
    readjustAutosaveTimer();
}

void TEVDataAcquisitionCore::readjustHistoryTimer()
{
    historyTimer_.invalidate();
    historyTimer_ = {};
    const auto loop = platform::RunLoop::current();
    if (!loop)
        return;
    historyTimer_ = loop->addTimer(platform::durationFromSeconds(longTermUpdateInterval_),
                                   [this] { updateLongTermHistory(); }, true);
}

void TEVDataAcquisitionCore::readjustAutosaveTimer()
{
    autosaveTimer_.invalidate();
    autosaveTimer_ = {};
    if (autosaveTimeInterval_ == 0)
        return;
    const auto loop = platform::RunLoop::current();
    if (!loop)
        return;
    autosaveTimer_ = loop->addTimer(platform::durationFromSeconds(double(autosaveTimeInterval_) * 60.0),
                                    [this] { saveLongTermHistoryBuffers(); }, true);
}

std::shared_ptr<TEVSensorHistory> TEVDataAcquisitionCore::longTermSensorHistoryWithIdentifier(const QString& identifier) const
{
    if (isRemote_ || identifier.isEmpty())
        return nullptr;
    return historyBuffers_.value(identifier);
}

void TEVDataAcquisitionCore::synchronizeHistoryBuffersWithSensors()
{
    for (auto it = sensorDictionary_.cbegin(); it != sensorDictionary_.cend(); ++it) {
        if (!historyBuffers_.contains(it.key())) {
            if (auto history = TEVSensorHistory::create(LongTermHistoryValueCount, longTermUpdateInterval_))
                historyBuffers_.insert(it.key(), std::move(history));
        }
    }
    TEVSensor::removeUnknownSensorEntriesFromDictionary(&historyBuffers_, &sensorDictionary_);
}

void TEVDataAcquisitionCore::updateLongTermHistory()
{
    const platform::MountTable::ReadingScope mountTable;
    for (auto it = sensorDictionary_.cbegin(); it != sensorDictionary_.cend(); ++it) {
        const auto history = historyBuffers_.value(it.key());
        if (!history)
            continue;
        history->setPresentRawValue(blockedSensorIDs_.contains(it.key()) ? -1 : it.value()->rawValue());
    }
    ++historyUpdateCount_;

    if (!sources_.mountedFileSystems)
        return;
    // A listing that failed tells nothing: comparing it would count every file system as unmounted.
    auto mounts = sources_.mountedFileSystems();
    if (!mounts)
        return;
    previousMounts_ = std::exchange(mountDictionary_, std::move(*mounts));
    if (mountStatusMayHaveCausedSensorChange())
        rescanForSensors();
}

bool TEVDataAcquisitionCore::mountStatusMayHaveCausedSensorChange() const
{
    for (auto it = previousMounts_.cbegin(); it != previousMounts_.cend(); ++it) {
        if (!mountDictionary_.contains(it.key()) && fileSystemCouldAffectSMARTSensor(&it.value()))
            return true;
    }
    for (auto it = mountDictionary_.cbegin(); it != mountDictionary_.cend(); ++it) {
        if (!previousMounts_.contains(it.key()) && fileSystemCouldAffectSMARTSensor(&it.value()))
            return true;
    }
    return false;
}

bool TEVDataAcquisitionCore::fileSystemCouldAffectSMARTSensor(const MountedFileSystem* fileSystem)
{
    if (!fileSystem)
        return false;
    static const QStringList fixedTypes{QStringLiteral("hfs"), QStringLiteral("msdos"), QStringLiteral("ntfs"),
                                        QStringLiteral("ufs")};
    if (fixedTypes.contains(fileSystem->fileSystemTypeName))
        return true;
    // A file system on a block device may sit on a drive that just came or went; loop, RAM and
    // compressed-RAM devices have no drive behind them.
    static const QRegularExpression virtualDevice(QStringLiteral("^/dev/(loop|ram|zram)[0-9]"));
    const QString& source = fileSystem->mountSourcePath;
    return source.startsWith(QLatin1String("/dev/")) && source.size() > 5 && !virtualDevice.match(source).hasMatch();
}

QString TEVDataAcquisitionCore::historyFilePath() const
{
    const auto name = platform::values::toString(userInfo_);
    // The name becomes one folder: nothing that could step out of Application Support.
    if (!name || name->isEmpty() || name->contains(QLatin1Char('/')) || *name == QLatin1String(".")
        || *name == QLatin1String(".."))
        return {};
    return platform::Paths::applicationSupportDirectory(*name) + TEVSensorHistoryFile::fileName();
}

std::unique_ptr<TEVSensorHistoryFile> TEVDataAcquisitionCore::historyFile() const
{
    if (isRemote_ || !machineInfo_)
        return nullptr;
    const QString path = historyFilePath();
    if (path.isNull())
        return nullptr;
    return std::make_unique<TEVSensorHistoryFile>(path);
}

namespace {

std::mutex g_historySaveFailureMutex;
QString g_historySaveFailure; // guarded by g_historySaveFailureMutex

void setHistorySaveFailure(const QString& failure)
{
    std::lock_guard lock(g_historySaveFailureMutex);
    g_historySaveFailure = failure;
}

} // namespace

QString TEVDataAcquisitionCore::lastHistorySaveFailure()
{
    std::lock_guard lock(g_historySaveFailureMutex);
    return g_historySaveFailure;
}

bool TEVDataAcquisitionCore::saveLongTermHistoryBuffers()
{
    const auto file = historyFile();
    if (!file) {
        setHistorySaveFailure(QStringLiteral("no file to save the sensor histories in"));
        return false;
    }
    const QString folder = QFileInfo(file->path()).absolutePath();
    if (!QDir().mkpath(folder)) {
        setHistorySaveFailure(QStringLiteral("cannot create the folder %1").arg(folder));
        logMessage(QStringLiteral("Could not create the folder %1 for the sensor histories").arg(folder));
        return false;
    }
    const auto written = file->saveEntry(machineInfo_->systemSerialNumber(), historyBuffers_);
    setHistorySaveFailure(written ? QString() : written.error);
    if (!written)
        logMessage(QStringLiteral("Could not save the sensor histories: %1").arg(written.error));
    return bool(written);
}

bool TEVDataAcquisitionCore::loadLongTermHistoryBuffers()
{
    const auto file = historyFile();
    if (!file)
        return false;
    historyBuffers_.clear();
    file->removeStaleTemporaryFiles();
    const auto read = file->read();
    using Status = TEVSensorHistoryFile::ReadResult::Status;
    if (read.status != Status::Missing && read.status != Status::Read)
        logMessage(QStringLiteral("Could not read all of the sensor history file %1: %2").arg(file->path(), read.error));
    const auto entry = read.entries.constFind(machineInfo_->systemSerialNumber());
    if (entry != read.entries.cend()) {
        for (auto it = entry->cbegin(); it != entry->cend(); ++it)
            historyBuffers_.insert(it.key(), it.value());
    }
    ++historyUpdateCount_;
    return true;
}
