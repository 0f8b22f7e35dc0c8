#pragma once
// Paths: the user's folders as the XDG base-directory and user-dirs conventions place them, and the safe
// replacement of a file: the user's own, through the links the user made, or one at a fixed path.
// Stateless; every call reads the environment afresh, so tests can point the folders elsewhere. Thread-safe.

#include <QByteArray>
#include <QString>

class QIODevice;

namespace platform {

// Success, or why the file could not be written (with the system's reason).
struct FileWriteResult {
    bool ok = false;
    QString error;
    explicit operator bool() const { return ok; }
};

// Where a file really lives, or why it cannot be told.
struct ResolvedFile {
    QString path;
    QString error;
    explicit operator bool() const { return error.isEmpty(); }
};

// A whole regular file, or why not.
struct FileReadResult {
    enum class Status { Missing, Read, Refused };
    Status status = Status::Missing;
    QByteArray bytes;
    QString error; // why Refused: the system's reason, "it is a FIFO, not a file", "it is larger than ..."
};

class Paths {
public:
    // $HOME, else the password database's home folder. No trailing slash.
    static QString homeDirectory();
    // $XDG_DATA_HOME when it is an absolute path, else ~/.local/share.
    static QString dataHome();
    // $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
    static QString configHome();
    // $XDG_DESKTOP_DIR, else the XDG_DESKTOP_DIR line of <config home>/user-dirs.dirs, else the home folder.
    // A configured folder that does not exist (or is no folder) counts as none.
    static QString desktopDirectory();
    // <data home>/<applicationName>/, with the trailing slash; not created here.
    static QString applicationSupportDirectory(const QString& applicationName);

    // Which write, which resolution:
    // - A file of the user's own that the programs rewrite (the preferences, the histories, the battery
    //   numbers, an export the user chose): writeFileThroughLinks, and resolveFileLinks for whatever else
    //   replaces, moves or looks beside it. A link the user made (to a synced folder, say) stays a link and
    //   its target gets the new content.
    // - A fixed name in a folder others can write (/tmp): writeFileSafely, which never follows a link, as
    //   one planted there would send the write anywhere.

    // The file that `path` names once the links at its last component are followed: each link's target is
    // taken against the link's folder (as the system resolves it, linked folders included), through up to
    // 40 links. A name that is no link comes back as given; a link whose target is missing gives that
    // target, which a write creates. A loop, a link into a folder that does not exist, or one to what is no
    // regular file (a device, a folder) is an error.
    static ResolvedFile resolveFileLinks(const QString& path);

    // Replaces the file at `path` with `bytes` so that a reader sees the old or the new content, never a
    // part: a fresh file in the same folder (O_CREAT|O_EXCL|O_NOFOLLOW, `mode` less the umask) is written
    // fully, flushed to disk and renamed over the name. Whatever is at the name (a symlink planted there
    // included) is replaced, never followed. On failure the temporary file is removed.
    static FileWriteResult writeFileSafely(const QString& path, const QByteArray& bytes, int mode = 0644);
    // writeFileSafely on the file resolveFileLinks gives: written beside the link's target and renamed onto
    // it, so that the link stays. Where the links cannot be followed nothing is written.
    static FileWriteResult writeFileThroughLinks(const QString& path, const QByteArray& bytes, int mode = 0644);

    // Up to maxBytes + 1 bytes from the device's position, so that the caller can tell a file over the limit
    // by its size; memory grows with what is read, not with the limit.
    static QByteArray readAtMost(QIODevice& device, qint64 maxBytes);
    // The file at `path` (links followed), opened without waiting: what is no regular file (a FIFO, a device
    // such as /dev/zero, a folder) or holds more than maxBytes is refused unread. Memory grows with the file.
    static FileReadResult readRegularFile(const QString& path, qint64 maxBytes);
};

} // namespace platform
