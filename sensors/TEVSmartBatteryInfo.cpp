#include "sensors/TEVSmartBatteryInfo.h"

#include "platform/foundation/Values.h"

#include <QDate>

#include <algorithm>

namespace values = platform::values;

namespace {

const QString kClass = QStringLiteral("AppleSmartBattery");

// A registry integer as unsigned: negative values (and the -1 of a missing one) clamp to 0.
quint64 clampedUnsigned(qint64 value)
{
    return value < 0 ? 0 : quint64(value);
}

} // namespace

TEVBatteryInfo::BatteryList TEVSmartBatteryInfo::allBatteries(TEVIORegistryEntry::Registry registry)
{
    static const QStringList required = {
        QStringLiteral("LegacyBatteryInfo"), QStringLiteral("Voltage"),         QStringLiteral("Amperage"),
        QStringLiteral("CurrentCapacity"),   QStringLiteral("FirmwareSerialNumber"), QStringLiteral("DeviceName"),
        QStringLiteral("ManufactureDate"),   QStringLiteral("MaxCapacity"),     QStringLiteral("DesignCapacity"),
        QStringLiteral("CycleCount")};
    BatteryList batteries;
    const auto entries = TEVIORegistryEntry::serviceObjectsMatchingName(kClass, std::move(registry));
    if (!entries)
        return batteries;
    for (const auto& entry : *entries) {
        const auto properties = entry->properties();
        if (!properties)
            continue;
        const bool complete = std::all_of(required.begin(), required.end(),
                                          [&](const QString& key) { return properties->contains(key); });
        if (complete)
            batteries.append(std::make_shared<TEVSmartBatteryInfo>(entry));
    }
    return batteries;
}

std::shared_ptr<const TEVBatteryInfo> TEVSmartBatteryInfo::snapshot() const
{
    return std::make_shared<TEVSmartBatteryInfo>(batteryEntry()->snapshot());
}

QVariantMap TEVSmartBatteryInfo::currentReadouts() const
{
    if (!batteryEntry()->isSnapshot())
        return snapshot()->currentReadouts();
    QVariantMap readouts = TEVBatteryInfo::currentReadouts();
    readouts.insert(QStringLiteral("Manufacturer"), values::fromString(manufacturer()));
    if (const QString device = batteryDeviceName(); !device.isNull())
        readouts.insert(QStringLiteral("BatteryDevice"), values::fromString(device));
    readouts.insert(QStringLiteral("SerialNumber"), values::fromString(presentedSerialNumber()));
    if (const auto date = manufacturingDate())
        readouts.insert(QStringLiteral("ManufacturingDate"), values::fromDate(*date));
    if (const double celsius = temperature(); celsius != 0.0)
        readouts.insert(QStringLiteral("BatteryTemperature"), values::fromReal(celsius));
    QVariantList cells;
    const quint64 count = numberOfCells();
    for (quint64 cell = 0; cell < count; ++cell)
        cells.append(values::fromReal(cellVoltageAtIndex(cell)));
    if (!cells.isEmpty())
        readouts.insert(QStringLiteral("CellVoltages"), values::fromArray(cells));
    return readouts;
}

bool TEVSmartBatteryInfo::hasReading(Reading reading) const
{
    if (!batteryEntry()->isSnapshot())
        return snapshot()->hasReading(reading);
    switch (reading) {
    case Reading::TotalCapacity:
        return isPresent() && hasNumberWithName(QStringLiteral("MaxCapacity"));
    case Reading::CurrentCapacity:
        return isPresent() && hasNumberWithName(QStringLiteral("CurrentCapacity"));
    default:
        return TEVBatteryInfo::hasReading(reading);
    }
}

quint64 TEVSmartBatteryInfo::batteryFlags() const
{
    const auto legacy = values::toDictionary(
        batteryEntry()->properties().value_or(QVariantMap()).value(QStringLiteral("LegacyBatteryInfo")));
    if (!legacy)
        return 0;
    const QVariant flags = legacy->value(QStringLiteral("Flags"));
    if (values::kindOf(flags) == values::Kind::Bool)
        return 0;
    if (const auto value = values::toUnsigned(flags))
        return *value;
    return 0;
}

double TEVSmartBatteryInfo::totalCapacity() const
{
    return double(batteryEntry()->integerValueWithName(QStringLiteral("MaxCapacity")));
}

double TEVSmartBatteryInfo::currentCapacity() const
{
    return double(batteryEntry()->integerValueWithName(QStringLiteral("CurrentCapacity")));
}

double TEVSmartBatteryInfo::maximumCapacity() const
{
    return double(batteryEntry()->integerValueWithName(QStringLiteral("DesignCapacity")));
}

quint64 TEVSmartBatteryInfo::chargeCycles() const
{
    return clampedUnsigned(batteryEntry()->integerValueWithName(QStringLiteral("CycleCount")));
}

QString TEVSmartBatteryInfo::manufacturer() const
{
    const QString name = batteryEntry()->stringValueWithName(QStringLiteral("Manufacturer"));
    return name.isNull() ? QStringLiteral("") : name;
}

