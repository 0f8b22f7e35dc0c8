#include "sensors/TEVSMCCachedValue.h"

#include "platform/foundation/Clock.h"

#include <cmath>

namespace {
double expireTime = 1.0;
}

double TEVSMCCachedValue::cacheExpireTime()
{
    return expireTime;
}

void TEVSMCCachedValue::setCacheExpireTime(double seconds)
{
    if (seconds > 0 && std::isfinite(seconds))
        expireTime = seconds;
}

void TEVSMCCachedValue::setCachedValue(const _TEVSMCValue* value)
{
    if (!value)
        return;
    value_ = *value;
    timestamp_ = platform::monotonicNow();
    stored_ = true;
}

bool TEVSMCCachedValue::isValid() const
{
    if (!stored_)
        return false;
    const double age = std::chrono::duration<double>(platform::monotonicNow() - timestamp_).count();
    return expireTime >= age;
}
