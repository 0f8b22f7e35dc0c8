#pragma once
// HistoryValueCollection: a block of presentation values of one history window, one row of samples per
// gauge, which the combined exports gather from several windows. Each property is read and written
// atomically, so a collection may be filled on one thread and read on another.

#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>
#include <vector>

class HistoryValueCollection {
public:
    // 2^64 marks a sample without a value; the gauges use another marker.
    static constexpr double kNoValue = 18446744073709551616.0;

    HistoryValueCollection() = default;
    HistoryValueCollection(const HistoryValueCollection&) = delete;
    HistoryValueCollection& operator=(const HistoryValueCollection&) = delete;

    // numberOfGauges rows of numberOfSamples values, row after row.
    std::vector<double> valueArray() const;
    void setValueArray(std::vector<double> values);
    quint64 numberOfGauges() const;
    void setNumberOfGauges(quint64 count);
    quint64 numberOfSamples() const;
    void setNumberOfSamples(quint64 count);
    // Seconds between samples.
    double deltaTime() const;
    void setDeltaTime(double seconds);
    // The window's universal gauge identifiers in row order (the name is historical).
    QStringList sensorNames() const;
    void setSensorNames(const QStringList& identifiers);

    // The value of one sample (possibly kNoValue); nothing for a gauge or sample outside the counts or
    // outside the block.
    std::optional<double> valueAt(quint64 gaugeIndex, quint64 sampleIndex) const;

private:
    mutable std::mutex mutex_;
    std::vector<double> values_;
    quint64 numberOfGauges_ = 0;
    quint64 numberOfSamples_ = 0;
    double deltaTime_ = 0.0;
    QStringList sensorNames_;
};
