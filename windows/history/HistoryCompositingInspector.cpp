#include "windows/history/HistoryCompositingInspector.h"

#include "app/model/HistoryWindowPreferences.h"
#include "windows/history/HistoryOverlayWindowController.h"
#include "platform/desktop/widgets/PanelKeys.h"
#include "windows/history/HistoryWindowSupport.h"

#include "ui_HistoryCompositingInspector.h"

#include <QAbstractTableModel>
#include <QEvent>
#include <QHeaderView>
#include <QPushButton>

using historywindows::localized;

namespace {

const QStringList kColumns = {HistoryCompositingInspector::kActivateColumn, HistoryCompositingInspector::kWindowColumn};

} // namespace

class HistoryCompositingInspector::Model final : public QAbstractTableModel {
public:
    Model(HistoryCompositingInspector& inspector, QObject* parent)
        : QAbstractTableModel(parent)
        , inspector_(inspector)
    {
    }
    int rowCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(inspector_.numberOfRows()); }
    int columnCount(const QModelIndex& parent) const override { return parent.isValid() ? 0 : int(kColumns.size()); }
    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        const Qt::ItemFlags flags = Qt::ItemIsEnabled;
        return index.column() == 0 ? flags | Qt::ItemIsUserCheckable : flags;
    }
    QVariant data(const QModelIndex& index, int role) const override
    {
        const QVariant value = inspector_.objectValue(kColumns.at(index.column()), index.row());
        if (index.column() == 0)
            return role == Qt::CheckStateRole ? QVariant(value.toBool() ? Qt::Checked : Qt::Unchecked) : QVariant();
        return role == Qt::DisplayRole ? value : QVariant();
    }
    bool setData(const QModelIndex& index, const QVariant& value, int role) override
    {
        if (index.column() != 0 || role != Qt::CheckStateRole)
            return false;
        inspector_.setObjectValue(value.toInt() == Qt::Checked, kActivateColumn, index.row());
        return true;
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= kColumns.size())
            return {};
        return localized(kColumns.at(section));
    }
    void reload()
    {
        beginResetModel();
        endResetModel();
    }

private:
    HistoryCompositingInspector& inspector_;
};

// Activation makes a history window the selected one; hiding or closing it lets it go. Deactivation says
// nothing: clicking this very panel deactivates the window it is about.
class HistoryCompositingInspector::ActivationWatcher final : public QObject {
public:
    ActivationWatcher(HistoryCompositingInspector& inspector, QObject* parent)
        : QObject(parent)
        , inspector_(inspector)
    {
    }
    bool eventFilter(QObject* object, QEvent* event) override
    {
        auto* window = qobject_cast<QWidget*>(object);
        if (!window)
            return false;
        if (event->type() == QEvent::WindowActivate)
            inspector_.windowBecameMain(window);
        else if (event->type() == QEvent::Hide || event->type() == QEvent::Close)
            inspector_.windowWentAway(window);
        else if (event->type() == QEvent::Show)
            inspector_.updateContents();
        return false;
    }

private:
    HistoryCompositingInspector& inspector_;
};

std::shared_ptr<HistoryCompositingInspector> HistoryCompositingInspector::sharedHistoryCompositingInspector()
{
    static std::weak_ptr<HistoryCompositingInspector> shared;
    auto inspector = shared.lock();
    if (!inspector) {
        inspector = std::make_shared<HistoryCompositingInspector>();
        shared = inspector;
    }
    return inspector;
}

HistoryCompositingInspector::HistoryCompositingInspector()
    : model_(std::make_unique<Model>(*this, nullptr))
    , watcher_(std::make_unique<ActivationWatcher>(*this, nullptr))
{
    auto& center = platform::NotificationCenter::defaultCenter();
    addedObserver_ = center.addObserver(HistoryWindow::wasAddedNotification, {},
                                        [this](const platform::Notification& n) { historyWindowWasAdded(n); });
    removedObserver_ = center.addObserver(HistoryWindow::willBeRemovedNotification, {},
                                          [this](const platform::Notification& n) { historyWindowWillBeRemoved(n); });
    updateContents();
}

