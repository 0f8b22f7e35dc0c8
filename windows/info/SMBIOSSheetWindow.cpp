// The sheet's window: one tab per group, each a read-only table that follows the groups, or, without
// structures, a line that says so.

#include "windows/info/SMBIOSSheetController.h"

#include "platform/foundation/Bundle.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString localized(const char* key)
{
    const QString text = QString::fromLatin1(key);
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(text, {}, QStringLiteral("SystemManagement")) : text;
}

struct Column {
    const char* key;
    const char* title;
};

const Column kFirmwareFields[] = {{"Vendor", "Vendor"}, {"Version", "Version"}, {"ReleaseDate", "Release Date"},
                                  {"FirmwareSize", "Firmware Size"}};
const Column kComputerFields[] = {{"Manufacturer", "Manufacturer"}, {"Product", "Product"},
                                  {"Version", "Version"},           {"SerialNumber", "Serial Number"},
                                  {"SystemUUID", "UUID"},           {"SystemSKU", "SKU"},
                                  {"SystemFamily", "Family"}};
const Column kBoardFields[] = {{"Manufacturer", "Manufacturer"}, {"Product", "Product"},   {"Version", "Version"},
                               {"SerialNumber", "Serial Number"}, {"AssetTag", "Asset Tag"},
                               {"BoardLocation", "Location"}};
const Column kEnclosureFields[] = {{"Manufacturer", "Manufacturer"}, {"Version", "Version"},
                                   {"SerialNumber", "Serial Number"}, {"AssetTag", "Asset Tag"},
                                   {"Height", "Height"},             {"PowerCords", "Power Cords"}};
const Column kProcessorColumns[] = {
    {"CPUSocket", "Socket"},           {"Manufacturer", "Manufacturer"},      {"Version", "Version"},
    {"CPUIdentification", "ID"},       {"CPUCurrentClockMHz", "Current Clock"}, {"CPUMaximumClockMHz", "Maximum Clock"},
    {"CPUExternalClockMHz", "External Clock"}, {"CPUCoreCount", "Cores"}, {"CPUThreadCount", "Threads"},
    {"CPUPartNumber", "Part Number"},  {"SerialNumber", "Serial Number"}};
const Column kCacheColumns[] = {{"CacheSocketType", "Designation"},      {"CacheType", "Type"},
                                {"CacheCurrentSize", "Size"},            {"CacheAssociativity", "Associativity"},
                                {"CacheECCType", "Error Correction"},    {"CacheCurrentSRAMType", "SRAM Type"},
                                {"CacheAccessTimeNS", "Access Time (ns)"}};
const Column kMemoryColumns[] = {{"MemoryDeviceLocation", "Location"}, {"MemoryBankLocation", "Bank"},
                                 {"MemorySize", "Size"},               {"MemoryType", "Type"},
                                 {"MemoryFormFactor", "Form Factor"},  {"MemorySpeedMHz", "Speed"},
                                 {"MemoryTotalWidth", "Width"},        {"Manufacturer", "Manufacturer"},
                                 {"MemoryPartNumber", "Part Number"},  {"SerialNumber", "Serial Number"}};
const Column kSlotColumns[] = {{"SlotName", "Designation"}, {"SlotType", "Type"}, {"SlotBusWidth", "Data Bus Width"},
                               {"SlotLength", "Length"},    {"SlotID", "ID"}};
const Column kConnectorColumns[] = {{"PortInternalName", "Internal Name"}, {"PortInternalConnector", "Internal Connector"},
                                    {"PortExternalName", "External Name"}, {"PortExternalConnector", "External Connector"},
                                    {"PortType", "Port Type"}};
const Column kDeviceColumns[] = {{"DeviceDescription", "Description"}, {"TypeAndStatus", "Type"}};
const Column kJumperColumns[] = {{"JumperOrSwitchList", "Jumper or Switch"}};

QTableWidget* makeTable(const QString& name, QWidget* parent)
{
    auto* table = new QTableWidget(parent);
    table->setObjectName(name);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setAlternatingRowColors(true);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

QTableWidgetItem* item(const QString& text)
{
    auto* cell = new QTableWidgetItem(text);
    cell->setToolTip(text);
    return cell;
}

template <std::size_t N>
void fillRows(QTableWidget* table, const QList<QVariantMap>& records, const Column (&columns)[N])
{
    table->clear();
    table->setColumnCount(int(N));
    QStringList titles;
    for (const Column& column : columns)
        titles.append(localized(column.title));
    table->setHorizontalHeaderLabels(titles);
    table->setRowCount(int(records.size()));
    for (int row = 0; row < records.size(); ++row)
        for (int c = 0; c < int(N); ++c)
            table->setItem(row, c, item(SMBIOSSheetController::displayTextForValue(records[row].value(QLatin1String(columns[c].key)))));
    table->resizeColumnsToContents();
}

// The single records, one section each: a bold title row, then the fields the record holds.
void fillSections(QTableWidget* table, const QList<std::pair<QString, const std::optional<QVariantMap>*>>& sections,
                  const QList<std::pair<const Column*, std::size_t>>& fields)
{
    table->clear();
    table->setColumnCount(2);
    table->setHorizontalHeaderLabels({localized("Field"), localized("Value")});
    table->setRowCount(0);
    for (qsizetype s = 0; s < sections.size(); ++s) {
        const auto& record = *sections[s].second;
        if (!record)
            continue;
        const int titleRow = table->rowCount();
        table->insertRow(titleRow);
        auto* title = item(sections[s].first);
        QFont bold = title->font();
        bold.setBold(true);
        title->setFont(bold);
        table->setItem(titleRow, 0, title);
        table->setSpan(titleRow, 0, 1, 2);
        const auto [columns, count] = fields[s];
        for (std::size_t f = 0; f < count; ++f) {
            const QString key = QLatin1String(columns[f].key);
            if (!record->contains(key))
                continue;
            const int row = table->rowCount();
            table->insertRow(row);
            table->setItem(row, 0, item(localized(columns[f].title)));
            table->setItem(row, 1, item(SMBIOSSheetController::displayTextForValue(record->value(key))));
        }
    }
    table->resizeColumnToContents(0);
}

// Room for each column's whole contents: the table asks for as much width as its columns take, as far as
// the screen has room; where it has not, the last column keeps its own width and the table scrolls to it.
void fitColumns(QTableWidget* table, int room)
{
    QHeaderView* header = table->horizontalHeader();
    header->setStretchLastSection(false);
    table->resizeColumnsToContents();
    int total = 2 * table->frameWidth() + table->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, table);
    for (int c = 0; c < table->columnCount(); ++c)
        total += table->columnWidth(c);
    header->setStretchLastSection(total <= room);
    table->setMinimumWidth(std::min(total, room));
}

