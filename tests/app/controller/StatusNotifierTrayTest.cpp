// The tray on a StatusNotifier host, over a session bus of this test process alone: a watcher of the test's own
// (on a connection of its own, as a tray host is another process) takes the registrations, and reads icons and
// menu as a host does.

#include "platform/desktop/widgets/QtStatusItem.h"
#include "tests/support/DesktopFakes.h"

#include <QAction>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTest>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <utility>

using platform::QtStatusItem;

namespace {

const QString kWatcher = QStringLiteral("org.kde.StatusNotifierWatcher");

// A watcher is one per bus, and the tests of all processes share one: the tray of this process runs on a bus
// of its own, set as the session bus before anything connects to one. A process that ran other tests first
// (all of them in one) keeps the bus they connected to, which no other process shares then.
bool usePrivateSessionBus()
{
    static const bool ready = [] {
        if (QDBusConnection(QStringLiteral("qt_default_session_bus")).isConnected())
            return true;
        static kelvaro::test::PrivateBus bus;
        if (!bus.isRunning())
            return false;
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8());
        return true;
    }();
    return ready && QDBusConnection::sessionBus().isConnected();
}

// Takes RegisterStatusNotifierItem calls and keeps what they name, in order.
class TestWatcher final : public QDBusVirtualObject {
public:
    QStringList registered;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("RegisterStatusNotifierItem"))
            return false;
        registered.append(message.service() + message.arguments().value(0).toString());
        connection.send(message.createReply());
        return true;
    }
};

struct Host {
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("test-tray-host"));
    TestWatcher watcher;

    Host()
    {
        bus.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), &watcher);
        bus.registerService(kWatcher);
    }
    ~Host()
    {
        bus.unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        bus.unregisterService(kWatcher);
        QDBusConnection::disconnectFromBus(QStringLiteral("test-tray-host"));
    }

    // A call into this process's own main thread: answered while the test's event loop runs.
    QDBusMessage call(const QString& entry, const QString& interface, const QString& member, const QVariantList& args)
    {
        const qsizetype slash = entry.indexOf(QLatin1Char('/'));
        QDBusMessage message = QDBusMessage::createMethodCall(entry.left(slash), entry.mid(slash), interface, member);
        message.setArguments(args);
        QDBusPendingCall pending = bus.asyncCall(message, 10000);
        EXPECT_TRUE(QTest::qWaitFor([&] { return pending.isFinished(); }, 15000));
        return pending.reply();
    }
    QVariant property(const QString& entry, const QString& name)
    {
        const QDBusMessage reply = call(entry, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                                        {QStringLiteral("org.kde.StatusNotifierItem"), name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    // The items' statuses, in the order they were first registered.
    QStringList statuses()
    {
        QStringList result;
        for (const QString& entry : unique())
            result.append(property(entry, QStringLiteral("Status")).toString());
        return result;
    }
    QStringList unique() const
    {
        QStringList entries = watcher.registered;
        entries.removeDuplicates();
        return entries;
    }
    // The menu's object, as "service/path".
    QString menuOf(const QString& entry)
    {
        return entry.left(entry.indexOf(QLatin1Char('/'))) +
               property(entry, QStringLiteral("Menu")).value<QDBusObjectPath>().path();
    }
    // The labels of the menu's top level, separators as "-", and the revision it came with.
    std::pair<uint, QStringList> menu(const QString& entry)
    {
        const QDBusMessage reply = call(menuOf(entry), QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"),
                                        {0, -1, QStringList()});
        QStringList labels;
        for (const QDBusArgument& child : readNode(reply.arguments().value(1).value<QDBusArgument>()).children) {
            const QVariantMap properties = readNode(child).properties;
            labels.append(properties.value(QStringLiteral("type")).toString() == QLatin1String("separator")
                              ? QStringLiteral("-")
                              : properties.value(QStringLiteral("label")).toString());
        }
        return {reply.arguments().value(0).toUInt(), labels};
    }
    // One node of a menu layout: its properties, and its children still to be read.
    struct Node {
        QVariantMap properties;
        QList<QDBusArgument> children;
    };
    static Node readNode(const QDBusArgument& layout)
    {
        Node node;
        int id = 0;
        layout.beginStructure();
        layout >> id >> node.properties;
        layout.beginArray();
        while (!layout.atEnd()) {
            QDBusVariant child;
            layout >> child;
            node.children.append(child.variant().value<QDBusArgument>());
        }
        layout.endArray();
        layout.endStructure();
        return node;
    }
};

QtStatusItem::Title title(int count)
{
    QtStatusItem::Title runs;
    for (int i = 0; i < count; ++i)
        runs.append({QStringLiteral(" %1°C").arg(40 + i), QColor(Qt::red), false});
    return runs;
}

} // namespace

TEST(StatusNotifierTray, IconsComeAndGoByDifferenceAndAreKeptForTheNextItem)
{
    ASSERT_TRUE(usePrivateSessionBus()) << "no bus of this test's own";
    Host host;
    QAction quit(QStringLiteral("Quit"));
    auto item = std::make_unique<QtStatusItem>();
    item->setTrailingActions({&quit});

    // Each count as the Display menu gives it: hidden icons stay registered and come back, none is made anew.
    const struct {
        int count;
        int registered;
    } rows[] = {{1, 1}, {3, 3}, {2, 3}, {3, 3}, {1, 3}};
    for (const auto& row : rows) {
        item->setTitle(title(row.count), QFont());
        EXPECT_TRUE(QTest::qWaitFor([&] {
            const QStringList seen = host.statuses();
            return seen.size() == row.registered && seen.count(QStringLiteral("Active")) == row.count;
        }, 15000)) << row.count << ": " << host.statuses().join(' ').toStdString();
    }
    ASSERT_EQ(host.unique().size(), 3);
    for (const QString& entry : host.unique())
        EXPECT_TRUE(host.property(entry, QStringLiteral("ItemIsMenu")).toBool());

    // The next item (Lite makes one when its computer is ready) shows the kept icons again. Items go on a
    // tick, inside the event loop, where a host may still read their icons.
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        item.reset();
        loop.quit();
    });
    loop.exec();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !host.statuses().contains(QStringLiteral("Active")); }, 15000));
    item = std::make_unique<QtStatusItem>();
    item->setTitle(title(2), QFont());
    EXPECT_TRUE(QTest::qWaitFor([&] { return host.statuses().count(QStringLiteral("Active")) == 2; }, 15000))
        << host.statuses().join(' ').toStdString();
    EXPECT_EQ(host.unique().size(), 3);
}