void HistoryCompositingInspector::ensurePanel() const
{
    if (!inspectorPanel_)
        const_cast<HistoryCompositingInspector*>(this)->makePanel();
}

void HistoryCompositingInspector::makePanel()
{
    inspectorPanel_ = new QWidget(nullptr, Qt::Tool);
    Ui::HistoryCompositingInspector ui;
    ui.setupUi(inspectorPanel_);
    inspectorPanel_->setWindowTitle(localized(inspectorPanel_->windowTitle()));
    windowNameMessage_ = ui.windowNameMessage;
    overlayTable_ = ui.overlayTable;
    ui.deactivateAllButton->setText(localized(ui.deactivateAllButton->text()));
    overlayTable_->setModel(model_.get());
    overlayTable_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    QObject::connect(ui.deactivateAllButton, &QPushButton::clicked, inspectorPanel_, [this] { deactivateAllOverlays(); });
    platform::PanelKeys::installInto(inspectorPanel_);
    updateContents();
}

HistoryCompositingInspector::~HistoryCompositingInspector()
{
    auto& center = platform::NotificationCenter::defaultCenter();
    center.removeObserver(addedObserver_);
    center.removeObserver(removedObserver_);
    for (const QPointer<QWidget>& window : std::as_const(observedWindows_))
        if (window)
            window->removeEventFilter(watcher_.get());
    delete inspectorPanel_.data();
}

void HistoryCompositingInspector::bindToApplicationController(HistoryWindowRegistry* registry)
{
    registry_ = registry;
    updateForSelectedHistoryWindow();
}

void HistoryCompositingInspector::openInspector()
{
    // The windows may have changed while the panel was closed.
    updateForSelectedHistoryWindow();
    ensurePanel();
    inspectorPanel_->show();
    inspectorPanel_->raise();
    // Its keys work at once, also where no window manager hands out the focus.
    inspectorPanel_->activateWindow();
}

void HistoryCompositingInspector::deactivateAllOverlays()
{
    activeOverlays_.clear();
    synchronizePreferencesOfSelectedController();
    updateContents();
}

HistoryOverlayWindowController* HistoryCompositingInspector::controllerForObject(const platform::ObjectIdentity& object) const
{
    if (!registry_)
        return nullptr;
    for (const auto& window : registry_->historyWindowControllers())
        if (window && platform::ObjectIdentity(static_cast<const HistoryWindow*>(window.get())) == object)
            return dynamic_cast<HistoryOverlayWindowController*>(window.get());
    return nullptr;
}

void HistoryCompositingInspector::historyWindowWasAdded(const platform::Notification& notification)
{
    HistoryOverlayWindowController* controller = controllerForObject(notification.object);
    if (!controller || !controller->window() || observedWindows_.contains(controller))
        return;
    controller->window()->installEventFilter(watcher_.get());
    observedWindows_.insert(controller, controller->window());
}

void HistoryCompositingInspector::historyWindowWillBeRemoved(const platform::Notification& notification)
{
    HistoryOverlayWindowController* controller = controllerForObject(notification.object);
    if (!controller)
        return;
    if (const QPointer<QWidget> window = observedWindows_.take(controller))
        window->removeEventFilter(watcher_.get());
    if (controller == selectedController_ || controller->window() == selectedHistoryWindow_)
        selectedHistoryWindow_ = nullptr;
    // It is still in the controller's list: it must not be offered while it goes.
    removing_ = controller;
    updateForSelectedHistoryWindow();
    closeWithoutHistoryWindows();
    removing_ = nullptr;
}

void HistoryCompositingInspector::windowBecameMain(QWidget* window)
{
    if (window == selectedHistoryWindow_)
        return;
    selectedHistoryWindow_ = window;
    updateForSelectedHistoryWindow();
}

