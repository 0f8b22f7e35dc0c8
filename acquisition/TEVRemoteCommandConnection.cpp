#include "acquisition/TEVRemoteCommandConnection.h"

#include <algorithm>

#include "platform/foundation/Bundle.h"

#include <cstdarg>

using platform::Error;
using platform::StreamEvent;

const QString TEVRemoteCommandConnection::ErrorDomain = QStringLiteral("TEVRemoteCommandConnectionErrorDomain");
const QString TEVRemoteCommandConnection::DefaultRunLoopMode = QStringLiteral("kCFRunLoopDefaultMode");

TEVRemoteCommandConnection::TEVRemoteCommandConnection(std::shared_ptr<platform::InputStream> input,
                                                       std::shared_ptr<platform::OutputStream> output)
    : inputStream_(std::move(input)), outputStream_(std::move(output)), runLoopModes_({DefaultRunLoopMode})
{
}

std::shared_ptr<TEVRemoteCommandConnection> TEVRemoteCommandConnection::create(
    std::shared_ptr<platform::InputStream> input, std::shared_ptr<platform::OutputStream> output)
{
    if (!input || !output)
        return nullptr;
    return std::shared_ptr<TEVRemoteCommandConnection>(new TEVRemoteCommandConnection(std::move(input), std::move(output)));
}

// An owner that drops an open connection stops its streams' events from reaching freed memory.
TEVRemoteCommandConnection::~TEVRemoteCommandConnection()
{
    if (isOpen_) {
        inputStream_->setDelegate({});
        outputStream_->setDelegate({});
        inputStream_->close();
        outputStream_->close();
    }
}

std::optional<Error> TEVRemoteCommandConnection::errorWithCode(qint64 code)
{
    static const char* const texts[] = {"No error",           "Output buffer full",   "Input buffer full",
                                        "Output command too long", "Unexpected input", "Input command too long",
                                        "Input command malformed"};
    if (code < 0 || code >= qint64(std::size(texts)))
        return std::nullopt;
    QString text = QString::fromLatin1(texts[code]);
    if (auto bundle = platform::Bundle::main())
        text = bundle->localizedString(text);
    return Error{ErrorDomain, code, {{QStringLiteral("NSLocalizedDescription"), text}}};
}

void TEVRemoteCommandConnection::addRunLoopMode(const QString& mode)
{
    if (!mode.isEmpty() && !isOpen_)
        runLoopModes_.insert(mode);
}

void TEVRemoteCommandConnection::removeRunLoopMode(const QString& mode)
{
    if (!mode.isEmpty() && !isOpen_)
        runLoopModes_.remove(mode);
}

void TEVRemoteCommandConnection::open()
{
    logWithFormat("Opening connection");
    if (isOpen_ || error_ || inputStream_->status() != platform::StreamStatus::NotOpen)
        return; // a closed connection is not reopened
    if (inputBufferCapacity_ == 0)
        inputBufferCapacity_ = DefaultBufferCapacity;
    if (outputBufferCapacity_ == 0)
        outputBufferCapacity_ = DefaultBufferCapacity;
    inputBuffer_.clear();
    // The capacity bounds a command; the buffer grows towards it only as far as the commands read need.
    inputBuffer_.reserve(qsizetype(std::min<quint64>(inputBufferCapacity_, DefaultBufferCapacity)));
    outputBuffer_.clear();
    outputBuffer_.reserve(qsizetype(outputBufferCapacity_));
    // Run-loop modes have no counterpart here: the streams follow their thread's event loop in every state.
    inputStream_->setDelegate(weak_from_this());
    outputStream_->setDelegate(weak_from_this());
    inputStream_->open();
    outputStream_->open();
    isOpen_ = true;
}

void TEVRemoteCommandConnection::close()
{
    logWithFormat("Closing connection");
    closeWithErrorNotify(std::nullopt, false);
}

void TEVRemoteCommandConnection::closeWithError(const std::optional<Error>& error)
{
    if (error)
        logWithFormat("Closing connection with error: %s", qUtf8Printable(error->localizedDescription()));
    else
        logWithFormat("Closing connection without error");
    closeWithErrorNotify(error, true);
}

void TEVRemoteCommandConnection::closeWithErrorNotify(const std::optional<Error>& error, bool notify)
{
    if (!isOpen_)
        return;
    auto keepAlive = weak_from_this().lock(); // the delegate may drop its last reference while told
    if (!error_)
        error_ = error;
    if (notify)
        willCloseWithError(error);
    if (!isOpen_)
        return; // the delegate closed it meanwhile
    inputStream_->setDelegate({});
    outputStream_->setDelegate({});
    inputStream_->close();
    outputStream_->close();
    isOpen_ = false;
}

void TEVRemoteCommandConnection::willCloseWithError(const std::optional<Error>& error)
{
    if (auto delegate = delegate_.lock())
        delegate->connectionWillCloseWithError(*this, error);
}

void TEVRemoteCommandConnection::sendCommand(const QByteArray& command)
{
    const quint64 n = quint64(command.size());
    if (n == 0 || !isOpen_)
        return;
    auto keepAlive = weak_from_this().lock();
    if (n > outputBufferCapacity_) {
        closeWithCode(OutputCommandTooLong);
        return;
    }
    if (n + quint64(outputBuffer_.size()) > outputBufferCapacity_) {
        closeWithCode(OutputBufferFull);
        return;
    }
    logWithFormat("Enqueuing %llu byte command", static_cast<unsigned long long>(n));
    outputBuffer_.append(command);
    processOutput();
}