// GNOME's panel keeps each icon where it first came, a newer one left of those before; KDE's tray sorts them by
// title. At each count as the Display menu gives it, read both ways the shown icons run from slot 1.
TEST(StatusNotifierTray, EveryCountShowsTheSlotsInOrderOnHostsThatKeepOrSortThem)
{
    ASSERT_TRUE(usePrivateSessionBus()) << "no bus of this test's own";
    Host host;
    QtStatusItem item;
    const QString application = QCoreApplication::applicationName();
    const auto shown = [&](bool byTitle) {
        QStringList titles;
        QStringList entries = host.unique();
        std::reverse(entries.begin(), entries.end());
        for (const QString& entry : std::as_const(entries))
            if (host.property(entry, QStringLiteral("Status")).toString() == QLatin1String("Active"))
                titles.append(host.property(entry, QStringLiteral("Title")).toString());
        if (byTitle)
            titles.sort();
        return titles;
    };
    for (const int count : {1, 3, 2, 6, 8, 3}) {
        item.setTitle(title(count), QFont());
        QStringList expected;
        for (int slot = 1; slot <= count; ++slot)
            expected.append(QStringLiteral("%1 %2").arg(application).arg(slot));
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown(false) == expected; }, 15000))
            << count << ": " << shown(false).join(QLatin1String(", ")).toStdString();
        EXPECT_EQ(shown(true), expected) << count;
    }
    // No more icons than the most slots shown at once.
    EXPECT_EQ(host.unique().size(), 8);
}

