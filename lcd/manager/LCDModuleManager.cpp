#include "lcd/manager/LCDModuleManager.h"

#include "app/model/OutputCacheEntry.h"
#include "app/model/TEVGauge.h"
#include "framework/TEVStringFormat.h"
#include "framework/TEVTimeUtilities.h"
#include "lcd/TEVIOWarriorDevice.h"
#include "lcd/TEVLCDCrystalfontz.h"
#include "lcd/TEVLCDHD44780.h"
#include "lcd/TEVNetworkInterfaceDescription.h"
#include "lcd/TEVSerialPortDevice.h"
#include "lcd/manager/TEVLCDOutputItem.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/Scheduler.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/Values.h"
#include "platform/hardware/IdleTimeSource.h"
#include "sensors/TEVSensorDescription.h"

#include "ui_LCDModuleManager.h"
#include "ui_LCDSettingsSheet.h"
#include "ui_LCDTestSheet.h"

#include <QAbstractTableModel>
#include <QFontDatabase>
#include <QHeaderView>
#include <QItemSelectionModel>

#include <array>
#include <cmath>

namespace v = platform::values;

namespace {

const QString kDisplayType = QStringLiteral("DisplayType");
const QString kScreenSaver = QStringLiteral("ScreenSaver");
const QString kIsSleeping = QStringLiteral("LCDIsSleeping");
const QString kHardwareSettings = QStringLiteral("HardwareSettings");
const QString kBrightness = QStringLiteral("Brightness");
const QString kContrast = QStringLiteral("Contrast");
const QString kOutputItems = QStringLiteral("OutputItems");

constexpr std::array<double, 7> kSaverAnchors{180, 300, 900, 1800, 3600, 7200, 10800};
constexpr double kDefaultHardwareSetting = 50;

QString localized(const QString& key, const QString& value = {})
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key, value) : (value.isEmpty() ? key : value);
}

QString infoString(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? v::toString(bundle->objectForInfoDictionaryKey(key)).value_or(QString()) : QString();
}

const void* classIdentityOf(const TEVLCDController& controller)
{
    if (dynamic_cast<const TEVIOWarriorDevice*>(&controller))
        return TEVIOWarriorDevice::classIdentity();
    if (dynamic_cast<const TEVSerialPortDevice*>(&controller))
        return TEVSerialPortDevice::classIdentity();
    return nullptr;
}

qint64 displayTypeOf(const LCDModuleManager::ModuleDescription& description)
{
    return v::toSigned(description.values.value(kDisplayType)).value_or(0);
}

bool isSleeping(const LCDModuleManager::ModuleDescription& description)
{
    return v::toBool(description.values.value(kIsSleeping)).value_or(false);
}

double hardwareSetting(const LCDModuleManager::ModuleDescription* description, const QString& key)
{
    if (!description)
        return kDefaultHardwareSetting;
    const auto settings = v::toDictionary(description->values.value(kHardwareSettings));
    return settings ? v::toReal(settings->value(key)).value_or(kDefaultHardwareSetting) : kDefaultHardwareSetting;
}

std::shared_ptr<TEVLCDOutputItem> itemAt(const QVariantList& list, qsizetype row)
{
    if (row < 0 || row >= list.size())
        return nullptr;
    return platform::objectAs<TEVLCDOutputItem>(v::toObject(list.at(row)));
}

} // namespace

// --- Pane models ------------------------------------------------------------------------------------------

struct LCDModuleManager::Ui {
    Ui_LCDModuleManager pane;
    Ui_LCDSettingsSheet settings;
    Ui_LCDTestSheet test;
    QPointer<QDialog> settingsSheet;
    QPointer<QDialog> testSheet;
};

class LCDModuleManager::ControllerModel final : public QAbstractTableModel {
public:
    static inline const QStringList columns{QStringLiteral("UnitType"), QStringLiteral("SerialNumber"),
                                            QStringLiteral("LCDConfig")};

    explicit ControllerModel(LCDModuleManager& manager) : manager_(manager) {}
    void reload()
    {
        beginResetModel();
        endResetModel();
    }
    int rowCount(const QModelIndex& parent) const override
    {
        return parent.isValid() ? 0 : int(manager_.lcdControllers_.size());
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(columns.size()); }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid() || size_t(index.row()) >= manager_.lcdControllers_.size())
            return {};
        const auto& controller = manager_.lcdControllers_[size_t(index.row())];
        const QString& column = columns.value(index.column());
        // Long stable names are cut in the narrow column: the whole name shows on hovering.
        if (role == Qt::ToolTipRole)
            return column == QLatin1String("SerialNumber") ? QVariant(controller->serialNumber()) : QVariant();
        if (column == QLatin1String("UnitType"))
            return controller->devicePresentationName();
        if (column == QLatin1String("SerialNumber"))
            return controller->serialNumber();
        const auto display = manager_.displayForSpecifier(controller->uniqueDeviceSpecifier());
        return display ? labelForDisplayType(display->displayType()) : labelForDisplayType(-1);
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        static const char* const titles[] = {"Type", "Serial Number", "Display"};
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= int(std::size(titles)))
            return {};
        return localized(QLatin1String(titles[section]));
    }

private:
    LCDModuleManager& manager_;
};

