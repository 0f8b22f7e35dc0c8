#pragma once
// TEVSimpleCustomerSiteLogger: the opt-in diagnostic report, a numbered text file on the Desktop (in /tmp
// when sandboxed) with the lines of the logs whose subsystem or category the user switched on ("SCSLEnable"
// in the user defaults, or in <Desktop>/<bundle identifier>.plist). One shared instance; main thread.

#include "platform/foundation/NotificationCenter.h"

#include <QHash>
#include <QSet>
#include <QString>

#include <cstdio>
#include <memory>

class TEVSimpleCustomerSiteLogger {
public:
    static std::shared_ptr<TEVSimpleCustomerSiteLogger> sharedLogger();
    // Drops the shared instance (the next sharedLogger() reads the activation again).
    static void resetSharedLogger();

    TEVSimpleCustomerSiteLogger();
    virtual ~TEVSimpleCustomerSiteLogger();
    TEVSimpleCustomerSiteLogger(const TEVSimpleCustomerSiteLogger&) = delete;
    TEVSimpleCustomerSiteLogger& operator=(const TEVSimpleCustomerSiteLogger&) = delete;

    bool isEnabled() const { return enabled_; }
    bool isLogFileDisabled() const { return logFileDisabled_; }
    const QSet<QString>& activeSubsystems() const { return activeSubsystems_; }
    const QSet<QString>& activeCategories() const { return activeCategories_; }
    qint64 lastTag() const { return lastTag_; }
    void setLastTag(qint64 tag) { lastTag_ = tag; }
    bool hasLogFile() const { return logFile_ != nullptr; }
    // The open report's path; empty before the first written line.
    QString logFilePath() const { return logFilePath_; }

    bool isLoggingActiveForSubsystem(const QString& subsystem) const;
    bool isLoggingActiveForCategory(const QString& category) const;
    // "<subsystem>-<category>"; null when either is empty.
    static QString logIdentifierForSubsystem(const QString& subsystem, const QString& category);

    // A tag for the log (the same one when it is open already), or -1 when neither name is active.
    qint64 beginLoggingForSubsystem(const QString& subsystem, const QString& category);
    void endLoggingWithTag(qint64 tag);
    // Tag 0 is the log "General". The caller guarantees the message holds no private data.
    void log(qint64 tag, const QString& privacySafeMessageLine);
    void synchronizeLog();

    // Exclusively created, never through a link: "<name>-Report.txt", else "<name>-Report <n>.txt".
    std::FILE* createNewLogFile();
    // <Desktop>/<bundle identifier>.plist; null without a bundle identifier.
    static QString pathOfActivationFile();

    void applicationWillTerminate();

private:
    void closeLogFile();

    bool enabled_ = false;
    bool logFileDisabled_ = false;
    QSet<QString> activeSubsystems_;
    QSet<QString> activeCategories_;
    QHash<QString, qint64> logTagsByIdentifiers_;
    QHash<qint64, QString> identifiersByLogTags_;
    QHash<QString, quint64> linesByIdentifiers_;
    qint64 lastTag_ = 0;
    std::FILE* logFile_ = nullptr;
    QString logFilePath_;
    bool reportedCreateFailure_ = false;
    platform::ObserverToken terminateObserver_;
};
