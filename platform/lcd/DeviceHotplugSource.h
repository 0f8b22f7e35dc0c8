#pragma once
// DeviceHotplugSource: device arrivals and removals of the "usb", "usbmisc" and "tty" subsystems, as a Qt
// signal on the main thread. The live source is a libudev monitor; tests make a plain source and deliver
// events themselves. One process-wide source, replaceable.

#include <QHash>
#include <QObject>
#include <QString>

#include <memory>

namespace platform {

struct DeviceEvent {
    QString action;    // "add", "remove", "bind", "unbind", "change"
    QString subsystem; // "usb", "usbmisc", "tty"
    QString devtype;   // "usb_device", "usb_interface"; empty for the others
    QString sysname;   // "3-1.2", "iowarrior1", "ttyUSB0"
    QString devpath;   // "/devices/pci0000:00/.../3-1.2"
    QHash<QString, QString> properties; // the event's udev properties ("PRODUCT" = "7c0/1500/101")
};

class DeviceHotplugSource : public QObject {
    Q_OBJECT
public:
    explicit DeviceHotplugSource(QObject* parent = nullptr) : QObject(parent) {}

    // Emits deviceChanged.
    void deliver(const platform::DeviceEvent& event) { emit deviceChanged(event); }

    // The source set last, else a libudev monitor made on first use; null when the monitor cannot be made
    // (no netlink access, as in some containers).
    static std::shared_ptr<DeviceHotplugSource> shared();
    // Null returns to the udev monitor.
    static void setShared(std::shared_ptr<DeviceHotplugSource> source);

signals:
    void deviceChanged(const platform::DeviceEvent& event);
};

// A libudev monitor of the kernel's events after udev has processed them, read when its socket is readable.
class UdevHotplugSource final : public DeviceHotplugSource {
    Q_OBJECT
public:
    // Null when libudev cannot make or start the monitor.
    static std::unique_ptr<UdevHotplugSource> create();
    ~UdevHotplugSource() override;

private:
    struct Monitor;
    explicit UdevHotplugSource(std::unique_ptr<Monitor> monitor);
    void readEvents();
    std::unique_ptr<Monitor> monitor_;
};

} // namespace platform
