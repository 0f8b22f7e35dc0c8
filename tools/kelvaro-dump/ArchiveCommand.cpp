#include "tools/kelvaro-dump/Commands.h"

#include "platform/foundation/ArchiveOptions.h"
#include "platform/foundation/KeyedUnarchiver.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/SequentialUnarchiver.h"
#include "platform/foundation/Values.h"

#include <optional>

using namespace platform;

namespace dump {

namespace {

bool isSequentialArchive(const QByteArray& bytes)
{
    return bytes.size() >= 13 && bytes[0] == 4 && bytes[1] == 11
        && (bytes.mid(2, 11) == "streamtyped" || bytes.mid(2, 11) == "typedstream");
}

std::optional<QVariant> decodeArchive(const QString& path)
{
    UnarchiveOptions options;
    const FileReadResult file = Paths::readRegularFile(path, options.limits.maxInputBytes);
    if (file.status != FileReadResult::Status::Read) {
        printError(QStringLiteral("%1: %2").arg(path, file.status == FileReadResult::Status::Missing ? QStringLiteral("no such file") : file.error));
        return std::nullopt;
    }
    const QByteArray& bytes = file.bytes;
    options.generic = true;
    if (isSequentialArchive(bytes)) {
        const QVariant root = SequentialUnarchiver::unarchiveObjectWithData(bytes, options);
        if (!root.isValid()) {
            printError(QStringLiteral("%1: not a readable sequential archive").arg(path));
            return std::nullopt;
        }
        return printable(root);
    }
    // One reading of the list: a large archive costs its size once.
    const auto unarchiver = KeyedUnarchiver::create(bytes, options);
    if (!unarchiver) {
        const PlistReadResult plist = readPropertyList(bytes);
        const auto envelope = values::toDictionary(plist.value);
        if (!envelope || !envelope->contains(QStringLiteral("$archiver")))
            printError(QStringLiteral("%1: not an archive%2").arg(path, plist.error.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(plist.error)));
        else
            printError(QStringLiteral("%1: not a readable keyed archive").arg(path));
        return std::nullopt;
    }
    QVariantMap top;
    for (const QString& key : unarchiver->topLevelKeys())
        top.insert(key, unarchiver->decodeObjectForKey(key));
    if (unarchiver->hasFailed()) {
        printError(QStringLiteral("%1: not a readable keyed archive").arg(path));
        return std::nullopt;
    }
    // The usual single "root" prints as itself; other archives print every top-level key.
    if (top.size() == 1 && top.contains(QStringLiteral("root")))
        return printable(top.value(QStringLiteral("root")));
    return printable(top);
}

} // namespace

int archiveCommand(const QStringList& files)
{
    if (files.isEmpty())
        return 2;
    QVariantList results;
    bool allRead = true;
    for (const QString& path : files) {
        const auto tree = decodeArchive(path);
        allRead = allRead && tree.has_value();
        if (allRead)
            results.append(*tree);
    }
    // A failure prints no document: a partial one would read as the archive's contents.
    if (!allRead)
        return 1;
    printPropertyList(files.size() == 1 ? results.first() : QVariant(results));
    return 0;
}

} // namespace dump