// A host draws the menu itself without scrolling it: the values beyond what fits above the commands on the
// program's screen go into a submenu, and every command stays at the top level.
TEST(StatusNotifierTray, TheValuesBeyondTheScreenGoIntoASubmenu)
{
    ASSERT_TRUE(usePrivateSessionBus()) << "no bus of this test's own";
    Host host;
    QAction preferences(QStringLiteral("Preferences…"));
    QAction quit(QStringLiteral("Quit"));
    QtStatusItem item;
    item.setTrailingActions({&preferences, &quit});
    item.setTitle(title(1), QFont());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !host.unique().isEmpty(); }, 15000));
    const QString entry = host.unique().first();
    QStringList values;
    for (int i = 0; i < 80; ++i)
        values.append(QStringLiteral("SMC %1: 40°C").arg(i));
    item.setMenuItems(values);
    const QStringList labels = host.menu(entry).second;
    const qsizetype top = QtStatusItem::valuesAtTopLevel(QGuiApplication::primaryScreen()->geometry().height(), 2);
    ASSERT_LT(top, 80);
    EXPECT_EQ(labels.mid(0, top), values.mid(0, top));
    EXPECT_EQ(labels.mid(top), (QStringList{"More Values", "-", "Preferences…", "Quit"}));

    // A few values stay at the top level.
    item.setMenuItems(values.mid(0, 3));
    EXPECT_TRUE(QTest::qWaitFor([&] { return host.menu(entry).second.size() == 6; }, 15000));
    EXPECT_EQ(host.menu(entry).second, (QStringList{values.mid(0, 3) + QStringList{"-", "Preferences…", "Quit"}}));
}

TEST(StatusNotifierTray, TheMenuChangesInPlaceAndIsRebuiltOnlyForOtherItems)
{
    ASSERT_TRUE(usePrivateSessionBus()) << "no bus of this test's own";
    Host host;
    QAction quit(QStringLiteral("Quit"));
    QtStatusItem item;
    item.setTrailingActions({&quit});
    item.setTitle(title(1), QFont());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !host.unique().isEmpty(); }, 15000));
    const QString entry = host.unique().first();

    item.setMenuItems({QStringLiteral("CPU: 40°C"), QStringLiteral("GPU: 50°C")});
    const auto [revision, labels] = host.menu(entry);
    EXPECT_EQ(labels, (QStringList{"CPU: 40°C", "GPU: 50°C", "-", "Quit"}));

    // The same items with new values: the layout stays, only the labels change.
    item.setMenuItems({QStringLiteral("CPU: 41°C"), QStringLiteral("GPU: 51°C")});
    const auto [sameRevision, newLabels] = host.menu(entry);
    EXPECT_EQ(sameRevision, revision);
    EXPECT_EQ(newLabels, (QStringList{"CPU: 41°C", "GPU: 51°C", "-", "Quit"}));

    // Another number of items: a new layout at the same path.
    item.setMenuItems({QStringLiteral("CPU: 41°C")});
    EXPECT_TRUE(QTest::qWaitFor([&] { return host.menu(entry).first != revision; }, 15000));
    EXPECT_EQ(host.menu(entry).second, (QStringList{"CPU: 41°C", "-", "Quit"}));
}

// Any client on the session bus may call the menu, with arguments of any shape: one that does not match the
// interface is refused with an error, and the menu goes on answering the host.
TEST(StatusNotifierTray, MenuCallsOfTheWrongShapeAreRefused)
{
    ASSERT_TRUE(usePrivateSessionBus()) << "no bus of this test's own";
    Host host;
    QAction quit(QStringLiteral("Quit"));
    QtStatusItem item;
    item.setTrailingActions({&quit});
    item.setTitle(title(1), QFont());
    item.setMenuItems({QStringLiteral("CPU: 40°C")});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !host.unique().isEmpty(); }, 15000));
    const QString entry = host.unique().first();
    const QString menu = host.menuOf(entry);
    ASSERT_EQ(host.menu(entry).second, (QStringList{"CPU: 40°C", "-", "Quit"}));

    // A structure of one string where the calls take arrays of structures or of numbers.
    QDBusArgument wrong;
    wrong.beginStructure();
    wrong << QStringLiteral("clicked");
    wrong.endStructure();
    const struct {
        const char* member;
        QVariantList args;
    } rows[] = {
        {"EventGroup", {QVariant::fromValue(wrong)}},
        {"GetGroupProperties", {QVariant::fromValue(wrong), QStringList()}},
        {"AboutToShowGroup", {QVariant::fromValue(wrong)}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.member);
        const QDBusMessage reply = host.call(menu, QStringLiteral("com.canonical.dbusmenu"), QLatin1String(row.member), row.args);
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage) << reply.signature().toStdString();
    }
    EXPECT_EQ(host.menu(entry).second, (QStringList{"CPU: 40°C", "-", "Quit"}));
    const QDBusMessage group = host.call(menu, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetGroupProperties"),
                                         {QVariant::fromValue(QList<int>{0}), QStringList()});
    EXPECT_EQ(group.type(), QDBusMessage::ReplyMessage) << group.errorMessage().toStdString();
}
