// EDID base blocks as displays send them; the description is what `kelvaro-dump edid` prints and a
// remote peer receives.

#include "tests/fuzz/FuzzSupport.h"

#include "platform/foundation/PropertyList.h"
#include "sensors/TEVDisplayInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::setUpOnce();
    const auto display = TEVDisplayInfo::createWithEDID(fuzz::bytesOf(data, size));
    if (!display)
        return 0;
    const QVariant description(display->displayDescription());
    fuzz::requireReadable(platform::writePropertyList(description, platform::PlistFormat::Xml), "EDID description");
    (void)display->description();
    return 0;
}
