#include "windows/TEVSensorWindowController.h"

#include "app/model/TEVGauge.h"
#include "platform/desktop/widgets/ApplicationMenuBar.h"
#include "platform/desktop/widgets/Compositing.h"
#include "platform/desktop/widgets/WindowHints.h"
#include "platform/desktop/widgets/WindowPosition.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"
#include "windows/SensorGridLayout.h"
#include "windows/TEVScreenDisplayWindow.h"
#include "windows/WindowFrameRecord.h"
#include "windows/WindowPlacement.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLabel>
#include <QRegularExpression>
#include <QScrollBar>
#include <QScreen>
#include <QStyle>
#include <QAbstractTextDocumentLayout>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextLayout>
#include <QTextEdit>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace {

// The text view's own padding on each side; text sizes include both sides.
constexpr double kTextPadding = 5.0;

QColor toQColor(const std::shared_ptr<platform::Color>& color)
{
    if (!color)
        return {};
    return QColor::fromRgbF(color->red(), color->green(), color->blue(), color->alpha());
}

QSize ceilSize(const QSizeF& size)
{
    return QSize(int(std::ceil(size.width())), int(std::ceil(size.height())));
}

// Text that could make its line run from the right, where left and right stops trade places.
bool hasRightToLeftText(const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t code = text.at(i).unicode();
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            code = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            ++i;
        }
        switch (QChar::direction(code)) {
        case QChar::DirR:
        case QChar::DirAL:
        case QChar::DirRLE:
        case QChar::DirRLO:
        case QChar::DirRLI:
            return true;
        default:
            break;
        }
    }
    return false;
}

// A cell's text that the sensor window can lay out by itself: one that runs from the left, starts and ends
// with no blank (blanks beside a tab would join it) and holds no tab.
bool fitsCellByCell(const QString& text)
{
    return !text.isEmpty() && !text.front().isSpace() && !text.back().isSpace() && !text.contains(QLatin1Char('\t')) &&
           !hasRightToLeftText(text);
}

} // namespace

// Keeps the frame record current as the window moves and resizes, as the window system's autosave does.
class FrameAutosaver final : public QObject {
public:
    FrameAutosaver(TEVSensorWindowController* controller, QObject* window)
        : QObject(window)
        , controller_(controller)
    {
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (platform::changesFrameRecord(event))
            controller_->saveFrame();
        return false;
    }

private:
    TEVSensorWindowController* controller_;
};

// Shows the text view's scroll bars exactly where its text does not fit. Left to decide for itself, a view
// that once needed both bars keeps both after it grew to hold the whole text: each bar's range is taken
// with the other bar in place.
class ScrollBarKeeper final : public QObject {
public:
    ScrollBarKeeper(TEVSensorWindowController* controller, QObject* view)
        : QObject(view)
        , controller_(controller)
    {
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Resize)
            controller_->updateScrollBars();
        return false;
    }

private:
    TEVSensorWindowController* controller_;
};

TEVSensorWindowController::TEVSensorWindowController(qint64 style, const QString& autosaveName,
                                                     std::shared_ptr<platform::UserDefaults> defaults,
                                                     std::optional<bool> translucent)
    : windowStyle_(style)
    , baseFont_(TEVTextAttributeProcessor::systemFontOfSize(24))
    , autosaveName_(autosaveName)
    , defaults_(std::move(defaults))
{
    if (!defaults_ && platform::Bundle::main())
        defaults_ = platform::UserDefaults::standard();
    if (style != 0) {
        screenWindow_ = new TEVScreenDisplayWindow(translucent.value_or(platform::isCompositingManagerRunning()));
        screenWindow_->enableBackdropMode(style == 2);
        window_ = screenWindow_.data();
        // Fixed from the start, also while it has no text to take its size from: a tiling compositor would
        // make it a tile.
        if (!platform::platformKnowsWindowPositions())
            window_->setFixedSize(window_->size());
    } else {
        window_ = new QWidget;
        window_->setObjectName(QStringLiteral("sensorWindow"));
        auto* layout = new QVBoxLayout(window_);
        layout->setContentsMargins(0, 0, 0, 0);
        sensorText_ = new QTextEdit(window_);
        sensorText_->setObjectName(QStringLiteral("sensorText"));
        sensorText_->setReadOnly(true);
        // Selectable for copying, without a caret in a text nobody edits.
        sensorText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        sensorText_->setLineWrapMode(QTextEdit::FixedPixelWidth);
        // Scroll bars only where the window is smaller than its text.
        sensorText_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        sensorText_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        sensorText_->installEventFilter(new ScrollBarKeeper(this, sensorText_));
        layout->addWidget(sensorText_);
        platform::ApplicationMenuBar::installInto(window_);
        WindowPlacement::keepMenuBarClear(window_);
        // As wide as its menu bar before it has a value to show, as after.
        if (const QWidget* bar = layout->menuBar())
            window_->setMinimumWidth(bar->sizeHint().width());
        window_->resize(100, 100);
        suppressWindowResizing_ = true;
    }
    window_->move(defaultPosition());
    if (!autosaveName_.isEmpty()) {
        const QRect before = window_->geometry();
        restoreFrame();
        if (style == 0 && window_->geometry() == before)
            suppressWindowResizing_ = false;
        window_->installEventFilter(new FrameAutosaver(this, window_));
    } else {
        suppressWindowResizing_ = false;
    }
    // Without a record of its own the window finds a free place once its size is known.
    awaitsPlace_ = autosaveName_.isEmpty() || !defaults_ ||
                   (defaults_->stringForKey(kPositionRecordPrefix + autosaveName_).isNull() &&
                    defaults_->stringForKey(kFrameRecordPrefix + autosaveName_).isNull());
    window_->move(preferredPositionForWindow());
    // Saved on a screen that is gone or smaller: the window comes back whole within this one, and the first
    // layout fits it as it would any window.
    const auto screens = WindowPlacement::currentScreens();
    if (!screens.geometries.isEmpty()) {
        const QRect frame = window_->frameGeometry();
        const QRect fitted = WindowPlacement::bringOntoScreen(frame, screens);
        if (fitted != frame) {
            window_->move(fitted.topLeft());
            window_->resize(fitted.size() - decorationSize());
            suppressWindowResizing_ = false;
        }
    }
    // A size that a smaller screen cut is not the user's: the text takes the room this screen has.
    if (defaults_ && !autosaveName_.isEmpty() && defaults_->boolForKey(kCutRecordPrefix + autosaveName_))
        suppressWindowResizing_ = false;
}

