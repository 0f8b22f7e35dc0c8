#pragma once
// The operating system's names, version and version code, and the switch for the polite string tables,
// read once per process into one TEVOSVersionInfoCache; and a process's name by its ID. Static members;
// the cache is built on first use, on the main thread, and only read afterwards.

#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>

class TEVOSVersionInfoCache {
public:
    QString osName;
    QString osMarketingName;
    QString osVersion;
    QString osBuild;
    QString osVersionString; // "Version 12 (Build 1234)", the process's own version text
    qint64 osVersionCode = 0x1000;
    bool shouldUIUsePoliteForms = false;
};

class NSProcessInfoTEVAdditions {
public:
    // Reads the version afresh under the current host root.
    static void updateVersionInfo();

    static qint64 operatingSystemVersionCode();
    static QString operatingSystemProductName();
    static QString operatingSystemMarketingName();
    static QString operatingSystemVersionNumberString();
    static QString operatingSystemBuildCode();
    static QString operatingSystemVersionString();
    static bool shouldUIUsePoliteForms();

    // (major / 10) * 0x1000 + (major % 10) * 0x100 + minor * 0x10 + patch from a version text ("10.11.6");
    // a text that starts with no number has major 10; an empty one is 0x1000.
    static qint64 versionCodeForVersionString(const QString& version);
    // "Mac OS X" up to 0x107F, "OS X" up to 0x10BF, "macOS" from 0x10C0.
    static QString marketingNameForVersionCode(qint64 code);

    // Null (and `effectiveUserID` untouched) for a process that does not exist.
    static QString processNameForProcessID(qint32 processID, quint32* effectiveUserID);

private:
    static std::shared_ptr<const TEVOSVersionInfoCache> cache();
};
