#pragma once
// SensorTablesController: the data source and delegate of the preference window's sensor tables, its
// history window list and its gauge outline. It installs the models, drag and drop and the button actions
// into the views the window names by outlet, keeps one history window's sensors of one quantity type,
// adds, renames and removes history windows, places the sensor drawer and deletes gauges of disconnected
// computers. The lists it shows are the host's live lists; every edit goes straight into them. Made by
// the preference window's owner with its SensorTablesHost; main thread only.

#include "framework/widgets/TEVDragTableView.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

#include <array>
#include <memory>

class GaugeOutlineModel;
class HistoryWindowListModel;
class HistoryWindowPreferences;
class QMimeData;
class QTableView;
class QTreeView;
class SensorDrawerPanel;
class SensorTableModel;
class SensorTablesHost;
class TEVGauge;

class SensorTablesController final : public QObject {
    Q_OBJECT
public:
    enum Table : int { SourceTable, AlertTable, DockTable, ScreenWindowTable, HistoryTable, MenuBarTable, SpeechTable, WindowTable };
    static constexpr int kNumberOfSensorTables = 8;
    // "sensorSourceTable", "alertSensorTable", …
    static QString tableOutletName(Table table);
    // "alertNavigateButtons", …; null for the source table, which has none.
    static QString navigateButtonsOutletName(Table table);

    static inline const QString historyWindowControllerWasAddedNotification = QStringLiteral("TEVHistoryWindowControllerWasAdded");
    static inline const QString historyWindowControllerWillBeRemovedNotification =
        QStringLiteral("TEVHistoryWindowControllerWillBeRemoved");
    // Seconds from a rename in the history window table to the refreshed headline.
    static constexpr double kRenameRefreshDelay = 0.5;

    // Outlets of the gauge editor beside the outline whose names the Part leaves open.
    static inline const QString kSensorNameField = QStringLiteral("sensorNameField");
    static inline const QString kSensorShortNameField = QStringLiteral("sensorShortNameField");
    static inline const QString kSensorSpeechNameField = QStringLiteral("sensorSpeechNameField");

    explicit SensorTablesController(SensorTablesHost& host, QObject* parent = nullptr);
    ~SensorTablesController() override;

    // Takes the views and controls named by their outlets below `preferenceWindow`: a sensor table that is
    // not a TEVDragTableView, a history window table that is no table view or an outline that is no tree view
    // is replaced in its layout by one of that name. Makes the sensor drawer. Call once, after the window's
    // form is set up; later calls do nothing.
    void installInPreferenceWindow(QWidget* preferenceWindow);

    TEVDragTableView* sensorTable(Table table) const;
    SensorTableModel* sensorTableModel(Table table) const;
    QTableView* historyWindowTable() const;
    QTreeView* sensorOutlineView() const;
    SensorDrawerPanel* sensorDrawerPanel() const;

    // --- Data source ----------------------------------------------------------------------------------------
    // The live list a table shows; null for the history table without exactly one selected window.
    QStringList* sensorNameListForTable(Table table) const;
    // A drop on `table` at `row`: the history table takes sensors from elsewhere only when they suit the
    // selected window; then the table's own rules (reordering, copying, no duplicates) apply.
    bool acceptDrop(Table table, const TEVDragTableView::DraggingInfo& info, int row);
    // The dragged sensors and those of the selected history window are all of one quantity type. Beeps when
    // they are not.
    bool historySensorTableAcceptsDataFromPasteboard(const QMimeData* pasteboard) const;
    // Every table, the history window list and the outline (its expanded computers stay expanded).
    void reloadData();
    void reloadGaugeOutline();
    // The outline rows of `gauge` show its names as they are now.
    void gaugeNamesDidChange(const std::shared_ptr<TEVGauge>& gauge);

    // --- Actions -------------------------------------------------------------------------------------------
    // A navigation button: tag 0 opens the drawer, any other removes the selected rows from the list. A
    // navigation matrix is a container of buttons or a button group of the outlet's name.
    void editSensorTable(Table table, qint64 tag);
    void updateNavigationButtons();
    void openSensorDrawerPanel();
    // Tag 0 adds a history window, any other removes the selected ones.
    void editHistoryWindow(qint64 tag);
    // The history window table's edit of a name; the headline follows after kRenameRefreshDelay.
    bool renameHistoryWindow(int row, const QString& name);
    // Reloads the history sensor table, then the host fills the controls beside it.
    void selectHistoryWindowEntry();
    void deleteSensor();
    bool hasHistoryWindowOpen() const;

    // --- Selections the store routine needs ------------------------------------------------------------------
    // Ascending.
    QList<int> selectedHistoryWindowRows() const;
    void deselectHistoryWindowTable();
    // The history window of the only selected row; null otherwise.
    std::shared_ptr<HistoryWindowPreferences> selectedHistoryWindowPreferences() const;
    // The gauge of the outline's selected row; null when a computer or nothing is selected.
    std::shared_ptr<TEVGauge> selectedGauge() const;
    // The outline's selected computer; null when a gauge or nothing is selected.
    QString selectedComputer() const;
    // Rows of the outline as shown, expanded children included.
    int selectedOutlineRow() const;
    void selectOutlineRow(int row);
    // The computer has gauges and none of them has a connected client.
    bool isComputerCompletelyDisconnected(const QString& computer) const;

signals:
    // A drop or a removal changed the list of `table`.
    void sensorListChanged(int table);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fitSourceTableColumns();
    void installSensorTable(Table table, TEVDragTableView* view);
    void installNavigateButtons(QObject* matrix, const std::function<void(qint64)>& action);
    void updateNavigationButtons(Table table);
    void removeGauges(const QList<std::shared_ptr<TEVGauge>>& gauges, int selectedRow);
    QModelIndex outlineIndexForRow(int row) const;
    QWidget* outlet(const QString& name) const;
    QObject* navigateMatrix(const QString& name) const;

    SensorTablesHost& host_;
    QPointer<QWidget> preferenceWindow_;
    std::array<std::shared_ptr<SensorTableModel>, kNumberOfSensorTables> models_;
    std::array<QPointer<TEVDragTableView>, kNumberOfSensorTables> tables_;
    std::array<QPointer<QObject>, kNumberOfSensorTables> navigateButtons_;
    QPointer<QObject> historyWindowNavigateButtons_;
    std::unique_ptr<HistoryWindowListModel> historyWindowModel_;
    std::unique_ptr<GaugeOutlineModel> outlineModel_;
    QPointer<QTableView> historyWindowTable_;
    QPointer<QTreeView> sensorOutlineView_;
    QPointer<SensorDrawerPanel> drawer_;
    bool outlineShown_ = false;
    QSet<QString> expandedComputers_;
};