// The rows of an item list that the manager answers afresh on every call (the selected module changes).
class LCDModuleManager::ItemModel final : public QAbstractTableModel {
public:
    ItemModel(LCDModuleManager& manager, std::function<QVariantList*()> list, QString title)
        : manager_(manager), list_(std::move(list)), title_(std::move(title))
    {
    }
    void reload()
    {
        beginResetModel();
        endResetModel();
    }
    void refreshRows()
    {
        if (rowCount({}) > 0)
            emit dataChanged(index(0, 0), index(rowCount({}) - 1, 0));
    }
    int rowCount(const QModelIndex& parent) const override
    {
        const QVariantList* list = list_();
        return parent.isValid() || !list ? 0 : int(list->size());
    }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 1; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        const QVariantList* list = list_();
        const auto item = list && index.isValid() ? itemAt(*list, index.row()) : nullptr;
        if (role != Qt::DisplayRole || !item)
            return {};
        return manager_.localizedPresentationForLCDOutputItem(*item);
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        return section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole ? QVariant(title_) : QVariant();
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return QAbstractTableModel::flags(index) | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
    }
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction | Qt::MoveAction; }

private:
    LCDModuleManager& manager_;
    std::function<QVariantList*()> list_;
    QString title_;
};

class LCDModuleManager::DragSource final : public TEVDragTableDataSource {
public:
    explicit DragSource(LCDModuleManager& manager) : manager_(manager) {}
    QVariantList* arrayForDragTable(TEVDragTableView& table) override
    {
        if (&table == manager_.ui_->pane.elementSourceTable)
            return &manager_.availableOutputItems_;
        return manager_.selectedList();
    }
    void dragTableDidChangeArray(TEVDragTableView&) override { manager_.updateContents(); }

private:
    LCDModuleManager& manager_;
};

// --- Creation ---------------------------------------------------------------------------------------------

LCDModuleManager::LCDModuleManager()
    : LCDModuleManager(Hardware())
{
}

LCDModuleManager::LCDModuleManager(Hardware hardware)
    : hardware_(std::move(hardware))
    , ui_(std::make_unique<Ui>())
{
    if (!hardware_.listControllers)
        hardware_.listControllers = &LCDModuleManager::listOfConnectedLCDControllers;
    if (!hardware_.makeDisplay)
        hardware_.makeDisplay = &LCDModuleManager::displayForLCDController;
    if (!hardware_.physicalInterfaceNames) {
        hardware_.physicalInterfaceNames = [] {
            QStringList names;
            for (const auto& interface : TEVNetworkInterfaceDescription::allPhysicalNetworkInterfaces())
                names.append(interface->darwinInterfaceName());
            return names;
        };
    }
    availableOutputItems_.reserve(60);
    // The pane and its sheets are made when the preference window makes its panes.
    lcdControllers_ = hardware_.listControllers();
    updateContents();
    if (hardware_.observeHotplug) {
        TEVIOWarriorDevice::setupConnectionNotifications();
        TEVSerialPortDevice::setupConnectionNotifications();
    }
    changeObserver_ = platform::NotificationCenter::defaultCenter().addObserver(
        TEVLCDController::changeNotification, {}, [this](const platform::Notification& n) { controllerDidChange(n); });
}

LCDModuleManager::~LCDModuleManager()
{
    platform::NotificationCenter::defaultCenter().removeObserver(changeObserver_);
    // The sheets belong to the preference window once shown on it; they go with the manager all the same.
    delete dummyWindow_.data();
    delete ui_->settingsSheet.data();
    delete ui_->testSheet.data();
}

std::shared_ptr<LCDModuleManager> LCDModuleManager::sharedLCDModuleManager()
{
    // Held weakly: its owner lets it go before the application object, which its widgets need.
    static std::weak_ptr<LCDModuleManager> shared;
    auto manager = shared.lock();
    if (!manager) {
        manager = std::make_shared<LCDModuleManager>();
        shared = manager;
    }
    return manager;
}

void LCDModuleManager::ensurePane() const
{
    if (!dummyWindow_)
        const_cast<LCDModuleManager*>(this)->setupPane();
}

