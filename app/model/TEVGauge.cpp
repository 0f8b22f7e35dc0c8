#include "app/model/TEVGauge.h"

#include "acquisition/TEVMonitoringClient.h"
#include "app/model/StoredColor.h"
#include "framework/CDP.h"
#include "framework/TEVStringFormat.h"
#include "framework/TemperatureConversion.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"

#include <QLocale>

#include <algorithm>
#include <bit>
#include <optional>

namespace {

constexpr const char* kClassName = "TEVGauge";
constexpr qint64 kTemperature = 1;
const QString kRemotePrefix = QStringLiteral("remote.");

// Written by the controller on the main thread only.
qint64 preferredUnit = TEVGauge::Celsius;

namespace key {
const QString machineSerial = QStringLiteral("MachineSerial");
const QString customName = QStringLiteral("CustomName");
const QString shortName = QStringLiteral("ShortName");
const QString spokenName = QStringLiteral("SpokenName");
const QString formatStyle = QStringLiteral("FormatStyle");
const QString color = QStringLiteral("Color");
const QString lowTriggerEnabled = QStringLiteral("LowTriggerEnabled");
const QString highTriggerEnabled = QStringLiteral("HighTriggerEnabled");
const QString lowThreshold = QStringLiteral("LowThreshold");
const QString highThreshold = QStringLiteral("HighThreshold");
const QString sensorEnabled = QStringLiteral("SensorEnabled");
// Kept so that thresholds can be converted while the sensor is not connected; older readers ignore it.
const QString quantityType = QStringLiteral("QuantityType");
} // namespace key

QString localized(const QString& key)
{
    return platform::Bundle::main()->localizedString(key, key);
}

bool isKnownUnit(qint64 unit)
{
    return unit >= TEVGauge::Celsius && unit <= TEVGauge::FahrenheitWithCelsius;
}

// Primary units: 0 Celsius, 1 Fahrenheit, 2 Kelvin.
qint64 primaryUnit(qint64 unit)
{
    return unit == TEVGauge::CelsiusWithFahrenheit ? TEVGauge::Celsius
         : unit == TEVGauge::FahrenheitWithCelsius ? TEVGauge::Fahrenheit
                                                   : unit;
}

double inDisplayUnit(double celsius)
{
    switch (preferredUnit) {
    case TEVGauge::Celsius:
    case TEVGauge::CelsiusWithFahrenheit:
        return celsius;
    case TEVGauge::Fahrenheit:
    case TEVGauge::FahrenheitWithCelsius:
        return celsiusToFahrenheit(celsius);
    default:
        return celsiusToKelvin(celsius);
    }
}

QByteArray numberFormat(qint64 formatTag)
{
    if (formatTag < 0 || formatTag > 4)
        return QByteArrayLiteral("%g");
    return QByteArrayLiteral("%7.") + QByteArray::number(formatTag) + 'f';
}

// printf's forms and rounding with the user's decimal separator, no grouping.
QString formatLocalized(const QByteArray& format, double value)
{
    return TEVStringFormat::withNumber(format.constData(), value).replace(QLatin1Char('.'), QLocale().decimalPoint());
}

QString yesNo(bool flag)
{
    return flag ? QStringLiteral("YES") : QStringLiteral("NO");
}

QString colorText(const std::shared_ptr<platform::Color>& color)
{
    if (!color)
        return QStringLiteral("-");
    if (color->isRGB())
        return QStringLiteral("rgb(%1, %2, %3, %4)")
            .arg(color->red())
            .arg(color->green())
            .arg(color->blue())
            .arg(color->alpha());
    return QStringLiteral("white(%1, %2)").arg(color->whiteLevel()).arg(color->alpha());
}

// A stored value of the wrong kind counts as absent, with a log line naming the key.
template <typename T>
std::optional<T> readKey(const QVariantMap& dictionary, const QString& name, const QString& sensorIdentifier,
                         std::optional<T> (*reader)(const QVariant&))
{
    const auto it = dictionary.constFind(name);
    if (it == dictionary.constEnd())
        return std::nullopt;
    std::optional<T> value = reader(*it);
    if (!value) {
        const QString kind = QString::fromLatin1(platform::values::kindName(platform::values::kindOf(*it)));
        platform::log(kClassName, QStringLiteral("%1 of gauge %2 has the wrong type (%3); using the default")
                                      .arg(name, sensorIdentifier, kind));
    }
    return value;
}

} // namespace

