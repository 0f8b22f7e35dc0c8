#include "platform/desktop/widgets/DesktopLayer.h"

#include "platform/desktop/StartedPrograms.h"
#include "platform/desktop/widgets/WindowPosition.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#ifdef KELVARO_LAYER_SHELL
#include "wlr-layer-shell-unstable-v1-client-protocol.h"

#include <QEvent>
#include <QPlatformSurfaceEvent>
#include <qpa/qplatformnativeinterface.h>

#include <wayland-client.h>

#include <cstring>
#endif

namespace platform {

#ifdef KELVARO_LAYER_SHELL
namespace {

constexpr char kNamespace[] = "kelvaro-desktop";
constexpr char kKept[] = "kelvaroKeptInDesktopLayer";

// The compositor's globals this needs, bound on a queue of our own: Qt dispatches its queue on its own
// schedule, ours is dispatched here, when an answer is awaited.
struct LayerShell {
    wl_display* display = nullptr;
    wl_event_queue* queue = nullptr;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    zwlr_layer_shell_v1* shell = nullptr;
};

void global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    auto* layer = static_cast<LayerShell*>(data);
    if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0)
        layer->shell = static_cast<zwlr_layer_shell_v1*>(wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, 1));
    else if (std::strcmp(interface, wl_compositor_interface.name) == 0)
        layer->compositor = static_cast<wl_compositor*>(wl_registry_bind(registry, name, &wl_compositor_interface, 1));
}

void globalRemoved(void*, wl_registry*, uint32_t) {}

const wl_registry_listener kRegistryListener = {global, globalRemoved};

wl_display* qtDisplay()
{
    QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
    return native ? static_cast<wl_display*>(native->nativeResourceForIntegration("wl_display")) : nullptr;
}

// Asked once; it lives as long as the program's connection does.
LayerShell* layerShell()
{
    static LayerShell* found = [] () -> LayerShell* {
        if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
            return nullptr;
        wl_display* display = qtDisplay();
        if (!display)
            return nullptr;
        auto* layer = new LayerShell;
        layer->display = display;
        layer->queue = wl_display_create_queue(display);
        auto* wrapped = static_cast<wl_display*>(wl_proxy_create_wrapper(display));
        wl_proxy_set_queue(reinterpret_cast<wl_proxy*>(wrapped), layer->queue);
        layer->registry = wl_display_get_registry(wrapped);
        wl_proxy_wrapper_destroy(wrapped);
        wl_registry_add_listener(layer->registry, &kRegistryListener, layer);
        if (wl_display_roundtrip_queue(display, layer->queue) < 0 || !layer->shell || !layer->compositor)
            return nullptr; // the few objects made are the connection's to end
        return layer;
    }();
    return found;
}

// One window's layer surface, made anew for each wl_surface Qt gives the window (a new one at every show).
class DesktopLayerSurface final : public QObject {
public:
    DesktopLayerSurface(QWindow* window, LayerShell* layer)
        : QObject(window)
        , window_(window)
        , layer_(layer)
    {
        window->installEventFilter(this);
    }
    ~DesktopLayerSurface() override { release(); }

    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Expose:
            // Before Qt paints its first frame into the surface: the role must come before a buffer.
            if (window_->isVisible())
                attach();
            break;
        case QEvent::Move:
        case QEvent::Resize:
            place();
            break;
        case QEvent::Hide:
            release();
            break;
        case QEvent::PlatformSurface:
            if (static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() == QPlatformSurfaceEvent::SurfaceAboutToBeDestroyed)
                release();
            break;
        default:
            break;
        }
        return false;
    }

