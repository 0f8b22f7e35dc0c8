#include "tests/support/FakeNameResolver.h"

namespace kelvaro::test {

void FakeNameResolver::setGateClosed(bool closed)
{
    {
        std::lock_guard lock(mutex_);
        gateClosed_ = closed;
    }
    gateOpened_.notify_all();
}

QStringList FakeNameResolver::calls() const
{
    std::lock_guard lock(mutex_);
    return calls_;
}

std::unique_lock<std::mutex> FakeNameResolver::enter(const QString& call)
{
    std::unique_lock lock(mutex_);
    calls_.append(call);
    if (QThread::currentThread() != testThread_)
        gateOpened_.wait(lock, [this] { return !gateClosed_; });
    return lock;
}

std::optional<platform::HostEntry> FakeNameResolver::hostByName(const QString& name)
{
    const auto lock = enter(QStringLiteral("hostByName ") + name);
    const auto it = answers_.byName.constFind(name);
    return it == answers_.byName.constEnd() ? std::nullopt : std::optional(*it);
}

std::optional<platform::HostEntry> FakeNameResolver::hostByAddress(const QString& address)
{
    const auto lock = enter(QStringLiteral("hostByAddress ") + address);
    const auto it = answers_.byAddress.constFind(address);
    return it == answers_.byAddress.constEnd() ? std::nullopt : std::optional(*it);
}

std::optional<platform::HostEntry> FakeNameResolver::currentHost()
{
    const auto lock = enter(QStringLiteral("currentHost"));
    return answers_.current;
}

std::optional<QString> FakeNameResolver::hostName()
{
    const auto lock = enter(QStringLiteral("hostName"));
    return answers_.hostName;
}

std::optional<QString> FakeNameResolver::nameForAddress(const QString& address)
{
    const auto lock = enter(QStringLiteral("nameForAddress ") + address);
    const auto it = answers_.namesForAddresses.constFind(address);
    return it == answers_.namesForAddresses.constEnd() ? std::nullopt : std::optional(*it);
}

std::optional<QString> FakeNameResolver::primaryAddress(bool ipv6)
{
    const auto lock = enter(QStringLiteral("primaryAddress"));
    return ipv6 ? answers_.primaryIPv6 : answers_.primaryIPv4;
}

QString FakeNameResolver::localMulticastHostName()
{
    const auto lock = enter(QStringLiteral("localMulticastHostName"));
    return answers_.multicastName;
}

std::optional<quint32> FakeNameResolver::networkNumber(const QString& name)
{
    const auto lock = enter(QStringLiteral("networkNumber ") + name);
    const auto it = answers_.networks.constFind(name);
    return it == answers_.networks.constEnd() ? std::nullopt : std::optional(*it);
}

std::optional<bool> FakeNameResolver::isReachable(const QString& host, QString* error)
{
    const auto lock = enter(QStringLiteral("isReachable ") + host);
    const auto it = answers_.reachable.constFind(host);
    if (it == answers_.reachable.constEnd()) {
        if (error)
            *error = QStringLiteral("no route table");
        return std::nullopt;
    }
    return *it;
}

} // namespace kelvaro::test
