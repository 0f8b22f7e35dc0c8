#pragma once
// TEVSMCTemperatureSensor: an SMC temperature key ("T...") that the known-key tables describe for this
// model, in whole degrees Celsius. Made by each enumeration, owned by the acquisition core; capture thread.

#include "sensors/TEVSMCSensorSupport.h"
#include "sensors/TEVSensor.h"

class TEVSMCTemperatureSensor final : public TEVSensor {
public:
    using Controller = smcsensor::Controller;
    using DescriptionLookup = smcsensor::DescriptionLookup;

    static bool load();
    // The known temperature keys of the shared controller, described for the local model.
    static TEVSensorList allSensors();
    static TEVSensorList allSensors(const Controller& smc, const DescriptionLookup& lookup);
    // {"SMCKey", "LocationID", "UniqueID"} for the local model; nothing for an unknown key.
    static std::optional<QVariantMap> knownSMCSensorDescriptionForKey(const QString& key);

    // Null without a controller, with a description lacking its texts, or when the key does not read above 0.
    static std::shared_ptr<TEVSMCTemperatureSensor> createWithSensorDescription(const QVariantMap& description);
    static std::shared_ptr<TEVSMCTemperatureSensor> createWithSensorDescription(const QVariantMap& description,
                                                                                Controller smc);

    QString smcKey() const { return smcKey_; }

    // Truncated toward zero; -1 for no number and for -128 to -124, the SMC's "no reading" values.
    qint64 rawValue() const override;
    QString unit() const override { return QStringLiteral("C"); }
    std::shared_ptr<TEVSensorValueConverter> valueConverter() const override;

    QString className() const override { return QStringLiteral("TEVSMCTemperatureSensor"); }

private:
    TEVSMCTemperatureSensor(Controller smc, QString key);

    Controller smc_;
    QString smcKey_;
};
