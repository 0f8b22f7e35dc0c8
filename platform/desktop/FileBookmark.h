#pragma once
// FileBookmark: lasting data that finds a file or folder again across launches (what a confined program
// keeps for an object the user granted once). A binary property list {"Path", "Device", "Inode"}: it
// resolves while the same object (same device and inode) is at the path. Stateless; thread-safe.

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

class FileBookmark {
public:
    // Nothing for a relative path or a missing object.
    static std::optional<QByteArray> create(const QString& path);
    // The object's path; nothing for malformed data, a missing object or another object at the path.
    static std::optional<QString> resolve(const QByteArray& data);
};

} // namespace platform
