// The application icon's images, probed pixel by pixel: no golden images, as fonts differ between machines.

#include "windows/TEVDockDisplay.h"

#include "framework/TEVTextAttributeProcessor.h"

#include <QImage>

#include <functional>

#include <gtest/gtest.h>

namespace {

bool isColor(QRgb pixel, const QColor& color, int tolerance = 40)
{
    return qAlpha(pixel) > 200 && std::abs(qRed(pixel) - color.red()) <= tolerance &&
           std::abs(qGreen(pixel) - color.green()) <= tolerance && std::abs(qBlue(pixel) - color.blue()) <= tolerance;
}

// Rows [top, bottom) and columns in which a pixel of about `color` occurs.
struct Extent {
    int count = 0, top = 1000, bottom = -1, left = 1000, right = -1;
};
Extent extentOf(const QImage& image, const QColor& color, int tolerance = 40)
{
    Extent e;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (isColor(image.pixel(x, y), color, tolerance)) {
                ++e.count;
                e.top = std::min(e.top, y);
                e.bottom = std::max(e.bottom, y);
                e.left = std::min(e.left, x);
                e.right = std::max(e.right, x);
            }
    return e;
}

TEVDockDisplay display(quint8 mode, bool lcd)
{
    TEVDockDisplay dock;
    dock.setMode(mode);
    dock.setLiquidCrystalDisplay(lcd);
    dock.setLine1Color(QColor(220, 0, 0), QColor(0, 0, 220));
    dock.setLine1(QStringLiteral("45°C"), QStringLiteral("1999 rpm"));
    return dock;
}

} // namespace

TEST(TEVDockDisplay, ModeZeroIsTheIconOrACross)
{
    for (const bool lcd : {false, true}) {
        TEVDockDisplay dock = display(0, lcd);
        const QImage cross = dock.dockTileImage();
        ASSERT_EQ(cross.size(), QSize(128, 128));
        for (const int i : {1, 30, 64, 100, 126}) {
            EXPECT_TRUE(isColor(cross.pixel(i, i), Qt::black)) << i;
            EXPECT_TRUE(isColor(cross.pixel(127 - i, i), Qt::black)) << i;
        }
        EXPECT_EQ(qAlpha(cross.pixel(64, 10)), 0);
        EXPECT_EQ(qAlpha(cross.pixel(10, 64)), 0);

        QImage icon(128, 128, QImage::Format_ARGB32);
        icon.fill(Qt::darkCyan);
        dock.setDefaultBackground(icon);
        EXPECT_EQ(dock.dockTileImage(), icon) << lcd;
    }
}

TEST(TEVDockDisplay, PlainTextLinesInTheirColoursOverTheirShadows)
{
    const QColor red(220, 0, 0), blue(0, 0, 220);
    {
        const QImage one = display(1, false).dockTileImage();
        const Extent line = extentOf(one, red);
        ASSERT_GT(line.count, 20);
        // One line in the middle, right-aligned 2 points from the edge; line 2 is not drawn.
        EXPECT_LT(line.top, 64);
        EXPECT_GT(line.bottom, 64);
        EXPECT_LE(line.right, 125);
        EXPECT_GT(line.right, 110);
        EXPECT_EQ(extentOf(one, blue).count, 0);
        // The half-transparent shadow lies below and right of the text.
        bool shadowRightOfText = false;
        for (int y = 0; y < 128; ++y)
            for (int x = line.right + 1; x < 128; ++x)
                shadowRightOfText |= qAlpha(one.pixel(x, y)) > 20 && qRed(one.pixel(x, y)) < 60;
        EXPECT_TRUE(shadowRightOfText);
    }
    {
        const QImage two = display(2, false).dockTileImage();
        const Extent first = extentOf(two, red), second = extentOf(two, blue);
        ASSERT_GT(first.count, 20);
        ASSERT_GT(second.count, 20);
        EXPECT_LT(first.bottom, 64);
        EXPECT_GT(second.top, 64);
        EXPECT_LE(std::max(first.right, second.right), 125);
    }
}

