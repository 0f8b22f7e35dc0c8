#pragma once
// TEVUserDefaultsProxy: the user-defaults facade of the preference objects. Every proxy reads and writes
// the program's standard user defaults until the process redirects all proxies to another domain (the Lite
// edition redirects to the main program's domain at start-up). Proxies have no state of their own; the
// redirection is process-wide. Main thread.

#include "platform/foundation/UserDefaults.h"

#include <QString>
#include <QVariant>

#include <memory>

class TEVUserDefaultsProxy {
public:
    // From now on every proxy uses `domain`; a null or empty name returns to the standard user defaults.
    // A name that is no valid domain (holds a '/') is logged; the proxies then read nothing and write
    // nowhere until the next redirection, rather than writing into the wrong domain.
    static void overrideUserDefaultsDomainWith(const QString& domain);
    // The redirected domain; null while the standard user defaults are used.
    static QString overriddenDomain();
    static TEVUserDefaultsProxy standardUserDefaults() { return {}; }

    QVariant objectForKey(const QString& key) const;
    bool boolForKey(const QString& key) const;
    qint64 integerForKey(const QString& key) const;
    float floatForKey(const QString& key) const;

    // Writes stay in memory until synchronize().
    void setObject(const QVariant& value, const QString& key);
    void setBool(bool value, const QString& key);
    void setInteger(qint64 value, const QString& key);
    void setFloat(float value, const QString& key);
    void removeObjectForKey(const QString& key);
    bool synchronize();
    // The file written, why the last synchronize failed (null when it did not), and why the stored file
    // could not be read (null when it could, or is missing): see platform::UserDefaults.
    QString filePath() const;
    QString lastWriteError() const;
    bool lastSynchronizeWroteFile() const;
    QString unreadableReason() const;
    // Where a stored file that could not be read went (see platform::UserDefaults); null when it was fine.
    QString setAsideBadFile();

private:
    // The defaults in use now; null while redirected to an invalid domain.
    static std::shared_ptr<platform::UserDefaults> target();
};
