#pragma once
// Registry provider for batteries from /sys/class/power_supply: one "AppleSmartBattery" entry per supply of
// type "Battery", its properties in that class's units (mV, signed mA, mAh, 0.1 K, packed date word) and
// its flags from the status and the mains supplies. Stateless; values are read on every property access.

#include "platform/registry/LinuxIORegistry.h"

namespace platform {

class PowerSupplyBatteryProvider final : public IORegistryProvider {
public:
    void addEntries(const HostRoot& root, IORegistry::Builder& builder) const override;
    std::optional<QByteArray> changeSignature(const HostRoot& root) const override;

    // The battery's properties read now from <root>/sys/class/power_supply/<name>; empty when the battery
    // is not present. Sysfs gives µV, µA, µAh, µWh, µW and 0.1 °C.
    static QVariantMap readProperties(const HostRoot& root, const QString& name);
};

} // namespace platform