void LCDModuleManager::setupPane()
{
    dummyWindow_ = new QWidget;
    ui_->pane.setupUi(dummyWindow_);
    ui_->settingsSheet = new QDialog;
    ui_->settings.setupUi(ui_->settingsSheet);
    ui_->testSheet = new QDialog;
    ui_->test.setupUi(ui_->testSheet);
    auto& pane = ui_->pane;

    for (qint64 code = -1; code < NumberOfDisplayTypes; ++code)
        pane.displayTypePopUp->addItem(labelForDisplayType(code));
    const QList<QAbstractButton*> patterns{ui_->test.testIdentification, ui_->test.testRuler, ui_->test.testLatin,
                                           ui_->test.testKatakana};
    for (int tag = 0; tag < patterns.size(); ++tag)
        ui_->test.testTypeButtons->setId(patterns[tag], tag);

    controllerModel_ = std::make_unique<ControllerModel>(*this);
    sourceModel_ = std::make_unique<ItemModel>(*this, [this] { return &availableOutputItems_; },
                                               localized(QStringLiteral("Available elements")));
    targetModel_ = std::make_unique<ItemModel>(*this, [this] { return selectedList(); },
                                               localized(QStringLiteral("Display contents")));
    pane.controllerTable->setModel(controllerModel_.get());
    pane.controllerTable->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    const int rowHeight = pane.controllerTable->fontMetrics().height() + 6;
    for (QTableView* table : {static_cast<QTableView*>(pane.controllerTable), static_cast<QTableView*>(pane.elementSourceTable),
                              static_cast<QTableView*>(pane.elementTargetTable)}) {
        table->verticalHeader()->hide();
        table->verticalHeader()->setDefaultSectionSize(rowHeight);
        table->setWordWrap(false);
    }
    // The titles above them name the item tables.
    for (auto* table : {pane.elementSourceTable, pane.elementTargetTable}) {
        table->horizontalHeader()->hide();
        table->horizontalHeader()->setStretchLastSection(true);
    }
    pane.elementSourceTable->setModel(sourceModel_.get());
    pane.elementTargetTable->setModel(targetModel_.get());
    dragSource_ = std::make_shared<DragSource>(*this);
    const QString elementClass = TEVLCDOutputItem().className();
    pane.elementSourceTable->enableDraggingForArrayElementClass(elementClass, true, false);
    pane.elementTargetTable->enableDraggingForArrayElementClass(elementClass, false, true);
    pane.elementSourceTable->setDragDataSource(dragSource_);
    pane.elementTargetTable->setDragDataSource(dragSource_);
    pane.elementOptionsBox->setCurrentWidget(pane.emptyBox);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSize(12);
    pane.lcdPreviewText->setFont(fixed);

    QObject* context = dummyWindow_;
    QObject::connect(pane.controllerTable->selectionModel(), &QItemSelectionModel::selectionChanged, context,
                     [this] { selectController(); });
    QObject::connect(pane.displayTypePopUp, &QComboBox::activated, context, [this] { selectDisplayType(); });
    QObject::connect(pane.elementTargetTable->selectionModel(), &QItemSelectionModel::selectionChanged, context,
                     [this] { selectOutputElement(); });
    QObject::connect(pane.fieldLengthField, &QSpinBox::valueChanged, context, [this] { changeElementOption(); });
    QObject::connect(pane.precisionField, &QSpinBox::valueChanged, context, [this] { changeElementOption(); });
    QObject::connect(pane.unitSwitch, &QCheckBox::clicked, context, [this] { changeElementOption(); });
    QObject::connect(pane.textField, &QLineEdit::textEdited, context, [this] { changeElementOption(); });
    QObject::connect(pane.elementDeleteButton, &QPushButton::clicked, context, [this] { deleteElement(); });
    QObject::connect(pane.rescanButton, &QPushButton::clicked, context, [this] { rescanAvailableElements(); });
    QObject::connect(pane.lookAgainButton, &QPushButton::clicked, context, [this] { lookForControllersAgain(); });
    QObject::connect(pane.lcdSaverSlider, &QSlider::valueChanged, context, [this] { changeLCDSaver(); });
    QObject::connect(pane.lcdSettingsButton, &QPushButton::clicked, context, [this] { openLCDSettingsSheet(); });
    QObject::connect(pane.testButton, &QPushButton::clicked, context, [this] { enterTestMode(); });
    auto& settings = ui_->settings;
    QObject::connect(settings.brightnessSlider, &QSlider::valueChanged, context, [this] { changeLCDSetting(); });
    QObject::connect(settings.contrastSlider, &QSlider::valueChanged, context, [this] { changeLCDSetting(); });
    QObject::connect(settings.lcdResetButton, &QPushButton::clicked, context, [this] { changeLCDSetting(true); });
    QObject::connect(settings.settingsCloseButton, &QPushButton::clicked, context, [this] { closeLCDSettingsSheet(); });
    QObject::connect(ui_->settingsSheet, &QDialog::finished, context, [this] { closeLCDSettingsSheet(); });
    QObject::connect(ui_->test.testTypeButtons, &QButtonGroup::idClicked, context, [this] { changeTestMode(); });
    QObject::connect(ui_->test.testCloseButton, &QPushButton::clicked, context, [this] { closeTestSheet(); });
    QObject::connect(ui_->testSheet, &QDialog::finished, context, [this] { closeTestSheet(); });
    updateContents();
}

// --- Class methods ----------------------------------------------------------------------------------------

LCDModuleManager::ControllerList LCDModuleManager::listOfConnectedLCDControllers()
{
    ControllerList list;
    for (const auto& device : TEVIOWarriorDevice::listOfIOWarriorDevicesWithInterfaceNumber(TEVIOWarriorDevice::SpecialModeInterface))
        list.push_back(device);
    for (const auto& port : TEVSerialPortDevice::listOfSerialPortDevices())
        list.push_back(port);
    return list;
}

LCDModuleManager::DisplayPtr LCDModuleManager::displayForLCDController(const ControllerPtr& controller)
{
    if (std::dynamic_pointer_cast<TEVIOWarriorDevice>(controller))
        return TEVLCDHD44780::createForLCDController(controller);
    if (std::dynamic_pointer_cast<TEVSerialPortDevice>(controller))
        return TEVLCDCrystalfontz::createForLCDController(controller);
    return nullptr;
}

bool LCDModuleManager::displaySupportsHardwareSettings(const TEVLCDDisplay* display)
{
    return dynamic_cast<const TEVLCDCrystalfontz*>(display) != nullptr;
}

QString LCDModuleManager::labelForDisplayType(qint64 code)
{
    static const char* const labels[] = {"- not configured -", "LC Display 2 x 8",  "LC Display 1 x 16",
                                         "LC Display 2 x 12",  "LC Display 2 x 16", "LC Display 2 x 20",
                                         "LC Display 2 x 40",  "LC Display 4 x 16", "LC Display 4 x 20",
                                         "LC Display 3 x 25",  "LC Display 17 x 52"};
    if (code < -1 || code >= NumberOfDisplayTypes)
        return {};
    return localized(QLatin1String(labels[code + 1]));
}

double LCDModuleManager::screenSaverSecondsForSliderPosition(double position)
{
    if (!(position < 6))
        return 0;
    position = std::max(position, 0.0);
    const auto low = size_t(std::floor(position));
    const auto high = size_t(std::ceil(position));
    return kSaverAnchors[low] + (kSaverAnchors[high] - kSaverAnchors[low]) * (position - double(low));
}

double LCDModuleManager::sliderPositionForScreenSaverSeconds(double seconds)
{
    if (!(seconds >= kSaverAnchors.front()))
        return 6;
    seconds = std::min(seconds, kSaverAnchors.back() - 1);
    size_t i = 0;
    while (i + 2 < kSaverAnchors.size() && seconds >= kSaverAnchors[i + 1])
        ++i;
    return double(i) + (seconds - kSaverAnchors[i]) / (kSaverAnchors[i + 1] - kSaverAnchors[i]);
}

