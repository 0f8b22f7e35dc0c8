#pragma once
// AppController: the application delegate of Kelvaro. Starts the program in a fixed order, completes the
// local computer's client once it is ready, accepts every ready client, keeps the gauges of the local
// preferences connected to all clients, refreshes every output channel on the update tick, and quits in
// order with the preferences and long-term histories written. Made once by the program's entry; main thread.

#include "app/controller/ControllerCore.h"
#include "app/model/MonitorPreferences.h"

#include <QImage>
#include <QHash>
#include <QMap>
#include <QPointer>
#include <QSet>

#include <optional>
#include <utility>

class AppController : public ControllerCore, public HistoryWindowRegistry {
public:
    // Class names of the five monitor-window kinds, in the order they are registered.
    static inline const QString kSensorOverview = QStringLiteral("SensorOverview");
    static inline const QString kSystemInfoDisplay = QStringLiteral("SystemInfoDisplay");
    static inline const QString kDriveOverview = QStringLiteral("DriveOverview");
    static inline const QString kSmartBatteryInfoDisplay = QStringLiteral("SmartBatteryInfoDisplay");
    static inline const QString kDisplayInfoDisplay = QStringLiteral("DisplayInfoDisplay");
    static inline const QString historyWindowControllerWasAddedNotification = HistoryWindow::wasAddedNotification;
    static constexpr qint64 kNumberOfPreferencePanes = 11;

    explicit AppController(ApplicationWindows windows = ApplicationWindows::doNothing());
    ~AppController() override;

    // --- Life --------------------------------------------------------------------------------------------
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    void clientHasBecomeReady(const ClientPtr& client) override;
    // A remote computer refused because it is monitored already (`thisComputer`: it is the local one).
    void showAlreadyMonitoredAlert(const QString& name, bool thisComputer);
    void completeInitializationOfLocalClient();
    void readOrCreateLocalMachinePreferences();
    void createAndOpenLocalSplashWindow();
    void preferenceWindowWillClose();
    void showPreferenceWindow();
    // The saving steps of termination when the process ends without a quit (the display went away): the
    // local computer's sampling stops, the preferences and the long-term histories are written and the
    // result is logged; no window, display, remote computer or name lookup is asked anything.
    void saveForLostDisplay();
    // When the session manager asks to save, before it ends the program: the windows as they are on screen
    // and the preferences written, so that a start at the next login finds them even if no quit follows.
    void saveForSessionManager();
    // Where a failure to save at quit or at the display's end is kept, to be told at the next start.
    static QStringList notSavedNoticePaths();

    // --- Clients and the update cycle -----------------------------------------------------------------
    void removeClient(const ClientPtr& client) override;
    void handleConfigurationChangeOnClient(const ClientPtr& client) override;
    void updateAllOutputChannelsAndCache(bool refill) override;
    QList<std::shared_ptr<TEVGauge>> activeGaugesForConnectedClient(const ClientPtr& client) const override;

    // --- Monitor windows ---------------------------------------------------------------------------------
    void addMonitorWindowFactoryForClass(const QString& className, const QString& defaultWindowTitle);
    void addClientToAllMonitorWindowFactories(const ClientPtr& client);
    void removeClientFromAllMonitorWindowFactories(const ClientPtr& client);
    std::shared_ptr<MonitorWindowFactory> monitorWindowFactory(const QString& className) const
    {
        return windowFactories_.value(className);
    }
    void createHistoryWindowControllers();
    void updateHistoryWindows();
    bool hasHistoryWindowOpen() const;
    // Opens the history windows in list order (with `restrict` only those that were open at the last quit),
    // each without a saved position cascaded from the one before it.
    void openHistoryWindowsRestrictToPreferredOnes(bool restrict);

    // --- State -------------------------------------------------------------------------------------------
    const QMap<QString, QList<std::shared_ptr<TEVGauge>>>& gaugesByComputer() const { return gaugesByComputer_; }
    const QStringList& localGaugeComputers() const { return localGaugeComputers_; }
    const QList<std::shared_ptr<HistoryWindow>>& historyWindowControllers() const override { return historyWindowControllers_; }
    bool hasSplashWindow() const { return splash_ != nullptr; }
    qint64 lastSelectedFont() const { return lastSelectedFont_; }
    // "-unknown-" when the information property list has no "TEVHardwareSupportLimit".
    static QString hardwareSupportLimitText();

