#pragma once
// SensorTablesHost: what the sensor tables, the history window list and the gauge outline need of the
// application controller that owns the preferences, the gauges and the history windows. Implemented by the
// controller (tests use a fake); main thread only.

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>

class HistoryWindow;
class HistoryWindowPreferences;
class MachinePreferences;
class MonitorPreferences;
class TEVGauge;

class SensorTablesHost {
public:
    virtual ~SensorTablesHost() = default;

    // Null until the local computer's preferences exist.
    virtual MachinePreferences* localMachinePreferences() const = 0;
    virtual MonitorPreferences* monitorPreferences() const = 0;
    // Universal identifiers of every connected sensor: the sensor drawer's list.
    virtual const QStringList& connectedSensorNames() const = 0;
    // The outline's computers, sorted case-insensitively, and each one's gauges.
    virtual const QStringList& localGaugeComputers() const = 0;
    virtual const QMap<QString, QList<std::shared_ptr<TEVGauge>>>& gaugesByComputer() const = 0;
    // Gauges left the local preferences: every client is resynchronised and the outline rebuilt.
    virtual void handleConfigurationChange() = 0;

    // One controller per entry of the local preferences' history windows, in the same order; edited in place.
    virtual QList<std::shared_ptr<HistoryWindow>>& historyWindowControllers() = 0;
    // A new window bound to the controller and `preferences`.
    virtual std::shared_ptr<HistoryWindow> makeHistoryWindowController(const std::shared_ptr<HistoryWindowPreferences>& preferences) = 0;

    // The preference window's load routine and its refresh of the controls' state.
    virtual void updatePreferenceWindow() = 0;
    virtual void updatePreferenceWindowState() = 0;
    // The controls beside the tables (headlines, thresholds, the gauge's fields) are the preference window's:
    // it fills them when the selection of the history window list, the alert table or the outline changes.
    virtual void selectHistoryWindowEntry() = 0;
    virtual void selectSensorTableEntry() = 0;
    virtual void selectGauge() = 0;

protected:
    SensorTablesHost() = default;
};
