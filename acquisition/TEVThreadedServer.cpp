#include "acquisition/TEVThreadedServer.h"

#include "platform/foundation/ConditionLock.h"
#include "platform/foundation/HappensBefore.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>

namespace values = platform::values;
using Duration = platform::Clock::Duration;

namespace {
constexpr auto kClassName = "TEVThreadedServer";

// Longer waits are "never" here; capped so that adding deadlines cannot overflow.
constexpr Duration kCentury = std::chrono::hours(24 * 365 * 100);

Duration capped(Duration duration)
{
    return std::clamp(duration, Duration::zero(), kCentury);
}

// As long as the program's own wait for its capture threads at the exit: only a thread stuck for a minute
// is left behind.
constexpr int kExitWaitMs = 60'000;

// The servers whose thread was started, for the application object's end.
struct StartedServers {
    std::mutex mutex;
    std::vector<std::weak_ptr<TEVThreadedServer>> servers;
    bool routineAdded = false;
};

StartedServers& startedServers()
{
    // Never destroyed: a thread may start during the statics' teardown.
    static auto* instance = new StartedServers;
    return *instance;
}
} // namespace

// --- One call's state ---------------------------------------------------------------------------------

TEVThreadedServer::CallState::CallState(Duration deadline, Duration waitBound)
    : runDeadline_(deadline)
    , waitBound_(waitBound)
{
}

bool TEVThreadedServer::CallState::hasStarted() const
{
    std::lock_guard lock(mutex_);
    return startedAt_.has_value();
}

bool TEVThreadedServer::CallState::isAnswered() const
{
    std::lock_guard lock(mutex_);
    return answered_;
}

Duration TEVThreadedServer::CallState::deadline() const
{
    std::lock_guard lock(mutex_);
    return startedAt_ ? *startedAt_ + runDeadline_ : waitBound_;
}

std::optional<QVariant> TEVThreadedServer::CallState::result() const
{
    std::lock_guard lock(mutex_);
    return result_;
}

void TEVThreadedServer::CallState::start(Duration now)
{
    {
        std::lock_guard lock(mutex_);
        startedAt_ = now;
    }
    // A waiter looks at its deadline again.
    changed_.notify_all();
}

void TEVThreadedServer::CallState::answer(const std::optional<QVariant>& result)
{
    {
        std::lock_guard lock(mutex_);
        answered_ = true;
        result_ = result;
    }
    changed_.notify_all();
}

TEVThreadedServer::CallState::Outcome TEVThreadedServer::CallState::wait(std::optional<Duration> giveUpAt) const
{
    const auto clock = platform::Clock::shared();
    const bool manual = clock->isManual();
    // A manual clock moves only when told; its listener wakes this wait to look at the deadline again. It
    // takes the mutex before notifying, so a move between a reading and the wait is not lost.
    int listener = 0;
    if (manual)
        listener = clock->addListener([weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                std::lock_guard lock(self->mutex_);
                self->changed_.notify_all();
            }
        });
    Outcome outcome = Outcome::TimedOut;
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (answered_) {
                outcome = result_ ? Outcome::Answered : Outcome::NeverPerformed;
                break;
            }
            // Read again on every turn: the start moves the deadline.
            Duration end = startedAt_ ? *startedAt_ + runDeadline_ : waitBound_;
            if (giveUpAt)
                end = std::min(end, *giveUpAt);
            const Duration now = clock->monotonic();
            if (now >= end)
                break;
            if (manual)
                changed_.wait(lock);
            else
                // The system clock's monotonic reading is steady_clock's.
                changed_.wait_until(lock, std::chrono::steady_clock::now() + (end - now));
        }
    }
    if (manual)
        clock->removeListener(listener);
    return outcome;
}

// The worker: its event loop is the server's run loop. It holds the server while it runs.
class TEVThreadedServer::Thread final : public QThread {
public:
    std::shared_ptr<TEVThreadedServer> keepAlive;
    void enterLoop() { exec(); }

protected:
    void run() override
    {
        auto server = std::move(keepAlive);
        if (!server)
            return;
        server->threadBody();
        // The last reference should go on the main thread, where the destructor can join this thread. It
        // goes once this thread has quite finished: a call of its loop that still holds the server meanwhile
        // would otherwise drop the last reference here, where the QThread can be neither joined nor deleted.
        if (auto main = platform::RunLoop::main())
            main->perform([released = std::move(server), thread = this] { thread->wait(); });
        platform::happensbefore::release(this);
    }
};

std::shared_ptr<TEVThreadedServer> TEVThreadedServer::create(const std::weak_ptr<TEVThreadedServerClient>& client)
{
    if (client.expired())
        return nullptr;
    return std::shared_ptr<TEVThreadedServer>(new TEVThreadedServer(client));
}