TEVSensorWindowController::~TEVSensorWindowController()
{
    delete window_.data();
}

// --- Class helpers -------------------------------------------------------------------------------------

std::optional<QFont> TEVSensorWindowController::nameFontForBaseFont(const QFont& baseFont, float ratio)
{
    if (!(ratio >= 1.0f) || baseFont.pointSizeF() <= 0)
        return std::nullopt;
    QFont font = baseFont;
    font.setPointSizeF(double(std::max(6.0f, float(baseFont.pointSizeF()) / ratio)));
    return font;
}

QTextOption::TabType TEVSensorWindowController::tabulatorTypeForAlignment(quint64 alignment)
{
    switch (alignment) {
    case 0: return QTextOption::LeftTab;
    case 2: return QTextOption::CenterTab;
    default: return QTextOption::RightTab;
    }
}

Qt::Alignment TEVSensorWindowController::qtAlignment(quint64 alignment)
{
    switch (alignment) {
    case 0: return Qt::AlignLeft;
    case 1: return Qt::AlignRight;
    case 2: return Qt::AlignHCenter;
    case 3: return Qt::AlignJustify;
    default: return Qt::AlignLeading;
    }
}

void TEVSensorWindowController::simulateDisplayOfStringValue(const QString& value, const QString& gaugeName,
                                                             const QFont& font, const QColor& color, quint64 alignment,
                                                             float labelRatio, QLabel* field)
{
    if (value.isNull() || gaugeName.isNull() || !color.isValid() || !field || !(labelRatio >= 1.0f))
        return;
    TEVTextAttributeProcessor builder;
    builder.setAlignment(qtAlignment(alignment));
    builder.setCurrentColor(color);
    builder.setCurrentFont(font);
    builder.appendString(value);
    builder.appendString(QStringLiteral("\n"));
    if (const auto labelFont = nameFontForBaseFont(font, labelRatio))
        builder.setCurrentFont(*labelFont);
    builder.appendString(gaugeName);
    field->setTextFormat(Qt::RichText);
    field->setText(builder.attributedString()->toHtml());
    // The field keeps the width its layout gives it and places the text in it as the window would: a field
    // shrunk to its text would show every alignment at its left edge.
    const Qt::Alignment horizontal = alignment == 3 ? Qt::AlignLeft : qtAlignment(alignment);
    field->setAlignment(horizontal | Qt::AlignVCenter);
    field->update();
}

// --- Window and records --------------------------------------------------------------------------------

void TEVSensorWindowController::centerOnScreen()
{
    if (!window_)
        return;
    const QScreen* screen = window_->screen();
    if (!screen)
        return;
    QRect frame = window_->frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window_->move(frame.topLeft());
}

QWidget* TEVSensorWindowController::sensorWindow() const
{
    return window_.data();
}

const QTextDocument* TEVSensorWindowController::document() const
{
    return sensorText_ ? sensorText_->document() : shown_.get();
}

bool TEVSensorWindowController::isWindowVisible() const
{
    return window_ && window_->isVisible();
}

void TEVSensorWindowController::showWindow()
{
    if (!window_)
        return;
    if (awaitsPlace_ && !lastDisplayedTextSize_.isEmpty()) {
        // Made before it is placed, so that the window manager tells the frame it will draw around it.
        window_->winId();
        placeFreely();
    }
    window_->show();
    window_->raise();
    if (!screenWindow_)
        window_->activateWindow();
}

void TEVSensorWindowController::orderOut()
{
    if (window_)
        window_->hide();
}

void TEVSensorWindowController::setWindowTitle(const QString& title)
{
    if (window_)
        window_->setWindowTitle(title);
}

QPoint TEVSensorWindowController::defaultPosition() const
{
    // The screen display opens beside the sensor window, not on top of it.
    return windowStyle_ == 0 ? kDefaultPosition
                             : WindowPlacement::cascadeTopLeft(WindowPlacement::ScreenDisplaySlot, WindowPlacement::currentScreens());
}

QPoint TEVSensorWindowController::preferredPositionForWindow() const
{
    const QPoint fallback = defaultPosition();
    if (autosaveName_.isEmpty() || !defaults_)
        return fallback;
    QString record = defaults_->stringForKey(kPositionRecordPrefix + autosaveName_);
    // Our frame record starts with the top-left corner too, so either reads the same way.
    if (record.isNull())
        record = defaults_->stringForKey(kFrameRecordPrefix + autosaveName_);
    if (record.isNull())
        return fallback;
    static const QRegularExpression twoIntegers(QStringLiteral("^\\s*([-+]?\\d+)\\s*([-+]?\\d+)"));
    const auto match = twoIntegers.match(record);
    bool xOk = false, yOk = false;
    const int x = match.hasMatch() ? match.captured(1).toInt(&xOk) : 0;
    const int y = match.hasMatch() ? match.captured(2).toInt(&yOk) : 0;
    return xOk && yOk ? QPoint(x, y) : fallback;
}

