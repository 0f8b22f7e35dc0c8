#include "platform/host/VirtualMemoryStatistics.h"

#include <QHash>

#include <charconv>

namespace platform {

namespace {

// "Name:   1234 kB" or "name 1234" lines as name → number; the unit is left to the caller.
QHash<QByteArray, quint64> parseTable(const QByteArray& text)
{
    QHash<QByteArray, quint64> table;
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype space = line.indexOf(' ');
        if (space <= 0)
            continue;
        QByteArray name = line.left(space);
        if (name.endsWith(':'))
            name.chop(1);
        const QByteArray rest = line.mid(space).trimmed();
        quint64 value = 0;
        const char* begin = rest.constData();
        const auto [next, error] = std::from_chars(begin, begin + rest.size(), value);
        if (error == std::errc() && next != begin)
            table.insert(name, value);
    }
    return table;
}

} // namespace

std::optional<VirtualMemoryStatistics> VirtualMemoryStatistics::read(const HostRoot& root)
{
    const auto meminfo = root.readFile(QStringLiteral("/proc/meminfo"));
    if (!meminfo)
        return std::nullopt;
    return parse(*meminfo, root.readFile(QStringLiteral("/proc/vmstat")));
}

std::optional<VirtualMemoryStatistics> VirtualMemoryStatistics::parse(const QByteArray& meminfo,
                                                                      const std::optional<QByteArray>& vmstat)
{
    const auto table = parseTable(meminfo);
    // meminfo counts kibibytes.
    const auto bytes = [&table](const char* name) { return table.value(QByteArray(name)) * 1024; };
    for (const char* required : {"MemFree", "Active", "Inactive"}) {
        if (!table.contains(QByteArray(required)))
            return std::nullopt;
    }
    VirtualMemoryStatistics result;
    result.freeBytes = bytes("MemFree");
    result.activeBytes = bytes("Active");
    result.inactiveBytes = bytes("Inactive");
    // Older kernels lack some of these; a missing part counts as none.
    result.wiredBytes = bytes("Unevictable") + bytes("SUnreclaim") + bytes("KernelStack") + bytes("PageTables");
    result.swapTotalBytes = bytes("SwapTotal");
    result.swapFreeBytes = bytes("SwapFree");
    if (vmstat) {
        const auto events = parseTable(*vmstat);
        if (const auto it = events.constFind("pgmajfault"); it != events.constEnd())
            result.pageIns = *it;
        if (const auto it = events.constFind("pswpout"); it != events.constEnd())
            result.pageOuts = *it;
    }
    return result;
}

} // namespace platform
