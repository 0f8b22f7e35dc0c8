// The logind source against a fake login manager that owns "org.freedesktop.login1" on a bus daemon of
// this test process alone, and hands out one end of a socket pair as the inhibitor: the other end reads
// end-of-file once every copy of ours is closed.

#include "platform/desktop/PowerEvents.h"

#include "tests/support/DesktopFakes.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusUnixFileDescriptor>
#include <QDeadlineTimer>

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

namespace {

using platform::LogindPowerEvents;

const QString kLogin = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");

bool spinUntil(const std::function<bool()>& done, int ms = 10000)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return done();
}

class FakeLogin final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    ~FakeLogin() override
    {
        if (peer_ >= 0)
            ::close(peer_);
    }
    int inhibits = 0;
    QStringList lastInhibit; // what, who, mode

    // The latest inhibitor handed out is still open on the other side.
    bool inhibitorHeld() const
    {
        if (peer_ < 0)
            return false;
        pollfd p{peer_, POLLIN, 0};
        if (::poll(&p, 1, 0) <= 0)
            return true;
        char c;
        return ::recv(peer_, &c, 1, MSG_PEEK | MSG_DONTWAIT) != 0;
    }

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString&, const QString& mode)
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            return {};
        ++inhibits;
        lastInhibit = {what, who, mode};
        if (peer_ >= 0)
            ::close(peer_);
        peer_ = fds[0];
        const QDBusUnixFileDescriptor handed(fds[1]); // a duplicate
        ::close(fds[1]);
        return handed;
    }

Q_SIGNALS:
    void PrepareForSleep(bool start);

private:
    int peer_ = -1;
};

class LogindPowerEventsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bus_.isRunning()) << "dbus-daemon did not start";
        clientBus_ = bus_.connect(QStringLiteral("power-client"));
        serverBus_ = bus_.connect(QStringLiteral("fake-login"));
        ASSERT_TRUE(serverBus_.registerObject(kPath, &login_, QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(serverBus_.registerService(kLogin));
        events_ = std::make_unique<LogindPowerEvents>(clientBus_);
        QObject::connect(events_.get(), &LogindPowerEvents::systemWillSleep, [this] { ++willSleep_; });
        QObject::connect(events_.get(), &LogindPowerEvents::systemHasPoweredOn, [this] { ++poweredOn_; });
    }
    void TearDown() override
    {
        events_.reset();
        serverBus_.unregisterService(kLogin);
        serverBus_.unregisterObject(kPath);
    }

    kelvaro::test::PrivateBus bus_;
    QDBusConnection clientBus_{QString()};
    QDBusConnection serverBus_{QString()};
    FakeLogin login_;
    std::unique_ptr<LogindPowerEvents> events_;
    int willSleep_ = 0;
    int poweredOn_ = 0;
};

TEST_F(LogindPowerEventsTest, HoldsSleepBackUntilAllowedAndAgainAfterWake)
{
    ASSERT_TRUE(events_->registerForSystemPower());
    ASSERT_TRUE(spinUntil([&] { return login_.inhibitorHeld(); }));
    EXPECT_EQ(login_.lastInhibit, (QStringList{"sleep", "Kelvaro", "delay"}));

    events_->allowSleep();
    spinUntil([] { return false; }, 100);
    EXPECT_TRUE(login_.inhibitorHeld()) << "no sleep was announced: the guard stays";

    emit login_.PrepareForSleep(true);
    ASSERT_TRUE(spinUntil([&] { return willSleep_ == 1; }));
    spinUntil([] { return false; }, 100);
    EXPECT_TRUE(login_.inhibitorHeld()) << "held until the owner allows the sleep";

    events_->allowSleep();
    EXPECT_TRUE(spinUntil([&] { return !login_.inhibitorHeld(); }));

    emit login_.PrepareForSleep(false);
    ASSERT_TRUE(spinUntil([&] { return poweredOn_ == 1 && login_.inhibits == 2 && login_.inhibitorHeld(); }));
    EXPECT_EQ(willSleep_, 1);
}

TEST(LogindPowerEvents, AnswersNoWithoutALoginManager)
{
    kelvaro::test::PrivateBus bus;
    ASSERT_TRUE(bus.isRunning());
    const struct {
        const char* name;
        QDBusConnection connection;
    } cases[] = {
        {"no bus", QDBusConnection(QStringLiteral("never-connected"))},
        {"a bus without logind", bus.connect(QStringLiteral("lonely-client"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LogindPowerEvents events(c.connection);
        EXPECT_FALSE(events.registerForSystemPower());
    }
}

} // namespace

#include "PowerEventsTest.moc"
