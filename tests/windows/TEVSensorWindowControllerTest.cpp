// The sensor window and screen display offscreen: fonts, layout measured from the shown document, records.

#include "windows/TEVSensorWindowController.h"

#include "app/model/TEVGauge.h"
#include "platform/desktop/widgets/ApplicationMenuBar.h"
#include "platform/foundation/UserDefaults.h"
#include "windows/TEVScreenDisplayWindow.h"
#include "windows/WindowFrameRecord.h"
#include "tests/support/TestEnvironment.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

namespace {

QSize ceilSize(const QSizeF& size)
{
    return QSize(int(std::ceil(size.width())), int(std::ceil(size.height())));
}

std::string text(const QRect& r)
{
    return QStringLiteral("%1x%2+%3+%4").arg(r.width()).arg(r.height()).arg(r.x()).arg(r.y()).toStdString();
}

std::shared_ptr<TEVGauge> gauge(const QString& name, bool alerting = false)
{
    auto g = std::make_shared<TEVGauge>();
    g->setCustomName(name);
    g->setPresentationColor(platform::Color::rgb(platform::Color::Space::DeviceRGB, 0.8f, 0.1f, 0.1f));
    g->setAlertState(alerting);
    return g;
}

class SensorWindowTest : public ::testing::Test {
protected:
    std::unique_ptr<TEVSensorWindowController> make(qint64 style, const QString& name = QStringLiteral("StandardWindow"))
    {
        return std::make_unique<TEVSensorWindowController>(style, name, defaults_, false);
    }
    static void fill(TEVSensorWindowController& window, int n, bool alertFirst = false)
    {
        window.removeAllValues();
        for (int i = 0; i < n; ++i)
            window.addStringValue(QStringLiteral("%1.5 °C").arg(40 + i), gauge(QStringLiteral("Sensor %1").arg(i), alertFirst && i == 0));
        window.updateWindow();
    }
    // The x at which the text of `block` reaches `position` (from the block's start), margin included.
    static double xAt(const QTextDocument& document, int blockNumber, int position)
    {
        const QTextBlock block = document.findBlockByNumber(blockNumber);
        const QTextLine line = block.layout()->lineForTextPosition(position);
        return document.documentMargin() + line.cursorToX(position);
    }

    QTemporaryDir dir_;
    std::shared_ptr<platform::UserDefaults> defaults_ =
        std::make_shared<platform::UserDefaults>(dir_.path() + QStringLiteral("/standard.plist"));
};

} // namespace

TEST(TEVSensorWindowController, LabelFontIsTheBaseSizeOverTheRatioNeverBelowSix)
{
    struct Row {
        double size;
        float ratio;
        double expected; // 0: no label font
    } rows[] = {{10, 2.4f, 6}, {24, 2.4f, 10}, {24, 1.0f, 24}, {30, 4.0f, 7.5}, {24, 0.99f, 0}, {24, 0.0f, 0}};
    for (const Row& row : rows) {
        QFont base(QStringLiteral("DejaVu Sans"));
        base.setPointSizeF(row.size);
        const auto label = TEVSensorWindowController::nameFontForBaseFont(base, row.ratio);
        if (row.expected == 0) {
            EXPECT_FALSE(label) << row.size << " / " << row.ratio;
            continue;
        }
        ASSERT_TRUE(label) << row.size << " / " << row.ratio;
        EXPECT_DOUBLE_EQ(label->pointSizeF(), row.expected) << row.size << " / " << row.ratio;
        EXPECT_EQ(label->family(), base.family());
    }
}

TEST(TEVSensorWindowController, JustifiedNaturalAndUnknownAlignmentsTabLikeRight)
{
    const std::pair<quint64, QTextOption::TabType> rows[] = {
        {0, QTextOption::LeftTab},  {1, QTextOption::RightTab}, {2, QTextOption::CenterTab},
        {3, QTextOption::RightTab}, {4, QTextOption::RightTab}, {99, QTextOption::RightTab}};
    for (const auto& [alignment, type] : rows)
        EXPECT_EQ(TEVSensorWindowController::tabulatorTypeForAlignment(alignment), type) << alignment;
}

TEST_F(SensorWindowTest, OneHorizontalCellHasItsTabStopByAlignment)
{
    struct Row {
        quint64 alignment;
        double stopInCells;
        bool tabAfterText;
    } rows[] = {{2, 0.5, false}, {0, 1.0, true}, {1, 1.0, false}, {3, 1.0, false}};
    for (const Row& row : rows) {
        auto window = make(0);
        window->setAlignment(row.alignment);
        fill(*window, 1);
        const QTextDocument& document = *window->document();
        const auto stops = document.firstBlock().blockFormat().tabPositions();
        ASSERT_EQ(stops.size(), 1) << row.alignment;
        EXPECT_DOUBLE_EQ(stops.first().position, row.stopInCells * window->cellSize().width()) << row.alignment;
        EXPECT_EQ(stops.first().type, TEVSensorWindowController::tabulatorTypeForAlignment(row.alignment));
        const QString first = document.firstBlock().text();
        EXPECT_EQ(first, row.tabAfterText ? QStringLiteral("40.5 °C\t") : QStringLiteral("\t40.5 °C")) << row.alignment;
        EXPECT_EQ(document.findBlockByNumber(1).text(), row.tabAfterText ? QStringLiteral("Sensor 0\t") : QStringLiteral("\tSensor 0"));
    }
}

