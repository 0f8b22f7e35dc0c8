// XML and binary property lists: user defaults, string tables, update feeds, simulated computers. What
// reads must write in both formats, and what we write must read back.

#include "tests/fuzz/FuzzSupport.h"

#include "platform/foundation/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::setUpOnce();
    const platform::PlistReadResult read = platform::readPropertyList(fuzz::bytesOf(data, size));
    if (!read.value.isValid())
        return 0;
    fuzz::walk(read.value);
    fuzz::requireReadable(platform::writePropertyList(read.value, platform::PlistFormat::Binary), "binary property list");
    fuzz::requireReadable(platform::writePropertyList(read.value, platform::PlistFormat::Xml), "XML property list");
    return 0;
}
