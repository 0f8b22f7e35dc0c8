#pragma once
// PreferenceWindowController: the preference window, a toolbar of 11 panes over a stack of pane views. Panes
// 0 to 8 are its own (Designer files PrefWindow0 … PrefWindow8, object names = outlet names); 9 and 10 host
// the views of the probe and LCD managers; the sensor tables and the gauge outline are a SensorTablesController's
// over the owner's live lists. The controls hold no state: updatePreferenceWindow copies the
// preferences into them, changePreferenceValue takes every control back, updatePreferenceWindowState
// recomputes what is enabled and redraws the samples. The panes are made when first shown or looked at; until
// then the window is bare and only the chosen pane is kept. Owned by the application controller; main thread.

#include "app/model/ApplicationWindows.h"

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <memory>

class QAbstractButton;
class QAbstractItemView;
class QAction;
class QButtonGroup;
class QComboBox;
class QFont;
class QFontDialog;
class QLabel;
class QLineEdit;
class QMainWindow;
class QSlider;
class QStackedWidget;
class QToolBar;
class ColorWell;
class SensorTablesController;

class PreferenceWindowController final : public QObject, public PreferenceWindow {
    Q_OBJECT

public:
    static constexpr qint64 kNumberOfPanes = 11;
    static constexpr quint64 kAutosaveMinutesMin = 1, kAutosaveMinutesMax = 1440;
    static constexpr float kTalkDeltaMin = 0.1f, kTalkDeltaMax = 30.0f;
    static constexpr float kFontSizeMin = 6.0f, kFontSizeMax = 128.0f;

    PreferenceWindowController();
    ~PreferenceWindowController() override;

    // --- Pure mappings ---------------------------------------------------------------------------------
    // Text alignment code (0 left, 1 right, 2 centre) ↔ column of the left/centre/right matrix.
    static qint64 cellIndexForAlignment(qint64 alignment);
    static qint64 textAlignmentForCellIndex(qint64 cell);
    static qint64 popUpIndexForDiskSaverInterval(quint64 seconds);
    static quint64 diskSaverIntervalForMenuIndex(qint64 index);
    // Slider positions 1 … 13 over 1 s … 1 h.
    static qint64 timeSliderIntegerValueForSeconds(quint64 seconds);
    static quint64 secondsForTimeSliderValue(qint64 position);
    static QString toolbarLabelForPreferencePaneAtIndex(quint64 index);
    static QString iconNameForPreferencePaneAtIndex(quint64 index);
    static QIcon iconForPreferencePaneAtIndex(quint64 index);
    static QString dockCountMessage(quint64 count);
    static QString menuBarCountMessage(quint64 count);
    static QString voiceModeMessage(qint64 mode);
    // The caution about disk sleep: the client's spin-down time in minutes against the probing interval.
    static bool smartIntervalPreventsDiskSleep(qint64 spindownMinutes, quint64 smartIntervalSeconds);

    // --- PreferenceWindow ------------------------------------------------------------------------------
    QWidget* window() override;
    void bindToApplicationController(PreferenceWindowOwner* owner) override { owner_ = owner; }
    void showWindow() override;
    void setPaneViews(const QStringList& identifiers, const QList<QWidget*>& views) override;
    void setPaneViewMakers(const QStringList& identifiers, const QList<PaneViewMaker>& makers) override;
    void selectPreferencePaneAtIndex(qint64 index) override;
    void updatePreferenceWindow() override;
    void deselectHistoryWindowTable() override;
    QList<qint64> selectedHistoryWindowRows() const override;
    void setWillCloseHandler(std::function<void()> handler) override { willClose_ = std::move(handler); }
    void runWithWaitSheet(const std::function<void()>& work) override;

    // --- Actions ---------------------------------------------------------------------------------------
    void selectPreferencePane(QAction* sender);
    void updatePreferenceWindowState();
    void changePreferenceValue();
    void changeSliderValue(QSlider* sender);
    void controlTextDidChange(QLineEdit* field);
    // The speech mode and name switches.
    void changeVoiceSetting();
    void changeValueCellFont(qint64 tag);
    void changeFont(const QFont& font);
    void updateAlertApplicationIcon();
    // The open panel for the object an alert opens: files only, links followed.
    void selectAlertApplication();
    // The selections of the alert table, the history window table and the gauge outline.
    void selectSensorTableEntry();
    void selectHistoryWindowEntry();
    void selectGauge();

    // --- For the program, the screenshots and tests --------------------------------------------------------
    QWidget* paneView(qint64 index) const;
    // The pane control of that object name, or null.
    template <typename T>
    T* control(const QString& name) const
    {
        return findControl<T>(name);
    }
    QButtonGroup* buttonGroup(const QString& name) const;
    qint64 selectedPaneIndex() const { return selectedPane_; }
    qint64 lastSelectedFont() const { return lastSelectedFont_; }
    SensorTablesController* sensorTables() const
    {
        ensureBuilt();
        return tables_.get();
    }
    // Whether the panes are made: they are at the first showing or the first look at a pane or control.
    bool isBuilt() const { return built_; }

private:
    template <typename T>
    T* findControl(const QString& name) const
    {
        ensureBuilt();
        for (qint64 i = 0; i < 9 && i < panes_.size(); ++i)
            if (T* found = panes_.at(i)->template findChild<T*>(name))
                return found;
        return nullptr;
    }
    void ensureBuilt() const;
    void build();
    void buildToolbar();
    void connectControls();
    MonitorPreferences* monitorPreferences() const;
    std::shared_ptr<MachinePreferences> localPreferences() const;
    std::shared_ptr<MonitoringClient> localClient() const;
    void loadGlobalControls(const MonitorPreferences& prefs);
    void loadMachineControls(MachinePreferences& prefs, const MonitorPreferences& global);
    void storeMachineControls(MachinePreferences& prefs, MonitorPreferences& global);
    void drawSamples(MachinePreferences& prefs);
    void refreshTimeFields();
    void beep() const;
    static QString localized(const QString& key);

    QPointer<QMainWindow> window_;
    QToolBar* toolbar_ = nullptr;
    QStackedWidget* stack_ = nullptr;
    QList<QWidget*> panes_;      // the 11 pane slots, in toolbar order
    QList<QWidget*> hosts_;      // panes 9 and 10: containers of the managers' views
    QPointer<QWidget> hostedViews_[2];
    PaneViewMaker viewMakers_[2];
    bool built_ = false;
    QList<QAction*> toolbarItems_;
    QStringList identifiers_;
    qint64 selectedPane_ = -1;
    qint64 lastSelectedFont_ = -1;
    QPointer<QFontDialog> fontPanel_;
    PreferenceWindowOwner* owner_ = nullptr;
    std::function<void()> willClose_;
    bool loading_ = false;
    class TablesHost;
    std::unique_ptr<TablesHost> tablesHost_;
    // Goes before its host.
    std::unique_ptr<SensorTablesController> tables_;
    friend class PreferenceMainWindow;
};
