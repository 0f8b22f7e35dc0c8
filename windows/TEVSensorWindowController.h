#pragma once
// TEVSensorWindowController: drives the standard sensor window (style 0) or the floating screen display
// (style 1, 2 in backdrop mode): the current values of the user's gauges as one styled text, each value with
// its gauge's name below (vertical layout) or in a line of names below the line of values (horizontal),
// sized to the text and kept on a screen. Made once per style by the application controller; main thread.

#include "app/model/ApplicationWindows.h"
#include "framework/TEVTextAttributeProcessor.h"

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QHash>
#include <QPointer>
#include <QSizeF>
#include <QTextCharFormat>
#include <QTextOption>

#include <memory>
#include <optional>

class QLabel;
class QTextDocument;
class QTextEdit;
class QWidget;
class TEVScreenDisplayWindow;
namespace platform {
class UserDefaults;
}

class TEVSensorWindowController final : public SensorWindow {
public:
    static inline const QString kPositionRecordPrefix = QStringLiteral("TEVSpecialAutosave-");
    // The frame the window system keeps per autosave name: "x y width height", top-left first.
    static inline const QString kFrameRecordPrefix = QStringLiteral("TEVWindowFrame-");
    // Set while the standard window is smaller than its text because its screen is: a larger screen gives
    // it the size of its text again.
    static inline const QString kCutRecordPrefix = QStringLiteral("TEVWindowFrameCut-");
    static constexpr QPoint kDefaultPosition{300, 300};

    // `defaults` holds the position and frame records; null: the program's standard defaults. The screen
    // display is translucent when `translucent` is set, else when a compositor runs.
    TEVSensorWindowController(qint64 style, const QString& autosaveName,
                              std::shared_ptr<platform::UserDefaults> defaults = nullptr,
                              std::optional<bool> translucent = std::nullopt);
    ~TEVSensorWindowController() override;

    // The label font: the base font's family at max(6, size / ratio) points; none below a ratio of 1.
    static std::optional<QFont> nameFontForBaseFont(const QFont& baseFont, float ratio);
    static QTextOption::TabType tabulatorTypeForAlignment(quint64 alignment);
    static Qt::Alignment qtAlignment(quint64 alignment);
    // A sample value with its name in `field` as the windows show them; nothing when anything is missing.
    static void simulateDisplayOfStringValue(const QString& value, const QString& gaugeName, const QFont& font,
                                             const QColor& color, quint64 alignment, float labelRatio, QLabel* field);

    QWidget* sensorWindow() const;
    QWidget* window() const override { return sensorWindow(); }
    // The document on display (tests, screenshots).
    const QTextDocument* document() const;
    qint64 windowStyle() const { return windowStyle_; }
    QSizeF lastDisplayedTextSize() const { return lastDisplayedTextSize_; }
    QSizeF cellSize() const { return cellSize_; }
    bool suppressesWindowResizing() const { return suppressWindowResizing_; }
    QPoint preferredPositionForWindow() const;
    // Where the window opens without a record: the sensor window at kDefaultPosition, the screen display beside it.
    QPoint defaultPosition() const;
    bool isWindowOnAnyScreen() const;

    // --- SensorWindow ------------------------------------------------------------------------------------
    // The screen display in the middle of the screen it is on.
    void centerOnScreen() override;
    bool isWindowVisible() const override;
    void showWindow() override;
    void orderOut() override;
    void setWindowTitle(const QString& title) override;
    void saveSpecialPositionPreferences() override;
    void setBackgroundColor(const ColorPtr& color) override;
    void setHasVerticalLayout(bool vertical) override;
    void setBaseFont(const MachinePreferences::Font& font) override;
    void setLabelRatio(float ratio) override { labelRatio_ = ratio; }
    void setFixedForegroundColor(const ColorPtr& color) override;
    void setAlignment(quint64 alignment) override;
    void setWindowStyle(qint64 style) override;
    void setTransparency(float alpha) override;
    void setHasShadow(bool shadow) override;
    void setHasFixedPosition(bool fixed) override;
    void removeAllValues() override;
    void addStringValue(const QString& value, const std::shared_ptr<TEVGauge>& gauge) override;
    void updateWindow() override;

