#include "platform/desktop/UserNotificationCenter.h"

#include "tests/support/DesktopFakes.h"
#include "tests/support/TestEnvironment.h"

#include <QTest>

#include <gtest/gtest.h>

using namespace platform;
namespace kt = kelvaro::test;

namespace {

// Bus round trips cross processes; the bound is generous and never decides a result.
constexpr int kBoundMs = 10'000;

class RecordingDelegate final : public UserNotificationCenterDelegate {
public:
    QStringList delivered;
    QList<UserNotification> activated;
    bool present = true;
    int asked = 0;
    void userNotificationCenterDidDeliverNotification(UserNotificationCenter&, const UserNotification& n) override
    {
        delivered.append(n.identifier);
    }
    void userNotificationCenterDidActivateNotification(UserNotificationCenter&, const UserNotification& n) override
    {
        activated.append(n);
    }
    bool userNotificationCenterShouldPresentNotification(UserNotificationCenter&, const UserNotification&) override
    {
        ++asked;
        return present;
    }
};

UserNotification makeNotification(const QString& identifier, const QString& title)
{
    UserNotification n;
    n.identifier = identifier;
    n.title = title;
    n.subtitle = QStringLiteral("Version 2.0");
    n.informativeText = QStringLiteral("Click to open web page.");
    n.actionButtonTitle = QStringLiteral("Open");
    n.hasActionButton = true;
    return n;
}

class UserNotificationCenterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!kt::haveSessionBus())
            GTEST_SKIP() << "no session bus (run under dbus-run-session)";
        ASSERT_TRUE(service.isRegistered());
        center = std::make_unique<UserNotificationCenter>(QStringLiteral("Kelvaro"), service.serviceName());
        center->setDelegate(delegate);
    }

    kt::FakeNotificationService service;
    std::unique_ptr<UserNotificationCenter> center;
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

} // namespace

TEST_F(UserNotificationCenterTest, DeliverSendsNotifyWithTextsAndActionsAndTellsTheDelegate)
{
    center->deliverNotification(makeNotification(QStringLiteral("TEVSoftwareUpdate-7"), QStringLiteral("Update available")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->delivered.size() == 1; }, kBoundMs));
    ASSERT_EQ(service.notifies.size(), 1);
    const auto& call = service.notifies.first();
    EXPECT_EQ(call.appName, "Kelvaro");
    EXPECT_EQ(call.replacesId, 0u);
    EXPECT_EQ(call.summary, "Update available");
    EXPECT_EQ(call.body, "Version 2.0\nClick to open web page.");
    EXPECT_EQ(call.actions, (QStringList{"default", "Update available", "action", "Open"}));
    EXPECT_EQ(delegate->asked, 0) << "not frontmost: the delegate is not asked";
    EXPECT_EQ(center->deliveredNotifications().size(), 1);
}

TEST_F(UserNotificationCenterTest, SecondDeliveryOfAnIdentifierReplacesTheFirstInPlace)
{
    center->deliverNotification(makeNotification(QStringLiteral("a"), QStringLiteral("one")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->delivered.size() == 1; }, kBoundMs));
    center->deliverNotification(makeNotification(QStringLiteral("a"), QStringLiteral("two")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->delivered.size() == 2; }, kBoundMs));
    ASSERT_EQ(service.notifies.size(), 2);
    EXPECT_EQ(service.notifies.at(1).replacesId, service.notifies.at(0).id);
    ASSERT_EQ(center->deliveredNotifications().size(), 1);
    EXPECT_EQ(center->deliveredNotifications().first().title, "two");
}

TEST_F(UserNotificationCenterTest, RemoveClosesTheServersNotificationAlsoBeforeItsIdArrived)
{
    center->deliverNotification(makeNotification(QStringLiteral("a"), QStringLiteral("one")));
    center->removeDeliveredNotification(QStringLiteral("a")); // the Notify answer is still on its way
    EXPECT_TRUE(center->deliveredNotifications().isEmpty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.closed.size() == 1; }, kBoundMs));
    ASSERT_EQ(service.notifies.size(), 1);
    EXPECT_EQ(service.closed.first(), service.notifies.first().id);
}

TEST_F(UserNotificationCenterTest, ActivationReachesTheDelegateWithHowItWasActivated)
{
    center->deliverNotification(makeNotification(QStringLiteral("a"), QStringLiteral("one")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->delivered.size() == 1; }, kBoundMs));
    const uint id = service.notifies.first().id;
    service.emitActionInvoked(id, QStringLiteral("action"));
    service.emitActionInvoked(id + 100, QStringLiteral("default")); // not ours
    service.emitActionInvoked(id, QStringLiteral("default"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->activated.size() == 2; }, kBoundMs));
    EXPECT_EQ(delegate->activated.at(0).identifier, "a");
    EXPECT_EQ(delegate->activated.at(0).activationType, UserNotification::ActivationType::ActionButtonClicked);
    EXPECT_EQ(delegate->activated.at(1).activationType, UserNotification::ActivationType::ContentsClicked);
}

TEST_F(UserNotificationCenterTest, ClosedByTheServerLeavesTheDeliveredList)
{
    center->deliverNotification(makeNotification(QStringLiteral("a"), QStringLiteral("one")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->delivered.size() == 1; }, kBoundMs));
    service.emitNotificationClosed(service.notifies.first().id, 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return center->deliveredNotifications().isEmpty(); }, kBoundMs));
}

TEST_F(UserNotificationCenterTest, WhileFrontmostOnlyWhatTheDelegateAllowsIsShown)
{
    center->setFrontmostProvider([] { return true; });
    delegate->present = false;
    center->deliverNotification(makeNotification(QStringLiteral("hidden"), QStringLiteral("one")));
    EXPECT_EQ(delegate->asked, 1);
    EXPECT_EQ(delegate->delivered, QStringList{"hidden"}) << "delivered, just not presented";
    delegate->present = true;
    center->deliverNotification(makeNotification(QStringLiteral("shown"), QStringLiteral("two")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate->delivered.size() == 2; }, kBoundMs));
    ASSERT_EQ(service.notifies.size(), 1);
    EXPECT_EQ(service.notifies.first().summary, "two");
}

TEST_F(UserNotificationCenterTest, ASensorNameReachesTheServerAsTextWhetherOrNotItTakesMarkup)
{
    struct Row {
        QStringList capabilities;
        QString body;
    } rows[] = {
        {{"actions", "body", "body-markup"}, "CPU &lt;b&gt;die&lt;/b&gt; &amp; R&amp;D\nValue has exceeded limit 80."},
        {{"actions", "body"}, "CPU <b>die</b> & R&D\nValue has exceeded limit 80."},
    };
    for (const Row& row : rows) {
        service.capabilities = row.capabilities;
        service.notifies.clear();
        UserNotificationCenter asking(QStringLiteral("Kelvaro"), service.serviceName());
        ASSERT_TRUE(QTest::qWaitFor([&] { return asking.capabilitiesKnown(); }, kBoundMs));
        UserNotification n;
        n.identifier = QStringLiteral("alert");
        n.title = QStringLiteral("Sensor Alert");
        n.subtitle = QStringLiteral("CPU <b>die</b> & R&D");
        n.informativeText = QStringLiteral("Value has exceeded limit 80.");
        asking.deliverNotification(n);
        ASSERT_TRUE(QTest::qWaitFor([&] { return service.notifies.size() == 1; }, kBoundMs));
        EXPECT_EQ(service.notifies.first().body, row.body) << row.capabilities.join(' ').toStdString();
    }
}
