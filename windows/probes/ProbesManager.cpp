#include "windows/probes/ProbesManager.h"

#include "acquisition/MonitoringClient.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVApplicationDelegate.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/OpenPanel.h"
#include "platform/desktop/SavePanel.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"
#include "sensors/TEVActiveFileSystem.h"
#include "sensors/TEVArtificialSensor.h"
#include "sensors/TEVLocalNetworkProbe.h"
#include "sensors/TEVMachineInfo.h"
#include "sensors/TEVSMARTStorageDevice.h"
#include "sensors/TEVSensorDescription.h"
#include "sensors/TEVSoftwareRAIDDevice.h"

#include "ui_ProbeSourceSheets.h"
#include "ui_ProbesManager.h"

#include <QAbstractTableModel>
#include <QButtonGroup>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFile>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QSaveFile>
#include <QStyle>

#include <algorithm>

namespace {

QString localized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key, key) : key;
}

QString politeLocalized(const QString& key)
{
    if (const auto delegate = TEVApplicationDelegate::applicationDelegate())
        return delegate->localizedUIPolitenessAgnosticStringForKey(key);
    return localized(key);
}

// Fills the "%llu" placeholders in order.
QString withCounts(QString format, const QList<quint64>& counts)
{
    for (const quint64 count : counts) {
        const qsizetype at = format.indexOf(QLatin1String("%llu"));
        if (at < 0)
            break;
        format.replace(at, 4, QString::number(count));
    }
    return format;
}

bool isDiskKind(qint64 kind)
{
    return kind >= TEVArtificialSensor::DiskCapacity && kind <= TEVArtificialSensor::DiskUsed;
}

bool isMemoryKind(qint64 kind)
{
    return kind >= TEVArtificialSensor::MemoryFree && kind <= TEVArtificialSensor::MemorySwapUsed;
}

bool isNetworkKind(qint64 kind)
{
    return kind >= TEVArtificialSensor::NetOutPackages && kind <= TEVArtificialSensor::NetInBytesTotal;
}

// Runs `shown` each time the watched widget is shown.
class ShowWatcher final : public QObject {
public:
    ShowWatcher(QObject* parent, std::function<void()> shown)
        : QObject(parent)
        , shown_(std::move(shown))
    {
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            shown_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> shown_;
};

// No probe list comes near these: a probe's description is some 100 bytes, and a computer has a few dozen.
constexpr qint64 kMaximumImportBytes = 1024 * 1024;
constexpr qsizetype kMaximumImportEntries = 10000;

const QString kColumn0 = QStringLiteral("Column0");
const QString kColumn1 = QStringLiteral("Column1");
const QString kPresentation = QStringLiteral("Presentation");

} // namespace

// The rows of one sheet table: each column shows the row's value for the column's identifier; the power
// tables show "Presentation" whatever the column.
class ProbesManager::RowsModel final : public QAbstractTableModel {
public:
    RowsModel(QStringList columns, QStringList titles, QObject* parent)
        : QAbstractTableModel(parent)
        , columns_(std::move(columns))
        , titles_(std::move(titles))
    {
    }
    void setRows(const Rows& rows)
    {
        beginResetModel();
        rows_ = rows;
        endResetModel();
    }
    void setTitles(const QStringList& titles)
    {
        titles_ = titles;
        emit headerDataChanged(Qt::Horizontal, 0, int(columns_.size()) - 1);
    }
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(rows_.size()); }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(columns_.size()); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows_.size())
            return {};
        const QVariantMap& row = rows_.at(index.row());
        const QString& column = columns_.value(index.column());
        return platform::values::toString(row.value(row.contains(kPresentation) ? kPresentation : column)).value_or(QString());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        return titles_.value(section);
    }

private:
    QStringList columns_;
    QStringList titles_;
    Rows rows_;
};

// The probe list as it was at the last reload, so that painting never takes the list's lock.
class ProbesManager::ProbeListModel final : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;
    void reload()
    {
        beginResetModel();
        probes_ = TEVArtificialSensor::allArtificialSensors();
        endResetModel();
    }
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(probes_.size()); }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 3; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= probes_.size())
            return {};
        const auto& probe = probes_.at(index.row());
        // Columns "Type", "Object1", "Object2".
        if (index.column() == 0)
            return probe->localizedSensorType();
        return probe->localizedDescriptionForAssociatedObjectAtIndex(quint64(index.column() - 1));
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        static const char* const kTitles[] = {"Type", "Monitored Object", "Detail"};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 2)
            return {};
        return localized(QLatin1String(kTitles[section]));
    }

private:
    QList<std::shared_ptr<TEVArtificialSensor>> probes_;
};

struct ProbesManager::Ui {
    Ui_ProbesManager pane;
    Ui_ProbeSourceSheets sheets;
    QButtonGroup* editButtons = nullptr;
};

// --- Sources --------------------------------------------------------------------------------------------

