#include "sensors/TEVBatterySensor.h"

#include "sensors/TEVSensorValueConverter.h"
#include "sensors/TEVSmartBatteryInfo.h"

#include <cmath>

namespace {

struct KindRow {
    const char* identifier;
    const char* location;
    qint64 quantityType;
    const char* unit;
};

// Kinds 1 to 4.
constexpr KindRow kKinds[] = {
    {"voltage", "Voltage", 2, "V"},
    {"amperage", "Current", 3, "A"},
    {"totalCapacity", "Total Capacity", 5, "mAh"},
    {"capacity", "Current Capacity", 5, "mAh"},
};

const KindRow* rowOf(qint64 kind)
{
    return kind >= 1 && kind <= 4 ? &kKinds[kind - 1] : nullptr;
}

} // namespace

std::shared_ptr<TEVBatterySensor> TEVBatterySensor::create(std::shared_ptr<TEVBatteryInfo> battery, qint64 kind,
                                                           quint64 batteryIndex)
{
    if (!battery)
        return nullptr;
    auto sensor = std::make_shared<TEVBatterySensor>();
    sensor->battery_ = std::move(battery);
    sensor->kind_ = kind;
    sensor->batteryIndex_ = batteryIndex;
    sensor->setUpIdentity();
    return sensor;
}

std::shared_ptr<TEVBatterySensor> TEVBatterySensor::createForCellVoltage(std::shared_ptr<TEVBatteryInfo> battery,
                                                                         quint64 batteryIndex, quint64 cellIndex)
{
    if (!battery)
        return nullptr;
    auto sensor = std::make_shared<TEVBatterySensor>();
    sensor->battery_ = std::move(battery);
    sensor->kind_ = Voltage;
    sensor->batteryIndex_ = batteryIndex;
    sensor->cellIndex_ = cellIndex;
    sensor->setUpIdentity();
    return sensor;
}

void TEVBatterySensor::setUpIdentity()
{
    const KindRow* row = rowOf(kind_);
    const QString word = row ? QString::fromLatin1(row->location) : QString();
    const auto number = [](quint64 n) { return QString::number(n); };
    if (cellIndex_ != kNoCell) {
        setUniqueIdentifier(QStringLiteral("battery.%1-cell%2.voltage").arg(number(batteryIndex_), number(cellIndex_)));
        setLocationIdentifier(QStringLiteral("Battery %1 Cell %2").arg(number(batteryIndex_ + 1), number(cellIndex_ + 1)));
        setQuantityType(2);
    } else {
        // A kind outside the table has a nil identifier, printed as "(null)".
        const QString identifier = sensorTypeIdentifier();
        setUniqueIdentifier(QStringLiteral("battery.%1.%2")
                                .arg(number(batteryIndex_), identifier.isNull() ? QStringLiteral("(null)") : identifier));
        setLocationIdentifier(QStringLiteral("Battery %1 %2").arg(number(batteryIndex_ + 1), word));
        setQuantityType(row ? row->quantityType : 0);
    }
    setSensorName(QStringLiteral("Apple Battery"));
    setSensorType(3);
}

void TEVBatterySensor::load()
{
    TEVSensor::registerSensorClass({QStringLiteral("TEVBatterySensor"), [] { return allSensors(); }});
}

TEVSensorList TEVBatterySensor::allSensors(TEVIORegistryEntry::Registry registry)
{
    // Numbered, not counted: a pack's identifiers stay its own while others come and go.
    TEVSensorList sensors;
    for (const auto& [number, battery] : TEVBatteryInfo::numberedBatteries(std::move(registry))) {
        for (qint64 kind = Voltage; kind <= Capacity; ++kind)
            sensors.append(create(battery, kind, number));
        if (const auto smart = std::dynamic_pointer_cast<TEVSmartBatteryInfo>(battery)) {
            const quint64 cells = smart->numberOfCells();
            for (quint64 cell = 0; cell < cells; ++cell)
                sensors.append(createForCellVoltage(battery, number, cell));
        }
    }
    return sensors;
}

QString TEVBatterySensor::sensorTypeIdentifier() const
{
    if (kind_ == None)
        return QStringLiteral("");
    const KindRow* row = rowOf(kind_);
    return row ? QString::fromLatin1(row->identifier) : QString();
}

qint64 TEVBatterySensor::rawValue() const
{
    if (!battery_)
        return -1;
    // One read of the pack for both the check and the reading. A pack out of its bay, or one that does
    // not publish this reading, has no value (its accessors would give -0.001 V, -1 mAh).
    const auto battery = battery_->snapshot();
    double reading = 0;
    switch (kind_) {
    case Voltage:
        if (cellIndex_ != kNoCell) {
            const auto smart = std::dynamic_pointer_cast<const TEVSmartBatteryInfo>(battery);
            if (!smart || !smart->hasCellVoltageAtIndex(cellIndex_))
                return -1;
            reading = smart->cellVoltageAtIndex(cellIndex_);
        } else {
            if (!battery->hasReading(TEVBatteryInfo::Reading::Voltage))
                return -1;
            reading = battery->voltage();
        }
        break;
    case Amperage:
        if (!battery->hasReading(TEVBatteryInfo::Reading::Amperage))
            return -1;
        reading = battery->amperage();
        break;
    case TotalCapacity:
        if (!battery->hasReading(TEVBatteryInfo::Reading::TotalCapacity))
            return -1;
        reading = battery->totalCapacity();
        break;
    case Capacity:
        if (!battery->hasReading(TEVBatteryInfo::Reading::CurrentCapacity))
            return -1;
        reading = battery->currentCapacity();
        break;
    default:
        return -1;
    }
    const double scaled = std::trunc(reading * 65536.0);
    if (std::isnan(scaled))
        return -1;
    if (scaled >= double(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    if (scaled <= double(std::numeric_limits<qint32>::min()))
        return std::numeric_limits<qint32>::min();
    return qint64(qint32(scaled));
}

QString TEVBatterySensor::unit() const
{
    const KindRow* row = rowOf(kind_);
    return row ? QString::fromLatin1(row->unit) : TEVSensor::unit();
}

std::shared_ptr<TEVSensorValueConverter> TEVBatterySensor::valueConverter() const
{
    auto converter = std::make_shared<TEVSensorValueConverter>();
    converter->setConversionFunctionType(TEVSensorValueConverter::LinearFactor);
    converter->setLinearFactor(1.0 / 65536.0);
    return converter;
}
