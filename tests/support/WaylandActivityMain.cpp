// kelvaro-wayland-activity: tells the compositor of $WAYLAND_DISPLAY that the user is active, as its input
// would, through KDE's idle protocol (simulate_user_activity, which the compositor counts for every idle
// timer of the seat). For desktops whose virtual screens have no input devices of their own. Exit status 0 once
// the compositor has taken it, 2 where it offers no such protocol, 1 without a compositor.

#include "kde-idle-client-protocol.h"

#include <wayland-client.h>

#include <cstdio>
#include <cstring>

namespace {

struct Globals {
    wl_seat* seat = nullptr;
    org_kde_kwin_idle* idle = nullptr;
};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    auto& g = *static_cast<Globals*>(data);
    if (!g.seat && std::strcmp(interface, wl_seat_interface.name) == 0)
        g.seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (!g.idle && std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0)
        g.idle = static_cast<org_kde_kwin_idle*>(wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
}

void globalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener registryListener{global, globalRemove};

} // namespace

int main()
{
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        std::fprintf(stderr, "kelvaro-wayland-activity: no compositor at $WAYLAND_DISPLAY\n");
        return 1;
    }
    Globals g;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &g);
    int status = 1;
    if (wl_display_roundtrip(display) >= 0) {
        if (g.seat && g.idle) {
            org_kde_kwin_idle_timeout* timeout = org_kde_kwin_idle_get_idle_timeout(g.idle, g.seat, 3600000);
            org_kde_kwin_idle_timeout_simulate_user_activity(timeout);
            status = wl_display_roundtrip(display) >= 0 ? 0 : 1;
            org_kde_kwin_idle_timeout_release(timeout);
        } else {
            std::fprintf(stderr, "kelvaro-wayland-activity: the compositor offers no org_kde_kwin_idle\n");
            status = 2;
        }
    }
    if (g.idle)
        org_kde_kwin_idle_destroy(g.idle);
    if (g.seat)
        wl_seat_destroy(g.seat);
    wl_registry_destroy(registry);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return status;
}
