#pragma once
// DmiIdentity: the machine's identity in /sys/class/dmi/id (model, serial number, UUID, board), with the
// rule which firmware values are placeholders. Stateless.

#include "platform/foundation/HostRoot.h"

#include <QString>
#include <QUuid>

#include <optional>

namespace platform {

class DmiIdentity {
public:
    // /sys/class/dmi/id/<file> ("product_name", "product_serial", "board_name", ...) trimmed; nothing when
    // missing, unreadable (product_serial and product_uuid are root-only) or empty.
    static std::optional<QString> field(const HostRoot& root, const QString& file);
    // product_uuid; nothing when missing or a placeholder (all zero or all one bits).
    static std::optional<QUuid> productUuid(const HostRoot& root);
    // True for the texts firmware leaves in unset serial fields: "", "0", "Not Specified", "To Be Filled By
    // O.E.M.", "System Serial Number", "Default string" (trimmed, any case).
    static bool isPlaceholderSerialNumber(const QString& serial);
};

} // namespace platform
