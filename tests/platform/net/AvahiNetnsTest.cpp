// Runs only inside the namespace tests/manual/avahi-netns.sh makes (KELVARO_AVAHI_NETNS=1): there a real
// avahi daemon answers on a private system bus, so these waits are for a real daemon, in real time.

#include "platform/net/NetServiceBrowser.h"
#include "platform/net/ServiceStreamPair.h"
#include "platform/net/TcpStreamPair.h"
#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <optional>
#include <vector>

namespace {

using platform::NetService;
using platform::NetServiceBrowser;

const QString kType = QStringLiteral("_x-tevkelvaro._tcp.");

class Recorder final : public platform::NetServiceBrowserDelegate {
public:
    void netServiceBrowserDidFindService(NetServiceBrowser&, const NetService& service, bool) override { found << service; }
    void netServiceBrowserDidRemoveService(NetServiceBrowser&, const NetService& service, bool) override { removed << service; }
    void netServiceBrowserDidNotSearch(NetServiceBrowser&, const QVariantMap& errorDict) override { errors << errorDict; }
    void netServiceBrowserDidStopSearch(NetServiceBrowser&) override {}

    QList<NetService> found;
    QList<NetService> removed;
    QList<QVariantMap> errors;
};

class StreamRecorder final : public platform::StreamDelegate {
public:
    void stream(platform::Stream&, platform::StreamEvent event) override { events.push_back(event); }
    bool saw(platform::StreamEvent event) const { return std::find(events.begin(), events.end(), event) != events.end(); }
    std::vector<platform::StreamEvent> events;
};

class Server final : public QTcpServer {
public:
    std::vector<platform::StreamPair> accepted;

protected:
    void incomingConnection(qintptr socketDescriptor) override
    {
        if (auto pair = platform::TcpStreamPair::fromSocketDescriptor(int(socketDescriptor)))
            accepted.push_back(*pair);
    }
};

// The daemon answers in real time; the manual clock of the test does not move it.
bool waitFor(const std::function<bool()>& done, int milliseconds = 20000)
{
    QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

class AvahiNetns : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariable("KELVARO_AVAHI_NETNS") != QLatin1String("1"))
            GTEST_SKIP() << "needs the namespace of tests/manual/avahi-netns.sh";
        platform::ServiceDiscovery::setShared(nullptr); // the avahi daemon on the (private) system bus
        ASSERT_TRUE(server.listen(QHostAddress::Any));
        name = QStringLiteral("Kelvaro netns %1").arg(QCoreApplication::applicationPid());
        publisher.setProcessChannelMode(QProcess::ForwardedChannels);
        publisher.start(QStringLiteral("avahi-publish"),
                        {QStringLiteral("-s"), name, NetService::relativeName(kType), QString::number(server.serverPort())});
        ASSERT_TRUE(publisher.waitForStarted());
    }

    void TearDown() override
    {
        if (publisher.state() != QProcess::NotRunning) {
            publisher.terminate();
            publisher.waitForFinished();
        }
    }

    bool hasFound() const
    {
        return std::any_of(recorder.found.begin(), recorder.found.end(), [&](const NetService& s) { return s.name() == name; });
    }

    Server server;
    QProcess publisher;
    QString name;
    Recorder recorder;
};

TEST_F(AvahiNetns, BrowserFindsThePublishedAgentAndSeesItGo)
{
    NetServiceBrowser browser;
    browser.setDelegate(&recorder);
    browser.searchForServices(kType, QString());
    ASSERT_TRUE(waitFor([&] { return hasFound() || !recorder.errors.isEmpty(); }));
    ASSERT_TRUE(recorder.errors.isEmpty()) << recorder.errors.front().value(QString::fromLatin1(NetServiceBrowser::kErrorCodeKey)).toLongLong();
    const auto service = *std::find_if(recorder.found.begin(), recorder.found.end(), [&](const NetService& s) { return s.name() == name; });
    EXPECT_EQ(service.type(), kType);
    EXPECT_EQ(service.domain(), QStringLiteral("local."));
    EXPECT_EQ(recorder.found.count(service), 1); // one find, however many interfaces carry it

    publisher.terminate();
    ASSERT_TRUE(publisher.waitForFinished());
    ASSERT_TRUE(waitFor([&] { return recorder.removed.contains(service); }));
    EXPECT_EQ(recorder.removed.count(service), 1);
}

TEST_F(AvahiNetns, ServiceStreamPairConnectsToThePublishedListener)
{
    NetServiceBrowser browser;
    browser.setDelegate(&recorder);
    browser.searchForServices(kType, QString());
    ASSERT_TRUE(waitFor([&] { return hasFound(); }));

    // The daemon's own answer must be one the pair can connect to (a link-local IPv6 one needs its scope).
    std::optional<platform::ServiceDiscovery::ResolveResult> answer;
    auto resolve = platform::ServiceDiscovery::shared()->resolve(NetService(QStringLiteral("local."), kType, name),
                                                                 [&](const auto& result) { answer = result; });
    ASSERT_TRUE(waitFor([&] { return answer.has_value(); }));
    const auto* resolved = std::get_if<platform::ResolvedService>(&*answer);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->port, server.serverPort());
    const auto address = platform::ServiceStreamPair::connectAddress(*resolved);
    ASSERT_TRUE(address) << resolved->address.toStdString();
    std::cerr << "avahi resolved " << name.toStdString() << " to " << resolved->hostName.toStdString() << " "
              << address->toString().toStdString() << " port " << resolved->port << "\n";

    auto pair = platform::ServiceStreamPair::forService(NetService(QStringLiteral("local."), kType, name));
    ASSERT_TRUE(pair);
    auto events = std::make_shared<StreamRecorder>();
    pair->input->setDelegate(events);
    pair->output->setDelegate(events);
    pair->input->open();
    pair->output->open();
    ASSERT_TRUE(waitFor([&] {
        return (events->saw(platform::StreamEvent::HasSpaceAvailable) && !server.accepted.empty())
            || events->saw(platform::StreamEvent::ErrorOccurred);
    }));
    ASSERT_FALSE(pair->output->streamError()) << pair->output->streamError()->localizedDescription().toStdString();
    ASSERT_EQ(pair->output->write("hello\n", 6), 6);

    platform::StreamPair peer = server.accepted.front();
    peer.input->open();
    QByteArray received;
    ASSERT_TRUE(waitFor([&] {
        char buffer[64];
        const qint64 n = peer.input->read(buffer, sizeof buffer);
        if (n > 0)
            received.append(buffer, n);
        return received.size() >= 6;
    }));
    EXPECT_EQ(received, QByteArray("hello\n"));
}

TEST_F(AvahiNetns, ResolvingAMissingServiceEndsInAResolveError)
{
    auto pair = platform::ServiceStreamPair::forService(NetService(QStringLiteral("local."), kType, QStringLiteral("Nobody here")));
    ASSERT_TRUE(pair);
    auto events = std::make_shared<StreamRecorder>();
    pair->input->setDelegate(events);
    pair->input->open();
    ASSERT_TRUE(waitFor([&] { return events->saw(platform::StreamEvent::ErrorOccurred); }, 60000));
    ASSERT_TRUE(pair->input->streamError());
    EXPECT_EQ(pair->input->streamError()->domain, QString::fromLatin1(platform::ServiceStreamPair::kResolveErrorDomain));
}

} // namespace
