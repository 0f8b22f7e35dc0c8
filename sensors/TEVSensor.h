#pragma once
// TEVSensor: root of every sensor of the local computer; carries its identity and defines how a live value
// is read (raw value through the class's converter). Sensors belong to the local acquisition core and live
// on the capture thread. The sensor classes are listed in a TEVSensorClassRegistry, filled before any
// thread starts.

#include "platform/foundation/Archivable.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace platform {
class Coder;
}

class TEVSensor;
class TEVSensorDescription;
class TEVSensorValueConverter;
struct TEVSensorClass;
using TEVSensorList = QList<std::shared_ptr<TEVSensor>>;

class TEVSensor : public platform::Archivable {
public:
    TEVSensor();
    ~TEVSensor() override = default;
    // Null when the archive does not hold a sensor.
    static std::shared_ptr<TEVSensor> createWithCoder(platform::Coder& coder);

    QString uniqueIdentifier() const { return uniqueIdentifier_; }
    QString locationIdentifier() const { return locationIdentifier_; }
    QString sensorName() const { return sensorName_; }
    qint64 sensorType() const { return sensorType_; }
    qint64 quantityType() const { return quantityType_; }
    double precision() const { return precision_; }
    double accuracy() const { return accuracy_; }

    void setUniqueIdentifier(const QString& identifier) { uniqueIdentifier_ = identifier; }
    void setLocationIdentifier(const QString& location) { locationIdentifier_ = location; }
    void setSensorName(const QString& name) { sensorName_ = name; }
    void setSensorType(qint64 type) { sensorType_ = type; }
    void setQuantityType(qint64 type) { quantityType_ = type; }
    void setPrecision(double precision, double accuracy);

    // Signed 64-bit fixed point of the current reading; -1 means no value.
    virtual qint64 rawValue() const { return 0; }
    virtual std::shared_ptr<TEVSensorValueConverter> valueConverter() const;
    virtual QString unit() const { return QStringLiteral(" "); }
    // Probe sensors bind to the sensors they compute from; the acquisition core calls this after every
    // rescan with the fresh list. Other sensors depend on nothing.
    virtual void resolveObjectDependenciesUsingSensorList(const TEVSensorList& sensors) { (void)sensors; }
    // The converter applied to rawValue(); a raw -1 is converted too, so callers test rawValue() first.
    double value() const;

    std::shared_ptr<TEVSensorDescription> configurationDescription() const;
    // Complement of the usual CRC-32 of the location's UTF-8 bytes; 0xFFFFFFFF for an empty location.
    quint32 substituteIDForLocationIdentifier() const;

    // Identity is the unique identifier alone, whatever the class.
    bool isEqual(const TEVSensor* other) const;
    bool operator==(const TEVSensor& other) const { return isEqual(&other); }
    size_t hash() const;
    // By quantity type, then location text: <0, 0 or >0.
    int compare(const TEVSensor& other) const;

    // A root-class sensor with this sensor's identity: raw value 0, unit " ".
    virtual std::shared_ptr<TEVSensor> copy() const;
    virtual QString description() const;

    QString className() const override { return QStringLiteral("TEVSensor"); }
    void encodeWithCoder(platform::Coder& coder) const override;

    // The class operations, on the process-wide TEVSensorClassRegistry.
    static bool registerSensorClass(const TEVSensorClass& sensorClass);
    static QList<TEVSensorClass> knownSensorClasses();
    static TEVSensorList allSensors();
    static TEVSensorList allNonSMARTSensors();

    // Removes from `dictionary` every key that `reference` lacks; either absent (null) changes nothing.
    template <typename Map, typename Reference>
    static void removeUnknownSensorEntriesFromDictionary(Map* dictionary, const Reference* reference);

protected:
    TEVSensor(const TEVSensor&) = default;
    TEVSensor& operator=(const TEVSensor&) = default;

private:
    struct Uninitialised {};
    explicit TEVSensor(Uninitialised) {}

    QString uniqueIdentifier_;
    QString locationIdentifier_;
    QString sensorName_;
    qint64 sensorType_ = 0;
    qint64 quantityType_ = 0;
    double precision_ = 0.0;
    double accuracy_ = 0.0;
};

// One concrete sensor class as the registry sees it: its name and its enumeration of the hardware.
struct TEVSensorClass {
    QString name;
    std::function<TEVSensorList()> allSensors; // new sensor objects on every call
};

// TEVSensorClassRegistry: the ordered list of sensor classes the acquisition core enumerates. Filled once at
// start-up (before any thread starts, in the classes' load order) and never emptied; not locked.
class TEVSensorClassRegistry {
public:
    // The process-wide registry; starts empty, the start-up code registers the concrete classes.
    static TEVSensorClassRegistry& shared();

    // Appends a class. A second class of the same name is refused (logged), since every enumeration
    // would then list its sensors twice.
    bool registerSensorClass(const TEVSensorClass& sensorClass);
    QList<TEVSensorClass> knownSensorClasses() const { return classes_; }

    // Every registered class's sensors, in registry order.
    TEVSensorList allSensors() const;
    // As allSensors, without the S.M.A.R.T. disk temperature sensors.
    TEVSensorList allNonSMARTSensors() const;

private:
    TEVSensorList collect(const QString* skippedClassName) const;

    QList<TEVSensorClass> classes_;
};

template <typename Map, typename Reference>
void TEVSensor::removeUnknownSensorEntriesFromDictionary(Map* dictionary, const Reference* reference)
{
    if (!dictionary || !reference)
        return;
    const auto keys = dictionary->keys();
    for (const auto& key : keys) {
        if (!reference->contains(key))
            dictionary->remove(key);
    }
}

size_t qHash(const TEVSensor& sensor, size_t seed = 0);