TEVThreadedServer::TEVThreadedServer(const std::weak_ptr<TEVThreadedServerClient>& client)
    : client_(client)
    , thread_(new Thread)
{
    thread_->setObjectName(QStringLiteral("TEVThreadedServer"));
    addHandler(pingSelector, [this] { return values::fromString(ping()); });
    addHandler(simulateFailureSelector, [this](const QVariant& seconds) {
        simulateFailureForTimeInterval(values::toReal(seconds).value_or(0));
        return QVariant();
    });
}

TEVThreadedServer::~TEVThreadedServer()
{
    if (QThread::currentThread() == thread_) {
        // Only for a thread that outlived the application object's wait for it: a QThread cannot be joined or
        // deleted from inside, so it is left behind.
        return;
    }
    thread_->quit();
    thread_->wait();
    {
        std::lock_guard lock(stateMutex_);
        closed_ = true;
    }
    // Calls handed to a server whose thread never ran.
    failQueuedCalls();
    // What the worker wrote (its members, the run loop's teardown) is ordered before the delete by the
    // wait, through Qt's own state.
    platform::happensbefore::acquire(thread_);
    delete thread_;
}

void TEVThreadedServer::run()
{
    {
        std::lock_guard lock(stateMutex_);
        if (started_)
            return;
        started_ = true;
    }
    thread_->keepAlive = shared_from_this();
    thread_->start();
    StartedServers& started = startedServers();
    std::lock_guard lock(started.mutex);
    std::erase_if(started.servers, [](const auto& weak) { return weak.expired(); });
    started.servers.push_back(weak_from_this());
    if (!std::exchange(started.routineAdded, true))
        qAddPostRoutine(&TEVThreadedServer::endStartedThreads);
}

void TEVThreadedServer::endStartedThreads()
{
    // Called as the application object goes, on its thread, while its loop still takes calls: a thread that
    // ends later finds no loop to hand its last reference to, drops it on itself, and its QThread, which
    // cannot be deleted there, is left behind. Whoever stopped a server need not have waited for its end.
    std::vector<std::shared_ptr<TEVThreadedServer>> servers;
    {
        StartedServers& started = startedServers();
        std::lock_guard lock(started.mutex);
        started.routineAdded = false;
        for (const auto& weak : std::exchange(started.servers, {}))
            if (auto server = weak.lock())
                servers.push_back(std::move(server));
    }
    for (const auto& server : servers)
        server->stop();
    const QDeadlineTimer deadline(kExitWaitMs);
    for (const auto& server : servers)
        if (QThread::currentThread() != server->thread_ && !server->thread_->wait(deadline))
            platform::log(kClassName, QStringLiteral("a thread did not end before the application object went"));
}

bool TEVThreadedServer::isRunning() const
{
    std::lock_guard lock(stateMutex_);
    return running_;
}

std::shared_ptr<platform::RunLoop> TEVThreadedServer::runLoop() const
{
    std::lock_guard lock(stateMutex_);
    return runLoop_;
}

QThread* TEVThreadedServer::serverThread() const
{
    std::lock_guard lock(stateMutex_);
    return ended_ ? nullptr : thread_;
}

void TEVThreadedServer::threadBody()
{
    auto loop = platform::RunLoop::current();
    bool scheduled = false;
    {
        std::lock_guard lock(stateMutex_);
        runLoop_ = loop;
        running_ = true;
        scheduled = sourceValid_ = !stopRequested_;
    }
    if (scheduled) {
        tellClient(true);
        // Calls handed over before the loop existed found no loop to wake. Only such calls are performed
        // here: an empty wake-up must not end a cancelled loop before the call that shutdown waits for.
        loop->perform([weak = weak_from_this()] {
            auto server = weak.lock();
            if (!server)
                return;
            bool pending = false;
            {
                std::lock_guard lock(server->invocationLock_);
                pending = !server->queue_.empty();
            }
            if (pending)
                server->runLoopSourceHasFired();
        });
        thread_->enterLoop();
    }
    {
        std::lock_guard lock(stateMutex_);
        closed_ = true;
    }
    failQueuedCalls();
    threadWillEnd();
    if (invalidateSource())
        tellClient(false);
    std::lock_guard lock(stateMutex_);
    runLoop_.reset();
    running_ = false;
    ended_ = true;
}

bool TEVThreadedServer::invalidateSource()
{
    std::lock_guard lock(stateMutex_);
    return std::exchange(sourceValid_, false);
}