// --- Class operations ------------------------------------------------------------------------------------

qint64 TEVGauge::defaultFormatTagForQuantityType(qint64 quantityType)
{
    switch (quantityType) {
    case 1: return 1;  // temperature
    case 2: return 4;  // voltage
    case 3: return 2;  // current
    case 4: return 1;  // power
    case 7: return 1;  // pulse width
    case 10: return 1; // memory or storage size
    default: return 0;
    }
}

double TEVGauge::defaultLowThresholdForQuantityType(qint64 quantityType)
{
    switch (quantityType) {
    case 1: return inDisplayUnit(10.0);
    case 2: return 1.0;
    case 6: return 100.0;
    case 10: return 1.0;
    case 11: return 1.0;
    default: return 0.0;
    }
}

double TEVGauge::defaultHighThresholdForQuantityType(qint64 quantityType)
{
    switch (quantityType) {
    case 1: return inDisplayUnit(75.0);
    case 2: return 13.0;
    case 3: return 100.0;
    case 4: return 10000.0;
    case 5: return 10000.0;
    case 6: return 10000.0;
    case 7: return 100.0;
    case 8: return 10000.0;
    case 9: return 70.0;
    case 11: return 1.0;
    default: return 0.0;
    }
}

QString TEVGauge::shortNameSuggestionForName(const QString& name)
{
    if (name.isNull())
        return {};
    return name.left(5).toUpper();
}

QString TEVGauge::presentedLocationForLocationIdentifier(const QString& locationIdentifier)
{
    if (locationIdentifier.isNull())
        return {};
    return platform::Bundle::main()->localizedString(locationIdentifier, locationIdentifier,
                                                     QStringLiteral("SensorLocations"));
}

QString TEVGauge::localizedLocationForLocation(const QString& location)
{
    if (location.isNull())
        return {};
    return localized(location);
}

QString TEVGauge::localizedUnitForUnit(const QString& unit, qint64 quantityType)
{
    if (unit.isNull())
        return {};
    if (quantityType != kTemperature)
        return localized(unit);
    switch (preferredUnit) {
    case Celsius:
    case CelsiusWithFahrenheit:
        return localized(QStringLiteral("C"));
    case Fahrenheit:
    case FahrenheitWithCelsius:
        return localized(QStringLiteral("F"));
    case Kelvin:
        return localized(QStringLiteral("K"));
    default:
        return {};
    }
}

QString TEVGauge::localizedQuantityTypeForType(qint64 quantityType)
{
    static const char* const texts[] = {
        "Temperature", "Voltage", "Current", "Power", "Capacity", "Revolution Speed", "Pulse Width",
        "Light", "Load", "Memory or Storage size", "Status information", "Counter", "Frequency",
    };
    if (quantityType >= 1 && quantityType <= 13)
        return localized(QString::fromLatin1(texts[quantityType - 1]));
    if (quantityType == 9999)
        return localized(QStringLiteral("Disconnected"));
    return localized(QStringLiteral("unknown"));
}

void TEVGauge::setPreferredTemperatureDisplayUnit(qint64 unit)
{
    preferredUnit = unit;
    // The short temperature texts of the framework follow the gauges' unit.
    CDP::setTemperatureDisplayUnitProvider([] { return preferredUnit; });
}

qint64 TEVGauge::preferredTemperatureDisplayUnit()
{
    return preferredUnit;
}

bool TEVGauge::isUniversalGaugeIdentifierIndicatingRemoteSensor(const QString& identifier)
{
    return identifier.startsWith(kRemotePrefix);
}

