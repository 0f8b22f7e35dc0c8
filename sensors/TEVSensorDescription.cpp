#include "sensors/TEVSensorDescription.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"
#include "sensors/SensorArchiving.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVSensor.h"

namespace {

constexpr auto kClassName = "TEVSensorDescription";

KV_REGISTER_CLASS(QString::fromLatin1(kClassName), QStringLiteral("NSObject"), 0,
    [](platform::Coder& coder) -> platform::ObjectRef { return TEVSensorDescription::createWithCoder(coder); });

} // namespace

std::shared_ptr<TEVSensorDescription> TEVSensorDescription::descriptionForSensor(const TEVSensor* sensor)
{
    return createForSensor(sensor);
}

std::shared_ptr<TEVSensorDescription> TEVSensorDescription::createForSensor(const TEVSensor* sensor)
{
    if (!sensor)
        return nullptr;
    std::shared_ptr<TEVSensorDescription> d(new TEVSensorDescription);
    d->localIdentifier_ = sensor->uniqueIdentifier();
    d->locationIdentifier_ = sensor->locationIdentifier();
    d->sensorName_ = sensor->sensorName();
    d->unit_ = sensor->unit();
    d->sensorType_ = sensor->sensorType();
    d->quantityType_ = sensor->quantityType();
    d->precision_ = sensor->precision();
    d->accuracy_ = sensor->accuracy();
    d->substituteIdentification_ = sensor->substituteIDForLocationIdentifier();
    return d;
}

std::shared_ptr<TEVSensorDescription> TEVSensorDescription::copy() const
{
    return std::shared_ptr<TEVSensorDescription>(new TEVSensorDescription(*this));
}

QString TEVSensorDescription::description() const
{
    return QString::asprintf("local identifier: '%s' location identifier: '%s' sensor name: '%s' unit: '%s' type: %lld "
                             "quantity: %lld precision: %g accuracy: %g substitute ID: %u",
        qUtf8Printable(localIdentifier_), qUtf8Printable(locationIdentifier_), qUtf8Printable(sensorName_),
        qUtf8Printable(unit_), static_cast<long long>(sensorType_), static_cast<long long>(quantityType_), precision_,
        accuracy_, static_cast<unsigned>(substituteIdentification_));
}

bool TEVSensorDescription::operator==(const TEVSensorDescription& other) const
{
    return localIdentifier_ == other.localIdentifier_ && locationIdentifier_ == other.locationIdentifier_
        && sensorName_ == other.sensorName_ && unit_ == other.unit_ && sensorType_ == other.sensorType_
        && quantityType_ == other.quantityType_ && precision_ == other.precision_ && accuracy_ == other.accuracy_
        && substituteIdentification_ == other.substituteIdentification_;
}

void TEVSensorDescription::encodeWithCoder(platform::Coder& coder) const
{
    coder.encodeObject(platform::values::fromString(localIdentifier_));
    coder.encodeObject(platform::values::fromString(locationIdentifier_));
    coder.encodeObject(platform::values::fromString(sensorName_));
    coder.encodeObject(platform::values::fromString(unit_));
    coder.encodeValueOfObjCType("q", &sensorType_);
    coder.encodeValueOfObjCType("q", &quantityType_);
    coder.encodeValueOfObjCType("d", &precision_);
    coder.encodeValueOfObjCType("d", &accuracy_);
    coder.encodeValueOfObjCType("I", &substituteIdentification_);
}

std::shared_ptr<TEVSensorDescription> TEVSensorDescription::createWithCoder(platform::Coder& coder)
{
    const auto reject = [&coder](const QString& reason) -> std::shared_ptr<TEVSensorDescription> {
        coder.failWithReason(QString::fromLatin1(kClassName) + QStringLiteral(": ") + reason);
        return nullptr;
    };

    std::shared_ptr<TEVSensorDescription> d(new TEVSensorDescription);
    // A nil string stays a null QString.
    if (const QString failure = decodeArchivedStrings(
            coder, {&d->localIdentifier_, &d->locationIdentifier_, &d->sensorName_, &d->unit_});
        !failure.isNull())
        return reject(failure);
    if (!coder.decodeValueOfObjCType("q", &d->sensorType_) || !coder.decodeValueOfObjCType("q", &d->quantityType_)
        || !coder.decodeValueOfObjCType("d", &d->precision_) || !coder.decodeValueOfObjCType("d", &d->accuracy_)
        || !coder.decodeValueOfObjCType("I", &d->substituteIdentification_))
        return reject(QStringLiteral("truncated archive"));
    return d;
}
