#include "platform/desktop/widgets/WindowActivation.h"

#include "platform/desktop/widgets/WindowHints.h"

#include <QFile>
#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <xcb/xcb.h>

namespace platform {
namespace {

// The environment as the process started with it: a variable the platform plugin took out is still there.
QString startEnvironment(const char* name)
{
    QFile environ(QStringLiteral("/proc/self/environ"));
    if (!environ.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray prefix = QByteArray(name) + '=';
    for (const QByteArray& entry : environ.readAll().split('\0'))
        if (entry.startsWith(prefix))
            return QString::fromLocal8Bit(entry.mid(prefix.size()));
    return QString();
}

// _NET_ACTIVE_WINDOW from an application (source 1) at the time of the user's action: a window manager that
// prevents focus stealing compares that time with the user's last action elsewhere.
void requestX11Activation(QWidget* window, quint32 userTime)
{
    xcb_connection_t* connection = x11::applicationConnection();
    if (!connection)
        return;
    const xcb_setup_t* setup = xcb_get_setup(connection);
    const xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
    if (!screens.rem)
        return;
    xcb_client_message_event_t event = {};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(window->winId());
    event.type = x11::internAtom(connection, "_NET_ACTIVE_WINDOW");
    event.data.data32[0] = 1;
    event.data.data32[1] = userTime;
    event.data.data32[2] = XCB_NONE;
    xcb_send_event(connection, 0, screens.data->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
}

} // namespace

QString activationTokenOfThisStart()
{
    for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"}) {
        if (const QString token = qEnvironmentVariable(name); !token.isEmpty())
            return token;
        if (const QString token = startEnvironment(name); !token.isEmpty())
            return token;
    }
    return QString();
}

quint32 userTimeOfStartupId(const QString& startupId)
{
    const qsizetype at = startupId.lastIndexOf(QLatin1String("_TIME"));
    if (at < 0)
        return 0;
    bool ok = false;
    const quint32 time = startupId.mid(at + 5).toUInt(&ok);
    return ok ? time : 0;
}

void activateWindowWithToken(QWidget* window, const QString& token)
{
    if (!window)
        return;
    const QString platform = QGuiApplication::platformName();
    // Qt's Wayland plugin activates with the token it finds there, then clears it: the token is good for one.
    if (platform.startsWith(QLatin1String("wayland")) && !token.isEmpty())
        qputenv("XDG_ACTIVATION_TOKEN", token.toLatin1());
    window->activateWindow();
    if (platform == QLatin1String("xcb") && window->isVisible())
        if (const quint32 time = userTimeOfStartupId(token))
            requestX11Activation(window, time);
}

void bringBackWindows(const QList<QWidget*>& windows, QWidget* focus, const QString& token)
{
    const QString platform = QGuiApplication::platformName();
    if (platform.startsWith(QLatin1String("wayland"))) {
        // No client can unminimize its window, nor learn that it is minimized but by the compositor no longer
        // asking it to draw: Qt takes a window that drew in vain for a tenth of a second as not exposed. Each
        // draws once more, and those left unexposed are mapped anew, new windows to the compositor, shown. The
        // token is good for one activation.
        activateWindowWithToken(focus, token);
        QList<QPointer<QWidget>> others;
        for (QWidget* window : windows)
            if (window && window != focus && window->isVisible()) {
                window->update();
                others.append(window);
            }
        if (others.isEmpty())
            return;
        QTimer::singleShot(400, QCoreApplication::instance(), [others] {
            QList<QWidget*> hidden;
            for (const QPointer<QWidget>& window : others)
                if (window && window->isVisible() && window->windowHandle() && !window->windowHandle()->isExposed())
                    hidden.append(window);
            for (auto it = hidden.crbegin(); it != hidden.crend(); ++it)
                (*it)->hide();
            for (QWidget* window : std::as_const(hidden))
                window->show();
        });
        return;
    }
    const quint32 time = platform == QLatin1String("xcb") ? userTimeOfStartupId(token) : 0;
    for (QWidget* window : windows) {
        if (!window || !window->isMinimized())
            continue;
        window->showNormal();
        // A window manager that keeps an iconic window so at a map (mutter) gives it back at an activation.
        if (window != focus && time)
            requestX11Activation(window, time);
    }
    activateWindowWithToken(focus, token);
}

} // namespace platform