QString TEVGauge::universalGaugeIdentifierForSensorIdentifier(const QString& sensorIdentifier, const Client& client,
                                                              bool local)
{
    if (sensorIdentifier.isNull() || !client)
        return {};
    if (local)
        return sensorIdentifier;
    // Without an identification the identifier could not be split again.
    const QString identification = client->clientIdentification();
    if (identification.isEmpty())
        return {};
    return kRemotePrefix + identification + QLatin1Char('.') + sensorIdentifier;
}

bool TEVGauge::getSensorIdentifier(QString* sensorIdentifier, QString* serialNumber,
                                   const QString& remoteGaugeIdentifier)
{
    if (!isUniversalGaugeIdentifierIndicatingRemoteSensor(remoteGaugeIdentifier))
        return false;
    const qsizetype dot = remoteGaugeIdentifier.indexOf(QLatin1Char('.'), kRemotePrefix.size());
    if (dot < 0 || dot + 1 >= remoteGaugeIdentifier.size())
        return false;
    // The identification has no dots of its own; a broken escape is no serial number.
    const QString serial = TEVMonitoringClient::serialNumberFromClientIdentifier(
        remoteGaugeIdentifier.mid(kRemotePrefix.size(), dot - kRemotePrefix.size()));
    if (serial.isNull())
        return false;
    if (sensorIdentifier)
        *sensorIdentifier = remoteGaugeIdentifier.mid(dot + 1);
    if (serialNumber)
        *serialNumber = serial;
    return true;
}

// --- Creation ----------------------------------------------------------------------------------------------

TEVGauge::TEVGauge()
    : presentationColor_(storedcolor::black())
{
}

std::shared_ptr<TEVGauge> TEVGauge::createForSensorIdentifierConnectingToClient(const QString& sensorIdentifier,
                                                                                const Client& client)
{
    if (sensorIdentifier.isEmpty() || !client)
        return nullptr;
    auto gauge = std::make_shared<TEVGauge>();
    gauge->sensorIdentifier_ = sensorIdentifier;
    gauge->machineSerial_ = client->machineSerialNumber();
    gauge->clientConnection_ = client;
    gauge->valueConverter_ = client->sensorValueConverterForIdentifier(sensorIdentifier);
    gauge->sensorDescription_ = client->sensorDescriptionForIdentifier(sensorIdentifier);
    if (!gauge->sensorDescription_ || gauge->machineSerial_.isNull() || !gauge->valueConverter_)
        return nullptr;

    // Never nil, even for a sensor without location.
    gauge->customName_ = gauge->localizedLocation();
    if (gauge->customName_.isNull())
        gauge->customName_ = QStringLiteral("");
    gauge->spokenName_ = gauge->customName_;
    gauge->shortName_ = shortNameSuggestionForName(gauge->customName_);

    const qint64 quantity = gauge->sensorDescription_->quantityType();
    gauge->knownQuantityType_ = quantity;
    gauge->formatTag_ = gauge->sensorDescription_->precision() == 1.0 ? 0 : defaultFormatTagForQuantityType(quantity);
    gauge->lowThreshold_ = defaultLowThresholdForQuantityType(quantity);
    gauge->highThreshold_ = defaultHighThresholdForQuantityType(quantity);
    return gauge;
}

