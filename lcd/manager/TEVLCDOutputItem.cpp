#include "lcd/manager/TEVLCDOutputItem.h"

#include "app/model/OutputCacheEntry.h"
#include "app/model/TEVGauge.h"
#include "framework/NSProcessInfoTEVAdditions.h"
#include "framework/TEVStringFormat.h"
#include "lcd/TEVNetworkInterfaceDescription.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Coder.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace {

constexpr auto kClassName = "TEVLCDOutputItem";
constexpr qint64 kStatusQuantityType = 11;

KV_REGISTER_CLASS(QString::fromLatin1(kClassName), QStringLiteral("NSObject"), 0,
                  [](platform::Coder& coder) -> platform::ObjectRef { return TEVLCDOutputItem::createWithCoder(coder); },
                  true);

const QString kItemType = QStringLiteral("ItemType");
const QString kAssociation = QStringLiteral("Association");
const QString kMaxLength = QStringLiteral("MaxLength");
const QString kPrecision = QStringLiteral("Precision");
const QString kDisplaysUnit = QStringLiteral("DisplaysUnit");

QString localized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key) : key;
}

quint8 clampedByte(qint64 value)
{
    return quint8(std::clamp<qint64>(value, 0, 255));
}

// A stored byte field: any number brought into 0...255 rather than cut to its low byte (300 is no 44).
std::optional<quint8> storedByte(const QVariant& value)
{
    namespace v = platform::values;
    if (const auto n = v::toSigned(value))
        return clampedByte(*n);
    if (v::toUnsigned(value)) // 2^63 and more
        return quint8(255);
    if (const auto n = v::toReal(value)) // beyond the 64-bit range
        return quint8(*n < 0 ? 0 : 255);
    return std::nullopt;
}

// Time of day with seconds: the locale's short time form with ":ss" after the minutes when it has none.
QString mediumTimeFormat(const QLocale& locale)
{
    QString format = locale.timeFormat(QLocale::ShortFormat);
    if (!format.contains(QLatin1Char('s'))) {
        const qsizetype minutes = format.indexOf(QLatin1String("mm"));
        if (minutes >= 0)
            format.insert(minutes + 2, QLatin1String(":ss"));
    }
    return format;
}

// printf's "%*.*f" in the C locale: a negative width left-aligns.
QString fixedNumber(int width, int precision, double value)
{
    const QByteArray format = width < 0 ? QByteArray("%-") + QByteArray::number(-width) : QByteArray("%") + QByteArray::number(width);
    return TEVStringFormat::withNumber((format + '.' + QByteArray::number(precision) + 'f').constData(), value);
}

// Whether the integer digits (and sign) of the value as shown with `precision` decimals fit in `length`.
bool integerPartFits(double value, int precision, int length)
{
    const QString number = fixedNumber(0, precision, value);
    const qsizetype point = number.indexOf(QLatin1Char('.'));
    return (point < 0 ? number.size() : point) <= length;
}

} // namespace

std::shared_ptr<TEVLCDOutputItem> TEVLCDOutputItem::createWithPreferenceEntry(const std::optional<QVariantMap>& entry)
{
    namespace v = platform::values;
    if (!entry)
        return nullptr;
    auto item = std::make_shared<TEVLCDOutputItem>();
    if (const auto type = v::toSigned(entry->value(kItemType)))
        item->type_ = qint32(*type);
    if (const auto text = v::toString(entry->value(kAssociation)))
        item->associatedString_ = *text;
    if (const auto length = storedByte(entry->value(kMaxLength)))
        item->maximumFieldLength_ = *length;
    if (const auto precision = storedByte(entry->value(kPrecision)))
        item->valuePrecision_ = *precision;
    if (const auto unit = v::toBool(entry->value(kDisplaysUnit)))
        item->displaysUnit_ = *unit;
    return item;
}

std::shared_ptr<TEVLCDOutputItem> TEVLCDOutputItem::createWithCoder(platform::Coder& coder)
{
    auto item = std::make_shared<TEVLCDOutputItem>();
    qint32 type = 0;
    QVariant text;
    quint8 length = 0, precision = 0;
    qint8 unit = 0;
    if (!coder.decodeValueOfObjCType("i", &type) || !coder.decodeValueOfObjCType("@", &text)
        || !coder.decodeValueOfObjCType("C", &length) || !coder.decodeValueOfObjCType("C", &precision)
        || !coder.decodeValueOfObjCType("c", &unit))
        return nullptr;
    item->type_ = type;
    item->associatedString_ = platform::values::toString(text).value_or(QString());
    item->maximumFieldLength_ = length;
    item->valuePrecision_ = precision;
    item->displaysUnit_ = unit != 0;
    return item;
}

void TEVLCDOutputItem::encodeWithCoder(platform::Coder& coder) const
{
    const QVariant text = platform::values::fromString(associatedString_);
    const qint8 unit = displaysUnit_ ? 1 : 0;
    coder.encodeValueOfObjCType("i", &type_);
    coder.encodeValueOfObjCType("@", &text);
    coder.encodeValueOfObjCType("C", &maximumFieldLength_);
    coder.encodeValueOfObjCType("C", &valuePrecision_);
    coder.encodeValueOfObjCType("c", &unit);
}

QString TEVLCDOutputItem::className() const
{
    return QString::fromLatin1(kClassName);
}

