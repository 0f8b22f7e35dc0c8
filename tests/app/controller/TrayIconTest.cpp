// The tray's slot icons, drawn offscreen.

#include "platform/desktop/widgets/QtStatusItem.h"

#include <QFont>

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
