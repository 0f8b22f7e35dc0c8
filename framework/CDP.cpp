#include "framework/CDP.h"

#include "framework/TEVStringFormat.h"
#include "framework/TemperatureConversion.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"

#include <QLocale>

#include <array>
#include <cmath>

namespace {

using UnitTable = std::array<const char*, 7>;

constexpr UnitTable kBytesBinary = {" B", "KB", "MB", "GB", "TB", "PB", "EB"};
constexpr UnitTable kBytesIec = {" B", "KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
constexpr UnitTable kBytesDecimal = {" B", "kB", "MB", "GB", "TB", "PB", "EB"};
constexpr UnitTable kBits = {" Bit", "KBit", "MBit", "GBit", "TBit", "PBit", "EBit"};
constexpr UnitTable kHertz = {"Hz", "kHz", "MHz", "GHz", "THz", "PHz", "EHz"};

constexpr char kRpmFormat[] = "%llu..%llu RPM";

CDP::TemperatureDisplayUnitProvider& temperatureUnitProvider()
{
    static CDP::TemperatureDisplayUnitProvider provider;
    return provider;
}

struct UnitScale {
    double divisor;
    const UnitTable* units;
};

UnitScale memoryScale()
{
    const std::shared_ptr<platform::UserDefaults> defaults = platform::UserDefaults::standard();
    const qint64 mode = defaults ? defaults->integerForKey(CDP::defaultsKeyForMemoryDisplayMode()) : 0;
    switch (mode) {
    case 1:
        return {1024.0, &kBytesIec};
    case 2:
        return {1000.0, &kBytesDecimal};
    default:
        return {1024.0, &kBytesBinary};
    }
}

struct Scaled {
    double value;
    QString unit;
};

Scaled scale(double value, const UnitScale& scale)
{
    std::size_t divisions = 0;
    while (value >= scale.divisor && divisions < 6) {
        value /= scale.divisor;
        ++divisions;
    }
    return {value, CDP::localizedUnitForKey((*scale.units)[divisions])};
}

// printf's number forms and rounding with the current locale's decimal separator; no grouping, as printf.
QString printfNumber(const char* format, double value)
{
    return TEVStringFormat::withNumber(format, value).replace(QLatin1Char('.'), QLocale().decimalPoint());
}

// The shared formatter's form: the locale's decimal style, at most one fraction digit, right-aligned in 5.
QString formatterText(double value)
{
    const QLocale locale;
    QString text = locale.toString(value, 'f', 1);
    const QString zeroFraction = locale.decimalPoint() + locale.zeroDigit();
    if (text.endsWith(zeroFraction))
        text.chop(zeroFraction.size());
    return text.rightJustified(5, QLatin1Char(' '));
}

QString separatedText(const Scaled& scaled, bool tabStop)
{
    return formatterText(scaled.value) + QLatin1Char(tabStop ? '\t' : ' ') + scaled.unit;
}

// Fills each "%llu" of `format` in turn; "%%" is a percent sign. Null when the format holds any other
// conversion or not exactly two "%llu", so a bad translation can never read arguments that are not there.
QString fillRpmFormat(const QString& format, quint64 from, quint64 to)
{
    const QLatin1String conversion("%llu");
    const std::array<quint64, 2> values = {from, to};
    std::size_t used = 0;
    QString text;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format.at(i) != QLatin1Char('%')) {
            text += format.at(i);
        } else if (format.mid(i, 2) == QLatin1String("%%")) {
            text += QLatin1Char('%');
            ++i;
        } else if (format.mid(i, conversion.size()) == conversion && used < values.size()) {
            text += QString::number(values[used++]);
            i += conversion.size() - 1;
        } else {
            return {};
        }
    }
    return used == values.size() ? text : QString();
}

} // namespace

void CDP::setTemperatureDisplayUnitProvider(TemperatureDisplayUnitProvider provider)
{
    temperatureUnitProvider() = std::move(provider);
}

QString CDP::defaultsKeyForMemoryDisplayMode()
{
    return QStringLiteral("TEVMemoryDisplayMode");
}

QString CDP::displayTextForMemorySize(quint64 bytes)
{
    return displayTextForMemorySizeAccuracy(bytes, 1);
}

QString CDP::displayTextForMemorySizeAccuracy(quint64 bytes, int accuracy)
{
    const Scaled scaled = scale(static_cast<double>(bytes), memoryScale());
    const char* format = "%3.1f";
    if (scaled.value == std::floor(scaled.value))
        format = "%g";
    else if (accuracy == 2)
        format = "%4.2f";
    else if (accuracy == 3)
        format = "%5.3f";
    return printfNumber(format, scaled.value) + QLatin1Char(' ') + scaled.unit;
}

QString CDP::displayTextForMemorySizeUsingTabStopForUnitSeparation(quint64 bytes, bool tabStop)
{
    return separatedText(scale(static_cast<double>(bytes), memoryScale()), tabStop);
}

QString CDP::displayTextAsBitsForMemorySize(quint64 bytes)
{
    return displayTextAsBitsForMemorySizeUsingTabStopForUnitSeparation(bytes, false);
}

QString CDP::displayTextAsBitsForMemorySizeUsingTabStopForUnitSeparation(quint64 bytes, bool tabStop)
{
    // In double: bytes × 8 overflows 64 bits from 2 EiB on.
    return separatedText(scale(static_cast<double>(bytes) * 8.0, {1000.0, &kBits}), tabStop);
}

QString CDP::displayTextForMemorySizeLegend()
{
    const UnitScale memory = memoryScale();
    return QString::number(static_cast<qint64>(memory.divisor)) + QLatin1Char(' ')
        + localizedUnitForKey((*memory.units)[0]) + QLatin1String(" = ") + printfNumber("%3.1f", 1.0)
        + QLatin1Char(' ') + localizedUnitForKey((*memory.units)[1]);
}

QString CDP::displayTextForFrequency(quint64 hertz)
{
    return displayTextForFrequencyUsingTabStopForUnitSeparation(hertz, false);
}

QString CDP::displayTextForFrequencyUsingTabStopForUnitSeparation(quint64 hertz, bool tabStop)
{
    return separatedText(scale(static_cast<double>(hertz), {1000.0, &kHertz}), tabStop);
}

QString CDP::displayTextForCentigrade(double celsius)
{
    const TemperatureDisplayUnitProvider& provider = temperatureUnitProvider();
    const qint64 unit = provider ? provider() : 0;
    double value = celsius;
    QLatin1Char symbol('C');
    if (unit == 1 || unit == 4) {
        value = celsiusToFahrenheit(celsius);
        symbol = QLatin1Char('F');
    } else if (unit == 2) {
        value = celsiusToKelvin(celsius);
        symbol = QLatin1Char('K');
    }
    return printfNumber("%3.0f", value) + symbol;
}

QString CDP::displayTextForRPMLimitsFrom(quint64 from, quint64 to)
{
    const QString format = localizedUnitForKey(kRpmFormat);
    QString text = fillRpmFormat(format, from, to);
    if (text.isNull()) {
        platform::log("CDP", QStringLiteral("unusable RPM range format \"%1\"").arg(format));
        text = fillRpmFormat(QLatin1String(kRpmFormat), from, to);
    }
    return text;
}

QString CDP::localizedUnitForKey(const char* key)
{
    if (!key)
        return {};
    const QString text = QString::fromUtf8(key);
    const std::shared_ptr<const platform::Bundle> bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(text) : text;
}
