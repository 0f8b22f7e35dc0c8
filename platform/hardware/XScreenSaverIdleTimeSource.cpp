#include "platform/hardware/IdleTimeSource.h"

#include <algorithm>
#include <mutex>
#include <vector>

// Xlib's macros (None, Bool, Status) clash with Qt's names: its headers come last.
#include <X11/Xlib.h>
#include <X11/extensions/scrnsaver.h>

namespace platform {

namespace {

// Xlib's I/O error handler is process-wide, and its default ends the process. Ours returns for our own
// displays, so that a server gone at logout fails only our readings; any other display's error goes on to
// the handler that was there before (Qt's, which ends the program as it always did).
std::mutex g_handlerMutex;
std::vector<Display*> g_ourDisplays;
XIOErrorHandler g_previousHandler = nullptr;

int ioErrorHandler(Display* display)
{
    XIOErrorHandler previous = nullptr;
    {
        std::lock_guard lock(g_handlerMutex);
        if (std::find(g_ourDisplays.begin(), g_ourDisplays.end(), display) != g_ourDisplays.end())
            return 0;
        previous = g_previousHandler;
    }
    return previous ? previous(display) : 0;
}

} // namespace

struct XScreenSaverIdleTimeSource::State {
    mutable std::mutex mutex;
    Display* display = nullptr;
    XScreenSaverInfo* info = nullptr;
    bool broken = false;
    QByteArray name;
};

namespace {

void markBroken(Display*, void* state)
{
    // Called inside a reading, with the state's mutex held by it.
    static_cast<XScreenSaverIdleTimeSource::State*>(state)->broken = true;
}

} // namespace

std::shared_ptr<XScreenSaverIdleTimeSource> XScreenSaverIdleTimeSource::create(const QByteArray& display)
{
    Display* connection = XOpenDisplay(display.constData());
    if (!connection)
        return nullptr;
    int eventBase = 0;
    int errorBase = 0;
    XScreenSaverInfo* info = XScreenSaverQueryExtension(connection, &eventBase, &errorBase) ? XScreenSaverAllocInfo() : nullptr;
    if (!info) {
        XCloseDisplay(connection);
        return nullptr;
    }
    std::shared_ptr<XScreenSaverIdleTimeSource> source(new XScreenSaverIdleTimeSource);
    source->state_ = std::make_unique<State>();
    source->state_->display = connection;
    source->state_->info = info;
    source->state_->name = display;
    {
        std::lock_guard lock(g_handlerMutex);
        g_ourDisplays.push_back(connection);
        if (XIOErrorHandler previous = XSetIOErrorHandler(ioErrorHandler); previous != ioErrorHandler)
            g_previousHandler = previous;
    }
    XSetIOErrorExitHandler(connection, markBroken, source->state_.get());
    return source;
}

XScreenSaverIdleTimeSource::~XScreenSaverIdleTimeSource()
{
    if (!state_)
        return;
    XFree(state_->info);
    XCloseDisplay(state_->display); // also after the server went: Xlib then only frees it
    std::lock_guard lock(g_handlerMutex);
    g_ourDisplays.erase(std::remove(g_ourDisplays.begin(), g_ourDisplays.end(), state_->display), g_ourDisplays.end());
}

std::optional<quint64> XScreenSaverIdleTimeSource::idleNanoseconds() const
{
    State& s = *state_;
    std::lock_guard lock(s.mutex);
    if (s.broken)
        return std::nullopt;
    if (!XScreenSaverQueryInfo(s.display, DefaultRootWindow(s.display), s.info) || s.broken)
        return std::nullopt;
    return quint64(s.info->idle) * 1000000u;
}

} // namespace platform

namespace platform {

QString XScreenSaverIdleTimeSource::description() const
{
    return QStringLiteral("the X server's screen-saver extension on %1").arg(QString::fromLocal8Bit(state_->name));
}

} // namespace platform
