#pragma once
// HostRoot: the folder under which every host reader opens /proc, /sys, /etc and /dev paths ("/" on the
// live machine, <computer>/root for a simulated computer). Values are immutable and shared; the process-wide
// current root is chosen by setCurrent or, until then, by the environment. Thread-safe.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace platform {

class HostRoot {
public:
    explicit HostRoot(const QString& root = QStringLiteral("/"));

    QString root() const { return root_; }
    bool isLive() const { return root_ == QLatin1String("/"); }

    // The path that reads `absolute` ("/sys/block") under this root. ".." components are resolved first, so
    // a path cannot climb out of the root.
    QString path(const QString& absolute) const;

    // The whole file (bounded by maxBytes; procfs and sysfs files report no size, so they are read to EOF).
    // Nothing when it is missing, unreadable or larger than maxBytes.
    std::optional<QByteArray> readFile(const QString& absolute, qsizetype maxBytes = 16 * 1024 * 1024) const;
    // The file as UTF-8 text.
    std::optional<QString> readTextFile(const QString& absolute) const;
    // The entry names of a folder without "." and "..", in natural order ("sda2" before "sda10"). Nothing
    // when it is no readable folder.
    std::optional<QStringList> listDirectory(const QString& absolute) const;
    // The text of a symbolic link, as stored (sysfs links are relative).
    std::optional<QString> readLink(const QString& absolute) const;

    // Natural order of sysfs names: runs of digits compare by their number, the rest character by character.
    static bool naturalLess(const QString& a, const QString& b);

    // The root of this process: the one set last, else KELVARO_SIMULATED_COMPUTER=<dir> (the root is
    // <dir>/root), else KELVARO_HOST_ROOT=<dir>, else "/". Never null.
    static std::shared_ptr<const HostRoot> current();
    // Null returns to the environment's choice.
    static void setCurrent(std::shared_ptr<const HostRoot> root);

private:
    QString root_;
};

} // namespace platform
