#pragma once
// MachinePrefsImportChoice: the state of the preference-import panel without its widgets: the candidate
// computers shown as table rows, the selected row, whether the import button may be pressed and which
// serial number the panel's answer chooses. Owned by the panel's controller for one dialog; main thread.

#include "app/model/MachineSpecifier.h"

#include <QVariant>

class MachinePrefsImportChoice {
public:
    // Button tag of the import button; a response of 0 declines.
    static constexpr qint64 kImportButtonTag = 1;

    MachinePrefsImportChoice() = default;

    const MachineSpecifier::List& machineList() const { return machineList_; }
    // Keeps the list and clears the selection.
    void setMachineList(const MachineSpecifier::List& list);

    qint64 selectedIndex() const { return selectedIndex_; }
    // The table's selected row, -1 for none. Returns whether the import button is enabled.
    bool selectMachine(qint64 row);
    bool isImportEnabled() const;

    // Table data source: "Computer" gives the host name, "SerialNumber" the serial; invalid for other
    // columns and rows outside the list.
    qint64 numberOfRows() const { return machineList_.size(); }
    QVariant objectValue(const QString& columnIdentifier, qint64 row) const;

    // The serial number to import after the panel ended with `response` (the pressed button's tag):
    // null for 0 or when no row inside the list is selected.
    QString serialNumberForResponse(qint64 response) const;

private:
    MachineSpecifier::List machineList_;
    qint64 selectedIndex_ = -1;
};
