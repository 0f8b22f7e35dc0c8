#pragma once
// TEVSMARTTemperatureSensor: the temperature of one S.M.A.R.T. drive, read at most once per access
// interval, never while the user has been idle longer than the drive-saver interval, and filtered for
// implausible jumps. Owned by the local acquisition core and read on its capture thread; the intervals may
// be set from another thread (they are atomic).

#include "sensors/TEVSMARTStorageDevice.h"
#include "sensors/TEVSensor.h"

#include <atomic>

class TEVSMARTTemperatureSensor final : public TEVSensor {
public:
    static constexpr quint64 DefaultDiskAccessInterval = 60;
    // Consecutive suspicious readings that are discarded before one is taken anyway.
    static constexpr quint64 MaximumRetries = 11;
    // Readings that differ from the last accepted one by this much or more are suspicious.
    static constexpr qint64 PlausibleChange = 16;

    // Registers the class with the sensor class registry; a second call does nothing.
    static void load();
    static TEVSensorList allSensors(TEVIORegistryEntry::Registry registry = nullptr,
                                    std::shared_ptr<const platform::AtaSmartTransport> transport = nullptr);
    static bool traceMode() { return traceMode_.load(std::memory_order_relaxed); }

    TEVSMARTTemperatureSensor();
    // Null for a null drive or one whose first reading gives no temperature.
    static std::shared_ptr<TEVSMARTTemperatureSensor> createWithSMARTStorageDevice(std::shared_ptr<TEVSMARTStorageDevice> device);

    // Whole degrees Celsius; -1 for no value.
    qint64 rawValue() const override;
    QString unit() const override { return QStringLiteral("C"); }
    std::shared_ptr<TEVSensorValueConverter> valueConverter() const override;
    QString className() const override { return QStringLiteral("TEVSMARTTemperatureSensor"); }

    const std::shared_ptr<TEVSMARTStorageDevice>& sourceDevice() const { return smartDevice_; }
    // Seconds; 0 reads the drive at every call.
    void setDiskAccessInterval(quint64 seconds) { diskAccessInterval_.store(seconds, std::memory_order_relaxed); }
    // Seconds of user idle time after which the drive is left alone; 0 turns the saver off.
    void setDiskSaverInterval(quint64 seconds) { diskSaverInterval_.store(seconds, std::memory_order_relaxed); }
    quint64 diskAccessInterval() const { return diskAccessInterval_.load(std::memory_order_relaxed); }
    quint64 diskSaverInterval() const { return diskSaverInterval_.load(std::memory_order_relaxed); }
    quint64 numberOfRetries() const { return numberOfRetries_; }

private:
    static std::atomic<bool> traceMode_;

    std::shared_ptr<TEVSMARTStorageDevice> smartDevice_;
    std::atomic<quint64> diskAccessInterval_{DefaultDiskAccessInterval};
    std::atomic<quint64> diskSaverInterval_{0};
    // Whole seconds of the monotonic clock, so that a change of the wall clock neither stalls nor floods
    // the drive.
    mutable qint64 nextMinimumAccessTime_ = 0;
    mutable qint64 temperatureCache_ = -1;
    mutable quint64 numberOfRetries_ = 0;
};

// Whole seconds of the shared monotonic clock: the time base of the S.M.A.R.T. access intervals.
qint64 smartAccessClockSeconds();
// The drive saver's rule: the user idle time is known and longer than a non-zero saver interval.
bool smartDriveSaverApplies(quint64 saverIntervalSeconds, double* idleSeconds = nullptr);
