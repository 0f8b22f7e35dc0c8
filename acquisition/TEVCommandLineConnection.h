#pragma once
// TEVCommandLineConnection: the line framing of the remote-monitoring wire: one command per line ending in
// a line feed, with backslash and line feed escaped by a backslash so that any payload fits on one line.
// Owned and used like its base class.

#include "acquisition/TEVRemoteCommandConnection.h"

class TEVCommandLineConnection : public TEVRemoteCommandConnection {
public:
    static std::shared_ptr<TEVCommandLineConnection> create(std::shared_ptr<platform::InputStream> input,
                                                            std::shared_ptr<platform::OutputStream> output);

    // An empty payload sends nothing.
    void submitLine(const QByteArray& payload);
    // The escaped line with its line feed; nothing for an empty payload.
    static std::optional<QByteArray> transferDataForPayload(const QByteArray& payload);
    // The payload of one line; nothing when `line` is empty or does not end in a line feed.
    static std::optional<QByteArray> payloadForTransferData(const QByteArray& line);

    quint64 parseCommandData(const QByteArray& data) override;

private:
    using TEVRemoteCommandConnection::TEVRemoteCommandConnection;
};