ProbesManager::Sources ProbesManager::Sources::live()
{
    Sources sources;
    sources.volumes = [] {
        QList<Volume> volumes;
        for (const auto& fileSystem : TEVActiveFileSystem::mountedFileSystemsEnforcingUpdate(true))
            if (fileSystem)
                volumes.append({fileSystem->volumeName(), fileSystem->mountPointPath(), fileSystem->blockCount()});
        return volumes;
    };
    sources.raidSets = [] {
        QList<NamedObject> sets;
        for (const auto& set : TEVSoftwareRAIDDevice::allSoftwareRAIDs())
            if (set)
                sets.append({set->name(), set->identifier()});
        return sets;
    };
    sources.smartDrives = [] {
        QList<NamedObject> drives;
        for (const auto& drive : TEVSMARTStorageDevice::allSMARTDevicesRestrictToTemperatureSupport(false))
            if (drive)
                drives.append({drive->productName(), drive->serialNumber()});
        return drives;
    };
    sources.networkInterfaceNames = [] {
        const auto probe = TEVLocalNetworkProbe::sharedNetworkProbe();
        return probe ? probe->currentNetworkInterfaceBSDNames() : QStringList();
    };
    sources.networkPresentationNames = [] {
        const auto probe = TEVLocalNetworkProbe::sharedNetworkProbe();
        return probe ? probe->currentPresentationNamesByBSDInterfaceNames() : QMap<QString, QString>();
    };
    return sources;
}

// --- Life cycle -----------------------------------------------------------------------------------------

std::shared_ptr<ProbesManager> ProbesManager::sharedProbesManager()
{
    static std::weak_ptr<ProbesManager> shared;
    auto manager = shared.lock();
    if (!manager) {
        manager = std::make_shared<ProbesManager>();
        shared = manager;
    }
    return manager;
}

ProbesManager::ProbesManager(Sources sources)
    : sources_(std::move(sources))
    , context_(std::make_unique<QObject>())
    , ui_(std::make_unique<Ui>())
{
}

// The pane is made when the preference window makes its panes, or a test asks for it.
void ProbesManager::ensurePane() const
{
    if (pane_)
        return;
    auto* self = const_cast<ProbesManager*>(this);
    self->setUpPane();
    self->updateContents();
}

ProbesManager::~ProbesManager()
{
    // The widgets may outlive us in their host: nothing of theirs may call us any more.
    context_.reset();
    // A host that took the pane deletes it with its own window; the sheet is a child of one or the other.
    if (pane_ && !pane_->parent())
        delete pane_.data();
}

void ProbesManager::setUpPane()
{
    pane_ = new QWidget;
    ui_->pane.setupUi(pane_);
    Ui_ProbesManager& ui = ui_->pane;

    probeModel_ = new ProbeListModel(pane_);
    ui.probeTable->setModel(probeModel_);
    ui.probeTable->verticalHeader()->hide();
    ui.probeTable->verticalHeader()->setDefaultSectionSize(ui.probeTable->fontMetrics().height() + 8);
    ui.probeTable->horizontalHeader()->setStretchLastSection(true);
    ui.probeTable->horizontalHeader()->resizeSection(0, 220);
    ui.probeTable->horizontalHeader()->resizeSection(1, 200);
    QObject::connect(ui.probeTable->selectionModel(), &QItemSelectionModel::selectionChanged, context_.get(), [this] { selectProbe(); });
    QObject::connect(ui.probeTable, &QAbstractItemView::doubleClicked, context_.get(), [this] { editProbe(); });

    // The controller replaces the list when the local computer is first ready: the pane shows it afresh.
    pane_->installEventFilter(new ShowWatcher(context_.get(), [this] { updateContents(); }));

    ui_->editButtons = new QButtonGroup(pane_);
    ui_->editButtons->addButton(ui.addProbeButton, 0);
    ui_->editButtons->addButton(ui.removeProbeButton, 1);
    QObject::connect(ui_->editButtons, &QButtonGroup::idClicked, context_.get(), [this](int tag) { editProbeList(tag); });

    for (qint64 kind = 1; kind <= TEVArtificialSensor::LastKind; ++kind) {
        TEVArtificialSensor probe;
        probe.setArtificialType(kind);
        ui.probeTypePopUp->addItem(probe.localizedSensorType(), kind);
    }

    ui.importExportPopUp->setText(localized(QStringLiteral("Import/Export")));
    auto* menu = new QMenu(ui.importExportPopUp);
    QObject::connect(menu->addAction(localized(QStringLiteral("Import Probe Definitions…"))), &QAction::triggered, context_.get(),
                     [this] { selectImportExportOption(1); });
    QObject::connect(menu->addAction(localized(QStringLiteral("Export Probe Definitions…"))), &QAction::triggered, context_.get(),
                     [this] { selectImportExportOption(2); });
    ui.importExportPopUp->setMenu(menu);
}

