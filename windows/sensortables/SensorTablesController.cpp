#include "windows/sensortables/SensorTablesController.h"

#include "app/model/ApplicationWindows.h"
#include "app/model/HistoryWindowPreferences.h"
#include "app/model/MachinePreferences.h"
#include "app/model/TEVGauge.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/Scheduler.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/Values.h"
#include "windows/sensortables/GaugeOutlineModel.h"
#include "windows/sensortables/HistoryWindowListModel.h"
#include "windows/sensortables/SensorDrawerPanel.h"
#include "windows/sensortables/SensorTableModel.h"
#include "windows/sensortables/SensorTablesHost.h"
#include "windows/sensortables/SensorTablesText.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QLocale>
#include <QMimeData>
#include <QPushButton>
#include <QSet>
#include <QTreeView>

#include <algorithm>

using sensortables::fill;
using sensortables::localized;

namespace {

const char* const kTableOutlets[] = {"sensorSourceTable", "alertSensorTable",   "dockSensorTable",   "screenWindowSensorTable",
                                     "historySensorTable", "menuBarSensorTable", "speechSensorTable", "windowSensorTable"};
const char* const kNavigateOutlets[] = {nullptr,
                                        "alertNavigateButtons",
                                        "dockNavigateButtons",
                                        "screenWindowNavigateButtons",
                                        "historyNavigateButtons",
                                        "menuBarNavigateButtons",
                                        "speechNavigateButtons",
                                        "windowNavigateButtons"};

qint64 tagOf(const QObject* button, qint64 fallback)
{
    const QVariant tag = button->property("tag");
    return tag.isValid() ? tag.toLongLong() : fallback;
}

// The matrix's buttons with their tags: the "tag" property, else the position.
QList<std::pair<QAbstractButton*, qint64>> taggedButtons(QObject* matrix)
{
    QList<std::pair<QAbstractButton*, qint64>> buttons;
    if (!matrix)
        return buttons;
    auto* group = qobject_cast<QButtonGroup*>(matrix);
    const auto found = group ? group->buttons() : matrix->findChildren<QAbstractButton*>();
    for (qsizetype i = 0; i < found.size(); ++i)
        buttons.append({found[i], tagOf(found[i], i)});
    return buttons;
}

void enableCellWithTag(QObject* matrix, qint64 tag, bool enabled)
{
    for (const auto& [button, buttonTag] : taggedButtons(matrix))
        if (buttonTag == tag)
            button->setEnabled(enabled);
}

// The view of that name below `root`: the control itself when it is of the class, else a new one in its
// place (the placeholder goes).
template <typename View>
View* adoptView(QWidget* root, const QString& name)
{
    QWidget* placeholder = root ? root->findChild<QWidget*>(name) : nullptr;
    if (!placeholder)
        return nullptr;
    if (auto* view = qobject_cast<View*>(placeholder))
        return view;
    QWidget* parent = placeholder->parentWidget();
    auto* view = new View(parent);
    view->setObjectName(name);
    view->setSizePolicy(placeholder->sizePolicy());
    view->setMinimumSize(placeholder->minimumSize());
    view->setEnabled(placeholder->isEnabled());
    QLayout* layout = parent ? parent->layout() : nullptr;
    if (QLayoutItem* replaced = layout ? layout->replaceWidget(placeholder, view) : nullptr)
        delete replaced;
    else
        view->setGeometry(placeholder->geometry());
    view->setVisible(!placeholder->isHidden());
    delete placeholder;
    return view;
}

} // namespace

QString SensorTablesController::tableOutletName(Table table)
{
    return QLatin1String(kTableOutlets[table]);
}

QString SensorTablesController::navigateButtonsOutletName(Table table)
{
    return kNavigateOutlets[table] ? QString(QLatin1String(kNavigateOutlets[table])) : QString();
}

