#include "tools/kelvaro-dump/Commands.h"

#include "sensors/TEVDisplayInfo.h"

namespace dump {

// The description of every display with a valid EDID, in registry order.
int displaysCommand(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return 2;
    QVariantList displays;
    for (const auto& display : TEVDisplayInfo::allDisplays())
        displays.append(display->displayDescription());
    printPropertyList(printable(displays));
    return 0;
}

} // namespace dump
