#include "lcd/TEVSerialPortDevice.h"

#include "platform/foundation/Log.h"
#include "platform/lcd/DeviceHotplugSource.h"

#include <QObject>

#include <chrono>
#include <cstring>
#include <utility>

namespace {

const char serialPortClassTag = 0;

// Ports behind a device; virtual consoles and pseudo-terminals live under /devices/virtual.
bool isSerialPortEvent(const platform::DeviceEvent& event)
{
    return event.subsystem == QLatin1String("tty") && !event.devpath.contains(QLatin1String("/virtual/"));
}

void logLine(const QString& message)
{
    platform::log(QStringLiteral("TEVSerialPortDevice: ") + message + QLatin1Char('\n'));
}

} // namespace

TEVSerialPortDevice::TEVSerialPortDevice(const platform::SerialPortEntry& entry, Opener opener)
    : TEVLCDController(entry.stableName), entry_(entry), opener_(std::move(opener))
{
}

TEVSerialPortDevice::~TEVSerialPortDevice()
{
    closePort(); // drains, puts back the settings found and closes
}

void TEVSerialPortDevice::closePort()
{
    settleTimer_.invalidate();
    held_.clear();
    port_.reset();
}

std::shared_ptr<TEVSerialPortDevice> TEVSerialPortDevice::createWithIORegistryEntry(
    const std::optional<platform::SerialPortEntry>& entry, Opener opener)
{
    if (!entry || entry->stableName.isEmpty() || entry->devicePath.isEmpty())
        return nullptr;
    if (!opener)
        opener = [](const QString& path) { return platform::SerialPort::open(path); };
    return std::shared_ptr<TEVSerialPortDevice>(new TEVSerialPortDevice(*entry, std::move(opener)));
}

TEVSerialPortDevice::List TEVSerialPortDevice::listOfSerialPortDevices(std::shared_ptr<const platform::HostRoot> root)
{
    if (!root)
        root = platform::HostRoot::current();
    List list;
    for (const auto& entry : platform::SerialPorts::list(*root)) {
        if (auto device = createWithIORegistryEntry(entry))
            list.push_back(device);
    }
    return list;
}

bool TEVSerialPortDevice::setupConnectionNotifications()
{
    return observeHotplug(classIdentity(), isSerialPortEvent);
}

void TEVSerialPortDevice::postControllerChangeNotificationIsRemoval(bool isRemoval)
{
    postChange(classIdentity(), isRemoval);
}

const void* TEVSerialPortDevice::classIdentity()
{
    return &serialPortClassTag;
}

bool TEVSerialPortDevice::configureSerialPort()
{
    if (port_) {
        logLine(QStringLiteral("attempt to reopen serial port. Ignoring..."));
        return false;
    }
    lastAttempt_ = platform::monotonicNow();
    restored_ = false;
    const QString& path = entry_.devicePath;
    platform::SerialPort::Opening opening = opener_(path);
    using Step = platform::SerialPort::Step;
    QString failure;
    switch (opening.failedStep) {
    case Step::None:
        break;
    case Step::Open:
        failure = QStringLiteral("failed to open device path '%1', error %2 (%3)")
                      .arg(path)
                      .arg(opening.error)
                      .arg(QString::fromLocal8Bit(std::strerror(opening.error)));
        break;
    case Step::ExclusiveAccess:
        failure = QStringLiteral("could not set exclusive access to %1").arg(path);
        break;
    case Step::GetSettings:
        failure = QStringLiteral("could not get port settings for %1").arg(path);
        break;
    case Step::SetSettings:
        failure = QStringLiteral("could not set communication parameters for port %1").arg(path);
        break;
    case Step::ModemLines:
        failure = QStringLiteral("could not set handshake signals for port %1").arg(path);
        break;
    }
    if (!failure.isEmpty() || !opening.port) {
        if (!failure.isEmpty() && !std::exchange(failureLogged_, true))
            logLine(failure);
        return false;
    }
    if (!opening.modemLinesSet)
        logLine(QStringLiteral("port %1 has no modem control lines; DTR and RTS are left as they are").arg(path));
    if (std::exchange(failureLogged_, false))
        logLine(QStringLiteral("port %1 is open again").arg(path));
    port_ = std::move(opening.port);
    ++connectionCount_;
    // A flapping port would stall the program at every retry if this waited here. The timer holds no
    // reference: the object invalidates it before it goes.
    settleTimer_ = platform::Scheduler::shared()->after(SettleTime, [this] { sendHeldData(); });
    return true;
}

bool TEVSerialPortDevice::openPortIfDue()
{
    if (port_)
        return true;
    if (restored_ || (lastAttempt_ && platform::monotonicNow() - *lastAttempt_ < RetryInterval))
        return false;
    return configureSerialPort();
}

bool TEVSerialPortDevice::restorePortConfiguration()
{
    if (!port_) {
        logLine(QStringLiteral("cannot restore port configuration because port is not open"));
        return false;
    }
    closePort();
    restored_ = true;
    return true;
}

bool TEVSerialPortDevice::sendData(const QByteArray& data)
{
    if (data.isEmpty() || !openPortIfDue())
        return false;
    if (isSettling()) {
        qsizetype held = 0;
        for (const QByteArray& bytes : std::as_const(held_))
            held += bytes.size();
        if (held + data.size() > MaximumHeldBytes)
            return false;
        held_.append(data);
        return true;
    }
    return write(data);
}

void TEVSerialPortDevice::sendHeldData()
{
    settleTimer_.invalidate();
    const QByteArrayList held = std::exchange(held_, {});
    for (const QByteArray& bytes : held) {
        if (!port_)
            break;
        write(bytes);
    }
}

bool TEVSerialPortDevice::write(const QByteArray& data)
{
    if (port_->write(data))
        return true;
    if (port_->hasFailed()) {
        // Unplugged, most likely: it is opened again when it is back.
        if (!std::exchange(failureLogged_, true))
            logLine(QStringLiteral("lost port %1 (tried again every %2 s)").arg(entry_.devicePath).arg(RetryInterval.count()));
        closePort();
        lastAttempt_ = platform::monotonicNow();
    }
    return false;
}

QString TEVSerialPortDevice::description() const
{
    return QStringLiteral("TEVSerialPortDevice: serial %1\n").arg(serialNumber());
}

bool TEVSerialPortDevice::isKindOfReceiverClass(const TEVLCDController& other) const
{
    return dynamic_cast<const TEVSerialPortDevice*>(&other) != nullptr;
}

QString TEVSerialPortDevice::devicePresentationName() const
{
    const QString node = entry_.devicePath.section(QLatin1Char('/'), -1);
    return node.isEmpty() ? serialNumber() : QStringLiteral("Serial port %1").arg(node);
}
