// The remote-connect panel with a fake browser: the ports that enable Connect, deselection on the user's
// edits only, what is handed over in which order, Cancel and the pull-down of lists; and the real discovery
// without a daemon, whose error shows on the message line.

#include "tests/windows/remote/RemoteTestSupport.h"

#include "platform/net/AvahiServiceDiscovery.h"
#include "tests/support/DesktopFakes.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"

#include <QDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cerrno>

namespace kt = kelvaro::test;

namespace {

class RemoteConnectPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        f.make();
        f.panel->showWindow();
    }
    // Replaces the selection with these rows, selected one after the other.
    void select(std::initializer_list<int> rows)
    {
        QItemSelectionModel* selection = f.panel->serviceTable()->selectionModel();
        selection->clearSelection();
        for (const int row : rows)
            selection->select(selection->model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    void connect() { f.panel->closeConnectPanel(f.panel->connectButton()); }
    bool isOpen() { return f.panel->window()->isVisible(); }
    QStringList pullDown()
    {
        QStringList titles;
        for (QAction* item : f.panel->computerListPopUp()->menu()->actions())
            titles.append(item->isSeparator() ? QStringLiteral("-") : item->text());
        return titles;
    }

    kt::ScopedDesktopFakes fakes;
    kt::PanelFixture f;
};

} // namespace

TEST_F(RemoteConnectPanelTest, BrowsesAtOnceProposes37037AndEnablesConnectForAHostWithAPortFrom1024To65535)
{
    EXPECT_EQ(f.browser->starts, 1);
    EXPECT_EQ(f.panel->portField()->text(), QStringLiteral("37037"));
    EXPECT_FALSE(f.panel->connectButton()->isEnabled());
    const std::tuple<const char*, const char*, bool> rows[] = {
        {"lab", "1023", false}, {"lab", "1024", true}, {"lab", "65535", true}, {"lab", "65536", false},
        {"lab", "abc", false},  {"lab", " 2000x", true}, {" ", "37037", true},  {"", "37037", false},
    };
    for (const auto& [host, port, enabled] : rows) {
        f.panel->hostField()->setText(QString::fromUtf8(host));
        f.panel->portField()->setText(QString::fromUtf8(port));
        EXPECT_EQ(f.panel->connectButton()->isEnabled(), enabled) << host << " " << port;
    }
}

TEST_F(RemoteConnectPanelTest, ChoosingAServiceEmptiesTheHostAndOnlyTheUsersEditsDeselect)
{
    f.browser->find({"Lab", "Office"});
    QTest::keyClicks(f.panel->hostField(), QStringLiteral("typed"));
    select({0});
    EXPECT_TRUE(f.panel->hostField()->text().isEmpty());
    EXPECT_TRUE(f.panel->connectButton()->isEnabled());
    f.panel->hostField()->setText(QStringLiteral("set by the program"));
    EXPECT_TRUE(f.panel->isNetServiceConnectPossible());
    QTest::keyClicks(f.panel->portField(), QStringLiteral("1"));
    EXPECT_FALSE(f.panel->isNetServiceConnectPossible());
    select({1});
    QTest::keyClicks(f.panel->hostField(), QStringLiteral("h"));
    EXPECT_FALSE(f.panel->isNetServiceConnectPossible());
    EXPECT_EQ(f.panel->hostField()->text(), QStringLiteral("h"));
    // New finds keep the selected rows selected.
    select({1});
    f.browser->find({"Attic"});
    EXPECT_EQ(f.panel->selectedNetServices(), QList<platform::NetService>{kt::FakeRemoteServiceBrowser::agent("Office")});
}

TEST_F(RemoteConnectPanelTest, ConnectHandsOverTheServicesInRowOrderElseATypedHostElseBeeps)
{
    connect();
    EXPECT_EQ(fakes.alerts->beeps, 1);
    EXPECT_TRUE(isOpen());

    f.browser->find({"Cellar", "Attic", "Barn"});
    f.panel->hostField()->setText(QStringLiteral("ignored"));
    select({2, 0}); // Attic, Barn, Cellar
    QTest::mouseClick(f.panel->connectButton(), Qt::LeftButton);
    EXPECT_FALSE(isOpen());

    f.panel->showWindow();
    QTest::keyClicks(f.panel->hostField(), QStringLiteral(" "));
    f.panel->portField()->setText(QStringLiteral("65535"));
    connect();
    EXPECT_EQ(f.delegate->handOvers, (QStringList{"bonjour:Attic bonjour:Cellar", " :65535"}));
    EXPECT_EQ(f.delegate->senders.value(1), f.panel.get());
    EXPECT_FALSE(isOpen());

    // Without a delegate nothing goes anywhere, and the panel still closes.
    f.panel->setDelegate({});
    f.panel->showWindow();
    connect();
    EXPECT_EQ(f.delegate->handOvers.size(), 2);
    EXPECT_FALSE(isOpen());
    EXPECT_EQ(fakes.alerts->beeps, 1);
}

