#pragma once
// TEVRemoteCommandConnection: a command channel over one stream pair. It queues outgoing commands in a
// bounded buffer, reads into a bounded buffer, asks a parser how many bytes form complete commands, and
// closes with one of a few error codes when something goes wrong. Shared by its owner (the invocation
// client); lives on, and is used only from, the thread that opens it.

#include "platform/foundation/Error.h"
#include "platform/net/Stream.h"

#include <QByteArray>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

class TEVRemoteCommandConnection;

// Every method is optional: a parser or processor that is not overridden answers "not implemented".
class TEVRemoteCommandConnectionDelegate {
public:
    virtual ~TEVRemoteCommandConnectionDelegate() = default;
    // The streams are still attached; the delegate may close or drop the connection from here.
    virtual void connectionWillCloseWithError(TEVRemoteCommandConnection&, const std::optional<platform::Error>&) {}
    // How many leading bytes form complete commands (already handed on); nothing when not implemented.
    virtual std::optional<quint64> connectionParseCommandData(TEVRemoteCommandConnection&, const QByteArray&)
    {
        return std::nullopt;
    }
    // False when not implemented.
    virtual bool connectionProcessParsedCommandData(TEVRemoteCommandConnection&, const QByteArray&) { return false; }
    // Bytes from the peer arrived (before they are parsed): a reply is under way even when no line is
    // complete yet.
    virtual void connectionDidReadBytes(TEVRemoteCommandConnection&, quint64 /*count*/) {}
    virtual void connectionLogWithFormat(TEVRemoteCommandConnection&, const QString&) {}
};

class TEVRemoteCommandConnection : public platform::StreamDelegate,
                                   public std::enable_shared_from_this<TEVRemoteCommandConnection> {
public:
    enum ErrorCode : qint64 {
        NoError = 0,
        OutputBufferFull = 1,
        InputBufferFull = 2,
        OutputCommandTooLong = 3,
        UnexpectedInput = 4,
        InputCommandTooLong = 5,
        InputCommandMalformed = 6,
    };
    static constexpr quint64 DefaultBufferCapacity = 16384;
    static const QString ErrorDomain; // "TEVRemoteCommandConnectionErrorDomain"
    static const QString DefaultRunLoopMode;

    // Null when either stream is missing.
    static std::shared_ptr<TEVRemoteCommandConnection> create(std::shared_ptr<platform::InputStream> input,
                                                              std::shared_ptr<platform::OutputStream> output);
    ~TEVRemoteCommandConnection() override;

    // Nothing for a code outside 0...6.
    static std::optional<platform::Error> errorWithCode(qint64 code);

    void addRunLoopMode(const QString& mode);
    void removeRunLoopMode(const QString& mode);
    const QSet<QString>& runLoopModes() const { return runLoopModes_; }

    void open();
    // Silent: the delegate is not told.
    void close();
    void closeWithError(const std::optional<platform::Error>& error);

    void sendCommand(const QByteArray& command);

    virtual quint64 parseCommandData(const QByteArray& data);
    virtual void processParsedCommandData(const QByteArray& data);

    void logWithFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void willCloseWithError(const std::optional<platform::Error>& error);

    bool isOpen() const { return isOpen_; }
    bool hasSpaceAvailable() const { return hasSpaceAvailable_; }
    const std::shared_ptr<platform::InputStream>& inputStream() const { return inputStream_; }
    const std::shared_ptr<platform::OutputStream>& outputStream() const { return outputStream_; }
    quint64 inputBufferCapacity() const { return inputBufferCapacity_; }
    void setInputBufferCapacity(quint64 capacity) { inputBufferCapacity_ = capacity; }
    quint64 outputBufferCapacity() const { return outputBufferCapacity_; }
    void setOutputBufferCapacity(quint64 capacity) { outputBufferCapacity_ = capacity; }
    std::shared_ptr<TEVRemoteCommandConnectionDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<TEVRemoteCommandConnectionDelegate> delegate) { delegate_ = std::move(delegate); }
    const QString& name() const { return name_; }
    void setName(const QString& name) { name_ = name; }
    const std::optional<platform::Error>& error() const { return error_; }
    const QByteArray& inputBuffer() const { return inputBuffer_; }
    const QByteArray& outputBuffer() const { return outputBuffer_; }

    void stream(platform::Stream& stream, platform::StreamEvent event) override;

protected:
    TEVRemoteCommandConnection(std::shared_ptr<platform::InputStream> input,
                               std::shared_ptr<platform::OutputStream> output);
    void closeWithCode(ErrorCode code) { closeWithError(errorWithCode(code)); }

private:
    void closeWithErrorNotify(const std::optional<platform::Error>& error, bool notify);
    void processOutput();
    void processInput();
    void parseCommandsInBuffer();
    void log(const QString& line);
    const char* streamName(const platform::Stream& stream) const;

    bool isOpen_ = false;
    bool hasSpaceAvailable_ = false;
    const std::shared_ptr<platform::InputStream> inputStream_;
    const std::shared_ptr<platform::OutputStream> outputStream_;
    quint64 inputBufferCapacity_ = 0;
    quint64 outputBufferCapacity_ = 0;
    QSet<QString> runLoopModes_;
    std::weak_ptr<TEVRemoteCommandConnectionDelegate> delegate_;
    QString name_;
    std::optional<platform::Error> error_;
    QByteArray inputBuffer_;
    QByteArray outputBuffer_;
};
