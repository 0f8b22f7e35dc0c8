#include "platform/desktop/AlertPresenter.h"

#include "platform/foundation/Log.h"


#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
std::shared_ptr<AlertPresenter> g_presenter;

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
        g_presenter = std::make_shared<HeadlessAlertPresenter>();
    return g_presenter;
}

void AlertPresenter::setShared(std::shared_ptr<AlertPresenter> presenter)
{
    std::lock_guard lock(g_mutex);
    g_presenter = std::move(presenter);
}

int HeadlessAlertPresenter::runModal(const Alert& alert)
{
    log("AlertPresenter", QStringLiteral("no one to ask; \"%1\" answered with its default button").arg(alert.messageText));
    return 0;
}

} // namespace platform
