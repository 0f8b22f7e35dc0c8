#pragma once
// ApplicationWindows: the windows, panels and managers the application controller drives, as it sees them.
// Each is a small interface whose base class does nothing, so the controller runs before (and without) a
// real window; the window and LCD libraries implement them. Owned by the controller; main thread only.

#include "app/model/ControllerLookups.h"
#include "app/model/MachinePreferences.h"
#include "platform/desktop/StatusItem.h"
#include "platform/foundation/Color.h"

#include <QImage>
#include <QList>
#include <QMap>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <functional>
#include <memory>
#include <optional>

class HistoryWindowPreferences;
class MachineSpecifier;
class MonitorConnectionInfo;
class MonitoringClient;
class MonitorPreferences;
class QWidget;
class RemoteConnectPanel;
class TEVGauge;

// The sensor window (style 0) or the floating screen display (style 1; 2 below all other windows).
class SensorWindow {
public:
    using ColorPtr = std::shared_ptr<platform::Color>;
    virtual ~SensorWindow() = default;
    virtual QWidget* window() const { return nullptr; }
    virtual bool isWindowVisible() const { return false; }
    // Brings the window to the front, respectively hides it.
    virtual void showWindow() {}
    virtual void orderOut() {}
    virtual void setWindowTitle(const QString&) {}
    virtual void saveSpecialPositionPreferences() {}
    virtual void centerOnScreen() {}

    virtual void setBackgroundColor(const ColorPtr&) {}
    virtual void setHasVerticalLayout(bool) {}
    virtual void setBaseFont(const MachinePreferences::Font&) {}
    virtual void setLabelRatio(float) {}
    // Null: each value in its gauge's colour.
    virtual void setFixedForegroundColor(const ColorPtr&) {}
    virtual void setAlignment(quint64) {}
    virtual void setWindowStyle(qint64) {}
    virtual void setTransparency(float) {}
    virtual void setHasShadow(bool) {}
    virtual void setHasFixedPosition(bool) {}
    virtual void removeAllValues() {}
    virtual void addStringValue(const QString&, const std::shared_ptr<TEVGauge>&) {}
    virtual void updateWindow() {}
};

// One kind of per-computer monitor window (sensor overview, system information, drives, batteries,
// displays): one window per client.
class MonitorWindowFactory {
public:
    virtual ~MonitorWindowFactory() = default;
    virtual void addMonitoringClient(const std::shared_ptr<MonitoringClient>&, ControllerLookups*) {}
    virtual void removeMonitoringClient(const std::shared_ptr<MonitoringClient>&) {}
    virtual bool isWindowVisible() const { return false; }
    virtual void updateAllWindows() {}
    // Every window opens, each cascaded from the one before it.
    virtual void openAllWindows() {}
    virtual void closeAllWindows() {}
    virtual void openWindowForMonitoringClient(const std::shared_ptr<MonitoringClient>&) {}
    virtual void closeWindowForMonitoringClient(const std::shared_ptr<MonitoringClient>&) {}
};

// Lists the connected computers; reads the controller's live client list.
class ConnectionWindow {
public:
    using ClientList = QList<std::shared_ptr<MonitoringClient>>;
    virtual ~ConnectionWindow() = default;
    virtual void connectToClientList(const ClientList*) {}
    virtual void updateContents() {}
    virtual void openWindow() {}
};

// The values in the application's icon.
class DockTile {
public:
    virtual ~DockTile() = default;
    virtual void setDefaultBackground(const QImage&) {}
    // 0 no values, 1 or 2 lines.
    virtual void setMode(quint8) {}
    virtual void setLiquidCrystalDisplay(bool) {}
    virtual void setLine1Color(const QColor& line1, const QColor& line2) { (void)line1, (void)line2; }
    virtual void setLine1(const QString& line1, const QString& line2) { (void)line1, (void)line2; }
    // Null while there is nothing to draw: the application keeps its icon.
    virtual QImage dockTileImage() const { return {}; }
    // Back to the plain application icon.
    virtual void restoreApplicationIcon() {}
};

class MinMaxWindow {
public:
    virtual ~MinMaxWindow() = default;
    virtual void bindToApplicationController(ControllerLookups*) {}
    virtual bool isWindowVisible() const { return false; }
    virtual void updateWindow() {}
    // Brings the window to the front.
    virtual void showWindow() {}
};