SensorTablesController::SensorTablesController(SensorTablesHost& host, QObject* parent)
    : QObject(parent)
    , host_(host)
    , historyWindowModel_(std::make_unique<HistoryWindowListModel>(host))
    , outlineModel_(std::make_unique<GaugeOutlineModel>(host))
{
    for (int i = 0; i < kNumberOfSensorTables; ++i) {
        const auto table = Table(i);
        models_[i] = std::make_shared<SensorTableModel>(host_, [this, table] { return sensorNameListForTable(table); });
    }
    historyWindowModel_->setRenameHandler([this](int) {
        QPointer<SensorTablesController> self(this);
        platform::Scheduler::shared()->afterSeconds(kRenameRefreshDelay, [self] {
            if (self)
                self->selectHistoryWindowEntry();
        });
    });
}

SensorTablesController::~SensorTablesController()
{
    // The views may outlive this controller; they must not keep reading its models.
    for (const auto& table : tables_)
        if (table)
            table->setModel(nullptr);
    if (historyWindowTable_)
        historyWindowTable_->setModel(nullptr);
    if (sensorOutlineView_)
        sensorOutlineView_->setModel(nullptr);
}

QWidget* SensorTablesController::outlet(const QString& name) const
{
    if (!preferenceWindow_)
        return nullptr;
    if (QWidget* control = preferenceWindow_->findChild<QWidget*>(name))
        return control;
    return drawer_ ? drawer_->findChild<QWidget*>(name) : nullptr;
}

QObject* SensorTablesController::navigateMatrix(const QString& name) const
{
    if (!preferenceWindow_ || name.isEmpty())
        return nullptr;
    if (QWidget* container = preferenceWindow_->findChild<QWidget*>(name))
        return container;
    return preferenceWindow_->findChild<QButtonGroup*>(name);
}

// --- Installation ------------------------------------------------------------------------------------------

void SensorTablesController::installInPreferenceWindow(QWidget* preferenceWindow)
{
    if (preferenceWindow_ || !preferenceWindow)
        return;
    preferenceWindow_ = preferenceWindow;
    drawer_ = new SensorDrawerPanel(preferenceWindow->window());
    installSensorTable(SourceTable, drawer_->sensorSourceTable());
    for (int i = AlertTable; i < kNumberOfSensorTables; ++i) {
        const auto table = Table(i);
        installSensorTable(table, adoptView<TEVDragTableView>(preferenceWindow, tableOutletName(table)));
        navigateButtons_[i] = navigateMatrix(navigateButtonsOutletName(table));
        installNavigateButtons(navigateButtons_[i], [this, table](qint64 tag) { editSensorTable(table, tag); });
    }
    for (const Table table : {SourceTable, HistoryTable})
        if (tables_[table])
            tables_[table]->viewport()->installEventFilter(this);

    historyWindowTable_ = adoptView<QTableView>(preferenceWindow, QStringLiteral("historyWindowTable"));
    if (historyWindowTable_) {
        historyWindowTable_->setModel(historyWindowModel_.get());
        historyWindowTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
        historyWindowTable_->setSelectionMode(QAbstractItemView::ExtendedSelection);
        historyWindowTable_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
        historyWindowTable_->horizontalHeader()->setStretchLastSection(true);
        historyWindowTable_->verticalHeader()->hide();
        historyWindowTable_->verticalHeader()->setDefaultSectionSize(historyWindowTable_->fontMetrics().height() + 6);
        connect(historyWindowTable_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                [this] { selectHistoryWindowEntry(); });
    }
    historyWindowNavigateButtons_ = navigateMatrix(QStringLiteral("historyWindowNavigateButtons"));
    installNavigateButtons(historyWindowNavigateButtons_, [this](qint64 tag) { editHistoryWindow(tag); });

    sensorOutlineView_ = adoptView<QTreeView>(preferenceWindow, QStringLiteral("sensorOutlineView"));
    if (sensorOutlineView_) {
        sensorOutlineView_->setModel(outlineModel_.get());
        sensorOutlineView_->setHeaderHidden(true);
        sensorOutlineView_->setSelectionMode(QAbstractItemView::SingleSelection);
        sensorOutlineView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
        connect(sensorOutlineView_->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { host_.selectGauge(); });
        // By name: a reload moves computers to other rows.
        connect(sensorOutlineView_, &QTreeView::expanded, this,
                [this](const QModelIndex& index) { expandedComputers_.insert(outlineModel_->computerAt(index)); });
        connect(sensorOutlineView_, &QTreeView::collapsed, this,
                [this](const QModelIndex& index) { expandedComputers_.remove(outlineModel_->computerAt(index)); });
    }
    if (auto* button = qobject_cast<QAbstractButton*>(outlet(QStringLiteral("sensorDeleteButton"))))
        connect(button, &QAbstractButton::clicked, this, [this] { deleteSensor(); });
    reloadData();
}

