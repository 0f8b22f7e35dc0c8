#include "platform/registry/DmiPlatformProvider.h"

#include <QFileInfo>

#include <utility>
#include <vector>

namespace platform {

namespace {

const QString dmiFolder = QStringLiteral("/sys/class/dmi/id");

struct DmiProperty {
    QString key;
    QString file;
    // Published as "" when the file is missing or unreadable (product_serial is readable by root only),
    // so the serial number and board identifier always come as a pair.
    bool alwaysPublished;
};

// Each access reads the DMI files again.
class DmiPropertySource final : public IORegistryPropertySource {
public:
    DmiPropertySource(HostRoot root, std::vector<DmiProperty> table) : root_(std::move(root)), table_(std::move(table)) {}

    QVariantMap properties() const override
    {
        QVariantMap result;
        for (const auto& row : table_) {
            const QVariant value = read(row);
            if (value.isValid())
                result.insert(row.key, value);
        }
        return result;
    }

    QVariant property(const QString& key) const override
    {
        for (const auto& row : table_) {
            if (row.key == key)
                return read(row);
        }
        return {};
    }

private:
    QVariant read(const DmiProperty& row) const
    {
        const auto text = root_.readTextFile(dmiFolder + QLatin1Char('/') + row.file);
        if (!text)
            return row.alwaysPublished ? QVariant(QString()) : QVariant();
        QString value = *text;
        while (value.endsWith(QLatin1Char('\n')))
            value.chop(1);
        return QVariant(value.trimmed());
    }

    HostRoot root_;
    std::vector<DmiProperty> table_;
};

bool anyReadable(const HostRoot& root, const std::vector<DmiProperty>& table)
{
    for (const auto& row : table) {
        if (root.readTextFile(dmiFolder + QLatin1Char('/') + row.file))
            return true;
    }
    return false;
}

} // namespace

void DmiPlatformProvider::addEntries(const HostRoot& root, IORegistry::Builder& builder) const
{
    if (!QFileInfo(root.path(dmiFolder)).isDir())
        return;

    const std::vector<DmiProperty> platform = {
        {QStringLiteral("model"), QStringLiteral("product_name"), false},
        {QStringLiteral("IOPlatformSerialNumber"), QStringLiteral("product_serial"), true},
        {QStringLiteral("board-id"), QStringLiteral("board_name"), true},
        {QStringLiteral("manufacturer"), QStringLiteral("sys_vendor"), false},
    };
    const int expert = builder.add(IORegistry::RootIndex,
                                   {QStringLiteral("IOPlatformExpertDevice"), QStringLiteral("IOService"),
                                    QStringLiteral("IORegistryEntry")},
                                   QStringLiteral("IOPlatformExpertDevice"),
                                   std::make_shared<DmiPropertySource>(root, platform),
                                   {QStringLiteral("IODeviceTree:/")});
    if (expert < 0)
        return;

    const std::vector<DmiProperty> rom = {
        {QStringLiteral("version"), QStringLiteral("bios_version"), false},
        {QStringLiteral("release-date"), QStringLiteral("bios_date"), false},
    };
    if (anyReadable(root, rom)) {
        builder.add(expert, {QStringLiteral("IOService"), QStringLiteral("IORegistryEntry")}, QStringLiteral("rom"),
                    std::make_shared<DmiPropertySource>(root, rom), {QStringLiteral("IODeviceTree:/rom")});
    }
}

} // namespace platform
