#include "tools/kelvaro-dump/Commands.h"

#include "sensors/TEVBlockStorageDeviceInfo.h"

namespace dump {

int drivesCommand(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return 2;
    printPropertyList(printable(TEVBlockStorageDeviceInfo::blockStorageDeviceDescriptions()));
    return 0;
}

} // namespace dump
