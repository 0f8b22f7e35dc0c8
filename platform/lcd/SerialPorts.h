#pragma once
// SerialPorts: the real serial ports of the host (/sys/class/tty), each with a name that stays the same
// across boots and re-plugging where udev gives one. Stateless; every call reads the host anew.

#include "platform/foundation/HostRoot.h"

#include <QString>

#include <vector>

namespace platform {

struct SerialPortEntry {
    QString kernelName; // "ttyUSB0"
    // The /dev/serial/by-id name, else udev's ID_SERIAL, else the kernel name. Preferences are keyed by it,
    // so it must not follow whichever adapter the kernel happened to number first.
    QString stableName;
    QString devicePath; // "/dev/ttyUSB0" under the host root
};

class SerialPorts {
public:
    // Ports with a device behind them (no virtual consoles, no pseudo-terminals) whose UART, where the
    // driver reports one, exists: the 8250 driver registers many ports that have no hardware. Natural
    // order of kernel names.
    static std::vector<SerialPortEntry> list(const HostRoot& root);
};

} // namespace platform
