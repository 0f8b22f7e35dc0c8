#include "windows/history/HistoryWindowSupport.h"

#include "framework/TEVStringFormat.h"
#include "platform/foundation/Bundle.h"

#include <QApplication>
#include <QLocale>

namespace historywindows {

QString localized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key) : key;
}

QString userNumber(const char* format, double value)
{
    QString text = TEVStringFormat::withNumber(format, value);
    const QString point = QLocale().decimalPoint();
    if (point != QLatin1String("."))
        text.replace(QLatin1Char('.'), point);
    return text;
}

QFont smallSystemFont()
{
    QFont font = QApplication::font();
    if (font.pointSizeF() > 0)
        font.setPointSizeF(std::max(7.0, font.pointSizeF() - 1.5));
    return font;
}

QColor gridColor(const QPalette& palette)
{
    // Between the window background and the mid tone, as light as a grid behind curves should be.
    const QColor window = palette.color(QPalette::Window);
    const QColor mid = palette.color(QPalette::Mid);
    return QColor((window.red() + 2 * mid.red()) / 3, (window.green() + 2 * mid.green()) / 3,
                  (window.blue() + 2 * mid.blue()) / 3);
}

QColor toQColor(const std::shared_ptr<platform::Color>& color, const QColor& fallback)
{
    if (!color)
        return fallback;
    return QColor::fromRgbF(color->red(), color->green(), color->blue(), color->alpha());
}

std::shared_ptr<platform::Color> fromQColor(const QColor& color)
{
    if (!color.isValid())
        return nullptr;
    const QColor rgb = color.toRgb();
    return platform::Color::rgb(platform::Color::Space::DeviceRGB, rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF());
}

} // namespace historywindows
