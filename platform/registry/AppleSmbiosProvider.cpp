#include "platform/registry/AppleSmbiosProvider.h"

#include <algorithm>
#include <utility>

namespace platform {

namespace {

const QString tableFile = QStringLiteral("/sys/firmware/dmi/tables/DMI");
const QString idFolder = QStringLiteral("/sys/class/dmi/id/");
const QString smbiosKey = QStringLiteral("SMBIOS");

constexpr quint8 Unknown = 0x02; // "Unknown" in the wake-up type and the chassis state enumerations
constexpr qsizetype MaximumStringLength = 64;

// The /sys/class/dmi/id files as the table's bytes: sysfs adds one line feed; unreadable files (the
// serial numbers and the UUID are root-only) and empty ones count as no string.
class DmiId {
public:
    explicit DmiId(const HostRoot& root) : root_(root) {}

    QByteArray text(const char* file)
    {
        auto bytes = root_.readFile(idFolder + QLatin1String(file), 4096);
        if (!bytes)
            return {};
        anyRead_ = true;
        while (bytes->endsWith('\n'))
            bytes->chop(1);
        return bytes->left(MaximumStringLength);
    }
    bool anyRead() const { return anyRead_; }

private:
    const HostRoot& root_;
    bool anyRead_ = false;
};

// One structure: formatted area (header included) and its string set.
class Structure {
public:
    Structure(quint8 type, quint16 handle)
    {
        u8(type);
        u8(0); // length, set by bytes()
        u16(handle);
    }
    void u8(quint8 value) { formatted_.append(char(value)); }
    void u16(quint16 value)
    {
        u8(quint8(value));
        u8(quint8(value >> 8));
    }
    void u32(quint32 value)
    {
        u16(quint16(value));
        u16(quint16(value >> 16));
    }
    void u64(quint64 value)
    {
        u32(quint32(value));
        u32(quint32(value >> 32));
    }
    void raw(const QByteArray& bytes) { formatted_.append(bytes); }
    // A string-number byte; 0 (no string) for an empty text, which the set cannot hold.
    void string(const QByteArray& text)
    {
        if (text.isEmpty()) {
            u8(0);
            return;
        }
        strings_.append(text);
        u8(quint8(strings_.size()));
    }

    QByteArray bytes() const
    {
        QByteArray out = formatted_;
        out[1] = char(formatted_.size());
        for (const QByteArray& text : strings_)
            out.append(text).append('\0');
        if (strings_.isEmpty())
            out.append('\0');
        out.append('\0');
        return out;
    }

private:
    QByteArray formatted_;
    QList<QByteArray> strings_;
};

// "major.minor" as the kernel prints the release bytes; 0xFF 0xFF ("not supported") otherwise.
std::pair<quint8, quint8> release(const QByteArray& text)
{
    const QList<QByteArray> parts = text.split('.');
    if (parts.size() == 2) {
        bool majorOk = false;
        bool minorOk = false;
        const uint major = parts[0].toUInt(&majorOk);
        const uint minor = parts[1].toUInt(&minorOk);
        if (majorOk && minorOk && major <= 0xff && minor <= 0xff)
            return {quint8(major), quint8(minor)};
    }
    return {0xff, 0xff};
}

// The kernel prints the UUID in its canonical text; since SMBIOS 2.6 the table holds the first three
// fields little-endian. All zeros ("not present") when unreadable or malformed.
QByteArray uuidBytes(const QByteArray& text)
{
    QByteArray hex = text;
    hex.replace('-', QByteArray());
    QByteArray bytes = QByteArray::fromHex(hex);
    if (hex.size() != 32 || bytes.size() != 16 || QByteArray(bytes.toHex()) != hex.toLower())
        return QByteArray(16, '\0');
    std::reverse(bytes.begin(), bytes.begin() + 4);
    std::reverse(bytes.begin() + 4, bytes.begin() + 6);
    std::reverse(bytes.begin() + 6, bytes.begin() + 8);
    return bytes;
}

// sysfs gives the chassis type without its lock bit; 1 to 127 are the enumeration's values.
quint8 chassisType(const QByteArray& text)
{
    bool ok = false;
    const uint type = text.trimmed().toUInt(&ok);
    return ok && type >= 1 && type <= 0x7f ? quint8(type) : Unknown;
}

class SmbiosPropertySource final : public IORegistryPropertySource {
public:
    explicit SmbiosPropertySource(HostRoot root) : root_(std::move(root)) {}

