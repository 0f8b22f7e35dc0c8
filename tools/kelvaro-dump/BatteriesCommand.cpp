#include "tools/kelvaro-dump/Commands.h"

#include "sensors/TEVBatteryInfo.h"

namespace dump {

// The readout dictionary of every battery, in battery index order.
int batteriesCommand(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return 2;
    QVariantList batteries;
    for (const auto& battery : TEVBatteryInfo::allBatteries())
        batteries.append(battery->currentReadouts());
    printPropertyList(printable(batteries));
    return 0;
}

} // namespace dump
