#pragma once
// SensorOverview: the monitored computer's active gauges with their values and known limits in a table, and
// a details panel for the selected sensor. Refreshed on every tick while visible. Main thread only.

#include "windows/info/MonitorWindowController.h"

#include <QStringList>
#include <QVariant>

#include <memory>

class QLabel;
class QTableWidget;
class TEVGauge;

class SensorOverview final : public MonitorWindowController {
public:
    // The table's column identifiers, in their order.
    static const QStringList& columnIdentifiers();
    static constexpr int kNumberOfInfoFields = 9;

    SensorOverview(ClientPtr client, QString defaultTitle);
    ~SensorOverview() override;

    void setApplicationController(ControllerLookups* controller) override { applicationController_ = controller; }
    void updateContents() override;

    // A limits entry is [maximum, minimum?] in °C for temperatures; empty for a missing entry or gauge, an
    // empty entry, or a minimum the entry lacks.
    static QString limitsPresentationForEntry(const QVariant& entry, const std::shared_ptr<TEVGauge>& gauge, bool isMinimum);
    // The details line of the limit texts.
    static QString limitsLine(const QString& minimum, const QString& maximum);
    // Fills the details panel from a row and shows it; an invalid row changes nothing.
    void selectSensor(int row);

    qsizetype numberOfRows() const { return activeGauges_.size(); }
    QString objectValueForTableColumn(const QString& column, qsizetype row) const;

    QTableWidget* sensorTable() const { return sensorTable_; }
    QWidget* sensorInfoPanel() const { return sensorInfoPanel_.get(); }
    QLabel* sensorInfoField(int row) const;
    QLabel* quantityIconView() const { return quantityIconView_; }

private:
    void reloadTable();
    // The details of `gauge` in the panel; its limits come from its row, when it still has one.
    void showSensorInfo(const std::shared_ptr<TEVGauge>& gauge);
    // Where the panel opens: beside the overview, on the overview's screen.
    void placeSensorInfoPanel();

    ControllerLookups* applicationController_ = nullptr;
    QList<std::shared_ptr<TEVGauge>> activeGauges_;
    QStringList minimumLimits_;
    QStringList maximumLimits_;
    QTableWidget* sensorTable_ = nullptr;
    std::unique_ptr<QWidget> sensorInfoPanel_;
    std::shared_ptr<TEVGauge> shownGauge_; // the sensor the panel follows, tick after tick
    QString shownLimits_;
    QList<QLabel*> sensorInfoFields_;
    QLabel* quantityIconView_ = nullptr;
    qsizetype longestTexts_[4] = {0, 0, 0, 0}; // per column, to refit the value columns only when a text grows
};