// The sheets are made when one first opens: most runs never add a probe.
void ProbesManager::ensureSheets() const
{
    if (!sheetWindow_)
        const_cast<ProbesManager*>(this)->setUpSheets();
}

void ProbesManager::setUpSheets()
{
    ensurePane();
    sheetWindow_ = new QDialog(pane_);
    if (preferenceWindow_)
        sheetWindow_->setParent(preferenceWindow_, sheetWindow_->windowFlags());
    ui_->sheets.setupUi(sheetWindow_);
    Ui_ProbeSourceSheets& ui = ui_->sheets;
    sheetWindow_->setWindowModality(Qt::WindowModal);
    sheetWindow_->setMinimumWidth(360);

    const auto setUpTable = [this](QTableView* table, RowsModel* model) {
        table->setModel(model);
        table->verticalHeader()->hide();
        table->horizontalHeader()->setStretchLastSection(true);
        QObject::connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, context_.get(), [this, table] { selectMonitoredObject(table); });
    };
    diskModel_ = new RowsModel({kColumn0, kColumn1}, {}, sheetWindow_);
    smartModel_ = new RowsModel({QStringLiteral("Name"), QStringLiteral("Serial")},
                                {localized(QStringLiteral("Name")), localized(QStringLiteral("Serial Number"))}, sheetWindow_);
    voltageModel_ = new RowsModel({kPresentation}, {localized(QStringLiteral("Voltage"))}, sheetWindow_);
    amperageModel_ = new RowsModel({kPresentation}, {localized(QStringLiteral("Current"))}, sheetWindow_);
    networkModel_ = new RowsModel({QStringLiteral("BSDName"), QStringLiteral("Name")},
                                  {localized(QStringLiteral("Interface")), localized(QStringLiteral("Name"))}, sheetWindow_);
    setUpTable(ui.diskTable, diskModel_);
    setUpTable(ui.smartDriveTable, smartModel_);
    setUpTable(ui.voltageSensorTable, voltageModel_);
    setUpTable(ui.amperageSensorTable, amperageModel_);
    setUpTable(ui.networkTable, networkModel_);

    for (QDialogButtonBox* box : {ui.indexSheetCloseButtons, ui.diskSheetCloseButtons, ui.smartDriveSheetCloseButtons,
                                  ui.powerSheetCloseButtons, ui.networkSheetCloseButtons}) {
        QObject::connect(box, &QDialogButtonBox::accepted, context_.get(), [this] { closeSheet(1); });
        QObject::connect(box, &QDialogButtonBox::rejected, context_.get(), [this] { closeSheet(0); });
    }
    // Escape and the window's close box cancel.
    QObject::connect(sheetWindow_, &QDialog::rejected, context_.get(), [this] {
        if (sheet_ != Sheet::None)
            closeSheet(0);
    });

    // Qt has no stepper: a spin box without its text shows just the arrows beside the field.
    if (auto* text = ui.indexStepper->findChild<QLineEdit*>())
        text->hide();
    ui.indexStepper->setFrame(false);
    ui.indexStepper->setFixedWidth(ui.indexStepper->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 2);

    QObject::connect(ui.indexField, &QLineEdit::editingFinished, context_.get(), [this] { changeIndex(ui_->sheets.indexField); });
    QObject::connect(ui.indexStepper, &QSpinBox::valueChanged, context_.get(), [this] { changeIndex(ui_->sheets.indexStepper); });
}

QWidget* ProbesManager::preferencePaneView()
{
    ensurePane();
    return pane_.data();
}

void ProbesManager::setPreferenceWindow(QWidget* window)
{
    preferenceWindow_ = window;
    if (sheetWindow_) {
        // Keeps its window flags: a sheet is a dialog of the preference window.
        const Qt::WindowFlags flags = sheetWindow_->windowFlags();
        sheetWindow_->setParent(window ? window : pane_.data(), flags);
    }
}

void ProbesManager::useLocalMonitoringClient(const std::shared_ptr<MonitoringClient>& client)
{
    localClient_ = client;
    updateContents();
}

QDialog* ProbesManager::sheetWindow() const
{
    ensureSheets();
    return sheetWindow_.data();
}

// --- List -----------------------------------------------------------------------------------------------

void ProbesManager::editProbeList(int tag)
{
    ensurePane();
    if (tag == 0) {
        editProbe(nullptr, ui_->pane.probeTypePopUp->currentData().toLongLong());
    } else if (tag == 1) {
        const int row = selectedRow(ui_->pane.probeTable);
        if (row >= 0)
            TEVArtificialSensor::removeArtificialSensorAtIndex(quint64(row));
        reflectConfigurationChange();
    }
}

void ProbesManager::updateDisplayState()
{
    if (!pane_)
        return;
    ui_->pane.removeProbeButton->setEnabled(selectedRow(ui_->pane.probeTable) >= 0);
}

void ProbesManager::selectProbe()
{
    updateDisplayState();
}

