#pragma once
// TEVSMCElectricSensor: an SMC voltage, current or power key ("V", "I", "P") that the known-key tables
// describe for this model; raw values are 16.16 fixed point. Made by each enumeration, owned by the
// acquisition core; capture thread.

#include "sensors/TEVSMCSensorSupport.h"
#include "sensors/TEVSensor.h"

class TEVSMCElectricSensor final : public TEVSensor {
public:
    using Controller = smcsensor::Controller;
    using DescriptionLookup = smcsensor::DescriptionLookup;

    static bool load();
    static TEVSensorList allSensors();
    static TEVSensorList allSensors(const Controller& smc, const DescriptionLookup& lookup);
    // {"SMCKey", "LocationID", "UniqueID", "Quantity"} for the local model; nothing for an unknown key.
    static std::optional<QVariantMap> knownSMCSensorDescriptionForKey(const QString& key);
    // The local machine's processor chip count, kept once known (a count of 0 is asked again next time).
    static quint64 numberOfPhysicalx86Chips();

    // Null without a controller, for a negative reading, a GPU line at or below 0.1, or an integer key:
    // only floating and fixed-point keys measure finely enough.
    static std::shared_ptr<TEVSMCElectricSensor> createWithSensorDescription(const QVariantMap& description);
    static std::shared_ptr<TEVSMCElectricSensor> createWithSensorDescription(const QVariantMap& description,
                                                                             Controller smc);

    QString smcKey() const { return smcKey_; }

    // The reading × 65536, truncated toward zero; -1 when the key gives no number.
    qint64 rawValue() const override;
    // "V", "A" or "W" by quantity type (2, 3, 4); empty for any other.
    QString unit() const override;
    std::shared_ptr<TEVSensorValueConverter> valueConverter() const override;

    QString className() const override { return QStringLiteral("TEVSMCElectricSensor"); }

private:
    TEVSMCElectricSensor(Controller smc, QString key);

    Controller smc_;
    QString smcKey_;
};
