#pragma once
// A virtual X server (Xvfb) of its own for one test, on a display number no other test process uses; gone
// with the object. Tests that need one skip where Xvfb is not installed.

#include <QByteArray>
#include <QProcess>

struct xcb_connection_t;

namespace kelvaro::test {

class XvfbDisplay {
public:
    XvfbDisplay();
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // False when the server did not come up (not installed, or no free display).
    bool isRunning() const { return running_; }
    QByteArray name() const { return name_; } // ":NNN"
    // A connection of the test's own to the server, opened at the first call and closed with this object; the
    // test fails where it cannot be opened.
    xcb_connection_t* connection();
    // What a key press does to the server's idle time (a screen-saver reset, from a client of its own).
    bool simulateUserInput() const;
    // The server ends as at a logout.
    void kill();

private:
    QProcess server_;
    QByteArray name_;
    bool running_ = false;
    xcb_connection_t* connection_ = nullptr;
};

} // namespace kelvaro::test
