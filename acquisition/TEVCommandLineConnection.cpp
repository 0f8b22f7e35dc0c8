#include "acquisition/TEVCommandLineConnection.h"

namespace {
constexpr char LineFeed = '\n';
constexpr char Backslash = '\\';
}

std::shared_ptr<TEVCommandLineConnection> TEVCommandLineConnection::create(
    std::shared_ptr<platform::InputStream> input, std::shared_ptr<platform::OutputStream> output)
{
    if (!input || !output)
        return nullptr;
    return std::shared_ptr<TEVCommandLineConnection>(new TEVCommandLineConnection(std::move(input), std::move(output)));
}

void TEVCommandLineConnection::submitLine(const QByteArray& payload)
{
    if (auto line = transferDataForPayload(payload))
        sendCommand(*line);
}

std::optional<QByteArray> TEVCommandLineConnection::transferDataForPayload(const QByteArray& payload)
{
    if (payload.isEmpty())
        return std::nullopt;
    qsizetype escaped = 0;
    for (char byte : payload)
        escaped += (byte == Backslash || byte == LineFeed);
    QByteArray line(payload.size() + escaped + 1, Qt::Uninitialized);
    char* out = line.data();
    for (char byte : payload) {
        if (byte == Backslash) {
            *out++ = Backslash;
            *out++ = Backslash;
        } else if (byte == LineFeed) {
            *out++ = Backslash;
            *out++ = 'n';
        } else {
            *out++ = byte;
        }
    }
    *out = LineFeed;
    return line;
}

std::optional<QByteArray> TEVCommandLineConnection::payloadForTransferData(const QByteArray& line)
{
    if (line.isEmpty() || line.back() != LineFeed)
        return std::nullopt;
    const qsizetype end = line.size() - 1;
    QByteArray payload;
    payload.reserve(end);
    for (qsizetype i = 0; i < end; ++i) {
        const char byte = line[i];
        if (byte != Backslash || i + 1 == end) {
            payload.append(byte);
            continue;
        }
        const char next = line[i + 1];
        if (next == 'n') {
            payload.append(LineFeed);
            ++i;
        } else if (next == Backslash) {
            payload.append(Backslash);
            ++i;
        } else {
            payload.append(Backslash); // an unknown escape passes unchanged; its second byte is read normally
        }
    }
    return payload;
}

// Lines stop reaching the owner once one of them closed the connection: what follows a close is not
// handed on.
quint64 TEVCommandLineConnection::parseCommandData(const QByteArray& data)
{
    qsizetype start = 0;
    while (start < data.size() && isOpen()) {
        const qsizetype lineFeed = data.indexOf(LineFeed, start);
        if (lineFeed < 0)
            break;
        const QByteArray line = QByteArray::fromRawData(data.constData() + start, lineFeed + 1 - start);
        std::optional<QByteArray> payload = payloadForTransferData(line);
        if (!payload) {
            closeWithCode(InputCommandMalformed);
            return quint64(start);
        }
        start = lineFeed + 1;
        processParsedCommandData(*payload);
    }
    return quint64(start);
}
