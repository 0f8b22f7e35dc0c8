// Whether the window manager of a real X server (Xvfb) tells where it put the windows, from the properties a
// window manager sets on the root window: weston's, for its X server, announces itself but not its frames.

#include "platform/desktop/widgets/WindowHints.h"

#include "tests/support/XvfbDisplay.h"

#include <xcb/xcb.h>

#include <vector>

#include <gtest/gtest.h>

using platform::x11::internAtom;

TEST(WindowManagerTellsPlaces, OnlyAWindowManagerThatDoesNotPublishItsFramesHidesThePlaces)
{
    kelvaro::test::XvfbDisplay x;
    if (!x.isRunning())
        GTEST_SKIP() << "no Xvfb";
    xcb_connection_t* connection = x.connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const xcb_atom_t check = internAtom(connection, "_NET_SUPPORTING_WM_CHECK"), supported = internAtom(connection, "_NET_SUPPORTED");
    const xcb_atom_t extents = internAtom(connection, "_NET_FRAME_EXTENTS"), state = internAtom(connection, "_NET_WM_STATE");
    const auto newWindow = [&] {
        const xcb_window_t window = xcb_generate_id(connection);
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, root, -100, -100, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        return window;
    };
    const xcb_window_t manager = newWindow(), ended = newWindow();
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, manager, check, XCB_ATOM_WINDOW, 32, 1, &manager);
    xcb_destroy_window(connection, ended);

    enum class Manager { None, Running, Ended };
    struct Row {
        const char* what;
        Manager manager;
        std::vector<xcb_atom_t> supported;
        bool tellsPlaces;
    } rows[] = {
        {"no window manager: windows stay where they are put", Manager::None, {}, true},
        {"a window manager that publishes its frames", Manager::Running, {state, extents}, true},
        {"a window manager that does not", Manager::Running, {state}, false},
        {"one that does not, and ended: its check names a window that is gone", Manager::Ended, {state}, true},
    };
    for (const Row& row : rows) {
        xcb_delete_property(connection, root, check);
        if (row.manager != Manager::None) {
            const xcb_window_t named = row.manager == Manager::Running ? manager : ended;
            xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, check, XCB_ATOM_WINDOW, 32, 1, &named);
        }
        xcb_change_property(connection, XCB_PROP_MODE_REPLACE, root, supported, XCB_ATOM_ATOM, 32,
                            std::uint32_t(row.supported.size()), row.supported.data());
        EXPECT_EQ(platform::x11::windowManagerTellsPlaces(connection), row.tellsPlaces) << row.what;
    }
}
