#pragma once
// MonitorConnectionInfo: how one monitoring client reaches its acquisition centre: the local core of an
// application, a remote agent found by DNS-SD, or a remote agent at a typed host and port. Immutable, so
// it is shared freely between threads (it travels to the capture thread as an invocation argument).

#include "platform/foundation/Archivable.h"
#include "platform/net/NetService.h"

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>
#include <optional>

namespace platform {
class Coder;
}

class MonitorConnectionInfo final : public platform::Archivable {
public:
    // Null for an empty name.
    static std::shared_ptr<MonitorConnectionInfo> createForLocalMachine(const QString& applicationName);
    // The service stays unresolved; whoever connects resolves it (platform::ServiceDiscovery::resolve).
    static std::shared_ptr<MonitorConnectionInfo> createForRemoteConnection(const platform::NetService& service);
    // Null for a null host; an empty host and port 0 are taken as given.
    static std::shared_ptr<MonitorConnectionInfo> createForRemoteConnection(const QString& hostSpecifier,
                                                                            quint16 portNumber);
    // Null for anything but a sound property-list form (see the .cpp); nothing is logged.
    static std::shared_ptr<MonitorConnectionInfo> connectionInfoFromPropertyList(const QVariant& plist);
    // Reads the property-list keys back from a keyed archive; null (and a failed coder) when unsound.
    static std::shared_ptr<MonitorConnectionInfo> createWithCoder(platform::Coder& coder);

    static QString remoteMonitoringBonjourServiceType() { return QStringLiteral("_x-tevkelvaro._tcp."); }

    const QString& applicationName() const { return applicationName_; }
    const std::optional<platform::NetService>& netService() const { return netService_; }
    const QString& hostSpecifier() const { return hostSpecifier_; }
    quint16 portNumber() const { return portNumber_; }

    bool isLocal() const { return !applicationName_.isEmpty(); }
    // Matches by the field of this descriptor's kind; a Bonjour service by its name only.
    bool isEqual(const MonitorConnectionInfo& other) const;
    bool isEqual(const platform::ObjectRef& other) const;
    QString description() const;
    QVariantMap propertyListRepresentation() const;

    QString className() const override { return QStringLiteral("MonitorConnectionInfo"); }
    // Keyed coders only: the keys of the property-list form.
    void encodeWithCoder(platform::Coder& coder) const override;

private:
    MonitorConnectionInfo() = default;

    QString applicationName_;
    std::optional<platform::NetService> netService_;
    QString hostSpecifier_;
    quint16 portNumber_ = 0;
};
