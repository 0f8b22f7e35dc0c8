// The sensor tables, the history window list and the gauge outline over a fake controller whose
// preference window holds plain placeholders under the outlet names.

#include "windows/sensortables/SensorTablesController.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "app/model/ApplicationWindows.h"
#include "app/model/HistoryWindowPreferences.h"
#include "app/model/MachinePreferences.h"
#include "app/model/MonitorPreferences.h"
#include "app/model/TEVGauge.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/foundation/NotificationCenter.h"
#include "sensors/TEVSensor.h"
#include "sensors/TEVSensorDescription.h"
#include "windows/sensortables/SensorDrawerPanel.h"
#include "windows/sensortables/SensorTableModel.h"
#include "windows/sensortables/SensorTablesHost.h"
#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QIcon>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;
using Controller = SensorTablesController;

namespace {

// The computer "Alpha" whose sensors are of the quantity they were added with.
class Source final : public TEVSensorSource {
public:
    void add(const QString& identifier, qint64 quantity)
    {
        TEVSensor sensor;
        sensor.setUniqueIdentifier(identifier);
        sensor.setLocationIdentifier(identifier);
        sensor.setQuantityType(quantity);
        descriptions[identifier] = sensor.configurationDescription();
    }
    QString clientIdentification() const override { return QStringLiteral("C1"); }
    QString machineSerialNumber() override { return QStringLiteral("C1"); }
    QString machineName() override { return QStringLiteral("Alpha"); }
    std::shared_ptr<TEVSensorDescription> sensorDescriptionForIdentifier(const QString& identifier) override
    {
        return descriptions.value(identifier);
    }
    std::shared_ptr<TEVSensorValueConverter> sensorValueConverterForIdentifier(const QString&) override { return nullptr; }
    qint64 cachedRawValueWithIdentifier(const QString&) override { return -1; }
    void disableLocalAccess(bool, const QString&) override {}
    QMap<QString, std::shared_ptr<TEVSensorDescription>> descriptions;
};

// Answers each alert through `answer` and counts beeps.
class Presenter final : public platform::AlertPresenter {
public:
    std::function<int(const platform::Alert&)> answer = [](const platform::Alert&) { return 0; };
    QList<platform::Alert> shown;
    int beeps = 0;
    int runModal(const platform::Alert& alert) override
    {
        shown.append(alert);
        return answer(alert);
    }
    void beep() override { ++beeps; }
};

class FakeHistoryWindow final : public HistoryWindow {
public:
    QWidget* window() const override { return &window_; }
    bool isWindowVisible() const override { return window_.isVisible(); }
    mutable QWidget window_;
};

enum Quantity : qint64 { Temperature = 1, Fan = 6 };

class Host final : public SensorTablesHost {
public:
    MachinePreferences* localMachinePreferences() const override { return preferences.get(); }
    MonitorPreferences* monitorPreferences() const override { return global.get(); }
    const QStringList& connectedSensorNames() const override { return connected; }
    const QStringList& localGaugeComputers() const override { return computers; }
    const QMap<QString, QList<std::shared_ptr<TEVGauge>>>& gaugesByComputer() const override { return byComputer; }
    void handleConfigurationChange() override { rebuild(); }
    QList<std::shared_ptr<HistoryWindow>>& historyWindowControllers() override { return histories; }
    std::shared_ptr<HistoryWindow> makeHistoryWindowController(const std::shared_ptr<HistoryWindowPreferences>&) override
    {
        return std::make_shared<FakeHistoryWindow>();
    }
    void updatePreferenceWindow() override { ++loads; }
    void updatePreferenceWindowState() override {}
    void selectHistoryWindowEntry() override { ++historySelections; }
    void selectSensorTableEntry() override {}
    void selectGauge() override { ++gaugeSelections; }

