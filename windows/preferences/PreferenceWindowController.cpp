#include "windows/preferences/PreferenceWindowController.h"

#include "acquisition/MonitoringClient.h"
#include "app/model/HistoryWindowPreferences.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVStringFormat.h"
#include "framework/TEVTimeUtilities.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/BundleImage.h"
#include "platform/desktop/OpenPanel.h"
#include "platform/desktop/Workspace.h"
#include "platform/desktop/widgets/ApplicationMenuBar.h"
#include "platform/desktop/widgets/DesktopLayer.h"
#include "platform/desktop/widgets/WindowPosition.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "sensors/TEVBatteryInfo.h"
#include "sensors/TEVLocalSMARTProbe.h"
#include "windows/TEVSensorWindowController.h"
#include "windows/preferences/ColorWell.h"
#include "windows/sensortables/SensorTableModel.h"
#include "windows/sensortables/SensorTablesController.h"
#include "windows/sensortables/SensorTablesHost.h"
#include "windows/sensortables/TEVFilenameTextField.h"

#include "ui_PrefWindow0.h"
#include "ui_PrefWindow1.h"
#include "ui_PrefWindow2.h"
#include "ui_PrefWindow3.h"
#include "ui_PrefWindow4.h"
#include "ui_PrefWindow5.h"
#include "ui_PrefWindow6.h"
#include "ui_PrefWindow7.h"
#include "ui_PrefWindow8.h"

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMainWindow>
#include <QPainter>
#include <QProgressBar>
#include <QSet>
#include <QShortcut>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStackedWidget>
#include <QStyle>
#include <QTableView>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

constexpr quint64 kIntervalTable[] = {1, 2, 5, 10, 20, 30, 60, 120, 300, 600, 1200, 1800, 3600};
constexpr quint64 kDiskSaverTable[] = {0, 600, 1200, 1800, 3600};

struct PaneEntry {
    const char* label;
    const char* icon;
    QStyle::StandardPixmap fallback;
};
const PaneEntry kPanes[] = {
    {"General", "PGeneral", QStyle::SP_ComputerIcon},       {"Sensors", "PSensors", QStyle::SP_DriveHDIcon},
    {"Window", "PWindow", QStyle::SP_TitleBarMaxButton},     {"Screen", "PScreen", QStyle::SP_DesktopIcon},
    {"Dock", "PDock", QStyle::SP_TitleBarMinButton},         {"Menu Bar", "PMenuBar", QStyle::SP_TitleBarShadeButton},
    {"History", "PHistory", QStyle::SP_FileDialogDetailedView}, {"Speech", "PSpeech", QStyle::SP_MediaVolume},
    {"Alerts", "PAlerts", QStyle::SP_MessageBoxWarning},      {"Probes", "PProbes", QStyle::SP_FileDialogContentsView},
    {"LCD Module", "PLCD", QStyle::SP_FileDialogListView},
};

// Replaces "%lld" / "%llu" in turn, then the "%@" placeholders.
QString fillFormat(QString format, const QList<qint64>& integers, const QStringList& objects = {})
{
    for (const qint64 value : integers) {
        const auto at = std::min<qsizetype>(format.indexOf(QLatin1String("%lld")) < 0 ? format.size() : format.indexOf(QLatin1String("%lld")),
                                            format.indexOf(QLatin1String("%llu")) < 0 ? format.size() : format.indexOf(QLatin1String("%llu")));
        if (at >= format.size())
            break;
        format.replace(at, 4, QString::number(value));
    }
    return TEVStringFormat::withObjects(format, objects);
}

QString plainNumber(double value)
{
    return TEVStringFormat::withNumber("%g", value);
}

// A number as the user writes it ("2,5" in German), else as C writes it ("2.5", which is how fields show it).
std::optional<double> numberInText(const QString& typed)
{
    const QString text = typed.trimmed();
    bool ok = false;
    double value = QLocale().toDouble(text, &ok);
    if (!ok)
        value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}
std::optional<double> numberInField(const QLineEdit* field)
{
    return numberInText(field->text());
}

// Compared as it would be stored: the text "0.1" is the minimum, though 0.1 lies below float 0.1.
bool isTalkDelta(double typed)
{
    if (std::abs(typed) > double(std::numeric_limits<float>::max()))
        return false;
    const float stored = float(typed);
    return stored >= PreferenceWindowController::kTalkDeltaMin && stored <= PreferenceWindowController::kTalkDeltaMax;
}

// Fields that show a stored number remember what they showed: while the user has not changed the text the
// stored value stands, so a value the text rounds is not replaced by its rounding. Live edits store each
// valid keystroke, so a field also keeps the text it showed before the edit began: an edit that ends
// invalid goes back to it, not to the last valid keystroke ("2" of "2,5").
const char kLoadedText[] = "kelvaroLoadedText";
const char kTextBeforeEdit[] = "kelvaroTextBeforeEdit";
void showStored(QLineEdit* field, const QString& text)
{
    field->setText(text);
    field->setProperty(kLoadedText, text);
    field->setProperty(kTextBeforeEdit, text);
}
bool isUnchanged(const QLineEdit* field)
{
    return field->property(kLoadedText).toString() == field->text();
}
QString textBeforeEdit(const QLineEdit* field)
{
    return field->property(kTextBeforeEdit).toString();
}
// The edit has ended with what the field shows now stored.
void endEdit(QLineEdit* field)
{
    field->setProperty(kLoadedText, field->text());
    field->setProperty(kTextBeforeEdit, field->text());
}

// Likewise for pop-ups, matrices and sliders that show a stored value through a mapping that may lose it.
const char kLoadedIndex[] = "kelvaroLoadedIndex";
void showIndex(QComboBox* popUp, qint64 index)
{
    popUp->setCurrentIndex(index >= 0 && index < popUp->count() ? int(index) : -1);
    popUp->setProperty(kLoadedIndex, popUp->currentIndex());
}
bool isUnchanged(const QComboBox* popUp)
{
    return popUp->property(kLoadedIndex).toInt() == popUp->currentIndex();
}
void showPosition(QSlider* slider, int position)
{
    slider->setValue(position);
    slider->setProperty(kLoadedIndex, slider->value());
}
bool isUnchanged(const QSlider* slider)
{
    return slider->property(kLoadedIndex).toInt() == slider->value();
}

void selectTag(QButtonGroup* group, int tag)
{
    if (QAbstractButton* button = group->button(tag))
        button->setChecked(true);
    group->setProperty(kLoadedIndex, group->checkedId());
}
bool isUnchanged(const QButtonGroup* group)
{
    return group->property(kLoadedIndex).toInt() == group->checkedId();
}
void markStored(QComboBox* popUp) { popUp->setProperty(kLoadedIndex, popUp->currentIndex()); }
void markStored(QSlider* slider) { slider->setProperty(kLoadedIndex, slider->value()); }
void markStored(QButtonGroup* group) { group->setProperty(kLoadedIndex, group->checkedId()); }
// True when the user moved the control since it was loaded or last stored; what it shows now is what the
// next edit compares with, so a control moved back to where it was loaded stores again.
template <typename Control>
bool takeChange(Control* control)
{
    const bool changed = !isUnchanged(control);
    markStored(control);
    return changed;
}

void setTagChecked(QButtonGroup* group, int tag, bool on)
{
    if (QAbstractButton* button = group->button(tag))
        button->setChecked(on);
}
bool isTagChecked(const QButtonGroup* group, int tag)
{
    const QAbstractButton* button = group->button(tag);
    return button && button->isChecked();
}
void setTagEnabled(QButtonGroup* group, int tag, bool on)
{
    if (QAbstractButton* button = group->button(tag))
        button->setEnabled(on);
}
void setGroupEnabled(QButtonGroup* group, bool on)
{
    for (QAbstractButton* button : group->buttons())
        button->setEnabled(on);
}

QList<qint64> selectedRows(const QAbstractItemView* view)
{
    QList<qint64> rows;
    if (!view || !view->selectionModel())
        return rows;
    for (const QModelIndex& index : view->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

QFont fontOf(const MachinePreferences::Font& font)
{
    QFont qfont(font.name);
    qfont.setPointSizeF(font.size > 0 ? font.size : 12.0);
    return qfont;
}

} // namespace

// The window: tells its controller when the user closes it.
class PreferenceMainWindow final : public QMainWindow {
public:
    explicit PreferenceMainWindow(PreferenceWindowController& controller)
        : controller_(controller)
    {
    }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        if (controller_.fontPanel_)
            controller_.fontPanel_->close();
        if (controller_.willClose_)
            controller_.willClose_();
        event->accept();
    }

private:
    PreferenceWindowController& controller_;
};

