#pragma once
// CDP: short display texts for sizes, bit counts, frequencies, temperatures and fan-speed ranges. Static
// members only; the unit mode is read from the standard user defaults at every call. Main thread.

#include <QString>
#include <QtGlobal>

#include <functional>

class CDP {
public:
    // The gauges' class-wide temperature display unit: 0 Celsius, 1 Fahrenheit, 2 Kelvin, 3 Celsius with
    // Fahrenheit added, 4 Fahrenheit with Celsius added. Null (the default) means 0.
    using TemperatureDisplayUnitProvider = std::function<qint64()>;
    static void setTemperatureDisplayUnitProvider(TemperatureDisplayUnitProvider provider);

    // "TEVMemoryDisplayMode": 0 (and any unknown value) 1024 with "KB", 1 1024 with "KiB", 2 1000 with "kB".
    static QString defaultsKeyForMemoryDisplayMode();

    // Accuracy is the number of fraction digits, 1 to 3, for a size that is no whole number after
    // scaling; other values give 1. A whole number prints without fraction ("1 MB").
    static QString displayTextForMemorySize(quint64 bytes);
    static QString displayTextForMemorySizeAccuracy(quint64 bytes, int accuracy);
    // A number right-aligned in 5 characters (at most one fraction digit), a tab or a space, the unit.
    static QString displayTextForMemorySizeUsingTabStopForUnitSeparation(quint64 bytes, bool tabStop);
    static QString displayTextAsBitsForMemorySize(quint64 bytes);
    static QString displayTextAsBitsForMemorySizeUsingTabStopForUnitSeparation(quint64 bytes, bool tabStop);
    // "1024  B = 1.0 KB" in the current mode.
    static QString displayTextForMemorySizeLegend();

    static QString displayTextForFrequency(quint64 hertz);
    static QString displayTextForFrequencyUsingTabStopForUnitSeparation(quint64 hertz, bool tabStop);

    // Whole degrees in at least 3 characters, then "C", "F" or "K" by the preferred unit.
    static QString displayTextForCentigrade(double celsius);

    // "%llu..%llu RPM" through the string table; a translated format must hold exactly two "%llu".
    static QString displayTextForRPMLimitsFrom(quint64 from, quint64 to);

    // The text of `key` in the main bundle's default string table, else the key; null for null.
    static QString localizedUnitForKey(const char* key);
};