enum Tab { System, Processors, Caches, Memory, Slots, Connectors, Devices, Jumpers, TabCount };

} // namespace

SMBIOSSheetController::SMBIOSSheetController(const QString& windowNibName)
    : windowNibName_(windowNibName)
{
}

SMBIOSSheetController::~SMBIOSSheetController() = default;

QDialog* SMBIOSSheetController::window()
{
    if (window_)
        return window_.get();
    window_ = std::make_unique<QDialog>();
    window_->setObjectName(windowNibName_);
    window_->setWindowTitle(localized("SMBIOS Information"));
    window_->resize(760, 460);
    window_->setMinimumSize(560, 320);
    auto* layout = new QVBoxLayout(window_.get());
    noTableMessage_ = new QLabel(localized("No SMBIOS table: the computer provides none, or it could not be read."),
                                 window_.get());
    noTableMessage_->setObjectName(QStringLiteral("noTableMessage"));
    noTableMessage_->setAlignment(Qt::AlignCenter);
    noTableMessage_->setWordWrap(true);
    layout->addWidget(noTableMessage_, 1);
    auto* tabs = new QTabWidget(window_.get());
    groupTabs_ = tabs;
    tabs->setObjectName(QStringLiteral("groupTabs"));
    const std::pair<const char*, const char*> pages[TabCount] = {
        {"systemTable", "System"},         {"processorsTable", "Processors"}, {"cachesTable", "Caches"},
        {"memoryDevicesTable", "Memory"},  {"slotsTable", "Slots"},           {"connectorsTable", "Ports"},
        {"devicesTable", "Devices"},       {"jumpersTable", "Jumpers"}};
    for (const auto& [name, title] : pages) {
        QTableWidget* table = makeTable(QLatin1String(name), tabs);
        tabs->addTab(table, localized(title));
        tables_.append(table);
    }
    layout->addWidget(tabs);
    auto* buttons = new QDialogButtonBox(window_.get());
    QPushButton* closeButton = buttons->addButton(localized("Close"), QDialogButtonBox::AcceptRole);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->setDefault(true);
    QObject::connect(closeButton, &QPushButton::clicked, window_.get(), [this, closeButton] { close(closeButton); });
    // Esc ends the sheet through the delegate as the button does.
    QObject::connect(window_.get(), &QDialog::rejected, window_.get(), [this] { close(window_.get()); });
    layout->addWidget(buttons);
    reloadTables();
    return window_.get();
}

void SMBIOSSheetController::reloadTables()
{
    if (!window_)
        return;
    const bool none = !managementRecords_ || managementRecords_->isEmpty();
    noTableMessage_->setVisible(none);
    groupTabs_->setVisible(!none);
    fillSections(tables_[System],
                 {{localized("Firmware"), &firmwareDescription_},
                  {localized("Computer"), &computerDescription_},
                  {localized("Main Board"), &mainboardDescription_},
                  {localized("Enclosure"), &enclosureDescription_}},
                 {{kFirmwareFields, std::size(kFirmwareFields)},
                  {kComputerFields, std::size(kComputerFields)},
                  {kBoardFields, std::size(kBoardFields)},
                  {kEnclosureFields, std::size(kEnclosureFields)}});
    fillRows(tables_[Processors], processors_, kProcessorColumns);
    fillRows(tables_[Caches], cacheUnits_, kCacheColumns);
    fillRows(tables_[Memory], memoryDevices_, kMemoryColumns);
    fillRows(tables_[Slots], slots_, kSlotColumns);
    fillRows(tables_[Connectors], connectors_, kConnectorColumns);
    fillRows(tables_[Devices], devices_, kDeviceColumns);
    fillRows(tables_[Jumpers], jumpers_, kJumperColumns);
    const QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
    // Less what the sheet draws around its tables.
    const int room = (screen ? screen->availableGeometry().width() : 1024) - 48;
    for (QTableWidget* table : std::as_const(tables_))
        fitColumns(table, room);
    if (processorSelection_ >= 0)
        tables_[Processors]->selectRow(processorSelection_);
    if (cacheSelection_ >= 0)
        tables_[Caches]->selectRow(cacheSelection_);
}
