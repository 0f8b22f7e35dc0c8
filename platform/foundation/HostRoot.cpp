#include "platform/foundation/HostRoot.h"

#include "platform/foundation/Log.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace platform {
namespace {

std::mutex& currentMutex()
{
    static std::mutex m;
    return m;
}

std::shared_ptr<const HostRoot>& currentRoot()
{
    static std::shared_ptr<const HostRoot> root;
    return root;
}

std::shared_ptr<const HostRoot> rootFromEnvironment()
{
    const QString simulated = qEnvironmentVariable("KELVARO_SIMULATED_COMPUTER");
    const QString hostRoot = qEnvironmentVariable("KELVARO_HOST_ROOT");
    if (!simulated.isEmpty()) {
        if (!hostRoot.isEmpty())
            log("HostRoot", QStringLiteral("KELVARO_HOST_ROOT is ignored while KELVARO_SIMULATED_COMPUTER is set"));
        return std::make_shared<HostRoot>(simulated + QStringLiteral("/root"));
    }
    if (!hostRoot.isEmpty())
        return std::make_shared<HostRoot>(hostRoot);
    return std::make_shared<HostRoot>();
}

} // namespace

HostRoot::HostRoot(const QString& root)
    : root_(root.isEmpty() ? QStringLiteral("/") : QDir::cleanPath(QDir(root).absolutePath()))
{
}

QString HostRoot::path(const QString& absolute) const
{
    // ".." is resolved textually and stops at "/" (QDir::cleanPath keeps a leading "/..").
    QStringList parts;
    for (const QString& part : absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (part == QLatin1String("..")) {
            if (!parts.isEmpty())
                parts.removeLast();
        } else if (part != QLatin1String("."))
            parts.append(part);
    }
    const QString clean = QLatin1Char('/') + parts.join(QLatin1Char('/'));
    if (isLive())
        return clean;
    return clean == QLatin1String("/") ? root_ : root_ + clean;
}

std::optional<QByteArray> HostRoot::readFile(const QString& absolute, qsizetype maxBytes) const
{
    const int fd = ::open(QFile::encodeName(path(absolute)).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray bytes;
    char chunk[16384];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || bytes.size() + n > maxBytes) {
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0)
            break;
        bytes.append(chunk, n);
    }
    ::close(fd);
    return bytes;
}

std::optional<QString> HostRoot::readTextFile(const QString& absolute) const
{
    const std::optional<QByteArray> bytes = readFile(absolute);
    if (!bytes)
        return std::nullopt;
    return QString::fromUtf8(*bytes);
}

std::optional<QStringList> HostRoot::listDirectory(const QString& absolute) const
{
    DIR* dir = ::opendir(QFile::encodeName(path(absolute)).constData());
    if (!dir)
        return std::nullopt;
    QStringList names;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (qstrcmp(name, ".") == 0 || qstrcmp(name, "..") == 0)
            continue;
        names.append(QFile::decodeName(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), naturalLess);
    return names;
}

std::optional<QString> HostRoot::readLink(const QString& absolute) const
{
    const QByteArray link = QFile::encodeName(path(absolute));
    QByteArray target(4096, Qt::Uninitialized);
    const ssize_t n = ::readlink(link.constData(), target.data(), size_t(target.size()));
    if (n < 0 || n >= target.size())
        return std::nullopt;
    target.truncate(n);
    return QFile::decodeName(target);
}

bool HostRoot::naturalLess(const QString& a, const QString& b)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            // Compare the numbers without converting them, so runs of any length work.
            qsizetype si = i;
            qsizetype sj = j;
            while (si < a.size() && a[si] == QLatin1Char('0'))
                ++si;
            while (sj < b.size() && b[sj] == QLatin1Char('0'))
                ++sj;
            qsizetype ei = si;
            qsizetype ej = sj;
            while (ei < a.size() && a[ei].isDigit())
                ++ei;
            while (ej < b.size() && b[ej].isDigit())
                ++ej;
            if (ei - si != ej - sj)
                return ei - si < ej - sj;
            for (qsizetype k = 0; k < ei - si; ++k) {
                if (a[si + k] != b[sj + k])
                    return a[si + k] < b[sj + k];
            }
            // Equal numbers: fewer leading zeros first, so the order stays total ("1" < "01").
            if (si - i != sj - j)
                return si - i < sj - j;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::shared_ptr<const HostRoot> HostRoot::current()
{
    std::lock_guard lock(currentMutex());
    std::shared_ptr<const HostRoot>& root = currentRoot();
    if (!root)
        root = rootFromEnvironment();
    return root;
}

void HostRoot::setCurrent(std::shared_ptr<const HostRoot> root)
{
    std::lock_guard lock(currentMutex());
    currentRoot() = std::move(root);
}

} // namespace platform
