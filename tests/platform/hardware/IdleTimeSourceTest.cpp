// The live idle source: the X server's idle time where there is an X display, logind's hint elsewhere.

#include "platform/hardware/IdleTimeSource.h"

#include "tests/support/DesktopFakes.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/XvfbDisplay.h"

#include <QDBusConnection>
#include <QThread>

#include <ctime>
#include <functional>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;
using namespace platform;

// Which sources a session asks, first to last: an X server sees all input only where no Wayland compositor owns
// the seat; GNOME Shell's monitor answers a program that has only DISPLAY too; the compositor's notifications
// need its socket; logind, whose "not idle" is all it tells in many sessions, comes last.
TEST(IdleTimeSource, EachSessionAsksTheSourcesThatSeeItsInputBeforeLogind)
{
    using K = IdleTimeSource::Kind;
    struct Row {
        IdleTimeSource::Session session;
        std::vector<K> kinds;
    } rows[] = {
        {{":0", "", ""}, {K::XScreenSaver, K::Logind}},
        {{":0", "", "x11"}, {K::XScreenSaver, K::Logind}},
        {{":0", "wayland-0", "wayland"}, {K::MutterIdleMonitor, K::WaylandIdleNotifications, K::Logind}},
        {{":0", "wayland-0", ""}, {K::MutterIdleMonitor, K::WaylandIdleNotifications, K::Logind}},
        {{"", "wayland-0", "wayland"}, {K::MutterIdleMonitor, K::WaylandIdleNotifications, K::Logind}},
        {{":0", "", "wayland"}, {K::MutterIdleMonitor, K::Logind}}, // XWayland without the compositor's socket
        {{"", "", "wayland"}, {K::MutterIdleMonitor, K::Logind}},
        {{"", "", "tty"}, {K::Logind}},
        {{"", "", ""}, {K::Logind}},
    };
    for (const Row& row : rows) {
        const auto& s = row.session;
        EXPECT_EQ(IdleTimeSource::candidates(s), row.kinds)
            << "DISPLAY=" << s.x11Display.constData() << " WAYLAND_DISPLAY=" << s.waylandDisplay.constData()
            << " XDG_SESSION_TYPE=" << s.sessionType.constData();
    }
}

