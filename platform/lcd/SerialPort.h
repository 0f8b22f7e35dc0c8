#pragma once
// SerialPort: a serial port opened and set up for a character-LCD module (19200 baud, 8N1, raw, no flow
// control, DTR and RTS on). Writes never wait: a module that stopped reading loses frames, not the
// program's time. It puts back the settings it found and closes when destroyed, after draining for at most
// DrainLimit. One thread at a time.

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>

namespace platform {

// The byte link of a serial controller; tests put a recording one in its place.
class SerialTransport {
public:
    virtual ~SerialTransport() = default;
    // All of `bytes`, in order; false when they could not all be written.
    virtual bool write(const QByteArray& bytes) = 0;
    // The link is gone (the device was unplugged): every later write fails too.
    virtual bool hasFailed() const { return false; }
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
    static constexpr std::chrono::milliseconds DrainLimit{500};

    // Opens `path` without becoming its controlling terminal, claims it exclusively and sets it up. Null
    // `write`: the write system call (tests pass one that writes short).
    static Opening open(const QString& path, WriteCall write = nullptr);
    ~SerialPort() override;

    // Without waiting: continues short writes while the port takes bytes. A frame the port takes in part
    // is kept whole: its rest goes out before the next frame. A frame that finds the port full (or the rest of
    // an earlier one still waiting) is dropped: false. An error other than an interruption fails the port.
    bool write(const QByteArray& bytes) override;
    bool hasFailed() const override { return failed_; }

private:
    SerialPort() = default;
    struct Saved;
    enum class Outcome { Done, Full, Failed };
    // Writes from the front of `bytes` while the port takes them, removing what went out.
    Outcome writeSome(QByteArray& bytes);

    int fd_ = -1;
    std::unique_ptr<Saved> saved_;
    WriteCall write_;
    QByteArray rest_; // of a frame the port took in part
    bool failed_ = false;
};

} // namespace platform
