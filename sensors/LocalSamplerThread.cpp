#include "sensors/LocalSamplerThread.h"

#include <QCoreApplication>
#include <QThread>

#include <mutex>

namespace {

std::mutex mutex;
QThread* thread = nullptr;
bool stopped = false;

void stop()
{
    QThread* ending = nullptr;
    {
        std::lock_guard lock(mutex);
        ending = thread;
        thread = nullptr;
        stopped = true;
    }
    if (ending) {
        ending->quit();
        ending->wait();
        delete ending;
    }
}

} // namespace

std::shared_ptr<platform::RunLoop> LocalSamplerThread::runLoop()
{
    std::lock_guard lock(mutex);
    if (!thread && !stopped) {
        thread = new QThread;
        thread->setObjectName(QStringLiteral("kelvaro-samplers"));
        thread->start();
        // A thread still running when the statics go would be destroyed under its own feet.
        if (QCoreApplication::instance())
            qAddPostRoutine(stop);
    }
    return thread ? platform::RunLoop::forThread(thread) : nullptr;
}
