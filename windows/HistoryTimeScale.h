#pragma once
// The span of history a time-scale slider shows: continuous and piecewise linear from 1 h at position 1
// through 3, 6, 12, 24 and 72 h to the whole week at 7. Shared by the history and minimum/maximum windows.

#include <cmath>

namespace HistoryTimeScale {

// Seconds for slider position `x` (1 … 7).
inline double timeIntervalForSliderValue(double x)
{
    static constexpr double factor[] = {2, 3, 6, 12, 48, 96};
    static constexpr double offset[] = {1, 3, 12, 36, 216, 504};
    const double a = std::floor(x) - 1;
    if (a > 5)
        return 604800.0;
    // Below position 1 the first piece extends, as a slider never goes there.
    const int piece = a < 0 ? 0 : int(a);
    return (x * factor[piece] - offset[piece]) * 60 * 60;
}

} // namespace HistoryTimeScale
