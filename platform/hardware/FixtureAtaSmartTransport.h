#pragma once
// FixtureAtaSmartTransport: drives served from memory: a simulated computer's "ATA" section, saved pages
// (kelvaro-dump smart) or a test's drives, which it may change at any time. Shared and thread-safe.
//
// Schema of the "ATA" dictionary (unknown keys, wrong types and duplicate keys fail the load):
//   "Drives": dictionary from BSD name ("sda") to a drive dictionary:
//     "Identify", "Data", "Thresholds": data, optional, exactly 512 bytes each (IDENTIFY DEVICE,
//         SMART READ DATA, SMART READ THRESHOLDS); a missing page fails its read
//     "ThresholdExceeded": boolean, optional (default false): what SMART RETURN STATUS answers
//     "Fail": array of operation names, optional: "Open", "Enable", "Status", "Data", "Thresholds",
//         "Identify" fail
//     "TemperatureWander": dictionary, optional: "Amplitude" (°C, 0-50) and "Period" (seconds > 0); raw
//         bytes 0-1 of attribute 194 become the stored value + Amplitude * sin(2π t / Period), rounded and
//         kept within 0-255, t the shared clock's monotonic seconds (deterministic under a manual clock)

#include "platform/hardware/AtaSmartTransport.h"

#include <QHash>
#include <QSet>
#include <QVariantMap>

#include <mutex>

namespace platform {

class SimulatedComputer;

class FixtureAtaSmartTransport final : public AtaSmartTransport {
public:
    enum class Operation { Open, Enable, Status, Data, Thresholds, Identify };

    struct Drive {
        std::optional<QByteArray> identify;
        std::optional<QByteArray> data;
        std::optional<QByteArray> thresholds;
        bool thresholdExceeded = false;
        QSet<Operation> failing;
        double wanderAmplitude = 0;
        double wanderPeriod = 0; // 0: no wander
    };
    struct LoadResult {
        std::shared_ptr<FixtureAtaSmartTransport> transport; // null on failure
        QString error;                                        // names the key path, "ATA.Drives.sda.Data: ..."
    };

    FixtureAtaSmartTransport() = default;
    static LoadResult fromSection(const QVariantMap& ata);
    // The computer's "ATA" section; a computer without one has no drives (an empty transport).
    static LoadResult fromComputer(const SimulatedComputer& computer);

    void setDrive(const QString& bsdName, const Drive& drive);
    std::optional<Drive> drive(const QString& bsdName) const;
    void setFailing(const QString& bsdName, Operation operation, bool failing);
    // Commands that reached a drive (opens excluded), to tell whether a caller touched it.
    int commandCount(const QString& bsdName) const;

    OpenResult open(const QString& bsdName) const override;

    // Answers one command as the drive stands now; nothing when it fails.
    std::optional<QByteArray> answer(const QString& bsdName, Operation operation) const;

private:
    mutable std::mutex mutex_;
    QHash<QString, Drive> drives_;
    mutable QHash<QString, int> commands_;
};

} // namespace platform
