#pragma once
// Parsers of the small text formats that procfs, sysfs and /etc files use. Pure functions; any thread.

#include "platform/foundation/HostRoot.h"

#include <QMap>
#include <QString>

#include <optional>

namespace platform::hosttext {

// The file's first line without surrounding white space; nothing when the file is missing.
std::optional<QString> firstLine(const HostRoot& root, const QString& path);
// Shell-style KEY=value lines (os-release, machine-info): quotes and backslash escapes removed, comments and
// malformed lines skipped; a later key replaces an earlier one.
QMap<QString, QString> parseAssignments(const QString& text);
// A decimal number; nothing for anything else (no sign, no trailing text besides white space).
std::optional<quint64> parseUnsigned(const QString& text);
// A sysfs size such as "32K", "8192K", "6M" or "512" (bytes); nothing when malformed or too large.
std::optional<quint64> parseSize(const QString& text);
// A sysfs CPU list ("0-3,5,7-8") as the number of CPUs it names; nothing when malformed.
std::optional<int> countCpuList(const QString& text);

} // namespace platform::hosttext
