#pragma once
// TEVSerialPortDevice: a serial port with a Crystalfontz module on it. The display opens and sets up the
// port when it is created (19200 baud, 8N1, raw, DTR and RTS on, then a settle time of 1 s); the port's
// settings are put back when the object goes. Main thread.

#include "lcd/TEVLCDController.h"

#include "platform/foundation/HostRoot.h"
#include "platform/lcd/SerialPort.h"
#include "platform/lcd/SerialPorts.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TEVSerialPortDevice : public TEVLCDController {
public:
    // Opens and sets up the port at a path; tests put a recording link or a short-writing port there.
    using Opener = std::function<platform::SerialPort::Opening(const QString& path)>;
    using List = std::vector<std::shared_ptr<TEVSerialPortDevice>>;

    // On Linux the registry entry is the port's sysfs record: its stable name is the serial number and
    // presentation name, its device path the callout device. No entry, or one without name or path, gives
    // no controller. Null `opener`: platform::SerialPort.
    static std::shared_ptr<TEVSerialPortDevice> createWithIORegistryEntry(
        const std::optional<platform::SerialPortEntry>& entry, Opener opener = nullptr);
    ~TEVSerialPortDevice() override;

    // Every real serial port under `root` (null: the current host root).
    static List listOfSerialPortDevices(std::shared_ptr<const platform::HostRoot> root = nullptr);
    static bool setupConnectionNotifications();
    static void postControllerChangeNotificationIsRemoval(bool isRemoval);
    static const void* classIdentity();

    void initiateDisplayConnection() override { configureSerialPort(); }
    bool configureSerialPort();
    bool restorePortConfiguration();
    // One frame or command, written whole; NO for no bytes or a closed port.
    bool sendData(const QByteArray& data);
    bool isPortOpen() const { return port_ != nullptr; }

    // "Serial port ttyUSB0": the long stable name is the serial number's column.
    QString devicePresentationName() const override;
    QString typeIdentifier() const override { return QStringLiteral("Serial"); }
    QString description() const override;
    const char* className() const override { return "TEVSerialPortDevice"; }

protected:
    bool isKindOfReceiverClass(const TEVLCDController& other) const override;

private:
    TEVSerialPortDevice(const platform::SerialPortEntry& entry, Opener opener);

    platform::SerialPortEntry entry_;
    Opener opener_;
    std::unique_ptr<platform::SerialTransport> port_;
};
