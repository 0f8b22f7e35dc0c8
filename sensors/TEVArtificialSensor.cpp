#include "sensors/TEVArtificialSensor.h"

#include "platform/foundation/Bundle.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "platform/host/FileSystemSpaceReader.h"
#include "platform/host/ProcessCount.h"
#include "sensors/SensorArchiving.h"
#include "sensors/TEVLocalCPULoadProbe.h"
#include "sensors/TEVLocalMemoryProbe.h"
#include "sensors/TEVLocalNetworkProbe.h"
#include "sensors/TEVLocalSMARTProbe.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSMARTStorageDevice.h"
#include "sensors/TEVSensorValueConverter.h"
#include "sensors/TEVSoftwareRAIDDevice.h"

#include <QRegularExpression>

#include <cmath>
#include <limits>
#include <mutex>

namespace {

using namespace platform;

constexpr auto kClassName = "TEVArtificialSensor";

KV_REGISTER_CLASS(QString::fromLatin1(kClassName), QStringLiteral("TEVSensor"), 0,
    [](Coder& coder) -> ObjectRef { return TEVArtificialSensor::createWithCoder(coder); });

const QString kSeparator = QStringLiteral("!TEV!");

enum class Scale { Percent, Megabyte, Plain };

struct KindRow {
    const char* typeKey;
    const char* identifierPart; // the "%@" word of the identifier, where the form has one
    const char* location;       // localisation key
    qint64 quantity;
    const char* kindName;       // localisation key
    Scale scale;
    const char* unit;
};

// Kinds 1 to 27.
constexpr KindRow kKinds[] = {
    {"CPULoad", nullptr, "Processor Load %c", 9, "Processor load", Scale::Percent, "%"},
    {"DiskCapacity", "capacity", "Disk Usage '%@'", 9, "Disk usage", Scale::Percent, "%"},
    {"DiskFree", "free", "Free Disk Space '%@'", 10, "Free space on disk", Scale::Megabyte, "MB"},
    {"DiskUsed", "used", "Used Disk Space '%@'", 10, "Used space on disk", Scale::Megabyte, "MB"},
    {"MemoryFree", "free", "Free Memory", 10, "Free memory", Scale::Megabyte, "MB"},
    {"MemoryActive", "active", "Used Active Memory", 10, "Used active memory", Scale::Megabyte, "MB"},
    {"MemoryInactive", "inactive", "Used Inactive Memory", 10, "Used inactive memory", Scale::Megabyte, "MB"},
    {"MemoryWired", "wired", "Used Non-pageable Memory", 10, "Used non-pageable memory", Scale::Megabyte, "MB"},
    {"MemoryPageIns", "pageins", "Number of Page-ins", 12, "Number of current page-ins", Scale::Plain, ""},
    {"MemoryPageOuts", "pageouts", "Number of Page-outs", 12, "Number of current page-outs", Scale::Plain, ""},
    {"MemorySwapSize", "swapsize", "Allocated Swap Size", 10, "Allocated swap space", Scale::Megabyte, "MB"},
    {"MemorySwapUsed", "swapused", "Used Swap Size", 10, "Swap memory in use", Scale::Megabyte, "MB"},
    {"SMARTStatus", nullptr, "S.M.A.R.T. Status %@ %@", 11, "S.M.A.R.T. drive verification status", Scale::Plain, ""},
    {"RAIDStatus", nullptr, "RAID Status %@", 11, "RAID operation status", Scale::Plain, ""},
    {"Power", nullptr, "Power (%@ x %@)", 4, "Electrical power", Scale::Percent, "W"},
    {"RemainingBattery", nullptr, "Remaining Capacity Battery %lld", 5, "Remaining battery capacity", Scale::Percent, "%"},
    {"TotalCPULoad", nullptr, "Processor Load (average)", 9, "Total processor load", Scale::Percent, "%"},
    {"NumberOfProcesses", nullptr, "Number of Processes", 12, "Number of processes", Scale::Plain, ""},
    {"NetOutPackages", "opkts", "Network Interface Outgoing Packets", 12, "Network outgoing packets", Scale::Megabyte, ""},
    {"NetInPackages", "ipkts", "Network Interface Incoming Packets", 12, "Network incoming packets", Scale::Megabyte, ""},
    {"NetOutBytes", "obytes", "Network Interface Outgoing Bytes", 12, "Network outgoing bytes", Scale::Megabyte, "KB"},
    {"NetInBytes", "ibytes", "Network Interface Incoming Bytes", 12, "Network incoming bytes", Scale::Megabyte, "KB"},
    {"NetOutErrors", "oerrs", "Network Interface Output Errors", 12, "Network output errors", Scale::Megabyte, ""},
    {"NetInErrors", "ierrs", "Network Interface Input Errors", 12, "Network input errors", Scale::Megabyte, ""},
    {"NetCollisions", "colls", "Network Collisions", 12, "Network collisions", Scale::Megabyte, ""},
    {"NetOutBytesTotal", "total-obytes", "Network Interface Outgoing Bytes (Total)", 10, "Network outgoing bytes (total)", Scale::Megabyte, "MB"},
    {"NetInBytesTotal", "total-ibytes", "Network Interface Incoming Bytes (Total)", 10, "Network incoming bytes (total)", Scale::Megabyte, "MB"},
};

const KindRow* rowOf(qint64 kind)
{
    return kind >= 1 && kind <= TEVArtificialSensor::LastKind ? &kKinds[kind - 1] : nullptr;
}

bool isNetworkKind(qint64 kind)
{
    return kind >= TEVArtificialSensor::NetOutPackages && kind <= TEVArtificialSensor::NetInBytesTotal;
}

QString localized(const char* key)
{
    const QString text = QString::fromUtf8(key);
    const auto bundle = Bundle::main();
    return bundle ? bundle->localizedString(text, text) : text;
}

// Fills "%c", "%lld" and "%@" of the localised key in order. A translation whose conversions differ from
// the key's would put arguments in the wrong places: the key is used instead.
QString formatLocalized(const char* key, const QStringList& arguments)
{
    static const QRegularExpression pattern(QStringLiteral("%(%|c|lld|@)"));
    const auto conversionsOf = [](const QString& format) {
        QStringList found;
        for (auto it = pattern.globalMatch(format); it.hasNext();)
            found.append(it.next().captured(1));
        return found;
    };
    const QString english = QString::fromUtf8(key);
    QString format = localized(key);
    if (conversionsOf(format) != conversionsOf(english))
        format = english;
    QString out;
    qsizetype position = 0;
    qsizetype next = 0;
    for (auto it = pattern.globalMatch(format); it.hasNext();) {
        const auto match = it.next();
        out.append(QStringView(format).mid(position, match.capturedStart() - position));
        out.append(match.captured(1) == QLatin1String("%") ? QStringLiteral("%") : arguments.value(next++));
        position = match.capturedEnd();
    }
    out.append(QStringView(format).mid(position));
    return out;
}

// Truncates toward zero into the signed 32-bit range the fixed-point raw values live in; beyond it the
// value saturates rather than wrapping, and a value that is no number gives no value.
qint64 toRaw(double value)
{
    const double truncated = std::trunc(value);
    if (!std::isfinite(truncated))
        return std::isnan(truncated) ? -1 : (truncated > 0 ? std::numeric_limits<qint32>::max() : std::numeric_limits<qint32>::min());
    if (truncated >= double(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    if (truncated <= double(std::numeric_limits<qint32>::min()))
        return std::numeric_limits<qint32>::min();
    return qint64(qint32(truncated));
}

std::mutex listMutex;
QList<std::shared_ptr<TEVArtificialSensor>>& sensorList()
{
    static QList<std::shared_ptr<TEVArtificialSensor>> list;
    return list;
}

constexpr double kMebibyte = 1024.0 * 1024.0;

} // namespace

QString processorLetters(qint64 index)
{
    if (index < 0)
        return QStringLiteral("?");
    QString letters;
    quint64 n = quint64(index);
    do {
        letters.prepend(QChar(u'A' + char16_t(n % 26)));
        n = n / 26;
    } while (n-- > 0);
    return letters;
}

// --- Class list ---------------------------------------------------------------------------------

void TEVArtificialSensor::load()
{
    TEVSensor::registerSensorClass({QString::fromLatin1(kClassName), [] { return allSensors(); }});
}

TEVSensorList TEVArtificialSensor::allSensors()
{
    std::lock_guard lock(listMutex);
    TEVSensorList result;
    for (const auto& sensor : sensorList())
        result.append(sensor);
    return result;
}

QList<std::shared_ptr<TEVArtificialSensor>> TEVArtificialSensor::allArtificialSensors()
{
    std::lock_guard lock(listMutex);
    return sensorList();
}

bool TEVArtificialSensor::addArtificialSensor(std::shared_ptr<TEVArtificialSensor> sensor)
{
    if (!sensor)
        return false;
    std::lock_guard lock(listMutex);
    for (const auto& listed : sensorList()) {
        if (listed->isEqual(sensor.get()))
            return false;
    }
    sensorList().append(std::move(sensor));
    return true;
}

void TEVArtificialSensor::removeArtificialSensorAtIndex(quint64 index)
{
    std::lock_guard lock(listMutex);
    if (index < quint64(sensorList().size()))
        sensorList().removeAt(qsizetype(index));
}

void TEVArtificialSensor::removeArtificialSensor(const TEVArtificialSensor* sensor)
{
    if (!sensor)
        return;
    std::lock_guard lock(listMutex);
    sensorList().removeIf([sensor](const auto& listed) { return listed.get() == sensor; });
}

void TEVArtificialSensor::setArtificialSensorsUsingPreferenceDictionaries(const std::optional<QVariantList>& dictionaries)
{
    if (!dictionaries)
        return;
    // Built outside the lock: binding reads the host.
    QList<std::shared_ptr<TEVArtificialSensor>> built;
    for (const QVariant& entry : *dictionaries) {
        if (auto sensor = createWithPreferenceDictionary(values::toDictionary(entry)))
            built.append(std::move(sensor));
    }
    std::lock_guard lock(listMutex);
    sensorList() = std::move(built);
}

QVariantList TEVArtificialSensor::preferenceDictionariesForAllSensors()
{
    QVariantList result;
    for (const auto& sensor : allArtificialSensors())
        result.append(sensor->preferenceDictionary());
    return result;
}

// --- Construction -------------------------------------------------------------------------------

TEVArtificialSensor::TEVArtificialSensor()
{
    setSensorName(QStringLiteral("Software"));
    setSensorType(2);
    setPrecision(0.0001, 0.0001);
}

std::shared_ptr<TEVArtificialSensor> TEVArtificialSensor::make(qint64 kind, const QString& identifier,
                                                               const QString& location, qint64 quantity, qint64 index,
                                                               const QString& source1, const QString& source2)
{
    auto sensor = std::make_shared<TEVArtificialSensor>();
    sensor->setUniqueIdentifier(identifier);
    sensor->setLocationIdentifier(location);
    sensor->setQuantityType(quantity);
    sensor->kind_ = kind;
    sensor->index_ = index;
    sensor->source1_ = source1;
    sensor->source2_ = source2;
    sensor->resolveObjectDependenciesUsingSensorList(nullptr);
    return sensor;
}

std::shared_ptr<TEVArtificialSensor> TEVArtificialSensor::createAsLoadSensorForCPUAtIndex(qint64 index)
{
    const auto machine = TEVMachineInfo::sharedMachineInfo();
    if (index < 0 || !machine || quint64(index) >= machine->processorCount())
        return nullptr;
    return make(CPULoad, QStringLiteral("artificial.cpuload.%1").arg(index),
                formatLocalized(kKinds[0].location, {processorLetters(index)}), kKinds[0].quantity, index);
}

std::shared_ptr<TEVArtificialSensor> TEVArtificialSensor::createAsTotalCPULoadSensor()
{
    const KindRow& row = kKinds[TotalCPULoad - 1];
    return make(TotalCPULoad, QStringLiteral("artificial.cpuload.average"), localized(row.location), row.quantity);
}

std::shared_ptr<TEVArtificialSensor> TEVArtificialSensor::createAsProcessCountSensor()
{
    const KindRow& row = kKinds[NumberOfProcesses - 1];
    return make(NumberOfProcesses, QStringLiteral("artificial.os.processcount"), localized(row.location), row.quantity);
}

std::shared_ptr<TEVArtificialSensor> TEVArtificialSensor::createAsStorageSensorForPath(const QString& path, qint64 kind)
{
    if (kind < DiskCapacity || kind > DiskUsed || path.isEmpty())
        return nullptr;
    const KindRow& row = kKinds[kind - 1];
    return make(kind, QStringLiteral("artificial.disk-") + QLatin1String(row.identifierPart) + QLatin1Char('.') + path,
                formatLocalized(row.location, {path}), row.quantity, -1, path);
}

std::shared_ptr<TEVArtificialSensor> TEVArtificialSensor::createAsMemorySensorOfType(qint64 kind)
{
    if (kind < MemoryFree || kind > MemorySwapUsed)
        return nullptr;
    const KindRow& row = kKinds[kind - 1];
    return make(kind, QStringLiteral("artificial.memory.") + QLatin1String(row.identifierPart), localized(row.location),
                row.quantity);
}

std::shared_ptr<TEVArtificialSensor> TEVArtificialSensor::createAsSMARTStatusSensorForProductName(const QString& productName,
                                                                                                 const QString& serialNumber)
{
    if (productName.isEmpty() || serialNumber.isEmpty())
        return nullptr;
    const KindRow& row = kKinds[SMARTStatus - 1];
    return make(SMARTStatus, QStringLiteral("artificial.smartstatus.") + productName + QLatin1Char('-') + serialNumber,
                formatLocalized(row.location, {productName, serialNumber}), row.quantity, -1, productName, serialNumber);
}

std::shared_ptr<TEVArtificialSensor> TEVArtificialSensor::createAsRAIDStatusSensorForUUID(const QString& identifier)
{
    if (identifier.isEmpty())
        return nullptr;
    const KindRow& row = kKinds[RAIDStatus - 1];
    return make(RAIDStatus, QStringLiteral("artificial.raidstatus.") + identifier, formatLocalized(row.location, {identifier}),
                row.quantity, -1, identifier);
}

std::shared_ptr<TEVArtificialSensor> TEVArtificialSensor::createAsPowerSensorForVoltageSensorNamed(
    const QString& voltageIdentifier, const QString& voltageDescription, const QString& currentIdentifier,
    const QString& currentDescription)
{
    if (voltageIdentifier.isEmpty() || voltageDescription.isEmpty() || currentIdentifier.isEmpty()
        || currentDescription.isEmpty())
        return nullptr;
    const KindRow& row = kKinds[Power - 1];
    return make(Power, QStringLiteral("artificial.power.") + voltageIdentifier + QLatin1Char('-') + currentIdentifier,
                formatLocalized(row.location, {voltageDescription, currentDescription}), row.quantity, -1,
                sensorSpecifier(voltageIdentifier, voltageDescription), sensorSpecifier(currentIdentifier, currentDescription));
}

std::shared_ptr<TEVArtificialSensor> TEVArtificialSensor::createAsBatterySensorForIndex(qint64 index)
{
    if (index < 0)
        return nullptr;
    const KindRow& row = kKinds[RemainingBattery - 1];
    return make(RemainingBattery, QStringLiteral("artificial.capacity.%1").arg(index),
                formatLocalized(row.location, {QString::number(index + 1)}), row.quantity, index);
}

std::shared_ptr<TEVArtificialSensor> TEVArtificialSensor::createAsNetworkInterfaceSensorWithType(qint64 kind, const QString& bsdName,
                                                                                                const QString& description)
{
    if (!isNetworkKind(kind) || bsdName.isEmpty() || description.isEmpty())
        return nullptr;
    const KindRow& row = kKinds[kind - 1];
    return make(kind, QStringLiteral("artificial.network.") + QLatin1String(row.identifierPart) + QLatin1Char('.') + bsdName,
                localized(row.location) + formatLocalized(" (%@)", {description}), row.quantity, -1, bsdName, description);
}

std::shared_ptr<TEVArtificialSensor> TEVArtificialSensor::createWithPreferenceDictionary(const std::optional<QVariantMap>& dictionary)
{
    if (!dictionary)
        return nullptr;
    const auto type = values::toString(dictionary->value(QStringLiteral("Type")));
    if (!type)
        return nullptr;
    const qint64 kind = kindForTypeKey(*type);
    // The whole index is kept: a processor beyond 127 must come back as itself.
    const qint64 index = values::toSigned(dictionary->value(QStringLiteral("Index"))).value_or(0);
    const QString source1 = values::toString(dictionary->value(QStringLiteral("Source1"))).value_or(QString());
    const QString source2 = values::toString(dictionary->value(QStringLiteral("Source2"))).value_or(QString());
    switch (kind) {
    case CPULoad:
        return createAsLoadSensorForCPUAtIndex(index);
    case DiskCapacity:
    case DiskFree:
    case DiskUsed:
        return createAsStorageSensorForPath(source1, kind);
    case SMARTStatus:
        return createAsSMARTStatusSensorForProductName(source1, source2);
    case RAIDStatus:
        return createAsRAIDStatusSensorForUUID(source1);
    case Power: {
        QString voltageID, voltageText, currentID, currentText;
        if (!parseSensorSpecifier(source1, &voltageID, &voltageText) || !parseSensorSpecifier(source2, &currentID, &currentText))
            return nullptr;
        // A specifier may carry an empty identifier; the power initialiser refuses it like any empty text.
        return createAsPowerSensorForVoltageSensorNamed(voltageID, voltageText, currentID, currentText);
    }
    case RemainingBattery:
        return createAsBatterySensorForIndex(index);
    case TotalCPULoad:
        return createAsTotalCPULoadSensor();
    case NumberOfProcesses:
        return createAsProcessCountSensor();
    default:
        if (kind >= MemoryFree && kind <= MemorySwapUsed)
            return createAsMemorySensorOfType(kind);
        if (isNetworkKind(kind))
            return createAsNetworkInterfaceSensorWithType(kind, source1, source2);
        return nullptr;
    }
}

QString TEVArtificialSensor::sensorSpecifier(const QString& identifier, const QString& description)
{
    if (identifier.isEmpty() || description.isEmpty())
        return {};
    return identifier + kSeparator + description;
}

bool TEVArtificialSensor::parseSensorSpecifier(const QString& specifier, QString* identifier, QString* description)
{
    const qsizetype at = specifier.indexOf(kSeparator);
    if (at < 0 || at + kSeparator.size() >= specifier.size())
        return false;
    if (identifier)
        *identifier = specifier.left(at);
    if (description)
        *description = specifier.mid(at + kSeparator.size());
    return true;
}

QString TEVArtificialSensor::typeKeyForKind(qint64 kind)
{
    const KindRow* row = rowOf(kind);
    return row ? QString::fromLatin1(row->typeKey) : QString();
}

qint64 TEVArtificialSensor::kindForTypeKey(const QString& key)
{
    for (qint64 kind = 1; kind <= LastKind; ++kind) {
        if (key == QLatin1String(kKinds[kind - 1].typeKey))
            return kind;
    }
    return None;
}

// --- Instance -----------------------------------------------------------------------------------

QString TEVArtificialSensor::localizedSensorType() const
{
    if (kind_ == None)
        return QStringLiteral("");
    const KindRow* row = rowOf(kind_);
    return row ? localized(row->kindName) : QString();
}

QString TEVArtificialSensor::localizedDescriptionForAssociatedObjectAtIndex(quint64 index) const
{
    if (index > 1)
        return {};
    if (kind_ == CPULoad && index == 0)
        return formatLocalized("CPU %lld", {QString::number(index_ + 1)});
    if (kind_ == RemainingBattery && index == 0)
        return formatLocalized("Battery %lld", {QString::number(index_ + 1)});
    if (kind_ >= DiskCapacity && kind_ <= DiskUsed)
        return index == 0 ? source1_ : QStringLiteral("");
    if (kind_ == SMARTStatus)
        return index == 0 ? source1_ : source2_;
    if (kind_ == RAIDStatus) {
        if (!raid_)
            return {};
        return index == 0 ? raid_->name() : raid_->identifier();
    }
    if (kind_ == Power) {
        QString description;
        return parseSensorSpecifier(index == 0 ? source1_ : source2_, nullptr, &description) ? description : QString();
    }
    if (isNetworkKind(kind_))
        return index == 0 ? source2_ : source1_;
    return QStringLiteral("");
}

void TEVArtificialSensor::resolveObjectDependenciesUsingSensorList(const TEVSensorList* sensors)
{
    // A probe whose kind changed must not keep reading the sources of its old kind.
    cpuLoad_.reset();
    memory_.reset();
    network_.reset();
    auto boundDrive = std::move(smart_);
    raid_.reset();
    voltage_.reset();
    current_.reset();
    battery_.reset();
    if (kind_ > LastKind) {
        platform::log(QStringLiteral("%1: Internal error: cannot resolve dependencies for sensor type %2\n").arg(className()).arg(kind_));
        return;
    }
    switch (kind_) {
    case None:
    case CPULoad:
    case TotalCPULoad:
        cpuLoad_ = TEVLocalCPULoadProbe::sharedCPULoadProbe();
        break;
    case SMARTStatus: {
        // A drive still attached under the same model and serial number keeps its probe: binding it anew
        // would wake it (identify and status reads) whatever the drive saver says.
        if (boundDrive && boundDrive->smartDevice()->productName() == source1_
            && boundDrive->smartDevice()->serialNumber() == source2_ && boundDrive->smartDevice()->isStillAttached()) {
            smart_ = std::move(boundDrive);
            break;
        }
        for (const auto& device : TEVSMARTStorageDevice::allSMARTDevicesRestrictToTemperatureSupport(false)) {
            if (device && device->productName() == source1_ && device->serialNumber() == source2_) {
                smart_ = TEVLocalSMARTProbe::createForSMARTStorageDevice(device);
                break;
            }
        }
        break;
    }
    case RAIDStatus:
        raid_ = TEVSoftwareRAIDDevice::softwareRAIDDeviceWithIdentifier(source1_);
        break;
    case Power: {
        QString voltageID, currentID;
        if (!sensors || !parseSensorSpecifier(source1_, &voltageID, nullptr) || !parseSensorSpecifier(source2_, &currentID, nullptr))
            break;
        std::shared_ptr<TEVSensor> voltage, current;
        for (const auto& sensor : *sensors) {
            if (!sensor || sensor.get() == this)
                continue;
            if (sensor->uniqueIdentifier() == voltageID)
                voltage = sensor;
            else if (sensor->uniqueIdentifier() == currentID)
                current = sensor;
        }
        if (!voltage || !current)
            voltage.reset(), current.reset();
        voltage_ = std::move(voltage);
        current_ = std::move(current);
        break;
    }
    case RemainingBattery: {
        // The pack of that number, as the battery sensors number them.
        for (const auto& [number, battery] : TEVBatteryInfo::numberedBatteries()) {
            if (index_ >= 0 && number == quint64(index_))
                battery_ = battery;
        }
        break;
    }
    default:
        // Swap figures come from the memory sampler's last sample rather than a meminfo read per probe.
        if (kind_ >= MemoryFree && kind_ <= MemorySwapUsed)
            memory_ = TEVLocalMemoryProbe::sharedMemoryProbe();
        else if (isNetworkKind(kind_))
            network_ = TEVLocalNetworkProbe::sharedNetworkProbe();
        break;
    }
}

bool TEVArtificialSensor::isBound() const
{
    return cpuLoad_ || memory_ || network_ || smart_ || raid_ || (voltage_ && current_) || battery_;
}

QVariantMap TEVArtificialSensor::preferenceDictionary() const
{
    const KindRow* row = rowOf(kind_);
    if (!row)
        return {};
    QVariantMap dictionary{{QStringLiteral("Type"), QString::fromLatin1(row->typeKey)},
                           {QStringLiteral("Index"), values::fromSigned(index_)}};
    if (!source1_.isNull())
        dictionary.insert(QStringLiteral("Source1"), source1_);
    if (!source2_.isNull())
        dictionary.insert(QStringLiteral("Source2"), source2_);
    return dictionary;
}

double TEVArtificialSensor::computedValue(bool* noValue) const
{
    *noValue = false;
    // A network file system is read off this thread: while its server does not answer there is no value.
    bool waiting = false;
    const auto space = [this, &waiting]() {
        auto read = FileSystemSpaceReader::shared()->read(*HostRoot::current(), source1_);
        waiting = read.waiting;
        return read.space;
    };
    // A vanished interface reads 0; a change not known yet (first sample, counter reset) reads as no value.
    const auto network = [this](quint64 statistic, bool accumulative, double divisor = 1.0) -> std::optional<double> {
        if (!network_ || !network_->hasInterface(source1_))
            return 0.0;
        const auto value = network_->statisticsValueAtIndex(statistic, source1_, accumulative);
        return value ? std::optional<double>(double(*value) / divisor) : std::nullopt;
    };
    std::optional<double> result;
    switch (kind_) {
    case CPULoad:
        result = cpuLoad_ && index_ >= 0 ? cpuLoad_->cpuLoadForCPUAtIndex(quint64(index_)) : 0.0;
        break;
    case TotalCPULoad:
        result = cpuLoad_ ? cpuLoad_->totalCPULoad() : 0.0;
        break;
    case DiskCapacity: {
        const auto s = space();
        if (waiting)
            break;
        if (!s)
            result = 0.0;
        else
            result = s->percentageUsed();
        break;
    }
    case DiskFree: {
        const auto s = space();
        if (!waiting)
            result = s ? double(s->availableBytes()) / kMebibyte : 0.0;
        break;
    }
    case DiskUsed: {
        const auto s = space();
        if (!waiting)
            result = s ? double(s->usedBytes()) / kMebibyte : 0.0;
        break;
    }
    case MemoryFree: result = memory_ ? double(memory_->freeMemory()) / kMebibyte : 0.0; break;
    case MemoryActive: result = memory_ ? double(memory_->activeMemory()) / kMebibyte : 0.0; break;
    case MemoryInactive: result = memory_ ? double(memory_->inactiveMemory()) / kMebibyte : 0.0; break;
    case MemoryWired: result = memory_ ? double(memory_->wiredMemory()) / kMebibyte : 0.0; break;
    case MemoryPageIns: result = memory_ ? double(memory_->currentPageIns()) : 0.0; break;
    case MemoryPageOuts: result = memory_ ? double(memory_->currentPageOuts()) : 0.0; break;
    case MemorySwapSize: result = memory_ ? double(memory_->swapTotal()) / kMebibyte : 0.0; break;
    case MemorySwapUsed: result = memory_ ? double(memory_->swapUsed()) / kMebibyte : 0.0; break;
    case SMARTStatus: {
        const qint64 status = smart_ ? smart_->smartVerificationStatus() : TEVSMARTStorageDevice::StatusUnknown;
        if (status != TEVSMARTStorageDevice::StatusUnknown)
            result = status == TEVSMARTStorageDevice::StatusOK ? 1.0 : 0.0;
        break;
    }
    case RAIDStatus:
        result = raid_ && raid_->isOnline() ? 1.0 : 0.0;
        break;
    case Power: {
        if (!voltage_ || !current_)
            break;
        const qint64 voltageRaw = voltage_->rawValue();
        const qint64 currentRaw = current_->rawValue();
        if (voltageRaw == -1 || currentRaw == -1)
            break;
        double volts = voltage_->valueConverter()->valueForRawSensorValue(voltageRaw);
        double amperes = current_->valueConverter()->valueForRawSensorValue(currentRaw);
        if (voltage_->unit() == QLatin1String("mV"))
            volts /= 1000.0;
        if (current_->unit() == QLatin1String("mA"))
            amperes /= 1000.0;
        result = volts * amperes;
        break;
    }
    case RemainingBattery: {
        // No pack of that number is no reading: 0 % would look like an empty battery and raise its alerts.
        if (!battery_)
            break;
        // A capacity that is missing or negative (battery pulled, a failed read) is no reading.
        const auto battery = battery_->snapshot();
        const double total = battery->totalCapacity();
        const double current = battery->currentCapacity();
        if (total >= 0.0 && current >= 0.0)
            result = total != 0.0 ? current / total * 100.0 : 0.0;
        break;
    }
    case NumberOfProcesses:
        result = double(ProcessCount::read(*HostRoot::current()).value_or(0));
        break;
    case NetOutPackages: result = network(TEVLocalNetworkProbe::OutputPackets, false); break;
    case NetInPackages: result = network(TEVLocalNetworkProbe::InputPackets, false); break;
    case NetOutBytes: result = network(TEVLocalNetworkProbe::OutputBytes, false, 1024.0); break;
    case NetInBytes: result = network(TEVLocalNetworkProbe::InputBytes, false, 1024.0); break;
    case NetOutErrors: result = network(TEVLocalNetworkProbe::OutputErrors, false); break;
    case NetInErrors: result = network(TEVLocalNetworkProbe::InputErrors, false); break;
    case NetCollisions: result = network(TEVLocalNetworkProbe::Collisions, false); break;
    case NetOutBytesTotal: result = network(TEVLocalNetworkProbe::OutputBytes, true, kMebibyte); break;
    case NetInBytesTotal: result = network(TEVLocalNetworkProbe::InputBytes, true, kMebibyte); break;
    default:
        break;
    }
    if (!result) {
        *noValue = true;
        return 0.0;
    }
    return *result;
}

qint64 TEVArtificialSensor::rawValue() const
{
    const KindRow* row = rowOf(kind_);
    if (!row)
        return TEVSensor::rawValue();
    bool noValue = false;
    const double value = computedValue(&noValue);
    if (noValue)
        return -1;
    switch (row->scale) {
    case Scale::Percent: return toRaw(value * 65536.0);
    case Scale::Megabyte: return toRaw(value * 32.0);
    case Scale::Plain: break;
    }
    // Counts: exact integers well inside 2^53.
    if (!std::isfinite(value))
        return -1;
    return value >= 9.2e18 ? std::numeric_limits<qint64>::max() : qint64(value);
}

QString TEVArtificialSensor::unit() const
{
    const KindRow* row = rowOf(kind_);
    return row ? QString::fromLatin1(row->unit) : TEVSensor::unit();
}

std::shared_ptr<TEVSensorValueConverter> TEVArtificialSensor::valueConverter() const
{
    const KindRow* row = rowOf(kind_);
    if (!row || row->scale == Scale::Plain)
        return TEVSensor::valueConverter();
    auto converter = std::make_shared<TEVSensorValueConverter>();
    converter->setConversionFunctionType(TEVSensorValueConverter::LinearFactor);
    converter->setLinearFactor(row->scale == Scale::Percent ? 1.0 / 65536.0 : 1.0 / 32.0);
    return converter;
}

std::shared_ptr<TEVSensor> TEVArtificialSensor::copy() const
{
    return std::make_shared<TEVArtificialSensor>(*this);
}

QString TEVArtificialSensor::description() const
{
    QString text = TEVSensor::description();
    text.chop(text.endsWith(QLatin1Char('\n')) ? 1 : 0);
    const auto shown = [](const QString& s) { return s.isNull() ? QStringLiteral("(null)") : s; };
    return text + QStringLiteral(" - artificial sensor type ") + QString::number(kind_) + QStringLiteral(" index ")
         + QString::number(index_) + QStringLiteral(" source 0: '") + shown(source1_) + QStringLiteral("' source 1: '")
         + shown(source2_) + QStringLiteral("'\n");
}

void TEVArtificialSensor::encodeWithCoder(Coder& coder) const
{
    TEVSensor::encodeWithCoder(coder);
    coder.encodeValueOfObjCType("q", &kind_);
    // The format has one signed byte for the index; readers take the exact index from the identifier.
    const qint8 index = qint8(quint8(quint64(index_) & 0xFF));
    coder.encodeValueOfObjCType("c", &index);
    coder.encodeObject(source1_.isNull() ? QVariant() : values::fromString(source1_));
    coder.encodeObject(source2_.isNull() ? QVariant() : values::fromString(source2_));
}

std::shared_ptr<TEVArtificialSensor> TEVArtificialSensor::createWithCoder(Coder& coder)
{
    const auto base = TEVSensor::createWithCoder(coder);
    if (!base)
        return nullptr;
    std::shared_ptr<TEVArtificialSensor> sensor(new TEVArtificialSensor(*base));
    qint8 index = 0;
    if (!coder.decodeValueOfObjCType("q", &sensor->kind_) || !coder.decodeValueOfObjCType("c", &index)) {
        coder.failWithReason(QStringLiteral("TEVArtificialSensor: truncated archive"));
        return nullptr;
    }
    sensor->index_ = index;
    if (const QString failure = decodeArchivedStrings(coder, {&sensor->source1_, &sensor->source2_}); !failure.isNull()) {
        coder.failWithReason(QStringLiteral("TEVArtificialSensor: ") + failure);
        return nullptr;
    }
    // "artificial.cpuload.<n>" and "artificial.capacity.<n>" hold the whole index.
    if (sensor->kind_ == CPULoad || sensor->kind_ == RemainingBattery) {
        bool ok = false;
        const qint64 exact = sensor->uniqueIdentifier().section(QLatin1Char('.'), 2).toLongLong(&ok);
        if (ok && qint8(quint8(quint64(exact) & 0xFF)) == index)
            sensor->index_ = exact;
    }
    sensor->resolveObjectDependenciesUsingSensorList(nullptr);
    return sensor;
}
