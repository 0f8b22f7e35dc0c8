#include "windows/remote/RemoteConnectPanel.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "framework/TEVStringFormat.h"
#include "platform/desktop/AlertPresenter.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/Log.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "windows/remote/ComputerListModel.h"
#include "windows/remote/RemoteServiceBrowser.h"

#include "ui_ComputerListSheet.h"
#include "ui_RemoteConnectPanel.h"

#include <QAbstractButton>
#include <QAbstractTableModel>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace values = platform::values;

namespace {

const char kClassName[] = "RemoteConnectPanel";

QString localized(const QString& key)
{
    const auto bundle = platform::Bundle::main();
    return bundle ? bundle->localizedString(key) : key;
}

// The texts of the window descriptions are English keys of the default table.
void localizeTexts(QWidget* root)
{
    root->setWindowTitle(localized(root->windowTitle()));
    for (QLabel* label : root->findChildren<QLabel*>())
        if (!label->text().isEmpty())
            label->setText(localized(label->text()));
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>())
        if (!button->text().isEmpty())
            button->setText(localized(button->text()));
}

// "%llu" of a localized format filled with `number`.
QString withNumber(const QString& format, quint64 number)
{
    QString text = format;
    const qsizetype at = text.indexOf(QLatin1String("%llu"));
    if (at >= 0)
        text.replace(at, 4, QString::number(number));
    return text;
}

// The first of `base`, then `numbered` with 2, 3, … that `taken` does not hold.
QString firstFreeName(const QString& base, const QString& numbered, const QSet<QString>& taken)
{
    if (!taken.contains(base))
        return base;
    for (quint64 n = 2;; ++n)
        if (const QString name = withNumber(numbered, n); !taken.contains(name))
            return name;
}

void beep()
{
    platform::AlertPresenter::shared()->beep();
}

} // namespace

// The found services as the table shows them: sorted by name, then domain, so the rows stay put while the
// set changes; rows come and go one by one, so the selection of the others is kept.
class RemoteConnectPanel::ServiceModel final : public QAbstractTableModel {
public:
    void setServices(const RemoteServiceBrowser::ServiceSet& services)
    {
        QList<platform::NetService> next(services.cbegin(), services.cend());
        std::sort(next.begin(), next.end(), [](const platform::NetService& a, const platform::NetService& b) {
            if (const int order = QString::localeAwareCompare(a.name(), b.name()); order != 0)
                return order < 0;
            return a.domain() < b.domain();
        });
        for (int i = int(rows_.size()) - 1; i >= 0; --i) {
            if (services.contains(rows_.at(i)))
                continue;
            beginRemoveRows({}, i, i);
            rows_.removeAt(i);
            endRemoveRows();
        }
        // What is left is in the order of `next`.
        for (int i = 0; i < next.size(); ++i) {
            if (i < rows_.size() && rows_.at(i) == next.at(i))
                continue;
            beginInsertRows({}, i, i);
            rows_.insert(i, next.at(i));
            endInsertRows();
        }
    }
    const QList<platform::NetService>& rows() const { return rows_; }

    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(rows_.size()); }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows_.size())
            return {};
        const platform::NetService& service = rows_.at(index.row());
        return index.column() == 0 ? service.name() : platform::NetService::relativeName(service.domain());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return {};
        return section == 0 ? localized(QStringLiteral("Computer")) : localized(QStringLiteral("Domain"));
    }

private:
    QList<platform::NetService> rows_;
};

struct RemoteConnectPanel::Ui {
    ::Ui::RemoteConnectPanel panel;
    ::Ui::ComputerListSheet sheet;
    QDialog* sheetWindow = nullptr;
    QMenu* pullDownMenu = nullptr;
};

RemoteConnectPanel::RemoteConnectPanel(std::unique_ptr<RemoteServiceBrowser> browser, std::shared_ptr<platform::UserDefaults> defaults)
    : browser_(browser ? std::move(browser) : RemoteServiceBrowser::createBonjourBrowser())
    , defaults_(std::move(defaults))
    , listModel_(std::make_unique<ComputerListModel>(std::make_shared<ComputerListRoot>()))
    , serviceModel_(std::make_unique<ServiceModel>())
{
    if (!defaults_ && platform::Bundle::main())
        defaults_ = platform::UserDefaults::standard();
    listModel_->root()->nodes.reserve(10);
    if (browser_) {
        QObject::connect(browser_.get(), &RemoteServiceBrowser::servicesDidChange, serviceModel_.get(),
                         [this] {
                             serviceModel_->setServices(browser_->services());
                             // A selected service may have gone.
                             if (ui_)
                                 updateStatus();
                         });
        QObject::connect(browser_.get(), &RemoteServiceBrowser::didStopWithError, serviceModel_.get(),
                         [this](const platform::Error& error) { browserDidStopWithError(error); });
        browser_->start();
        serviceModel_->setServices(browser_->services());
    }
}

