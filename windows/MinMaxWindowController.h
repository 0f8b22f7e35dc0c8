#pragma once
// MinMaxWindowController: the window listing every connected gauge with the lowest and highest value of its
// long-term history over the span of a slider. Reads gauges and histories through the controller's
// look-ups; made once at launch, bound once the local computer is ready. Main thread.

#include "app/model/ApplicationWindows.h"

#include <QPointer>
#include <QStringList>

#include <memory>

class QAbstractTableModel;
class QLabel;
class QSlider;
class QTableView;
class QWidget;

class MinMaxWindowController final : public MinMaxWindow {
public:
    static inline const QString kSensorColumn = QStringLiteral("Sensor");
    static inline const QString kMinColumn = QStringLiteral("Min");
    static inline const QString kMaxColumn = QStringLiteral("Max");

    MinMaxWindowController();
    ~MinMaxWindowController() override;

    void bindToApplicationController(ControllerLookups* lookups) override { lookups_ = lookups; }
    bool isWindowVisible() const override;
    void updateWindow() override;
    void showWindow() override;

    QWidget* window() const;
    double timeIntervalOfScaleSlider() const;
    qsizetype numberOfRows() const { return minCache_.size(); }
    // Null for a column of another name, a negative row, and while unbound; "---" for a row that the
    // current gauges or the last update do not reach.
    QString objectValueForTableColumn(const QString& column, qsizetype row) const;

private:
    ControllerLookups* lookups_ = nullptr;
    QStringList minCache_;
    QStringList maxCache_;
    QPointer<QWidget> window_;
    QPointer<QLabel> timeScaleField_;
    QPointer<QSlider> timeScaleSlider_;
    QPointer<QTableView> valueTable_;
    QAbstractTableModel* model_ = nullptr; // owned by the window
};
