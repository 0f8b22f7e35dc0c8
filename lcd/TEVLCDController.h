#pragma once
// TEVLCDController: the hardware link through which one character-LCD module is driven (abstract). Made
// afresh on every device scan; the LCD manager keeps the object it already holds for an equal controller.
// Main thread.

#include <QString>

namespace platform {
struct DeviceEvent;
}

#include <utility>

class TEVLCDController {
public:
    static inline const QString changeNotification = QStringLiteral("TEVLCDControllerNotificationChange");
    // The user-info key of the change kind (an unsigned integer), spelt as the key-value change kind key.
    static inline const QString changeKindKey = QStringLiteral("kind");
    static constexpr quint64 ChangeInsertion = 2;
    static constexpr quint64 ChangeRemoval = 3;

    TEVLCDController(const TEVLCDController&) = delete;
    TEVLCDController& operator=(const TEVLCDController&) = delete;
    virtual ~TEVLCDController() = default;

    virtual void initiateDisplayConnection() {}
    virtual QString devicePresentationName() const { return QStringLiteral("UndefinedDevice"); }
    virtual QString typeIdentifier() const { return QStringLiteral("UndefinedLCDController"); }
    QString serialNumber() const { return serialNumber_; }
    // "<type identifier>-<serial number>": the key of the module's stored settings.
    QString uniqueDeviceSpecifier() const;
    // True when `other` is of the receiver's class or a subclass and has the same serial number: an
    // IO-Warrior 24 equals an IO-Warrior 40 of the same serial, though their specifiers differ.
    bool isEqual(const TEVLCDController& other) const;
    virtual QString description() const;
    virtual const char* className() const { return "TEVLCDController"; }

protected:
    explicit TEVLCDController(QString serialNumber) : serialNumber_(std::move(serialNumber)) {}
    // Whether `other` is of this object's class (or a subclass of it).
    virtual bool isKindOfReceiverClass(const TEVLCDController& other) const;
    // Posts the change notification with `classIdentity` as its object.
    static void postChange(const void* classIdentity, bool isRemoval);
    // Posts a change for every "add" and "remove" event of the shared hot-plug source that `matches`, once
    // per source however often it is called; NO without a source.
    static bool observeHotplug(const void* classIdentity, bool (*matches)(const platform::DeviceEvent&));

private:
    QString serialNumber_;
};