void TEVSensorWindowController::saveSpecialPositionPreferences()
{
    // Where the platform cannot tell the place, the stored one stays.
    if (autosaveName_.isEmpty() || !defaults_ || !window_ || !platform::platformKnowsWindowPositions())
        return;
    const QPoint topLeft = platform::expectedFrameGeometry(window_).topLeft();
    defaults_->setObject(QStringLiteral("%1 %2").arg(topLeft.x()).arg(topLeft.y()), kPositionRecordPrefix + autosaveName_);
}

void TEVSensorWindowController::restoreFrame()
{
    const auto frame = defaults_ ? WindowFrameRecord::parse(defaults_->stringForKey(kFrameRecordPrefix + autosaveName_)) : std::nullopt;
    if (!frame)
        return;
    window_->move(frame->topLeft());
    window_->resize(frame->size());
}

void TEVSensorWindowController::saveFrame() const
{
    if (!defaults_ || !window_ || autosaveName_.isEmpty())
        return;
    const QSize s = window_->size();
    const QString record = platform::windowFrameRecord(window_, defaults_->stringForKey(kFrameRecordPrefix + autosaveName_));
    if (!record.isNull())
        defaults_->setObject(record, kFrameRecordPrefix + autosaveName_);
    if (screenWindow_)
        return;
    // Smaller than its text and at the right or bottom edge of its screen: the screen cut it. The text's size,
    // not the maximum: that leaves room for a scroll bar the whole text does not need.
    const QRect area = availableAreaForWindow();
    const QRect frame = platform::expectedFrameGeometry(window_);
    const QSize text = textWindowSize_.isValid() ? textWindowSize_ : window_->maximumSize();
    // Where positions are not known, neither is whether an edge cut it.
    if (!platform::platformKnowsWindowPositions())
        return;
    const bool cut = !area.isEmpty() && ((s.width() < text.width() && frame.x() + frame.width() >= area.x() + area.width()) ||
                                         (s.height() < text.height() && frame.y() + frame.height() >= area.y() + area.height()));
    if (cut)
        defaults_->setBool(true, kCutRecordPrefix + autosaveName_);
    else if (defaults_->objectForKey(kCutRecordPrefix + autosaveName_).isValid())
        defaults_->removeObjectForKey(kCutRecordPrefix + autosaveName_);
}

void TEVSensorWindowController::placeFreely()
{
    awaitsPlace_ = false;
    const auto screens = WindowPlacement::currentScreens();
    if (screens.geometries.isEmpty())
        return;
    // The screen display keeps the size of its text; the sensor window may scroll down to its smallest size.
    // It wants the size of its text, not its maximum: that holds a scroll bar's room it needs only when cut.
    const QSize decoration = decorationSize();
    const QSize wanted = screenWindow_ ? window_->size() : textWindowSize_.isValid() ? textWindowSize_ : window_->maximumSize();
    const QSize least = screenWindow_ ? wanted : window_->minimumSize();
    const auto shown = WindowPlacement::shownWindowFrames(window_);
    const int titleBar = platform::frameMargins(window_).top();
    QRect place = WindowPlacement::freePlace(QRect(platform::expectedFrameGeometry(window_).topLeft(), wanted + decoration),
                                             least + decoration, shown, screens, titleBar);
    // Shorter than its text along the way the text runs: the bar across it gets its room where that is free.
    const QSize inside = place.size() - decoration;
    if (!screenWindow_ && (layoutIsVertical_ ? inside.height() < wanted.height() : inside.width() < wanted.width()))
        place = WindowPlacement::freePlace(QRect(place.topLeft(), place.size() + barRoom_), least + decoration, shown, screens,
                                           titleBar);
    platform::moveFrameTo(window_, place.topLeft());
    if (place.size() - decoration != window_->size())
        window_->resize(place.size() - decoration);
}

bool TEVSensorWindowController::isWindowOnAnyScreen() const
{
    return window_ && WindowPlacement::isOnAnyScreen(window_->frameGeometry(), WindowPlacement::currentScreens());
}

// --- Setters -------------------------------------------------------------------------------------------

void TEVSensorWindowController::setBackgroundColor(const ColorPtr& color)
{
    const QColor background = toQColor(color);
    if (!sensorText_ || !background.isValid() || sensorText_->viewport()->palette().color(QPalette::Base) == background)
        return;
    QPalette palette = sensorText_->viewport()->palette();
    palette.setColor(QPalette::Base, background);
    sensorText_->viewport()->setPalette(palette);
    sensorText_->viewport()->setAutoFillBackground(true);
}

void TEVSensorWindowController::setHasVerticalLayout(bool vertical)
{
    if (layoutIsVertical_ == vertical)
        return;
    layoutIsVertical_ = vertical;
    updateWindow();
}

void TEVSensorWindowController::setBaseFont(const MachinePreferences::Font& font)
{
    const double size = font.size > 0 ? double(font.size) : 24.0;
    QFont qfont = TEVTextAttributeProcessor::systemFontOfSize(size);
    if (!font.name.isEmpty()) {
        qfont = QFont(font.name);
        qfont.setPointSizeF(size);
    }
    setBaseFont(qfont);
}

