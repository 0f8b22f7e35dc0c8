#pragma once
// SimulatedComputer: a computer read from fixtures/computers/<name>/: computer.plist holds what has no Linux
// source (registry entries, SMC key table, ATA pages, idle time, machine facts) and root/ is the host root
// its procfs/sysfs/etc readers use. Loaded strictly; immutable once loaded and shared by every backend that
// reads it. The process-wide selection is thread-safe.

#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

namespace platform {

class SimulatedComputer {
public:
    struct LoadResult {
        std::shared_ptr<const SimulatedComputer> computer; // null on failure
        QString error;                                     // names the key path, e.g. "Registry[2]: ..."
    };

    // The largest computer.plist read: ours are a few hundred KiB, a real machine's registry, SMC table and
    // drive pages together stay far below this.
    static constexpr qsizetype kMaximumPlistBytes = 8 * 1024 * 1024;
    static constexpr qsizetype kMaximumValues = 1000 * 1000;

    // Reads <directory>/computer.plist (at most kMaximumPlistBytes) and requires <directory>/root/ to be a
    // folder. Every top-level key is optional; an unknown key, a value of the wrong type or a key given twice
    // fails the load. The sections are kept as they are for the loaders of the backends that read them.
    static LoadResult load(const QString& directory);
    // The same checks on a dictionary built in code; `directory` only places the host root.
    static LoadResult fromDictionary(const QVariantMap& plist, const QString& directory);

    QString directory() const { return directory_; }
    QString rootDirectory() const { return directory_ + QStringLiteral("/root"); }

    QString name() const;        // "Name", empty when absent
    QString description() const; // "Description"
    // The raw sections; absent ones are nothing.
    std::optional<QVariantList> registry() const;  // "Registry": array of dictionaries
    std::optional<QVariantMap> smc() const;        // "SMC"
    std::optional<QVariantMap> ata() const;        // "ATA"
    std::optional<double> idleTime() const;        // "IdleTime", seconds
    std::optional<QVariantMap> machine() const;    // "Machine"
    const QVariantMap& propertyList() const { return plist_; }

    // The computer the backends read instead of the live machine: the one set last, else the one
    // KELVARO_SIMULATED_COMPUTER names (loaded once; a failed load is logged once and gives null), else null.
    static std::shared_ptr<const SimulatedComputer> current();
    // True when a simulated computer is selected even if it failed to load: backends then read nothing
    // rather than the live machine.
    static bool isSelected();
    // Selects `computer` and makes its root the current HostRoot; null returns both to the environment.
    static void setCurrent(std::shared_ptr<const SimulatedComputer> computer);

private:
    SimulatedComputer(QString directory, QVariantMap plist);

    QString directory_;
    QVariantMap plist_;
};

} // namespace platform
