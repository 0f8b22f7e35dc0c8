#include "tools/kelvaro-dump/Commands.h"

#include "sensors/TEVDisplayInfo.h"

#include <QFile>

namespace dump {

// One display description per file, in the order given; an unreadable or invalid file gives an empty
// dictionary in its place and exit status 1.
int edidCommand(const QStringList& files)
{
    if (files.isEmpty())
        return 2;
    // EDIDs are at most 256 blocks of 128 bytes.
    constexpr qint64 maxBytes = 256 * 128;
    QVariantList descriptions;
    bool allRead = true;
    for (const QString& path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            printError(QStringLiteral("%1: %2").arg(path, file.errorString()));
            allRead = false;
            descriptions.append(QVariantMap{});
            continue;
        }
        const auto display = TEVDisplayInfo::createWithEDID(file.read(maxBytes));
        if (!display) {
            printError(QStringLiteral("%1: no valid EDID base block").arg(path));
            allRead = false;
            descriptions.append(QVariantMap{});
            continue;
        }
        descriptions.append(display->displayDescription());
    }
    printPropertyList(printable(descriptions));
    return allRead ? 0 : 1;
}

} // namespace dump
