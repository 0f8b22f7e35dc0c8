#pragma once
// Gauges over one scripted sensor, fake controllers and displays that record what they are told.

#include "app/model/OutputCacheEntry.h"
#include "app/model/TEVGauge.h"
#include "lcd/TEVLCDDisplay.h"
#include "sensors/TEVSensor.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSensorValueConverter.h"

#include <QStringList>

#include <cmath>

namespace lcdtest {

// One sensor whose raw values are hundredths of its unit; raw -1 is no value.
class ScriptedSource final : public TEVSensorSource {
public:
    ScriptedSource(qint64 quantity, const QString& unit)
    {
        struct UnitSensor : TEVSensor {
            QString unit_;
            QString unit() const override { return unit_; }
        } sensor;
        sensor.setUniqueIdentifier(QStringLiteral("S1"));
        sensor.setLocationIdentifier(QStringLiteral("Fan"));
        sensor.setQuantityType(quantity);
        sensor.unit_ = unit;
        description_ = sensor.configurationDescription();
        converter_ = std::make_shared<TEVSensorValueConverter>();
        converter_->setConversionFunctionType(TEVSensorValueConverter::LinearFactor);
        converter_->setLinearFactor(0.01);
    }
    QString clientIdentification() const override { return QStringLiteral("C02"); }
    QString machineSerialNumber() override { return QStringLiteral("C02"); }
    QString machineName() override { return QStringLiteral("Test computer"); }
    std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString&) override { return description_; }
    std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString&) override { return converter_; }
    qint64 cachedRawValueWithIdentifier(const QString&) override { return raw; }
    void disableLocalAccess(bool, const QString&) override {}

    qint64 raw = -1;

private:
    std::shared_ptr<TEVSensorDescription> description_;
    std::shared_ptr<TEVSensorValueConverter> converter_;
};

// A cache entry of `value` (in the sensor's unit; NaN for a sensor without a reading).
struct Gauge {
    Gauge(qint64 quantity, const QString& unit) : source(std::make_shared<ScriptedSource>(quantity, unit))
    {
        gauge = TEVGauge::createForSensorIdentifierConnectingToClient(QStringLiteral("S1"), source);
    }
    std::shared_ptr<OutputCacheEntry> entry(double value)
    {
        source->raw = std::isnan(value) ? -1 : qint64(std::llround(value * 100));
        auto entry = std::make_shared<OutputCacheEntry>();
        entry->cacheCurrentValueFromGauge(gauge);
        return entry;
    }
    std::shared_ptr<ScriptedSource> source;
    std::shared_ptr<TEVGauge> gauge;
};

class FakeController final : public TEVLCDController {
public:
    explicit FakeController(const QString& serial) : TEVLCDController(serial) {}
    QString typeIdentifier() const override { return QStringLiteral("Fake"); }
};

// Records texts and switching; "on"/"off" entries mark setDisplayEnabled calls.
class FakeDisplay final : public TEVLCDDisplay {
public:
    static std::shared_ptr<FakeDisplay> create(std::shared_ptr<TEVLCDController> controller, QStringList* log)
    {
        std::shared_ptr<FakeDisplay> display(new FakeDisplay(log));
        display->initForLCDController(std::move(controller));
        return display;
    }
    ~FakeDisplay() override { log_->append(QStringLiteral("released")); }
    void setDisplayEnabled(bool enabled) override
    {
        TEVLCDDisplay::setDisplayEnabled(enabled);
        log_->append(enabled ? QStringLiteral("on") : QStringLiteral("off"));
    }
    void setString(const QString& text) override
    {
        flowString(text);
        log_->append(text);
    }
    void setBrightness(float brightness, float contrast) override
    {
        log_->append(QStringLiteral("hw %1 %2").arg(brightness).arg(contrast));
    }
    quint8 lcdCharacterForUnicodeCharacter(char16_t c) const override { return quint8(c); }

private:
    explicit FakeDisplay(QStringList* log) : log_(log) {}
    QStringList* log_;
};

} // namespace lcdtest