void ProbesManager::updateContents()
{
    if (!pane_)
        return;
    probeModel_->reload();
    // No cell looks chosen while no row is.
    ui_->pane.probeTable->setCurrentIndex({});
    updateDisplayState();
}

void ProbesManager::reflectConfigurationChange()
{
    updateContents();
    if (localClient_)
        localClient_->rescanForSensors();
}

void ProbesManager::editProbe()
{
    ensurePane();
    const int row = selectedRow(ui_->pane.probeTable);
    const auto probes = TEVArtificialSensor::allArtificialSensors();
    if (row >= 0 && row < probes.size())
        editProbe(probes.at(row), 0);
}

void ProbesManager::editProbe(const std::shared_ptr<TEVArtificialSensor>& probe, qint64 kind)
{
    if (probe)
        kind = probe->artificialType();
    if (kind < 1 || kind > TEVArtificialSensor::LastKind) {
        platform::log(QStringLiteral("ProbesManager: internal error: no implementation to handle probe of type %1\n").arg(kind));
        return;
    }
    switch (kind) {
    case TEVArtificialSensor::CPULoad: addOrEditExistingCPULoadProbe(probe); return;
    case TEVArtificialSensor::SMARTStatus: addOrEditExistingSMARTProbe(probe); return;
    case TEVArtificialSensor::RAIDStatus: addOrEditExistingRAIDProbe(probe); return;
    case TEVArtificialSensor::Power: addOrEditExistingPowerProbe(probe); return;
    case TEVArtificialSensor::RemainingBattery: addOrEditExistingBatteryProbe(probe); return;
    case TEVArtificialSensor::TotalCPULoad: addOrEditExistingTotalCPULoadProbe(probe); return;
    case TEVArtificialSensor::NumberOfProcesses: addOrEditExistingProcessCountProbe(probe); return;
    default: break;
    }
    if (isDiskKind(kind))
        addOrEditExistingDiskProbe(probe, kind);
    else if (isMemoryKind(kind))
        addOrEditExistingMemoryProbe(probe, kind);
    else if (isNetworkKind(kind))
        addOrEditExistingNetworkProbe(probe, kind);
}

// --- The kinds ------------------------------------------------------------------------------------------

void ProbesManager::addProbeWithoutSheet(const std::shared_ptr<TEVArtificialSensor>& probe,
                                         const std::function<std::shared_ptr<TEVArtificialSensor>()>& make)
{
    if (probe)
        return;
    if (!TEVArtificialSensor::addArtificialSensor(make()))
        openProbeCreationErrorSheet();
    else
        reflectConfigurationChange();
}

void ProbesManager::addOrEditExistingMemoryProbe(const std::shared_ptr<TEVArtificialSensor>& probe, qint64 kind)
{
    addProbeWithoutSheet(probe, [kind] { return TEVArtificialSensor::createAsMemorySensorOfType(kind); });
}

void ProbesManager::addOrEditExistingTotalCPULoadProbe(const std::shared_ptr<TEVArtificialSensor>& probe)
{
    addProbeWithoutSheet(probe, [] { return TEVArtificialSensor::createAsTotalCPULoadSensor(); });
}

void ProbesManager::addOrEditExistingProcessCountProbe(const std::shared_ptr<TEVArtificialSensor>& probe)
{
    addProbeWithoutSheet(probe, [] { return TEVArtificialSensor::createAsProcessCountSensor(); });
}

void ProbesManager::addOrEditExistingCPULoadProbe(const std::shared_ptr<TEVArtificialSensor>& probe)
{
    const auto machine = localClient_ ? localClient_->machineInfo() : nullptr;
    openIndexSheet(probe, TEVArtificialSensor::CPULoad, machine ? qint64(machine->processorCount()) : 0);
}

void ProbesManager::addOrEditExistingBatteryProbe(const std::shared_ptr<TEVArtificialSensor>& probe)
{
    const qint64 batteries = localClient_ ? qint64(localClient_->numberOfAvailableBatteryUnits()) : 0;
    if (batteries == 0) {
        openInvalidProbeTypeErrorSheet();
        return;
    }
    openIndexSheet(probe, TEVArtificialSensor::RemainingBattery, batteries);
}

void ProbesManager::openIndexSheet(const std::shared_ptr<TEVArtificialSensor>& probe, qint64 kind, qint64 maximum)
{
    ensureSheets();
    Ui_ProbeSourceSheets& ui = ui_->sheets;
    ui.indexSelectionMessage->setText(localized(kind == TEVArtificialSensor::CPULoad
                                                    ? QStringLiteral("Please select the CPU core to be monitored:")
                                                    : QStringLiteral("Please select the battery unit to be monitored:")));
    indexMaximum_ = maximum;
    {
        const QSignalBlocker blocker(ui.indexStepper);
        ui.indexStepper->setRange(1, int(std::clamp<qint64>(maximum, 1, 1 << 30)));
        ui.indexStepper->setValue(1);
    }
    ui.indexField->setText(QStringLiteral("1"));
    beginSheet(Sheet::Index, probe, kind);
    // Without a processor count there is nothing to choose.
    acceptButton(Sheet::Index)->setEnabled(maximum >= 1);
}

