#pragma once
// Workspace: hands URLs and files to the desktop's handlers, launches programs and gives file icons. One
// process-wide workspace (the desktop's unless a test installs a fake); main thread.

#include <QIcon>
#include <QString>
#include <QUrl>

#include <memory>

namespace platform {

class Workspace {
public:
    virtual ~Workspace() = default;

    // False when nothing could take it.
    virtual bool openURL(const QUrl& url) = 0;
    virtual bool openFile(const QString& path) = 0;
    // Why a program was not launched: where it was found (empty when nowhere) and the folders looked in.
    struct LaunchFailure {
        QString foundAt;
        QStringList searched;
    };
    // A program beside the running one ("KelvaroLite" next to "Kelvaro"), else one on the PATH; detached.
    // False when nothing started; `failure` then says why.
    virtual bool launchApplication(const QString& name, LaunchFailure* failure = nullptr) = 0;
    // The executable at `path`, detached, as a new instance.
    virtual bool launchApplicationAtPath(const QString& path) = 0;
    // Null icon when the theme has none for its type.
    virtual QIcon iconForFile(const QString& path) = 0;

    // The freedesktop icon name of a file's type ("inode-directory", "text-plain"); empty for a missing file.
    static QString iconNameForFile(const QString& path);

    static std::shared_ptr<Workspace> shared();
    // Null returns to the desktop workspace.
    static void setShared(std::shared_ptr<Workspace> workspace);
};

// Through the desktop's handler (xdg-open) and programs started with the session's environment (StartedPrograms.h).
class DesktopWorkspace final : public Workspace {
public:
    bool openURL(const QUrl& url) override;
    bool openFile(const QString& path) override;
    bool launchApplication(const QString& name, LaunchFailure* failure = nullptr) override;
    bool launchApplicationAtPath(const QString& path) override;
    QIcon iconForFile(const QString& path) override;

    // Where launchApplication finds `name`; nothing when neither beside us nor on the PATH.
    static std::optional<QString> pathOfApplication(const QString& name);
    // The folders pathOfApplication looks in, in its order: the running program's, then the PATH's.
    static QStringList foldersSearchedForApplications();
};

} // namespace platform
