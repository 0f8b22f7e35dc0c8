#include "platform/desktop/widgets/WindowHints.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QThread>
#include <QVariant>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace platform {

quint32 x11::internAtom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

xcb_connection_t* x11::applicationConnection()
{
    const auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    const auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

quint32 x11::windowOf(QWidget* window)
{
    return xcb_window_t(window->windowHandle() ? window->windowHandle()->winId() : window->winId());
}

std::optional<QMargins> x11::drawnFrameMargins(QWidget* window)
{
    xcb_connection_t* connection = applicationConnection();
    if (!connection || !window || !window->testAttribute(Qt::WA_WState_Created))
        return std::nullopt;
    const xcb_window_t client = windowOf(window);
    xcb_query_tree_reply_t* tree = xcb_query_tree_reply(connection, xcb_query_tree(connection, client), nullptr);
    const xcb_window_t parent = tree ? tree->parent : xcb_window_t(XCB_WINDOW_NONE);
    const xcb_window_t root = tree ? tree->root : xcb_window_t(XCB_WINDOW_NONE);
    std::free(tree);
    if (parent == XCB_WINDOW_NONE || parent == root)
        return std::nullopt;
    xcb_get_geometry_reply_t* inner = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, client), nullptr);
    xcb_get_geometry_reply_t* outer = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, parent), nullptr);
    std::optional<QMargins> margins;
    // The client's x and y are its offset in the frame.
    if (inner && outer)
        margins = QMargins(inner->x, inner->y, outer->width - inner->width - inner->x, outer->height - inner->height - inner->y);
    std::free(inner);
    std::free(outer);
    return margins;
}

namespace {
using x11::internAtom;

// _NET_FRAME_EXTENTS of `window`: left, right, top, bottom.
std::optional<QMargins> frameExtents(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t extents)
{
    const xcb_get_property_cookie_t cookie = xcb_get_property(connection, 0, window, extents, XCB_ATOM_CARDINAL, 0, 4);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    std::optional<QMargins> margins;
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_CARDINAL && xcb_get_property_value_length(reply) == 16) {
        const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
        // A frame wider than a screen is no frame: a confused window manager.
        if (v[0] < 1000 && v[1] < 1000 && v[2] < 1000 && v[3] < 1000)
            margins = QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
    }
    std::free(reply);
    return margins;
}

// Whether the window manager running lists `atom` in _NET_SUPPORTED.
bool isSupported(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t atom)
{
    const xcb_atom_t supported = internAtom(connection, "_NET_SUPPORTED");
    if (supported == XCB_ATOM_NONE)
        return false;
    const xcb_get_property_cookie_t cookie = xcb_get_property(connection, 0, root, supported, XCB_ATOM_ATOM, 0, 4096);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    bool found = false;
    if (reply && reply->format == 32) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        const int count = xcb_get_property_value_length(reply) / int(sizeof(xcb_atom_t));
        for (int i = 0; i < count && !found; ++i)
            found = atoms[i] == atom;
    }
    std::free(reply);
    return found;
}

// The window manager's own window named by _NET_SUPPORTING_WM_CHECK on `root`, when one runs.
std::optional<xcb_window_t> supportingWindowManager(xcb_connection_t* connection, xcb_window_t root)
{
    const xcb_atom_t check = internAtom(connection, "_NET_SUPPORTING_WM_CHECK");
    if (check == XCB_ATOM_NONE)
        return std::nullopt;
    const auto checked = [&](xcb_window_t window) -> std::optional<xcb_window_t> {
        const xcb_get_property_cookie_t cookie = xcb_get_property(connection, 0, window, check, XCB_ATOM_WINDOW, 0, 1);
        xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
        std::optional<xcb_window_t> named;
        if (reply && reply->format == 32 && reply->type == XCB_ATOM_WINDOW && xcb_get_property_value_length(reply) == 4)
            named = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
        std::free(reply);
        return named;
    };
    // A window manager that ended leaves the root's property naming a window that is gone or names no one.
    const auto named = checked(root);
    if (!named || checked(*named) != named)
        return std::nullopt;
    return named;
}

} // namespace

namespace {

// The application's watch, fed the events Qt reads; it goes with the application.
class ApplicationWatch final : public QObject, public QAbstractNativeEventFilter {
public:
    explicit ApplicationWatch(xcb_connection_t* connection)
        : QObject(QCoreApplication::instance()), connection_(connection), watch_(connection)
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    xcb_connection_t* connection() const { return connection_; }
    bool tellsPlaces() { return watch_.tellsPlaces(); }

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        if (type == "xcb_generic_event_t")
            watch_.handle(message);
        return false;
    }

private:
    xcb_connection_t* connection_;
    x11::WindowManagerWatch watch_;
};

} // namespace

