#pragma once
// A NameResolver with answers a test writes into it, so host lookups need no network. Lookups may come
// from resolver threads: everything is guarded, and a closed gate holds lookups made on other threads
// than the test's until it is opened.

#include "platform/net/NameResolver.h"

#include <QHash>
#include <QThread>

#include <condition_variable>
#include <mutex>

namespace kelvaro::test {

class FakeNameResolver final : public platform::NameResolver {
public:
    struct Answers {
        QHash<QString, platform::HostEntry> byName;
        QHash<QString, platform::HostEntry> byAddress;
        std::optional<platform::HostEntry> current;
        std::optional<QString> hostName;
        QHash<QString, QString> namesForAddresses;
        std::optional<QString> primaryIPv4;
        std::optional<QString> primaryIPv6;
        QString multicastName;
        QHash<QString, quint32> networks;
        QHash<QString, bool> reachable; // a host not listed cannot be checked
    };

    explicit FakeNameResolver(Answers answers = {}) : answers_(std::move(answers)) {}

    void setGateClosed(bool closed);
    // Lookups made so far, as "<call> <argument>".
    QStringList calls() const;

    std::optional<platform::HostEntry> hostByName(const QString& name) override;
    std::optional<platform::HostEntry> hostByAddress(const QString& address) override;
    std::optional<platform::HostEntry> currentHost() override;
    std::optional<QString> hostName() override;
    std::optional<QString> nameForAddress(const QString& address) override;
    std::optional<QString> primaryAddress(bool ipv6) override;
    QString localMulticastHostName() override;
    std::optional<quint32> networkNumber(const QString& name) override;
    std::optional<bool> isReachable(const QString& host, QString* error) override;

private:
    // Records the call and waits at the gate; returns with the lock held.
    std::unique_lock<std::mutex> enter(const QString& call);

    mutable std::mutex mutex_;
    std::condition_variable gateOpened_;
    bool gateClosed_ = false;
    QThread* const testThread_ = QThread::currentThread();
    Answers answers_;
    QStringList calls_;
};

} // namespace kelvaro::test