RemoteConnectPanel::~RemoteConnectPanel()
{
    // The views go before the models they show.
    window_.reset();
}

const std::shared_ptr<ComputerListRoot>& RemoteConnectPanel::computerListNodes() const
{
    return listModel_->root();
}

QDialog* RemoteConnectPanel::window()
{
    if (!window_)
        windowDidLoad();
    return window_.get();
}

QLabel* RemoteConnectPanel::bonjourProblemMessage()
{
    window();
    return ui_->panel.bonjourProblemMessage;
}
QTableView* RemoteConnectPanel::serviceTable()
{
    window();
    return ui_->panel.serviceTable;
}
QLineEdit* RemoteConnectPanel::hostField()
{
    window();
    return ui_->panel.hostField;
}
QLineEdit* RemoteConnectPanel::portField()
{
    window();
    return ui_->panel.portField;
}
QPushButton* RemoteConnectPanel::connectButton()
{
    window();
    return ui_->panel.connectButton;
}
QPushButton* RemoteConnectPanel::cancelButton()
{
    window();
    return ui_->panel.cancelButton;
}
QToolButton* RemoteConnectPanel::computerListPopUp()
{
    window();
    return ui_->panel.computerListPopUp;
}
QDialog* RemoteConnectPanel::computerListSheet()
{
    window();
    return ui_->sheetWindow;
}
QTreeView* RemoteConnectPanel::computerListOutline()
{
    window();
    return ui_->sheet.computerListOutline;
}

void RemoteConnectPanel::windowDidLoad()
{
    window_ = std::make_unique<QDialog>();
    ui_ = std::make_unique<Ui>();
    ui_->panel.setupUi(window_.get());
    window_->setObjectName(QStringLiteral("RemoteConnectPanel"));
    localizeTexts(window_.get());
    window_->setModal(false);

    auto& p = ui_->panel;
    p.serviceTable->setModel(serviceModel_.get());
    p.serviceTable->verticalHeader()->hide();
    p.serviceTable->horizontalHeader()->setStretchLastSection(true);
    p.serviceTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    QObject::connect(p.serviceTable->selectionModel(), &QItemSelectionModel::selectionChanged, window_.get(),
                     [this] { tableViewSelectionDidChange(); });
    // Only the user's edits: emptying the host for a chosen service must not clear that choice.
    QObject::connect(p.hostField, &QLineEdit::textEdited, window_.get(), [this] { controlTextDidChange(); });
    QObject::connect(p.portField, &QLineEdit::textEdited, window_.get(), [this] { controlTextDidChange(); });
    QObject::connect(p.hostField, &QLineEdit::textChanged, window_.get(), [this] { updateStatus(); });
    QObject::connect(p.portField, &QLineEdit::textChanged, window_.get(), [this] { updateStatus(); });
    QObject::connect(p.connectButton, &QPushButton::clicked, window_.get(), [this] { closeConnectPanel(ui_->panel.connectButton); });
    QObject::connect(p.cancelButton, &QPushButton::clicked, window_.get(), [this] { closeConnectPanel(ui_->panel.cancelButton); });

    // The pull-down: its title, then the lists, then a separator and the command that opens the editor.
    ui_->pullDownMenu = new QMenu(p.computerListPopUp);
    ui_->pullDownMenu->setObjectName(QStringLiteral("computerListMenu"));
    QAction* title = ui_->pullDownMenu->addAction(p.computerListPopUp->text());
    title->setVisible(false);
    ui_->pullDownMenu->addSeparator();
    QAction* edit = ui_->pullDownMenu->addAction(localized(QStringLiteral("Edit Computer Lists...")));
    edit->setObjectName(QStringLiteral("editComputerListsItem"));
    QObject::connect(edit, &QAction::triggered, window_.get(), [this] { openComputerListSheet(); });
    p.computerListPopUp->setMenu(ui_->pullDownMenu);

    // The list editor, a sheet of the panel.
    ui_->sheetWindow = new QDialog(window_.get());
    ui_->sheet.setupUi(ui_->sheetWindow);
    localizeTexts(ui_->sheetWindow);
    ui_->sheetWindow->setWindowModality(Qt::WindowModal);
    auto& s = ui_->sheet;
    s.computerListOutline->setModel(listModel_.get());
    s.computerListOutline->header()->setStretchLastSection(false);
    s.computerListOutline->header()->setSectionResizeMode(ComputerListModel::NameColumn, QHeaderView::Stretch);
    QObject::connect(s.addNodeButton, &QPushButton::clicked, window_.get(), [this] { addComputerListNode(); });
    QObject::connect(s.removeNodeButton, &QPushButton::clicked, window_.get(), [this] { removeComputerListNode(); });
    QObject::connect(s.addServicesButton, &QPushButton::clicked, window_.get(), [this] { addSelectedServicesToList(); });
    QObject::connect(s.doneButton, &QPushButton::clicked, window_.get(), [this] { closeComputerListSheet(); });
    // However the sheet ends (Done, Escape), the lists are saved.
    QObject::connect(ui_->sheetWindow, &QDialog::finished, window_.get(), [this] { saveComputerListsToPreferences(); });
    // A refused name: the description and the suggestion, once the outline has finished its edit.
    listModel_->setRefusalHandler([this](const platform::Error& error) {
        QTimer::singleShot(0, window_.get(), [error] { presentListEditorError(error); });
    });
    // A renamed list: its pull-down item follows at once.
    QObject::connect(listModel_.get(), &QAbstractItemModel::dataChanged, window_.get(), [this](const QModelIndex& index) {
        if (!index.parent().isValid())
            updateComputerListsPullDown();
    });

    p.bonjourProblemMessage->setText(bonjourProblem_);
    p.portField->setText(QString::number(kDefaultPortNumber));
    readComputerListsFromPreferences();
}

