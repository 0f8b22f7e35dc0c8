#pragma once
// TEVHost: one network host (the local computer, a host name or an address text) with the names and
// addresses name resolution finds for it, and its best printable form. A quick lookup on the creating
// thread fills it first; a background lookup on a thread of its own then replaces that with the full
// answer. Shared (the resolver thread holds it until done); readers on any thread see the three lists
// from one answer. Resolver threads are joined at exit.

#include "framework/TEVIPv4Address.h"
#include "framework/TEVIPv6Address.h"
#include "platform/net/NameResolver.h"

#include <QList>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

class TEVHost : public std::enable_shared_from_this<TEVHost> {
public:
    using IPv4List = QList<std::shared_ptr<TEVIPv4Address>>;
    using IPv6List = QList<std::shared_ptr<TEVIPv6Address>>;

    // The kinds of query; other values look up nothing.
    enum QueryKind : qint64 { LocalHostQuery = 0, HostNameQuery = 1, AddressQuery = 2 };

    // What the resolver thread is handed.
    struct BackgroundRequest {
        qint64 query = -1;
        std::shared_ptr<TEVHost> sender;
        std::optional<QString> specifier;
    };

    // Empty lists, no specifier, not complete.
    static std::shared_ptr<TEVHost> create();
    // Null for an empty text. May block until the background lookup ends (see waitForCompleteResults).
    static std::shared_ptr<TEVHost> createWithString(const QString& text);
    // The local computer, specified as "localhost"; never waits.
    static std::shared_ptr<TEVHost> localHost();

    static QString specifierForFailedDNSRequest() { return QStringLiteral("<?>"); }

    bool isLikelyComplete() const { return complete_.load(); }
    void setIsLikelyComplete(bool complete);
    QString originalSpecifier() const;
    std::mutex& accessLock() const { return accessLock_; }

    // Null out-parameters are skipped.
    void getNames(QStringList* names, IPv4List* v4Addresses, IPv6List* v6Addresses) const;
    QStringList knownNames() const;
    IPv4List knownIPv4Addresses() const;
    IPv6List knownIPv6Addresses() const;
    // IPv4 addresses first, then IPv6.
    QList<platform::ObjectRef> knownAddresses() const;

    QString shortestName() const;
    QString longestName() const;
    bool isLocalHost() const;
    // The name to show: never a loopback alias; "<?>" when nothing resolved.
    QString bestRepresentation() const;
    // Whether a route leads to the best representation now, without dialling.
    bool canBeReachedWithoutIntervention() const;
    QString description() const;

    // False for address texts and loopback aliases ("localhost", "ip6-localhost", ...).
    static bool isActualHostName(const QString& text);
    static bool isBonjourName(const QString& text);
    static QString shortestTrueHostNameFromList(const QStringList& names);
    static QString firstNonLoopbackIPv4StringFromList(const IPv4List& addresses);
    static QString firstNonLoopbackIPv6StringFromList(const IPv6List& addresses);

    void performQuickQuery(qint64 query, const QString& specifier);
    void performBackgroundQuery(qint64 query, const QString& specifier);
    void runBackgroundResolverRequest(const BackgroundRequest& request);
    // Replaces the lists; nothing happens unless both are given.
    void updateHostDataWithNames(const std::optional<QStringList>& names, const std::optional<QStringList>& addressStrings);
    // Blocks until the background lookup has ended, however long the system's lookup takes.
    void waitForCompleteResults();
    // Blocks until every background lookup of the process has ended; exit does the same, so no resolver
    // thread outlives the program.
    static void waitForBackgroundLookups();

    // The address of the interface that carries the default route; null when there is none.
    static QString firstAddressOfLocalPrimaryNetworkServiceUseIPV6(bool ipv6);
    // The registered name of the primary address, else "localhost".
    static QString primaryNameOfLocalHost();

    TEVHost(); // for make_shared; use create()

private:
    std::shared_ptr<platform::NameResolver> resolver_;
    mutable std::mutex accessLock_; // guards the three lists and the specifier
    QString originalSpecifier_;
    QStringList names_;
    IPv4List ipv4Addresses_;
    IPv6List ipv6Addresses_;

    std::atomic<bool> complete_{false};
    mutable std::mutex completeMutex_;
    std::condition_variable completed_;
};