void TEVSensorWindowController::setBaseFont(const QFont& font)
{
    if (font == baseFont_)
        return;
    baseFont_ = font;
    updateWindow();
}

void TEVSensorWindowController::setFixedForegroundColor(const ColorPtr& color)
{
    foregroundColor_ = toQColor(color);
}

void TEVSensorWindowController::setAlignment(quint64 alignment)
{
    if (textAlignment_ == alignment)
        return;
    textAlignment_ = alignment;
    updateWindow();
}

void TEVSensorWindowController::setWindowStyle(qint64 style)
{
    if (style == windowStyle_)
        return;
    if ((windowStyle_ == 0) != (style == 0)) {
        platform::log(QStringLiteral("TEVSensorWindowController: change to window style %1 not support in the current "
                                     "configuration. Ignoring...\n")
                          .arg(style));
        return;
    }
    windowStyle_ = style;
    screenWindow_->enableBackdropMode(style == 2);
}

void TEVSensorWindowController::setTransparency(float alpha)
{
    if (screenWindow_)
        screenWindow_->setWindowOpacity(double(alpha));
}

void TEVSensorWindowController::setHasShadow(bool shadow)
{
    if (screenWindow_)
        screenWindow_->setHasShadow(shadow);
}

void TEVSensorWindowController::setHasFixedPosition(bool fixed)
{
    if (screenWindow_)
        screenWindow_->setWindowHasFixedPosition(fixed);
}

void TEVSensorWindowController::removeAllValues()
{
    currentDisplayValues_.clear();
    currentGauges_.clear();
}

void TEVSensorWindowController::addStringValue(const QString& value, const std::shared_ptr<TEVGauge>& gauge)
{
    if (value.isNull() || !gauge)
        return;
    currentDisplayValues_.append(value);
    currentGauges_.append(gauge);
}

// --- Layout --------------------------------------------------------------------------------------------

void TEVSensorWindowController::updateWindow()
{
    if (!window_)
        return;
    const qsizetype n = currentDisplayValues_.size();
    if (n == 0) {
        builder_.deleteContent();
        gridLayout_ = false;
        signedFrame_ = shownFrame_ = Frame();
        signedValues_.clear();
        showDocument();
        return;
    }
    // Unchanged values are not laid out and drawn again: most ticks change few of them, often none.
    // Everything but the values' texts: while it stays, a tick only puts new texts where the old ones stood.
    const Frame frame = currentFrame();
    if (frame == signedFrame_ && currentDisplayValues_ == signedValues_)
        return;
    signedFrame_ = frame;
    signedValues_ = currentDisplayValues_;
    const double padding = 2 * kTextPadding;
    // The screen display has no scroll bars: what does not fit its screen goes into further rows (or
    // columns), and where even that cannot hold every value, the text gets smaller until it does.
    const QRect area = screenWindow_ ? availableAreaForWindow() : QRect();
    layoutFont_ = baseFont_;
    Grid grid = gridFor(layoutFont_, area);
    if (!area.isEmpty() && !grid.fits(area, padding)) {
        const double needed = grid.columns * grid.cell.width() * grid.rows * grid.cell.height();
        double scale = std::sqrt(double(area.width()) * area.height() / needed) * 0.95;
        for (int attempt = 0; attempt < 8 && !grid.fits(area, padding); ++attempt, scale *= 0.9) {
            layoutFont_.setPointSizeF(std::max(4.0, baseFont_.pointSizeF() * std::min(scale, 1.0)));
            grid = gridFor(layoutFont_, area);
        }
    }
    const auto labelFont = nameFontForBaseFont(layoutFont_, labelRatio_);
    cellSize_ = grid.cell;
    const QSizeF textSize(double(grid.columns) * cellSize_.width() + padding, double(grid.rows) * cellSize_.height() + padding);
    const bool resize = textSize != lastDisplayedTextSize_;
    lastDisplayedTextSize_ = textSize;
    if (!resize && frame == shownFrame_ && editShownValues(grid))
        return;
    shownFrame_ = frame;
    shownGrid_ = grid;
    shownValues_ = currentDisplayValues_;
    shownValueAt_.clear();

    builder_.deleteContent();
    // One row of the horizontal layout is a grid of one row; one column of the vertical layout aligns its cells
    // by paragraph instead.
    const bool vertical = layoutIsVertical_ && !grid.wrapped;
    // Where left and right stops could trade places, or a text does not fit a cell of its own, the text engine
    // lays the line out itself.
    gridLayout_ = sensorText_ && !vertical && QGuiApplication::isLeftToRight() && sensorText_->layoutDirection() == Qt::LeftToRight;
    for (qsizetype i = 0; gridLayout_ && i < n; ++i)
        gridLayout_ = fitsCellByCell(currentDisplayValues_.at(i)) && fitsCellByCell(currentGauges_.at(i)->customName());
    if (vertical)
        buildVertical(labelFont);
    else
        buildGrid(labelFont, grid.columns, grid.rows);
    showDocument();
    if (resize)
        resizeWindowUsingContentMinimumSize(cellSize_, textSize);
}