void ProbesManager::changeIndex(QObject* sender)
{
    ensureSheets();
    Ui_ProbeSourceSheets& ui = ui_->sheets;
    const qint64 minimum = 1;
    const qint64 maximum = std::max<qint64>(indexMaximum_, minimum);
    qint64 value = 0;
    if (sender == ui.indexField) {
        bool ok = false;
        value = ui.indexField->text().trimmed().toLongLong(&ok);
        if (!ok)
            value = 0;
    } else if (sender == ui.indexStepper) {
        value = ui.indexStepper->value();
    } else {
        return;
    }
    if (value < minimum || value > maximum) {
        value = std::clamp(value, minimum, maximum);
        platform::AlertPresenter::shared()->beep();
    }
    ui.indexField->setText(QString::number(value));
    const QSignalBlocker blocker(ui.indexStepper);
    ui.indexStepper->setValue(int(value));
}

bool ProbesManager::updateDiskSelectionTableForRAID(bool raid)
{
    ensureSheets();
    diskDevices_.clear();
    if (raid) {
        diskModel_->setTitles({localized(QStringLiteral("Name")), localized(QStringLiteral("Identification"))});
        for (const auto& set : sources_.raidSets ? sources_.raidSets() : QList<Sources::NamedObject>())
            diskDevices_.append({{kColumn0, set.name}, {kColumn1, set.identifier}});
        ui_->sheets.diskSelectionMessage->setText(localized(QStringLiteral("Please select the RAID set to be monitored:")));
    } else {
        diskModel_->setTitles({localized(QStringLiteral("Volume")), localized(QStringLiteral("Path"))});
        for (const auto& volume : sources_.volumes ? sources_.volumes() : QList<Sources::Volume>()) {
            if (volume.blockCount == 0 || volume.mountPoint == QLatin1String("/dev") || volume.name.isEmpty())
                continue;
            diskDevices_.append({{kColumn0, volume.name}, {kColumn1, volume.mountPoint}});
        }
        ui_->sheets.diskSelectionMessage->setText(localized(QStringLiteral("Please select the disk volume to be monitored:")));
    }
    ui_->sheets.diskTable->clearSelection();
    diskModel_->setRows(diskDevices_);
    return !diskDevices_.isEmpty();
}

void ProbesManager::addOrEditExistingDiskProbe(const std::shared_ptr<TEVArtificialSensor>& probe, qint64 kind)
{
    if (!updateDiskSelectionTableForRAID(false)) {
        openInvalidProbeTypeErrorSheet();
        return;
    }
    beginSheet(Sheet::Disk, probe, kind);
}

void ProbesManager::addOrEditExistingRAIDProbe(const std::shared_ptr<TEVArtificialSensor>& probe)
{
    if (!updateDiskSelectionTableForRAID(true)) {
        openInvalidProbeTypeErrorSheet();
        return;
    }
    beginSheet(Sheet::Disk, probe, TEVArtificialSensor::RAIDStatus);
}

void ProbesManager::addOrEditExistingSMARTProbe(const std::shared_ptr<TEVArtificialSensor>& probe)
{
    ensureSheets();
    smartDevices_.clear();
    for (const auto& drive : sources_.smartDrives ? sources_.smartDrives() : QList<Sources::NamedObject>())
        smartDevices_.append({{QStringLiteral("Name"), drive.name}, {QStringLiteral("Serial"), drive.identifier}});
    if (smartDevices_.isEmpty()) {
        openInvalidProbeTypeErrorSheet();
        return;
    }
    ui_->sheets.smartDriveTable->clearSelection();
    smartModel_->setRows(smartDevices_);
    beginSheet(Sheet::SMARTDrive, probe, TEVArtificialSensor::SMARTStatus);
}

void ProbesManager::addOrEditExistingPowerProbe(const std::shared_ptr<TEVArtificialSensor>& probe)
{
    ensureSheets();
    amperageSensors_.clear();
    voltageSensors_.clear();
    const QStringList identifiers = localClient_ ? localClient_->availableSensorIdentifiers() : QStringList();
    for (const QString& identifier : identifiers) {
        const auto description = localClient_->sensorDescriptionForIdentifier(identifier);
        if (!description)
            continue;
        const QVariantMap row{{QStringLiteral("ID"), description->localIdentifier()},
                              {kPresentation, TEVGauge::localizedLocationForLocation(
                                                  TEVGauge::presentedLocationForLocationIdentifier(description->locationIdentifier()))}};
        if (description->quantityType() == 3)
            amperageSensors_.append(row);
        else if (description->quantityType() == 2)
            voltageSensors_.append(row);
    }
    if (amperageSensors_.isEmpty() || voltageSensors_.isEmpty()) {
        openInvalidProbeTypeErrorSheet();
        return;
    }
    ui_->sheets.amperageSensorTable->clearSelection();
    ui_->sheets.voltageSensorTable->clearSelection();
    amperageModel_->setRows(amperageSensors_);
    voltageModel_->setRows(voltageSensors_);
    beginSheet(Sheet::Power, probe, TEVArtificialSensor::Power);
}

