#pragma once
// TEVInvocationStatus: one pending request of the invocation client. The sending thread waits for it in
// its own run loop; the thread that reads the reply delivers the result, reports progress (a line arrived)
// or withdraws the request (the connection went). Shared by those two threads through a shared_ptr.

#include "platform/foundation/ConditionLock.h"
#include "platform/foundation/RunLoop.h"

#include <QString>
#include <QVariant>

#include <memory>
#include <mutex>

class TEVInvocationStatus {
public:
    // `returnValueClass` empty accepts any value; `meta` marks the protocol's own requests.
    TEVInvocationStatus(const QString& returnValueClass, bool meta);

    bool isServiceInvocation() const { return isServiceInvocation_; }
    const QString& returnValueClass() const { return returnValueClass_; }
    QVariant returnValue() const;
    platform::ConditionLock& returnValueLock() { return returnValueLock_; }

    // A value of the wrong class is logged and withheld (false); nil is a valid delivery. Any thread.
    bool deliverReturnValue(const QVariant& value);
    // Restarts the waiter's time-out: part of the reply, or other traffic from the server, arrived.
    void reportProgress();
    // Ends the wait at once without a value (connection closed, client going away).
    void withdraw();

    // True when delivered. `timeout` is in seconds and must be above 0; it runs from the start of the wait
    // or from the last reported progress, not from other work the run loop does meanwhile. `totalLimit`
    // (seconds, 0 = none) ends the wait from its start however much progress is reported: a peer that
    // trickles a byte now and then cannot hold it for good. Either ending reads as TimedOut.
    bool waitInRunLoopUntilReturnValueDeliveredWithTimeout(double timeout, double totalLimit = 0);
    // How the last wait ended.
    platform::WaitResult lastWaitResult() const { return lastWaitResult_; }

private:
    const bool isServiceInvocation_;
    const QString returnValueClass_;
    mutable std::mutex valueMutex_;
    QVariant returnValue_;
    platform::ConditionLock returnValueLock_{0};
    platform::WaitSource source_;
    platform::WaitResult lastWaitResult_ = platform::WaitResult::TimedOut;
    bool pastTotalLimit_ = false; // the waiting thread only
};
