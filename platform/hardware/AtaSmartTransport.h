#pragma once
// AtaSmartTransport: the ATA S.M.A.R.T. commands of one drive, reached by its BSD name ("sda"). open() gives
// a connection that lives for one operation of its caller; the drive is not held between operations. The
// live backend is SG_IO ATA PASS-THROUGH, the fixture backend serves a simulated computer's pages. A
// transport is shared and thread-safe; a connection belongs to the one thread that opened it.

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

namespace platform {

class AtaSmartConnection {
public:
    static constexpr int PageSize = 512;

    virtual ~AtaSmartConnection() = default;
    // SMART ENABLE OPERATIONS.
    virtual bool enableOperations() = 0;
    // SMART RETURN STATUS: true when a threshold is exceeded; nothing when the drive did not answer.
    virtual std::optional<bool> returnStatus() = 0;
    // SMART READ DATA, SMART READ THRESHOLDS and IDENTIFY DEVICE: exactly PageSize bytes each.
    virtual std::optional<QByteArray> readData() = 0;
    virtual std::optional<QByteArray> readThresholds() = 0;
    virtual std::optional<QByteArray> identify() = 0;
};

class AtaSmartTransport {
public:
    struct OpenResult {
        std::unique_ptr<AtaSmartConnection> connection; // null on failure
        int error = 0;                                  // errno value when it failed (ENODEV: no such drive)
    };

    virtual ~AtaSmartTransport() = default;
    virtual OpenResult open(const QString& bsdName) const = 0;

    // The transport set last, else the selected simulated computer's drives (none when its "ATA" section is
    // absent or fails to load, which is logged once), else the live pass-through under the current host
    // root. Never null.
    static std::shared_ptr<const AtaSmartTransport> shared();
    // Null returns to the automatic choice.
    static void setShared(std::shared_ptr<const AtaSmartTransport> transport);

    // A BSD name is one path component of letters, digits and '_' ("sda", "nvme0n1"); anything else
    // would let a registry property steer the open elsewhere.
    static bool isValidBsdName(const QString& name);
};

} // namespace platform