void ProbesManager::addOrEditExistingNetworkProbe(const std::shared_ptr<TEVArtificialSensor>& probe, qint64 kind)
{
    ensureSheets();
    networkInterfaceNames_.clear();
    QStringList names = sources_.networkInterfaceNames ? sources_.networkInterfaceNames() : QStringList();
    std::sort(names.begin(), names.end());
    const QMap<QString, QString> shown = sources_.networkPresentationNames ? sources_.networkPresentationNames()
                                                                           : QMap<QString, QString>();
    for (const QString& name : std::as_const(names)) {
        const QString presentation = shown.contains(name)
                                         ? shown.value(name)
                                         : localized(QStringLiteral("BSD Interface '%@'")).replace(QLatin1String("%@"), name);
        networkInterfaceNames_.append({{QStringLiteral("BSDName"), name}, {QStringLiteral("Name"), presentation}});
    }
    if (networkInterfaceNames_.isEmpty()) {
        openInvalidProbeTypeErrorSheet();
        return;
    }
    ui_->sheets.networkTable->clearSelection();
    networkModel_->setRows(networkInterfaceNames_);
    beginSheet(Sheet::Network, probe, kind);
}

// --- Sheets ---------------------------------------------------------------------------------------------

QAbstractButton* ProbesManager::acceptButton(Sheet sheet) const
{
    ensureSheets();
    const Ui_ProbeSourceSheets& ui = ui_->sheets;
    QDialogButtonBox* box = nullptr;
    switch (sheet) {
    case Sheet::Index: box = ui.indexSheetCloseButtons; break;
    case Sheet::Disk: box = ui.diskSheetCloseButtons; break;
    case Sheet::SMARTDrive: box = ui.smartDriveSheetCloseButtons; break;
    case Sheet::Power: box = ui.powerSheetCloseButtons; break;
    case Sheet::Network: box = ui.networkSheetCloseButtons; break;
    case Sheet::None: return nullptr;
    }
    return box->button(QDialogButtonBox::Ok);
}

int ProbesManager::selectedRow(QTableView* table) const
{
    const QModelIndexList rows = table->selectionModel() ? table->selectionModel()->selectedRows() : QModelIndexList();
    return rows.size() == 1 ? rows.first().row() : -1;
}

void ProbesManager::beginSheet(Sheet sheet, const std::shared_ptr<TEVArtificialSensor>& probe, qint64 kind)
{
    ensureSheets();
    Ui_ProbeSourceSheets& ui = ui_->sheets;
    QWidget* pages[] = {nullptr, ui.indexSheet, ui.diskSheet, ui.smartDriveSheet, ui.powerSheet, ui.networkSheet};
    sheet_ = sheet;
    sheetProbe_ = probe;
    sheetKind_ = kind;
    // The sheet takes the size of its own page, not that of the largest one.
    for (QWidget* page : pages) {
        if (!page)
            continue;
        const bool current = page == pages[int(sheet)];
        page->setSizePolicy(current ? QSizePolicy::Preferred : QSizePolicy::Ignored,
                            current ? QSizePolicy::Preferred : QSizePolicy::Ignored);
    }
    ui.sheetPages->setCurrentWidget(pages[int(sheet)]);
    sheetWindow_->adjustSize();
    // The table sheets start with nothing chosen.
    acceptButton(sheet)->setEnabled(sheet == Sheet::Index);
    sheetWindow_->open();
}

void ProbesManager::selectMonitoredObject(QTableView* sender)
{
    ensureSheets();
    const Ui_ProbeSourceSheets& ui = ui_->sheets;
    if (sheet_ == Sheet::Power) {
        acceptButton(sheet_)->setEnabled(selectedRow(ui.amperageSensorTable) >= 0 && selectedRow(ui.voltageSensorTable) >= 0);
    } else if (sheet_ == Sheet::Disk || sheet_ == Sheet::SMARTDrive || sheet_ == Sheet::Network) {
        acceptButton(sheet_)->setEnabled(selectedRow(sender) >= 0);
    }
}