std::shared_ptr<TEVGauge> TEVGauge::createForSensorIdentifierPreferenceDictionary(const QString& sensorIdentifier,
                                                                                  const QVariant& preferenceDictionary)
{
    if (sensorIdentifier.isNull() || !preferenceDictionary.isValid())
        return nullptr;
    const auto stored = platform::values::toDictionary(preferenceDictionary);
    if (!stored) {
        platform::log(kClassName, QStringLiteral("the stored gauge %1 is no dictionary").arg(sensorIdentifier));
        return nullptr;
    }
    const QVariantMap& d = *stored;
    namespace values = platform::values;

    auto gauge = std::make_shared<TEVGauge>();
    gauge->sensorIdentifier_ = sensorIdentifier;

    if (const auto serial = readKey<QString>(d, key::machineSerial, sensorIdentifier, values::toString))
        gauge->machineSerial_ = *serial;
    else if (const auto local = TEVMachineInfo::sharedMachineInfo())
        gauge->machineSerial_ = local->systemSerialNumber();
    if (const auto name = readKey<QString>(d, key::customName, sensorIdentifier, values::toString))
        gauge->customName_ = *name;
    if (const auto name = readKey<QString>(d, key::shortName, sensorIdentifier, values::toString))
        gauge->shortName_ = *name;
    const auto spoken = readKey<QString>(d, key::spokenName, sensorIdentifier, values::toString);
    gauge->spokenName_ = spoken ? *spoken : gauge->customName_;
    if (const auto tag = readKey<qint64>(d, key::formatStyle, sensorIdentifier, values::toSigned))
        gauge->formatTag_ = *tag;
    gauge->formatTag_ = std::clamp<qint64>(gauge->formatTag_, 0, 4);

    if (const auto data = readKey<QByteArray>(d, key::color, sensorIdentifier, values::toData)) {
        if (auto color = storedcolor::fromArchivedData(*data))
            gauge->presentationColor_ = std::move(color);
        else
            platform::log(kClassName,
                          QStringLiteral("the colour of gauge %1 is unreadable; using black").arg(sensorIdentifier));
    }

    if (const auto flag = readKey<bool>(d, key::lowTriggerEnabled, sensorIdentifier, values::toBool))
        gauge->lowThresholdTrigger_ = *flag;
    if (const auto flag = readKey<bool>(d, key::highTriggerEnabled, sensorIdentifier, values::toBool))
        gauge->highThresholdTrigger_ = *flag;
    if (const auto threshold = readKey<double>(d, key::lowThreshold, sensorIdentifier, values::toReal))
        gauge->lowThreshold_ = *threshold;
    if (const auto threshold = readKey<double>(d, key::highThreshold, sensorIdentifier, values::toReal))
        gauge->highThreshold_ = *threshold;
    if (const auto flag = readKey<bool>(d, key::sensorEnabled, sensorIdentifier, values::toBool))
        gauge->enabled_ = *flag;
    if (const auto quantity = readKey<qint64>(d, key::quantityType, sensorIdentifier, values::toSigned))
        gauge->knownQuantityType_ = *quantity;
    return gauge;
}

void TEVGauge::connectToClient(const Client& client)
{
    clientConnection_ = client;
    if (client) {
        valueConverter_ = client->sensorValueConverterForIdentifier(sensorIdentifier_);
        sensorDescription_ = client->sensorDescriptionForIdentifier(sensorIdentifier_);
        if (sensorDescription_)
            knownQuantityType_ = sensorDescription_->quantityType();
    } else {
        valueConverter_.reset();
        sensorDescription_.reset();
    }
}

// --- Settings ----------------------------------------------------------------------------------------------

void TEVGauge::setCustomName(const QString& name)
{
    if (!name.isNull())
        customName_ = name;
}

void TEVGauge::setShortName(const QString& name)
{
    if (!name.isNull())
        shortName_ = name;
}

void TEVGauge::setSpokenName(const QString& name)
{
    if (!name.isNull())
        spokenName_ = name;
}

void TEVGauge::setPresentationColor(const std::shared_ptr<platform::Color>& color)
{
    if (color)
        presentationColor_ = color;
}

void TEVGauge::setFormatTag(qint64 formatTag)
{
    formatTag_ = formatTag;
}

void TEVGauge::enableLowThresholdAlert(bool enable)
{
    lowThresholdTrigger_ = enable;
}

void TEVGauge::enableHighThresholdAlert(bool enable)
{
    highThresholdTrigger_ = enable;
}

void TEVGauge::setLowThreshold(double threshold)
{
    lowThreshold_ = threshold;
}

void TEVGauge::setHighThreshold(double threshold)
{
    highThreshold_ = threshold;
}

void TEVGauge::setAlertState(bool alerting)
{
    alertState_ = alerting;
}

