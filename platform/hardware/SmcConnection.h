#pragma once
// SmcConnection: request/response access to a System Management Controller's key table (key count, key at
// index, key information, key bytes). Owned by the one SMC reader that opened it; used from one thread.
// Keys and type codes are four-character codes packed first character most significant ("TC0D" 0x54433044).

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace platform {

class HostRoot;

// The SMC's result byte of an answer.
namespace smcresult {
constexpr quint8 Success = 0x00;
constexpr quint8 Error = 0x01;       // transport failure or connection not open
constexpr quint8 KeyNotFound = 0x84;
constexpr quint8 NotReadable = 0x85;
} // namespace smcresult

// Either a value or the result byte that explains its absence.
template <typename T>
struct SmcAnswer {
    std::optional<T> value;
    quint8 result = smcresult::Error;

    static SmcAnswer success(T v) { return {std::move(v), smcresult::Success}; }
    static SmcAnswer failure(quint8 code) { return {std::nullopt, code}; }
    bool ok() const { return value.has_value(); }
};

struct SmcKeyInfo {
    quint32 size = 0; // bytes the SMC reports; may exceed what a read returns
    quint32 type = 0; // four-character code
};

class SmcConnection {
public:
    static constexpr int MaxDataBytes = 32;

    virtual ~SmcConnection() = default;

    // The SMC of the computer this process reads: the selected simulated computer's emulated table (null
    // when it has none or its table does not load, which is logged), else the applesmc device under `root`.
    static std::unique_ptr<SmcConnection> forCurrentComputer(std::shared_ptr<const HostRoot> root);

    // 0 on success, else an errno value (ENODEV: no SMC, EACCES: not permitted). Opening an open
    // connection succeeds.
    virtual int open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // The number of keys in the index ("#KEY").
    virtual SmcAnswer<quint32> keyCount() = 0;
    virtual SmcAnswer<quint32> keyAtIndex(quint32 index) = 0;
    virtual SmcAnswer<SmcKeyInfo> keyInfo(quint32 key) = 0;
    // At most MaxDataBytes bytes: a longer value is cut there, as the SMC's answer record holds no more.
    virtual SmcAnswer<QByteArray> readKey(quint32 key) = 0;

    // The "REV " key as "major.minor<build hex><release>" (01 44 0F 00 00 63 gives "1.68f99"), the form the
    // registry publishes as "smc-version" and the same text the "{rev" decoding gives: major, minor and build
    // are signed bytes. Nothing when the key is missing or not 6 bytes of type "{rev".
    std::optional<QString> versionText();

    // Exactly four Latin-1 characters, else 0 (which no key has).
    static quint32 fourCharCode(const QString& text);
    // The four bytes, most significant first; a zero byte ends the text, which is then space-padded.
    static QString fourCharText(quint32 code);
};

} // namespace platform