bool ProbesManager::makeProbeFromSheet(std::shared_ptr<TEVArtificialSensor>* made)
{
    ensureSheets();
    const Ui_ProbeSourceSheets& ui = ui_->sheets;
    const auto chosen = [this](QTableView* table, const Rows& rows) -> std::optional<QVariantMap> {
        const int row = selectedRow(table);
        if (row < 0 || row >= rows.size())
            return std::nullopt;
        return rows.at(row);
    };
    const auto text = [](const QVariantMap& row, const QString& key) {
        return platform::values::toString(row.value(key)).value_or(QString());
    };
    switch (sheet_) {
    case Sheet::Index: {
        // A value typed but not yet committed counts, clamped as the field would be.
        changeIndex(ui.indexField);
        if (indexMaximum_ < 1)
            return false;
        const qint64 index = ui.indexStepper->value() - 1;
        *made = sheetKind_ == TEVArtificialSensor::CPULoad ? TEVArtificialSensor::createAsLoadSensorForCPUAtIndex(index)
                                                           : TEVArtificialSensor::createAsBatterySensorForIndex(index);
        return true;
    }
    case Sheet::Disk: {
        const auto row = chosen(ui.diskTable, diskDevices_);
        if (!row)
            return false;
        *made = sheetKind_ == TEVArtificialSensor::RAIDStatus
                    ? TEVArtificialSensor::createAsRAIDStatusSensorForUUID(text(*row, kColumn1))
                    : TEVArtificialSensor::createAsStorageSensorForPath(text(*row, kColumn1), sheetKind_);
        return true;
    }
    case Sheet::SMARTDrive: {
        const auto row = chosen(ui.smartDriveTable, smartDevices_);
        if (!row)
            return false;
        *made = TEVArtificialSensor::createAsSMARTStatusSensorForProductName(text(*row, QStringLiteral("Name")),
                                                                            text(*row, QStringLiteral("Serial")));
        return true;
    }
    case Sheet::Power: {
        const auto voltage = chosen(ui.voltageSensorTable, voltageSensors_);
        const auto current = chosen(ui.amperageSensorTable, amperageSensors_);
        if (!voltage || !current)
            return false;
        *made = TEVArtificialSensor::createAsPowerSensorForVoltageSensorNamed(
            text(*voltage, QStringLiteral("ID")), text(*voltage, kPresentation), text(*current, QStringLiteral("ID")),
            text(*current, kPresentation));
        return true;
    }
    case Sheet::Network: {
        const auto row = chosen(ui.networkTable, networkInterfaceNames_);
        if (!row)
            return false;
        *made = TEVArtificialSensor::createAsNetworkInterfaceSensorWithType(sheetKind_, text(*row, QStringLiteral("BSDName")),
                                                                           text(*row, QStringLiteral("Name")));
        return true;
    }
    case Sheet::None:
        break;
    }
    return false;
}

void ProbesManager::closeSheet(int tag)
{
    if (sheet_ == Sheet::None)
        return;
    ensureSheets();
    std::shared_ptr<TEVArtificialSensor> made;
    const bool chosen = tag == 1 && makeProbeFromSheet(&made);
    const auto old = std::exchange(sheetProbe_, nullptr);
    sheet_ = Sheet::None;
    sheetWindow_->hide();
    if (tag != 1)
        return;
    if (!chosen) {
        platform::AlertPresenter::shared()->beep();
        return;
    }
    if (old)
        TEVArtificialSensor::removeArtificialSensor(old.get());
    if (TEVArtificialSensor::addArtificialSensor(made)) {
        reflectConfigurationChange();
        return;
    }
    if (old)
        TEVArtificialSensor::addArtificialSensor(old);
    // The list shows the restored probe at its new place before the error.
    updateContents();
    openProbeCreationErrorSheet();
}

void ProbesManager::openMessageSheet(const QString& message, const QString& politeInformation)
{
    platform::Alert alert;
    alert.messageText = localized(message);
    alert.informativeText = politeLocalized(politeInformation);
    alert.buttons = {localized(QStringLiteral("OK"))};
    platform::AlertPresenter::shared()->runModal(alert);
}

void ProbesManager::openProbeCreationErrorSheet()
{
    openMessageSheet(QStringLiteral("The probe could not be created"),
                     QStringLiteral("It was not possible to add the probe based on the data you had entered. Either a "
                                    "similar probe monitoring the same object already exists, or the data was invalid."));
}

void ProbesManager::openInvalidProbeTypeErrorSheet()
{
    openMessageSheet(QStringLiteral("The computer doesn't have the necessary equipment for this type of probe."),
                     QStringLiteral("When scanning the hardware equipment of this computer, it was detected that you "
                                    "cannot create a probe with the type you have selected."));
}

// --- Import and export ----------------------------------------------------------------------------------

void ProbesManager::selectImportExportOption(int index)
{
    if (index == 2) {
        exportProbeDefinitions();
        return;
    }
    if (index != 1)
        return;
    if (TEVArtificialSensor::allArtificialSensors().isEmpty()) {
        importProbeDefinitions();
        return;
    }
    platform::Alert alert;
    alert.messageText = politeLocalized(QStringLiteral("All current probe definitions will be removed. Do you like to continue?"));
    alert.informativeText = politeLocalized(QStringLiteral(
        "The probe definitions from the imported file will completely replace your existing definitions. You will lose "
        "your current probe settings when pressing 'yes'."));
    alert.buttons = {localized(QStringLiteral("No")), localized(QStringLiteral("Yes"))};
    // Only "Yes" replaces the list: closing the question is no consent to lose it.
    if (platform::AlertPresenter::shared()->runModal(alert) == 1)
        importProbeDefinitions();
}

