#pragma once
// Registry provider for the disks of /sys/block that have a device (not loop, ram, zram, dm or md): one
// block storage device entry per disk, its class chain by transport (SATA/PATA "IOAHCIBlockStorageDevice",
// USB/SCSI/SD "IOBlockStorageServices", NVMe and virtio a subclass each, all kinds of "IOBlockStorageDevice"),
// with "SMART Capable", "Device Characteristics" and "Protocol Characteristics" from sysfs and the udev
// database (/run/udev/data), and an "IOMedia" child carrying "BSD Name". Stateless; properties are read
// anew on every access.

#include "platform/registry/LinuxIORegistry.h"

#include <QHash>

namespace platform {

class BlockStorageProvider final : public IORegistryProvider {
public:
    enum class Transport { Sata, Pata, Usb, Scsi, SecureDigital, Nvme, Virtio };

    void addEntries(const HostRoot& root, IORegistry::Builder& builder) const override;
    std::optional<QByteArray> changeSignature(const HostRoot& root) const override;

    // The "E:KEY=VALUE" properties of a udev database record.
    static QHash<QString, QString> parseUdevRecord(const QString& text);
    // udev's *_ENC values escape bytes as "\xHH".
    static QString decodeUdevString(const QString& encoded);
    static QStringList classChain(Transport transport);
    static QString interconnectName(Transport transport);
};

} // namespace platform
