#pragma once
// TEVSMCFanSensor: one SMC fan's actual speed in revolutions per minute, found by the fan count "FNum" and
// the fan's "F<c>Ac/Mn/Mx" keys. Made by each enumeration, owned by the acquisition core; capture thread.

#include "sensors/TEVSMCSensorSupport.h"
#include "sensors/TEVSensor.h"

#include <QChar>
#include <QVariantList>

#include <optional>

class TEVSMCFanSensor final : public TEVSensor {
public:
    using Controller = smcsensor::Controller;

    // Registers the class in the process-wide sensor class registry.
    static bool load();
    // The fans of the shared controller; empty without one.
    static TEVSensorList allSensors();
    // Identifiers are unique within the list: a fan whose name repeats one already listed falls back to its
    // index form, and a fan whose index form is taken as well is left out.
    static TEVSensorList allSensors(const Controller& smc);

    // Null when the index has no key character (above 35) or the fan lacks an actual, minimum or maximum key.
    static std::shared_ptr<TEVSMCFanSensor> createForFanAtIndex(quint64 index);
    static std::shared_ptr<TEVSMCFanSensor> createForFanAtIndex(quint64 index, Controller smc);

    QChar fanCode() const { return fanCode_; }
    quint64 fanIndex() const { return index_; }

    // Truncated toward zero; -1 when the actual-speed key gives no number.
    qint64 rawValue() const override;
    QString unit() const override { return QStringLiteral("RPM"); }
    std::shared_ptr<TEVSensorValueConverter> valueConverter() const override;

    // {maximum, minimum} as the SMC gives them; nothing unless both are numbers.
    std::optional<QVariantList> sensorLimitsArray() const;
    QString unifiedSensorLocation() const;

    QString className() const override { return QStringLiteral("TEVSMCFanSensor"); }

private:
    TEVSMCFanSensor(Controller smc, quint64 index, QChar code);
    QString key(const char* suffix) const;
    // The "smc.fan.<index>" / "SMC FAN <index>" form, used when the fan has no usable name.
    void useIndexIdentity();

    Controller smc_;
    quint64 index_ = 0;
    QChar fanCode_ = QLatin1Char('0');
};
