// The live idle source: the X server's idle time where there is an X display, logind's hint elsewhere.

#include "platform/hardware/IdleTimeSource.h"

#include "tests/support/DesktopFakes.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/XvfbDisplay.h"

#include <QDBusConnection>
#include <QThread>

#include <ctime>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;
using namespace platform;

TEST(IdleTimeSource, TheLiveSourceIsTheXServersWhereThereIsAnXDisplay)
{
    kt::XvfbDisplay x;
    if (!x.isRunning())
        GTEST_SKIP() << "no Xvfb";
    struct Row {
        QByteArray display;
        bool wayland;
        bool fromX;
    } rows[] = {
        {x.name(), false, true},
        {x.name(), true, false}, // X under Wayland sees only its own clients' input
        {"", false, false},
        {":4999", false, false}, // no server there
    };
    for (const Row& row : rows) {
        const auto source = IdleTimeSource::live(row.display, row.wayland);
        ASSERT_TRUE(source);
        EXPECT_EQ(dynamic_cast<const XScreenSaverIdleTimeSource*>(source.get()) != nullptr, row.fromX) << row.display.constData();
        // A Wayland session asks the desktop's idle monitor first, then logind.
        EXPECT_EQ(dynamic_cast<const LogindIdleTimeSource*>(source.get()) != nullptr, !row.fromX && !row.wayland)
            << row.display.constData();
        EXPECT_EQ(dynamic_cast<const FirstReadingIdleTimeSource*>(source.get()) != nullptr, row.wayland) << row.display.constData();
    }
}

TEST(XScreenSaverIdleTimeSource, GrowsWhileNobodyTypesAndDropsAtInputAndOutlivesTheServer)
{
    kt::XvfbDisplay x;
    if (!x.isRunning())
        GTEST_SKIP() << "no Xvfb";
    const auto source = XScreenSaverIdleTimeSource::create(x.name());
    ASSERT_TRUE(source);
    ASSERT_TRUE(kt::waitFor([&] { return source->idleNanoseconds().value_or(0) >= 50'000'000u; }));
    const quint64 before = *source->idleNanoseconds();
    ASSERT_TRUE(x.simulateUserInput());
    const auto after = source->idleNanoseconds();
    ASSERT_TRUE(after);
    EXPECT_LT(*after, before);

    // At logout the server goes first: readings end, the process does not.
    x.kill();
    EXPECT_FALSE(source->idleNanoseconds());
    EXPECT_FALSE(source->idleNanoseconds());
}

namespace {

// logind's manager as far as the idle hint goes, on a private bus.
class FakeIdleHint final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
    Q_PROPERTY(bool IdleHint MEMBER idleHint)
    Q_PROPERTY(quint64 IdleSinceHintMonotonic MEMBER idleSince)

public:
    bool idleHint = false;
    quint64 idleSince = 0;
};

quint64 monotonicMicroseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return quint64(ts.tv_sec) * 1000000u + quint64(ts.tv_nsec) / 1000u;
}

// GNOME Shell's idle monitor, on a private bus.
class FakeMutterIdleMonitor final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Mutter.IdleMonitor")

public:
    quint64 idleMilliseconds = 0;

public Q_SLOTS:
    quint64 GetIdletime() { return idleMilliseconds; }
};

} // namespace