TEVSensorWindowController::Frame TEVSensorWindowController::currentFrame() const
{
    Frame frame;
    frame.valid = true;
    frame.font = baseFont_;
    frame.labelRatio = labelRatio_;
    frame.vertical = layoutIsVertical_;
    frame.foreground = foregroundColor_;
    frame.alignment = textAlignment_;
    const qsizetype n = currentGauges_.size();
    frame.names.reserve(n);
    frame.colors.reserve(n);
    frame.alerts.reserve(n);
    for (const auto& gauge : currentGauges_) {
        frame.names.append(gauge->customName());
        frame.colors.append(toQColor(gauge->presentationColor()));
        frame.alerts.append(gauge->isInAlertState());
    }
    return frame;
}

TEVSensorWindowController::Grid TEVSensorWindowController::gridFor(const QFont& base, const QRect& area)
{
    const qsizetype n = currentDisplayValues_.size();
    const auto labelFont = nameFontForBaseFont(base, labelRatio_);
    // Laying out a cell is the costly part of a tick, and most cells read as they did before: their sizes are
    // kept for as long as the fonts and the orientation stay.
    const QString fonts = base.toString() + QLatin1Char('|') + (labelFont ? labelFont->toString() : QString()) +
                          (layoutIsVertical_ ? QStringLiteral("|v") : QStringLiteral("|h"));
    if (measuredCount_ > 4096) {
        measuredCells_.clear();
        measuredCount_ = 0;
    }
    auto& measured = measuredCells_[fonts];
    QSizeF largest(0, 0);
    for (qsizetype i = 0; i < n; ++i) {
        std::pair<QString, QString> key(currentDisplayValues_.at(i), currentGauges_.at(i)->customName());
        auto known = measured.constFind(key);
        if (known == measured.cend()) {
            const QSizeF size = cellFromLines(key.first, key.second, base, labelFont);
            known = measured.insert(std::move(key), size);
            ++measuredCount_;
        }
        largest = largest.expandedTo(known.value());
    }
    const double padding = 2 * kTextPadding;
    // Side by side, the widest values of neighbouring cells would touch: a blank of the value font between.
    const double blank = QFontMetricsF(base).horizontalAdvance(QLatin1Char(' '));
    Grid grid;
    const double space = layoutIsVertical_ ? area.height() : area.width();
    const double extent = layoutIsVertical_ ? largest.height() + 4 : largest.width() + 4 + blank;
    const qsizetype perLine = space > 0 ? std::clamp(qsizetype((space - padding) / extent), qsizetype(1), n) : n;
    const qsizetype lines = (n + perLine - 1) / perLine;
    grid.wrapped = layoutIsVertical_ ? lines > 1 : perLine < n;
    grid.cell = QSizeF(largest.width() + 4 + (layoutIsVertical_ && !grid.wrapped ? 0.0 : blank), largest.height() + 4);
    grid.columns = layoutIsVertical_ ? lines : perLine;
    grid.rows = layoutIsVertical_ ? perLine : lines;
    return grid;
}

// The size the built text gives one cell, measured in one text kept for measuring: building a text and
// copying it for each new value cost more than laying it out.
QSizeF TEVSensorWindowController::measureCell(const QString& value, const QString& name, const QFont& base,
                                              const std::optional<QFont>& labelFont)
{
    if (!measuring_) {
        measuring_ = std::make_unique<QTextDocument>();
        measuring_->setUndoRedoEnabled(false);
        measuring_->setDocumentMargin(0);
        QTextOption option = measuring_->defaultTextOption();
        option.setWrapMode(QTextOption::NoWrap);
        measuring_->setDefaultTextOption(option);
        // Lines never wrap, so one layout at any width gives the widest line and the height.
        measuring_->setTextWidth(QFontMetricsF(measuring_->defaultFont()).horizontalAdvance(QLatin1Char('x')) * 80);
    }
    const QFont& label = labelFont.value_or(base); // without a label font the labels stay in the value font
    if (measuringFonts_.size() != 2 || measuringFonts_[0] != base || measuringFonts_[1] != label ||
        measuringFonts_[0].resolveMask() != base.resolveMask() || measuringFonts_[1].resolveMask() != label.resolveMask()) {
        measuringFonts_ = {base, label};
        measuringFormats_[0] = measuringFormats_[1] = QTextCharFormat();
        measuringFormats_[0].setFont(base, QTextCharFormat::FontPropertiesAll);
        measuringFormats_[1].setFont(label, QTextCharFormat::FontPropertiesAll);
    }
    QTextBlockFormat paragraph; // the builder's
    paragraph.setAlignment(Qt::AlignLeading);
    paragraph.setTabPositions({});
    // The old text goes in the same step as the new one comes, so the text is laid out once.
    QTextCursor cursor(measuring_.get());
    cursor.beginEditBlock();
    cursor.select(QTextCursor::Document);
    cursor.removeSelectedText();
    cursor.setBlockFormat(paragraph);
    cursor.insertText(value + QLatin1Char('\n'), measuringFormats_[0]);
    cursor.insertText(layoutIsVertical_ ? name + QLatin1Char('\n') : name, measuringFormats_[1]);
    cursor.endEditBlock();
    if (measuring_->isEmpty())
        return {0, 0};
    return {measuring_->idealWidth(), measuring_->size().height()};
}

QSizeF TEVSensorWindowController::lineSize(const QString& text, const QFont& font)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLeadingIncluded(true);
    line.setLineWidth(1e6);
    layout.endLayout();
    return {line.naturalTextWidth(), line.height()};
}

