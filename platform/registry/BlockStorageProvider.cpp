#include "platform/registry/BlockStorageProvider.h"

#include "platform/foundation/Values.h"

#include <QFileInfo>

#include <utility>

namespace platform {

namespace {

const QString sysBlock = QStringLiteral("/sys/block/");

bool isVirtualDiskName(const QString& name)
{
    for (const char* prefix : {"loop", "ram", "zram", "dm-", "md"}) {
        if (name.startsWith(QLatin1String(prefix)))
            return true;
    }
    return false;
}

QString firstLine(const HostRoot& root, const QString& path)
{
    const auto text = root.readTextFile(path);
    return text ? text->section(QLatin1Char('\n'), 0, 0).trimmed() : QString();
}

QHash<QString, QString> readUdev(const HostRoot& root, const QString& disk, bool* found)
{
    const QString dev = firstLine(root, sysBlock + disk + QStringLiteral("/dev"));
    const auto text = dev.isEmpty() ? std::nullopt : root.readTextFile(QStringLiteral("/run/udev/data/b") + dev);
    *found = text.has_value();
    return text ? BlockStorageProvider::parseUdevRecord(*text) : QHash<QString, QString>();
}

BlockStorageProvider::Transport transportOf(const HostRoot& root, const QString& disk,
                                            const QHash<QString, QString>& udev)
{
    using T = BlockStorageProvider::Transport;
    // The disk's sysfs link names the buses it hangs from ("../devices/pci0000:00/.../ata1/host0/...").
    const QString link = root.readLink(sysBlock + disk).value_or(QString()) + QLatin1Char('/')
                       + root.readLink(sysBlock + disk + QStringLiteral("/device")).value_or(QString());
    const QString bus = udev.value(QStringLiteral("ID_BUS"));
    if (disk.startsWith(QLatin1String("nvme")) || link.contains(QLatin1String("/nvme")))
        return T::Nvme;
    if (disk.startsWith(QLatin1String("vd")) || link.contains(QLatin1String("/virtio")))
        return T::Virtio;
    if (bus == QLatin1String("usb") || link.contains(QLatin1String("/usb")))
        return T::Usb;
    if (disk.startsWith(QLatin1String("mmcblk")) || link.contains(QLatin1String("/mmc")))
        return T::SecureDigital;
    if (bus == QLatin1String("ata") || link.contains(QLatin1String("/ata"))) {
        // Without a udev record the libata path is all we know; today that is nearly always SATA.
        if (udev.contains(QStringLiteral("ID_ATA")) && udev.value(QStringLiteral("ID_ATA_SATA")) != QLatin1String("1"))
            return T::Pata;
        return T::Sata;
    }
    return T::Scsi;
}

class DiskPropertySource final : public IORegistryPropertySource {
public:
    DiskPropertySource(HostRoot root, QString disk, BlockStorageProvider::Transport transport)
        : root_(std::move(root)), disk_(std::move(disk)), transport_(transport)
    {
    }