// The desktop's idle monitor tells the idle time as it changes; where none runs, the next source answers.
TEST(MutterIdleTimeSource, TellsTheDesktopsIdleTimeAndGivesWayToTheNextSourceWhereNoneRuns)
{
    kelvaro::test::PrivateBus bus;
    if (!bus.isRunning())
        GTEST_SKIP() << "no dbus-daemon";
    QDBusConnection server = bus.connect(QStringLiteral("mutter"));
    FakeMutterIdleMonitor monitor;
    ASSERT_TRUE(server.registerObject(QStringLiteral("/org/gnome/Mutter/IdleMonitor/Core"), &monitor, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(server.registerService(QStringLiteral("org.gnome.Mutter.IdleMonitor")));
    const QDBusConnection client = bus.connect(QStringLiteral("mutter client"));
    const auto logind = std::make_shared<FixedIdleTimeSource>(std::nullopt);
    const auto mutter = std::make_shared<MutterIdleTimeSource>(&client);
    const FirstReadingIdleTimeSource session({mutter, logind});

    for (const quint64 milliseconds : {quint64(250'000), quint64(0), quint64(1500)}) {
        monitor.idleMilliseconds = milliseconds;
        // Asked again once a second has passed.
        kt::clock()->advanceSeconds(1.0);
        EXPECT_TRUE(kt::waitFor([&] { return session.idleNanoseconds() == milliseconds * 1'000'000u; })) << milliseconds;
    }

    // No idle monitor on this bus: logind's reading, or none.
    kelvaro::test::PrivateBus other;
    ASSERT_TRUE(other.isRunning());
    const QDBusConnection elsewhere = other.connect(QStringLiteral("client without mutter"));
    const FirstReadingIdleTimeSource withoutMutter({std::make_shared<MutterIdleTimeSource>(&elsewhere), logind});
    EXPECT_FALSE(withoutMutter.idleNanoseconds());
    logind->setIdleSeconds(42);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(withoutMutter.idleNanoseconds(), quint64(42'000'000'000u));
        kt::clock()->advanceSeconds(1.0);
    }
}

// "Not idle" is an active user (0), not an unknown time; an idle seat counts from the hint's time; without an
// answer the time is unknown, and that is logged once.
TEST(LogindIdleTimeSource, NotIdleIsAnActiveUserAndNoAnswerIsUnknownAndLoggedOnce)
{
    kelvaro::test::PrivateBus bus;
    if (!bus.isRunning())
        GTEST_SKIP() << "no dbus-daemon";
    QDBusConnection server = bus.connect(QStringLiteral("logind"));
    FakeIdleHint login;
    ASSERT_TRUE(server.registerObject(QStringLiteral("/org/freedesktop/login1"), &login, QDBusConnection::ExportAllProperties));
    ASSERT_TRUE(server.registerService(QStringLiteral("org.freedesktop.login1")));
    const QDBusConnection client = bus.connect(QStringLiteral("client"));
    kt::CapturingLog& log = kt::log();
    log.clear();

    struct Row {
        bool idle;
        double idleForSeconds;
        std::optional<double> atLeast, below; // seconds; both empty: no reading
    } rows[] = {
        {false, 0, 0.0, 0.001},
        {true, 120, 120.0, 3600.0},
        {false, 0, 0.0, 0.001},
    };
    for (const Row& row : rows) {
        login.idleHint = row.idle;
        login.idleSince = row.idle ? monotonicMicroseconds() - quint64(row.idleForSeconds * 1e6) : 0;
        // A fresh source asks at once and answers from the reply once it came.
        LogindIdleTimeSource source(&client);
        std::optional<quint64> reading;
        ASSERT_TRUE(kt::waitFor([&] { return (reading = source.idleNanoseconds()).has_value(); })) << row.idle;
        EXPECT_GE(double(*reading) / 1e9, *row.atLeast) << row.idle;
        EXPECT_LT(double(*reading) / 1e9, *row.below) << row.idle;
    }
    EXPECT_FALSE(log.contains(QStringLiteral("no source tells the idle time")));

    // A bus without logind, and no bus at all: no reading, and one line each however often it is asked.
    kelvaro::test::PrivateBus empty;
    ASSERT_TRUE(empty.isRunning());
    const QDBusConnection withoutLogind = empty.connect(QStringLiteral("client without logind"));
    const QDBusConnection none(QStringLiteral("no bus"));
    for (const QDBusConnection* connection : {&withoutLogind, &none}) {
        log.clear();
        LogindIdleTimeSource source(connection);
        ASSERT_TRUE(kt::waitFor([&] {
            EXPECT_FALSE(source.idleNanoseconds());
            return log.contains(QStringLiteral("no source tells the idle time"));
        })) << connection->name().toStdString();
        for (int i = 0; i < 3; ++i)
            EXPECT_FALSE(source.idleNanoseconds());
        EXPECT_EQ(log.count(QStringLiteral("no source tells the idle time")), 1) << connection->name().toStdString();
    }
}

#include "IdleTimeSourceTest.moc"
