#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/TEVInvocationStatus.h"
#include "acquisition/TEVInvocationTarget.h"
#include "acquisition/TEVServiceInvocation.h"

#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Values.h"

#include "tests/support/TestEnvironment.h"

#include <QThread>

#include <gtest/gtest.h>

namespace kt = kelvaro::test;
namespace values = platform::values;

namespace {

class TestTarget final : public TEVInvocationTarget {
public:
    int policySet = 0;
    TestTarget()
    {
        addHandler(QStringLiteral("setSMCAccessPolicy:"), [this](const QVariant&) { ++policySet; return QVariant(); });
        addHandler(QStringLiteral("hostName"), [] { return values::fromSigned(7); });
        addHandler(QStringLiteral("pair:with:"), [](const QVariant& a, const QVariant& b) {
            return values::fromArray({a, b});
        });
    }
    QString className() const override { return QStringLiteral("TestTarget"); }
};

std::shared_ptr<TEVServiceInvocation> roundTrip(const std::shared_ptr<TEVServiceInvocation>& invocation)
{
    const QByteArray data = platform::KeyedArchiver::archivedDataWithRootObject(values::fromObject(invocation));
    platform::UnarchiveOptions options;
    options.allowedClasses = {QStringLiteral("TEVServiceInvocation"), QStringLiteral("MonitorConnectionInfo")};
    return platform::objectAs<TEVServiceInvocation>(
        values::toObject(platform::KeyedUnarchiver::unarchiveObjectWithData(data, options)));
}

// Runs `fn` on the main loop from inside the wait that follows.
void during(std::function<void()> fn)
{
    platform::RunLoop::main()->perform(std::move(fn));
}

} // namespace

TEST(TEVServiceInvocation, ValidationRejectsMalformedCalls)
{
    struct Row {
        std::shared_ptr<TEVServiceInvocation> invocation;
        const char* logged;
    };
    auto oneWayReturning = TEVServiceInvocation::voidOneWayInvocation(QStringLiteral("rescanForSensors"));
    oneWayReturning->setReturnValueClass(QStringLiteral("NSNumber"));
    const Row rows[] = {
        {TEVServiceInvocation::invocation(QStringLiteral("setSMCAccessPolicy:"), QString()),
         "TEVServiceInvocation: 0 arguments provided, but 1 expected.\n"},
        {oneWayReturning, "TEVServiceInvocation: oneway invocation must not specify return value class.\n"},
        {TEVServiceInvocation::invocation(QString(), QString()), "TEVServiceInvocation: unknown selector.\n"},
    };
    for (const Row& row : rows) {
        kt::log().clear();
        EXPECT_FALSE(row.invocation->validate()) << row.logged;
        EXPECT_EQ(kt::log().lines(), QStringList{QString::fromLatin1(row.logged)});
    }
    auto third = TEVServiceInvocation::invocation(QStringLiteral("pair:with:"), QString(), values::fromSigned(1),
                                                  values::fromSigned(2));
    kt::log().clear();
    third->addArgument(values::fromSigned(3));
    EXPECT_EQ(third->arguments().size(), 2);
    EXPECT_TRUE(kt::log().contains(QStringLiteral("more than two arguments are not permitted.\n")));
}

TEST(TEVServiceInvocation, InvokeWithTargetReportsButPassesOnWrongResultClass)
{
    TestTarget target;
    kt::log().clear();
    EXPECT_FALSE(TEVServiceInvocation::invocation(QStringLiteral("frobnicate"), QString())->invokeWithTarget(&target).isValid());
    EXPECT_TRUE(kt::log().contains(QStringLiteral("TEVServiceInvocation: -[TestTarget frobnicate] is not implemented!\n")));

    const QVariant seven = TEVServiceInvocation::invocation(QStringLiteral("hostName"), QStringLiteral("NSString"))
                               ->invokeWithTarget(&target);
    EXPECT_TRUE(values::strictlyEqual(seven, values::fromSigned(7)));
    EXPECT_TRUE(kt::log().contains(
        QStringLiteral("expected return value of -hostName to be NSString, but received NSNumber!\n")));

    // A void call's result is ignored; an invalid call never reaches the target.
    EXPECT_FALSE(TEVServiceInvocation::invocation(QStringLiteral("hostName"), QString())->invokeWithTarget(&target).isValid());
    EXPECT_FALSE(TEVServiceInvocation::invocation(QStringLiteral("setSMCAccessPolicy:"), QString())->invokeWithTarget(&target).isValid());
    EXPECT_EQ(target.policySet, 0);
    EXPECT_FALSE(TEVServiceInvocation::invocation(QStringLiteral("hostName"), QString())->invokeWithTarget(nullptr).isValid());

    const QVariant pair = TEVServiceInvocation::invocation(QStringLiteral("pair:with:"), QStringLiteral("NSArray"),
                                                           values::fromBool(true), values::fromString("x"))
                              ->invokeWithTarget(&target);
    EXPECT_TRUE(values::strictlyEqual(pair, values::fromArray({values::fromBool(true), values::fromString("x")})));
}

