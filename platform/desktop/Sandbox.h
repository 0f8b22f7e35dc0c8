#pragma once
// Sandbox: what the process can tell about its confinement: Flatpak and Snap markers, the home folder the
// password database gives for the real user (a confined process usually sees another $HOME), and whether
// a folder lies on a read-only file system. Stateless; every call looks afresh. Thread-safe.

#include <QString>

#include <optional>
#include <variant>

namespace platform {

class Sandbox {
public:
    enum class HomeLookupError {
        NoAccount, // the real user ID has no readable password-database entry
        BadPath,   // the entry's home folder is empty or no UTF-8 text
    };

    static std::variant<QString, HomeLookupError> passwordDatabaseHome();

    // FLATPAK_ID or /.flatpak-info; SNAP with SNAP_NAME.
    static bool hasFlatpakMarker();
    static bool hasSnapMarker();

    // Confined when a marker is present, or when the password database's home (none counts as differing)
    // is not `processHome` (both compared as clean absolute paths).
    static bool isConfined(const QString& processHome);

    // Nothing when statvfs fails (the path does not exist).
    static std::optional<bool> isOnReadOnlyFileSystem(const QString& path);
};

} // namespace platform
