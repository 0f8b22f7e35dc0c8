#include "app/model/HistoryValueCollection.h"

std::vector<double> HistoryValueCollection::valueArray() const
{
    std::lock_guard lock(mutex_);
    return values_;
}

void HistoryValueCollection::setValueArray(std::vector<double> values)
{
    std::lock_guard lock(mutex_);
    values_ = std::move(values);
}

quint64 HistoryValueCollection::numberOfGauges() const
{
    std::lock_guard lock(mutex_);
    return numberOfGauges_;
}

void HistoryValueCollection::setNumberOfGauges(quint64 count)
{
    std::lock_guard lock(mutex_);
    numberOfGauges_ = count;
}

quint64 HistoryValueCollection::numberOfSamples() const
{
    std::lock_guard lock(mutex_);
    return numberOfSamples_;
}

void HistoryValueCollection::setNumberOfSamples(quint64 count)
{
    std::lock_guard lock(mutex_);
    numberOfSamples_ = count;
}

double HistoryValueCollection::deltaTime() const
{
    std::lock_guard lock(mutex_);
    return deltaTime_;
}

void HistoryValueCollection::setDeltaTime(double seconds)
{
    std::lock_guard lock(mutex_);
    deltaTime_ = seconds;
}

QStringList HistoryValueCollection::sensorNames() const
{
    std::lock_guard lock(mutex_);
    return sensorNames_;
}

void HistoryValueCollection::setSensorNames(const QStringList& identifiers)
{
    std::lock_guard lock(mutex_);
    sensorNames_ = identifiers;
}

std::optional<double> HistoryValueCollection::valueAt(quint64 gaugeIndex, quint64 sampleIndex) const
{
    std::lock_guard lock(mutex_);
    if (gaugeIndex >= numberOfGauges_ || sampleIndex >= numberOfSamples_)
        return std::nullopt;
    // gauge * samples + sample < size, checked without letting the product wrap.
    const quint64 size = values_.size();
    if (sampleIndex >= size || gaugeIndex > (size - 1 - sampleIndex) / numberOfSamples_)
        return std::nullopt;
    const quint64 index = gaugeIndex * numberOfSamples_ + sampleIndex;
    return values_[index];
}
