#pragma once
// PowerEvents: the system's sleep and wake, as the application controller needs them. One process-wide
// source (logind's on the system bus unless a test installs another); main thread.
//
// Before the system sleeps the source reports systemWillSleep and holds the sleep back until its owner
// calls allowSleep (at once after the remote clients are disconnected); after wake it reports
// systemHasPoweredOn. A source that cannot hold sleep back lets it go on by itself.

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QObject>

#include <memory>

namespace platform {

class PowerEvents : public QObject {
    Q_OBJECT
public:
    ~PowerEvents() override = default;

    // Starts listening; NO when the system's power events cannot be received (no bus, no login manager).
    virtual bool registerForSystemPower() = 0;
    // Lets a sleep announced by systemWillSleep go on. Nothing when none is held.
    virtual void allowSleep() = 0;

    static std::shared_ptr<PowerEvents> shared();
    // Null returns to the login manager's source.
    static void setShared(std::shared_ptr<PowerEvents> events);

signals:
    void systemWillSleep();
    void systemHasPoweredOn();

protected:
    PowerEvents() = default;
};

// logind's PrepareForSleep on the given bus (the system bus in the program). Sleep is held back with a
// "delay" inhibitor, a file descriptor logind waits on until it is closed (or its own delay limit passes);
// one is taken at registration and again after every wake.
class LogindPowerEvents final : public PowerEvents {
    Q_OBJECT
public:
    explicit LogindPowerEvents(QDBusConnection bus);
    ~LogindPowerEvents() override;

    bool registerForSystemPower() override;
    void allowSleep() override;

private Q_SLOTS:
    void prepareForSleep(bool start);
    void inhibitorTaken(const QDBusMessage& reply);
    void inhibitorRefused(const QDBusError& error);

private:
    void takeInhibitor();

    QDBusConnection bus_;
    bool registered_ = false;
    bool inhibitorRequested_ = false;
    bool sleepAnnounced_ = false;
    QDBusUnixFileDescriptor inhibitor_;
};

} // namespace platform
