#pragma once
// TEVSensorValueConverter: turns a sensor's raw value (signed 64-bit fixed point) into its physical value.
// Built by the sensor class that hands it out, then never changed; passed between threads as a copy or
// an archive.

#include "platform/foundation/Archivable.h"

#include <QString>

#include <memory>

namespace platform {
class Coder;
}

class TEVSensorValueConverter final : public platform::Archivable {
public:
    enum FunctionType : qint64 { Identity = 0, LinearFactor = 1 };

    TEVSensorValueConverter() = default;
    // Null when the archive does not hold a converter.
    static std::shared_ptr<TEVSensorValueConverter> createWithCoder(platform::Coder& coder);

    qint64 functionType() const { return functionType_; }
    double linearFactor() const { return linearFactor_; }
    void setConversionFunctionType(qint64 functionType) { functionType_ = functionType; }
    void setLinearFactor(double linearFactor) { linearFactor_ = linearFactor; }

    // -1 ("no value") converts like any other raw value: callers filter it first. Unknown kinds give 0.0.
    double valueForRawSensorValue(qint64 rawValue) const;

    std::shared_ptr<TEVSensorValueConverter> copy() const;
    QString description() const;
    bool operator==(const TEVSensorValueConverter& other) const;

    QString className() const override { return QStringLiteral("TEVSensorValueConverter"); }
    void encodeWithCoder(platform::Coder& coder) const override;

private:
    qint64 functionType_ = Identity;
    double linearFactor_ = 1.0;
};