void ProbesManager::exportProbeDefinitions()
{
    platform::SavePanelOptions options;
    options.title = localized(QStringLiteral("Export Probe Definitions"));
    options.suggestedName = localized(QStringLiteral("Probes")) + QStringLiteral(".plist");
    options.fileTypes = {{localized(QStringLiteral("Property List")), QStringLiteral("plist")}};
    const auto chosen = platform::SavePanel::shared()->runModal(options);
    if (!chosen)
        return;
    const QString* path = &chosen->path;
    const QByteArray bytes = platform::writePropertyList(TEVArtificialSensor::preferenceDictionariesForAllSensors(),
                                                         platform::PlistFormat::Xml);
    QSaveFile file(*path);
    const bool written = !bytes.isNull() && file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
    if (!written)
        openMessageSheet(QStringLiteral("The export file could not be written."),
                         QStringLiteral("An error occurred while trying to write the file. Please verify if you have write "
                                        "permission for the destination folder and try again."));
}

void ProbesManager::importProbeDefinitions()
{
    platform::OpenPanelOptions options;
    options.title = localized(QStringLiteral("Import Probe Definitions"));
    options.canChooseFiles = true;
    options.canChooseDirectories = false;
    options.allowedFileTypes = {QStringLiteral("plist")};
    const auto path = platform::OpenPanel::shared()->runModal(options);
    if (!path)
        return;
    QFile file(*path);
    const bool opened = file.open(QIODevice::ReadOnly);
    // Read no further than the limit: the size of a pipe or a special file says nothing.
    const QByteArray bytes = opened ? platform::Paths::readAtMost(file, kMaximumImportBytes) : QByteArray();
    const QString tooLarge = QStringLiteral(
        "Probe definition files hold at most 10,000 probes in at most 1 MiB. Your probe definitions were left unchanged.");
    if (bytes.size() > kMaximumImportBytes) {
        openMessageSheet(QStringLiteral("The import file is too large."), tooLarge);
        return;
    }
    platform::PlistLimits limits;
    limits.maxInputBytes = kMaximumImportBytes;
    const platform::PlistReadResult read = opened ? platform::readPropertyList(bytes, limits) : platform::PlistReadResult{};
    const auto array = platform::values::toArray(read.value);
    if (!array) {
        openMessageSheet(QStringLiteral("The import file could not be read."),
                         QStringLiteral("An error occurred while trying to read the file. Please verify if you have read "
                                        "permission and that the file contains valid probe definitions, then try again."));
        return;
    }
    if (array->size() > kMaximumImportEntries) {
        openMessageSheet(QStringLiteral("The import file holds too many probe definitions."), tooLarge);
        return;
    }
    // The usable descriptions, each probe once.
    QVariantList usable;
    QList<std::shared_ptr<TEVArtificialSensor>> probes;
    quint64 duplicates = 0;
    for (const QVariant& entry : *array) {
        const auto probe = TEVArtificialSensor::createWithPreferenceDictionary(platform::values::toDictionary(entry));
        if (!probe)
            continue;
        if (std::any_of(probes.cbegin(), probes.cend(), [&](const auto& other) { return other->isEqual(probe.get()); })) {
            ++duplicates;
            continue;
        }
        probes.append(probe);
        usable.append(entry);
    }
    // A file of other things is no reason to lose the list; an empty one clears it, as an empty list exports.
    if (!array->isEmpty() && usable.isEmpty()) {
        openMessageSheet(QStringLiteral("No probe definitions could be imported."),
                         withCounts(localized(QStringLiteral("The file contained %llu entries, none of which describes a probe "
                                                             "this computer can use. Your probe definitions were left unchanged.")),
                                    {quint64(array->size())}));
        return;
    }
    TEVArtificialSensor::setArtificialSensorsUsingPreferenceDictionaries(usable);
    reflectConfigurationChange();
    platform::Alert alert;
    alert.messageText = localized(QStringLiteral("The probe definitions have been imported."));
    alert.informativeText = withCounts(
        localized(QStringLiteral("The file contained descriptions of %llu artificial sensors. %llu could be imported successfully.")),
        {quint64(array->size()), quint64(TEVArtificialSensor::allArtificialSensors().size())});
    if (duplicates > 0)
        alert.informativeText += QLatin1Char(' ')
            + withCounts(localized(QStringLiteral("%llu duplicate descriptions were skipped.")), {duplicates});
    alert.buttons = {localized(QStringLiteral("OK"))};
    alert.style = platform::Alert::Style::Informational;
    platform::AlertPresenter::shared()->runModal(alert);
}
