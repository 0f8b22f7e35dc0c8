#include "acquisition/TEVInvocationStatus.h"

#include "acquisition/TEVInvocationTarget.h"

#include "platform/foundation/Assert.h"
#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Log.h"

#include <cmath>

namespace {
constexpr auto kClassName = "TEVInvocationStatus";
}

TEVInvocationStatus::TEVInvocationStatus(const QString& returnValueClass, bool meta)
    : isServiceInvocation_(!meta)
    , returnValueClass_(returnValueClass)
{
}

QVariant TEVInvocationStatus::returnValue() const
{
    std::lock_guard lock(valueMutex_);
    return returnValue_;
}

bool TEVInvocationStatus::deliverReturnValue(const QVariant& value)
{
    if (source_.isDelivered() || source_.isWithdrawn())
        return true; // a request settles once: a repeated reply does not replace the first
    if (value.isValid() && !returnValueClass_.isEmpty()) {
        const QString actual = TEVInvocationTarget::classNameOfValue(value);
        if (!platform::ClassRegistry::shared().isKindOf(actual, returnValueClass_)) {
            platform::log(QStringLiteral("%1: invalid return value received, expected %2 but got %3\n")
                              .arg(QLatin1String(kClassName), returnValueClass_, actual));
            return false;
        }
    }
    returnValueLock_.lock();
    {
        std::lock_guard lock(valueMutex_);
        returnValue_ = value;
    }
    returnValueLock_.unlockWithCondition(1);
    source_.deliver();
    return true;
}

void TEVInvocationStatus::reportProgress()
{
    source_.reportProgress();
}

void TEVInvocationStatus::withdraw()
{
    source_.withdraw();
}

bool TEVInvocationStatus::waitInRunLoopUntilReturnValueDeliveredWithTimeout(double timeout, double totalLimit)
{
    KV_ASSERT_OR_RETURN(std::isfinite(timeout) && timeout > 0, false, "invalid timeout");
    const auto loop = platform::RunLoop::current();
    KV_ASSERT_OR_RETURN(loop, false, "waiting needs a thread with a run loop");
    pastTotalLimit_ = false;
    platform::Timer limit;
    if (std::isfinite(totalLimit) && totalLimit > 0)
        // Fires on this thread, inside the wait below, and is gone before this returns.
        limit = loop->performAfter(platform::durationFromSeconds(totalLimit), [this] {
            pastTotalLimit_ = true;
            source_.withdraw();
        });
    // No lock is held while the loop runs; the condition is only looked at after the wait ended.
    lastWaitResult_ = loop->runUntil(source_, platform::durationFromSeconds(timeout));
    limit.invalidate();
    if (pastTotalLimit_)
        lastWaitResult_ = platform::WaitResult::TimedOut;
    if (returnValueLock_.tryLockWhenCondition(1)) {
        returnValueLock_.unlockWithCondition(1);
        lastWaitResult_ = platform::WaitResult::Delivered;
        return true;
    }
    if (lastWaitResult_ == platform::WaitResult::TimedOut)
        platform::log(QStringLiteral("%1: timeout while waiting for server response, will disconnect.\n")
                          .arg(QLatin1String(kClassName)));
    return false;
}
