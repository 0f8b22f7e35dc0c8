#include "platform/net/MemoryStreamPair.h"

#include "platform/foundation/RunLoop.h"

#include <cerrno>
#include <cstring>

namespace platform {

// What both ends share: opening on the current run loop, closing their side of the pipe, and events posted
// to that loop for as long as the end lives and is not closed.
template <class Stream>
class MemoryEnd : public Stream, public std::enable_shared_from_this<MemoryEnd<Stream>> {
public:
    MemoryEnd(std::shared_ptr<MemoryPipe> pipe, bool MemoryPipe::*closedFlag)
        : pipe_(std::move(pipe)), closedFlag_(closedFlag)
    {
    }

    void open() override
    {
        if (status_ != StreamStatus::NotOpen)
            return;
        status_ = StreamStatus::Opening;
        loop_ = RunLoop::current();
        post(StreamEvent::OpenCompleted);
        pipe_->update();
    }
    void close() override
    {
        status_ = StreamStatus::Closed;
        pipe_.get()->*closedFlag_ = true;
        pipe_->update();
    }
    StreamStatus status() const override { return status_; }
    std::optional<Error> streamError() const override { return error_; }

    void post(StreamEvent event)
    {
        std::weak_ptr<MemoryEnd> weak = this->weak_from_this();
        loop_->perform([weak, event] {
            auto self = weak.lock();
            if (!self || self->status_ == StreamStatus::Closed)
                return;
            if (event == StreamEvent::OpenCompleted)
                self->status_ = StreamStatus::Open;
            if (event == StreamEvent::ErrorOccurred) {
                self->status_ = StreamStatus::Error;
                self->error_ = self->pipe_->error_;
            }
            self->notify(event);
        });
    }

    StreamStatus status_ = StreamStatus::NotOpen;

protected:
    std::shared_ptr<MemoryPipe> pipe_;
    std::shared_ptr<RunLoop> loop_;
    std::optional<Error> error_;

private:
    bool MemoryPipe::*closedFlag_;
};

class MemoryInput final : public MemoryEnd<InputStream> {
public:
    explicit MemoryInput(std::shared_ptr<MemoryPipe> pipe) : MemoryEnd(std::move(pipe), &MemoryPipe::readerClosed_) {}

    qint64 read(char* buffer, qint64 maxLength) override
    {
        if (status_ != StreamStatus::Open)
            return -1;
        if (pipe_->error_) {
            error_ = pipe_->error_;
            status_ = StreamStatus::Error;
            return -1;
        }
        pipe_->readerNotified_ = false;
        qint64 n = MemoryPipe::limit(pipe_->readScript_, std::min<qint64>(maxLength, pipe_->buffer_.size()));
        if (n == 0 && pipe_->buffer_.isEmpty() && pipe_->writerClosed_) {
            status_ = StreamStatus::AtEnd;
            return 0;
        }
        if (n == 0) {
            error_ = posixError(EAGAIN);
            pipe_->update();
            return -1;
        }
        std::memcpy(buffer, pipe_->buffer_.constData(), size_t(n));
        pipe_->buffer_.remove(0, n);
        pipe_->update();
        return n;
    }
};

class MemoryOutput final : public MemoryEnd<OutputStream> {
public:
    explicit MemoryOutput(std::shared_ptr<MemoryPipe> pipe) : MemoryEnd(std::move(pipe), &MemoryPipe::writerClosed_) {}

    qint64 write(const char* data, qint64 length) override
    {
        if (status_ != StreamStatus::Open)
            return -1;
        if (pipe_->error_ || pipe_->readerClosed_) {
            error_ = pipe_->error_ ? *pipe_->error_ : posixError(EPIPE);
            status_ = StreamStatus::Error;
            return -1;
        }
        pipe_->writerNotified_ = false;
        qint64 room = pipe_->capacity_ - pipe_->buffer_.size();
        qint64 n = MemoryPipe::limit(pipe_->writeScript_, std::min(length, room));
        pipe_->buffer_.append(data, n);
        pipe_->update();
        return n;
    }
};

qint64 MemoryPipe::limit(std::deque<qint64>& script, qint64 most)
{
    if (script.empty())
        return most;
    qint64 n = std::min(script.front(), most);
    script.pop_front();
    return n;
}

void MemoryPipe::fail(const Error& error)
{
    if (error_)
        return;
    error_ = error;
    if (auto reader = reader_.lock(); reader && reader->status_ != StreamStatus::NotOpen)
        reader->post(StreamEvent::ErrorOccurred);
    if (auto writer = writer_.lock(); writer && writer->status_ != StreamStatus::NotOpen)
        writer->post(StreamEvent::ErrorOccurred);
}

// Tells the reader of bytes or the end, and the writer of room, once each until it reads or writes again.
void MemoryPipe::update()
{
    if (error_)
        return;
    auto reader = reader_.lock();
    if (reader && !readerNotified_ && (reader->status_ == StreamStatus::Opening || reader->status_ == StreamStatus::Open)
        && (!buffer_.isEmpty() || writerClosed_)) {
        readerNotified_ = true;
        reader->post(StreamEvent::HasBytesAvailable);
    }
    auto writer = writer_.lock();
    if (writer && !writerNotified_ && (writer->status_ == StreamStatus::Opening || writer->status_ == StreamStatus::Open)
        && (buffer_.size() < capacity_ || readerClosed_)) {
        writerNotified_ = true;
        writer->post(StreamEvent::HasSpaceAvailable);
    }
}

MemoryStreamPair::Ends MemoryStreamPair::create(qint64 capacity)
{
    Ends ends;
    ends.aToB = std::make_shared<MemoryPipe>(capacity);
    ends.bToA = std::make_shared<MemoryPipe>(capacity);
    auto aOut = std::make_shared<MemoryOutput>(ends.aToB);
    auto bIn = std::make_shared<MemoryInput>(ends.aToB);
    auto bOut = std::make_shared<MemoryOutput>(ends.bToA);
    auto aIn = std::make_shared<MemoryInput>(ends.bToA);
    ends.aToB->writer_ = aOut;
    ends.aToB->reader_ = bIn;
    ends.bToA->writer_ = bOut;
    ends.bToA->reader_ = aIn;
    ends.a = StreamPair{aIn, aOut};
    ends.b = StreamPair{bIn, bOut};
    return ends;
}

} // namespace platform
