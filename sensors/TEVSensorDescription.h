#pragma once
// TEVSensorDescription: a sensor's identity without its live value, held by viewers and remote clients in
// place of the sensor. Never changed after creation, so it crosses threads freely as a copy or an archive.

#include "platform/foundation/Archivable.h"

#include <QString>

#include <memory>

namespace platform {
class Coder;
}

class TEVSensor;

class TEVSensorDescription final : public platform::Archivable {
public:
    // Null for an absent sensor.
    static std::shared_ptr<TEVSensorDescription> descriptionForSensor(const TEVSensor* sensor);
    static std::shared_ptr<TEVSensorDescription> createForSensor(const TEVSensor* sensor);
    // Null when the archive does not hold a description.
    static std::shared_ptr<TEVSensorDescription> createWithCoder(platform::Coder& coder);

    QString localIdentifier() const { return localIdentifier_; }
    QString locationIdentifier() const { return locationIdentifier_; }
    QString sensorName() const { return sensorName_; }
    QString unit() const { return unit_; }
    qint64 sensorType() const { return sensorType_; }
    qint64 quantityType() const { return quantityType_; }
    double precision() const { return precision_; }
    double accuracy() const { return accuracy_; }
    quint32 substituteIdentification() const { return substituteIdentification_; }

    std::shared_ptr<TEVSensorDescription> copy() const;
    QString description() const;
    bool operator==(const TEVSensorDescription& other) const;

    QString className() const override { return QStringLiteral("TEVSensorDescription"); }
    void encodeWithCoder(platform::Coder& coder) const override;

private:
    TEVSensorDescription() = default;

    QString localIdentifier_;
    QString locationIdentifier_;
    QString sensorName_;
    QString unit_;
    qint64 sensorType_ = 0;
    qint64 quantityType_ = 0;
    double precision_ = 0.0;
    double accuracy_ = 0.0;
    quint32 substituteIdentification_ = 0;
};