QList<std::shared_ptr<TEVLCDOutputItem>> TEVLCDOutputItem::listOfPossibleStaticItems()
{
    QList<std::shared_ptr<TEVLCDOutputItem>> items;
    for (qint32 type = 0; type < NumberOfStaticTypes; ++type) {
        items.append(std::make_shared<TEVLCDOutputItem>());
        items.last()->setType(type);
    }
    return items;
}

QString TEVLCDOutputItem::staticPresentationForItemType(qint64 type)
{
    static const char* const names[] = {"Text",       "New Line",       "Date",         "Time",
                                        "Computer Name", "Kernel Version", "OS Version", "OS Build",
                                        "IPv4 Address",  "Sensor Value",   "Sensor Bar Graph"};
    if (type < 0 || type >= qint64(std::size(names)))
        return {};
    return localized(QString::fromLatin1(names[type]));
}

QVariantMap TEVLCDOutputItem::preferenceEntry() const
{
    namespace v = platform::values;
    return {{kItemType, v::fromSigned(type_)},
            {kAssociation, v::fromString(associatedString_.isNull() ? QStringLiteral("") : associatedString_)},
            {kMaxLength, v::fromUnsigned(maximumFieldLength_)},
            {kPrecision, v::fromUnsigned(valuePrecision_)},
            {kDisplaysUnit, v::fromBool(displaysUnit_)}};
}

std::shared_ptr<TEVLCDOutputItem> TEVLCDOutputItem::copy() const
{
    return std::make_shared<TEVLCDOutputItem>(*this);
}

bool TEVLCDOutputItem::isEqual(const TEVLCDOutputItem& other) const
{
    return type_ == other.type_ && associatedString_ == other.associatedString_;
}

void TEVLCDOutputItem::setMaximumFieldLength(qint64 length)
{
    maximumFieldLength_ = clampedByte(length);
}

void TEVLCDOutputItem::setValuePrecision(qint64 precision)
{
    valuePrecision_ = clampedByte(precision);
}

QString TEVLCDOutputItem::outputStringUsingCache(const OutputCache* cache) const
{
    switch (type_) {
    case Text:
        return associatedString_.isNull() ? QStringLiteral("") : associatedString_;
    case NewLine:
        return QStringLiteral("\n");
    case Date:
        return QLocale().toString(platform::currentDate().toLocalTime().date(), QLocale::ShortFormat);
    case Time: {
        const QLocale locale;
        return locale.toString(platform::currentDate().toLocalTime().time(), mediumTimeFormat(locale));
    }
    case ComputerName:
        return TEVMachineInfo::sharedMachineInfo()->computerName();
    case KernelVersion:
        return TEVMachineInfo::sharedMachineInfo()->baseOperatingSystemVersion();
    case OSVersion:
        return NSProcessInfoTEVAdditions::operatingSystemVersionNumberString();
    case OSBuild:
        return TEVMachineInfo::sharedMachineInfo()->operatingSystemBuild();
    case IPv4Address: {
        const QString address = TEVNetworkInterfaceDescription::readableIPv4AddressForDarwinInterfaceName(associatedString_);
        return address.isEmpty() ? QString(15, QLatin1Char('-')) : address;
    }
    case SensorValue:
        return cache ? sensorValueText(*cache) : QString();
    case SensorBarGraph:
        return cache ? barGraphText(*cache) : QString();
    default:
        return {};
    }
}

QString TEVLCDOutputItem::sensorValueText(const OutputCache& cache) const
{
    const int length = maximumFieldLength_;
    const int precision = valuePrecision_;
    const auto entry = cache.value(associatedString_);
    const auto gauge = entry ? entry->connectedGauge() : nullptr;
    if (!gauge || !entry->hasValue())
        return QString(length, QLatin1Char(' '));
    const double value = gauge->presentationValue();
    const bool missing = value == TEVGauge::missingValue;
    // Cutting a number's integer digits would show another number: a field too narrow for them is filled.
    const bool fits = integerPartFits(value, precision, length);
    const QString filled(length, QLatin1Char('#'));
    QString text;
    if (displaysUnit_) {
        const QString unit = gauge->localizedUnit();
        const int width = length - int(unit.size());
        if (missing)
            text = QString(std::max(0, width), QLatin1Char('-')) + unit;
        else if (gauge->sensorQuantityType() == kStatusQuantityType)
            text = localized(entry->currentValue() == 1.0 ? QStringLiteral("OK") : QStringLiteral("!!"));
        else
            text = fits ? fixedNumber(width, precision, value) + unit : filled;
    } else if (missing) {
        text = QString(length, QLatin1Char('-'));
    } else {
        text = fits ? fixedNumber(length, precision, value) : filled;
    }
    return text.left(length);
}

QString TEVLCDOutputItem::barGraphText(const OutputCache& cache) const
{
    const auto entry = cache.value(associatedString_);
    const auto gauge = entry ? entry->connectedGauge() : nullptr;
    if (!gauge || !entry->hasValue())
        return QString(BarGraphCells, QLatin1Char(' '));
    // Below zero (and NaN) is an empty bar, above 100 a full one.
    const double cells = std::floor(gauge->presentationValue() / 10.0 + 0.5);
    const int filled = std::isnan(cells) ? 0 : int(std::clamp(cells, 0.0, double(BarGraphCells)));
    return QString(filled, QChar(0x25A0)) + QString(BarGraphCells - filled, QLatin1Char(' '));
}
