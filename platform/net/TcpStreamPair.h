#pragma once
// TcpStreamPair: the input and output stream of one non-blocking TCP socket. The socket is watched on the
// event loop of the thread that opens the first stream, and only that thread may use the streams
// afterwards. Bytes are not buffered here: the owner's bounded buffers sit on top of the kernel's.

#include "platform/net/Stream.h"

#include <QHostAddress>

#include <optional>

namespace platform {

class TcpStreamPair {
public:
    // Starts connecting to a numeric address; OpenCompleted (or ErrorOccurred when the connect fails)
    // follows on the opening thread. Nothing, with a log line, when no socket can be made.
    static std::optional<StreamPair> connectToHost(const QHostAddress& address, quint16 port);
    // Adopts a connected socket, such as one a server accepted; the pair owns and closes it.
    static std::optional<StreamPair> fromSocketDescriptor(int socketDescriptor);

    // The kernel's send and receive buffer sizes (SO_SNDBUF, SO_RCVBUF) of the pair's socket, in bytes;
    // small values make back-pressure show early. False when the socket refused them.
    static bool setKernelBufferSizes(const StreamPair& pair, int sendBytes, int receiveBytes);
};

} // namespace platform