    void addGauge(const QString& id, qint64 quantity, const QString& computer, bool connectedGauge)
    {
        auto gauge = TEVGauge::createForSensorIdentifierPreferenceDictionary(
            id, QVariantMap{{QStringLiteral("CustomName"), id}, {QStringLiteral("QuantityType"), quantity}});
        source->add(id, quantity);
        if (connectedGauge) {
            gauge->connectToClient(source);
            connected.append(id);
        }
        preferences->gaugeDictionary().insert(id, gauge);
        computerOf[id] = computer;
        rebuild();
    }
    void rebuild()
    {
        byComputer.clear();
        for (auto it = preferences->gaugeDictionary().cbegin(); it != preferences->gaugeDictionary().cend(); ++it)
            byComputer[computerOf.value(it.key())].append(it.value());
        computers = byComputer.keys();
    }

    std::shared_ptr<MachinePreferences> preferences = std::make_shared<MachinePreferences>();
    std::shared_ptr<MonitorPreferences> global = std::make_shared<MonitorPreferences>();
    std::shared_ptr<Source> source = std::make_shared<Source>();
    QStringList connected;
    QStringList computers;
    QMap<QString, QString> computerOf;
    QMap<QString, QList<std::shared_ptr<TEVGauge>>> byComputer;
    QList<std::shared_ptr<HistoryWindow>> histories;
    int loads = 0;
    int historySelections = 0;
    int gaugeSelections = 0;
};

// A preference window of placeholders named as the outlets, as the window's form leaves them.
struct Fixture {
    Fixture()
    {
        platform::AlertPresenter::setShared(presenter);
        host.addGauge(QStringLiteral("CPU"), Temperature, QStringLiteral("Alpha"), true);
        host.addGauge(QStringLiteral("GPU"), Temperature, QStringLiteral("Alpha"), true);
        host.addGauge(QStringLiteral("FAN"), Fan, QStringLiteral("Alpha"), true);
        host.addGauge(QStringLiteral("remote.R1.T0"), Temperature, QStringLiteral("Beta"), false);
        host.addGauge(QStringLiteral("remote.R1.T1"), Temperature, QStringLiteral("Beta"), false);
        auto* layout = new QVBoxLayout(&window);
        for (int i = Controller::AlertTable; i < Controller::kNumberOfSensorTables; ++i) {
            for (const QString& name : {Controller::tableOutletName(Controller::Table(i)), Controller::navigateButtonsOutletName(Controller::Table(i))}) {
                auto* placeholder = new QWidget(&window);
                placeholder->setObjectName(name);
                layout->addWidget(placeholder);
            }
        }
        for (const char* name : {"historyWindowTable", "historyWindowNavigateButtons", "sensorOutlineView"}) {
            auto* placeholder = new QWidget(&window);
            placeholder->setObjectName(QLatin1String(name));
            layout->addWidget(placeholder);
        }
        auto* button = new QPushButton(&window);
        button->setObjectName(QStringLiteral("sensorDeleteButton"));
        layout->addWidget(button);
        controller.installInPreferenceWindow(&window);
    }
    ~Fixture() { platform::AlertPresenter::setShared(nullptr); }

    TEVDragTableView* table(Controller::Table t) const { return controller.sensorTable(t); }
    // A drag of `rows` of table `from`, as the table itself starts it.
    std::unique_ptr<QMimeData> drag(Controller::Table from, const QList<int>& rows) const
    {
        auto data = std::make_unique<QMimeData>();
        QVariantList array;
        for (const QString& id : *controller.sensorNameListForTable(from))
            array.append(id);
        EXPECT_TRUE(table(from)->writeRows(rows, array, data.get()));
        return data;
    }
    void addHistoryWindow(const QStringList& sensors)
    {
        controller.editHistoryWindow(0);
        host.preferences->historyWindowPreferences().last()->sensorIdentifierList() = sensors;
    }

    std::shared_ptr<Presenter> presenter = std::make_shared<Presenter>();
    Host host;
    QWidget window;
    Controller controller{host};
};

} // namespace

