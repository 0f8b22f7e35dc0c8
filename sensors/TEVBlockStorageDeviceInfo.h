#pragma once
// TEVBlockStorageDeviceInfo: a snapshot of one block storage device as a small fixed dictionary (vendor and
// product, interconnect, S.M.A.R.T. support, status and serial number, BSD name) that the acquisition core
// hands out, also to remote viewers. Built on the capture thread when the list is asked for; immutable.

#include "sensors/TEVIORegistryEntry.h"

#include <QVariantMap>

#include <memory>
#include <vector>

namespace platform {
class AtaSmartTransport;
}

class TEVBlockStorageDeviceInfo {
public:
    // One record per "IOBlockStorageDevice" entry, in registry order; entries without one are skipped.
    static std::vector<std::shared_ptr<TEVBlockStorageDeviceInfo>> allBlockStorageDeviceInfos(
        TEVIORegistryEntry::Registry registry = nullptr,
        std::shared_ptr<const platform::AtaSmartTransport> transport = nullptr);
    // The infoDictionary of each record, as the acquisition core hands them out.
    static QVariantList blockStorageDeviceDescriptions(TEVIORegistryEntry::Registry registry = nullptr,
                                                       std::shared_ptr<const platform::AtaSmartTransport> transport = nullptr);

    // Null for a null entry, or one without both characteristic dictionaries, a product name or an
    // interconnect.
    static std::shared_ptr<TEVBlockStorageDeviceInfo> createWithIORegistryEntry(
        std::shared_ptr<TEVIORegistryEntry> entry, std::shared_ptr<const platform::AtaSmartTransport> transport = nullptr);

    QVariantMap infoDictionary() const { return infoDictionary_; }

private:
    TEVBlockStorageDeviceInfo() = default;
    QVariantMap infoDictionary_;
};
