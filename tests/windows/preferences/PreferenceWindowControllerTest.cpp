// The preference window offscreen with its sensor tables: its mappings, the load and store round trip over a
// fully populated preference set, the clamps with their beeps, the values its controls cannot show, and the
// tables' buttons and file field wired into the panes.

#include "windows/preferences/PreferenceWindowController.h"
#include "windows/sensortables/SensorDrawerPanel.h"
#include "windows/sensortables/SensorTablesController.h"
#include "windows/sensortables/TEVFilenameTextField.h"

#include "app/model/HistoryWindowPreferences.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVUserDefaultsProxy.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/DesktopFakes.h"
#include "tests/support/TestEnvironment.h"
#include "windows/preferences/ColorWell.h"

#include <QTemporaryDir>
#include <QPushButton>
#include <QFileInfo>
#include <QFontDialog>
#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>
#include <QStackedWidget>
#include <QToolBar>
#include <QTableView>
#include <QPointer>
#include <QScopeGuard>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;
using PWC = PreferenceWindowController;
using platform::Color;

namespace {

const QString kSerial = QStringLiteral("C02TEST");

class FakeOwner final : public PreferenceWindowOwner {
public:
    MonitorPreferences* global = nullptr;
    std::shared_ptr<MachinePreferences> local;
    QList<std::pair<qint64, qint64>> unitChanges;
    QStringList connected = {QStringLiteral("TC0D"), QStringLiteral("F0Ac")};
    QStringList computers;
    QMap<QString, QList<std::shared_ptr<TEVGauge>>> byComputer;
    QList<std::shared_ptr<HistoryWindow>> histories;
    int refreshes = 0;
    int intervalChanges = 0;
    MonitorPreferences* monitorPreferences() const override { return global; }
    std::shared_ptr<MachinePreferences> localPreferences() const override { return local; }
    // Absent, as while the local client is relaunched.
    std::shared_ptr<MonitoringClient> localClient() const override { return nullptr; }
    QList<std::shared_ptr<MonitoringClient>> monitoringClients() const override { return {}; }
    void updateGaugeAlertsChangingTemperatureUnitFrom(qint64 from, qint64 to) override { unitChanges.append({from, to}); }
    void updateAllOutputChannelsAndCache(bool) override { ++refreshes; }
    void mainUpdateIntervalDidChange() override { ++intervalChanges; }
    void voiceSettingDidChange() override {}
    const QStringList& connectedSensorNames() const override { return connected; }
    const QStringList& localGaugeComputers() const override { return computers; }
    const QMap<QString, QList<std::shared_ptr<TEVGauge>>>& gaugesByComputer() const override { return byComputer; }
    void handleConfigurationChange() override {}
    QList<std::shared_ptr<HistoryWindow>>& historyWindowControllers() override { return histories; }
    std::shared_ptr<HistoryWindow> makeHistoryWindowController(const std::shared_ptr<HistoryWindowPreferences>&) override
    {
        return std::make_shared<HistoryWindow>();
    }
};

std::shared_ptr<TEVGauge> gauge(const QString& id, const QString& name, qint64 format, float red)
{
    auto g = TEVGauge::createForSensorIdentifierPreferenceDictionary(id, QVariantMap());
    g->setCustomName(name);
    g->setShortName(name.left(3));
    g->setSpokenName(name + QStringLiteral(" sensor"));
    g->setFormatTag(format);
    g->setPresentationColor(Color::rgb(Color::Space::DeviceRGB, red, 0.25f, 0.5f));
    g->enableLowThresholdAlert(true);
    g->setLowThreshold(20.5);
    g->setHighThreshold(91.125);
    g->setEnabled(false);
    return g;
}

// Every key away from its default.
QVariantMap populatedMachineDictionary()
{
    MachinePreferences set;
    set.gaugeDictionary().insert(QStringLiteral("TC0D"), gauge(QStringLiteral("TC0D"), QStringLiteral("CPU die"), 2, 0.9f));
    set.gaugeDictionary().insert(QStringLiteral("F0Ac"), gauge(QStringLiteral("F0Ac"), QStringLiteral("Exhaust"), 0, 0.1f));
    const QStringList both = {QStringLiteral("TC0D"), QStringLiteral("F0Ac")};
    set.setAvoidsCheckForOutdatedSensorNames(true);
    set.setStandardWindowBackground(Color::rgb(Color::Space::CalibratedRGB, 0.1f, 0.2f, 0.3f, 0.9f));
    set.setStandardWindowVertical(true);
    set.setStandardWindowUsesForeground(false);
    set.setStandardWindowForeground(Color::white(Color::Space::DeviceWhite, 0.4f));
    set.setStandardWindowFontName(QStringLiteral("Serif"), 31.5f);
    set.setStandardWindowFontRatio(1.7f);
    set.setStandardWindowAlignment(2);
    set.standardWindowSensorNames() = both;
    set.setScreenDisplayVertical(true);
    set.setScreenDisplayUsesForeground(false);
    set.setScreenDisplayForeground(Color::rgb(Color::Space::DeviceRGB, 0.0f, 1.0f, 0.0f));
    set.setScreenDisplayTransparency(0.333f); // between two slider steps
    set.setScreenDisplayHasShadow(false);
    set.setScreenDisplayFontName(QStringLiteral("Monospace"), 40.0f);
    set.setScreenDisplayFontRatio(2.1f);
    set.setScreenDisplayIsBackdrop(true);
    set.setScreenDisplayIsFixed(true);
    set.setScreenDisplayAlignment(0);
    set.screenDisplaySensorNames() = both;
    set.setDockUsesTextDisplay(true);
    set.setDockTextUsesDefaultColors(false);
    set.setDockTextColor(Color::rgb(Color::Space::CalibratedRGB, 0.7f, 0.1f, 0.1f));
    set.dockSensorNames() = both;
    set.setMenuBarDisplaysShortNames(false);
    set.setMenuBarUsesColor(true);
    set.setMenuBarFontName(QStringLiteral("Sans"), 11.0f);
    set.menuBarSensorNames() = {QStringLiteral("F0Ac")};
    for (const char* name : {"Temperatures", "Fans"}) {
        auto history = std::make_shared<HistoryWindowPreferences>();
        history->setWindowName(QString::fromLatin1(name));
        history->setGraphBackgroundColor(Color::white(Color::Space::CalibratedWhite, 0.2f));
        history->sensorIdentifierList() = {both.at(set.historyWindowPreferences().size())};
        set.historyWindowPreferences().append(history);
    }
    set.setTalksInIntervals(true);
    set.setTalkIntervalMultiplier(13);
    set.setTalkOnCustomizedDelta(true);
    set.setTalkDelta(2.7f);
    set.setTalksSensorNames(true);
    set.talkingSensorNames() = both;
    set.alertTriggerSensorNames() = both;
    set.setAlertOpensWarning(false);
    set.setAlertPlaysSound(false);
    set.setAlertUsesVoice(true);
    set.setAlertSendsGrowl(true);
    set.setAlertLaunchesObject(true);
    set.setAlertObjectPath(QStringLiteral("/usr/bin/true"));
    set.setProbeDescriptions({QVariantMap{{QStringLiteral("Kind"), QStringLiteral("CPULoad")}}});
    set.setLCDModuleDescriptions(QVariantMap{{QStringLiteral("Module"), 1}});
    return set.defaultsDictionary();
}

class PreferenceWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int counter = 0;
        domain_ = QStringLiteral("com.tarnwell.kelvaro.preftest%1").arg(++counter);
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(domain_);
        MonitorPreferences seed;
        seed.readPreferences();
        seed.setTemperatureDisplayUnit(2);
        seed.setSuppressesSplashWindow(true);
        seed.setGraphsZoomValueRange(true);
        seed.setDisplaysAbsoluteHistoryTimes(true);
        seed.setReconnectClientsOnLaunch(false);
        seed.setDisableSleepWarnings(true);
        seed.setShowsPositiveBatteryCurrents(false);
        seed.setSensorUpdateInterval(7);
        seed.setSMARTUpdateInterval(300);
        seed.setAutosaveHistoryMinutes(45);
        seed.setSMARTDiskSaverInterval(900); // between two pop-up items
        seed.setNumberOfDockValues(2);
        seed.setNumberOfMenuBarValues(5);
        seed.setVoiceMode(2);
        seed.writePreferencesUsingMonitoringClients({}, nullptr);
        auto defaults = TEVUserDefaultsProxy::standardUserDefaults();
        defaults.setObject(QVariantMap{{kSerial, populatedMachineDictionary()}}, QStringLiteral("MachinePreferences"));
        defaults.synchronize();

