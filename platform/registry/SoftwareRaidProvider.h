#pragma once
// Registry provider for Linux md arrays: one "AppleRAIDMember" entry per array of /sys/block/md*, with
// the RAID driver's properties (level name, set name, member and set UUID, status) read live on every
// access. Stateless.

#include "platform/registry/LinuxIORegistry.h"

namespace platform {

struct SoftwareRaidArray;

class SoftwareRaidProvider final : public IORegistryProvider {
public:
    void addEntries(const HostRoot& root, IORegistry::Builder& builder) const override;
    std::optional<QByteArray> changeSignature(const HostRoot& root) const override;

    // "raid1" → "Mirror", "raid0" → "Stripe", "linear" → "Concat"; other levels upper-case ("RAID5").
    static QString levelName(const QString& mdLevel);
    // "Online", "Degraded" (a member missing) or "Offline".
    static QString statusText(const SoftwareRaidArray& array);
    // Empty when the array vanished.
    static QVariantMap readProperties(const HostRoot& root, const QString& device);
};

} // namespace platform
