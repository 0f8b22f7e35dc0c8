#include "platform/desktop/Workspace.h"

#include "platform/desktop/StartedPrograms.h"
#include "platform/foundation/Log.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QStandardPaths>

#include <mutex>
#include <optional>

namespace platform {
namespace {

std::mutex g_mutex;
std::shared_ptr<Workspace> g_workspace;

// Through xdg-open, the desktop's handler that Qt's own opening chooses first, so that the program opened gets
// the environment of the programs this one starts; Qt's, which would pass on this process's own, only where
// there is none.
bool openWithDesktopHandler(const QUrl& url)
{
    const QString handler = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (handler.isEmpty())
        return QDesktopServices::openUrl(url);
    return startProgramDetached(handler, {QString::fromLatin1(url.toEncoded())});
}

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
    return openWithDesktopHandler(url);
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
        return startProgramDetached(info.absoluteFilePath(), {}, info.absolutePath());
    return openWithDesktopHandler(QUrl::fromLocalFile(path));
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
    if (!startProgramDetached(path, {})) {
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
