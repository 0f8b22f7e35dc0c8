#pragma once
// TEVIOWarriorDevice: one interface of an IO-Warrior 24 or 40 USB chip. Its LCD special-mode interface
// (number 1) takes the 8-byte output reports that drive an HD44780 display. The interface is opened on the
// first report, closed after a failed one and opened again by the next; one failure is logged until it
// answers again. Main thread.

#include "lcd/TEVLCDController.h"

#include "platform/foundation/HostRoot.h"
#include "platform/lcd/IoWarriorInterfaces.h"
#include "platform/lcd/IoWarriorTransport.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class TEVIOWarriorDevice : public TEVLCDController {
public:
    // Opens the interface; null when it cannot be opened now.
    using Opener = std::function<std::unique_ptr<platform::IoWarriorTransport>()>;
    using List = std::vector<std::shared_ptr<TEVIOWarriorDevice>>;

    static constexpr qint64 SpecialModeInterface = 1;

    // On Linux the registry entry is the interface's sysfs record. No entry, another chip or no interface
    // number gives no controller. Null `opener`: the kernel driver's node, else hidapi.
    static std::shared_ptr<TEVIOWarriorDevice> createWithIORegistryEntry(
        const std::optional<platform::IoWarriorInterface>& entry, Opener opener = nullptr);

    // Every interface of every IO-Warrior 24 and 40 under `root` (null: the current host root).
    static List listOfIOWarriorDevices(std::shared_ptr<const platform::HostRoot> root = nullptr);
    static List listOfIOWarriorDevicesWithInterfaceNumber(qint64 number,
                                                          std::shared_ptr<const platform::HostRoot> root = nullptr);
    // Posts the change notification for arrivals and removals of IO-Warriors from now on; NO when no device
    // monitor can be made.
    static bool setupConnectionNotifications();
    static void postControllerChangeNotificationIsRemoval(bool isRemoval);
    // The object of this class's change notifications.
    static const void* classIdentity();

    qint64 interfaceNumber() const { return interfaceNumber_; }
    bool isIOWarrior40() const { return isIOWarrior40_; }
    bool hasOpenInterface() const { return transport_ != nullptr; }
    // Opens a closed interface; YES when it is open.
    bool openInterface();
    // Counts the successful openings: the chip behind an interface opened again may have lost power, and
    // its module with it the set-up.
    quint64 connectionCount() const { return connectionCount_; }

    // Report ID and seven data bytes make one 8-byte report.
    bool sendOutputReportWithID(quint8 reportID, const quint8* bytes);
    bool writeToInterfaceBytesAt(const quint8* bytes, qsizetype count);

    QString devicePresentationName() const override;
    QString typeIdentifier() const override;
    QString description() const override;
    const char* className() const override { return "TEVIOWarriorDevice"; }

protected:
    bool isKindOfReceiverClass(const TEVLCDController& other) const override;

private:
    TEVIOWarriorDevice(QString serialNumber, qint64 interfaceNumber, bool isIOWarrior40, Opener opener);
    void logFailureOnce(const QString& what);

    qint64 interfaceNumber_ = -1;
    bool isIOWarrior40_ = false;
    Opener opener_;
    std::unique_ptr<platform::IoWarriorTransport> transport_;
    quint64 connectionCount_ = 0;
    // Every frame would repeat it: one line until the interface answers again.
    bool failureLogged_ = false;
};
