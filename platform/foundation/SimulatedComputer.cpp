#include "platform/foundation/SimulatedComputer.h"

#include "platform/foundation/HostRoot.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <mutex>
#include <vector>

namespace platform {
namespace {

using values::Kind;

struct Section {
    const char* key;
    Kind kind; // Kind::Real stands for any number but a boolean
};

constexpr Section kSections[] = {
    {"Name", Kind::String},     {"Description", Kind::String}, {"Registry", Kind::Array},
    {"SMC", Kind::Dictionary},  {"ATA", Kind::Dictionary},     {"IdleTime", Kind::Real},
    {"Machine", Kind::Dictionary},
};

const char* expectedName(Kind kind)
{
    switch (kind) {
    case Kind::String: return "a string";
    case Kind::Array: return "an array";
    case Kind::Dictionary: return "a dictionary";
    case Kind::Real: return "a number";
    default: return values::kindName(kind);
    }
}

bool hasKind(const QVariant& value, Kind expected)
{
    const Kind kind = values::kindOf(value);
    if (expected == Kind::Real)
        return kind == Kind::Signed || kind == Kind::Unsigned || kind == Kind::Real;
    return kind == expected;
}

QString wrongType(const QString& path, Kind expected, const QVariant& value)
{
    return QStringLiteral("%1: expected %2, found %3")
        .arg(path, QLatin1String(expectedName(expected)), QLatin1String(values::kindName(values::kindOf(value))));
}

struct Selection {
    std::mutex mutex;
    bool resolved = false;
    bool selectedInCode = false;
    std::shared_ptr<const SimulatedComputer> computer;
};

Selection& selection()
{
    static Selection s;
    return s;
}

} // namespace

SimulatedComputer::SimulatedComputer(QString directory, QVariantMap plist)
    : directory_(std::move(directory))
    , plist_(std::move(plist))
{
}

SimulatedComputer::LoadResult SimulatedComputer::load(const QString& directory)
{
    const QString dir = QDir::cleanPath(QDir(directory).absolutePath());
    const QString file = dir + QStringLiteral("/computer.plist");
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return {nullptr, QStringLiteral("%1: %2").arg(file, f.errorString())};
    const QByteArray bytes = Paths::readAtMost(f, kMaximumPlistBytes);
    if (bytes.size() > kMaximumPlistBytes)
        return {nullptr, QStringLiteral("%1: larger than the %2 bytes a simulated computer may have").arg(file).arg(kMaximumPlistBytes)};
    PlistLimits limits;
    limits.maxInputBytes = kMaximumPlistBytes;
    limits.refuseDuplicateKeys = true;
    // A computer's description holds some thousands of values; a million is far beyond any, and held as
    // values it stays some tens of MB.
    limits.maxValues = kMaximumValues;
    const PlistReadResult read = readPropertyList(bytes, limits);
    if (!read.value.isValid())
        return {nullptr, QStringLiteral("%1: %2").arg(file, read.error)};
    if (values::kindOf(read.value) != Kind::Dictionary)
        return {nullptr, QStringLiteral("%1: the top level is %2, not a dictionary")
                             .arg(file, QLatin1String(values::kindName(values::kindOf(read.value))))};
    if (!QFileInfo(dir + QStringLiteral("/root")).isDir())
        return {nullptr, QStringLiteral("%1/root: no such folder").arg(dir)};
    LoadResult result = fromDictionary(read.value.toMap(), dir);
    if (!result.computer)
        result.error = file + QStringLiteral(": ") + result.error;
    return result;
}

SimulatedComputer::LoadResult SimulatedComputer::fromDictionary(const QVariantMap& plist, const QString& directory)
{
    for (auto it = plist.begin(); it != plist.end(); ++it) {
        const Section* section = nullptr;
        for (const Section& s : kSections) {
            if (it.key() == QLatin1String(s.key))
                section = &s;
        }
        if (!section)
            return {nullptr, QStringLiteral("%1: unknown key").arg(it.key())};
        if (!hasKind(it.value(), section->kind))
            return {nullptr, wrongType(it.key(), section->kind, it.value())};
    }
    const QVariantList registry = plist.value(QStringLiteral("Registry")).toList();
    for (qsizetype i = 0; i < registry.size(); ++i) {
        if (!hasKind(registry[i], Kind::Dictionary))
            return {nullptr, wrongType(QStringLiteral("Registry[%1]").arg(i), Kind::Dictionary, registry[i])};
    }
    const QString dir = QDir::cleanPath(QDir(directory).absolutePath());
    return {std::shared_ptr<const SimulatedComputer>(new SimulatedComputer(dir, plist)), {}};
}

QString SimulatedComputer::name() const
{
    return values::toString(plist_.value(QStringLiteral("Name"))).value_or(QString());
}

QString SimulatedComputer::description() const
{
    return values::toString(plist_.value(QStringLiteral("Description"))).value_or(QString());
}

std::optional<QVariantList> SimulatedComputer::registry() const
{
    return values::toArray(plist_.value(QStringLiteral("Registry")));
}

std::optional<QVariantMap> SimulatedComputer::smc() const
{
    return values::toDictionary(plist_.value(QStringLiteral("SMC")));
}

std::optional<QVariantMap> SimulatedComputer::ata() const
{
    return values::toDictionary(plist_.value(QStringLiteral("ATA")));
}

std::optional<double> SimulatedComputer::idleTime() const
{
    const auto it = plist_.find(QStringLiteral("IdleTime"));
    if (it == plist_.end())
        return std::nullopt;
    return values::toReal(it.value());
}

std::optional<QVariantMap> SimulatedComputer::machine() const
{
    return values::toDictionary(plist_.value(QStringLiteral("Machine")));
}

std::shared_ptr<const SimulatedComputer> SimulatedComputer::current()
{
    Selection& s = selection();
    std::lock_guard lock(s.mutex);
    if (!s.resolved) {
        s.resolved = true;
        const QString dir = qEnvironmentVariable("KELVARO_SIMULATED_COMPUTER");
        if (!dir.isEmpty()) {
            LoadResult result = load(dir);
            if (!result.computer)
                log("SimulatedComputer", QStringLiteral("cannot load the simulated computer: ") + result.error);
            s.computer = std::move(result.computer);
        }
    }
    return s.computer;
}

bool SimulatedComputer::isSelected()
{
    Selection& s = selection();
    {
        std::lock_guard lock(s.mutex);
        if (s.selectedInCode)
            return true;
    }
    return !qEnvironmentVariable("KELVARO_SIMULATED_COMPUTER").isEmpty();
}

void SimulatedComputer::setCurrent(std::shared_ptr<const SimulatedComputer> computer)
{
    Selection& s = selection();
    {
        std::lock_guard lock(s.mutex);
        s.selectedInCode = computer != nullptr;
        s.resolved = computer != nullptr;
        s.computer = computer;
    }
    HostRoot::setCurrent(computer ? std::make_shared<HostRoot>(computer->rootDirectory()) : nullptr);
}

} // namespace platform
