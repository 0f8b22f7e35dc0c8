#pragma once
// WaylandIdleTimeSource: the user's idle time as the Wayland compositor itself counts it, through its idle
// notifications (ext-idle-notify-v1, else KDE's org_kde_kwin_idle), on a Wayland connection of its own: the
// program may draw through XWayland or through a connection Qt keeps to itself.

#include "platform/hardware/IdleTimeSource.h"

#include <QString>

#include <chrono>

namespace platform {

// The compositor tells when no input came for `Threshold` and when input comes again; the idle time is 0 until
// then and grows from `Threshold` after it. Events are taken on a thread of the source's own, so a reading
// never waits for the compositor. When the compositor goes away the source answers nothing from then on.
class WaylandIdleTimeSource final : public IdleTimeSource {
public:
    static constexpr std::chrono::milliseconds Threshold{1000};

    // Null when `display` (a WAYLAND_DISPLAY name or path) cannot be reached within a few seconds or its
    // compositor offers neither protocol or no seat.
    static std::shared_ptr<WaylandIdleTimeSource> create(const QByteArray& display);
    ~WaylandIdleTimeSource() override;
    std::optional<quint64> idleNanoseconds() const override;
    QString description() const override;

    struct State;

private:
    WaylandIdleTimeSource() = default;
    std::unique_ptr<State> state_;
};

} // namespace platform
