// SMBIOS structure tables, as firmware (or a simulated computer) hands them over; the description is
// what `kelvaro-dump smbios` prints and a remote peer receives.

#include "tests/fuzz/FuzzSupport.h"

#include "platform/foundation/PropertyList.h"
#include "sensors/TEVSMBIOSInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::setUpOnce();
    const auto info = TEVSMBIOSInfo::createWithData(fuzz::bytesOf(data, size));
    if (!info)
        return 0;
    const QVariant structures(info->systemManagementStructures());
    fuzz::requireReadable(platform::writePropertyList(structures, platform::PlistFormat::Xml), "SMBIOS description");
    for (quint8 type : {0, 1, 2, 3, 4, 17})
        (void)info->recordForSMBIOSTypeCode(type);
    (void)info->description();
    return 0;
}
