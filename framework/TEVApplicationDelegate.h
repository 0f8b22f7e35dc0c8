#pragma once
// TEVApplicationDelegate: the generic application base. Each program's controller derives from it and is
// the application's delegate: product identity, the start-up set-up, polite localisation, the
// user-notification delegate that fans calls out by identifier, standard menu actions, and the sandbox and
// file-access services. Made as a shared_ptr by the program's entry; main thread only.

#include "platform/desktop/UserNotificationCenter.h"
#include "platform/foundation/Error.h"

#include <QHash>
#include <QIcon>
#include <QString>
#include <QUrl>

#include <memory>
#include <mutex>
#include <optional>

class TEVSimpleCustomerSiteLogger;
class TEVSoftwareUpdateManager;

class TEVApplicationDelegate : public platform::UserNotificationCenterDelegate,
                               public std::enable_shared_from_this<TEVApplicationDelegate> {
public:
    static inline const QString kStringTable = QStringLiteral("TEVApplicationSupport");

    // The application's delegate; null before the program's entry set one.
    static std::shared_ptr<TEVApplicationDelegate> applicationDelegate();
    static void setApplicationDelegate(std::shared_ptr<TEVApplicationDelegate> delegate);

    TEVApplicationDelegate();
    ~TEVApplicationDelegate() override;

    // Identity and set-up
    void setInternationalApplicationName(const QString& name, quint64 product, quint64 version,
                                         const QString& rfc2396FeedbackSubject, const QString& updateRepositoryName);
    void setupApplicationSupport();
    // "Version 1.2 (Build 34)"; null when the bundle has no short version.
    QString presentedVersion() const;

    QString applicationName() const;
    void setApplicationName(const QString& name);
    quint64 productCode() const { return productCode_; }
    void setProductCode(quint64 code) { productCode_ = code; }
    quint64 versionCode() const { return versionCode_; }
    void setVersionCode(quint64 code) { versionCode_ = code; }
    QString feedbackSubject() const;
    void setFeedbackSubject(const QString& subject);
    QString updateRepositoryName() const;
    void setUpdateRepositoryName(const QString& name);
    // The first OS version code the program refuses to run on; 0 = no limit.
    quint64 maximumOSVersionCode() const { return maximumOSVersionCode_; }
    void setMaximumOSVersionCode(quint64 code) { maximumOSVersionCode_ = code; }
    qint64 startLog() const { return startLog_; }
    const QHash<QString, std::shared_ptr<platform::UserNotificationCenterDelegate>>& userNotificationCenterDelegatesByIdentifier() const
    {
        return delegatesByIdentifier_;
    }
    std::shared_ptr<TEVSoftwareUpdateManager> updateManager() const { return updateManager_; }
    std::shared_ptr<TEVSimpleCustomerSiteLogger> simpleCustomerSiteLogger() const { return simpleCustomerSiteLogger_; }
    void setSimpleCustomerSiteLogger(std::shared_ptr<TEVSimpleCustomerSiteLogger> logger) { simpleCustomerSiteLogger_ = std::move(logger); }

    // The program's folder, which stands for its bundle (default: the running executable's folder).
    QString bundlePath() const { return bundlePath_; }
    void setBundlePath(const QString& path) { bundlePath_ = path; }

    // Localisation: the "<table>-Polite" table ("Localizable-Polite" for none) when the system asks for
    // polite forms and the main bundle has it, else `table`.
    QString localizedUIPolitenessAgnosticStringForKey(const QString& key, const QString& value = {},
                                                      const QString& table = {}) const;

    // User-notification multiplexing: the delegate is kept alive while registered.
    void registerAsMultiplexedDelegate(std::shared_ptr<platform::UserNotificationCenterDelegate> delegate,
                                       const QString& identifier);
    void deregisterMultiplexedDelegateForUserNotificationsWithIdentifier(const QString& identifier);
    void userNotificationCenterDidDeliverNotification(platform::UserNotificationCenter& center,
                                                      const platform::UserNotification& notification) override;
    void userNotificationCenterDidActivateNotification(platform::UserNotificationCenter& center,
                                                       const platform::UserNotification& notification) override;
    bool userNotificationCenterShouldPresentNotification(platform::UserNotificationCenter& center,
                                                         const platform::UserNotification& notification) override;

    // Environment
    // True when the folder holding the bundle has a ".BG" folder and lies on a read-only file system.
    bool isApplicationRunningFromDistributionImage() const;
    void runApplicationLocationAlert();
    static platform::Error errorForWindowResumeFailure();
    static QIcon computerIcon();
    // ~/Applications, where "Copy automatically" puts the program.
    static QString applicationsFolder();

    // Menu actions
    void checkForSoftwareUpdate();
    void contactAuthor();
    void contactWebSite();

    // Sandbox and file access
    bool isRunningInSandbox() const;
    QString pathOfTrueHomeFolder() const;
    void beginNonTerminableOperation(const QString& reason);
    void endNonTerminableOperation(const QString& reason);
    int nonTerminableOperationCount() const { return static_cast<int>(nonTerminableReasons_.size()); }
    // A URL the program may read for an existing object the user confirms once; the grant is kept under
    // `key` in the standard user defaults. Null when the user cancels or the object cannot be read.
    std::optional<QUrl> safetyURLForEntitledAccessToExistingObjectAtURL(const QUrl& url, bool asFolder, const QString& key,
                                                                        const QString& localizedDescription);
    static bool canReadFileSystemObjectAtURL(const QUrl& url);

protected:
    // Asks the application to quit and ends the process with status 0. Tests override it.
    virtual void terminate();

private:
    QString localized(const QString& key) const { return localizedUIPolitenessAgnosticStringForKey(key, {}, kStringTable); }
    void logStart(const QString& line) const;
    void showAddressThatCouldNotBeOpened(const QString& message, const QString& address) const;
    bool copyBundleTo(const QString& destination, QString* error) const;

    mutable std::mutex mutex_; // the string properties
    QString applicationName_ = QStringLiteral("TEV Generic Application");
    quint64 productCode_ = 1;
    quint64 versionCode_ = 256;
    QString feedbackSubject_ = QStringLiteral("Default%20Subject");
    QString updateRepositoryName_ = QStringLiteral("");
    quint64 maximumOSVersionCode_ = 0;
    qint64 startLog_ = 0;
    QHash<QString, std::shared_ptr<platform::UserNotificationCenterDelegate>> delegatesByIdentifier_;
    std::shared_ptr<TEVSoftwareUpdateManager> updateManager_;
    std::shared_ptr<TEVSimpleCustomerSiteLogger> simpleCustomerSiteLogger_;
    QString bundlePath_;
    QStringList nonTerminableReasons_;
};