void SensorTablesController::installSensorTable(Table table, TEVDragTableView* view)
{
    tables_[table] = view;
    if (!view)
        return;
    SensorTableModel* model = models_[table].get();
    view->setModel(model);
    view->setDragDataSource(models_[table]);
    view->enableDraggingForArrayElementClass(QStringLiteral("NSString"), table == SourceTable, false);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->verticalHeader()->hide();
    view->setWordWrap(false);
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 6);
    // The sensor's name takes the room the icon, its type and its computer leave.
    QHeaderView* header = view->horizontalHeader();
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(24);
    for (int column = 0; column < model->columnIdentifiers().size(); ++column) {
        const QString& identifier = model->columnIdentifiers()[column];
        if (identifier == SensorTableModel::kTypeIconColumn) {
            header->setSectionResizeMode(column, QHeaderView::Fixed);
            view->setColumnWidth(column, 24);
        } else if (identifier == SensorTableModel::kSensorColumn) {
            header->setSectionResizeMode(column, QHeaderView::Stretch);
        } else if (table == SourceTable) {
            // The narrow drawer leaves the sensor's name most of its width; the user may widen the rest.
            header->setSectionResizeMode(column, QHeaderView::Interactive);
            view->setColumnWidth(column, 72);
        } else {
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        }
    }
    connect(view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this, table] {
        updateNavigationButtons(table);
        if (table == AlertTable)
            host_.selectSensorTableEntry();
    });
    connect(model, &SensorTableModel::listChangedByDrop, this, [this, table] {
        updateNavigationButtons(table);
        emit sensorListChanged(table);
    });
}

void SensorTablesController::installNavigateButtons(QObject* matrix, const std::function<void(qint64)>& action)
{
    if (!matrix)
        return;
    if (auto* container = qobject_cast<QWidget*>(matrix); container && taggedButtons(container).isEmpty()) {
        // An empty placeholder gets the usual pair: add, remove.
        auto* layout = container->layout() ? container->layout() : new QHBoxLayout(container);
        layout->setContentsMargins(0, 0, 0, 0);
        for (const auto& [text, tag] : {std::pair{QStringLiteral("+"), 0}, std::pair{QStringLiteral("\u2212"), 1}}) {
            auto* button = new QPushButton(text, container);
            button->setProperty("tag", tag);
            button->setFixedWidth(32);
            layout->addWidget(button);
        }
        if (auto* box = qobject_cast<QBoxLayout*>(layout))
            box->addStretch();
    }
    for (const auto& [button, tag] : taggedButtons(matrix))
        connect(button, &QAbstractButton::clicked, this, [action, tag = tag] { action(tag); });
}

TEVDragTableView* SensorTablesController::sensorTable(Table table) const { return tables_[table]; }
SensorTableModel* SensorTablesController::sensorTableModel(Table table) const { return models_[table].get(); }
QTableView* SensorTablesController::historyWindowTable() const { return historyWindowTable_; }
QTreeView* SensorTablesController::sensorOutlineView() const { return sensorOutlineView_; }
SensorDrawerPanel* SensorTablesController::sensorDrawerPanel() const { return drawer_; }

