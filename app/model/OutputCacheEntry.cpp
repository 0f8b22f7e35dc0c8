#include "app/model/OutputCacheEntry.h"

#include "app/model/TEVGauge.h"

void OutputCacheEntry::cacheCurrentValueFromGauge(const std::shared_ptr<TEVGauge>& gauge)
{
    if (!gauge || !gauge->isReadyAndConnected())
        return;
    connectedGauge_ = gauge;
    value_ = gauge->presentationValue();
    stringRepresentation_ = gauge->localizedPresentationOfPresentationValue(value_);
}

QString OutputCacheEntry::description() const
{
    // Built piecewise: a text holding '%' must not be read as a format.
    return QStringLiteral("value: ") + QString::asprintf("%g", value_) + QStringLiteral(", spoken value: ")
         + QString::asprintf("%g", lastSpokenValue_) + QStringLiteral(", text representation: '") + stringRepresentation_
         + QStringLiteral("', gauge: ") + QString::asprintf("%p", static_cast<const void*>(connectedGauge_.get()))
         + QStringLiteral("\n");
}