        global_.readPreferences();
        owner_.global = &global_;
        owner_.local = global_.preferencesForMachineWithSerialNumber(kSerial);
        ASSERT_TRUE(owner_.local);
        owner_.computers = {QStringLiteral("Test")};
        owner_.byComputer[QStringLiteral("Test")] = {owner_.local->gaugeDictionary().value(QStringLiteral("TC0D")),
                                                      owner_.local->gaugeDictionary().value(QStringLiteral("F0Ac"))};
        for (qsizetype i = 0; i < owner_.local->historyWindowPreferences().size(); ++i)
            owner_.histories.append(std::make_shared<HistoryWindow>());
        window_.bindToApplicationController(&owner_);
    }
    void TearDown() override
    {
        TEVGauge::setPreferredTemperatureDisplayUnit(0);
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith({});
    }
    QByteArray writtenFile()
    {
        global_.writePreferencesUsingMonitoringClients({}, nullptr);
        QFile file(platform::UserDefaults::pathForDomain(domain_));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    template <typename T>
    T* control(const char* name)
    {
        T* found = window_.control<T>(QString::fromLatin1(name));
        EXPECT_TRUE(found) << name;
        return found;
    }
    // Selects `row` of a table, as a click does.
    void selectRow(const char* table, int row)
    {
        auto* view = control<QAbstractItemView>(table);
        ASSERT_LT(row, view->model()->rowCount());
        view->selectionModel()->select(view->model()->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    void type(const char* field, const QString& text)
    {
        control<QLineEdit>(field)->setText(text);
        window_.controlTextDidChange(control<QLineEdit>(field));
    }

    kt::ScopedDesktopFakes desktop_;
    QString domain_;
    MonitorPreferences global_;
    FakeOwner owner_;
    PWC window_;
};

// What a window's named controls show, one line each, to compare two windows.
QStringList shownState(QWidget* window)
{
    QStringList lines;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (widget->objectName().isEmpty() || widget->objectName().startsWith(QLatin1String("qt_")))
            continue;
        QString line = widget->objectName() + QLatin1Char(' ') + QString::fromLatin1(widget->metaObject()->className())
                       + (widget->isEnabled() ? QStringLiteral(" enabled") : QStringLiteral(" disabled"));
        if (const auto* field = qobject_cast<QLineEdit*>(widget))
            line += QStringLiteral(" text=") + field->text();
        if (const auto* label = qobject_cast<QLabel*>(widget))
            line += QStringLiteral(" text=") + label->text();
        if (const auto* well = qobject_cast<ColorWell*>(widget))
            line += QStringLiteral(" color=") + ColorWell::toQColor(well->color()).name(QColor::HexArgb);
        else if (const auto* button = qobject_cast<QAbstractButton*>(widget))
            line += QStringLiteral(" checked=%1 text=%2").arg(button->isChecked()).arg(button->text());
        if (const auto* popUp = qobject_cast<QComboBox*>(widget))
            line += QStringLiteral(" item=%1").arg(popUp->currentIndex());
        if (const auto* slider = qobject_cast<QSlider*>(widget))
            line += QStringLiteral(" value=%1").arg(slider->value());
        if (const auto* stack = qobject_cast<QStackedWidget*>(widget))
            line += QStringLiteral(" page=%1").arg(stack->currentIndex());
        if (const auto* view = qobject_cast<QAbstractItemView*>(widget); view && view->model())
            line += QStringLiteral(" rows=%1").arg(view->model()->rowCount());
        lines.append(line);
    }
    lines.sort();
    return lines;
}

} // namespace

