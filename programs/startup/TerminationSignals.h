#pragma once
// TerminationSignals: turns SIGTERM, SIGINT and SIGHUP (kill, Ctrl-C, the end of the session) into a call
// on the main thread, so that the program quits through its event loop and writes what it keeps. The
// handler only writes the signal's number into a pipe; a socket notifier reads it on the main thread. One
// per process, made by main() after the application object.

#include <QObject>

#include <functional>

class QSocketNotifier;

class TerminationSignals final : public QObject {
public:
    explicit TerminationSignals(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;

    // False (and the default dispositions kept) when the pipe or a handler cannot be set up.
    bool install();
    // A write to a pipe, FIFO or socket whose reader has gone then fails with EPIPE, and one beyond the
    // file-size limit with EFBIG (as a full disk does), instead of ending the process with the session
    // unsaved. For the whole process, from its start; nothing puts it back.
    static void ignoreSignalsOfFailedWrites();

private:
    static void handler(int signal);
    void readSignals();

    std::function<void(int)> onSignal_;
    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};