void RemoteConnectPanel::showWindow()
{
    window();
    updateStatus();
    window_->show();
    window_->raise();
    window_->activateWindow();
}

// --- Connecting -------------------------------------------------------------------------------------------------

QString RemoteConnectPanel::descriptionOfError(const platform::Error& error)
{
    if (const QString text = error.localizedDescription(); !text.isEmpty())
        return text;
    if (error.domain == QLatin1String("NSCocoaErrorDomain") && error.code == 3072)
        return localized(QStringLiteral("The operation was cancelled."));
    if (error.domain == QLatin1String("NSPOSIXErrorDomain"))
        return localized(QStringLiteral("The operation could not be completed.")) + QLatin1Char(' ') + qt_error_string(int(error.code));
    return localized(QStringLiteral("The operation could not be completed.")) +
           QStringLiteral(" (%1 error %2.)").arg(error.domain).arg(error.code);
}

void RemoteConnectPanel::browserDidStopWithError(const platform::Error& error)
{
    // Never cleared again: the search does not restart.
    bonjourProblem_ = TEVStringFormat::withObjects(localized(QStringLiteral("Bonjour problem: %@")), {descriptionOfError(error)});
    if (ui_)
        ui_->panel.bonjourProblemMessage->setText(bonjourProblem_);
}

QList<platform::NetService> RemoteConnectPanel::selectedNetServices()
{
    QModelIndexList rows = serviceTable()->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QList<platform::NetService> services;
    for (const QModelIndex& row : rows)
        if (row.row() < serviceModel_->rows().size())
            services.append(serviceModel_->rows().at(row.row()));
    return services;
}

void RemoteConnectPanel::tableViewSelectionDidChange()
{
    if (isNetServiceConnectPossible())
        ui_->panel.hostField->clear();
    updateStatus();
}

void RemoteConnectPanel::controlTextDidChange()
{
    if (isNetServiceConnectPossible())
        deselectNetServices();
    updateStatus();
}

void RemoteConnectPanel::deselectNetServices()
{
    serviceTable()->selectionModel()->clearSelection();
}

bool RemoteConnectPanel::isNetServiceConnectPossible()
{
    return serviceTable()->selectionModel()->hasSelection();
}

bool RemoteConnectPanel::isManualConnectPossible()
{
    // The host as typed: a blank is a host.
    return !hostField()->text().isEmpty()
           && isPortNumberValid(ComputerListPresentationNode::integerValueOfText(portField()->text()));
}

void RemoteConnectPanel::updateStatus()
{
    connectButton()->setEnabled(canConnect());
}

void RemoteConnectPanel::handOver(const QList<std::shared_ptr<MonitorConnectionInfo>>& infos)
{
    if (const auto delegate = delegate_.lock())
        delegate->panel(this, infos);
}

