// Window shapes on a real X server (Xvfb): every rectangle of a region arrives, also where there are more
// than one request can carry, for the shape drawn and for the one that takes clicks.

#include "platform/desktop/widgets/WindowShape.h"

#include "tests/support/XvfbDisplay.h"

#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#include <sys/uio.h>

#include <cstdlib>

#include <gtest/gtest.h>

namespace {

xcb_extension_t shapeExtension = {"SHAPE", 0};

// The bounding (or input) shape of `window` as the server has it (ShapeGetRectangles).
QRegion shapeOf(xcb_connection_t* connection, xcb_window_t window, platform::x11::ShapeKind which)
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
    if (!reply)
        return shape;
    const std::uint32_t count = *reinterpret_cast<const std::uint32_t*>(reply + 8);
    const auto* rectangles = reinterpret_cast<const xcb_rectangle_t*>(reply + 32);
    for (std::uint32_t i = 0; i < count; ++i)
        shape += QRect(rectangles[i].x, rectangles[i].y, rectangles[i].width, rectangles[i].height);
    std::free(reply);
    return shape;
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
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(x.name().constData(), &screenNumber);
    ASSERT_FALSE(xcb_connection_has_error(connection));
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
    xcb_disconnect(connection);
}