    void setBaseFont(const QFont& font);
    void resizeWindowUsingContentMinimumSize(const QSizeF& minimum, const QSizeF& maximum);
    // Scroll bars on the standard window exactly where its text does not fit.
    void updateScrollBars();

private:
    void restoreFrame();
    void saveFrame() const;
    // The first place of a window without a record: free of the program's other windows, within its screen.
    void placeFreely();
    void buildVertical(const std::optional<QFont>& labelFont);
    void buildGrid(const std::optional<QFont>& labelFont, qsizetype columns, qsizetype rows);
    // The cells of the values in `base` laid out within `area` (unbounded when empty).
    struct Grid {
        QSizeF cell;
        qsizetype columns = 1;
        qsizetype rows = 1;
        bool wrapped = false; // more than one row of the horizontal layout, or column of the vertical one
        bool fits(const QRect& area, double padding) const;
    };
    Grid gridFor(const QFont& base, const QRect& area);
    QSizeF measureCell(const QString& value, const QString& name, const QFont& base, const std::optional<QFont>& labelFont);

public:
    // The size of one line of `text` in `font` as the sensor window's text lays it out (an empty text: the
    // line's height only).
    static QSizeF lineSize(const QString& text, const QFont& font);
    // A cell's size from its lines' sizes, as measureCell measures the text of the cell.
    QSizeF cellFromLines(const QString& value, const QString& name, const QFont& base, const std::optional<QFont>& labelFont);
    QSizeF measuredCell(const QString& value, const QString& name, const QFont& base, const std::optional<QFont>& labelFont)
    {
        return measureCell(value, name, base, labelFont);
    }

private:
    // The available area of the screen the window is on (else the primary one); empty without screens.
    QRect availableAreaForWindow() const;
    void showDocument();
    // Puts the current values into the shown text where only values changed; false when it must be built anew.
    bool editShownValues(const Grid& grid);
    // Everything the shown text is built from besides the values' texts.
    struct Frame {
        bool valid = false;
        QFont font;
        float labelRatio = 0;
        bool vertical = false;
        QColor foreground;
        quint64 alignment = 0;
        QStringList names;
        QList<QColor> colors;
        QList<bool> alerts;
        bool operator==(const Frame&) const = default;
    };
    Frame currentFrame() const;
    QSize decorationSize() const;

    qint64 windowStyle_ = 0;
    bool layoutIsVertical_ = false;
    QFont baseFont_;
    float labelRatio_ = 2.4f;
    QColor foregroundColor_; // invalid: each gauge's colour
    quint64 textAlignment_ = 1;
    QStringList currentDisplayValues_;
    QList<std::shared_ptr<TEVGauge>> currentGauges_;
    QSizeF lastDisplayedTextSize_;
    QSizeF cellSize_;
    // The standard window's size that shows all its text without scroll bars, and the room a bar across the
    // text's direction takes: both as the last layout left them.
    QSize textWindowSize_;
    QSize barRoom_;
    bool suppressWindowResizing_ = false;
    bool awaitsPlace_ = false;
    QString autosaveName_;
    std::shared_ptr<platform::UserDefaults> defaults_;
    TEVTextAttributeProcessor builder_;
    std::unique_ptr<QTextDocument> shown_; // the screen display's text
    QPointer<QWidget> window_;
    QPointer<QTextEdit> sensorText_;     // standard window only
    QPointer<TEVScreenDisplayWindow> screenWindow_; // screen display only
    // The fonts and orientation as a key → (value, name) → size.
    QHash<QString, QHash<std::pair<QString, QString>, QSizeF>> measuredCells_;
    qsizetype measuredCount_ = 0;
    // Line sizes by font and text: a changed value is measured alone, not in a text with its name.
    QHash<std::pair<QString, QString>, QSizeF> measuredLines_;
    QFont layoutFont_; // the base font as laid out: smaller where the screen display would not fit its screen
    // What the last tick showed, so that an unchanged tick draws nothing.
    Frame signedFrame_;
    QStringList signedValues_;
    // What the standard window's text was built from besides the values, and where each value stands in it.
    Frame shownFrame_;
    QStringList shownValues_;
    QList<qsizetype> shownValueAt_;
    // Set where the standard window's grid of cells is laid out cell by cell (SensorGridLayout).
    bool gridLayout_ = false;
    Grid shownGrid_;
    QPointer<QTextDocument> editable_;
    std::unique_ptr<QTextDocument> measuring_;
    QList<QFont> measuringFonts_;         // value, label
    QTextCharFormat measuringFormats_[2]; // of those fonts
    friend class FrameAutosaver;
};
