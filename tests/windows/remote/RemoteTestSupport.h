#pragma once
// Shared by the panel and list tests: a browser the test fills by hand, a delegate that keeps every
// hand-over as text, and a panel on a defaults file of its own. Main thread only.

#include "acquisition/MonitorConnectionInfo.h"
#include "platform/foundation/UserDefaults.h"
#include "windows/remote/RemoteConnectPanel.h"

#include <QStringList>
#include <QTemporaryDir>

namespace kelvaro::test {

class FakeRemoteServiceBrowser final : public RemoteServiceBrowser {
public:
    ServiceSet services() const override { return services_; }
    void start() override { ++starts; }
    // One batch of finds, in "local.".
    void find(const QStringList& names)
    {
        for (const QString& name : names)
            services_.insert(agent(name));
        Q_EMIT servicesDidChange();
    }
    void fail(const platform::Error& error) { Q_EMIT didStopWithError(error); }
    static platform::NetService agent(const QString& name)
    {
        return platform::NetService(QStringLiteral("local."), MonitorConnectionInfo::remoteMonitoringBonjourServiceType(), name);
    }
    int starts = 0;

private:
    ServiceSet services_;
};

// A hand-over is one line: "host:port" or "bonjour:name" per descriptor, joined by blanks.
class RecordingPanelDelegate final : public RemoteConnectPanelDelegate {
public:
    void panel(RemoteConnectPanel* panel, const QList<std::shared_ptr<MonitorConnectionInfo>>& services) override
    {
        senders.append(panel);
        QStringList line;
        for (const auto& info : services)
            line.append(info->netService() ? QStringLiteral("bonjour:") + info->netService()->name()
                                           : QStringLiteral("%1:%2").arg(info->hostSpecifier()).arg(info->portNumber()));
        handOvers.append(line.join(QLatin1Char(' ')));
    }
    QList<RemoteConnectPanel*> senders;
    QStringList handOvers;
};

struct PanelFixture {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("lists.plist"));
    std::shared_ptr<RecordingPanelDelegate> delegate = std::make_shared<RecordingPanelDelegate>();
    std::shared_ptr<platform::UserDefaults> defaults;
    FakeRemoteServiceBrowser* browser = nullptr;
    std::unique_ptr<RemoteConnectPanel> panel;

    // A new panel, its window loaded, whose defaults hold `stored` as "ComputerLists" (nothing for none).
    void make(const std::optional<QVariant>& stored = std::nullopt)
    {
        panel.reset();
        auto fake = std::make_unique<FakeRemoteServiceBrowser>();
        browser = fake.get();
        defaults = std::make_shared<platform::UserDefaults>(path);
        if (stored)
            defaults->setObject(*stored, RemoteConnectPanel::kComputerListsKey);
        panel = std::make_unique<RemoteConnectPanel>(std::move(fake), defaults);
        panel->setDelegate(delegate);
        panel->window();
    }
};

} // namespace kelvaro::test
