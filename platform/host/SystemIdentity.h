#pragma once
// SystemIdentity: who the host says it is: os-release, the pretty and the kernel host name, the machine id,
// the kernel's type, release and version. Every reader returns nothing for a missing or empty source.
// Stateless.

#include "platform/foundation/HostRoot.h"

#include <QMap>
#include <QString>
#include <QUuid>

#include <optional>

namespace platform {

class SystemIdentity {
public:
    // /etc/os-release, else /usr/lib/os-release, as KEY → value.
    static std::optional<QMap<QString, QString>> osRelease(const HostRoot& root);
    // PRETTY_HOSTNAME of /etc/machine-info.
    static std::optional<QString> prettyHostname(const HostRoot& root);
    // /proc/sys/kernel/hostname; the kernel's "(none)" counts as none.
    static std::optional<QString> hostname(const HostRoot& root);
    // /etc/machine-id (32 hexadecimal digits) as a UUID; nothing when malformed or all zero.
    static std::optional<QUuid> machineId(const HostRoot& root);
    // The machine id is confidential and must not leave the machine: what a program may show or send is
    // this stable derivation, HMAC-SHA256 keyed by the machine id over the program's own id, cut to a
    // version-4 UUID. Nothing without a machine id.
    static std::optional<QUuid> applicationSpecificMachineId(const HostRoot& root, const QUuid& applicationId);
    // /proc/sys/kernel/<name>: "ostype" ("Linux"), "osrelease" ("6.1.0-18-amd64"), "version" ("#1 SMP ...").
    static std::optional<QString> kernelValue(const HostRoot& root, const QString& name);
    // The first line of /proc/version: "Linux version 6.1.0-18-amd64 (...) #1 SMP ...".
    static std::optional<QString> kernelBanner(const HostRoot& root);
    // major << 16 | minor << 8 | patch (patch capped at 255) of a release such as "6.1.76-1-amd64".
    static std::optional<qint64> kernelVersionCode(const QString& release);
};

} // namespace platform
