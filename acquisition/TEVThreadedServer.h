#pragma once
// TEVThreadedServer: a worker thread with its own run loop that performs, one at a time and in the order
// given, invocations handed to it from another thread (in practice the main thread), on itself as target,
// and passes each result to the call's completion block. Owned by its client (shared_ptr) and, while it runs, by its own thread;
// the client hears of readiness and loss on the main thread. No thread outlives the application object:
// its end stops every server still running and waits for the threads still ending.
//
// The rules of the queue:
// - invoke() may be called from any thread, from a completion block too. Calls start in the order they
//   were handed over, on the worker thread. A call that waits in a nested run loop (for a remote computer's
//   answer) lets the calls after it start inside that wait; they complete before it does.
// - Every call handed over is answered exactly once: with its result once performed, with nothing when it
//   never will be (the server stopped, the thread ended, or the invocation no longer validates). Calls left
//   when the thread ends are answered in the order given.
// - Completion blocks run one at a time, on the worker thread, or for a server whose thread never ran on the
//   one that destroys it; no lock of the server is held while a block or an invocation runs.
// - A call's deadline runs from when the worker starts performing it: time spent queued does not count. So
//   that no caller waits for good (a thread held by work that is no call, a call that overran), a queued
//   call also has a wait bound: its own deadline added to the latest end of the calls handed over before
//   it, as their deadlines allow. The server only keeps the times; the caller decides what a passed
//   deadline means.

#include "acquisition/TEVInvocationTarget.h"
#include "acquisition/TEVServiceInvocation.h"

#include "platform/foundation/RunLoop.h"

#include <QVariant>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

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
    // Called once per call, with no lock of the server held: it may hand the result on, call invoke() or
    // stop(). The result is nothing when the call was never performed.
    using CompletionBlock = std::function<void(const std::optional<QVariant>& result)>;

    // What the caller holds of one call it handed over: queued, then performed, then answered, each once.
    // Shared by the server and the caller; every member may be used from any thread. Times are readings of
    // the shared clock's monotonic().
    class CallState : public std::enable_shared_from_this<CallState> {
    public:
        enum class Outcome {
            Answered,       // performed: result() holds what it returned
            NeverPerformed, // answered with nothing
            TimedOut,       // deadline() passed first
        };
        CallState(const CallState&) = delete;
        CallState& operator=(const CallState&) = delete;

        bool hasStarted() const;
        bool isAnswered() const;
        // When its caller stops waiting: the start plus the call's deadline once the worker performs it, its
        // wait bound until then. It moves only at the start.
        platform::Clock::Duration deadline() const;
        // Blocks until the call is answered or the shared clock has reached deadline(), or `giveUpAt` where
        // that comes first.
        Outcome wait(std::optional<platform::Clock::Duration> giveUpAt = std::nullopt) const;
        // Nothing until answered, and for a call never performed.
        std::optional<QVariant> result() const;

    private:
        friend class TEVThreadedServer;
        CallState(platform::Clock::Duration deadline, platform::Clock::Duration waitBound);
        void start(platform::Clock::Duration now);
        void answer(const std::optional<QVariant>& result);

        mutable std::mutex mutex_;
        mutable std::condition_variable changed_;
        const platform::Clock::Duration runDeadline_;
        const platform::Clock::Duration waitBound_;
        std::optional<platform::Clock::Duration> startedAt_; // guarded by mutex_
        bool answered_ = false;                              // likewise
        std::optional<QVariant> result_;                     // likewise
    };

    // A call's deadline where its caller gives none: as long as the main thread may be held by one call.
    static constexpr platform::Clock::Duration defaultCallDeadline{std::chrono::seconds(10)};

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
    // called with nothing. A call made before the thread runs is performed once it does. `deadline` is how
    // long the call may run once started. Null (and no block call) when the call will never be performed:
    // refused, or the server is stopping or has ended.
    std::shared_ptr<const CallState> invoke(const std::shared_ptr<TEVServiceInvocation>& invocation,
                                            CompletionBlock block,
                                            platform::Clock::Duration deadline = defaultCallDeadline);
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
    struct QueuedCall {
        std::shared_ptr<TEVServiceInvocation> invocation;
        CompletionBlock block;
        std::shared_ptr<CallState> state;
    };

    // Stops the started servers and waits for their threads as the application object goes.
    static void endStartedThreads();
    void threadBody();
    void runLoopSourceHasFired();
    // Performs the queued calls until none is left; a nested wait inside one may perform later ones.
    void performQueuedCalls();
    // The calls that will never be performed get their blocks called with nothing.
    void failQueuedCalls();
    // The call's state first, so that a caller that sees it answered knows its block is called next.
    void answer(QueuedCall& call, const std::optional<QVariant>& result);
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

    // Guards the queue and the calls being performed; never held while calling out. Taken after
    // stateMutex_ where both are held.
    std::mutex invocationLock_;
    std::deque<QueuedCall> queue_;
    std::vector<std::shared_ptr<CallState>> performing_; // innermost last: nested waits start calls inside
};
