#pragma once
// TEVThreadedServer: a worker thread with its own run loop that performs, one at a time, invocations handed
// to it from another thread (in practice the main thread), on itself as target, and passes each result to
// the call's completion block. Owned by its client (shared_ptr) and, while it runs, by its own thread;
// the client hears of readiness and loss on the main thread.

#include "acquisition/TEVInvocationTarget.h"
#include "acquisition/TEVServiceInvocation.h"

#include "platform/foundation/RunLoop.h"

#include <QVariant>

#include <functional>
#include <memory>
#include <mutex>

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
    // Called on the worker thread with invocationLock held: it must only hand the result over.
    using CompletionBlock = std::function<void(const QVariant& result)>;

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
    // Any thread. A two-way invocation needs a block, a one-way one must have none; the call replaces
    // whatever waits in the slot (the replaced call's block is never called). A call made before the
    // thread runs is performed once it does. False when the call will never be performed: refused, or
    // the server is stopping or has ended.
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

    // invocationLock: guards the slot and is held while a completion block runs.
    std::mutex invocationLock_;
    Slot slot_;
};
