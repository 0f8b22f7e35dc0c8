#include "platform/desktop/Sandbox.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <pwd.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <vector>

namespace platform {

std::variant<QString, Sandbox::HomeLookupError> Sandbox::passwordDatabaseHome()
{
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0)
        size = 16384;
    std::vector<char> buffer(static_cast<size_t>(size));
    passwd entry{};
    passwd* found = nullptr;
    int error = 0;
    while ((error = getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found)) == ERANGE && buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (error != 0 || !found)
        return HomeLookupError::NoAccount;
    if (!found->pw_dir || !*found->pw_dir)
        return HomeLookupError::BadPath;
    const QByteArray raw(found->pw_dir);
    const QString home = QString::fromUtf8(raw);
    if (home.toUtf8() != raw)
        return HomeLookupError::BadPath;
    return home;
}

bool Sandbox::hasFlatpakMarker()
{
    return qEnvironmentVariableIsSet("FLATPAK_ID") || QFileInfo::exists(QStringLiteral("/.flatpak-info"));
}

bool Sandbox::hasSnapMarker()
{
    return qEnvironmentVariableIsSet("SNAP") && qEnvironmentVariableIsSet("SNAP_NAME");
}

bool Sandbox::isConfined(const QString& processHome)
{
    if (hasFlatpakMarker() || hasSnapMarker())
        return true;
    const auto home = passwordDatabaseHome();
    if (!std::holds_alternative<QString>(home))
        return true;
    return QDir::cleanPath(std::get<QString>(home)) != QDir::cleanPath(processHome);
}

std::optional<bool> Sandbox::isOnReadOnlyFileSystem(const QString& path)
{
    struct statvfs info {};
    if (statvfs(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return (info.f_flag & ST_RDONLY) != 0;
}

} // namespace platform
