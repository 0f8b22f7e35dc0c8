// kelvaro-fake-logind: a login manager for the scripts that put a program to sleep and wake it. It starts a bus
// daemon of its own, owns "org.freedesktop.login1" there, hands out sleep inhibitors (one end of a socket pair)
// and prints "bus ADDRESS" once it serves: the program under test is started with DBUS_SYSTEM_BUS_ADDRESS set
// to it. Each line "sleep" or "wake" on its standard input announces PrepareForSleep(true / false); after
// "sleep" it prints "slept" once every inhibitor handed out is closed (the program has allowed the sleep).
// Its seat is never idle, as where the desktop does not set logind's idle hint.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

namespace {

class FakeLogin final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
    Q_PROPERTY(bool IdleHint READ idleHint)
    Q_PROPERTY(qulonglong IdleSinceHintMonotonic READ idleSince)

public:
    bool idleHint() const { return false; }
    qulonglong idleSince() const { return 0; }

    // Whether every inhibitor handed out has been closed by its holder.
    bool allReleased()
    {
        for (auto it = peers_.begin(); it != peers_.end();) {
            pollfd p{*it, POLLIN, 0};
            char c;
            if (::poll(&p, 1, 0) > 0 && ::recv(*it, &c, 1, MSG_PEEK | MSG_DONTWAIT) == 0) {
                ::close(*it);
                it = peers_.erase(it);
            } else {
                ++it;
            }
        }
        return peers_.empty();
    }

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString&, const QString&, const QString&, const QString&)
    {
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            return {};
        peers_.push_back(fds[0]);
        const QDBusUnixFileDescriptor handed(fds[1]); // a duplicate
        ::close(fds[1]);
        return handed;
    }

Q_SIGNALS:
    void PrepareForSleep(bool start);

private:
    std::vector<int> peers_;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QProcess daemon;
    daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                 QStringLiteral("--print-address")});
    if (!daemon.waitForStarted(10'000) || !daemon.waitForReadyRead(10'000)) {
        std::fputs("kelvaro-fake-logind: dbus-daemon did not start\n", stderr);
        return 1;
    }
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    QDBusConnection bus = QDBusConnection::connectToBus(address, QStringLiteral("fake-logind"));
    FakeLogin login;
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &login,
                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals
                                | QDBusConnection::ExportAllProperties)
        || !bus.registerService(QStringLiteral("org.freedesktop.login1"))) {
        std::fputs("kelvaro-fake-logind: cannot own org.freedesktop.login1\n", stderr);
        return 1;
    }
    std::printf("bus %s\n", qPrintable(address));
    std::fflush(stdout);

    QTimer released;
    released.setInterval(50);
    QObject::connect(&released, &QTimer::timeout, &app, [&] {
        if (!login.allReleased())
            return;
        released.stop();
        std::puts("slept");
        std::fflush(stdout);
    });
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n <= 0) {
            input.setEnabled(false);
            return;
        }
        pending.append(buffer, n);
        for (qsizetype end; (end = pending.indexOf('\n')) >= 0; pending.remove(0, end + 1)) {
            const QByteArray line = pending.left(end).trimmed();
            if (line == "sleep") {
                emit login.PrepareForSleep(true);
                released.start();
            } else if (line == "wake") {
                emit login.PrepareForSleep(false);
            }
        }
    });
    const int status = app.exec();
    daemon.terminate();
    daemon.waitForFinished(5'000);
    return status;
}

#include "FakeLoginMain.moc"
