#pragma once
// SystemInfoDisplay: the description of the monitored computer (model, serial number, processor, caches,
// memory, firmware, operating system), its maker and board serial number from SMBIOS, its picture, and the
// SMBIOS sheet on request. Refreshed when opened. Main thread only.

#include "windows/info/MonitorWindowController.h"

#include <QImage>
#include <QString>

#include <memory>

class SMBIOSSheetController;
class TEVMachineInfo;
struct Ui_SystemInfo;

class SystemInfoDisplay final : public MonitorWindowController {
public:
    SystemInfoDisplay(ClientPtr client, QString defaultTitle);
    ~SystemInfoDisplay() override;

    void updateContents() override;
    // Shows the SMBIOS sheet on the window; the sheet's close button ends it.
    void openManagementSheet();
    void closeSMBIOSSheet();

    std::shared_ptr<const TEVMachineInfo> machineInfo() const { return machineInfo_; }
    QString systemVendor() const { return systemVendor_; }
    QString mainboardSerialNumber() const { return mainboardSerialNumber_; }
    QImage systemModelImage() const { return systemModelImage_; }
    SMBIOSSheetController* smSheetController() const { return smSheetController_.get(); }
    const Ui_SystemInfo& ui() const
    {
        window();
        return *ui_;
    }

private:
    class SheetDelegate;
    void fillFields();

    std::shared_ptr<const TEVMachineInfo> machineInfo_;
    QString systemVendor_ = QStringLiteral("");
    QString mainboardSerialNumber_ = QStringLiteral("");
    QImage systemModelImage_;
    std::unique_ptr<SMBIOSSheetController> smSheetController_;
    std::shared_ptr<SheetDelegate> sheetDelegate_;
    std::unique_ptr<Ui_SystemInfo> ui_;
};