void TEVGauge::setEnabled(bool enabled)
{
    enabled_ = enabled;
    if (clientConnection_)
        clientConnection_->disableLocalAccess(!enabled, sensorIdentifier_);
}

void TEVGauge::changeTemperatureTriggerUnitFrom(qint64 oldUnit, qint64 newUnit)
{
    // A gauge that is not connected converts too, by the quantity it last had: its thresholds must be right
    // when its computer comes back.
    const qint64 quantity = sensorDescription_ ? sensorDescription_->quantityType() : knownQuantityType_;
    if (quantity != kTemperature || oldUnit == newUnit)
        return;
    if (!isKnownUnit(oldUnit) || !isKnownUnit(newUnit))
        return;
    const qint64 from = primaryUnit(oldUnit);
    const qint64 to = primaryUnit(newUnit);
    double (*convert)(double) = nullptr;
    if (from == Celsius)
        convert = to == Fahrenheit ? celsiusToFahrenheit : to == Kelvin ? celsiusToKelvin : nullptr;
    else if (from == Fahrenheit)
        convert = to == Celsius ? fahrenheitToCelsius : to == Kelvin ? fahrenheitToKelvin : nullptr;
    else
        convert = to == Celsius ? kelvinToCelsius : to == Fahrenheit ? kelvinToFahrenheit : nullptr;
    if (!convert)
        return;
    lowThreshold_ = convert(lowThreshold_);
    highThreshold_ = convert(highThreshold_);
}

// --- Queries -----------------------------------------------------------------------------------------------

std::shared_ptr<TEVSensorValueConverter> TEVGauge::valueConverter() const
{
    return valueConverter_ ? valueConverter_->copy() : nullptr;
}

std::shared_ptr<TEVSensorDescription> TEVGauge::sensorDescription() const
{
    return sensorDescription_ ? sensorDescription_->copy() : nullptr;
}

qint64 TEVGauge::sensorQuantityType() const
{
    return sensorDescription_ ? sensorDescription_->quantityType() : 0;
}

QString TEVGauge::sensorName() const
{
    return sensorDescription_ ? sensorDescription_->sensorName() : QString();
}

QString TEVGauge::machineName() const
{
    return clientConnection_ ? clientConnection_->machineName() : QString();
}

bool TEVGauge::isReadyAndConnected() const
{
    return clientConnection_ && valueConverter_ && sensorDescription_;
}

QString TEVGauge::iconForSensorQuantityType() const
{
    switch (sensorQuantityType()) {
    case 1: return QStringLiteral("TTemperature");
    case 2: return QStringLiteral("TVoltage");
    case 3: return QStringLiteral("TCurrent");
    case 4: return QStringLiteral("TPower");
    case 5: return QStringLiteral("TCapacity");
    case 6:
    case 7: return QStringLiteral("TFan");
    case 8: return QStringLiteral("TLight");
    case 9: return QStringLiteral("TLoad");
    case 10: return QStringLiteral("TStorage");
    case 11: return QStringLiteral("TInfo");
    case 12: return QStringLiteral("TCounter");
    case 13: return QStringLiteral("TFreq");
    default: return QStringLiteral("TUnknown");
    }
}

QVariantMap TEVGauge::preferenceDictionary() const
{
    namespace values = platform::values;
    QVariantMap d;
    const auto putString = [&d](const QString& name, const QString& text) {
        if (!text.isNull())
            d.insert(name, values::fromString(text));
    };
    putString(key::machineSerial, machineSerial_);
    putString(key::customName, customName_);
    putString(key::shortName, shortName_);
    putString(key::spokenName, spokenName_);
    d.insert(key::formatStyle, values::fromSigned(formatTag_));
    storedcolor::insert(d, key::color, presentationColor_);
    d.insert(key::lowTriggerEnabled, values::fromBool(lowThresholdTrigger_));
    d.insert(key::highTriggerEnabled, values::fromBool(highThresholdTrigger_));
    d.insert(key::lowThreshold, values::fromReal(lowThreshold_));
    d.insert(key::highThreshold, values::fromReal(highThreshold_));
    d.insert(key::sensorEnabled, values::fromBool(enabled_));
    if (const qint64 quantity = sensorDescription_ ? sensorDescription_->quantityType() : knownQuantityType_; quantity > 0)
        d.insert(key::quantityType, values::fromSigned(quantity));
    return d;
}