private:
    wl_surface* qtSurface() const
    {
        QPlatformNativeInterface* native = QGuiApplication::platformNativeInterface();
        return native ? static_cast<wl_surface*>(native->nativeResourceForWindow("surface", window_)) : nullptr;
    }

    void attach()
    {
        wl_surface* surface = qtSurface();
        if (!surface || surface == surface_)
            return;
        release();
        surface_ = surface;
        layerSurface_ = zwlr_layer_shell_v1_get_layer_surface(layer_->shell, surface, nullptr,
                                                              ZWLR_LAYER_SHELL_V1_LAYER_BOTTOM, kNamespace);
        zwlr_layer_surface_v1_add_listener(layerSurface_, &kListener, this);
        zwlr_layer_surface_v1_set_anchor(layerSurface_, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT);
        // Measured from the screen's edges, whatever panels take of it: the window's own position.
        zwlr_layer_surface_v1_set_exclusive_zone(layerSurface_, -1);
        zwlr_layer_surface_v1_set_keyboard_interactivity(layerSurface_, 0);
        wl_region* none = wl_compositor_create_region(layer_->compositor);
        wl_surface_set_input_region(surface, none);
        wl_region_destroy(none);
        placeUncommitted();
        wl_surface_commit(surface);
        // The compositor answers the first commit with the configure event that must come before a buffer.
        wl_display_roundtrip_queue(layer_->display, layer_->queue);
    }

    void placeUncommitted()
    {
        const QRect frame = window_->geometry();
        const QRect screen = window_->screen() ? window_->screen()->geometry() : QRect();
        zwlr_layer_surface_v1_set_size(layerSurface_, uint32_t(qMax(1, frame.width())), uint32_t(qMax(1, frame.height())));
        zwlr_layer_surface_v1_set_margin(layerSurface_, frame.top() - screen.top(), 0, 0, frame.left() - screen.left());
    }

    void place()
    {
        if (!layerSurface_)
            return;
        placeUncommitted();
        wl_surface_commit(surface_);
        wl_display_dispatch_queue_pending(layer_->display, layer_->queue);
        wl_display_flush(layer_->display);
    }

    void release()
    {
        if (layerSurface_)
            zwlr_layer_surface_v1_destroy(layerSurface_);
        layerSurface_ = nullptr;
        surface_ = nullptr;
    }

    static void configure(void*, zwlr_layer_surface_v1* surface, uint32_t serial, uint32_t, uint32_t)
    {
        // The size asked for is the window's: nothing to change, but the answer.
        zwlr_layer_surface_v1_ack_configure(surface, serial);
    }
    static void closed(void* data, zwlr_layer_surface_v1*)
    {
        // The output went: shown again, the window gets a new surface.
        static_cast<DesktopLayerSurface*>(data)->release();
    }
    static constexpr zwlr_layer_surface_v1_listener kListener = {configure, closed};

    QWindow* window_;
    LayerShell* layer_;
    wl_surface* surface_ = nullptr;
    zwlr_layer_surface_v1* layerSurface_ = nullptr;
};

// Puts the layer surface on each window the widget gets: new window flags make a new one.
class DesktopLayerWidget final : public QObject {
public:
    explicit DesktopLayerWidget(QWidget* widget)
        : QObject(widget)
        , widget_(widget)
    {
        widget->installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        // The widget's show event comes once its window exists and before the window shows.
        if (event->type() == QEvent::Show && widget_->property(kKept).toBool())
            if (QWindow* window = widget_->windowHandle(); window && !window->findChild<DesktopLayerSurface*>(QString(), Qt::FindDirectChildrenOnly))
                new DesktopLayerSurface(window, layerShell());
        return false;
    }

private:
    QWidget* widget_;
};

} // namespace
#endif

bool layerShellOffered()
{
#ifdef KELVARO_LAYER_SHELL
    return layerShell() != nullptr;
#else
    return false;
#endif
}

bool platformKeepsWindowsBelow()
{
    return platformStacksWindows() || layerShellOffered();
}

bool keepInDesktopLayer(QWidget* window, bool keep)
{
#ifdef KELVARO_LAYER_SHELL
    if (!window || !layerShellOffered())
        return false;
    // Qt gives a window with this hint no shell role of its own only where it is asked to; no other window of
    // the program has the hint.
    if (keep && !qEnvironmentVariableIsSet("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT"))
        setEnvironmentVariableForThisProcess("QT_WAYLAND_USE_BYPASSWINDOWMANAGERHINT", "1");
    window->setProperty(kKept, keep);
    if (!window->findChild<DesktopLayerWidget*>(QString(), Qt::FindDirectChildrenOnly))
        new DesktopLayerWidget(window);
    if (!keep)
        if (QWindow* handle = window->windowHandle())
            delete handle->findChild<DesktopLayerSurface*>(QString(), Qt::FindDirectChildrenOnly);
    return true;
#else
    (void)window;
    (void)keep;
    return false;
#endif
}

} // namespace platform