TEST(PreferenceWindowMappings, FollowTheirTables)
{
    const struct { qint64 alignment, cell, back; } alignments[] = {{0, 0, 0}, {1, 2, 1}, {2, 1, 2}, {3, 2, 1}, {-1, 2, 1}};
    for (const auto& row : alignments) {
        EXPECT_EQ(PWC::cellIndexForAlignment(row.alignment), row.cell) << row.alignment;
        EXPECT_EQ(PWC::textAlignmentForCellIndex(row.cell), row.back) << row.cell;
    }
    EXPECT_EQ(PWC::textAlignmentForCellIndex(7), 1);
    const struct { quint64 seconds; qint64 item; } savers[] = {{0, 0}, {1, 1}, {600, 1}, {601, 2}, {900, 2}, {1200, 2},
                                                                {1800, 3}, {1801, 4}, {3600, 4}, {3601, 0}};
    for (const auto& row : savers)
        EXPECT_EQ(PWC::popUpIndexForDiskSaverInterval(row.seconds), row.item) << row.seconds;
    const struct { qint64 item; quint64 seconds; } items[] = {{0, 0}, {1, 600}, {2, 1200}, {3, 1800}, {4, 3600}, {5, 0}, {-1, 0}};
    for (const auto& row : items)
        EXPECT_EQ(PWC::diskSaverIntervalForMenuIndex(row.item), row.seconds) << row.item;
    const struct { quint64 seconds; qint64 position; } positions[] = {{0, 1}, {1, 1}, {7, 4}, {10, 4}, {11, 5}, {3600, 13}, {5000, 13}};
    for (const auto& row : positions)
        EXPECT_EQ(PWC::timeSliderIntegerValueForSeconds(row.seconds), row.position) << row.seconds;
    const struct { qint64 position; quint64 seconds; } seconds[] = {{1, 1}, {4, 10}, {5, 20}, {13, 3600}, {0, 1}, {99, 3600}};
    for (const auto& row : seconds)
        EXPECT_EQ(PWC::secondsForTimeSliderValue(row.position), row.seconds) << row.position;
    // Spin-down minutes against the probing interval: 180 and 0 never warn.
    const struct { qint64 spindown; quint64 interval; bool warns; } disks[] = {{0, 1, false}, {180, 1, false},
                                                                                {10, 1199, true}, {10, 1200, false}};
    for (const auto& row : disks)
        EXPECT_EQ(PWC::smartIntervalPreventsDiskSleep(row.spindown, row.interval), row.warns) << row.spindown;
    const QString dockHint = QStringLiteral(
        "\nTo change it, use Display > Application Icon in the menu bar of a Kelvaro window, or Application Icon in the tray icon's menu.");
    EXPECT_EQ(PWC::dockCountMessage(2), QStringLiteral("Currently two values are selected to be visible in the Dock.") + dockHint);
    EXPECT_EQ(PWC::dockCountMessage(3), dockHint);
    EXPECT_EQ(PWC::menuBarCountMessage(5), QStringLiteral("Currently 5 values are selected to be visible in the menu bar.\n"
                                                          "To change it, use Display > Menu Bar in the menu bar of a Kelvaro window."));
    EXPECT_EQ(PWC::voiceModeMessage(7), QStringLiteral("\nTo change it, use Display > Speech in the menu bar of a Kelvaro window."));
    EXPECT_EQ(PWC::toolbarLabelForPreferencePaneAtIndex(10), QStringLiteral("LCD Module"));
    EXPECT_TRUE(PWC::toolbarLabelForPreferencePaneAtIndex(11).isNull());
    EXPECT_TRUE(PWC::iconForPreferencePaneAtIndex(11).isNull());
}