QSizeF TEVSensorWindowController::cellFromLines(const QString& value, const QString& name, const QFont& base,
                                                const std::optional<QFont>& labelFont)
{
    // An empty line takes its height from the text around it.
    if (value.isEmpty() || name.isEmpty())
        return measureCell(value, name, base, labelFont);
    if (measuredLines_.size() > 8192)
        measuredLines_.clear();
    const QFont& label = labelFont.value_or(base);
    const auto line = [this](const QString& text, const QFont& font) {
        std::pair<QString, QString> key(font.toString(), text);
        auto known = measuredLines_.constFind(key);
        if (known == measuredLines_.cend())
            known = measuredLines_.insert(std::move(key), lineSize(text, font));
        return known.value();
    };
    const QSizeF top = line(value, base);
    const QSizeF bottom = line(name, label);
    // The vertical layout's cells end with a line feed: an empty line of the label font below.
    const double below = layoutIsVertical_ ? line(QString(), label).height() : 0.0;
    return {std::max(top.width(), bottom.width()), top.height() + bottom.height() + below};
}

bool TEVSensorWindowController::Grid::fits(const QRect& area, double padding) const
{
    return double(columns) * cell.width() + padding <= area.width() && double(rows) * cell.height() + padding <= area.height();
}

void TEVSensorWindowController::buildVertical(const std::optional<QFont>& labelFont)
{
    // Where the next text starts, a line feed counting one, as the places of the values are kept.
    qsizetype length = 0;
    const auto append = [this, &length](const QString& text) {
        builder_.appendString(text);
        length += text.size();
    };
    builder_.setAlignment(qtAlignment(textAlignment_));
    if (foregroundColor_.isValid())
        builder_.setCurrentColor(foregroundColor_);
    for (qsizetype i = 0; i < currentDisplayValues_.size(); ++i) {
        const auto& gauge = currentGauges_.at(i);
        if (!foregroundColor_.isValid())
            builder_.setCurrentColor(toQColor(gauge->presentationColor()));
        builder_.setInvertedMode(gauge->isInAlertState());
        builder_.setCurrentFont(layoutFont_);
        shownValueAt_.append(length);
        append(currentDisplayValues_.at(i) + QLatin1Char('\n'));
        builder_.setInvertedMode(false);
        if (labelFont)
            builder_.setCurrentFont(*labelFont);
        // The last cell ends as it was measured: a further line feed would add a line below every cell.
        const bool last = i + 1 == currentDisplayValues_.size();
        append(gauge->customName() + (last ? QStringLiteral("\n") : QStringLiteral("\n\n")));
    }
}

// Rows of `columns` cells, filled row by row side by side and column by column one below the other: the
// values in one line, their names in the line below, each cell at its tab stop.
void TEVSensorWindowController::buildGrid(const std::optional<QFont>& labelFont, qsizetype columns, qsizetype rows)
{
    const QTextOption::TabType type = tabulatorTypeForAlignment(textAlignment_);
    const double cell = cellSize_.width();
    QList<QTextOption::Tab> stops;
    for (qsizetype t = 0; t < columns; ++t)
        stops.append(QTextOption::Tab(type == QTextOption::CenterTab ? double(t) * cell + cell / 2 : double(t + 1) * cell, type));
    builder_.setTabStops(stops);
    qsizetype length = 0;
    const auto append = [this, &length](const QString& text) {
        builder_.appendString(text);
        length += text.size();
    };
    const auto cellText = [type](const QString& text) {
        return type == QTextOption::LeftTab ? text + QLatin1Char('\t') : QLatin1Char('\t') + text;
    };
    const qsizetype n = currentDisplayValues_.size();
    shownValueAt_.resize(n);
    const auto indexAt = [&](qsizetype row, qsizetype column) {
        return layoutIsVertical_ ? column * rows + row : row * columns + column;
    };
    if (foregroundColor_.isValid())
        builder_.setCurrentColor(foregroundColor_);
    for (qsizetype row = 0; row < rows; ++row) {
        builder_.setCurrentFont(layoutFont_);
        for (qsizetype column = 0; column < columns; ++column) {
            const qsizetype i = indexAt(row, column);
            if (i >= n)
                break;
            if (!foregroundColor_.isValid())
                builder_.setCurrentColor(toQColor(currentGauges_.at(i)->presentationColor()));
            builder_.setInvertedMode(currentGauges_.at(i)->isInAlertState());
            shownValueAt_[i] = length + (type == QTextOption::LeftTab ? 0 : 1);
            append(cellText(currentDisplayValues_.at(i)));
            builder_.setInvertedMode(false);
        }
        append(QStringLiteral("\n"));
        if (labelFont)
            builder_.setCurrentFont(*labelFont);
        for (qsizetype column = 0; column < columns; ++column) {
            const qsizetype i = indexAt(row, column);
            if (i >= n)
                break;
            if (!foregroundColor_.isValid())
                builder_.setCurrentColor(toQColor(currentGauges_.at(i)->presentationColor()));
            append(cellText(currentGauges_.at(i)->customName()));
        }
        // Cells were measured with the blank line that parts them one below the other.
        if (row + 1 < rows)
            append(layoutIsVertical_ ? QStringLiteral("\n\n") : QStringLiteral("\n"));
    }
}

QRect TEVSensorWindowController::availableAreaForWindow() const
{
    const auto screens = WindowPlacement::currentScreens();
    if (screens.available.isEmpty())
        return {};
    const qsizetype index = WindowPlacement::screenIndexForFrame(window_->frameGeometry(), screens);
    return screens.available.value(index < 0 ? screens.primary : index);
}

