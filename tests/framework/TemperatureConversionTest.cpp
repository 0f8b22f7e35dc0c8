#include "framework/TemperatureConversion.h"

#include <gtest/gtest.h>

TEST(TemperatureConversion, ConvertsBetweenAllThreeScales)
{
    struct Row { double (*convert)(double); double in; double out; const char* name; };
    const Row rows[] = {
        {celsiusToFahrenheit, 100.0, 212.0, "C to F"},   {celsiusToFahrenheit, -40.0, -40.0, "C to F"},
        {celsiusToKelvin, 0.0, 273.15, "C to K"},        {fahrenheitToCelsius, 212.0, 100.0, "F to C"},
        {fahrenheitToCelsius, 50.0, 10.0, "F to C"},     {kelvinToCelsius, 273.15, 0.0, "K to C"},
        {kelvinToFahrenheit, 0.0, -459.67, "K to F"},    {kelvinToFahrenheit, 373.15, 212.0, "K to F"},
        {fahrenheitToKelvin, 32.0, 273.15, "F to K"},    {fahrenheitToKelvin, -459.67, 0.0, "F to K"},
    };
    for (const Row& row : rows)
        EXPECT_NEAR(row.convert(row.in), row.out, 1e-9) << row.name << " of " << row.in;
}

TEST(TemperatureConversion, RoundTripsReturnTheStartValue)
{
    for (double c : {-273.15, -12.5, 0.0, 37.0, 45.0, 105.25}) {
        EXPECT_DOUBLE_EQ(fahrenheitToCelsius(celsiusToFahrenheit(c)), c);
        EXPECT_DOUBLE_EQ(kelvinToCelsius(celsiusToKelvin(c)), c);
        EXPECT_DOUBLE_EQ(fahrenheitToKelvin(kelvinToFahrenheit(celsiusToKelvin(c))), celsiusToKelvin(c));
    }
}
