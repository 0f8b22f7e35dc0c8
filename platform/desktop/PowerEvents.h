#pragma once
// PowerEvents: the system's sleep and wake, as the application controller needs them. One process-wide
// source (logind's on the system bus unless a test installs another); main thread.
//
// Before the system sleeps the source reports systemWillSleep and holds the sleep back until its owner
// calls allowSleep (at once after the remote clients are disconnected); after wake it reports
// systemHasPoweredOn. A source that cannot hold sleep back lets it go on by itself.

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

} // namespace platform