QString TEVSmartBatteryInfo::batteryDeviceName() const
{
    return batteryEntry()->stringValueWithName(QStringLiteral("DeviceName"));
}

QString TEVSmartBatteryInfo::serialNumber() const
{
    return QString::number(clampedUnsigned(batteryEntry()->integerValueWithName(QStringLiteral("FirmwareSerialNumber"))));
}

std::optional<QDateTime> TEVSmartBatteryInfo::manufacturingDate() const
{
    const qint64 word = batteryEntry()->integerValueWithName(QStringLiteral("ManufactureDate"));
    if (word < 0 || word > 0xFFFF)
        return std::nullopt;
    // QDate refuses month 0 or 13..15 and days past the month's end instead of rolling over.
    const QDate date(int(word >> 9) + 1980, int(word >> 5 & 0xF), int(word & 0x1F));
    if (!date.isValid())
        return std::nullopt;
    return QDateTime(date, QTime(0, 0), Qt::LocalTime);
}

QString TEVSmartBatteryInfo::appleSerialNumber() const
{
    return batteryEntry()->stringValueWithName(QStringLiteral("BatterySerialNumber"));
}

QString TEVSmartBatteryInfo::presentedSerialNumber() const
{
    const QString battery = appleSerialNumber();
    if (battery.isEmpty())
        return serialNumber();
    return serialNumber() + QStringLiteral(" (") + battery + QLatin1Char(')');
}

double TEVSmartBatteryInfo::temperature() const
{
    if (!batteryEntry()->hasValueWithName(QStringLiteral("Temperature")))
        return 0.0;
    return double(batteryEntry()->integerValueWithName(QStringLiteral("Temperature"))) / 10.0 - 273.16;
}

quint64 TEVSmartBatteryInfo::numberOfCells() const
{
    const auto cells = batteryEntry()->arrayValueWithName(QStringLiteral("CellVoltage"));
    if (!cells)
        return 0;
    quint64 count = 0;
    for (const QVariant& cell : *cells) {
        if (values::kindOf(cell) == values::Kind::Bool || values::toSigned(cell).value_or(0) == 0)
            break;
        ++count;
    }
    return count;
}

bool TEVSmartBatteryInfo::hasCellVoltageAtIndex(quint64 index) const
{
    if (!batteryEntry()->isSnapshot())
        return std::static_pointer_cast<const TEVSmartBatteryInfo>(snapshot())->hasCellVoltageAtIndex(index);
    return isPresent() && index < numberOfCells();
}

double TEVSmartBatteryInfo::cellVoltageAtIndex(quint64 index) const
{
    const auto cells = batteryEntry()->arrayValueWithName(QStringLiteral("CellVoltage"));
    if (!cells || index >= quint64(cells->size()))
        return 0.0;
    const QVariant& cell = cells->at(qsizetype(index));
    if (values::kindOf(cell) == values::Kind::Bool)
        return 0.0;
    return values::toReal(cell).value_or(0.0) / 1000.0;
}

QString TEVSmartBatteryInfo::description() const
{
    if (!batteryEntry()->isSnapshot())
        return std::static_pointer_cast<const TEVSmartBatteryInfo>(snapshot())->description();
    const quint64 flags = batteryFlags();
    QString status = QStringLiteral("{");
    const QVariantMap statusMap = batteryStatus();
    for (auto it = statusMap.constBegin(); it != statusMap.constEnd(); ++it)
        status += QStringLiteral("\"%1\" = %2; ").arg(it.key()).arg(it.value().toBool() ? 1 : 0);
    status += QLatin1Char('}');

    const quint64 cells = numberOfCells();
    QString voltages;
    for (quint64 cell = 0; cell < cells; ++cell)
        voltages += QString::asprintf(cell == 0 ? "%f" : ", %f", cellVoltageAtIndex(cell));
    if (voltages.isEmpty())
        voltages = QStringLiteral("---");

    const auto date = manufacturingDate();
    const QString dateText =
        date ? date->toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss +0000")) : QStringLiteral("(null)");
    const QString device = batteryDeviceName();
    return QString::asprintf("%s: Total Capacity: %f mAh Current Capacity: %f mAh Maximum Capacity: %f mAh Voltage: %f V "
                             "Amperage: %f A Flags: 0x%llx: %s Cycles: %llu Manufacturer: %s Device: %s Serial Number: %s "
                             "Manufactured: %s Temperature: %f Cells: %llu Cell Voltages: %s\n",
        qUtf8Printable(className()), totalCapacity(), currentCapacity(), maximumCapacity(), voltage(), amperage(),
        static_cast<unsigned long long>(flags), qUtf8Printable(status),
        static_cast<unsigned long long>(chargeCycles()), qUtf8Printable(manufacturer()),
        device.isNull() ? "(null)" : qUtf8Printable(device), qUtf8Printable(serialNumber()), qUtf8Printable(dateText),
        temperature(), static_cast<unsigned long long>(cells), qUtf8Printable(voltages));
}