    // --- Output channels --------------------------------------------------------------------------------
    void updateStandardWindow();
    void updateScreenDisplay();
    void updateMenuBarDisplay();
    void updateDockDisplay();
    // The slots of the tray title: the first `count` identifiers of `sensorNames`, each "name: text" or just
    // the text, in the gauge's colour when `useColor` (a slot without a value keeps the colour before it).
    static platform::StatusItem::Title menuBarTitle(const QStringList& sensorNames, quint64 count,
                                                    const OutputCache& cache, bool shortNames, bool useColor,
                                                    const QColor& textColor);
    std::shared_ptr<platform::StatusItem> statusItem() const { return statusItem_; }
    std::shared_ptr<HistoryWindow> historyWindowControllerForWindow(const QWidget* window) const;
    std::shared_ptr<HistoryWindow> overlayHistoryWindowControllerForIdentifier(const QString& identifier) const override;
    // Only with exactly one selected row of the history window table that has an entry.
    bool getSelectedHistoryWindowPreferences(std::shared_ptr<HistoryWindowPreferences>* preferences, qint64* row,
                                             qint64* count) const;

    // --- Menus ------------------------------------------------------------------------------------------
    // Tags 2010 and 2040 need a main window; 2020 (save) the sensor window or a history window as it.
    bool validateMenuItem(qint64 tag) const;
    // The check mark of a stateful item of "menuBarMenu", "dockMenu", "dockContextMenu" or "speechMenu".
    bool isMenuItemChecked(const QString& menu, qint64 tag) const;
    bool mainWindowIsStandardSensorWindow() const;
    QString screenWindowMenuItemTitle() const;
    // Told whenever a check mark or a changing title may read differently.
    void setMenuStateObserver(std::function<void()> observer) { menuStateObserver_ = std::move(observer); }
    // The active window by default; tests answer their own.
    void setMainWindowLookup(std::function<QWidget*()> lookup) { mainWindowLookup_ = std::move(lookup); }
    // The window whose own menu bar is in use is the main window for that menu's commands, whichever window
    // has the focus; null: the lookup's again.
    void setMenuWindow(QWidget* window);
    // The window the commands of a menu act on: the menu's window, else the main window.
    QWidget* windowActedOn() const { return mainWindow(); }
    // Ends the program the way a termination signal does; tests record it instead.
    void setQuitHandler(std::function<void()> handler) { quitHandler_ = std::move(handler); }
    void quit();

    void changeMenuBarDisplay(qint64 tag);
    void changeDockDisplay(qint64 tag);
    void changeVoiceMode(qint64 tag);
    void resetMenuBarFont();
    void setWindowDefaultFont(qint64 tag);
    void setWindowDefaultLabelRatio(qint64 tag);
    void resetWindowBackgroundColor(qint64 tag);
    void resetAllGauges();
    // Asks first; "No" changes nothing.
    void resetSensorColors();
    // The main window's data: the sensor window's readings or a history window's values.
    void save();
    void enforceUpdateOfReadings();
    void rescanForSensors();
    void clearShortTermHistory();
    // The sensor window shown, or null.
    QWidget* openSensorWindow();
    void toggleScreenWindow();
    void repositionScreenWindow();
    void openMinMaxWindow();
    void openHistoryWindows() { openHistoryWindowsRestrictToPreferredOnes(false); }
    void closeHistoryWindows();
    void combineHistoryWindows();
    // Every window of the monitor-window kind registered under `className`.
    void openMonitorWindows(const QString& className);
    void openRemoteConnectionWindow();
    void launchSmallSibling();

    // --- Alerts and speech --------------------------------------------------------------------------------
    static inline const QString kAlertHandOffPath = QStringLiteral("/tmp/Kelvaro-CurrentAlert.txt");
    void raiseAlertForSensorWithIdentifier(const QString& identifier, double value, bool isHigh) override;
    virtual void checkForVoiceValueChanges();
    virtual void speakActiveValues();
    // The language of the localisation in use ("LANGUAGE_REFLECTOR"), "en" without one.
    static QString languageCodeOfActiveLocalization();
    void updateGaugeAlertsChangingTemperatureUnitFrom(qint64 oldUnit, qint64 newUnit);
    // Where the alerting sensor is written for the object opened on an alert (tests move it).
    void setAlertHandOffPath(const QString& path) { alertHandOffPath_ = path; }

    // --- Start-up checks and exports (AppControllerStartupChecks.cpp, AppControllerExports.cpp) -----------
    // Every gauge a colour of the colour list, walked in the order of the identifiers.
    void resetAllGaugeColors();
    // The standard sensor window's readings, as text or CSV, through the save panel on that window.
    void exportStandardSensorReadings();
    void exportHistoryDataForWindowController(const std::shared_ptr<HistoryWindow>& controller);
    QString fileContentsForStandardWindowUsingCSVFormat(bool csv) const;
    // The connected sensors' identifiers with their names and computers, through a save panel of its own.
    void saveIdentifierReport();
    QString sensorIdentifierReport() const;

protected:
    virtual void updateStatefulMenuItems();
    QWidget* mainWindow() const;
    // The windows that were open at the last quit, in a fixed order.
    virtual void openPreferredDisplayChannels();
    // NO when the local computer's model is not supported; *shownDialogs tells whether it said so itself.
    virtual bool isLocalMachineSupportedGetHasShownSubmitDialogs(bool* shownDialogs);
    struct MachineModel {
        QString modelCode;
        QString vendor;
    };
    // The local computer's model code and vendor, from its machine information; tests stand in another.
    virtual MachineModel localMachineModel() const;
    virtual void checkForUncoloredGauges();
    virtual void checkForDeactivatedGF6800Sensors();
    virtual void checkForOutdatedSensorDesignations();
    virtual void checkForWithdrawnSensorSupport();

