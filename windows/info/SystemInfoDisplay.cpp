#include "windows/info/SystemInfoDisplay.h"

#include "acquisition/MonitoringClient.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVMachineInfo.h"
#include "windows/info/SMBIOSSheetController.h"

#include "ui_SystemInfo.h"

#include <QDialog>
#include <QGuiApplication>
#include <QIcon>
#include <QRegularExpression>

namespace values = platform::values;
using infowindows::localized;

class SystemInfoDisplay::SheetDelegate final : public SMBIOSSheetControllerDelegate {
public:
    explicit SheetDelegate(SystemInfoDisplay* owner) : owner_(owner) {}
    void closeSMBIOSSheet(QObject*) override { owner_->closeSMBIOSSheet(); }

private:
    SystemInfoDisplay* owner_;
};

SystemInfoDisplay::SystemInfoDisplay(ClientPtr client, QString defaultTitle)
    : MonitorWindowController(std::move(client), std::move(defaultTitle))
    , smSheetController_(std::make_unique<SMBIOSSheetController>(QStringLiteral("SMBIOSSheet")))
    , sheetDelegate_(std::make_shared<SheetDelegate>(this))
    , ui_(std::make_unique<Ui_SystemInfo>())
{
    setWindowMaker([this] {
        auto window = std::make_unique<QWidget>();
        ui_->setupUi(window.get());
        for (QLabel* label : window->findChildren<QLabel*>(QRegularExpression(QStringLiteral("Label$"))))
            label->setText(localized(label->text()));
        ui_->managementSheetButton->setText(localized(ui_->managementSheetButton->text()));
        QObject::connect(ui_->managementSheetButton, &QPushButton::clicked, window.get(), [this] { openManagementSheet(); });
        return window;
    });
    // Linux has no model pictures: the theme's computer, else the program's icon, until the computer sends one.
    QIcon icon = QIcon::fromTheme(QStringLiteral("computer"));
    if (icon.isNull())
        icon = QGuiApplication::windowIcon();
    systemModelImage_ = icon.pixmap(96, 96).toImage();
    // The SMBIOS sheet is made when it first opens.
    smSheetController_->setDelegate(sheetDelegate_);
}

SystemInfoDisplay::~SystemInfoDisplay() = default;

void SystemInfoDisplay::updateContents()
{
    MonitorWindowController::updateContents();
    const auto& client = monitorClient();
    if (!client)
        return;
    machineInfo_ = client->machineInfo();
    if (const auto records = client->systemManagementDescription()) {
        smSheetController_->setManagementRecords(records);
        QString vendor;
        QString serial;
        for (const QVariant& entry : *records) {
            const QVariantMap structure = values::toDictionary(entry).value_or(QVariantMap());
            const auto type = values::toUnsigned(structure.value(QStringLiteral("TypeCode")));
            const QVariantMap contents = values::toDictionary(structure.value(QStringLiteral("Contents"))).value_or(QVariantMap());
            if (type == 1u)
                vendor = values::toString(contents.value(QStringLiteral("Manufacturer"))).value_or(QString()).trimmed();
            else if (type == 2u)
                serial = values::toString(contents.value(QStringLiteral("SerialNumber"))).value_or(QString()).trimmed();
        }
        systemVendor_ = vendor.isNull() ? QStringLiteral("") : vendor;
        mainboardSerialNumber_ = serial.isNull() ? QStringLiteral("") : serial;
    }
    const QByteArray picture = client->dataForMachinePresentationIcon();
    if (!picture.isEmpty()) {
        QImage image;
        if (image.loadFromData(picture))
            systemModelImage_ = image;
    }
    fillFields();
}

void SystemInfoDisplay::fillFields()
{
    window();
    Ui_SystemInfo& ui = *ui_;
    const TEVMachineInfo* info = machineInfo_.get();
    const auto set = [](QLabel* field, const QString& text) { field->setText(text); };
    set(ui.modelField, info ? info->systemModelPresentationString() : QString());
    set(ui.modelCodeField, info ? info->systemModelCode() : QString());
    set(ui.serialNumberField, info ? info->systemSerialNumber() : QString());
    set(ui.productionDateField, info ? info->localizedProductionDate() : QString());
    set(ui.systemVendorField, systemVendor_);
    set(ui.mainboardSerialNumberField, mainboardSerialNumber_);
    set(ui.uuidField, info ? info->systemUUIDString() : QString());
    // The processor's name (cpuinfo's "model name") tells more than its family numbers; both are shown.
    QString processor;
    if (info) {
        const QString brand = info->processorBrand().simplified();
        processor = info->localizedProcessorTypeSummary();
        if (!brand.isEmpty())
            processor = brand + QLatin1Char('\n') + processor;
    }
    set(ui.processorField, processor);
    set(ui.processorCountField, info ? info->localizedProcessorCountSummary() : QString());
    set(ui.clockField, info ? info->localizedClockFrequencyDescription() : QString());
    set(ui.l1CacheField, info ? info->localizedL1CacheDescription() : QString());
    set(ui.l2CacheField, info ? info->localizedL2CacheDescription() : QString());
    set(ui.l3CacheField, info ? info->localizedL3CacheDescription() : QString());
    set(ui.memoryField, info ? info->localizedPhysicalMemoryDescription() : QString());
    set(ui.firmwareField, info ? info->systemFirmwareVersion() : QString());
    set(ui.smcField, info ? info->systemManagementControllerVersion() : QString());
    set(ui.operatingSystemField, info ? info->localizedOperatingSystemPresentationString() : QString());
    set(ui.kernelField, info ? info->localizedBaseSystemAndKernelRevisionDescription() : QString());
    set(ui.computerNameField, info ? info->computerName() : QString());
    ui.systemModelImageView->setPixmap(QPixmap::fromImage(systemModelImage_));
}

void SystemInfoDisplay::openManagementSheet()
{
    QDialog* sheet = smSheetController_->window();
    if (sheet->parentWidget() != window())
        sheet->setParent(window(), Qt::Dialog);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->open();
}

void SystemInfoDisplay::closeSMBIOSSheet()
{
    smSheetController_->window()->hide();
}
