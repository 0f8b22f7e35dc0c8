#pragma once
// TEVTextAttributeProcessor: builds one styled text (Qt rich text) piece by piece for the readings drawn as
// text (menu-bar item, Dock tile, sensor window): a current font and colour, appended strings, an
// inverted mode in the palette's highlight colours. Owned by its caller; main thread only (needs a
// QGuiApplication for fonts).

#include <QColor>
#include <QFont>
#include <QList>
#include <QSizeF>
#include <QString>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QTextOption>

#include <memory>

class TEVTextAttributeProcessor {
public:
    TEVTextAttributeProcessor();
    ~TEVTextAttributeProcessor();
    TEVTextAttributeProcessor(const TEVTextAttributeProcessor&) = delete;
    TEVTextAttributeProcessor& operator=(const TEVTextAttributeProcessor&) = delete;

    // The system font at `size` points; the builder starts with size 14.
    static QFont systemFontOfSize(double size);

    QFont currentFont() const { return currentFont_; }
    void setCurrentFont(const QFont& font);
    QColor currentColor() const { return currentColor_; }
    // An invalid colour is ignored, here and in setColor.
    void setCurrentColor(const QColor& color);
    // Recolours everything built so far and makes the colour current.
    void setColor(const QColor& color);
    void setAlignment(Qt::Alignment alignment);
    void setTabStops(const QList<QTextOption::Tab>& tabStops);
    bool invertedMode() const { return inverted_; }
    void setInvertedMode(bool inverted) { inverted_ = inverted; }

    // A null string is ignored. Line feeds start new paragraphs.
    void appendString(const QString& string);
    // Empties the text and returns alignment and tab stops to their defaults; font, colour and mode stay.
    void deleteContent();

    // A copy of the content, independent of the builder.
    std::unique_ptr<QTextDocument> attributedString() const;
    // The drawing size of the content in pixels, without margins; (0, 0) when empty.
    QSizeF size() const;

    // The largest system font size (0.5 steps) at which `string` is narrower than `width`, never below 8.0;
    // 0 for an empty string or a width that is not positive and finite.
    static float largestSystemFontSizeForString(const QString& string, float width);
    // `count` copies of `string`; null (with a log line) beyond 2^28 characters.
    static QString repetitionOfString(const QString& string, quint32 count);

private:
    void applyParagraphStyle();
    static QTextBlockFormat defaultParagraphStyle();

    std::unique_ptr<QTextDocument> content_;
    QTextBlockFormat paragraphStyle_;
    QColor currentColor_ = Qt::black;
    QFont currentFont_;
    // The current font as a character format: setting all of a font's properties costs more than the
    // piece it styles, and the font seldom changes between pieces.
    QTextCharFormat fontFormat_;
    bool inverted_ = false;
};
