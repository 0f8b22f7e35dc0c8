#pragma once
// Shared by the libFuzzer harnesses in tests/fuzz and by their replay tests: the process set-up the
// decoders expect, done once, and the walks the program makes over what a decoder returns.

#include <QByteArray>
#include <QStringList>
#include <QVariant>

#include <cstddef>
#include <cstdint>

namespace fuzz {

// A core application (run loops), a manual clock that only the harness moves, a log that keeps nothing
// (a flood of log lines would drown the fuzzer's output) and private XDG folders. Idempotent.
void setUpOnce();

inline QByteArray bytesOf(const std::uint8_t* data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Every class that registers an archive decoder; naming them here also links their registrations in.
QStringList archivableClasses();

// What the program does with a decoded value: describes it, compares it, writes it as a property list in
// both formats and as a keyed archive. Each walk must end, whatever the decoder let through.
void walk(const QVariant& value);

// Written output that our own reader refuses is a finding: stops the process with `what` on stderr.
void requireReadable(const QByteArray& written, const char* what);

} // namespace fuzz
