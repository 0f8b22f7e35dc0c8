#include "platform/foundation/DistributedNotificationCenter.h"

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Values.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>

using namespace platform;
namespace kt = kelvaro::test;

namespace {

// Tests run in parallel processes on one bus: each process posts under a name of its own.
const QString kDidChange =
    QStringLiteral("com.tarnwell.UserDefaultsDidChange.test%1").arg(QCoreApplication::applicationPid());
const QString kDomain = QStringLiteral("com.tarnwell.kelvaro");

// The D-Bus tests need the private session bus that scripts/test starts.
#define REQUIRE_SESSION_BUS(center)                                                        \
    do {                                                                                   \
        if (!(center).isConnected())                                                       \
            GTEST_SKIP() << "no session bus (run under dbus-run-session, as scripts/test does)"; \
    } while (0)

// Bus delivery crosses processes and threads; the bound is generous and never decides a result.
constexpr int kDeliveryBoundMs = 10'000;

} // namespace

TEST(DistributedNotificationCenter, PostReachesAnObserverOnAnotherConnectionWithKindsIntact)
{
    DistributedNotificationCenter poster;
    DistributedNotificationCenter observer;
    REQUIRE_SESSION_BUS(poster);
    REQUIRE_SESSION_BUS(observer);

    QList<DistributedNotification> received;
    const ObserverToken token = observer.addObserver(kDidChange, kDomain, [&](const DistributedNotification& n) {
        EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
        received.append(n);
    });
    ASSERT_TRUE(token.isValid());

    using namespace values;
    const QDateTime date(QDate(2026, 3, 4), QTime(5, 6, 7, 890), Qt::UTC);
    const QVariantMap userInfo{
        {"bool", fromBool(true)},
        {"signed", fromSigned(-7)},
        {"unsigned", fromUnsigned(18'000'000'000'000'000'000ull)},
        {"real", fromReal(2.5)},
        {"string", fromString(QStringLiteral("Grüße"))},
        {"data", fromData(QByteArray("\x00\x01\xff", 3))},
        {"date", fromDate(date)},
        {"array", fromArray({fromSigned(1), fromString("two"), fromArray({})})},
        {"dictionary", fromDictionary({{"inner", fromReal(1.0)}, {"empty", fromDictionary({})}})},
    };
    // Skipped by the filters: another name, another object. The bus keeps one sender's order, so once the
    // last post has arrived the others would have too.
    ASSERT_TRUE(poster.post(QStringLiteral("com.tarnwell.Other"), kDomain));
    ASSERT_TRUE(poster.post(kDidChange, QStringLiteral("com.tarnwell.kelvaro.lite")));
    ASSERT_TRUE(poster.post(kDidChange, kDomain, userInfo));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !received.isEmpty(); }, kDeliveryBoundMs));
    QCoreApplication::processEvents();

    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0].name, kDidChange);
    EXPECT_EQ(received[0].object, kDomain);
    EXPECT_TRUE(strictlyEqual(received[0].userInfo, userInfo))
        << qPrintable(QVariant(received[0].userInfo).toString());
    EXPECT_EQ(kindOf(received[0].userInfo["signed"]), Kind::Signed);
    EXPECT_EQ(kindOf(received[0].userInfo["unsigned"]), Kind::Unsigned);
    EXPECT_EQ(toDate(received[0].userInfo["date"]), date);
    observer.removeObserver(token);
}