TEST(SensorTablesController, DropRulesKeepOneQuantityPerHistoryWindowAndNoDuplicates)
{
    Fixture f;
    f.addHistoryWindow({QStringLiteral("CPU")});
    QStringList& history = f.host.preferences->historyWindowPreferences().last()->sensorIdentifierList();
    ASSERT_EQ(f.controller.sensorNameListForTable(Controller::HistoryTable), &history);

    // Source rows: CPU, GPU, FAN, in the order the host connected them.
    const struct {
        const char* name;
        Controller::Table from;
        QList<int> rows;
        int at;
        bool accepted;
        int beeps;
        QStringList after;
    } cases[] = {
        {"a fan onto temperatures", Controller::SourceTable, {2}, 1, false, 1, {"CPU"}},
        {"a fan among temperatures", Controller::SourceTable, {1, 2}, 1, false, 1, {"CPU"}},
        {"another temperature", Controller::SourceTable, {1}, 1, true, 0, {"CPU", "GPU"}},
        {"reordering inside the window", Controller::HistoryTable, {1}, 0, true, 0, {"GPU", "CPU"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const int beeps = f.presenter->beeps;
        const auto data = f.drag(c.from, c.rows);
        EXPECT_EQ(f.controller.acceptDrop(Controller::HistoryTable, {data.get(), f.table(c.from)}, c.at), c.accepted);
        EXPECT_EQ(f.presenter->beeps - beeps, c.beeps);
        EXPECT_EQ(history, c.after);
    }
    // The same refusal when the drag arrives as the desktop delivers it, entering the table first.
    {
        const int beeps = f.presenter->beeps;
        const auto fan = f.drag(Controller::SourceTable, {2});
        QWidget* viewport = f.table(Controller::HistoryTable)->viewport();
        QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction | Qt::MoveAction, fan.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(2, 2), Qt::CopyAction | Qt::MoveAction, fan.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &drop);
        EXPECT_FALSE(drop.isAccepted());
        EXPECT_EQ(f.presenter->beeps - beeps, 1);
        EXPECT_EQ(history, (QStringList{QStringLiteral("GPU"), QStringLiteral("CPU")}));
    }
    // A window that somehow holds a fan and a temperature can still be reordered.
    history = QStringList{QStringLiteral("FAN"), QStringLiteral("CPU")};
    const auto own = f.drag(Controller::HistoryTable, {1});
    EXPECT_TRUE(f.controller.acceptDrop(Controller::HistoryTable, {own.get(), f.table(Controller::HistoryTable)}, 0));
    EXPECT_EQ(history, (QStringList{QStringLiteral("CPU"), QStringLiteral("FAN")}));

    // Into the Dock: the same sensor twice is kept once; the drawer's list never changes.
    for (int i = 0; i < 2; ++i) {
        const auto data = f.drag(Controller::SourceTable, {0});
        EXPECT_TRUE(f.controller.acceptDrop(Controller::DockTable, {data.get(), f.table(Controller::SourceTable)}, 0));
    }
    EXPECT_EQ(f.host.preferences->dockSensorNames(), QStringList{QStringLiteral("CPU")});
    EXPECT_EQ(f.table(Controller::DockTable)->model()->rowCount(), 1);
    const auto back = f.drag(Controller::DockTable, {0});
    EXPECT_FALSE(f.controller.acceptDrop(Controller::SourceTable, {back.get(), f.table(Controller::DockTable)}, 0));
    const auto reorder = f.drag(Controller::SourceTable, {2});
    EXPECT_FALSE(f.controller.acceptDrop(Controller::SourceTable, {reorder.get(), f.table(Controller::SourceTable)}, 0));
    EXPECT_EQ(f.host.connected, (QStringList{QStringLiteral("CPU"), QStringLiteral("GPU"), QStringLiteral("FAN")}));
}

TEST(SensorTablesController, RemoveButtonTakesTheSelectedRowsOutOfTheLiveList)
{
    Fixture f;
    f.host.preferences->menuBarSensorNames() = {QStringLiteral("CPU"), QStringLiteral("GPU"), QStringLiteral("FAN")};
    f.controller.reloadData();
    TEVDragTableView* table = f.table(Controller::MenuBarTable);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->objectName(), QStringLiteral("menuBarSensorTable"));
    table->selectionModel()->select(table->model()->index(0, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    table->selectionModel()->select(table->model()->index(2, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    const auto buttons = f.window.findChild<QWidget*>(QStringLiteral("menuBarNavigateButtons"))->findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_TRUE(buttons[1]->isEnabled());
    buttons[1]->click();
    EXPECT_EQ(f.host.preferences->menuBarSensorNames(), QStringList{QStringLiteral("GPU")});
    EXPECT_EQ(f.host.loads, 1);
    EXPECT_FALSE(buttons[1]->isEnabled());
}

TEST(SensorDrawerPanel, OpensBesideTheWindowOnTheSideWithRoom)
{
    const QRect screen(0, 0, 1280, 800);
    const struct {
        const char* name;
        QRect window;
        int x;
    } cases[] = {
        {"room on the right", QRect(100, 50, 600, 500), 700},
        {"room on the left only", QRect(500, 50, 700, 500), 162},
        {"no room, more on the right", QRect(100, 50, 1000, 500), 1100},
        {"no room, more on the left", QRect(200, 50, 1000, 500), -138},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SensorDrawerPanel::drawerFrame(c.window, screen, 338), QRect(c.x, c.window.y(), 338, c.window.height()));
    }
    EXPECT_EQ(SensorDrawerPanel::lastDrawerWidth(), 338);
}

TEST(SensorTablesController, DeletesDisconnectedGaugesAndWholeComputersOnlyAfterConfirmation)
{
    Fixture f;
    QTreeView* outline = f.controller.sensorOutlineView();
    ASSERT_NE(outline, nullptr);
    // Alpha, its three gauges, Beta, its two: every computer expanded.
    EXPECT_EQ(outline->model()->rowCount(), 2);
    f.controller.selectOutlineRow(1);
    ASSERT_TRUE(f.controller.selectedGauge());
    auto* remove = f.window.findChild<QPushButton*>(QStringLiteral("sensorDeleteButton"));
    f.controller.deleteSensor();
    EXPECT_EQ(f.host.preferences->gaugeDictionary().size(), 5);

    // A disconnected gauge goes with its references; the row above it is selected.
    f.host.preferences->alertTriggerSensorNames() = {QStringLiteral("remote.R1.T1")};
    f.controller.selectOutlineRow(6);
    ASSERT_EQ(f.controller.selectedGauge()->sensorIdentifier(), QStringLiteral("remote.R1.T1"));
    const int selections = f.host.gaugeSelections;
    remove->click();
    EXPECT_GT(f.host.gaugeSelections, selections) << "the window shows the gauge now selected";
    EXPECT_FALSE(f.host.preferences->gaugeDictionary().contains(QStringLiteral("remote.R1.T1")));
    EXPECT_TRUE(f.host.preferences->alertTriggerSensorNames().isEmpty());
    EXPECT_EQ(f.controller.selectedOutlineRow(), 5);
    EXPECT_TRUE(f.presenter->shown.isEmpty());

    // A whole computer: "No" keeps it, "Yes" after it came back beeps, "Yes" removes it.
    f.controller.selectOutlineRow(4);
    ASSERT_EQ(f.controller.selectedComputer(), QStringLiteral("Beta"));
    EXPECT_TRUE(f.controller.isComputerCompletelyDisconnected(QStringLiteral("Beta")));
    EXPECT_FALSE(f.controller.isComputerCompletelyDisconnected(QStringLiteral("Alpha")));
    f.controller.deleteSensor();
    ASSERT_EQ(f.presenter->shown.size(), 1);
    EXPECT_EQ(f.presenter->shown[0].messageText, QStringLiteral("Do you really want to delete all sensor entries for the computer 'Beta'?"));
    EXPECT_EQ(f.presenter->shown[0].buttons, (QStringList{QStringLiteral("No"), QStringLiteral("Yes")}));
    EXPECT_EQ(f.host.byComputer.value(QStringLiteral("Beta")).size(), 1);
    f.presenter->answer = [&](const platform::Alert&) {
        f.host.byComputer[QStringLiteral("Beta")].first()->connectToClient(f.host.source);
        return 1;
    };
    f.controller.deleteSensor();
    EXPECT_EQ(f.presenter->beeps, 1);
    EXPECT_EQ(f.host.byComputer.value(QStringLiteral("Beta")).size(), 1);
    f.host.byComputer[QStringLiteral("Beta")].first()->connectToClient(nullptr);
    f.presenter->answer = [](const platform::Alert&) { return 1; };
    f.controller.deleteSensor();
    EXPECT_EQ(f.host.computers, QStringList{QStringLiteral("Alpha")});
    EXPECT_EQ(f.controller.selectedOutlineRow(), 3);

}

TEST(SensorTablesController, RemovingSelectedHistoryWindowsRemovesExactlyThose)
{
    Fixture f;
    QList<const void*> added;
    QList<const void*> removed;
    auto& center = platform::NotificationCenter::defaultCenter();
    const auto addedToken = center.addObserver(Controller::historyWindowControllerWasAddedNotification, {},
                                               [&](const platform::Notification& n) { added.append(n.object.get()); });
    const auto removedToken = center.addObserver(Controller::historyWindowControllerWillBeRemovedNotification, {},
                                                 [&](const platform::Notification& n) { removed.append(n.object.get()); });
    for (int i = 0; i < 3; ++i)
        f.controller.editHistoryWindow(0);
    auto& entries = f.host.preferences->historyWindowPreferences();
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0]->windowName(), QStringLiteral("Untitled History Window"));
    EXPECT_EQ(f.controller.selectedHistoryWindowRows(), QList<int>{2});
    EXPECT_EQ(added, (QList<const void*>{f.host.histories[0].get(), f.host.histories[1].get(), f.host.histories[2].get()}));

    // With a history window on screen a new one opens at once.
    f.host.histories[0]->window()->show();
    f.controller.editHistoryWindow(0);
    EXPECT_TRUE(f.host.histories[3]->isWindowVisible());

    const auto middle = entries[1];
    const QList<std::shared_ptr<HistoryWindow>> before = f.host.histories;
    QTableView* table = f.controller.historyWindowTable();
    table->clearSelection();
    for (int row : {0, 2, 3})
        table->selectionModel()->select(table->model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    f.controller.editHistoryWindow(1);
    EXPECT_EQ(removed, (QList<const void*>{before[0].get(), before[2].get(), before[3].get()}));
    EXPECT_FALSE(before[0]->isWindowVisible());
    EXPECT_EQ(entries, QList{middle});
    EXPECT_EQ(f.host.histories, QList{before[1]});
    EXPECT_EQ(f.controller.selectedHistoryWindowRows(), QList<int>{0});
    center.removeObserver(addedToken);
    center.removeObserver(removedToken);
}

TEST(SensorTablesController, RenamedHistoryWindowReachesTheHeadlineHalfASecondLater)
{
    Fixture f;
    f.controller.editHistoryWindow(0);
    const int before = f.host.historySelections;
    EXPECT_TRUE(f.controller.renameHistoryWindow(0, QStringLiteral("Disks %lld")));
    EXPECT_FALSE(f.controller.renameHistoryWindow(1, QStringLiteral("none")));
    EXPECT_EQ(f.host.preferences->historyWindowPreferences()[0]->windowName(), QStringLiteral("Disks %lld"));
    kt::clock()->advanceSeconds(0.4);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.host.historySelections, before);
    kt::clock()->advanceSeconds(0.1);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.host.historySelections, before + 1);
}

