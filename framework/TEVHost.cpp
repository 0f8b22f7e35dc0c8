#include "framework/TEVHost.h"

#include "platform/foundation/Log.h"

#include <functional>
#include <list>
#include <thread>

namespace {

constexpr auto kClassName = "TEVHost";
const QString kLocalHost = QStringLiteral("localhost");

QString listText(const QStringList& items)
{
    return QLatin1Char('(') + items.join(QStringLiteral(", ")) + QLatin1Char(')');
}

template <typename List>
QStringList addressTexts(const List& addresses)
{
    QStringList texts;
    for (const auto& address : addresses)
        texts.append(address->string());
    return texts;
}

// The resolver threads of the process. A system lookup cannot be cancelled; rather than run on into the
// statics that exit tears down, the ones still running are joined at exit (each ends with its lookup,
// within the resolver's own time-outs). Finished ones are joined as new ones start.
class ResolverThreads {
public:
    static ResolverThreads& shared()
    {
        static ResolverThreads threads;
        return threads;
    }
    ~ResolverThreads() { joinAll(); }

    void start(std::function<void()> work)
    {
        std::lock_guard lock(mutex_);
        threads_.remove_if([](Running& running) {
            if (!running.done->load())
                return false;
            running.thread.join();
            return true;
        });
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([work = std::move(work), done]() mutable {
            work();
            work = nullptr; // what the work holds goes before the thread counts as done
            done->store(true);
        });
        threads_.push_back({std::move(thread), std::move(done)});
    }