// The sensor tables' host: the owner's live lists, and this window's load routine and selection fillers.
class PreferenceWindowController::TablesHost final : public SensorTablesHost {
public:
    explicit TablesHost(PreferenceWindowController& window)
        : w_(window)
    {
    }
    MachinePreferences* localMachinePreferences() const override { return w_.localPreferences().get(); }
    MonitorPreferences* monitorPreferences() const override { return w_.monitorPreferences(); }
    const QStringList& connectedSensorNames() const override { return w_.owner_ ? w_.owner_->connectedSensorNames() : none_; }
    const QStringList& localGaugeComputers() const override { return w_.owner_ ? w_.owner_->localGaugeComputers() : none_; }
    const QMap<QString, QList<std::shared_ptr<TEVGauge>>>& gaugesByComputer() const override
    {
        return w_.owner_ ? w_.owner_->gaugesByComputer() : noGauges_;
    }
    void handleConfigurationChange() override
    {
        if (w_.owner_)
            w_.owner_->handleConfigurationChange();
    }
    QList<std::shared_ptr<HistoryWindow>>& historyWindowControllers() override
    {
        return w_.owner_ ? w_.owner_->historyWindowControllers() : noWindows_;
    }
    std::shared_ptr<HistoryWindow> makeHistoryWindowController(const std::shared_ptr<HistoryWindowPreferences>& preferences) override
    {
        return w_.owner_ ? w_.owner_->makeHistoryWindowController(preferences) : nullptr;
    }
    void updatePreferenceWindow() override { w_.updatePreferenceWindow(); }
    void updatePreferenceWindowState() override { w_.updatePreferenceWindowState(); }
    void selectHistoryWindowEntry() override { w_.selectHistoryWindowEntry(); }
    void selectSensorTableEntry() override { w_.selectSensorTableEntry(); }
    void selectGauge() override { w_.selectGauge(); }

private:
    PreferenceWindowController& w_;
    // Before the owner binds: nothing to show.
    const QStringList none_;
    const QMap<QString, QList<std::shared_ptr<TEVGauge>>> noGauges_;
    QList<std::shared_ptr<HistoryWindow>> noWindows_;
};

// --- Pure mappings -----------------------------------------------------------------------------------------

qint64 PreferenceWindowController::cellIndexForAlignment(qint64 alignment)
{
    switch (alignment) {
    case 0: return 0;
    case 1: return 2;
    case 2: return 1;
    default: return 2;
    }
}

qint64 PreferenceWindowController::textAlignmentForCellIndex(qint64 cell)
{
    switch (cell) {
    case 0: return 0;
    case 1: return 2;
    default: return 1;
    }
}

qint64 PreferenceWindowController::popUpIndexForDiskSaverInterval(quint64 seconds)
{
    if (seconds == 0 || seconds > 3600)
        return 0;
    for (qint64 i = 1; i < 5; ++i)
        if (seconds <= kDiskSaverTable[i])
            return i;
    return 0;
}

quint64 PreferenceWindowController::diskSaverIntervalForMenuIndex(qint64 index)
{
    return index >= 0 && index < 5 ? kDiskSaverTable[index] : 0;
}

qint64 PreferenceWindowController::timeSliderIntegerValueForSeconds(quint64 seconds)
{
    for (qint64 i = 0; i < 13; ++i)
        if (kIntervalTable[i] >= seconds)
            return i + 1;
    return 13;
}

quint64 PreferenceWindowController::secondsForTimeSliderValue(qint64 position)
{
    return kIntervalTable[std::clamp<qint64>(position - 1, 0, 12)];
}

QString PreferenceWindowController::toolbarLabelForPreferencePaneAtIndex(quint64 index)
{
    return index < quint64(kNumberOfPanes) ? localized(QString::fromLatin1(kPanes[index].label)) : QString();
}

QString PreferenceWindowController::iconNameForPreferencePaneAtIndex(quint64 index)
{
    return index < quint64(kNumberOfPanes) ? QString::fromLatin1(kPanes[index].icon) : QString();
}

namespace {

// The side of the toolbar's icons, and how much of it a picture fills.
constexpr int kToolbarIconSide = 28;
constexpr double kToolbarPictureShare = 0.86;

// A picture as large as the others: the style's pictures come in very different sizes and margins, and an
// icon is never drawn larger than its picture, so some would stand tiny beside the rest. Its largest
// version less its clear margins, fitted into the square, at one and two device pixels a point.
QIcon uniformToolbarIcon(const QIcon& source)
{
    QSize largest;
    for (const QSize& size : source.availableSizes())
        if (size.width() * size.height() > largest.width() * largest.height())
            largest = size;
    QImage picture = source.pixmap(largest.isEmpty() ? QSize(128, 128) : largest).toImage().convertToFormat(QImage::Format_ARGB32);
    QRect drawn;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (qAlpha(picture.pixel(x, y)) > 16)
                drawn |= QRect(x, y, 1, 1);
    if (drawn.isEmpty())
        return source;
    picture = picture.copy(drawn);
    QIcon icon;
    for (const int scale : {1, 2}) {
        const int side = kToolbarIconSide * scale;
        const int room = int(std::lround(side * kToolbarPictureShare));
        const QImage fitted = picture.scaled(room, room, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QImage square(side, side, QImage::Format_ARGB32_Premultiplied);
        square.fill(Qt::transparent);
        QPainter painter(&square);
        painter.drawImage((side - fitted.width()) / 2, (side - fitted.height()) / 2, fitted);
        painter.end();
        icon.addPixmap(QPixmap::fromImage(square));
    }
    return icon;
}

} // namespace

QIcon PreferenceWindowController::iconForPreferencePaneAtIndex(quint64 index)
{
    if (index >= quint64(kNumberOfPanes))
        return {};
    const auto bundle = platform::Bundle::main();
    if (const QImage image = platform::bundleImage(bundle.get(), iconNameForPreferencePaneAtIndex(index)); !image.isNull())
        return uniformToolbarIcon(QIcon(QPixmap::fromImage(image)));
    // Until the bundle has the pane images: the program's own icon for the Dock pane (the application icon
    // stands for the Dock here), else the style's nearest picture.
    if (QString::fromLatin1(kPanes[index].icon) == QLatin1String("PDock"))
        if (const QImage image = platform::bundleImage(bundle.get(), QStringLiteral("NSApplicationIcon")); !image.isNull())
            return uniformToolbarIcon(QIcon(QPixmap::fromImage(image)));
    return uniformToolbarIcon(QApplication::style()->standardIcon(kPanes[index].fallback));
}

QString PreferenceWindowController::dockCountMessage(quint64 count)
{
    static const char* const lines[] = {"Currently no values are selected to be visible in the Dock.",
                                        "Currently one value is selected to be visible in the Dock.",
                                        "Currently two values are selected to be visible in the Dock."};
    const QString first = count < 3 ? localized(QString::fromLatin1(lines[count])) : QString();
    return first + QLatin1Char('\n')
           + localized(QStringLiteral("To change it, use Display > Application Icon in the menu bar of a Kelvaro window, or Application Icon in the tray icon's menu."));
}

QString PreferenceWindowController::menuBarCountMessage(quint64 count)
{
    QString first;
    if (count == 0)
        first = localized(QStringLiteral("Currently no values are selected to be visible in the menu bar."));
    else if (count == 1)
        first = localized(QStringLiteral("Currently one value is selected to be visible in the menu bar."));
    else
        first = fillFormat(localized(QStringLiteral("Currently %llu values are selected to be visible in the menu bar.")),
                           {qint64(count)});
    return first + QLatin1Char('\n')
           + localized(QStringLiteral("To change it, use Display > Menu Bar in the menu bar of a Kelvaro window."));
}

QString PreferenceWindowController::voiceModeMessage(qint64 mode)
{
    static const char* const lines[] = {"Speech output is currently deactivated.",
                                        "Speech output is currently restricted to alert messages only.",
                                        "Speech output is fully activated."};
    const QString first = mode >= 0 && mode < 3 ? localized(QString::fromLatin1(lines[mode])) : QString();
    return first + QLatin1Char('\n')
           + localized(QStringLiteral("To change it, use Display > Speech in the menu bar of a Kelvaro window."));
}

bool PreferenceWindowController::smartIntervalPreventsDiskSleep(qint64 spindownMinutes, quint64 smartIntervalSeconds)
{
    // 180 minutes is what the system reports when the disks never sleep.
    if (spindownMinutes == 0 || spindownMinutes == 180)
        return false;
    return double(smartIntervalSeconds) < double(spindownMinutes) * 120.0;
}

QString PreferenceWindowController::localized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key) : key;
}

// --- Building --------------------------------------------------------------------------------------------

namespace {

template <typename Form>
QWidget* makePane()
{
    auto* pane = new QWidget;
    Form form;
    form.setupUi(pane);
    // A matrix's cells are found by their tags, as the buttons' ids.
    for (QButtonGroup* group : pane->findChildren<QButtonGroup*>())
        for (QAbstractButton* button : group->buttons())
            group->setId(button, button->property("tag").toInt());
    return pane;
}

} // namespace