// The built text replaces the shown one in one step.
void TEVSensorWindowController::showDocument()
{
    std::unique_ptr<QTextDocument> document = builder_.attributedString();
    document->setDocumentMargin(kTextPadding);
    if (sensorText_) {
        // Each of these lays the text out: the old one at a width it keeps, the new one before the view's
        // width applies. Only the view's own layout of the new text is needed.
        const int width = int(std::ceil(lastDisplayedTextSize_.width()));
        if (sensorText_->lineWrapColumnOrWidth() != width)
            sensorText_->setLineWrapColumnOrWidth(width);
        document->setPageSize(QSizeF(0, 0));
        if (gridLayout_)
            document->setDocumentLayout(new SensorGridLayout(document.get(), cellSize_.width(), tabulatorTypeForAlignment(textAlignment_)));
        // Its few paragraphs keep their shaped glyphs for the paint that follows, rather than shaping again.
        for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
            block.layout()->setCacheEnabled(true);
        // The view deletes the document it made itself; the ones set here are ours to delete.
        const QPointer<QTextDocument> old = sensorText_->document();
        document->setParent(sensorText_);
        document->setUndoRedoEnabled(false); // edited in place on later ticks, with nothing to undo
        editable_ = document.get();
        sensorText_->setDocument(document.release());
        if (old && old->parent() == sensorText_)
            delete old.data();
        updateScrollBars();
        window_->update();
        return;
    }
    const bool empty = currentDisplayValues_.isEmpty();
    document->setTextWidth(empty ? double(window_->width()) : lastDisplayedTextSize_.width());
    shown_ = std::move(document);
    screenWindow_->setContent(*shown_, empty ? window_->size() : ceilSize(lastDisplayedTextSize_));
}

// Replacing a value's text lays out again and repaints only the line it stands in: the view follows the
// document's own change notices, and the rest of the window (scroll bars, menu bar) is left alone.
bool TEVSensorWindowController::editShownValues(const Grid& grid)
{
    const qsizetype n = currentDisplayValues_.size();
    if (!sensorText_ || !editable_ || sensorText_->document() != editable_.data() || shownValueAt_.size() != n ||
        shownValues_.size() != n || grid.cell != shownGrid_.cell || grid.columns != shownGrid_.columns ||
        grid.rows != shownGrid_.rows || grid.wrapped != shownGrid_.wrapped)
        return false;
    QList<qsizetype> order;
    for (qsizetype i = 0; i < n; ++i) {
        const QString& value = currentDisplayValues_.at(i);
        if (value == shownValues_.at(i))
            continue;
        // A new text takes the look of the one it replaces, so an empty one leaves nothing to copy.
        if (shownValues_.at(i).isEmpty() || value.contains(QLatin1Char('\n')) || value.contains(QChar::ParagraphSeparator))
            return false;
        if (gridLayout_ && !fitsCellByCell(value))
            return false;
        order.append(i);
    }
    // From the last place to the first, so that the places still to be edited do not move.
    std::sort(order.begin(), order.end(), [this](qsizetype a, qsizetype b) { return shownValueAt_.at(a) > shownValueAt_.at(b); });
    QTextCursor cursor(editable_.data());
    {
        // The view would repaint the whole of each edited line, every cell of it; only the edited cells are.
        const QSignalBlocker quiet(editable_->documentLayout());
        cursor.beginEditBlock();
        for (const qsizetype i : order) {
            const qsizetype at = shownValueAt_.at(i);
            cursor.setPosition(int(at + 1));
            const QTextCharFormat format = cursor.charFormat();
            cursor.setPosition(int(at));
            cursor.setPosition(int(at + shownValues_.at(i).size()), QTextCursor::KeepAnchor);
            cursor.insertText(currentDisplayValues_.at(i), format);
        }
        cursor.endEditBlock();
    }
    // A cell's text stays within its column, whose blank margins keep it clear of its neighbours' texts.
    QWidget* viewport = sensorText_->viewport();
    const bool columns = !(layoutIsVertical_ && !grid.wrapped) && sensorText_->layoutDirection() == Qt::LeftToRight;
    const QPoint scrolled(sensorText_->horizontalScrollBar()->value(), sensorText_->verticalScrollBar()->value());
    for (const qsizetype i : order) {
        const QTextBlock block = editable_->findBlock(int(shownValueAt_.at(i)));
        const QRectF line = editable_->documentLayout()->blockBoundingRect(block);
        QRect area(0, int(std::floor(line.top())) - scrolled.y(), viewport->width(), int(std::ceil(line.bottom()) - std::floor(line.top())));
        if (columns) {
            const qsizetype column = layoutIsVertical_ ? i / grid.rows : i % grid.columns;
            const double left = editable_->documentMargin() + double(column) * grid.cell.width();
            area.setLeft(int(std::floor(left)) - 2 - scrolled.x());
            area.setRight(int(std::ceil(left + grid.cell.width())) + 2 - scrolled.x());
        }
        viewport->update(area);
    }
    QList<qsizetype> byPlace(n);
    std::iota(byPlace.begin(), byPlace.end(), qsizetype(0));
    std::sort(byPlace.begin(), byPlace.end(), [this](qsizetype a, qsizetype b) { return shownValueAt_.at(a) < shownValueAt_.at(b); });
    qsizetype shift = 0;
    for (const qsizetype i : byPlace) {
        shownValueAt_[i] += shift;
        shift += currentDisplayValues_.at(i).size() - shownValues_.at(i).size();
    }
    shownValues_ = currentDisplayValues_;
    return true;
}

