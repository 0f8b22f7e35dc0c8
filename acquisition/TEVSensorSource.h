#pragma once
// TEVSensorSource: what a gauge asks of the monitoring client of its computer: the computer's identity and,
// per sensor, its description, value converter and last raw value. TEVMonitoringClient implements it;
// the calls are made on the main thread.

#include <QString>

#include <memory>

class TEVSensorDescription;
class TEVSensorValueConverter;

class TEVSensorSource {
public:
    virtual ~TEVSensorSource() = default;

    // Null until the computer reported its serial number ("." escaped as "\D", "\" as "\\").
    virtual QString clientIdentification() const = 0;
    virtual QString machineSerialNumber() = 0;
    virtual QString machineName() = 0;
    // Null when the sensor is not known.
    virtual std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString& identifier) = 0;
    virtual std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString& identifier) = 0;
    // -1 when there is none.
    virtual qint64 cachedRawValueWithIdentifier(const QString& identifier) = 0;
    virtual void disableLocalAccess(bool disable, const QString& identifier) = 0;

protected:
    TEVSensorSource() = default;
    TEVSensorSource(const TEVSensorSource&) = default;
    TEVSensorSource& operator=(const TEVSensorSource&) = default;
};
