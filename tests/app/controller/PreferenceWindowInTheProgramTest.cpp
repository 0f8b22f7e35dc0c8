// The preference window as the program puts it together (controller, menus, window), driven by keys and
// clicks offscreen: it closes from the keyboard, writing the preferences, its "Default" buttons reset
// what they stand beside, and a rename shows in the outline.

#include "app/controller/AppController.h"
#include "app/controller/QtApplicationMenu.h"
#include "app/model/HistoryWindowPreferences.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVUserDefaultsProxy.h"
#include "platform/desktop/widgets/ApplicationMenuBar.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/app/controller/FakeMonitoringClient.h"
#include "tests/support/DesktopFakes.h"
#include "windows/preferences/PreferenceWindowController.h"
#include "windows/sensortables/SensorTablesController.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFontDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPalette>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;

namespace {

class PreferenceWindowInTheProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        static int counter = 0;
        domain_ = QStringLiteral("com.tarnwell.kelvaro.prefprogramtest%1").arg(++counter);
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith(domain_);
        ApplicationWindows windows = ApplicationWindows::doNothing();
        windows.preferenceWindow = window_;
        controller_ = std::make_shared<AppController>(std::move(windows));
        controller_->setClientFactory([this](const std::shared_ptr<MonitorConnectionInfo>& info) {
            client_ = std::make_shared<kt::FakeMonitoringClient>(info, QStringLiteral("C02LOCAL"));
            return client_;
        });
        controller_->setQuitHandler([this] { ++quits_; });
        menus_ = std::make_unique<QtApplicationMenu>(*controller_);
        menus_->openPreferences = [this] { controller_->showPreferenceWindow(); };
        platform::ApplicationMenuBar::setMaker([this](QWidget* window) { return menus_->makeMenuBar(window); });
        controller_->applicationDidFinishLaunching();
        ASSERT_TRUE(client_);
        client_->becomeReady();
        ASSERT_TRUE(controller_->localPreferences());
    }
    void TearDown() override
    {
        window_->window()->hide();
        platform::ApplicationMenuBar::setMaker({});
        menus_.reset();
        controller_.reset();
        TEVUserDefaultsProxy::overrideUserDefaultsDomainWith({});
    }
    QWidget* showWindow()
    {
        controller_->showPreferenceWindow();
        QWidget* window = window_->window();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window));
        return window;
    }
    // What the domain's file on disk says, not what the process holds.
    QVariantMap writtenDomain() const
    {
        QFile file(platform::UserDefaults::pathForDomain(domain_));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return platform::readPropertyList(file.readAll()).value.toMap();
    }
    QPushButton* button(const char* name) const
    {
        auto* found = window_->control<QPushButton>(QString::fromLatin1(name));
        EXPECT_TRUE(found) << name;
        return found;
    }

    kt::ScopedDesktopFakes fakes_;
    QString domain_;
    std::shared_ptr<PreferenceWindowController> window_ = std::make_shared<PreferenceWindowController>();
    std::shared_ptr<AppController> controller_;
    std::shared_ptr<kt::FakeMonitoringClient> client_;
    std::unique_ptr<QtApplicationMenu> menus_;
    int quits_ = 0;
};

} // namespace

