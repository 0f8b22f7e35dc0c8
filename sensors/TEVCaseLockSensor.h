#pragma once
// TEVCaseLockSensor: the position of the case key switch ("Keyswitch" of an "AppleKeyswitch" registry
// entry), read live. Holds its entry. Capture thread.

#include "sensors/TEVIORegistryEntry.h"
#include "sensors/TEVSensor.h"

class TEVCaseLockSensor final : public TEVSensor {
public:
    // Null for an entry without "Keyswitch".
    static std::shared_ptr<TEVCaseLockSensor> create(std::shared_ptr<TEVIORegistryEntry> entry);

    static void load();
    // One per "AppleKeyswitch" service with "Keyswitch" in `registry` (the current one when null); all
    // share the identifier "apple.keyswitch.0".
    static TEVSensorList allSensors(TEVIORegistryEntry::Registry registry = nullptr);

    const std::shared_ptr<TEVIORegistryEntry>& sensorEntry() const { return entry_; }
    // "Keyswitch" now; -1 when missing.
    qint64 rawValue() const override;
    QString unit() const override { return QStringLiteral(""); }
    QString className() const override { return QStringLiteral("TEVCaseLockSensor"); }

    TEVCaseLockSensor() = default; // use create

private:
    std::shared_ptr<TEVIORegistryEntry> entry_;
};
