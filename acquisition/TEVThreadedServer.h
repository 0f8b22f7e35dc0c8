#pragma once
// TEVThreadedServer: a worker thread with its own run loop that performs, one at a time and in the order
// given, invocations handed to it from another thread (in practice the main thread), on itself as target,
// and passes each result to the call's completion block. Owned by its client (shared_ptr) and, while it runs, by its own thread;
// the client hears of readiness and loss on the main thread.

#include "acquisition/TEVInvocationTarget.h"
#include "acquisition/TEVServiceInvocation.h"

#include "platform/foundation/RunLoop.h"

#include <QVariant>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QThread;
class TEVThreadedServer;

// Told on the main thread, through queued calls, when the server's thread takes calls and when it has gone.
class TEVThreadedServerClient {
public:
    virtual ~TEVThreadedServerClient() = default;
    virtual void registerThreadedServer(const std::shared_ptr<TEVThreadedServer>& server) = 0;
    virtual void deregisterThreadedServer(const std::shared_ptr<TEVThreadedServer>& server) = 0;
};

class TEVThreadedServer : public TEVInvocationTarget, public std::enable_shared_from_this<TEVThreadedServer> {
public:
    // Called once per call, with invocationLock held: it must only hand the result over. The result is
    // nothing when the call was never performed (the thread ended first); then it may run on any thread.
    using CompletionBlock = std::function<void(const std::optional<QVariant>& result)>;

    static inline const QString pingSelector = QStringLiteral("ping");
    static inline const QString simulateFailureSelector = QStringLiteral("simulateFailureForTimeInterval:");

    // Null for a null client. The thread is created, not started.
    static std::shared_ptr<TEVThreadedServer> create(const std::weak_ptr<TEVThreadedServerClient>& client);
    ~TEVThreadedServer() override;
    TEVThreadedServer(const TEVThreadedServer&) = delete;
    TEVThreadedServer& operator=(const TEVThreadedServer&) = delete;

    QString className() const override { return QStringLiteral("TEVThreadedServer"); }

    // Starts the worker thread unless it runs or has run.
    void run();
    // Any thread. A two-way invocation needs a block, a one-way one must have none. Calls wait in a queue
    // and are performed in the order given, each once; one still queued when the thread ends has its block
    // called with nothing. A call made before the thread runs is performed once it does. False (and no
    // block call) when the call will never be performed: refused, or the server is stopping or has ended.
    bool invoke(const std::shared_ptr<TEVServiceInvocation>& invocation, CompletionBlock block);
    // Ends the worker thread: the client is told deregisterThreadedServer once, waits on the worker end.
    void stop();
    // Marks the thread cancelled without stopping it: nested waits end, and its loop ends after the call
    // it is performing.
    void shutdown();

    QString ping() const { return QStringLiteral("pong"); }
    // Blocks the worker thread for `seconds` on the shared clock (a test operation).
    void simulateFailureForTimeInterval(double seconds);

    bool isRunning() const;
    // The worker's run loop while the thread runs, else null.
    std::shared_ptr<platform::RunLoop> runLoop() const;
    // The worker thread, for identity checks; null once it ended.
    QThread* serverThread() const;

protected:
    explicit TEVThreadedServer(const std::weak_ptr<TEVThreadedServerClient>& client);
    // On the worker thread once its loop has ended, before the client hears of it: what the worker alone
    // may touch is released here.
    virtual void threadWillEnd() {}

private:
    class Thread;
    friend class Thread;
    struct Slot {
        std::shared_ptr<TEVServiceInvocation> invocation;
        CompletionBlock block;
    };

    void threadBody();
    void runLoopSourceHasFired();
    // Performs the queued calls until none is left; a nested wait inside one may perform later ones.
    void performQueuedCalls();
    // The calls that will never be performed get their blocks called with nothing.
    void failQueuedCalls();
    // Stands for the run-loop source's cancel routine: true for the one call that invalidated it.
    bool invalidateSource();
    void tellClient(bool registered);

    std::weak_ptr<TEVThreadedServerClient> client_;
    Thread* thread_ = nullptr; // owned; deleted by the destructor, off the worker thread

    mutable std::mutex stateMutex_; // guards the fields below; never held while calling out
    std::shared_ptr<platform::RunLoop> runLoop_;
    bool started_ = false;
    bool running_ = false;
    bool ended_ = false;
    bool stopRequested_ = false;
    bool sourceValid_ = false;
    bool closed_ = false; // the loop has ended: no call is queued any more

    // invocationLock: guards the queue and is held while a completion block runs. Taken after stateMutex_
    // where both are held.
    std::mutex invocationLock_;
    std::deque<Slot> queue_;
};