LCDModuleManager::ModuleDescription LCDModuleManager::lcdModuleDescriptionForPreferenceEntry(const QVariantMap& entry)
{
    ModuleDescription description;
    description.values = entry;
    description.values.remove(kOutputItems);
    // Only a hand-edited file holds a saver below the slider's shortest time; it blanks after 180 s, as shown.
    double saver = v::toReal(entry.value(kScreenSaver)).value_or(0);
    if (std::isnan(saver) || saver < 0)
        saver = 0;
    else if (saver > kSaverAnchors.back())
        saver = kSaverAnchors.back() - 1;
    else if (saver > 0 && saver < kSaverAnchors.front())
        saver = kSaverAnchors.front();
    description.values.insert(kScreenSaver, v::fromReal(saver));
    description.values.insert(kIsSleeping, v::fromBool(false));
    if (entry.contains(kHardwareSettings) && !v::toDictionary(entry.value(kHardwareSettings)))
        description.values.remove(kHardwareSettings);
    QVariantList items;
    for (const QVariant& stored : v::toArray(entry.value(kOutputItems)).value_or(QVariantList())) {
        if (const auto item = TEVLCDOutputItem::createWithPreferenceEntry(v::toDictionary(stored)))
            items.append(v::fromObject(item));
    }
    description.outputItems = items;
    return description;
}

// --- Called by the application controller ----------------------------------------------------------------

QWidget* LCDModuleManager::preferencePaneView()
{
    ensurePane();
    return dummyWindow_;
}

void LCDModuleManager::setPreferenceWindow(QWidget* window)
{
    preferenceWindow_ = window;
}

void LCDModuleManager::setApplicationController(ControllerLookups* controller)
{
    applicationController_ = controller;
}

void LCDModuleManager::setLCDModulePreferences(const QVariantMap& preferences)
{
    preferencesSet_ = true;
    knownLCDDescriptions_.clear();
    for (auto it = preferences.cbegin(); it != preferences.cend(); ++it) {
        if (const auto entry = v::toDictionary(it.value()))
            knownLCDDescriptions_[it.key()] = lcdModuleDescriptionForPreferenceEntry(*entry);
    }
    synchronizeModulesWithDescriptions();
    updateContents();
}

std::optional<QVariantMap> LCDModuleManager::lcdModulePreferences() const
{
    // Before the stored modules arrive there is nothing to write back over them.
    if (!preferencesSet_)
        return std::nullopt;
    QVariantMap preferences;
    for (const auto& [specifier, description] : knownLCDDescriptions_) {
        QVariantMap entry = description.values;
        entry.remove(kIsSleeping);
        if (description.outputItems) {
            QVariantList items;
            for (qsizetype row = 0; row < description.outputItems->size(); ++row) {
                if (const auto item = itemAt(*description.outputItems, row))
                    items.append(item->preferenceEntry());
            }
            entry.insert(kOutputItems, items);
        }
        preferences.insert(specifier, entry);
    }
    return preferences;
}

void LCDModuleManager::rebuildListOfAvailableOutputItems()
{
    availableOutputItems_.clear();
    for (const auto& item : TEVLCDOutputItem::listOfPossibleStaticItems())
        availableOutputItems_.append(v::fromObject(item));
    for (const QString& name : hardware_.physicalInterfaceNames()) {
        auto item = std::make_shared<TEVLCDOutputItem>();
        item->setType(TEVLCDOutputItem::IPv4Address);
        item->setAssociatedString(name);
        availableOutputItems_.append(v::fromObject(item));
    }
    const QStringList identifiers =
        applicationController_ ? applicationController_->universalIdentifiersOfConnectedSensors() : QStringList();
    for (const QString& identifier : identifiers) {
        const auto gauge = applicationController_->gaugeForUniversalSensorIdentifier(identifier);
        auto item = std::make_shared<TEVLCDOutputItem>();
        item->setType(TEVLCDOutputItem::SensorValue);
        item->setAssociatedString(identifier);
        item->setMaximumFieldLength(6);
        item->setValuePrecision(gauge ? gauge->formatTag() : 0);
        availableOutputItems_.append(v::fromObject(item));
    }
    for (const QString& identifier : identifiers) {
        const auto gauge = applicationController_->gaugeForUniversalSensorIdentifier(identifier);
        const auto description = gauge ? gauge->sensorDescription() : nullptr;
        if (!description || description->unit() != QLatin1String("%"))
            continue;
        auto item = std::make_shared<TEVLCDOutputItem>();
        item->setType(TEVLCDOutputItem::SensorBarGraph);
        item->setAssociatedString(identifier);
        availableOutputItems_.append(v::fromObject(item));
    }
    if (sourceModel_)
        sourceModel_->reload();
}

void LCDModuleManager::updateAllDisplaysUsingOutputCache(const ControllerLookups::OutputCache& cache)
{
    // Without a module there is nothing to blank or light: no idle reading (a bus request) on every tick.
    // The first reading once one is plugged in only records again.
    if (displaysByController_.empty()) {
        lastUIIdleTimer_.reset();
        return;
    }
    updateSleepStateOfAllControllers();
    const QString selected = selectedController_ ? selectedController_->uniqueDeviceSpecifier() : QString();
    for (const auto& [specifier, display] : displaysByController_) {
        if (display == modalDisplay_)
            continue;
        const ModuleDescription* description = descriptionForSpecifier(specifier);
        if (!description || !description->outputItems || isSleeping(*description))
            continue;
        QString text;
        for (qsizetype row = 0; row < description->outputItems->size(); ++row) {
            if (const auto item = itemAt(*description->outputItems, row))
                text += item->outputStringUsingCache(&cache);
        }
        display->setString(text);
        if (specifier == selected && dummyWindow_)
            ui_->pane.lcdPreviewText->setPlainText(display->simulatedTextOutput());
    }
}

