#pragma once
// HistoryCompositingInspector: the panel that lists, for the history window last activated, the other
// history windows it can take as overlays, each with a check box that attaches or detaches it. It keeps
// its window while the panel itself is used (clicking it deactivates the history window) and lets it go
// when the window hides, closes or leaves the controller's list. Escape and Ctrl+W close it, and it goes
// when the last history window does. One per process; main thread.

#include "app/model/ApplicationWindows.h"
#include "platform/foundation/NotificationCenter.h"

#include <QHash>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <memory>

class HistoryOverlayWindowController;
class QAbstractTableModel;
class QLabel;
class QTableView;
class QWidget;

class HistoryCompositingInspector final : public CompositingInspector {
public:
    static inline const QString kActivateColumn = QStringLiteral("Activate");
    static inline const QString kWindowColumn = QStringLiteral("Window");

    // The one instance while someone holds it.
    static std::shared_ptr<HistoryCompositingInspector> sharedHistoryCompositingInspector();

    HistoryCompositingInspector();
    ~HistoryCompositingInspector() override;
    HistoryCompositingInspector(const HistoryCompositingInspector&) = delete;
    HistoryCompositingInspector& operator=(const HistoryCompositingInspector&) = delete;

    void bindToApplicationController(HistoryWindowRegistry* registry) override;
    void openInspector() override;
    void deactivateAllOverlays();
    void updateForSelectedHistoryWindow();
    void updateContents();
    void synchronizePreferencesOfSelectedController();

    // The table, by column identifier: rows are the available overlays.
    qsizetype numberOfRows() const { return availableOverlays_.size(); }
    QVariant objectValue(const QString& column, qsizetype row) const;
    // "Activate" with a boolean attaches or detaches the row's window.
    void setObjectValue(const QVariant& value, const QString& column, qsizetype row);

    QWidget* selectedHistoryWindow() const { return selectedHistoryWindow_.data(); }
    HistoryOverlayWindowController* selectedController() const { return selectedController_; }
    const QStringList& availableOverlays() const { return availableOverlays_; }
    const QSet<QString>& activeOverlays() const { return activeOverlays_; }
    // The panel is made when it first opens or is asked for.
    QWidget* inspectorPanel() const
    {
        ensurePanel();
        return inspectorPanel_.data();
    }
    QLabel* windowNameMessage() const
    {
        ensurePanel();
        return windowNameMessage_.data();
    }
    QTableView* overlayTable() const
    {
        ensurePanel();
        return overlayTable_.data();
    }

private:
    class Model;
    class ActivationWatcher;
    void historyWindowWasAdded(const platform::Notification& notification);
    void historyWindowWillBeRemoved(const platform::Notification& notification);
    HistoryOverlayWindowController* controllerForObject(const platform::ObjectIdentity& object) const;
    void windowBecameMain(QWidget* window);
    void windowWentAway(QWidget* window);
    bool isAnyHistoryWindowShown() const;
    void closeWithoutHistoryWindows();
    void ensurePanel() const;
    void makePanel();

    HistoryWindowRegistry* registry_ = nullptr;
    QPointer<QWidget> selectedHistoryWindow_;
    HistoryOverlayWindowController* selectedController_ = nullptr;
    const HistoryOverlayWindowController* removing_ = nullptr; // during its removal notice
    QStringList availableOverlays_;
    QSet<QString> activeOverlays_;
    QHash<const HistoryOverlayWindowController*, QPointer<QWidget>> observedWindows_;
    platform::ObserverToken addedObserver_;
    platform::ObserverToken removedObserver_;
    QPointer<QWidget> inspectorPanel_;
    QPointer<QLabel> windowNameMessage_;
    QPointer<QTableView> overlayTable_;
    std::unique_ptr<Model> model_;
    std::unique_ptr<ActivationWatcher> watcher_;
};
