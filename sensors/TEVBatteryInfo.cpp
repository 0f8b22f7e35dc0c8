#include "sensors/TEVBatteryInfo.h"

#include "framework/CDP.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVSmartBatteryInfo.h"

#include <QChar>
#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <atomic>
#include <cmath>
#include <mutex>

namespace values = platform::values;

namespace {

std::atomic<bool> absoluteCurrents{false};

struct Flag {
    QString key;
    const char* text;
};

const QList<Flag>& flagTable()
{
    static const QList<Flag> table = {
        {QStringLiteral("AC Adapter Connected"), "AC adapter connected"},
        {QStringLiteral("Charging"), "charging"},
        {QStringLiteral("Installed"), "installed"},
        {QStringLiteral("UPS Installed"), "UPS installed"},
        {QStringLiteral("Warning State"), "in warning state"},
        {QStringLiteral("Depleted"), "depleted"},
        {QStringLiteral("Cannot Charge"), "cannot charge"},
        {QStringLiteral("Raw Low"), "low power"},
        {QStringLiteral("Force Low Speed"), "enforcing low speed"},
        {QStringLiteral("Clamshell Closed"), "lid is closed"},
        {QStringLiteral("Clamshell on Wake"), "maintain clamshell state"},
    };
    return table;
}

} // namespace

TEVBatteryInfo::TEVBatteryInfo(std::shared_ptr<TEVIORegistryEntry> entry) : entry_(std::move(entry))
{
    if (!entry_)
        entry_ = std::make_shared<TEVIORegistryEntry>();
}

TEVBatteryInfo::BatteryList TEVBatteryInfo::allBatteries(TEVIORegistryEntry::Registry registry)
{
    return TEVSmartBatteryInfo::allBatteries(std::move(registry));
}

namespace {

// The numbers of the packs of the previous listing, by pack key, and the file that keeps them across starts.
struct Numbering {
    std::mutex mutex;
    QHash<QString, quint64> previous;
    QString storePath;
    bool writes = true;
    bool loaded = true;
};

Numbering& numbering()
{
    static Numbering state;
    return state;
}

QHash<QString, quint64> readNumbers(const QString& path)
{
    QHash<QString, quint64> numbers;
    // Small: a few packs. Anything else is no store of ours and starts the numbering afresh.
    const auto file = platform::Paths::readRegularFile(path, 64 * 1024);
    if (file.status != platform::FileReadResult::Status::Read)
        return numbers;
    const auto stored = values::toDictionary(platform::readPropertyList(file.bytes).value);
    if (!stored)
        return numbers;
    QSet<quint64> taken;
    for (auto it = stored->cbegin(); it != stored->cend(); ++it) {
        const auto number = values::toSigned(it.value());
        if (number && *number >= 0 && *number < 1024 && !taken.contains(quint64(*number))) {
            numbers.insert(it.key(), quint64(*number));
            taken.insert(quint64(*number));
        }
    }
    return numbers;
}

void writeNumbers(const QString& path, const QHash<QString, quint64>& numbers)
{
    QVariantMap stored;
    for (auto it = numbers.cbegin(); it != numbers.cend(); ++it)
        stored.insert(it.key(), values::fromSigned(qint64(it.value())));
    const QByteArray bytes = platform::writePropertyList(values::fromDictionary(stored), platform::PlistFormat::Binary);
    if (bytes.isNull() || !QDir().mkpath(QFileInfo(path).absolutePath()))
        return;
    if (const auto written = platform::Paths::writeFileThroughLinks(path, bytes, 0600); !written)
        platform::log("TEVBatteryInfo", QStringLiteral("could not keep the battery numbers: %1").arg(written.error));
}

} // namespace

void TEVBatteryInfo::setNumberStorePath(const QString& path, bool writes)
{
    Numbering& state = numbering();
    std::lock_guard lock(state.mutex);
    state.storePath = path;
    state.writes = writes;
    state.previous.clear();
    state.loaded = path.isEmpty();
}

QList<TEVBatteryInfo::NumberedBattery> TEVBatteryInfo::numberedBatteries(TEVIORegistryEntry::Registry registry)
{
    const BatteryList batteries = allBatteries(std::move(registry));
    // Two entries alike in every published detail are told apart by their order.
    QStringList keys;
    QHash<QString, int> seen;
    for (const auto& battery : batteries) {
        const QString key = battery->packKey();
        keys.append(key + QLatin1Char('#') + QString::number(seen[key]++));
    }

    Numbering& state = numbering();
    std::lock_guard lock(state.mutex);
    if (!state.loaded) {
        state.previous = readNumbers(state.storePath);
        state.loaded = true;
    }
    QHash<QString, quint64> numbers;
    QSet<quint64> taken;
    for (const QString& key : std::as_const(keys)) {
        if (const auto known = state.previous.constFind(key); known != state.previous.cend()) {
            numbers.insert(key, *known);
            taken.insert(*known);
        }
    }
    quint64 next = 0;
    for (const QString& key : std::as_const(keys)) {
        if (numbers.contains(key))
            continue;
        while (taken.contains(next))
            ++next;
        numbers.insert(key, next);
        taken.insert(next);
    }
    if (numbers != state.previous && !state.storePath.isEmpty() && state.writes)
        writeNumbers(state.storePath, numbers);
    state.previous = numbers;

    QList<NumberedBattery> numbered;
    for (qsizetype i = 0; i < batteries.size(); ++i)
        numbered.append({numbers.value(keys[i]), batteries[i]});
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const NumberedBattery& a, const NumberedBattery& b) { return a.number < b.number; });
    return numbered;
}

void TEVBatteryInfo::setEnforcesAbsoluteBatteryCurrents(bool enforces)
{
    absoluteCurrents.store(enforces, std::memory_order_relaxed);
}

