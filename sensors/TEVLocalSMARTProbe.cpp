#include "sensors/TEVLocalSMARTProbe.h"

#include "sensors/TEVSMARTTemperatureSensor.h"

std::atomic<quint64> TEVLocalSMARTProbe::driveAccessInterval_{TEVLocalSMARTProbe::DefaultDriveAccessInterval};
std::atomic<quint64> TEVLocalSMARTProbe::driveSaverInterval_{0};

void TEVLocalSMARTProbe::setDriveAccessInterval(quint64 seconds)
{
    if (seconds != 0)
        driveAccessInterval_.store(seconds, std::memory_order_relaxed);
}

std::shared_ptr<TEVLocalSMARTProbe> TEVLocalSMARTProbe::createForSMARTStorageDevice(std::shared_ptr<TEVSMARTStorageDevice> device)
{
    if (!device)
        return nullptr;
    std::shared_ptr<TEVLocalSMARTProbe> probe(new TEVLocalSMARTProbe());
    probe->smartDevice_ = std::move(device);
    probe->nextMinimumAccessTime_ = smartAccessClockSeconds() + qint64(driveAccessInterval());
    probe->statusCache_ = probe->smartDevice_->currentSMARTStatus();
    return probe;
}

qint64 TEVLocalSMARTProbe::smartVerificationStatus()
{
    if (smartDriveSaverApplies(driveSaverInterval()))
        return TEVSMARTStorageDevice::StatusUnknown;
    const qint64 now = smartAccessClockSeconds();
    if (now < nextMinimumAccessTime_)
        return statusCache_;
    statusCache_ = smartDevice_->currentSMARTStatus();
    nextMinimumAccessTime_ = now + qint64(driveAccessInterval());
    return statusCache_;
}