TEST_F(RemoteConnectPanelTest, CancelNeverHandsAnythingOver)
{
    f.browser->find({"Lab"});
    select({0});
    QTest::mouseClick(f.panel->cancelButton(), Qt::LeftButton);
    EXPECT_FALSE(isOpen());
    f.panel->showWindow();
    f.panel->hostField()->setText(QStringLiteral("lab"));
    f.panel->closeConnectPanel(nullptr);
    EXPECT_FALSE(isOpen());
    EXPECT_TRUE(f.delegate->handOvers.isEmpty());
}

TEST_F(RemoteConnectPanelTest, ThePullDownConnectsAWholeListInRootOrderAndStaysOpen)
{
    EXPECT_EQ(pullDown(), (QStringList{"Computer Lists", "-", "Edit Computer Lists..."}));
    const QVariantMap manual{{"ConnectionSpecifier", "Manual"}, {"ServiceName", "a.lab"}, {"ServicePort", 4000}};
    const QVariantMap bonjour{{"ConnectionSpecifier", "Bonjour"}, {"ServiceName", "Lab"}, {"ServiceDomain", "local."}};
    f.make(QVariantMap{{"Alpha", QVariantList{manual, QVariantList{"b.lab", 5000}}}, {"Beta", QVariantList{}},
                       {"Gamma", QVariantList{bonjour}}});
    f.panel->showWindow();
    f.panel->addNewComputerList();
    EXPECT_EQ(pullDown(), (QStringList{"Computer Lists", "Alpha", "Beta", "Gamma", "New List", "-", "Edit Computer Lists..."}));
    for (int i = 1; i <= 3; ++i)
        f.panel->computerListPopUp()->menu()->actions().at(i)->trigger();
    EXPECT_EQ(f.delegate->handOvers, (QStringList{"a.lab:4000 b.lab:5000", "", "bonjour:Lab"}));
    EXPECT_TRUE(isOpen());
}

TEST_F(RemoteConnectPanelTest, ABrowsingFailureStaysOnTheMessageLine)
{
    f.browser->fail({QStringLiteral("NSCocoaErrorDomain"), 3072, {}});
    EXPECT_EQ(f.panel->bonjourProblemMessage()->text(), QStringLiteral("Bonjour problem: The operation was cancelled."));
    f.browser->fail({QStringLiteral("Any"), 1, {{QStringLiteral("NSLocalizedDescription"), QStringLiteral("No network")}}});
    EXPECT_EQ(f.panel->bonjourProblemMessage()->text(), QStringLiteral("Bonjour problem: No network"));
}

TEST(RemoteConnectPanelDiscovery, WithoutADaemonTheMessageLineShowsTheRefusedConnection)
{
    kt::PrivateBus bus;
    ASSERT_TRUE(bus.isRunning()) << "dbus-daemon did not start";
    const QDBusConnection connection = bus.connect(QStringLiteral("panel-no-avahi"));
    auto discovery = std::make_shared<platform::AvahiServiceDiscovery>([connection] { return connection; });
    QTemporaryDir dir;
    RemoteConnectPanel panel(RemoteServiceBrowser::createBonjourBrowser(discovery),
                             std::make_shared<platform::UserDefaults>(dir.filePath(QStringLiteral("d.plist"))));
    // The failure comes before the window is loaded, and shows once it is.
    int failures = 0;
    QObject::connect(panel.browser(), &RemoteServiceBrowser::didStopWithError, [&] { ++failures; });
    ASSERT_TRUE(kt::waitFor([&] { return failures > 0; }));
    EXPECT_EQ(panel.bonjourProblemMessage()->text(),
              QStringLiteral("Bonjour problem: The operation could not be completed. ") + qt_error_string(ECONNREFUSED));
}
