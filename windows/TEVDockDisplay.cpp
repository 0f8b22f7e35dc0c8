#include "windows/TEVDockDisplay.h"

#include "framework/TEVTextAttributeProcessor.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QTextDocument>

#include <algorithm>

namespace {

constexpr int kRight = 127;
// The LCD look leaves room for its bezel; the plain look may use the whole tile.
constexpr float kLcdTextWidth = 118;
constexpr float kPlainTextWidth = 126;
const QColor kLcdShadow(0x80, 0x80, 0x80);
const QColor kTextShadow(0, 0, 0, 0x80);

// `document` with its top-left corner at `topLeft` (Qt coordinates).
void drawAt(QPainter& painter, QTextDocument& document, const QPointF& topLeft)
{
    painter.save();
    painter.translate(topLeft);
    document.drawContents(&painter);
    painter.restore();
}

} // namespace

TEVDockDisplay::TEVDockDisplay()
{
    backgrounds_[1] = lcdBackground(1);
    backgrounds_[2] = lcdBackground(2);
}

QImage TEVDockDisplay::lcdBackground(int lines)
{
    QImage image(kTileSize, kTileSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // A pale green panel in a thin dark bezel, lit from above; taller for two lines. The text ends 1 to 3
    // points from the tile's right edge, so the panel reaches almost that far.
    const qreal height = lines >= 2 ? 120 : 76;
    const QRectF bezel(0.5, (kTileSize - height) / 2, kTileSize - 1, height);
    QLinearGradient frame(bezel.topLeft(), bezel.bottomLeft());
    frame.setColorAt(0, QColor(0x5a, 0x5f, 0x66));
    frame.setColorAt(1, QColor(0x2b, 0x2e, 0x33));
    painter.setPen(QPen(QColor(0x1c, 0x1e, 0x21), 1));
    painter.setBrush(frame);
    painter.drawRoundedRect(bezel, 9, 9);
    const QRectF panel = bezel.adjusted(3.5, 3.5, -3.5, -3.5);
    QLinearGradient glass(panel.topLeft(), panel.bottomLeft());
    glass.setColorAt(0, QColor(0xc8, 0xd8, 0xa4));
    glass.setColorAt(1, QColor(0xa6, 0xbc, 0x7c));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glass);
    painter.drawRoundedRect(panel, 6, 6);
    return image;
}

void TEVDockDisplay::setDefaultBackground(const QImage& image)
{
    backgrounds_[0] = image;
    drawn_ = QImage();
}

void TEVDockDisplay::setMode(quint8 mode)
{
    mode = std::min<quint8>(mode, 2);
    if (mode_ != mode)
        drawn_ = QImage();
    mode_ = mode;
}

void TEVDockDisplay::setLiquidCrystalDisplay(bool lcd)
{
    if (lcDisplay_ != lcd)
        drawn_ = QImage();
    lcDisplay_ = lcd;
}

void TEVDockDisplay::setLine1Color(const QColor& line1, const QColor& line2)
{
    if (colors_[0] != line1 || colors_[1] != line2)
        drawn_ = QImage();
    colors_[0] = line1;
    colors_[1] = line2;
}

void TEVDockDisplay::setLine1(const QString& line1, const QString& line2)
{
    const auto changed = [](const QString& line, const QString& text) {
        return line.size() != text.size() + 1 || QStringView(line).mid(1) != text;
    };
    if (changed(lines_[0], line1) || changed(lines_[1], line2)) {
        drawn_ = QImage();
        lines_[0] = QLatin1Char(' ') + line1;
        lines_[1] = QLatin1Char(' ') + line2;
    }
}

void TEVDockDisplay::restoreApplicationIcon()
{
    if (!backgrounds_[0].isNull() && qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::setWindowIcon(QIcon(QPixmap::fromImage(backgrounds_[0])));
}

QImage TEVDockDisplay::dockTileImage() const
{
    if (mode_ == 0 && !backgrounds_[0].isNull())
        return backgrounds_[0];
    if (drawn_.isNull())
        drawn_ = drawTile();
    return drawn_;
}

QImage TEVDockDisplay::drawTile() const
{
    QImage image(kTileSize, kTileSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    if (mode_ == 0) {
        painter.setPen(QPen(Qt::black, 2));
        painter.drawLine(0, 0, kRight, kRight);
        painter.drawLine(kRight, 0, 0, kRight);
        return image;
    }

    TEVTextAttributeProcessor builder;
    if (lcDisplay_) {
        builder.setCurrentColor(kLcdShadow);
        float size = TEVTextAttributeProcessor::largestSystemFontSizeForString(lines_[0], kLcdTextWidth);
        painter.drawImage(0, 0, backgrounds_[mode_]);
        if (mode_ == 2)
            size = std::min(size, TEVTextAttributeProcessor::largestSystemFontSizeForString(lines_[1], kLcdTextWidth));
        lastFontSize_ = size;
        // Lines never set are empty: no size fits them, and there is nothing to draw.
        if (size <= 0)
            return image;
        builder.setCurrentFont(TEVTextAttributeProcessor::systemFontOfSize(double(size)));
        builder.appendString(mode_ == 2 ? lines_[0] + QLatin1Char('\n') + lines_[1] : lines_[0]);
        // Right-aligned lines: each ends at the same edge however wide the other is.
        builder.setAlignment(Qt::AlignRight);
        const QSizeF textSize = builder.size();
        const QPointF shadow(kRight - textSize.width(), 64 - textSize.height() / 2);
        auto text = builder.attributedString();
        text->setTextWidth(textSize.width());
        drawAt(painter, *text, shadow);
        builder.setColor(Qt::black);
        text = builder.attributedString();
        text->setTextWidth(textSize.width());
        drawAt(painter, *text, shadow - QPointF(2, 2));
        return image;
    }

    float size = TEVTextAttributeProcessor::largestSystemFontSizeForString(lines_[0], kPlainTextWidth);
    if (mode_ == 2)
        size = std::min(size, TEVTextAttributeProcessor::largestSystemFontSizeForString(lines_[1], kPlainTextWidth));
    lastFontSize_ = size;
    if (size <= 0)
        return image;
    builder.setCurrentFont(TEVTextAttributeProcessor::systemFontOfSize(double(size)));
    for (int i = 0; i < mode_; ++i) {
        builder.deleteContent();
        builder.setCurrentColor(kTextShadow);
        builder.appendString(lines_[i]);
        const QSizeF textSize = builder.size();
        // One line sits in the middle; two split the tile into an upper and a lower half.
        const double top = mode_ == 1 ? 64 - textSize.height() / 2 : 32 + 64 * i - textSize.height() / 2;
        const QPointF shadow(kRight - textSize.width(), top);
        drawAt(painter, *builder.attributedString(), shadow);
        builder.setColor(colors_[i]);
        drawAt(painter, *builder.attributedString(), shadow - QPointF(2, 2));
    }
    return image;
}
