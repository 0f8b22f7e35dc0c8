#pragma once
// Temperature conversions between degrees Celsius, Fahrenheit and kelvins, shared by the value texts and the
// gauges. Pure functions; the order of operations is fixed so that results match to the last bit.

inline double celsiusToFahrenheit(double celsius)
{
    return celsius * 9.0 / 5.0 + 32.0;
}

inline double celsiusToKelvin(double celsius)
{
    return celsius + 273.15;
}

inline double fahrenheitToCelsius(double fahrenheit)
{
    return (fahrenheit - 32.0) * 5.0 / 9.0;
}

inline double kelvinToCelsius(double kelvin)
{
    return kelvin - 273.15;
}

inline double kelvinToFahrenheit(double kelvin)
{
    return (kelvin - 273.15) * 9.0 / 5.0 + 32.0;
}

inline double fahrenheitToKelvin(double fahrenheit)
{
    return (fahrenheit - 32.0) * 5.0 / 9.0 + 273.15;
}