// The panes are made at the first look: what the program did to the window before, it shows as a window made
// at once and shown all along does.
TEST_F(PreferenceWindowTest, AWindowMadeLateShowsWhatOneMadeAtOnceShows)
{
    PWC late;
    late.bindToApplicationController(&owner_);
    ASSERT_TRUE(window_.paneView(0));
    // Owned by the windows once given.
    QWidget* probes[2] = {new QWidget, new QWidget};
    QWidget* lcd[2] = {new QWidget, new QWidget};
    QStringList identifiers;
    for (int i = 0; i < 11; ++i)
        identifiers.append(QStringLiteral("pane%1").arg(i));
    const struct {
        const char* what;
        std::function<void(PWC&, int)> change;
    } changes[] = {
        {"the managers' views", [&](PWC& w, int i) {
             w.setPaneViews(identifiers, {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                          probes[i], lcd[i]});
         }},
        {"a pane chosen", [](PWC& w, int) { w.selectPreferencePaneAtIndex(6); }},
        {"settings changed", [this](PWC& w, int) {
             global_.setTemperatureDisplayUnit(3);
             global_.setSensorUpdateInterval(60);
             global_.setVoiceMode(1);
             owner_.local->setStandardWindowAlignment(2);
             owner_.local->setStandardWindowUsesForeground(true);
             w.updatePreferenceWindow();
         }},
        {"the history list deselected", [](PWC& w, int) { w.deselectHistoryWindowTable(); }},
        {"the history rows asked", [](PWC& w, int) { EXPECT_TRUE(w.selectedHistoryWindowRows().isEmpty()); }},
        {"a write", [](PWC& w, int) {
             bool wrote = false;
             w.runWithWaitSheet([&] { wrote = true; });
             EXPECT_TRUE(wrote);
         }},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.what);
        change.change(window_, 0);
        change.change(late, 1);
        EXPECT_FALSE(late.isBuilt());
    }
    EXPECT_EQ(late.window()->windowTitle(), window_.window()->windowTitle());
    ASSERT_TRUE(late.paneView(0));
    EXPECT_TRUE(late.isBuilt());
    EXPECT_EQ(late.paneView(9), probes[1]->parentWidget());
    EXPECT_EQ(late.paneView(10), lcd[1]->parentWidget());
    EXPECT_EQ(late.selectedPaneIndex(), 6);
    EXPECT_EQ(late.window()->size(), window_.window()->size());
    QStringList toolbars[2];
    for (int i = 0; i < 2; ++i)
        for (QAction* item : (i ? late : window_).window()->findChild<QToolBar*>()->actions())
            toolbars[i].append(QStringLiteral("%1 %2 %3").arg(item->objectName(), item->text()).arg(item->isChecked()));
    EXPECT_EQ(toolbars[1], toolbars[0]);
    EXPECT_TRUE(toolbars[1].contains(QStringLiteral("pane6 History 1"))) << toolbars[1].join(QLatin1Char('\n')).toStdString();
    const QStringList made = shownState(late.window()), atOnce = shownState(window_.window());
    EXPECT_GT(made.size(), 100);
    EXPECT_EQ(made, atOnce);
    for (qsizetype i = 0; i < std::min(made.size(), atOnce.size()); ++i)
        if (made[i] != atOnce[i]) {
            ADD_FAILURE() << made[i].toStdString() << "\n  against  " << atOnce[i].toStdString();
            break;
        }
}

// The managers' views are asked for only when the window makes its panes, and then hosted in panes 9 and 10.
TEST_F(PreferenceWindowTest, TheManagersViewsAreMadeWithThePanes)
{
    for (const bool builtFirst : {false, true}) {
        SCOPED_TRACE(builtFirst);
        PWC window;
        window.bindToApplicationController(&owner_);
        if (builtFirst) {
            ASSERT_TRUE(window.paneView(0));
        }
        int made = 0;
        QPointer<QWidget> views[2];
        QList<PreferenceWindow::PaneViewMaker> makers(11);
        for (int i = 0; i < 2; ++i)
            makers[9 + i] = [&, i] {
                ++made;
                views[i] = new QWidget;
                return views[i].data();
            };
        QStringList identifiers;
        for (int i = 0; i < 11; ++i)
            identifiers.append(QString::number(i));
        window.setPaneViewMakers(identifiers, makers);
        window.selectPreferencePaneAtIndex(10);
        window.updatePreferenceWindow();
        EXPECT_EQ(made, builtFirst ? 2 : 0);
        ASSERT_TRUE(window.paneView(0));
        EXPECT_EQ(window.paneView(9), views[0] ? views[0]->parentWidget() : nullptr);
        EXPECT_EQ(window.paneView(10), views[1] ? views[1]->parentWidget() : nullptr);
        EXPECT_EQ(made, 2);
        window.showWindow();
        EXPECT_TRUE(views[1]->isVisible());
        EXPECT_EQ(made, 2) << "made once";
        window.window()->hide();
    }
}

TEST_F(PreferenceWindowTest, LoadThenStoreLeavesTheDomainFileUnchanged)
{
    const QByteArray before = writtenFile();
    ASSERT_FALSE(before.isEmpty());
    window_.updatePreferenceWindow();
    selectRow("historyWindowTable", 1);
    selectRow("alertSensorTable", 0);
    window_.sensorTables()->selectOutlineRow(1); // the computer "Test", then its gauges
    EXPECT_EQ(control<QLineEdit>("sensorNameField")->text(), QStringLiteral("CPU die"));
    EXPECT_EQ(control<QLabel>("historyHeadlineField")->text(), QStringLiteral("History Window 'Fans' (2 of 2)"));
    EXPECT_EQ(control<QLineEdit>("alertHighThresholdField")->text(), QStringLiteral("91.125"));

    window_.changePreferenceValue();
    EXPECT_EQ(writtenFile(), before);
    EXPECT_EQ(desktop_.alerts->beeps, 0);
    EXPECT_EQ(owner_.refreshes, 1);
}

