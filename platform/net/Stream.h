#pragma once
// Stream, InputStream, OutputStream: one direction of a byte connection to a peer, driven by the event loop
// of the thread that opened it. Events reach a weakly held delegate on that thread, as the platform's stream
// pairs report them: "has bytes available" once until the next read, "has space available" once until the
// next write. Backends: TcpStreamPair (sockets) and MemoryStreamPair (tests).

#include "platform/foundation/Error.h"

#include <QtGlobal>

#include <memory>
#include <optional>

namespace platform {

enum class StreamEvent { OpenCompleted, HasBytesAvailable, HasSpaceAvailable, EndEncountered, ErrorOccurred };

enum class StreamStatus { NotOpen, Opening, Open, AtEnd, Closed, Error };

class Stream;

class StreamDelegate {
public:
    virtual ~StreamDelegate() = default;
    virtual void stream(Stream& stream, StreamEvent event) = 0;
};

class Stream {
public:
    virtual ~Stream() = default;

    // Binds the stream to the current thread's event loop; events follow on later turns.
    virtual void open() = 0;
    // Idempotent; no events follow.
    virtual void close() = 0;
    virtual StreamStatus status() const = 0;
    // Set once the status is Error (also after a failed read or write).
    virtual std::optional<Error> streamError() const = 0;

    void setDelegate(std::weak_ptr<StreamDelegate> delegate) { delegate_ = std::move(delegate); }
    std::shared_ptr<StreamDelegate> delegate() const { return delegate_.lock(); }

protected:
    void notify(StreamEvent event)
    {
        if (auto delegate = delegate_.lock())
            delegate->stream(*this, event);
    }

private:
    std::weak_ptr<StreamDelegate> delegate_;
};

class InputStream : public Stream {
public:
    // Bytes read (> 0), 0 at the end of the stream, -1 on failure (see streamError). Reading when nothing is
    // buffered and the peer is still open gives -1 with EAGAIN: wait for HasBytesAvailable.
    virtual qint64 read(char* buffer, qint64 maxLength) = 0;
};

class OutputStream : public Stream {
public:
    // Bytes accepted (maybe fewer than `length`), 0 when there is no room right now (wait for
    // HasSpaceAvailable), -1 on failure (see streamError).
    virtual qint64 write(const char* data, qint64 length) = 0;
};

struct StreamPair {
    std::shared_ptr<InputStream> input;
    std::shared_ptr<OutputStream> output;
};

// A failure of the C library, in the POSIX domain with strerror's text.
Error posixError(int code);

} // namespace platform
