#include "platform/desktop/SavePanel.h"

#include "platform/foundation/Log.h"

#include <mutex>

namespace platform {
namespace {

std::mutex g_mutex;
std::shared_ptr<SavePanel> g_panel;

} // namespace

std::shared_ptr<SavePanel> SavePanel::shared()
{
    std::lock_guard lock(g_mutex);
    if (!g_panel)
        g_panel = std::make_shared<HeadlessSavePanel>();
    return g_panel;
}

void SavePanel::setShared(std::shared_ptr<SavePanel> panel)
{
    std::lock_guard lock(g_mutex);
    g_panel = std::move(panel);
}

std::optional<QString> HeadlessSavePanel::runModal(const SavePanelOptions& options)
{
    log("SavePanel", QStringLiteral("no one to choose; \"%1\" counts as cancelled").arg(options.title));
    return std::nullopt;
}

} // namespace platform
