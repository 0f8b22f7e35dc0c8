#pragma once
// TEVSoftwareUpdateManager: finds out whether a newer release exists from the product's update
// information (a property list in the maker's repository), and tells the user with an alert on request or
// a user notification after the automatic check, which runs at most once per period. Made by the
// application base at start-up; main thread.

#include "platform/desktop/AlertPresenter.h"
#include "platform/desktop/UserNotificationCenter.h"

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <memory>
#include <optional>

class TEVSoftwareUpdateManager : public platform::UserNotificationCenterDelegate,
                                 public std::enable_shared_from_this<TEVSoftwareUpdateManager> {
public:
    // Update information larger than this is no update information.
    static constexpr qint64 kMaximumUpdateInfoBytes = 256 * 1024;

    // "<repository>/ProductRepository/<identifier, percent-encoded>.plist"; null for an empty identifier.
    static QUrl sourceURLOfUpdateInfoForProductIdentifier(const QString& identifier);
    // Where the repository is: "https://www.tarnwell.com" unless set (tests serve it locally). An invalid
    // URL returns to the default.
    static QUrl repositoryURL();
    static void setRepositoryURL(const QUrl& url);

    static bool userPrefersAutomaticUpdateCheck();
    static void setUserPrefersAutomaticUpdateCheck(bool prefers);
    // Seconds; values below 1 (and NaN) are ignored.
    static double minimumPeriodForAutomaticUpdateCheck();
    static void setMinimumPeriodForAutomaticUpdateCheck(double seconds);

    // Null (after a log line) when no URL can be made or the bundle has no short version.
    static std::shared_ptr<TEVSoftwareUpdateManager> create(const QString& productIdentifier);

    bool hasPerformedCheck() const { return hasPerformedCheck_; }
    bool isRelevantUpdateAvailable() const { return isRelevantUpdateAvailable_; }
    bool isCheckRunning() const { return checkRunning_; }
    double appVersion() const { return appVersion_; }
    QString appVersionString() const { return appVersionString_; }
    QUrl downloadURL() const { return downloadURL_; }
    std::optional<QVariantMap> updateInfo() const { return updateInfo_; }

    // Downloads and validates, waiting for the answer; does nothing while another check runs.
    void runCheck();
    // While a check runs (a request of the user during the automatic check's wait), the alert tells that
    // check's result once it ends.
    void runAlertWithResults();
    void runAutomaticUpdateCheckIfNecessary();
    void showUserNotificationWithResultsIfNecessary();
    // The alert for the current information; nothing unless a check succeeded.
    std::optional<platform::Alert> alertForAvailableUpdate() const;
    QString userNotificationIdentifierForAutomaticUpdates() const;

    QString buildNumber() const;
    QString productName() const;
    QString versionNumber() const;
    QDateTime releaseDate() const;
    quint64 productCode() const;
    qint64 minimumOSVersionCode() const;
    QUrl localizedProductURL() const;
    QString localizedReleaseDateString() const;

    bool userNotificationCenterShouldPresentNotification(platform::UserNotificationCenter& center,
                                                         const platform::UserNotification& notification) override;
    void userNotificationCenterDidActivateNotification(platform::UserNotificationCenter& center,
                                                       const platform::UserNotification& notification) override;

    // The leading number of a text, as a number object reads one ("6.10" is 6.1, "7b" is 7, "x" is 0).
    static double leadingDouble(const QString& text);
    // Versions compared by their dotted components, each by its leading digits ("6.10" is newer than "6.9",
    // "7b" is 7, a missing component is 0): negative, 0 or positive as `a` is older, the same or newer.
    static int compareVersions(const QString& a, const QString& b);

    // `appVersion` is the bundle's short version text.
    TEVSoftwareUpdateManager(QUrl downloadURL, const QString& appVersion); // use create()

private:
    bool validate(const QVariantMap& info) const;
    void fetchAndValidate();
    QString localized(const QString& key) const;
    bool isOwnNotification(const QString& identifier) const;

    bool hasPerformedCheck_ = false;
    bool isRelevantUpdateAvailable_ = false;
    bool checkRunning_ = false;
    bool alertWhenCheckEnds_ = false;
    double appVersion_ = 0;
    QString appVersionString_;
    // The notification last delivered and the page it offers: a later check that fails clears the update
    // information, but a click on the notification still opens its page.
    QString deliveredIdentifier_;
    QUrl deliveredURL_;
    QUrl downloadURL_;
    std::optional<QVariantMap> updateInfo_;
};
