// The tray's slot icons, drawn offscreen.

#include "platform/desktop/widgets/QtStatusItem.h"

#include <QFont>


#include <QFontMetricsF>

#include <gtest/gtest.h>

using platform::QtStatusItem;

namespace {

// Pixels whose colour is close to `color`.
int pixelsNear(const QImage& image, const QColor& color)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() > 200 && std::abs(c.red() - color.red()) + std::abs(c.green() - color.green()) +
                                           std::abs(c.blue() - color.blue()) < 60)
                ++count;
        }
    return count;
}

} // namespace

TEST(TrayIcon, SlotTextIsDrawnInItsColourAndInvertedWhileAlerting)
{
    const QFont font;
    const QImage plain = QtStatusItem::iconForRun({"42.0°C", Qt::red, false}, font, QSize(64, 64));
    const QImage other = QtStatusItem::iconForRun({" 1200rpm", Qt::red, false}, font, QSize(64, 64));
    const QImage alert = QtStatusItem::iconForRun({"42.0°C", Qt::red, true}, font, QSize(64, 64));
    const QImage named = QtStatusItem::iconForRun({" CPU: 42.0°C", Qt::red, false}, font, QSize(64, 64));
    ASSERT_EQ(plain.size(), QSize(64, 64));
    if (const QByteArray out = qgetenv("KELVARO_TRAY_ICON_DIR"); !out.isEmpty())
        for (const auto& [name, image] : {std::pair{"plain", plain}, {"other", other}, {"alert", alert}, {"named", named}})
            image.save(QString::fromUtf8(out) + "/" + name + ".png");
    // The text, in red, covers a legible part of the square; inverted, red is the background.
    EXPECT_GT(pixelsNear(plain, Qt::red), 64 * 64 / 40);
    EXPECT_GT(pixelsNear(alert, Qt::red), 64 * 64 / 2);
    EXPECT_LT(pixelsNear(plain, Qt::red), 64 * 64 / 2);
    EXPECT_NE(plain, other);
    EXPECT_NE(plain, named);
}

TEST(TrayIcon, TheValueIsSetAsLargeAsTheHostsSizeAllows)
{
    const QFont font(QStringLiteral("Sans Serif"), 14);
    const struct Case {
        const char* text;
        QSize size;
        QStringList lines;
        int smallestNumber; // pixel size of the line with the number
    } cases[] = {
        {"42°C", {22, 22}, {"42", "°C"}, 9},
        {" 42°C", {22, 30}, {"42", "°C"}, 13},
        {"SMC A: 38°C", {22, 30}, {"SMC A", "38", "°C"}, 11},
        {"SMC A: 38°C", {22, 22}, {"SMC A", "38°C"}, 9},
        // GNOME's 16-px icon: the name would be cut at both sides.
        {"SMC A: 38°C", {14, 14}, {"38", "°C"}, 6},
        {" 1250 rpm", {22, 22}, {"1250", "rpm"}, 7},
        {"12.11 V", {48, 48}, {"12.11", "V"}, 16},
        {" - ", {22, 22}, {"-"}, 14},
    };
    for (const Case& c : cases) {
        const auto layout = QtStatusItem::layoutForText(QString::fromUtf8(c.text), font, c.size);
        EXPECT_EQ(layout.lines, c.lines) << c.text;
        qsizetype number = 0;
        while (number < layout.lines.size() - 1 && !layout.lines.at(number).front().isDigit() &&
               layout.lines.at(number) != QLatin1String("-"))
            ++number;
        EXPECT_GE(layout.pixelSizes.value(number), c.smallestNumber) << c.text << " " << c.size.width() << "x" << c.size.height();
        // No line is cut.
        for (qsizetype i = 0; i < layout.lines.size(); ++i) {
            QFont line = font;
            line.setBold(true);
            line.setStretch(QFont::SemiCondensed);
            line.setPixelSize(layout.pixelSizes.at(i));
            EXPECT_LE(QFontMetricsF(line).tightBoundingRect(layout.lines.at(i)).width(), c.size.width())
                << c.text << " " << qPrintable(layout.lines.at(i));
        }
        // The unit and the name are never larger than the number.
        for (int size : layout.pixelSizes)
            EXPECT_LE(size, layout.pixelSizes.value(number)) << c.text;
    }
}

TEST(TrayIcon, DrawnAtTheHostsSizeWithTheShortTextInPlaceOfTheTitle)
{
    const QFont font;
    const QImage waiting = QtStatusItem::iconForRun({"*** PLEASE WAIT ***", Qt::black, false, "…"}, font, QSize(22, 30));
    EXPECT_EQ(waiting.size(), QSize(22, 30));
    EXPECT_EQ(waiting, QtStatusItem::iconForRun({"…", Qt::black, false}, font, QSize(22, 30)));
    EXPECT_NE(waiting, QtStatusItem::iconForRun({"*** PLEASE WAIT ***", Qt::black, false}, font, QSize(22, 30)));
}
