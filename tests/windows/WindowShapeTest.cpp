// Window shapes on a real X server (Xvfb): every rectangle of a region arrives, also where there are more
// than one request can carry, for the shape drawn and for the one that takes clicks; the screen display's
// shapes as the program sets them, on the X11 platform.

#include "platform/desktop/widgets/WindowHints.h"
#include "platform/desktop/widgets/WindowShape.h"
#include "windows/TEVScreenDisplayWindow.h"

#include "tests/support/XvfbDisplay.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <QTextDocument>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <sys/uio.h>

#include <cstdlib>

#include <gtest/gtest.h>

using platform::x11::internAtom;

namespace {

xcb_extension_t shapeExtension = {"SHAPE", 0};

// The bounding (or input) shape of `window` as the server has it (ShapeGetRectangles).
QRegion shapeOf(xcb_connection_t* connection, xcb_window_t window, platform::x11::ShapeKind which, bool* answered = nullptr)
{
    struct {
        std::uint8_t majorOpcode, minorOpcode;
        std::uint16_t length;
        std::uint32_t window;
        std::uint8_t kind, pad[3];
    } out{};
    out.window = window;
    out.kind = which == platform::x11::ShapeKind::Input ? 2 : 0;
    static const xcb_protocol_request_t request = {2, &shapeExtension, 8, 0};
    iovec parts[4];
    parts[2].iov_base = &out;
    parts[2].iov_len = sizeof(out);
    parts[3].iov_base = nullptr;
    parts[3].iov_len = 0;
    const unsigned sequence = xcb_send_request(connection, XCB_REQUEST_CHECKED, parts + 2, &request);
    xcb_generic_error_t* error = nullptr;
    auto* reply = static_cast<std::uint8_t*>(xcb_wait_for_reply(connection, sequence, &error));
    std::free(error);
    QRegion shape;
    if (answered)
        *answered = reply != nullptr;
    if (!reply)
        return shape;
    const std::uint32_t count = *reinterpret_cast<const std::uint32_t*>(reply + 8);
    const auto* rectangles = reinterpret_cast<const xcb_rectangle_t*>(reply + 32);
    for (std::uint32_t i = 0; i < count; ++i)
        shape += QRect(rectangles[i].x, rectangles[i].y, rectangles[i].width, rectangles[i].height);
    std::free(reply);
    return shape;
}

// Whether `window`'s _NET_WM_STATE holds the state `name`.
bool hasState(xcb_connection_t* connection, xcb_window_t window, const char* name)
{
    const xcb_atom_t state = internAtom(connection, "_NET_WM_STATE"), wanted = internAtom(connection, name);
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(connection, xcb_get_property(connection, 0, window, state, XCB_ATOM_ATOM, 0, 64), nullptr);
    bool found = false;
    if (reply && reply->format == 32) {
        const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
        for (int i = 0; i < xcb_get_property_value_length(reply) / int(sizeof(xcb_atom_t)); ++i)
            found = found || atoms[i] == wanted;
    }
    std::free(reply);
    return found;
}

// Every other pixel of every line, shifted by one from line to line: no two rectangles merge.
QRegion checkerboard(int width, int height)
{
    QRegion region;
    QList<QRect> pixels;
    for (int y = 0; y < height; ++y)
        for (int x = y % 2; x < width; x += 2)
            pixels.append(QRect(x, y, 1, 1));
    region.setRects(pixels.constData(), int(pixels.size()));
    return region;
}

} // namespace