TEST_F(SensorWindowTest, RightAlignedValuesEndAtTheirCellsInTheLaidOutText)
{
    auto window = make(0);
    fill(*window, 3);
    const QTextDocument& document = *window->document();
    const double cell = window->cellSize().width();
    // "\t40.5 °C\t41.5 °C\t42.5 °C": each value ends at its right tab stop.
    const QString text = document.firstBlock().text();
    int end = 0;
    for (int t = 0; t < 3; ++t) {
        end = int(text.indexOf(QLatin1Char('\t'), end)) + 1 + 7;
        EXPECT_NEAR(xAt(document, 0, end), document.documentMargin() + (t + 1) * cell, 1.0) << t;
    }
}

// Each value stands where its alignment puts it in its cell after every tick that changes its width, as in a
// text built anew with the same values.
TEST_F(SensorWindowTest, ValuesOfChangingWidthsStayAlignedInTheirCells)
{
    struct Row {
        const char* name;
        quint64 alignment;
        QStringList ticks; // the values of each tick, "|" between cells
    } rows[] = {
        {"right, narrower and wider", 1, {"40.5 °C|41.5 °C|1200 rpm", "8 °C|41.5 °C|1200 rpm", "8 °C|141.25 °C|7 rpm"}},
        {"centred, narrower and wider", 2, {"40.5 °C|41.5 °C|1200 rpm", "8 °C|41.5 °C|1200 rpm", "8 °C|141.25 °C|7 rpm"}},
        {"left", 0, {"40.5 °C|41.5 °C|1200 rpm", "8 °C|141.25 °C|7 rpm"}},
        {"equal widths", 1, {"40.5 °C|41.5 °C|1200 rpm", "42.5 °C|43.5 °C|1300 rpm"}},
        {"right to left text and back", 1,
         {"40.5 °C|41.5 °C|1200 rpm", QStringLiteral("40.5 °C|%1 41|1200 rpm").arg(QString::fromUtf8("מעלות")), "8 °C|41.5 °C|7 rpm"}},
        {"centred, right to left", 2, {"40.5 °C|41.5 °C|1200 rpm", QStringLiteral("%1|41.5 °C|7 rpm").arg(QString::fromUtf8("חם"))}},
    };
    // Where each cell's value starts and ends in the laid-out first line, without the margin.
    const auto places = [](const TEVSensorWindowController& window) {
        auto* document = const_cast<QTextDocument*>(window.document());
        const QTextBlock block = document->firstBlock();
        document->documentLayout()->blockBoundingRect(block);
        const QString text = block.text();
        const auto x = [&](qsizetype position) { return block.layout()->lineForTextPosition(int(position)).cursorToX(int(position)); };
        QList<std::pair<double, double>> found;
        qsizetype start = 0;
        for (const QString& part : text.split(QLatin1Char('\t'))) {
            if (!part.isEmpty())
                found.append({x(start), x(start + part.size())});
            start += part.size() + 1;
        }
        return found;
    };
    // A fourth, widest value keeps the cells' size through every tick.
    const auto show = [](TEVSensorWindowController& window, const QString& tick) {
        window.removeAllValues();
        const QStringList values = (tick + QStringLiteral("|0000000000")).split(QLatin1Char('|'));
        for (qsizetype i = 0; i < values.size(); ++i)
            window.addStringValue(values.at(i), gauge(QStringLiteral("Sensor %1").arg(i)));
        window.updateWindow();
    };
    for (const Row& row : rows) {
        auto edited = make(0, QString());
        edited->setAlignment(row.alignment);
        show(*edited, QStringLiteral("0000000000|0000000000|0000000000"));
        const QSizeF cell = edited->cellSize();
        for (qsizetype t = 0; t < row.ticks.size(); ++t) {
            SCOPED_TRACE(testing::Message() << row.name << ", tick " << t);
            const QTextDocument* before = edited->document();
            show(*edited, row.ticks.at(t));
            ASSERT_EQ(edited->cellSize(), cell);
            const bool leftToRight = std::none_of(row.ticks.at(t).cbegin(), row.ticks.at(t).cend(),
                                                  [](QChar c) { return c.unicode() >= 0x0590 && c.unicode() <= 0x05ff; });
            // Edited in place, not built anew; text from the right has the whole text built again.
            EXPECT_EQ(edited->document() == before, leftToRight);
            auto built = make(0, QString());
            built->setAlignment(row.alignment);
            show(*built, row.ticks.at(t));
            ASSERT_EQ(built->cellSize(), cell);
            const auto shown = places(*edited);
            const auto expected = places(*built);
            ASSERT_EQ(shown.size(), 4);
            ASSERT_EQ(expected.size(), 4);
            for (int c = 0; c < 4; ++c) {
                EXPECT_NEAR(shown.at(c).first, expected.at(c).first, 0.05) << c;
                EXPECT_NEAR(shown.at(c).second, expected.at(c).second, 0.05) << c;
                if (!leftToRight)
                    continue;
                const double end = std::max(shown.at(c).first, shown.at(c).second);
                const double begin = std::min(shown.at(c).first, shown.at(c).second);
                const double at = row.alignment == 0 ? begin - c * cell.width()
                                  : row.alignment == 2 ? (begin + end) / 2 - (c + 0.5) * cell.width()
                                                       : end - (c + 1) * cell.width();
                EXPECT_NEAR(at, 0.0, 0.05) << c;
            }
        }
    }
}

