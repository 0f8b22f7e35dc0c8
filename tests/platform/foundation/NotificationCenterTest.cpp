#include "platform/foundation/NotificationCenter.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

using namespace platform;
using namespace std::chrono_literals;

namespace {
const QString kReady = QStringLiteral("TEVMonitoringClientIsReady");
const QString kFailed = QStringLiteral("TEVMonitoringClientFailed");
} // namespace

TEST(NotificationCenter, DeliversToMatchingObserversInRegistrationOrder)
{
    NotificationCenter center;
    int clientA = 0;
    auto clientB = std::make_shared<int>(0);
    QStringList calls;
    auto record = [&](const char* who) {
        return [&calls, who](const Notification& n) { calls << QStringLiteral("%1:%2").arg(who, n.name); };
    };
    center.addObserver(kReady, &clientA, record("a-ready"));
    center.addObserver(QString(), nullptr, record("all"));
    center.addObserver(kReady, nullptr, record("any-ready"));
    center.addObserver(kFailed, clientB, record("b-failed"));

    center.post(kReady, &clientA, {{QStringLiteral("k"), 1}});
    center.post(kReady, clientB);
    center.post(kFailed, clientB);
    center.post(kFailed, &clientA);
    center.post(QStringLiteral("Other"));
    EXPECT_EQ(calls, (QStringList{
        "a-ready:" + kReady, "all:" + kReady, "any-ready:" + kReady,   // from A
        "all:" + kReady, "any-ready:" + kReady,                          // from B: not A's filter
        "all:" + kFailed, "b-failed:" + kFailed,
        "all:" + kFailed,
        "all:Other",
    }));
}

TEST(NotificationCenter, PassesObjectAndUserInfo)
{
    NotificationCenter center;
    Notification seen;
    int poster = 0;
    center.addObserver(kReady, nullptr, [&](const Notification& n) { seen = n; });
    center.post(kReady, &poster, {{QStringLiteral("Error"), QStringLiteral("x")}});
    EXPECT_EQ(seen.object.get(), &poster);
    EXPECT_EQ(seen.userInfo.value(QStringLiteral("Error")).toString(), QStringLiteral("x"));
}

TEST(NotificationCenter, RemovalAndAdditionDuringDeliveryAreSafe)
{
    NotificationCenter center;
    QStringList calls;
    ObserverToken self, later, added;
    center.addObserver(kReady, nullptr, [&](const Notification&) {
        calls << "first";
        center.removeObserver(later); // another observer, not yet called in this post
        if (!added.isValid())
            added = center.addObserver(kReady, nullptr, [&](const Notification&) { calls << "added"; });
    });
    self = center.addObserver(kReady, nullptr, [&](const Notification&) {
        calls << "self";
        center.removeObserver(self);
    });
    later = center.addObserver(kReady, nullptr, [&](const Notification&) { calls << "later"; });

    center.post(kReady);
    EXPECT_EQ(calls, (QStringList{"first", "self"}));
    calls.clear();
    center.post(kReady);
    EXPECT_EQ(calls, (QStringList{"first", "added"}));
    center.removeObserver(self); // already gone: nothing happens
    center.removeObserver({});
}

TEST(NotificationCenter, RemovalWaitsForACallUnderWayOnAnotherThread)
{
    NotificationCenter center;
    std::promise<void> entered;
    std::promise<void> release;
    std::atomic<bool> callbackDone{false};
    const ObserverToken token = center.addObserver(kReady, nullptr, [&](const Notification&) {
        entered.set_value();
        release.get_future().wait();
        callbackDone = true;
    });
    std::thread poster([&] { center.post(kReady); });
    entered.get_future().wait();
    auto removal = std::async(std::launch::async, [&] {
        center.removeObserver(token);
        return callbackDone.load();
    });
    EXPECT_EQ(removal.wait_for(20ms), std::future_status::timeout);
    release.set_value();
    EXPECT_TRUE(removal.get());
    poster.join();
}