TEST(WindowShape, EveryRectangleOfTheRegionShapesTheWindow)
{
    kelvaro::test::XvfbDisplay x;
    if (!x.isRunning())
        GTEST_SKIP() << "no Xvfb";
    xcb_connection_t* connection = x.connection();
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_window_t window = xcb_generate_id(connection);
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 600, 400, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, 0, nullptr);
    struct Row {
        const char* what;
        QRegion region;
    } rows[] = {
        {"a few rectangles", QRegion(10, 10, 50, 20) + QRegion(100, 40, 30, 30)},
        {"a whole screen of text", checkerboard(560, 150)},
        {"fewer again", QRegion(5, 5, 10, 10)},
    };
    ASSERT_GT(rows[1].region.rectCount(), 2 * platform::x11::kRectanglesPerRequest);
    using platform::x11::ShapeKind;
    for (const ShapeKind kind : {ShapeKind::Bounding, ShapeKind::Input}) {
        const ShapeKind other = kind == ShapeKind::Input ? ShapeKind::Bounding : ShapeKind::Input;
        const char* name = kind == ShapeKind::Input ? "input" : "bounding";
        for (const Row& row : rows) {
            ASSERT_TRUE(platform::x11::setWindowShape(connection, window, row.region, kind)) << row.what;
            const QRegion shown = shapeOf(connection, window, kind);
            EXPECT_TRUE(shown == row.region) << name << ", " << row.what << ": " << shown.rectCount() << " of "
                                             << row.region.rectCount() << " rectangles";
            // A window that takes clicks only on its text still draws all of it.
            if (kind == ShapeKind::Input) {
                EXPECT_TRUE(shapeOf(connection, window, other) == QRegion(0, 0, 600, 400)) << row.what;
            }
        }
        // No shape: the window's own rectangle.
        ASSERT_TRUE(platform::x11::setWindowShape(connection, window, QRegion(), kind));
        EXPECT_TRUE(shapeOf(connection, window, kind) == QRegion(0, 0, 600, 400)) << name;
    }
}

// Run by the next test in a process of its own on the X11 platform: this binary's application is offscreen.
TEST(WindowShape, DISABLED_OnX11BackdropDisplayWhereNothingStaysBelowTakesNoClicks)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_TRUE(x11);
    QTextDocument document;
    document.setHtml(QStringLiteral("<p style='font-size:40px'>CPU 41 &deg;C</p>"));
    const QSize size = document.size().toSize();
    for (const bool translucent : {false, true}) {
        SCOPED_TRACE(translucent ? "translucent" : "shaped");
        TEVScreenDisplayWindow display(translucent);
        display.setContent(document, size);
        display.resize(size);
        display.enableBackdropMode(true);
        display.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&display, 15000));
        // Where the window takes clicks: inside both of its shapes, on its X window as the server knows it now
        // (new flags make another).
        const auto shape = [&] {
            const auto id = xcb_window_t(display.windowHandle()->winId());
            bool answered = false;
            const QRegion input = shapeOf(x11->connection(), id, platform::x11::ShapeKind::Input, &answered);
            EXPECT_TRUE(answered) << "no window " << id;
            return input & shapeOf(x11->connection(), id, platform::x11::ShapeKind::Bounding);
        };
        const QRegion input = shape();
        EXPECT_TRUE(input.isEmpty()) << input.rectCount() << " rectangles take clicks, the first "
                                     << input.boundingRect().width() << "x" << input.boundingRect().height();
        // Over the other windows it takes clicks again, on its text.
        display.enableBackdropMode(false);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&display, 15000));
        const QRegion text = shape();
        EXPECT_FALSE(text.isEmpty());
        EXPECT_NE(text, QRegion(display.rect()));
        // And no task bar lists the window it now is.
        EXPECT_TRUE(hasState(x11->connection(), xcb_window_t(display.windowHandle()->winId()), "_NET_WM_STATE_SKIP_TASKBAR"));
    }
}

// Under a Wayland session's XWayland no window stays below the others: a display in backdrop mode comes up
// over them, and clicks must go through it, translucent or shaped, to the windows it covers.
TEST(WindowShape, BackdropScreenDisplayOnXWaylandLetsClicksThrough)
{
    kelvaro::test::XvfbDisplay x;
    if (!x.isRunning())
        GTEST_SKIP() << "no Xvfb";
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(x.name()));
    // What makes an X11 client count as one of a Wayland session's XWayland.
    environment.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("kelvaro-test-no-compositor"));
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("-platform"), QStringLiteral("xcb"), QStringLiteral("--gtest_also_run_disabled_tests"),
                 QStringLiteral("--gtest_filter=WindowShape.DISABLED_OnX11BackdropDisplayWhereNothingStaysBelowTakesNoClicks")});
    ASSERT_TRUE(child.waitForStarted());
    ASSERT_TRUE(child.waitForFinished(300000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitCode(), 0) << output.constData();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.constData();
}