// The sensor window lays its cells out one by one; they must look, measure and answer a pointer as the text
// engine's own layout of the same text with its tab stops.
TEST_F(SensorWindowTest, CellsLaidOutOneByOneLookAsTheTextEnginesLine)
{
    using platform::Color;
    struct Row {
        const char* name;
        quint64 alignment;
        float ratio;
        bool oneColor;
        QStringList values;
        bool select = false;
        bool cellByCell = true; // false: laid out by the text engine
    } rows[] = {
        {"right", 1, 2.4f, false, {"40.5 °C", "8 °C", "1200 rpm", "0.93 V"}},
        {"centred", 2, 2.4f, false, {"40.5 °C", "8 °C", "1200 rpm", "0.93 V"}},
        {"left", 0, 2.4f, false, {"40.5 °C", "8 °C", "1200 rpm", "0.93 V"}},
        {"names in the value font", 1, 0.5f, false, {"40.5 °C", "8 °C", "1200 rpm"}},
        {"one colour", 2, 2.4f, true, {"40.5 °C", "8 °C", "1200 rpm"}},
        {"blanks within values", 1, 2.4f, false, {"40.5  °C", "8 ° C", "fan 2"}},
        {"blanks after values", 1, 2.4f, false, {"40.5 °C ", "8 °C  ", "fi ffl"}, false, false},
        {"left, blanks after values", 0, 2.4f, false, {"40.5 °C ", "8 °C  ", "fi ffl"}, false, false},
        {"a blank before a value", 1, 2.4f, false, {"40.5 °C", " 8 °C", "fi ffl"}, false, false},
        {"a value of blanks", 2, 2.4f, false, {"40.5 °C", "  ", "fi ffl"}, false, false},
        {"selected across cells", 1, 2.4f, false, {"40.5 °C", "8 °C", "1200 rpm"}, true},
        {"left, selected", 0, 2.4f, false, {"40.5 °C", "8 °C", "1200 rpm"}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto window = make(0, QString());
        window->setAlignment(row.alignment);
        window->setLabelRatio(row.ratio);
        if (row.oneColor)
            window->setFixedForegroundColor(Color::rgb(Color::Space::DeviceRGB, 0.1f, 0.3f, 0.9f));
        window->removeAllValues();
        for (qsizetype i = 0; i < row.values.size(); ++i)
            window->addStringValue(row.values.at(i), gauge(QStringLiteral("Sensor %1").arg(i), i == 1));
        window->updateWindow();
        auto* cells = const_cast<QTextDocument*>(window->document());
        std::unique_ptr<QTextDocument> line(cells->clone());
        line->setTextWidth(cells->textWidth());
        EXPECT_EQ(cells->documentLayout()->metaObject() != line->documentLayout()->metaObject(), row.cellByCell);
        EXPECT_EQ(cells->documentLayout()->documentSize(), line->documentLayout()->documentSize());
        for (QTextBlock a = cells->begin(), b = line->begin(); a.isValid() && b.isValid(); a = a.next(), b = b.next())
            EXPECT_EQ(cells->documentLayout()->blockBoundingRect(a).top(), line->documentLayout()->blockBoundingRect(b).top());
        const QSize size = ceilSize(line->documentLayout()->documentSize());
        const auto picture = [&](QTextDocument& document) {
            QImage image(size, QImage::Format_ARGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            QAbstractTextDocumentLayout::PaintContext context;
            context.clip = QRectF(QPointF(0, 0), size);
            if (row.select) {
                QAbstractTextDocumentLayout::Selection selection;
                selection.cursor = QTextCursor(&document);
                selection.cursor.setPosition(3);
                selection.cursor.setPosition(document.firstBlock().length() + 6, QTextCursor::KeepAnchor);
                selection.format.setBackground(Qt::darkBlue);
                selection.format.setForeground(Qt::white);
                context.selections.append(selection);
            }
            document.documentLayout()->draw(&painter, context);
            return image;
        };
        EXPECT_TRUE(picture(*cells) == picture(*line));
        // A pointer on a value's text finds the same place in it.
        const QTextBlock first = line->firstBlock();
        const QTextLine engineLine = first.layout()->lineAt(0);
        for (qsizetype at = 0; at < first.length() - 1; ++at) {
            if (first.text().at(at) == QLatin1Char('\t'))
                continue;
            const QPointF point(line->documentMargin() + (engineLine.cursorToX(int(at)) + engineLine.cursorToX(int(at + 1))) / 2,
                                line->documentMargin() + engineLine.height() / 2);
            EXPECT_EQ(cells->documentLayout()->hitTest(point, Qt::FuzzyHit), line->documentLayout()->hitTest(point, Qt::FuzzyHit)) << at;
            EXPECT_EQ(cells->documentLayout()->hitTest(point, Qt::ExactHit), line->documentLayout()->hitTest(point, Qt::ExactHit)) << at;
        }
    }
}

// A changed value is measured as a line alone; a cell must measure as the text of its value and name does.
TEST_F(SensorWindowTest, ACellMeasuredByItsLinesIsAsLargeAsItsText)
{
    struct Row {
        QString value, name;
        double size;
        float ratio;
    } rows[] = {
        {"40.5 °C", "CPU Core 1", 24, 2.4f},
        {"1200 rpm", "Exhaust fan speed of the right side", 24, 2.4f},
        {"8", "A", 11, 1.0f},
        {"0.93 V", "Battery", 30, 0.5f},
        {QString::fromUtf8("温度 40 °C"), "GPU", 24, 2.4f},
        {QString::fromUtf8("\u0664\u0660 \u00b0\u0645"), QString::fromUtf8("حرارة"), 24, 2.4f},
        {QString::fromUtf8("🔥 50 °C"), "Hot", 18, 2.4f},
        {QString::fromUtf8("e\u0301 12"), "Combining", 24, 2.4f},
        {"40.5 °C ", " padded ", 24, 2.4f},
        {"", "No value", 24, 2.4f},
        {"12 W", "", 24, 2.4f},
    };
    for (const bool vertical : {false, true})
        for (const Row& row : rows) {
            SCOPED_TRACE(testing::Message() << row.value.toStdString() << " / " << row.name.toStdString() << " " << vertical);
            auto window = make(0, QString());
            window->setHasVerticalLayout(vertical);
            QFont base(QStringLiteral("DejaVu Sans"));
            base.setPointSizeF(row.size);
            const auto label = TEVSensorWindowController::nameFontForBaseFont(base, row.ratio);
            const QSizeF text = window->measuredCell(row.value, row.name, base, label);
            const QSizeF lines = window->cellFromLines(row.value, row.name, base, label);
            EXPECT_DOUBLE_EQ(lines.width(), text.width());
            EXPECT_DOUBLE_EQ(lines.height(), text.height());
        }
}

TEST_F(SensorWindowTest, CellsAndTextSizeComeFromTheLargestMeasuredValue)
{
    for (const bool vertical : {false, true}) {
        auto window = make(0);
        window->setHasVerticalLayout(vertical);
        window->removeAllValues();
        window->addStringValue(QStringLiteral("1"), gauge(QStringLiteral("Fan")));
        window->addStringValue(QStringLiteral("12345 rpm"), gauge(QStringLiteral("Exhaust fan speed")));
        window->updateWindow();

        TEVTextAttributeProcessor builder;
        builder.setCurrentFont(TEVTextAttributeProcessor::systemFontOfSize(24));
        builder.appendString(QStringLiteral("12345 rpm\n"));
        builder.setCurrentFont(*TEVSensorWindowController::nameFontForBaseFont(builder.currentFont(), 2.4f));
        builder.appendString(vertical ? QStringLiteral("Exhaust fan speed\n") : QStringLiteral("Exhaust fan speed"));
        const QSizeF largest = builder.size();
        // Cells side by side keep a blank of the value font between the widest values.
        const double gap = vertical ? 0.0 : QFontMetricsF(TEVTextAttributeProcessor::systemFontOfSize(24)).horizontalAdvance(' ');
        EXPECT_TRUE(vertical || gap > 2.0) << gap;
        EXPECT_DOUBLE_EQ(window->cellSize().width(), largest.width() + 4 + gap) << vertical;
        EXPECT_DOUBLE_EQ(window->cellSize().height(), largest.height() + 4) << vertical;
        const QSizeF cell = window->cellSize();
        const QSizeF expected = vertical ? QSizeF(cell.width() + 10, 2 * cell.height() + 10)
                                         : QSizeF(2 * cell.width() + 10, cell.height() + 10);
        EXPECT_EQ(window->lastDisplayedTextSize(), expected) << vertical;
        // The shown text is as high as the cells say: the layout and the measurement agree.
        auto* shown = const_cast<QTextDocument*>(window->document());
        EXPECT_NEAR(shown->documentLayout()->documentSize().height(), expected.height() - 4 * (vertical ? 2 : 1), 1.0) << vertical;
    }
}

TEST_F(SensorWindowTest, AnEmptyListShowsNoTextAndKeepsTheSize)
{
    for (const qint64 style : {0, 1}) {
        auto window = make(style, QString());
        fill(*window, 2);
        const QSize before = window->sensorWindow()->size();
        const QSizeF text = window->lastDisplayedTextSize();
        fill(*window, 0);
        EXPECT_TRUE(window->document()->isEmpty()) << style;
        EXPECT_EQ(window->sensorWindow()->size(), before) << style;
        EXPECT_EQ(window->lastDisplayedTextSize(), text) << style;
    }
}

TEST_F(SensorWindowTest, OnlyTheValueOfAnAlertingGaugeIsInverted)
{
    for (const bool vertical : {false, true}) {
        auto window = make(0);
        window->setHasVerticalLayout(vertical);
        fill(*window, 2, true);
        const QTextDocument& document = *window->document();
        QStringList inverted;
        for (QTextBlock block = document.begin(); block.isValid(); block = block.next())
            for (auto it = block.begin(); !it.atEnd(); ++it)
                if (it.fragment().charFormat().background().style() != Qt::NoBrush)
                    inverted.append(it.fragment().text().trimmed());
        EXPECT_EQ(inverted.join(QLatin1Char('|')).remove(QLatin1Char('\t')), QStringLiteral("40.5 °C")) << vertical;
    }
}

// A tick that changes only values edits the shown text in place; it must read and look as a text built anew.
TEST_F(SensorWindowTest, ValuesChangedInPlaceLookAsABuiltText)
{
    const auto values = [](int tick, int i) {
        return tick == 0 || i % 3 == 0 ? QStringLiteral("%1.5 °C").arg(40 + i)
                                       : i % 3 == 1 ? QStringLiteral("%1 °C").arg(7 + i) : QStringLiteral("%1.5 °C").arg(48 - i);
    };
    const auto show = [&](TEVSensorWindowController& window, int tick) {
        window.removeAllValues();
        for (int i = 0; i < 7; ++i)
            window.addStringValue(values(tick, i), gauge(QStringLiteral("Sensor %1").arg(i), i == 2));
        window.updateWindow();
    };
    // What the window system was given to show: after an edit, only what was repainted is new.
    const auto picture = [](TEVSensorWindowController& window) {
        QApplication::processEvents();
        auto* text = window.sensorWindow()->findChild<QTextEdit*>(QStringLiteral("sensorText"));
        const QPoint at = text->viewport()->mapTo(window.sensorWindow(), QPoint(0, 0));
        return window.sensorWindow()->screen()->grabWindow(window.sensorWindow()->winId(), at.x(), at.y(),
                                                          text->viewport()->width(), text->viewport()->height()).toImage();
    };
    for (const bool vertical : {false, true})
        for (const quint64 alignment : {0u, 1u, 2u}) {
            SCOPED_TRACE(testing::Message() << vertical << " " << alignment);
            auto edited = make(0, QString());
            auto built = make(0, QString());
            for (auto* window : {edited.get(), built.get()}) {
                window->setHasVerticalLayout(vertical);
                window->setAlignment(alignment);
            }
            show(*edited, 0);
            show(*built, 1);
            for (auto* window : {edited.get(), built.get()}) {
                window->showWindow();
                // Smaller than its text and scrolled, the repainted cells are found where they are shown.
                window->sensorWindow()->resize(window->sensorWindow()->minimumSize());
                QApplication::processEvents();
                auto* text = window->sensorWindow()->findChild<QTextEdit*>(QStringLiteral("sensorText"));
                EXPECT_TRUE(text->horizontalScrollBar()->isVisible() || text->verticalScrollBar()->isVisible());
                text->horizontalScrollBar()->setValue(37);
                text->verticalScrollBar()->setValue(11);
            }
            picture(*edited);
            const QTextDocument* before = edited->document();
            show(*edited, 1);
            EXPECT_EQ(edited->document(), before);
            EXPECT_EQ(edited->document()->toPlainText(), built->document()->toPlainText());
            EXPECT_EQ(edited->sensorWindow()->size(), built->sensorWindow()->size());
            EXPECT_TRUE(picture(*edited) == picture(*built));
        }
}

// Whatever a pane changes while the values stay must show at the next tick, as a window built with it shows.
TEST_F(SensorWindowTest, ASettingChangedWithUnchangedValuesShowsAtTheNextTick)
{
    using platform::Color;
    struct Settings {
        std::shared_ptr<Color> oneColor = Color::rgb(Color::Space::DeviceRGB, 0, 0, 0); // null: sensor colours
        double fontSize = 24;
        float ratio = 2.4f;
        quint64 alignment = 1;
        bool vertical = false;
        std::shared_ptr<Color> background = Color::rgb(Color::Space::DeviceRGB, 1, 1, 1);
    };
    struct Row {
        const char* name;
        std::function<void(Settings&)> before, after;
    };
    const auto none = [](Settings&) {};
    const Row rows[] = {
        {"sensor colours after black", none, [](Settings& s) { s.oneColor = nullptr; }},
        {"black after sensor colours", [](Settings& s) { s.oneColor = nullptr; }, none},
        {"another one colour", none, [](Settings& s) { s.oneColor = Color::rgb(Color::Space::DeviceRGB, 0, 0, 1); }},
        {"font", none, [](Settings& s) { s.fontSize = 18; }},
        {"ratio", none, [](Settings& s) { s.ratio = 1.5f; }},
        {"alignment", none, [](Settings& s) { s.alignment = 0; }},
        {"layout", none, [](Settings& s) { s.vertical = true; }},
        {"background", none, [](Settings& s) { s.background = Color::rgb(Color::Space::DeviceRGB, 1, 1, 0.6f); }},
    };
    const auto apply = [](TEVSensorWindowController& window, const Settings& s) {
        window.setFixedForegroundColor(s.oneColor);
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPointSizeF(s.fontSize);
        window.setBaseFont(font);
        window.setLabelRatio(s.ratio);
        window.setAlignment(s.alignment);
        window.setHasVerticalLayout(s.vertical);
        window.setBackgroundColor(s.background);
    };
    const auto tick = [](TEVSensorWindowController& window) {
        window.removeAllValues();
        for (int i = 0; i < 3; ++i)
            window.addStringValue(QStringLiteral("%1.5 °C").arg(40 + i), gauge(QStringLiteral("Sensor %1").arg(i)));
        window.updateWindow();
    };
    const auto picture = [](TEVSensorWindowController& window) {
        // What the window system was given to show, not the window drawn anew.
        QApplication::processEvents();
        QWidget* shown = window.sensorWindow();
        return shown->screen()->grabWindow(shown->winId(), 0, 0, shown->width(), shown->height()).toImage();
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Settings before, after;
        row.before(before);
        row.after(after);
        auto changed = make(0, QString());
        auto fresh = make(0, QString());
        apply(*changed, before);
        tick(*changed);
        changed->showWindow();
        picture(*changed);
        tick(*changed);
        apply(*changed, after);
        tick(*changed);
        apply(*fresh, after);
        tick(*fresh);
        fresh->showWindow();
        ASSERT_EQ(changed->sensorWindow()->size(), fresh->sensorWindow()->size());
        EXPECT_TRUE(picture(*changed) == picture(*fresh));
    }
}

// Scroll bars show only where the window is smaller than its text, in either layout.
TEST_F(SensorWindowTest, ScrollBarsOnlyWhereTheTextDoesNotFit)
{
    struct Row {
        bool vertical;
        QSize smaller; // than the size the window took
    } rows[] = {{false, {0, 0}}, {true, {0, 0}}, {true, {8, 0}}, {false, {60, 0}}, {true, {0, 60}}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.vertical << " " << row.smaller.width() << "x" << row.smaller.height());
        auto window = make(0, QString());
        window->setHasVerticalLayout(row.vertical);
        fill(*window, 3);
        window->showWindow();
        QWidget* shown = window->sensorWindow();
        auto* text = shown->findChild<QTextEdit*>(QStringLiteral("sensorText"));
        // Shorter along its text, the window may grow across by the bar's room, so that one bar does.
        const int bar = text->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, text);
        const QSize across = row.vertical && row.smaller.height() ? QSize(bar, 0) : !row.vertical && row.smaller.width() ? QSize(0, bar) : QSize();
        if (!row.smaller.isNull())
            shown->resize(shown->size() - row.smaller + across);
        QApplication::processEvents();
        // Narrower shows the bar to scroll sideways, shorter the one up and down; all of it fits, none.
        EXPECT_EQ(text->horizontalScrollBar()->isVisible(), row.smaller.width() > 0);
        if (row.smaller.isNull()) {
            EXPECT_FALSE(text->verticalScrollBar()->isVisible());
        }
        if (row.smaller.height() > 0) {
            EXPECT_TRUE(text->verticalScrollBar()->isVisible());
        }
        // What does not show is reached by scrolling.
        const QSize viewport = text->viewport()->size();
        const QSizeF document = text->document()->size();
        EXPECT_GE(text->horizontalScrollBar()->maximum() + viewport.width(), int(document.width()));
        EXPECT_GE(text->verticalScrollBar()->maximum() + viewport.height(), int(document.height()));
    }
}