PreferenceWindowController::PreferenceWindowController()
{
    // Only the bare window until it is first needed: its panes, toolbar pictures and tables are most of the
    // program's idle heap, and most runs never open it.
    window_ = new PreferenceMainWindow(*this);
    window_->setObjectName(QStringLiteral("preferenceWindow"));
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    for (qint64 i = 0; i < kNumberOfPanes; ++i)
        identifiers_.append(QString::number(quint64(i)));
    tablesHost_ = std::make_unique<TablesHost>(*this);
    tables_ = std::make_unique<SensorTablesController>(*tablesHost_);
    // A drop or a removal edits a channel's list: the channels show it at once.
    connect(tables_.get(), &SensorTablesController::sensorListChanged, this, [this] {
        if (owner_)
            owner_->updateAllOutputChannelsAndCache(true);
    });
}

void PreferenceWindowController::ensureBuilt() const
{
    if (!built_)
        const_cast<PreferenceWindowController*>(this)->build();
}

void PreferenceWindowController::build()
{
    built_ = true;
    stack_ = new QStackedWidget(window_);
    window_->setCentralWidget(stack_);
    panes_ = {makePane<Ui::PrefWindow0>(), makePane<Ui::PrefWindow1>(), makePane<Ui::PrefWindow2>(),
              makePane<Ui::PrefWindow3>(), makePane<Ui::PrefWindow4>(), makePane<Ui::PrefWindow5>(),
              makePane<Ui::PrefWindow6>(), makePane<Ui::PrefWindow7>(), makePane<Ui::PrefWindow8>()};
    for (const char* name : {"probesPaneHost", "lcdPaneHost"}) {
        auto* host = new QWidget;
        host->setObjectName(QString::fromLatin1(name));
        auto* layout = new QVBoxLayout(host);
        layout->setContentsMargins(0, 0, 0, 0);
        hosts_.append(host);
        panes_.append(host);
    }
    for (QWidget* pane : std::as_const(panes_))
        stack_->addWidget(pane);
    for (qsizetype i = 0; i < hosts_.size(); ++i) {
        if (auto make = std::exchange(viewMakers_[i], {}))
            hostedViews_[i] = make();
        if (QWidget* view = hostedViews_[i])
            hosts_.at(i)->layout()->addWidget(view);
    }
    if (auto* field = control<QLineEdit>(QStringLiteral("historyAutosaveField")))
        field->setAlignment(Qt::AlignRight);
    // The choice is kept for the desktops that can do it, and says what it does here.
    if (auto* below = control<QRadioButton>(QStringLiteral("screenBackdropButton")); below && !platform::platformKeepsWindowsBelow()) {
        below->setText(localized(QStringLiteral("On the desktop (not available here)")));
        below->setToolTip(localized(QStringLiteral("This desktop cannot keep a window below the others: the screen display "
                                                   "stays over them and lets the clicks through to what it covers.")));
    }
    buildToolbar();
    connectControls();
    tables_->installInPreferenceWindow(window_);
    // A file dropped on the field is its action.
    if (auto* field = control<TEVFilenameTextField>(QStringLiteral("alertApplicationField")))
        connect(field, &TEVFilenameTextField::actionTriggered, this, [this, field] {
            if (!loading_)
                controlTextDidChange(field);
        });
    if (auto* choose = control<QPushButton>(QStringLiteral("alertApplicationButton"))) {
        choose->setText(localized(choose->text()));
        connect(choose, &QPushButton::clicked, this, [this] { selectAlertApplication(); });
    }
    // Closing is what writes the preferences: Escape does it as well as the menu's Close Window.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window_);
    escape->setObjectName(QStringLiteral("preferenceWindowEscape"));
    connect(escape, &QShortcut::activated, window_, &QWidget::close);
    // Wide enough for the whole toolbar: an item behind its overflow menu could not be chosen.
    window_->resize(std::max(860, toolbar_->sizeHint().width() + 16), 620);
    // What was chosen and changed meanwhile.
    if (selectedPane_ >= 0)
        selectPreferencePaneAtIndex(selectedPane_);
    updatePreferenceWindow();
}

PreferenceWindowController::~PreferenceWindowController()
{
    delete fontPanel_;
    delete window_;
    tables_.reset();
}

void PreferenceWindowController::buildToolbar()
{
    toolbar_ = new QToolBar(window_);
    toolbar_->setObjectName(QStringLiteral("PreferencesToolbar"));
    toolbar_->setMovable(false);
    toolbar_->setFloatable(false);
    toolbar_->setContextMenuPolicy(Qt::PreventContextMenu);
    toolbar_->toggleViewAction()->setEnabled(false);
    toolbar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolbar_->setIconSize(QSize(kToolbarIconSide, kToolbarIconSide));
    auto* items = new QActionGroup(toolbar_);
    items->setExclusive(true);
    for (qint64 i = 0; i < kNumberOfPanes; ++i) {
        QAction* item = toolbar_->addAction(iconForPreferencePaneAtIndex(quint64(i)), toolbarLabelForPreferencePaneAtIndex(quint64(i)));
        item->setObjectName(identifiers_.at(i));
        item->setData(i); // the tag
        item->setCheckable(true);
        item->setEnabled(true);
        items->addAction(item);
        toolbarItems_.append(item);
        connect(item, &QAction::triggered, this, [this, item] { selectPreferencePane(item); });
    }
    window_->addToolBar(Qt::TopToolBarArea, toolbar_);
    toolbar_->setVisible(true);
}

QButtonGroup* PreferenceWindowController::buttonGroup(const QString& name) const
{
    return findControl<QButtonGroup>(name);
}