// One history window (every one the application makes is an overlay-capable one).
class HistoryWindow {
public:
    // Posted by the controller with the window as object: after one joined its list, before one leaves it.
    static inline const QString wasAddedNotification = QStringLiteral("TEVHistoryWindowControllerWasAdded");
    static inline const QString willBeRemovedNotification = QStringLiteral("TEVHistoryWindowControllerWillBeRemoved");

    virtual ~HistoryWindow() = default;
    virtual QWidget* window() const { return nullptr; }
    virtual bool isWindowVisible() const { return false; }
    virtual void updateWindow() {}
    virtual void syncWindowStateToPreferences() {}
    // Brings the window to the front (an attached overlay stays hidden), respectively hides it.
    virtual void openWindow() {}
    virtual void closeWindow() {}
    virtual bool prefersToBeOpenAtLaunchTime() const { return false; }
    // Whether a saved frame was restored for the window's autosave name.
    virtual bool hasAutosavedPosition() const { return false; }
    // The frame's top-left corner in global Qt coordinates.
    virtual QPoint topLeftWindowPosition() const { return {}; }
    // Puts the frame's top-left corner one cascade step right of and below `topLeft`; answers where it went.
    virtual QPoint cascadeTopLeftFromPoint(const QPoint& topLeft) { return topLeft; }
    // After a change of the sensor update interval: the short-term span follows it.
    virtual void updateForNewTimeScale() {}
    // The exports of the data shown; empty without any.
    virtual QString textRepresentation() const { return {}; }
    virtual QString csvRepresentation() const { return {}; }
};

// What history windows and the compositing inspector ask of the controller about its history windows.
class HistoryWindowRegistry {
public:
    virtual ~HistoryWindowRegistry() = default;
    // In the order of the computer's history window preferences.
    virtual const QList<std::shared_ptr<HistoryWindow>>& historyWindowControllers() const = 0;
    // Null for an empty or unknown identifier.
    virtual std::shared_ptr<HistoryWindow> overlayHistoryWindowControllerForIdentifier(const QString& identifier) const = 0;
};

class CompositingInspector {
public:
    virtual ~CompositingInspector() = default;
    virtual void bindToApplicationController(HistoryWindowRegistry*) {}
    // Brings the panel to the front.
    virtual void openInspector() {}
};

// What the reset of all sensors resets; nothing when the panel was cancelled.
struct GaugeResetChoice {
    bool customNames = false, shortNames = false, spokenNames = false, enabledStates = false, formats = false,
         colors = false;
};

// The probe pane's owner.
class ProbesPane {
public:
    virtual ~ProbesPane() = default;
    virtual QWidget* preferencePaneView() { return nullptr; }
    virtual void setPreferenceWindow(QWidget*) {}
    virtual void useLocalMonitoringClient(const std::shared_ptr<MonitoringClient>&) {}
};

class LCDManager {
public:
    virtual ~LCDManager() = default;
    virtual QWidget* preferencePaneView() { return nullptr; }
    virtual void setPreferenceWindow(QWidget*) {}
    virtual void setApplicationController(ControllerLookups*) {}
    virtual void setLCDModulePreferences(const QVariantMap&) {}
    // Nothing leaves the stored settings as they are.
    virtual std::optional<QVariantMap> lcdModulePreferences() const { return std::nullopt; }
    virtual void rebuildListOfAvailableOutputItems() {}
    virtual void updateContents() {}
    virtual void updateAllDisplaysUsingOutputCache(const ControllerLookups::OutputCache&) {}
    virtual void shutdownAllDisplays() {}
};

// What the preference window reads of the application controller and asks it to do when its controls are
// stored.
class PreferenceWindowOwner {
public:
    virtual ~PreferenceWindowOwner() = default;
    virtual MonitorPreferences* monitorPreferences() const = 0;
    // Null until the local computer's preferences are ready.
    virtual std::shared_ptr<MachinePreferences> localPreferences() const = 0;
    // Null while the local client is relaunched.
    virtual std::shared_ptr<MonitoringClient> localClient() const = 0;
    virtual QList<std::shared_ptr<MonitoringClient>> monitoringClients() const = 0;
    virtual void updateGaugeAlertsChangingTemperatureUnitFrom(qint64 oldUnit, qint64 newUnit) = 0;
    virtual void updateAllOutputChannelsAndCache(bool refill) = 0;
    // After a new main update interval: the history windows' time axes and the update timer follow it.
    virtual void mainUpdateIntervalDidChange() = 0;
    // After a new speech mode: the interval count starts again.
    virtual void voiceSettingDidChange() = 0;