void TEVRemoteCommandConnection::processOutput()
{
    if (!isOpen_ || !hasSpaceAvailable_ || outputBuffer_.isEmpty())
        return;
    const qint64 written = outputStream_->write(outputBuffer_.constData(), outputBuffer_.size());
    if (written > 0) {
        logWithFormat("Wrote %llu bytes", static_cast<unsigned long long>(written));
        outputBuffer_.remove(0, written);
        hasSpaceAvailable_ = false;
        return;
    }
    // A stream that merely had no room this time keeps the bytes for its next space-available event;
    // closing without an error there would report a lost command as an orderly end.
    if (written == 0 && !outputStream_->streamError()) {
        hasSpaceAvailable_ = false;
        return;
    }
    std::optional<Error> error = outputStream_->streamError();
    logWithFormat("Write error: %s", error ? qUtf8Printable(error->localizedDescription()) : "(null)");
    closeWithError(error);
}

void TEVRemoteCommandConnection::processInput()
{
    const qint64 unparsed = inputBuffer_.size();
    const qint64 capacity = qint64(inputBufferCapacity_);
    if (unparsed >= capacity) {
        closeWithCode(InputBufferFull);
        return;
    }
    // Room for a read of the default size, in a buffer that at least doubles when it grows: each monitored
    // computer's connection would otherwise keep the whole capacity.
    qint64 room = std::max<qint64>(inputBuffer_.capacity(), std::min<qint64>(capacity, qint64(DefaultBufferCapacity)));
    if (room - unparsed < qint64(DefaultBufferCapacity))
        room = std::min(capacity, std::max(2 * room, unparsed + qint64(DefaultBufferCapacity)));
    inputBuffer_.resize(room);
    const qint64 got = inputStream_->read(inputBuffer_.data() + unparsed, room - unparsed);
    inputBuffer_.resize(unparsed + std::max<qint64>(got, 0));
    if (got == 0) {
        logWithFormat("Read EOF");
        closeWithError(std::nullopt);
        return;
    }
    if (got < 0) {
        std::optional<Error> error = inputStream_->streamError();
        logWithFormat("Read error: %s", error ? qUtf8Printable(error->localizedDescription()) : "(null)");
        closeWithError(error);
        return;
    }
    logWithFormat("Reading %llu bytes", static_cast<unsigned long long>(got));
    if (auto delegate = delegate_.lock())
        delegate->connectionDidReadBytes(*this, quint64(got));
    if (isOpen_)
        parseCommandsInBuffer();
}

void TEVRemoteCommandConnection::parseCommandsInBuffer()
{
    const quint64 length = quint64(inputBuffer_.size());
    quint64 total = 0;
    quint64 answer = 0;
    do {
        answer = std::min(parseCommandData(QByteArray::fromRawData(inputBuffer_.constData() + total, qsizetype(length - total))),
                          length - total); // a parser cannot consume more than it was given
        if (!isOpen_ || answer == 0)
            break;
        logWithFormat("Parsed %llu bytes of commands", static_cast<unsigned long long>(answer));
        total += answer;
    } while (total < length);
    if (isOpen_ && answer == 0 && length - total >= inputBufferCapacity_) {
        closeWithCode(InputCommandTooLong);
        return;
    }
    inputBuffer_.remove(0, qsizetype(total));
}

quint64 TEVRemoteCommandConnection::parseCommandData(const QByteArray& data)
{
    if (data.isEmpty())
        return 0;
    if (auto delegate = delegate_.lock()) {
        if (auto consumed = delegate->connectionParseCommandData(*this, data))
            return *consumed;
    }
    logWithFormat("-parseCommandData: has no valid implementation");
    closeWithCode(UnexpectedInput);
    return 0;
}

void TEVRemoteCommandConnection::processParsedCommandData(const QByteArray& data)
{
    if (data.isEmpty())
        return;
    if (auto delegate = delegate_.lock()) {
        if (delegate->connectionProcessParsedCommandData(*this, data))
            return;
    }
    logWithFormat("-processParsedCommandData: has no valid implementation");
    closeWithCode(UnexpectedInput);
}

void TEVRemoteCommandConnection::logWithFormat(const char* format, ...)
{
    if (!format || !*format)
        return;
    va_list arguments;
    va_start(arguments, format);
    const QString line = QString::vasprintf(format, arguments);
    va_end(arguments);
    log(line);
}

void TEVRemoteCommandConnection::log(const QString& line)
{
    if (auto delegate = delegate_.lock())
        delegate->connectionLogWithFormat(*this, line);
}

const char* TEVRemoteCommandConnection::streamName(const platform::Stream& stream) const
{
    return &stream == inputStream_.get() ? "input" : "output";
}

void TEVRemoteCommandConnection::stream(platform::Stream& stream, StreamEvent event)
{
    if (&stream != inputStream_.get() && &stream != outputStream_.get())
        return;
    auto keepAlive = weak_from_this().lock(); // the owner may drop us from inside a delegate call
    switch (event) {
    case StreamEvent::OpenCompleted:
        logWithFormat("Open %s completed", streamName(stream));
        break;
    case StreamEvent::HasBytesAvailable:
        logWithFormat("Input has bytes available");
        processInput();
        break;
    case StreamEvent::HasSpaceAvailable:
        logWithFormat("Output has space available");
        hasSpaceAvailable_ = true;
        processOutput();
        break;
    case StreamEvent::EndEncountered:
        logWithFormat("EOF on %s encountered", streamName(stream));
        closeWithError(std::nullopt);
        break;
    case StreamEvent::ErrorOccurred: {
        std::optional<Error> error = stream.streamError();
        logWithFormat("Error on %s: %s", streamName(stream), error ? qUtf8Printable(error->localizedDescription()) : "(null)");
        closeWithError(error);
        break;
    }
    }
}
