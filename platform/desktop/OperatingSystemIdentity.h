#pragma once
// OperatingSystemIdentity: the name and version texts of the operating system, read under a host root:
// the original platform's version file when a simulated computer carries one
// (/System/Library/CoreServices/SystemVersion.plist), else os-release (/etc/os-release, then
// /usr/lib/os-release). A plain value; reading is stateless and thread-safe.

#include "platform/foundation/HostRoot.h"

#include <QMap>
#include <QString>

#include <optional>

namespace platform {

struct OperatingSystemIdentity {
    enum class Source { SystemVersionFile, OsRelease };

    Source source = Source::OsRelease;
    QString productName; // ProductName, or os-release NAME
    QString version;     // ProductVersion, or VERSION_ID ("12", "22.04")
    QString build;       // ProductBuildVersion, or BUILD_ID; empty when absent
    QString prettyName;  // os-release PRETTY_NAME (else NAME); empty for the version file

    // Nothing when neither file exists or can be parsed (a version file that is no dictionary, or an empty one).
    static std::optional<OperatingSystemIdentity> read(const HostRoot& root = *HostRoot::current());
    // The KEY=value lines of an os-release file, quotes and escapes removed; comments and bad lines skipped.
    static QMap<QString, QString> parseOsRelease(const QString& text);
};

} // namespace platform
