#pragma once
// One cached SMC value and the time it was stored. Owned by the controller's cache; capture thread only.

#include <QtGlobal>

#include <array>
#include <chrono>

// The SMC's own representation of a value: big-endian integers and fixed point, "flt " in host order.
struct _TEVSMCValue {
    quint32 key = 0;
    quint32 dataSize = 0; // as the SMC reports it; may exceed the 32 bytes held
    quint32 dataType = 0;
    std::array<quint8, 32> bytes{};
};

class TEVSMCCachedValue {
public:
    static double cacheExpireTime();
    // Values not above 0 (and NaN) are ignored.
    static void setCacheExpireTime(double seconds);

    void setCachedValue(const _TEVSMCValue* value);
    const _TEVSMCValue& cachedValue() const { return value_; }
    // Monotonic clock, so a wall-clock step neither revives nor kills an entry.
    bool isValid() const;

private:
    std::chrono::nanoseconds timestamp_{0};
    bool stored_ = false;
    _TEVSMCValue value_;
};
