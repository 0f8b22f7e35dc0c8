#include "framework/TEVTextAttributeProcessor.h"

#include "platform/foundation/Log.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPalette>
#include <QTextCharFormat>
#include <QTextCursor>

#include <algorithm>
#include <cmath>

namespace {

// Bounds the growth loop (a string of zero-width characters fits at every size) and keeps the font engine
// away from absurd sizes; no caller draws text that large.
constexpr double kLargestFontSize = 1024.0;
constexpr double kSmallestFontSize = 8.0;
// Exports repeat separators a few hundred times; a count that would need gigabytes is a caller's fault.
constexpr qsizetype kLongestRepetition = qsizetype(1) << 28;

} // namespace

TEVTextAttributeProcessor::TEVTextAttributeProcessor()
    : content_(std::make_unique<QTextDocument>())
    , paragraphStyle_(defaultParagraphStyle())
    , currentFont_(systemFontOfSize(14.0))
{
    fontFormat_.setFont(currentFont_, QTextCharFormat::FontPropertiesAll);
    content_->setDocumentMargin(0);
    // Clipping instead of wrapping: a reading never breaks onto a second line.
    QTextOption option = content_->defaultTextOption();
    option.setWrapMode(QTextOption::NoWrap);
    content_->setDefaultTextOption(option);
}

TEVTextAttributeProcessor::~TEVTextAttributeProcessor() = default;

QFont TEVTextAttributeProcessor::systemFontOfSize(double size)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSizeF(size);
    return font;
}

QTextBlockFormat TEVTextAttributeProcessor::defaultParagraphStyle()
{
    QTextBlockFormat format;
    format.setAlignment(Qt::AlignLeading); // natural: follows the text direction
    format.setTabPositions({});
    return format;
}

void TEVTextAttributeProcessor::setCurrentFont(const QFont& font)
{
    if (font == currentFont_ && font.resolveMask() == currentFont_.resolveMask())
        return;
    currentFont_ = font;
    fontFormat_ = QTextCharFormat();
    fontFormat_.setFont(currentFont_, QTextCharFormat::FontPropertiesAll);
}

void TEVTextAttributeProcessor::setCurrentColor(const QColor& color)
{
    if (color.isValid())
        currentColor_ = color;
}

void TEVTextAttributeProcessor::setColor(const QColor& color)
{
    if (!color.isValid())
        return;
    QTextCursor cursor(content_.get());
    cursor.select(QTextCursor::Document);
    QTextCharFormat format;
    format.setForeground(color);
    cursor.mergeCharFormat(format);
    currentColor_ = color;
}

void TEVTextAttributeProcessor::setAlignment(Qt::Alignment alignment)
{
    paragraphStyle_.setAlignment(alignment);
    applyParagraphStyle();
}

void TEVTextAttributeProcessor::setTabStops(const QList<QTextOption::Tab>& tabStops)
{
    paragraphStyle_.setTabPositions(tabStops);
    applyParagraphStyle();
}

// One paragraph style serves the whole text, as the appended pieces share it.
void TEVTextAttributeProcessor::applyParagraphStyle()
{
    QTextCursor cursor(content_.get());
    cursor.select(QTextCursor::Document);
    cursor.setBlockFormat(paragraphStyle_);
}

void TEVTextAttributeProcessor::appendString(const QString& string)
{
    if (string.isNull())
        return;
    QTextCharFormat format = fontFormat_;
    if (inverted_) {
        const QPalette palette = QGuiApplication::palette();
        format.setForeground(palette.color(QPalette::HighlightedText));
        format.setBackground(palette.color(QPalette::Highlight));
    } else {
        format.setForeground(currentColor_);
    }
    QTextCursor cursor(content_.get());
    // Inside an edit block a moved cursor does not measure its place in the line: that measurement
    // itemized the whole paragraph for every piece, and building a long line was quadratic.
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    const int start = cursor.position();
    cursor.insertText(string, format);
    // Only the paragraphs this text began take the style: restyling the whole text on every piece made
    // building a long text quadratic.
    QTextCursor added(content_.get());
    added.setPosition(start);
    added.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    added.setBlockFormat(paragraphStyle_);
    cursor.endEditBlock();
}

void TEVTextAttributeProcessor::deleteContent()
{
    content_->clear();
    paragraphStyle_ = defaultParagraphStyle();
    applyParagraphStyle();
}

std::unique_ptr<QTextDocument> TEVTextAttributeProcessor::attributedString() const
{
    return std::unique_ptr<QTextDocument>(content_->clone());
}

QSizeF TEVTextAttributeProcessor::size() const
{
    if (content_->isEmpty())
        return {0, 0};
    // Measured on a copy: a laid-out text would be laid out again with every piece appended later.
    const std::unique_ptr<QTextDocument> copy(content_->clone());
    // Lines never wrap, so one layout at any width gives the widest line and the height; adjustSize()
    // would lay the text out up to four times in search of a pleasing wrap width.
    copy->setTextWidth(QFontMetricsF(copy->defaultFont()).horizontalAdvance(QLatin1Char('x')) * 80);
    return {copy->idealWidth(), copy->size().height()};
}

float TEVTextAttributeProcessor::largestSystemFontSizeForString(const QString& string, float width)
{
    if (string.isEmpty() || !std::isfinite(width) || width <= 0)
        return 0;
    const auto narrower = [&string, width](double size) {
        return QFontMetricsF(systemFontOfSize(size)).horizontalAdvance(string) < width;
    };
    double size = std::min<double>(width, kLargestFontSize);
    if (size > kSmallestFontSize) {
        while (!narrower(size)) {
            size /= 2;
            if (size <= kSmallestFontSize)
                return float(kSmallestFontSize);
        }
    }
    // The largest size on the 0.5 grid above `size` at which the string is still narrower. Widths grow with
    // the size, so a galloping probe and a bisection find what stepping by 0.5 would, in few measurements.
    const int limit = std::max(0, int((kLargestFontSize - size) / 0.5));
    int good = 0;
    int bad = limit + 1;
    for (int k = 1; k <= limit;) {
        if (!narrower(size + 0.5 * k)) {
            bad = k;
            break;
        }
        good = k;
        if (k == limit)
            break;
        k = std::min(2 * k, limit);
    }
    while (bad - good > 1) {
        const int middle = good + (bad - good) / 2;
        if (narrower(size + 0.5 * middle))
            good = middle;
        else
            bad = middle;
    }
    return float(size + 0.5 * good);
}

QString TEVTextAttributeProcessor::repetitionOfString(const QString& string, quint32 count)
{
    if (count != 0 && string.size() > kLongestRepetition / qsizetype(count)) {
        platform::log("TEVTextAttributeProcessor", QStringLiteral("repetition of %1 characters %2 times is too long").arg(string.size()).arg(count));
        return {};
    }
    const QString repeated = string.repeated(qsizetype(count));
    return repeated.isNull() ? QString(QLatin1String("")) : repeated; // empty, not nil, for no copies
}
