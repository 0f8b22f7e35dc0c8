#pragma once
// OutputCacheEntry: one sensor's value of the current update, filled once per tick from its gauge and read
// by every output channel and the speech, so that all show the same value. Owned by the controller's output
// cache; main thread only.

#include <QString>

#include <memory>

class TEVGauge;

class OutputCacheEntry {
public:
    // Takes the gauge's value and text when the gauge is ready and connected; otherwise the entry keeps
    // what it had (a sensor that drops out for a tick still shows its last value).
    void cacheCurrentValueFromGauge(const std::shared_ptr<TEVGauge>& gauge);
    void cacheSpokenValue(double value) { lastSpokenValue_ = value; }

    bool hasValue() const { return !stringRepresentation_.isNull() && connectedGauge_ != nullptr; }
    double currentValue() const { return value_; }
    double lastSpokenValue() const { return lastSpokenValue_; }
    QString stringRepresentation() const { return stringRepresentation_; }
    std::shared_ptr<TEVGauge> connectedGauge() const { return connectedGauge_; }

    QString description() const;

private:
    double value_ = 0.0;
    double lastSpokenValue_ = 0.0;
    QString stringRepresentation_;
    std::shared_ptr<TEVGauge> connectedGauge_;
};
