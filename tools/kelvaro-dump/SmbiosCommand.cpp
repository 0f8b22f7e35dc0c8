#include "tools/kelvaro-dump/Commands.h"

#include "platform/foundation/HostRoot.h"
#include "platform/foundation/SimulatedComputer.h"
#include "sensors/TEVSMBIOSInfo.h"

using namespace platform;

namespace dump {

int smbiosCommand(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return 2;
    const auto info = TEVSMBIOSInfo::systemManagementBIOSInformation();
    if (!info) {
        if (SimulatedComputer::isSelected()) {
            printError(QStringLiteral("no SMBIOS table: the simulated computer has no \"AppleSMBIOS\" entry with "
                                      "\"SMBIOS\" data"));
        } else {
            const auto root = HostRoot::current();
            printError(QStringLiteral("no SMBIOS table: neither %1 nor any file in %2 is readable")
                           .arg(root->path(QStringLiteral("/sys/firmware/dmi/tables/DMI")),
                                root->path(QStringLiteral("/sys/class/dmi/id"))));
        }
        return 1;
    }
    printPropertyList(printable(QVariant(info->systemManagementStructures())));
    return 0;
}

} // namespace dump