// --- Data source -------------------------------------------------------------------------------------------

QStringList* SensorTablesController::sensorNameListForTable(Table table) const
{
    if (table == SourceTable)
        return const_cast<QStringList*>(&host_.connectedSensorNames()); // a drag source only: never written
    MachinePreferences* preferences = host_.localMachinePreferences();
    if (!preferences)
        return nullptr;
    switch (table) {
    case AlertTable: return &preferences->alertTriggerSensorNames();
    case DockTable: return &preferences->dockSensorNames();
    case ScreenWindowTable: return &preferences->screenDisplaySensorNames();
    case MenuBarTable: return &preferences->menuBarSensorNames();
    case SpeechTable: return &preferences->talkingSensorNames();
    case WindowTable: return &preferences->standardWindowSensorNames();
    case HistoryTable: {
        const auto history = selectedHistoryWindowPreferences();
        return history ? &history->sensorIdentifierList() : nullptr;
    }
    case SourceTable: break;
    }
    return nullptr;
}

bool SensorTablesController::acceptDrop(Table table, const TEVDragTableView::DraggingInfo& info, int row)
{
    TEVDragTableView* view = tables_[table];
    // The drawer lists the connected sensors in the controller's order; nothing is dropped there.
    if (!view || table == SourceTable)
        return false;
    if (table == HistoryTable && info.source != view && !historySensorTableAcceptsDataFromPasteboard(info.data))
        return false;
    return view->acceptDrop(info, models_[table]->arrayForDragTable(*view), row, TEVDragTableView::DropPosition::Above);
}

bool SensorTablesController::historySensorTableAcceptsDataFromPasteboard(const QMimeData* pasteboard) const
{
    const TEVDragTableView* view = tables_[HistoryTable];
    MachinePreferences* preferences = host_.localMachinePreferences();
    if (!pasteboard || !view || !preferences)
        return false;
    const QString type = view->nativeDragPasteboardType();
    if (type.isEmpty() || !pasteboard->hasFormat(type))
        return false;
    const auto dragged = platform::values::toArray(platform::SequentialUnarchiver::unarchiveObjectWithData(pasteboard->data(type)));
    if (!dragged || dragged->isEmpty())
        return false;
    const auto gaugeFor = [preferences](const QVariant& identifier) {
        const auto text = platform::values::toString(identifier);
        return text ? preferences->gaugeDictionary().value(*text) : nullptr;
    };
    const auto reference = gaugeFor(dragged->first());
    if (!reference)
        return false;
    const qint64 quantity = reference->sensorQuantityType();
    const auto sameQuantity = [&](const QVariant& identifier) {
        const auto gauge = gaugeFor(identifier);
        return gauge && gauge->sensorQuantityType() == quantity;
    };
    if (!std::all_of(dragged->cbegin() + 1, dragged->cend(), sameQuantity)) {
        platform::AlertPresenter::shared()->beep();
        return false;
    }
    const auto history = selectedHistoryWindowPreferences();
    if (!history)
        return false;
    const QStringList& held = history->sensorIdentifierList();
    if (!std::all_of(held.cbegin(), held.cend(), [&](const QString& identifier) { return sameQuantity(identifier); })) {
        platform::AlertPresenter::shared()->beep();
        return false;
    }
    return true;
}

