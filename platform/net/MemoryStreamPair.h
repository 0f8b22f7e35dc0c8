#pragma once
// MemoryStreamPair: two connected in-memory stream pairs for tests, each direction a bounded MemoryPipe
// whose writes and reads can be cut at any byte by a script. Both ends live on one thread; events are
// queued on the run loop of the thread that opened each stream, as a socket's would be.

#include "platform/net/Stream.h"

#include <QByteArray>

#include <deque>
#include <memory>

namespace platform {

class MemoryInput;
class MemoryOutput;
template <class Stream>
class MemoryEnd;

// One direction: what its writer wrote and its reader has not read yet.
class MemoryPipe : public std::enable_shared_from_this<MemoryPipe> {
public:
    explicit MemoryPipe(qint64 capacity) : capacity_(capacity) {}

    qint64 capacity() const { return capacity_; }
    const QByteArray& buffered() const { return buffer_; }
    // Each later write accepts at most the next size of the script (0: no room this time); then the
    // capacity alone limits. Reads alike.
    void scriptWrites(std::deque<qint64> sizes) { writeScript_ = std::move(sizes); }
    void scriptReads(std::deque<qint64> sizes) { readScript_ = std::move(sizes); }
    // Both streams of the pipe fail with `error` (ErrorOccurred), as on a reset connection.
    void fail(const Error& error);

private:
    friend class MemoryInput;
    friend class MemoryOutput;
    template <class>
    friend class MemoryEnd;
    friend class MemoryStreamPair;
    void update();
    static qint64 limit(std::deque<qint64>& script, qint64 most);

    const qint64 capacity_;
    QByteArray buffer_;
    std::deque<qint64> writeScript_;
    std::deque<qint64> readScript_;
    std::optional<Error> error_;
    bool writerClosed_ = false;
    bool readerClosed_ = false;
    bool readerNotified_ = false;
    bool writerNotified_ = false;
    std::weak_ptr<MemoryInput> reader_;
    std::weak_ptr<MemoryOutput> writer_;
};

class MemoryStreamPair {
public:
    struct Ends {
        StreamPair a; // a.output writes into b.input
        StreamPair b;
        std::shared_ptr<MemoryPipe> aToB;
        std::shared_ptr<MemoryPipe> bToA;
    };
    static Ends create(qint64 capacity = 65536);
};

} // namespace platform
