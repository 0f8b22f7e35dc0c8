#pragma once
// EmulatedSmcConnection: an SMC key table from the simulated computer's "SMC" section, with optional
// wandering values (a function of the shared clock, so deterministic under a manual clock) and keys switched
// to fail. The table is immutable once loaded; the connection is owned by its reader, one thread.
//
// Schema of the "SMC" dictionary (unknown keys, wrong types and duplicate keys fail the load):
//   "OpenError": integer, optional  — open() answers this errno value instead of opening
//   "Keys": array, in index order, of dictionaries:
//     "Key":   text, exactly 4 Latin-1 characters, unique
//     "Type":  text, exactly 4 Latin-1 characters ("sp78", "ui8 "), or the code as an integer for types
//              with unprintable bytes (0x75693800, "ui8" and a zero byte)
//     "Bytes": data, 1 to 32 bytes, the SMC's representation (big-endian integers and fixed point)
//     "Size":  integer 33 to 65535, optional — the size key information reports for a key longer than the
//              32 bytes a read returns; "Bytes" then holds exactly its first 32 bytes
//     "Fail":  boolean, optional — key information still answers, reading the bytes gives result 0x85
//     "Wander": dictionary, optional, only for types ui8 /ui16/ui32/spXY/fpXY of their natural size and
//              "flt " of 4 bytes (little-endian IEEE single):
//       "Amplitude": number in the value's units; "Period": seconds > 0. The value is
//       Bytes + Amplitude * sin(2π t / Period), t the clock's monotonic seconds, clamped to the type's range.
//       "Offset": integer, optional — what wanders is the big-endian unsigned 16-bit field at this byte
//       offset, whatever the key's type (the reading inside an "{alv" light structure).
// "#KEY" answers the key count when the table does not list it.

#include "platform/hardware/SmcConnection.h"

#include <QHash>
#include <QVariantMap>
#include <QVector>

#include <memory>

namespace platform {

class SimulatedComputer;

class EmulatedSmcConnection final : public SmcConnection {
public:
    struct Key {
        quint32 key = 0;
        quint32 type = 0;
        QByteArray bytes;
        quint32 size = 0; // as key information reports it; bytes.size() unless above 32
        bool fail = false;
        bool wanders = false;
        double amplitude = 0;
        double period = 0;
        int offset = -1; // of the wandering 16-bit field; -1: the whole value
    };
    struct LoadResult {
        std::unique_ptr<EmulatedSmcConnection> connection; // null on failure
        QString error;                                     // names the key path, "SMC.Keys[3].Type: ..."
    };

    static LoadResult fromSection(const QVariantMap& smc);
    // The computer's "SMC" section; a computer without one has no SMC (null connection, empty error).
    static LoadResult fromComputer(const SimulatedComputer& computer);
    // A key dump ("[TC0D] type [sp78] 73703738 len [ 2] attr [C0] -> 5A40" per line) as an "SMC" section:
    // the public keys in their order; "NOT READABLE" keys get zero bytes and "Fail", keys longer than 32
    // bytes their first 32 and "Size". Nothing on a malformed line (its number is logged).
    static std::optional<QVariantMap> sectionFromDump(const QByteArray& text);

    int open() override;
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }

    SmcAnswer<quint32> keyCount() override;
    SmcAnswer<quint32> keyAtIndex(quint32 index) override;
    SmcAnswer<SmcKeyInfo> keyInfo(quint32 key) override;
    SmcAnswer<QByteArray> readKey(quint32 key) override;

private:
    EmulatedSmcConnection() = default;
    QByteArray currentBytes(const Key& key) const;

    QVector<Key> keys_;
    QHash<quint32, int> indexOfKey_;
    int openError_ = 0;
    bool open_ = false;
};

} // namespace platform