    // What the sensor tables and the gauge outline show and edit in place.
    virtual const QStringList& connectedSensorNames() const = 0;
    // Sorted case-insensitively; each a key of gaugesByComputer.
    virtual const QStringList& localGaugeComputers() const = 0;
    virtual const QMap<QString, QList<std::shared_ptr<TEVGauge>>>& gaugesByComputer() const = 0;
    // Gauges left the local preferences: every client resynchronises.
    virtual void handleConfigurationChange() = 0;
    // One per entry of the local history windows, in the same order.
    virtual QList<std::shared_ptr<HistoryWindow>>& historyWindowControllers() = 0;
    virtual std::shared_ptr<HistoryWindow> makeHistoryWindowController(const std::shared_ptr<HistoryWindowPreferences>& preferences) = 0;

    // The panes' "Default" buttons, by tag: fonts 2000 (window) and 3000 (screen display), label ratios 4000
    // and 5000, backgrounds 2000 (window) and 6000 (the history window selected in the History pane).
    virtual void setWindowDefaultFont(qint64 tag) { (void)tag; }
    virtual void setWindowDefaultLabelRatio(qint64 tag) { (void)tag; }
    virtual void resetWindowBackgroundColor(qint64 tag) { (void)tag; }
    virtual void resetMenuBarFont() {}
};

// The preference window with its toolbar of panes "0" … "10".
class PreferenceWindow {
public:
    virtual ~PreferenceWindow() = default;
    virtual QWidget* window() { return nullptr; }
    // Null unbinds (the controller is going).
    virtual void bindToApplicationController(PreferenceWindowOwner*) {}
    // Brings the window to the front.
    virtual void showWindow() {}
    virtual void setPaneViews(const QStringList& identifiers, const QList<QWidget*>& views) { (void)identifiers, (void)views; }
    // The same with makers of the views, which a window may call only when it makes its panes.
    using PaneViewMaker = std::function<QWidget*()>;
    virtual void setPaneViewMakers(const QStringList& identifiers, const QList<PaneViewMaker>& makers)
    {
        QList<QWidget*> views;
        for (const PaneViewMaker& make : makers)
            views.append(make ? make() : nullptr);
        setPaneViews(identifiers, views);
    }
    virtual void selectPreferencePaneAtIndex(qint64) {}
    virtual void updatePreferenceWindow() {}
    virtual void deselectHistoryWindowTable() {}
    virtual QList<qint64> selectedHistoryWindowRows() const { return {}; }
    // Called when the user closes the window.
    virtual void setWillCloseHandler(std::function<void()>) {}
    // Runs `work` while the wait sheet is shown on the window.
    virtual void runWithWaitSheet(const std::function<void()>& work) { work(); }
};

// The non-modal panel that shows a sensor alert's message.
class AlertPanel {
public:
    virtual ~AlertPanel() = default;
    virtual void showMessage(const QString&) {}
    // The same panel for a notice that is no sensor alert, under its own title.
    virtual void showNotice(const QString& title, const QString& message) { (void)title, showMessage(message); }
};

// Shown while the local computer's sampling is restarted.
class WarningPanel {
public:
    virtual ~WarningPanel() = default;
    virtual void centerAndShow() {}
    virtual void orderOut() {}
};

class SplashWindow {
public:
    virtual ~SplashWindow() = default;
    virtual void show() {}
    virtual void close() {}
};

// Offers the preferences of another computer of the same model; answers its serial number, or null.
class PreferenceImportPanel {
public:
    virtual ~PreferenceImportPanel() = default;
    virtual QString runDialogPanelForMachineSpecifiers(const QList<std::shared_ptr<MachineSpecifier>>&) { return {}; }
    // True when the last run ended without the user's answer: the program quit while the panel was open.
    virtual bool endedWithoutAnswer() const { return false; }
};

