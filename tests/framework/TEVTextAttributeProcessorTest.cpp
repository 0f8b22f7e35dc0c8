#include "framework/TEVTextAttributeProcessor.h"
#include "tests/support/TestEnvironment.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPalette>
#include <QTextBlock>
#include <QTextCursor>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

QTextCharFormat formatAt(const QTextDocument& document, int position)
{
    QTextCursor cursor(const_cast<QTextDocument*>(&document));
    cursor.setPosition(position + 1); // the format of the character before the cursor
    return cursor.charFormat();
}

bool narrower(const QString& string, double size, double width)
{
    return QFontMetricsF(TEVTextAttributeProcessor::systemFontOfSize(size)).horizontalAdvance(string) < width;
}

} // namespace

TEST(TEVTextAttributeProcessor, FreshBuilderWritesSystemFont14InBlack)
{
    TEVTextAttributeProcessor builder;
    builder.appendString(QStringLiteral("42 °C"));
    const auto text = builder.attributedString();
    EXPECT_EQ(text->toPlainText(), QStringLiteral("42 °C"));
    const QTextCharFormat format = formatAt(*text, 0);
    EXPECT_DOUBLE_EQ(format.font().pointSizeF(), 14.0);
    EXPECT_EQ(format.font().family(), TEVTextAttributeProcessor::systemFontOfSize(14).family());
    EXPECT_EQ(format.foreground().color(), QColor(Qt::black));
    EXPECT_GT(builder.size().width(), 0);
}

TEST(TEVTextAttributeProcessor, SetColorRecoloursEarlierAndLaterTextButInvertedIgnoresIt)
{
    TEVTextAttributeProcessor builder;
    builder.appendString(QStringLiteral("a"));
    builder.setColor(Qt::gray);
    builder.appendString(QStringLiteral("b"));
    builder.setInvertedMode(true);
    builder.appendString(QStringLiteral("c"));
    const auto text = builder.attributedString();
    EXPECT_EQ(formatAt(*text, 0).foreground().color(), QColor(Qt::gray));
    EXPECT_EQ(formatAt(*text, 1).foreground().color(), QColor(Qt::gray));
    const QPalette palette = QGuiApplication::palette();
    EXPECT_EQ(formatAt(*text, 2).foreground().color(), palette.color(QPalette::HighlightedText));
    EXPECT_EQ(formatAt(*text, 2).background().color(), palette.color(QPalette::Highlight));
    EXPECT_EQ(formatAt(*text, 1).background().style(), Qt::NoBrush);
}

TEST(TEVTextAttributeProcessor, DeleteContentRestoresParagraphDefaultsButKeepsFont)
{
    TEVTextAttributeProcessor builder;
    const QFont font = TEVTextAttributeProcessor::systemFontOfSize(9);
    builder.setCurrentFont(font);
    builder.setAlignment(Qt::AlignHCenter);
    builder.appendString(QStringLiteral("x"));
    EXPECT_EQ(builder.attributedString()->firstBlock().blockFormat().alignment(), Qt::AlignHCenter);

    builder.deleteContent();
    EXPECT_TRUE(builder.attributedString()->isEmpty());
    EXPECT_EQ(builder.size(), QSizeF(0, 0));
    builder.appendString(QStringLiteral("y"));
    const auto text = builder.attributedString();
    EXPECT_EQ(text->toPlainText(), QStringLiteral("y"));
    EXPECT_EQ(text->firstBlock().blockFormat().alignment(), Qt::AlignLeading);
    EXPECT_DOUBLE_EQ(formatAt(*text, 0).font().pointSizeF(), 9.0);
}

TEST(TEVTextAttributeProcessor, LargestFontSizeIsZeroForNothingToFit)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct {
        QString string;
        float width;
    } rows[] = {{QString(), 100}, {QStringLiteral(""), 100}, {QStringLiteral("a"), 0}, {QStringLiteral("a"), -5},
                {QStringLiteral("a"), nan}, {QStringLiteral("a"), inf}};
    for (const auto& row : rows)
        EXPECT_EQ(TEVTextAttributeProcessor::largestSystemFontSizeForString(row.string, row.width), 0.0f) << row.width;
}

TEST(TEVTextAttributeProcessor, LargestFontSizeFromHalfTheWidthIsTheLastThatFits)
{
    const QString text = QStringLiteral("ab");
    const double width = 100;
    ASSERT_FALSE(narrower(text, width, width));
    ASSERT_TRUE(narrower(text, width / 2, width));
    const double size = TEVTextAttributeProcessor::largestSystemFontSizeForString(text, float(width));
    EXPECT_GE(size, width / 2);
    EXPECT_LT(size, width);
    EXPECT_DOUBLE_EQ(std::fmod(size - width / 2, 0.5), 0.0);
    EXPECT_TRUE(narrower(text, size, width));
    EXPECT_FALSE(narrower(text, size + 0.5, width));
}

TEST(TEVTextAttributeProcessor, LargestFontSizeNeverGoesBelowEightAndAlwaysEnds)
{
    EXPECT_EQ(TEVTextAttributeProcessor::largestSystemFontSizeForString(QStringLiteral("a very long sensor name indeed"), 20), 8.0f);
    // A width of 8 or less starts growing at the width itself, fit or not.
    EXPECT_EQ(TEVTextAttributeProcessor::largestSystemFontSizeForString(QStringLiteral("a very long sensor name"), 6), 6.0f);
    // Zero-width characters fit at every size: the growth stops at the largest size answered.
    const float size = TEVTextAttributeProcessor::largestSystemFontSizeForString(QStringLiteral("\u200B"), 50);
    EXPECT_GE(size, 50.0f);
    EXPECT_LE(size, 1024.0f);
}

TEST(TEVTextAttributeProcessor, RepetitionOfString)
{
    EXPECT_EQ(TEVTextAttributeProcessor::repetitionOfString(QStringLiteral("-="), 3), QStringLiteral("-=-=-="));
    const QString none = TEVTextAttributeProcessor::repetitionOfString(QStringLiteral("-="), 0);
    EXPECT_TRUE(none.isEmpty());
    EXPECT_FALSE(none.isNull());
    EXPECT_TRUE(TEVTextAttributeProcessor::repetitionOfString(QStringLiteral("-="), 0xFFFFFFFFu).isNull());
    EXPECT_EQ(kelvaro::test::log().lines().size(), 1);
}