    QVariantMap properties() const override
    {
        QVariantMap result;
        if (const auto data = AppleSmbiosProvider::table(root_))
            result.insert(smbiosKey, QVariant(*data));
        return result;
    }
    QVariant property(const QString& key) const override
    {
        if (key != smbiosKey)
            return {};
        const auto data = AppleSmbiosProvider::table(root_);
        return data ? QVariant(*data) : QVariant();
    }

private:
    HostRoot root_;
};

} // namespace

std::optional<QByteArray> AppleSmbiosProvider::table(const HostRoot& root)
{
    if (auto data = root.readFile(tableFile); data && !data->isEmpty())
        return data;
    return minimalTable(root);
}

// Layouts of SMBIOS 2.7: BIOS 24 bytes, system 27, base board 15 (no contained objects), enclosure 22 (no
// contained elements). What sysfs does not tell is given as "unknown" where the standard has such a value.
std::optional<QByteArray> AppleSmbiosProvider::minimalTable(const HostRoot& root)
{
    DmiId id(root);
    constexpr quint16 enclosureHandle = 3;

    Structure bios(0, 0);
    bios.string(id.text("bios_vendor"));
    bios.string(id.text("bios_version"));
    bios.u16(0); // starting address segment: none (UEFI)
    bios.string(id.text("bios_date"));
    bios.u8(0); // ROM size: sysfs does not give it, so it reads as the smallest, 64 KiB
    bios.u64(quint64(1) << 3); // "characteristics are not supported"
    bios.u16(0); // characteristics extension bytes
    const auto [major, minor] = release(id.text("bios_release"));
    bios.u8(major);
    bios.u8(minor);
    bios.u8(0xff); // embedded controller release: not supported
    bios.u8(0xff);

    Structure system(1, 1);
    system.string(id.text("sys_vendor"));
    system.string(id.text("product_name"));
    system.string(id.text("product_version"));
    system.string(id.text("product_serial"));
    system.raw(uuidBytes(id.text("product_uuid")));
    system.u8(Unknown); // wake-up type
    system.string(id.text("product_sku"));
    system.string(id.text("product_family"));

    Structure board(2, 2);
    board.string(id.text("board_vendor"));
    board.string(id.text("board_name"));
    board.string(id.text("board_version"));
    board.string(id.text("board_serial"));
    board.string(id.text("board_asset_tag"));
    board.u8(0); // feature flags
    board.u8(0); // location in chassis: no string
    board.u16(enclosureHandle);
    board.u8(0x01); // board type: unknown
    board.u8(0);    // contained object handles

    Structure enclosure(3, enclosureHandle);
    enclosure.string(id.text("chassis_vendor"));
    enclosure.u8(chassisType(id.text("chassis_type")));
    enclosure.string(id.text("chassis_version"));
    enclosure.string(id.text("chassis_serial"));
    enclosure.string(id.text("chassis_asset_tag"));
    for (int state = 0; state < 4; ++state) // boot-up, power supply, thermal, security
        enclosure.u8(Unknown);
    enclosure.u32(0); // OEM-defined
    enclosure.u8(0);  // height: unspecified
    enclosure.u8(0);  // power cords: unspecified
    enclosure.u8(0);  // contained element count
    enclosure.u8(0);  // contained element record length
    enclosure.u8(0);  // SKU: no string

    if (!id.anyRead())
        return std::nullopt;
    return bios.bytes() + system.bytes() + board.bytes() + enclosure.bytes() + Structure(127, 4).bytes();
}

void AppleSmbiosProvider::addEntries(const HostRoot& root, IORegistry::Builder& builder) const
{
    if (!table(root))
        return;
    builder.add(IORegistry::RootIndex,
                {QStringLiteral("AppleSMBIOS"), QStringLiteral("IOService"), QStringLiteral("IORegistryEntry")},
                QStringLiteral("AppleSMBIOS"), std::make_shared<SmbiosPropertySource>(root));
}

} // namespace platform
