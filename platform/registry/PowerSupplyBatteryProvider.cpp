#include "platform/registry/PowerSupplyBatteryProvider.h"

#include "platform/foundation/Values.h"

#include <QHash>

#include <cmath>
#include <limits>
#include <optional>

namespace platform {

namespace {

const QString supplyFolder = QStringLiteral("/sys/class/power_supply");

// Battery flag bits of the legacy battery dictionary.
constexpr quint64 kFlagExternalConnected = 0x1;
constexpr quint64 kFlagCharging = 0x2;
constexpr quint64 kFlagInstalled = 0x4;

class Supply {
public:
    Supply(const HostRoot& root, const QString& name) : root_(root), folder_(supplyFolder + QLatin1Char('/') + name) {}

    // Each attribute is read once per Supply: one readout opens each file once.
    std::optional<QString> text(const char* attribute) const
    {
        const QLatin1String name(attribute);
        if (const auto known = read_.constFind(name); known != read_.constEnd())
            return *known;
        auto value = root_.readTextFile(folder_ + QLatin1Char('/') + name);
        if (value)
            *value = value->trimmed();
        read_.insert(name, value);
        return value;
    }

    // A decimal attribute; nothing when missing or not a number that fits 64 bits.
    std::optional<qint64> number(const char* attribute) const
    {
        const auto value = text(attribute);
        if (!value)
            return std::nullopt;
        bool ok = false;
        const qint64 n = value->toLongLong(&ok);
        return ok ? std::optional<qint64>(n) : std::nullopt;
    }

private:
    const HostRoot& root_;
    QString folder_;
    mutable QHash<QString, std::optional<QString>> read_;
};

// Micro-units to milli-units, rounded to nearest; the result always fits, since |n| / 1000 < 2^63.
qint64 milli(qint64 micro)
{
    return micro / 1000 + (micro % 1000 >= 500 ? 1 : 0) - (micro % 1000 <= -500 ? 1 : 0);
}

// A finite real rounded and clamped into qint64 (never wrapped, never undefined).
qint64 clampedRound(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double limit = 9223372036854774784.0; // largest double below 2^63
    if (value >= limit)
        return std::numeric_limits<qint64>::max();
    if (value <= -limit)
        return std::numeric_limits<qint64>::min();
    return qint64(std::llround(value));
}

bool anyMainsOnline(const HostRoot& root)
{
    const auto names = root.listDirectory(supplyFolder);
    if (!names)
        return false;
    for (const QString& name : *names) {
        const Supply supply(root, name);
        // USB-C chargers (ucsi, typec) are supplies of type USB.
        const QString type = supply.text("type").value_or(QString());
        if ((type == QLatin1String("Mains") || type == QLatin1String("USB")) && supply.number("online").value_or(0) == 1)
            return true;
    }
    return false;
}

// The design voltage in µV that turns µWh into µAh.
std::optional<qint64> designMicrovolts(const Supply& supply)
{
    for (const char* attribute : {"voltage_min_design", "voltage_max_design", "voltage_now"}) {
        const auto value = supply.number(attribute);
        if (value && *value > 0)
            return value;
    }
    return std::nullopt;
}

// A capacity in mAh from charge_<kind> (µAh) or energy_<kind> (µWh) over the design voltage.
std::optional<qint64> capacity(const Supply& supply, const QString& kind, std::optional<qint64> microvolts)
{
    if (const auto charge = supply.number(qPrintable(QStringLiteral("charge_") + kind)))
        return milli(*charge);
    const auto energy = supply.number(qPrintable(QStringLiteral("energy_") + kind));
    if (!energy || !microvolts)
        return std::nullopt;
    return clampedRound(double(*energy) / double(*microvolts) * 1000.0);
}

// Smart Battery Data date word: day | month << 5 | (year - 1980) << 9; 0 (an invalid date) when unknown.
qint64 packedManufactureDate(const Supply& supply)
{
    const auto year = supply.number("manufacture_year");
    const auto month = supply.number("manufacture_month");
    const auto day = supply.number("manufacture_day");
    if (!year || !month || !day || *year < 1980 || *year > 1980 + 127 || *month < 1 || *month > 12 || *day < 1
        || *day > 31)
        return 0;
    return *day | *month << 5 | (*year - 1980) << 9;
}

class BatteryPropertySource final : public IORegistryPropertySource {
public:
    BatteryPropertySource(HostRoot root, QString name) : root_(std::move(root)), name_(std::move(name)) {}
    QVariantMap properties() const override { return PowerSupplyBatteryProvider::readProperties(root_, name_); }
    QString identity() const override { return QStringLiteral("power_supply/") + name_; }

private:
    HostRoot root_;
    QString name_;
};

} // namespace

QVariantMap PowerSupplyBatteryProvider::readProperties(const HostRoot& root, const QString& name)
{
    const Supply supply(root, name);
    if (supply.number("present").value_or(1) != 1)
        return {};

    QVariantMap result;
    const QString status = supply.text("status").value_or(QString());
    const bool charging = status == QLatin1String("Charging");
    const bool discharging = status == QLatin1String("Discharging");
    const bool external = anyMainsOnline(root);

    const auto microvolts = supply.number("voltage_now");
    if (microvolts)
        result.insert(QStringLiteral("Voltage"), values::fromSigned(milli(*microvolts)));

    // Drivers disagree on the sign of the current; the status decides it. Energy-based drivers give power.
    std::optional<qint64> milliamperes;
    if (const auto current = supply.number("current_now"))
        milliamperes = milli(*current);
    else if (const auto power = supply.number("power_now"); power && microvolts && *microvolts > 0)
        milliamperes = clampedRound(double(*power) / double(*microvolts) * 1000.0);
    if (milliamperes) {
        qint64 value = *milliamperes;
        if (value == std::numeric_limits<qint64>::min())
            value = std::numeric_limits<qint64>::max();
        if (discharging)
            value = -std::abs(value);
        else if (charging)
            value = std::abs(value);
        result.insert(QStringLiteral("Amperage"), values::fromSigned(value));
    }

    const auto design = designMicrovolts(supply);
    if (const auto full = capacity(supply, QStringLiteral("full"), design))
        result.insert(QStringLiteral("MaxCapacity"), values::fromSigned(*full));
    if (const auto now = capacity(supply, QStringLiteral("now"), design))
        result.insert(QStringLiteral("CurrentCapacity"), values::fromSigned(*now));
    if (const auto fullDesign = capacity(supply, QStringLiteral("full_design"), design))
        result.insert(QStringLiteral("DesignCapacity"), values::fromSigned(*fullDesign));

    // The kernel itself reports 0 for an unknown cycle count.
    const qint64 cycles = std::max<qint64>(0, supply.number("cycle_count").value_or(0));
    result.insert(QStringLiteral("CycleCount"), values::fromSigned(cycles));

    result.insert(QStringLiteral("Manufacturer"), values::fromString(supply.text("manufacturer").value_or(QString())));
    result.insert(QStringLiteral("DeviceName"), values::fromString(supply.text("model_name").value_or(QString())));

    // A numeric serial is the firmware's number; any other text is the battery's serial string.
    const QString serial = supply.text("serial_number").value_or(QString());
    bool numeric = false;
    const qint64 firmwareSerial = serial.toLongLong(&numeric);
    result.insert(QStringLiteral("FirmwareSerialNumber"),
                  values::fromSigned(numeric && firmwareSerial >= 0 ? firmwareSerial : 0));
    if (!numeric && !serial.isEmpty())
        result.insert(QStringLiteral("BatterySerialNumber"), values::fromString(serial));

    result.insert(QStringLiteral("ManufactureDate"), values::fromSigned(packedManufactureDate(supply)));
    if (const auto decidegrees = supply.number("temp"); decidegrees && *decidegrees > -2732 && *decidegrees < 100000)
        result.insert(QStringLiteral("Temperature"), values::fromSigned(clampedRound(double(*decidegrees) + 2731.5)));

    const quint64 flags = (external ? kFlagExternalConnected : 0) | (charging ? kFlagCharging : 0) | kFlagInstalled;
    QVariantMap legacy{{QStringLiteral("Flags"), values::fromUnsigned(flags)},
                       {QStringLiteral("Cycle Count"), values::fromSigned(cycles)}};
    for (const char* key : {"Voltage", "Amperage", "CurrentCapacity", "MaxCapacity"}) {
        static const QHash<QString, QString> legacyNames = {{QStringLiteral("CurrentCapacity"), QStringLiteral("Current")},
                                                            {QStringLiteral("MaxCapacity"), QStringLiteral("Capacity")}};
        const QString name = QString::fromLatin1(key);
        if (result.contains(name))
            legacy.insert(legacyNames.value(name, name), result.value(name));
    }
    result.insert(QStringLiteral("LegacyBatteryInfo"), values::fromDictionary(legacy));
    result.insert(QStringLiteral("ExternalConnected"), values::fromBool(external));
    result.insert(QStringLiteral("IsCharging"), values::fromBool(charging));
    result.insert(QStringLiteral("FullyCharged"), values::fromBool(status == QLatin1String("Full")));
    result.insert(QStringLiteral("BatteryInstalled"), values::fromBool(true));
    return result;
}

std::optional<QByteArray> PowerSupplyBatteryProvider::changeSignature(const HostRoot& root) const
{
    // A supply's type never changes, so the names tell supplies that came or went; a bay whose supply stays
    // says through "present" that its pack did.
    QByteArray signature;
    for (const QString& name : root.listDirectory(supplyFolder).value_or(QStringList())) {
        signature += name.toUtf8() + ' '
                     + root.readFile(supplyFolder + QLatin1Char('/') + name + QStringLiteral("/present"), 16).value_or(QByteArray())
                     + '\n';
    }
    return signature;
}

void PowerSupplyBatteryProvider::addEntries(const HostRoot& root, IORegistry::Builder& builder) const
{
    const auto names = root.listDirectory(supplyFolder);
    if (!names)
        return;
    for (const QString& name : *names) {
        if (Supply(root, name).text("type").value_or(QString()) != QLatin1String("Battery"))
            continue;
        builder.add(IORegistry::RootIndex,
                    {QStringLiteral("AppleSmartBattery"), QStringLiteral("IOPMPowerSource"), QStringLiteral("IOService"),
                     QStringLiteral("IORegistryEntry")},
                    name, std::make_shared<BatteryPropertySource>(root, name));
    }
}

} // namespace platform