TEST_F(PreferenceWindowInTheProgram, ClosesFromTheKeyboardWritingThePreferences)
{
    const struct { const char* name; Qt::Key key; Qt::KeyboardModifiers modifiers; } keys[] = {
        {"Ctrl+W", Qt::Key_W, Qt::ControlModifier},
        {"Escape", Qt::Key_Escape, Qt::NoModifier},
    };
    for (const auto& row : keys) {
        QWidget* window = showWindow();
        // An edit lives in memory until the window closes.
        auto* splash = window_->control<QCheckBox>(QStringLiteral("splashWindowSwitch"));
        const bool suppressed = !splash->isChecked();
        QTest::mouseClick(splash, Qt::LeftButton, {}, QPoint(8, splash->height() / 2)); // on its box
        ASSERT_EQ(controller_->monitorPreferences()->suppressesSplashWindow(), suppressed) << row.name;
        EXPECT_NE(writtenDomain().value(QStringLiteral("SuppressesSplashWindow")), QVariant(suppressed)) << row.name;

        QTest::keyClick(window, row.key, row.modifiers);
        EXPECT_FALSE(window->isVisible()) << row.name;
        EXPECT_EQ(writtenDomain().value(QStringLiteral("SuppressesSplashWindow")), QVariant(suppressed)) << row.name;
    }
    // The application's Quit is there too.
    QTest::keyClick(showWindow(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits_, 1);
}

TEST_F(PreferenceWindowInTheProgram, DefaultButtonsResetTheSettingTheyStandBeside)
{
    const auto prefs = controller_->localPreferences();
    prefs->setStandardWindowFontName(QStringLiteral("Serif"), 31.5f);
    prefs->setScreenDisplayFontName(QStringLiteral("Monospace"), 40.0f);
    prefs->setMenuBarFontName(QStringLiteral("Sans"), 11.0f);
    prefs->setStandardWindowFontRatio(1.7f);
    prefs->setScreenDisplayFontRatio(2.1f);
    const auto red = platform::Color::rgb(platform::Color::Space::CalibratedRGB, 1.0f, 0.0f, 0.0f);
    prefs->setStandardWindowBackground(red);
    showWindow();
    // A history window of its own, added and selected with the History pane's "+".
    window_->buttonGroup(QStringLiteral("historyWindowNavigateButtons"))->button(0)->click();
    ASSERT_EQ(window_->selectedHistoryWindowRows().size(), 1);
    const auto history = prefs->historyWindowPreferences().last();
    history->setGraphBackgroundColor(red);

    const QColor system = QApplication::palette().color(QPalette::Window);
    const auto isSystem = [&system](const std::shared_ptr<platform::Color>& color) {
        return color && std::abs(color->red() - float(system.redF())) < 1e-6f && std::abs(color->green() - float(system.greenF())) < 1e-6f;
    };
    const QString systemFont = MachinePreferences::systemFontName();
    const struct {
        const char* button;
        std::function<bool()> reset;
    } rows[] = {
        {"windowDefaultFontButton", [&] { return prefs->standardWindowFont().name == systemFont && prefs->standardWindowFont().size == 24.0f; }},
        {"screenDefaultFontButton", [&] { return prefs->screenDisplayFont().name == systemFont && prefs->screenDisplayFont().size == 24.0f; }},
        {"menuBarDefaultFontButton", [&] { return prefs->menuBarFont().name == systemFont && prefs->menuBarFont().size == 14.0f; }},
        {"windowDefaultLabelRatioButton", [&] { return prefs->standardWindowFontRatio() == 2.4f; }},
        {"screenWindowDefaultLabelRatioButton", [&] { return prefs->screenDisplayFontRatio() == 2.4f; }},
        {"standardWindowDefaultColorButton", [&] { return isSystem(prefs->standardWindowBackground()); }},
        {"historyDefaultBackgroundButton", [&] { return isSystem(history->graphBackgroundColor()); }},
    };
    for (const auto& row : rows) {
        ASSERT_FALSE(row.reset()) << row.button;
        QPushButton* reset = button(row.button);
        ASSERT_TRUE(reset && reset->isEnabled()) << row.button;
        QTest::mouseClick(reset, Qt::LeftButton);
        EXPECT_TRUE(row.reset()) << row.button;
    }
    EXPECT_EQ(prefs->standardWindowFontRatio(), 2.4f) << "each button resets only its own setting";

    // A font panel open on the font being reset goes with it.
    QTest::mouseClick(button("windowFontButton"), Qt::LeftButton);
    auto* panel = window_->window()->findChild<QFontDialog*>();
    ASSERT_TRUE(panel && panel->isVisible());
    QTest::mouseClick(button("windowDefaultFontButton"), Qt::LeftButton);
    EXPECT_FALSE(panel->isVisible());
}

TEST_F(PreferenceWindowInTheProgram, ThresholdsShowTheirUnitAndPaneTextsNameMenusTheProgramHas)
{
    const auto prefs = controller_->localPreferences();
    prefs->alertTriggerSensorNames() = {QStringLiteral("TC0D"), QStringLiteral("F0Ac")};
    QWidget* window = showWindow();
    auto* table = window_->control<QAbstractItemView>(QStringLiteral("alertSensorTable"));
    const auto unitShown = [&](int row) {
        table->selectionModel()->select(table->model()->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        const QString high = window_->control<QLabel>(QStringLiteral("alertHighThresholdUnit"))->text();
        EXPECT_EQ(window_->control<QLabel>(QStringLiteral("alertLowThresholdUnit"))->text(), high);
        return high;
    };
    EXPECT_EQ(unitShown(0), QStringLiteral("°C"));
    const auto fan = prefs->gaugeDictionary().value(QStringLiteral("F0Ac"));
    ASSERT_TRUE(fan && !fan->localizedUnit().isEmpty());
    EXPECT_EQ(unitShown(1), fan->localizedUnit());
    // Chosen in the General pane, the temperature unit is the thresholds' unit.
    auto* units = window_->control<QComboBox>(QStringLiteral("unitPopUp"));
    units->setCurrentIndex(1);
    emit units->activated(1);
    EXPECT_EQ(unitShown(0), QStringLiteral("°F"));

    // "Display > X" in a pane's text is a submenu X of the Display menu of this window's menu bar.
    auto* bar = qobject_cast<QMainWindow*>(window)->menuBar();
    QMenu* display = nullptr;
    for (QAction* action : bar->actions())
        if (action->text() == QStringLiteral("Display"))
            display = action->menu();
    ASSERT_TRUE(display);
    for (const QString& text : {PreferenceWindowController::dockCountMessage(1), PreferenceWindowController::menuBarCountMessage(1),
                                PreferenceWindowController::voiceModeMessage(1)}) {
        const auto match = QRegularExpression(QStringLiteral("Display > ([A-Za-z ]+?) in")).match(text);
        ASSERT_TRUE(match.hasMatch()) << text.toStdString();
        const QList<QAction*> items = display->actions();
        EXPECT_TRUE(std::any_of(items.cbegin(), items.cend(), [&](QAction* a) { return a->menu() && a->text() == match.captured(1); }))
            << match.captured(1).toStdString();
    }
    EXPECT_FALSE(window_->control<QLabel>(QStringLiteral("dockMessageField"))->text().contains(QStringLiteral("Monitor")));
}

TEST_F(PreferenceWindowInTheProgram, ARenamedSensorShowsItsNewNameInTheOutline)
{
    showWindow();
    const auto gauge = controller_->localPreferences()->gaugeDictionary().value(QStringLiteral("TC0D"));
    ASSERT_TRUE(gauge && !gauge->localizedLocation().isEmpty());
    QTreeView* outline = window_->sensorTables()->sensorOutlineView();
    QAbstractItemModel* model = outline->model();
    int row = 0;
    QModelIndex item;
    for (QModelIndex index = model->index(0, 0); index.isValid(); index = outline->indexBelow(index), ++row)
        if (model->data(index).toString() == gauge->customName() && index.parent().isValid()) {
            item = index;
            break;
        }
    ASSERT_TRUE(item.isValid());
    window_->sensorTables()->selectOutlineRow(row);
    ASSERT_EQ(window_->sensorTables()->selectedGauge(), gauge);

    auto* field = window_->control<QLineEdit>(QStringLiteral("sensorNameField"));
    const struct { const char* what; QString name; bool returnKey; } rows[] = {
        {"typed", QStringLiteral("Room"), false},
        {"ended with Return", QStringLiteral("Room air"), true},
    };
    for (const auto& r : rows) {
        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        field->setFocus();
        QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(field, r.name);
        if (r.returnKey)
            QTest::keyClick(field, Qt::Key_Return);
        EXPECT_EQ(gauge->customName(), r.name) << r.what;
        EXPECT_EQ(model->data(item).toString(), r.name) << r.what;
        EXPECT_FALSE(changed.isEmpty()) << r.what << ": the view is told";
        // The place it measures stays at hand.
        EXPECT_EQ(model->data(item, Qt::ToolTipRole).toString(), gauge->localizedLocation()) << r.what;
    }
}

TEST_F(PreferenceWindowInTheProgram, TheDisplaySampleStandsWhereItsAlignmentSays)
{
    showWindow();
    // The inked columns of `field`, in its parent's terms: where the user sees the sample in the pane.
    const auto inkedColumns = [](QLabel* field) {
        const QImage image = field->grab().toImage();
        QHash<QRgb, int> counts;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                ++counts[image.pixel(x, y)];
        QRgb background = 0;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            if (it.value() > counts.value(background))
                background = it.key();
        int left = image.width(), right = -1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qAbs(qGray(image.pixel(x, y)) - qGray(background)) > 64) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
        return std::pair(field->x() + left, field->x() + right);
    };
    const struct { int pane; const char* prefix; const char* field; } panes[] = {
        {2, "windowJustify", "windowSampleField"},
        {3, "screenWindowJustify", "screenWindowSampleField"},
    };
    for (const auto& pane : panes) {
        window_->selectPreferencePaneAtIndex(pane.pane);
        auto* field = window_->control<QLabel>(QString::fromLatin1(pane.field));
        ASSERT_TRUE(field);
        for (const char* alignment : {"Right", "Left", "Center", "Right"}) {
            const QString name = QString::fromLatin1(pane.prefix) + QString::fromLatin1(alignment);
            auto* button = window_->control<QAbstractButton>(name);
            ASSERT_TRUE(button) << name.toStdString();
            QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, button->height() / 2));
            ASSERT_TRUE(button->isChecked()) << name.toStdString();
            QApplication::processEvents();
            const auto [left, right] = inkedColumns(field);
            ASSERT_GE(right, left) << name.toStdString() << ": a sample is drawn";
            // The room the sample has is the width of the pane's group around it.
            const int room = field->parentWidget()->width();
            const int before = left, after = room - 1 - right;
            if (QLatin1String(alignment) == QLatin1String("Right"))
                EXPECT_LT(after, before / 4) << name.toStdString() << ": " << before << " px left, " << after << " px right";
            else if (QLatin1String(alignment) == QLatin1String("Left"))
                EXPECT_LT(before, after / 4) << name.toStdString() << ": " << before << " px left, " << after << " px right";
            else
                EXPECT_LT(qAbs(before - after), room / 10) << name.toStdString() << ": " << before << " px left, " << after << " px right";
        }
    }
}
