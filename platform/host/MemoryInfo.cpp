#include "platform/host/MemoryInfo.h"

#include "platform/host/HostText.h"

#include <unistd.h>

namespace platform {

namespace {

const QString memoryFolder = QStringLiteral("/sys/devices/system/memory");

} // namespace

std::optional<quint64> MemoryInfo::installedBytes(const HostRoot& root)
{
    // block_size_bytes is hexadecimal without "0x".
    const auto blockText = hosttext::firstLine(root, memoryFolder + QStringLiteral("/block_size_bytes"));
    bool ok = false;
    const quint64 blockSize = blockText ? blockText->toULongLong(&ok, 16) : 0;
    const auto names = root.listDirectory(memoryFolder);
    if (ok && blockSize > 0 && names) {
        quint64 online = 0;
        for (const QString& name : *names) {
            if (!name.startsWith(QLatin1String("memory")))
                continue;
            if (hosttext::firstLine(root, memoryFolder + QLatin1Char('/') + name + QStringLiteral("/online"))
                == QStringLiteral("1"))
                ++online;
        }
        if (online > 0 && online <= ~quint64(0) / blockSize)
            return online * blockSize;
    }
    return memTotalBytes(root);
}

std::optional<quint64> MemoryInfo::memTotalBytes(const HostRoot& root)
{
    const auto text = root.readTextFile(QStringLiteral("/proc/meminfo"));
    if (!text)
        return std::nullopt;
    for (const QString& line : text->split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("MemTotal:")))
            continue;
        QString value = line.mid(9).trimmed();
        if (!value.endsWith(QLatin1String(" kB")))
            return std::nullopt;
        value.chop(3);
        const auto kilobytes = hosttext::parseUnsigned(value);
        if (!kilobytes || *kilobytes > ~quint64(0) / 1024)
            return std::nullopt;
        return *kilobytes * 1024;
    }
    return std::nullopt;
}

std::optional<quint64> MemoryInfo::optimumFreeBytes(const HostRoot& root, quint64 pageSize)
{
    const auto text = root.readTextFile(QStringLiteral("/proc/zoneinfo"));
    if (!text || pageSize == 0)
        return std::nullopt;
    quint64 pages = 0;
    bool any = false;
    for (const QString& line : text->split(QLatin1Char('\n'))) {
        // "        high     26" is the zone watermark; the per-CPU pagesets' "high:  0" lines are not.
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.size() != 2 || words[0] != QLatin1String("high"))
            continue;
        const auto value = hosttext::parseUnsigned(words[1]);
        if (!value)
            return std::nullopt;
        pages += *value;
        any = true;
    }
    if (!any || pages > ~quint64(0) / pageSize)
        return std::nullopt;
    return pages * pageSize;
}

quint64 MemoryInfo::systemPageSize()
{
    const long size = ::sysconf(_SC_PAGESIZE);
    return size > 0 ? quint64(size) : 4096;
}

} // namespace platform