TEST(TEVDockDisplay, LcdLookDrawsDarkDigitsOnItsPanelAndIgnoresTheColours)
{
    for (const quint8 mode : {1, 2}) {
        TEVDockDisplay dock = display(mode, true);
        const QImage image = dock.dockTileImage();
        const QImage panel = TEVDockDisplay::lcdBackground(mode);
        // Where no text is, the panel shows; the corner stays transparent.
        EXPECT_EQ(image.pixel(12, 64), panel.pixel(12, 64)) << int(mode);
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << int(mode);
        EXPECT_TRUE(isColor(panel.pixel(12, 64), QColor(0xb7, 0xca, 0x90), 30)) << int(mode);
        // Dark pixels where the panel is light: the digits, not the bezel.
        QImage digits = image;
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x)
                if (qGreen(panel.pixel(x, y)) < 150)
                    digits.setPixel(x, y, qRgba(255, 255, 255, 255));
        const Extent text = extentOf(digits, Qt::black, 50);
        ASSERT_GT(text.count, 20) << int(mode);
        EXPECT_LE(text.right, 121);
        // Neither the digits nor their shadow run over the bezel, however wide or short the lines.
        for (const auto& [first, second] : {std::pair{"45°C", "1999 rpm"}, std::pair{"-188.88 W", "88888 rpm"}, std::pair{"1", "2"}}) {
            dock.setLine1(QString::fromUtf8(first), QString::fromUtf8(second));
            const QImage drawn = dock.dockTileImage();
            int touched = 0;
            for (int y = 0; y < 128; ++y)
                for (int x = 0; x < 128; ++x)
                    if (qAlpha(panel.pixel(x, y)) > 0 && qGreen(panel.pixel(x, y)) < 150 && drawn.pixel(x, y) != panel.pixel(x, y))
                        ++touched;
            EXPECT_EQ(touched, 0) << int(mode) << " " << first;
        }
        EXPECT_EQ(extentOf(image, QColor(220, 0, 0)).count, 0);
        if (mode == 2) {
            EXPECT_LT(text.top, 50);
            EXPECT_GT(text.bottom, 78);
        }
    }
    // Taller panel behind two lines.
    EXPECT_EQ(qAlpha(TEVDockDisplay::lcdBackground(1).pixel(64, 20)), 0);
    EXPECT_GT(qAlpha(TEVDockDisplay::lcdBackground(2).pixel(64, 20)), 200);
}

TEST(TEVDockDisplay, LinesNeverSetDrawNothingButTheirBackground)
{
    for (const bool lcd : {false, true}) {
        TEVDockDisplay dock;
        dock.setMode(2);
        dock.setLiquidCrystalDisplay(lcd);
        EXPECT_EQ(dock.dockTileImage(), lcd ? TEVDockDisplay::lcdBackground(2) : [] {
            QImage blank(128, 128, QImage::Format_ARGB32_Premultiplied);
            blank.fill(Qt::transparent);
            return blank;
        }()) << lcd;
    }
}

TEST(TEVDockDisplay, ModeAboveTwoIsTwoAndBothLinesShareTheSmallerSize)
{
    TEVDockDisplay dock;
    dock.setMode(3);
    EXPECT_EQ(dock.mode(), 2);
    dock.setLine1(QStringLiteral("1"), QStringLiteral("a much longer line"));
    EXPECT_EQ(dock.line(0), QStringLiteral(" 1"));
    (void)dock.dockTileImage();
    EXPECT_EQ(dock.lastFontSize(),
              TEVTextAttributeProcessor::largestSystemFontSizeForString(QStringLiteral(" a much longer line"), 126));
    dock.setMode(1);
    (void)dock.dockTileImage();
    EXPECT_EQ(dock.lastFontSize(), TEVTextAttributeProcessor::largestSystemFontSizeForString(QStringLiteral(" 1"), 126));
}

TEST(TEVDockDisplay, DrawsAgainOnlyWhenWhatItShowsChanged)
{
    TEVDockDisplay dock = display(2, false);
    const qint64 first = dock.dockTileImage().cacheKey();
    dock.setLine1(QStringLiteral("45°C"), QStringLiteral("1999 rpm"));
    dock.setLine1Color(QColor(220, 0, 0), QColor(0, 0, 220));
    EXPECT_EQ(dock.dockTileImage().cacheKey(), first);
    const struct Change {
        const char* name;
        void (*apply)(TEVDockDisplay&);
    } changes[] = {
        {"a value", [](TEVDockDisplay& d) { d.setLine1(QStringLiteral("46°C"), QStringLiteral("1999 rpm")); }},
        {"a colour", [](TEVDockDisplay& d) { d.setLine1Color(QColor(220, 0, 0), QColor(0, 220, 0)); }},
        {"the look", [](TEVDockDisplay& d) { d.setLiquidCrystalDisplay(true); }},
        {"the mode", [](TEVDockDisplay& d) { d.setMode(1); }},
    };
    for (const Change& change : changes) {
        TEVDockDisplay changed = display(2, false);
        const QImage before = changed.dockTileImage();
        change.apply(changed);
        EXPECT_NE(changed.dockTileImage(), before) << change.name;
    }
}
