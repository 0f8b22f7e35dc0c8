#pragma once
// TEVLocalSMARTProbe: one drive's overall S.M.A.R.T. status, cached for the access interval and not asked
// while the drive saver applies. Owned by the probe sensor bound to the drive, read on the capture thread;
// the class-wide intervals are atomic, since the main thread may set them.

#include "sensors/TEVSMARTStorageDevice.h"

#include <atomic>

class TEVLocalSMARTProbe {
public:
    static constexpr quint64 DefaultDriveAccessInterval = 120;

    // Seconds; 0 is ignored.
    static void setDriveAccessInterval(quint64 seconds);
    // Seconds; 0 turns the saver off.
    static void setDriveSaverInterval(quint64 seconds) { driveSaverInterval_.store(seconds, std::memory_order_relaxed); }
    static quint64 driveAccessInterval() { return driveAccessInterval_.load(std::memory_order_relaxed); }
    static quint64 driveSaverInterval() { return driveSaverInterval_.load(std::memory_order_relaxed); }

    // Null for a null drive; reads the status once.
    static std::shared_ptr<TEVLocalSMARTProbe> createForSMARTStorageDevice(std::shared_ptr<TEVSMARTStorageDevice> device);

    // The status code of TEVSMARTStorageDevice; StatusUnknown while the drive saver applies.
    qint64 smartVerificationStatus();
    const std::shared_ptr<TEVSMARTStorageDevice>& smartDevice() const { return smartDevice_; }

private:
    TEVLocalSMARTProbe() = default;

    static std::atomic<quint64> driveAccessInterval_;
    static std::atomic<quint64> driveSaverInterval_;

    std::shared_ptr<TEVSMARTStorageDevice> smartDevice_;
    qint64 nextMinimumAccessTime_ = 0; // monotonic whole seconds
    qint64 statusCache_ = TEVSMARTStorageDevice::StatusUnknown;
};
