#pragma once
// Archive helpers and a fan-like sensor for the sensor tests.

#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/SequentialArchiver.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVSensor.h"
#include "sensors/TEVSensorValueConverter.h"

#include <functional>
#include <memory>

namespace sensortest {

// Stands in for a concrete sensor class: a fixed raw value and a linear converter.
class FanLikeSensor final : public TEVSensor {
public:
    explicit FanLikeSensor(qint64 raw = 1500, qint64 functionType = 0, double factor = 1.0)
        : raw_(raw), functionType_(functionType), factor_(factor)
    {
        setUniqueIdentifier(QStringLiteral("F0Ac"));
        setLocationIdentifier(QStringLiteral("SMC FAN 0"));
        setSensorName(QStringLiteral("System Management Controller"));
        setSensorType(1);
        setQuantityType(6);
        setPrecision(0.25, 0.0);
    }
    qint64 rawValue() const override { return raw_; }
    QString unit() const override { return QStringLiteral("rpm"); }
    std::shared_ptr<TEVSensorValueConverter> valueConverter() const override
    {
        auto converter = std::make_shared<TEVSensorValueConverter>();
        converter->setConversionFunctionType(functionType_);
        converter->setLinearFactor(factor_);
        return converter;
    }
    QString className() const override { return QStringLiteral("FanLikeSensor"); }

private:
    qint64 raw_;
    qint64 functionType_;
    double factor_;
};

enum class ArchiveKind { Keyed, Sequential };

inline const char* archiveKindName(ArchiveKind kind)
{
    return kind == ArchiveKind::Keyed ? "keyed" : "sequential";
}

inline QByteArray archive(ArchiveKind kind, const platform::ObjectRef& object)
{
    const QVariant root = platform::values::fromObject(object);
    return kind == ArchiveKind::Keyed ? platform::KeyedArchiver::archivedDataWithRootObject(root)
                                      : platform::SequentialArchiver::archivedDataWithRootObject(root);
}

inline QVariant unarchive(ArchiveKind kind, const QByteArray& data, const platform::UnarchiveOptions& options)
{
    return kind == ArchiveKind::Keyed ? platform::KeyedUnarchiver::unarchiveObjectWithData(data, options)
                                      : platform::SequentialUnarchiver::unarchiveObjectWithData(data, options);
}

template <typename T>
std::shared_ptr<T> roundTrip(ArchiveKind kind, const platform::ObjectRef& object, const QString& className)
{
    platform::UnarchiveOptions options;
    options.allowedClasses = {className};
    return platform::objectAs<T>(platform::values::toObject(unarchive(kind, archive(kind, object), options)));
}

// The archive decoded without the registry: {"$class": name, "$0": first coded value, ...}.
inline QVariantMap generic(ArchiveKind kind, const platform::ObjectRef& object)
{
    platform::UnarchiveOptions options;
    options.generic = true;
    return unarchive(kind, archive(kind, object), options).toMap();
}

// Writes whatever `encode` writes under another class's name, to feed that class's decoder bad input.
class ForgedArchive final : public platform::Archivable {
public:
    ForgedArchive(QString name, std::function<void(platform::Coder&)> encode)
        : name_(std::move(name)), encode_(std::move(encode))
    {
    }
    QString className() const override { return name_; }
    void encodeWithCoder(platform::Coder& coder) const override { encode_(coder); }

private:
    QString name_;
    std::function<void(platform::Coder&)> encode_;
};

} // namespace sensortest
