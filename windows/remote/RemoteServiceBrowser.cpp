#include "windows/remote/RemoteServiceBrowser.h"

#include "acquisition/MonitorConnectionInfo.h"
#include "acquisition/TEVTCPServiceBrowser.h"

namespace {

class BonjourServiceBrowser final : public RemoteServiceBrowser {
public:
    explicit BonjourServiceBrowser(std::shared_ptr<TEVTCPServiceBrowser> browser)
        : browser_(std::move(browser))
    {
        // The browser holds its delegate weakly.
        browser_->setDelegate(relay_);
        connect(browser_.get(), &TEVTCPServiceBrowser::didChangeServices, this, &RemoteServiceBrowser::servicesDidChange);
    }
    ~BonjourServiceBrowser() override { browser_->setDelegate({}); }

    ServiceSet services() const override { return browser_->services(); }
    void start() override { browser_->start(); }

private:
    struct Relay final : TEVTCPServiceBrowserDelegate {
        BonjourServiceBrowser* owner = nullptr;
        void browserDidStopWithError(TEVTCPServiceBrowser&, const platform::Error& error) override
        {
            if (owner)
                Q_EMIT owner->didStopWithError(error);
        }
    };

    std::shared_ptr<Relay> relay_ = [this] {
        auto relay = std::make_shared<Relay>();
        relay->owner = this;
        return relay;
    }();
    std::shared_ptr<TEVTCPServiceBrowser> browser_;
};

} // namespace

std::unique_ptr<RemoteServiceBrowser> RemoteServiceBrowser::createBonjourBrowser(std::shared_ptr<platform::ServiceDiscovery> discovery)
{
    auto browser = TEVTCPServiceBrowser::createForNetServiceWithDomain(
        QString(), MonitorConnectionInfo::remoteMonitoringBonjourServiceType(),
        discovery ? std::move(discovery) : platform::ServiceDiscovery::shared());
    if (!browser)
        return nullptr;
    return std::make_unique<BonjourServiceBrowser>(std::move(browser));
}
