#include "platform/desktop/FileBookmark.h"

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Values.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace platform {
namespace {

std::optional<std::pair<quint64, quint64>> deviceAndInode(const QString& path)
{
    struct stat info {};
    if (stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return std::make_pair(static_cast<quint64>(info.st_dev), static_cast<quint64>(info.st_ino));
}

} // namespace

std::optional<QByteArray> FileBookmark::create(const QString& path)
{
    if (!QDir::isAbsolutePath(path))
        return std::nullopt;
    const QString clean = QDir::cleanPath(path);
    const auto ids = deviceAndInode(clean);
    if (!ids)
        return std::nullopt;
    const QVariantMap plist{{QStringLiteral("Path"), values::fromString(clean)},
                            {QStringLiteral("Device"), values::fromUnsigned(ids->first)},
                            {QStringLiteral("Inode"), values::fromUnsigned(ids->second)}};
    const QByteArray data = writePropertyList(plist, PlistFormat::Binary);
    if (data.isNull())
        return std::nullopt;
    return data;
}

std::optional<QString> FileBookmark::resolve(const QByteArray& data)
{
    PlistLimits limits;
    limits.maxInputBytes = 64 * 1024;
    limits.maxDepth = 2;
    const auto plist = values::toDictionary(readPropertyList(data, limits).value);
    if (!plist)
        return std::nullopt;
    const auto path = values::toString(plist->value(QStringLiteral("Path")));
    const auto device = values::toUnsigned(plist->value(QStringLiteral("Device")));
    const auto inode = values::toUnsigned(plist->value(QStringLiteral("Inode")));
    if (!path || !device || !inode || !QDir::isAbsolutePath(*path))
        return std::nullopt;
    const auto ids = deviceAndInode(*path);
    if (!ids || ids->first != *device || ids->second != *inode)
        return std::nullopt;
    return *path;
}

} // namespace platform
