#pragma once
// One sensor "S1" of a given kind and unit whose raw values are hundredths of that unit, as a gauge's source,
// for the window tests and benchmarks that draw gauges without a monitoring client.

#include "sensors/TEVSensor.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"

#include <memory>

namespace kelvaro::test {

class FakeSensorSource : public TEVSensorSource {
public:
    FakeSensorSource(qint64 quantity, const QString& unit)
    {
        UnitSensor sensor;
        sensor.setUniqueIdentifier(QStringLiteral("S1"));
        sensor.setLocationIdentifier(QStringLiteral("Fan"));
        sensor.setQuantityType(quantity);
        sensor.setSensorType(1);
        sensor.setPrecision(1.0, 0.5);
        sensor.unit_ = unit;
        description_ = sensor.configurationDescription();
        converter_ = std::make_shared<TEVSensorValueConverter>();
        converter_->setConversionFunctionType(TEVSensorValueConverter::LinearFactor);
        converter_->setLinearFactor(0.01);
    }
    QString clientIdentification() const override { return QStringLiteral("C02"); }
    QString machineSerialNumber() override { return QStringLiteral("C02"); }
    QString machineName() override { return QStringLiteral("Test computer"); }
    std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString&) override { return description_; }
    std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString&) override { return converter_; }
    qint64 cachedRawValueWithIdentifier(const QString&) override { return 0; }
    void disableLocalAccess(bool, const QString&) override {}

private:
    class UnitSensor : public TEVSensor {
    public:
        QString unit() const override { return unit_; }
        QString unit_;
    };

    std::shared_ptr<TEVSensorDescription> description_;
    std::shared_ptr<TEVSensorValueConverter> converter_;
};

} // namespace kelvaro::test