double TEVGauge::presentationValue() const
{
    if (!enabled_ || !clientConnection_)
        return missingValue;
    const qint64 raw = clientConnection_->cachedRawValueWithIdentifier(sensorIdentifier_);
    if (raw == -1)
        return missingValue;
    return presentationValueForRawValue(raw);
}

double TEVGauge::presentationValueForRawValue(qint64 rawValue) const
{
    if (rawValue == -1 || !valueConverter_)
        return missingValue;
    const double value = valueConverter_->valueForRawSensorValue(rawValue);
    if (sensorQuantityType() != kTemperature)
        return value;
    switch (preferredUnit) {
    case Fahrenheit:
    case FahrenheitWithCelsius:
        return celsiusToFahrenheit(value);
    case Kelvin:
        return celsiusToKelvin(value);
    default:
        return value;
    }
}

// --- Texts -------------------------------------------------------------------------------------------------

QString TEVGauge::localizedUnit() const
{
    if (!sensorDescription_)
        return {};
    return localizedUnitForUnit(sensorDescription_->unit(), sensorDescription_->quantityType());
}

QString TEVGauge::presentedLocation() const
{
    if (!sensorDescription_)
        return {};
    return presentedLocationForLocationIdentifier(sensorDescription_->locationIdentifier());
}

QString TEVGauge::localizedLocation() const
{
    if (!sensorDescription_)
        return {};
    // The presented (English) location is the key of the localised one.
    return localizedLocationForLocation(presentedLocation());
}

QString TEVGauge::localizedSensorType() const
{
    if (!sensorDescription_)
        return {};
    switch (sensorDescription_->sensorType()) {
    case 1: return localized(QStringLiteral("physical"));
    case 2: return localized(QStringLiteral("Software"));
    case 3: return localized(QStringLiteral("synthetic"));
    default: return localized(QStringLiteral("unknown"));
    }
}

QString TEVGauge::localizedQuantityType() const
{
    if (!sensorDescription_)
        return {};
    return localizedQuantityTypeForType(sensorDescription_->quantityType());
}

QString TEVGauge::localizedPrecision() const
{
    if (!sensorDescription_)
        return {};
    const double precision = sensorDescription_->precision();
    if (precision == 0.0)
        return localized(QStringLiteral("unknown"));
    // Precision and accuracy of a temperature are in degrees Celsius whatever the display unit.
    const QString unit = sensorQuantityType() == kTemperature ? localized(QStringLiteral("C")) : localizedUnit();
    return formatLocalized("%02.4f", precision) + QLatin1Char(' ') + unit;
}

QString TEVGauge::localizedAccuracy() const
{
    if (!sensorDescription_)
        return {};
    const double accuracy = sensorDescription_->accuracy();
    if (accuracy == 0.0)
        return localized(QStringLiteral("unknown"));
    const QString unit = sensorQuantityType() == kTemperature ? localized(QStringLiteral("C")) : localizedUnit();
    // The table's text is never handed to printf: only its number placeholder is filled here.
    QString format = localized(QStringLiteral("PLUSMINUS %02.4f %@"));
    const QString numberPlaceholder = QStringLiteral("%02.4f");
    const qsizetype at = format.indexOf(numberPlaceholder);
    if (at >= 0)
        format.replace(at, numberPlaceholder.size(), formatLocalized("%02.4f", accuracy));
    return TEVStringFormat::withObjects(format, {unit});
}

QString TEVGauge::localizedValue() const
{
    if (!clientConnection_)
        return {};
    if (!enabled_)
        return QStringLiteral("---");
    return localizedPresentationOfPresentationValue(presentationValue());
}

