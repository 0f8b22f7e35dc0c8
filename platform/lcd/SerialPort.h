#pragma once
// SerialPort: a serial port opened and set up for a character-LCD module (19200 baud, 8N1, raw, no flow
// control, DTR and RTS on). It puts back the settings it found and closes when destroyed. One thread at a
// time.

#include "platform/foundation/Clock.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <functional>
#include <memory>

namespace platform {

// The byte link of a serial controller; tests put a recording one in its place.
class SerialTransport {
public:
    virtual ~SerialTransport() = default;
    // All of `bytes`, in order; false when they could not all be written.
    virtual bool write(const QByteArray& bytes) = 0;
};

class SerialPort final : public SerialTransport {
public:
    enum class Step { None, Open, ExclusiveAccess, GetSettings, SetSettings, ModemLines };
    using WriteCall = std::function<ssize_t(int fd, const void* bytes, size_t count)>;

    struct Opening {
        std::unique_ptr<SerialTransport> port; // null when a step failed
        Step failedStep = Step::None;
        int error = 0;                         // errno of the failed step
        // False when the port has no modem control lines to set (pseudo-terminals, some adapters): the port
        // works all the same.
        bool modemLinesSet = true;
    };

    static constexpr int Baud = 19200;

    // Opens `path` without becoming its controlling terminal, claims it exclusively and sets it up. Null
    // `write`: the write system call (tests pass one that writes short).
    static Opening open(const QString& path, WriteCall write = nullptr);
    ~SerialPort() override;

    // Continues short writes until every byte is out; fails on an error other than an interruption.
    bool write(const QByteArray& bytes) override;

    // Blocks for `duration` of the shared clock: a manual clock is moved on instead of waiting.
    static void pause(Clock::Duration duration);

private:
    SerialPort() = default;
    struct Saved;
    int fd_ = -1;
    std::unique_ptr<Saved> saved_;
    WriteCall write_;
};

} // namespace platform
