#include "platform/desktop/Workspace.h"

#include "platform/foundation/Log.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>

#include <mutex>
#include <optional>

namespace platform {
namespace {

std::mutex g_mutex;
std::shared_ptr<Workspace> g_workspace;

} // namespace

QString Workspace::iconNameForFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
    return type.isValid() ? type.iconName() : QString();
}

std::shared_ptr<Workspace> Workspace::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_workspace)
        g_workspace = std::make_shared<DesktopWorkspace>();
    return g_workspace;
}

void Workspace::setShared(std::shared_ptr<Workspace> workspace)
{
    std::lock_guard lock(g_mutex);
    g_workspace = std::move(workspace);
}

bool DesktopWorkspace::openURL(const QUrl& url)
{
    if (!url.isValid()) {
        log("DesktopWorkspace", QStringLiteral("invalid URL '%1'").arg(url.toString()));
        return false;
    }
    return QDesktopServices::openUrl(url);
}

bool DesktopWorkspace::openFile(const QString& path)
{
    if (!QFileInfo::exists(path)) {
        log("DesktopWorkspace", QStringLiteral("no file at '%1'").arg(path));
        return false;
    }
    // A program (a script the user chose to run on an alert) is started; the desktop's handler would open
    // it in an editor instead.
    const QFileInfo info(path);
    if (info.isFile() && info.isExecutable())
        return QProcess::startDetached(info.absoluteFilePath(), {}, info.absolutePath());
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

std::optional<QString> DesktopWorkspace::pathOfApplication(const QString& name)
{
    if (name.isEmpty() || name.contains(QLatin1Char('/')))
        return std::nullopt;
    const QFileInfo sibling(QCoreApplication::applicationDirPath() + QLatin1Char('/') + name);
    if (sibling.isFile() && sibling.isExecutable())
        return sibling.absoluteFilePath();
    const QString onPath = QStandardPaths::findExecutable(name);
    if (!onPath.isEmpty())
        return onPath;
    return std::nullopt;
}

QStringList DesktopWorkspace::foldersSearchedForApplications()
{
    QStringList folders{QCoreApplication::applicationDirPath()};
    for (const QString& folder : qEnvironmentVariable("PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        if (!folders.contains(folder))
            folders.append(folder);
    return folders;
}

bool DesktopWorkspace::launchApplication(const QString& name, LaunchFailure* failure)
{
    const auto path = pathOfApplication(name);
    if (!path) {
        log("DesktopWorkspace", QStringLiteral("no program named '%1'").arg(name));
        if (failure)
            *failure = {{}, foldersSearchedForApplications()};
        return false;
    }
    if (launchApplicationAtPath(*path))
        return true;
    if (failure)
        *failure = {*path, {}};
    return false;
}

bool DesktopWorkspace::launchApplicationAtPath(const QString& path)
{
    if (!QProcess::startDetached(path, {})) {
        log("DesktopWorkspace", QStringLiteral("could not start '%1'").arg(path));
        return false;
    }
    return true;
}

QIcon DesktopWorkspace::iconForFile(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    const QMimeType type = QMimeDatabase().mimeTypeForFile(info);
    return QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName()));
}

} // namespace platform
