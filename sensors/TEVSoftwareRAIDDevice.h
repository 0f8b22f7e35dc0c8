#pragma once
// TEVSoftwareRAIDDevice: one software RAID set of the local computer as its "AppleRAIDMember" registry
// entry publishes it (on Linux: an md array), in the current layout or the legacy one. Every getter reads
// the entry anew. Made and read on one thread at a time.

#include "sensors/TEVIORegistryEntry.h"

#include <memory>
#include <vector>

class TEVSoftwareRAIDDevice {
public:
    using RAIDList = std::vector<std::shared_ptr<TEVSoftwareRAIDDevice>>;

    // The qualifying "AppleRAIDMember" entries; only when there are none, the legacy parents of "IOMedia"
    // entries. A new list every call.
    static RAIDList allSoftwareRAIDs(TEVIORegistryEntry::Registry registry = nullptr);
    // Null for an empty identifier or when no set has it.
    static std::shared_ptr<TEVSoftwareRAIDDevice> softwareRAIDDeviceWithIdentifier(
        const QString& identifier, TEVIORegistryEntry::Registry registry = nullptr);
    // Null for a null entry or one lacking a key of its layout.
    static std::shared_ptr<TEVSoftwareRAIDDevice> createWithIORegistryEntry(std::shared_ptr<TEVIORegistryEntry> entry,
                                                                          bool legacyMode);

    QString name() const;
    QString identifier() const;
    // Null in the legacy layout.
    QString setIdentifier() const;
    // 1 mirror, 0 stripe or concatenation, -1 anything else.
    qint64 raidLevel() const;
    bool isOnline() const;
    bool usesLegacyMode() const { return legacyMode_; }
    const std::shared_ptr<TEVIORegistryEntry>& registryEntry() const { return entry_; }
    QString description() const;

private:
    TEVSoftwareRAIDDevice(std::shared_ptr<TEVIORegistryEntry> entry, bool legacy) : entry_(std::move(entry)), legacyMode_(legacy) {}

    std::shared_ptr<TEVIORegistryEntry> entry_;
    bool legacyMode_ = false;
};