TEST(DistributedNotificationCenter, AnyNameAndObjectObserverOnAWorkerThread)
{
    DistributedNotificationCenter poster;
    DistributedNotificationCenter observer;
    REQUIRE_SESSION_BUS(poster);

    QThread worker;
    worker.start();
    std::atomic<QThread*> deliveredOn{nullptr};
    std::atomic<int> count{0};
    std::atomic<bool> nullObject{false};
    std::atomic<quint64> token{0};
    RunLoop::forThread(&worker)->perform([&] {
        token = observer.addObserver(QString(), QString(), [&](const DistributedNotification& n) {
            if (n.name != kDidChange)
                return;
            deliveredOn = QThread::currentThread();
            nullObject = n.object.isNull();
            ++count;
        }).id;
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return token.load() != 0; }, kDeliveryBoundMs));
    ASSERT_TRUE(poster.post(kDidChange, QString()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return count.load() == 1; }, kDeliveryBoundMs));
    EXPECT_EQ(deliveredOn.load(), &worker);
    EXPECT_TRUE(nullObject.load());

    // Removed from the main thread: later posts no longer reach it.
    observer.removeObserver({token.load()});
    std::atomic<bool> marker{false};
    const ObserverToken markerToken = observer.addObserver(kDidChange, QStringLiteral("marker"),
                                                           [&](const DistributedNotification&) { marker = true; });
    ASSERT_TRUE(poster.post(kDidChange, QString()));
    ASSERT_TRUE(poster.post(kDidChange, QStringLiteral("marker")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return marker.load(); }, kDeliveryBoundMs));
    RunLoop::forThread(&worker)->perform([] {}); // the worker drains what reached it
    QTest::qWait(20);
    EXPECT_EQ(count.load(), 1);
    observer.removeObserver(markerToken);
    worker.quit();
    worker.wait();
}

TEST(DistributedNotificationCenter, RefusesUserInfoThatTheBusCannotCarry)
{
    DistributedNotificationCenter center;
    REQUIRE_SESSION_BUS(center);
    struct Opaque : Archivable {
        QString className() const override { return QStringLiteral("Opaque"); }
        void encodeWithCoder(Coder&) const override {}
    };
    const QVariantMap userInfo{{"object", values::fromObject(std::make_shared<Opaque>())}};
    EXPECT_FALSE(center.post(kDidChange, kDomain, userInfo));
    EXPECT_EQ(kt::log().count("DistributedNotificationCenter: user info of '" + kDidChange), 1);
}

TEST(DistributedNotificationCenter, WithoutABusLogsOnceAndDropsEverything)
{
    DistributedNotificationCenter center(QStringLiteral("unix:path=/nonexistent/kelvaro-test-bus"));
    EXPECT_FALSE(center.isConnected());
    bool called = false;
    const ObserverToken token = center.addObserver(kDidChange, QString(), [&](const DistributedNotification&) {
        called = true;
    });
    EXPECT_FALSE(token.isValid());
    EXPECT_FALSE(center.post(kDidChange, kDomain));
    EXPECT_FALSE(center.post(kDidChange, kDomain));
    center.removeObserver(token);
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
    EXPECT_EQ(kt::log().lines(),
              QStringList{"DistributedNotificationCenter: no session bus; distributed notifications are dropped\n"});
}

TEST(DistributedNotificationCenter, DropsMalformedSignalsFromOtherSenders)
{
    DistributedNotificationCenter observer;
    REQUIRE_SESSION_BUS(observer);
    QDBusConnection raw = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("raw-sender"));
    ASSERT_TRUE(raw.isConnected());

    QStringList received;
    const ObserverToken token = observer.addObserver(QString(), QString(), [&](const DistributedNotification& n) {
        if (n.name == kDidChange)
            received << n.object;
    });
    auto signal = [](const QVariantList& args) {
        QDBusMessage message = QDBusMessage::createSignal(QStringLiteral("/com/tarnwell/kelvaro/Notifications"),
                                                          QStringLiteral("com.tarnwell.kelvaro.DistributedNotifications"),
                                                          QStringLiteral("Notification"));
        message.setArguments(args);
        return message;
    };
    QVariantMap badValue{{"path", QVariant::fromValue(QDBusObjectPath("/x"))}};
    ASSERT_TRUE(raw.send(signal({kDidChange})));                                  // too few arguments
    ASSERT_TRUE(raw.send(signal({kDidChange, 7, QVariantMap()})));                // object not a string
    ASSERT_TRUE(raw.send(signal({kDidChange, QStringLiteral("bad"), badValue}))); // a kind we never send
    ASSERT_TRUE(raw.send(signal({kDidChange, QStringLiteral("good"), QVariantMap{{"n", qint64(1)}}})));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !received.isEmpty(); }, kDeliveryBoundMs));
    EXPECT_EQ(received, QStringList{"good"});
    EXPECT_EQ(kt::log().count("DistributedNotificationCenter: dropped a malformed notification"), 1);
    observer.removeObserver(token);
    QDBusConnection::disconnectFromBus(QStringLiteral("raw-sender"));
}