TEST_F(SensorWindowTest, StyleChangesOnlyBetweenTheTwoScreenDisplayStyles)
{
    struct Row {
        qint64 from, to, expected;
        bool logs;
    } rows[] = {{0, 1, 0, true}, {1, 0, 1, true}, {2, 0, 2, true}, {1, 2, 2, false}, {2, 1, 1, false}, {0, 0, 0, false}};
    for (const Row& row : rows) {
        auto window = make(row.from, QString());
        kelvaro::test::log().clear();
        window->setWindowStyle(row.to);
        EXPECT_EQ(window->windowStyle(), row.expected) << row.from << "->" << row.to;
        if (row.logs)
            EXPECT_EQ(kelvaro::test::log().lines(),
                      QStringList{QStringLiteral("TEVSensorWindowController: change to window style %1 not support in the "
                                                 "current configuration. Ignoring...\n").arg(row.to)});
        else
            EXPECT_TRUE(kelvaro::test::log().lines().isEmpty());
        if (auto* display = qobject_cast<TEVScreenDisplayWindow*>(window->sensorWindow())) {
            EXPECT_EQ(display->hasBackdropModeEnabled(), row.expected == 2);
        }
    }
}

TEST_F(SensorWindowTest, PositionRecordRoundTripAndFallbacks)
{
    const QString record = TEVSensorWindowController::kPositionRecordPrefix + QStringLiteral("StandardWindow");
    const QString frame = TEVSensorWindowController::kFrameRecordPrefix + QStringLiteral("StandardWindow");
    struct Row {
        const char* record;
        const char* frame;
        QPoint expected;
        QPoint shown; // within the screen
    } rows[] = {
        {nullptr, nullptr, {300, 300}, {300, 300}}, {"12 34", nullptr, {12, 34}, {12, 34}},
        {" -5 40 trailing", nullptr, {-5, 40}, {0, 40}}, {"abc", "40 50 200 100", {300, 300}, {300, 300}},
        {"7", nullptr, {300, 300}, {300, 300}}, {nullptr, "40 50 200 100", {40, 50}, {40, 50}},
        {"99999999999 1", nullptr, {300, 300}, {300, 300}},
    };
    for (const Row& row : rows) {
        defaults_->removeObjectForKey(record);
        defaults_->removeObjectForKey(frame);
        if (row.record)
            defaults_->setObject(QString::fromUtf8(row.record), record);
        if (row.frame)
            defaults_->setObject(QString::fromUtf8(row.frame), frame);
        auto window = make(0);
        EXPECT_EQ(window->preferredPositionForWindow(), row.expected) << (row.record ? row.record : "-");
        EXPECT_EQ(window->sensorWindow()->pos(), row.shown) << (row.record ? row.record : "-");
        // A restored frame survives the first layout; without one the window takes its text's size at once.
        EXPECT_EQ(window->suppressesWindowResizing(), row.frame != nullptr);
    }
    // No autosave name: neither read nor written.
    EXPECT_EQ(make(0, QString())->preferredPositionForWindow(), QPoint(300, 300));

    defaults_->removeObjectForKey(record);
    auto window = make(1, QStringLiteral("StandardWindow"));
    window->sensorWindow()->move(123, 456);
    window->saveSpecialPositionPreferences();
    EXPECT_EQ(defaults_->stringForKey(record), QStringLiteral("123 456"));
    EXPECT_EQ(make(1, QStringLiteral("StandardWindow"))->sensorWindow()->pos(), QPoint(123, 456));
}

