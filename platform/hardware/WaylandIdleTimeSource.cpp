#include "platform/hardware/WaylandIdleTimeSource.h"

#include "platform/foundation/Log.h"

#include "ext-idle-notify-v1-client-protocol.h"
#include "kde-idle-client-protocol.h"

#include <wayland-client.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Reading and dispatching what arrives until `done` or the deadline; false when the connection broke or the
// compositor did not answer in time.
bool dispatchUntil(wl_display* display, const bool& done, SteadyClock::time_point deadline)
{
    while (!done) {
        while (wl_display_prepare_read(display) != 0) {
            if (wl_display_dispatch_pending(display) < 0)
                return false;
            if (done)
                return true;
        }
        if (wl_display_flush(display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display);
            return false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        pollfd fd{wl_display_get_fd(display), POLLIN, 0};
        const int ready = left.count() > 0 ? ::poll(&fd, 1, int(left.count())) : 0;
        if (ready <= 0) {
            wl_display_cancel_read(display);
            if (ready < 0 && errno == EINTR)
                continue;
            return false;
        }
        if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0)
            return false;
    }
    return true;
}

void callbackDone(void* data, wl_callback* callback, uint32_t)
{
    *static_cast<bool*>(data) = true;
    wl_callback_destroy(callback);
}

const wl_callback_listener callbackListener{callbackDone};

} // namespace

struct WaylandIdleTimeSource::State {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_seat* seat = nullptr;
    ext_idle_notifier_v1* notifier = nullptr;
    ext_idle_notification_v1* notification = nullptr;
    org_kde_kwin_idle* kdeIdle = nullptr;
    org_kde_kwin_idle_timeout* kdeTimeout = nullptr;
    QString description;
    int stopFd = -1;
    std::thread events;

    std::mutex mutex;
    bool idle = false;
    bool ended = false;
    SteadyClock::time_point idleSince; // when the compositor told that the threshold had passed

    ~State()
    {
        if (events.joinable()) {
            const uint64_t one = 1;
            if (::write(stopFd, &one, sizeof one) < 0) {
                // An eventfd only refuses at its maximum count; the thread is being told already.
            }
            events.join();
        }
        if (stopFd >= 0)
            ::close(stopFd);
        if (notification)
            ext_idle_notification_v1_destroy(notification);
        if (notifier)
            ext_idle_notifier_v1_destroy(notifier);
        if (kdeTimeout)
            org_kde_kwin_idle_timeout_release(kdeTimeout);
        if (kdeIdle)
            org_kde_kwin_idle_destroy(kdeIdle);
        if (seat)
            wl_seat_destroy(seat);
        if (registry)
            wl_registry_destroy(registry);
        if (display) {
            wl_display_flush(display);
            wl_display_disconnect(display);
        }
    }

    void tell(bool nowIdle)
    {
        std::lock_guard lock(mutex);
        idle = nowIdle;
        if (nowIdle)
            idleSince = SteadyClock::now();
    }

    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
    {
        State& s = *static_cast<State*>(data);
        if (!s.seat && std::strcmp(interface, wl_seat_interface.name) == 0)
            s.seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        else if (!s.notifier && std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0)
            s.notifier = static_cast<ext_idle_notifier_v1*>(wl_registry_bind(registry, name, &ext_idle_notifier_v1_interface, 1));
        else if (!s.kdeIdle && std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0)
            s.kdeIdle = static_cast<org_kde_kwin_idle*>(wl_registry_bind(registry, name, &org_kde_kwin_idle_interface, 1));
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {}
    static constexpr wl_registry_listener registryListener{global, globalRemove};

    static void idled(void* data, ext_idle_notification_v1*) { static_cast<State*>(data)->tell(true); }
    static void resumed(void* data, ext_idle_notification_v1*) { static_cast<State*>(data)->tell(false); }
    static constexpr ext_idle_notification_v1_listener notificationListener{idled, resumed};
    static void kdeIdled(void* data, org_kde_kwin_idle_timeout*) { static_cast<State*>(data)->tell(true); }
    static void kdeResumed(void* data, org_kde_kwin_idle_timeout*) { static_cast<State*>(data)->tell(false); }
    static constexpr org_kde_kwin_idle_timeout_listener kdeTimeoutListener{kdeIdled, kdeResumed};

    // The events thread: everything the compositor sends is dispatched here, until the source goes.
    void run()
    {
        for (;;) {
            while (wl_display_prepare_read(display) != 0) {
                if (wl_display_dispatch_pending(display) < 0)
                    return end();
            }
            if (wl_display_flush(display) < 0 && errno != EAGAIN) {
                wl_display_cancel_read(display);
                return end();
            }
            pollfd fds[2]{{wl_display_get_fd(display), POLLIN, 0}, {stopFd, POLLIN, 0}};
            const int ready = ::poll(fds, 2, -1);
            if (ready < 0 && errno == EINTR) {
                wl_display_cancel_read(display);
                continue;
            }
            if (ready < 0 || (fds[1].revents & POLLIN)) {
                wl_display_cancel_read(display);
                return;
            }
            if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0)
                return end();
        }
    }
    void end()
    {
        {
            std::lock_guard lock(mutex);
            ended = true;
        }
        log("WaylandIdleTimeSource", QStringLiteral("the compositor's connection ended (%1); the idle time is unknown "
                                                    "from now on")
                                         .arg(QString::fromLocal8Bit(std::strerror(wl_display_get_error(display)))));
    }
};

