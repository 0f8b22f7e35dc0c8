#pragma once
// TEVSerialPortDevice: a serial port with a Crystalfontz module on it. The display opens and sets up the
// port when it is created (19200 baud, 8N1, raw, DTR and RTS on); what is sent in the settle time after an
// opening waits for a Scheduler timer, never on the main thread. A port that could not be opened, or was
// lost, is tried again by later sends, at most once per RetryInterval. Writes never wait for the module.
// The port's settings are put back when the object goes. Main thread.

#include "lcd/TEVLCDController.h"

#include "platform/desktop/Scheduler.h"
#include "platform/foundation/HostRoot.h"
#include "platform/lcd/SerialPort.h"
#include "platform/lcd/SerialPorts.h"

#include <QByteArrayList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TEVSerialPortDevice : public TEVLCDController {
public:
    // Opens and sets up the port at a path; tests put a recording link or a short-writing port there.
    using Opener = std::function<platform::SerialPort::Opening(const QString& path)>;
    using List = std::vector<std::shared_ptr<TEVSerialPortDevice>>;

    static constexpr std::chrono::seconds RetryInterval{5};
    // The module needs a moment after the lines come up before it takes commands.
    static constexpr std::chrono::seconds SettleTime{1};
    // What waits for the settle time at most; a send beyond it is dropped like one the port cannot take.
    static constexpr qsizetype MaximumHeldBytes = 4096;

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
    // One frame or command, written whole; NO for no bytes, a closed port (opened again first when due) or
    // a frame the port cannot take now, which is dropped. In the settle time it is held and sent, in order,
    // when that ends.
    bool sendData(const QByteArray& data);
    bool isPortOpen() const { return port_ != nullptr; }
    bool isSettling() const { return settleTimer_.isValid(); }
    // Opens a closed port when RetryInterval has passed since the last attempt; YES when the port is open.
    bool openPortIfDue();
    // Counts the successful openings: a module behind a port opened again may need setting up again.
    quint64 connectionCount() const { return connectionCount_; }

    // "Serial port ttyUSB0": the long stable name is the serial number's column.
    QString devicePresentationName() const override;
    QString typeIdentifier() const override { return QStringLiteral("Serial"); }
    QString description() const override;
    const char* className() const override { return "TEVSerialPortDevice"; }

protected:
    bool isKindOfReceiverClass(const TEVLCDController& other) const override;

private:
    TEVSerialPortDevice(const platform::SerialPortEntry& entry, Opener opener);
    bool write(const QByteArray& data);
    void sendHeldData();
    void closePort();

    platform::SerialPortEntry entry_;
    Opener opener_;
    std::unique_ptr<platform::SerialTransport> port_;
    platform::Scheduler::Handle settleTimer_;
    QByteArrayList held_; // sent in the settle time
    std::optional<platform::Clock::Duration> lastAttempt_;
    // One failure is logged until the port works again: the retries would repeat it every few seconds.
    bool failureLogged_ = false;
    bool restored_ = false; // closed on purpose: no retries until it is configured again
    quint64 connectionCount_ = 0;
};
