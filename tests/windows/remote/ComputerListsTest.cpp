// The computer lists: the stored form read (both member forms and the older pair) and written byte for byte,
// unreadable lists kept when saving, the validation codes, ports brought into range, the new names, the
// add and remove commands of the editor.

#include "tests/windows/remote/RemoteTestSupport.h"

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"
#include "tests/support/DesktopFakes.h"
#include "tests/support/QtPrinters.h"
#include "tests/support/TestEnvironment.h"
#include "windows/remote/ComputerListModel.h"

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QItemSelectionModel>
#include <QTableView>
#include <QTreeView>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;
using Node = ComputerListPresentationNode;

namespace {

const QVariantMap kManual{{"ConnectionSpecifier", "Manual"}, {"ServiceName", "office-1.lab"}, {"ServicePort", 37037}};
const QVariantMap kBonjour{{"ConnectionSpecifier", "Bonjour"}, {"ServiceName", "Lab Mac"}, {"ServiceDomain", "local."}};

class ComputerListsTest : public ::testing::Test {
protected:
    ComputerListRoot& root() { return *f.panel->computerListNodes(); }
    QTreeView* outline() { return f.panel->computerListOutline(); }
    QModelIndex indexOf(const ComputerListNodePtr& node) { return f.panel->computerListModel()->indexForNode(node); }
    void selectRow(const ComputerListNodePtr& node)
    {
        outline()->selectionModel()->setCurrentIndex(indexOf(node), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    ComputerListNodePtr selected()
    {
        const auto rows = outline()->selectionModel()->selectedRows();
        return rows.isEmpty() ? nullptr : f.panel->computerListModel()->nodeForIndex(rows.first());
    }
    // The outline's text: "name|port" per row, members indented.
    QStringList shown()
    {
        QStringList lines;
        for (const auto& list : root().nodes) {
            lines.append(list->presentedName() + QLatin1Char('|'));
            for (const auto& member : *list->members())
                lines.append(QStringLiteral("  ") + member->presentedName() + QLatin1Char('|') + member->presentedPortNumber());
        }
        return lines;
    }
    std::optional<QVariantMap> saved() { return f.defaults->dictionaryForKey(RemoteConnectPanel::kComputerListsKey); }

    kt::ScopedDesktopFakes fakes;
    kt::PanelFixture f;
};

} // namespace

TEST_F(ComputerListsTest, ReadsBothMemberFormsAndTheOlderPairAndWritesDictionaries)
{
    f.make(QVariantMap{{"Office", QVariantList{kManual, QVariantList{"office-2.lab", 5000}, kBonjour}}});
    EXPECT_EQ(shown(), (QStringList{"Office|", "  office-1.lab|37037", "  office-2.lab|5000", "  Lab Mac|automatic (Bonjour)"}));
    f.panel->saveComputerListsToPreferences();
    EXPECT_EQ(QString::fromUtf8(kt::readFile(f.path)), QStringLiteral(R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>ComputerLists</key>
	<dict>
		<key>Office</key>
		<array>
			<dict>
				<key>ConnectionSpecifier</key>
				<string>Manual</string>
				<key>ServiceName</key>
				<string>office-1.lab</string>
				<key>ServicePort</key>
				<integer>37037</integer>
			</dict>
			<dict>
				<key>ConnectionSpecifier</key>
				<string>Manual</string>
				<key>ServiceName</key>
				<string>office-2.lab</string>
				<key>ServicePort</key>
				<integer>5000</integer>
			</dict>
			<dict>
				<key>ConnectionSpecifier</key>
				<string>Bonjour</string>
				<key>ServiceDomain</key>
				<string>local.</string>
				<key>ServiceName</key>
				<string>Lab Mac</string>
			</dict>
		</array>
	</dict>
</dict>
</plist>
)"));
}

TEST_F(ComputerListsTest, SkipsMalformedMembersAndKeepsUnreadableListsUntilAShownListTakesTheName)
{
    const QVariantMap stored{
        {"", QVariantList{kManual}},
        {"Attic", QVariantList{QVariantList{"", 5000}, QVariantList{"h", "5000"}, QVariantList{"h", 1, 2}, QVariantList{"h", true},
                               QVariantMap{{"ConnectionSpecifier", "Manual"}}, 42, QVariantList{"wrap", 70000},
                               QVariantMap{{"ConnectionSpecifier", "Local"}, {"ApplicationName", "Kelvaro"}}}},
        {"Broken", QStringLiteral("no array")},
        {"Cellar", QVariantList{kBonjour}},
    };
    f.make(stored);
    EXPECT_EQ(shown(), (QStringList{"Attic|", "  Kelvaro|", "Cellar|", "  Lab Mac|automatic (Bonjour)"}));
    EXPECT_EQ(f.panel->unreadableComputerLists().keys(), (QStringList{"", "Broken"}));
    f.panel->saveComputerListsToPreferences();
    EXPECT_EQ(saved()->keys(), (QStringList{"", "Attic", "Broken", "Cellar"}));
    EXPECT_EQ(saved()->value("Broken"), QVariant(QStringLiteral("no array")));
    EXPECT_EQ(saved()->value("").toList().size(), 1);

    root().nodes.first()->setPresentedName(QStringLiteral("Broken"));
    f.panel->saveComputerListsToPreferences();
    root().nodes.first()->setPresentedName(QStringLiteral("Attic"));
    f.panel->saveComputerListsToPreferences();
    EXPECT_EQ(saved()->keys(), (QStringList{"", "Attic", "Cellar"}));

    auto other = std::make_shared<ComputerListRoot>();
    EXPECT_FALSE(Node::addComputerListPresentationNodesFromPropertyList(stored, other));
    EXPECT_EQ(other->nodes.size(), 2);
    EXPECT_TRUE(Node::addComputerListPresentationNodesFromPropertyList(QVariantMap{{"A", QVariantList{}}}, other));
    EXPECT_FALSE(Node::addComputerListPresentationNodesFromPropertyList(std::nullopt, other));

    // A stored value that is no dictionary gives no lists and stays as it is; saving no lists otherwise
    // stores an empty dictionary.
    f.make(QVariant(QStringLiteral("not a dictionary")));
    EXPECT_TRUE(root().nodes.isEmpty());
    f.panel->saveComputerListsToPreferences();
    EXPECT_EQ(f.defaults->objectForKey(RemoteConnectPanel::kComputerListsKey), QVariant(QStringLiteral("not a dictionary")));
    f.make(QVariantMap{});
    f.panel->saveComputerListsToPreferences();
    EXPECT_EQ(saved(), QVariantMap());
}

TEST_F(ComputerListsTest, NamesMustBeNonEmptyAndUniqueAmongSiblings)
{
    f.make(QVariantMap{{"Home", QVariantList{kManual}}, {"Work", QVariantList{QVariantList{"desk", 5000}}}});
    const auto home = root().nodes.at(0);
    platform::Error error;
    EXPECT_FALSE(home->validatePresentedName(QString(""), &error));
    EXPECT_EQ(error, (platform::Error{"com.tarnwell.internal.ComputerListPresentationNode", 1,
                                      {{"NSLocalizedDescription", "The name must not be empty."},
                                       {"NSLocalizedRecoverySuggestion", "Please specify a valid name."}}}));
    EXPECT_FALSE(home->validatePresentedName(QStringLiteral("Work"), &error));
    EXPECT_EQ(error, (platform::Error{"com.tarnwell.internal.ComputerListPresentationNode", 2,
                                      {{"NSLocalizedDescription", "This name is in use already."},
                                       {"NSLocalizedRecoverySuggestion", "Please specify a different name."}}}));
    EXPECT_TRUE(home->validatePresentedName(QStringLiteral("Home"), nullptr));
    EXPECT_TRUE(home->validatePresentedName(QVariant(), nullptr));
    EXPECT_TRUE(root().nodes.at(1)->members()->first()->validatePresentedName(QStringLiteral("office-1.lab"), nullptr));

    // Through the outline: refused, the old name kept, the error shown once the edit has ended.
    EXPECT_FALSE(f.panel->computerListModel()->setData(indexOf(home), QStringLiteral("Work"), Qt::EditRole));
    EXPECT_EQ(home->presentedName(), QStringLiteral("Home"));
    QCoreApplication::processEvents();
    ASSERT_EQ(fakes.alerts->shown.size(), 1);
    EXPECT_EQ(fakes.alerts->shown.first().informativeText, QStringLiteral("Please specify a different name."));

    auto orphan = Node::createAsEmptyListNamed(QStringLiteral("Orphan"), std::make_shared<ComputerListRoot>());
    EXPECT_TRUE(orphan->validatePresentedName(QStringLiteral("Any"), nullptr));
    ASSERT_EQ(kt::log().lines().size(), 1);
    EXPECT_TRUE(kt::log().lines().first().contains(QRegularExpression("^ComputerListPresentationNode <0x[0-9a-f]+>: parent has unexpected class '\\(null\\)'\n$")));
}

TEST_F(ComputerListsTest, RenamesMakeNewDescriptorsAndPortsAreBroughtIntoRange)
{
    f.make(QVariantMap{{"L", QVariantList{kBonjour, kManual}}});
    const auto bonjour = root().nodes.first()->members()->at(0);
    const auto manual = root().nodes.first()->members()->at(1);
    bonjour->setPresentedName(QStringLiteral("Other Mac"));
    EXPECT_EQ(*bonjour->connectionInfo()->netService(), kt::FakeRemoteServiceBrowser::agent("Other Mac"));
    bonjour->setPresentedPortNumber(QStringLiteral("5000"));
    EXPECT_EQ(bonjour->presentedPortNumber(), QStringLiteral("automatic (Bonjour)"));
    EXPECT_FALSE(f.panel->computerListModel()->flags(indexOf(bonjour).siblingAtColumn(1)) & Qt::ItemIsEditable);
    manual->setPresentedName(QStringLiteral("renamed.lab"));
    manual->setPresentedName(QString());
    EXPECT_EQ(manual->connectionInfo()->description(), QStringLiteral("remote connection to host 'renamed.lab' port 37037"));

    for (const auto& [typed, validated] : {std::pair{"80", "1024"}, {"70000", "65535"}, {"abc", "1024"}, {"4000", "4000"}}) {
        QVariant value = QString::fromLatin1(typed);
        EXPECT_TRUE(manual->validatePresentedPortNumber(&value, nullptr));
        EXPECT_EQ(value.toString(), QString::fromLatin1(validated)) << typed;
    }
    EXPECT_TRUE(f.panel->computerListModel()->setData(indexOf(manual).siblingAtColumn(1), QStringLiteral("80"), Qt::EditRole));
    EXPECT_EQ(manual->presentedPortNumber(), QStringLiteral("1024"));
}

TEST_F(ComputerListsTest, AddMakesListsOrMembersByTheSelectedRowUnderTheFirstFreeName)
{
    f.make();
    f.panel->addComputerListNode(); // nothing selected: a list
    const auto first = root().nodes.first();
    selectRow(first);
    f.panel->addComputerListNode(); // collapsed: a list
    f.panel->addNewComputerList();
    outline()->expand(indexOf(first));
    f.panel->addComputerListNode(); // expanded: a member
    selectRow(first->members()->first());
    f.panel->addComputerListNode(); // a member: one more in its list
    EXPECT_EQ(shown(), (QStringList{"New List|", "  New-Computer|37037", "  New-Computer-2|37037", "New List 2|", "New List 3|"}));
    root().nodes.at(1)->setPresentedName(QStringLiteral("Servers"));
    EXPECT_EQ(f.panel->addNewComputerList()->presentedName(), QStringLiteral("New List 2"));
    EXPECT_FALSE(f.panel->addNewMemberToComputerListNode(first->members()->first()));
}

TEST_F(ComputerListsTest, AddingSelectedServicesSkipsNamesTheListHasAndBeepsWithoutASelection)
{
    f.make(QVariantMap{{"L", QVariantList{kBonjour}}});
    f.browser->find({"Lab Mac", "Attic"});
    f.panel->addSelectedServicesToList(); // neither selected
    f.panel->serviceTable()->selectAll();
    f.panel->addSelectedServicesToList(); // no row of the outline
    EXPECT_EQ(fakes.alerts->beeps, 2);
    selectRow(root().nodes.first());
    f.panel->addSelectedServicesToList();
    EXPECT_EQ(shown(), (QStringList{"L|", "  Lab Mac|automatic (Bonjour)", "  Attic|automatic (Bonjour)"}));
    EXPECT_TRUE(outline()->isExpanded(indexOf(root().nodes.first())));
}

TEST_F(ComputerListsTest, RemovingSelectsTheRowAfterTheRemovedOneOrTheLast)
{
    f.make();
    f.panel->removeComputerListNode();
    EXPECT_EQ(fakes.alerts->beeps, 1);
    selectRow(f.panel->addNewComputerList());
    f.panel->removeComputerListNode();
    EXPECT_FALSE(selected());

    // Rows: A, its two members, B, C.
    const auto a = f.panel->addNewComputerList();
    f.panel->addNewMemberToComputerListNode(a);
    f.panel->addNewMemberToComputerListNode(a);
    const auto b = f.panel->addNewComputerList();
    selectRow(f.panel->addNewComputerList());
    outline()->expand(indexOf(a));
    f.panel->removeComputerListNode();
    EXPECT_EQ(selected(), b); // the new last row
    selectRow(a->members()->first());
    f.panel->removeComputerListNode();
    EXPECT_EQ(selected(), b); // row 1 + 1
    selectRow(a);
    f.panel->removeComputerListNode();
    EXPECT_EQ(root().nodes, ComputerListNodeArray{b});
    EXPECT_EQ(selected(), b);
}

TEST_F(ComputerListsTest, ClosingTheSheetWritesTheLists)
{
    f.make();
    f.panel->showWindow();
    f.panel->openComputerListSheet();
    f.panel->addNewComputerList();
    f.panel->closeComputerListSheet();
    EXPECT_FALSE(f.panel->computerListSheet()->isVisible());
    EXPECT_EQ(platform::UserDefaults(f.path).dictionaryForKey(RemoteConnectPanel::kComputerListsKey),
              (QVariantMap{{"New List", QVariantList{}}}));
}

// What the editor cannot read is written back as it was, through the file: the editor opened and closed
// without an edit leaves each entry unchanged. Old-form ports beyond 16 bits are not cut into another port:
// the member is not shown or connected, and the editor says so once.
TEST_F(ComputerListsTest, UnreadableStoredEntriesSurviveOpeningAndClosingTheEditor)
{
    const QByteArray manual = "<dict><key>ConnectionSpecifier</key><string>Manual</string><key>ServiceName</key>"
                              "<string>office-1.lab</string><key>ServicePort</key><integer>37037</integer></dict>";
    struct Row {
        const char* name;
        QByteArray stored;    // the value of "ComputerLists"
        QStringList shown;    // the outline afterwards
        QStringList handOver; // what connecting the first list hands over ("-": no list)
        int errors;           // alerts when the editor opens
    };
    const Row rows[] = {
        {"no dictionary", "<array><string>Office</string></array>", {}, {"-"}, 0},
        {"a string", "<string>Office</string>", {}, {"-"}, 0},
        {"a member that is no descriptor",
         "<dict><key>Office</key><array>" + manual + "<integer>42</integer></array></dict>",
         {"Office|", "  office-1.lab|37037"}, {"office-1.lab:37037"}, 0},
        {"a descriptor without a host",
         "<dict><key>Office</key><array><dict><key>ConnectionSpecifier</key><string>Manual</string><key>ServicePort</key>"
         "<integer>5000</integer></dict>" + manual + "</array></dict>",
         {"Office|", "  office-1.lab|37037"}, {"office-1.lab:37037"}, 0},
        {"an old-form port of 70000",
         "<dict><key>Office</key><array><array><string>wrap.lab</string><integer>70000</integer></array>" + manual + "</array></dict>",
         {"Office|", "  office-1.lab|37037"}, {"office-1.lab:37037"}, 1},
        {"an old-form port of -1",
         "<dict><key>Office</key><array>" + manual + "<array><string>neg.lab</string><integer>-1</integer></array></array></dict>",
         {"Office|", "  office-1.lab|37037"}, {"office-1.lab:37037"}, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const QByteArray bytes = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict><key>ComputerLists</key>"
                                 + row.stored + "</dict></plist>";
        kt::writeFile(f.path, bytes);
        f.make();
        EXPECT_EQ(shown(), row.shown);
        f.delegate->handOvers.clear();
        if (!root().nodes.isEmpty()) {
            QAction action;
            action.setData(QVariant::fromValue(root().nodes.first()));
            f.panel->connectComputerList(&action);
        }
        EXPECT_EQ(f.delegate->handOvers.isEmpty() ? QStringList{"-"} : f.delegate->handOvers, row.handOver);

        fakes.alerts->shown.clear();
        f.panel->showWindow();
        f.panel->openComputerListSheet();
        QCoreApplication::processEvents();
        f.panel->closeComputerListSheet();
        QCoreApplication::processEvents();
        ASSERT_EQ(fakes.alerts->shown.size(), row.errors);
        if (row.errors) {
            EXPECT_TRUE(fakes.alerts->shown.first().messageText.contains("out of range"));
        }
        f.panel->openComputerListSheet(); // told once
        f.panel->closeComputerListSheet();
        QCoreApplication::processEvents();
        EXPECT_EQ(fakes.alerts->shown.size(), row.errors);

        const QVariant before = platform::readPropertyList(bytes).value.toMap().value("ComputerLists");
        const QVariant after = platform::readPropertyList(kt::readFile(f.path)).value.toMap().value("ComputerLists");
        EXPECT_TRUE(platform::values::strictlyEqual(after, before)) << kt::readFile(f.path).toStdString();
    }
}