TEST(IdleTimeSource, TheLiveSourceIsTheXServersWhereThereIsAnXDisplay)
{
    kt::XvfbDisplay x;
    if (!x.isRunning())
        GTEST_SKIP() << "no Xvfb";
    struct Row {
        IdleTimeSource::Session session;
        std::vector<const char*> sources; // the classes asked, in order
    } rows[] = {
        {{x.name(), "", ""}, {"X", "logind"}},
        {{x.name(), "", "wayland"}, {"Mutter", "logind"}}, // X under Wayland sees only its own clients' input
        {{x.name(), "kelvaro-no-such-compositor", ""}, {"Mutter", "logind"}}, // no socket: no notifications
        {{"", "", ""}, {"logind"}},
        {{":4999", "", ""}, {"logind"}}, // no server there
    };
    const auto className = [](const IdleTimeSource* source) {
        if (dynamic_cast<const XScreenSaverIdleTimeSource*>(source))
            return "X";
        if (dynamic_cast<const MutterIdleTimeSource*>(source))
            return "Mutter";
        if (dynamic_cast<const LogindIdleTimeSource*>(source))
            return "logind";
        return "other";
    };
    for (const Row& row : rows) {
        const auto source = std::dynamic_pointer_cast<const FirstReadingIdleTimeSource>(IdleTimeSource::live(row.session));
        ASSERT_TRUE(source);
        std::vector<std::string> asked, expected(row.sources.begin(), row.sources.end());
        for (const auto& each : source->sources())
            asked.push_back(className(each.get()));
        EXPECT_EQ(asked, expected) << row.session.x11Display.constData() << " " << row.session.sessionType.constData();
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

// The desktop's idle services, each on a private bus with the source asked again once a second has passed:
// logind's "not idle" is an active user (0), not an unknown time, and an idle seat counts from the hint's time;
// GNOME Shell's idle monitor tells the time as it changes. Where the service does not run, or there is no bus,
// the source gives no reading, so the next source answers; logind's says once that nothing tells the time.
TEST(DesktopIdleTimeSource, FollowsTheServiceAndGivesWayToTheNextSourceWhereNoneRuns)
{
    kelvaro::test::PrivateBus bus, empty;
    if (!bus.isRunning() || !empty.isRunning())
        GTEST_SKIP() << "no dbus-daemon";
    FakeIdleHint login;
    FakeMutterIdleMonitor monitor;
    constexpr quint64 kSecond = 1'000'000'000u;
    struct Reading {
        double idleSeconds; // negative: not idle
        quint64 atLeast, below; // nanoseconds
    };
    struct Service {
        QString name, path;
        QObject* object;
        QDBusConnection::RegisterOption exported;
        std::function<void(double)> tell;
        std::function<std::shared_ptr<const IdleTimeSource>(const QDBusConnection*)> source;
        std::vector<Reading> readings;
        bool logsUnknown;
    } services[] = {
        {"org.freedesktop.login1", "/org/freedesktop/login1", &login, QDBusConnection::ExportAllProperties,
         [&](double seconds) {
             login.idleHint = seconds >= 0;
             login.idleSince = seconds >= 0 ? monotonicMicroseconds() - quint64(seconds * 1e6) : 0;
         },
         [](const QDBusConnection* c) { return std::make_shared<LogindIdleTimeSource>(c); },
         {{-1, 0, 1'000'000}, {120, 120 * kSecond, 3600 * kSecond}, {-1, 0, 1'000'000}},
         true},
        {"org.gnome.Mutter.IdleMonitor", "/org/gnome/Mutter/IdleMonitor/Core", &monitor, QDBusConnection::ExportAllSlots,
         [&](double seconds) { monitor.idleMilliseconds = quint64(seconds * 1000); },
         [](const QDBusConnection* c) { return std::make_shared<MutterIdleTimeSource>(c); },
         {{250, 250 * kSecond, 250 * kSecond + 1}, {0, 0, 1}, {1.5, 1'500'000'000, 1'500'000'001}},
         false},
    };
    kt::CapturingLog& log = kt::log();
    const QDBusConnection withoutService = empty.connect(QStringLiteral("client without the service"));
    const QDBusConnection none(QStringLiteral("no bus"));
    for (const Service& service : services) {
        SCOPED_TRACE(service.name.toStdString());
        log.clear();
        QDBusConnection server = bus.connect(service.name);
        ASSERT_TRUE(server.registerObject(service.path, service.object, service.exported));
        ASSERT_TRUE(server.registerService(service.name));
        const QDBusConnection client = bus.connect(service.name + QStringLiteral(" client"));
        const FirstReadingIdleTimeSource session({service.source(&client), std::make_shared<FixedIdleTimeSource>()});
        for (const Reading& row : service.readings) {
            service.tell(row.idleSeconds);
            kt::clock()->advanceSeconds(1.0);
            std::optional<quint64> reading;
            EXPECT_TRUE(kt::waitFor([&] {
                reading = session.idleNanoseconds();
                return reading && *reading >= row.atLeast && *reading < row.below;
            })) << row.idleSeconds << " s idle, read " << reading.value_or(0) << " ns";
        }
        EXPECT_FALSE(log.contains(QStringLiteral("no source tells the idle time")));
        EXPECT_EQ(log.count(QStringLiteral("IdleTimeSource: the idle time comes from ") + session.sources()[0]->description()), 1)
            << "the source used is told once";

        for (const QDBusConnection* connection : {&withoutService, &none}) {
            SCOPED_TRACE(connection->name().toStdString());
            log.clear();
            const auto next = std::make_shared<FixedIdleTimeSource>();
            const FirstReadingIdleTimeSource withoutIt({service.source(connection), next});
            ASSERT_TRUE(kt::waitFor([&] {
                EXPECT_FALSE(withoutIt.idleNanoseconds());
                return !service.logsUnknown || log.contains(QStringLiteral("no source tells the idle time"));
            }));
            next->setIdleSeconds(42);
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(withoutIt.idleNanoseconds(), 42 * kSecond);
                kt::clock()->advanceSeconds(1.0);
            }
            EXPECT_EQ(log.count(QStringLiteral("no source tells the idle time")), service.logsUnknown ? 1 : 0);
            EXPECT_FALSE(log.contains(QStringLiteral("the idle time comes from"))) << "a fixed answer is not a source";
        }
    }
}

#include "IdleTimeSourceTest.moc"