void RemoteConnectPanel::closeConnectPanel(QObject* sender)
{
    if (!sender || sender->property("tag").toInt() != kConnectTag) {
        window()->close();
        return;
    }
    // An edit in progress ends and counts: the fields' texts are read below.
    if (QWidget* focus = window()->focusWidget())
        focus->clearFocus();
    if (isNetServiceConnectPossible()) {
        connectSelectedNetServices(sender);
        return;
    }
    if (isManualConnectPossible()) {
        const auto port = quint16(ComputerListPresentationNode::integerValueOfText(portField()->text()));
        if (const auto info = MonitorConnectionInfo::createForRemoteConnection(hostField()->text(), port))
            handOver({info});
        window()->close();
        return;
    }
    beep();
}

void RemoteConnectPanel::connectSelectedNetServices(QObject*)
{
    const QList<platform::NetService> services = selectedNetServices();
    if (services.isEmpty())
        return;
    QList<std::shared_ptr<MonitorConnectionInfo>> infos;
    for (const platform::NetService& service : services)
        infos.append(MonitorConnectionInfo::createForRemoteConnection(service));
    handOver(infos);
    window()->close();
}

void RemoteConnectPanel::connectComputerList(QAction* sender)
{
    const auto list = sender ? sender->data().value<ComputerListNodePtr>() : nullptr;
    if (!list || list->isLeaf())
        return;
    QList<std::shared_ptr<MonitorConnectionInfo>> infos;
    for (const auto& member : *list->members())
        if (const auto info = member ? member->connectionInfo() : nullptr)
            infos.append(info);
    handOver(infos);
}

void RemoteConnectPanel::updateComputerListsPullDown()
{
    window();
    QMenu* menu = ui_->pullDownMenu;
    while (menu->actions().size() > 3) {
        QAction* item = menu->actions().at(1);
        menu->removeAction(item);
        delete item;
    }
    const ComputerListNodeArray& lists = computerListNodes()->nodes;
    for (auto it = lists.crbegin(); it != lists.crend(); ++it) {
        const ComputerListNodePtr& list = *it;
        auto* item = new QAction(list->presentedName(), menu);
        item->setData(QVariant::fromValue(list));
        QObject::connect(item, &QAction::triggered, window_.get(), [this, item] { connectComputerList(item); });
        menu->insertAction(menu->actions().at(1), item);
    }
}

// --- The computer lists ------------------------------------------------------------------------------------------

void RemoteConnectPanel::openComputerListSheet()
{
    computerListSheet()->open();
    // Stored members the lists could not take are told once, where they can be mended.
    const QList<platform::Error> refusals = std::exchange(listReadRefusals_, {});
    if (!refusals.isEmpty())
        QTimer::singleShot(0, window_.get(), [refusals] {
            for (const platform::Error& error : refusals)
                presentListEditorError(error);
        });
}

void RemoteConnectPanel::presentListEditorError(const platform::Error& error)
{
    platform::Alert alert;
    alert.style = platform::Alert::Style::Warning;
    alert.messageText = error.localizedDescription();
    alert.informativeText = error.userInfo.value(QStringLiteral("NSLocalizedRecoverySuggestion")).toString();
    alert.buttons = {localized(QStringLiteral("OK"))};
    platform::AlertPresenter::shared()->runModal(alert);
}

void RemoteConnectPanel::closeComputerListSheet()
{
    // finished() saves.
    computerListSheet()->accept();
}

void RemoteConnectPanel::readComputerListsFromPreferences()
{
    const QVariant value = defaults_ ? defaults_->objectForKey(kComputerListsKey) : QVariant();
    const auto stored = values::toDictionary(value);
    if (value.isValid() && !stored) {
        unreadableListsValue_ = value;
        platform::log(kClassName, QStringLiteral("the stored computer lists cannot be read; they are kept as stored"));
    }
    listModel_->changeRootArray([&](ComputerListRoot&) {
        if (stored)
            ComputerListPresentationNode::addComputerListPresentationNodesFromPropertyList(stored, listModel_->root(), &unreadableLists_,
                                                                                           &listReadRefusals_);
    });
    updateComputerListsPullDown();
}

void RemoteConnectPanel::saveComputerListsToPreferences()
{
    QVariantMap plist = ComputerListPresentationNode::propertyListForRootArray(listModel_->root()).value_or(QVariantMap());
    // Lists that could not be read at all stay as they were until the user makes lists of their own.
    if (unreadableListsValue_.isValid()) {
        if (plist.isEmpty())
            return;
        platform::log(kClassName, QStringLiteral("the unreadable computer lists are replaced by the lists made now"));
        unreadableListsValue_ = QVariant();
    }
    // The lists this run could not read stay as stored, unless a shown list has taken the name.
    for (auto it = unreadableLists_.begin(); it != unreadableLists_.end();) {
        if (plist.contains(it.key())) {
            it = unreadableLists_.erase(it);
        } else {
            plist.insert(it.key(), it.value());
            ++it;
        }
    }
    if (!defaults_)
        return;
    defaults_->setObject(values::fromDictionary(plist), kComputerListsKey);
    defaults_->synchronize();
}

