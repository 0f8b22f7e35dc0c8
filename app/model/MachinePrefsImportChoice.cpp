#include "app/model/MachinePrefsImportChoice.h"

#include "platform/foundation/Values.h"

void MachinePrefsImportChoice::setMachineList(const MachineSpecifier::List& list)
{
    machineList_ = list;
    selectedIndex_ = -1;
}

bool MachinePrefsImportChoice::selectMachine(qint64 row)
{
    selectedIndex_ = row;
    return isImportEnabled();
}

bool MachinePrefsImportChoice::isImportEnabled() const
{
    return selectedIndex_ >= 0 && selectedIndex_ < machineList_.size();
}

QVariant MachinePrefsImportChoice::objectValue(const QString& columnIdentifier, qint64 row) const
{
    if (row < 0 || row >= machineList_.size() || !machineList_[row])
        return {};
    if (columnIdentifier == QLatin1String("Computer"))
        return platform::values::fromString(machineList_[row]->hostname());
    if (columnIdentifier == QLatin1String("SerialNumber"))
        return platform::values::fromString(machineList_[row]->serialNumber());
    return {};
}

QString MachinePrefsImportChoice::serialNumberForResponse(qint64 response) const
{
    if (response == 0 || !isImportEnabled() || !machineList_[selectedIndex_])
        return {};
    return machineList_[selectedIndex_]->serialNumber();
}
