#include "windows/sensortables/MachinePrefsImportController.h"

#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/widgets/QtAlertPresenter.h"
#include "windows/sensortables/SensorTablesText.h"

#include "ui_MachinePrefsImport.h"

#include <QAbstractTableModel>
#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>

using sensortables::localized;

namespace {
const QString kColumns[] = {QStringLiteral("Computer"), QStringLiteral("SerialNumber")};
const char* const kTitles[] = {"Computer", "Serial Number"};
} // namespace

class MachinePrefsImportController::Model final : public QAbstractTableModel {
public:
    Model(const MachinePrefsImportChoice& choice, QObject* parent)
        : QAbstractTableModel(parent)
        , choice_(choice)
    {
    }
    int rowCount(const QModelIndex& parent = {}) const override
    {
        return parent.isValid() ? 0 : int(choice_.numberOfRows());
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 2; }
    QVariant data(const QModelIndex& index, int role) const override
    {
        if (role != Qt::DisplayRole || !index.isValid())
            return {};
        return choice_.objectValue(kColumns[index.column()], index.row());
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 1)
            return {};
        return localized(QLatin1String(kTitles[section]));
    }
    void reload()
    {
        beginResetModel();
        endResetModel();
    }

private:
    const MachinePrefsImportChoice& choice_;
};

struct MachinePrefsImportController::Ui : ::Ui::MachinePrefsImport {};

std::shared_ptr<MachinePrefsImportController> MachinePrefsImportController::create()
{
    return std::shared_ptr<MachinePrefsImportController>(new MachinePrefsImportController);
}

MachinePrefsImportController::MachinePrefsImportController()
    : panel_(std::make_unique<QDialog>())
    , ui_(std::make_unique<Ui>())
{
    ui_->setupUi(panel_.get());
    panel_->setWindowTitle(localized(QStringLiteral("Import Preferences")));
    ui_->messageField->setText(localized(QStringLiteral(
        "There are no preference settings for this computer yet. You can take over the settings of another "
        "computer of the same model that you monitored before:")));
    ui_->importButton->setText(localized(QStringLiteral("Import")));
    ui_->skipButton->setText(localized(QStringLiteral("Don't Import")));
    model_ = new Model(choice_, panel_.get());
    ui_->machineTable->setModel(model_);
    ui_->machineTable->horizontalHeader()->setStretchLastSection(true);
    ui_->machineTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    ui_->machineTable->verticalHeader()->hide();
    QObject::connect(ui_->machineTable->selectionModel(), &QItemSelectionModel::selectionChanged, panel_.get(),
                     [this] { selectMachine(); });
    // Emitted only when the panel was closed by a button, Escape or its title bar, not when the program quit.
    QObject::connect(panel_.get(), &QDialog::finished, panel_.get(), [this] { answered_ = true; });
    // The panel has no menu and the tray waits behind it: the program quits from here as from its menu. A
    // quit is no answer (as a termination signal is not): the offer comes again at the next start.
    auto* quit = new QAction(panel_.get());
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q)); // as the menu's Quit
    quit->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(quit, &QAction::triggered, panel_.get(), [] { QCoreApplication::exit(0); });
    panel_->addAction(quit);
    for (QAbstractButton* button : {static_cast<QAbstractButton*>(ui_->importButton), static_cast<QAbstractButton*>(ui_->skipButton)})
        QObject::connect(button, &QAbstractButton::clicked, panel_.get(),
                         [this, button] { closePanel(button->property("tag").toLongLong()); });
}

MachinePrefsImportController::~MachinePrefsImportController() = default;

QDialog* MachinePrefsImportController::dialogPanel() const { return panel_.get(); }
QTableView* MachinePrefsImportController::machineTable() const { return ui_->machineTable; }
QWidget* MachinePrefsImportController::dialogButtons() const { return ui_->dialogButtons; }

QAbstractButton* MachinePrefsImportController::buttonWithTag(qint64 tag) const
{
    for (QAbstractButton* button : ui_->dialogButtons->findChildren<QAbstractButton*>())
        if (button->property("tag").toLongLong() == tag)
            return button;
    return nullptr;
}

QString MachinePrefsImportController::runDialogPanelForMachineSpecifiers(const QList<std::shared_ptr<MachineSpecifier>>& specifiers)
{
    return runDialogPanelForMachineSpecifiers(std::optional<MachineSpecifier::List>(specifiers));
}

QString MachinePrefsImportController::runDialogPanelForMachineSpecifiers(const std::optional<MachineSpecifier::List>& specifiers)
{
    if (!specifiers)
        return {};
    choice_.setMachineList(*specifiers);
    model_->reload();
    ui_->machineTable->clearSelection();
    selectMachine();
    // Closing the panel by its title bar or Escape rejects it: response 0. The update tick and delayed
    // work wait while it is open, as they do for any modal alert.
    int response = 0;
    answered_ = false;
    {
        const platform::AlertPresenter::ModalScope modal;
        platform::QtAlertPresenter::setTransientParentOf(panel_.get());
        response = panel_->exec();
    }
    panel_->hide();
    if (!answered_)
        return {};
    return choice_.serialNumberForResponse(response);
}

void MachinePrefsImportController::closePanel(qint64 tag)
{
    panel_->done(int(tag));
}

void MachinePrefsImportController::selectMachine()
{
    const QModelIndexList rows = ui_->machineTable->selectionModel()->selectedRows();
    const bool enabled = choice_.selectMachine(rows.size() == 1 ? rows.first().row() : -1);
    if (QAbstractButton* import = buttonWithTag(MachinePrefsImportChoice::kImportButtonTag))
        import->setEnabled(enabled);
}