// The owner of the remote-connect panel (windows/remote), either program's controller: it receives
// the connection descriptors the user chose. A delegate without the method keeps this base, which drops them.
class RemoteConnectPanelDelegate {
public:
    virtual ~RemoteConnectPanelDelegate() = default;
    // panel:connectToRemoteServices:
    virtual void panel(RemoteConnectPanel* panel, const QList<std::shared_ptr<MonitorConnectionInfo>>& services)
    {
        (void)panel, (void)services;
    }
};

// The remote-connect panel as its owner drives it: made once, on the first command that opens it, then shown
// on every such command.
class RemoteConnectWindow {
public:
    virtual ~RemoteConnectWindow() = default;
    virtual void setDelegate(const std::weak_ptr<RemoteConnectPanelDelegate>&) {}
    virtual void showWindow() {}
};

struct ApplicationWindows {
    std::function<std::shared_ptr<SensorWindow>(qint64 style, const QString& autosaveName)> makeSensorWindow;
    std::function<std::shared_ptr<MonitorWindowFactory>(const QString& className, const QString& title)> makeMonitorWindowFactory;
    // A window bound to the controller and one entry of the local computer's history window preferences.
    std::function<std::shared_ptr<HistoryWindow>(ControllerLookups*, HistoryWindowRegistry*,
                                                 const std::shared_ptr<HistoryWindowPreferences>&)>
        makeHistoryWindow;
    std::function<std::shared_ptr<MinMaxWindow>()> makeMinMaxWindow;
    std::function<std::shared_ptr<SplashWindow>()> makeSplashWindow;
    std::function<std::shared_ptr<PreferenceImportPanel>()> makeImportPanel;
    std::function<std::shared_ptr<platform::StatusItem>()> makeStatusItem;
    std::function<std::shared_ptr<RemoteConnectWindow>()> makeRemoteConnectPanel;
    std::shared_ptr<DockTile> dockTile;
    std::shared_ptr<ConnectionWindow> connectionWindow;
    std::shared_ptr<CompositingInspector> compositingInspector;
    std::shared_ptr<ProbesPane> probesPane;
    std::shared_ptr<LCDManager> lcdManager;
    std::shared_ptr<PreferenceWindow> preferenceWindow;
    std::shared_ptr<WarningPanel> warningPanel;
    std::shared_ptr<AlertPanel> alertPanel;
    std::function<std::optional<GaugeResetChoice>()> runGaugeResetPanel;

    // Every member set, to the do-nothing base of its interface.
    static ApplicationWindows doNothing()
    {
        ApplicationWindows w;
        w.makeSensorWindow = [](qint64, const QString&) { return std::make_shared<SensorWindow>(); };
        w.makeMonitorWindowFactory = [](const QString&, const QString&) { return std::make_shared<MonitorWindowFactory>(); };
        w.makeHistoryWindow = [](ControllerLookups*, HistoryWindowRegistry*, const std::shared_ptr<HistoryWindowPreferences>&) {
            return std::make_shared<HistoryWindow>();
        };
        w.makeMinMaxWindow = [] { return std::make_shared<MinMaxWindow>(); };
        w.makeSplashWindow = [] { return std::make_shared<SplashWindow>(); };
        w.makeImportPanel = [] { return std::make_shared<PreferenceImportPanel>(); };
        w.makeStatusItem = [] { return std::make_shared<platform::StatusItem>(); };
        w.makeRemoteConnectPanel = [] { return std::make_shared<RemoteConnectWindow>(); };
        w.dockTile = std::make_shared<DockTile>();
        w.connectionWindow = std::make_shared<ConnectionWindow>();
        w.compositingInspector = std::make_shared<CompositingInspector>();
        w.probesPane = std::make_shared<ProbesPane>();
        w.lcdManager = std::make_shared<LCDManager>();
        w.preferenceWindow = std::make_shared<PreferenceWindow>();
        w.warningPanel = std::make_shared<WarningPanel>();
        w.alertPanel = std::make_shared<AlertPanel>();
        w.runGaugeResetPanel = [] { return std::optional<GaugeResetChoice>(); };
        return w;
    }
};
