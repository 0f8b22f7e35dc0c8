#include "tools/kelvaro-dump/Commands.h"

#include "platform/foundation/KeyedArchiver.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"

using namespace platform;

namespace dump {

// The fields exactly as the keyed archive carries them to viewers: what encodeWithCoder writes, read back
// without the class's decoder; then, under "SMBIOS", the two facts the local table adds (not archived).
int machineCommand(const QStringList& arguments)
{
    if (!arguments.isEmpty())
        return 2;
    const auto info = TEVMachineInfo::sharedMachineInfo();
    const QByteArray archive = KeyedArchiver::archivedDataWithRootObject(
        values::fromObject(std::const_pointer_cast<TEVMachineInfo>(info)));
    UnarchiveOptions options;
    options.generic = true;
    QVariantMap fields = KeyedUnarchiver::unarchiveObjectWithData(archive, options).toMap();
    if (fields.isEmpty()) {
        printError(QStringLiteral("the machine information could not be archived"));
        return 1;
    }
    fields.remove(QStringLiteral("$class"));
    QVariantMap smbios;
    if (const QString vendor = info->systemVendor(); !vendor.isNull())
        smbios.insert(QStringLiteral("systemVendor"), vendor);
    if (const QString board = info->mainboardSerialNumber(); !board.isNull())
        smbios.insert(QStringLiteral("mainboardSerialNumber"), board);
    fields.insert(QStringLiteral("SMBIOS"), smbios);
    printPropertyList(printable(fields));
    return 0;
}

} // namespace dump