TEST_F(PreferenceWindowTest, ControlsThatCannotShowAStoredValueKeepIt)
{
    global_.setTemperatureDisplayUnit(7);
    owner_.local->setStandardWindowAlignment(4);
    window_.updatePreferenceWindow();
    EXPECT_EQ(control<QComboBox>("unitPopUp")->currentIndex(), -1);
    EXPECT_EQ(control<QComboBox>("diskSaverPopUp")->currentIndex(), 2); // 1200 s, the next item up
    control<QCheckBox>("splashWindowSwitch")->click(); // an edit elsewhere stores every control
    EXPECT_FALSE(global_.suppressesSplashWindow());
    EXPECT_EQ(global_.temperatureDisplayUnit(), 7);
    EXPECT_EQ(global_.smartDiskSaverInterval(), 900u);
    EXPECT_EQ(owner_.local->standardWindowAlignment(), 4);
    EXPECT_FLOAT_EQ(owner_.local->screenDisplayTransparency(), 0.333f);
    // Chosen by the user, the shown values are stored.
    control<QComboBox>("unitPopUp")->setCurrentIndex(1);
    control<QComboBox>("diskSaverPopUp")->setCurrentIndex(3);
    window_.changePreferenceValue();
    EXPECT_EQ(global_.temperatureDisplayUnit(), 1);
    EXPECT_EQ(global_.smartDiskSaverInterval(), 1800u);
    ASSERT_FALSE(owner_.unitChanges.isEmpty());
    EXPECT_EQ(owner_.unitChanges.last(), std::make_pair(qint64(7), qint64(1)));
}