    QVariantMap properties() const override
    {
        using T = BlockStorageProvider::Transport;
        // A drive that is gone has no properties, rather than the fallbacks below.
        const QFileInfo folder(root_.path(sysBlock + disk_));
        if (!folder.exists() && !folder.isSymLink())
            return {};
        bool hasUdev = false;
        const QHash<QString, QString> udev = readUdev(root_, disk_, &hasUdev);
        const QString device = sysBlock + disk_ + QStringLiteral("/device/");
        const bool ata = transport_ == T::Sata || transport_ == T::Pata;

        QVariantMap characteristics;
        QString product = BlockStorageProvider::decodeUdevString(udev.value(QStringLiteral("ID_MODEL_ENC"))).trimmed();
        if (product.isEmpty())
            product = udev.value(QStringLiteral("ID_MODEL")).replace(QLatin1Char('_'), QLatin1Char(' ')).trimmed();
        if (product.isEmpty())
            product = firstLine(root_, device + QStringLiteral("model"));
        if (product.isEmpty() && transport_ == T::Virtio)
            product = QStringLiteral("VirtIO Block Device");
        if (!product.isEmpty())
            characteristics.insert(QStringLiteral("Product Name"), product);

        // libata reports "ATA" as the SCSI vendor, and virtio a PCI vendor number: neither names a maker.
        if (!ata && transport_ != T::Virtio && transport_ != T::Nvme) {
            QString vendor = BlockStorageProvider::decodeUdevString(udev.value(QStringLiteral("ID_VENDOR_ENC"))).trimmed();
            if (vendor.isEmpty())
                vendor = firstLine(root_, device + QStringLiteral("vendor"));
            if (!vendor.isEmpty())
                characteristics.insert(QStringLiteral("Vendor Name"), vendor);
        }

        QString serial = udev.value(QStringLiteral("ID_SERIAL_SHORT")).trimmed();
        if (serial.isEmpty())
            serial = firstLine(root_, device + QStringLiteral("serial"));
        if (!serial.isEmpty())
            characteristics.insert(QStringLiteral("Serial Number"), serial);

        QString revision = udev.value(QStringLiteral("ID_REVISION")).trimmed();
        if (revision.isEmpty())
            revision = firstLine(root_, device + (transport_ == T::Nvme ? QStringLiteral("firmware_rev") : QStringLiteral("rev")));
        if (!revision.isEmpty())
            characteristics.insert(QStringLiteral("Product Revision Level"), revision);

        QVariantMap result;
        const bool udevKnowsAta = hasUdev && udev.value(QStringLiteral("ID_ATA")) == QLatin1String("1");
        if (ata && udevKnowsAta) {
            const bool smart = udev.value(QStringLiteral("ID_ATA_FEATURE_SET_SMART")) == QLatin1String("1");
            characteristics.insert(QStringLiteral("ATA Features"), values::fromUnsigned(smart ? 0x20 : 0));
            result.insert(QStringLiteral("SMART Capable"), values::fromBool(smart));
        } else if (!ata) {
            // Only ATA drives are reached through the S.M.A.R.T. pass-through.
            result.insert(QStringLiteral("SMART Capable"), values::fromBool(false));
        }
        result.insert(QStringLiteral("Device Characteristics"), characteristics);

        const bool external = transport_ == T::Usb || firstLine(root_, sysBlock + disk_ + QStringLiteral("/removable")) == QLatin1String("1");
        result.insert(QStringLiteral("Protocol Characteristics"),
                      QVariantMap{{QStringLiteral("Physical Interconnect"), BlockStorageProvider::interconnectName(transport_)},
                                  {QStringLiteral("Physical Interconnect Location"),
                                   external ? QStringLiteral("External") : QStringLiteral("Internal")}});
        return result;
    }

    QString identity() const override
    {
        return QStringLiteral("block/%1/%2").arg(disk_).arg(int(transport_));
    }

private:
    HostRoot root_;
    QString disk_;
    BlockStorageProvider::Transport transport_;
};

class MediaPropertySource final : public IORegistryPropertySource {
public:
    MediaPropertySource(HostRoot root, QString disk) : root_(std::move(root)), disk_(std::move(disk)) {}

    QString identity() const override { return QStringLiteral("block/%1/media").arg(disk_); }

    QVariantMap properties() const override
    {
        QVariantMap result{{QStringLiteral("BSD Name"), disk_}, {QStringLiteral("Whole"), values::fromBool(true)}};
        bool ok = false;
        // sysfs counts 512-byte sectors whatever the drive's block size.
        const quint64 sectors = firstLine(root_, sysBlock + disk_ + QStringLiteral("/size")).toULongLong(&ok);
        if (ok)
            result.insert(QStringLiteral("Size"), values::fromUnsigned(sectors * 512));
        const QString removable = firstLine(root_, sysBlock + disk_ + QStringLiteral("/removable"));
        if (!removable.isEmpty())
            result.insert(QStringLiteral("Removable"), values::fromBool(removable == QLatin1String("1")));
        return result;
    }

private:
    HostRoot root_;
    QString disk_;
};

} // namespace

QHash<QString, QString> BlockStorageProvider::parseUdevRecord(const QString& text)
{
    QHash<QString, QString> result;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (!line.startsWith(QLatin1String("E:")))
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 2)
            result.insert(line.mid(2, eq - 2), line.mid(eq + 1));
    }
    return result;
}

