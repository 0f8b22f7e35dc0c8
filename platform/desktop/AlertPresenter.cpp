#include "platform/desktop/AlertPresenter.h"

#include "platform/foundation/Log.h"

#include <mutex>
#include <utility>
#include <vector>

namespace platform {
namespace {

// Puts every presenter's alerts under the modal count, the Qt one as much as a test's.
class ModalCountingPresenter final : public AlertPresenter {
public:
    explicit ModalCountingPresenter(std::shared_ptr<AlertPresenter> inner)
        : inner_(std::move(inner))
    {
    }
    int runModal(const Alert& alert) override
    {
        const ModalScope scope;
        return inner_->runModal(alert);
    }
    void beep() override { inner_->beep(); }

private:
    const std::shared_ptr<AlertPresenter> inner_;
};

std::mutex g_mutex;
std::shared_ptr<AlertPresenter> g_presenter;

// Main thread only, like the alerts themselves.
int g_modalDepth = 0;
int g_nextListenerId = 1;
std::vector<std::pair<int, std::function<void()>>> g_modalEndListeners;

} // namespace

Alert Alert::forError(const Error& error)
{
    Alert alert;
    alert.messageText = error.localizedDescription().isEmpty()
                            ? QStringLiteral("The operation could not be completed. (%1 error %2.)").arg(error.domain).arg(error.code)
                            : error.localizedDescription();
    alert.buttons = {QStringLiteral("OK")};
    return alert;
}

std::shared_ptr<AlertPresenter> AlertPresenter::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_presenter)
        g_presenter = std::make_shared<ModalCountingPresenter>(std::make_shared<HeadlessAlertPresenter>());
    return g_presenter;
}

void AlertPresenter::setShared(std::shared_ptr<AlertPresenter> presenter)
{
    // One that shared() handed out already counts.
    if (presenter && !dynamic_cast<ModalCountingPresenter*>(presenter.get()))
        presenter = std::make_shared<ModalCountingPresenter>(std::move(presenter));
    std::lock_guard lock(g_mutex);
    g_presenter = std::move(presenter);
}

int AlertPresenter::modalDepth()
{
    return g_modalDepth;
}

int AlertPresenter::addModalEndListener(std::function<void()> listener)
{
    const int id = g_nextListenerId++;
    g_modalEndListeners.emplace_back(id, std::move(listener));
    return id;
}

void AlertPresenter::removeModalEndListener(int id)
{
    std::erase_if(g_modalEndListeners, [id](const auto& entry) { return entry.first == id; });
}

AlertPresenter::ModalScope::ModalScope()
{
    ++g_modalDepth;
}

AlertPresenter::ModalScope::~ModalScope()
{
    if (--g_modalDepth > 0)
        return;
    // A copy: a listener may add or remove listeners.
    const auto listeners = g_modalEndListeners;
    for (const auto& [id, listener] : listeners)
        listener();
}

int HeadlessAlertPresenter::runModal(const Alert& alert)
{
    log("AlertPresenter", QStringLiteral("no one to ask; \"%1\" answered with its default button").arg(alert.messageText));
    return 0;
}

} // namespace platform
