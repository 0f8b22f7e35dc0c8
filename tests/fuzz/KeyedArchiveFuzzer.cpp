// Keyed archives as they reach us: remote replies, preference colours, machine descriptions. Decoded the
// way the inspection tool does (generic), then strictly with every archivable class allowed.

#include "tests/fuzz/FuzzSupport.h"

#include "platform/foundation/KeyedUnarchiver.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::setUpOnce();
    const QByteArray bytes = fuzz::bytesOf(data, size);

    platform::UnarchiveOptions generic;
    generic.generic = true;
    fuzz::walk(platform::KeyedUnarchiver::unarchiveObjectWithData(bytes, generic));

    platform::UnarchiveOptions strict;
    strict.allowedClasses = fuzz::archivableClasses();
    if (const auto unarchiver = platform::KeyedUnarchiver::create(bytes, strict)) {
        const QString root = QStringLiteral("root");
        fuzz::walk(unarchiver->decodeObjectForKey(root));
        (void)unarchiver->decodeInt64ForKey(root);
        (void)unarchiver->decodeDoubleForKey(root);
        (void)unarchiver->decodeBytesForKey(root);
    }
    return 0;
}