QString BlockStorageProvider::decodeUdevString(const QString& encoded)
{
    QByteArray bytes;
    const QByteArray utf8 = encoded.toUtf8();
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] == '\\' && i + 3 < utf8.size() && utf8[i + 1] == 'x') {
            bool ok = false;
            const int value = utf8.mid(i + 2, 2).toInt(&ok, 16);
            if (ok) {
                bytes.append(char(value));
                i += 3;
                continue;
            }
        }
        bytes.append(utf8[i]);
    }
    return QString::fromUtf8(bytes);
}

QStringList BlockStorageProvider::classChain(Transport transport)
{
    QString leaf;
    switch (transport) {
    case Transport::Sata:
    case Transport::Pata: leaf = QStringLiteral("IOAHCIBlockStorageDevice"); break;
    case Transport::Usb:
    case Transport::Scsi:
    case Transport::SecureDigital: leaf = QStringLiteral("IOBlockStorageServices"); break;
    case Transport::Nvme: leaf = QStringLiteral("IONVMeBlockStorageDevice"); break;
    case Transport::Virtio: leaf = QStringLiteral("IOVirtIOBlockStorageDevice"); break;
    }
    return {leaf, QStringLiteral("IOBlockStorageDevice"), QStringLiteral("IOService"), QStringLiteral("IORegistryEntry")};
}

QString BlockStorageProvider::interconnectName(Transport transport)
{
    switch (transport) {
    case Transport::Sata: return QStringLiteral("SATA");
    case Transport::Pata: return QStringLiteral("ATA");
    case Transport::Usb: return QStringLiteral("USB");
    case Transport::Scsi: return QStringLiteral("SCSI");
    case Transport::SecureDigital: return QStringLiteral("Secure Digital");
    case Transport::Nvme: return QStringLiteral("PCI-Express");
    case Transport::Virtio: return QStringLiteral("Virtual Interface");
    }
    return {};
}

std::optional<QByteArray> BlockStorageProvider::changeSignature(const HostRoot& root) const
{
    // Each disk's link names where it hangs: a disk that came, went or moved to another port.
    QByteArray signature;
    for (const QString& disk : root.listDirectory(QStringLiteral("/sys/block")).value_or(QStringList())) {
        if (!isVirtualDiskName(disk))
            signature += disk.toUtf8() + ' ' + root.readLink(sysBlock + disk).value_or(QString()).toUtf8() + '\n';
    }
    return signature;
}

void BlockStorageProvider::addEntries(const HostRoot& root, IORegistry::Builder& builder) const
{
    const auto disks = root.listDirectory(QStringLiteral("/sys/block"));
    if (!disks)
        return;
    for (const QString& disk : *disks) {
        if (isVirtualDiskName(disk) || !QFileInfo::exists(root.path(sysBlock + disk + QStringLiteral("/device"))))
            continue;
        bool hasUdev = false;
        const Transport transport = transportOf(root, disk, readUdev(root, disk, &hasUdev));
        const QStringList chain = classChain(transport);
        const int device = builder.add(IORegistry::RootIndex, chain, chain.front(),
                                       std::make_shared<DiskPropertySource>(root, disk, transport));
        if (device < 0)
            continue;
        builder.add(device, {QStringLiteral("IOMedia"), QStringLiteral("IOService"), QStringLiteral("IORegistryEntry")},
                    QStringLiteral("IOMedia"), std::make_shared<MediaPropertySource>(root, disk));
    }
}

} // namespace platform