void LCDModuleManager::shutdownAllDisplays()
{
    const QString text = localized(QStringLiteral("SHUTDOWN"));
    for (const auto& [specifier, display] : displaysByController_) {
        display->setString(text);
        display->setDisplayEnabled(false);
    }
}

// --- Hot-plug and synchronisation -------------------------------------------------------------------------

void LCDModuleManager::controllerDidChange(const platform::Notification& notification)
{
    if (v::toUnsigned(notification.userInfo.value(TEVLCDController::changeKindKey)) == TEVLCDController::ChangeRemoval)
        removalsSinceRescan_.insert(notification.object.get());
    platform::Scheduler::shared()->afterSeconds(RescanDelay, [this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.lock())
            processChangeInLCDConfiguration();
    });
}

void LCDModuleManager::processChangeInLCDConfiguration()
{
    const ControllerList present = hardware_.listControllers();
    const QSet<const void*> removals = std::exchange(removalsSinceRescan_, {});
    const auto find = [](const ControllerList& list, const TEVLCDController& controller) {
        return std::find_if(list.begin(), list.end(), [&](const ControllerPtr& c) { return c->isEqual(controller); });
    };
    ControllerList kept;
    for (const ControllerPtr& held : lcdControllers_) {
        const auto fresh = find(present, *held);
        const QString specifier = held->uniqueDeviceSpecifier();
        if (fresh == present.end()) {
            displaysByController_.erase(specifier);
            if (selectedController_ == held)
                selectedController_.reset();
            continue;
        }
        // After a removal of its kind the device may have been re-plugged behind the old handle: reopen it.
        if (removals.contains(classIdentityOf(*held)) || removals.contains(nullptr)) {
            displaysByController_.erase(specifier);
            if (selectedController_ == held)
                selectedController_ = *fresh;
            kept.push_back(*fresh);
        } else {
            kept.push_back(held);
        }
    }
    for (const ControllerPtr& controller : present) {
        if (find(kept, *controller) == kept.end())
            kept.push_back(controller);
    }
    lcdControllers_ = std::move(kept);
    synchronizeModulesWithDescriptions();
    updateContents();
}

void LCDModuleManager::synchronizeModulesWithDescriptions()
{
    for (const ControllerPtr& controller : lcdControllers_) {
        const QString specifier = controller->uniqueDeviceSpecifier();
        const ModuleDescription* description = descriptionForSpecifier(specifier);
        if (!description)
            continue;
        // A running module keeps its display: a new one would re-initialise the hardware and the old one
        // would switch it off when released.
        DisplayPtr display = displayForSpecifier(specifier);
        if (!display) {
            display = makeDisplay(controller);
            if (!display)
                continue;
            displaysByController_[specifier] = display;
        }
        display->setDisplayType(displayTypeOf(*description));
        updateHardwareSettingsForDisplay(*display, description);
    }
}

LCDModuleManager::DisplayPtr LCDModuleManager::makeDisplay(const ControllerPtr& controller) const
{
    return controller ? hardware_.makeDisplay(controller) : nullptr;
}

void LCDModuleManager::updateHardwareSettingsForDisplay(TEVLCDDisplay& display, const ModuleDescription* description) const
{
    display.setBrightness(float(hardwareSetting(description, kBrightness)), float(hardwareSetting(description, kContrast)));
}

void LCDModuleManager::updateSleepStateOfAllControllers()
{
    // No reading changes nothing; 0 is one (the user is active right now), and wakes a blanked module.
    const std::optional<quint64> reading = platform::IdleTimeSource::shared()->idleNanoseconds();
    if (!reading)
        return;
    const quint64 idle = *reading;
    if (lastUIIdleTimer_) {
        if (idle < *lastUIIdleTimer_) {
            for (auto& [specifier, description] : knownLCDDescriptions_) {
                if (isSleeping(description))
                    setModuleSleeping(specifier, false);
            }
        } else {
            for (auto& [specifier, description] : knownLCDDescriptions_) {
                const double saver = v::toReal(description.values.value(kScreenSaver)).value_or(0);
                if (saver != 0 && !isSleeping(description) && double(idle) / 1e9 >= saver)
                    setModuleSleeping(specifier, true);
            }
        }
    }
    lastUIIdleTimer_ = idle;
}

void LCDModuleManager::setModuleSleeping(const QString& specifier, bool sleeping)
{
    if (const auto display = displayForSpecifier(specifier))
        display->setDisplayEnabled(!sleeping);
    if (ModuleDescription* description = descriptionForSpecifier(specifier))
        description->values.insert(kIsSleeping, v::fromBool(sleeping));
}

// --- Look-ups ---------------------------------------------------------------------------------------------

LCDModuleManager::DisplayPtr LCDModuleManager::displayForSpecifier(const QString& specifier) const
{
    const auto found = displaysByController_.find(specifier);
    return found == displaysByController_.end() ? nullptr : found->second;
}

const LCDModuleManager::ModuleDescription* LCDModuleManager::descriptionForSpecifier(const QString& specifier) const
{
    const auto found = knownLCDDescriptions_.find(specifier);
    return found == knownLCDDescriptions_.end() ? nullptr : &found->second;
}

LCDModuleManager::ModuleDescription* LCDModuleManager::descriptionForSpecifier(const QString& specifier)
{
    const auto found = knownLCDDescriptions_.find(specifier);
    return found == knownLCDDescriptions_.end() ? nullptr : &found->second;
}