TEST(SensorTablesController, ShowsGaugesByTypeAndComputerWithDisconnectedOnesGreyed)
{
    Fixture f;
    f.host.preferences->dockSensorNames() = {QStringLiteral("CPU"), QStringLiteral("FAN"), QStringLiteral("remote.R1.T0"),
                                             QStringLiteral("gone")};
    f.controller.reloadData();
    const QAbstractItemModel* dock = f.table(Controller::DockTable)->model();
    const auto cell = [&](int row, int column, int role = Qt::DisplayRole) { return dock->data(dock->index(row, column), role); };
    // Columns: icon, sensor, type, computer.
    EXPECT_EQ(cell(0, 1).toString(), QStringLiteral("CPU"));
    EXPECT_EQ(cell(1, 2).toString(), TEVGauge::localizedQuantityTypeForType(Fan));
    EXPECT_EQ(cell(0, 3).toString(), QStringLiteral("Alpha"));
    EXPECT_EQ(cell(2, 2).toString(), QStringLiteral("-Disconnected-"));
    EXPECT_EQ(cell(2, 3).toString(), QString());
    // A disconnected remote sensor names the computer by its stored connection.
    f.host.global->addConnectionInfo(MonitorConnectionInfo::createForRemoteConnection(QStringLiteral("lab.example"), 37037),
                                     QStringLiteral("R1"));
    EXPECT_EQ(cell(2, 3).toString(), QStringLiteral("lab.example"));
    EXPECT_FALSE(cell(3, 1).isValid());
    EXPECT_FALSE(cell(3, 0, Qt::DecorationRole).value<QIcon>().isNull());
    EXPECT_EQ(f.controller.sensorTableModel(Controller::DockTable)->objectValueForTableColumn(QStringLiteral("TypeIcon"), 1),
              QStringLiteral("TFan16"));

    const QAbstractItemModel* outline = f.controller.sensorOutlineView()->model();
    const QModelIndex beta = outline->index(1, 0);
    EXPECT_TRUE(outline->data(beta, Qt::FontRole).value<QFont>().bold());
    EXPECT_FALSE(outline->data(outline->index(0, 0, beta), Qt::FontRole).value<QFont>().bold());
    EXPECT_EQ(outline->data(outline->index(0, 0, beta), Qt::ForegroundRole).value<QBrush>(),
              QApplication::palette().brush(QPalette::Disabled, QPalette::ButtonText));

    // For people: the views as they draw, when asked for.
    const QString directory = qEnvironmentVariable("KELVARO_SCREENSHOT_DIR");
    if (directory.isEmpty())
        return;
    f.controller.editHistoryWindow(0);
    f.controller.renameHistoryWindow(0, QStringLiteral("CPU temperatures"));
    f.controller.selectOutlineRow(6);
    const struct {
        QWidget* view;
        QSize size;
        const char* name;
    } shots[] = {
        {&f.window, {520, 1500}, "SensorTables-all"},
        {f.table(Controller::DockTable), {520, 150}, "SensorTable-dock"},
        {f.controller.sensorOutlineView(), {300, 240}, "GaugeOutline"},
        {f.controller.historyWindowTable(), {300, 100}, "HistoryWindowTable"},
        {f.controller.sensorDrawerPanel(), {338, 260}, "SensorDrawer"},
    };
    for (const auto& shot : shots) {
        QWidget* parent = shot.view->parentWidget();
        QWidget stage;
        if (parent == &f.window) {
            (new QVBoxLayout(&stage))->addWidget(shot.view);
        }
        QWidget* shown = parent == &f.window ? &stage : shot.view;
        shown->resize(shot.size);
        shown->show();
        QCoreApplication::processEvents();
        EXPECT_TRUE(shown->grab().save(QDir(directory).filePath(QLatin1String(shot.name) + QStringLiteral(".png"))));
        if (parent == &f.window)
            shot.view->setParent(parent);
    }
}

TEST(SensorDrawerPanel, NamesTakeTheWidthAndTheirTooltipTellsTypeAndComputer)
{
    Fixture f;
    f.controller.reloadData();
    TEVDragTableView* drawer = f.table(Controller::SourceTable);
    const QStringList& columns = f.controller.sensorTableModel(Controller::SourceTable)->columnIdentifiers();
    const int name = int(columns.indexOf(SensorTableModel::kSensorColumn));
    const int type = int(columns.indexOf(SensorTableModel::kTypeColumn));
    const int computer = int(columns.indexOf(SensorTableModel::kComputerColumn));
    // One computer's sensors: neither its type (the row's icon) nor its computer takes the names' room.
    EXPECT_TRUE(drawer->isColumnHidden(type));
    EXPECT_TRUE(drawer->isColumnHidden(computer));
    EXPECT_FALSE(drawer->isColumnHidden(name));
    const QString tip = drawer->model()->index(0, name).data(Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.startsWith(QStringLiteral("CPU\n"))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(QStringLiteral("Alpha"))) << tip.toStdString();
}
