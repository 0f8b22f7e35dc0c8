#pragma once
// NameResolver: the host-name lookups the host specifier needs, behind one interface so that tests run
// without a network. The process-wide one is SystemNameResolver; tests install their own. Implementations
// are thread-safe: background resolvers call them from their own threads.

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace platform {

struct HostEntry {
    QStringList names;     // canonical name first
    QStringList addresses; // numeric texts, IPv4 and IPv6 mixed, in the order found
};

class NameResolver {
public:
    virtual ~NameResolver() = default;

    // Forward lookup of a name; nothing when it does not resolve.
    virtual std::optional<HostEntry> hostByName(const QString& name) = 0;
    // Reverse lookup of an address text: the address, and its name when one is registered.
    virtual std::optional<HostEntry> hostByAddress(const QString& address) = 0;
    // This computer: its host names and the addresses of its interfaces (loopback included).
    virtual std::optional<HostEntry> currentHost() = 0;
    // The system host name (gethostname).
    virtual std::optional<QString> hostName() = 0;
    // The registered name of an address; a numeric answer is no name.
    virtual std::optional<QString> nameForAddress(const QString& address) = 0;
    // The first address of the interface that carries the default route of the family.
    virtual std::optional<QString> primaryAddress(bool ipv6) = 0;
    // The name this computer announces on the local link ("lab-mac" for lab-mac.local); empty when unknown.
    virtual QString localMulticastHostName() = 0;
    // A network number from the networks database, right-aligned in host order as the database keeps it
    // (the entry "loopnet 127" gives 127).
    virtual std::optional<quint32> networkNumber(const QString& name) = 0;
    // Whether `host` (name or address) resolves to an address that a route leads to, without dialling.
    // Nothing when the check itself could not be made; `error` then says why.
    virtual std::optional<bool> isReachable(const QString& host, QString* error) = 0;

    // The one set last, else a SystemNameResolver on the current host root. Never null.
    static std::shared_ptr<NameResolver> shared();
    // Null returns to the system resolver.
    static void setShared(std::shared_ptr<NameResolver> resolver);

    // Names that only ever mean this computer's loopback interface ("localhost", "ip6-localhost",
    // "localhost.localdomain", any name under ".localhost"); case-insensitive.
    static bool isLoopbackName(const QString& name);
};

} // namespace platform