void PreferenceWindowController::connectControls()
{
    const auto guarded = [this](auto fn) {
        return [this, fn] {
            if (!loading_)
                fn();
        };
    };
    const QSet<QString> voiceControls = {QStringLiteral("speechModeButtons")};
    for (qint64 i = 0; i < 9; ++i) {
        QWidget* pane = panes_.at(i);
        for (QButtonGroup* group : pane->findChildren<QButtonGroup*>()) {
            const QString name = group->objectName();
            if (name.endsWith(QLatin1String("NavigateButtons")))
                continue; // the sensor tables' own actions
            if (voiceControls.contains(name))
                connect(group, &QButtonGroup::idClicked, this, guarded([this] { changeVoiceSetting(); }));
            else
                connect(group, &QButtonGroup::idClicked, this, guarded([this] { changePreferenceValue(); }));
        }
        for (QCheckBox* box : pane->findChildren<QCheckBox*>()) {
            if (box->group())
                continue;
            if (box->objectName() == QLatin1String("speechNameSwitch"))
                connect(box, &QCheckBox::clicked, this, guarded([this] { changeVoiceSetting(); }));
            else
                connect(box, &QCheckBox::clicked, this, guarded([this] { changePreferenceValue(); }));
        }
        for (QComboBox* popUp : pane->findChildren<QComboBox*>())
            connect(popUp, &QComboBox::activated, this, guarded([this] { changePreferenceValue(); }));
        for (ColorWell* well : pane->findChildren<ColorWell*>())
            connect(well, &ColorWell::colorChanged, this, guarded([this] { changePreferenceValue(); }));
        for (QLineEdit* field : pane->findChildren<QLineEdit*>()) {
            connect(field, &QLineEdit::editingFinished, this, guarded([this] { changePreferenceValue(); }));
            connect(field, &QLineEdit::textEdited, this, guarded([this, field] { controlTextDidChange(field); }));
        }
        for (QSlider* slider : pane->findChildren<QSlider*>()) {
            if (slider->objectName() == QLatin1String("transparencySlider"))
                connect(slider, &QSlider::valueChanged, this, guarded([this] { changePreferenceValue(); }));
            else
                connect(slider, &QSlider::valueChanged, this, guarded([this, slider] { changeSliderValue(slider); }));
        }
    }
    for (const char* name : {"windowFontButton", "screenFontButton", "menuBarFontButton"})
        if (auto* button = control<QPushButton>(QString::fromLatin1(name)))
            connect(button, &QPushButton::clicked, this, [this, button] { changeValueCellFont(button->property("tag").toInt()); });
    // The "Default" buttons beside the settings they reset; a font panel open on a reset font goes.
    const auto reset = [this](const char* name, auto action) {
        if (auto* button = control<QPushButton>(QString::fromLatin1(name)))
            connect(button, &QPushButton::clicked, this, [this, button, action] {
                if (!owner_)
                    return;
                const QList<int> historyRows = tables_->selectedHistoryWindowRows();
                action(*owner_, button->property("tag").toLongLong());
                // The reload after a reset empties the tables' selections: the History pane keeps showing
                // the window it showed.
                QTableView* history = tables_->historyWindowTable();
                if (history && tables_->selectedHistoryWindowRows().isEmpty())
                    for (const int row : historyRows)
                        if (row < history->model()->rowCount())
                            history->selectionModel()->select(history->model()->index(row, 0),
                                                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
            });
    };
    const auto font = [this](PreferenceWindowOwner& owner, qint64 tag) {
        if (fontPanel_)
            fontPanel_->close();
        tag == 0 ? owner.resetMenuBarFont() : owner.setWindowDefaultFont(tag);
    };
    const auto ratio = [](PreferenceWindowOwner& owner, qint64 tag) { owner.setWindowDefaultLabelRatio(tag); };
    const auto background = [](PreferenceWindowOwner& owner, qint64 tag) { owner.resetWindowBackgroundColor(tag); };
    reset("windowDefaultFontButton", font);
    reset("screenDefaultFontButton", font);
    reset("menuBarDefaultFontButton", font);
    reset("windowDefaultLabelRatioButton", ratio);
    reset("screenWindowDefaultLabelRatioButton", ratio);
    reset("standardWindowDefaultColorButton", background);
    reset("historyDefaultBackgroundButton", background);
}

// --- PreferenceWindow --------------------------------------------------------------------------------------

QWidget* PreferenceWindowController::window()
{
    return window_;
}

void PreferenceWindowController::showWindow()
{
    ensureBuilt();
    // The application's menus, with their Close Window and Quit keys, as every main window has them; made
    // at the first showing because the program registers the maker after making this window.
    if (!window_->menuWidget())
        platform::ApplicationMenuBar::installInto(window_);
    if (selectedPane_ < 0)
        selectPreferencePaneAtIndex(0);
    updatePreferenceWindow();
    window_->show();
    window_->raise();
    window_->activateWindow();
}

QWidget* PreferenceWindowController::paneView(qint64 index) const
{
    ensureBuilt();
    return index >= 0 && index < panes_.size() ? panes_.at(index) : nullptr;
}

void PreferenceWindowController::setPaneViews(const QStringList& identifiers, const QList<QWidget*>& views)
{
    if (identifiers.size() == kNumberOfPanes) {
        identifiers_ = identifiers;
        for (qsizetype i = 0; i < toolbarItems_.size(); ++i)
            toolbarItems_.at(i)->setObjectName(identifiers_.at(i));
    }
    // Panes 0 to 8 are this window's own; 9 and 10 host whatever view their manager has.
    for (qint64 i = 9; i < kNumberOfPanes && i < views.size(); ++i) {
        QWidget* view = views.at(i);
        if (!view)
            continue;
        hostedViews_[i - 9] = view;
        viewMakers_[i - 9] = {};
        if (!built_) {
            // Kept by the window, hidden, until its host is made.
            if (view->parentWidget() != window_)
                view->setParent(window_);
            continue;
        }
        QWidget* host = hosts_.at(i - 9);
        if (view->parentWidget() == host)
            continue;
        host->layout()->addWidget(view);
    }
}

void PreferenceWindowController::setPaneViewMakers(const QStringList& identifiers, const QList<PaneViewMaker>& makers)
{
    if (built_) {
        PreferenceWindow::setPaneViewMakers(identifiers, makers);
        return;
    }
    setPaneViews(identifiers, {});
    for (qint64 i = 9; i < kNumberOfPanes && i < makers.size(); ++i)
        if (makers.at(i))
            viewMakers_[i - 9] = makers.at(i);
}

void PreferenceWindowController::selectPreferencePaneAtIndex(qint64 index)
{
    if (index < 0 || index >= kNumberOfPanes)
        return;
    selectedPane_ = index;
    window_->setWindowTitle(TEVStringFormat::withObjects(localized(QStringLiteral("%@ Preferences: %@")),
                                                         {localized(QStringLiteral("Kelvaro")),
                                                          toolbarLabelForPreferencePaneAtIndex(quint64(index))}));
    if (!built_)
        return;
    stack_->setCurrentIndex(int(index));
    toolbarItems_.at(index)->setChecked(true);
}

void PreferenceWindowController::selectPreferencePane(QAction* sender)
{
    selectPreferencePaneAtIndex(sender ? sender->data().toLongLong() : -1);
}

void PreferenceWindowController::deselectHistoryWindowTable()
{
    if (!built_)
        return;
    tables_->deselectHistoryWindowTable();
}

QList<qint64> PreferenceWindowController::selectedHistoryWindowRows() const
{
    QList<qint64> rows;
    if (!built_)
        return rows;
    for (const int row : tables_->selectedHistoryWindowRows())
        rows.append(row);
    return rows;
}

void PreferenceWindowController::runWithWaitSheet(const std::function<void()>& work)
{
    if (!window_ || !window_->isVisible()) {
        work();
        return;
    }
    QDialog sheet(window_);
    sheet.setWindowModality(Qt::WindowModal);
    sheet.setWindowFlag(Qt::FramelessWindowHint);
    auto* layout = new QVBoxLayout(&sheet);
    layout->addWidget(new QLabel(localized(QStringLiteral("Saving preferences…")), &sheet));
    auto* indicator = new QProgressBar(&sheet);
    indicator->setObjectName(QStringLiteral("preferenceWaitIndicator"));
    indicator->setRange(0, 0);
    layout->addWidget(indicator);
    sheet.show();
    {
        // The turn it paints in counts as modal, so no update runs in the middle of the write.
        platform::AlertPresenter::ModalScope modal;
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    work();
    sheet.hide();
}

// --- Owner --------------------------------------------------------------------------------------------------

MonitorPreferences* PreferenceWindowController::monitorPreferences() const
{
    return owner_ ? owner_->monitorPreferences() : nullptr;
}

std::shared_ptr<MachinePreferences> PreferenceWindowController::localPreferences() const
{
    return owner_ ? owner_->localPreferences() : nullptr;
}

std::shared_ptr<MonitoringClient> PreferenceWindowController::localClient() const
{
    return owner_ ? owner_->localClient() : nullptr;
}

void PreferenceWindowController::beep() const
{
    platform::AlertPresenter::shared()->beep();
}

// --- Loading -----------------------------------------------------------------------------------------------

void PreferenceWindowController::updatePreferenceWindow()
{
    // An unmade window has nothing to show yet: it loads all of it when it is made.
    MonitorPreferences* global = monitorPreferences();
    if (!built_ || !global)
        return;
    loading_ = true;
    loadGlobalControls(*global);
    // Until the local computer is ready the panes show no per-computer values.
    if (const auto prefs = localPreferences())
        loadMachineControls(*prefs, *global);
    // The reload clears the tables' selections: the controls beside them follow.
    tables_->reloadData();
    loading_ = false;
    selectHistoryWindowEntry();
    selectSensorTableEntry();
    selectGauge();
    updatePreferenceWindowState();
}

void PreferenceWindowController::loadGlobalControls(const MonitorPreferences& prefs)
{
    const auto unit = prefs.temperatureDisplayUnit();
    showIndex(control<QComboBox>(QStringLiteral("unitPopUp")), unit >= 0 && unit <= 4 ? unit : -1);
    control<QCheckBox>(QStringLiteral("splashWindowSwitch"))->setChecked(prefs.suppressesSplashWindow());
    QButtonGroup* connection = buttonGroup(QStringLiteral("connectionMonitoringSwitches"));
    setTagChecked(connection, 0, prefs.reconnectClientsOnLaunch());
    setTagChecked(connection, 1, prefs.areSleepWarningsDisabled());
    selectTag(buttonGroup(QStringLiteral("batteryCurrentPolicyButtons")), prefs.showsPositiveBatteryCurrents() ? 0 : 1);
    showPosition(control<QSlider>(QStringLiteral("generalUpdateSlider")), int(timeSliderIntegerValueForSeconds(prefs.sensorUpdateInterval())));
    showPosition(control<QSlider>(QStringLiteral("smartUpdateSlider")), int(timeSliderIntegerValueForSeconds(prefs.smartUpdateInterval())));
    showIndex(control<QComboBox>(QStringLiteral("diskSaverPopUp")), popUpIndexForDiskSaverInterval(prefs.smartDiskSaverInterval()));
    selectTag(buttonGroup(QStringLiteral("graphZoomButtons")), prefs.graphsZoomValueRange() ? 1 : 0);
    control<QCheckBox>(QStringLiteral("absoluteHistoryTimeSwitch"))->setChecked(prefs.displaysAbsoluteHistoryTimes());
    control<QLabel>(QStringLiteral("dockMessageField"))->setText(dockCountMessage(prefs.numberOfDockValues()));
    control<QLabel>(QStringLiteral("menuBarMessageField"))->setText(menuBarCountMessage(prefs.numberOfMenuBarValues()));
    const quint64 minutes = prefs.autosaveHistoryMinutes();
    control<QCheckBox>(QStringLiteral("historyAutosaveButton"))->setChecked(minutes != 0);
    showStored(control<QLineEdit>(QStringLiteral("historyAutosaveField")), QString::number(minutes != 0 ? minutes : 60));
    control<QLabel>(QStringLiteral("speechStateField"))->setText(voiceModeMessage(prefs.voiceMode()));
    refreshTimeFields();
}

void PreferenceWindowController::refreshTimeFields()
{
    const MonitorPreferences* prefs = monitorPreferences();
    if (!prefs)
        return;
    control<QLabel>(QStringLiteral("generalUpdateField"))
        ->setText(TEVTimeUtilities::localizedTextRepresentationForTimeInterval(double(prefs->sensorUpdateInterval())));
    control<QLabel>(QStringLiteral("smartUpdateField"))
        ->setText(TEVTimeUtilities::localizedTextRepresentationForTimeInterval(double(prefs->smartUpdateInterval())));
    if (const auto local = localPreferences())
        control<QLabel>(QStringLiteral("speechUpdateField"))
            ->setText(TEVTimeUtilities::localizedTextRepresentationForTimeInterval(
                double(local->talkIntervalMultiplier()) * double(prefs->sensorUpdateInterval())));
}

void PreferenceWindowController::loadMachineControls(MachinePreferences& prefs, const MonitorPreferences&)
{
    const auto well = [this](const char* name, const std::shared_ptr<platform::Color>& color) {
        if (color)
            control<ColorWell>(QString::fromLatin1(name))->setColor(color);
    };
    const auto ratio = [this](const char* field, const char* slider, float value) {
        control<QLabel>(QString::fromLatin1(field))->setText(plainNumber(value));
        control<QSlider>(QString::fromLatin1(slider))->setValue(int(std::lround(value * 10.0f)));
    };
    // Window
    selectTag(buttonGroup(QStringLiteral("windowLayoutButtons")), prefs.standardWindowVertical() ? 1 : 0);
    well("standardWindowColorWell", prefs.standardWindowBackground());
    selectTag(buttonGroup(QStringLiteral("standardWindowForegroundButtons")), prefs.standardWindowUsesForeground() ? 1 : 0);
    well("standardWindowForegroundColorWell", prefs.standardWindowForeground());
    selectTag(buttonGroup(QStringLiteral("windowJustificationButtons")), int(cellIndexForAlignment(prefs.standardWindowAlignment())));
    ratio("windowLabelRatioField", "windowLabelRatioSlider", prefs.standardWindowFontRatio());
    // Screen
    selectTag(buttonGroup(QStringLiteral("screenWindowLayoutButtons")), prefs.screenDisplayVertical() ? 1 : 0);
    control<QCheckBox>(QStringLiteral("shadowSwitch"))->setChecked(prefs.screenDisplayHasShadow());
    showPosition(control<QSlider>(QStringLiteral("transparencySlider")), int(std::lround(prefs.screenDisplayTransparency() * 100.0f)));
    selectTag(buttonGroup(QStringLiteral("screenWindowForegroundButtons")), prefs.screenDisplayUsesForeground() ? 1 : 0);
    well("screenWindowForegroundColorWell", prefs.screenDisplayForeground());
    selectTag(buttonGroup(QStringLiteral("screenWindowLevelButtons")), prefs.screenDisplayIsBackdrop() ? 1 : 0);
    control<QCheckBox>(QStringLiteral("screenWindowMoveSwitch"))->setChecked(prefs.screenDisplayIsFixed());
    selectTag(buttonGroup(QStringLiteral("screenWindowJustificationButtons")), int(cellIndexForAlignment(prefs.screenDisplayAlignment())));
    ratio("screenWindowLabelRatioField", "screenWindowLabelRatioSlider", prefs.screenDisplayFontRatio());
    // Dock
    selectTag(buttonGroup(QStringLiteral("dockModeButtons")), prefs.dockUsesTextDisplay() ? 1 : 0);
    selectTag(buttonGroup(QStringLiteral("dockTextButtons")), prefs.dockTextUsesDefaultColors() ? 0 : 1);
    control<ColorWell>(QStringLiteral("dockTextColorWell"))->setEnabled(!prefs.dockTextUsesDefaultColors());
    well("dockTextColorWell", prefs.dockTextColor());
    // Menu bar
    QButtonGroup* menuBar = buttonGroup(QStringLiteral("menuBarDisplaySwitches"));
    setTagChecked(menuBar, 0, prefs.menuBarDisplaysShortNames());
    setTagChecked(menuBar, 1, prefs.menuBarUsesColor());
    auto* demo = control<QLabel>(QStringLiteral("menuBarDemoField"));
    demo->setText(localized(QStringLiteral("Sample: 12.3 X")));
    demo->setFont(fontOf(prefs.menuBarFont()));
    // Speech
    selectTag(buttonGroup(QStringLiteral("speechModeButtons")), prefs.talksInIntervals() ? 1 : 0);
    control<QCheckBox>(QStringLiteral("speechDifferenceSwitch"))->setChecked(prefs.talkOnCustomizedDelta());
    showStored(control<QLineEdit>(QStringLiteral("speechDifferenceField")), plainNumber(prefs.talkDeltaValue()));
    control<QSlider>(QStringLiteral("speechUpdateSlider"))->setValue(int(std::min<quint64>(prefs.talkIntervalMultiplier(), 20)));
    control<QCheckBox>(QStringLiteral("speechNameSwitch"))->setChecked(prefs.talksSensorNames());
    // Alert actions
    QButtonGroup* actions = buttonGroup(QStringLiteral("alertActionSwitches"));
    setTagChecked(actions, 0, prefs.alertOpensWarning());
    setTagChecked(actions, 1, prefs.alertPlaysSound());
    setTagChecked(actions, 2, prefs.alertUsesVoice());
    setTagChecked(actions, 3, prefs.alertSendsGrowl());
    setTagChecked(actions, 4, prefs.alertLaunchesObject());
    auto* path = control<QLineEdit>(QStringLiteral("alertApplicationField"));
    if (path->text() != prefs.alertObjectPath())
        path->setText(prefs.alertObjectPath());
}

// --- Storing -----------------------------------------------------------------------------------------------

void PreferenceWindowController::changePreferenceValue()
{
    MonitorPreferences* global = monitorPreferences();
    if (!global)
        return;
    // 1. The global controls. A pop-up that still shows what was loaded keeps the stored value: a unit code
    // it has no item for, or an interval between its items, survives an edit of another control.
    const qint64 oldUnit = global->temperatureDisplayUnit();
    if (auto* unit = control<QComboBox>(QStringLiteral("unitPopUp")); takeChange(unit) && unit->currentIndex() >= 0)
        global->setTemperatureDisplayUnit(unit->currentIndex());
    global->setSuppressesSplashWindow(control<QCheckBox>(QStringLiteral("splashWindowSwitch"))->isChecked());
    global->setGraphsZoomValueRange(buttonGroup(QStringLiteral("graphZoomButtons"))->checkedId() == 1);
    global->setDisplaysAbsoluteHistoryTimes(control<QCheckBox>(QStringLiteral("absoluteHistoryTimeSwitch"))->isChecked());
    QButtonGroup* connection = buttonGroup(QStringLiteral("connectionMonitoringSwitches"));
    global->setReconnectClientsOnLaunch(isTagChecked(connection, 0));
    global->setDisableSleepWarnings(isTagChecked(connection, 1));
    if (auto* saver = control<QComboBox>(QStringLiteral("diskSaverPopUp")); takeChange(saver))
        global->setSMARTDiskSaverInterval(diskSaverIntervalForMenuIndex(saver->currentIndex()));
    global->setShowsPositiveBatteryCurrents(buttonGroup(QStringLiteral("batteryCurrentPolicyButtons"))->checkedId() == 0);

    // 7, the global half: the autosave minutes.
    auto* autosaveField = control<QLineEdit>(QStringLiteral("historyAutosaveField"));
    quint64 minutes = 0;
    if (control<QCheckBox>(QStringLiteral("historyAutosaveButton"))->isChecked()) {
        const auto before = numberInText(textBeforeEdit(autosaveField));
        const quint64 shown = before && *before >= double(kAutosaveMinutesMin) && *before <= double(kAutosaveMinutesMax)
                                  ? quint64(*before)
                                  : 60;
        const auto typed = numberInField(autosaveField);
        if (isUnchanged(autosaveField) && global->autosaveHistoryMinutes() != 0) {
            minutes = global->autosaveHistoryMinutes();
        } else if (!typed) {
            // Not a number: the value shown before the edit stands.
            beep();
            minutes = shown;
            showStored(autosaveField, QString::number(minutes));
        } else {
            const double whole = std::trunc(*typed);
            minutes = quint64(std::clamp(whole, double(kAutosaveMinutesMin), double(kAutosaveMinutesMax)));
            if (double(minutes) != whole) {
                beep();
                showStored(autosaveField, QString::number(minutes));
            }
        }
    }
    global->setAutosaveHistoryMinutes(minutes);
    endEdit(autosaveField);

    if (const auto prefs = localPreferences())
        storeMachineControls(*prefs, *global);

    // 11. What follows from the new values. Without the local client (it is being relaunched) the values are
    // stored all the same; the relaunched client gets them when it is ready.
    const qint64 newUnit = global->temperatureDisplayUnit();
    TEVGauge::setPreferredTemperatureDisplayUnit(newUnit);
    if (owner_)
        owner_->updateGaugeAlertsChangingTemperatureUnitFrom(oldUnit, newUnit);
    if (const auto client = localClient())
        client->setHistoryAutosaveTimeInterval(global->autosaveHistoryMinutes());
    TEVBatteryInfo::setEnforcesAbsoluteBatteryCurrents(global->showsPositiveBatteryCurrents());
    updatePreferenceWindowState();
    if (owner_)
        owner_->updateAllOutputChannelsAndCache(true);
}

void PreferenceWindowController::storeMachineControls(MachinePreferences& prefs, MonitorPreferences&)
{
    const auto wellColor = [this](const char* name, const std::shared_ptr<platform::Color>& stored) {
        const auto color = control<ColorWell>(QString::fromLatin1(name))->color();
        return color ? color : stored;
    };
    const auto alignment = [this](const char* name, qint64 stored) {
        QButtonGroup* group = buttonGroup(QString::fromLatin1(name));
        return takeChange(group) ? textAlignmentForCellIndex(group->checkedId()) : stored;
    };
    // 2. The gauge selected in the outline. A sensor without a name would have no label anywhere: an empty
    // name is refused and the one from before the edit comes back.
    if (const auto gauge = tables_->selectedGauge()) {
        auto* name = control<QLineEdit>(QStringLiteral("sensorNameField"));
        if (name->text().trimmed().isEmpty()) {
            beep();
            QString before = textBeforeEdit(name);
            if (before.trimmed().isEmpty())
                before = gauge->localizedLocation();
            name->setText(before);
        }
        endEdit(name);
        gauge->setCustomName(name->text());
        gauge->setShortName(control<QLineEdit>(QStringLiteral("sensorShortNameField"))->text());
        gauge->setSpokenName(control<QLineEdit>(QStringLiteral("sensorSpeechNameField"))->text());
        tables_->gaugeNamesDidChange(gauge);
        // The switch marks a deactivated sensor.
        gauge->setEnabled(!control<QCheckBox>(QStringLiteral("sensorEnableSwitch"))->isChecked());
        if (auto* format = control<QComboBox>(QStringLiteral("sensorFormatPopUp")); takeChange(format) && format->currentIndex() >= 0)
            gauge->setFormatTag(format->currentIndex());
        if (const auto color = control<ColorWell>(QStringLiteral("sensorColorWell"))->color())
            gauge->setPresentationColor(color);
    }
    // 3. Window.
    prefs.setStandardWindowVertical(buttonGroup(QStringLiteral("windowLayoutButtons"))->checkedId() == 1);
    prefs.setStandardWindowBackground(wellColor("standardWindowColorWell", prefs.standardWindowBackground()));
    prefs.setStandardWindowUsesForeground(buttonGroup(QStringLiteral("standardWindowForegroundButtons"))->checkedId() == 1);
    prefs.setStandardWindowForeground(wellColor("standardWindowForegroundColorWell", prefs.standardWindowForeground()));
    prefs.setStandardWindowAlignment(alignment("windowJustificationButtons", prefs.standardWindowAlignment()));
    // 4. Screen.
    prefs.setScreenDisplayVertical(buttonGroup(QStringLiteral("screenWindowLayoutButtons"))->checkedId() == 1);
    prefs.setScreenDisplayHasShadow(control<QCheckBox>(QStringLiteral("shadowSwitch"))->isChecked());
    if (auto* transparency = control<QSlider>(QStringLiteral("transparencySlider")); takeChange(transparency))
        prefs.setScreenDisplayTransparency(float(transparency->value()) / 100.0f);
    prefs.setScreenDisplayUsesForeground(buttonGroup(QStringLiteral("screenWindowForegroundButtons"))->checkedId() == 1);
    prefs.setScreenDisplayForeground(wellColor("screenWindowForegroundColorWell", prefs.screenDisplayForeground()));
    prefs.setScreenDisplayIsBackdrop(buttonGroup(QStringLiteral("screenWindowLevelButtons"))->checkedId() == 1);
    prefs.setScreenDisplayIsFixed(control<QCheckBox>(QStringLiteral("screenWindowMoveSwitch"))->isChecked());
    prefs.setScreenDisplayAlignment(alignment("screenWindowJustificationButtons", prefs.screenDisplayAlignment()));
    // 5. Dock.
    prefs.setDockUsesTextDisplay(buttonGroup(QStringLiteral("dockModeButtons"))->checkedId() == 1);
    prefs.setDockTextUsesDefaultColors(buttonGroup(QStringLiteral("dockTextButtons"))->checkedId() == 0);
    prefs.setDockTextColor(wellColor("dockTextColorWell", prefs.dockTextColor()));
    // 6. Menu bar.
    QButtonGroup* menuBar = buttonGroup(QStringLiteral("menuBarDisplaySwitches"));
    prefs.setMenuBarDisplaysShortNames(isTagChecked(menuBar, 0));
    prefs.setMenuBarUsesColor(isTagChecked(menuBar, 1));
    // 7. The graph background of the one selected history window.
    const QList<qint64> historyRows = selectedHistoryWindowRows();
    if (historyRows.size() == 1 && historyRows.first() < prefs.historyWindowPreferences().size())
        if (const auto& history = prefs.historyWindowPreferences().at(historyRows.first()))
            history->setGraphBackgroundColor(control<ColorWell>(QStringLiteral("historyBackgroundColorWell"))->color());
    // 8. Speech.
    prefs.setTalkOnCustomizedDelta(control<QCheckBox>(QStringLiteral("speechDifferenceSwitch"))->isChecked());
    auto* delta = control<QLineEdit>(QStringLiteral("speechDifferenceField"));
    if (!isUnchanged(delta)) {
        if (const auto typed = numberInField(delta)) {
            const float clamped = std::clamp(float(*typed), kTalkDeltaMin, kTalkDeltaMax);
            if (clamped != float(*typed)) {
                beep();
                showStored(delta, plainNumber(clamped));
            }
            prefs.setTalkDelta(clamped);
        } else {
            beep();
            const auto before = numberInText(textBeforeEdit(delta));
            if (before && isTalkDelta(*before))
                prefs.setTalkDelta(float(*before));
            showStored(delta, plainNumber(prefs.talkDeltaValue()));
        }
    }
    endEdit(delta);
    // 9. The thresholds of the gauge selected in the alert table.
    const QList<qint64> alertRows = selectedRows(control<QAbstractItemView>(QStringLiteral("alertSensorTable")));
    const QStringList& triggers = prefs.alertTriggerSensorNames();
    if (alertRows.size() == 1 && alertRows.first() < triggers.size()) {
        if (const auto gauge = prefs.gaugeDictionary().value(triggers.at(alertRows.first()))) {
            QButtonGroup* switches = buttonGroup(QStringLiteral("alertTriggerSwitches"));
            auto* highField = control<QLineEdit>(QStringLiteral("alertHighThresholdField"));
            auto* lowField = control<QLineEdit>(QStringLiteral("alertLowThresholdField"));
            const auto threshold = [this](QLineEdit* field, double stored) {
                if (isUnchanged(field))
                    return stored;
                if (const auto typed = numberInField(field))
                    return *typed;
                beep();
                showStored(field, plainNumber(stored));
                return stored;
            };
            const double high = threshold(highField, gauge->highThreshold());
            double low = threshold(lowField, gauge->lowThreshold());
            gauge->enableHighThresholdAlert(isTagChecked(switches, 0));
            gauge->enableLowThresholdAlert(isTagChecked(switches, 1));
            gauge->setHighThreshold(high);
            if (gauge->isEnabledHighThresholdAlert() && gauge->isEnabledLowThresholdAlert() && low > high) {
                low = high - 1.0;
                showStored(lowField, plainNumber(low));
                beep();
            }
            gauge->setLowThreshold(low);
        }
    }
    // 10. Alert actions.
    QButtonGroup* actions = buttonGroup(QStringLiteral("alertActionSwitches"));
    prefs.setAlertOpensWarning(isTagChecked(actions, 0));
    prefs.setAlertPlaysSound(isTagChecked(actions, 1));
    prefs.setAlertUsesVoice(isTagChecked(actions, 2));
    prefs.setAlertSendsGrowl(isTagChecked(actions, 3));
    prefs.setAlertLaunchesObject(isTagChecked(actions, 4));
    prefs.setAlertObjectPath(control<QLineEdit>(QStringLiteral("alertApplicationField"))->text());
}

void PreferenceWindowController::changeSliderValue(QSlider* sender)
{
    MonitorPreferences* global = monitorPreferences();
    if (!sender || !global)
        return;
    const QString name = sender->objectName();
    const qint64 v = sender->value();
    const auto prefs = localPreferences();
    if (name == QLatin1String("speechUpdateSlider")) {
        if (prefs)
            prefs->setTalkIntervalMultiplier(quint64(std::max<qint64>(v, 0)));
        refreshTimeFields();
    } else if (name == QLatin1String("windowLabelRatioSlider") || name == QLatin1String("screenWindowLabelRatioSlider")) {
        const bool standard = name == QLatin1String("windowLabelRatioSlider");
        const float ratio = float(v) / 10.0f;
        control<QLabel>(standard ? QStringLiteral("windowLabelRatioField") : QStringLiteral("screenWindowLabelRatioField"))
            ->setText(plainNumber(ratio));
        if (prefs)
            standard ? prefs->setStandardWindowFontRatio(ratio) : prefs->setScreenDisplayFontRatio(ratio);
        updatePreferenceWindowState();
    } else if (name == QLatin1String("generalUpdateSlider")) {
        const quint64 seconds = secondsForTimeSliderValue(v);
        global->setSensorUpdateInterval(seconds);
        refreshTimeFields();
        if (owner_) {
            for (const auto& client : owner_->monitoringClients())
                if (client)
                    client->setMainUpdateInterval(double(seconds));
            owner_->mainUpdateIntervalDidChange();
        }
    } else if (name == QLatin1String("smartUpdateSlider")) {
        const quint64 seconds = secondsForTimeSliderValue(v);
        global->setSMARTUpdateInterval(seconds);
        refreshTimeFields();
        if (owner_)
            for (const auto& client : owner_->monitoringClients())
                if (client)
                    client->setSMARTUpdateInterval(double(seconds), global->smartDiskSaverInterval());
        TEVLocalSMARTProbe::setDriveAccessInterval(seconds);
        updatePreferenceWindowState();
    }
}

void PreferenceWindowController::controlTextDidChange(QLineEdit* field)
{
    if (!field)
        return;
    const QString name = field->objectName();
    const auto prefs = localPreferences();
    if (name == QLatin1String("sensorNameField") || name == QLatin1String("sensorShortNameField")
        || name == QLatin1String("sensorSpeechNameField")) {
        if (const auto gauge = tables_->selectedGauge()) {
            // Until the edit ends, an emptied name leaves the stored one.
            if (const QString typed = control<QLineEdit>(QStringLiteral("sensorNameField"))->text(); !typed.trimmed().isEmpty())
                gauge->setCustomName(typed);
            gauge->setShortName(control<QLineEdit>(QStringLiteral("sensorShortNameField"))->text());
            gauge->setSpokenName(control<QLineEdit>(QStringLiteral("sensorSpeechNameField"))->text());
            tables_->gaugeNamesDidChange(gauge);
        }
    } else if (name == QLatin1String("speechDifferenceField")) {
        const auto typed = numberInField(field);
        if (prefs && typed && isTalkDelta(*typed)) {
            prefs->setTalkDelta(float(*typed));
            field->setProperty(kLoadedText, field->text());
        }
    } else if (name == QLatin1String("historyAutosaveField")) {
        const auto typed = numberInField(field);
        MonitorPreferences* global = monitorPreferences();
        if (global && typed && *typed >= double(kAutosaveMinutesMin) && *typed <= double(kAutosaveMinutesMax)) {
            global->setAutosaveHistoryMinutes(quint64(*typed));
            field->setProperty(kLoadedText, field->text());
            if (const auto client = localClient())
                client->setHistoryAutosaveTimeInterval(global->autosaveHistoryMinutes());
        }
    } else if (name == QLatin1String("alertApplicationField")) {
        if (prefs)
            prefs->setAlertObjectPath(field->text());
        updateAlertApplicationIcon();
    }
}

void PreferenceWindowController::changeVoiceSetting()
{
    const auto prefs = localPreferences();
    if (!prefs)
        return;
    prefs->setTalksInIntervals(buttonGroup(QStringLiteral("speechModeButtons"))->checkedId() == 1);
    prefs->setTalksSensorNames(control<QCheckBox>(QStringLiteral("speechNameSwitch"))->isChecked());
    updatePreferenceWindowState();
    if (owner_)
        owner_->voiceSettingDidChange();
}

// --- Fonts ---------------------------------------------------------------------------------------------------

void PreferenceWindowController::changeValueCellFont(qint64 tag)
{
    lastSelectedFont_ = tag;
    const auto prefs = localPreferences();
    if (!prefs || tag < 0 || tag > 2)
        return;
    const MachinePreferences::Font font = tag == 0 ? prefs->standardWindowFont() : tag == 1 ? prefs->screenDisplayFont() : prefs->menuBarFont();
    if (!fontPanel_) {
        fontPanel_ = new QFontDialog(window_);
        fontPanel_->setOption(QFontDialog::NoButtons);
        fontPanel_->setWindowModality(Qt::NonModal);
        connect(fontPanel_, &QFontDialog::currentFontChanged, this, [this](const QFont& chosen) {
            if (!loading_)
                changeFont(chosen);
        });
    }
    loading_ = true;
    fontPanel_->setCurrentFont(fontOf(font));
    loading_ = false;
    fontPanel_->show();
    fontPanel_->raise();
}

void PreferenceWindowController::changeFont(const QFont& font)
{
    const auto prefs = localPreferences();
    if (!prefs || lastSelectedFont_ < 0 || lastSelectedFont_ > 2)
        return;
    const double points = font.pointSizeF() > 0 ? font.pointSizeF() : double(font.pixelSize());
    const float size = std::clamp(float(points), kFontSizeMin, kFontSizeMax);
    const QString name = font.family();
    if (lastSelectedFont_ == 0)
        prefs->setStandardWindowFontName(name, size);
    else if (lastSelectedFont_ == 1)
        prefs->setScreenDisplayFontName(name, size);
    else
        prefs->setMenuBarFontName(name, size);
    updatePreferenceWindow();
}

// --- State ---------------------------------------------------------------------------------------------------

void PreferenceWindowController::updatePreferenceWindowState()
{
    if (!built_)
        return;
    // 1. The navigation buttons beside the sensor tables.
    tables_->updateNavigationButtons();
    // 2. One foreground colour only with that option.
    control<ColorWell>(QStringLiteral("standardWindowForegroundColorWell"))
        ->setEnabled(buttonGroup(QStringLiteral("standardWindowForegroundButtons"))->checkedId() == 1);
    control<ColorWell>(QStringLiteral("screenWindowForegroundColorWell"))
        ->setEnabled(buttonGroup(QStringLiteral("screenWindowForegroundButtons"))->checkedId() == 1);
    const auto prefs = localPreferences();
    // 3. The samples.
    if (prefs)
        drawSamples(*prefs);
    // 4. Dock.
    const bool textDock = buttonGroup(QStringLiteral("dockModeButtons"))->checkedId() == 1;
    setGroupEnabled(buttonGroup(QStringLiteral("dockTextButtons")), textDock);
    control<ColorWell>(QStringLiteral("dockTextColorWell"))
        ->setEnabled(textDock && buttonGroup(QStringLiteral("dockTextButtons"))->checkedId() == 1);
    // 5. Autosave.
    const MonitorPreferences* global = monitorPreferences();
    control<QLineEdit>(QStringLiteral("historyAutosaveField"))->setEnabled(global && global->autosaveHistoryMinutes() != 0);
    // 6. Speech.
    const bool onChange = buttonGroup(QStringLiteral("speechModeButtons"))->checkedId() == 0;
    control<QCheckBox>(QStringLiteral("speechDifferenceSwitch"))->setEnabled(onChange);
    control<QLineEdit>(QStringLiteral("speechDifferenceField"))->setEnabled(onChange);
    control<QSlider>(QStringLiteral("speechUpdateSlider"))->setEnabled(!onChange);
    setTagEnabled(buttonGroup(QStringLiteral("alertActionSwitches")), 2, global && global->voiceMode() != 0);
    // 7. The icon of the object opened on an alert.
    updateAlertApplicationIcon();
    // 8. Disk sleep. Asking a client that is being relaunched is not possible: no caution then.
    const auto client = localClient();
    const qint64 spindown = client ? client->liveDiskSpindownValue() : 0;
    auto* image = control<QLabel>(QStringLiteral("smartWarningImageView"));
    auto* message = control<QLabel>(QStringLiteral("smartWarningMessage"));
    if (global && smartIntervalPreventsDiskSleep(spindown, global->smartUpdateInterval())) {
        image->setPixmap(QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
        message->setText(localized(QStringLiteral(
            "Note: The update interval for hard disk sensors is set so small that the hard disks will no longer enter sleep mode.")));
    } else {
        image->clear();
        message->setText(localized(QStringLiteral("Probing hard disk sensors in short intervals might degrade disk and system performance.")));
    }
}

void PreferenceWindowController::drawSamples(MachinePreferences& prefs)
{
    const QString value = localized(QStringLiteral("12.3 X"));
    const QString label = localized(QStringLiteral("Display Sample"));
    auto* window = control<QLabel>(QStringLiteral("windowSampleField"));
    window->setAutoFillBackground(true);
    QPalette palette = window->palette();
    if (const QColor background = ColorWell::toQColor(prefs.standardWindowBackground()); background.isValid())
        palette.setColor(QPalette::Window, background);
    window->setPalette(palette);
    const QColor black(Qt::black);
    const QColor standardForeground = ColorWell::toQColor(prefs.standardWindowForeground());
    TEVSensorWindowController::simulateDisplayOfStringValue(
        value, label, fontOf(prefs.standardWindowFont()),
        prefs.standardWindowUsesForeground() && standardForeground.isValid() ? standardForeground : black,
        quint64(prefs.standardWindowAlignment()), prefs.standardWindowFontRatio(), window);
    const QColor screenForeground = ColorWell::toQColor(prefs.screenDisplayForeground());
    TEVSensorWindowController::simulateDisplayOfStringValue(
        value, label, fontOf(prefs.screenDisplayFont()),
        prefs.screenDisplayUsesForeground() && screenForeground.isValid() ? screenForeground : black,
        quint64(prefs.screenDisplayAlignment()), prefs.screenDisplayFontRatio(), control<QLabel>(QStringLiteral("screenWindowSampleField")));
}

void PreferenceWindowController::selectAlertApplication()
{
    auto* field = control<QLineEdit>(QStringLiteral("alertApplicationField"));
    platform::OpenPanelOptions options;
    options.title = localized(QStringLiteral("Choose the file or program to open on an alert"));
    options.directory = field->text();
    options.canChooseFiles = true;
    options.canChooseDirectories = false;
    const auto chosen = platform::OpenPanel::shared()->runModal(options);
    if (!chosen)
        return;
    // A link is followed to what it names, as the object is opened later.
    const QString canonical = QFileInfo(*chosen).canonicalFilePath();
    field->setText(canonical.isEmpty() ? *chosen : canonical);
    controlTextDidChange(field);
}

void PreferenceWindowController::updateAlertApplicationIcon()
{
    const QString path = control<QLineEdit>(QStringLiteral("alertApplicationField"))->text();
    if (path.isEmpty() || !QFileInfo::exists(path))
        return;
    const QIcon icon = platform::Workspace::shared()->iconForFile(path);
    if (!icon.isNull())
        control<QLabel>(QStringLiteral("alertApplicationIconView"))->setPixmap(icon.pixmap(20, 20));
}

// --- Selections ----------------------------------------------------------------------------------------------

void PreferenceWindowController::selectSensorTableEntry()
{
    if (!built_)
        return;
    updatePreferenceWindowState();
    const auto prefs = localPreferences();
    const QList<qint64> rows = selectedRows(control<QAbstractItemView>(QStringLiteral("alertSensorTable")));
    auto* headline = control<QLabel>(QStringLiteral("alertHeadlineField"));
    auto* subheadline = control<QLabel>(QStringLiteral("alertSubheadlineField"));
    QButtonGroup* switches = buttonGroup(QStringLiteral("alertTriggerSwitches"));
    auto* fields = control<QWidget>(QStringLiteral("alertThresholdFields"));
    std::shared_ptr<TEVGauge> gauge;
    if (prefs && rows.size() == 1 && rows.first() < prefs->alertTriggerSensorNames().size()) {
        const QString identifier = prefs->alertTriggerSensorNames().at(rows.first());
        gauge = prefs->gaugeDictionary().value(identifier);
        if (!gauge)
            platform::log(TEVStringFormat::withObjects(
                QStringLiteral("Internal inconsistency: sensor identifier %@ was selected but no gauge object available with this identifier\n"),
                {identifier}));
    }
    setGroupEnabled(switches, gauge != nullptr);
    fields->setEnabled(gauge != nullptr);
    // Thresholds are in the unit the values are shown in.
    const QString unit = gauge ? gauge->localizedUnit() : QString();
    control<QLabel>(QStringLiteral("alertHighThresholdUnit"))->setText(unit);
    control<QLabel>(QStringLiteral("alertLowThresholdUnit"))->setText(unit);
    if (!gauge) {
        headline->setText(localized(QStringLiteral("No or multiple sensors selected")));
        subheadline->clear();
        return;
    }
    headline->setText(TEVStringFormat::withObjects(localized(QStringLiteral("Sensor '%@'")), {gauge->localizedLocation()}));
    subheadline->setText(fillFormat(localized(QStringLiteral("(Sensor %lld of %llu)")),
                                    {rows.first() + 1, qint64(prefs->alertTriggerSensorNames().size())}));
    setTagChecked(switches, 0, gauge->isEnabledHighThresholdAlert());
    setTagChecked(switches, 1, gauge->isEnabledLowThresholdAlert());
    showStored(control<QLineEdit>(QStringLiteral("alertHighThresholdField")), plainNumber(gauge->highThreshold()));
    showStored(control<QLineEdit>(QStringLiteral("alertLowThresholdField")), plainNumber(gauge->lowThreshold()));
}

void PreferenceWindowController::selectHistoryWindowEntry()
{
    if (!built_)
        return;
    const auto prefs = localPreferences();
    const QList<qint64> rows = selectedHistoryWindowRows();
    std::shared_ptr<HistoryWindowPreferences> history;
    if (prefs && rows.size() == 1 && rows.first() < prefs->historyWindowPreferences().size())
        history = prefs->historyWindowPreferences().at(rows.first());
    auto* headline = control<QLabel>(QStringLiteral("historyHeadlineField"));
    auto* well = control<ColorWell>(QStringLiteral("historyBackgroundColorWell"));
    if (history) {
        headline->setText(fillFormat(localized(QStringLiteral("History Window '%@' (%lld of %llu)")),
                                     {rows.first() + 1, qint64(prefs->historyWindowPreferences().size())}, {history->windowName()}));
        well->setColor(history->graphBackgroundColor());
    } else {
        headline->setText(localized(QStringLiteral("No or multiple history windows selected")));
    }
    well->setEnabled(history != nullptr);
    control<QPushButton>(QStringLiteral("historyDefaultBackgroundButton"))->setEnabled(history != nullptr);
    control<QAbstractItemView>(QStringLiteral("historySensorTable"))->setEnabled(history != nullptr);
    setGroupEnabled(buttonGroup(QStringLiteral("historyNavigateButtons")), history != nullptr);
    updatePreferenceWindowState();
}

void PreferenceWindowController::selectGauge()
{
    if (!built_)
        return;
    const auto gauge = tables_->selectedGauge();
    const QString computer = gauge ? QString() : tables_->selectedComputer();
    const bool computerDisconnected = tables_->isComputerCompletelyDisconnected(computer);
    const bool connected = gauge && gauge->connectedMonitoringClient() != nullptr;
    auto* name = control<QLineEdit>(QStringLiteral("sensorNameField"));
    auto* shortName = control<QLineEdit>(QStringLiteral("sensorShortNameField"));
    auto* spoken = control<QLineEdit>(QStringLiteral("sensorSpeechNameField"));
    auto* enable = control<QCheckBox>(QStringLiteral("sensorEnableSwitch"));
    auto* format = control<QComboBox>(QStringLiteral("sensorFormatPopUp"));
    auto* color = control<ColorWell>(QStringLiteral("sensorColorWell"));
    auto* offline = control<QLabel>(QStringLiteral("sensorOfflineMessage"));
    auto* predefined = control<QLabel>(QStringLiteral("sensorPredefinedNameMessage"));
    auto* image = control<QLabel>(QStringLiteral("sensorTypeImageView"));
    for (QWidget* each : std::initializer_list<QWidget*>{name, shortName, spoken, enable, format, color})
        each->setEnabled(gauge != nullptr);
    control<QPushButton>(QStringLiteral("sensorDeleteButton"))
        ->setEnabled((gauge && !connected) || computerDisconnected);
    if (gauge) {
        offline->setText(connected ? QString() : localized(QStringLiteral("This sensor is no longer connected.")));
        predefined->setText(connected ? gauge->localizedLocation() : QString());
        showStored(name, gauge->customName());
        shortName->setText(gauge->shortName());
        spoken->setText(gauge->spokenName());
        enable->setChecked(!gauge->isEnabled());
        showIndex(format, gauge->formatTag());
        color->setColor(gauge->presentationColor());
        QPixmap icon = QPixmap::fromImage(
            platform::bundleImage(platform::Bundle::main().get(), gauge->iconForSensorQuantityType()));
        // Without the quantity's image: the small one its rows in the tables show.
        if (icon.isNull())
            icon = sensortables::iconNamed(sensortables::generalIconForSensorQuantityType(gauge->sensorQuantityType())).pixmap(16, 16);
        image->setPixmap(icon);
        return;
    }
    offline->setText(computerDisconnected
                         ? localized(QStringLiteral("This computer is currently not monitored."))
                         : QString());
    predefined->clear();
    name->clear();
    shortName->clear();
    spoken->clear();
    image->clear();
}