// A pop-up or button matrix chosen away from what was loaded and then back stores the value it shows again,
// not the one it was moved away to.
TEST_F(PreferenceWindowTest, AChoiceMovedBackToWhereItWasLoadedIsStoredAgain)
{
    const auto gauge = owner_.local->gaugeDictionary().value(QStringLiteral("TC0D"));
    global_.setSMARTDiskSaverInterval(1200); // a value its pop-up shows as it is
    const struct {
        const char* control;
        bool popUp;
        std::function<qint64()> stored;
    } rows[] = {
        {"unitPopUp", true, [this] { return global_.temperatureDisplayUnit(); }},
        {"diskSaverPopUp", true, [this] { return qint64(global_.smartDiskSaverInterval()); }},
        {"sensorFormatPopUp", true, [&] { return qint64(gauge->formatTag()); }},
        {"windowJustificationButtons", false, [this] { return owner_.local->standardWindowAlignment(); }},
        {"screenWindowJustificationButtons", false, [this] { return owner_.local->screenDisplayAlignment(); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.control);
        window_.updatePreferenceWindow();
        window_.sensorTables()->selectOutlineRow(1); // the gauge the format pop-up shows
        const QString name = QString::fromLatin1(row.control);
        QComboBox* popUp = row.popUp ? control<QComboBox>(row.control) : nullptr;
        QButtonGroup* group = row.popUp ? nullptr : window_.buttonGroup(name);
        ASSERT_TRUE(popUp || group);
        const int loaded = popUp ? popUp->currentIndex() : group->checkedId();
        const int count = popUp ? popUp->count() : int(group->buttons().size());
        ASSERT_GE(loaded, 0);
        const auto choose = [&](int index) {
            if (popUp)
                popUp->setCurrentIndex(index);
            else
                group->button(index)->setChecked(true);
            window_.changePreferenceValue();
        };
        const qint64 before = row.stored();
        choose((loaded + 1) % count);
        EXPECT_NE(row.stored(), before);
        choose(loaded);
        EXPECT_EQ(row.stored(), before);
    }
}

TEST_F(PreferenceWindowTest, OutOfRangeEntriesAreClampedWithABeep)
{
    window_.updatePreferenceWindow();
    const struct { const char* field; QString typed; QString shown; int beeps; } rows[] = {
        {"historyAutosaveField", "0", "1", 1},     {"historyAutosaveField", "2000", "1440", 1},
        {"historyAutosaveField", "30", "30", 0},   {"historyAutosaveField", "many", "30", 1},
        {"speechDifferenceField", "0.01", "0.1", 1}, {"speechDifferenceField", "100", "30", 1},
        {"speechDifferenceField", "2.5", "2.5", 0},
    };
    for (const auto& row : rows) {
        window_.updatePreferenceWindow();
        const int before = desktop_.alerts->beeps;
        const quint64 minutes = global_.autosaveHistoryMinutes();
        type(row.field, row.typed);
        if (row.typed == QLatin1String("0")) {
            EXPECT_EQ(global_.autosaveHistoryMinutes(), minutes) << "a live edit out of range stores nothing";
        }
        window_.changePreferenceValue();
        EXPECT_EQ(control<QLineEdit>(row.field)->text(), row.shown) << row.field << " " << row.typed.toStdString();
        EXPECT_EQ(desktop_.alerts->beeps - before, row.beeps) << row.field << " " << row.typed.toStdString();
        if (QLatin1String(row.field) == QLatin1String("historyAutosaveField")) {
            EXPECT_EQ(global_.autosaveHistoryMinutes(), row.shown.toULongLong());
        } else {
            EXPECT_FLOAT_EQ(owner_.local->talkDeltaValue(), row.shown.toFloat());
        }
    }
    // Without the check box the interval is off, whatever the field says; storing needs no local client.
    control<QCheckBox>("historyAutosaveButton")->click();
    EXPECT_EQ(global_.autosaveHistoryMinutes(), 0u);
}

TEST_F(PreferenceWindowTest, LowThresholdAboveTheHighOneBecomesHighMinusOne)
{
    window_.updatePreferenceWindow();
    selectRow("alertSensorTable", 0);
    QButtonGroup* switches = window_.buttonGroup(QStringLiteral("alertTriggerSwitches"));
    switches->button(0)->setChecked(true);
    switches->button(1)->setChecked(true);
    control<QLineEdit>("alertHighThresholdField")->setText(QStringLiteral("70"));
    control<QLineEdit>("alertLowThresholdField")->setText(QStringLiteral("80"));
    window_.changePreferenceValue();
    const auto gauge = owner_.local->gaugeDictionary().value(QStringLiteral("TC0D"));
    EXPECT_EQ(gauge->highThreshold(), 70.0);
    EXPECT_EQ(gauge->lowThreshold(), 69.0);
    EXPECT_EQ(control<QLineEdit>("alertLowThresholdField")->text(), QStringLiteral("69"));
    EXPECT_EQ(desktop_.alerts->beeps, 1);
}

TEST_F(PreferenceWindowTest, SlidersStoreTheIntervalTable)
{
    window_.updatePreferenceWindow();
    auto* slider = control<QSlider>("generalUpdateSlider");
    EXPECT_EQ(slider->value(), 4); // 7 s shows as 10 s
    for (const auto& [position, seconds] : {std::pair{1, 1u}, std::pair{13, 3600u}}) {
        slider->setValue(position);
        EXPECT_EQ(global_.sensorUpdateInterval(), seconds);
    }
    EXPECT_EQ(owner_.intervalChanges, 2);
    control<QSlider>("windowLabelRatioSlider")->setValue(22);
    EXPECT_FLOAT_EQ(owner_.local->standardWindowFontRatio(), 2.2f);
    EXPECT_EQ(control<QLabel>("windowLabelRatioField")->text(), QStringLiteral("2.2"));
}

TEST_F(PreferenceWindowTest, PanesSwitchWithTheToolbar)
{
    QWidget probes, lcd;
    QStringList identifiers;
    for (int i = 0; i < 11; ++i)
        identifiers.append(QString::number(i));
    window_.setPaneViews(identifiers, {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &probes, &lcd});
    window_.selectPreferencePaneAtIndex(10);
    EXPECT_EQ(window_.window()->windowTitle(), QStringLiteral("Kelvaro Preferences: LCD Module"));
    EXPECT_EQ(lcd.parentWidget(), window_.paneView(10));
    EXPECT_EQ(probes.parentWidget(), window_.paneView(9));
    window_.selectPreferencePaneAtIndex(11);
    EXPECT_EQ(window_.selectedPaneIndex(), 10);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(window_.paneView(i)->objectName(), QStringLiteral("prefWindow%1").arg(i));
    probes.setParent(nullptr);
    lcd.setParent(nullptr);
}

TEST_F(PreferenceWindowTest, EveryToolbarIconFillsTheSameSquare)
{
    ASSERT_TRUE(window_.paneView(0)); // the toolbar is made with the panes
    auto* toolbar = window_.window()->findChild<QToolBar*>(QStringLiteral("PreferencesToolbar"));
    ASSERT_TRUE(toolbar);
    const QSize side = toolbar->iconSize();
    const QList<QAction*> items = toolbar->actions();
    ASSERT_EQ(items.size(), 11);
    for (qsizetype i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(items[i]->text().toStdString());
        const QImage picture = items[i]->icon().pixmap(side).toImage().convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(picture.size(), side);
        // What the picture draws, without its clear margins: as large as any other's in its longer direction.
        QRect drawn;
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                if (qAlpha(picture.pixel(x, y)) > 16)
                    drawn |= QRect(x, y, 1, 1);
        EXPECT_GE(std::max(drawn.width(), drawn.height()), side.width() * 3 / 4) << drawn.width() << "x" << drawn.height();
        EXPECT_LE(std::max(drawn.width(), drawn.height()), side.width());
    }
}

TEST_F(PreferenceWindowTest, FontPanelEditsTheChosenFontWithinSixTo128Points)
{
    window_.changeValueCellFont(2);
    for (const auto& [points, stored] : {std::pair{200.0, 128.0f}, std::pair{3.0, 6.0f}, std::pair{17.5, 17.5f}}) {
        QFont font(QStringLiteral("Serif"));
        font.setPointSizeF(points);
        window_.changeFont(font);
        EXPECT_FLOAT_EQ(owner_.local->menuBarFont().size, stored) << points;
    }
    EXPECT_FLOAT_EQ(owner_.local->standardWindowFont().size, 31.5f); // the other targets stay
    window_.changeValueCellFont(5);
    window_.changeFont(QFont(QStringLiteral("Serif"), 40));
    EXPECT_FLOAT_EQ(owner_.local->menuBarFont().size, 17.5f);
}

TEST_F(PreferenceWindowTest, TablesFillThePanesAndTheirButtonsEditTheLiveLists)
{
    window_.updatePreferenceWindow();
    auto* outline = control<QTreeView>("sensorOutlineView");
    EXPECT_EQ(outline->model()->rowCount(), 1);
    EXPECT_EQ(outline->model()->rowCount(outline->model()->index(0, 0)), 2);
    EXPECT_TRUE(outline->isExpanded(outline->model()->index(0, 0))) << "built before the owner had computers, it opens them";
    auto* dockTable = control<QAbstractItemView>("dockSensorTable");
    EXPECT_EQ(dockTable->model()->rowCount(), 2);
    EXPECT_TRUE(dockTable->dragEnabled());
    EXPECT_TRUE(dockTable->model()->flags(dockTable->model()->index(0, 1)) & Qt::ItemIsDragEnabled) << "else no drag starts";
    auto* history = control<QAbstractItemView>("historySensorTable");
    EXPECT_FALSE(history->isEnabled()) << "no history window selected";
    EXPECT_FALSE(window_.buttonGroup(QStringLiteral("historyNavigateButtons"))->button(0)->isEnabled());
    selectRow("historyWindowTable", 1);
    EXPECT_EQ(history->model()->index(0, 1).data().toString(), QStringLiteral("Exhaust")); // the "Sensor" column

    // "−" takes the selected rows out of the live list; "+" opens the drawer of all sensors.
    selectRow("dockSensorTable", 0);
    QButtonGroup* dock = window_.buttonGroup(QStringLiteral("dockNavigateButtons"));
    ASSERT_TRUE(dock->button(1)->isEnabled());
    dock->button(1)->click();
    EXPECT_EQ(owner_.local->dockSensorNames(), QStringList{QStringLiteral("F0Ac")});
    EXPECT_EQ(owner_.refreshes, 1) << "the Dock shows the shorter list";
    EXPECT_FALSE(dock->button(1)->isEnabled());
    dock->button(0)->click();
    EXPECT_TRUE(window_.sensorTables()->sensorDrawerPanel()->isVisible());
    window_.sensorTables()->sensorDrawerPanel()->close();

    // History windows: "+" appends one and selects it.
    window_.buttonGroup(QStringLiteral("historyWindowNavigateButtons"))->button(0)->click();
    EXPECT_EQ(owner_.local->historyWindowPreferences().size(), 3);
    EXPECT_EQ(owner_.histories.size(), 3);
    EXPECT_EQ(window_.selectedHistoryWindowRows(), QList<qint64>{2});
    EXPECT_EQ(control<QLabel>("historyHeadlineField")->text(), QStringLiteral("History Window 'Untitled History Window' (3 of 3)"));

    // A file dropped on the alert field is stored at once.
    auto* field = control<TEVFilenameTextField>("alertApplicationField");
    field->setText(QStringLiteral("/bin/sh"));
    emit field->actionTriggered();
    EXPECT_EQ(owner_.local->alertObjectPath(), QStringLiteral("/bin/sh"));
    // Chosen in the open panel: files only, a link stored as what it names; cancelling changes nothing.
    QTemporaryDir dir;
    QFile(dir.filePath("tool")).open(QIODevice::WriteOnly);
    QFile::link(dir.filePath("tool"), dir.filePath("link"));
    desktop_.panel->answers = {dir.filePath("link"), std::nullopt};
    control<QPushButton>("alertApplicationButton")->click();
    EXPECT_EQ(owner_.local->alertObjectPath(), QFileInfo(dir.filePath("tool")).canonicalFilePath());
    ASSERT_EQ(desktop_.panel->shown.size(), 1);
    EXPECT_FALSE(desktop_.panel->shown.first().canChooseDirectories);
    control<QPushButton>("alertApplicationButton")->click();
    EXPECT_EQ(owner_.local->alertObjectPath(), QFileInfo(dir.filePath("tool")).canonicalFilePath());
}

namespace {

// Replaces the field's text with `typed` key by key and ends the edit with Return, as a user does.
void typeInto(QLineEdit* field, const QString& typed)
{
    field->setFocus();
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, typed);
    QTest::keyClick(field, Qt::Key_Return);
}

} // namespace