    void joinAll()
    {
        std::list<Running> all;
        {
            std::lock_guard lock(mutex_);
            all.swap(threads_);
        }
        for (Running& running : all)
            running.thread.join();
    }

private:
    struct Running {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::mutex mutex_;
    std::list<Running> threads_;
};

} // namespace

TEVHost::TEVHost()
    : resolver_(platform::NameResolver::shared())
{
}

std::shared_ptr<TEVHost> TEVHost::create()
{
    return std::make_shared<TEVHost>();
}

std::shared_ptr<TEVHost> TEVHost::createWithString(const QString& text)
{
    if (text.isEmpty())
        return nullptr;
    auto host = create();
    host->originalSpecifier_ = text;
    const qint64 query = TEVIPv4Address::isValidAddress(text) || TEVIPv6Address::isValidAddress(text) ? AddressQuery : HostNameQuery;
    host->performQuickQuery(query, text);
    host->performBackgroundQuery(query, text);
    QStringList names;
    IPv4List v4;
    IPv6List v6;
    host->getNames(&names, &v4, &v6);
    if (names.isEmpty() && (v4.isEmpty() || v6.isEmpty()))
        host->waitForCompleteResults();
    return host;
}

std::shared_ptr<TEVHost> TEVHost::localHost()
{
    auto host = create();
    host->originalSpecifier_ = kLocalHost;
    host->performQuickQuery(LocalHostQuery, QString());
    host->performBackgroundQuery(LocalHostQuery, QString());
    return host;
}

void TEVHost::setIsLikelyComplete(bool complete)
{
    {
        std::lock_guard lock(completeMutex_);
        complete_.store(complete);
    }
    if (complete)
        completed_.notify_all();
}

QString TEVHost::originalSpecifier() const
{
    std::lock_guard lock(accessLock_);
    return originalSpecifier_;
}

void TEVHost::getNames(QStringList* names, IPv4List* v4Addresses, IPv6List* v6Addresses) const
{
    std::lock_guard lock(accessLock_);
    if (names)
        *names = names_;
    if (v4Addresses)
        *v4Addresses = ipv4Addresses_;
    if (v6Addresses)
        *v6Addresses = ipv6Addresses_;
}

QStringList TEVHost::knownNames() const
{
    QStringList names;
    getNames(&names, nullptr, nullptr);
    return names;
}

TEVHost::IPv4List TEVHost::knownIPv4Addresses() const
{
    IPv4List v4;
    getNames(nullptr, &v4, nullptr);
    return v4;
}

TEVHost::IPv6List TEVHost::knownIPv6Addresses() const
{
    IPv6List v6;
    getNames(nullptr, nullptr, &v6);
    return v6;
}

QList<platform::ObjectRef> TEVHost::knownAddresses() const
{
    IPv4List v4;
    IPv6List v6;
    getNames(nullptr, &v4, &v6);
    QList<platform::ObjectRef> all;
    for (const auto& address : v4)
        all.append(address);
    for (const auto& address : v6)
        all.append(address);
    return all;
}

QString TEVHost::shortestName() const
{
    return shortestTrueHostNameFromList(knownNames());
}

QString TEVHost::longestName() const
{
    const QStringList names = knownNames();
    QString longest;
    for (const QString& name : names) {
        if (isActualHostName(name) && (longest.isNull() || name.size() > longest.size()))
            longest = name;
    }
    if (longest.isNull() && !names.isEmpty())
        return names.constFirst();
    return longest;
}

bool TEVHost::isLocalHost() const
{
    return knownNames().contains(kLocalHost);
}

QString TEVHost::bestRepresentation() const
{
    QStringList names;
    IPv4List v4;
    IPv6List v6;
    getNames(&names, &v4, &v6);

    if (names.contains(kLocalHost)) {
        const QString localName = resolver_->localMulticastHostName();
        if (!localName.isEmpty()) {
            for (const QString& name : names) {
                if (name == localName)
                    return name;
            }
        }
    }
    if (!names.isEmpty()) {
        const QString shortest = shortestTrueHostNameFromList(names);
        if (!isBonjourName(shortest))
            return shortest; // null when no name is an actual host name
        QStringList plain;
        for (const QString& name : names) {
            if (!isBonjourName(name))
                plain.append(name);
        }
        const QString shortestPlain = shortestTrueHostNameFromList(plain);
        return shortestPlain.isNull() ? shortest : shortestPlain;
    }
    if (!v4.isEmpty())
        return firstNonLoopbackIPv4StringFromList(v4);
    if (!v6.isEmpty())
        return firstNonLoopbackIPv6StringFromList(v6);
    return specifierForFailedDNSRequest();
}

bool TEVHost::canBeReachedWithoutIntervention() const
{
    QString error;
    const auto reachable = resolver_->isReachable(bestRepresentation(), &error);
    if (!reachable) {
        platform::log(kClassName, QStringLiteral("error setting up reachability check: %1").arg(error));
        return false;
    }
    return *reachable;
}

QString TEVHost::description() const
{
    QStringList names;
    IPv4List v4;
    IPv6List v6;
    getNames(&names, &v4, &v6);
    return QStringLiteral("%1: specified as '%2' -> names: %3 IPv4: %4 IPv6: %5\n")
        .arg(QString::fromLatin1(kClassName), originalSpecifier(), listText(names), listText(addressTexts(v4)),
             listText(addressTexts(v6)));
}

bool TEVHost::isActualHostName(const QString& text)
{
    if (TEVIPv4Address::isValidAddress(text) || TEVIPv6Address::isValidAddress(text))
        return false;
    // Not only "localhost": a loopback alias such as "ip6-localhost" is never the name to show.
    return !platform::NameResolver::isLoopbackName(text);
}

bool TEVHost::isBonjourName(const QString& text)
{
    return text.endsWith(QLatin1String(".local"));
}

QString TEVHost::shortestTrueHostNameFromList(const QStringList& names)
{
    QString shortest;
    for (const QString& name : names) {
        if (isActualHostName(name) && (shortest.isNull() || name.size() < shortest.size()))
            shortest = name;
    }
    return shortest;
}

QString TEVHost::firstNonLoopbackIPv4StringFromList(const IPv4List& addresses)
{
    if (addresses.isEmpty())
        return QString();
    const QString loopback = QStringLiteral("127.0.0.1");
    for (const auto& address : addresses) {
        const QString text = address->string();
        if (text != loopback)
            return text;
    }
    return loopback;
}

QString TEVHost::firstNonLoopbackIPv6StringFromList(const IPv6List& addresses)
{
    if (addresses.isEmpty())
        return QString();
    const QString loopback = QStringLiteral("::1");
    for (const auto& address : addresses) {
        const QString text = address->string();
        if (text != loopback)
            return text;
    }
    return loopback;
}

void TEVHost::performQuickQuery(qint64 query, const QString& specifier)
{
    QStringList names;
    QStringList addresses;
    if (query == HostNameQuery || query == AddressQuery) {
        const auto entry = query == HostNameQuery ? resolver_->hostByName(specifier) : resolver_->hostByAddress(specifier);
        if (!entry)
            return;
        if (!entry->names.isEmpty())
            names.append(entry->names.constFirst());
        if (!entry->addresses.isEmpty())
            addresses.append(entry->addresses.constFirst());
    } else if (query == LocalHostQuery) {
        names.append(kLocalHost);
        addresses << QStringLiteral("127.0.0.1") << QStringLiteral("::1");
        if (const auto hostName = resolver_->hostName()) {
            names.append(*hostName);
            if (const auto entry = resolver_->hostByName(*hostName); entry && !entry->addresses.isEmpty())
                addresses.append(entry->addresses.constFirst());
        }
    } else {
        return;
    }
    updateHostDataWithNames(names, addresses);
}

void TEVHost::performBackgroundQuery(qint64 query, const QString& specifier)
{
    BackgroundRequest request;
    request.query = query;
    request.sender = shared_from_this();
    if (!specifier.isNull())
        request.specifier = specifier;
    try {
        // The request holds the host, so it lives until its resolver thread has finished.
        ResolverThreads::shared().start([request] { request.sender->runBackgroundResolverRequest(request); });
    } catch (const std::system_error& error) {
        platform::log(kClassName, QStringLiteral("cannot start a resolver thread: %1").arg(QString::fromLocal8Bit(error.what())));
        setIsLikelyComplete(true);
    }
}

void TEVHost::runBackgroundResolverRequest(const BackgroundRequest& request)
{
    const QString specifier = request.specifier.value_or(QString());
    std::optional<platform::HostEntry> entry;
    if (request.query == AddressQuery)
        entry = resolver_->hostByAddress(specifier);
    else if (request.query == HostNameQuery)
        entry = resolver_->hostByName(specifier);
    else if (request.query == LocalHostQuery)
        entry = resolver_->currentHost();
    if (entry && request.sender)
        request.sender->updateHostDataWithNames(entry->names, entry->addresses);
    if (request.sender)
        request.sender->setIsLikelyComplete(true);
}

void TEVHost::updateHostDataWithNames(const std::optional<QStringList>& names, const std::optional<QStringList>& addressStrings)
{
    if (!names || !addressStrings)
        return;
    IPv4List v4;
    IPv6List v6;
    for (const QString& text : *addressStrings) {
        if (auto address = TEVIPv4Address::createWithString(text))
            v4.append(std::move(address));
        else if (auto address6 = TEVIPv6Address::createWithString(text))
            v6.append(std::move(address6));
        else
            platform::log(kClassName, QStringLiteral("system returned strange address '%1'?").arg(text));
    }
    std::lock_guard lock(accessLock_);
    names_ = *names;
    ipv4Addresses_ = std::move(v4);
    ipv6Addresses_ = std::move(v6);
}

void TEVHost::waitForBackgroundLookups()
{
    ResolverThreads::shared().joinAll();
}

void TEVHost::waitForCompleteResults()
{
    // Woken by the resolver thread rather than polled once a second.
    std::unique_lock lock(completeMutex_);
    completed_.wait(lock, [this] { return complete_.load(); });
}

QString TEVHost::firstAddressOfLocalPrimaryNetworkServiceUseIPV6(bool ipv6)
{
    return platform::NameResolver::shared()->primaryAddress(ipv6).value_or(QString());
}

QString TEVHost::primaryNameOfLocalHost()
{
    QString address = firstAddressOfLocalPrimaryNetworkServiceUseIPV6(true);
    if (address.isEmpty())
        address = firstAddressOfLocalPrimaryNetworkServiceUseIPV6(false);
    if (address.isEmpty() || !(TEVIPv4Address::isValidAddress(address) || TEVIPv6Address::isValidAddress(address)))
        return kLocalHost;
    const auto name = platform::NameResolver::shared()->nameForAddress(address);
    // A primary address registered under a loopback alias names nothing useful either.
    if (!name || name->isEmpty() || platform::NameResolver::isLoopbackName(*name))
        return kLocalHost;
    return *name;
}
