#include "platform/desktop/OpenPanel.h"

#include "platform/foundation/Log.h"


#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
std::shared_ptr<OpenPanel> g_panel;

} // namespace

std::shared_ptr<OpenPanel> OpenPanel::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_panel)
        g_panel = std::make_shared<HeadlessOpenPanel>();
    return g_panel;
}

void OpenPanel::setShared(std::shared_ptr<OpenPanel> panel)
{
    std::lock_guard lock(g_mutex);
    g_panel = std::move(panel);
}

std::optional<QString> HeadlessOpenPanel::runModal(const OpenPanelOptions& options)
{
    log("OpenPanel", QStringLiteral("no one to choose; \"%1\" counts as cancelled").arg(options.title));
    return std::nullopt;
}

} // namespace platform