void TEVSensorWindowController::updateScrollBars()
{
    if (!sensorText_)
        return;
    const QSize text = ceilSize(sensorText_->document()->size());
    const int frame = 2 * sensorText_->frameWidth();
    const int scroller = sensorText_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, sensorText_);
    const QSize room = sensorText_->size() - QSize(frame, frame);
    bool sideways = text.width() > room.width();
    const bool upDown = text.height() > room.height() - (sideways ? scroller : 0);
    sideways = text.width() > room.width() - (upDown ? scroller : 0);
    const auto policy = [](bool on) { return on ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff; };
    if (sensorText_->horizontalScrollBarPolicy() != policy(sideways))
        sensorText_->setHorizontalScrollBarPolicy(policy(sideways));
    if (sensorText_->verticalScrollBarPolicy() != policy(upDown))
        sensorText_->setVerticalScrollBarPolicy(policy(upDown));
}

QSize TEVSensorWindowController::decorationSize() const
{
    // Before the window first shows, the frame the window manager will draw: the title bar and borders must
    // fit within the screen and beside the other windows as well.
    const QMargins frame = platform::frameMargins(window_);
    return QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
}

void TEVSensorWindowController::resizeWindowUsingContentMinimumSize(const QSizeF& minimum, const QSizeF& maximum)
{
    if (!window_)
        return;
    const auto screens = WindowPlacement::currentScreens();
    if (screenWindow_) {
        // Where the compositor alone places windows there is no place to mend: the size of its text, fixed,
        // which makes a tiling compositor float it as it floats a dialog.
        if (!platform::platformKnowsWindowPositions()) {
            window_->setFixedSize(ceilSize(maximum));
            return;
        }
        window_->resize(ceilSize(maximum));
        if (screens.geometries.isEmpty())
            return;
        if (!WindowPlacement::isOnAnyScreen(platform::expectedFrameGeometry(window_), screens))
            platform::moveFrameTo(window_, WindowPlacement::offScreenFallbackTopLeft(screens));
        if (awaitsPlace_ && window_->isVisible()) {
            placeFreely();
            return;
        }
        // Its text was laid out to fit the screen; the window moves so that all of it shows.
        const QRect frame = platform::expectedFrameGeometry(window_);
        const QRect within = WindowPlacement::bringOntoScreen(frame, screens);
        platform::moveFrameTo(window_, within.topLeft());
        if (within.size() != frame.size())
            window_->resize(within.size() - decorationSize());
        return;
    }
    const int frame = 2 * sensorText_->frameWidth();
    const int scroller = sensorText_->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, sensorText_);
    QSize extra(frame, frame);
    // Never narrower than its menu bar: a window of one value or none would cut its menus and its title.
    int barWidth = 0;
    if (const QWidget* bar = window_->layout() ? window_->layout()->menuBar() : nullptr) {
        extra.rheight() += bar->sizeHint().height();
        barWidth = bar->sizeHint().width();
    }
    QSize minContent = ceilSize(minimum) + extra;
    QSize maxContent = ceilSize(maximum) + extra;
    minContent.setWidth(std::max(minContent.width(), barWidth));
    maxContent.setWidth(std::max(maxContent.width(), barWidth));
    // Shorter than its text along the way the text runs, the window shows a scroll bar across it, and may
    // grow by the bar's room so that the bar hides nothing.
    const QSize across = layoutIsVertical_ ? QSize(scroller, 0) : QSize(0, scroller);
    textWindowSize_ = maxContent;
    barRoom_ = across;
    window_->setMinimumSize(minContent);
    window_->setMaximumSize(maxContent + across);
    const bool suppress = suppressWindowResizing_;
    suppressWindowResizing_ = false;
    if (suppress || screens.geometries.isEmpty())
        return;
    // A shown window that cannot move keeps the place it opened at: only its size is fitted there.
    if (awaitsPlace_ && window_->isVisible() && platform::platformKnowsWindowPositions()) {
        placeFreely();
        return;
    }
    const QSize decoration = decorationSize();
    const QRect fitted = WindowPlacement::fitFrameToScreen(platform::expectedFrameGeometry(window_), minContent + decoration,
                                                           maxContent + decoration, screens);
    QSize size = fitted.size() - decoration;
    if (layoutIsVertical_ ? size.height() < maxContent.height() : size.width() < maxContent.width())
        size += across;
    platform::moveFrameTo(window_, fitted.topLeft());
    window_->resize(size);
    // Neither the bar's room nor the window's least size may take it past its screen's edge.
    const QRect taken = platform::expectedFrameGeometry(window_);
    if (!platform::platformKnowsWindowPositions()) {
        // It stays where it opened, where the window manager put its frame (asked before the map, the place
        // Qt holds is the frame's: it does not hear where the frame went): what would pass the area's edges is
        // taken off its size.
        const QMargins drawn = platform::x11::drawnFrameMargins(window_).value_or(QMargins());
        const QSize frame = window_->size().grownBy(drawn);
        const QRect area = availableAreaForWindow();
        const QSize room(area.x() + area.width() - taken.x(), area.y() + area.height() - taken.y());
        if (!area.isEmpty() && frame.boundedTo(room) != frame && !frame.boundedTo(room).shrunkBy(drawn).isEmpty())
            window_->resize(frame.boundedTo(room).shrunkBy(drawn));
        return;
    }
    const QRect within = WindowPlacement::bringOntoScreen(taken, screens);
    if (within.topLeft() != taken.topLeft())
        platform::moveFrameTo(window_, within.topLeft());
    if (within.size() != taken.size())
        window_->resize(within.size() - decoration);
}