void TEVThreadedServer::tellClient(bool registered)
{
    auto main = platform::RunLoop::main();
    if (!main)
        return;
    main->perform([client = client_, server = shared_from_this(), registered] {
        if (auto c = client.lock())
            registered ? c->registerThreadedServer(server) : c->deregisterThreadedServer(server);
    });
}

std::shared_ptr<const TEVThreadedServer::CallState> TEVThreadedServer::invoke(
    const std::shared_ptr<TEVServiceInvocation>& invocation, CompletionBlock block, Duration deadline)
{
    if (!invocation || !invocation->validate())
        return nullptr;
    if (invocation->isOneWay() == bool(block)) {
        platform::log(QStringLiteral("%1: mismatch between oneway invocation and completion block detected, will "
                                     "not invoke '%2'!\n")
                          .arg(className(), invocation->selector()));
        return nullptr;
    }
    deadline = capped(deadline);
    std::shared_ptr<CallState> state;
    std::shared_ptr<platform::RunLoop> loop;
    {
        // Queued under the state lock, so that a call is either refused here or still found by the thread's
        // end, which fails what is left.
        std::lock_guard lock(stateMutex_);
        if (stopRequested_ || ended_ || closed_)
            return nullptr;
        {
            std::lock_guard queueLock(invocationLock_);
            // The calls ahead should all be answered by the latest of their deadlines; this one waits for
            // them and then has its own.
            const Duration now = platform::monotonicNow();
            Duration ahead = now;
            for (const auto& performing : performing_)
                ahead = std::max(ahead, performing->deadline());
            for (const QueuedCall& queued : queue_)
                ahead = std::max(ahead, queued.state->deadline());
            state.reset(new CallState(deadline, std::min(ahead, now + kCentury) + deadline));
            queue_.push_back(QueuedCall{invocation, std::move(block), state});
        }
        if (sourceValid_)
            loop = runLoop_;
    }
    if (loop)
        loop->perform([weak = weak_from_this()] {
            if (auto server = weak.lock())
                server->runLoopSourceHasFired();
        });
    return state;
}

void TEVThreadedServer::runLoopSourceHasFired()
{
    performQueuedCalls();
    if (auto loop = platform::RunLoop::current(); loop && loop->isCancelled())
        thread_->quit();
}

void TEVThreadedServer::performQueuedCalls()
{
    for (;;) {
        {
            // A stopped server performs nothing more: what is left fails as the thread ends.
            std::lock_guard lock(stateMutex_);
            if (stopRequested_)
                return;
        }
        // Invocation, block and state leave the queue together, so a call can never receive another's result.
        QueuedCall taken;
        {
            std::lock_guard lock(invocationLock_);
            if (queue_.empty())
                return;
            taken = std::move(queue_.front());
            queue_.pop_front();
            performing_.push_back(taken.state);
        }
        std::optional<QVariant> result;
        // Checked when queued: a call that changed meanwhile is answered, not left to its time-out.
        if (taken.invocation->validate()) {
            taken.state->start(platform::monotonicNow());
            result = taken.invocation->invokeWithTarget(this);
        }
        {
            std::lock_guard lock(invocationLock_);
            // Calls started inside this one's nested waits have ended before it.
            performing_.pop_back();
        }
        answer(taken, result);
    }
}

void TEVThreadedServer::answer(QueuedCall& call, const std::optional<QVariant>& result)
{
    call.state->answer(result);
    if (call.block)
        call.block(result);
    else if (!call.invocation->isOneWay())
        platform::log(QStringLiteral("%1: possible failure and deadlock - completion block for the "
                                     "invocation '%2' is nil!\n")
                          .arg(className(), call.invocation->selector()));
}

void TEVThreadedServer::failQueuedCalls()
{
    // In the order given. Nothing joins the queue meanwhile: it is closed, so a block's invoke() is refused.
    for (;;) {
        QueuedCall left;
        {
            std::lock_guard lock(invocationLock_);
            if (queue_.empty())
                return;
            left = std::move(queue_.front());
            queue_.pop_front();
        }
        answer(left, std::nullopt);
    }
}

void TEVThreadedServer::stop()
{
    {
        std::lock_guard lock(stateMutex_);
        if (!started_ || ended_ || stopRequested_)
            return;
        stopRequested_ = true;
    }
    if (auto loop = platform::RunLoop::forThread(thread_))
        loop->cancel();
    if (invalidateSource())
        tellClient(false);
    thread_->quit();
}

void TEVThreadedServer::shutdown()
{
    if (auto loop = runLoop())
        loop->cancel();
}

void TEVThreadedServer::simulateFailureForTimeInterval(double seconds)
{
    if (!(seconds > 0))
        return;
    platform::ConditionLock never(0);
    if (never.lockWhenCondition(1, platform::durationFromSeconds(seconds)))
        never.unlock();
}