TEST(TEVServiceInvocation, KeyedArchiveRoundTripsAndForgetsUnknownReturnClasses)
{
    auto info = MonitorConnectionInfo::createForRemoteConnection(QStringLiteral("lab.example"), 4242);
    auto original = TEVServiceInvocation::invocation(QStringLiteral("connectToRemoteAcquisitionCenterUsingInfo:"),
                                                     QStringLiteral("NSNumber"), values::fromObject(info));
    auto decoded = roundTrip(original);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->selector(), original->selector());
    EXPECT_EQ(decoded->returnValueClass(), QStringLiteral("NSNumber"));
    EXPECT_FALSE(decoded->isOneWay());
    ASSERT_EQ(decoded->arguments().size(), 1);
    auto decodedInfo = platform::objectAs<MonitorConnectionInfo>(values::toObject(decoded->arguments().at(0)));
    ASSERT_TRUE(decodedInfo);
    EXPECT_TRUE(decodedInfo->isEqual(*info));

    auto oneWay = roundTrip(TEVServiceInvocation::voidOneWayInvocation(QStringLiteral("rescanForSensors")));
    ASSERT_TRUE(oneWay);
    EXPECT_TRUE(oneWay->isOneWay());
    EXPECT_TRUE(oneWay->returnValueClass().isEmpty());

    auto unknown = roundTrip(TEVServiceInvocation::invocation(QStringLiteral("ping"), QStringLiteral("TEVNoSuchClass")));
    ASSERT_TRUE(unknown);
    EXPECT_TRUE(unknown->returnValueClass().isEmpty());
}

TEST(TEVServiceInvocation, DescriptionNamesTypesAndArguments)
{
    auto call = TEVServiceInvocation::invocation(QStringLiteral("setSMARTUpdateInterval:saverInterval:"), QString(),
                                                 values::fromReal(2.5), values::fromUnsigned(30));
    EXPECT_EQ(call->description(), QStringLiteral("- (void *) setSMARTUpdateInterval:(NSNumber *) arg0 "
                                                  "saverInterval:(NSNumber *) arg1 \n\targ0: 2.5\n\targ1: 30\n"));
    EXPECT_EQ(TEVServiceInvocation::voidOneWayInvocation(QStringLiteral("stop"))->description(),
              QStringLiteral("- (oneway void *) stop\n"));
    EXPECT_EQ(TEVServiceInvocation::invocation(QStringLiteral("a:"), QString())->description(),
              QStringLiteral("<invalid invocation with selector 'a:'>"));
}

TEST(TEVInvocationStatus, WrongClassIsWithheldUntilTimeOutAndNilIsADelivery)
{
    TEVInvocationStatus status(QStringLiteral("NSDictionary"), false);
    during([&] {
        status.deliverReturnValue(values::fromString("nope"));
        kt::clock()->advanceSeconds(3);
    });
    EXPECT_FALSE(status.waitInRunLoopUntilReturnValueDeliveredWithTimeout(3));
    EXPECT_EQ(status.lastWaitResult(), platform::WaitResult::TimedOut);
    EXPECT_TRUE(kt::log().contains(QStringLiteral("invalid return value received, expected NSDictionary but got NSString\n")));
    EXPECT_TRUE(kt::log().contains(QStringLiteral("TEVInvocationStatus: timeout while waiting for server response, will disconnect.\n")));

    // Delivered from another thread, as the reply reader does.
    auto released = std::make_shared<TEVInvocationStatus>(QStringLiteral("NSDictionary"), false);
    std::unique_ptr<QThread> deliverer(QThread::create([released] { released->deliverReturnValue(QVariant()); }));
    deliverer->start();
    EXPECT_TRUE(released->waitInRunLoopUntilReturnValueDeliveredWithTimeout(3));
    EXPECT_FALSE(released->returnValue().isValid());
    deliverer->wait();
}

TEST(TEVInvocationStatus, ProgressKeepsTheWaitAliveButUnrelatedTimersDoNot)
{
    auto loop = platform::RunLoop::main();
    for (const bool progress : {true, false}) {
        TEVInvocationStatus status(QString(), false);
        int ticks = 0;
        // A line every second for 5 s; the reply comes with the last one. Each tick moves the clock on to
        // the next, so every firing happens inside the wait.
        platform::Timer timer = loop->addTimer(platform::durationFromSeconds(1), [&] {
            ++ticks;
            if (progress)
                status.reportProgress();
            if (ticks == 5)
                status.deliverReturnValue(values::fromString("done"));
            during([] { kt::clock()->advanceSeconds(1); });
        }, true);
        during([] { kt::clock()->advanceSeconds(1); });
        EXPECT_EQ(status.waitInRunLoopUntilReturnValueDeliveredWithTimeout(3), progress) << progress;
        if (progress)
            EXPECT_EQ(ticks, 5);
        else
            EXPECT_LT(ticks, 5);
        timer.invalidate();
    }
}

TEST(TEVInvocationStatus, WithdrawingEndsTheWaitAtOnce)
{
    TEVInvocationStatus status(QString(), true);
    EXPECT_FALSE(status.isServiceInvocation());
    during([&] { status.withdraw(); });
    kt::log().clear();
    EXPECT_FALSE(status.waitInRunLoopUntilReturnValueDeliveredWithTimeout(10));
    EXPECT_EQ(status.lastWaitResult(), platform::WaitResult::Withdrawn);
    EXPECT_TRUE(kt::log().lines().isEmpty());
}
