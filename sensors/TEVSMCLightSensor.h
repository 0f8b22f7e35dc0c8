#pragma once
// TEVSMCLightSensor: an ambient light sensor of the SMC ("ALV<d>" keys). Made by each enumeration, owned by
// the acquisition core; capture thread.

#include "sensors/TEVSMCSensorSupport.h"
#include "sensors/TEVSensor.h"

class TEVSMCLightSensor final : public TEVSensor {
public:
    using Controller = smcsensor::Controller;

    static bool load();
    static TEVSensorList allSensors();
    static TEVSensorList allSensors(const Controller& smc);

    // Null without a controller, for a key whose fourth character is no digit, or when it does not read
    // above 0.
    static std::shared_ptr<TEVSMCLightSensor> createForLightSensorWithKey(const QString& key);
    static std::shared_ptr<TEVSMCLightSensor> createForLightSensorWithKey(const QString& key, Controller smc);

    QString smcKey() const { return smcKey_; }

    // A number: its low 16 bits shifted right by 7. Ten bytes of raw data: bytes 2-3, big-endian, unshifted.
    // Anything else -1.
    qint64 rawValue() const override;
    std::shared_ptr<TEVSensorValueConverter> valueConverter() const override;

    QString className() const override { return QStringLiteral("TEVSMCLightSensor"); }

private:
    TEVSMCLightSensor(Controller smc, QString key);

    Controller smc_;
    QString smcKey_;
};