QString TEVGauge::localizedPresentationOfPresentationValue(double value) const
{
    if (value == missingValue || !enabled_)
        return QStringLiteral("---");
    Presentation made{std::bit_cast<quint64>(value), formatTag_, sensorQuantityType(), preferredUnit, sensorDescription_,
                      platform::Bundle::main(), QLocale(), QString()};
    const Presentation& last = lastPresentation_;
    if (!last.text.isNull() && last.valueBits == made.valueBits && last.formatTag == made.formatTag &&
        last.quantityType == made.quantityType && last.temperatureUnit == made.temperatureUnit &&
        last.description == made.description && last.bundle == made.bundle && last.locale == made.locale)
        return last.text;
    made.text = presentationText(value);
    lastPresentation_ = std::move(made);
    return lastPresentation_.text;
}

QString TEVGauge::presentationText(double value) const
{
    const QByteArray format = numberFormat(formatTag_);
    const bool temperature = sensorQuantityType() == kTemperature;
    // Temperature units follow the number directly ("45.0°C"), others after one blank. A temperature under
    // an unknown display unit has no unit text.
    const QString separator = temperature ? QString() : QStringLiteral(" ");
    QString text = formatLocalized(format, value) + separator + localizedUnit();
    if (temperature && (preferredUnit == CelsiusWithFahrenheit || preferredUnit == FahrenheitWithCelsius)) {
        const bool toFahrenheit = preferredUnit == CelsiusWithFahrenheit;
        const double other = toFahrenheit ? celsiusToFahrenheit(value) : fahrenheitToCelsius(value);
        const QString otherUnit = localized(toFahrenheit ? QStringLiteral("F") : QStringLiteral("C"));
        // The second value always with a decimal point.
        const QString second = TEVStringFormat::withNumber(format.constData(), other) + separator + otherUnit;
        text += QLatin1Char('/') + second.trimmed();
    }
    return text.trimmed();
}

QString TEVGauge::spokenStringForPresentationValue(double value, bool announceName) const
{
    if (!enabled_)
        return QStringLiteral("no value");
    const QString number = formatLocalized(numberFormat(formatTag_), value);
    if (!announceName)
        return number;
    return spokenName_ + QStringLiteral(": ") + number;
}

int TEVGauge::compare(const TEVGauge& other) const
{
    const qint64 mine = sensorQuantityType();
    const qint64 theirs = other.sensorQuantityType();
    if (mine != theirs)
        return mine < theirs ? -1 : 1;
    const int byName = QString::compare(customName_, other.customName_);
    return byName < 0 ? -1 : byName > 0 ? 1 : 0;
}

QString TEVGauge::description() const
{
    // Built by concatenation: names are user text and may hold placeholders of their own.
    return QString::fromLatin1(kClassName) + QStringLiteral(": identifier ") + sensorIdentifier_ +
           QStringLiteral(" machine: ") + (machineSerial_.isNull() ? QStringLiteral("<local>") : machineSerial_) +
           QStringLiteral(" connected: ") + yesNo(clientConnection_ != nullptr) +
           QStringLiteral(" sensor description: ") +
           (sensorDescription_ ? sensorDescription_->description() : QStringLiteral("-")) +
           QStringLiteral(" custom name: ") + customName_ + QStringLiteral(" short name: ") + shortName_ +
           QStringLiteral(" speech representation: ") + spokenName_ + QStringLiteral(" format: ") +
           QString::number(formatTag_) + QStringLiteral(" color: ") + colorText(presentationColor_) +
           QStringLiteral(" low threshold: ") + QString::asprintf("%f", lowThreshold_) + QStringLiteral(" active: ") +
           yesNo(lowThresholdTrigger_) + QStringLiteral(" high threshold: ") + QString::asprintf("%f", highThreshold_) +
           QStringLiteral(" active: ") + yesNo(highThresholdTrigger_) + QStringLiteral(" enabled: ") + yesNo(enabled_) +
           QLatin1Char('\n');
}