QVariantList* LCDModuleManager::selectedList()
{
    ModuleDescription* description =
        selectedController_ ? descriptionForSpecifier(selectedController_->uniqueDeviceSpecifier()) : nullptr;
    if (!description)
        return nullptr;
    if (!description->outputItems)
        description->outputItems = QVariantList();
    return &*description->outputItems;
}

QDialog* LCDModuleManager::lcdSettingsSheet() const
{
    ensurePane();
    return ui_->settingsSheet;
}

QDialog* LCDModuleManager::testSheet() const
{
    ensurePane();
    return ui_->testSheet;
}

QString LCDModuleManager::localizedPresentationForLCDOutputItem(const TEVLCDOutputItem& item) const
{
    const QString name = TEVLCDOutputItem::staticPresentationForItemType(item.type());
    const qint32 type = item.type();
    if ((type >= TEVLCDOutputItem::NewLine && type < TEVLCDOutputItem::NumberOfStaticTypes)
        || (type == TEVLCDOutputItem::Text && item.associatedString().isEmpty()))
        return name;
    QString detail = item.associatedString();
    if (type == TEVLCDOutputItem::Text) {
        detail = TEVStringFormat::withObjects(localized(QStringLiteral("'%@'")), {item.associatedString()});
    } else if (type == TEVLCDOutputItem::SensorValue || type == TEVLCDOutputItem::SensorBarGraph) {
        const auto gauge = applicationController_
                               ? applicationController_->gaugeForUniversalSensorIdentifier(item.associatedString())
                               : nullptr;
        detail = gauge ? gauge->localizedLocation() : localized(QStringLiteral("- disconnected - "));
    }
    return TEVStringFormat::withObjects(localized(QStringLiteral("%@: %@")), {name, detail});
}

// --- The pane ---------------------------------------------------------------------------------------------

namespace {

// Held while the pane fills its controls, whose change signals would otherwise store what is being shown.
struct Refreshing {
    explicit Refreshing(bool& flag) : flag(flag), previous(std::exchange(flag, true)) {}
    ~Refreshing() { flag = previous; }
    bool& flag;
    bool previous;
};

int selectedRow(const QAbstractItemView* table)
{
    const QModelIndexList rows = table->selectionModel() ? table->selectionModel()->selectedRows() : QModelIndexList();
    return rows.size() == 1 ? rows.first().row() : -1;
}

} // namespace

void LCDModuleManager::updateContents()
{
    if (!dummyWindow_)
        return;
    const Refreshing guard(refreshing_);
    auto& pane = ui_->pane;
    controllerModel_->reload();
    auto row = std::find(lcdControllers_.begin(), lcdControllers_.end(), selectedController_);
    // A controller is always selected where there is one, until the user chooses the first running module
    // by preference: with none the pane would read "- not configured -" beside a module that runs.
    if ((row == lcdControllers_.end() || !controllerChosen_) && !lcdControllers_.empty()) {
        row = std::find_if(lcdControllers_.begin(), lcdControllers_.end(), [this](const ControllerPtr& controller) {
            return displayForSpecifier(controller->uniqueDeviceSpecifier()) != nullptr;
        });
        if (row == lcdControllers_.end())
            row = lcdControllers_.begin();
        selectedController_ = *row;
    }
    if (selectedController_ && row != lcdControllers_.end())
        pane.controllerTable->selectRow(int(row - lcdControllers_.begin()));

    const QString specifier = selectedController_ ? selectedController_->uniqueDeviceSpecifier() : QString();
    const DisplayPtr display = selectedController_ ? displayForSpecifier(specifier) : nullptr;
    const ModuleDescription* description = selectedController_ ? descriptionForSpecifier(specifier) : nullptr;
    pane.displayTypePopUp->setEnabled(selectedController_ != nullptr);
    const qint64 index = display ? display->displayType() + 1 : 0;
    pane.displayTypePopUp->setCurrentIndex(index >= 0 && index <= NumberOfDisplayTypes ? int(index) : -1);
    pane.testButton->setEnabled(display != nullptr);
    pane.lcdSaverSlider->setEnabled(display != nullptr);
    pane.lcdSaverMessage->setEnabled(display != nullptr);
    pane.lcdSettingsButton->setEnabled(display && displaySupportsHardwareSettings(display.get()));
    if (display)
        setSaverControls(description ? v::toReal(description->values.value(kScreenSaver)).value_or(0) : 0);

    const int targetRow = selectedRow(pane.elementTargetTable);
    sourceModel_->reload();
    targetModel_->reload();
    if (targetRow >= 0 && targetRow < targetModel_->rowCount({}))
        pane.elementTargetTable->selectRow(targetRow);
    pane.elementDeleteButton->setEnabled(selectedRow(pane.elementTargetTable) >= 0);

    const auto item = selectedItem();
    if (item && item->type() == TEVLCDOutputItem::SensorValue) {
        pane.fieldLengthField->setValue(item->maximumFieldLength());
        pane.precisionField->setValue(item->valuePrecision());
        pane.unitSwitch->setChecked(item->shouldDisplayUnit());
        activateElementOptionBox(pane.sensorBox);
    } else if (item && item->type() == TEVLCDOutputItem::Text) {
        pane.textField->setText(item->associatedString());
        activateElementOptionBox(pane.textBox);
    } else {
        activateElementOptionBox(pane.emptyBox);
    }
}

void LCDModuleManager::activateElementOptionBox(QWidget* box)
{
    if (ui_->pane.elementOptionsBox->currentWidget() != box)
        ui_->pane.elementOptionsBox->setCurrentWidget(box);
}

