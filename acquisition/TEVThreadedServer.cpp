#include "acquisition/TEVThreadedServer.h"

#include "platform/foundation/ConditionLock.h"
#include "platform/foundation/HappensBefore.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"

#include <QThread>

namespace values = platform::values;

namespace {
constexpr auto kClassName = "TEVThreadedServer";
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
        // Only when the main loop was already gone: a QThread cannot be joined or deleted from inside.
        return;
    }
    thread_->quit();
    thread_->wait();
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

bool TEVThreadedServer::invoke(const std::shared_ptr<TEVServiceInvocation>& invocation, CompletionBlock block)
{
    if (!invocation || !invocation->validate())
        return false;
    if (invocation->isOneWay() == bool(block)) {
        platform::log(QStringLiteral("%1: mismatch between oneway invocation and completion block detected, will "
                                     "not invoke '%2'!\n")
                          .arg(className(), invocation->selector()));
        return false;
    }
    std::shared_ptr<platform::RunLoop> loop;
    {
        // Queued under the state lock, so that a call is either refused here or still found by the thread's
        // end, which fails what is left.
        std::lock_guard lock(stateMutex_);
        if (stopRequested_ || ended_ || closed_)
            return false;
        {
            std::lock_guard queueLock(invocationLock_);
            queue_.push_back(Slot{invocation, std::move(block)});
        }
        if (sourceValid_)
            loop = runLoop_;
    }
    if (loop)
        loop->perform([weak = weak_from_this()] {
            if (auto server = weak.lock())
                server->runLoopSourceHasFired();
        });
    return true;
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
        // Invocation and block leave the queue together, so a call can never receive another's result.
        Slot taken;
        {
            std::lock_guard lock(invocationLock_);
            if (queue_.empty())
                return;
            taken = std::move(queue_.front());
            queue_.pop_front();
        }
        if (!taken.invocation->validate()) {
            // Checked when queued: a call that changed meanwhile is answered, not left to its time-out.
            std::lock_guard lock(invocationLock_);
            if (taken.block)
                taken.block(std::nullopt);
            continue;
        }
        const QVariant result = taken.invocation->invokeWithTarget(this);
        if (!taken.invocation->isOneWay()) {
            std::lock_guard lock(invocationLock_);
            if (taken.block)
                taken.block(result);
            else
                platform::log(QStringLiteral("%1: possible failure and deadlock - completion block for the "
                                             "invocation '%2' is nil!\n")
                                  .arg(className(), taken.invocation->selector()));
        }
    }
}

void TEVThreadedServer::failQueuedCalls()
{
    std::deque<Slot> left;
    {
        std::lock_guard lock(invocationLock_);
        left.swap(queue_);
    }
    for (Slot& slot : left) {
        std::lock_guard lock(invocationLock_);
        if (slot.block)
            slot.block(std::nullopt);
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
