// The line protocol as a remote client sees it. The first byte picks the call the client makes (an
// operation of the protocol table, modulo its size) and how the client's first reads are cut (the byte
// divided by the table size); the rest is every byte the peer sends once the request has arrived, after
// which the peer closes. The client decodes the reply the way the capture thread of a remote computer does.

#include "tests/fuzz/FuzzSupport.h"

#include "acquisition/AcquisitionSelectors.h"
#include "acquisition/TEVRemoteKelvaroClient.h"
#include "platform/net/MemoryStreamPair.h"

#include <QCoreApplication>

#include <deque>

using namespace platform;

namespace {

// The peer's end of an in-memory pair: waits for the first request line, then sends the reply bytes and
// closes its output, so that every wait of the client ends without a clock.
class Peer final : public StreamDelegate, public std::enable_shared_from_this<Peer> {
public:
    Peer(QByteArray reply, qint64 capacity) : ends(MemoryStreamPair::create(capacity)), reply_(std::move(reply)) {}

    TEVInvocationClient::StreamPairSource source()
    {
        std::weak_ptr<Peer> weak = weak_from_this();
        return [weak]() -> std::optional<StreamPair> {
            const auto self = weak.lock();
            if (!self || self->handedOut_)
                return std::nullopt;
            self->handedOut_ = true;
            self->ends.a.input->setDelegate(self);
            self->ends.a.output->setDelegate(self);
            self->ends.a.input->open();
            self->ends.a.output->open();
            return self->ends.b;
        };
    }

    void stream(Stream& stream, StreamEvent event) override
    {
        if (&stream != ends.a.input.get() || event != StreamEvent::HasBytesAvailable || replied_)
            return;
        char buffer[4096];
        const qint64 got = ends.a.input->read(buffer, sizeof buffer);
        if (got <= 0 || QByteArray::fromRawData(buffer, got).indexOf('\n') < 0)
            return;
        replied_ = true;
        if (!reply_.isEmpty())
            ends.a.output->write(reply_.constData(), reply_.size());
        ends.a.output->close();
    }

    MemoryStreamPair::Ends ends;

private:
    QByteArray reply_;
    bool handedOut_ = false;
    bool replied_ = false;
};

// Reads cut at every byte, at small sizes, or not at all.
constexpr qint64 kReadCuts[] = {0, 1, 2, 3, 7, 64, 1000};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::setUpOnce();
    if (size < 1)
        return 0;
    const auto& row = acquisitionselectors::table[data[0] % acquisitionselectors::table.size()];
    const qint64 cut = kReadCuts[(data[0] / acquisitionselectors::table.size()) % std::size(kReadCuts)];
    const QByteArray reply = fuzz::bytesOf(data + 1, size - 1);
    {
        // Room for the whole reply at once: the peer never has to wait for the client to read.
        const auto peer = std::make_shared<Peer>(reply, std::max<qint64>(65536, reply.size() + 1));
        // Only the first reads are cut: a reply read one byte at a time costs an event per byte.
        if (cut > 0)
            peer->ends.aToB->scriptReads(std::deque<qint64>(size_t(std::min<qint64>(reply.size() / cut + 2, 64)), cut));
        const auto client = TEVRemoteKelvaroClient::createWithHostSpecifier(QStringLiteral("fuzz.example"), 4242);
        client->setStreamPairSource(peer->source());
        QVariantList arguments;
        for (int i = 0; i < row.argumentCount(); ++i)
            arguments.append(row.arguments[i] == AcquisitionValueKind::Object ? QVariant(QStringLiteral("TC0P")) : QVariant(1));
        fuzz::walk(client->perform(row, arguments));
        client->shutdownImmediately();
    }
    // Whatever the client or the pair left queued runs now, not during the next input.
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
    return 0;
}
