#pragma once
// TEVGauge: the user's presentation of one sensor of one monitored computer (names, number format, colour,
// alert thresholds) and the turn of its raw values into presentation values and texts in the user's
// temperature unit. Owned by the per-computer preferences, shared by the output channels; main thread only.

#include "acquisition/TEVSensorSource.h"
#include "platform/foundation/Color.h"

#include <QLocale>
#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <limits>
#include <memory>

class TEVSensorDescription;
class TEVSensorValueConverter;
namespace platform {
class Bundle;
}

class TEVGauge {
public:
    using Client = std::shared_ptr<TEVSensorSource>;

    // Presentation value of a gauge without a reading (shown "---").
    static constexpr double missingValue = std::numeric_limits<double>::min();

    // Codes of the process-wide temperature display unit; the first unit named is the primary one, in which
    // presentation values and thresholds are given.
    enum TemperatureDisplayUnit : qint64 {
        Celsius = 0,
        Fahrenheit = 1,
        Kelvin = 2,
        CelsiusWithFahrenheit = 3,
        FahrenheitWithCelsius = 4,
    };

    static qint64 defaultFormatTagForQuantityType(qint64 quantityType);
    // In the primary unit of the current display unit.
    static double defaultLowThresholdForQuantityType(qint64 quantityType);
    static double defaultHighThresholdForQuantityType(qint64 quantityType);
    // The first five characters upper-cased; null for null.
    static QString shortNameSuggestionForName(const QString& name);
    // From the "SensorLocations" table, else the identifier; null for null.
    static QString presentedLocationForLocationIdentifier(const QString& locationIdentifier);
    // From the default table, else the location; null for null.
    static QString localizedLocationForLocation(const QString& location);
    // Null for a null unit, and for a temperature under a display unit outside 0..4.
    static QString localizedUnitForUnit(const QString& unit, qint64 quantityType);
    static QString localizedQuantityTypeForType(qint64 quantityType);
    static void setPreferredTemperatureDisplayUnit(qint64 unit);
    static qint64 preferredTemperatureDisplayUnit();

    // Universal gauge identifier: the sensor identifier on the local computer, "remote.<client
    // identification>.<sensor identifier>" on a remote one.
    static bool isUniversalGaugeIdentifierIndicatingRemoteSensor(const QString& identifier);
    // Null when the identifier or the client is null.
    static QString universalGaugeIdentifierForSensorIdentifier(const QString& sensorIdentifier, const Client& client,
                                                              bool local);
    // Splits a remote identifier at the first "." after the prefix; either out pointer may be null.
    static bool getSensorIdentifier(QString* sensorIdentifier, QString* serialNumber,
                                    const QString& remoteGaugeIdentifier);

    TEVGauge();
    // Null when the identifier is empty, the client null, or the client knows no serial number, description
    // or converter for the sensor.
    static std::shared_ptr<TEVGauge> createForSensorIdentifierConnectingToClient(const QString& sensorIdentifier,
                                                                                 const Client& client);
    // A stored gauge, not connected. Null for a null identifier or a dictionary that is not a dictionary.
    static std::shared_ptr<TEVGauge> createForSensorIdentifierPreferenceDictionary(
        const QString& sensorIdentifier, const QVariant& preferenceDictionary);

    // Null disconnects: client, converter and description are dropped.
    void connectToClient(const Client& client);

    // Null names and colours are ignored; the other setters store their value unchanged.
    void setCustomName(const QString& name);
    void setShortName(const QString& name);
    void setSpokenName(const QString& name);
    void setPresentationColor(const std::shared_ptr<platform::Color>& color);
    void setFormatTag(qint64 formatTag);
    void enableLowThresholdAlert(bool enable);
    void enableHighThresholdAlert(bool enable);
    void setLowThreshold(double threshold);
    void setHighThreshold(double threshold);
    void setAlertState(bool alerting);
    // A connected client stops (or resumes) reading the sensor locally.
    void setEnabled(bool enabled);
    // Thresholds from the primary unit of one display unit to that of another; temperature gauges only,
    // connected or not.
    void changeTemperatureTriggerUnitFrom(qint64 oldUnit, qint64 newUnit);

    QString sensorIdentifier() const { return sensorIdentifier_; }
    QString serialNumberOfMachine() const { return machineSerial_; }
    Client connectedMonitoringClient() const { return clientConnection_; }
    std::shared_ptr<TEVSensorValueConverter> valueConverter() const;
    std::shared_ptr<TEVSensorDescription> sensorDescription() const;
    QString customName() const { return customName_; }
    QString shortName() const { return shortName_; }
    QString spokenName() const { return spokenName_; }
    // Immutable, so shared rather than copied.
    std::shared_ptr<platform::Color> presentationColor() const { return presentationColor_; }
    qint64 formatTag() const { return formatTag_; }
    bool isEnabledLowThresholdAlert() const { return lowThresholdTrigger_; }
    bool isEnabledHighThresholdAlert() const { return highThresholdTrigger_; }
    double lowThreshold() const { return lowThreshold_; }
    double highThreshold() const { return highThreshold_; }
    bool isInAlertState() const { return alertState_; }
    bool isEnabled() const { return enabled_; }

    // 0 without description.
    qint64 sensorQuantityType() const;
    QString sensorName() const;
    // Null without client.
    QString machineName() const;
    bool isReadyAndConnected() const;
    // The name of the quantity's image resource.
    QString iconForSensorQuantityType() const;

    QVariantMap preferenceDictionary() const;

    double presentationValue() const;
    double presentationValueForRawValue(qint64 rawValue) const;

    // Null without description.
    QString localizedUnit() const;
    QString presentedLocation() const;
    QString localizedLocation() const;
    QString localizedSensorType() const;
    QString localizedQuantityType() const;
    QString localizedPrecision() const;
    QString localizedAccuracy() const;
    // Null without client.
    QString localizedValue() const;
    QString localizedPresentationOfPresentationValue(double value) const;
    QString spokenStringForPresentationValue(double value, bool announceName) const;

    // Negative, zero or positive: by quantity type, then by custom name.
    int compare(const TEVGauge& other) const;
    QString description() const;

private:
    QString presentationText(double value) const;

    QString sensorIdentifier_;
    qint64 knownQuantityType_ = 0; // of the description last seen, or as stored
    QString machineSerial_;
    Client clientConnection_;
    std::shared_ptr<TEVSensorValueConverter> valueConverter_;
    std::shared_ptr<TEVSensorDescription> sensorDescription_;
    QString customName_;
    QString shortName_;
    QString spokenName_;
    qint64 formatTag_ = 1;
    std::shared_ptr<platform::Color> presentationColor_;
    bool lowThresholdTrigger_ = false;
    bool highThresholdTrigger_ = true;
    double lowThreshold_ = 0.0;
    double highThreshold_ = 9999.0;
    bool alertState_ = false;
    bool enabled_ = true;
    // The last text of a value and all it was made from: most values read every tick as they did before.
    struct Presentation {
        quint64 valueBits = 0;
        qint64 formatTag = 0;
        qint64 quantityType = 0;
        qint64 temperatureUnit = 0;
        std::shared_ptr<TEVSensorDescription> description;
        std::shared_ptr<const platform::Bundle> bundle;
        QLocale locale;
        QString text; // null: none made yet
    };
    mutable Presentation lastPresentation_;
};
