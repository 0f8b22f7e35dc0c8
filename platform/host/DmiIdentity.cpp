#include "platform/host/DmiIdentity.h"

#include "platform/host/HostText.h"

namespace platform {

std::optional<QString> DmiIdentity::field(const HostRoot& root, const QString& file)
{
    const auto text = root.readTextFile(QStringLiteral("/sys/class/dmi/id/") + file);
    if (!text)
        return std::nullopt;
    const QString value = text->trimmed();
    if (value.isEmpty())
        return std::nullopt;
    return value;
}

std::optional<QUuid> DmiIdentity::productUuid(const HostRoot& root)
{
    const auto text = field(root, QStringLiteral("product_uuid"));
    if (!text)
        return std::nullopt;
    const QUuid uuid = QUuid::fromString(*text);
    if (uuid.isNull() || uuid == QUuid(QStringLiteral("ffffffff-ffff-ffff-ffff-ffffffffffff")))
        return std::nullopt;
    return uuid;
}

bool DmiIdentity::isPlaceholderSerialNumber(const QString& serial)
{
    const QString text = serial.trimmed();
    for (const char* placeholder :
         {"", "0", "Not Specified", "To Be Filled By O.E.M.", "System Serial Number", "Default string"}) {
        if (text.compare(QLatin1String(placeholder), Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

} // namespace platform
