#include "platform/host/ProcessCount.h"

#include <QFile>

#include <dirent.h>

namespace platform {

std::optional<quint64> ProcessCount::read(const HostRoot& root)
{
    // readdir rather than HostRoot::listDirectory: no sorting and no strings for a few hundred names.
    DIR* dir = opendir(QFile::encodeName(root.path(QStringLiteral("/proc"))).constData());
    if (!dir)
        return std::nullopt;
    quint64 count = 0;
    while (const dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (*name < '1' || *name > '9')
            continue;
        while (*name >= '0' && *name <= '9')
            ++name;
        if (*name == '\0')
            ++count;
    }
    closedir(dir);
    return count;
}

} // namespace platform
