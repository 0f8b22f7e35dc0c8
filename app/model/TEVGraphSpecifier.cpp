#include "app/model/TEVGraphSpecifier.h"

void TEVGraphSpecifier::setGauge(std::shared_ptr<TEVGauge> gauge, const QByteArray& historyData)
{
    gauge_ = std::move(gauge);
    historyData_ = historyData;
}

void TEVGraphSpecifier::setMinimum(double minimum, qint64 minimumIndex, double maximum, qint64 maximumIndex)
{
    minimumValue_ = minimum;
    minimumSampleIndex_ = minimumIndex;
    maximumValue_ = maximum;
    maximumSampleIndex_ = maximumIndex;
}
