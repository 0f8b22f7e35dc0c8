#include "platform/lcd/DeviceHotplugSource.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <libudev.h>

#include <mutex>
#include <utility>

namespace platform {

namespace {

std::mutex sharedMutex;
std::shared_ptr<DeviceHotplugSource> sharedSource;
bool sharedChosen = false;

// The monitor's socket notifier must go before the application's event dispatcher does.
void releaseSharedSource()
{
    std::lock_guard lock(sharedMutex);
    sharedSource.reset();
    sharedChosen = false;
}

QString text(const char* value)
{
    return value ? QString::fromUtf8(value) : QString();
}

} // namespace

std::shared_ptr<DeviceHotplugSource> DeviceHotplugSource::shared()
{
    std::lock_guard lock(sharedMutex);
    if (!sharedChosen) {
        sharedSource = UdevHotplugSource::create();
        sharedChosen = true;
        static bool releaseAdded = false;
        if (sharedSource && !std::exchange(releaseAdded, true))
            qAddPostRoutine(releaseSharedSource);
    }
    return sharedSource;
}

void DeviceHotplugSource::setShared(std::shared_ptr<DeviceHotplugSource> source)
{
    std::lock_guard lock(sharedMutex);
    sharedChosen = source != nullptr;
    sharedSource = std::move(source);
}

struct UdevHotplugSource::Monitor {
    udev* context = nullptr;
    udev_monitor* monitor = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;
    ~Monitor()
    {
        notifier.reset();
        if (monitor)
            udev_monitor_unref(monitor);
        if (context)
            udev_unref(context);
    }
};

std::unique_ptr<UdevHotplugSource> UdevHotplugSource::create()
{
    auto monitor = std::make_unique<Monitor>();
    monitor->context = udev_new();
    if (!monitor->context)
        return nullptr;
    monitor->monitor = udev_monitor_new_from_netlink(monitor->context, "udev");
    if (!monitor->monitor)
        return nullptr;
    for (const char* subsystem : {"usb", "usbmisc", "tty"}) {
        if (udev_monitor_filter_add_match_subsystem_devtype(monitor->monitor, subsystem, nullptr) < 0)
            return nullptr;
    }
    if (udev_monitor_enable_receiving(monitor->monitor) < 0)
        return nullptr;
    return std::unique_ptr<UdevHotplugSource>(new UdevHotplugSource(std::move(monitor)));
}

UdevHotplugSource::UdevHotplugSource(std::unique_ptr<Monitor> monitor) : monitor_(std::move(monitor))
{
    monitor_->notifier = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(monitor_->monitor), QSocketNotifier::Read);
    connect(monitor_->notifier.get(), &QSocketNotifier::activated, this, &UdevHotplugSource::readEvents);
}

UdevHotplugSource::~UdevHotplugSource() = default;

void UdevHotplugSource::readEvents()
{
    // The socket is non-blocking: receive until it is empty.
    while (udev_device* device = udev_monitor_receive_device(monitor_->monitor)) {
        DeviceEvent event;
        event.action = text(udev_device_get_action(device));
        event.subsystem = text(udev_device_get_subsystem(device));
        event.devtype = text(udev_device_get_devtype(device));
        event.sysname = text(udev_device_get_sysname(device));
        event.devpath = text(udev_device_get_devpath(device));
        for (udev_list_entry* entry = udev_device_get_properties_list_entry(device); entry;
             entry = udev_list_entry_get_next(entry))
            event.properties.insert(text(udev_list_entry_get_name(entry)), text(udev_list_entry_get_value(entry)));
        udev_device_unref(device);
        deliver(event);
    }
}

} // namespace platform
