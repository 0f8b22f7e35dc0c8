#pragma once
// TEVGraphSpecifier: one curve of a history graph as computed for one redraw: the gauge, its raw history
// and the extremes found in it. Made and dropped by the graph while it draws; main thread only.

#include <QByteArray>

#include <memory>

class TEVGauge;

class TEVGraphSpecifier {
public:
    TEVGraphSpecifier() = default;

    // `historyData`: packed signed 64-bit raw values in host order, oldest first, -1 for no value.
    void setGauge(std::shared_ptr<TEVGauge> gauge, const QByteArray& historyData);
    // Values in presentation units; indexes count samples of the history, -1 for none.
    void setMinimum(double minimum, qint64 minimumIndex, double maximum, qint64 maximumIndex);

    std::shared_ptr<TEVGauge> associatedGauge() const { return gauge_; }
    // Null until set.
    QByteArray rawHistoryData() const { return historyData_; }
    double minimumValue() const { return minimumValue_; }
    double maximumValue() const { return maximumValue_; }
    qint64 minimumSampleIndex() const { return minimumSampleIndex_; }
    qint64 maximumSampleIndex() const { return maximumSampleIndex_; }

private:
    std::shared_ptr<TEVGauge> gauge_;
    QByteArray historyData_;
    double minimumValue_ = 0.0;
    double maximumValue_ = 0.0;
    qint64 minimumSampleIndex_ = -1;
    qint64 maximumSampleIndex_ = -1;
};