bool TEVBatteryInfo::enforcesAbsoluteBatteryCurrents()
{
    return absoluteCurrents.load(std::memory_order_relaxed);
}

const QStringList& TEVBatteryInfo::batteryStatusKeys()
{
    static const QStringList keys = [] {
        QStringList result;
        for (const Flag& flag : flagTable())
            result.append(flag.key);
        return result;
    }();
    return keys;
}

QString TEVBatteryInfo::localizedBatteryStatusDescriptionForBatteryFlags(quint64 flags)
{
    QString text;
    const auto& table = flagTable();
    for (qsizetype bit = 0; bit < table.size(); ++bit) {
        if (flags & (quint64(1) << bit))
            text += QChar(0x2022) + QLatin1Char(' ') + CDP::localizedUnitForKey(table[bit].text) + QLatin1Char('\n');
    }
    return text.isEmpty() ? CDP::localizedUnitForKey("normal") : text;
}

std::shared_ptr<const TEVBatteryInfo> TEVBatteryInfo::snapshot() const
{
    return std::make_shared<TEVBatteryInfo>(entry_->snapshot());
}

QVariantMap TEVBatteryInfo::currentReadouts() const
{
    if (!entry_->isSnapshot())
        return snapshot()->currentReadouts();
    return {
        {QStringLiteral("BatteryStatus"), values::fromUnsigned(batteryFlags())},
        {QStringLiteral("Voltage"), values::fromReal(voltage())},
        {QStringLiteral("Amperage"), values::fromReal(amperage())},
        {QStringLiteral("TotalCapacity"), values::fromReal(totalCapacity())},
        {QStringLiteral("CurrentCapacity"), values::fromReal(currentCapacity())},
        {QStringLiteral("MaximumCapacity"), values::fromReal(maximumCapacity())},
        {QStringLiteral("ChargeCycles"), values::fromUnsigned(chargeCycles())},
        {QStringLiteral("HasExtendedInfo"), values::fromBool(hasExtendedInformation())},
        {QStringLiteral("HasSmartInfo"), values::fromBool(hasSmartInformation())},
    };
}

QVariantMap TEVBatteryInfo::batteryStatus() const
{
    const quint64 flags = batteryFlags();
    QVariantMap status;
    const auto& keys = batteryStatusKeys();
    for (qsizetype bit = 0; bit < keys.size(); ++bit)
        status.insert(keys[bit], values::fromBool(flags & (quint64(1) << bit)));
    return status;
}

bool TEVBatteryInfo::batteryStatusForKey(qint64 bit) const
{
    if (bit < 0 || bit >= batteryStatusKeys().size())
        return false;
    return batteryFlags() & (quint64(1) << bit);
}

bool TEVBatteryInfo::isPresent() const
{
    const auto properties = entry_->properties();
    if (!properties || properties->isEmpty())
        return false;
    const QVariant installed = properties->value(QStringLiteral("BatteryInstalled"));
    return values::kindOf(installed) != values::Kind::Bool || installed.toBool();
}

bool TEVBatteryInfo::hasReading(Reading reading) const
{
    if (!entry_->isSnapshot())
        return snapshot()->hasReading(reading);
    switch (reading) {
    case Reading::Voltage:
        return isPresent() && hasNumberWithName(QStringLiteral("Voltage"));
    case Reading::Amperage:
        return isPresent() && hasNumberWithName(QStringLiteral("Amperage"));
    default:
        return false;
    }
}

bool TEVBatteryInfo::hasNumberWithName(const QString& name) const
{
    const QVariant value = entry_->properties().value_or(QVariantMap()).value(name);
    return values::kindOf(value) != values::Kind::Bool && values::toSigned(value).has_value();
}

QString TEVBatteryInfo::packKey() const
{
    if (!entry_->isSnapshot())
        return snapshot()->packKey();
    const QString name = entry_->ioKitHandle() ? entry_->ioKitHandle()->name() : QString();
    return name + QLatin1Char('\n') + batteryDeviceName() + QLatin1Char('\n') + serialNumber();
}

double TEVBatteryInfo::voltage() const
{
    return double(entry_->integerValueWithName(QStringLiteral("Voltage"))) / 1000.0;
}

double TEVBatteryInfo::amperage() const
{
    const double amperes = double(entry_->integerValueWithName(QStringLiteral("Amperage"))) / 1000.0;
    return enforcesAbsoluteBatteryCurrents() ? std::fabs(amperes) : amperes;
}

quint64 TEVBatteryInfo::batteryFlags() const
{
    logSubclassImplementationErrorWithMethodName(QStringLiteral("batteryFlags"));
    return 0;
}

double TEVBatteryInfo::totalCapacity() const
{
    logSubclassImplementationErrorWithMethodName(QStringLiteral("totalCapacity"));
    return 0;
}

double TEVBatteryInfo::currentCapacity() const
{
    logSubclassImplementationErrorWithMethodName(QStringLiteral("currentCapacity"));
    return 0;
}

double TEVBatteryInfo::maximumCapacity() const
{
    logSubclassImplementationErrorWithMethodName(QStringLiteral("maximumCapacity"));
    return 0;
}

quint64 TEVBatteryInfo::chargeCycles() const
{
    logSubclassImplementationErrorWithMethodName(QStringLiteral("chargeCycles"));
    return 0;
}

void TEVBatteryInfo::logSubclassImplementationErrorWithMethodName(const QString& method) const
{
    if (method.isEmpty())
        return;
    platform::log(className() + QStringLiteral(": implementation error: -") + method
                  + QStringLiteral(" fell back to abstract class because not overridden.\n"));
}