TEST_F(PreferenceWindowTest, AnEmptiedSensorNameIsRefusedAndTheNameFromBeforeTheEditStays)
{
    window_.updatePreferenceWindow();
    window_.sensorTables()->selectOutlineRow(1);
    const auto gauge = owner_.local->gaugeDictionary().value(QStringLiteral("TC0D"));
    auto* field = control<QLineEdit>("sensorNameField");
    ASSERT_TRUE(field->isEnabled());
    const struct { const char* what; std::function<void()> edit; QString stored; int beeps; } rows[] = {
        {"selected and deleted", [&] { typeInto(field, {}); }, QStringLiteral("CPU die"), 1},
        {"spaces only", [&] { typeInto(field, QStringLiteral("   ")); }, QStringLiteral("CPU die"), 1},
        // Each keystroke but the last leaves a name that is stored at once; the edit began with "CPU die".
        {"deleted key by key", [&] {
             field->setFocus();
             QTest::keyClick(field, Qt::Key_End);
             for (int i = 0; i < 7; ++i)
                 QTest::keyClick(field, Qt::Key_Backspace);
             EXPECT_EQ(gauge->customName(), QStringLiteral("C"));
             QTest::keyClick(field, Qt::Key_Return);
         }, QStringLiteral("CPU die"), 1},
        {"renamed", [&] { typeInto(field, QStringLiteral("Core")); }, QStringLiteral("Core"), 0},
        {"renamed, then emptied", [&] { typeInto(field, {}); }, QStringLiteral("Core"), 1},
    };
    for (const auto& row : rows) {
        const int before = desktop_.alerts->beeps;
        row.edit();
        EXPECT_EQ(gauge->customName(), row.stored) << row.what;
        EXPECT_EQ(field->text(), row.stored) << row.what;
        EXPECT_EQ(desktop_.alerts->beeps - before, row.beeps) << row.what;
    }
}

