// The monitor-window factories (the five kinds, a duplicate add, the cascade, removal) and the connection
// window (summary, Disconnect for remote computers only, the request posted with the client).

#include "windows/info/ConnectionWindowController.h"
#include "windows/info/DriveOverview.h"
#include "windows/info/MonitorWindowController.h"
#include "windows/info/QtMonitorWindowFactory.h"

#include "platform/foundation/NotificationCenter.h"
#include "tests/support/TestEnvironment.h"
#include "tests/windows/info/ScriptedInfoClient.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QWidget>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;
using kt::ScriptedInfoClient;

namespace {

std::shared_ptr<ScriptedInfoClient> client(const QString& serial, bool remote = false)
{
    auto c = std::make_shared<ScriptedInfoClient>(serial, remote);
    c->name = QStringLiteral("Computer ") + serial;
    return c;
}

} // namespace

TEST(MonitorWindowFactory, MadeOnlyForTheFiveKindsWithATitle)
{
    for (const char* kind : {"SensorOverview", "SystemInfoDisplay", "DriveOverview", "SmartBatteryInfoDisplay", "DisplayInfoDisplay"}) {
        const auto factory = QtMonitorWindowFactory::monitorWindowFactoryForClass(QLatin1String(kind), QStringLiteral("Title"));
        ASSERT_TRUE(factory) << kind;
        EXPECT_EQ(factory->defaultWindowTitle(), QStringLiteral("Title"));
        EXPECT_FALSE(QtMonitorWindowFactory::monitorWindowFactoryForClass(QLatin1String(kind), QString())) << kind;
    }
    EXPECT_TRUE(kt::log().lines().isEmpty());
    EXPECT_FALSE(QtMonitorWindowFactory::monitorWindowFactoryForClass(QStringLiteral("HistoryWindow"), QStringLiteral("Title")));
    EXPECT_EQ(kt::log().lines(), QStringList{QStringLiteral("MonitorWindowFactory: class HistoryWindow is not a monitor window class\n")});
}

TEST(MonitorWindowFactory, ADuplicateAddLeavesOneWindowAndOneLogLine)
{
    const auto factory = QtMonitorWindowFactory::monitorWindowFactoryForClass(QStringLiteral("DriveOverview"), QStringLiteral("Drive Overview"));
    const auto first = client(QStringLiteral("A"));
    factory->addMonitoringClient(first, nullptr);
    factory->addMonitoringClient(first, nullptr);
    factory->addMonitoringClient(nullptr, nullptr);
    EXPECT_EQ(factory->windowControllerCount(), 1);
    EXPECT_EQ(kt::log().lines(),
              QStringList{QStringLiteral("MonitorWindowFactory: received request to add client which is already registered. Ignoring...\n")});
    // Added, not opened; opening refreshes first, so the title carries the computer's name.
    EXPECT_FALSE(factory->isWindowVisible());
    EXPECT_EQ(first->driveCalls, 0);
    factory->openWindowForMonitoringClient(first);
    EXPECT_TRUE(factory->isWindowVisible());
    EXPECT_EQ(first->driveCalls, 1);
    EXPECT_EQ(factory->windowControllerForClient(first)->window()->windowTitle(), QStringLiteral("Drive Overview - Computer A"));
}

// Computers of one name (identical machines of a rack) are told apart in their windows' titles by where each
// is reached, hidden windows too; a computer alone with its name again is named by it alone.
TEST(MonitorWindowFactory, TitlesTellComputersOfOneNameApart)
{
    const auto factory = QtMonitorWindowFactory::monitorWindowFactoryForClass(QStringLiteral("SensorOverview"), QStringLiteral("Sensor Overview"));
    QList<std::shared_ptr<ScriptedInfoClient>> clients;
    for (quint16 port : {4001, 4002, 4003}) {
        auto c = std::make_shared<ScriptedInfoClient>(QStringLiteral("KVREMOTE%1").arg(port), true,
                                                      MonitorConnectionInfo::createForRemoteConnection(QStringLiteral("127.0.0.1"), port));
        c->name = QStringLiteral("Studio Mac Pro");
        clients.append(c);
    }
    const auto title = [&](const std::shared_ptr<ScriptedInfoClient>& c) {
        return factory->windowControllerForClient(c)->window()->windowTitle();
    };
    factory->addMonitoringClient(clients[0], nullptr);
    factory->openWindowForMonitoringClient(clients[0]);
    EXPECT_EQ(title(clients[0]), QStringLiteral("Sensor Overview - Studio Mac Pro"));
    factory->addMonitoringClient(clients[1], nullptr);
    factory->addMonitoringClient(clients[2], nullptr);
    for (const auto& c : clients)
        EXPECT_EQ(title(c), QStringLiteral("Sensor Overview - Studio Mac Pro (127.0.0.1:%1)").arg(c->connectionInfo()->portNumber()));
    factory->updateAllWindows();
    EXPECT_EQ(title(clients[0]), QStringLiteral("Sensor Overview - Studio Mac Pro (127.0.0.1:4001)"));
    factory->removeMonitoringClient(clients[0]);
    factory->removeMonitoringClient(clients[1]);
    EXPECT_EQ(title(clients[2]), QStringLiteral("Sensor Overview - Studio Mac Pro"));
}

