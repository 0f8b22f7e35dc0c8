#pragma once
// ControllerLookups: what windows and managers may ask of the application controller: gauges by universal
// identifier, raw histories and their time steps, a client's active gauges and known limits, the global
// preferences. Implemented by each program's controller; main thread only.

#include <QByteArray>
#include <QDateTime>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <memory>
#include <optional>

class MonitoringClient;
class MonitorPreferences;
class OutputCacheEntry;
class TEVGauge;

class ControllerLookups {
public:
    // Universal gauge identifier → the entry of the current update.
    using OutputCache = QMap<QString, std::shared_ptr<OutputCacheEntry>>;

    virtual ~ControllerLookups() = default;

    // In the order of the gauges (quantity type, then location name).
    virtual const QStringList& universalIdentifiersOfConnectedSensors() const = 0;
    // Null for a null identifier or one without a cache entry.
    virtual std::shared_ptr<TEVGauge> gaugeForUniversalSensorIdentifier(const QString& identifier) const = 0;
    // Signed 64-bit raw values, oldest first, -1 for no value; empty when there is none.
    virtual QByteArray rawHistoryDataBetweenNowAndDate(const QDateTime& date, const QString& identifier, bool longTerm) = 0;
    // Seconds; 1.0 for a null identifier, 0.0 when its computer is not connected (callers must not divide).
    virtual double historyTimeDeltaForUniversalGaugeIdentifier(const QString& identifier, bool longTerm) = 0;
    virtual QList<std::shared_ptr<TEVGauge>> activeGaugesForConnectedClient(const std::shared_ptr<MonitoringClient>& client) const = 0;
    virtual std::optional<QVariantMap> knownMachineLimitsForConnectedClient(const std::shared_ptr<MonitoringClient>& client) = 0;
    virtual MonitorPreferences* monitorPreferences() const = 0;

protected:
    ControllerLookups() = default;
};
