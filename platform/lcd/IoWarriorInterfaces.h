#pragma once
// IoWarriorInterfaces: the USB interfaces of IO-Warrior 24 and 40 chips as sysfs shows them
// (/sys/bus/usb/devices), with the node of the kernel's iowarrior driver where it holds an interface.
// Stateless; every call reads the host anew.

#include "platform/foundation/HostRoot.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace platform {

// The answer of the iowarrior driver's IOW_GETINFO ioctl. linux/usb/iowarrior.h is not among the kernel
// headers that user space gets, so the layout is declared here.
struct IoWarriorInfo {
    quint32 vendor = 0;
    quint32 product = 0;
    char serial[9] = {}; // 8 characters and a NUL; empty unless the device's serial is exactly 8 long
    quint32 revision = 0;
    quint32 speed = 0;
    quint32 power = 0;
    quint32 interfaceNumber = 0;
    quint32 reportSize = 0;
};

struct IoWarriorInterface {
    QString sysfsName;        // "3-1.2:1.1"; hidapi's libusb backend names the interface the same way
    quint16 productID = 0;
    qint64 interfaceNumber = -1;
    QString usbSerialNumber;  // the USB device's serial string; empty when it has none
    QString driverSerialNumber; // what the driver reports (IOW_GETINFO); empty when unknown
    QString deviceNode;       // "/dev/usb/iowarrior1" under the host root while the driver holds it, else empty
};

class IoWarriorInterfaces {
public:
    static constexpr quint16 VendorID = 0x07C0;
    static constexpr quint16 IoWarrior40ProductID = 0x1500;
    static constexpr quint16 IoWarrior24ProductID = 0x1501;

    // Asks the driver about its node; nothing when the node cannot be opened (another program holds it:
    // the driver takes one opener) or does not answer.
    using InfoQuery = std::function<std::optional<IoWarriorInfo>(const QString& deviceNode)>;
    // The ioctl of the live machine; null for a host root other than "/".
    static InfoQuery liveQuery(const HostRoot& root);

    // Every interface of every IO-Warrior 24 and 40, in natural order of their sysfs names. The driver is
    // asked for a serial number only where the USB device shows none.
    static std::vector<IoWarriorInterface> list(const HostRoot& root, const InfoQuery& query);
    static std::vector<IoWarriorInterface> list(const HostRoot& root) { return list(root, liveQuery(root)); }
};

} // namespace platform