// The information windows are made when first opened: names given and computers removed meanwhile, the window
// made late has the title and the place one made at once would have.
TEST(MonitorWindowFactory, AWindowMadeWhenFirstOpenedHasItsTitleAndPlace)
{
    const std::pair<const char*, const char*> kinds[] = {{"SystemInfoDisplay", "System Information"},
                                                         {"DriveOverview", "Drive Overview"},
                                                         {"SmartBatteryInfoDisplay", "Battery Information"},
                                                         {"DisplayInfoDisplay", "Display Information"}};
    for (const auto& [kind, title] : kinds) {
        SCOPED_TRACE(kind);
        const auto factory = QtMonitorWindowFactory::monitorWindowFactoryForClass(QString::fromLatin1(kind), QString::fromLatin1(title));
        ASSERT_TRUE(factory);
        QList<std::shared_ptr<ScriptedInfoClient>> clients;
        for (quint16 port : {4001, 4002, 4003}) {
            auto c = std::make_shared<ScriptedInfoClient>(QStringLiteral("KVLATE%1").arg(port), true,
                                                          MonitorConnectionInfo::createForRemoteConnection(QStringLiteral("127.0.0.1"), port));
            c->name = QStringLiteral("Rack");
            clients.append(c);
            factory->addMonitoringClient(c, nullptr);
        }
        factory->updateAllWindows();
        EXPECT_FALSE(factory->isWindowVisible());
        for (const auto& c : clients)
            EXPECT_FALSE(factory->windowControllerForClient(c)->madeWindow());
        factory->removeMonitoringClient(clients[1]);
        factory->openWindowForMonitoringClient(clients[2]);
        QWidget* window = factory->windowControllerForClient(clients[2])->window();
        ASSERT_TRUE(window);
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->windowTitle(), QStringLiteral("%1 - Rack (127.0.0.1:4003)").arg(QString::fromLatin1(title)));
        // Cascaded from the window before it, made for that.
        QWidget* before = factory->windowControllerForClient(clients[0])->madeWindow();
        ASSERT_TRUE(before);
        EXPECT_FALSE(before->isVisible());
        EXPECT_EQ(window->pos(), before->pos() + QtMonitorWindowFactory::kCascadeOffset);
        EXPECT_TRUE(factory->isWindowVisible());
        factory->closeAllWindows();
    }
}

TEST(MonitorWindowFactory, ATickRefreshesOnlyTheOpenWindows)
{
    const auto factory = QtMonitorWindowFactory::monitorWindowFactoryForClass(QStringLiteral("DriveOverview"), QStringLiteral("Drives"));
    const auto shown = client(QStringLiteral("A"));
    const auto hidden = client(QStringLiteral("B"));
    factory->addMonitoringClient(shown, nullptr);
    factory->addMonitoringClient(hidden, nullptr);
    factory->openWindowForMonitoringClient(shown);
    factory->updateAllWindows();
    EXPECT_EQ(shown->driveCalls, 2);
    EXPECT_EQ(hidden->driveCalls, 0);
    factory->openWindowForMonitoringClient(hidden);
    EXPECT_EQ(hidden->driveCalls, 1);
}

TEST(MonitorWindowFactory, OpensAllWindowsEachCascadedFromTheOneBefore)
{
    const auto factory = QtMonitorWindowFactory::monitorWindowFactoryForClass(QStringLiteral("DriveOverview"), QStringLiteral("Drives"));
    const QList<std::shared_ptr<ScriptedInfoClient>> clients = {client(QStringLiteral("Z")), client(QStringLiteral("A")),
                                                                client(QStringLiteral("M"))};
    for (const auto& c : clients)
        factory->addMonitoringClient(c, nullptr);
    factory->windowControllerForClient(clients[0])->window()->move(140, 90);
    factory->windowControllerForClient(clients[1])->window()->move(600, 500);
    factory->openAllWindows();
    // In the order the clients came, not by identification.
    const QPoint first = factory->windowControllerForClient(clients[0])->window()->pos();
    const QPoint second = factory->windowControllerForClient(clients[1])->window()->pos();
    const QPoint third = factory->windowControllerForClient(clients[2])->window()->pos();
    EXPECT_EQ(first, QPoint(140, 90));
    EXPECT_EQ(second, first + QtMonitorWindowFactory::kCascadeOffset);
    EXPECT_EQ(third, second + QtMonitorWindowFactory::kCascadeOffset);
    for (const auto& c : clients)
        EXPECT_TRUE(factory->windowControllerForClient(c)->window()->isVisible());

    factory->closeAllWindows();
    EXPECT_FALSE(factory->isWindowVisible());
    EXPECT_EQ(factory->windowControllerCount(), 3) << "closing keeps the controllers";
    factory->openWindowForMonitoringClient(clients[2]);
    EXPECT_TRUE(factory->isWindowVisible());
    factory->closeWindowForMonitoringClient(clients[2]);
    EXPECT_FALSE(factory->isWindowVisible());
}

