#pragma once
// SmartBatteryInfoDisplay: the readouts of the monitored computer's first battery: identity, voltage,
// current, temperature, charge and health, status flags and up to four cell voltages. Refreshed on every
// tick while visible. Main thread only.

#include "windows/info/MonitorWindowController.h"

#include <QVariantMap>

#include <memory>
#include <optional>

struct Ui_SmartBatteryInfo;

class SmartBatteryInfoDisplay final : public MonitorWindowController {
public:
    SmartBatteryInfoDisplay(ClientPtr client, QString defaultTitle);
    ~SmartBatteryInfoDisplay() override;

    void updateContents() override;
    // "Yes" when bit `bit` of "BatteryStatus" is set, else "No"; null without readouts.
    static QString localizedStringForBatteryStatus(const std::optional<QVariantMap>& readouts, int bit);
    // A localized printf format with one number ("%03.3f V", "%4.f mAh", "%3.f %%") in the user's locale.
    static QString localizedNumberFormat(const QString& format, double value);

    const Ui_SmartBatteryInfo& ui() const
    {
        window();
        return *ui_;
    }

private:
    void showNoBattery();
    std::unique_ptr<Ui_SmartBatteryInfo> ui_;
};
