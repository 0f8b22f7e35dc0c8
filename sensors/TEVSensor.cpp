#include "sensors/TEVSensor.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"
#include "sensors/SensorArchiving.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"

#include <QHash>

#include <array>

namespace {

constexpr auto kClassName = "TEVSensor";
const QString kSMARTTemperatureSensorClass = QStringLiteral("TEVSMARTTemperatureSensor");

KV_REGISTER_CLASS(QString::fromLatin1(kClassName), QStringLiteral("NSObject"), 0,
    [](platform::Coder& coder) -> platform::ObjectRef { return TEVSensor::createWithCoder(coder); });

// The standard reflected CRC-32 table (polynomial 0xEDB88320).
constexpr std::array<quint32, 256> makeCrcTable()
{
    std::array<quint32, 256> table{};
    for (quint32 n = 0; n < 256; ++n) {
        quint32 c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

constexpr auto kCrcTable = makeCrcTable();

} // namespace

TEVSensor::TEVSensor()
    : uniqueIdentifier_(QStringLiteral("nil"))
    , locationIdentifier_(QStringLiteral("UNKNOWN LOCATION"))
    , sensorName_(QStringLiteral("Unknown"))
{
}

void TEVSensor::setPrecision(double precision, double accuracy)
{
    precision_ = precision;
    accuracy_ = accuracy;
}

std::shared_ptr<TEVSensorValueConverter> TEVSensor::valueConverter() const
{
    return std::make_shared<TEVSensorValueConverter>();
}

double TEVSensor::value() const
{
    return valueConverter()->valueForRawSensorValue(rawValue());
}

std::shared_ptr<TEVSensorDescription> TEVSensor::configurationDescription() const
{
    return TEVSensorDescription::descriptionForSensor(this);
}

quint32 TEVSensor::substituteIDForLocationIdentifier() const
{
    // Start value 0xFFFFFFFF and no final inversion, so existing gauge settings keep their identifiers.
    quint32 crc = 0xFFFFFFFFu;
    const QByteArray bytes = locationIdentifier_.toUtf8();
    for (const char byte : bytes)
        crc = (crc >> 8) ^ kCrcTable[(crc ^ quint8(byte)) & 0xFF];
    return crc;
}

bool TEVSensor::isEqual(const TEVSensor* other) const
{
    return other && other->uniqueIdentifier_ == uniqueIdentifier_;
}

size_t TEVSensor::hash() const
{
    return ::qHash(uniqueIdentifier_);
}

size_t qHash(const TEVSensor& sensor, size_t seed)
{
    return ::qHash(sensor.uniqueIdentifier(), seed);
}

int TEVSensor::compare(const TEVSensor& other) const
{
    if (quantityType_ != other.quantityType_)
        return quantityType_ < other.quantityType_ ? -1 : 1;
    const int order = locationIdentifier_.compare(other.locationIdentifier_);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::shared_ptr<TEVSensor> TEVSensor::copy() const
{
    // Always the root class: a copy is the identity, not a second reader of the hardware.
    return std::shared_ptr<TEVSensor>(new TEVSensor(*this));
}

QString TEVSensor::description() const
{
    const qint64 raw = rawValue();
    return QString::asprintf("<%s>: ID: %s Name: %s Location: %s type: %lld quantity: %lld precision: %g accuracy: %g "
                             "(%llx: %lld --> %5.2f)\n",
        qUtf8Printable(className()), qUtf8Printable(uniqueIdentifier_), qUtf8Printable(sensorName_),
        qUtf8Printable(locationIdentifier_), static_cast<long long>(sensorType_),
        static_cast<long long>(quantityType_), precision_, accuracy_,
        static_cast<unsigned long long>(substituteIDForLocationIdentifier()), static_cast<long long>(raw),
        valueConverter()->valueForRawSensorValue(raw));
}

void TEVSensor::encodeWithCoder(platform::Coder& coder) const
{
    coder.encodeObject(platform::values::fromString(uniqueIdentifier_));
    coder.encodeObject(platform::values::fromString(locationIdentifier_));
    coder.encodeObject(platform::values::fromString(sensorName_));
    coder.encodeValueOfObjCType("q", &sensorType_);
    coder.encodeValueOfObjCType("q", &quantityType_);
    // The archive keeps single precision only.
    const float precision = float(precision_);
    const float accuracy = float(accuracy_);
    coder.encodeValueOfObjCType("f", &precision);
    coder.encodeValueOfObjCType("f", &accuracy);
}

std::shared_ptr<TEVSensor> TEVSensor::createWithCoder(platform::Coder& coder)
{
    const auto reject = [&coder](const QString& reason) -> std::shared_ptr<TEVSensor> {
        coder.failWithReason(QString::fromLatin1(kClassName) + QStringLiteral(": ") + reason);
        return nullptr;
    };

    // No defaults apply: every field comes from the archive.
    std::shared_ptr<TEVSensor> sensor(new TEVSensor(Uninitialised{}));
    // A nil string stays a null QString.
    if (const QString failure = decodeArchivedStrings(
            coder, {&sensor->uniqueIdentifier_, &sensor->locationIdentifier_, &sensor->sensorName_});
        !failure.isNull())
        return reject(failure);
    float precision = 0;
    float accuracy = 0;
    if (!coder.decodeValueOfObjCType("q", &sensor->sensorType_) || !coder.decodeValueOfObjCType("q", &sensor->quantityType_)
        || !coder.decodeValueOfObjCType("f", &precision) || !coder.decodeValueOfObjCType("f", &accuracy))
        return reject(QStringLiteral("truncated archive"));
    sensor->precision_ = double(precision);
    sensor->accuracy_ = double(accuracy);
    return sensor;
}

bool TEVSensor::registerSensorClass(const TEVSensorClass& sensorClass)
{
    return TEVSensorClassRegistry::shared().registerSensorClass(sensorClass);
}

QList<TEVSensorClass> TEVSensor::knownSensorClasses()
{
    return TEVSensorClassRegistry::shared().knownSensorClasses();
}

TEVSensorList TEVSensor::allSensors()
{
    return TEVSensorClassRegistry::shared().allSensors();
}

TEVSensorList TEVSensor::allNonSMARTSensors()
{
    return TEVSensorClassRegistry::shared().allNonSMARTSensors();
}

TEVSensorClassRegistry& TEVSensorClassRegistry::shared()
{
    static TEVSensorClassRegistry registry;
    return registry;
}

bool TEVSensorClassRegistry::registerSensorClass(const TEVSensorClass& sensorClass)
{
    for (const auto& known : classes_) {
        if (known.name == sensorClass.name) {
            platform::log(QStringLiteral("TEVSensor: class %1 is already registered\n").arg(sensorClass.name));
            return false;
        }
    }
    classes_.append(sensorClass);
    return true;
}

TEVSensorList TEVSensorClassRegistry::collect(const QString* skippedClassName) const
{
    TEVSensorList sensors;
    for (const auto& sensorClass : classes_) {
        if ((skippedClassName && sensorClass.name == *skippedClassName) || !sensorClass.allSensors)
            continue;
        sensors.append(sensorClass.allSensors());
    }
    return sensors;
}

TEVSensorList TEVSensorClassRegistry::allSensors() const
{
    return collect(nullptr);
}

TEVSensorList TEVSensorClassRegistry::allNonSMARTSensors() const
{
    return collect(&kSMARTTemperatureSensorClass);
}
