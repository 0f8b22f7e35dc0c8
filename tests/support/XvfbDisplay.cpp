#include "tests/support/XvfbDisplay.h"

#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>

#include <X11/Xlib.h>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

namespace kelvaro::test {

XvfbDisplay::XvfbDisplay()
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        return;
    // Several test processes run at once: the number follows the process, and a taken one is skipped.
    for (int attempt = 0; attempt < 20 && !running_; ++attempt) {
        const int number = 300 + int((QCoreApplication::applicationPid() * 7 + attempt) % 3000);
        if (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(number)))
            continue;
        name_ = ":" + QByteArray::number(number);
        server_.start(QStringLiteral("Xvfb"), {QString::fromLatin1(name_), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                                              QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("640x480x24")});
        // Guards only: a loaded machine may take seconds to start the server.
        if (!server_.waitForStarted(30'000))
            return;
        const QString socket = QStringLiteral("/tmp/.X11-unix/X%1").arg(number);
        running_ = waitFor([&] { return QFileInfo::exists(socket) || server_.state() == QProcess::NotRunning; }, 30'000)
                   && server_.state() == QProcess::Running;
    }
}

XvfbDisplay::~XvfbDisplay()
{
    if (connection_)
        xcb_disconnect(connection_);
    kill();
}

xcb_connection_t* XvfbDisplay::connection()
{
    if (!connection_) {
        connection_ = xcb_connect(name_.constData(), nullptr);
        EXPECT_FALSE(xcb_connection_has_error(connection_)) << name_.constData();
    }
    return connection_;
}

bool XvfbDisplay::simulateUserInput() const
{
    Display* display = XOpenDisplay(name_.constData());
    if (!display)
        return false;
    XForceScreenSaver(display, ScreenSaverReset);
    XSync(display, False);
    XCloseDisplay(display);
    return true;
}

void XvfbDisplay::kill()
{
    if (server_.state() == QProcess::NotRunning)
        return;
    server_.terminate();
    if (!server_.waitForFinished(5000)) {
        server_.kill();
        server_.waitForFinished(5000);
    }
    running_ = false;
}

} // namespace kelvaro::test
