// One running copy per user, between two claims in this process: the second runs on a thread of its own, as a
// second process's main thread would, while this thread turns the running copy's event loop.

#include "platform/desktop/SingleInstance.h"

#include "tests/support/DesktopFakes.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocalServer>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <functional>

namespace {

using platform::SessionSingleInstance;
using Claim = platform::SingleInstance::Claim;
using namespace std::chrono_literals;

const QString kName = QStringLiteral("com.tarnwell.KelvaroTest");

// Runs `claim` on a thread of its own while this thread's event loop turns; its result.
Claim claimElsewhere(const std::function<Claim()>& claim)
{
    std::atomic<Claim> result = Claim::Unanswered;
    std::unique_ptr<QThread> thread(QThread::create([&] { result = claim(); }));
    thread->start();
    const QDeadlineTimer deadline(20000);
    while (!thread->isFinished() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    thread->wait();
    return result;
}

QDBusConnection noBus()
{
    return QDBusConnection(QStringLiteral("no bus"));
}

// The later start's activation token reaches the running copy either way; one that could break the socket's
// line (a space, a line feed) or is no printable text is not passed on.
TEST(SessionSingleInstance, SecondStartAsksTheRunningCopyToRaiseItsWindows)
{
    struct Row {
        const char* name;
        bool bus;
        QString token;
        QString received;
    };
    const QString token = QStringLiteral("kelvaro-test_TIME4242");
    for (const Row& row : {Row{"through the session bus", true, token, token},
                           Row{"through the runtime folder", false, token, token},
                           Row{"without a token, by bus", true, {}, {}},
                           Row{"without a token, by socket", false, {}, {}},
                           Row{"a token with a space, by bus", true, QStringLiteral("a b"), {}},
                           Row{"a token with a line feed, by socket", false, QStringLiteral("a\nraise"), {}}}) {
        SCOPED_TRACE(row.name);
        QTemporaryDir runtime;
        kelvaro::test::PrivateBus bus;
        if (row.bus && !bus.isRunning())
            GTEST_SKIP() << "no dbus-daemon";
        int raised = 0;
        QString received = QStringLiteral("(none)");
        SessionSingleInstance running(runtime.path(), row.bus ? bus.connect(QStringLiteral("running")) : noBus());
        ASSERT_EQ(running.claim(kName, platform::SingleInstance::Raise([&](const QString& given) {
                                    ++raised;
                                    received = given;
                                })),
                  Claim::Running);
        EXPECT_EQ(running.runningProcess(), ::getpid());
        if (row.bus) {
            const auto owner = bus.connect(QStringLiteral("observer")).interface()->servicePid(kName);
            EXPECT_EQ(qint64(owner.value()), ::getpid());
            ASSERT_TRUE(QFile::remove(runtime.filePath(kName + QStringLiteral(".socket"))));
        }

        const QDBusConnection secondBus = row.bus ? bus.connect(QStringLiteral("second")) : noBus();
        qint64 found = 0;
        const Claim second = claimElsewhere([&] {
            SessionSingleInstance instance(runtime.path(), secondBus, 3s);
            const Claim claim = instance.claim(kName, platform::SingleInstance::Raise(), row.token);
            found = instance.runningProcess();
            return claim;
        });
        EXPECT_EQ(second, Claim::HandedOver);
        EXPECT_EQ(found, ::getpid());
        QCoreApplication::processEvents();
        EXPECT_EQ(raised, 1);
        EXPECT_EQ(received, row.received);
    }
}

TEST(SessionSingleInstance, StartsAfterACopyThatWasKilledAndAfterOneThatQuitsWhileAsked)
{
    QTemporaryDir runtime;
    const QString base = runtime.filePath(kName);
    // A killed copy leaves its lock file (no longer locked) and its socket file (no one listening).
    QFile lock(base + QStringLiteral(".lock"));
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.write("999999\n");
    lock.close();
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(base + QStringLiteral(".socket")).constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(stale);
    {
        SessionSingleInstance running(runtime.path(), noBus());
        ASSERT_EQ(running.claim(kName, [] {}), Claim::Running);
        const Claim second = claimElsewhere([&] { return SessionSingleInstance(runtime.path(), noBus(), 3s).claim(kName, [] {}); });
        EXPECT_EQ(second, Claim::HandedOver) << "the socket of the killed copy was not replaced";
    }

    // A copy that holds the lock and quits before it answers: the start that waited for it runs.
    const int holder = ::open(QFile::encodeName(base + QStringLiteral(".lock")).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
    QFile::remove(base + QStringLiteral(".socket"));
    std::unique_ptr<QThread> quitter(QThread::create([holder] {
        QThread::msleep(300);
        ::close(holder);
    }));
    quitter->start();
    const Claim afterQuit = claimElsewhere([&] { return SessionSingleInstance(runtime.path(), noBus(), 5s).claim(kName, [] {}); });
    quitter->wait();
    EXPECT_EQ(afterQuit, Claim::Running);
}

TEST(SessionSingleInstance, GivesUpOnARunningCopyThatDoesNotAnswer)
{
    struct Row {
        const char* name;
        bool listens;
    };
    for (const Row row : {Row{"holds the lock, no socket", false}, Row{"listens, never answers", true}}) {
        SCOPED_TRACE(row.name);
        QTemporaryDir runtime;
        const QString base = runtime.filePath(kName);
        const int holder = ::open(QFile::encodeName(base + QStringLiteral(".lock")).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        ASSERT_EQ(::write(holder, "4242\n", 5), 5);
        QLocalServer silent;
        if (row.listens) {
            ASSERT_TRUE(silent.listen(base + QStringLiteral(".socket")));
        }

        SessionSingleInstance second(runtime.path(), noBus(), 300ms);
        const QDeadlineTimer limit(3000);
        EXPECT_EQ(second.claim(kName, [] {}), Claim::Unanswered);
        EXPECT_FALSE(limit.hasExpired());
        EXPECT_EQ(second.runningProcess(), 4242);
        ::close(holder);
    }
}

} // namespace
