#pragma once
// lite::AppController: the application delegate of KelvaroLite, the tray-only edition. It runs on the
// shared controller core, reads Kelvaro's preferences (never writes them), shows its values in the tray with
// a menu of commands, raises alerts, and hands over to Kelvaro. Made once by the program's entry; main thread.

#include "app/controller/ControllerCore.h"
#include "platform/desktop/StatusItem.h"

#include <functional>

namespace platform {
class DistributedNotificationCenter;
}

namespace lite {

// Shown when Kelvaro announces that it has written its preferences.
class PreferenceNoticePanel {
public:
    virtual ~PreferenceNoticePanel() = default;
    virtual void centerAndShow(const QString& title) { (void)title; }
};

// One fixed command of the tray menu; an empty title is a separator.
struct MenuCommand {
    QString title;
    std::function<void()> run;
};

struct LiteWindows {
    std::function<std::shared_ptr<platform::StatusItem>()> makeStatusItem;
    // The remote-connect panel, made on the first "Connect to Remote Computer...".
    std::function<std::shared_ptr<RemoteConnectWindow>()> makeRemoteConnectPanel;
    std::shared_ptr<ConnectionWindow> connectionWindow;
    std::shared_ptr<AlertPanel> alertPanel;
    std::shared_ptr<PreferenceNoticePanel> preferenceNoticePanel;
    std::shared_ptr<WarningPanel> warningPanel;
};

class AppController : public ControllerCore {
public:
    static inline const QString kPleaseWait = QStringLiteral("*** PLEASE WAIT ***");
    static inline const QString kLiteIcon = QStringLiteral("LiteIcon");
    static inline const QString kBigSibling = QStringLiteral("Kelvaro");

    // Members left unset do nothing.
    explicit AppController(LiteWindows windows = {});
    ~AppController() override;

    // Kelvaro's domain: the bundle identifier cut at its first ".lite"; null unless it ends with ".lite".
    static QString masterPreferencesDomainForIdentifier(const QString& identifier);
    static QString masterPreferencesDomain();

    // The notice observer's centre (default: the process's); set before will-finish-launching.
    void setNotificationCenter(platform::DistributedNotificationCenter* center) { center_ = center; }
    // How the process ends on a bundle identification error (default: std::exit).
    void setTerminator(std::function<void(int status)> terminate) { terminate_ = std::move(terminate); }
    // The normal quit of the application (default: QCoreApplication::quit).
    void setQuitHandler(std::function<void()> quit) { quit_ = std::move(quit); }

    // --- Life --------------------------------------------------------------------------------------------
    void applicationWillFinishLaunching();
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    void masterPreferencesDidChange(const QString& object);
    virtual bool isLocalMachineSupported() const;
    void openNoPrefsDialog();
    void clientHasBecomeReady(const ClientPtr& client) override;
    void completeInitializationOfLocalClient();
    void readOrCreateLocalMachinePreferences();

    // --- Clients and the update cycle -----------------------------------------------------------------
    void removeClient(const ClientPtr& client) override;
    void handleConfigurationChangeOnClient(const ClientPtr& client) override;
    void updateAllOutputChannelsAndCache(bool refill) override;
    QList<std::shared_ptr<TEVGauge>> activeGaugesForConnectedClient(const ClientPtr& client) const override;
    void rescanLocalClientForSensors();

    // --- Tray, alerts, hand-over ---------------------------------------------------------------------------
    void updateMenuBarDisplay();
    void raiseAlertForSensorWithIdentifier(const QString& identifier, double value, bool isHigh) override;
    void launchBigSibling();
    // The eight items below the value lines, in menu order.
    QList<MenuCommand> menuCommands();
    std::shared_ptr<platform::StatusItem> statusItem() const { return statusItem_; }

protected:
    const char* className() const override { return "AppController"; }
    std::shared_ptr<RemoteConnectWindow> makeRemoteConnectPanel() override
    {
        return windows_.makeRemoteConnectPanel ? windows_.makeRemoteConnectPanel() : nullptr;
    }

private:
    // False (after the log line and the terminator) when the bundle has no Lite identifier.
    bool redirectToMasterDomain();
    std::shared_ptr<platform::StatusItem> makeStatusItem();

    LiteWindows windows_;
    std::shared_ptr<platform::StatusItem> statusItem_;
    platform::DistributedNotificationCenter* center_ = nullptr;
    platform::ObserverToken noticeObserver_;
    std::function<void(int)> terminate_;
    std::function<void()> quit_;
    // The value-line count of the menu last built; -1 before the first.
    qsizetype menuValueLines_ = -1;
    bool updating_ = false;
};

} // namespace lite