TEST_F(PreferenceWindowTest, NumberFieldsReadTheUsersLocaleAndCAndAnInvalidEditRestoresTheValueBeforeIt)
{
    const QLocale userLocale;
    const auto restore = qScopeGuard([&userLocale] { QLocale::setDefault(userLocale); });
    const QLocale c = QLocale::c(), german(QLocale::German, QLocale::Germany);
    const auto gauge = owner_.local->gaugeDictionary().value(QStringLiteral("TC0D"));
    const struct {
        const char* field;
        QLocale locale;
        QString typed;
        double stored;
        QString shown;
        int beeps;
    } rows[] = {
        {"speechDifferenceField", c, "2,5", 2.7, "2.7", 1},   // not a C number: the value before the edit, not "2"
        {"speechDifferenceField", c, "2.5", 2.5, "2.5", 0},
        {"speechDifferenceField", c, "12x", 2.7, "2.7", 1},   // "1" and "12" were stored while typing
        {"speechDifferenceField", german, "2,5", 2.5, "2,5", 0},
        {"speechDifferenceField", german, "2.5", 2.5, "2.5", 0}, // as the field shows numbers
        {"historyAutosaveField", c, "4x", 45, "45", 1},
        {"historyAutosaveField", german, "30", 30, "30", 0},
        {"alertHighThresholdField", german, "70,5", 70.5, "70,5", 0},
        {"alertHighThresholdField", c, "7O", 91.125, "91.125", 1},
    };
    for (const auto& row : rows) {
        QLocale::setDefault(row.locale);
        owner_.local->setTalkDelta(2.7f);
        global_.setAutosaveHistoryMinutes(45);
        gauge->setHighThreshold(91.125);
        window_.updatePreferenceWindow();
        // The delta field is for speech on change.
        window_.buttonGroup(QStringLiteral("speechModeButtons"))->button(0)->click();
        selectRow("alertSensorTable", 0);
        auto* field = control<QLineEdit>(row.field);
        ASSERT_TRUE(field->isEnabled()) << row.field;
        const int before = desktop_.alerts->beeps;
        typeInto(field, row.typed);
        const QString what = QStringLiteral("%1 %2 %3").arg(QLatin1String(row.field), row.locale.name(), row.typed);
        const double stored = QLatin1String(row.field) == QLatin1String("speechDifferenceField") ? double(owner_.local->talkDeltaValue())
                              : QLatin1String(row.field) == QLatin1String("historyAutosaveField") ? double(global_.autosaveHistoryMinutes())
                                                                                                   : gauge->highThreshold();
        EXPECT_NEAR(stored, row.stored, 1e-6) << what.toStdString();
        EXPECT_EQ(field->text(), row.shown) << what.toStdString();
        EXPECT_EQ(desktop_.alerts->beeps - before, row.beeps) << what.toStdString();
    }
}

// Each setting the program keeps as a float, edited from a fresh set's default through its control: an edit
// back to the default (or one that ends invalid) stores the default exactly, as a float compares, and the
// stored set reads back the same. Text fields compare what was typed as the float it is stored as.
TEST_F(PreferenceWindowTest, FloatSettingsEditedFromTheirDefaultsKeepThem)
{
    const QLocale userLocale;
    const auto restore = qScopeGuard([&userLocale] { QLocale::setDefault(userLocale); });
    QLocale::setDefault(QLocale::c());
    const auto slide = [this](const char* slider, int away, int back) {
        control<QSlider>(slider)->setValue(away);
        control<QSlider>(slider)->setValue(back);
        window_.changePreferenceValue();
    };
    const auto pickLoadedFont = [this](qint64 tag) {
        window_.changeValueCellFont(tag);
        auto* panel = window_.window()->findChild<QFontDialog*>();
        ASSERT_TRUE(panel);
        window_.changeFont(panel->currentFont());
    };
    using Get = float (*)(const MachinePreferences&);
    const struct {
        const char* what;
        std::function<void()> edit;
        Get stored;
        int beeps;
    } rows[] = {
        {"speech delta: \"2,5\" is no C number", [this] { typeInto(control<QLineEdit>("speechDifferenceField"), "2,5"); },
         [](const MachinePreferences& p) { return p.talkDeltaValue(); }, 1},
        {"speech delta: typed back to its minimum while editing",
         [this] {
             type("speechDifferenceField", "5");
             type("speechDifferenceField", "0.1");
         },
         [](const MachinePreferences& p) { return p.talkDeltaValue(); }, 0},
        {"speech delta: its default typed", [this] { typeInto(control<QLineEdit>("speechDifferenceField"), "0.1"); },
         [](const MachinePreferences& p) { return p.talkDeltaValue(); }, 0},
        {"sensor window label ratio", [&] { slide("windowLabelRatioSlider", 10, 24); },
         [](const MachinePreferences& p) { return p.standardWindowFontRatio(); }, 0},
        {"screen display label ratio", [&] { slide("screenWindowLabelRatioSlider", 25, 24); },
         [](const MachinePreferences& p) { return p.screenDisplayFontRatio(); }, 0},
        {"screen display transparency", [&] { slide("transparencySlider", 5, 100); },
         [](const MachinePreferences& p) { return p.screenDisplayTransparency(); }, 0},
        {"sensor window font size", [&] { pickLoadedFont(0); },
         [](const MachinePreferences& p) { return p.standardWindowFont().size; }, 0},
        {"screen display font size", [&] { pickLoadedFont(1); },
         [](const MachinePreferences& p) { return p.screenDisplayFont().size; }, 0},
        {"menu bar font size", [&] { pickLoadedFont(2); }, [](const MachinePreferences& p) { return p.menuBarFont().size; }, 0},
    };
    const MachinePreferences defaults;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        owner_.local = std::make_shared<MachinePreferences>();
        window_.updatePreferenceWindow();
        window_.buttonGroup(QStringLiteral("speechModeButtons"))->button(0)->click(); // speech on change
        const int before = desktop_.alerts->beeps;
        row.edit();
        EXPECT_EQ(row.stored(*owner_.local), row.stored(defaults));
        EXPECT_EQ(desktop_.alerts->beeps - before, row.beeps);
        const auto reread = MachinePreferences::createWithDefaultsDictionary(owner_.local->defaultsDictionary());
        ASSERT_TRUE(reread);
        EXPECT_EQ(row.stored(*reread), row.stored(defaults));
    }
}
