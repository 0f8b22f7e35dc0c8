#include "platform/desktop/ProcessTable.h"

namespace platform {

std::optional<ProcessEntry> ProcessTable::find(qint32 processID, const HostRoot& root)
{
    if (processID <= 0)
        return std::nullopt;
    const QString folder = QStringLiteral("/proc/%1/").arg(processID);
    const auto stat = root.readFile(folder + QStringLiteral("stat"), 64 * 1024);
    const auto status = root.readTextFile(folder + QStringLiteral("status"));
    if (!stat || !status)
        return std::nullopt;
    // "pid (comm) state ...": the name may itself hold ") ", so it ends at the last parenthesis.
    const qsizetype open = stat->indexOf('(');
    const qsizetype close = stat->lastIndexOf(')');
    if (open < 0 || close < open)
        return std::nullopt;
    ProcessEntry entry;
    entry.name = QString::fromUtf8(stat->mid(open + 1, close - open - 1));
    // "Uid:\treal\teffective\tsaved\tfilesystem"
    bool haveUid = false;
    const QStringList lines = status->split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        if (!line.startsWith(QLatin1String("Uid:")))
            continue;
        const QStringList ids = line.mid(4).split(QLatin1Char('\t'), Qt::SkipEmptyParts);
        if (ids.size() >= 2)
            entry.effectiveUserID = ids.at(1).trimmed().toUInt(&haveUid);
        break;
    }
    if (!haveUid)
        return std::nullopt;
    return entry;
}

} // namespace platform