TEST(MonitorWindowFactory, RemovalClosesAndDropsOnlyThatClientsWindow)
{
    const auto factory = QtMonitorWindowFactory::monitorWindowFactoryForClass(QStringLiteral("DriveOverview"), QStringLiteral("Drives"));
    const auto a = client(QStringLiteral("A"));
    const auto b = client(QStringLiteral("B"));
    factory->addMonitoringClient(a, nullptr);
    factory->addMonitoringClient(b, nullptr);
    factory->openAllWindows();
    QWidget* window = factory->windowControllerForClient(a)->window();
    bool closed = false;
    struct CloseWatcher : QObject {
        bool* flag;
        explicit CloseWatcher(bool* f) : flag(f) {}
        bool eventFilter(QObject*, QEvent* event) override
        {
            if (event->type() == QEvent::Close)
                *flag = true;
            return false;
        }
    } watcher(&closed);
    window->installEventFilter(&watcher);
    QPointer<QWidget> guard(window);

    factory->removeMonitoringClient(a);
    EXPECT_TRUE(closed);
    EXPECT_TRUE(guard.isNull());
    EXPECT_FALSE(factory->windowControllerForClient(a));
    EXPECT_TRUE(factory->windowControllerForClient(b)->window()->isVisible());
    factory->removeMonitoringClient(a); // no longer there: ignored
    EXPECT_EQ(factory->windowControllerCount(), 1);

    // A second client of computer B (refused, or B turned out to be another connection to it) was never
    // added: its removal leaves B's window open.
    const auto sameAsB = client(QStringLiteral("B"));
    factory->removeMonitoringClient(sameAsB);
    EXPECT_EQ(factory->windowControllerCount(), 1);
    EXPECT_TRUE(factory->windowControllerForClient(b)->window()->isVisible());
}

TEST(MonitorWindowFactory, AWindowThatCannotBeMadeRegistersNothing)
{
    int made = 0;
    QtMonitorWindowFactory factory(
        [&made](const QtMonitorWindowFactory::ClientPtr&, const QString&) -> std::unique_ptr<MonitorWindowController> {
            ++made;
            return nullptr;
        },
        QStringLiteral("Title"));
    const auto a = client(QStringLiteral("A"));
    factory.addMonitoringClient(a, nullptr);
    EXPECT_EQ(made, 1);
    EXPECT_EQ(factory.windowControllerCount(), 0);
    factory.openAllWindows();
    factory.updateAllWindows();
    EXPECT_FALSE(factory.isWindowVisible());
}

// --- Connection window ----------------------------------------------------------------------------------

namespace {

class ConnectionWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        token_ = platform::NotificationCenter::defaultCenter().addObserver(
            MonitoringClient::shouldDisconnectNotification, {},
            [this](const platform::Notification& n) { requests.append(n.object.get()); });
    }
    void TearDown() override { platform::NotificationCenter::defaultCenter().removeObserver(token_); }

    void select(int row)
    {
        window.connectionTable()->selectionModel()->select(window.connectionTable()->model()->index(row, 0),
                                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }

    ConnectionWindowController window;
    ConnectionWindow::ClientList clients;
    QList<const void*> requests;

private:
    platform::ObserverToken token_;
};

} // namespace

TEST_F(ConnectionWindowTest, CountsNothingBeforeAListOrWithAnEmptyOne)
{
    EXPECT_EQ(window.summaryField()->text(), QStringLiteral("0 computers with 0 sensors connected."));
    window.connectToClientList(&clients);
    EXPECT_EQ(window.summaryField()->text(), QStringLiteral("0 computers with 0 sensors connected."));
    EXPECT_EQ(window.numberOfRows(), 0);
    EXPECT_FALSE(window.disconnectButton()->isEnabled());
}

