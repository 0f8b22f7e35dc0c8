#pragma once
// IoWarriorTransport: one open IO-Warrior interface that takes output reports; closed when destroyed. The
// kernel driver's node is used where it holds the interface, else hidapi's libusb backend. Main thread.

#include "platform/lcd/IoWarriorInterfaces.h"

#include <QString>

#include <memory>

typedef struct hid_device_ hid_device;

namespace platform {

class IoWarriorTransport {
public:
    static constexpr qsizetype ReportSize = 8; // of the special-mode interface

    virtual ~IoWarriorTransport() = default;
    // One output report (report ID 0) of `count` bytes; false when it did not go out whole.
    virtual bool writeReport(const quint8* bytes, qsizetype count) = 0;

    // Null when the interface opens by neither way.
    static std::unique_ptr<IoWarriorTransport> open(const IoWarriorInterface& interface);
};

// The iowarrior driver's node: each write of exactly one report's size is sent as one SET_REPORT. The
// driver admits one opener, so a second program gets EBUSY here.
class IoWarriorCharDevice final : public IoWarriorTransport {
public:
    static std::unique_ptr<IoWarriorCharDevice> open(const QString& path);
    ~IoWarriorCharDevice() override;
    bool writeReport(const quint8* bytes, qsizetype count) override;

private:
    explicit IoWarriorCharDevice(int fd) : fd_(fd) {}
    int fd_;
};

// hidapi over libusb, for machines without the iowarrior module (the kernel's HID driver ignores these
// chips, so there is no hidraw node). The report goes out behind a 0x00 byte, hidapi's "no report ID".
class IoWarriorHidapiDevice final : public IoWarriorTransport {
public:
    // `sysfsName` is hidapi's path of the interface ("3-1.2:1.1").
    static std::unique_ptr<IoWarriorHidapiDevice> open(const QString& sysfsName);
    ~IoWarriorHidapiDevice() override;
    bool writeReport(const quint8* bytes, qsizetype count) override;

private:
    explicit IoWarriorHidapiDevice(hid_device* device) : device_(device) {}
    hid_device* device_;
};

} // namespace platform
