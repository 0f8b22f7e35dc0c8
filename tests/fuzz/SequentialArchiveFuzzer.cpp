// Sequential (typedstream) archives: history files, stored colours, dragged rows. Every root value in
// turn, generically and strictly with every archivable class allowed.

#include "tests/fuzz/FuzzSupport.h"

#include "platform/foundation/SequentialUnarchiver.h"

namespace {

// Enough for any archive we write; a fuzzer input of many tiny roots must not make the run slow.
constexpr int MaxRoots = 64;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::setUpOnce();
    const QByteArray bytes = fuzz::bytesOf(data, size);

    platform::UnarchiveOptions generic;
    generic.generic = true;
    {
        platform::SequentialUnarchiver unarchiver(bytes, generic);
        for (int i = 0; i < MaxRoots && !unarchiver.atEnd(); ++i) {
            const auto values = unarchiver.decodeNextValues();
            if (!values)
                break;
            fuzz::walk(*values);
        }
    }

    platform::UnarchiveOptions strict;
    strict.allowedClasses = fuzz::archivableClasses();
    platform::SequentialUnarchiver unarchiver(bytes, strict);
    for (int i = 0; i < MaxRoots && !unarchiver.atEnd() && !unarchiver.hasFailed(); ++i)
        fuzz::walk(unarchiver.decodeObject());
    return 0;
}