bool windowManagerTellsPlaces()
{
    xcb_connection_t* connection = x11::applicationConnection();
    if (!connection)
        return true;
    // Every resize and move of a window asks: a round trip or six to the X server each time otherwise.
    static QPointer<ApplicationWatch> watch;
    if (!watch || watch->connection() != connection) {
        delete watch.data();
        watch = new ApplicationWatch(connection);
    }
    return watch->tellsPlaces();
}

x11::WindowManagerWatch::WindowManagerWatch(xcb_connection_t* connection)
    : connection_(connection), check_(internAtom(connection, "_NET_SUPPORTING_WM_CHECK")),
      supported_(internAtom(connection, "_NET_SUPPORTED"))
{
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    root_ = screen ? screen->root : 0;
    if (!root_)
        return;
    // The root's property changes are heard in addition to whatever this connection already hears of it.
    xcb_get_window_attributes_reply_t* attributes =
        xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, root_), nullptr);
    const std::uint32_t mask = (attributes ? attributes->your_event_mask : 0) | XCB_EVENT_MASK_PROPERTY_CHANGE;
    if (!attributes || attributes->your_event_mask != mask)
        xcb_change_window_attributes(connection, root_, XCB_CW_EVENT_MASK, &mask);
    std::free(attributes);
}

bool x11::WindowManagerWatch::tellsPlaces()
{
    if (answer_)
        return *answer_;
    if (!root_ || check_ == XCB_ATOM_NONE)
        return *(answer_ = true);
    const xcb_get_property_cookie_t cookie = xcb_get_property(connection_, 0, root_, check_, XCB_ATOM_WINDOW, 0, 1);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection_, cookie, nullptr);
    manager_ = 0;
    if (reply && reply->format == 32 && reply->type == XCB_ATOM_WINDOW && xcb_get_property_value_length(reply) == 4)
        manager_ = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
    std::free(reply);
    // Its end is heard from before it is asked whether it still runs: it cannot end unheard in between.
    if (manager_) {
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(connection_, manager_, XCB_CW_EVENT_MASK, &mask);
    }
    answer_ = windowManagerTellsPlaces(connection_);
    return *answer_;
}

void x11::WindowManagerWatch::handle(const void* xcbGenericEvent)
{
    const auto* event = static_cast<const xcb_generic_event_t*>(xcbGenericEvent);
    if (!event || !answer_)
        return;
    switch (event->response_type & 0x7f) {
    case XCB_PROPERTY_NOTIFY: {
        const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (notify->window == root_ && (notify->atom == check_ || notify->atom == supported_))
            answer_.reset();
        break;
    }
    case XCB_DESTROY_NOTIFY:
        if (manager_ && reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window == manager_)
            answer_.reset();
        break;
    default:
        break;
    }
}

bool x11::windowManagerTellsPlaces(xcb_connection_t* connection)
{
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    if (!screen || !supportingWindowManager(connection, screen->root))
        return true;
    const xcb_atom_t extents = internAtom(connection, "_NET_FRAME_EXTENTS");
    return extents != XCB_ATOM_NONE && isSupported(connection, screen->root, extents);
}

