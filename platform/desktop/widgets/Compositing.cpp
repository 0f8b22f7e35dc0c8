#include "platform/desktop/widgets/Compositing.h"

#include <QByteArray>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <cstdlib>

namespace platform {

bool isCompositingManagerRunning()
{
    const auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return false;
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland")))
        return true;
    const auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    // The screen number of the default screen is not exposed; Xlib conventions put it in DISPLAY.
    int screen = 0;
    const QByteArray display = qgetenv("DISPLAY");
    if (const int dot = display.lastIndexOf('.'); dot > display.lastIndexOf(':'))
        screen = display.mid(dot + 1).toInt();
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 1, quint16(name.size()), name.constData()), nullptr);
    if (!atom)
        return false;
    const xcb_atom_t selection = atom->atom;
    std::free(atom);
    if (selection == XCB_ATOM_NONE)
        return false;
    xcb_get_selection_owner_reply_t* owner =
        xcb_get_selection_owner_reply(connection, xcb_get_selection_owner(connection, selection), nullptr);
    const bool running = owner && owner->owner != XCB_NONE;
    std::free(owner);
    return running;
}

} // namespace platform
