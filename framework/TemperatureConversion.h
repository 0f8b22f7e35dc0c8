#pragma once
// Temperature conversions from degrees Celsius, shared by the value texts and the gauges. Pure functions.

inline double celsiusToFahrenheit(double celsius)
{
    return celsius * 9.0 / 5.0 + 32.0;
}

inline double celsiusToKelvin(double celsius)
{
    return celsius + 273.15;
}
