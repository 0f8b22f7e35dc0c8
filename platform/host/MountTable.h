#pragma once
// MountTable: the mounted file systems of /proc/self/mountinfo, parsed by its separator rather than by
// fixed columns (the optional fields vary), with the kernel's octal escapes undone. Also the volume UUIDs
// and labels of /dev/disk/by-uuid and /dev/disk/by-label. Never touches the mounted file systems
// themselves, so a dead network mount cannot block a caller. Stateless, but for the reading scope below.

#include "platform/foundation/HostRoot.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace platform {

struct MountEntry {
    int mountID = 0;
    int parentID = 0;
    quint32 major = 0; // st_dev of the file system: bind mounts and btrfs subvolumes of one file system share it
    quint32 minor = 0;
    QString root;       // the folder of the file system mounted here ("/" unless a bind mount or subvolume)
    QString mountPoint;
    QStringList mountOptions; // per mount: "rw", "nosuid", "noatime", ...
    QString fileSystemType;   // "ext4", "fuse.sshfs", ...
    QString source;           // "/dev/sda1", "server:/export", "none", ...
    QStringList superOptions; // per file system: "rw", "sync", "errors=remount-ro", ...

    bool hasOption(const QString& option) const { return mountOptions.contains(option) || superOptions.contains(option); }
};

class MountTable {
public:
    // While one is alive on a thread, read() on that thread reads each root's table once and answers the
    // later calls from that reading: an update tick reads the table once, however many probes ask. Scopes
    // may nest; the outermost one keeps the readings. Not to be moved to another thread.
    class ReadingScope {
    public:
        ReadingScope();
        ~ReadingScope();
        ReadingScope(const ReadingScope&) = delete;
        ReadingScope& operator=(const ReadingScope&) = delete;

    private:
        friend class MountTable;
        bool outermost_;
        QHash<QString, std::optional<std::vector<MountEntry>>> tables_; // by root path
    };

    // Nothing when the file is missing. Malformed lines are logged and skipped.
    static std::optional<std::vector<MountEntry>> read(const HostRoot& root);
    static std::vector<MountEntry> parse(const QByteArray& text);
    // Undoes the "\ooo" escapes the kernel writes for space, tab, line feed and backslash (any octal
    // escape is accepted); the bytes are UTF-8.
    static QString unescape(QByteArrayView field);

    // Device node name ("sda1", "dm-0") → volume UUID, and → volume label, from the links of
    // /dev/disk/by-uuid and /dev/disk/by-label. udev writes "\x2f"-style escapes in label names.
    static QHash<QString, QString> volumeUUIDsByDevice(const HostRoot& root);
    static QHash<QString, QString> volumeLabelsByDevice(const HostRoot& root);
    // The device node name of a mount source: "/dev/sda1" → "sda1", a /dev link such as
    // "/dev/mapper/root" → its target ("dm-0"); null for a source that is no /dev path.
    static QString deviceNameOfSource(const HostRoot& root, const QString& source);
};

} // namespace platform