void LCDModuleManager::setSaverControls(double seconds)
{
    if (!(seconds >= kSaverAnchors.front()))
        seconds = 0;
    else if (seconds > kSaverAnchors.back())
        seconds = kSaverAnchors.back() - 1;
    const Refreshing guard(refreshing_);
    ui_->pane.lcdSaverSlider->setValue(int(std::lround(sliderPositionForScreenSaverSeconds(seconds) * SaverSliderSteps)));
    ui_->pane.lcdSaverMessage->setText(seconds == 0 ? localized(QStringLiteral("Never"))
                                                    : TEVTimeUtilities::localizedTextRepresentationForTimeInterval(seconds));
}

std::shared_ptr<TEVLCDOutputItem> LCDModuleManager::selectedItem() const
{
    if (!dummyWindow_)
        return nullptr;
    const int row = selectedRow(ui_->pane.elementTargetTable);
    const QVariantList* list = const_cast<LCDModuleManager*>(this)->selectedList();
    return list ? itemAt(*list, row) : nullptr;
}

void LCDModuleManager::beep() const
{
    platform::AlertPresenter::shared()->beep();
}

void LCDModuleManager::selectController()
{
    if (!dummyWindow_)
        return;
    if (refreshing_)
        return;
    const int row = selectedRow(ui_->pane.controllerTable);
    if (row >= 0 && size_t(row) < lcdControllers_.size()) {
        selectedController_ = lcdControllers_[size_t(row)];
        controllerChosen_ = true;
        updateContents();
    } else {
        selectedController_.reset();
    }
}

void LCDModuleManager::selectDisplayType()
{
    if (!dummyWindow_)
        return;
    if (!selectedController_)
        return;
    const int index = ui_->pane.displayTypePopUp->currentIndex();
    const QString specifier = selectedController_->uniqueDeviceSpecifier();
    if (index == 0) {
        displaysByController_.erase(specifier);
        knownLCDDescriptions_.erase(specifier);
    } else if (index > 0) {
        const qint64 type = index - 1;
        ModuleDescription* description = descriptionForSpecifier(specifier);
        DisplayPtr display = displayForSpecifier(specifier);
        // The type the module already has: its layout, saver and settings stay.
        const bool sameType = description && displayTypeOf(*description) == type && (!display || display->displayType() == type);
        if (!display) {
            display = makeDisplay(selectedController_);
            if (!display) {
                platform::log(QStringLiteral("LCDModuleManager: Could not create new LCD object for selected controller!\n"));
                return;
            }
            displaysByController_[specifier] = display;
            if (sameType)
                updateHardwareSettingsForDisplay(*display, description);
        }
        display->setDisplayType(type);
        if (!sameType) {
            // A module the saver had switched off comes back with its new layout.
            if (description && isSleeping(*description))
                display->setDisplayEnabled(true);
            ModuleDescription fresh;
            fresh.values.insert(kDisplayType, v::fromSigned(type));
            knownLCDDescriptions_[specifier] = fresh;
        }
    }
    updateContents();
}

void LCDModuleManager::selectOutputElement()
{
    if (!refreshing_)
        updateContents();
}

void LCDModuleManager::changeElementOption()
{
    if (!dummyWindow_)
        return;
    if (refreshing_)
        return;
    const auto item = selectedItem();
    if (!item)
        return;
    auto& pane = ui_->pane;
    if (item->type() == TEVLCDOutputItem::SensorValue) {
        const Refreshing guard(refreshing_);
        int length = pane.fieldLengthField->value();
        int precision = pane.precisionField->value();
        if (precision < 0) {
            beep();
            precision = 0;
            pane.precisionField->setValue(0);
        }
        if (precision >= length) {
            beep();
            length = precision + 1;
            pane.fieldLengthField->setValue(length);
        }
        item->setMaximumFieldLength(length);
        item->setValuePrecision(precision);
        item->setShouldDisplayUnit(pane.unitSwitch->isChecked());
    } else if (item->type() == TEVLCDOutputItem::Text) {
        item->setAssociatedString(pane.textField->text());
        targetModel_->refreshRows();
    }
}

void LCDModuleManager::deleteElement()
{
    if (!dummyWindow_)
        return;
    QVariantList* list = selectedList();
    const int row = selectedRow(ui_->pane.elementTargetTable);
    if (list && row >= 0 && row < list->size()) {
        list->removeAt(row);
        ui_->pane.elementTargetTable->clearSelection();
    }
    updateContents();
}

void LCDModuleManager::rescanAvailableElements()
{
    rebuildListOfAvailableOutputItems();
}

void LCDModuleManager::lookForControllersAgain()
{
    // Where udev sends no events (a container, no udev at all) this is the only way a module plugged in
    // later is found. A controller held is taken as present again: a running module keeps its display.
    processChangeInLCDConfiguration();
}

void LCDModuleManager::changeLCDSaver()
{
    if (!dummyWindow_)
        return;
    if (refreshing_ || !selectedController_)
        return;
    const double seconds = screenSaverSecondsForSliderPosition(double(ui_->pane.lcdSaverSlider->value()) / SaverSliderSteps);
    ui_->pane.lcdSaverMessage->setText(seconds == 0 ? localized(QStringLiteral("Never"))
                                                    : TEVTimeUtilities::localizedTextRepresentationForTimeInterval(seconds));
    if (ModuleDescription* description = descriptionForSpecifier(selectedController_->uniqueDeviceSpecifier()))
        description->values.insert(kScreenSaver, v::fromReal(seconds));
}