bool SensorTablesController::eventFilter(QObject* watched, QEvent* event)
{
    const bool dragEvent = event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove || event->type() == QEvent::Drop;
    if (dragEvent && tables_[SourceTable] && watched == tables_[SourceTable]->viewport()) {
        event->ignore();
        return true;
    }
    // The drag table carries out drops itself; a history window refuses sensors of another kind first.
    if (event->type() == QEvent::Drop && tables_[HistoryTable] && watched == tables_[HistoryTable]->viewport()) {
        auto* drop = static_cast<QDropEvent*>(event);
        if (drop->source() != tables_[HistoryTable] && !historySensorTableAcceptsDataFromPasteboard(drop->mimeData())) {
            drop->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void SensorTablesController::reloadData()
{
    for (const auto& model : models_)
        model->reloadData();
    fitSourceTableColumns();
    historyWindowModel_->reloadData();
    reloadGaugeOutline();
    updateNavigationButtons();
}

// The drawer is narrow: its names get the room. The type shows as the row's icon, and the computer only
// matters when there are several; the name's tooltip tells both.
void SensorTablesController::fitSourceTableColumns()
{
    TEVDragTableView* view = tables_[SourceTable];
    SensorTableModel* model = models_[SourceTable].get();
    if (!view || !model)
        return;
    QSet<QString> computers;
    for (int row = 0; row < model->rowCount(); ++row)
        computers.insert(model->objectValueForTableColumn(SensorTableModel::kComputerColumn, row).toString());
    const QStringList& columns = model->columnIdentifiers();
    for (int column = 0; column < columns.size(); ++column) {
        if (columns[column] == SensorTableModel::kTypeColumn)
            view->setColumnHidden(column, true);
        else if (columns[column] == SensorTableModel::kComputerColumn)
            view->setColumnHidden(column, computers.size() <= 1);
    }
}

void SensorTablesController::reloadGaugeOutline()
{
    // The first time there are computers every one opens (the window may be built before any exists);
    // later each keeps the state the user gave it.
    const bool first = !outlineShown_;
    const QSet<QString> expanded = expandedComputers_;
    outlineModel_->reloadData();
    if (!sensorOutlineView_)
        return;
    outlineShown_ = outlineShown_ || outlineModel_->rowCount() > 0;
    for (int row = 0; row < outlineModel_->rowCount(); ++row) {
        const QModelIndex index = outlineModel_->index(row, 0);
        if (first || expanded.contains(outlineModel_->computerAt(index)))
            sensorOutlineView_->expand(index);
    }
}

void SensorTablesController::gaugeNamesDidChange(const std::shared_ptr<TEVGauge>& gauge)
{
    outlineModel_->gaugeDidChange(gauge);
}

// --- Sensor tables -----------------------------------------------------------------------------------------

void SensorTablesController::updateNavigationButtons(Table table)
{
    const TEVDragTableView* view = tables_[table];
    QObject* matrix = navigateButtons_[table];
    if (!view || !matrix || !view->selectionModel())
        return;
    // A disabled table (the history table without one selected window) takes no edits.
    const qsizetype selected = view->selectionModel()->selectedRows().size();
    enableCellWithTag(matrix, 0, view->isEnabled() && selected <= host_.connectedSensorNames().size());
    enableCellWithTag(matrix, 1, view->isEnabled() && selected > 0);
}

void SensorTablesController::updateNavigationButtons()
{
    for (int i = AlertTable; i < kNumberOfSensorTables; ++i)
        updateNavigationButtons(Table(i));
    enableCellWithTag(historyWindowNavigateButtons_, 1, !selectedHistoryWindowRows().isEmpty());
}

void SensorTablesController::editSensorTable(Table table, qint64 tag)
{
    if (tag == 0) {
        openSensorDrawerPanel();
        return;
    }
    TEVDragTableView* view = tables_[table];
    QStringList* list = sensorNameListForTable(table);
    if (table == SourceTable || !view || !list || !view->selectionModel())
        return;
    QList<int> rows;
    for (const QModelIndex& index : view->selectionModel()->selectedRows())
        rows.append(index.row());
    if (rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end(), std::greater<>());
    for (const int row : rows)
        if (row < list->size())
            list->removeAt(row);
    view->clearSelection();
    models_[table]->reloadData();
    emit sensorListChanged(table);
    host_.updatePreferenceWindow();
}

void SensorTablesController::openSensorDrawerPanel()
{
    if (drawer_)
        drawer_->openBesidePreferenceWindow();
}

// --- History windows ---------------------------------------------------------------------------------------

QList<int> SensorTablesController::selectedHistoryWindowRows() const
{
    QList<int> rows;
    if (!historyWindowTable_ || !historyWindowTable_->selectionModel())
        return rows;
    for (const QModelIndex& index : historyWindowTable_->selectionModel()->selectedRows())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void SensorTablesController::deselectHistoryWindowTable()
{
    if (historyWindowTable_)
        historyWindowTable_->clearSelection();
}

std::shared_ptr<HistoryWindowPreferences> SensorTablesController::selectedHistoryWindowPreferences() const
{
    MachinePreferences* preferences = host_.localMachinePreferences();
    const QList<int> rows = selectedHistoryWindowRows();
    if (!preferences || rows.size() != 1 || rows.first() >= preferences->historyWindowPreferences().size())
        return nullptr;
    return preferences->historyWindowPreferences().at(rows.first());
}

bool SensorTablesController::hasHistoryWindowOpen() const
{
    const auto& controllers = host_.historyWindowControllers();
    return std::any_of(controllers.cbegin(), controllers.cend(),
                       [](const auto& controller) { return controller && controller->isWindowVisible(); });
}

void SensorTablesController::editHistoryWindow(qint64 tag)
{
    MachinePreferences* preferences = host_.localMachinePreferences();
    if (!preferences)
        return;
    auto& entries = preferences->historyWindowPreferences();
    auto& controllers = host_.historyWindowControllers();
    auto& center = platform::NotificationCenter::defaultCenter();
    if (tag == 0) {
        const bool openAtOnce = hasHistoryWindowOpen();
        auto entry = std::make_shared<HistoryWindowPreferences>();
        entry->setWindowName(localized(QStringLiteral("Untitled History Window")));
        entries.append(entry);
        const auto controller = host_.makeHistoryWindowController(entry);
        controllers.append(controller);
        center.post(historyWindowControllerWasAddedNotification, controller.get());
        if (QWidget* window = openAtOnce && controller ? controller->window() : nullptr)
            window->show();
    } else {
        QList<int> rows = selectedHistoryWindowRows();
        rows.erase(std::remove_if(rows.begin(), rows.end(), [&](int row) { return row >= entries.size(); }), rows.end());
        if (rows.isEmpty())
            return;
        for (const int row : rows) {
            const auto controller = row < controllers.size() ? controllers[row] : nullptr;
            if (!controller)
                continue;
            if (QWidget* window = controller->window())
                window->close();
            center.post(historyWindowControllerWillBeRemovedNotification, controller.get());
        }
        // By position, from the back: removing one by one from the front would shift the rest onto neighbours.
        for (auto row = rows.crbegin(); row != rows.crend(); ++row) {
            entries.removeAt(*row);
            if (*row < controllers.size())
                controllers.removeAt(*row);
        }
    }
    historyWindowModel_->reloadData();
    if (historyWindowTable_ && !entries.isEmpty()) {
        historyWindowTable_->selectRow(int(entries.size() - 1));
        historyWindowTable_->scrollTo(historyWindowModel_->index(int(entries.size() - 1), 0));
    }
    selectHistoryWindowEntry();
}

bool SensorTablesController::renameHistoryWindow(int row, const QString& name)
{
    return historyWindowModel_->setData(historyWindowModel_->index(row, 0), name, Qt::EditRole);
}

void SensorTablesController::selectHistoryWindowEntry()
{
    models_[HistoryTable]->reloadData();
    host_.selectHistoryWindowEntry();
    updateNavigationButtons();
}

// --- Gauge outline -----------------------------------------------------------------------------------------

QModelIndex SensorTablesController::outlineIndexForRow(int row) const
{
    if (!sensorOutlineView_ || row < 0)
        return {};
    QModelIndex index = outlineModel_->index(0, 0);
    for (int i = 0; index.isValid() && i < row; ++i)
        index = sensorOutlineView_->indexBelow(index);
    return index;
}

int SensorTablesController::selectedOutlineRow() const
{
    if (!sensorOutlineView_ || !sensorOutlineView_->selectionModel())
        return -1;
    const QModelIndexList selected = sensorOutlineView_->selectionModel()->selectedRows();
    if (selected.isEmpty())
        return -1;
    int row = 0;
    for (QModelIndex index = sensorOutlineView_->indexAbove(selected.first()); index.isValid();
         index = sensorOutlineView_->indexAbove(index))
        ++row;
    return row;
}

void SensorTablesController::selectOutlineRow(int row)
{
    if (!sensorOutlineView_)
        return;
    const QModelIndex index = outlineIndexForRow(row);
    if (!index.isValid()) {
        sensorOutlineView_->clearSelection();
        return;
    }
    sensorOutlineView_->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    sensorOutlineView_->setCurrentIndex(index);
    sensorOutlineView_->scrollTo(index);
}

std::shared_ptr<TEVGauge> SensorTablesController::selectedGauge() const
{
    if (!sensorOutlineView_ || !sensorOutlineView_->selectionModel())
        return nullptr;
    const QModelIndexList selected = sensorOutlineView_->selectionModel()->selectedRows();
    return selected.size() == 1 ? outlineModel_->gaugeAt(selected.first()) : nullptr;
}

QString SensorTablesController::selectedComputer() const
{
    if (!sensorOutlineView_ || !sensorOutlineView_->selectionModel())
        return {};
    const QModelIndexList selected = sensorOutlineView_->selectionModel()->selectedRows();
    return selected.size() == 1 ? outlineModel_->computerAt(selected.first()) : QString();
}

bool SensorTablesController::isComputerCompletelyDisconnected(const QString& computer) const
{
    const auto& byComputer = host_.gaugesByComputer();
    const auto found = byComputer.constFind(computer);
    return !computer.isNull() && found != byComputer.constEnd()
           && std::none_of(found->cbegin(), found->cend(),
                           [](const auto& gauge) { return gauge && gauge->connectedMonitoringClient(); });
}

void SensorTablesController::removeGauges(const QList<std::shared_ptr<TEVGauge>>& gauges, int selectedRow)
{
    if (MachinePreferences* preferences = host_.localMachinePreferences())
        for (const auto& gauge : gauges)
            preferences->removeAllReferencesToGauge(gauge);
    host_.handleConfigurationChange();
    reloadGaugeOutline();
    selectOutlineRow(std::max(selectedRow - 1, 0));
    host_.selectGauge();
}

void SensorTablesController::deleteSensor()
{
    const int row = selectedOutlineRow();
    if (const auto gauge = selectedGauge()) {
        if (!gauge->connectedMonitoringClient())
            removeGauges({gauge}, row);
        return;
    }
    const QString computer = selectedComputer();
    if (!isComputerCompletelyDisconnected(computer))
        return;
    platform::Alert alert;
    alert.messageText = fill(localized(QStringLiteral("Do you really want to delete all sensor entries for the computer '%@'?")), {}, {computer});
    alert.informativeText = fill(localized(QStringLiteral("You are about to remove all preference settings for remotely monitoring "
                                                          "the computer '%@' from this computer. This step cannot be undone.")),
                                 {}, {computer});
    alert.buttons = {localized(QStringLiteral("No")), localized(QStringLiteral("Yes"))};
    if (platform::AlertPresenter::shared()->runModal(alert) != 1)
        return;
    // The computer may have come back while the question was open.
    if (!isComputerCompletelyDisconnected(computer)) {
        platform::AlertPresenter::shared()->beep();
        return;
    }
    removeGauges(host_.gaugesByComputer().value(computer), row);
}