TEST_F(SensorWindowTest, TheScreenDisplayIsDraggedUnlessFixed)
{
    for (const bool fixed : {false, true}) {
        auto window = make(1, QString());
        auto* display = qobject_cast<TEVScreenDisplayWindow*>(window->sensorWindow());
        ASSERT_TRUE(display);
        window->setHasFixedPosition(fixed);
        display->move(300, 300);
        const QPointF inside(10, 10);
        QMouseEvent press(QEvent::MouseButtonPress, inside, QPointF(310, 310), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(display, &press);
        QMouseEvent drag(QEvent::MouseMove, inside, QPointF(400, 420), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(display, &drag);
        EXPECT_EQ(display->pos(), fixed ? QPoint(300, 300) : QPoint(390, 410)) << fixed;
    }
}

TEST_F(SensorWindowTest, WithoutACompositorTheScreenDisplayIsShapedToItsText)
{
    auto window = make(1, QString());
    window->setHasShadow(true);
    fill(*window, 2);
    auto* display = qobject_cast<TEVScreenDisplayWindow*>(window->sensorWindow());
    ASSERT_TRUE(display);
    const QRegion shape = display->mask();
    ASSERT_FALSE(shape.isEmpty());
    // Text covers only part of its rectangle; a box would cover all of it.
    qint64 area = 0;
    for (const QRect& r : shape)
        area += qint64(r.width()) * r.height();
    EXPECT_LT(area, qint64(display->width()) * display->height() / 2);
    EXPECT_GT(area, 0);
}

TEST(TEVSensorWindowController, PreviewShowsTheValueAboveItsName)
{
    QLabel field;
    TEVSensorWindowController::simulateDisplayOfStringValue(QStringLiteral("45 °C"), QStringLiteral("CPU"),
                                                            TEVTextAttributeProcessor::systemFontOfSize(24), Qt::red, 1,
                                                            2.4f, &field);
    QTextDocument shown;
    shown.setHtml(field.text());
    EXPECT_EQ(shown.toPlainText(), QStringLiteral("45 °C\nCPU"));
    QLabel untouched;
    TEVSensorWindowController::simulateDisplayOfStringValue(QStringLiteral("45 °C"), QStringLiteral("CPU"),
                                                            TEVTextAttributeProcessor::systemFontOfSize(24), Qt::red, 1,
                                                            0.5f, &untouched);
    EXPECT_TRUE(untouched.text().isEmpty());
}

TEST_F(SensorWindowTest, TheScreenDisplayWrapsIntoRowsOrColumnsWithinItsScreen)
{
    // A server's worth of values: in one line they would be several screens long. At the larger size even
    // rows and columns cannot hold them on the small test screen, and the text gets smaller.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    for (const float size : {12.0f, 36.0f})
        for (const bool vertical : {false, true}) {
            auto window = make(1, QString());
            MachinePreferences::Font font;
            font.size = size;
            window->setBaseFont(font);
            window->setHasVerticalLayout(vertical);
            fill(*window, 57);
            const QSize shown = window->sensorWindow()->size();
            EXPECT_LE(shown.width(), area.width()) << size << vertical;
            EXPECT_LE(shown.height(), area.height()) << size << vertical;
            // Every value is shown, in the order of the list along rows (or down columns).
            const QString text = window->document()->toPlainText();
            qsizetype from = 0;
            for (int i = 0; i < 57; ++i) {
                const QString value = QStringLiteral("%1.5 °C").arg(40 + i);
                EXPECT_TRUE(text.contains(value)) << size << vertical << " " << i;
                if (!vertical) {
                    const qsizetype at = text.indexOf(value, from);
                    EXPECT_GE(at, from) << i;
                    from = std::max(from, at);
                }
            }
            auto* document = const_cast<QTextDocument*>(window->document());
            EXPECT_LE(document->documentLayout()->documentSize().height(), window->lastDisplayedTextSize().height() + 1) << size << vertical;
            EXPECT_LE(document->documentLayout()->documentSize().width(), window->lastDisplayedTextSize().width() + 1) << size << vertical;
        }
}

TEST_F(SensorWindowTest, AWindowSavedBeyondASmallerScreenComesBackOntoIt)
{
    // Saved at (1300, 860) on a 1600 × 1000 screen; the offscreen screen is 800 × 600.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_LT(screen.width(), 1300);
    for (const qint64 style : {0, 1}) {
        SCOPED_TRACE(style);
        const QString name = style == 0 ? QStringLiteral("StandardWindow") : QStringLiteral("FloatingWindow");
        defaults_->setObject(QStringLiteral("1300 860"), TEVSensorWindowController::kPositionRecordPrefix + name);
        defaults_->setObject(QStringLiteral("1300 860 300 120"), TEVSensorWindowController::kFrameRecordPrefix + name);
        auto window = make(style, name);
        const auto shown = [&] { return window->sensorWindow()->frameGeometry().intersected(screen); };
        EXPECT_GE(shown().width(), 50);
        EXPECT_GE(shown().height(), 30);
        fill(*window, 3);
        EXPECT_GE(shown().width(), 50);
        EXPECT_GE(shown().height(), 30);
        window->saveSpecialPositionPreferences();
        const QStringList saved = defaults_->stringForKey(TEVSensorWindowController::kPositionRecordPrefix + name).split(' ');
        ASSERT_EQ(saved.size(), 2);
        EXPECT_TRUE(screen.contains(QPoint(saved.at(0).toInt(), saved.at(1).toInt()))) << saved.join(' ').toStdString();
    }
}

TEST_F(SensorWindowTest, TheScreenDisplayLiesWithinItsScreen)
{
    // The offscreen screen is 800 × 600: a server's worth of values fills it, from wherever the display was.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QString name = QStringLiteral("FloatingWindow");
    struct Row {
        const char* record; // "x y width height"
        int values;
    } rows[] = {{nullptr, 57}, {nullptr, 3}, {"700 500 300 120", 3}, {"1300 860 300 120", 57}, {"-40 -30 900 700", 57}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.record ? row.record : "no record");
        SCOPED_TRACE(row.values);
        defaults_->removeObjectForKey(TEVSensorWindowController::kPositionRecordPrefix + name);
        defaults_->removeObjectForKey(TEVSensorWindowController::kFrameRecordPrefix + name);
        if (row.record)
            defaults_->setObject(QString::fromUtf8(row.record), TEVSensorWindowController::kFrameRecordPrefix + name);
        auto window = make(1, name);
        MachinePreferences::Font font;
        font.size = 36;
        window->setBaseFont(font);
        window->showWindow();
        fill(*window, row.values);
        EXPECT_TRUE(area.contains(window->sensorWindow()->frameGeometry())) << text(window->sensorWindow()->frameGeometry());
        const auto saved = WindowFrameRecord::parse(defaults_->stringForKey(TEVSensorWindowController::kFrameRecordPrefix + name));
        ASSERT_TRUE(saved);
        EXPECT_TRUE(area.contains(*saved)) << text(*saved);
    }
}

TEST_F(SensorWindowTest, ASensorWindowComesBackWholeAndRegainsTheWidthAScreenCut)
{
    // Twelve values need more than the 800-pixel offscreen screen.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QString name = QStringLiteral("StandardWindow");
    const QString cutKey = TEVSensorWindowController::kCutRecordPrefix + name;
    struct Row {
        const char* what;
        QString record;
        bool cut;        // as saved
        bool screenWide; // after the first layout; else as recorded
        bool cutAfter;
    } rows[] = {
        {"narrowed by its user", "0 300 400 103", false, false, false},
        {"cut by a smaller screen", "0 300 400 103", true, true, true},
        {"a 1300-pixel row saved on a larger screen", "300 300 1300 103", false, true, true},
        // Cut in both directions at the screen's bottom: the room of the bar under the row stays on the screen.
        {"cut at the bottom of a smaller screen", QStringLiteral("0 %1 400 40").arg(area.y() + area.height() - 40), true, true, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        defaults_->removeObjectForKey(TEVSensorWindowController::kPositionRecordPrefix + name);
        defaults_->setObject(row.record, TEVSensorWindowController::kFrameRecordPrefix + name);
        if (row.cut)
            defaults_->setBool(true, cutKey);
        else
            defaults_->removeObjectForKey(cutKey);
        auto window = make(0, name);
        EXPECT_TRUE(area.contains(window->sensorWindow()->frameGeometry())) << text(window->sensorWindow()->frameGeometry());
        window->showWindow();
        fill(*window, 12);
        if (row.screenWide)
            EXPECT_EQ(window->sensorWindow()->frameGeometry().width(), area.width());
        else
            EXPECT_EQ(window->sensorWindow()->width(), 400);
        EXPECT_TRUE(area.contains(window->sensorWindow()->frameGeometry())) << text(window->sensorWindow()->frameGeometry());
        EXPECT_EQ(defaults_->boolForKey(cutKey), row.cutAfter);
    }
}

TEST_F(SensorWindowTest, AWindowShowingAllItsTextInAScreenCornerIsNotCut)
{
    // Its maximum holds a scroll bar's room across the text that the whole text does not need.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QString cutKey = TEVSensorWindowController::kCutRecordPrefix + QStringLiteral("StandardWindow");
    for (const bool vertical : {false, true}) {
        SCOPED_TRACE(vertical);
        // A first start: the window takes the size of its text.
        defaults_->removeObjectForKey(TEVSensorWindowController::kFrameRecordPrefix + QStringLiteral("StandardWindow"));
        auto window = make(0);
        window->setHasVerticalLayout(vertical);
        fill(*window, 3);
        window->showWindow();
        QWidget* shown = window->sensorWindow();
        const QSize whole = shown->size();
        shown->move(area.bottomRight() - QPoint(shown->frameGeometry().width(), shown->frameGeometry().height()) + QPoint(1, 1));
        QApplication::processEvents();
        ASSERT_EQ(shown->size(), whole);
        ASSERT_EQ(shown->frameGeometry().bottomRight(), area.bottomRight());
        EXPECT_FALSE(defaults_->boolForKey(cutKey));
    }
}

TEST_F(SensorWindowTest, WithoutARecordTheWindowsOpenBesideOneAnother)
{
    // A first start: the sensor window, the screen display and a window of another kind hide none of one another.
    auto standard = make(0, QStringLiteral("StandardWindow"));
    standard->showWindow();
    fill(*standard, 3);
    auto display = make(1, QStringLiteral("FloatingWindow"));
    display->showWindow();
    fill(*display, 3);
    QWidget overview;
    overview.resize(300, 200);
    WindowFrameRecord::attach(&overview, QStringLiteral("Overview"), QPoint(360, 360), defaults_);
    overview.show();
    const QList<QRect> frames{standard->sensorWindow()->frameGeometry(), display->sensorWindow()->frameGeometry(),
                              overview.frameGeometry()};
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    for (qsizetype i = 0; i < frames.size(); ++i) {
        EXPECT_TRUE(area.contains(frames.at(i))) << text(frames.at(i));
        for (qsizetype j = i + 1; j < frames.size(); ++j)
            EXPECT_FALSE(frames.at(i).intersects(frames.at(j))) << text(frames.at(i)) << " " << text(frames.at(j));
    }
    EXPECT_EQ(standard->sensorWindow()->pos(), TEVSensorWindowController::kDefaultPosition);
}

TEST_F(SensorWindowTest, AWindowOfFewValuesIsAsWideAsItsMenuBar)
{
    // The program's five menus.
    platform::ApplicationMenuBar::setMaker([](QWidget* window) {
        auto* bar = new QMenuBar(window);
        for (const char* title : {"Kelvaro", "File", "Sensors", "Display", "Window"})
            bar->addMenu(QString::fromLatin1(title))->addAction(QStringLiteral("Item"));
        return bar;
    });
    const auto noMaker = qScopeGuard([] { platform::ApplicationMenuBar::setMaker({}); });
    const struct { int values; bool vertical; bool record; } rows[] = {
        {0, false, false}, {1, false, false}, {1, true, false}, {2, false, false}, {0, false, true}, {1, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.values << " values" << (row.vertical ? ", vertical" : "")
                                        << (row.record ? ", a narrow frame recorded" : ""));
        if (row.record)
            defaults_->setObject(QStringLiteral("100 100 90 110"), TEVSensorWindowController::kFrameRecordPrefix + QStringLiteral("Narrow"));
        auto window = make(0, row.record ? QStringLiteral("Narrow") : QString());
        window->setHasVerticalLayout(row.vertical);
        fill(*window, row.values);
        window->showWindow();
        QWidget* shown = window->sensorWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(shown));
        auto* bar = shown->findChild<QMenuBar*>();
        ASSERT_TRUE(bar);
        EXPECT_GE(shown->width(), bar->sizeHint().width());
        // Every menu has its place in the bar: none went into the overflow button.
        for (QAction* menu : bar->actions())
            EXPECT_TRUE(bar->rect().contains(bar->actionGeometry(menu))) << menu->text().toStdString();
        window.reset();
        defaults_->removeObjectForKey(TEVSensorWindowController::kFrameRecordPrefix + QStringLiteral("Narrow"));
    }
}