QList<ComputerListNodePtr> RemoteConnectPanel::visibleRows()
{
    QTreeView* outline = computerListOutline();
    QList<ComputerListNodePtr> rows;
    for (const auto& list : computerListNodes()->nodes) {
        rows.append(list);
        if (outline->isExpanded(listModel_->indexForNode(list)))
            rows.append(*list->members());
    }
    return rows;
}

ComputerListNodePtr RemoteConnectPanel::selectedListNode()
{
    const QModelIndexList selected = computerListOutline()->selectionModel()->selectedRows();
    return selected.isEmpty() ? nullptr : listModel_->nodeForIndex(selected.first());
}

void RemoteConnectPanel::addComputerListNode()
{
    const auto selected = selectedListNode();
    if (!selected) {
        addNewComputerList();
    } else if (!selected->isLeaf()) {
        if (computerListOutline()->isExpanded(listModel_->indexForNode(selected)))
            addNewMemberToComputerListNode(selected);
        else
            addNewComputerList();
    } else {
        addNewMemberToComputerListNode(selected->parentList());
    }
}

ComputerListNodePtr RemoteConnectPanel::addNewComputerList()
{
    QSet<QString> taken;
    for (const auto& list : computerListNodes()->nodes)
        taken.insert(list->presentedName());
    const QString name = firstFreeName(localized(QStringLiteral("New List")), localized(QStringLiteral("New List %llu")), taken);
    auto list = ComputerListPresentationNode::createAsEmptyListNamed(name, computerListNodes());
    listModel_->appendList(list);
    updateComputerListsPullDown();
    return list;
}

ComputerListNodePtr RemoteConnectPanel::addNewMemberToComputerListNode(const ComputerListNodePtr& list)
{
    if (!list || list->isLeaf())
        return nullptr;
    QSet<QString> taken;
    for (const auto& member : *list->members())
        taken.insert(member->presentedName());
    const QString host =
        firstFreeName(localized(QStringLiteral("New-Computer")), localized(QStringLiteral("New-Computer-%llu")), taken);
    auto member = ComputerListPresentationNode::createAsMemberWithConnectionInfo(
        MonitorConnectionInfo::createForRemoteConnection(host, kDefaultPortNumber), list);
    listModel_->appendMember(list, member);
    return member;
}

void RemoteConnectPanel::addSelectedServicesToList()
{
    const auto selected = selectedListNode();
    const QList<platform::NetService> services = selectedNetServices();
    if (!selected || services.isEmpty()) {
        beep();
        return;
    }
    const auto target = selected->isLeaf() ? selected->parentList() : selected;
    if (!target)
        return;
    QSet<QString> noted;
    for (const auto& member : *target->members())
        noted.insert(member->presentedName());
    for (const platform::NetService& service : services) {
        if (noted.contains(service.name()))
            continue;
        listModel_->appendMember(target, ComputerListPresentationNode::createAsMemberWithConnectionInfo(
                                             MonitorConnectionInfo::createForRemoteConnection(service), target));
    }
    const QModelIndex row = listModel_->indexForNode(selected);
    if (!selected->isLeaf() && !computerListOutline()->isExpanded(row))
        computerListOutline()->expand(row);
}

void RemoteConnectPanel::removeComputerListNode()
{
    const auto selected = selectedListNode();
    if (!selected) {
        beep();
        return;
    }
    const qsizetype removedRow = visibleRows().indexOf(selected);
    if (selected->isLeaf()) {
        const auto list = selected->parentList();
        listModel_->removeMember(list, int(list ? list->members()->indexOf(selected) : -1));
    } else {
        listModel_->removeList(int(computerListNodes()->nodes.indexOf(selected)));
        updateComputerListsPullDown();
    }
    const QList<ComputerListNodePtr> rows = visibleRows();
    QItemSelectionModel* selection = computerListOutline()->selectionModel();
    if (rows.isEmpty()) {
        selection->clearSelection();
        return;
    }
    const qsizetype next = removedRow + 1 < rows.size() ? removedRow + 1 : rows.size() - 1;
    const QModelIndex index = listModel_->indexForNode(rows.at(next));
    selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}