void HistoryCompositingInspector::windowWentAway(QWidget* window)
{
    if (window == selectedHistoryWindow_) {
        selectedHistoryWindow_ = nullptr;
        updateForSelectedHistoryWindow();
    }
    closeWithoutHistoryWindows();
}

bool HistoryCompositingInspector::isAnyHistoryWindowShown() const
{
    if (!registry_)
        return false;
    // An attached overlay's window is hidden, but its master is shown.
    for (const auto& window : registry_->historyWindowControllers())
        if (auto* controller = dynamic_cast<HistoryOverlayWindowController*>(window.get());
            controller && controller != removing_ && controller->window() && controller->window()->isVisible())
            return true;
    return false;
}

void HistoryCompositingInspector::closeWithoutHistoryWindows()
{
    // Nothing left to combine: the panel goes with the last history window.
    if (inspectorPanel_ && inspectorPanel_->isVisible() && !isAnyHistoryWindowShown())
        inspectorPanel_->close();
}

void HistoryCompositingInspector::updateForSelectedHistoryWindow()
{
    availableOverlays_.clear();
    activeOverlays_.clear();
    selectedController_ = nullptr;
    if (selectedHistoryWindow_ && registry_) {
        QList<HistoryOverlayWindowController*> controllers;
        for (const auto& window : registry_->historyWindowControllers())
            if (auto* controller = dynamic_cast<HistoryOverlayWindowController*>(window.get());
                controller && controller != removing_)
                controllers.append(controller);
        for (HistoryOverlayWindowController* controller : std::as_const(controllers))
            if (controller->window() == selectedHistoryWindow_)
                selectedController_ = controller;
        for (HistoryOverlayWindowController* controller : std::as_const(controllers))
            if (selectedController_ && controller != selectedController_ && controller->preferences()
                && controller->isAvailableForOverlayWithMasterController(selectedController_))
                availableOverlays_.append(controller->preferences()->overlayIdentifier());
    }
    if (selectedController_ && selectedController_->preferences())
        for (const QString& reference : selectedController_->preferences()->overlayReferences())
            activeOverlays_.insert(reference);
    updateContents();
}

void HistoryCompositingInspector::updateContents()
{
    if (windowNameMessage_)
        windowNameMessage_->setText(selectedHistoryWindow_ ? selectedHistoryWindow_->windowTitle()
                                    : isAnyHistoryWindowShown() ? localized(QStringLiteral("- no window selected -"))
                                                                : localized(QStringLiteral("- no history window open -")));
    model_->reload();
}

void HistoryCompositingInspector::synchronizePreferencesOfSelectedController()
{
    if (!selectedController_ || !selectedController_->preferences())
        return;
    selectedController_->preferences()->setOverlayReferencesFromSet(activeOverlays_);
    selectedController_->updateOverlayConfiguration();
}

QVariant HistoryCompositingInspector::objectValue(const QString& column, qsizetype row) const
{
    if (row < 0 || row >= availableOverlays_.size())
        return {};
    const QString& identifier = availableOverlays_.at(row);
    if (column == kActivateColumn)
        return activeOverlays_.contains(identifier);
    if (column == kWindowColumn) {
        const auto controller = registry_ ? registry_->overlayHistoryWindowControllerForIdentifier(identifier) : nullptr;
        return controller && controller->window() ? controller->window()->windowTitle() : QString();
    }
    return {};
}

void HistoryCompositingInspector::setObjectValue(const QVariant& value, const QString& column, qsizetype row)
{
    if (column != kActivateColumn || row < 0 || row >= availableOverlays_.size())
        return;
    const QString& identifier = availableOverlays_.at(row);
    if (value.toBool())
        activeOverlays_.insert(identifier);
    else
        activeOverlays_.remove(identifier);
    synchronizePreferencesOfSelectedController();
    model_->reload();
}
