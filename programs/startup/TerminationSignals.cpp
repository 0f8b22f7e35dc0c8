#include "programs/startup/TerminationSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
// Written by the handler only; set once before any handler is installed.
volatile sig_atomic_t g_writeEnd = -1;

} // namespace

TerminationSignals::TerminationSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent)
    , onSignal_(std::move(onSignal))
{
}

TerminationSignals::~TerminationSignals()
{
    if (pipe_[0] < 0)
        return;
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : kSignals)
        sigaction(signal, &action, nullptr);
    g_writeEnd = -1;
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void TerminationSignals::ignoreSignalsOfFailedWrites()
{
    struct sigaction action = {};
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    sigaction(SIGPIPE, &action, nullptr);
    sigaction(SIGXFSZ, &action, nullptr);
}

bool TerminationSignals::install()
{
    if (pipe_[0] >= 0)
        return true;
    // Non-blocking on both ends: a burst of signals must neither block the handler nor the reader.
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return false;
    }
    g_writeEnd = pipe_[1];
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { readSignals(); });

    struct sigaction action = {};
    action.sa_handler = &TerminationSignals::handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals)
        if (sigaction(signal, &action, nullptr) != 0)
            return false;
    return true;
}

void TerminationSignals::handler(int signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signal);
    if (g_writeEnd >= 0) {
        // A full pipe already holds a wake-up; nothing else may be done here.
        [[maybe_unused]] const ssize_t written = ::write(g_writeEnd, &byte, 1);
    }
    errno = saved;
}

void TerminationSignals::readSignals()
{
    unsigned char bytes[16];
    ssize_t count = 0;
    while ((count = ::read(pipe_[0], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < count; ++i)
            if (onSignal_)
                onSignal_(bytes[i]);
}