QMargins frameMargins(QWidget* window)
{
    if (!window || !window->isWindow() || (window->windowFlags() & Qt::FramelessWindowHint))
        return {};
    const QRect frame = window->frameGeometry(), inside = window->geometry();
    if (frame != inside)
        return QMargins(inside.left() - frame.left(), inside.top() - frame.top(), frame.right() - inside.right(),
                        frame.bottom() - inside.bottom());
    xcb_connection_t* connection = x11::applicationConnection();
    if (!connection || !window->testAttribute(Qt::WA_WState_Created))
        return {};
    const auto id = x11::windowOf(window);
    const xcb_atom_t extents = internAtom(connection, "_NET_FRAME_EXTENTS");
    const xcb_atom_t request = internAtom(connection, "_NET_REQUEST_FRAME_EXTENTS");
    if (extents == XCB_ATOM_NONE || request == XCB_ATOM_NONE)
        return {};
    if (const auto known = frameExtents(connection, id, extents))
        return *known;
    // Asked of the window manager through the root window; it sets the property on the unmapped window.
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    // A window manager that did not answer once (stopped, say) is not waited for again for this window.
    constexpr char kAsked[] = "kelvaroFrameExtentsAsked";
    if (!screen || window->property(kAsked).toBool() || !isSupported(connection, screen->root, request))
        return {};
    window->setProperty(kAsked, true);
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = request;
    xcb_send_event(connection, 0, screen->root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
    // No window manager answers nothing: the window opens without a frame counted, as it would have.
    const QDeadlineTimer deadline(1000);
    do {
        if (const auto answered = frameExtents(connection, id, extents))
            return *answered;
        QThread::msleep(5);
    } while (!deadline.hasExpired());
    return {};
}

namespace {

// Set on a window that exists but has no frame yet once its position was given as its inside's.
constexpr char kInsidePositioned[] = "kelvaroInsidePositioned";

bool isFramed(const QWidget* window) { return window->frameGeometry() != window->geometry(); }

} // namespace

QRect expectedFrameGeometry(QWidget* window)
{
    if (!window)
        return {};
    // pos(), not frameGeometry()'s corner: until Qt has moved a window placed by its frame into its frame,
    // that corner is off by the frame.
    if (isFramed(window))
        return QRect(window->pos(), window->frameGeometry().size());
    const QMargins frame = frameMargins(window);
    // Placed before it existed, its position is its frame's (Qt asks the window manager for that gravity).
    if (!window->property(kInsidePositioned).toBool())
        return QRect(window->pos(), window->size().grownBy(frame));
    return window->geometry().marginsAdded(frame);
}

void moveFrameTo(QWidget* window, const QPoint& topLeft)
{
    if (!window)
        return;
    if (!window->testAttribute(Qt::WA_WState_Created) || isFramed(window)) {
        window->move(topLeft);
        return;
    }
    const QMargins frame = frameMargins(window);
    window->setProperty(kInsidePositioned, true);
    window->move(topLeft + QPoint(frame.left(), frame.top()));
}

namespace {

// The decoration's room added to a limit the widget sets; none (QWIDGETSIZE_MAX) stays none.
int withDecoration(int limit, int decoration)
{
    return limit >= QWIDGETSIZE_MAX ? limit : std::min(QWIDGETSIZE_MAX, limit + decoration);
}

class ContentSizeLimits final : public QObject {
public:
    explicit ContentSizeLimits(QObject* parent)
        : QObject(parent)
    {
    }

    static void apply(QWidget* widget)
    {
        QWindow* window = widget ? widget->windowHandle() : nullptr;
        if (!window || !window->handle() || !widget->isWindow() || widget->windowType() == Qt::Popup)
            return;
        // Known once the window shows: Qt makes its decoration then. Only the largest size: Qt holds its
        // window's contents to its least size too, which would grow them by the decoration.
        const QMargins frame = window->frameMargins();
        const QSize most = widget->maximumSize();
        const QSize maximum(withDecoration(most.width(), frame.left() + frame.right()),
                            withDecoration(most.height(), frame.top() + frame.bottom()));
        // Only as the widget gave it: a limit set on the window itself (a menu's one size) stays.
        if (window->maximumSize() == most && maximum != most)
            window->setMaximumSize(maximum);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::Show && type != QEvent::Resize && type != QEvent::LayoutRequest &&
            type != QEvent::WindowStateChange)
            return false;
        if (!watched->isWidgetType() || !static_cast<QWidget*>(watched)->isWindow())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        // The widget gives its own limits to its window again whenever they change, and a show event comes
        // before the decoration is made: both are mended once the event is through.
        QMetaObject::invokeMethod(this, [widget = QPointer<QWidget>(widget)] { apply(widget); }, Qt::QueuedConnection);
        return false;
    }
};

} // namespace

void keepContentSizeLimits()
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    static QPointer<QObject> installed;
    if (!app || installed || !QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return;
    installed = new ContentSizeLimits(app);
    app->installEventFilter(installed);
}

void keepOutOfTaskbar(QWidget* window)
{
    xcb_connection_t* connection = x11::applicationConnection();
    if (!window || !connection || !window->testAttribute(Qt::WA_WState_Created))
        return;
    const auto id = x11::windowOf(window);
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE");
    const xcb_atom_t wanted[] = {internAtom(connection, "_NET_WM_STATE_SKIP_TASKBAR"), internAtom(connection, "_NET_WM_STATE_SKIP_PAGER")};
    if (state == XCB_ATOM_NONE || wanted[0] == XCB_ATOM_NONE || wanted[1] == XCB_ATOM_NONE)
        return;
    // Added to what the window has, once each: a window shown again keeps its earlier states.
    const xcb_get_property_cookie_t cookie = xcb_get_property(connection, 0, id, state, XCB_ATOM_ATOM, 0, 1024);
    xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
    const auto* have = reply && reply->format == 32 ? static_cast<const xcb_atom_t*>(xcb_get_property_value(reply)) : nullptr;
    const int count = have ? xcb_get_property_value_length(reply) / int(sizeof(xcb_atom_t)) : 0;
    for (const xcb_atom_t atom : wanted) {
        bool present = false;
        for (int i = 0; i < count; ++i)
            present = present || have[i] == atom;
        if (!present)
            xcb_change_property(connection, XCB_PROP_MODE_APPEND, id, state, XCB_ATOM_ATOM, 32, 1, &atom);
    }
    std::free(reply);
    xcb_flush(connection);
}

} // namespace platform