void LCDModuleManager::openLCDSettingsSheet()
{
    if (!dummyWindow_ || !ui_->settingsSheet)
        return;
    if (!selectedController_ || modalDisplay_)
        return;
    const QString specifier = selectedController_->uniqueDeviceSpecifier();
    const DisplayPtr display = displayForSpecifier(specifier);
    if (!display)
        return;
    modalDisplay_ = display;
    QString text;
    for (int line = 0; line < display->numberOfLines(); ++line)
        text += selectedController_->devicePresentationName() + QLatin1Char('\n');
    display->setString(text);
    {
        const Refreshing guard(refreshing_);
        const ModuleDescription* description = descriptionForSpecifier(specifier);
        const double brightness = description ? hardwareSetting(description, kBrightness) : kDefaultHardwareSetting;
        const double contrast = description ? hardwareSetting(description, kContrast) : kDefaultHardwareSetting;
        auto& settings = ui_->settings;
        settings.brightnessSlider->setValue(int(std::lround(brightness)));
        settings.contrastSlider->setValue(int(std::lround(contrast)));
        settings.brightnessMessage->setText(TEVStringFormat::withNumber("%.0f", brightness) + QLatin1Char('%'));
        settings.contrastMessage->setText(TEVStringFormat::withNumber("%.0f", contrast) + QLatin1Char('%'));
    }
    if (preferenceWindow_) {
        ui_->settingsSheet->setParent(preferenceWindow_, Qt::Dialog);
        ui_->settingsSheet->setWindowModality(Qt::WindowModal);
    }
    ui_->settingsSheet->open();
}

void LCDModuleManager::changeLCDSetting(bool reset)
{
    if (!ui_->settingsSheet)
        return;
    if (refreshing_ || !modalDisplay_ || !selectedController_)
        return;
    auto& settings = ui_->settings;
    if (reset) {
        const Refreshing guard(refreshing_);
        settings.brightnessSlider->setValue(int(kDefaultHardwareSetting));
        settings.contrastSlider->setValue(int(kDefaultHardwareSetting));
    }
    const float brightness = float(settings.brightnessSlider->value());
    const float contrast = float(settings.contrastSlider->value());
    settings.brightnessMessage->setText(TEVStringFormat::withNumber("%.0f", brightness) + QLatin1Char('%'));
    settings.contrastMessage->setText(TEVStringFormat::withNumber("%.0f", contrast) + QLatin1Char('%'));
    if (ModuleDescription* description = descriptionForSpecifier(selectedController_->uniqueDeviceSpecifier())) {
        QVariantMap hardware = v::toDictionary(description->values.value(kHardwareSettings)).value_or(QVariantMap());
        hardware.insert(kBrightness, v::fromReal(brightness));
        hardware.insert(kContrast, v::fromReal(contrast));
        description->values.insert(kHardwareSettings, hardware);
    }
    modalDisplay_->setBrightness(brightness, contrast);
}

void LCDModuleManager::closeLCDSettingsSheet()
{
    if (ui_->settingsSheet && ui_->settingsSheet->isVisible())
        ui_->settingsSheet->hide();
    modalDisplay_.reset();
}

void LCDModuleManager::enterTestMode()
{
    if (!dummyWindow_ || !ui_->testSheet)
        return;
    if (!selectedController_ || modalDisplay_)
        return;
    const DisplayPtr display = displayForSpecifier(selectedController_->uniqueDeviceSpecifier());
    if (!display)
        return;
    modalDisplay_ = display;
    changeTestMode();
    if (preferenceWindow_) {
        ui_->testSheet->setParent(preferenceWindow_, Qt::Dialog);
        ui_->testSheet->setWindowModality(Qt::WindowModal);
    }
    ui_->testSheet->open();
}

void LCDModuleManager::changeTestMode()
{
    if (!ui_->testSheet)
        return;
    if (!modalDisplay_ || !selectedController_)
        return;
    const QString text = testPatternText(ui_->test.testTypeButtons->checkedId(), *selectedController_,
                                         modalDisplay_->numberOfLines(), modalDisplay_->numberOfColumns());
    if (!text.isNull())
        modalDisplay_->setString(text);
}

void LCDModuleManager::closeTestSheet()
{
    if (ui_->testSheet && ui_->testSheet->isVisible())
        ui_->testSheet->hide();
    if (const DisplayPtr display = std::exchange(modalDisplay_, nullptr))
        display->setString(QStringLiteral(""));
}

QString LCDModuleManager::testPatternText(int tag, const TEVLCDController& controller, quint8 lines, quint8 columns)
{
    switch (tag) {
    case 0:
        return TEVStringFormat::withObjects(QStringLiteral("S/N %@ - %@\n%@ %@ (%@)"),
                                            {controller.serialNumber(), controller.devicePresentationName(),
                                             infoString(QStringLiteral("CFBundleDisplayName")),
                                             infoString(QStringLiteral("CFBundleShortVersionString")),
                                             infoString(QStringLiteral("CFBundleVersion"))});
    case 1: {
        // Each ruler fills exactly one line: "01: " and the digits of the columns from 4 on.
        QString text;
        for (int line = 1; line <= lines; ++line) {
            text += QString::asprintf("%02d: ", line);
            for (int column = 4; column < columns; ++column)
                text += QChar(u'0' + column % 10);
        }
        return text;
    }
    case 2:
        return localized(QStringLiteral("LCD_LATIN_TEST"),
                         QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz 0123456789 "
                                        "\u00C4\u00D6\u00DC\u00E4\u00F6\u00FC\u00DF \u00E9\u00E8\u00E0\u00F1 \u00A3 "
                                        "\u03B1\u03BC\u03C0\u03A3\u03A9 \u2103"));
    case 3:
        return localized(QStringLiteral("LCD_KATAKANA_TEST"),
                         QStringLiteral("\u30A2\u30AB\u30B5\u30BF\u30CA\u30CF\u30DE\u30E4\u30E9\u30EF\u30F3 "
                                        "\u30AD\u30B7\u30C1\u30CB\u30D2\u30DF\u30EA \u300C\u30FC\u300D\u3002"));
    default:
        return {};
    }
}
