#pragma once
// SoftwareRaidArrays: the Linux md arrays of /sys/block/md*/md, with their names from udev. Every call reads
// the host anew. Stateless.

#include "platform/foundation/HostRoot.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace platform {

struct SoftwareRaidArray {
    QString device;     // "md0"
    QString name;       // udev MD_DEVNAME ("data" for /dev/md/data), else the device name
    QString level;      // md/level: "raid1", "raid0", "linear", "raid5", ...
    QString uuid;       // md/uuid, else udev MD_UUID; null when neither is known
    QString arrayState; // md/array_state: "clean", "active", "degraded" is not a state, see `degraded`
    std::optional<int> degraded; // md/degraded: members missing from a redundant array
    QStringList members;         // the "dev-<name>" folders of md/, as "sda1"

    // The states in which the array serves I/O with all its members.
    bool isOnline() const;

    static std::vector<SoftwareRaidArray> read(const HostRoot& root);
    // Nothing when <device> is no md array (no md folder).
    static std::optional<SoftwareRaidArray> readArray(const HostRoot& root, const QString& device);
};

} // namespace platform