std::shared_ptr<WaylandIdleTimeSource> WaylandIdleTimeSource::create(const QByteArray& display)
{
    if (display.isEmpty())
        return nullptr;
    auto state = std::make_unique<State>();
    State& s = *state;
    s.display = wl_display_connect(display.constData());
    if (!s.display)
        return nullptr;
    const auto deadline = SteadyClock::now() + std::chrono::seconds(3);
    s.registry = wl_display_get_registry(s.display);
    wl_registry_add_listener(s.registry, &State::registryListener, &s);
    bool listed = false;
    wl_callback_add_listener(wl_display_sync(s.display), &callbackListener, &listed);
    if (!dispatchUntil(s.display, listed, deadline) || !s.seat || (!s.notifier && !s.kdeIdle))
        return nullptr; // a callback never answered dies with the connection
    const auto threshold = uint32_t(Threshold.count());
    if (s.notifier) {
        s.notification = ext_idle_notifier_v1_get_idle_notification(s.notifier, threshold, s.seat);
        ext_idle_notification_v1_add_listener(s.notification, &State::notificationListener, &s);
        s.description = QStringLiteral("the compositor's idle notifications (ext-idle-notify-v1) on %1");
    } else {
        s.kdeTimeout = org_kde_kwin_idle_get_idle_timeout(s.kdeIdle, s.seat, threshold);
        org_kde_kwin_idle_timeout_add_listener(s.kdeTimeout, &State::kdeTimeoutListener, &s);
        s.description = QStringLiteral("the compositor's idle notifications (org_kde_kwin_idle) on %1");
    }
    s.description = s.description.arg(QString::fromLocal8Bit(display));
    // A protocol error (the request refused) shows at the next round trip, before the source is handed out.
    bool created = false;
    wl_callback_add_listener(wl_display_sync(s.display), &callbackListener, &created);
    if (!dispatchUntil(s.display, created, deadline))
        return nullptr;
    s.stopFd = ::eventfd(0, EFD_CLOEXEC);
    if (s.stopFd < 0)
        return nullptr;
    s.events = std::thread([&s] { s.run(); });
    std::shared_ptr<WaylandIdleTimeSource> source(new WaylandIdleTimeSource);
    source->state_ = std::move(state);
    return source;
}

WaylandIdleTimeSource::~WaylandIdleTimeSource() = default;

std::optional<quint64> WaylandIdleTimeSource::idleNanoseconds() const
{
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.ended)
        return std::nullopt;
    if (!s.idle)
        return 0; // input came within the threshold
    const auto idle = std::chrono::duration_cast<std::chrono::nanoseconds>(Threshold + (SteadyClock::now() - s.idleSince));
    return quint64(idle.count());
}

QString WaylandIdleTimeSource::description() const
{
    return state_->description;
}

} // namespace platform