// Most sessions never open it: until then it keeps its rows but builds no widget, and the first look shows them.
TEST_F(ConnectionWindowTest, BuildsItsWindowOnlyWhenFirstAskedAndThenShowsTheRowsItKept)
{
    const auto widgets = QApplication::allWidgets().size();
    ConnectionWindowController unopened;
    const auto local = client(QStringLiteral("LOCAL"));
    local->sensors = 40;
    clients.append(local);
    unopened.connectToClientList(&clients);
    unopened.updateContents();
    unopened.disconnectSelectedSystem();
    EXPECT_EQ(QApplication::allWidgets().size(), widgets);
    EXPECT_EQ(unopened.numberOfRows(), 1);
    EXPECT_EQ(unopened.summaryField()->text(), QStringLiteral("1 computers with 40 sensors connected."));
    EXPECT_FALSE(unopened.disconnectButton()->isEnabled());
    EXPECT_TRUE(requests.isEmpty());
}

TEST_F(ConnectionWindowTest, TheLocalComputerCannotBeDisconnectedARemoteOneCan)
{
    const auto local = client(QStringLiteral("LOCAL"));
    local->sensors = 40;
    clients.append(local);
    window.connectToClientList(&clients);
    EXPECT_EQ(window.numberOfRows(), 1);
    EXPECT_EQ(window.summaryField()->text(), QStringLiteral("1 computers with 40 sensors connected."));
    select(0);
    EXPECT_FALSE(window.disconnectButton()->isEnabled());

    // The controller's own list, read at the next update.
    const auto remote = client(QStringLiteral("REMOTE"), true);
    remote->sensors = 12;
    clients.append(remote);
    EXPECT_EQ(window.numberOfRows(), 1);
    window.updateContents();
    EXPECT_EQ(window.summaryField()->text(), QStringLiteral("2 computers with 52 sensors connected."));
    EXPECT_FALSE(window.disconnectButton()->isEnabled()) << "a reload clears the selection";
    window.disconnectSelectedSystem();
    EXPECT_TRUE(requests.isEmpty());

    select(1);
    EXPECT_TRUE(window.disconnectButton()->isEnabled());
    window.disconnectButton()->click();
    EXPECT_EQ(requests, QList<const void*>{remote->notificationIdentity()});
    select(0);
    EXPECT_FALSE(window.disconnectButton()->isEnabled());
}

TEST_F(ConnectionWindowTest, ShowsEachColumnOfTheClient)
{
    const auto c = client(QStringLiteral("C02XYZ"));
    c->model = QStringLiteral("NoSuchModel9,9");
    c->host = QStringLiteral("tower.local");
    c->sensors = 7;
    clients.append(c);
    window.connectToClientList(&clients);
    struct Case {
        const char* column;
        QString expected;
    };
    const Case cases[] = {{"Name", QStringLiteral("Computer C02XYZ")},
                          {"Type", QStringLiteral("NoSuchModel9,9")}, // no name for it: the code itself
                          {"Serial", QStringLiteral("C02XYZ")},
                          {"Hostname", QStringLiteral("tower.local")},
                          {"Sensors", QStringLiteral("7")},
                          {"Other", QString()}};
    for (const Case& k : cases)
        EXPECT_EQ(window.objectValueForTableColumn(QLatin1String(k.column), 0), k.expected) << k.column;
    EXPECT_EQ(window.connectionTable()->model()->data(window.connectionTable()->model()->index(0, 4)), QStringLiteral("7"));
    EXPECT_EQ(window.objectValueForTableColumn(QStringLiteral("Name"), 1), QString());
}

TEST_F(ConnectionWindowTest, TheWindowIsWideEnoughForEveryColumn)
{
    const auto c = client(QStringLiteral("C02XYZ12ABCD"));
    c->model = QStringLiteral("Precision Tower 7910 Workstation");
    c->host = QStringLiteral("office-tower-2.lab.local");
    clients.append(c);
    window.connectToClientList(&clients);
    window.openWindow();
    QTableView* table = window.connectionTable();
    EXPECT_GE(table->viewport()->width(), table->horizontalHeader()->length());

    // Grown from a place near the screen's right edge, it moves left to stay on the screen.
    ConnectionWindowController nearTheEdge;
    const QRect screen = nearTheEdge.window()->screen()->availableGeometry();
    nearTheEdge.window()->move(screen.right() - 100, screen.top() + 20);
    nearTheEdge.connectToClientList(&clients);
    nearTheEdge.openWindow();
    QCoreApplication::processEvents(); // the window system applies the new frame
    // (The window system's borders are known only once it shows.)
    const QRect frame = nearTheEdge.window()->frameGeometry();
    EXPECT_LE(frame.x() + nearTheEdge.window()->width(), screen.x() + screen.width()) << frame.x();
    EXPECT_GE(frame.x(), screen.x());
}