    void rebuildGaugeOutlineRepresentations() override;
    std::shared_ptr<RemoteConnectWindow> makeRemoteConnectPanel() override { return windows_.makeRemoteConnectPanel(); }
    const ApplicationWindows& windows() const { return windows_; }

private:
    void showModelSupportNotice();
    // A preferences file that could not be read is set aside at launch and the defaults are used; the user is
    // told so, and where the file went, over the windows of the last quit.
    void setAsideUnreadablePreferences();
    void tellOfResetPreferences();
    void speak(const QString& text);
    // Writes the identifier for the opened object; NO (with a warning) when the path is not ours to write.
    bool writeAlertHandOffFile(const QString& identifier) const;
    void refuseLocalClient();
    // The probe and LCD panes' settings, back into the local computer's set before it is written.
    void takeBackPanePreferences();
    // The sensor window's and the screen display's places, and the "...Open" flags set from the windows on
    // screen.
    void recordWindows();
    // The local computer's set is stored, and the computer listed as seen, only once the set is decided:
    // not before the local client's first completion, nor while the import offer is open or after it ended
    // unanswered.
    bool localSetDecided() const { return localPreferences_ && !localPreferencesUndecided_; }
    MonitorPreferences::WriteResult writePreferences();
    // Saves the local computer's long-term histories when there are any to keep (the local client is ready
    // and connected): nothing when none were due, else null when saved or why not.
    std::optional<QString> saveLongTermHistories();
    // The user hears of each failed write once: at once while running, at the next start for one at the
    // end (`atEnd`).
    void tellOfFailedWrites(const QStringList& failures, bool atEnd);
    void takeNoticeOfLastEnd();
    void queueNotice(const QString& title, const QString& text);
    static QImage applicationIcon();
    // Removes the stored gauges of no connected client that `withdrawn` names; then the clients resync.
    void removeDisconnectedGauges(const std::function<bool(const QString&)>& withdrawn);
    // Runs the export panel (a sheet on `window`) and writes what `contents` gives for the chosen type.
    void runExportPanel(QWidget* window, const std::function<QString(bool csv)>& contents);

    class PreferenceOwner;

    ApplicationWindows windows_;
    // What the preference window may ask; goes before the windows.
    std::unique_ptr<PreferenceOwner> preferenceOwner_;
    std::shared_ptr<SplashWindow> splash_;
    QMap<QString, std::shared_ptr<MonitorWindowFactory>> windowFactories_;
    // By the outline's names of the computers, which differ where the computers' own names are alike.
    QMap<QString, QList<std::shared_ptr<TEVGauge>>> gaugesByComputer_;
    QStringList localGaugeComputers_;
    // By the computer's identification in the gauge's identifier; the local computer's under an empty key.
    QHash<QString, QList<std::shared_ptr<TEVGauge>>> gaugesByIdentification_;
    qint64 lastSelectedFont_ = -1;
    QStringList prefPaneIdentifiers_;
    std::shared_ptr<SensorWindow> standardWindowController_;
    std::shared_ptr<SensorWindow> screenDisplayController_;
    QList<std::shared_ptr<HistoryWindow>> historyWindowControllers_;
    std::shared_ptr<MinMaxWindow> minMaxWindowController_;
    std::shared_ptr<LCDManager> localLCDManager_;
    std::shared_ptr<platform::StatusItem> statusItem_;
    // The application icon as last installed: installing goes to every window and the X server.
    QImage installedDockIcon_;
    QString alertHandOffPath_ = kAlertHandOffPath;
    // The no-voice warning goes out once: speech is asked for on every alert and tick.
    bool warnedNoVoice_ = false;
    // The windows of the last quit are reopened once, at the first completion, never on a later ready.
    bool preferredChannelsOpened_ = false;
    // The import offer ended unanswered (the program quit while it was open): the local set is not stored.
    bool localPreferencesUndecided_ = false;
    bool monitoringReported_ = false;
    // Notices for the user once the local computer is monitored: title and text each.
    QList<std::pair<QString, QString>> notices_;
    // Failures told already (or known to the user otherwise), by their text.
    QSet<QString> toldFailures_;
    bool updating_ = false;
    // The cacheKey() of the icon image last installed: an unchanged tile is not sent to every window again.
    qint64 installedDockImage_ = 0;
    std::function<void()> menuStateObserver_;
    std::function<QWidget*()> mainWindowLookup_;
    QPointer<QWidget> menuWindow_;
    std::function<void()> quitHandler_;
    // The export panel's file type, kept from one export to the next: 0 text, 1 CSV.
    qsizetype exportFileType_ = 0;
};
