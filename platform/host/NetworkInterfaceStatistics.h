#pragma once
// NetworkInterfaceStatistics: the 64-bit counters of every network interface in /proc/net/dev (one read per
// call), and the user-visible interface names of /sys/class/net/<if>/ifalias. Stateless.

#include "platform/foundation/HostRoot.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

namespace platform {

struct NetworkInterfaceCounters {
    quint64 outputPackets = 0;
    quint64 inputPackets = 0;
    quint64 outputBytes = 0;
    quint64 inputBytes = 0;
    quint64 outputErrors = 0;
    quint64 inputErrors = 0;
    quint64 collisions = 0;
};

class NetworkInterfaceStatistics {
public:
    using Interfaces = std::vector<std::pair<QString, NetworkInterfaceCounters>>;

    // In the kernel's order; nothing when the file is missing or has no header.
    static std::optional<Interfaces> read(const HostRoot& root);
    static std::optional<Interfaces> parse(const QByteArray& text);
    // The alias set with `ip link set <if> alias <text>`; null when unset or empty.
    static QString alias(const HostRoot& root, const QString& interfaceName);
    // Every interface of /sys/class/net that has an alias, name → alias.
    static QMap<QString, QString> aliases(const HostRoot& root);
};

} // namespace platform
