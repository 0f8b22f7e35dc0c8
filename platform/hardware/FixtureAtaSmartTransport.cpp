#include "platform/hardware/FixtureAtaSmartTransport.h"

#include "platform/foundation/Clock.h"
#include "platform/foundation/SimulatedComputer.h"
#include "platform/foundation/Values.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <numbers>

namespace platform {

namespace {

using Operation = FixtureAtaSmartTransport::Operation;

const std::pair<const char*, Operation> kOperations[] = {
    {"Open", Operation::Open},     {"Enable", Operation::Enable},         {"Status", Operation::Status},
    {"Data", Operation::Data},     {"Thresholds", Operation::Thresholds}, {"Identify", Operation::Identify},
};

// Attribute records of the data page: 30 of 12 bytes from byte 2; the raw value starts at byte 5.
constexpr int kAttributeCount = 30;
constexpr int kAttributeSize = 12;
constexpr int kTemperatureId = 194;

int temperatureRecordOffset(const QByteArray& page)
{
    for (int i = 0; i < kAttributeCount; ++i) {
        const int offset = 2 + i * kAttributeSize;
        if (quint8(page[offset]) == kTemperatureId)
            return offset;
    }
    return -1;
}

QByteArray wandered(QByteArray page, double amplitude, double period)
{
    const int offset = temperatureRecordOffset(page);
    if (offset < 0)
        return page;
    const double seconds = std::chrono::duration<double>(monotonicNow()).count();
    const int stored = quint8(page[offset + 5]) | (quint8(page[offset + 6]) << 8);
    const double value = stored + amplitude * std::sin(2 * std::numbers::pi * seconds / period);
    const int now = int(std::clamp(std::lround(value), 0L, 255L));
    page[offset + 5] = char(now);
    page[offset + 6] = 0;
    return page;
}

class FixtureConnection final : public AtaSmartConnection {
public:
    FixtureConnection(const FixtureAtaSmartTransport& transport, QString name)
        : transport_(transport), name_(std::move(name))
    {
    }
    bool enableOperations() override { return transport_.answer(name_, Operation::Enable).has_value(); }
    std::optional<bool> returnStatus() override
    {
        const auto answer = transport_.answer(name_, Operation::Status);
        if (!answer)
            return std::nullopt;
        return answer->at(0) != 0;
    }
    std::optional<QByteArray> readData() override { return transport_.answer(name_, Operation::Data); }
    std::optional<QByteArray> readThresholds() override { return transport_.answer(name_, Operation::Thresholds); }
    std::optional<QByteArray> identify() override { return transport_.answer(name_, Operation::Identify); }

private:
    const FixtureAtaSmartTransport& transport_;
    QString name_;
};

} // namespace

FixtureAtaSmartTransport::LoadResult FixtureAtaSmartTransport::fromSection(const QVariantMap& ata)
{
    const auto fail = [](const QString& path, const QString& message) {
        return LoadResult{nullptr, path + QStringLiteral(": ") + message};
    };
    for (auto it = ata.begin(); it != ata.end(); ++it) {
        if (it.key() != QLatin1String("Drives"))
            return fail(QStringLiteral("ATA"), QStringLiteral("unknown key \"%1\"").arg(it.key()));
    }
    auto transport = std::make_shared<FixtureAtaSmartTransport>();
    if (!ata.contains(QStringLiteral("Drives")))
        return {transport, QString()};
    const std::optional<QVariantMap> drives = values::toDictionary(ata.value(QStringLiteral("Drives")));
    if (!drives)
        return fail(QStringLiteral("ATA.Drives"), QStringLiteral("not a dictionary"));

    for (auto it = drives->begin(); it != drives->end(); ++it) {
        const QString path = QStringLiteral("ATA.Drives.") + it.key();
        if (!isValidBsdName(it.key()))
            return fail(path, QStringLiteral("not a BSD name"));
        const std::optional<QVariantMap> entry = values::toDictionary(it.value());
        if (!entry)
            return fail(path, QStringLiteral("not a dictionary"));
        Drive drive;
        for (auto field = entry->begin(); field != entry->end(); ++field) {
            const QString key = field.key();
            const QString fieldPath = path + QLatin1Char('.') + key;
            if (key == QLatin1String("Identify") || key == QLatin1String("Data") || key == QLatin1String("Thresholds")) {
                const std::optional<QByteArray> page = values::toData(field.value());
                if (!page || page->size() != AtaSmartConnection::PageSize)
                    return fail(fieldPath, QStringLiteral("expected data of 512 bytes"));
                (key == QLatin1String("Identify") ? drive.identify : key == QLatin1String("Data") ? drive.data : drive.thresholds) = *page;
            } else if (key == QLatin1String("ThresholdExceeded")) {
                if (values::kindOf(field.value()) != values::Kind::Bool)
                    return fail(fieldPath, QStringLiteral("expected a boolean"));
                drive.thresholdExceeded = field.value().toBool();
            } else if (key == QLatin1String("Fail")) {
                const std::optional<QVariantList> names = values::toArray(field.value());
                if (!names)
                    return fail(fieldPath, QStringLiteral("expected an array"));
                for (const QVariant& name : *names) {
                    const std::optional<QString> text = values::toString(name);
                    const auto known = std::find_if(std::begin(kOperations), std::end(kOperations),
                        [&](const auto& row) { return text && *text == QLatin1String(row.first); });
                    if (known == std::end(kOperations))
                        return fail(fieldPath, QStringLiteral("unknown operation"));
                    drive.failing.insert(known->second);
                }
            } else if (key == QLatin1String("TemperatureWander")) {
                const std::optional<QVariantMap> wander = values::toDictionary(field.value());
                if (!wander)
                    return fail(fieldPath, QStringLiteral("expected a dictionary"));
                for (auto w = wander->begin(); w != wander->end(); ++w) {
                    if (w.key() != QLatin1String("Amplitude") && w.key() != QLatin1String("Period"))
                        return fail(fieldPath, QStringLiteral("unknown key \"%1\"").arg(w.key()));
                }
                const QVariant amplitude = wander->value(QStringLiteral("Amplitude"));
                const QVariant period = wander->value(QStringLiteral("Period"));
                const bool numbers = values::kindOf(amplitude) != values::Kind::Bool && values::kindOf(period) != values::Kind::Bool;
                const std::optional<double> a = numbers ? values::toReal(amplitude) : std::nullopt;
                const std::optional<double> p = numbers ? values::toReal(period) : std::nullopt;
                if (!a || !p || !std::isfinite(*a) || !std::isfinite(*p) || *a < 0 || *a > 50 || *p <= 0)
                    return fail(fieldPath, QStringLiteral("needs an Amplitude of 0-50 and a Period above 0 seconds"));
                drive.wanderAmplitude = *a;
                drive.wanderPeriod = *p;
            } else {
                return fail(path, QStringLiteral("unknown key \"%1\"").arg(key));
            }
        }
        if (drive.wanderPeriod > 0 && (!drive.data || temperatureRecordOffset(*drive.data) < 0))
            return fail(path + QStringLiteral(".TemperatureWander"), QStringLiteral("the data page has no attribute 194"));
        transport->drives_.insert(it.key(), drive);
    }
    return {transport, QString()};
}

FixtureAtaSmartTransport::LoadResult FixtureAtaSmartTransport::fromComputer(const SimulatedComputer& computer)
{
    const std::optional<QVariantMap> ata = computer.ata();
    if (!ata)
        return {std::make_shared<FixtureAtaSmartTransport>(), QString()};
    return fromSection(*ata);
}

void FixtureAtaSmartTransport::setDrive(const QString& bsdName, const Drive& drive)
{
    std::lock_guard lock(mutex_);
    drives_.insert(bsdName, drive);
}

std::optional<FixtureAtaSmartTransport::Drive> FixtureAtaSmartTransport::drive(const QString& bsdName) const
{
    std::lock_guard lock(mutex_);
    const auto found = drives_.constFind(bsdName);
    if (found == drives_.constEnd())
        return std::nullopt;
    return *found;
}

void FixtureAtaSmartTransport::setFailing(const QString& bsdName, Operation operation, bool failing)
{
    std::lock_guard lock(mutex_);
    const auto found = drives_.find(bsdName);
    if (found == drives_.end())
        return;
    if (failing)
        found->failing.insert(operation);
    else
        found->failing.remove(operation);
}

int FixtureAtaSmartTransport::commandCount(const QString& bsdName) const
{
    std::lock_guard lock(mutex_);
    return commands_.value(bsdName);
}

AtaSmartTransport::OpenResult FixtureAtaSmartTransport::open(const QString& bsdName) const
{
    std::lock_guard lock(mutex_);
    const auto found = drives_.constFind(bsdName);
    if (!isValidBsdName(bsdName) || found == drives_.constEnd())
        return {nullptr, ENODEV};
    if (found->failing.contains(Operation::Open))
        return {nullptr, EACCES};
    return {std::make_unique<FixtureConnection>(*this, bsdName), 0};
}

std::optional<QByteArray> FixtureAtaSmartTransport::answer(const QString& bsdName, Operation operation) const
{
    std::lock_guard lock(mutex_);
    const auto found = drives_.constFind(bsdName);
    if (found == drives_.constEnd())
        return std::nullopt;
    ++commands_[bsdName];
    const Drive& drive = *found;
    if (drive.failing.contains(operation))
        return std::nullopt;
    switch (operation) {
    case Operation::Open:
    case Operation::Enable: return QByteArray();
    case Operation::Status: return QByteArray(1, drive.thresholdExceeded ? '\1' : '\0');
    case Operation::Identify: return drive.identify;
    case Operation::Thresholds: return drive.thresholds;
    case Operation::Data:
        if (drive.data && drive.wanderPeriod > 0)
            return wandered(*drive.data, drive.wanderAmplitude, drive.wanderPeriod);
        return drive.data;
    }
    return std::nullopt;
}

} // namespace platform
