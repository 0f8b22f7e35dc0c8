#pragma once
// Registry provider for the "AppleSMBIOS" entry: its "SMBIOS" property is the firmware's structure table
// (/sys/firmware/dmi/tables/DMI, readable by root only), else a minimal table of types 0, 1, 2, 3 and 127
// made from the world-readable /sys/class/dmi/id files. Stateless; the table is read on every access.

#include "platform/registry/LinuxIORegistry.h"

#include <QByteArray>

#include <optional>

namespace platform {

class AppleSmbiosProvider final : public IORegistryProvider {
public:
    void addEntries(const HostRoot& root, IORegistry::Builder& builder) const override;

    // The firmware's table when readable, else the minimal table; nothing without any DMI source.
    static std::optional<QByteArray> table(const HostRoot& root);
    // Nothing when no /sys/class/dmi/id file is readable.
    static std::optional<QByteArray> minimalTable(const HostRoot& root);
};

} // namespace platform
